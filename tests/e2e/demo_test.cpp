// The demo as a newcomer meets it: ./demo.sh in a copy of the checkout's
// tracked files, in a tmux pane of 80x25, through two invoice runs to its
// exit; and the README's account of the sample office against the CSV files
// the generator wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/pane.h"

namespace fs = std::filesystem;
using e2e::Pane;
using e2e::Quote;
using e2e::ReadFile;
using e2e::Shell;

namespace {

const fs::path kSource = KORVADEL_SOURCE_DIR;




// Rows of a CSV file of install/data/ (no quoted cells), by header name.
std::vector<std::map<std::string, std::string>> ReadCsv(const fs::path& path) {
  std::vector<std::map<std::string, std::string>> rows;
  std::istringstream in(ReadFile(path));
  std::string line, cell;
  std::vector<std::string> header;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::istringstream cellsIn(line);
    while (std::getline(cellsIn, cell, ',')) cells.push_back(cell);
    if (header.empty()) {
      header = cells;
      continue;
    }
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (size_t i = 0; i < header.size() && i < cells.size(); ++i) row[header[i]] = cells[i];
  }
  return rows;
}


// Month count of a YYYYMM... date, for differences.
int MonthIndex(const std::string& date) { return std::stoi(date.substr(0, 4)) * 12 + std::stoi(date.substr(4, 2)) - 1; }

}  // namespace

// Each property's current billing period ends with the first month from the
// newest receipt's on that its period divides (0 counts as 1); paid
// receipts before that period are ones left unbilled. The README names the
// properties that keep them and for how many months.
TEST(SampleOffice, ReadmeNamesThePropertiesThatKeepOlderPaidReceipts) {
  const fs::path data = kSource / "install" / "data";
  std::map<int, int> period;
  for (const auto& p : ReadCsv(data / "FinquesV.csv"))
    period[std::stoi(p.at("PropertyCode"))] = std::max(1, std::stoi(p.at("BillingPeriodMonths")));
  std::map<int, int> oldestPaid;
  int newest = 0;
  for (const auto& r : ReadCsv(data / "CobramV.csv")) {
    const int month = MonthIndex(r.at("ReceiptDate"));
    newest = std::max(newest, month);
    if (r.at("ReceiptState") != "P") continue;
    const int property = std::stoi(r.at("ReceiptUnitKey").substr(0, 4));
    auto [at, added] = oldestPaid.try_emplace(property, month);
    if (!added) at->second = std::min(at->second, month);
  }
  ASSERT_EQ(period.size(), 30u);
  std::set<int> keeping, monthsKept;
  for (const auto& [property, oldest] : oldestPaid) {
    int end = newest % 12 + 1;
    while (end % period.at(property) != 0) ++end;
    if (oldest < newest - newest % 12 + end - period.at(property)) {
      keeping.insert(property);
      monthsKept.insert(newest - oldest + 1);
    }
  }

  std::string readme = ReadFile(kSource / "README.md");
  const size_t section = readme.find("### The sample office");
  ASSERT_NE(section, std::string::npos);
  readme = std::regex_replace(readme.substr(section), std::regex("\\s+"), " ");
  std::smatch said;
  ASSERT_TRUE(std::regex_search(readme, said,
                                std::regex("Propert(?:y|ies) ([0-9, and]+?) ha(?:s|ve) not been billed for (\\w+) months")))
      << "the sentence naming them is gone";
  std::set<int> named;
  const std::string list = said[1];
  const std::regex number("[0-9]+");
  for (std::sregex_iterator n(list.begin(), list.end(), number), end; n != end; ++n)
    named.insert(std::stoi(n->str()));
  EXPECT_EQ(named, keeping) << said[0];
  const std::vector<std::string> words = {"one", "two",   "three", "four", "five",   "six",
                                          "seven", "eight", "nine",  "ten",  "eleven", "twelve"};
  const auto word = std::find(words.begin(), words.end(), said[2].str());
  EXPECT_EQ(monthsKept, std::set<int>{static_cast<int>(word - words.begin()) + 1}) << said[0];
}

