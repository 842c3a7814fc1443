// End-to-end runs of korvadel in a real terminal: tmux panes of 80x25, a
// suite root built from the installation data, sessions opened through
// zepmenu, keys typed as a user would. The invoices printed are checked
// against amounts computed here straight from the sample CSV files.
//
// Every wait polls the pane with a deadline; every pane lives on its own
// tmux socket, killed when the test ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tests/e2e/pane.h"
#include "tests/support/certificates.h"

namespace fs = std::filesystem;
using e2e::Pane;
using e2e::Quote;
using e2e::ReadFile;
using e2e::Shell;

namespace {

const std::string kBin = KORVADEL_BIN_DIR;
const std::string kSource = KORVADEL_SOURCE_DIR;




std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, sep)) out.push_back(item);
  if (!text.empty() && text.back() == sep) out.emplace_back();
  return out;
}


// ---------------------------------------------------------------------------
// The sample office, as the CSV files of the installation give it, and the
// invoices it must produce, computed here without the module's code.

struct CsvTable {
  std::vector<std::string> header;
  std::vector<std::map<std::string, std::string>> rows;
};

CsvTable ReadCsv(const fs::path& path) {
  CsvTable t;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> cells = Split(line, ',');
    if (t.header.empty()) {
      t.header = cells;
      continue;
    }
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < t.header.size() && i < cells.size(); ++i) row[t.header[i]] = cells[i];
    t.rows.push_back(row);
  }
  return t;
}

// The value of key in section of a settings file (plain text, first match).
std::string IniValue(const fs::path& file, const std::string& section, const std::string& key) {
  std::istringstream in(ReadFile(file));
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inSection = line == "[" + section + "]";
      continue;
    }
    if (inSection && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

struct Invoice {
  int number = 0;
  std::string owner;     // 4 digits
  std::string property;  // 4 digits
  int taxClass = 0;
  double fees = 0, expenses = 0, base = 0, vat = 0, withholding = 0, total = 0;
};

struct Range {
  std::string_view date;  // YYYYMMDD, a literal or a text that outlives the range
  int fromOwner = 0, toOwner = 0, fromProperty = 0, toProperty = 0;
  int firstNumber = 0;
};

double RoundEven(double v) { return std::nearbyint(v); }

// The invoices of a pass over the sample office.
std::vector<Invoice> ExpectedInvoices(const Range& r) {
  const fs::path data = fs::path(kSource) / "install" / "data";
  const CsvTable owners = ReadCsv(data / "PropietV.csv");
  const CsvTable properties = ReadCsv(data / "FinquesV.csv");
  const CsvTable units = ReadCsv(data / "DepartaV.csv");
  const CsvTable receipts = ReadCsv(data / "CobramV.csv");
  const fs::path ini = fs::path(kSource) / "install" / "Tarn.ini";
  const float feeVat[2] = {std::stof("0" + IniValue(ini, "Iva0", "Honoraris")),
                           std::stof("0" + IniValue(ini, "Iva1", "Honoraris"))};
  const float expenseVat[2] = {std::stof("0" + IniValue(ini, "Iva0", "Suplerts")),
                               std::stof("0" + IniValue(ini, "Iva1", "Suplerts"))};
  const float withholdingRate[2] = {std::stof("0" + IniValue(ini, "Ret0", "Honoraris")),
                                    std::stof("0" + IniValue(ini, "Ret1", "Honoraris"))};
  // The sample issuer's tax number is a natural person's (a digit after ES).
  const std::string issuerTaxId = "ES" + IniValue(ini, "Emissor", "NIF");
  const bool issuerIsPerson = issuerTaxId.size() > 2 && (issuerTaxId[2] < 'A' || issuerTaxId[2] > 'W');

  std::map<std::string, std::map<std::string, std::string>> propertyByCode;
  for (const auto& p : properties.rows) propertyByCode[p.at("PropertyCode")] = p;
  std::map<int, const std::map<std::string, std::string>*> ownerByCode;
  for (const auto& o : owners.rows) ownerByCode[std::stoi(o.at("OwnerCode"))] = &o;

  const int month = std::stoi(std::string(r.date.substr(4, 2)));
  std::vector<Invoice> out;
  int number = r.firstNumber;
  for (const auto& [code, owner] : ownerByCode) {
    if (code < r.fromOwner || code > r.toOwner) continue;
    for (int link = 1; link <= 20; ++link) {
      const std::string pk = "Link" + std::to_string(link) + "Property";
      if (owner->count(pk) == 0) continue;
      const std::string pcode = owner->at(pk);
      const int taxClass = std::stoi(owner->at("Link" + std::to_string(link) + "Class"));
      const int pnum = std::stoi(pcode);
      if (pnum < r.fromProperty || pnum > r.toProperty) continue;
      auto found = propertyByCode.find(pcode);
      if (found == propertyByCode.end()) continue;
      const auto& p = found->second;
      int period = std::stoi(p.at("BillingPeriodMonths"));
      if (period == 0) period = 1;
      if (month % period != 0) continue;
      const std::string cutoff = p.at("CutoffDate");
      if (!cutoff.empty() && cutoff.substr(0, 6) >= r.date.substr(0, 6)) continue;
      if (taxClass != 0 && taxClass != 1) continue;

      double collected = 0;
      for (const auto& u : units.rows) {
        const std::string unit = u.at("UnitKey");
        if (unit.substr(0, 4) != pcode) continue;
        for (const auto& c : receipts.rows) {
          if (c.at("ReceiptUnitKey") != unit || c.at("ReceiptDate") > r.date) continue;
          if (c.at("ReceiptState") != "P") continue;
          if (c.at("ReceiptType") != "C" && c.at("ReceiptType") != "I") continue;
          collected += std::stod(c.at("ReceiptAmount")) - std::stod(c.at("BaseDeduction")) +
                       std::stod(c.at("BaseAddition"));
        }
      }
      Invoice inv;
      inv.owner = owner->at("OwnerCode");
      inv.property = pcode;
      inv.taxClass = taxClass;
      const float feePercent = std::stof(p.at("FeePercent"));
      inv.fees = RoundEven(static_cast<double>(feePercent) * collected / 100) + std::stod(p.at("FixedFee"));
      inv.expenses = inv.fees != 0 ? std::stod(p.at("ExpenseAmount")) : 0;
      inv.base = inv.fees + (expenseVat[taxClass] != 0 ? inv.expenses : 0);
      inv.vat = RoundEven(static_cast<double>(feeVat[taxClass]) * inv.base / 100);
      const std::string ownerTaxId = owner->at("OwnerTaxId");
      const bool ownerIsCompany =
          ownerTaxId.rfind("ES", 0) == 0 && ownerTaxId.size() > 2 && ownerTaxId[2] >= 'A' && ownerTaxId[2] <= 'W';
      if (issuerIsPerson && ownerIsCompany)
        inv.withholding = RoundEven(static_cast<double>(withholdingRate[taxClass]) * inv.base / 100);
      inv.total = inv.vat + inv.base - inv.withholding;
      if (inv.vat == 0) continue;
      inv.number = number++;
      out.push_back(inv);
    }
  }
  return out;
}

// Cents as the invoices print them: "1.234,56".
std::string Euros(double cents) {
  const long long c = std::llround(std::fabs(cents));
  const std::string digits = std::to_string(c / 100);
  std::string whole;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) whole += '.';
    whole += digits[i];
  }
  std::string out = cents < 0 ? "-" : "";
  out += whole;
  out += c % 100 < 10 ? ",0" : ",";
  out += std::to_string(c % 100);
  return out;
}

