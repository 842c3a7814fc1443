#include "suite/zepfact/exports.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/csv.h"
#include "base/text.h"
#include "register/taxid.h"
#include "register/xml.h"

namespace {

bool AllDigits(std::string_view text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// A YYYYMMDD date in range: such texts compare as dates.
bool InRange(const std::string& yyyymmdd, const DateRange& range) {
  return (range.from.empty() || yyyymmdd >= range.from) && (range.to.empty() || yyyymmdd <= range.to);
}

bool IsSelected(const RegisterEntry& entry, const Selection& selection) {
  if (!InRange(entry.date, selection.issued)) return false;
  if (selection.generated.from.empty() && selection.generated.to.empty()) return true;
  const std::string generated = GenerationDate(entry.generatedAt);
  return !generated.empty() && InRange(generated, selection.generated);
}

// ---- list ----

constexpr size_t kListNumberWidth = 13;
constexpr size_t kListDateWidth = 10;  // DD-MM-YYYY
constexpr size_t kListTaxIdWidth = 11;
constexpr size_t kListNameWidth = 30;
constexpr size_t kListTotalWidth = 11;

// The list's columns: a tax number or total longer than its column pushes
// the rest; the date comes as wide as its column.
std::string ListColumns(std::string_view number, std::string_view date, std::string_view taxId,
                        std::string_view name, std::string_view total, std::string_view state) {
  return FixedWidth(number, kListNumberWidth) + " " + std::string(date) + " " +
         (taxId.size() < kListTaxIdWidth ? FixedWidth(taxId, kListTaxIdWidth) : std::string(taxId)) + " " +
         FixedWidth(name, kListNameWidth) + " " + FixedWidthRight(total, std::max(total.size(), kListTotalWidth)) +
         " " + std::string(state);
}

// ---- CSV ----

// A cell of the record's text (code page 850) in UTF-8, an apostrophe in
// front where a spreadsheet would take the text for a formula.
std::string TextCell(std::string_view cp850) {
  const std::string cell = Utf8FromCp858(cp850);
  const bool formula = !cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos;
  return formula ? "'" + cell : cell;
}

// A cell of UTF-8 text from outside (the agency's words), guarded as
// TextCell guards the record's.
std::string AgencyTextCell(const std::string& utf8) {
  const bool formula = !utf8.empty() && std::string_view("=+-@\t\r").find(utf8[0]) != std::string_view::npos;
  return formula ? "'" + utf8 : utf8;
}

// ---- XML ----

// The XML declaration, the root with both namespaces, and the Cabecera
// naming the issuer; with a requirement reference, the Cabecera of the last
// document (last) or of one before it.
std::string DocumentHead(const SubmissionIssuer& issuer, std::string_view requirement, bool last) {
  std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  head += std::string("<sfLR:RegFactuSistemaFacturacion xmlns:sfLR=\"") + AgencyNamespaceLR + "\"\n";
  head += std::string("    xmlns:sf=\"") + AgencyNamespaceSF + "\">\n";
  head += "  <sfLR:Cabecera>\n    <sf:ObligadoEmision>\n";
  head += "      <sf:NombreRazon>" + XmlEscaped(Utf8FromCp858(issuer.name.substr(0, 120))) + "</sf:NombreRazon>\n";
  head += "      <sf:NIF>" + XmlEscaped(issuer.taxId) + "</sf:NIF>\n";
  head += "    </sf:ObligadoEmision>\n";
  if (!requirement.empty()) {
    head += "    <sf:RemisionRequerimiento>\n";
    head += "      <sf:RefRequerimiento>" + XmlEscaped(requirement) + "</sf:RefRequerimiento>\n";
    head += std::string("      <sf:FinRequerimiento>") + (last ? "S" : "N") + "</sf:FinRequerimiento>\n";
    head += "    </sf:RemisionRequerimiento>\n";
  }
  head += "  </sfLR:Cabecera>\n";
  return head;
}

constexpr const char* kDocumentEnd = "</sfLR:RegFactuSistemaFacturacion>\n";

// The record's XML as the register made it; records made by the module's
// first version were kept without one.
const std::string& KeptXml(const RegisterEntry& entry) { return entry.xml; }

}  // namespace

bool ParseCommandDate(std::string_view text, std::string& yyyymmddOut) {
  if (text.size() != 10) return false;
  std::string_view year, month, day;
  if ((text[2] == '-' && text[5] == '-') || (text[2] == '/' && text[5] == '/')) {
    day = text.substr(0, 2);
    month = text.substr(3, 2);
    year = text.substr(6, 4);
  } else if (text[4] == '-' && text[7] == '-') {
    year = text.substr(0, 4);
    month = text.substr(5, 2);
    day = text.substr(8, 2);
  } else {
    return false;
  }
  if (!AllDigits(year) || !AllDigits(month) || !AllDigits(day)) return false;
  const int y = Number(year);
  const int m = Number(month);
  const int d = Number(day);
  if (y < 1 || d < 1 || d > DaysInMonth(y, m)) return false;
  yyyymmddOut = std::string(year) + std::string(month) + std::string(day);
  return true;
}

std::string GenerationDate(std::string_view generatedAt) {
  if (generatedAt.size() < 10 || generatedAt[4] != '-' || generatedAt[7] != '-') return std::string();
  const std::string_view year = generatedAt.substr(0, 4);
  const std::string_view month = generatedAt.substr(5, 2);
  const std::string_view day = generatedAt.substr(8, 2);
  if (!AllDigits(year) || !AllDigits(month) || !AllDigits(day)) return std::string();
  return std::string(year) + std::string(month) + std::string(day);
}

std::vector<RegisterEntry> SelectedEntries(const std::vector<RegisterEntry>& entries, const Selection& selection) {
  std::vector<RegisterEntry> out;
  for (const RegisterEntry& e : entries)
    if (IsSelected(e, selection)) out.push_back(e);
  return out;
}

std::string QuarterOf(const std::string& yyyymmdd) {
  const std::string year = yyyymmdd.substr(0, 4);
  const std::string month = yyyymmdd.size() >= 6 ? yyyymmdd.substr(4, 2) : std::string();
  const int m = month.size() == 2 && AllDigits(month) ? Number(month) : 0;
  const std::string quarter = (m >= 1 && m <= 12) ? std::to_string((m - 1) / 3 + 1) : "?";
  return year + "-" + quarter + "T";
}

std::string ListLine(const RegisterEntry& e, const std::string& state) {
  return ListColumns(PrintedInvoiceNumber(e.series, e.number), AgencyDate(e.date), Trim(e.recipientTaxId),
                     e.recipientName, AgencyAmount(e.total), state);
}

std::string ListHeader(const ListTitles& titles) {
  return ListColumns(titles.number, FixedWidth(titles.date, kListDateWidth), FixedWidth(titles.taxId, kListTaxIdWidth),
                     titles.name, FixedWidthRight(titles.total, kListTotalWidth), titles.state);
}

std::string CsvText(const std::vector<RegisterEntry>& entries, const std::vector<SendingCells>* sending) {
  std::string out = std::string(kCsvHeader);
  if (sending != nullptr) out += kCsvSendingHeader;
  out += "\r\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    const RegisterEntry& e = entries[i];
    const bool cancellation = e.IsCancellation();
    auto amount = [cancellation](int64_t cents) { return cancellation ? std::string() : AgencyAmount(cents); };
    const bool corrective = e.IsCorrective();
    std::vector<std::string> cells = {
               TextCell(e.IdentitySeries()),
               std::to_string(e.IdentityNumber()),
               TextCell(AgencyDate(e.IdentityDate())),
               TextCell(e.issuerTaxId),
               TextCell(e.recipientTaxId),
               TextCell(e.recipientName),
               amount(e.base),
               amount(e.vatRate),
               amount(e.vat),
               amount(e.withholdingRate),
               amount(e.withholding),
               amount(e.total),
               TextCell(e.generatedAt),
               TextCell(e.previousFingerprint),
               TextCell(e.fingerprint),
               cancellation ? "cancellation" : e.AgencyInvoiceType(),
               corrective ? std::string(1, e.correctionForm == 'S' ? 'S' : 'I') : std::string(),
               corrective ? TextCell(PrintedInvoiceNumber(e.refSeries, e.refNumber)) : std::string(),
               corrective ? TextCell(AgencyDate(e.refDate)) : std::string(),
    };
    if (sending != nullptr && i < sending->size()) {
      const SendingCells& s = (*sending)[i];
      cells.push_back(s.state);
      cells.push_back(AgencyTextCell(s.csv));
      cells.push_back(s.errorCode != 0 ? std::to_string(s.errorCode) : std::string());
      cells.push_back(AgencyTextCell(s.errorText));
    }
    out += CsvLine(cells) + "\r\n";
  }
  return out;
}

