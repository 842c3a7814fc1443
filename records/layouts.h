// Record layouts of the module's four data files (owners, properties, units
// and collections), of the owners' e-mail addresses (CorreuV) and of their
// direct-debit mandates (MandatV). Every offset and width lives in the field tables below;
// the accessors read and write a caller's record area in place.
//
// Byte formats: packed codes and stored dates are kept as the raw bytes of
// the record (each byte two decimal digits as 128 + value); amounts are
// signed 32-bit little-endian cents; percentages are 32-bit IEEE singles,
// little-endian; small counts are signed 16-bit little-endian; texts are
// fixed-width, blank-padded, code page 850.
//
// Pre: every record pointer given to an accessor points at a whole record
// area of the file's buffer size (the constants below). Accessors copy bytes
// with memcpy, so record areas need no alignment.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// ---------------------------------------------------------------------------
// The data files: ids used with the record-file layer, names under RootDir,
// and the size of the record area each one reads into.

inline constexpr int16_t OwnerFileId = 505;
inline constexpr int16_t PropertyFileId = 506;
inline constexpr int16_t UnitFileId = 507;
inline constexpr int16_t CollectionFileId = 509;

inline constexpr const char* OwnerFileName = "DADES\\PropietV";
inline constexpr const char* PropertyFileName = "DADES\\FinquesV";
inline constexpr const char* UnitFileName = "DADES\\DepartaV";
inline constexpr const char* CollectionFileName = "DADES\\CobramV";

inline constexpr uint32_t OwnerRecordSize = 324;
inline constexpr uint32_t PropertyRecordSize = 204;
inline constexpr uint32_t UnitRecordSize = 448;
inline constexpr uint32_t CollectionRecordSize = 44;

// The owners' e-mail addresses: one record per owner who has any, read by
// the sending of invoices by e-mail (not opened by the module at start-up).
inline constexpr const char* MailAddressFileName = "DADES\\CorreuV";
inline constexpr const char* MailAddressDictionaryBaseName = "CorreuV";
inline constexpr uint32_t MailAddressRecordSize = 256;
// Addresses an owner may have.
inline constexpr int MailAddressCount = 3;

// The owners' direct-debit mandates: one record per owner who has signed
// one, read by the remittances of the invoices (not opened by the module at
// start-up).
inline constexpr const char* MandateFileName = "DADES\\MandatV";
inline constexpr const char* MandateDictionaryBaseName = "MandatV";
inline constexpr uint32_t MandateRecordSize = 128;

// The owner record's bytes taken as text by the link list.
inline constexpr uint32_t OwnerLinkListTextSize = 321;

// Number of property links of an owner; entries are numbered 1 to 20.
inline constexpr int OwnerLinkCount = 20;

// ---------------------------------------------------------------------------
// Field table: offset from the start of the record (0-based) and width.

struct RecordField {
  uint16_t offset;
  uint16_t width;
};

namespace OwnerFields {
inline constexpr RecordField Code{0, 2};         // packed code, key 0
inline constexpr RecordField Name{2, 30};        // surname "*" given name; key 1
inline constexpr RecordField Address1{52, 30};
inline constexpr RecordField Address2{82, 30};
inline constexpr RecordField Address3{112, 30};
inline constexpr RecordField Links{184, 80};     // 20 entries of 4 bytes
inline constexpr uint16_t LinkEntryWidth = 4;    // property code (2) + tax class (2)
inline constexpr RecordField TaxId{264, 17};
}  // namespace OwnerFields

namespace PropertyFields {
inline constexpr RecordField Code{0, 2};         // packed code, key 0
inline constexpr RecordField ListName{8, 30};
inline constexpr RecordField FeePercent{101, 4};
inline constexpr RecordField ExpenseAmount{105, 4};
inline constexpr RecordField BillingPeriodMonths{139, 2};
inline constexpr RecordField Name{142, 50};
inline constexpr RecordField CutoffDate{192, 4};
inline constexpr RecordField FixedFee{200, 4};
}  // namespace PropertyFields

namespace UnitFields {
inline constexpr RecordField Key{0, 4};          // property code (2) + unit (2), key 0
}  // namespace UnitFields

