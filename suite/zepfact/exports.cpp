#include "suite/zepfact/exports.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/csv.h"
#include "base/text.h"

namespace {

constexpr const char* kNamespaceLR =
    "https://www2.agenciatributaria.gob.es/static_files/common/internet/dep/aplicaciones/es/aeat/tike/cont/ws/"
    "SuministroLR.xsd";
constexpr const char* kNamespaceSF =
    "https://www2.agenciatributaria.gob.es/static_files/common/internet/dep/aplicaciones/es/aeat/tike/cont/ws/"
    "SuministroInformacion.xsd";

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
                        std::string_view name, std::string_view total) {
  return FixedWidth(number, kListNumberWidth) + " " + std::string(date) + " " +
         (taxId.size() < kListTaxIdWidth ? FixedWidth(taxId, kListTaxIdWidth) : std::string(taxId)) + " " +
         FixedWidth(name, kListNameWidth) + " " + FixedWidthRight(total, std::max(total.size(), kListTotalWidth));
}

// ---- CSV ----

// A cell of the record's text (code page 850) in UTF-8, an apostrophe in
// front where a spreadsheet would take the text for a formula.
std::string TextCell(std::string_view cp850) {
  const std::string cell = Utf8FromCp858(cp850);
  const bool formula = !cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos;
  return formula ? "'" + cell : cell;
}

// ---- XML ----

// At most max characters of code page 850 text (one byte each).
std::string_view Cut(std::string_view cp850, size_t max) { return cp850.substr(0, max); }

// Elements indented two blanks a level, in the namespace of
// SuministroInformacion.xsd ("sf") unless another prefix is given.
class XmlWriter {
 public:
  explicit XmlWriter(int depth) : depth_(depth) {}
  void Open(std::string_view name, std::string_view prefix = "sf") {
    Indent();
    out_ += '<';
    out_ += Qualified(name, prefix);
    out_ += ">\n";
    ++depth_;
  }
  void Close(std::string_view name, std::string_view prefix = "sf") {
    --depth_;
    Indent();
    out_ += "</";
    out_ += Qualified(name, prefix);
    out_ += ">\n";
  }
  // An element of code page 850 text.
  void Element(std::string_view name, std::string_view cp850) { Utf8Element(name, Utf8FromCp858(cp850)); }
  void Utf8Element(std::string_view name, std::string_view utf8) {
    Indent();
    const std::string qualified = Qualified(name, "sf");
    out_ += '<';
    out_ += qualified;
    out_ += '>';
    out_ += XmlEscaped(utf8);
    out_ += "</";
    out_ += qualified;
    out_ += ">\n";
  }
  std::string Take() { return std::move(out_); }

 private:
  static std::string Qualified(std::string_view name, std::string_view prefix) {
    return std::string(prefix) + ":" + std::string(name);
  }
  void Indent() { out_.append(static_cast<size_t>(depth_) * 2, ' '); }
  std::string out_;
  int depth_;
};

// The invoice's identification as IDFactura and RegistroAnterior start it.
void InvoiceId(XmlWriter& xml, const RegisterEntry& e) {
  xml.Element("IDEmisorFactura", Trim(e.issuerTaxId));
  xml.Element("NumSerieFactura", Trim(PrintedInvoiceNumber(e.series, e.number)));
  xml.Element("FechaExpedicionFactura", AgencyDate(e.date));
}

// The recipient: a Spanish number as NIF; a number with another country's
// letters in front as that country's VAT number; anything else as an
// identification the agency has no census of.
void Recipient(XmlWriter& xml, const RegisterEntry& e) {
  const std::string plain = PlainTaxId(e.recipientTaxId);
  xml.Element("NombreRazon", Cut(e.recipientName, 120));
  if (plain.size() == 9) {
    xml.Element("NIF", plain);
    return;
  }
  xml.Open("IDOtro");
  const bool foreign = plain.size() > 2 && plain[0] >= 'A' && plain[0] <= 'Z' && plain[1] >= 'A' &&
                       plain[1] <= 'Z' && plain.compare(0, 2, "ES") != 0;
  if (foreign) {
    xml.Element("CodigoPais", plain.substr(0, 2));
    xml.Element("IDType", "02");
  } else {
    xml.Element("CodigoPais", "ES");
    xml.Element("IDType", "07");
  }
  xml.Element("ID", Cut(plain, 20));
  xml.Close("IDOtro");
}