std::string PadLeft(const std::string& s, size_t width, char fill = ' ') {
  return s.size() >= width ? s : std::string(width - s.size(), fill) + s;
}

// One positioned text line of the spool file.
std::string SpoolLine(int column, const std::string& text, int advance) {
  std::string line = " ";
  line += std::to_string(column);
  line += " ,";
  line += text;
  line += ", ";
  line += std::to_string(advance);
  line += " \r\n";
  return line;
}

// The amount lines of one invoice page, in the order they are printed.
std::vector<std::string> InvoiceLines(const Invoice& inv, const std::string& series, const std::string& vatName,
                                      const std::string& vatRate) {
  std::vector<std::string> lines;
  char number[16];
  std::snprintf(number, sizeof number, "%08d", inv.number);
  lines.push_back(SpoolLine(17, series + "/" + number, 0));
  lines.push_back(SpoolLine(67, PadLeft(Euros(inv.total), 10, '*') + " EUR", 0));
  lines.push_back(SpoolLine(92, inv.property.substr(1) + "V", 1));
  if (inv.fees != 0) lines.push_back(SpoolLine(66, PadLeft(Euros(inv.fees) + " ", 14), 1));
  if (inv.expenses != 0) lines.push_back(SpoolLine(66, PadLeft(Euros(inv.expenses) + " ", 14), 1));
  lines.push_back(SpoolLine(22, vatName + " " + vatRate + " % s/" + Euros(inv.base) + " ", 0));
  lines.push_back(SpoolLine(66, PadLeft(Euros(inv.vat) + " ", 14), 1));
  if (inv.withholding != 0) lines.push_back(SpoolLine(66, PadLeft(Euros(inv.withholding) + " ", 14), 1));
  return lines;
}

// The spool text of page n (from 1): from its PAGE line to the next.
std::string SpoolPage(const std::string& spool, int n) {
  size_t at = 0;
  for (int k = 0; k < n; ++k) {
    at = spool.find("PAGE", at == 0 ? 0 : at + 1);
    if (at == std::string::npos) return "";
  }
  size_t end = spool.find("PAGE", at + 1);
  return spool.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// ---------------------------------------------------------------------------
// A suite root made from the installation, as the demo does it.

class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/korvadel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
    const fs::path root = base_ / "template";
    const fs::path install = fs::path(kSource) / "install";
    fs::create_directories(root / "ddf");
    fs::create_directories(root / "DADES");
    fs::copy_file(install / "Tarn.ini", root / "Tarn.ini");
    fs::copy_file(install / "Productor.ini", root / "Productor.ini");
    // The installed Tarn.ini names no mode; the register works in the
    // not-sending mode, signing with the test certificate of the issuer.
    fs::create_directories(root / "cert");
    ASSERT_TRUE(TestCertificates::Get().Ok() && TestCertificates::Get().CopyTo((root / "cert").string()));
    std::string settings = ReadFile(root / "Tarn.ini");
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"Mode=", "conserva"},
                                     {"Certificat=", "cert/other.p12"}, {"ClauCertificat=", "cert/pw"}}) {
      const size_t at = settings.find("\r\n" + key + "\r\n");
      ASSERT_NE(at, std::string::npos) << key;
      settings.insert(at + 2 + key.size(), value);
    }
    settings.insert(settings.find("[VeriFactu]\r\n") + 13, "CAFirma=cert/ca.pem\r\n");
    std::ofstream(root / "Tarn.ini", std::ios::binary | std::ios::trunc) << settings;
    for (const char* dir : {"FORMS", "LOCALE", "AJUDA"})
      fs::copy(install / dir, root / dir, fs::copy_options::recursive);
    // The installed Tarn.ini keeps the invoice register, made from its dictionary.
    fs::copy_file(install / "ddf" / "RegFact2.xdf", root / "ddf" / "RegFact2.xdf");
    for (const char* file : {"PropietV", "FinquesV", "DepartaV", "CobramV"}) {
      const std::string name = file;
      fs::copy_file(install / "ddf" / (name + ".xdf"), root / "ddf" / (name + ".xdf"));
      const std::string dat = (root / "DADES" / (name + ".dat")).string();
      int status = 0;
      std::string out = Shell(Quote(kBin + "/recman") + " create " + Quote(dat) + " " +
                              Quote((root / "ddf" / (name + ".xdf")).string()) + " && " + Quote(kBin + "/recman") +
                              " import " + Quote(dat) + " " + Quote((install / "data" / (name + ".csv")).string()) +
                              " " + Quote((install / "ddf" / (name + ".layout")).string()) + " && " +
                              Quote(kBin + "/recman") + " set-owner " + Quote(dat) + " KV26",
                              &status);
      ASSERT_EQ(status, 0) << out;
    }
  }
  static void TearDownTestSuite() { fs::remove_all(base_); }

  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    work_ = base_ / (name + "-" + std::to_string(++runs_));
    root_ = work_ / "root";
    tmp_ = work_ / "tmp";
    fs::create_directories(tmp_);
    fs::copy(base_ / "template", root_, fs::copy_options::recursive);
  }

  // The command of a session through zepmenu; its exit code lands in a file.
  std::string Session(const std::string& lang, const std::string& date, const std::string& device) const {
    return "cd " + Quote(work_.string()) + " && TMPDIR=" + Quote(tmp_.string()) + " " + Quote(kBin + "/zepmenu") +
           " --root " + Quote(root_.string() + "/") + " --lang " + lang + " --date " + date + " --device " +
           Quote(device) + "; echo $? > exit-code; echo SESSION-ENDED; sleep 600";
  }

  // The session directory zepmenu made under TMPDIR.
  fs::path SessionDir() const {
    for (const auto& entry : fs::directory_iterator(tmp_))
      if (entry.is_directory()) return entry.path();
    return {};
  }

  bool Ended(Pane& pane) { return pane.WaitForText("SESSION-ENDED"); }
  std::string ExitCode() const {
    std::string s = ReadFile(work_ / "exit-code");
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
  }

  // The terminal after the program: main screen, cursor shown, no mouse.
  void ExpectTerminalRestored(Pane& pane) {
    EXPECT_EQ(pane.Display("#{alternate_on}"), "0");
    EXPECT_EQ(pane.Display("#{cursor_flag}"), "1");
    EXPECT_EQ(pane.Display("#{mouse_any_flag}"), "0");
    EXPECT_EQ(pane.Display("#{keypad_flag}"), "0");
  }

  // Types the six parameters into form 1: each field is cleared first.
  void FillParameters(Pane& pane, const Range& r) {
    std::string date(r.date.substr(6, 2));
    date += r.date.substr(4, 2);
    date += r.date.substr(0, 4);
    const std::string values[] = {date,
                                  std::to_string(r.fromOwner),
                                  std::to_string(r.toOwner),
                                  std::to_string(r.fromProperty),
                                  std::to_string(r.toProperty),
                                  std::to_string(r.firstNumber)};
    for (const std::string& v : values) {
      pane.Keys({"C-y"});  // clears the field
      pane.Type(v);
      pane.Keys({"Enter"});
    }
  }

  static fs::path base_;
  static int runs_;
  fs::path work_, root_, tmp_;
};

