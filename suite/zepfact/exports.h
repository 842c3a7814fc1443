// What zepfact makes of the invoice register's entries: the entries a
// command selects, the list lines, the CSV files for the accountant and the
// XML documents in the tax agency's submission form. Every routine here takes
// entries already read and returns text; none reads or writes a file.
//
// Entries are taken as the register gives them, damaged ones included: no
// routine here fails on odd values (a date that is not a date, a negative
// rate), it writes what the record holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agency/facts.h"
#include "register/register.h"
#include "register/software.h"

// The date of a command-line option as YYYYMMDD: DD-MM-YYYY, DD/MM/YYYY or
// YYYY-MM-DD, two digits for day and month, four for the year (0001-9999),
// and a day that exists. False (out unchanged) for anything else.
[[nodiscard]] bool ParseCommandDate(std::string_view text, std::string& yyyymmddOut);

// Dates as YYYYMMDD, both ends included; an empty end is open.
struct DateRange {
  std::string from;
  std::string to;
};

// Which entries a command takes: those whose date of issue lies in issued
// and whose date of generation (GenerationDate of generatedAt) lies in
// generated. While generated has an end, an entry without a readable
// generation date is left out.
struct Selection {
  DateRange issued;
  DateRange generated;
};

// The local date that a generation time in ISO 8601 with its offset states,
// as YYYYMMDD: "2027-01-15T00:30:00+01:00" gives "20270115" (not converted
// to UTC). Empty when the text does not start with YYYY-MM-DD in digits.
[[nodiscard]] std::string GenerationDate(std::string_view generatedAt);

// The entries selection takes, in the order given.
[[nodiscard]] std::vector<RegisterEntry> SelectedEntries(const std::vector<RegisterEntry>& entries,
                                                         const Selection& selection);

// The quarter of a YYYYMMDD date as "2027-1T" (year, dash, quarter 1-4,
// "T" as on the quarterly returns); a month outside 1-12 gives "2027-?T".
[[nodiscard]] std::string QuarterOf(const std::string& yyyymmdd);

// One line of the list, code page 850 (without a line end): printed
// number (13), date DD-MM-YYYY, recipient's tax number (11, longer ones
// pushing the rest), recipient's name (cut to 30), total (11, right-aligned,
// "." and two decimals; a corrective invoice's as registered, signed when
// it corrects by differences), then the invoice's state as given.
[[nodiscard]] std::string ListLine(const RegisterEntry& entry, const std::string& state);

// The titles of the list's columns (code page 850), in ListLine's order.
struct ListTitles {
  std::string number, date, taxId, name, total, state;
};

// The list's header line (without a line end): each title at the column
// ListLine gives its field, cut to the field's width; the total's title is
// right-aligned over the amounts.
[[nodiscard]] std::string ListHeader(const ListTitles& titles);

// The columns of the invoices file and of the totals file, in order.
inline constexpr std::string_view kCsvHeader =
    "series,number,date,issuer_nif,recipient_nif,recipient_name,base,vat_rate,vat,"
    "withholding_rate,withholding,total,generated_at,previous_fingerprint,fingerprint,type,form,corrects,"
    "corrects_date";
inline constexpr std::string_view kCsvTotalsHeader = "series,quarter,invoices,base,vat,withholding,total";

// Both CSV files are one table each, RFC 4180 (base/csv.h), UTF-8, every
// line ended by CR LF. A cell copied from the record's text (series, date,
// tax numbers, name, generation time, fingerprints, quarter) that begins
// with "=", "+", "-", "@", a tab or a carriage return gets an apostrophe in
// front, so that a spreadsheet shows it as text instead of computing it.
// Cells made from numbers (invoice number, amounts, rates, counts) are
// written as they are: a negative amount stays a number.

