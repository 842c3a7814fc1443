// The production pass over a small office: hand-computed invoices, compared
// as whole spool files or as per-page summaries (number, property, total and
// every detail line with its amount).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "base/text.h"
#include "formatting/dates.h"
#include "formatting/picture.h"
#include "formatting/settings.h"
#include "invoicing/figures.h"
#include "invoicing/production.h"
#include "printing/spool.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"
#include "session/session.h"
#include "tests/invoicing/office.h"

namespace {

std::string Pad(const std::string& text, size_t width) {
  std::string out = text;
  out.resize(width, ' ');
  return out;
}

void SetIssuer(const std::string& taxNumber, const std::string& alternativeName = "") {
  for (auto& item : IssuerDetails) item = Pad("", 35);
  IssuerDetails[IssuerItem::Name] = Pad("ADMINISTRACIONS PUIG", 35);
  IssuerDetails[IssuerItem::AlternativeName] = Pad(alternativeName, 35);
  IssuerDetails[IssuerItem::TaxNumber] = Pad(taxNumber, 35);
  IssuerDetails[IssuerItem::Place] = Pad("Girona", 35);
}

void SetTaxClasses() {
  TaxClasses[0] = TaxClass{"IVA", 16.0f, 16.0f, 15.0f, "A"};
  TaxClasses[1] = TaxClass{"IVA RED", 7.0f, 0.0f, 15.0f, ""};
}

// The office every scenario runs on.
const std::vector<TestProperty>& Properties() {
  static const std::vector<TestProperty> properties = {
      {"001", "EDIFICI SOL", 5.0f, 2500, 0, "20240229", 1000, {"001", "002"}},
      {"002", "CASA QUARTER", 4.0f, 0, 3, "", 0, {"001"}},
      {"003", "TORRE ANY", 10.0f, 0, 12, "", 0, {"001"}},
      {"004", "PIS TALL", 5.0f, 0, 1, "20240315", 1000, {}},
      {"005", "LOCAL FIX", 0.0f, 300, 1, "", 5000, {}},
      {"006", "BUIT", 0.0f, 700, 1, "", 0, {}},
      {"007", "MIG A", 5.0f, 0, 1, "", 0, {"001", "003"}},
      {"008", "MIG B", 5.0f, 0, 1, "", 0, {"001"}},
      {"009", "RED A", 0.0f, 0, 1, "", 150, {}},
      {"010", "RED B", 0.0f, 0, 1, "", 50, {}},
  };
  return properties;
}

const std::vector<TestReceipt>& Receipts() {
  static const std::vector<TestReceipt> receipts = {
      {"001", "001", "20240115", 'C', 'P', 10000, 0, 0},
      {"001", "001", "20240331", 'I', 'P', 20000, 1000, 500},
      {"001", "001", "20240401", 'C', 'P', 50000, 0, 0},
      {"001", "001", "20240210", 'X', 'P', 7000, 0, 0},
      {"001", "001", "20240211", 'C', 'N', 8000, 0, 0},
      {"001", "001", "20240212", 'c', 'P', 900, 0, 0},
      {"001", "001", "20240213", 'I', 'p', 800, 0, 0},
      {"001", "002", "20231201", 'C', 'P', 30000, 0, 0},
      {"002", "001", "20240105", 'C', 'P', 100000, 0, 0},
      {"002", "001", "20240610", 'C', 'P', 100000, 0, 0},
      {"003", "001", "20230601", 'C', 'P', 12560, 0, 0},
      {"007", "001", "20240101", 'C', 'P', 1010, 0, 0},
      {"007", "002", "20240102", 'C', 'P', 40000, 0, 0},  // of no unit: never counts
      {"008", "001", "20240101", 'C', 'P', 1030, 0, 0},
  };
  return receipts;
}

const std::vector<TestOwner>& Owners() {
  static const std::vector<TestOwner> owners = {
      {"0001", "GARCIA*JOAN", "C. MAJOR 1", "17001 GIRONA", "GIRONA", "ESB12345678",
       {{1, "001", 0}, {2, "001", 0}, {5, "002", 0}, {20, "003", 0}}},
      {"0002", "FONT*MARIA", "PL. NOVA 2", "08001 BARCELONA", "BARCELONA", "ES41234567X",
       {{1, "001", 1}, {2, "005", 0}, {3, "006", 0}, {4, "004", 0}}},
      {"0003", "BUIDA*ANNA", "", "", "", "ESA0000000", {}},
      {"0004", "SOLER*PERE", "", "", "", "ESW7654321",
       {{1, "007", 7}, {2, "007", 0}, {3, "008", 0}, {4, "009", 1}, {5, "010", 1}}},
      {"0005", "ROCA*LLUIS", "", "", "", "ESX1111111", {{1, "005", 0}, {2, "012", 0}, {3, "012", 0}}},
  };
  return owners;
}

std::string Trim(const std::string& text) {
  size_t a = text.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  size_t b = text.find_last_not_of(' ');
  return text.substr(a, b - a + 1);
}

struct Item {
  int column;
  std::string text;
};

// A text item line " 17 ,text, 0 "; column -1 for any other command.
Item ParseItem(const std::string& line) {
  size_t first = line.find(',');
  size_t last = line.rfind(',');
  if (first == std::string::npos || first == last) return {-1, line};
  return {std::atoi(line.substr(0, first).c_str()), line.substr(first + 1, last - first - 1)};
}

// One summary line per page: "number property total; detail=amount; ...".
std::vector<std::string> PageSummaries(const std::string& spool) {
  struct Page {
    std::string number, property, total, details;
  };
  std::vector<Page> pages;
  std::string pendingDetail;
  for (const std::string& line : SpoolLines(spool)) {
    if (line.rfind("PAGE", 0) == 0) {
      pages.emplace_back();
      continue;
    }
    if (pages.empty()) continue;
    Item item = ParseItem(line);
    Page& page = pages.back();
    switch (item.column) {
      case 17:
        if (page.number.empty()) page.number = item.text;
        break;
      case 92: page.property = item.text; break;
      case 67: page.total = item.text; break;
      case 22: pendingDetail = Trim(item.text); break;
      case 66: page.details += "; " + pendingDetail + "=" + Trim(item.text); break;
      default: break;
    }
  }
  std::vector<std::string> out;
  for (const Page& p : pages) out.push_back(p.number + " " + p.property + " " + p.total + p.details);
  return out;
}

struct Scenario {
  const char* name;
  const char* issuerTaxNumber;
  const char* date;
  const char* fromOwner;
  const char* toOwner;
  const char* fromProperty;
  const char* toProperty;
  const char* number;
  std::vector<std::string> pages;
};

TEST(ProduceInvoices, ScenariosGiveTheHandComputedInvoices) {
  const std::string march1 =
      "A/00000001 001V *****65'40 EUR; HONORARIS ADMINISTRACI\xe0=39'75; SUPLERTS=25'00; "
      "IVA 16'00 % s/64'75=10'36; RETENCI\xe0 HONORARIS 15'00 % s/64'75=9'71";
  const std::vector<Scenario> scenarios = {
      {"whole office in March", "ES12345678Z", "31/03/2024", "1", "9999", "1", "999", "",
       {march1,
        "A/00000002 001V *****65'40 EUR; HONORARIS ADMINISTRACI\xe0=39'75; SUPLERTS=25'00; "
        "IVA 16'00 % s/64'75=10'36; RETENCI\xe0 HONORARIS 15'00 % s/64'75=9'71",
        "A/00000003 002V *****40'40 EUR; HONORARIS ADMINISTRACI\xe0=40'00; IVA 16'00 % s/40'00=6'40; "
        "RETENCI\xe0 HONORARIS 15'00 % s/40'00=6'00",
        "00000004 001V *****42'53 EUR; HONORARIS ADMINISTRACI\xe0=39'75; IVA RED 7'00 % s/39'75=2'78",
        "A/00000005 005V *****61'48 EUR; HONORARIS ADMINISTRACI\xe0=50'00; SUPLERTS=3'00; "
        "IVA 16'00 % s/53'00=8'48",
        "A/00000006 007V ******0'50 EUR; HONORARIS ADMINISTRACI\xe0=0'50; IVA 16'00 % s/0'50=0'08; "
        "RETENCI\xe0 HONORARIS 15'00 % s/0'50=0'08",
        "A/00000007 008V ******0'52 EUR; HONORARIS ADMINISTRACI\xe0=0'52; IVA 16'00 % s/0'52=0'08; "
        "RETENCI\xe0 HONORARIS 15'00 % s/0'52=0'08",
        "00000008 009V ******1'38 EUR; HONORARIS ADMINISTRACI\xe0=1'50; IVA RED 7'00 % s/1'50=0'10; "
        "RETENCI\xe0 HONORARIS 15'00 % s/1'50=0'22",
        "00000009 010V ******0'46 EUR; HONORARIS ADMINISTRACI\xe0=0'50; IVA RED 7'00 % s/0'50=0'04; "
        "RETENCI\xe0 HONORARIS 15'00 % s/0'50=0'08",
        "A/00000010 005V *****61'48 EUR; HONORARIS ADMINISTRACI\xe0=50'00; SUPLERTS=3'00; "
        "IVA 16'00 % s/53'00=8'48"}},
      {"yearly property in December, 1256 cents at 16 %", "ES12345678Z", "31/12/2024", "1", "1", "3", "3",
       "0",
       {"A/00000001 003V *****12'69 EUR; HONORARIS ADMINISTRACI\xe0=12'56; IVA 16'00 % s/12'56=2'01; "
        "RETENCI\xe0 HONORARIS 15'00 % s/12'56=1'88"}},
      {"yearly property outside December", "ES12345678Z", "30/11/2024", "1", "1", "3", "3", "1", {}},
      {"quarterly property in June", "ES12345678Z", "30/06/2024", "1", "1", "2", "2", "100",
       {"A/00000100 002V *****80'80 EUR; HONORARIS ADMINISTRACI\xe0=80'00; IVA 16'00 % s/80'00=12'80; "
        "RETENCI\xe0 HONORARIS 15'00 % s/80'00=12'00"}},
      {"quarterly property in May", "ES12345678Z", "31/05/2024", "1", "9999", "2", "2", "1", {}},
      {"cut-off in the invoice month", "ES12345678Z", "31/03/2024", "2", "2", "4", "4", "1", {}},
      {"cut-off in the month before", "ES12345678Z", "30/04/2024", "2", "2", "4", "4", "1",
       {"A/00000001 004V *****11'60 EUR; HONORARIS ADMINISTRACI\xe0=10'00; IVA 16'00 % s/10'00=1'60"}},
      {"receipt on the day after counts from that day", "ES12345678Z", "01/04/2024", "1", "1", "1", "1", "1",
       {"A/00000001 001V *****90'65 EUR; HONORARIS ADMINISTRACI\xe0=64'75; SUPLERTS=25'00; "
        "IVA 16'00 % s/89'75=14'36; RETENCI\xe0 HONORARIS 15'00 % s/89'75=13'46",
        "A/00000002 001V *****90'65 EUR; HONORARIS ADMINISTRACI\xe0=64'75; SUPLERTS=25'00; "
        "IVA 16'00 % s/89'75=14'36; RETENCI\xe0 HONORARIS 15'00 % s/89'75=13'46"}},
      {"receipt on the invoice date counts, not the day before", "ES12345678Z", "30/03/2024", "1", "1", "1",
       "1", "41",
       {"A/00000041 001V *****55'55 EUR; HONORARIS ADMINISTRACI\xe0=30'00; SUPLERTS=25'00; "
        "IVA 16'00 % s/55'00=8'80; RETENCI\xe0 HONORARIS 15'00 % s/55'00=8'25",
        "A/00000042 001V *****55'55 EUR; HONORARIS ADMINISTRACI\xe0=30'00; SUPLERTS=25'00; "
        "IVA 16'00 % s/55'00=8'80; RETENCI\xe0 HONORARIS 15'00 % s/55'00=8'25"}},
      {"issuer after W withholds from a legal entity", "ESX1234567L", "31/03/2024", "4", "4", "9", "9", "1",
       {"00000001 009V ******1'38 EUR; HONORARIS ADMINISTRACI\xe0=1'50; IVA RED 7'00 % s/1'50=0'10; "
        "RETENCI\xe0 HONORARIS 15'00 % s/1'50=0'22"}},
      {"legal-entity issuer never withholds", "ESB1234567", "31/03/2024", "4", "4", "9", "9", "1",
       {"00000001 009V ******1'60 EUR; HONORARIS ADMINISTRACI\xe0=1'50; IVA RED 7'00 % s/1'50=0'10"}},
      {"fixed fee property linked to two owners", "ES12345678Z", "31/03/2024", "1", "9999", "5", "5", "1",
       {"A/00000001 005V *****61'48 EUR; HONORARIS ADMINISTRACI\xe0=50'00; SUPLERTS=3'00; "
        "IVA 16'00 % s/53'00=8'48",
        "A/00000002 005V *****61'48 EUR; HONORARIS ADMINISTRACI\xe0=50'00; SUPLERTS=3'00; "
        "IVA 16'00 % s/53'00=8'48"}},
      {"owner with all links empty", "ES12345678Z", "31/03/2024", "3", "3", "1", "999", "1", {}},
      {"owner range past the last owner", "ES12345678Z", "31/03/2024", "6", "9999", "1", "999", "1", {}},
      {"property range holding no linked property", "ES12345678Z", "31/03/2024", "1", "9999", "11", "999",
       "1", {}},
      {"codes typed with blanks", "ES12345678Z", "31/03/2024", "  2", "   2", "  5", "  5", "   7",
       {"A/00000007 005V *****61'48 EUR; HONORARIS ADMINISTRACI\xe0=50'00; SUPLERTS=3'00; "
        "IVA 16'00 % s/53'00=8'48"}},
      {"number past eight digits keeps the last eight", "ES12345678Z", "31/03/2024", "1", "1", "1", "1",
       "99999999",
       {"A/99999999 001V *****65'40 EUR; HONORARIS ADMINISTRACI\xe0=39'75; SUPLERTS=25'00; "
        "IVA 16'00 % s/64'75=10'36; RETENCI\xe0 HONORARIS 15'00 % s/64'75=9'71",
        "A/00000000 001V *****65'40 EUR; HONORARIS ADMINISTRACI\xe0=39'75; SUPLERTS=25'00; "
        "IVA 16'00 % s/64'75=10'36; RETENCI\xe0 HONORARIS 15'00 % s/64'75=9'71"}},
  };

  TestOffice office;
  SetTaxClasses();
  ASSERT_TRUE(office.Build(Owners(), Properties(), Receipts()));
  SetCurrency("p");
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    SetIssuer(s.issuerTaxNumber);
    InvoiceParameters p =
        InvoiceParametersFromTexts(s.date, s.fromOwner, s.toOwner, s.fromProperty, s.toProperty, s.number);
    int32_t first = p.NextInvoiceNumber;
    ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
    EXPECT_EQ(ProduceInvoices(p), ProductionDone);
    EXPECT_EQ(ClosePrintFile(), PrintFileOk);
    std::vector<std::string> pages = PageSummaries(office.SpoolText());
    EXPECT_EQ(pages, s.pages);
    EXPECT_EQ(p.NextInvoiceNumber, first + static_cast<int32_t>(s.pages.size()));
  }
}

