#include "register/record.h"

#include <vector>

#include "base/text.h"
#include "recman/recman.h"
#include "records/dictionaries.h"

namespace {

namespace F = RegisterFields;

std::string PackedDate(const std::string& yyyymmdd) {
  std::string packed(4, static_cast<char>(128));
  if (yyyymmdd.size() != 8) return packed;
  for (size_t i = 0; i < 4; ++i) {
    const int hi = yyyymmdd[2 * i] - '0';
    const int lo = yyyymmdd[2 * i + 1] - '0';
    if (hi < 0 || hi > 9 || lo < 0 || lo > 9) return std::string(4, static_cast<char>(128));
    packed[i] = static_cast<char>(128 + hi * 10 + lo);
  }
  return packed;
}

}  // namespace

std::string EncodeRegisterRecord(const RegisterEntry& e) {
  std::vector<uint8_t> rec(RegisterRecordSize, ' ');
  uint8_t* r = rec.data();
  PutFieldInt32(r, F::Sequence, e.sequence);
  PutFieldInt32(r, F::Number, e.number);
  PutFieldText(r, F::Series, e.series);
  PutFieldBytes(r, F::Date, PackedDate(e.date));
  PutFieldBytes(r, F::OwnerCode, e.ownerCode);
  PutFieldBytes(r, F::PropertyCode, e.propertyCode);
  PutFieldInt16(r, F::TaxClass, e.taxClass);
  PutFieldText(r, F::IssuerTaxId, e.issuerTaxId);
  PutFieldText(r, F::RecipientTaxId, e.recipientTaxId);
  PutFieldText(r, F::RecipientName, e.recipientName);
  PutFieldInt32(r, F::Base, e.base);
  PutFieldInt32(r, F::VatRate, e.vatRate);
  PutFieldInt32(r, F::Vat, e.vat);
  PutFieldInt32(r, F::WithholdingRate, e.withholdingRate);
  PutFieldInt32(r, F::Withholding, e.withholding);
  PutFieldInt32(r, F::Total, e.total);
  PutFieldText(r, F::GeneratedAt, e.generatedAt);
  PutFieldText(r, F::PreviousFingerprint, e.previousFingerprint);
  PutFieldText(r, F::Fingerprint, e.fingerprint);
  PutFieldText(r, F::Archive, e.archive);
  PutFieldInt32(r, F::Page, e.page);
  PutFieldText(r, F::Seal, e.seal);
  return std::string(rec.begin(), rec.end());
}

RegisterEntry DecodeRegisterRecord(const uint8_t* r) {
  RegisterEntry e;
  e.sequence = FieldInt32(r, F::Sequence);
  e.number = FieldInt32(r, F::Number);
  e.series = TrimRight(FieldBytes(r, F::Series));
  e.date = KeyDigits(FieldBytes(r, F::Date));
  e.ownerCode = FieldBytes(r, F::OwnerCode);
  e.propertyCode = FieldBytes(r, F::PropertyCode);
  e.taxClass = FieldInt16(r, F::TaxClass);
  e.issuerTaxId = TrimRight(FieldBytes(r, F::IssuerTaxId));
  e.recipientTaxId = TrimRight(FieldBytes(r, F::RecipientTaxId));
  e.recipientName = TrimRight(FieldBytes(r, F::RecipientName));
  e.base = FieldInt32(r, F::Base);
  e.vatRate = FieldInt32(r, F::VatRate);
  e.vat = FieldInt32(r, F::Vat);
  e.withholdingRate = FieldInt32(r, F::WithholdingRate);
  e.withholding = FieldInt32(r, F::Withholding);
  e.total = FieldInt32(r, F::Total);
  e.generatedAt = TrimRight(FieldBytes(r, F::GeneratedAt));
  e.previousFingerprint = TrimRight(FieldBytes(r, F::PreviousFingerprint));
  e.fingerprint = TrimRight(FieldBytes(r, F::Fingerprint));
  e.archive = TrimRight(FieldBytes(r, F::Archive));
  e.page = FieldInt32(r, F::Page);
  e.seal = TrimRight(FieldBytes(r, F::Seal));
  return e;
}

std::string RegisterCreationSpecification() {
  return EncodeCreationSpecification(RegisterRecordSize, 4,
                                     {
                                         {FieldPosition(F::Number), F::Number.width, RmBinary, 0},
                                         {FieldPosition(F::Date), F::Date.width, RmSegmented, 1},
                                         {FieldPosition(F::Number), F::Number.width, RmBinary, 1},
                                         {FieldPosition(F::OwnerCode), F::OwnerCode.width, RmDuplicates | RmSegmented, 2},
                                         {FieldPosition(F::Date), F::Date.width, RmDuplicates, 2},
                                         {FieldPosition(F::Sequence), F::Sequence.width, RmBinary, 3},
                                     });
}

std::string RegisterDictionaryBytes() { return DictionaryFileBytesOf(RegisterCreationSpecification()); }