// The invoices file for entries in the order given: the header, then one
// row per entry (dates DD-MM-YYYY, the number without series or zeros,
// amounts and rates with "." and two decimals, total as stored: base + VAT
// - withholding). type is F1, R1-R4 or "cancellation"; a corrective row
// has its form (S or I), the invoice it corrects and that invoice's date,
// and its amounts as registered (by differences: the change, signed); a
// cancellation row names the cancelled invoice in series, number and date
// and leaves the amounts empty.
// In the sending mode each row also says what the agency answered for the
// record (kCsvSendingHeader): the state as the agency names it (Correcto,
// AceptadoConErrores, Incorrecto, Duplicado) or Pendiente, its CSV code,
// and the error's code and text.
inline constexpr std::string_view kCsvSendingHeader = ",sending_state,sending_csv,sending_error_code,sending_error";
struct SendingCells {
  std::string state;
  std::string csv;        // UTF-8
  int32_t errorCode = 0;
  std::string errorText;  // UTF-8
};
[[nodiscard]] std::string CsvText(const std::vector<RegisterEntry>& entries,
                                  const std::vector<SendingCells>* sending = nullptr);

// The totals file: the header, then one row per series and quarter of the
// date of issue (QuarterOf) with the count and the sums of the invoices
// (an invoice cancelled by a cancellation record among entries is left
// out; a corrective invoice by differences counts its amounts as
// registered, one by substitution only what it changes, since the invoice
// it replaces stays counted where it was issued: the sums a VAT return
// takes; correction records left out: their invoice is counted once),
// series in byte order, quarters in date order.
[[nodiscard]] std::string CsvTotalsText(const std::vector<RegisterEntry>& entries);

// Who files the records: the Cabecera's ObligadoEmision, and the issuer's
// name in records made at export time. Tarn.ini [Emissor] Nom and NIF.
struct SubmissionIssuer {
  std::string name;   // code page 850, trimmed
  std::string taxId;  // the NIF as CheckNif makes it (register/taxid.h)
};

// The agency takes at most this many records in one document.
inline constexpr size_t kRecordsPerDocument = agency::kRecordsPerMessage;

// Whether some entry of chain that selection takes has no kept XML, so that
// its record is made now and the software's identity and installation
// number are needed.
[[nodiscard]] bool NeedsRecordXml(const std::vector<RegisterEntry>& chain, const Selection& selection);

// The reference of an agency's request that a submission answers
// (RefRequerimiento): 1 to kRequirementReferenceMax letters (A-Z, a-z) or
// digits, the characters the agency takes.
inline constexpr size_t kRequirementReferenceMax = 18;
[[nodiscard]] bool IsRequirementReference(std::string_view text);

// The submission documents (UTF-8) of the entries of chain (the whole
// register in chain order) that selection takes, in chain order,
// kRecordsPerDocument to a document: none when selection takes no entry.
// Each entry goes as the XML kept with it, byte for byte; an entry without
// one (made by the module's first version) gets its record made now by
// RegistroAltaXml, chained to the entry before it in chain, with the
// issuer's name, software and installationNumber. refusedOut: -1, or the
// index in chain of the first entry whose record cannot be made (a
// recipient the agency cannot identify); such entries are left out and the
// documents hold the rest.
// With a requirement reference (not empty, IsRequirementReference) the
// documents answer that request: each Cabecera names it in
// RemisionRequerimiento, with FinRequerimiento S on the last document and N
// on the ones before.
[[nodiscard]] std::vector<std::string> SubmissionDocuments(const std::vector<RegisterEntry>& chain,
                                                           const Selection& selection, const SubmissionIssuer& issuer,
                                                           const SoftwareIdentity& software,
                                                           const std::string& installationNumber,
                                                           std::string_view requirement, int64_t& refusedOut);

// The file name of part (from 1) of count documents: path itself for one
// document, otherwise "-<part>" before the extension of the last
// component ("out.xml" -> "out-2.xml", "out" -> "out-2").
[[nodiscard]] std::string DocumentPartPath(const std::string& path, size_t part, size_t count);

