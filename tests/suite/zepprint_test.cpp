// The print program: spool lines in, pages out; and the program itself run
// on spool files in a temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/iban.h"
#include "suite/zepprint/output.h"
#include "suite/zepprint/page_files.h"
#include "suite/zepprint/spool_reader.h"
#include "suite/zepprint/stationery.h"

// LeakSanitizer's hook for suppressions (used in sanitizer builds only):
// libxml2 keeps the values of entities declared in a drawing that librsvg
// refuses (the "entities expanding without end" case below).
extern "C" const char* __lsan_default_suppressions() { return "leak:xmlParseEntityValue\n"; }

#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

// One text item line as the module writes it.
std::string Item(int column, const std::string& text, int advance) {
  auto number = [](int v) { return (v < 0 ? "-" : " ") + std::to_string(v < 0 ? -v : v) + " "; };
  return number(column) + "," + text + "," + number(advance);
}

// The lines of one invoice page, laid out as the fee-invoice run writes it.
std::vector<std::string> InvoicePage(const std::string& number, const std::string& total,
                                     const std::string& owner) {
  return {
      "PAGE 24 ", "*@e", Item(9, "FACTURA", 0), Item(17, number, 0), Item(32, "GIRONA", 0),
      "JUSD", Item(67, total + " EUR", 0), Item(91, "FINCA", 1), Item(92, "007V", 1),
      Item(17, "31 DE MAIG DE 2024", 3),
      Item(22, "HONORARIS ADMINISTRACI\xe0", 0), "JUSD", Item(66, "     1.000'00 ", 1),
      Item(22, "IVA 21.00 % s/1.000'00", 0), Item(66, "       210'00 ", 1),
      Item(22, "RETENCI\xe0 HONORARIS 15.00 % s/1.000'00", 0), "JUSD",
      Item(66, "       150'00 ", 1),
      Item(0, "", 3), Item(17, "COMUNITAT PL\x80\x41 DEL VI", 2),
      "JUSD", Item(32, "N.I.F. ESB17000001      ", 1), Item(17, owner, 1),
      Item(17, "C/ Nou, 3, 1r", 1), Item(17, "17001", 1), Item(17, "GIRONA", 0),
      Item(61, "GESTI\xe0 L\xfa\x41LZINA", 1), Item(61, "N.I.F. ES40000001X", 1),
  };
}