fs::path EndToEnd::base_;
int EndToEnd::runs_ = 0;

// ---------------------------------------------------------------------------

struct RunCase {
  const char* name;
  std::string lang;
  Range range;
  std::string formPrompt;    // a prompt of form 1 in the session language
  std::string confirmation;  // the question of form 2
  std::string longDate;      // the invoice date as the page prints it
};

TEST_F(EndToEnd, InvoiceRunPrintsTheSampleOffice) {
  const std::vector<RunCase> cases = {
      {"Catalan, every owner", "CAT", {"20260131", 1, 9999, 1, 999, 100},
       "Data de les factures", "Voleu emetre les factures?", "31 DE GENER DEL 2026"},
      {"Spanish, a quarter's end, part of the office", "SPA", {"20260331", 2, 9, 3, 15, 1},
       "Fecha de las facturas", "Desea emitir las facturas?", "31 DE MARZO DE 2026"},
  };
  const fs::path ini = fs::path(kSource) / "install" / "Tarn.ini";
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::vector<Invoice> expected = ExpectedInvoices(c.range);
    ASSERT_FALSE(expected.empty());
    // The installed suite keeps the register, which numbers each series (A
    // and R) on its own, from the form's number while it holds none of it.
    std::map<int, int> next;
    for (Invoice& inv : expected) inv.number = next.try_emplace(inv.taxClass, c.range.firstNumber).first->second++;
    const std::string pdf = (work_ / "out.pdf").string();

    Pane pane;
    ASSERT_TRUE(pane.Start(Session(c.lang, "20260115", pdf)));
    ASSERT_TRUE(pane.WaitForText(c.formPrompt)) << pane.Last();
    // The session date is offered in the date field.
    EXPECT_NE(pane.Last().find("150126"), std::string::npos) << pane.Last();
    FillParameters(pane, c.range);
    ASSERT_TRUE(pane.WaitForText(c.confirmation)) << pane.Last();
    pane.Type("S");
    pane.Keys({"Enter"});
    // The print program has run when the PDF is there and form 1 is back.
    // The run's summary ("TOTAL" in every language) waits for a key.
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      return fs::exists(pdf) && s.find("TOTAL ....") != std::string::npos;
    })) << pane.Last();
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      return fs::exists(pdf) && s.find(c.formPrompt) != std::string::npos &&
             s.find(c.confirmation) == std::string::npos;
    })) << pane.Last();

    const std::string spool = ReadFile(SessionDir() / "zepprint.tmp");
    ASSERT_FALSE(spool.empty());
    EXPECT_EQ(Count(spool, "PAGE"), static_cast<int>(expected.size()));
    EXPECT_NE(spool.find(SpoolLine(17, (expected[0].taxClass == 0 ? std::string("A") : std::string("R")) + "/" +
                                           PadLeft(std::to_string(c.range.firstNumber), 8, '0'), 0)),
              std::string::npos);
    EXPECT_NE(spool.find(SpoolLine(17, c.longDate, 3)), std::string::npos);
    // Every invoice page holds its amounts, each computed from the CSV files.
    for (size_t i = 0; i < expected.size(); ++i) {
      const Invoice& inv = expected[i];
      const std::string series = IniValue(ini, inv.taxClass == 0 ? "Iva0" : "Iva1", "Serie");
      const std::string vatName = IniValue(ini, inv.taxClass == 0 ? "Iva0" : "Iva1", "Nom");
      const std::string page = SpoolPage(spool, static_cast<int>(i) + 1);
      const std::string rate = Euros(100 * std::stod(IniValue(ini, inv.taxClass == 0 ? "Iva0" : "Iva1", "Honoraris")));
      for (const std::string& line : InvoiceLines(inv, series, vatName, rate))
        EXPECT_NE(page.find(line), std::string::npos)
            << "owner " << inv.owner << " property " << inv.property << " misses " << line;
    }

    // The PDF: one page per invoice, the first invoice's number and total.
    const std::string text = Shell("pdftotext -layout " + Quote(pdf) + " -");
    EXPECT_EQ(Count(text, "\f"), static_cast<int>(expected.size()));
    const std::string firstNumber = PadLeft(std::to_string(c.range.firstNumber), 8, '0');
    EXPECT_NE(text.find("FACTURA " + IniValue(ini, expected[0].taxClass == 0 ? "Iva0" : "Iva1", "Serie") + "/" +
                        firstNumber),
              std::string::npos)
        << text.substr(0, 400);
    EXPECT_NE(text.find(PadLeft(Euros(expected[0].total), 10, '*') + " EUR"), std::string::npos);
    // Plain paper: the tax code at the top of the page, above the invoice.
    EXPECT_LT(text.find("QR tributario:"), text.find("FACTURA ")) << text.substr(0, 400);
    // The installed suite keeps the register and settles: the run's spool
    // file, its codes and figures and the receipts each invoice settled are
    // archived, beside the anchors of the register and of its event log.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "ARXIU"), {}), 6) << "archive of the run";
    EXPECT_TRUE(fs::exists(root_ / "ARXIU" / "RegFact2.ancora"));
    EXPECT_TRUE(fs::exists(root_ / "ARXIU" / "RegEvent.ancora"));

    // Only the session's own files are in its directory while form 1 is up.
    for (const auto& entry : fs::directory_iterator(SessionDir())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "Sessio.ini" || name == "TarnTerm.ini" || name == "WinPush.tmp" ||
                  name == "zepprint.tmp" || name == "zepprint.out" || name == "zepprint.qr" ||
                  name == "zepprint.msg" ||
                  name == "zepprint.fig")
          << name;
    }

    pane.Keys({"Escape"});
    ASSERT_TRUE(Ended(pane)) << pane.Last();
    EXPECT_EQ(ExitCode(), "0");
    EXPECT_TRUE(fs::is_empty(tmp_));
    ExpectTerminalRestored(pane);
  }
}

