// What zepfact makes of the invoice register's entries: the date range of a
// command, the list lines, the CSV file for the accountant and the XML
// documents in the tax agency's submission form. Every routine here takes
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

// The entries whose date lies in range, in the order given.
[[nodiscard]] std::vector<RegisterEntry> EntriesInRange(const std::vector<RegisterEntry>& entries,
                                                        const DateRange& range);

// The quarter of a YYYYMMDD date as "2027-1T" (year, dash, quarter 1-4,
// "T" as on the quarterly returns); a month outside 1-12 gives "2027-?T".
[[nodiscard]] std::string QuarterOf(const std::string& yyyymmdd);

// One line of the list, code page 850, 79 columns for an 80-column terminal
// (without a line end): printed number (13), date DD-MM-YYYY, recipient's
// tax number (11, longer ones pushing the rest), recipient's name (cut to
// 30), total (11, right-aligned, "." and two decimals).
[[nodiscard]] std::string ListLine(const RegisterEntry& entry);

// The CSV columns, in order.
inline constexpr std::string_view kCsvHeader =
    "series,number,date,issuer_nif,recipient_nif,recipient_name,base,vat_rate,vat,"
    "withholding_rate,withholding,total,generated_at,previous_fingerprint,fingerprint";
inline constexpr std::string_view kCsvTotalsHeader = "series,quarter,invoices,base,vat,withholding,total";

// The whole CSV file (UTF-8, CRLF line ends) for entries in the order given:
// the header, one row per entry (dates DD-MM-YYYY, the number without
// series or zeros, amounts and rates with "." and two decimals, total as
// stored: base + VAT - withholding), then an empty line, the totals header
// and one row per series and quarter, series in byte order, quarters in
// date order.
[[nodiscard]] std::string CsvText(const std::vector<RegisterEntry>& entries);

// A tax number as Tarn.ini or the owner file writes it, reduced to letters
// (upper case) and digits, without the "ES" in front of a nine-character
// number: "ES 12345678-z" gives "12345678Z". Other texts come back reduced.
[[nodiscard]] std::string PlainTaxId(std::string_view text);

// Who files the records: the Cabecera's ObligadoEmision, and the issuer's
// name in records made at export time. Tarn.ini [Emissor] Nom and NIF.
struct SubmissionIssuer {
  std::string name;   // code page 850, trimmed
  std::string taxId;  // PlainTaxId of the NIF: 9 characters for a valid document
};

// The agency takes at most this many records in one document.
inline constexpr size_t kRecordsPerDocument = 1000;

// Whether some entry of chain in range has no kept XML, so that its record
// is made now and the software's identity and installation number are needed.
[[nodiscard]] bool NeedsRecordXml(const std::vector<RegisterEntry>& chain, const DateRange& range);

// The submission documents (UTF-8) of the entries of chain (the whole
// register in chain order) whose date lies in range, in chain order,
// kRecordsPerDocument to a document: none when no entry is in range. Each
// entry goes as the XML kept with it, byte for byte; an entry without one
// (made by the module's first version) gets its record made now by
// RegistroAltaXml, chained to the entry before it in chain, with the
// issuer's name, software and installationNumber. refusedOut: -1, or the
// index in chain of the first entry whose record cannot be made (a
// recipient the agency cannot identify), and then there are no documents.
[[nodiscard]] std::vector<std::string> SubmissionDocuments(const std::vector<RegisterEntry>& chain,
                                                           const DateRange& range, const SubmissionIssuer& issuer,
                                                           const SoftwareIdentity& software,
                                                           const std::string& installationNumber,
                                                           int64_t& refusedOut);

// The file name of part (from 1) of count documents: path itself for one
// document, otherwise "-<part>" before the extension of the last
// component ("out.xml" -> "out-2.xml", "out" -> "out-2").
[[nodiscard]] std::string DocumentPartPath(const std::string& path, size_t part, size_t count);

// The spool file of one invoice out of an archived run's spool file (lines
// ended by CR LF): the lines before the first "PAGE" line (the device line),
// then page `page` (from 1): its "PAGE" line and the lines up to the next
// one. False (out unchanged) when the spool has no such page.
[[nodiscard]] bool SpoolOfPage(const std::string& spool, int32_t page, std::string& out);

// The line of page `page` in an archived code side file ("<page>\t<text>"
// per line, see zepprint), renumbered as page 1: "1\t<text>\n"; empty when
// that page has none.
[[nodiscard]] std::string CodeLineOfPage(const std::string& codes, int32_t page);