std::string Join(const std::vector<std::string>& lines, const std::string& end) {
  std::string out;
  for (const std::string& line : lines) out += line + end;
  return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The invoice above as text: 0-based column = spool column - 1.
const std::string InvoiceText =
    "        FACTURA A/00000010     GIRONA                             ****1.060'00 EUR        FINCA\n"
    "                                                                                           007V\n"
    "                31 DE MAIG DE 2024\n"
    "\n"
    "\n"
    "                     HONORARIS ADMINISTRACI\xc3\x93                          1.000'00\n"
    "                     IVA 21.00 % s/1.000'00                             210'00\n"
    "                     RETENCI\xc3\x93 HONORARIS 15.00 % s/1.000'00              150'00\n"
    "\n"
    "\n"
    "\n"
    "                COMUNITAT PL\xc3\x87" "A DEL VI\n"
    "\n"
    "                               N.I.F. ESB17000001\n"
    "                Pe\xc3\xb1" "a Mart\xc3\xad, Jordi\n"
    "                C/ Nou, 3, 1r\n"
    "                17001\n"
    "                GIRONA                                      GESTI\xc3\x93 L\xc2\xb7" "ALZINA\n"
    "                                                            N.I.F. ES40000001X\n";

struct ReaderCase {
  const char* name;
  std::vector<std::string> lines;
  std::string text;  // pages joined by "\f"
  int pages;
  int skipped;
  int cut;
};

TEST(SpoolReader, SpoolLinesBecomeTextPages) {
  const std::string cols96 = std::string(95, '.') + "|";
  const std::vector<ReaderCase> cases = {
      {"invoice page", InvoicePage("A/00000010", "****1.060'00", "Pe\xa4\x61 Mart\xa1, Jordi"),
       InvoiceText, 1, 0, 0},
      {"each PAGE line starts a page", {"PAGE 2 ", Item(1, "a", 0), "PAGE 2 ", Item(1, "b", 0)},
       "a\n\fb\n", 2, 0, 0},
      {"column 1 is the left edge", {"PAGE 3 ", Item(1, "a", 0), Item(96, "z", 1)},
       "a" + std::string(94, ' ') + "z\n", 1, 0, 0},
      {"column 0 continues after the previous item",
       {"PAGE 3 ", Item(5, "ab", 0), Item(0, "cd", 0), Item(0, "", 0), Item(0, "e", 1), Item(0, "f", 1)},
       "    abcde\nf\n", 1, 0, 0},
      {"empty item with a column moves the position",
       {"PAGE 3 ", Item(10, "", 0), Item(0, "x", 1)}, "         x\n", 1, 0, 0},
      {"right-justified amounts end where unjustified ones do",
       {"PAGE 4 ", "JUSD", Item(66, "      1.000'00 ", 1), Item(66, "         10'00-", 1),
        "JUSD", Item(66, "         10'00-", 1)},
       std::string(71, ' ') + "1.000'00\n" + std::string(74, ' ') + "10'00-\n" +
           std::string(74, ' ') + "10'00-\n",
       1, 0, 0},
      {"centred text inside its width, next item plain again",
       {"PAGE 2 ", "JUSC", Item(1, "  ab      ", 1), Item(1, "  ab      ", 1)},
       "    ab\n  ab\n", 1, 0, 0},
      {"unknown justification is skipped and plain",
       {"PAGE 2 ", "JUSQ", Item(1, "a", 1), "JUS", Item(1, "b", 1)}, "a\nb\n", 1, 2, 0},
      {"blanks do not erase earlier characters",
       {"PAGE 1 ", Item(1, "abcdef", 0), Item(2, "X  Y", 0)}, "aXcdYf\n", 1, 0, 0},
      {"text beyond column 96 is cut and counted",
       {"PAGE 3 ", Item(90, "1234567890", 1), Item(200, "far", 1), Item(1, cols96 + "x", 1)},
       std::string(89, ' ') + "1234567\n\n" + cols96 + "\n", 1, 0, 3},
      {"lines past the page end start a page of the same length",
       {"PAGE 2 ", Item(1, "a", 1), Item(1, "b", 1), Item(1, "c", 5), Item(1, "d", 0)},
       "a\nb\n\fc\n\fd\n", 3, 0, 0},
      {"moving up stops at the top",
       {"PAGE 3 ", Item(1, "a", 2), Item(0, "", -9), Item(3, "b", 0)}, "a b\n", 1, 0, 0},
      {"an item before any page starts one",
       {Item(1, "a", 0)}, "a\n", 1, 0, 0},
      {"bad page lengths are skipped, the page still starts",
       {"PAGE 0 ", Item(1, "a", 70), Item(1, "b", 0), "PAGE 99999999999 ", Item(1, "c", 0),
        "PAGE x", "PAGE-2 "},
       "a\n\fb\n\fc\n\f\f", 5, 4, 0},
      {"garbage lines are skipped and counted",
       {"PAGE 2 ", "hello", "", std::string("\x00\x01\xff,,", 5), " 1 ,no end", "1,a,b",
        " 99999999999 ,a, 1 ", " 1 ,a, 99999 ", "-1 ,a, 0 ", " 1 ,ok, 0 "},
       "ok\n", 1, 8, 0},
      {"control bytes in a damaged item print as blanks",
       {"PAGE 1 ", Item(1, std::string("a\tb\x7f" "c", 5), 0)}, "a b c\n", 1, 0, 0},
      {"directives draw nothing", {"PAGE 1 ", "*@e", "*XYZ", "*", Item(1, "a", 0)}, "a\n", 1, 0, 0},
      {"code page letters", {"PAGE 1 ", Item(1, "\xa5\x80\xfa\xd5\xe0\x85\x87", 0)},
       "\xc3\x91\xc3\x87\xc2\xb7\xe2\x82\xac\xc3\x93\xc3\xa0\xc3\xa7\n", 1, 0, 0},
      {"CR LF and LF line ends alike", {"PAGE 1 \r", Item(1, "a", 0) + "\r"}, "a\n", 1, 0, 0},
      {"commas inside the text", {"PAGE 1 ", Item(1, "C/ Major, 5, 2n", 0)}, "C/ Major, 5, 2n\n", 1, 0, 0},
      {"no lines, no pages", {}, "", 0, 0, 0},
  };
  for (const ReaderCase& c : cases) {
    std::string text;
    int emitted = 0;
    SpoolReader reader([&](const GridPage& page) {
      if (emitted++ > 0) text += '\f';
      text += PageText(page);
    });
    for (const std::string& line : c.lines) reader.Feed(line);
    reader.Finish();
    EXPECT_EQ(text, c.text) << c.name;
    EXPECT_EQ(reader.Totals().pages, c.pages) << c.name;
    EXPECT_EQ(reader.Totals().skipped, c.skipped) << c.name;
    EXPECT_EQ(reader.Totals().cut, c.cut) << c.name;
  }
}

TEST(SpoolReader, InvoiceDirectivesAreCounted) {
  SpoolReader reader([](const GridPage&) {});
  for (const std::string& line : Concat(InvoicePage("1", "1", "X"), InvoicePage("2", "2", "Y")))
    reader.Feed(line);
  reader.Finish();
  EXPECT_EQ(reader.Totals().invoices, 2);
  EXPECT_EQ(reader.Totals().pages, 2);
}

// ---- the program

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// What zbarimg decodes from a PNG file, without its trailing line ends.
std::string DecodedQr(const std::string& png) {
  std::string decoded;
  if (FILE* pipe = ::popen(("zbarimg --raw -q '" + png + "' 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) decoded.append(buffer, got);
    ::pclose(pipe);
  }
  while (!decoded.empty() && decoded.back() == '\n') decoded.pop_back();
  return decoded;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.emplace();
    dir_ = root_->Dir();
    dir_.pop_back();
  }
  void TearDown() override { root_.reset(); }
  // Runs the program in dir_ with ZEPTMP = zeptmp (and the extra variables),
  // after the shell commands of shellPrefix, with the arguments args;
  // returns its exit code, keeps its output.
  int Run(const std::string& zeptmp, const std::string& extra = "", const std::string& shellPrefix = "",
          const std::string& args = "") {
    const std::string command = "cd '" + dir_ + "' && " + shellPrefix + " env ZEPTMP='" + zeptmp +
                                "' " + extra + " '" ZEPPRINT_PROGRAM "' " + args + " > out 2> err";
    int status = std::system(command.c_str());
    out_ = ReadAll(dir_ + "/out");
    err_ = ReadAll(dir_ + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::optional<TempRoot> root_;
  std::string dir_, out_, err_;  // dir_: root_'s folder without the final "/"
};

struct RunCase {
  const char* name;
  std::string spool;       // written to <dir>/tmp/zepprint.tmp unless "-"
  std::string tmpSuffix;   // how ZEPTMP ends
  int exitCode;
  std::string output;      // file expected afterwards, relative to dir ("" none)
  std::string outputText;  // its exact content for a text output
  std::string message;     // text the one line of output must hold
};

TEST_F(Program, SpoolFilesInOutputsOut) {
  const std::string invoice =
      Join(InvoicePage("A/00000010", "****1.060'00", "Pe\xa4\x61 Mart\xa1, Jordi"), "\r\n");
  const std::vector<RunCase> cases = {
      {"text pages", "DEVICEinv.txt\r\n" + invoice, "/", 0, "tmp/inv.txt", InvoiceText,
       "1 p\xc3\xa0gina escrita a inv.txt"},
      {"two pages with a form feed", "DEVICEtwo.TXT\r\n" + invoice + invoice, "\\", 0,
       "tmp/two.TXT", InvoiceText + "\f" + InvoiceText, "2 p\xc3\xa0gines"},
      {"suite path with backslashes", "DEVICEsub\\inv.txt\r\n" + invoice, "", 0, "tmp/sub/inv.txt",
       InvoiceText, "sub/inv.txt"},
      {"PDF in the temporary directory", "DEVICEPDF\r\n" + invoice, "/", 0, "tmp/zepprint.pdf",
       "", "tmp/zepprint.pdf"},
      {"named PDF", "DEVICE  out.Pdf \r\n" + invoice, "/", 0, "tmp/out.Pdf", "", "out.Pdf"},
      {"host file name with accents", "DEVICEfactures-\xc3\xa9s.txt\r\n" + invoice, "/", 0,
       "tmp/factures-\xc3\xa9s.txt", InvoiceText, "escrita a factures-\xc3\xa9s.txt"},
      {"unknown device with accents", "DEVICEimpressi\xc3\xb3\r\n" + invoice, "/", 0, "tmp/zepprint.pdf", "",
       "dispositiu desconegut \"impressi\xc3\xb3\""},
      {"missing directory with accents", "DEVICEno-s\xc3\xb3" "c/x.txt\r\n" + invoice, "/", 1, "", "",
       "No es pot escriure no-s\xc3\xb3" "c/x.txt"},
      {"no DEVICE line", invoice, "/", 0, "tmp/zepprint.pdf", "", "(sense l\xc3\xadnia DEVICE, sortida en PDF)"},
      {"unknown device", "DEVICELPT1\r\n" + invoice, "/", 0, "tmp/zepprint.pdf", "",
       "dispositiu desconegut \"LPT1\""},
      {"damaged lines counted", "DEVICEd.txt\r\nPAGE 2 \r\n\x01\x02garbage\r\n 1 ,a, 0 \r\nPAGE\r\n",
       "/", 0, "tmp/d.txt", "a\n\f", "2 l\xc3\xadnies no reconegudes"},
      {"one damaged line, one cut item",
       "DEVICEd.txt\r\nPAGE 2 \r\n?\r\n 95 ,abc, 0 \r\n", "/", 0, "tmp/d.txt", "                                                                                              ab\n",
       "(1 l\xc3\xadnia no reconeguda; 1 text tallat a la columna 96)"},
      {"binary garbage", "DEVICEg.txt\r\n" + std::string("\x00\xff\x1b[2J\n\n\n,,,\r\r", 14),
       "/", 0, "tmp/g.txt", "", "4 l\xc3\xadnies"},
      {"empty spool file", "", "/", 0, "tmp/zepprint.pdf", "", "0 p\xc3\xa0gines"},
      {"missing spool file", "-", "/", 1, "", "", "No es pot llegir el fitxer d'impressi\xc3\xb3"},
      {"PDF directory missing", "DEVICEnowhere/x.pdf\r\n" + invoice, "/", 1, "", "",
       "No es pot escriure nowhere/x.pdf"},
      {"output directory missing", "DEVICEnowhere/x.txt\r\n" + invoice, "/", 1, "", "",
       "No es pot escriure nowhere/x.txt"},
  };
  for (const RunCase& c : cases) {
    fs::remove_all(dir_ + "/tmp");
    fs::create_directories(dir_ + "/tmp/sub");
    if (c.spool != "-") WriteAll(dir_ + "/tmp/zepprint.tmp", c.spool);
    // The output paths of the DEVICE line are relative to the working
    // directory, which is the temporary directory here.
    const std::string command_dir = dir_;
    dir_ += "/tmp";
    const int code = Run(command_dir + "/tmp" + c.tmpSuffix);
    dir_ = command_dir;
    EXPECT_EQ(code, c.exitCode) << c.name << "\n" << out_ << err_;
    const std::string said = code == 0 ? out_ : err_;
    EXPECT_NE(said.find(c.message), std::string::npos) << c.name << ": " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << c.name << ": " << said;
    if (!c.output.empty()) {
      ASSERT_TRUE(fs::exists(dir_ + "/" + c.output)) << c.name;
      if (c.output.find(".pdf") == std::string::npos && c.output.find(".Pdf") == std::string::npos)
        EXPECT_EQ(ReadAll(dir_ + "/" + c.output), c.outputText) << c.name;
      else
        EXPECT_EQ(ReadAll(dir_ + "/" + c.output).substr(0, 5), "%PDF-") << c.name;
    }
  }
}

// Every file in a folder, by name.
std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(Program, FailedWritesKeepTheEarlierFile) {
  // A file size limit makes every write past 10 KB fail (EFBIG, the signal
  // ignored) as a full disk would: the output is not complete, so the file
  // from before stays, no partial file is left and the run fails.
  std::string spool;
  for (int i = 0; i < 60; ++i) spool += Join(InvoicePage(std::to_string(i), "1", "X"), "\r\n");
  struct Case {
    const char* name;
    std::string device;
    std::string target;  // in the temporary directory
  };
  const std::vector<Case> cases = {
      {"named PDF", "factures.pdf", "factures.pdf"},
      {"PDF in the temporary directory", "PDF", "zepprint.pdf"},
      {"text file", "factures.txt", "factures.txt"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ + "/t");
    fs::create_directories(dir_ + "/t");
    WriteAll(dir_ + "/t/zepprint.tmp", "DEVICE" + c.device + "\r\n" + spool);
    WriteAll(dir_ + "/t/" + c.target, "EARLIER");
    const std::string saved = dir_;
    dir_ += "/t";
    const int code = Run(saved + "/t/", "", "trap '' XFSZ && ulimit -f 20 &&");
    dir_ = saved;
    EXPECT_EQ(code, 1) << c.name << ": " << out_ << err_;
    EXPECT_NE(err_.find("No es pot escriure "), std::string::npos) << c.name << ": " << err_;
    EXPECT_NE(err_.find(c.target), std::string::npos) << c.name << ": " << err_;
    EXPECT_EQ(ReadAll(dir_ + "/t/" + c.target), "EARLIER") << c.name;
    std::vector<std::string> kept = {"err", "out", c.target, "zepprint.tmp"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(FilesIn(dir_ + "/t"), kept) << c.name;
  }
}

TEST_F(Program, NamedPdfIsNeverOverwritten) {
  // Files there before the run keep their content; the run writes the first
  // free name, says so, and names it in the result file zepprint.out.
  const std::string invoice = Join(InvoicePage("1", "1", "X"), "\r\n");
  struct Case {
    const char* name;
    std::string device;
    std::vector<std::string> before;  // files in the temporary directory, content "EARLIER"
    std::string written;              // "" when the run fails
    std::string said;
  };
  const std::vector<Case> cases = {
      {"free name", "factures.pdf", {}, "factures.pdf", "escrita a factures.pdf"},
      {"taken name", "factures.pdf", {"factures.pdf"}, "factures-2.pdf", "escrita a factures-2.pdf"},
      {"two taken", "factures.pdf", {"factures.pdf", "factures-2.pdf"}, "factures-3.pdf", "factures-3.pdf"},
      {"dots in the name", "f.2024.PDF", {"f.2024.PDF"}, "f.2024-2.PDF", "f.2024-2.PDF"},
      {"a folder in the way", "factures.pdf", {"factures.pdf/"}, "factures-2.pdf", "factures-2.pdf"},
      {"each print of a session keeps its own PDF", "PDF", {"zepprint.pdf"}, "zepprint-2.pdf", "zepprint-2.pdf"},
      {"text file is replaced", "factures.txt", {"factures.txt"}, "factures.txt", "factures.txt"},
      {"failed run leaves no result", "no/factures.pdf", {}, "", "No es pot escriure no/factures.pdf"},
      {"printer leaves no result", "LP:x", {}, "", "No es pot enviar"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ + "/t");
    fs::create_directories(dir_ + "/t");
    WriteAll(dir_ + "/t/zepprint.tmp", "DEVICE" + c.device + "\r\n" + invoice);
    WriteAll(dir_ + "/t/zepprint.out", "stale\n");
    for (const std::string& file : c.before) {
      if (file.back() == '/')
        fs::create_directories(dir_ + "/t/" + file);
      else
        WriteAll(dir_ + "/t/" + file, "EARLIER");
    }
    const std::string saved = dir_;
    dir_ += "/t";
    const int code = Run(saved + "/t/", "PATH=/nonexistent");
    dir_ = saved;
    EXPECT_EQ(code, c.written.empty() ? 1 : 0) << c.name << ": " << out_ << err_;
    EXPECT_NE((out_ + err_).find(c.said), std::string::npos) << c.name << ": " << out_ << err_;
    const bool replaced = c.device == "factures.txt";
    for (const std::string& file : c.before) {
      if (file.back() != '/' && !replaced) {
        EXPECT_EQ(ReadAll(dir_ + "/t/" + file), "EARLIER") << c.name;
      }
    }
    if (c.written.empty()) {
      EXPECT_FALSE(fs::exists(dir_ + "/t/zepprint.out")) << c.name;
      continue;
    }
    EXPECT_NE(ReadAll(dir_ + "/t/" + c.written), "EARLIER") << c.name;
    const std::string expected = c.device == "PDF" ? dir_ + "/t/" + c.written : c.written;
    EXPECT_EQ(ReadAll(dir_ + "/t/zepprint.out"), expected + "\n") << c.name;
  }
}

TEST_F(Program, RunEndedPartWayLeavesTheEarlierFile) {
  // Ended by SIGTERM part way, once it says through its progress pipe that
  // its first page is done: the target is still the earlier file, never a
  // part, and no temporary file is left.
  std::string spool = "DEVICEfactures.pdf\r\n";
  for (int i = 0; i < 3000; ++i) spool += Join(InvoicePage(std::to_string(i), "1", "X"), "\r\n");
  fs::create_directories(dir_ + "/t");
  WriteAll(dir_ + "/t/zepprint.tmp", spool);
  WriteAll(dir_ + "/t/factures.pdf", "EARLIER");
  const std::string pipe = dir_ + "/progress";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string command = "cd '" + dir_ + "/t' && { ZEPTMP='" + dir_ + "/t/' ZEPPROGRESS=3 '" ZEPPRINT_PROGRAM
                              "' > /dev/null 2>&1 3>'" + pipe + "' & pid=$!; exec 4<'" + pipe +
                              "'; read -r page <&4; kill -TERM $pid; wait $pid; exec 4<&-; }";
  static_cast<void>(std::system(command.c_str()));
  EXPECT_EQ(ReadAll(dir_ + "/t/factures.pdf"), "EARLIER");
  EXPECT_EQ(FilesIn(dir_ + "/t"), (std::vector<std::string>{"factures.pdf", "zepprint.tmp"}));
}

// A word of the PDF as pdftotext -bbox reports it.
struct Word {
  int page;
  double xMin, yMin, xMax, yMax;
  std::string text;
};

std::vector<Word> Words(const std::string& bbox) {
  std::vector<Word> words;
  int page = -1;
  std::istringstream in(bbox);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("<page ") != std::string::npos) ++page;
    Word word{page, 0, 0, 0, 0, ""};
    if (std::sscanf(line.c_str(), " <word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &word.xMin,
                    &word.yMin, &word.xMax, &word.yMax) != 4)
      continue;
    size_t open = line.find('>');
    size_t close = line.rfind("</word>");
    std::string text = line.substr(open + 1, close - open - 1);
    // pdftotext writes the text as HTML.
    const std::vector<std::pair<std::string, std::string>> entities = {
        {"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities)
      for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at))
        text.replace(at, entity.size(), plain);
    word.text = text;
    words.push_back(word);
  }
  return words;
}

TEST_F(Program, PdfReadsBackWithEverythingInPlace) {
  fs::create_directories(dir_ + "/t");
  WriteAll(dir_ + "/t/zepprint.tmp",
           "DEVICEPDF\r\n" +
               Join(InvoicePage("A/00000010", "****1.060'00", "Pe\xa4\x61 Mart\xa1, Jordi"), "\r\n") +
               Join(InvoicePage("B/00000011", "******20'00", "Soler \x80\x61ld\xd5"), "\r\n"));
  ASSERT_EQ(Run(dir_ + "/t/"), 0) << err_;
  const std::string pdf = dir_ + "/t/zepprint.pdf";

  // The text as a reader sees it: number, total and owner on their lines.
  ASSERT_EQ(std::system(("pdftotext -layout '" + pdf + "' '" + dir_ + "/t/p.txt'").c_str()), 0);
  const std::string layout = ReadAll(dir_ + "/t/p.txt");
  EXPECT_EQ(std::count(layout.begin(), layout.end(), '\f'), 2);
  const std::vector<std::vector<std::string>> sameLine = {
      {"FACTURA", "A/00000010", "GIRONA", "****1.060'00 EUR", "FINCA"},
      {"FACTURA", "B/00000011", "GIRONA", "******20'00 EUR", "FINCA"},
      {"HONORARIS ADMINISTRACI\xc3\x93", "1.000'00"},
      {"Pe\xc3\xb1" "a Mart\xc3\xad, Jordi"},
      {"Soler \xc3\x87" "ald\xe2\x82\xac"},
      {"GIRONA", "GESTI\xc3\x93 L\xc2\xb7" "ALZINA"},
  };
  auto hasLine = [&](const std::vector<std::string>& words) {
    std::istringstream in(layout);
    std::string line;
    while (std::getline(in, line)) {
      size_t from = 0;
      for (const std::string& word : words) {
        from = line.find(word, from);
        if (from == std::string::npos) break;
        from += word.size();
      }
      if (from != std::string::npos) return true;
    }
    return false;
  };
  for (const auto& words : sameLine) EXPECT_TRUE(hasLine(words)) << words[1 % words.size()] << "\n" << layout;

  // Exact places: the grid is calibrated on "FACTURA" (column 9, line 0)
  // and the property code (line 1).
  ASSERT_EQ(std::system(("pdftotext -bbox '" + pdf + "' '" + dir_ + "/t/b.html'").c_str()), 0);
  const std::vector<Word> words = Words(ReadAll(dir_ + "/t/b.html"));
  auto find = [&](int page, const std::string& text) -> const Word* {
    for (const Word& word : words)
      if (word.page == page && word.text == text) return &word;
    return nullptr;
  };
  const Word* factura = find(0, "FACTURA");
  const Word* code = find(0, "007V");
  ASSERT_TRUE(factura != nullptr && code != nullptr);
  const double cell = (factura->xMax - factura->xMin) / 7;
  const double pitch = code->yMin - factura->yMin;
  const double left = factura->xMin - 8 * cell;
  // A4 with a modest margin, the 96 columns filling the width between.
  EXPECT_GT(left, 20.0);
  EXPECT_LT(left, 60.0);
  EXPECT_NEAR(595.276 - (left + 96 * cell), left, 1.0);
  EXPECT_GT(pitch, cell);

  struct Case {
    int page;
    std::string word;
    int column;  // 1-based, as in the spool file
    int line;
  };
  const std::vector<Case> cases = {
      {0, "A/00000010", 17, 0},   {0, "GIRONA", 32, 0},   {0, "****1.060'00", 67, 0},
      {0, "EUR", 80, 0},          {0, "FINCA", 91, 0},    {0, "DE", 20, 2},
      {0, "1.000'00", 71, 5},     {0, "210'00", 73, 6},   {0, "150'00", 73, 7},
      {0, "PL\xc3\x87" "A", 27, 11}, {0, "ESB17000001", 39, 13}, {0, "Pe\xc3\xb1" "a", 17, 14},
      {0, "Jordi", 29, 14},       {0, "17001", 17, 16},   {0, "L\xc2\xb7" "ALZINA", 68, 17},
      {0, "ES40000001X", 68, 18}, {1, "FACTURA", 9, 0},   {1, "B/00000011", 17, 0},
      {1, "******20'00", 67, 0},  {1, "\xc3\x87" "ald\xe2\x82\xac", 23, 14},
  };
  for (const Case& c : cases) {
    const Word* word = find(c.page, c.word);
    ASSERT_NE(word, nullptr) << c.word;
    EXPECT_NEAR((word->xMin - left) / cell + 1, c.column, 0.2) << c.word;
    EXPECT_NEAR((word->yMin - factura->yMin) / pitch, c.line, 0.05) << c.word;
  }
}

const std::string kCodeUrl =
    "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
    "&numserie=A%2F00000010&fecha=31-03-2024&importe=1060.00";

// What zbarimg reads on the first page of a PDF (rendered at 200 dpi into
// stem + ".png"), without its trailing line end.
std::string DecodedCode(const std::string& pdf, const std::string& stem) {
  if (std::system(("pdftoppm -r 200 -png -f 1 -l 1 -singlefile '" + pdf + "' '" + stem + "'").c_str()) != 0) return "";
  std::string decoded;
  if (FILE* pipe = ::popen(("zbarimg --raw -q '" + stem + ".png' 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) decoded.append(buffer, got);
    ::pclose(pipe);
  }
  while (!decoded.empty() && decoded.back() == '\n') decoded.pop_back();
  return decoded;
}

TEST_F(Program, LanguageAndPrinter) {
  // A stand-in lp that keeps its arguments and its input.
  fs::create_directories(dir_ + "/bin");
  WriteAll(dir_ + "/bin/lp", "#!/bin/sh\necho \"$@\" > " + dir_ + "/lp.args\ncat > " + dir_ +
                                 "/lp.input\nexit ${LP_EXIT:-0}\n");
  fs::permissions(dir_ + "/bin/lp", fs::perms::owner_all);
  const std::string withLp = "PATH='" + dir_ + "/bin:/usr/bin:/bin'";
  const std::string noLp = "PATH='" + dir_ + "/empty'";
  struct Case {
    const char* name;
    std::string language;  // TarnTerm.ini [Sistema] Idioma, "" no file
    std::string device;
    std::string env;
    int exitCode;
    std::string message;
    std::string lpArgs;
  };
  const std::vector<Case> cases = {
      {"printer", "", "LP:oficina", withLp, 0, "1 p\xc3\xa0gina enviada a la impressora oficina",
       "-d oficina\n"},
      {"printer, lower case prefix", "", "lp: sala 2 ", withLp, 0, "impressora sala 2", "-d sala 2\n"},
      {"printer refuses", "", "LP:oficina", withLp + " LP_EXIT=1", 1,
       "No es pot enviar a la impressora oficina (lp)", "-d oficina\n"},
      {"no lp installed", "", "LP:oficina", noLp, 1, "No es pot enviar a la impressora oficina", ""},
      {"no printer name", "", "LP:", withLp, 1, "No es pot enviar a la impressora  (lp)", ""},
      {"Spanish", "SPA", "x.txt", "", 0, "1 p\xc3\xa1gina escrita en x.txt", ""},
      {"Galician", "GLG", "x.txt", "", 0, "1 p\xc3\xa1xina escrita en x.txt", ""},
      {"Occitan", "OCI", "LP:sala", noLp, 1, "Se p\xc3\xb2t pas mandar a l'imprimenta sala", ""},
      {"other language is Catalan", "ENG", "x.txt", "", 0, "1 p\xc3\xa0gina escrita a x.txt", ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ + "/t");
    fs::remove(dir_ + "/lp.args");
    fs::create_directories(dir_ + "/t");
    WriteAll(dir_ + "/t/zepprint.tmp", "DEVICE" + c.device + "\r\n" +
                                           Join(InvoicePage("1", "1", "X"), "\r\n"));
    WriteAll(dir_ + "/t/zepprint.qr", "1\t" + kCodeUrl + "\n");
    if (!c.language.empty())
      WriteAll(dir_ + "/t/TarnTerm.ini", "[Sistema]\r\nIdioma=" + c.language + "\r\n");
    EXPECT_EQ(Run(dir_ + "/t/", c.env), c.exitCode) << c.name << out_ << err_;
    const std::string said = c.exitCode == 0 ? out_ : err_;
    EXPECT_NE(said.find(c.message), std::string::npos) << c.name << ": " << said;
    EXPECT_EQ(ReadAll(dir_ + "/lp.args"), c.lpArgs) << c.name;
    if (c.exitCode == 0 && !c.lpArgs.empty()) {
      // The queue gets the PDF pages, tax code and all.
      fs::copy_file(dir_ + "/lp.input", dir_ + "/t/sent.pdf");
      ASSERT_EQ(std::system(("pdftotext '" + dir_ + "/t/sent.pdf' '" + dir_ + "/t/sent.txt'").c_str()), 0) << c.name;
      EXPECT_NE(ReadAll(dir_ + "/t/sent.txt").find("FACTURA 1"), std::string::npos) << c.name;
      EXPECT_EQ(DecodedCode(dir_ + "/t/sent.pdf", dir_ + "/t/sent"), kCodeUrl) << c.name;
    }
  }
}

// The program takes no arguments: --help shows the usage in the session's
// language, anything else is refused with it and prints nothing.
TEST_F(Program, HelpAndArgumentsItDoesNotTake) {
  struct Case {
    const char* name;
    std::string language, args;
    int exitCode;
    std::string out, err;  // what each stream begins with
  };
  const std::vector<Case> cases = {
      {"help", "", "--help", 0, "\xc3\x9as: zepprint\n", ""},
      {"help in Spanish", "SPA", "-h", 0, "Uso: zepprint\n", ""},
      {"a device on the command line", "", "x.txt", 2, "", "Argument no v\xc3\xa0lid: x.txt\n\xc3\x9as: zepprint\n"},
      {"help and more", "GLG", "--help x.txt", 2, "", "Argumento non v\xc3\xa1lido: --help\nUso: zepprint\n"},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ + "/t");
    fs::create_directories(dir_ + "/t");
    WriteAll(dir_ + "/t/zepprint.tmp", "DEVICEx.txt\r\n" + Join(InvoicePage("1", "1", "X"), "\r\n"));
    if (!c.language.empty()) WriteAll(dir_ + "/t/TarnTerm.ini", "[Sistema]\r\nIdioma=" + c.language + "\r\n");
    EXPECT_EQ(Run(dir_ + "/t/", "", "", c.args), c.exitCode) << c.name << err_;
    EXPECT_EQ(out_.rfind(c.out, 0), 0u) << c.name << ": " << out_;
    EXPECT_EQ(err_.rfind(c.err, 0), 0u) << c.name << ": " << err_;
    if (c.err.empty()) { EXPECT_EQ(err_, "") << c.name; }
    EXPECT_FALSE(fs::exists(dir_ + "/x.txt")) << c.name;
  }
}

TEST_F(Program, SpoolFileThatIsNotARegularFileIsUnreadable) {
  // A pipe with no writer would block an ordinary open for ever.
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"directory", "mkdir"}, {"pipe", "mkfifo"}};
  for (const auto& [name, make] : cases) {
    fs::remove_all(dir_ + "/t");
    fs::create_directories(dir_ + "/t");
    ASSERT_EQ(std::system((make + " '" + dir_ + "/t/zepprint.tmp'").c_str()), 0) << name;
    EXPECT_EQ(Run(dir_ + "/t/", "timeout 10"), 1) << name;
    EXPECT_NE(err_.find("No es pot llegir el fitxer d'impressi\xc3\xb3 " + dir_ + "/t/zepprint.tmp"),
              std::string::npos)
        << name << ": " << err_;
  }
}

// ---- stationery

const std::string kPaperDir = std::string(KORVADEL_SOURCE_DIR) + "/install/IMPRES/";
constexpr double PointsPerMm = 72 / 25.4;

TEST(Stationery, PlaceholdersAreFilledAndEscaped) {
  const Placeholders values = {{"Nom", "Puig & <Fills> \"SL\" l'Olot"}, {"NIF", "{Nom}"}, {"Linia2", "a\x01" "b"}};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<text>{Nom}</text>", "<text>Puig &amp; &lt;Fills&gt; &quot;SL&quot; l&apos;Olot</text>"},
      {"<text a=\"{NIF}\">{NIF}{NIF}</text>", "<text a=\"{Nom}\">{Nom}{Nom}</text>"},
      {"{Linia2}", "a b"},
      {"{Other} {nom} { Nom} {{NIF}} {NIF", "{Other} {nom} { Nom} {{Nom}} {NIF"},
      {"no marks", "no marks"},
  };
  for (const auto& [svg, filled] : cases) EXPECT_EQ(FillPlaceholders(svg, values), filled) << svg;

  // Filled within the bound, never past it: many marks or a long value are
  // refused before the text grows beyond the limit.
  std::string out = "x";
  EXPECT_TRUE(FillPlaceholdersWithin("<t>{Nom}</t>", values, 58, out));
  EXPECT_EQ(out, "<t>Puig &amp; &lt;Fills&gt; &quot;SL&quot; l&apos;Olot</t>");
  EXPECT_FALSE(FillPlaceholdersWithin("<t>{Nom}</t>", values, 57, out));
  EXPECT_EQ(out, "");
  std::string marks;
  for (int i = 0; i < 200000; ++i) marks += "{Nom}";
  EXPECT_FALSE(FillPlaceholdersWithin(marks, values, MaxStationeryBytes, out));
}

// The stationery as pixels at 72 dots per inch.
std::vector<unsigned char> Pixels(const Stationery& paper) {
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 596, 842);
  cairo_t* cr = cairo_create(image);
  paper.DrawUnder(cr);
  cairo_destroy(cr);
  cairo_surface_flush(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  std::vector<unsigned char> pixels(data, data + cairo_image_surface_get_stride(image) * 842);
  cairo_surface_destroy(image);
  return pixels;
}

TEST(Stationery, InstalledPapersKeepTheGridAndTheQrArea) {
  // Every language's paper is made from one drawing: the grid and the QR
  // area are the same in all, in millimetres as the drawing gives them.
  for (const char* name : {"FACTHON", "FACTHON_CAT", "FACTHON_SPA", "FACTHON_GLG", "FACTHON_OCI"}) {
    std::unique_ptr<Stationery> paper;
    ASSERT_EQ(Stationery::Load(kPaperDir + name + ".svg", {}, PageWidth, PageHeight, paper), StationeryLoad::Ok)
        << name;
    ASSERT_TRUE(paper->grid().has_value() && paper->qrArea().has_value()) << name;
    const PageRect grid = *paper->grid();
    const PageRect qr = *paper->qrArea();
    EXPECT_NEAR(grid.x, 12 * PointsPerMm, 0.01) << name;
    EXPECT_NEAR(grid.y, 56 * PointsPerMm, 0.01) << name;
    EXPECT_NEAR(grid.width, 186 * PointsPerMm, 0.01) << name;
    EXPECT_NEAR(grid.height, 192 * PointsPerMm, 0.01) << name;
    // At the top, centred, above the grid.
    EXPECT_NEAR(qr.x + qr.width / 2, PageWidth / 2, 0.01) << name;
    EXPECT_LT(qr.y + qr.height, grid.y) << name;
    EXPECT_GE(qr.width, 25 * PointsPerMm) << name;
  }
}

TEST(Stationery, FiguresFileIsReadLeniently) {
  const std::string longValue(300, 'x');
  const std::map<int32_t, Placeholders> pages = ParseFiguresFile(
      "1\tBase\t114,28\r\n1\tTotal\t121,14 EUR\n2\tPeriode\t\nx\tBase\t1\n0\tBase\t1\n3\t\t1\n3\tBase\n"
      "4\tTotal\t" + longValue + "\n2\tBase\ta\tb");
  const std::map<int32_t, Placeholders> expected = {
      {1, {{"Base", "114,28"}, {"Total", "121,14 EUR"}}},
      {2, {{"Periode", ""}, {"Base", "a\tb"}}},
      {4, {{"Total", longValue.substr(0, MaxFigureBytes)}}},
  };
  EXPECT_EQ(pages, expected);
}

TEST(Stationery, IssuerDetailsComeTrimmedInUtf8) {
  const TempRoot root;
  const std::string dir = root.Dir().substr(0, root.Dir().size() - 1);
  WriteAll(dir + "/Tarn.ini", "[Usuari]\r\nNom=no\r\n[Emissor]\r\nNom=  Puig & <Fills> \"SL\"  \r\nLinia3=C/ Pl\x80\x61, 1\r\n"
                              "NIF=\tB17 \r\nFormaPagament= Transfer\x8a" "ncia \r\nIBAN=es91-2100 0418 450200051332\r\n"
                              "Venciment=30\r\n");
  bool ibanRefused = false;
  const Placeholders values = IssuerPlaceholders(dir + "/Tarn.ini", &ibanRefused);
  const Placeholders expected = {{"Nom", "Puig & <Fills> \"SL\""}, {"Linia2", ""}, {"Linia3", "C/ Pl\xc3\x87" "a, 1"},
                                 {"Linia4", ""}, {"Linia5", ""}, {"NomAlternatiu", ""}, {"NIF", "ESB17"},
                                 {"Poblacio", ""}, {"FormaPagament", "Transfer\xc3\xa8ncia"},
                                 {"IBAN", "ES91 2100 0418 4502 0005 1332"}, {"DiesVenciment", "30"}};
  EXPECT_EQ(values, expected);
  EXPECT_FALSE(ibanRefused);
  // An account that fails its check digits is never printed.
  WriteAll(dir + "/Tarn.ini", "[Emissor]\r\nIBAN=ES91 2100 0418 4502 0005 1333\r\n");
  const Placeholders refused = IssuerPlaceholders(dir + "/Tarn.ini", &ibanRefused);
  EXPECT_TRUE(ibanRefused);
  EXPECT_EQ(refused[9], (std::pair<std::string, std::string>("IBAN", "")));
}

TEST(Iban, ControlDigitsAndPrintedForm) {
  struct Case {
    const char* text;
    bool valid;
    const char* printed;
  };
  const std::vector<Case> cases = {
      {"ES9121000418450200051332", true, "ES91 2100 0418 4502 0005 1332"},
      {" es91 2100-0418-4502-0005-1332 ", true, "ES91 2100 0418 4502 0005 1332"},
      {"ES9121000418450200051333", false, ""},           // last digit changed
      {"ES1921000418450200051332", false, ""},           // control digits swapped
      {"ES82210004184502000513", false, ""},             // right check digits, but a Spanish one is 24 long
      {"ES48210004184502000513321", false, ""},          // and no longer
      {"GB29NWBK60161331926819", true, "GB29 NWBK 6016 1331 9268 19"},
      {"DE89370400440532013000", true, "DE89 3704 0044 0532 0130 00"},
      {"DE89370400440532013001", false, ""},
      {"9121000418450200051332ES", false, ""},           // not country first
      {"ES91 2100 0418 4502 0005 133.", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidIban(c.text), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(PrintedIban(c.text), c.printed) << c.text;
    }
  }
  // As a page shows the account it charges.
  for (const auto& [iban, masked] : {std::pair<const char*, const char*>{"ES9121000418450200051332", "ES91 **** **** **** **** 1332"},
                                     {"GB29NWBK60161331926819", "GB29 **** **** **** **** 19"}}) {
    EXPECT_EQ(MaskedIban(iban), masked);
  }
}

TEST(Stationery, NothingOutsideTheDrawingIsRead) {
  // Each drawing refers to a file beside it in a way SVG allows; it must
  // draw exactly what the same drawing without the reference draws (or be
  // refused), never the file's content.
  const TempRoot root;
  const std::string dir = root.Dir().substr(0, root.Dir().size() - 1);
  WriteAll(dir + "/secret.txt", "SECRETWORD");
  WriteAll(dir + "/defs.dtd", "<!ENTITY s \"SECRETWORD\">");
  WriteAll(dir + "/other.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect id=\"r\" width=\"99\" height=\"99\"/></svg>");
  const std::string head =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
      "xmlns:xi=\"http://www.w3.org/2001/XInclude\" width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\">";
  const std::string file = "file://" + dir;
  std::string laughs = "<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 12; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  struct Case {
    const char* name;
    std::string svg;
    std::string withoutReference;
  };
  const std::vector<Case> cases = {
      {"external entity",
       "<!DOCTYPE svg [<!ENTITY s SYSTEM \"" + file + "/secret.txt\">]>" + head + "<text y=\"20\">A&s;B</text></svg>",
       head + "<text y=\"20\">AB</text></svg>"},
      {"entity of an external DTD", "<!DOCTYPE svg SYSTEM \"" + file + "/defs.dtd\">" + head +
       "<text y=\"20\">A&s;B</text></svg>", head + "<text y=\"20\">AB</text></svg>"},
      {"entities expanding without end", "<!DOCTYPE svg [" + laughs + "]>" + head + "<text y=\"20\">&l12;</text></svg>",
       head + "</svg>"},
      {"included text, absolute and relative",
       head + "<text y=\"20\">C<xi:include href=\"" + file + "/secret.txt\" parse=\"text\"/>D"
              "<xi:include href=\"secret.txt\" parse=\"text\"/>E</text></svg>",
       head + "<text y=\"20\">CDE</text></svg>"},
      {"image and use of other files",
       head + "<image width=\"50\" height=\"50\" xlink:href=\"" + file + "/other.svg\"/>"
              "<use xlink:href=\"other.svg#r\"/><use xlink:href=\"" + file + "/other.svg#r\"/>"
              "<rect x=\"100\" width=\"5\" height=\"5\"/></svg>",
       head + "<rect x=\"100\" width=\"5\" height=\"5\"/></svg>"},
  };
  for (const Case& c : cases) {
    WriteAll(dir + "/paper.svg", c.svg);
    WriteAll(dir + "/control.svg", c.withoutReference);
    std::unique_ptr<Stationery> paper, control;
    ASSERT_EQ(Stationery::Load(dir + "/control.svg", {}, PageWidth, PageHeight, control), StationeryLoad::Ok) << c.name;
    const StationeryLoad loaded = Stationery::Load(dir + "/paper.svg", {}, PageWidth, PageHeight, paper);
    if (loaded == StationeryLoad::Ok)
      EXPECT_TRUE(Pixels(*paper) == Pixels(*control)) << c.name;
    else
      EXPECT_EQ(loaded, StationeryLoad::NotSvg) << c.name;
  }
}