// A stationery that takes long to draw (a small SVG asking for huge
// filters): the module shows that it is printing, Esc stops the print
// program, the earlier PDF stays as it was, and the registered run says so
// and offers to print it again.
TEST_F(EndToEnd, EscStopsASlowPrint) {
  const std::string filtered = "<rect width=\"210\" height=\"297\" filter=\"url(#f)\"/>";
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\">"
      "<filter id=\"f\" x=\"-10\" y=\"-10\" width=\"20\" height=\"20\"><feMorphology radius=\"300\"/>"
      "<feGaussianBlur stdDeviation=\"400\"/><feMorphology operator=\"dilate\" radius=\"300\"/></filter>";
  for (int i = 0; i < 6; ++i) svg += filtered;
  svg += "</svg>";
  fs::create_directories(root_ / "IMPRES");
  std::ofstream(root_ / "IMPRES" / "FACTHON.svg", std::ios::binary) << svg;
  const fs::path pdf = work_ / "out.pdf";
  std::ofstream(pdf, std::ios::binary) << "EARLIER";

  Pane pane;
  ASSERT_TRUE(pane.Start(Session("CAT", "20260115", pdf.string())));
  ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
  FillParameters(pane, {"20260131", 1, 9999, 1, 999, 100});
  ASSERT_TRUE(pane.WaitForText("Voleu emetre les factures?")) << pane.Last();
  pane.Type("S");
  pane.Keys({"Enter"});
  ASSERT_TRUE(pane.WaitForText("S'ESTAN IMPRIMINT LES FACTURES.")) << pane.Last();
  EXPECT_NE(pane.Last().find("Esc Atura"), std::string::npos) << pane.Last();
  pane.Keys({"Escape"});
  ASSERT_TRUE(pane.WaitForText("IMPRESSI\xc3\x93 ATURADA AMB ESC")) << pane.Last();
  EXPECT_EQ(ReadFile(pdf), "EARLIER");
  EXPECT_FALSE(fs::exists(work_ / "out-2.pdf"));
  for (const auto& entry : fs::directory_iterator(work_))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  // The run is registered all the same: it is offered to be printed again
  // from the archive, and declined, the command that prints it is named.
  pane.Keys({"Enter"});
  ASSERT_TRUE(pane.WaitForText("CONFIRMEU")) << pane.Last();
  EXPECT_NE(pane.Last().find("JA S\xc3\x93N AL REGISTRE"), std::string::npos) << pane.Last();
  pane.Keys({"Enter"});
  ASSERT_TRUE(pane.WaitForText("zepfact")) << pane.Last();
  pane.Keys({"Enter"});
  ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
  pane.Keys({"Escape"});
  ASSERT_TRUE(Ended(pane)) << pane.Last();
  EXPECT_EQ(ExitCode(), "0");
}