// A copy of the tracked files carrying a build folder of another checkout
// and a PDF of an earlier session: the demo builds afresh, shows its
// progress on one line, moves the PDF aside, and on leaving lists both
// outputs of its two runs.
TEST(Demo, RunsFromACopyOfTheCheckout) {
  int status = 0;
  Shell("git -C " + Quote(kSource.string()) + " rev-parse --git-dir", &status);
  // The files git tracks; outside a checkout, the tree less what builds and
  // runs leave in it.
  const std::string files =
      status == 0 ? "git -C " + Quote(kSource.string()) + " ls-files -z"
                  : "cd " + Quote(kSource.string()) +
                        " && find . -path './build*' -prune -o -path './demo-root' -prune -o -path './.git' -prune"
                        " -o -type f -print0";
  const fs::path work = fs::temp_directory_path() / ("korvadel-demo-" + std::to_string(getpid()));
  struct Removal {
    fs::path path;
    ~Removal() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } removal{work};
  const fs::path copy = work / "korvadel";
  fs::create_directories(copy / "build-demo");
  fs::create_directories(copy / "demo-root");
  const std::string copied =
      Shell(files + " | tar -C " + Quote(kSource.string()) +
                " --null --ignore-failed-read -T - -cf - | tar -C " + Quote(copy.string()) + " -xf -",
            &status);
  ASSERT_EQ(status, 0) << copied;
  std::ofstream(copy / "build-demo" / "CMakeCache.txt") << "CMAKE_HOME_DIRECTORY:INTERNAL=/elsewhere/korvadel\n";
  std::ofstream(copy / "build-demo" / "from-elsewhere") << "";
  std::ofstream(copy / "demo-root" / "factures-2.pdf") << "earlier";

  Pane pane(true);
  ASSERT_TRUE(pane.Start("cd " + Quote(copy.string()) + " && unset KORVADEL_BUILD_DIR && ./demo.sh; " +
                         "echo DEMO-EXIT=$?; sleep 600"));
  // The build takes what it takes (minutes on two shared cores; its time is
  // shown by bench/demo/run.sh): the test waits for the first form or for
  // the demo's end, whichever comes.
  ASSERT_TRUE(pane.WaitFor(
      [](const std::string& screen) {
        return screen.find("Data de les factures") != std::string::npos ||
               screen.find("DEMO-EXIT=") != std::string::npos;
      },
      -1));
  ASSERT_NE(pane.Last().find("Data de les factures"), std::string::npos) << pane.Last();

  // Two runs on the offered values: the README's keys. The second, of the
  // same date, names what the register holds for the month, and bills it
  // again only when the user says so twice.
  for (int run = 1; run <= 2; ++run) {
    for (int field = 0; field < 6; ++field) pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("Voleu emetre les factures?")) << pane.Last();
    pane.Keys({"S"});
    pane.Keys({"Enter"});
    if (run == 2) {
      ASSERT_TRUE(pane.WaitForText("JA ES VAN FACTURAR")) << pane.Last();
      pane.Keys({"S"});
      pane.Keys({"Enter"});
      ASSERT_TRUE(pane.WaitForText("DUES VEGADES")) << pane.Last();
      pane.Keys({"S"});
      pane.Keys({"Enter"});
    }
    // The owners' mandates are kept: the first run's invoices go into a
    // remittance, the second's (billed again) do not.
    ASSERT_TRUE(pane.WaitForText("REMESA DE DOMICILIACI")) << pane.Last();
    pane.Keys({run == 1 ? "S" : "N"});
    ASSERT_TRUE(pane.WaitForText("TOTAL ....")) << pane.Last();
    if (run == 1) {
      EXPECT_NE(pane.Last().find("REMESA DE DOMICILIACIÓ (REBUTS: "), std::string::npos) << pane.Last();
    }
    pane.Keys({"Enter"});
    ASSERT_TRUE(pane.WaitForText("Data de les factures")) << pane.Last();
  }
  pane.Keys({"Escape"});
  ASSERT_TRUE(pane.WaitForText("DEMO-EXIT=")) << pane.Last();
  const std::string& screen = pane.Last();
  EXPECT_NE(screen.find("DEMO-EXIT=0"), std::string::npos) << screen;

  const std::string root = (copy / "demo-root").string();
  EXPECT_NE(screen.find("Les factures d'aquesta sessió són a:\n  " + root + "/factures.pdf\n  " + root +
                        "/factures-2.pdf\n"),
            std::string::npos)
      << screen;
  // The build's progress stayed on one line and came to its end.
  std::istringstream lines(screen);
  std::vector<std::string> progress;
  for (std::string line; std::getline(lines, line);)
    if (line.find("%] ") != std::string::npos) progress.push_back(line);
  ASSERT_EQ(progress.size(), 1u) << screen;
  EXPECT_EQ(progress[0].rfind("[100%] ", 0), 0u) << screen;

  EXPECT_FALSE(fs::exists(copy / "build-demo" / "from-elsewhere"));
  std::set<std::string> programs;
  for (const auto& entry : fs::directory_iterator(copy / "build-demo" / "bin"))
    if (!entry.is_symlink()) programs.insert(entry.path().filename().string());
  EXPECT_EQ(programs, (std::set<std::string>{"brovex", "korvadel", "recman", "zepfact", "zepmenu", "zepprint"}));

  // The register works in the not-sending mode: every record signed with
  // the certificate the demo made, the event log sound.
  const std::string verified = Shell(Quote((copy / "build-demo" / "bin" / "zepfact").string()) + " --root " +
                                         Quote(root + "/") + " verify 2>&1",
                                     &status);
  EXPECT_EQ(status, 0) << verified;
  EXPECT_NE(verified.find("Registres, firmes i esdeveniments correctes"), std::string::npos) << verified;

  // The remittance holds the owners with a valid mandate, and validates.
  std::vector<fs::path> remittances;
  for (const auto& entry : fs::directory_iterator(copy / "demo-root" / "REMESES")) remittances.push_back(entry.path());
  ASSERT_EQ(remittances.size(), 1u);
  const std::string pain = ReadFile(remittances[0]);
  EXPECT_NE(pain.find("<SeqTp>FRST</SeqTp>"), std::string::npos) << pain;
  EXPECT_EQ(Shell("xmllint --noout --schema " + Quote((kSource / "tests/data/iso20022/pain.008.001.02.xsd").string()) +
                      " " + Quote(remittances[0].string()) + " 2>&1",
                  &status),
            remittances[0].string() + " validates\n");

  // The earlier session's PDF is kept aside, under the root.
  std::vector<fs::path> aside;
  for (const auto& entry : fs::recursive_directory_iterator(copy / "demo-root" / "ANTERIORS"))
    if (entry.is_regular_file()) aside.push_back(entry.path());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside[0].filename(), "factures-2.pdf");
  EXPECT_EQ(ReadFile(aside[0]), "earlier");
}