TEST_F(Program, StationeryUnderThePdfPages) {
  fs::create_directories(dir_ + "/root");
  // An issuer name that is not XML: the drawing must still be read.
  WriteAll(dir_ + "/root/Tarn.ini", "[Emissor]\r\nNom=  Puig & <Fills> \"SL\" 'x'  \r\n");
  WriteAll(dir_ + "/text.svg", "this is not a drawing\n");
  WriteAll(dir_ + "/large.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\">" + std::string(MaxStationeryBytes, ' ') +
                                    "</svg>");
  fs::create_directories(dir_ + "/folder.svg");
  const std::string invoice = Join(InvoicePage("A/00000010", "****1.060'00", "Pe\xa4\x61 Mart\xa1, Jordi"), "\r\n");
  struct Case {
    const char* name;
    std::string paper;     // ZEPPAPER
    std::string device;
    std::string language;  // TarnTerm.ini Idioma
    bool drawn;            // the stationery is under the page
    std::string note;      // in the closing line ("" none: no parenthesis at all)
    std::string code = {};  // the tax code named for page 1 in zepprint.qr, read back from the page
  };
  const std::string url =
      "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
      "&numserie=A%2F00000010&fecha=31-03-2024&importe=1060.00";
  const std::string sentUrl =
      "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQR?nif=12345678Z"
      "&numserie=A%2F00000010&fecha=31-03-2024&importe=1060.00";
  const std::vector<Case> cases = {
      {"fee invoice paper", kPaperDir + "FACTHON_CAT.svg", "PDF", "", true, ""},
      {"plain fee invoice paper, named PDF", kPaperDir + "FACTHON.svg", "f.pdf", "", true, ""},
      {"no paper named", "", "PDF", "", false, ""},
      {"missing paper", dir_ + "/none.svg", "PDF", "", false,
       "(sense plantilla: no es pot llegir " + dir_ + "/none.svg)"},
      {"missing paper, Spanish", dir_ + "/none.svg", "PDF", "SPA", false,
       "(sin plantilla: no se puede leer " + dir_ + "/none.svg)"},
      {"folder, Galician", dir_ + "/folder.svg", "PDF", "GLG", false,
       "(sen modelo: non se pode ler " + dir_ + "/folder.svg)"},
      {"not a drawing, Occitan", dir_ + "/text.svg", "PDF", "OCI", false,
       "(sens mod\xc3\xa8l: " + dir_ + "/text.svg es pas un SVG valid)"},
      {"too large", dir_ + "/large.svg", "PDF", "", false,
       "(sense plantilla: " + dir_ + "/large.svg \xc3\xa9s massa gran)"},
      {"with a device note", dir_ + "/text.svg", "LPT1", "", false,
       "(dispositiu desconegut \"LPT1\", sortida en PDF; sense plantilla: " + dir_ +
           "/text.svg no \xc3\xa9s un SVG v\xc3\xa0lid)"},
      {"text output has no paper", kPaperDir + "FACTHON_CAT.svg", "f.txt", "", false, ""},
      {"tax code in the paper's box", kPaperDir + "FACTHON_CAT.svg", "PDF", "", true, "", url},
      {"tax code on plain paper", "", "PDF", "", false, "", url},
      {"sending mode's code, VERI*FACTU under it", "", "PDF", "", false, "", sentUrl},
      {"QR area too small", dir_ + "/smallqr.svg", "PDF", "", false,
       "(sense plantilla: l'\xc3\xa0rea qr de " + dir_ + "/smallqr.svg fa menys de 34 x 39 mm)", url},
      {"text output gives the code's address", "", "f.txt", "SPA", false,
       "(1 factura en texto sin el c\xc3\xb3" "digo QR impreso, consta su direcci\xc3\xb3n)", url},
  };
  WriteAll(dir_ + "/smallqr.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" "
                                  "viewBox=\"0 0 210 297\"><rect id=\"qr\" x=\"10\" y=\"10\" width=\"40\" "
                                  "height=\"38.5\"/></svg>");
  for (const Case& c : cases) {
    fs::remove_all(dir_ + "/t");
    fs::create_directories(dir_ + "/t");
    WriteAll(dir_ + "/t/zepprint.tmp", "DEVICE" + c.device + "\r\n" + invoice);
    if (!c.language.empty()) WriteAll(dir_ + "/t/TarnTerm.ini", "[Sistema]\r\nIdioma=" + c.language + "\r\n");
    if (!c.code.empty()) WriteAll(dir_ + "/t/zepprint.qr", "1\t" + c.code + "\n");
    const std::string saved = dir_;
    dir_ += "/t";
    const int code = Run(saved + "/t/", "ZEPROOT='" + saved + "/root/' ZEPPAPER='" + c.paper + "'");
    dir_ = saved;
    ASSERT_EQ(code, 0) << c.name << ": " << out_ << err_;
    if (c.note.empty()) {
      EXPECT_EQ(out_.find('('), std::string::npos) << c.name << ": " << out_;
    } else {
      EXPECT_NE(out_.find(c.note), std::string::npos) << c.name << ": " << out_;
    }
    if (c.device == "f.txt") {
      EXPECT_EQ(ReadAll(dir_ + "/t/f.txt"), (c.code.empty() ? "" : "QR tributario: " + c.code + "\n\n") + InvoiceText)
          << c.name;
      continue;
    }
    const std::string pdf = dir_ + "/t/" + (c.device == "f.pdf" ? "f.pdf" : "zepprint.pdf");
    // The drawing is one form that every page shows; plain pages have none.
    EXPECT_EQ(ReadAll(pdf).find("/Subtype /Form") != std::string::npos, c.drawn) << c.name;
    ASSERT_EQ(std::system(("pdftotext '" + pdf + "' '" + dir_ + "/t/p.txt'").c_str()), 0) << c.name;
    EXPECT_NE(ReadAll(dir_ + "/t/p.txt").find("FACTURA A/00000010"), std::string::npos) << c.name;
    // Only a code of the sending mode carries the mark.
    EXPECT_EQ(ReadAll(dir_ + "/t/p.txt").find("VERI*FACTU") != std::string::npos, c.code == sentUrl) << c.name;
    // The code on page 1 decodes to what the side file named; none without one.
    ASSERT_EQ(std::system(("pdftoppm -r 200 -png -f 1 -l 1 -singlefile '" + pdf + "' '" + dir_ + "/t/p1'").c_str()),
              0);
    EXPECT_EQ(DecodedQr(dir_ + "/t/p1.png"), c.code) << c.name;
  }
}

