// The invoice register's records: one record per issued invoice, in its own
// data file, created from its dictionary in ddf\ like the other data files
// (ddfgen writes the dictionaries from the creation specifications here).
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
// Two layouts. The register is DADES\RegFact2 (layout 2, 4096 bytes): each
// series is numbered on its own, so an invoice is known by its series and
// number; the series holds up to 51 characters, and the record the agency's
// XML of itself as it was made.
//   key 0  Series + Number           duplicates: a number is issued once per
//                                    series (Append's rule), and a correction
//                                    record (kind 'S') repeats its invoice's
//   key 1  Date + Sequence           unique
//   key 2  OwnerCode + Date          duplicates
//   key 3  Sequence                  unique: the order of the chain
// The first version of the module kept DADES\RegFactV (layout 1, 384
// bytes, one counter for every series, four characters of series). Such a
// file is never written again: it is read as the start of the chain, and the
// first record of RegFact2 follows its last record.
//
// Integers are little-endian, texts blank-padded code page 850, the date a
// stored date of four bytes 128 + two digits each. Amounts are signed cents;
// rates are hundredths of a percent.
#pragma once

#include <cstdint>
#include <string>

#include "records/layouts.h"

inline constexpr const char* RegisterFileName = "DADES\\RegFact2";
// The kind of a record that corrects an earlier record of the same invoice
// for the agency (Subsanacion): same series, number and date, its own place
// in the chain; not a new invoice, so the numbering rules pass it by.
inline constexpr char RegisterKindCorrection = 'S';
inline constexpr const char* RegisterDictionaryBaseName = "RegFact2";
inline constexpr uint32_t RegisterRecordSize = 4096;

// The longest series a record holds; the series and number as printed (with
// "/" and eight digits) then stay within the agency's 60 characters.
inline constexpr size_t RegisterSeriesWidth = 51;
// The largest number of a series: eight digits as printed.
inline constexpr int32_t RegisterHighestNumber = 99999999;

struct RegisterFields {
  static constexpr int kLayout = 2;
  static constexpr RecordField Sequence{0, 4};          // int32, key 3; key 1 second segment
  static constexpr RecordField Kind{4, 1};              // 'A' an issued invoice, 'S' a correction (RegisterKindCorrection), 'N' a cancellation
  static constexpr RecordField Series{5, RegisterSeriesWidth};  // text; key 0 first segment
  static constexpr RecordField Number{56, 4};           // int32, key 0 second segment
  static constexpr RecordField Date{60, 4};             // stored date; key 1 first segment, key 2 second
  static constexpr RecordField OwnerCode{64, 2};        // packed code; key 2 first segment
  static constexpr RecordField PropertyCode{66, 2};     // packed code
  static constexpr RecordField TaxClass{68, 2};         // int16
  static constexpr RecordField IssuerTaxId{70, 9};      // the NIF, without a country prefix
  static constexpr RecordField RecipientTaxId{79, 21};  // as the owner file holds it
  static constexpr RecordField RecipientName{100, 60};
  static constexpr RecordField Base{160, 4};            // cents
  static constexpr RecordField VatRate{164, 4};         // hundredths of a percent
  static constexpr RecordField Vat{168, 4};             // cents
  static constexpr RecordField WithholdingRate{172, 4};
  static constexpr RecordField Withholding{176, 4};
  static constexpr RecordField Total{180, 4};           // cents: base + VAT - withholding
  static constexpr RecordField GeneratedAt{184, 25};    // ISO 8601 with offset
  static constexpr RecordField PreviousFingerprint{209, 64};
  static constexpr RecordField Fingerprint{273, 64};
  static constexpr RecordField Archive{337, 26};        // the archived spool file that holds its page
  static constexpr RecordField Page{363, 4};            // int32: its page in that file, from 1
  static constexpr RecordField XmlLength{367, 2};       // uint16
  static constexpr RecordField Xml{369, 3463};          // UTF-8, the record as the agency reads it
  // Taken from the end of the XML area, blank in records made before them
  // (a blank reads as F1, none, 0): what a corrective invoice or a
  // cancellation refers to. Numbers are decimal text, blank for 0.
  static constexpr RecordField InvoiceType{3832, 2};    // "R1".."R4"; blank: F1
  static constexpr RecordField CorrectionForm{3834, 1}; // 'S' substitution, 'I' differences; blank
  static constexpr RecordField RefSeries{3835, RegisterSeriesWidth};  // the invoice corrected or cancelled
  static constexpr RecordField RefNumber{3886, 8};
  static constexpr RecordField RefDate{3894, 8};        // YYYYMMDD
  static constexpr RecordField RefBase{3902, 12};       // substitution: the base and VAT replaced, cents
  static constexpr RecordField RefVat{3914, 12};
  // 3926..4031 blank, free for later fields.
  static constexpr RecordField Seal{4032, 64};          // SHA-256 hex of previous seal + bytes 0..4031
};

// The first layout, read only.
inline constexpr const char* EarlierRegisterFileName = "DADES\\RegFactV";
inline constexpr const char* EarlierRegisterDictionaryBaseName = "RegFactV";
inline constexpr uint32_t EarlierRegisterRecordSize = 384;