namespace CollectionFields {
inline constexpr RecordField UnitKey{0, 4};      // key 0, first segment
inline constexpr RecordField Date{4, 4};         // key 0, second segment
inline constexpr RecordField Amount{13, 4};
inline constexpr RecordField Type{17, 1};
inline constexpr RecordField BaseDeduction{24, 4};
inline constexpr RecordField State{38, 1};
inline constexpr RecordField BaseAddition{40, 4};
}  // namespace CollectionFields

// E-mail addresses (CorreuV): key 0 the owner code, unique. An address is
// ASCII text as written (blank: none); Paper is "S" when the owner wants
// paper invoices as well as e-mail, anything else when not. Bytes 243-255
// are reserved.
namespace MailAddressFields {
inline constexpr RecordField OwnerCode{0, 2};    // packed code, key 0
inline constexpr RecordField Address1{2, 80};
inline constexpr RecordField Address2{82, 80};
inline constexpr RecordField Address3{162, 80};
inline constexpr RecordField Paper{242, 1};
}  // namespace MailAddressFields

// Mandates (MandatV): key 0 the owner code, unique; key 1 the mandate's
// reference, unique (no two owners sign the same). The IBAN is the
// debtor's account as written (blanks allowed), the scheme "CORE" or "B2B",
// FirstDone "S" when a first collection was made under the mandate before
// this program's collection log knew of it. Bytes 80-127 are reserved.
namespace MandateFields {
inline constexpr RecordField OwnerCode{0, 2};    // packed code, key 0
inline constexpr RecordField Reference{2, 35};   // text, key 1
inline constexpr RecordField Iban{37, 34};
inline constexpr RecordField Signed{71, 4};      // stored date of signature
inline constexpr RecordField Scheme{75, 4};
inline constexpr RecordField FirstDone{79, 1};
}  // namespace MandateFields

// ---------------------------------------------------------------------------
// Generic field access, little-endian whatever the host order.

inline std::string FieldBytes(const uint8_t* rec, RecordField f) {
  return std::string(reinterpret_cast<const char*>(rec) + f.offset, f.width);
}

inline int16_t FieldInt16(const uint8_t* rec, RecordField f) {
  uint16_t v = static_cast<uint16_t>(rec[f.offset] | (rec[f.offset + 1] << 8));
  return static_cast<int16_t>(v);
}

inline int32_t FieldInt32(const uint8_t* rec, RecordField f) {
  uint32_t v = static_cast<uint32_t>(rec[f.offset]) | (static_cast<uint32_t>(rec[f.offset + 1]) << 8) |
               (static_cast<uint32_t>(rec[f.offset + 2]) << 16) |
               (static_cast<uint32_t>(rec[f.offset + 3]) << 24);
  return static_cast<int32_t>(v);
}

inline float FieldSingle(const uint8_t* rec, RecordField f) {
  uint32_t bits = static_cast<uint32_t>(FieldInt32(rec, f));
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Writes value into the field: cut to its width, blanks after a shorter one.
inline void PutFieldText(uint8_t* rec, RecordField f, std::string_view value) {
  size_t n = value.size() < f.width ? value.size() : f.width;
  std::memcpy(rec + f.offset, value.data(), n);
  std::memset(rec + f.offset + n, ' ', f.width - n);
}

// Writes raw bytes (packed codes, stored dates): cut to the width, NUL bytes
// after a shorter value.
inline void PutFieldBytes(uint8_t* rec, RecordField f, std::string_view value) {
  size_t n = value.size() < f.width ? value.size() : f.width;
  std::memcpy(rec + f.offset, value.data(), n);
  std::memset(rec + f.offset + n, 0, f.width - n);
}

inline void PutFieldInt16(uint8_t* rec, RecordField f, int16_t value) {
  uint16_t v = static_cast<uint16_t>(value);
  rec[f.offset] = static_cast<uint8_t>(v & 0xFF);
  rec[f.offset + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutFieldInt32(uint8_t* rec, RecordField f, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) rec[f.offset + i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

// The key bytes of an int32 segment (little-endian, as stored).
inline std::string Int32Key(int32_t value) {
  std::string key(4, '\0');
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) key[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return key;
}

inline void PutFieldSingle(uint8_t* rec, RecordField f, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutFieldInt32(rec, f, static_cast<int32_t>(bits));
}

// ---------------------------------------------------------------------------
// Owner record (PropietV).

// Link entry i (1 to 20): the property code field and the tax class field.
// Pre: 1 <= i <= 20.
inline RecordField OwnerLinkPropertyField(int i) {
  return RecordField{static_cast<uint16_t>(OwnerFields::Links.offset + OwnerFields::LinkEntryWidth * (i - 1)), 2};
}
inline RecordField OwnerLinkTaxClassField(int i) {
  return RecordField{static_cast<uint16_t>(OwnerFields::Links.offset + OwnerFields::LinkEntryWidth * (i - 1) + 2), 2};
}

inline std::string OwnerCode(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::Code); }
inline std::string OwnerName(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::Name); }
inline std::string OwnerAddress1(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::Address1); }
inline std::string OwnerAddress2(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::Address2); }
inline std::string OwnerAddress3(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::Address3); }
inline std::string PropertyLinks(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::Links); }
inline std::string LinkPropertyCode(const uint8_t* rec, int i) { return FieldBytes(rec, OwnerLinkPropertyField(i)); }
inline int16_t LinkTaxClass(const uint8_t* rec, int i) { return FieldInt16(rec, OwnerLinkTaxClassField(i)); }
inline std::string OwnerTaxId(const uint8_t* rec) { return FieldBytes(rec, OwnerFields::TaxId); }
// The first 321 bytes of the record as one text (the link list's view).
inline std::string OwnerLinkListText(const uint8_t* rec) {
  return std::string(reinterpret_cast<const char*>(rec), OwnerLinkListTextSize);
}