// The register screen: F7 on the form lists the run's invoices; typing a
// number finds one, which is corrected by differences and printed; another
// is cancelled after two questions; the chain holds both records. In the
// not-sending mode a certificate that cannot sign refuses the correction
// before its form, and with it mended both records are signed (verify
// checks every signature) and the log names each.
TEST_F(EndToEnd, RegisterScreenCorrectsOneInvoiceAndCancelsAnother) {
  ASSERT_TRUE(TestCertificates::Get().Ok());
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "not-sending mode" : "register only");
    if (keep) {
      SetUp();
      fs::create_directories(root_ / "cert");
      ASSERT_TRUE(TestCertificates::Get().CopyTo((root_ / "cert").string()));
      std::string ini = ReadFile(root_ / "Tarn.ini");
      ini.replace(ini.find("Entorn=produccio"), 16,
                  "Entorn=produccio\r\nMode=conserva\r\nCertificat=cert/other.p12\r\nClauCertificat=cert/pw\r\nCAFirma=cert/ca.pem");
      std::ofstream(root_ / "Tarn.ini", std::ios::binary | std::ios::trunc) << ini;
    }
    const std::string pdf = (work_ / "out.pdf").string();
    Pane pane;
    ASSERT_TRUE(pane.Start(Session("CAT", "20260115", pdf)));
    ASSERT_TRUE(pane.WaitForText("F7 Registre")) << pane.Last();
    FillParameters(pane, {"20260115", 1, 9999, 1, 999, 1});
    ASSERT_TRUE(pane.WaitForText("Voleu emetre les factures?")) << pane.Last();
    pane.Type("S");
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("TOTAL ....")) << pane.Last();
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();

    pane.Keys({"F7"});
    ASSERT_TRUE(pane.WaitForText("REGISTRE DE FACTURES")) << pane.Last();
    // The key line says that typing searches; a number finds the invoice
    // of that number, in the session's date form.
    EXPECT_NE(pane.Last().find("*N\xc3\xbam Propietari"), std::string::npos) << pane.Last();
    pane.Type("A/2");
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("Empremta")) << pane.Last();
    EXPECT_NE(pane.Last().find("A/00000002   15/1/2026"), std::string::npos) << pane.Last();
    if (keep) {
      // A password file others can read: refused before the form, nothing made.
      fs::permissions(root_ / "cert" / "pw", fs::perms::others_read, fs::perm_options::add);
      pane.Type("R");
      ASSERT_TRUE(pane.WaitForText("ALTRES USUARIS PODEN LLEGIR")) << pane.Last();
      pane.Keys({"Enter"});
      fs::permissions(root_ / "cert" / "pw", fs::perms::others_read, fs::perm_options::remove);
    }
    // The correction window names the invoice, has its own help, checks
    // the fee as it is left and asks before registering.
    pane.Type("R");
    ASSERT_TRUE(pane.WaitForText("Honoraris corregits")) << pane.Last();
    EXPECT_NE(pane.Last().find("A/00000002  15/1/2026"), std::string::npos) << pane.Last();
    pane.Keys({"F1"});
    ASSERT_TRUE(pane.WaitForText("FACTURA RECTIFICATIVA: Causa R1 a R4")) << pane.Last();
    pane.Keys({"Enter"});
    pane.Keys({"Enter", "Enter"});  // R1, by differences
    pane.Keys({"C-y"});
    pane.Type("1,5,0");
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("HONORARIS CORREGITS: \"1,5,0\" NO \xc3\x89S UN IMPORT")) << pane.Last();
    pane.Keys({"Enter", "C-y"});
    pane.Type("150");
    pane.Keys({"Enter", "C-y", "Enter"});  // no expenses
    pane.Type("Import mal calculat");
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("REGISTRAR LA FACTURA RECTIFICATIVA DE A/00000002")) << pane.Last();
    pane.Type("S");
    ASSERT_TRUE(pane.WaitForText("FACTURA RECTIFICATIVA REGISTRADA: RE/00000001")) << pane.Last();
    // The corrective's page had its own figures, not those the run left in
    // the session's folder; so has a copy printed after it.
    const fs::path figures = SessionDir() / "zepprint.fig";
    EXPECT_NE(ReadFile(figures).find("1\tNumero\tRE/00000001\n"), std::string::npos) << ReadFile(figures);
    EXPECT_EQ(ReadFile(figures).find("A/00000003"), std::string::npos) << ReadFile(figures);
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("rectificada per RE/00000001")) << pane.Last();
    pane.Type("C");
    ASSERT_TRUE(pane.WaitForText("IMPRESA A")) << pane.Last();
    EXPECT_NE(ReadFile(figures).find("1\tNumero\tA/00000002\n"), std::string::npos) << ReadFile(figures);
    EXPECT_EQ(ReadFile(figures).find("RE/00000001"), std::string::npos) << ReadFile(figures);
    pane.Keys({"Enter"});
    pane.Keys({"Escape"});
    ASSERT_TRUE(pane.WaitForText("rect. RE/00000001")) << pane.Last();

    pane.Type("A/3");
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("A/00000003   15/1/2026")) << pane.Last();
    pane.Type("A");
    ASSERT_TRUE(pane.WaitForText("NO S'HA LLIURAT MAI LA FACTURA A/00000003?")) << pane.Last();
    pane.Type("S");
    ASSERT_TRUE(pane.WaitForText("NO ES POT DESFER")) << pane.Last();
    pane.Type("S");
    ASSERT_TRUE(pane.WaitForText("FACTURA ANUL\xc2\xb7LADA: A/00000003")) << pane.Last();
    // The detail walks the chain: its last record is the cancellation, the
    // one before it the corrective invoice, each linked to its predecessor.
    pane.Keys({"Enter", "End"});
    ASSERT_TRUE(pane.WaitForText("anul\xc2\xb7laci\xc3\xb3")) << pane.Last();
    EXPECT_NE(pane.Last().find("OK: la del registre #"), std::string::npos) << pane.Last();
    pane.Keys({"PgUp"});
    ASSERT_TRUE(pane.WaitForText("RE/00000001   ")) << pane.Last();
    EXPECT_EQ(pane.Last().find("ERROR"), std::string::npos) << pane.Last();
    pane.Keys({"Escape"});
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
      return s.find("anul\xc2\xb7lada") != std::string::npos && s.find("Empremta") == std::string::npos;
    })) << pane.Last();
    pane.Keys({"Escape"});
    ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
    pane.Keys({"Escape"});
    ASSERT_TRUE(Ended(pane)) << pane.Last();
    EXPECT_EQ(ExitCode(), "0");

    // The corrective's page went where the session prints, after the run's.
    std::string text;
    for (const auto& entry : fs::directory_iterator(work_))
      if (entry.path().extension() == ".pdf" && entry.path() != pdf)
        text += Shell("pdftotext -layout " + Quote(entry.path().string()) + " -");
    EXPECT_NE(text.find("FACTURA RECTIFICATIVA (per difer\xc3\xa8ncies)"), std::string::npos) << text;
    EXPECT_NE(text.find("Rectifica la factura A/00000002"), std::string::npos) << text;
    EXPECT_NE(text.find("emesa el 15 DE GENER DEL 2026"), std::string::npos) << text;
    int status = 0;
    const std::string verified = Shell(Quote(kBin + "/zepfact") + " --root " + Quote(root_.string() + "/") + " verify",
                                       &status);
    EXPECT_EQ(status, 0) << verified;
    const std::string listed = Shell(Quote(kBin + "/zepfact") + " --root " + Quote(root_.string() + "/") + " list");
    EXPECT_NE(listed.find("rectificada per RE/00000001"), std::string::npos) << listed;
    EXPECT_NE(listed.find("anul\xc2\xb7lada"), std::string::npos) << listed;
    if (keep) {
      const std::string events = Shell(Quote(kBin + "/zepfact") + " --root " + Quote(root_.string() + "/") + " events list");
      EXPECT_EQ(Count(events, "\t90\t"), 3) << events;  // the run, the correction, the cancellation
    }
  }
}