std::string CsvTotalsText(const std::vector<RegisterEntry>& entries) {
  struct Sums {
    int64_t invoices = 0, base = 0, vat = 0, withholding = 0, total = 0;
  };
  // Series, then year and quarter: "2027-1T" texts sort as dates do.
  std::map<std::pair<std::string, std::string>, Sums> totals;
  // A cancelled invoice was never validly issued: it is not summed.
  std::set<std::pair<std::string, int32_t>> cancelled;
  for (const RegisterEntry& e : entries)
    if (e.IsCancellation()) cancelled.insert({e.refSeries, e.refNumber});
  // What each invoice amounts to so far, in chain order: a substitution
  // replaces it, a correction by differences moves it.
  std::map<std::pair<std::string, int32_t>, Sums> standing;
  for (const RegisterEntry& e : entries) {
    // A correction record repeats an invoice already counted.
    if (e.kind == RegisterKindCorrection) continue;
    if (e.IsCancellation() || cancelled.count({e.series, e.number}) != 0) continue;
    Sums amounts{1, e.base, e.vat, e.withholding, e.total};
    if (e.IsCorrective()) {
      const auto corrected = standing.find({e.refSeries, e.refNumber});
      if (e.correctionForm == 'S') {
        // A substitution counts only what it changes: the invoice it
        // replaces stays counted where it was issued. Its amounts are the
        // record's; one outside entries is taken from the record's own
        // reference (its withholding at the same rate).
        Sums replaced{0, e.refBase, e.refVat, 0, 0};
        if (corrected != standing.end()) {
          replaced = corrected->second;
        } else {
          replaced.withholding = static_cast<int64_t>(std::llround(static_cast<double>(e.refBase) * e.withholdingRate / 10000.0));
          replaced.total = replaced.base + replaced.vat - replaced.withholding;
        }
        if (corrected != standing.end()) corrected->second = Sums{0, e.base, e.vat, e.withholding, e.total};
        amounts = Sums{1, e.base - replaced.base, e.vat - replaced.vat, e.withholding - replaced.withholding,
                       e.total - replaced.total};
      } else if (corrected != standing.end()) {
        corrected->second.base += e.base;
        corrected->second.vat += e.vat;
        corrected->second.withholding += e.withholding;
        corrected->second.total += e.total;
      }
    } else {
      standing[{e.series, e.number}] = Sums{0, e.base, e.vat, e.withholding, e.total};
    }
    Sums& sums = totals[{e.series, QuarterOf(e.date)}];
    sums.invoices += amounts.invoices;
    sums.base += amounts.base;
    sums.vat += amounts.vat;
    sums.withholding += amounts.withholding;
    sums.total += amounts.total;
  }
  std::string out = std::string(kCsvTotalsHeader) + "\r\n";
  for (const auto& [key, sums] : totals) {
    out += CsvLine({TextCell(key.first), TextCell(key.second), std::to_string(sums.invoices), AgencyAmount(sums.base),
                    AgencyAmount(sums.vat), AgencyAmount(sums.withholding), AgencyAmount(sums.total)}) +
           "\r\n";
  }
  return out;
}