inline void SetOwnerCode(uint8_t* rec, std::string_view code) { PutFieldBytes(rec, OwnerFields::Code, code); }
inline void SetOwnerName(uint8_t* rec, std::string_view v) { PutFieldText(rec, OwnerFields::Name, v); }
inline void SetOwnerAddress1(uint8_t* rec, std::string_view v) { PutFieldText(rec, OwnerFields::Address1, v); }
inline void SetOwnerAddress2(uint8_t* rec, std::string_view v) { PutFieldText(rec, OwnerFields::Address2, v); }
inline void SetOwnerAddress3(uint8_t* rec, std::string_view v) { PutFieldText(rec, OwnerFields::Address3, v); }
inline void SetLinkPropertyCode(uint8_t* rec, int i, std::string_view code) {
  PutFieldBytes(rec, OwnerLinkPropertyField(i), code);
}
inline void SetLinkTaxClass(uint8_t* rec, int i, int16_t taxClass) {
  PutFieldInt16(rec, OwnerLinkTaxClassField(i), taxClass);
}
inline void SetOwnerTaxId(uint8_t* rec, std::string_view v) { PutFieldText(rec, OwnerFields::TaxId, v); }

// ---------------------------------------------------------------------------
// Property record (FinquesV).

inline std::string PropertyCode(const uint8_t* rec) { return FieldBytes(rec, PropertyFields::Code); }
inline std::string PropertyListName(const uint8_t* rec) { return FieldBytes(rec, PropertyFields::ListName); }
inline float FeePercent(const uint8_t* rec) { return FieldSingle(rec, PropertyFields::FeePercent); }
inline int32_t ExpenseAmount(const uint8_t* rec) { return FieldInt32(rec, PropertyFields::ExpenseAmount); }
inline int16_t BillingPeriodMonths(const uint8_t* rec) { return FieldInt16(rec, PropertyFields::BillingPeriodMonths); }
inline std::string PropertyName(const uint8_t* rec) { return FieldBytes(rec, PropertyFields::Name); }
inline std::string CutoffDate(const uint8_t* rec) { return FieldBytes(rec, PropertyFields::CutoffDate); }
inline int32_t FixedFee(const uint8_t* rec) { return FieldInt32(rec, PropertyFields::FixedFee); }