TEST_F(EndToEnd, ReversedOwnerRangeGetsNoConfirmation) {
  const std::string pdf = (work_ / "out.pdf").string();
  Pane pane;
  ASSERT_TRUE(pane.Start(Session("CAT", "20260115", pdf)));
  ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
  FillParameters(pane, {"20260131", 9, 3, 1, 999, 1});
  // Told why, then back on the first field: typing there changes the date field.
  ASSERT_TRUE(pane.WaitForText("MARGE DE PROPIETARIS INVERTIT: EL PRIMER (9) VA DESPR\xc3\x89S DEL DARRER (3)"))
      << pane.Last();
  pane.Keys({"Enter"});
  pane.Keys({"C-y"});
  pane.Type("28022026");
  pane.Keys({"Down"});
  ASSERT_TRUE(pane.WaitForText("28/2/2026")) << pane.Last();
  EXPECT_EQ(pane.Last().find("Voleu emetre"), std::string::npos) << pane.Last();
  // Esc on the second field goes to the first, Esc there leaves.
  pane.Keys({"Escape", "Escape"});
  ASSERT_TRUE(pane.WaitForText("SESSION-ENDED")) << pane.Last();
  EXPECT_EQ(ExitCode(), "0");
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_TRUE(fs::is_empty(tmp_));
  ExpectTerminalRestored(pane);
}

// Start-up failures: a message in the session language, one key, exit 0,
// and nothing in the suite root changed.
TEST_F(EndToEnd, StartFailuresAreReportedAndEndCleanly) {
  struct Case {
    const char* name;
    std::string lang;
    std::function<void(const fs::path& root)> damage;
    std::string message;
    std::string names;  // the file the message names
  } cases[] = {
      {"form file missing", "CAT", [](const fs::path& root) { fs::remove(root / "FORMS" / "KORVADEL.ZPN"); },
       "NO ES POT LLEGIR EL FITXER DE PANTALLES", "KORVADEL.ZPN"},
      {"form file cut short", "SPA",
       [](const fs::path& root) {
         const fs::path file = root / "FORMS" / "KORVADEL.ZPN";
         const std::string text = ReadFile(file);
         std::ofstream(file, std::ios::binary | std::ios::trunc) << text.substr(0, text.size() / 2);
       },
       "NO SE PUEDE LEER EL FICHERO DE PANTALLAS", "KORVADEL.ZPN"},
      {"data file damaged", "CAT",
       [](const fs::path& root) {
         std::ofstream(root / "DADES" / "CobramV.dat", std::ios::binary | std::ios::trunc)
             << "this is not a data file\n";
       },
       "NO ES POT ACCEDIR AL FITXER", "CobramV"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.damage(root_);
    std::map<std::string, std::string> before;
    for (const auto& entry : fs::recursive_directory_iterator(root_))
      if (entry.is_regular_file()) before[entry.path().string()] = ReadFile(entry.path());
    Pane pane;
    ASSERT_TRUE(pane.Start(Session(c.lang, "20260115", (work_ / "out.pdf").string())));
    ASSERT_TRUE(pane.WaitForText(c.message)) << pane.Last();
    EXPECT_NE(pane.Last().find(c.names), std::string::npos) << pane.Last();
    // Still waiting for the key: the session ends only after it.
    EXPECT_EQ(pane.Last().find("SESSION-ENDED"), std::string::npos);
    EXPECT_EQ(pane.Screen().find("SESSION-ENDED"), std::string::npos);
    pane.Keys({"x"});
    ASSERT_TRUE(Ended(pane)) << pane.Last();
    EXPECT_EQ(ExitCode(), "0");
    EXPECT_TRUE(fs::is_empty(tmp_));
    std::map<std::string, std::string> after;
    for (const auto& entry : fs::recursive_directory_iterator(root_))
      if (entry.is_regular_file()) after[entry.path().string()] = ReadFile(entry.path());
    // The record manager's lock companions may come and go; the rest stays.
    for (auto* files : {&before, &after})
      for (auto it = files->begin(); it != files->end();)
        it = it->first.ends_with("-lck") ? files->erase(it) : std::next(it);
    EXPECT_TRUE(after == before);
    ExpectTerminalRestored(pane);
  }
}

TEST_F(EndToEnd, ListKeyPicksACodeIntoTheField) {
  struct Case {
    const char* name;
    int enters;          // from the date field to the field with the list
    std::string title;   // the list's title in its frame
    std::string first;   // its first line
    int downs;           // lines moved down before Enter
    std::string filled;  // the form line afterwards
  } cases[] = {
      {"owners", 1, "Codi Nom del propietari", "0001 Puig Serrat*Montserrat", 1,
       "Primer propietari ........... 0002"},
      {"properties", 3, "N\u00FAm Nom de la finca", "001 C. Major 12 Olot", 2,
       "Primera finca ............... 003"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Pane pane;
    ASSERT_TRUE(pane.Start(Session("CAT", "20260115", (work_ / "out.pdf").string())));
    ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
    for (int k = 0; k < c.enters; ++k) pane.Keys({"Enter"});
    pane.Keys({"F4"});
    ASSERT_TRUE(pane.WaitForText(c.title)) << pane.Last();
    EXPECT_NE(pane.Last().find(c.first), std::string::npos) << pane.Last();
    EXPECT_TRUE(fs::exists(SessionDir() / "Browse.tmp"));
    for (int k = 0; k < c.downs; ++k) pane.Keys({"Down"});
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText(c.filled)) << pane.Last();
    EXPECT_EQ(pane.Last().find(c.title), std::string::npos) << pane.Last();
    EXPECT_FALSE(fs::exists(SessionDir() / "Browse.tmp"));
    pane.Keys({"Escape", "Escape"});
    ASSERT_TRUE(Ended(pane)) << pane.Last();
    EXPECT_EQ(ExitCode(), "0");
    ExpectTerminalRestored(pane);
  }
}

TEST_F(EndToEnd, HelpKeyShowsTheSessionHelpPageAndComesBack) {
  Pane pane;
  ASSERT_TRUE(pane.Start(Session("CAT", "20260115", (work_ / "out.pdf").string())));
  ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
  pane.Keys({"F1"});
  // The page named by the session's menu, from the installation's help files.
  ASSERT_TRUE(pane.WaitForText("FACTURACI\u00D3 D'HONORARIS D'ADMINISTRACI\u00D3")) << pane.Last();
  pane.Keys({"Escape"});
  ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
    return s.find("Data de les factures") != std::string::npos && s.find("FACTURACI\u00D3") == std::string::npos;
  })) << pane.Last();
  pane.Keys({"Escape"});
  ASSERT_TRUE(Ended(pane)) << pane.Last();
  EXPECT_EQ(ExitCode(), "0");
  ExpectTerminalRestored(pane);
}

