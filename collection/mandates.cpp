#include "collection/mandates.h"

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
  const int16_t status = ReadEveryRecord(hostPath, MandateRecordSize, [&](const uint8_t* record) {
    const Mandate mandate = MandateOfRecord(record);
    mandatesOut[mandate.ownerCode] = mandate;
  });
  if (status != RmSuccess) mandatesOut.clear();
  return status;
}