struct EarlierRegisterFields {
  static constexpr int kLayout = 1;
  static constexpr RecordField Sequence{0, 4};        // int32, key 3
  static constexpr RecordField Number{4, 4};          // int32, key 0; key 1 second segment
  static constexpr RecordField Series{8, 4};          // text
  static constexpr RecordField Date{12, 4};           // stored date; key 1 first segment, key 2 second
  static constexpr RecordField OwnerCode{16, 2};      // packed code; key 2 first segment
  static constexpr RecordField PropertyCode{18, 2};   // packed code
  static constexpr RecordField TaxClass{20, 2};       // int16
  static constexpr RecordField IssuerTaxId{22, 9};    // text
  static constexpr RecordField RecipientTaxId{31, 17};
  static constexpr RecordField RecipientName{48, 60};
  static constexpr RecordField Base{108, 4};
  static constexpr RecordField VatRate{112, 4};
  static constexpr RecordField Vat{116, 4};
  static constexpr RecordField WithholdingRate{120, 4};
  static constexpr RecordField Withholding{124, 4};
  static constexpr RecordField Total{128, 4};
  static constexpr RecordField GeneratedAt{132, 25};
  static constexpr RecordField PreviousFingerprint{157, 64};
  static constexpr RecordField Fingerprint{221, 64};
  static constexpr RecordField Archive{285, 24};
  static constexpr RecordField Page{309, 4};
  static constexpr RecordField Seal{313, 64};         // SHA-256 hex of previous seal + bytes 0..312
};

// The kinds of record (RegisterFields::Kind).
inline constexpr char RegisterKindIssue = 'A';         // the agency's RegistroAlta: an F1 or corrective invoice
inline constexpr char RegisterKindCancellation = 'N';  // RegistroAnulacion
// A cancellation record's series in key 0, which no invoice's series can be
// (control characters are refused): its number there is its own sequence,
// so that it never takes an invoice's number. The invoice it cancels is
// named by the Ref fields.
inline constexpr const char* CancellationKeySeries = "\x01";

// One record: an issued invoice or a cancellation. Texts are code page 850
// and hold no trailing blanks.
struct RegisterEntry {
  int layout = 2;              // the layout of the record it was read from or is written as
  int32_t sequence = 0;        // position in the chain, from 1
  char kind = 'A';             // RegisterKindIssue, RegisterKindCorrection or RegisterKindCancellation (layout 2 keeps it)
  int32_t number = 0;
  std::string series;          // may be empty
  std::string date;            // YYYYMMDD
  std::string ownerCode;       // packed code, 2 bytes
  std::string propertyCode;    // packed code, 2 bytes
  int16_t taxClass = 0;
  std::string issuerTaxId;     // 9 characters, no "ES"
  std::string recipientTaxId;  // as the owner file holds it ("ES" + number, or another country's)
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
  std::string xml;             // the agency's XML of the record as made (layout 2; may be empty)
  std::string seal;
  // Layout 2 only. A corrective invoice: its type and form, the invoice it
  // corrects, and (substitution) that invoice's base and VAT it replaces.
  // A cancellation: the invoice it cancels (refSeries, refNumber, refDate).
  std::string invoiceType;     // "R1".."R4"; empty for F1
  char correctionForm = 0;     // 'S', 'I', or 0
  std::string refSeries;
  int32_t refNumber = 0;
  std::string refDate;         // YYYYMMDD
  int32_t refBase = 0;
  int32_t refVat = 0;
  // A corrective invoice made now: the cause as the user described it
  // (UTF-8), the description of the operation in its record's XML. Not a
  // field of the record: the XML kept in it holds it.
  std::string description;

  [[nodiscard]] bool IsCancellation() const { return kind == RegisterKindCancellation; }
  [[nodiscard]] bool IsCorrective() const { return !IsCancellation() && !invoiceType.empty(); }
  // The agency's TipoFactura of an invoice: "F1" or invoiceType.
  [[nodiscard]] std::string AgencyInvoiceType() const { return invoiceType.empty() ? "F1" : invoiceType; }
  // The invoice the record is about: its own for an invoice, the cancelled
  // one for a cancellation.
  [[nodiscard]] const std::string& IdentitySeries() const { return IsCancellation() ? refSeries : series; }
  [[nodiscard]] int32_t IdentityNumber() const { return IsCancellation() ? refNumber : number; }
  [[nodiscard]] const std::string& IdentityDate() const { return IsCancellation() ? refDate : date; }
};

// The record of an entry in its layout, and back. Decoding never fails: a
// damaged record gives whatever its bytes say, and the chain check finds it.
// Texts longer than their field are cut by the encoding: the register checks
// each entry before it is written (RegisterEntryProblem), since a cut text
// would no longer match the fingerprint made from it.
[[nodiscard]] std::string EncodeRegisterRecord(const RegisterEntry& entry);
[[nodiscard]] RegisterEntry DecodeRegisterRecord(const uint8_t* record, int layout = 2);

// The creation specifications of the register and of the first layout's
// file (see records/dictionaries.h).
[[nodiscard]] std::string RegisterCreationSpecification();
[[nodiscard]] std::string EarlierRegisterCreationSpecification();

// The dictionary file of the register (see records/dictionaries.h).
[[nodiscard]] std::string RegisterDictionaryBytes();
[[nodiscard]] std::string EarlierRegisterDictionaryBytes();

// Whether a series can be an invoice's identity: ASCII 32-126 only, at most
// RegisterSeriesWidth characters.
[[nodiscard]] bool SeriesFitsRegister(const std::string& series);
