// The invoice register's record: one record per issued invoice in its own
// data file, DADES\RegFactV, created from ddf\RegFactV.xdf like the other
// data files (ddfgen writes that dictionary from RegisterCreationSpecification).
//
// Every record carries the fingerprint of the record made before it (the
// chain), so that a record changed, removed or inserted afterwards is found
// by recomputing the chain. The fingerprint is SHA-256 over the agency's
// text of the record (FingerprintText), 64 upper-case hexadecimal digits.
// The agency's text covers only some fields (number, date, VAT, total), so
// each record also carries a seal: SHA-256 over the previous record's seal
// and every byte of this record before the seal. A change to any stored
// field breaks the seals from that record on.
//
// Record layout (384 bytes; integers little-endian, texts blank-padded code
// page 850, the date as a stored date of four bytes 128 + two digits each):
//   key 0  Number                    unique: one number is issued once
//   key 1  Date + Number             unique
//   key 2  OwnerCode + Date          duplicates
//   key 3  Sequence                  unique: the order of the chain
// Amounts are signed cents; rates are hundredths of a percent.
#pragma once

#include <cstdint>
#include <string>

#include "records/layouts.h"

inline constexpr const char* RegisterFileName = "DADES\\RegFactV";
inline constexpr const char* RegisterDictionaryBaseName = "RegFactV";
inline constexpr uint32_t RegisterRecordSize = 384;

namespace RegisterFields {
inline constexpr RecordField Sequence{0, 4};        // int32, key 3
inline constexpr RecordField Number{4, 4};          // int32, key 0; key 1 second segment
inline constexpr RecordField Series{8, 4};          // text
inline constexpr RecordField Date{12, 4};           // stored date; key 1 first segment, key 2 second
inline constexpr RecordField OwnerCode{16, 2};      // packed code; key 2 first segment
inline constexpr RecordField PropertyCode{18, 2};   // packed code
inline constexpr RecordField TaxClass{20, 2};       // int16
inline constexpr RecordField IssuerTaxId{22, 9};    // text, without the country prefix
inline constexpr RecordField RecipientTaxId{31, 17};
inline constexpr RecordField RecipientName{48, 60};
inline constexpr RecordField Base{108, 4};          // cents
inline constexpr RecordField VatRate{112, 4};       // hundredths of a percent
inline constexpr RecordField Vat{116, 4};           // cents
inline constexpr RecordField WithholdingRate{120, 4};
inline constexpr RecordField Withholding{124, 4};
inline constexpr RecordField Total{128, 4};         // cents: base + VAT - withholding
inline constexpr RecordField GeneratedAt{132, 25};  // ISO 8601 with offset
inline constexpr RecordField PreviousFingerprint{157, 64};
inline constexpr RecordField Fingerprint{221, 64};
inline constexpr RecordField Archive{285, 24};      // the archived spool file that holds its page
inline constexpr RecordField Page{309, 4};          // int32: its page in that file, from 1
inline constexpr RecordField Seal{313, 64};         // SHA-256 hex of previous seal + bytes 0..312
}  // namespace RegisterFields

// One issued invoice. Texts are code page 850 and hold no trailing blanks.
struct RegisterEntry {
  int32_t sequence = 0;        // position in the chain, from 1
  int32_t number = 0;
  std::string series;          // may be empty
  std::string date;            // YYYYMMDD
  std::string ownerCode;       // packed code, 2 bytes
  std::string propertyCode;    // packed code, 2 bytes
  int16_t taxClass = 0;
  std::string issuerTaxId;     // 9 characters, no "ES"
  std::string recipientTaxId;  // as the owner file holds it ("ES" + number)
  std::string recipientName;
  int32_t base = 0;
  int32_t vatRate = 0;
  int32_t vat = 0;
  int32_t withholdingRate = 0;
  int32_t withholding = 0;
  int32_t total = 0;
  std::string generatedAt;
  std::string previousFingerprint;
  std::string fingerprint;
  std::string archive;         // file name under the suite's ARXIU folder
  int32_t page = 0;
  std::string seal;
};

// The record of an entry and back. Decoding never fails: a damaged record
// gives whatever its bytes say, and the chain check finds it.
[[nodiscard]] std::string EncodeRegisterRecord(const RegisterEntry& entry);
[[nodiscard]] RegisterEntry DecodeRegisterRecord(const uint8_t* record);

// The creation specification of the register (see records/dictionaries.h).
[[nodiscard]] std::string RegisterCreationSpecification();

// The dictionary file of the register (see records/dictionaries.h).
[[nodiscard]] std::string RegisterDictionaryBytes();
