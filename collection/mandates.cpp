#include "collection/mandates.h"

#include <cstring>

#include "base/iban.h"
#include "base/text.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"

bool IsMandateReference(const std::string& text) {
  if (text.empty() || text.size() > 35 || text.front() == '/' || text.back() == '/') return false;
  if (text.find("//") != std::string::npos) return false;
  for (const char c : text) {
    if (c == ' ' || !IsEpcCharacter(c)) return false;
  }
  return true;
}

Mandate MandateOfRecord(const uint8_t* record) {
  Mandate m;
  m.ownerCode = FieldBytes(record, MandateFields::OwnerCode);
  m.reference = Trim(FieldBytes(record, MandateFields::Reference));
  m.iban = CompactIban(Trim(FieldBytes(record, MandateFields::Iban)));
  const std::string signedDigits = KeyDigits(FieldBytes(record, MandateFields::Signed));
  if (signedDigits != "00000000") m.signedOn = signedDigits;
  m.firstDone = record[MandateFields::FirstDone.offset] == 'S';
  const bool schemeRead = ParseScheme(FieldBytes(record, MandateFields::Scheme), m.scheme);
  if (!IsValidIban(m.iban) || IbanLength(m.iban.substr(0, 2)) == 0) {
    m.fault = MandateFault::BadIban;
  } else if (!IsMandateReference(m.reference)) {
    m.fault = MandateFault::NoReference;
  } else if (!schemeRead) {
    m.fault = MandateFault::BadScheme;
  } else if (!IsCalendarDate(m.signedOn)) {
    m.fault = MandateFault::NoSignature;
  }
  return m;
}

int16_t ReadMandates(const std::string& hostPath, std::map<std::string, Mandate>& mandatesOut) {
  mandatesOut.clear();
  const std::string path = hostPath + ".dat";
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t block[128] = {};
  char key[256] = {};
  path.copy(key, path.size());
  std::string owner = RecordFileOwnerName();
  uint32_t length = static_cast<uint32_t>(owner.size());
  int16_t status = RecordManagerCall(RmOpen, block, owner.data(), &length, key, 255, -2);
  if (status != RmSuccess) return status;
  uint8_t record[MandateRecordSize] = {};
  for (uint16_t op = RmGetFirst;; op = RmGetNext) {
    length = sizeof record;
    std::memset(record, ' ', sizeof record);
    status = RecordManagerCall(op, block, record, &length, key, 255, 0);
    if (status != RmSuccess) break;
    const Mandate mandate = MandateOfRecord(record);
    mandatesOut[mandate.ownerCode] = mandate;
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  if (status == RmEndOfFile) return RmSuccess;
  mandatesOut.clear();
  return status;
}