inline void SetPropertyCode(uint8_t* rec, std::string_view code) { PutFieldBytes(rec, PropertyFields::Code, code); }
inline void SetPropertyListName(uint8_t* rec, std::string_view v) { PutFieldText(rec, PropertyFields::ListName, v); }
inline void SetFeePercent(uint8_t* rec, float v) { PutFieldSingle(rec, PropertyFields::FeePercent, v); }
inline void SetExpenseAmount(uint8_t* rec, int32_t v) { PutFieldInt32(rec, PropertyFields::ExpenseAmount, v); }
inline void SetBillingPeriodMonths(uint8_t* rec, int16_t v) {
  PutFieldInt16(rec, PropertyFields::BillingPeriodMonths, v);
}
inline void SetPropertyName(uint8_t* rec, std::string_view v) { PutFieldText(rec, PropertyFields::Name, v); }
inline void SetCutoffDate(uint8_t* rec, std::string_view date) { PutFieldBytes(rec, PropertyFields::CutoffDate, date); }
inline void SetFixedFee(uint8_t* rec, int32_t v) { PutFieldInt32(rec, PropertyFields::FixedFee, v); }

// ---------------------------------------------------------------------------
// Unit record (DepartaV).

inline std::string UnitKey(const uint8_t* rec) { return FieldBytes(rec, UnitFields::Key); }
inline void SetUnitKey(uint8_t* rec, std::string_view key) { PutFieldBytes(rec, UnitFields::Key, key); }

// ---------------------------------------------------------------------------
// Collection record (CobramV).

inline std::string ReceiptUnitKey(const uint8_t* rec) { return FieldBytes(rec, CollectionFields::UnitKey); }
inline std::string ReceiptDate(const uint8_t* rec) { return FieldBytes(rec, CollectionFields::Date); }
inline int32_t ReceiptAmount(const uint8_t* rec) { return FieldInt32(rec, CollectionFields::Amount); }
inline char ReceiptType(const uint8_t* rec) { return static_cast<char>(rec[CollectionFields::Type.offset]); }
inline int32_t BaseDeduction(const uint8_t* rec) { return FieldInt32(rec, CollectionFields::BaseDeduction); }
inline char ReceiptState(const uint8_t* rec) { return static_cast<char>(rec[CollectionFields::State.offset]); }
inline int32_t BaseAddition(const uint8_t* rec) { return FieldInt32(rec, CollectionFields::BaseAddition); }

inline void SetReceiptUnitKey(uint8_t* rec, std::string_view key) {
  PutFieldBytes(rec, CollectionFields::UnitKey, key);
}
inline void SetReceiptDate(uint8_t* rec, std::string_view date) { PutFieldBytes(rec, CollectionFields::Date, date); }
inline void SetReceiptAmount(uint8_t* rec, int32_t v) { PutFieldInt32(rec, CollectionFields::Amount, v); }
inline void SetReceiptType(uint8_t* rec, char c) { rec[CollectionFields::Type.offset] = static_cast<uint8_t>(c); }
inline void SetBaseDeduction(uint8_t* rec, int32_t v) { PutFieldInt32(rec, CollectionFields::BaseDeduction, v); }
inline void SetReceiptState(uint8_t* rec, char c) { rec[CollectionFields::State.offset] = static_cast<uint8_t>(c); }
inline void SetBaseAddition(uint8_t* rec, int32_t v) { PutFieldInt32(rec, CollectionFields::BaseAddition, v); }

// ---------------------------------------------------------------------------
// E-mail address record (CorreuV).

// Address field i (1 to MailAddressCount). Pre: 1 <= i <= 3.
inline RecordField MailAddressField(int i) {
  return RecordField{static_cast<uint16_t>(MailAddressFields::Address1.offset + MailAddressFields::Address1.width * (i - 1)),
                     MailAddressFields::Address1.width};
}

inline std::string MailOwnerCode(const uint8_t* rec) { return FieldBytes(rec, MailAddressFields::OwnerCode); }
inline std::string MailAddress(const uint8_t* rec, int i) { return FieldBytes(rec, MailAddressField(i)); }
inline bool MailWantsPaper(const uint8_t* rec) { return rec[MailAddressFields::Paper.offset] == 'S'; }

inline void SetMailOwnerCode(uint8_t* rec, std::string_view code) { PutFieldBytes(rec, MailAddressFields::OwnerCode, code); }
inline void SetMailAddress(uint8_t* rec, int i, std::string_view v) { PutFieldText(rec, MailAddressField(i), v); }
inline void SetMailWantsPaper(uint8_t* rec, bool paper) {
  rec[MailAddressFields::Paper.offset] = static_cast<uint8_t>(paper ? 'S' : 'N');
}