// Whole spool files, byte for byte: every command, column, advance, blank
// and CR LF of a page, in Catalan and, through a language file, in Spanish.
TEST(ProduceInvoices, PagesAreWrittenLineForLine) {
  // Owner 1's two links to property 1: fees, expenses, VAT and withholding.
  auto catalanPage = [](const std::string& number) {
    return std::vector<std::string>{
        "PAGE 24 ", "*@e", " 9 ,FACTURA, 0 ", " 17 ," + number + ", 0 ", " 32 ,GIRONA, 0 ", "JUSD",
        " 67 ,*****65'40 EUR, 0 ", " 91 ,FINCA, 1 ", " 92 ,001V, 1 ", " 17 ,31 DE MAR\x80 DEL 2024, 3 ",
        " 22 ,HONORARIS ADMINISTRACI\xe0, 0 ", "JUSD", " 66 ,        39'75 , 1 ", " 22 ,SUPLERTS, 0 ", "JUSD",
        " 66 ,        25'00 , 1 ", " 22 ,IVA 16'00 % s/64'75 , 0 ", " 66 ,        10'36 , 1 ",
        " 22 ,RETENCI\xe0 HONORARIS 15'00 % s/64'75 , 0 ", "JUSD", " 66 ,         9'71 , 1 ", " 0 ,, 2 ",
        " 17 ," + Pad("EDIFICI SOL", 50) + ", 2 ", "JUSD", " 32 ,N.I.F. ESB12345678      , 1 ",
        " 17 ,JOAN GARCIA, 1 ", " 17 ," + Pad("C. MAJOR 1", 30) + ", 1 ", " 17 ," + Pad("17001 GIRONA", 30) + ", 1 ",
        " 17 ," + Pad("GIRONA", 30) + ", 0 ", " 61 ," + Pad("ADMINISTRACIONS PUIG", 35) + ", 1 ",
        " 61 ,N.I.F. ES12345678Z, 1 "};
  };
  std::vector<std::string> catalan = {"DEVICEPDF"};
  for (const char* number : {"A/00000007", "A/00000008"}) {
    std::vector<std::string> page = catalanPage(number);
    catalan.insert(catalan.end(), page.begin(), page.end());
  }
  // Owner 2's fixed-fee property: no withholding, the alternative issuer name.
  const std::vector<std::string> spanish = {
      "DEVICEPDF", "PAGE 24 ", "*@e", " 9 ,FACTURA, 0 ", " 17 ,A/00000001, 0 ", " 32 ,GIRONA, 0 ", "JUSD",
      " 67 ,*****61'48 EUR, 0 ", " 91 ,FINCA, 1 ", " 92 ,005V, 1 ", " 17 ,31 DE MARZO DE 2024, 3 ",
      " 22 ,HONORARIOS ADMINISTRACI\xe0N, 0 ", "JUSD", " 66 ,        50'00 , 1 ", " 22 ,SUPLIDOS, 0 ", "JUSD",
      " 66 ,         3'00 , 1 ", " 22 ,IVA 16'00 % s/53'00 , 0 ", " 66 ,         8'48 , 1 ", " 0 ,, 3 ",
      " 17 ," + Pad("LOCAL FIX", 50) + ", 2 ", "JUSD", " 32 ,N.I.F. ES41234567X      , 1 ", " 17 ,MARIA FONT, 1 ",
      " 17 ," + Pad("PL. NOVA 2", 30) + ", 1 ", " 17 ," + Pad("08001 BARCELONA", 30) + ", 1 ",
      " 17 ," + Pad("BARCELONA", 30) + ", 0 ", " 61 ," + Pad("PUIG I FILLS", 35) + ", 1 ",
      " 61 ,N.I.F. ES12345678Z, 1 "};

  struct Row {
    const char* language;
    const char* alternativeName;
    const char* owner;
    const char* property;
    const char* number;
    const std::vector<std::string>* lines;
  };
  const Row rows[] = {{"CAT", "", "1", "1", "7", &catalan}, {"SPA", "PUIG I FILLS", "2", "5", "1", &spanish}};

  TestOffice office;
  SetTaxClasses();
  std::filesystem::create_directories(office.Root() + "LOCALE");
  std::ofstream(office.Root() + "LOCALE/KORVADEL.LNG", std::ios::binary)
      << "FACTURA,FACTURA,FACTURA,FACTURA\r\n"
         "FINCA,FINCA,FINCA,FINCA\r\n"
         "HONORARIS ADMINISTRACI\xe0,HONORARIOS ADMINISTRACI\xe0N,HONORARIS ADMINISTRACION,"
         "HONORARIOS ADMINISTRACI\xe0N\r\n"
         "SUPLERTS,SUPLIDOS,SUPLITS,SUPLIDOS\r\n";
  ASSERT_TRUE(office.Build(Owners(), Properties(), Receipts()));
  SetCurrency("p");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.language);
    Session.Language = r.language;
    FormatSettings formatting;
    formatting.language = LanguageFromCode(r.language);
    SetFormatSettings(formatting);
    SetIssuer("ES12345678Z", r.alternativeName);
    InvoiceParameters p = InvoiceParametersFromTexts("31/03/2024", r.owner, r.owner, r.property, r.property, r.number);
    ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
    ASSERT_EQ(ProduceInvoices(p), ProductionDone);
    ClosePrintFile();
    EXPECT_EQ(SpoolLines(office.SpoolText()), *r.lines);
    std::string joined;
    for (const std::string& l : *r.lines) joined += l + "\r\n";
    EXPECT_EQ(office.SpoolText(), joined);
  }
}

