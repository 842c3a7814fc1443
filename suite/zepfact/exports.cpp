#include "suite/zepfact/exports.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/csv.h"
#include "base/text.h"
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

// The entry's date in range: YYYYMMDD texts compare as dates.
bool InRange(const RegisterEntry& entry, const DateRange& range) {
  return (range.from.empty() || entry.date >= range.from) && (range.to.empty() || entry.date <= range.to);
}

// ---- XML ----

// The XML declaration, the root with both namespaces, and the Cabecera
// naming the issuer.
std::string DocumentHead(const SubmissionIssuer& issuer) {
  std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  head += std::string("<sfLR:RegFactuSistemaFacturacion xmlns:sfLR=\"") + AgencyNamespaceLR + "\"\n";
  head += std::string("    xmlns:sf=\"") + AgencyNamespaceSF + "\">\n";
  head += "  <sfLR:Cabecera>\n    <sf:ObligadoEmision>\n";
  head += "      <sf:NombreRazon>" + XmlEscaped(Utf8FromCp858(issuer.name.substr(0, 120))) + "</sf:NombreRazon>\n";
  head += "      <sf:NIF>" + XmlEscaped(issuer.taxId) + "</sf:NIF>\n";
  head += "    </sf:ObligadoEmision>\n  </sfLR:Cabecera>\n";
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

std::vector<RegisterEntry> EntriesInRange(const std::vector<RegisterEntry>& entries, const DateRange& range) {
  std::vector<RegisterEntry> out;
  for (const RegisterEntry& e : entries)
    if (InRange(e, range)) out.push_back(e);
  return out;
}

std::string QuarterOf(const std::string& yyyymmdd) {
  const std::string year = yyyymmdd.substr(0, 4);
  const std::string month = yyyymmdd.size() >= 6 ? yyyymmdd.substr(4, 2) : std::string();
  const int m = month.size() == 2 && AllDigits(month) ? Number(month) : 0;
  const std::string quarter = (m >= 1 && m <= 12) ? std::to_string((m - 1) / 3 + 1) : "?";
  return year + "-" + quarter + "T";
}

std::string ListLine(const RegisterEntry& e) {
  const std::string taxId = Trim(e.recipientTaxId);
  const std::string total = AgencyAmount(e.total);
  return FixedWidth(PrintedInvoiceNumber(e.series, e.number), 13) + " " + AgencyDate(e.date) + " " +
         (taxId.size() < 11 ? FixedWidth(taxId, 11) : taxId) + " " + FixedWidth(e.recipientName, 30) + " " +
         FixedWidthRight(total, std::max<size_t>(total.size(), 11));
}

std::string CsvText(const std::vector<RegisterEntry>& entries) {
  struct Sums {
    int64_t invoices = 0, base = 0, vat = 0, withholding = 0, total = 0;
  };
  // Series, then year and quarter: "2027-1T" texts sort as dates do.
  std::map<std::pair<std::string, std::string>, Sums> totals;
  std::string out = std::string(kCsvHeader) + "\r\n";
  for (const RegisterEntry& e : entries) {
    const std::string fields[] = {
        Utf8FromCp858(e.series),
        std::to_string(e.number),
        AgencyDate(e.date),
        Utf8FromCp858(e.issuerTaxId),
        Utf8FromCp858(e.recipientTaxId),
        Utf8FromCp858(e.recipientName),
        AgencyAmount(e.base),
        AgencyAmount(e.vatRate),
        AgencyAmount(e.vat),
        AgencyAmount(e.withholdingRate),
        AgencyAmount(e.withholding),
        AgencyAmount(e.total),
        Utf8FromCp858(e.generatedAt),
        Utf8FromCp858(e.previousFingerprint),
        Utf8FromCp858(e.fingerprint),
    };
    std::string row;
    for (const std::string& field : fields) {
      if (!row.empty()) row += ',';
      row += CsvField(field);
    }
    out += row + "\r\n";
    Sums& sums = totals[{e.series, QuarterOf(e.date)}];
    ++sums.invoices;
    sums.base += e.base;
    sums.vat += e.vat;
    sums.withholding += e.withholding;
    sums.total += e.total;
  }
  out += "\r\n" + std::string(kCsvTotalsHeader) + "\r\n";
  for (const auto& [key, sums] : totals) {
    out += CsvField(Utf8FromCp858(key.first)) + "," + CsvField(Utf8FromCp858(key.second)) + "," +
           std::to_string(sums.invoices) + "," + AgencyAmount(sums.base) + "," + AgencyAmount(sums.vat) + "," +
           AgencyAmount(sums.withholding) + "," + AgencyAmount(sums.total) + "\r\n";
  }
  return out;
}

std::string PlainTaxId(std::string_view text) {
  std::string plain;
  for (char c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) plain += c;
  }
  if (plain.size() == 11 && plain.compare(0, 2, "ES") == 0) plain.erase(0, 2);
  return plain;
}

bool NeedsRecordXml(const std::vector<RegisterEntry>& chain, const DateRange& range) {
  return std::any_of(chain.begin(), chain.end(),
                     [&](const RegisterEntry& e) { return InRange(e, range) && KeptXml(e).empty(); });
}

std::vector<std::string> SubmissionDocuments(const std::vector<RegisterEntry>& chain, const DateRange& range,
                                             const SubmissionIssuer& issuer, const SoftwareIdentity& software,
                                             const std::string& installationNumber, int64_t& refusedOut) {
  refusedOut = -1;
  std::vector<std::string> documents;
  std::string document;
  size_t inDocument = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!InRange(chain[i], range)) continue;
    std::string record = KeptXml(chain[i]);
    if (record.empty()) {
      record = RegistroAltaXml(chain[i], i == 0 ? nullptr : &chain[i - 1], issuer.name, software,
                               installationNumber);
    }
    if (record.empty()) {
      refusedOut = static_cast<int64_t>(i);
      return {};
    }
    if (inDocument == 0) document = DocumentHead(issuer);
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

bool SpoolOfPage(const std::string& spool, int32_t page, std::string& out) {
  if (page < 1) return false;
  std::string header;
  std::string found;
  int32_t current = 0;
  size_t at = 0;
  while (at < spool.size()) {
    size_t end = spool.find('\n', at);
    end = end == std::string::npos ? spool.size() : end + 1;
    const std::string_view line(spool.data() + at, end - at);
    if (line.substr(0, 4) == "PAGE") ++current;
    if (current == 0) header.append(line);
    else if (current == page) found.append(line);
    else if (current > page) break;
    at = end;
  }
  if (found.empty()) return false;
  out = header + found;
  return true;
}

std::string CodeLineOfPage(const std::string& codes, int32_t page) {
  const std::string prefix = std::to_string(page) + "\t";
  size_t at = 0;
  while (at < codes.size()) {
    size_t end = codes.find('\n', at);
    if (end == std::string::npos) end = codes.size();
    std::string line = codes.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size())
      return "1\t" + line.substr(prefix.size()) + "\n";
    at = end + 1;
  }
  return std::string();
}