void IssueRecord(XmlWriter& xml, const RegisterEntry& e, const RegisterEntry* previous,
                 const SubmissionIssuer& issuer) {
  xml.Open("RegistroFactura", "sfLR");
  xml.Open("RegistroAlta");
  xml.Element("IDVersion", "1.0");
  xml.Open("IDFactura");
  InvoiceId(xml, e);
  xml.Close("IDFactura");
  xml.Element("NombreRazonEmisor", Cut(issuer.name, 120));
  xml.Element("TipoFactura", "F1");
  xml.Utf8Element("DescripcionOperacion", kOperationDescription);
  xml.Open("Destinatarios");
  xml.Open("IDDestinatario");
  Recipient(xml, e);
  xml.Close("IDDestinatario");
  xml.Close("Destinatarios");
  xml.Open("Desglose");
  xml.Open("DetalleDesglose");
  xml.Element("Impuesto", "01");
  xml.Element("ClaveRegimen", "01");
  xml.Element("CalificacionOperacion", "S1");
  xml.Element("TipoImpositivo", AgencyAmount(e.vatRate));
  xml.Element("BaseImponibleOimporteNoSujeto", AgencyAmount(e.base));
  xml.Element("CuotaRepercutida", AgencyAmount(e.vat));
  xml.Close("DetalleDesglose");
  xml.Close("Desglose");
  xml.Element("CuotaTotal", AgencyAmount(e.vat));
  xml.Element("ImporteTotal", AgencyAmount(AgencyInvoiceTotal(e)));
  xml.Open("Encadenamiento");
  if (previous == nullptr) {
    xml.Element("PrimerRegistro", "S");
  } else {
    xml.Open("RegistroAnterior");
    InvoiceId(xml, *previous);
    // The fingerprint this record was hashed with, which the agency
    // recomputes it from.
    xml.Element("Huella", Trim(e.previousFingerprint));
    xml.Close("RegistroAnterior");
  }
  xml.Close("Encadenamiento");
  xml.Open("SistemaInformatico");
  xml.Element("NombreRazon", Cut(issuer.name, 120));
  xml.Element("NIF", issuer.taxId);
  xml.Element("NombreSistemaInformatico", kSystemName);
  xml.Element("IdSistemaInformatico", kSystemId);
  xml.Element("Version", kSystemVersion);
  xml.Element("NumeroInstalacion", kInstallationNumber);
  xml.Element("TipoUsoPosibleSoloVerifactu", "N");
  xml.Element("TipoUsoPosibleMultiOT", "S");
  xml.Element("IndicadorMultiplesOT", "N");
  xml.Close("SistemaInformatico");
  xml.Element("FechaHoraHusoGenRegistro", Trim(e.generatedAt));
  xml.Element("TipoHuella", "01");
  xml.Element("Huella", Trim(e.fingerprint));
  xml.Close("RegistroAlta");
  xml.Close("RegistroFactura", "sfLR");
}

// The XML declaration, the root with both namespaces, and the Cabecera;
// with a requirement reference, the Cabecera of the last document (last)
// or of one before it.
std::string DocumentHead(const SubmissionIssuer& issuer, std::string_view requirement, bool last) {
  XmlWriter xml(1);
  xml.Open("Cabecera", "sfLR");
  xml.Open("ObligadoEmision");
  xml.Element("NombreRazon", Cut(issuer.name, 120));
  xml.Element("NIF", issuer.taxId);
  xml.Close("ObligadoEmision");
  if (!requirement.empty()) {
    xml.Open("RemisionRequerimiento");
    xml.Element("RefRequerimiento", requirement);
    xml.Element("FinRequerimiento", last ? "S" : "N");
    xml.Close("RemisionRequerimiento");
  }
  xml.Close("Cabecera", "sfLR");
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") +
         "<sfLR:RegFactuSistemaFacturacion xmlns:sfLR=\"" + kNamespaceLR + "\"\n    xmlns:sf=\"" + kNamespaceSF +
         "\">\n" + xml.Take();
}