TEST_F(EndToEnd, EndSignalsGiveTheTerminalBackAndLeaveNoScreenFiles) {
  struct Case {
    const char* name;
    int signal;
  } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    // korvadel on its own, with a temporary directory the test can look into.
    Pane pane;
    ASSERT_TRUE(pane.Start("cd " + Quote(root_.string()) + " && ZEPROOT=" + Quote(root_.string() + "/") +
                           " ZEPEXE=" + Quote(kBin + "/") + " ZEPTMP=" + Quote(tmp_.string() + "/") + " " +
                           Quote(kBin + "/korvadel") + "; echo $? > ../exit-code; echo SESSION-ENDED; sleep 600"));
    ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
    EXPECT_TRUE(fs::exists(tmp_ / "WinPush.tmp"));
    const std::string shell = pane.Display("#{pane_pid}");
    std::string pid = Shell("pgrep -P " + shell + " -x korvadel");
    while (!pid.empty() && pid.back() == '\n') pid.pop_back();
    ASSERT_FALSE(pid.empty());
    ASSERT_EQ(kill(std::stoi(pid), c.signal), 0);
    ASSERT_TRUE(Ended(pane)) << pane.Last();
    // Ended by the signal, which the shell reports as 128 + its number.
    EXPECT_EQ(ExitCode(), std::to_string(128 + c.signal));
    EXPECT_FALSE(fs::exists(tmp_ / "WinPush.tmp"));
    EXPECT_FALSE(fs::exists(tmp_ / "Browse.tmp"));
    ExpectTerminalRestored(pane);
  }
}