// The page rectangle, in points, of the SVG element <rect id="id" x= y=
// width= height= ...> (millimetres on an A4 drawing).
PageRect BoxOf(const std::string& svg, const std::string& id) {
  const size_t at = svg.find("id=\"" + id + "\"");
  PageRect box;
  if (at == std::string::npos ||
      std::sscanf(svg.c_str() + at, "id=\"%*[^\"]\" x=\"%lf\" y=\"%lf\" width=\"%lf\" height=\"%lf\"", &box.x, &box.y,
                  &box.width, &box.height) != 4)
    return {};
  return {box.x * PointsPerMm, box.y * PointsPerMm, box.width * PointsPerMm, box.height * PointsPerMm};
}

// A stationery that takes longer to draw than allowed ends the run with a
// message naming it; the earlier file is kept and nothing is left beside it.
TEST_F(Program, StationeryTooSlowToDrawIsRefused) {
  fs::create_directories(dir_ + "/t");
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\">"
      "<filter id=\"f\" x=\"-10\" y=\"-10\" width=\"20\" height=\"20\"><feMorphology radius=\"300\"/>"
      "<feGaussianBlur stdDeviation=\"400\"/><feMorphology operator=\"dilate\" radius=\"300\"/></filter>";
  for (int i = 0; i < 6; ++i) svg += "<rect width=\"210\" height=\"297\" filter=\"url(#f)\"/>";
  WriteAll(dir_ + "/t/slow.svg", svg + "</svg>");
  WriteAll(dir_ + "/t/zepprint.pdf", "EARLIER");
  WriteAll(dir_ + "/t/zepprint.tmp", "DEVICEPDF\r\n" + Join(InvoicePage("1", "1", "X"), "\r\n"));
  EXPECT_EQ(Run(dir_ + "/t/", "ZEPPAPERMAX=1 ZEPPAPER='" + dir_ + "/t/slow.svg'", "timeout 30"), 1) << err_;
  EXPECT_EQ(err_, "No s'imprimeix: la plantilla " + dir_ + "/t/slow.svg triga m\xc3\xa9s de 1 s a dibuixar-se\n");
  EXPECT_EQ(ReadAll(dir_ + "/t/zepprint.pdf"), "EARLIER");
  for (const auto& entry : fs::directory_iterator(dir_ + "/t"))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(Program, InvoiceItemsLandInTheirBoxes) {
  fs::create_directories(dir_ + "/t");
  WriteAll(dir_ + "/t/zepprint.tmp",
           "DEVICEPDF\r\n" + Join(InvoicePage("A/00000010", "****1.060'00", "Pe\xa4\x61 Mart\xa1, Jordi"), "\r\n"));
  const std::string paper = kPaperDir + "FACTHON_CAT.svg";
  ASSERT_EQ(Run(dir_ + "/t/", "ZEPPAPER='" + paper + "'"), 0) << err_;
  ASSERT_EQ(std::system(("pdftotext -bbox '" + dir_ + "/t/zepprint.pdf' '" + dir_ + "/t/b.html'").c_str()), 0);
  const std::vector<Word> words = Words(ReadAll(dir_ + "/t/b.html"));
  const std::string svg = ReadAll(paper);
  struct Case {
    std::string word;
    std::string box;
  };
  const std::vector<Case> cases = {
      {"FACTURA", "box-number"},      {"A/00000010", "box-number"},   {"GIRONA", "box-number"},
      {"MAIG", "box-number"},         {"****1.060'00", "box-total"},  {"EUR", "box-total"},
      {"FINCA", "box-code"},          {"007V", "box-code"},           {"ADMINISTRACI\xc3\x93", "box-lines"},
      {"1.000'00", "box-lines"},      {"150'00", "box-lines"},        {"PL\xc3\x87" "A", "box-property"},
      {"ESB17000001", "box-recipient"}, {"Pe\xc3\xb1" "a", "box-recipient"}, {"Jordi", "box-recipient"},
      {"17001", "box-recipient"},     {"L\xc2\xb7" "ALZINA", "box-issuer"}, {"ES40000001X", "box-issuer"},
  };
  for (const Case& c : cases) {
    const PageRect box = BoxOf(svg, c.box);
    ASSERT_GT(box.width, 0) << c.box;
    const Word* found = nullptr;
    for (const Word& word : words)
      if (word.text == c.word && word.xMin > box.x && word.xMax < box.x + box.width && word.yMin > box.y &&
          word.yMax < box.y + box.height)
        found = &word;
    EXPECT_NE(found, nullptr) << c.word << " outside " << c.box;
  }

  // The boxes' thin lines (0.3 mm) are on the page: the darkest pixel
  // across the left edge of each box, at 10 pixels a millimetre.
  ASSERT_EQ(std::system(("pdftoppm -r 254 -gray -f 1 -l 1 -singlefile '" + dir_ + "/t/zepprint.pdf' '" + dir_ +
                         "/t/page'").c_str()),
            0);
  const std::string pgm = ReadAll(dir_ + "/t/page.pgm");
  int width = 0, height = 0, depth = 0, header = 0;
  ASSERT_EQ(std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &width, &height, &depth, &header), 3);
  const std::string gray = pgm.substr(static_cast<size_t>(header) + 1);
  for (const char* id : {"box-number", "box-lines", "box-property", "box-recipient", "box-issuer"}) {
    const PageRect box = BoxOf(svg, id);
    const int y = static_cast<int>((box.y + box.height / 2) / PointsPerMm * 10);
    const int x = static_cast<int>(box.x / PointsPerMm * 10);
    unsigned char darkest = 255;
    for (int dx = -5; dx <= 5; ++dx)
      darkest = std::min(darkest, static_cast<unsigned char>(gray[static_cast<size_t>(y * width + x + dx)]));
    EXPECT_LT(darkest, 160) << id;
  }
}

