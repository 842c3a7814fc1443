#include "register/record.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include "base/text.h"
#include "recman/recman.h"
#include "records/dictionaries.h"

namespace {

using F = RegisterFields;

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

// A number as the fields taken from the XML area hold it: decimal text,
// blank for 0 (what records made before those fields read as).
std::string NumberText(int32_t value) { return value == 0 ? std::string() : std::to_string(value); }

// The number of such a field. Decoding never fails, and must not lose a
// change either: bytes that are not the canonical text of a number read as
// INT32_MIN, whose text is neither those bytes nor blank, so the seal over
// the record as encoded again finds them.
int32_t NumberOfText(const std::string& field) {
  const std::string t = TrimRight(field);
  if (t.empty()) return 0;
  const bool negative = t[0] == '-';
  const size_t digits = t.size() - (negative ? 1 : 0);
  if (digits == 0 || digits > 10 || t.find_first_not_of("0123456789", negative ? 1 : 0) != std::string::npos)
    return INT32_MIN;
  const long long value = std::atoll(t.c_str());
  if (value < INT32_MIN || value > INT32_MAX || NumberText(static_cast<int32_t>(value)) != t) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

namespace {

template <class L>
std::string Encode(const RegisterEntry& e, uint32_t size) {
  std::vector<uint8_t> rec(size, ' ');
  uint8_t* r = rec.data();
  PutFieldInt32(r, L::Sequence, e.sequence);
  PutFieldInt32(r, L::Number, e.number);
  PutFieldText(r, L::Series, e.series);
  PutFieldBytes(r, L::Date, PackedDate(e.date));
  PutFieldBytes(r, L::OwnerCode, e.ownerCode);
  PutFieldBytes(r, L::PropertyCode, e.propertyCode);
  PutFieldInt16(r, L::TaxClass, e.taxClass);
  PutFieldText(r, L::IssuerTaxId, e.issuerTaxId);
  PutFieldText(r, L::RecipientTaxId, e.recipientTaxId);
  PutFieldText(r, L::RecipientName, e.recipientName);
  PutFieldInt32(r, L::Base, e.base);
  PutFieldInt32(r, L::VatRate, e.vatRate);
  PutFieldInt32(r, L::Vat, e.vat);
  PutFieldInt32(r, L::WithholdingRate, e.withholdingRate);
  PutFieldInt32(r, L::Withholding, e.withholding);
  PutFieldInt32(r, L::Total, e.total);
  PutFieldText(r, L::GeneratedAt, e.generatedAt);
  PutFieldText(r, L::PreviousFingerprint, e.previousFingerprint);
  PutFieldText(r, L::Fingerprint, e.fingerprint);
  PutFieldText(r, L::Archive, e.archive);
  PutFieldInt32(r, L::Page, e.page);
  if constexpr (L::kLayout == 2) {
    PutFieldText(r, L::Kind, std::string(1, e.kind));
    const size_t xmlLength = e.xml.size() < L::Xml.width ? e.xml.size() : L::Xml.width;
    PutFieldInt16(r, L::XmlLength, static_cast<int16_t>(xmlLength));
    PutFieldText(r, L::Xml, e.xml);
    PutFieldText(r, L::InvoiceType, e.invoiceType);
    if (e.correctionForm != 0) PutFieldText(r, L::CorrectionForm, std::string(1, e.correctionForm));
    PutFieldText(r, L::RefSeries, e.refSeries);
    PutFieldText(r, L::RefNumber, NumberText(e.refNumber));
    PutFieldText(r, L::RefDate, e.refDate);
    PutFieldText(r, L::RefBase, NumberText(e.refBase));
    PutFieldText(r, L::RefVat, NumberText(e.refVat));
  }
  PutFieldText(r, L::Seal, e.seal);
  return std::string(rec.begin(), rec.end());
}

template <class L>
RegisterEntry Decode(const uint8_t* r) {
  RegisterEntry e;
  e.layout = L::kLayout;
  e.sequence = FieldInt32(r, L::Sequence);
  e.number = FieldInt32(r, L::Number);
  e.series = TrimRight(FieldBytes(r, L::Series));
  e.date = KeyDigits(FieldBytes(r, L::Date));
  e.ownerCode = FieldBytes(r, L::OwnerCode);
  e.propertyCode = FieldBytes(r, L::PropertyCode);
  e.taxClass = FieldInt16(r, L::TaxClass);
  e.issuerTaxId = TrimRight(FieldBytes(r, L::IssuerTaxId));
  e.recipientTaxId = TrimRight(FieldBytes(r, L::RecipientTaxId));
  e.recipientName = TrimRight(FieldBytes(r, L::RecipientName));
  e.base = FieldInt32(r, L::Base);
  e.vatRate = FieldInt32(r, L::VatRate);
  e.vat = FieldInt32(r, L::Vat);
  e.withholdingRate = FieldInt32(r, L::WithholdingRate);
  e.withholding = FieldInt32(r, L::Withholding);
  e.total = FieldInt32(r, L::Total);
  e.generatedAt = TrimRight(FieldBytes(r, L::GeneratedAt));
  e.previousFingerprint = TrimRight(FieldBytes(r, L::PreviousFingerprint));
  e.fingerprint = TrimRight(FieldBytes(r, L::Fingerprint));
  e.archive = TrimRight(FieldBytes(r, L::Archive));
  e.page = FieldInt32(r, L::Page);
  if constexpr (L::kLayout == 2) {
    e.kind = static_cast<char>(r[L::Kind.offset]);
    const auto xmlLength = static_cast<uint16_t>(FieldInt16(r, L::XmlLength));
    e.xml = FieldBytes(r, L::Xml).substr(0, xmlLength < L::Xml.width ? xmlLength : L::Xml.width);
    e.invoiceType = TrimRight(FieldBytes(r, L::InvoiceType));
    const char form = static_cast<char>(r[L::CorrectionForm.offset]);
    e.correctionForm = form == ' ' ? 0 : form;
    e.refSeries = TrimRight(FieldBytes(r, L::RefSeries));
    e.refNumber = NumberOfText(FieldBytes(r, L::RefNumber));
    e.refDate = TrimRight(FieldBytes(r, L::RefDate));
    e.refBase = NumberOfText(FieldBytes(r, L::RefBase));
    e.refVat = NumberOfText(FieldBytes(r, L::RefVat));
  }
  e.seal = TrimRight(FieldBytes(r, L::Seal));
  return e;
}

}  // namespace

std::string EncodeRegisterRecord(const RegisterEntry& e) {
  if (e.layout == EarlierRegisterFields::kLayout) return Encode<EarlierRegisterFields>(e, EarlierRegisterRecordSize);
  return Encode<RegisterFields>(e, RegisterRecordSize);
}

RegisterEntry DecodeRegisterRecord(const uint8_t* record, int layout) {
  if (layout == EarlierRegisterFields::kLayout) return Decode<EarlierRegisterFields>(record);
  return Decode<RegisterFields>(record);
}

std::string RegisterCreationSpecification() {
  return EncodeCreationSpecification(
      RegisterRecordSize, 4,
      {
          // Duplicates: a correction record keeps its invoice's series and
          // number; the register's rules keep each issued number unique.
          {FieldPosition(F::Series), F::Series.width, RmDuplicates | RmSegmented, 0},
          {FieldPosition(F::Number), F::Number.width, RmDuplicates | RmBinary, 0},
          {FieldPosition(F::Date), F::Date.width, RmSegmented, 1},
          {FieldPosition(F::Sequence), F::Sequence.width, RmBinary, 1},
          {FieldPosition(F::OwnerCode), F::OwnerCode.width, RmDuplicates | RmSegmented, 2},
          {FieldPosition(F::Date), F::Date.width, RmDuplicates, 2},
          {FieldPosition(F::Sequence), F::Sequence.width, RmBinary, 3},
      },
      // Records of 4 KB, written far more than walked along key 0: no second
      // copy of each in a covering index.
      RmNoCover);
}

std::string EarlierRegisterCreationSpecification() {
  using E = EarlierRegisterFields;
  return EncodeCreationSpecification(EarlierRegisterRecordSize, 4,
                                     {
                                         {FieldPosition(E::Number), E::Number.width, RmBinary, 0},
                                         {FieldPosition(E::Date), E::Date.width, RmSegmented, 1},
                                         {FieldPosition(E::Number), E::Number.width, RmBinary, 1},
                                         {FieldPosition(E::OwnerCode), E::OwnerCode.width, RmDuplicates | RmSegmented, 2},
                                         {FieldPosition(E::Date), E::Date.width, RmDuplicates, 2},
                                         {FieldPosition(E::Sequence), E::Sequence.width, RmBinary, 3},
                                     });
}

std::string RegisterDictionaryBytes() { return DictionaryFileBytesOf(RegisterCreationSpecification()); }

std::string EarlierRegisterDictionaryBytes() { return DictionaryFileBytesOf(EarlierRegisterCreationSpecification()); }

bool SeriesFitsRegister(const std::string& series) {
  if (series.size() > RegisterSeriesWidth) return false;
  for (unsigned char c : series)
    if (c < 32 || c > 126) return false;
  return true;
}