// The invoice date, the owner range and the first number all come from the
// tools of the parameter form: the calendar (Alt+C), the owner list (F4) and
// the calculator (Alt+X). Whatever each one hands back must reach its field
// and, through it, the invoices.
TEST_F(EndToEnd, CalendarListAndCalculatorFillTheParameters) {
  struct Case {
    const char* name;
    std::string lang;
    std::string formPrompt;                  // a prompt of form 1
    std::vector<std::string> calendarShows;  // its first page: heading, months, year
    std::string calendarKeys;                // on the last row, below it
    std::vector<std::string> dayKeys;        // moves from the session date
    std::string takeDate;                    // the key that takes the day
    std::string date;                        // the day they reach, YYYYMMDD
    std::string dateShown;                   // the date field afterwards
    int ownerDowns;                          // lines moved down in the owner list
    std::string firstOwnerPrompt, lastOwnerPrompt;
    std::string sums;     // typed into the calculator
    std::string display;  // its display before "F"
    int firstNumber;      // what "F" types: the result in hundredths
    std::string confirmation, longDate;
  } cases[] = {
      {"Catalan, a day of the same quarter, a number from a fraction", "CAT", "Data de les factures",
       {"DL DT DC DJ DV DS DG", "GENER", "FEBRER", "MAR\u00C7", " 2026 "},
       "\u2191\u2193\u2190\u2192 Dia  ReP\u00E0g/AvP\u00E0g Trimestre  Intro/F Triar  Esc Sortir",
       {"Down", "Down", "Down", "Down", "Down", "Down", "Right", "Right"}, "f", "20260228", "28/2/2026", 8,
       "Primer propietari ........... ", "Darrer propietari ........... ", "12*.25=", "3", 300,
       "Voleu emetre les factures?", "28 DE FEBRER DEL 2026"},
      {"Spanish, back from the next quarter, a whole-number product", "SPA", "Fecha de las facturas",
       {" L  M  X  J  V  S  D", "ENERO", "FEBRERO", "MARZO", " 2026 "},
       "\u2191\u2193\u2190\u2192 D\u00EDa  ReP\u00E1g/AvP\u00E1g Trimestre  Intro/F Elegir  Esc Salir",
       {"PgDn", "Left", "Left", "Left", "Left", "Left", "Left", "Left", "Left", "Left", "Left", "Left", "Left",
        "Left", "Left", "Left"},
       "Enter", "20260331", "31/3/2026", 1, "Primer propietario .......... ", "ltimo propietario .......... ", "12*25=",
       "300", 30000, "Desea emitir las facturas?", "31 DE MARZO DE 2026"},
  };
  const fs::path ini = fs::path(kSource) / "install" / "Tarn.ini";
  // The owner list shows the owners in code order, one line each.
  const CsvTable owners = ReadCsv(fs::path(kSource) / "install" / "data" / "PropietV.csv");
  std::vector<std::string> ownerCodes;
  for (const auto& o : owners.rows) ownerCodes.push_back(o.at("OwnerCode"));
  std::sort(ownerCodes.begin(), ownerCodes.end());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ASSERT_LT(static_cast<size_t>(c.ownerDowns), ownerCodes.size());
    const std::string owner = ownerCodes[static_cast<size_t>(c.ownerDowns)];
    const Range range{c.date, std::stoi(owner), std::stoi(owner), 1, 999, c.firstNumber};
    const std::vector<Invoice> expected = ExpectedInvoices(range);
    ASSERT_GE(expected.size(), 2u) << "owner " << owner;
    const std::string pdf = (work_ / "out.pdf").string();

    Pane pane;
    ASSERT_TRUE(pane.Start(Session(c.lang, "20260115", pdf)));
    ASSERT_TRUE(pane.WaitForText(c.formPrompt)) << pane.Last();

    // The calendar opens on the session date's quarter, its keys below it
    // ending at the right edge.
    pane.Keys({"C-y", "M-c"});
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      for (const std::string& t : c.calendarShows)
        if (s.find(t) == std::string::npos) return false;
      const std::vector<std::string> rows = Split(s, '\n');
      return rows.size() >= 25 && rows[24].size() > c.calendarKeys.size() &&
             rows[24].compare(rows[24].size() - c.calendarKeys.size(), std::string::npos, c.calendarKeys) == 0;
    })) << pane.Last();
    pane.Keys(c.dayKeys);
    pane.Keys({c.takeDate});
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      return s.find(c.formPrompt + std::string(" ")) != std::string::npos &&
             s.find(c.calendarShows[0]) == std::string::npos && s.find(c.dateShown) != std::string::npos;
    })) << pane.Last();
    pane.Keys({"Enter"});

    // The owner list, on the first and on the last owner field.
    for (const std::string& prompt : {c.firstOwnerPrompt, c.lastOwnerPrompt}) {
      pane.Keys({"F4"});
      ASSERT_TRUE(pane.WaitForText("0001 Puig Serrat*Montserrat")) << prompt << "\n" << pane.Last();
      for (int k = 0; k < c.ownerDowns; ++k) pane.Keys({"Down"});
      pane.Keys({"Enter"});
      ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
        return s.find(prompt + owner) != std::string::npos && s.find("0001 Puig Serrat") == std::string::npos;
      })) << prompt << owner << "\n" << pane.Last();
      EXPECT_FALSE(fs::exists(SessionDir() / "Browse.tmp")) << prompt;
    }

    // The property range keeps its defaults; then the calculator.
    pane.Keys({"Enter", "Enter", "C-y", "M-x"});
    pane.Type(c.sums);
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      const std::vector<std::string> rows = Split(s, '\n');
      return rows.size() >= 24 && rows[23].find(" " + c.display + "  ") != std::string::npos;
    })) << pane.Last();
    pane.Type("f");
    const std::string numberLine = "de factura .... " + std::to_string(c.firstNumber) + " ";
    ASSERT_TRUE(pane.WaitForText(numberLine)) << pane.Last();
    EXPECT_TRUE(fs::exists(SessionDir() / "ZEPCALC.TMP"));
    pane.Keys({"Enter"});

    ASSERT_TRUE(pane.WaitForText(c.confirmation)) << pane.Last();
    pane.Type("S");
    pane.Keys({"Enter"});
    // The run's summary ("TOTAL" in every language) waits for a key.
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      return fs::exists(pdf) && s.find("TOTAL ....") != std::string::npos;
    })) << pane.Last();
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) {
      return fs::exists(pdf) && s.find(c.formPrompt) != std::string::npos &&
             s.find(c.confirmation) == std::string::npos;
    })) << pane.Last();

    // One page per invoice of that owner, numbered on from the calculator's
    // result, each dated with the calendar's day.
    const std::string spool = ReadFile(SessionDir() / "zepprint.tmp");
    ASSERT_FALSE(spool.empty());
    EXPECT_EQ(Count(spool, "PAGE"), static_cast<int>(expected.size()));
    const std::string text = Shell("pdftotext -layout " + Quote(pdf) + " -");
    const std::vector<std::string> pdfPages = Split(text, '\f');
    EXPECT_EQ(Count(text, "\f"), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
      const Invoice& inv = expected[i];
      const std::string section = inv.taxClass == 0 ? "Iva0" : "Iva1";
      const std::string series = IniValue(ini, section, "Serie");
      const std::string page = SpoolPage(spool, static_cast<int>(i) + 1);
      EXPECT_NE(page.find(SpoolLine(17, c.longDate, 3)), std::string::npos) << "page " << i + 1;
      const std::string rate = Euros(100 * std::stod(IniValue(ini, section, "Honoraris")));
      for (const std::string& line : InvoiceLines(inv, series, IniValue(ini, section, "Nom"), rate))
        EXPECT_NE(page.find(line), std::string::npos)
            << "owner " << inv.owner << " property " << inv.property << " misses " << line;
      ASSERT_GT(pdfPages.size(), i);
      EXPECT_NE(pdfPages[i].find(c.longDate), std::string::npos) << pdfPages[i].substr(0, 400);
      EXPECT_NE(pdfPages[i].find("FACTURA " + series + "/" + PadLeft(std::to_string(inv.number), 8, '0')),
                std::string::npos)
          << pdfPages[i].substr(0, 400);
    }

    for (const auto& entry : fs::directory_iterator(SessionDir())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "Sessio.ini" || name == "TarnTerm.ini" || name == "WinPush.tmp" ||
                  name == "zepprint.tmp" || name == "zepprint.out" || name == "zepprint.qr" ||
                  name == "zepprint.msg" || name == "zepprint.fig" || name == "ZEPCALC.TMP")
          << name;
    }
    pane.Keys({"Escape"});
    ASSERT_TRUE(Ended(pane)) << pane.Last();
    EXPECT_EQ(ExitCode(), "0");
    EXPECT_TRUE(fs::is_empty(tmp_));
    ExpectTerminalRestored(pane);
  }
}

}  // namespace

// Without a terminal korvadel cannot show anything: it says so on the error
// stream in the session's language and ends.
TEST(EndToEndNoTerminal, MessageInTheSessionLanguage) {
  const struct {
    const char* language;  // Idioma of the terminal settings; "" for none
    const char* expected;
  } cases[] = {
      {"", "cal un terminal a l'entrada i a la sortida est\u00e0ndard"},
      {"CAT", "cal un terminal a l'entrada i a la sortida est\u00e0ndard"},
      {"SPA", "necesita un terminal en la entrada y la salida est\u00e1ndar"},
      {"GLG", "precisa un terminal na entrada e na sa\u00edda est\u00e1ndar"},
      {"OCI", "cau un terminau ena entrada e ena sortida estandard"},
  };
  for (const auto& c : cases) {
    char pattern[] = "/tmp/korvadel-noterm-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    if (*c.language != '\0') {
      std::ofstream ini(dir / "TarnTerm.ini", std::ios::binary);
      ini << "[Sistema]\r\nIdioma=" << c.language << "\r\n";
    }
    const std::string host = dir.string() + "/";
    int status = -1;
    const std::string said = Shell("(cd " + Quote(host) + " && ZEPROOT=" + Quote(host) + " ZEPTMP=" + Quote(host) +
                                   " " + Quote(kBin + "/korvadel") + " </dev/null 2>&1 >/dev/null)",
                                   &status);
    EXPECT_EQ(status, 0) << c.language;
    EXPECT_NE(said.find(c.expected), std::string::npos) << "language \"" << c.language << "\" gave: " << said;
    fs::remove_all(dir);
  }
}