// Pages named in zepprint.pag are also written each as a PDF of its own,
// with that page's tax code, whatever the run's device; the run's output
// is unchanged, and a page file that cannot be written is a note, not a
// failure.
TEST_F(Program, NamedPagesAlsoGoEachToAPdfOfItsOwn) {
  const std::map<int32_t, std::string> parsed =
      ParsePageFiles("1\t/a/A-1.pdf\r\n3\t/a/b c.pdf\n0\t/zero.pdf\nx\t/x.pdf\n2\t\n\t/none.pdf\n-1\t/n.pdf\n4");
  EXPECT_EQ(parsed, (std::map<int32_t, std::string>{{1, "/a/A-1.pdf"}, {3, "/a/b c.pdf"}}));

  fs::create_directories(dir_ + "/t");
  WriteAll(dir_ + "/t/zepprint.tmp", "DEVICE" + dir_ + "/t/run.txt\r\n" +
                                         Join(InvoicePage("A/00000010", "****1.060'00", "Anna"), "\r\n") +
                                         Join(InvoicePage("A/00000011", "******20'00", "Pere"), "\r\n") +
                                         Join(InvoicePage("A/00000012", "******30'00", "Rosa"), "\r\n"));
  WriteAll(dir_ + "/t/zepprint.qr", "1\thttps://example.com/q?num=10\n3\thttps://example.com/q?num=12\n");
  WriteAll(dir_ + "/t/zepprint.pag", "3\t" + dir_ + "/t/A-12.pdf\n1\t" + dir_ + "/t/A-10.pdf\n2\t" + dir_ +
                                         "/missing/A-11.pdf\n");
  ASSERT_EQ(Run(dir_ + "/t/"), 0) << err_;
  EXPECT_NE(out_.find("3 p\xc3\xa0gines escrites a " + dir_ + "/t/run.txt"), std::string::npos) << out_;
  EXPECT_NE(out_.find("No es pot escriure " + dir_ + "/missing/A-11.pdf"), std::string::npos) << out_;
  const std::string run = ReadAll(dir_ + "/t/run.txt");
  EXPECT_EQ(std::count(run.begin(), run.end(), '\f'), 2);
  struct PageCase {
    const char* file;
    const char* number;
    const char* code;
  };
  const PageCase pages[] = {{"A-10", "A/00000010", "https://example.com/q?num=10"},
                            {"A-12", "A/00000012", "https://example.com/q?num=12"}};
  for (const PageCase& c : pages) {
    const std::string pdf = dir_ + "/t/" + c.file + ".pdf";
    ASSERT_EQ(std::system(("pdftotext '" + pdf + "' '" + dir_ + "/t/p.txt'").c_str()), 0) << c.file;
    const std::string text = ReadAll(dir_ + "/t/p.txt");
    EXPECT_NE(text.find(c.number), std::string::npos) << c.file;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 1) << c.file;
    ASSERT_EQ(std::system(("pdftoppm -r 200 -png -singlefile '" + pdf + "' '" + dir_ + "/t/p1'").c_str()), 0);
    EXPECT_EQ(DecodedQr(dir_ + "/t/p1.png"), c.code) << c.file;
  }
}