TEST(ProduceInvoices, SpoolFailureStopsThePass) {
  TestOffice office;
  SetTaxClasses();
  SetIssuer("ES12345678Z");
  // One owner with twenty links to the fixed-fee property: twenty pages,
  // far more than one write buffer.
  TestOwner many{"0001", "MOLTS*ENLLACOS", "", "", "", "ESB1", {}};
  for (int slot = 1; slot <= 20; ++slot) many.links.push_back({slot, "005", 0});
  ASSERT_TRUE(office.Build({many}, Properties(), {}));
  SetCurrency("p");

  struct Case {
    const char* name;
    std::string tempDir;
    bool linkToFull;
  };
  const Case cases[] = {
      {"directory missing", office.Root() + "no-such-dir/", false},
      {"device full", office.Root(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetSpoolSettings({c.tempDir, "", Language::Catalan});
    std::filesystem::remove(office.Root() + "zepprint.tmp");
    if (c.linkToFull) std::filesystem::create_symlink("/dev/full", office.Root() + "zepprint.tmp");
    OpenPrintFile("PDF");
    InvoiceParameters p = InvoiceParametersFromTexts("31/03/2024", "1", "1", "1", "999", "1");
    EXPECT_EQ(ProduceInvoices(p), ProductionSpoolFailed);
    EXPECT_LT(p.NextInvoiceNumber, 21) << "the pass went on after the failure";
    EXPECT_NE(ClosePrintFile(), PrintFileOk);
    std::filesystem::remove(office.Root() + "zepprint.tmp");
  }
}

// What the pass hands over per page matches the page: whole March office
// (series and none, withholding and none), and the spool is the same as
// without the hand-over.
TEST(ProduceInvoices, HandsOverEachPagesFigures) {
  TestOffice office;
  SetTaxClasses();
  SetIssuer("ES12345678Z");
  ASSERT_TRUE(office.Build(Owners(), Properties(), Receipts()));
  SetCurrency("p");
  std::string withoutSink;
  std::vector<std::string> seen;
  for (bool sink : {false, true}) {
    InvoiceParameters p = InvoiceParametersFromTexts("31/03/2024", "1", "2", "1", "999", "1");
    ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
    IssuedSink issued = [&seen](const IssuedInvoice& i) {
      seen.push_back(std::to_string(i.page) + " " + i.series + std::to_string(i.number) + " " +
                     KeyDigits(i.ownerCode) + "/" + KeyDigits(i.propertyCode) + " c" + std::to_string(i.taxClass) +
                     " " + i.recipientTaxId + " " + i.recipientName + " " + std::to_string(int(i.base)) + "+" +
                     std::to_string(int(i.vat)) + "@" + std::to_string(i.vatRate) + "-" +
                     std::to_string(int(i.withholding)) + "@" + std::to_string(i.withholdingRate) + "=" +
                     std::to_string(int(i.total)) + " " + KeyDigits(i.invoiceDate));
    };
    EXPECT_EQ(ProduceInvoices(p, sink ? issued : IssuedSink{}), ProductionDone);
    ASSERT_EQ(ClosePrintFile(), PrintFileOk);
    if (!sink) withoutSink = office.SpoolText();
    else EXPECT_EQ(office.SpoolText(), withoutSink);
  }
  const std::vector<std::string> expected = {
      "1 A1 0001/0001 c0 ESB12345678 JOAN GARCIA 6475+1036@16.000000-971@15.000000=6540 20240331",
      "2 A2 0001/0001 c0 ESB12345678 JOAN GARCIA 6475+1036@16.000000-971@15.000000=6540 20240331",
      "3 A3 0001/0002 c0 ESB12345678 JOAN GARCIA 4000+640@16.000000-600@15.000000=4040 20240331",
      "4 4 0002/0001 c1 ES41234567X MARIA FONT 3975+278@7.000000-0@0.000000=4253 20240331",
      "5 A5 0002/0005 c0 ES41234567X MARIA FONT 5300+848@16.000000-0@0.000000=6148 20240331",
  };
  EXPECT_EQ(seen, expected);
}

// A read that fails with anything but the end of the data stops the pass and
// names the file; the end of the data (9) is no failure.
int16_t FailingStatus = 0;
int16_t FailGetNext(uint16_t op, void* pos, void* data, uint32_t* len, void* key, uint8_t keyLen, int8_t keyNum) {
  if (op % 100 == RmGetNext) return FailingStatus;
  return RecordManagerCall(op, pos, data, len, key, keyLen, keyNum);
}

TEST(ProduceInvoices, ReadFailureStopsThePass) {
  TestOffice office;
  SetTaxClasses();
  SetIssuer("ES12345678Z");
  ASSERT_TRUE(office.Build(Owners(), Properties(), Receipts()));
  SetCurrency("p");
  struct Row {
    const char* name;
    const char* owner;
    const char* property;
    int16_t status;
    int16_t result;
    const char* fileName;
    size_t pages;
  };
  const Row rows[] = {
      {"damaged receipts file", "1", "1", 2, ProductionRecordFailed, CollectionFileName, 0},
      {"damaged owners file after a page", "2", "5", 2, ProductionRecordFailed, OwnerFileName, 1},
      {"end of file is the end of the data", "2", "5", 9, ProductionDone, "", 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FailingStatus = r.status;
    InvoiceParameters p = InvoiceParametersFromTexts("31/03/2024", r.owner, r.owner, r.property, r.property, "1");
    ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
    size_t pages = 0;
    RecordFailure failure;
    SetRecordManagerEntry(FailGetNext);
    const int16_t result = ProduceInvoices(p, [&pages](const IssuedInvoice&) { ++pages; }, &failure);
    SetRecordManagerEntry(nullptr);
    ClosePrintFile();
    EXPECT_EQ(result, r.result);
    EXPECT_EQ(failure.fileName, r.fileName);
    EXPECT_EQ(failure.status, r.result == ProductionDone ? 0 : r.status);
    EXPECT_EQ(pages, r.pages);
  }
}

// The amounts rule on its own, for what the office cannot hold: negative
// halves and a rate that single precision does not store exactly.
TEST(ComputeInvoiceAmounts, RoundsFromTheStoredRates) {
  struct Row {
    const char* name;
    double base;
    float fee, vat;
    double fees, vatAmount, total;
  };
  const Row rows[] = {
      {"negative half goes to even", -50, 5, 100, -2, -2, -4},
      {"negative half goes to even, odd neighbour", -70, 5, 100, -4, -4, -8},
      {"21.6 % held in single precision", 100000, 1, 21.6f, 1000, 216, 1216},
      {"vat 2.5 goes to 2", 500, 5, 10, 25, 2, 27},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    InvoiceAmounts a = ComputeInvoiceAmounts(r.base, r.fee, 0, 0, r.vat, 0, 0, false);
    EXPECT_EQ(a.Fees, r.fees);
    EXPECT_EQ(a.Vat, r.vatAmount);
    EXPECT_EQ(a.Total, r.total);
  }
}

TEST(WithholdingApplies, IssuerNaturalPersonAndOwnerLegalEntity) {
  struct Row {
    const char* issuer;
    const char* owner;
    bool applies;
  };
  const Row rows[] = {
      {"ESY1234567L", "ESA1234567", true},   {"ES@", "ESW", true},
      {"ESW1234567", "ESB12345678", false},  {"ESA1234567", "ESB12345678", false},
      {"ES12345678Z", "ES@1234567", false},  {"ES12345678Z", "FRB12345678", false},
      {"ES12345678Z", "", false},            {"ES", "ESB12345678", false},
      {"ES12345678Z", "ESb12345678", false}, {"es12345678Z", "ESB12345678", false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(WithholdingApplies(r.issuer, r.owner), r.applies) << r.issuer << " / " << r.owner;
  }
}

TEST(InvoiceParametersFromTexts, ConvertsTheFormTexts) {
  struct Row {
    const char* number;
    int32_t expected;
  };
  const Row rows[] = {
      {"", 1},          {"0", 1},           {"   ", 1},         {"abc", 1},
      {"42", 42},       {"  42  ", 42},     {"7.5", 8},         {"6.5", 6},
      {"-3", -3},       {"99999999", 99999999},
      {"1e300", 1},
      {"99999999999999999999", std::numeric_limits<int32_t>::max()},
      {"-99999999999999999999", std::numeric_limits<int32_t>::min()},
  };
  for (const Row& r : rows) {
    InvoiceParameters p = InvoiceParametersFromTexts("05/01/2024", "1", "9999", "1", "999", r.number);
    EXPECT_EQ(p.NextInvoiceNumber, r.expected) << "number text \"" << r.number << "\"";
  }

  struct CodeRow {
    const char* text;
    bool property;
    std::string packed;
  };
  const CodeRow codes[] = {
      {"1", false, "\x80\x81"},   {"9999", false, "\xe3\xe3"}, {"  5", true, "\x80\x85"},
      {"999", true, "\x89\xe3"},  {"1", true, "\x80\x81"},     {"", true, std::string("\x80\x80")},
      {"12", false, "\x80\x8c"},   {"0012", false, "\x80\x8c"},
  };
  for (const CodeRow& c : codes) {
    InvoiceParameters p = c.property ? InvoiceParametersFromTexts("", "", "", c.text, c.text, "")
                                     : InvoiceParametersFromTexts("", c.text, c.text, "", "", "");
    EXPECT_EQ(c.property ? p.FromProperty : p.FromOwner, c.packed) << "code text \"" << c.text << "\"";
  }
  EXPECT_EQ(InvoiceParametersFromTexts("31/03/2024", "", "", "", "", "").InvoiceDate, "\x94\x98\x83\x9f");
  EXPECT_EQ(InvoiceParametersFromTexts("garbage", "", "", "", "", "").InvoiceDate, EmptyDate);
}

// The period each invoice bills: the property's billing period ending in
// the invoice's month, reaching back to the earliest receipt a run that
// collects (settles) its receipts counted; in the session's language.
TEST(ProduceInvoices, PeriodBilled) {
  TestOffice office;
  SetTaxClasses();
  SetIssuer("ES12345678Z");
  const std::vector<TestProperty> properties = {
      {"001", "MENSUAL", 5.0f, 0, 1, "", 0, {"001"}},
      {"002", "TRIMESTRAL", 5.0f, 0, 3, "", 0, {"001"}},
      {"003", "ANUAL", 5.0f, 0, 12, "", 0, {"001"}},
      {"004", "ENDARRERIT", 5.0f, 0, 3, "", 0, {"001", "002"}},
      {"005", "DE L'ANY ABANS", 5.0f, 0, 1, "", 0, {"001"}},
      {"006", "SENSE REBUTS", 0.0f, 0, 3, "", 1000, {}},
  };
  const std::vector<TestReceipt> receipts = {
      {"001", "001", "20261203", 'C', 'P', 10000, 0, 0},
      {"002", "001", "20261105", 'C', 'P', 10000, 0, 0},
      {"003", "001", "20260415", 'C', 'P', 10000, 0, 0},
      {"004", "001", "20261001", 'C', 'P', 10000, 0, 0},
      {"004", "002", "20260702", 'C', 'P', 10000, 0, 0},  // six months caught up
      {"004", "002", "20270105", 'C', 'P', 10000, 0, 0},  // after the date: not counted
      {"005", "001", "20251120", 'C', 'P', 10000, 0, 0},
  };
  const std::vector<TestOwner> owners = {{"0001", "GARCIA*JOAN", "", "", "", "ESX1111111G",
                                          {{1, "001", 0}, {2, "002", 0}, {3, "003", 0}, {4, "004", 0},
                                           {5, "005", 0}, {6, "006", 0}}}};
  ASSERT_TRUE(office.Build(owners, properties, receipts));
  struct Row {
    bool collect;
    Language language;
    std::vector<std::string> periods;  // per invoice, in property order
  };
  const Row rows[] = {
      {true, Language::Catalan,
       {"desembre 2026", "octubre - desembre 2026", "gener - desembre 2026", "juliol - desembre 2026",
        "novembre 2025 - desembre 2026", "octubre - desembre 2026"}},
      // Without settling every paid receipt counts again: the billing period says more.
      {false, Language::Catalan,
       {"desembre 2026", "octubre - desembre 2026", "gener - desembre 2026", "octubre - desembre 2026",
        "desembre 2026", "octubre - desembre 2026"}},
      {true, Language::Spanish,
       {"diciembre 2026", "octubre - diciembre 2026", "enero - diciembre 2026", "julio - diciembre 2026",
        "noviembre 2025 - diciembre 2026", "octubre - diciembre 2026"}},
  };
  const FormatSettings saved = CurrentFormatSettings();
  for (const Row& row : rows) {
    FormatSettings settings = saved;
    settings.language = row.language;
    SetFormatSettings(settings);
    InvoiceParameters p = InvoiceParametersFromTexts("31/12/2026", "1", "1", "1", "999", "1");
    p.CollectReceipts = row.collect;
    ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
    std::vector<std::string> periods;
    EXPECT_EQ(ProduceInvoices(p, [&periods](const IssuedInvoice& i) {
                periods.push_back(PeriodText(i.periodFirst, i.periodLast));
              }),
              ProductionDone);
    ASSERT_EQ(ClosePrintFile(), PrintFileOk);
    EXPECT_EQ(periods, row.periods) << row.collect;
  }
  SetFormatSettings(saved);
}

// The figures file's totals block: Base + Iva + Retencio (a deduction) =
// Total for every kind of invoice, the lines that do not apply left out.
TEST(InvoiceFigures, TotalsBlockAddsUp) {
  struct Row {
    const char* name;
    double collected;  // cents
    float feePercent;
    int32_t fixedFee, expenses;
    float expenseVat;
    bool withhold;
  };
  const Row rows[] = {
      {"fee only", 100000, 5.0f, 0, 0, 21.0f, false},
      {"with withholding", 95240, 12.0f, 0, 0, 21.0f, true},
      {"expenses in the base, withholding", 100000, 5.0f, 2500, 1230, 21.0f, true},
      {"expenses outside the base are not billed", 100000, 5.0f, 0, 1230, 0.0f, false},
      {"negative, withholding", -50000, 10.0f, 0, 0, 21.0f, true},
      {"negative with expenses", -80000, 5.0f, 0, 700, 21.0f, false},
      {"thousands", 12345678, 10.0f, 0, 0, 21.0f, true},
  };
  SetCurrency("a,E");  // the office's currency, euros
  SetCurrency("p");
  const char decimal = FormatPicture("9.9", 1.5)[1];
  // Cents of an amount as printed ("1.234'56", "17'14-"); the flag says it read.
  auto cents = [&](const std::string& text, bool& read) {
    long value = 0;
    bool decimals = false;
    for (char c : text) {
      if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
      if (c == decimal) decimals = true;
    }
    read = decimals && !text.empty();
    return text.find('-') != std::string::npos ? -value : value;
  };
  std::vector<IssuedInvoice> issued;
  for (const Row& row : rows) {
    const InvoiceAmounts a = ComputeInvoiceAmounts(row.collected, row.feePercent, row.fixedFee, row.expenses, 21.0f,
                                                   row.expenseVat, 15.0f, row.withhold);
    IssuedInvoice invoice;
    invoice.number = static_cast<int32_t>(issued.size()) + 1;
    invoice.series = "A";
    invoice.invoiceDate = StoredDateFromText("31/12/2026");
    invoice.base = a.TaxableBase;
    invoice.vat = a.Vat;
    invoice.withholding = a.Withholding;
    invoice.total = a.Total;
    invoice.vatRate = 21.0f;
    invoice.withholdingRate = a.Withholding != 0 ? 15.0f : 0.0f;
    invoice.expenses = a.Expenses != 0 && row.expenseVat != 0 ? a.Expenses : 0;
    invoice.page = invoice.number;
    invoice.fees = a.Fees;
    invoice.collectedBase = row.collected;
    invoice.feePercent = row.feePercent;
    invoice.fixedFee = row.fixedFee;
    issued.push_back(invoice);
  }
  PaymentTerms terms;
  terms.hasDueDays = true;
  terms.dueDays = 30;
  const std::string figures = InvoiceFigures(issued, terms);
  SetCurrency("");
  std::map<int, std::map<std::string, std::string>> pages;
  std::istringstream lines(figures);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    const size_t second = line.find('\t', tab + 1);
    ASSERT_NE(second, std::string::npos) << line;
    pages[std::stoi(line.substr(0, tab))][line.substr(tab + 1, second - tab - 1)] = line.substr(second + 1);
  }
  for (size_t i = 0; i < issued.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    std::map<std::string, std::string>& page = pages[static_cast<int>(i) + 1];
    EXPECT_EQ(page["Numero"], "A/0000000" + std::to_string(i + 1));
    EXPECT_EQ(page["Data"], "31 de desembre del 2026");
    EXPECT_EQ(page["Venciment"], "30 de gener del 2027");
    bool read = false;
    const long base = cents(page["Base"], read);
    EXPECT_TRUE(read) << page["Base"];
    const long vat = cents(page["Iva"], read);
    EXPECT_TRUE(read) << page["Iva"];
    const long withholding = page.count("Retencio") ? cents(page["Retencio"], read) : 0;
    const long total = cents(page["Total"], read);
    EXPECT_NE(page["Total"].find(" EUR"), std::string::npos);
    EXPECT_EQ(base + vat + withholding, total) << figures;
    EXPECT_EQ(base, static_cast<long>(issued[i].base));
    EXPECT_EQ(total, static_cast<long>(issued[i].total));
    // The withholding is shown only where there is one, as a deduction.
    EXPECT_EQ(page.count("Retencio") == 1, issued[i].withholding != 0);
    EXPECT_EQ(page.count("TipusRetencio") == 1, issued[i].withholding != 0);
    EXPECT_EQ(withholding, -static_cast<long>(issued[i].withholding));
    EXPECT_EQ(page.count("Suplerts") == 1, issued[i].expenses != 0);
    EXPECT_EQ(page["TipusIva"], "21" + std::string(1, decimal) + "00 %");
    // With a withholding the invoice's total (the agency's) is shown too.
    EXPECT_EQ(page.count("TotalFactura") == 1, issued[i].withholding != 0);
    if (page.count("TotalFactura") == 1) {
      EXPECT_EQ(cents(page["TotalFactura"], read), base + vat);
    }
    // The fee's working adds up to the fee.
    EXPECT_EQ(RoundHalfEven(rows[i].feePercent * cents(page["BaseCobrada"], read) / 100.0) +
                  cents(page["HonorariFix"], read),
              cents(page["Honoraris"], read))
        << figures;
    EXPECT_EQ(page["Idioma"], "CAT");
  }
}

}  // namespace