bool NeedsRecordXml(const std::vector<RegisterEntry>& chain, const Selection& selection) {
  return std::any_of(chain.begin(), chain.end(),
                     [&](const RegisterEntry& e) { return IsSelected(e, selection) && KeptXml(e).empty(); });
}

bool IsRequirementReference(std::string_view text) {
  if (text.empty() || text.size() > kRequirementReferenceMax) return false;
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

std::vector<std::string> SubmissionDocuments(const std::vector<RegisterEntry>& chain, const Selection& selection,
                                             const SubmissionIssuer& issuer, const SoftwareIdentity& software,
                                             const std::string& installationNumber, std::string_view requirement,
                                             int64_t& refusedOut) {
  refusedOut = -1;
  // An entry kept without its XML whose recipient no record can name is
  // left out; the rest go.
  const auto leftOut = [](const RegisterEntry& e) {
    return !e.IsCancellation() && !ClassifyRecipientTaxId(e.recipientTaxId).Usable() && KeptXml(e).empty();
  };
  size_t selected = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!IsSelected(chain[i], selection)) continue;
    if (!leftOut(chain[i])) {
      ++selected;
    } else if (refusedOut < 0) {
      refusedOut = static_cast<int64_t>(i);
    }
  }
  const size_t count = (selected + kRecordsPerDocument - 1) / kRecordsPerDocument;
  std::vector<std::string> documents;
  std::string document;
  size_t inDocument = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!IsSelected(chain[i], selection) || leftOut(chain[i])) continue;
    std::string record = KeptXml(chain[i]);
    if (record.empty())
      record = RecordXml(chain[i], i == 0 ? nullptr : &chain[i - 1], issuer.name, software, installationNumber);
    if (inDocument == 0) document = DocumentHead(issuer, requirement, documents.size() + 1 == count);
    document += "  <sfLR:RegistroFactura>\n" + record + "  </sfLR:RegistroFactura>\n";
    if (++inDocument == kRecordsPerDocument) {
      documents.push_back(document + kDocumentEnd);
      inDocument = 0;
    }
  }
  if (inDocument > 0) documents.push_back(document + kDocumentEnd);
  return documents;
}

std::string DocumentPartPath(const std::string& path, size_t part, size_t count) {
  if (count <= 1) return path;
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= nameStart) dot = path.size();
  return path.substr(0, dot) + "-" + std::to_string(part) + path.substr(dot);
}