// The fee invoice's stationery in each language, with an invoice's figures
// beside the spool: every label and value is real text, read back in the
// page's order, each value in its box, every font embedded.
TEST_F(Program, ShippedStationeryReadsBackInEveryLanguage) {
  fs::create_directories(dir_ + "/root");
  WriteAll(dir_ + "/root/Tarn.ini", "[Emissor]\r\nNom=Gesti\xa2 L'Alzina\r\nLinia3=C/ Nou, 3\r\nNIF=B17000001\r\n"
                                    "FormaPagament=Transfer\x8a" "ncia\r\nIBAN=ES9121000418450200051332\r\n");
  const std::string figures =
      "1\tNumero\tA/00000010\n1\tData\t31 de desembre del 2026\n1\tVenciment\t30 de gener del 2027\n"
      "1\tPeriode\toctubre - desembre 2026\n1\tBase\t1.114'28\n1\tTipusIva\t21'00 %\n1\tIva\t234'00\n"
      "1\tTipusRetencio\t15'00 %\n1\tRetencio\t167'14-\n1\tTotalFactura\t1.348'28 EUR\n1\tTotal\t1.181'14 EUR\n"
      "1\tPercentHonoraris\t5'00 %\n1\tBaseCobrada\t20.000'00\n1\tHonorariFix\t114'28\n1\tHonoraris\t1.114'28\n";
  // The labels of each language, as the stationery is made from them.
  std::vector<std::vector<std::string>> labels(4);
  std::istringstream table(ReadAll(std::string(KORVADEL_SOURCE_DIR) + "/install/src/FACTHON.labels"));
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    for (size_t at = 0, tab; at <= line.size(); at = tab + 1) {
      tab = line.find('\t', at);
      if (tab == std::string::npos) tab = line.size();
      fields.push_back(line.substr(at, tab - at));
    }
    ASSERT_EQ(fields.size(), 5u) << line;
    for (size_t l = 0; l < 4; ++l) labels[l].push_back(fields[l + 1]);
  }
  const char* languages[] = {"CAT", "SPA", "GLG", "OCI"};
  const std::string paperSvg = ReadAll(kPaperDir + "FACTHON_CAT.svg");
  for (size_t l = 0; l < 4; ++l) {
    SCOPED_TRACE(languages[l]);
    fs::remove_all(dir_ + "/t");
    fs::create_directories(dir_ + "/t");
    WriteAll(dir_ + "/t/zepprint.tmp",
             "DEVICEPDF\r\n" + Join(InvoicePage("A/00000010", "****1.181'14", "Pe\xa4\x61 Mart\xa1, Jordi"), "\r\n"));
    WriteAll(dir_ + "/t/zepprint.fig", figures);
    const std::string paper = kPaperDir + "FACTHON_" + languages[l] + ".svg";
    ASSERT_EQ(Run(dir_ + "/t/", "ZEPROOT='" + dir_ + "/root/' ZEPPAPER='" + paper + "'"), 0) << err_;
    EXPECT_EQ(out_.find('('), std::string::npos) << out_;
    const std::string pdf = dir_ + "/t/zepprint.pdf";
    ASSERT_EQ(std::system(("pdftotext '" + pdf + "' '" + dir_ + "/t/p.txt'").c_str()), 0);
    const std::string text = ReadAll(dir_ + "/t/p.txt");
    for (const std::string& label : labels[l]) EXPECT_NE(text.find(label), std::string::npos) << label << "\n" << text;
    // (Plain pdftotext joins a line ending in "-" to the next one: the
    // withholding's sign is checked on its word in the box below.)
    for (const char* value : {"octubre - desembre 2026", "1.114'28", "21'00 %", "234'00", "15'00 %", "167'14",
                              "1.181'14 EUR", "30 de gener del 2027", "Transfer\xc3\xa8ncia",
                              "ES91 2100 0418 4502 0005 1332", "Gesti\xc3\xb3 L'Alzina", "NIF ESB17000001",
                              "FACTURA A/00000010", "1.348'28 EUR", "5'00 %", "20.000'00", "114'28"})
      EXPECT_NE(text.find(value), std::string::npos) << value << "\n" << text;
    // In the page's order: the letterhead, the number box, the totals, the footer.
    const size_t letterhead = text.find("Gesti\xc3\xb3 L'Alzina");
    const size_t number = text.find(labels[l][0]);
    const size_t total = text.find("1.181'14 EUR");
    const size_t footer = text.rfind("NIF ESB17000001");
    EXPECT_TRUE(letterhead < number && number < total && total < footer) << text;
    // Each value in its box.
    ASSERT_EQ(std::system(("pdftotext -bbox '" + pdf + "' '" + dir_ + "/t/b.html'").c_str()), 0);
    const std::vector<Word> words = Words(ReadAll(dir_ + "/t/b.html"));
    const std::vector<std::pair<std::string, std::string>> placed = {
        {"1.114'28", "box-totals"}, {"234'00", "box-totals"}, {"167'14-", "box-totals"},
        {"1.181'14", "box-totals"}, {"0418", "box-payment"}, {"octubre", "box-number"}};
    for (const auto& [word, box] : placed) {
      const PageRect rect = BoxOf(paperSvg, box);
      bool inside = false;
      for (const Word& w : words)
        inside = inside || (w.text == word && w.xMin > rect.x && w.xMax < rect.x + rect.width && w.yMin > rect.y &&
                            w.yMax < rect.y + rect.height);
      EXPECT_TRUE(inside) << word << " outside " << box;
    }
    // Every font embedded, as a subset.
    FILE* pipe = ::popen(("pdffonts '" + pdf + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string fonts;
    char buffer[512];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) fonts.append(buffer, got);
    ::pclose(pipe);
    std::istringstream fontLines(fonts);
    int count = 0;
    for (std::string line; std::getline(fontLines, line);) {
      if (line.rfind("name", 0) == 0 || line.rfind("----", 0) == 0) continue;
      ++count;
      EXPECT_NE(line.find(" yes yes "), std::string::npos) << line;
    }
    EXPECT_GE(count, 2) << fonts;
  }

  // A page collected by direct debit names the account charged instead of
  // the issuer's, in the same box.
  fs::remove(dir_ + "/t/zepprint.pdf");
  WriteAll(dir_ + "/t/zepprint.fig", figures + "1\tFormaPagament\tDomiciliaci\xc3\xb3 banc\xc3\xa0ria\n"
                                               "1\tIBAN\tES76 **** **** **** **** 1332  Mandat MND-0042\n");
  ASSERT_EQ(Run(dir_ + "/t/", "ZEPROOT='" + dir_ + "/root/' ZEPPAPER='" + kPaperDir + "FACTHON_CAT.svg'"), 0) << err_;
  ASSERT_EQ(std::system(("pdftotext '" + dir_ + "/t/zepprint.pdf' '" + dir_ + "/t/p.txt'").c_str()), 0);
  const std::string debited = ReadAll(dir_ + "/t/p.txt");
  EXPECT_NE(debited.find("Domiciliaci\xc3\xb3 banc\xc3\xa0ria"), std::string::npos) << debited;
  for (const char* part : {"ES76 **** **** **** **** 1332", "Mandat MND-0042"})
    EXPECT_NE(debited.find(part), std::string::npos) << part << "\n" << debited;
  EXPECT_EQ(debited.find("0418"), std::string::npos) << debited;
}