constexpr const char* kDocumentEnd = "</sfLR:RegFactuSistemaFacturacion>\n";

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

std::string ListLine(const RegisterEntry& e) {
  return ListColumns(PrintedInvoiceNumber(e.series, e.number), AgencyDate(e.date), Trim(e.recipientTaxId),
                     e.recipientName, AgencyAmount(e.total));
}

std::string ListHeader(const ListTitles& titles) {
  return ListColumns(titles.number, FixedWidth(titles.date, kListDateWidth), FixedWidth(titles.taxId, kListTaxIdWidth),
                     titles.name, FixedWidthRight(titles.total, kListTotalWidth));
}

std::string CsvText(const std::vector<RegisterEntry>& entries) {
  std::string out = std::string(kCsvHeader) + "\r\n";
  for (const RegisterEntry& e : entries) {
    out += CsvLine({
               TextCell(e.series),
               std::to_string(e.number),
               TextCell(AgencyDate(e.date)),
               TextCell(e.issuerTaxId),
               TextCell(e.recipientTaxId),
               TextCell(e.recipientName),
               AgencyAmount(e.base),
               AgencyAmount(e.vatRate),
               AgencyAmount(e.vat),
               AgencyAmount(e.withholdingRate),
               AgencyAmount(e.withholding),
               AgencyAmount(e.total),
               TextCell(e.generatedAt),
               TextCell(e.previousFingerprint),
               TextCell(e.fingerprint),
           }) +
           "\r\n";
  }
  return out;
}

std::string CsvTotalsText(const std::vector<RegisterEntry>& entries) {
  struct Sums {
    int64_t invoices = 0, base = 0, vat = 0, withholding = 0, total = 0;
  };
  // Series, then year and quarter: "2027-1T" texts sort as dates do.
  std::map<std::pair<std::string, std::string>, Sums> totals;
  for (const RegisterEntry& e : entries) {
    Sums& sums = totals[{e.series, QuarterOf(e.date)}];
    ++sums.invoices;
    sums.base += e.base;
    sums.vat += e.vat;
    sums.withholding += e.withholding;
    sums.total += e.total;
  }
  std::string out = std::string(kCsvTotalsHeader) + "\r\n";
  for (const auto& [key, sums] : totals) {
    out += CsvLine({TextCell(key.first), TextCell(key.second), std::to_string(sums.invoices), AgencyAmount(sums.base),
                    AgencyAmount(sums.vat), AgencyAmount(sums.withholding), AgencyAmount(sums.total)}) +
           "\r\n";
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

bool IsRequirementReference(std::string_view text) {
  if (text.empty() || text.size() > kRequirementReferenceMax) return false;
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

std::vector<std::string> SubmissionDocuments(const std::vector<RegisterEntry>& chain, const Selection& selection,
                                             const SubmissionIssuer& issuer, std::string_view requirement) {
  const size_t selected = static_cast<size_t>(
      std::count_if(chain.begin(), chain.end(), [&](const RegisterEntry& e) { return IsSelected(e, selection); }));
  const size_t count = (selected + kRecordsPerDocument - 1) / kRecordsPerDocument;
  std::vector<std::string> documents;
  std::string document;
  size_t inDocument = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!IsSelected(chain[i], selection)) continue;
    if (inDocument == 0) document = DocumentHead(issuer, requirement, documents.size() + 1 == count);
    XmlWriter xml(1);
    IssueRecord(xml, chain[i], i == 0 ? nullptr : &chain[i - 1], issuer);
    document += xml.Take();
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