// The tax code's place: at the top of a plain page, above the text; in a
// stationery's QR area, painting nothing outside it (the page with the code
// differs from the page without it only inside the area).
TEST_F(Program, TaxCodeKeepsToItsPlace) {
  // A tight area framed by lines just outside it, and a line right under it.
  WriteAll(dir_ + "/tight.svg",
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"210mm\" height=\"297mm\" viewBox=\"0 0 210 297\">"
           "<rect id=\"qr\" x=\"20\" y=\"20\" width=\"34\" height=\"39\" fill=\"none\"/>"
           "<rect x=\"19.6\" y=\"19.6\" width=\"34.8\" height=\"39.8\" fill=\"none\" stroke=\"#000\" stroke-width=\"0.4\"/>"
           "<path d=\"M 10 59.6 H 200\" stroke=\"#000\" stroke-width=\"0.3\"/>"
           "<rect id=\"grid\" x=\"12\" y=\"70\" width=\"186\" height=\"192\" fill=\"none\"/></svg>");
  const std::string invoice = "DEVICEPDF\r\n" + Join(InvoicePage("A/00000010", "****1.060'00", "Jordi"), "\r\n");
  struct Case {
    const char* name;
    std::string paper;
    std::string box;  // the QR area's id in it
  };
  const std::vector<Case> cases = {
      {"shipped paper", kPaperDir + "FACTHON_CAT.svg", "qr"},
      {"tight area", dir_ + "/tight.svg", "qr"},
  };
  constexpr int kDpi = 100;
  auto gray = [&](const std::string& pdf, int& width) {
    EXPECT_EQ(std::system(("pdftoppm -r " + std::to_string(kDpi) + " -gray -singlefile '" + pdf + "' '" + dir_ +
                           "/t/g'").c_str()),
              0);
    const std::string pgm = ReadAll(dir_ + "/t/g.pgm");
    int height = 0, depth = 0, header = 0;
    EXPECT_EQ(std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &width, &height, &depth, &header), 3);
    return pgm.substr(static_cast<size_t>(header) + 1);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string pixels[2];
    int width = 0;
    for (int withCode = 0; withCode < 2; ++withCode) {
      fs::remove_all(dir_ + "/t");
      fs::create_directories(dir_ + "/t");
      WriteAll(dir_ + "/t/zepprint.tmp", invoice);
      if (withCode == 1) WriteAll(dir_ + "/t/zepprint.qr", "1\t" + kCodeUrl + "\n");
      ASSERT_EQ(Run(dir_ + "/t/", "ZEPPAPER='" + c.paper + "'"), 0) << err_;
      EXPECT_EQ(out_.find('('), std::string::npos) << out_;
      if (withCode == 1) {
        EXPECT_EQ(DecodedCode(dir_ + "/t/zepprint.pdf", dir_ + "/t/code"), kCodeUrl);
      }
      pixels[withCode] = gray(dir_ + "/t/zepprint.pdf", width);
    }
    ASSERT_EQ(pixels[0].size(), pixels[1].size());
    const PageRect box = BoxOf(ReadAll(c.paper), c.box);
    const double perPoint = kDpi / 72.0;
    const int left = static_cast<int>(box.x * perPoint) - 1, right = static_cast<int>((box.x + box.width) * perPoint) + 1;
    const int top = static_cast<int>(box.y * perPoint) - 1, bottom = static_cast<int>((box.y + box.height) * perPoint) + 1;
    size_t changedOutside = 0, changedInside = 0;
    for (size_t i = 0; i < pixels[0].size(); ++i) {
      if (pixels[0][i] == pixels[1][i]) continue;
      const int x = static_cast<int>(i % static_cast<size_t>(width)), y = static_cast<int>(i / static_cast<size_t>(width));
      (x >= left && x <= right && y >= top && y <= bottom ? changedInside : changedOutside)++;
    }
    EXPECT_EQ(changedOutside, 0u);
    EXPECT_GT(changedInside, 1000u);
  }

  // Plain paper: the code at the top of the page, the text below it.
  fs::remove_all(dir_ + "/t");
  fs::create_directories(dir_ + "/t");
  WriteAll(dir_ + "/t/zepprint.tmp", invoice);
  WriteAll(dir_ + "/t/zepprint.qr", "1\t" + kCodeUrl + "\n");
  ASSERT_EQ(Run(dir_ + "/t/"), 0) << err_;
  // Only the page's top 60 mm, at 200 dots per inch.
  ASSERT_EQ(std::system(("pdftoppm -r 200 -png -x 0 -y 0 -W 1654 -H 472 -singlefile '" + dir_ +
                         "/t/zepprint.pdf' '" + dir_ + "/t/top'").c_str()),
            0);
  std::string decoded;
  if (FILE* pipe = ::popen(("zbarimg --raw -q '" + dir_ + "/t/top.png' 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) decoded.append(buffer, got);
    ::pclose(pipe);
  }
  EXPECT_EQ(decoded, kCodeUrl + "\n");
  ASSERT_EQ(std::system(("pdftotext -bbox '" + dir_ + "/t/zepprint.pdf' '" + dir_ + "/t/b.html'").c_str()), 0);
  for (const Word& word : Words(ReadAll(dir_ + "/t/b.html")))
    if (word.text == "FACTURA") {
      EXPECT_GT(word.yMin, (15 + 39) * PointsPerMm);
    }
}

// A stationery's designer sees a sample invoice on it: a PNG of the page,
// tax code and all; a stationery that cannot be used says why.
TEST_F(Program, SampleOfAStationery) {
  struct Case {
    const char* name;
    std::string paper;
    int exitCode;
    std::string said;  // the start of what it prints
  };
  const std::vector<Case> cases = {
      {"missing paper", dir_ + "/none.svg", 1, "sense plantilla: no es pot llegir " + dir_ + "/none.svg"},
      {"shipped paper", kPaperDir + "FACTHON_OCI.svg", 0, "1 p\xc3\xa0gina escrita a " + dir_ + "/s.png"},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ + "/s.png");
    EXPECT_EQ(Run(dir_ + "/", "", "", "--sample '" + c.paper + "' '" + dir_ + "/s.png'"), c.exitCode) << c.name;
    EXPECT_EQ((c.exitCode == 0 ? out_ : err_).rfind(c.said, 0), 0u) << c.name << out_ << err_;
    EXPECT_EQ(fs::exists(dir_ + "/s.png"), c.exitCode == 0) << c.name;
  }
  std::string decoded;
  if (FILE* pipe = ::popen(("zbarimg --raw -q '" + dir_ + "/s.png' 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) decoded.append(buffer, got);
    ::pclose(pipe);
  }
  EXPECT_EQ(decoded.rfind("https://www2.agenciatributaria.gob.es/", 0), 0u) << decoded;
}

}  // namespace
