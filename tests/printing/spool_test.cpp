// The spool writer, judged by the bytes it leaves in the spool file.
#include "printing/spool.h"
#include "printing/pages.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>


#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

// A fresh temporary directory that serves as the session's TempDir, written
// the suite's way (ending in "\").
class SpoolFile : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.emplace();
    dir_ = root_->Dir();
    dir_.pop_back();
    SetSpoolSettings({dir_ + "\\", "", Language::Catalan});
  }
  void TearDown() override {
    ClosePrintFile();
    SetSpoolSettings({});
    root_.reset();
  }
  std::string SpoolBytes() const {
    std::ifstream in(dir_ + "/zepprint.tmp", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  // The spool file after OpenPrintFile("X"), run, ClosePrintFile, without
  // its DEVICE line.
  std::string Written(const std::function<void()>& run) {
    EXPECT_EQ(OpenPrintFile("X"), PrintFileOk);
    run();
    EXPECT_EQ(ClosePrintFile(), PrintFileOk);
    std::string bytes = SpoolBytes();
    const std::string device = "DEVICEX\r\n";
    EXPECT_EQ(bytes.substr(0, device.size()), device);
    return bytes.substr(std::min(bytes.size(), device.size()));
  }
  std::optional<TempRoot> root_;
  std::string dir_;  // root_'s folder without the final "/"
};

struct CommandCase {
  const char* name;
  std::function<void()> run;
  std::string bytes;
};

TEST_F(SpoolFile, EachCommandWritesItsExactLine) {
  const std::vector<CommandCase> cases = {
      {"page 24", [] { StartPage(24); }, "PAGE 24 \r\n"},
      {"page 0", [] { StartPage(0); }, "PAGE 0 \r\n"},
      {"page negative", [] { StartPage(-3); }, "PAGE-3 \r\n"},
      {"page largest", [] { StartPage(32767); }, "PAGE 32767 \r\n"},
      {"page smallest", [] { StartPage(-32768); }, "PAGE-32768 \r\n"},
      {"directive", [] { PrintCommand("@e"); }, "*@e\r\n"},
      {"empty directive", [] { PrintCommand(""); }, "*\r\n"},
      {"directive with line feed", [] { PrintCommand("@e\nPAGE 1"); }, "*@e PAGE 1\r\n"},
      {"item", [] { PrintAt(9, "FACTURA", 0); }, " 9 ,FACTURA, 0 \r\n"},
      {"empty item", [] { PrintAt(0, "", 11); }, " 0 ,, 11 \r\n"},
      {"negative numbers", [] { PrintAt(-5, "x", -1); }, "-5 ,x,-1 \r\n"},
      {"commas inside the text", [] { PrintAt(17, "MAJOR, 5, 2n", 1); },
       " 17 ,MAJOR, 5, 2n, 1 \r\n"},
      {"tab and line feed", [] { PrintAt(1, "A\tB\nC\rD", 0); }, " 1 ,A B C D, 0 \r\n"},
      {"bytes 0, 31, 127, 255", [] { PrintAt(1, std::string("a\0b\x1f" "c\x7f" "d\xff", 8), 0); },
       " 1 ,a b c d , 0 \r\n"},
      {"code page letters kept", [] { PrintAt(22, "RETENCI\xe0 \xa5\x80\xfa\xd5", 1); },
       " 22 ,RETENCI\xe0 \xa5\x80\xfa\xd5, 1 \r\n"},
      {"blanks kept", [] { PrintAt(32, "N.I.F. ESB1234567      ", 1); },
       " 32 ,N.I.F. ESB1234567      , 1 \r\n"},
  };
  for (const CommandCase& c : cases) EXPECT_EQ(Written(c.run), c.bytes) << c.name;
}

TEST_F(SpoolFile, DeviceLineComesFirstAndFileStartsAnew) {
  struct Case {
    std::string device;
    std::string firstLine;
  };
  const std::vector<Case> cases = {
      {"PDF", "DEVICEPDF\r\n"},
      {"", "DEVICE\r\n"},
      {"C:\\SORTIDA\\FACT.PDF", "DEVICEC:\\SORTIDA\\FACT.PDF\r\n"},
      {"LP:oficina", "DEVICELP:oficina\r\n"},
      {"LP:a\r\nPAGE 1", "DEVICELP:a  PAGE 1\r\n"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(OpenPrintFile("OLD"), PrintFileOk);
    PrintAt(1, "a long line that must not survive the next open", 1);
    ClosePrintFile();
    ASSERT_EQ(OpenPrintFile(c.device), PrintFileOk) << c.device;
    ClosePrintFile();
    EXPECT_EQ(SpoolBytes(), c.firstLine) << c.device;
  }
}

TEST_F(SpoolFile, JustificationIsNormalisedInTheCallersVariable) {
  struct Case {
    std::string mode;
    std::string normalised;
  };
  const std::vector<Case> cases = {
      {"D", "D"},
      {"d", "D"},
      {"r", "D"},
      {"  R  ", "D"},
      {"dreta", "D"},
      {"C", "C"},
      {"centre", "C"},
      {"a", "A"},
      {"B", "A"},
      {"E", "E"},
      {"x", "E"},
      {"", "E"},
      {"    ", "E"},
      {"\tD", "E"},
      {"1", "E"},
      {"N", "N 0 "},
      {"n5", "N 5 "},
      {" N 12 ", "N 12 "},
      {"N-7.9", "N 7 "},
      {"N3\\abc\\def\\", "N 3 \\abc\\"},
      {"N 4 x\\y", "N 4 \\y"},
      {"N\\\\", "N 0 \\\\"},
      {"Nabc", "N 0 "},
      {"N1e99", "N 1 "},
      {"N99999999999999999999", "N 999999999999999 "},
  };
  for (const Case& c : cases) {
    std::string mode = c.mode;
    const std::string written = Written([&] { SetJustification(mode); });
    EXPECT_EQ(mode, c.normalised) << "mode \"" << c.mode << "\"";
    EXPECT_EQ(written, "JUS" + c.normalised + "\r\n") << "mode \"" << c.mode << "\"";
  }
}

// A sequence of items after StartPage(start), with the bookkeeping and the
// page lines that must follow.
struct Item {
  int16_t column;
  std::string text;
  int16_t advance;
};
struct PageCase {
  const char* name;
  int16_t start;  // StartPage argument; 0 = no StartPage at all
  std::vector<Item> items;
  int16_t line;
  int16_t column;
  int pageLines;  // "PAGE" lines in the file
};

TEST_F(SpoolFile, LineAndColumnBookkeepingAndPageBreaks) {
  const std::vector<PageCase> cases = {
      {"nothing printed", 24, {}, 0, 0, 1},
      {"column then its text", 24, {{9, "FACTURA", 0}}, 0, 16, 1},
      {"column 0 continues", 24, {{9, "FACTURA", 0}, {0, "ab", 0}, {0, "", 0}}, 0, 18, 1},
      {"later column replaces", 24, {{9, "FACTURA", 0}, {67, "12", 0}}, 0, 69, 1},
      {"advance resets column", 24, {{91, "FINCA", 1}}, 1, 0, 1},
      {"advances add up", 24, {{91, "FINCA", 1}, {92, "001V", 1}, {17, "DATE", 3}}, 5, 0, 1},
      {"fill to line 11", 24, {{17, "x", 6}, {0, "", 5}}, 11, 0, 1},
      {"last line no break", 24, {{0, "", 23}, {1, "a", 0}}, 23, 2, 1},
      {"full page breaks before next item", 24, {{0, "", 24}, {9, "X", 2}}, 2, 0, 2},
      {"break then column on new page", 24, {{0, "", 30}, {5, "abc", 0}}, 0, 8, 2},
      {"two breaks", 2, {{0, "", 2}, {0, "", 2}, {1, "a", 1}}, 1, 0, 3},
      {"no page started never breaks", 0, {{1, "a", 5}, {1, "b", 5}}, 10, 0, 0},
      {"negative advance", 24, {{0, "", 5}, {0, "", -2}}, 3, 0, 1},
      {"line saturates", 24, {{0, "", 32767}, {0, "", 10}}, 10, 0, 2},
      {"column saturates", 24, {{32000, std::string(1000, 'x'), 0}}, 0, 32767, 1},
  };
  for (const PageCase& c : cases) {
    const std::string bytes = Written([&] {
      if (c.start != 0) StartPage(c.start);
      for (const Item& item : c.items) PrintAt(item.column, item.text, item.advance);
      EXPECT_EQ(PrintLine(), c.line) << c.name;
      EXPECT_EQ(PrintColumn(), c.column) << c.name;
      EXPECT_EQ(PageLength(), c.start) << c.name;
    });
    int pages = 0;
    for (size_t at = bytes.find("PAGE"); at != std::string::npos; at = bytes.find("PAGE", at + 1))
      ++pages;
    EXPECT_EQ(pages, c.pageLines) << c.name;
  }
}

TEST_F(SpoolFile, PageBreakComesBeforeTheItemWithTheSameLength) {
  const std::string bytes = Written([] {
    StartPage(24);
    PrintAt(0, "", 24);
    PrintAt(9, "FACTURA", 2);
  });
  EXPECT_EQ(bytes, "PAGE 24 \r\n 0 ,, 24 \r\nPAGE 24 \r\n 9 ,FACTURA, 2 \r\n");
}

// Each way the file can fail, with the status the open and the close give
// and whether the failure is known before the close.
struct FailureCase {
  const char* name;
  std::function<void(const std::string& dir)> prepare;  // gets the host dir
  std::string tempDirSuffix;  // appended to the directory for TempDir
  int itemCount;
  int16_t openStatus;
  int16_t closeStatus;
  bool failedBeforeClose;
};

// While limited, files of this process may grow to 10 bytes only: a full
// disk, shown at the first write that reaches the file.
void LimitFileSize(bool limited) {
  static rlimit saved{};
  static bool isLimited = false;
  if (limited && !isLimited) {
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 10;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    isLimited = true;
  } else if (!limited && isLimited) {
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    isLimited = false;
  }
}

TEST_F(SpoolFile, UnwritableSpoolFileIsReportedWithItsPath) {
  // A spool file that waited on a pipe would stop the test here for good.
  alarm(60);
  const std::vector<FailureCase> cases = {
      {"directory missing", [](const std::string&) {}, "\\missing\\", 3, PrintFileNotCreated,
       PrintFileNotCreated, true},
      {"directory in place of the file",
       [](const std::string& dir) { fs::create_directory(dir + "/zepprint.tmp"); }, "\\", 3,
       PrintFileNotRegular, PrintFileNotRegular, true},
      {"disk full at the close", [](const std::string&) { LimitFileSize(true); }, "\\", 3, PrintFileOk,
       PrintFileWriteError, false},
      {"disk full while writing", [](const std::string&) { LimitFileSize(true); }, "\\", 5000, PrintFileOk,
       PrintFileWriteError, true},
      // Neither waited on nor written into, and the message says why.
      {"a named pipe in place of the file",
       [](const std::string& dir) { ASSERT_EQ(mkfifo((dir + "/zepprint.tmp").c_str(), 0600), 0); }, "\\", 3,
       PrintFileNotRegular, PrintFileNotRegular, true},
      {"a link to a device in place of the file",
       [](const std::string& dir) { fs::create_symlink("/dev/null", dir + "/zepprint.tmp"); }, "\\", 3,
       PrintFileNotRegular, PrintFileNotRegular, true},
  };
  for (const FailureCase& c : cases) {
    const std::string dir = dir_ + "/" + std::to_string(&c - cases.data());
    fs::create_directory(dir);
    c.prepare(dir);
    SetSpoolSettings({dir + c.tempDirSuffix, "", Language::Catalan});
    EXPECT_EQ(OpenPrintFile("PDF"), c.openStatus) << c.name;
    StartPage(24);
    for (int i = 0; i < c.itemCount; ++i) PrintAt(17, "SOME OWNER NAME", 1);
    EXPECT_EQ(PrintFileFailed(), c.failedBeforeClose) << c.name;
    EXPECT_EQ(PrintLine(), c.itemCount % 24 == 0 ? 24 : c.itemCount % 24) << c.name;
    EXPECT_EQ(ClosePrintFile(), c.closeStatus) << c.name;
    LimitFileSize(false);
    EXPECT_TRUE(PrintFileFailed()) << c.name;
    EXPECT_EQ(PrintFileFailureReason().empty(), c.openStatus != PrintFileNotRegular) << c.name;
    const std::string expectedPath =
        dir + (c.tempDirSuffix == "\\" ? "/" : "/missing/") + "zepprint.tmp";
    EXPECT_EQ(PrintFilePath(), expectedPath) << c.name;
    // A good directory afterwards works again and forgets the failure.
    SetSpoolSettings({dir_ + "\\", "", Language::Catalan});
    EXPECT_EQ(OpenPrintFile("PDF"), PrintFileOk) << c.name;
    EXPECT_EQ(ClosePrintFile(), PrintFileOk) << c.name;
    EXPECT_FALSE(PrintFileFailed()) << c.name;
  }
  alarm(0);
}

TEST_F(SpoolFile, WritingWithoutAnOpenFileIsAFailure) {
  const std::vector<std::pair<const char*, std::function<int16_t()>>> cases = {
      {"page", [] { return StartPage(24); }},
      {"directive", [] { return PrintCommand("@e"); }},
      {"item", [] { return PrintAt(1, "a", 1); }},
      {"justification", [] { std::string d = "D"; return SetJustification(d); }},
      {"close", [] { return ClosePrintFile(); }},
  };
  for (const auto& [name, run] : cases) {
    ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
    ASSERT_EQ(ClosePrintFile(), PrintFileOk);
    EXPECT_EQ(run(), PrintFileNotOpen) << name;
    EXPECT_TRUE(PrintFileFailed()) << name;
  }
}

TEST_F(SpoolFile, FailureMessagesFollowTheSessionLanguage) {
  struct Case {
    std::string language;
    std::string fileMessage;
    std::string programMessage;
  };
  const std::vector<Case> cases = {
      {"CAT", "NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0 /t/zepprint.tmp",
       "NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0 /t/zepprint.tmp"},
      {"SPA", "NO SE PUEDE ESCRIBIR EL FICHERO DE IMPRESI\xe0N /t/zepprint.tmp",
       "NO SE PUEDE EJECUTAR EL PROGRAMA DE IMPRESI\xe0N /t/zepprint.tmp"},
      {"GLG", "NON SE PODE ESCRIBIR O FICHEIRO DE IMPRESI\xe0N /t/zepprint.tmp",
       "NON SE PODE EXECUTAR O PROGRAMA DE IMPRESI\xe0N /t/zepprint.tmp"},
      {"OCI", "SE P\xe3T PAS ESCRIURE LO FICHI\xd4R D'IMPRESSION /t/zepprint.tmp",
       "SE P\xe3T PAS EXECUTAR LO PROGRAMA D'IMPRESSION /t/zepprint.tmp"},
      {"ENG", "NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0 /t/zepprint.tmp",
       "NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0 /t/zepprint.tmp"},
      {"   ", "NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0 /t/zepprint.tmp",
       "NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0 /t/zepprint.tmp"},
      {"", "NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0 /t/zepprint.tmp",
       "NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0 /t/zepprint.tmp"},
  };
  for (const Case& c : cases) {
    SetSpoolSettings({dir_ + "\\", "", LanguageFromCode(c.language)});
    EXPECT_EQ(PrintFileFailureMessage("/t/zepprint.tmp"), c.fileMessage) << c.language;
    EXPECT_EQ(PrintProgramFailureMessage("/t/zepprint.tmp"), c.programMessage) << c.language;
  }
  // Paths are shown in one form, whatever form they come in.
  SetSpoolSettings({dir_ + "\\", "", Language::Catalan});
  for (const char* path : {"/t//zepprint.tmp", "\\t\\zepprint.tmp", "/t/\\zepprint.tmp"}) {
    EXPECT_EQ(PrintFileFailureMessage(path), cases[0].fileMessage) << path;
    EXPECT_EQ(PrintProgramFailureMessage(path), cases[0].programMessage) << path;
  }
}

TEST_F(SpoolFile, PrintProgramRunsFromExeDirWithTheSpoolDirectory) {
  // A stand-in print program that records its arguments, ZEPTMP and ZEPPAPER, copies
  // the spool file the way a user's own print script does, and ends with
  // status 3 or, when SPOOL_TEST_KILL is set, by SIGKILL.
  const std::string exe = dir_ + "/exe";
  fs::create_directory(exe);
  {
    std::ofstream script(exe + "/ZEPPRINT");
    script << "#!/bin/sh\necho \"$#|$ZEPTMP${ZEPPAPER:+|$ZEPPAPER}\" > " << dir_ << "/ran\n"
           << "cp \"${ZEPTMP}zepprint.tmp\" " << dir_ << "/copied 2>/dev/null\n"
           << "if [ -n \"$SPOOL_TEST_KILL\" ]; then kill -KILL $$; fi\nexit 3\n";
  }
  fs::permissions(exe + "/ZEPPRINT", fs::perms::owner_all);
  struct Case {
    const char* name;
    std::string exeDir;
    std::string tempDir;
    bool killed;           // the program kills itself
    bool started;
    int startError;
    bool exited;
    int exitCode;
    int signal;
    std::string recorded;  // what the program wrote, "" when it did not run
    bool copied;           // "${ZEPTMP}zepprint.tmp" named the spool file
    std::string paper = {};  // the stationery handed over, replacing an inherited one
  };
  const std::string host = dir_ + "/";
  const std::vector<Case> cases = {
      {"program runs", exe + "\\", "T01\\", false, true, 0, true, 3, 0, "0|T01/\n", false},
      {"temp dir in the suite's form", exe + "/", dir_ + "\\", false, true, 0, true, 3, 0, "0|" + host + "\n", true},
      {"temp dir ending in / and the suite's separator", exe + "/", dir_ + "/\\", false, true, 0, true, 3, 0,
       "0|" + host + "\n", true},
      {"temp dir ending in /", exe + "/", dir_ + "/", false, true, 0, true, 3, 0, "0|" + host + "\n", true},
      {"stationery", exe + "/", dir_ + "/", false, true, 0, true, 3, 0, "0|" + host + "|/srv/p \xc3\xa0.svg\n", true,
       "/srv/p \xc3\xa0.svg"},
      {"program killed", exe + "/", dir_ + "\\", true, true, 0, false, 0, SIGKILL, "0|" + host + "\n", true},
      {"program missing", dir_ + "\\nowhere\\", "T01\\", false, false, ENOENT, false, 0, 0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ + "/ran");
    fs::remove(dir_ + "/copied");
    SetSpoolSettings({c.tempDir, c.exeDir, Language::Catalan});
    if (c.copied) {
      ASSERT_EQ(OpenPrintFile("PDF"), PrintFileOk);
      ASSERT_EQ(ClosePrintFile(), PrintFileOk);
      EXPECT_EQ(PrintFilePath(), host + "zepprint.tmp");
    }
    if (c.killed) setenv("SPOOL_TEST_KILL", "1", 1);
    setenv("ZEPPAPER", "/inherited.svg", 1);
    if (c.paper.empty()) unsetenv("ZEPPAPER");
    std::string order;
    const ChildEnd end = RunPrintProgram([&] { order += "before,"; }, [&] { order += "after"; }, c.paper);
    unsetenv("SPOOL_TEST_KILL");
    unsetenv("ZEPPAPER");
    EXPECT_EQ(end.started, c.started);
    EXPECT_EQ(end.startError, c.startError);
    EXPECT_EQ(end.exited, c.exited);
    EXPECT_EQ(end.exitCode, c.exitCode);
    EXPECT_EQ(end.signal, c.signal);
    EXPECT_EQ(order, "before,after");
    std::ifstream ran(dir_ + "/ran");
    std::string recorded((std::istreambuf_iterator<char>(ran)), std::istreambuf_iterator<char>());
    EXPECT_EQ(recorded, c.recorded);
    std::ifstream copied(dir_ + "/copied", std::ios::binary);
    std::string copy((std::istreambuf_iterator<char>(copied)), std::istreambuf_iterator<char>());
    EXPECT_EQ(copied.is_open(), c.copied);
    if (c.copied) {
      EXPECT_EQ(copy, SpoolBytes());
    }
  }
  for (const std::string& exeDir : {exe + "\\", exe + "//", exe + "/\\"}) {
    SetSpoolSettings({"", exeDir, Language::Catalan});
    EXPECT_EQ(PrintProgramPath(), exe + "/ZEPPRINT") << exeDir;
  }
}

}  // namespace

// A watched print program: the pages it reports reach the caller, its words
// go to the session's file and its last line is the note, and a stop asked
// for ends it (a program that ignores SIGTERM is killed).
TEST_F(SpoolFile, WatchedPrintProgramReportsPagesAndCanBeStopped) {
  const std::string exe = dir_ + "/watched";
  fs::create_directory(exe);
  {
    std::ofstream script(exe + "/ZEPPRINT");
    script << "#!/bin/sh\n[ -n \"$IGNORE_TERM\" ] && trap '' TERM\necho first line\necho \"last line $ZEPPROGRESS\" >&2\n"
           << "echo 1 >&3; echo 2 >&3\n"
           << "if [ -n \"$SLOW\" ]; then i=0; while [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done; fi\nexit 4\n";
  }
  fs::permissions(exe + "/ZEPPRINT", fs::perms::owner_all);
  struct Case {
    const char* name;
    const char* slow;
    const char* ignoreTerm;
    bool stopped;
    bool exited;
    int signal;
  };
  const Case cases[] = {
      {"runs to its end", "", "", false, true, 0},
      {"stopped", "1", "", true, false, SIGTERM},
      {"stopped though it ignores SIGTERM", "1", "1", true, false, SIGKILL},
  };
  alarm(60);  // a stop that did not work would wait here for good
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetSpoolSettings({dir_ + "/", exe + "/", Language::Catalan});
    setenv("SLOW", c.slow, 1);
    setenv("IGNORE_TERM", c.ignoreTerm, 1);
    std::vector<long> pages;
    PrintWatch watch;
    watch.pagesDone = [&](long n) { pages.push_back(n); };
    watch.stopWanted = [&] { return c.stopped && !pages.empty() && pages.back() == 2; };
    const ChildEnd end = RunPrintProgramWatched(watch);
    unsetenv("SLOW");
    unsetenv("IGNORE_TERM");
    ASSERT_TRUE(end.started);
    EXPECT_EQ(end.stopped, c.stopped);
    EXPECT_EQ(end.exited, c.exited);
    if (c.exited) {
      EXPECT_EQ(end.exitCode, 4);
    }
    EXPECT_EQ(end.signal, c.signal);
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages.back(), 2);
    EXPECT_EQ(PrintProgramNote(), "last line 3");
  }
  alarm(0);
}


namespace {

// One text item of a spool page: where it starts and how wide it is.
struct PlacedText {
  long line = 0, column = 0, width = 0;
  std::string text;
};

// The text items of a spool page, each with the line it stands on.
std::vector<PlacedText> PlacedTexts(const std::string& page) {
  std::vector<PlacedText> placed;
  long line = -1;
  std::istringstream in(page);
  for (std::string raw; std::getline(in, raw);) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (raw.rfind("PAGE", 0) == 0) line = 0;
    const size_t first = raw.find(','), last = raw.rfind(',');
    if (line < 0 || raw.rfind("JUS", 0) == 0 || first == std::string::npos || first == last) continue;
    const long column = std::stol(raw.substr(0, first)), advance = std::stol(raw.substr(last + 1));
    std::string text = raw.substr(first + 1, last - first - 1);
    const size_t start = text.find_first_not_of(' '), end = text.find_last_not_of(' ');
    if (start != std::string::npos)
      placed.push_back({line, column + static_cast<long>(start), static_cast<long>(end - start + 1), text.substr(start, end - start + 1)});
    line += advance;
  }
  return placed;
}

// A run's invoice page with a withholding (code page 850), as the module
// prints it.
const char kInvoicePage[] =
    "DEVICE/x/f.pdf\r\nPAGE 24 \r\n*@e\r\n 9 ,FACTURA, 0 \r\n 17 ,R/00000004, 0 \r\n 32 ,GIRONA, 0 \r\nJUSD\r\n"
    " 67 ,***1.084,70 EUR, 0 \r\n 91 ,FINCA, 1 \r\n 92 ,003V, 1 \r\n 17 ,1 D'ABRIL DEL 2027, 3 \r\n"
    " 22 ,HONORARIS ADMINISTRACI\xe0, 0 \r\nJUSD\r\n 66 ,      1.000,00 , 1 \r\n 22 ,SUPLERTS, 0 \r\nJUSD\r\n"
    " 66 ,         70,00 , 1 \r\n 22 ,IVA (ret.) 21,00 % s/1.070,00 , 0 \r\n 66 ,        224,70 , 1 \r\n"
    " 22 ,RETENCI\xe0 HONORARIS 15,00 % s/1.070,00 , 0 \r\nJUSD\r\n 66 ,        160,50 , 1 \r\n 0 ,, 3 \r\n"
    " 17 ,CAL PEP, 2 \r\nJUSD\r\n 32 ,N.I.F. ESB40312876, 1 \r\n 17 ,COMUNITAT CAL PEP, 1 \r\n 17 ,C/ NOU 3, 1 \r\n"
    " 17 ,17001, 1 \r\n 17 ,GIRONA, 0 \r\n 61 ,ADMINISTRADOR, 1 \r\n 61 ,N.I.F. ES12345678Z, 1 \r\n";

}  // namespace

// A corrective's own texts go where nothing else prints: no two texts of
// the page overlap, none lies on what the stationery prints (the headings
// of the invoice's lines, the totals box, the payment lines), all within
// the page's 96 columns and 24 lines; the last column is the corrective's
// own amount, the one its total shows.
TEST(CorrectivePage, OwnTextsWhereNothingElsePrints) {
  // The stationery's own texts, in grid lines and columns (FACTHON.svg.in).
  struct Zone {
    const char* name;
    long firstLine, lastLine, firstColumn, lastColumn;
  };
  const Zone stationery[] = {{"heading 'Concept'", 4, 4, 22, 30},
                             {"heading 'Amount'", 4, 4, 73, 80},
                             {"totals box", 9, 12, 69, 96},
                             {"payment lines", 20, 21, 17, 96}};
  struct Case {
    const char* name;
    bool differences;
    std::string cause;
    const char* total;  // as the total box prints it: the corrective's own
  };
  const Case cases[] = {
      {"by substitution", false, "Causa R1: error", "**1.133,66 EUR"},
      {"by differences, a cause that fills both lines", true, std::string(300, 'x') + " " + std::string(20, 'y'),
       "******0,54- EUR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CorrectivePageTexts t;
    t.number = "RE/00000001";
    t.date = "9 DE DESEMBRE DEL 2026";
    t.title = "FACTURA RECTIFICATIVA (per difer\x8ancies)";
    t.corrects = "Rectifica la factura R/00000004";
    t.correctedDate = "emesa el 30 DE SETEMBRE DEL 2027";
    t.cause = c.cause;
    t.baseLabel = "Base imposable";
    t.vatLabel = "IVA ";
    t.withholdingLabel = "IRPF ";
    t.totalLabel = "Total";
    t.vatRate = 2100;
    t.withholdingRate = 1500;
    t.originalHeading = "Original";
    t.correctedHeading = "Rectificat";
    t.differenceHeading = "Difer\x8ancia";
    t.differences = c.differences;
    t.withholding = true;
    t.original = {107000, 22470, 16050, 113420};
    t.corrected = {106950, 22459, 16043, 113366};
    t.difference = {-50, -11, -7, -54};
    const std::string page = CorrectivePage(kInvoicePage, t);
    const std::vector<PlacedText> placed = PlacedTexts(page);
    for (size_t i = 0; i < placed.size(); ++i) {
      const PlacedText& a = placed[i];
      EXPECT_TRUE(a.line >= 0 && a.line < 24 && a.column >= 1 && a.column + a.width - 1 <= 96) << a.text;
      for (size_t j = i + 1; j < placed.size(); ++j) {
        const PlacedText& b = placed[j];
        EXPECT_FALSE(a.line == b.line && a.column < b.column + b.width && b.column < a.column + a.width)
            << a.text << " | " << b.text;
      }
      for (const Zone& z : stationery)
        EXPECT_FALSE(a.line >= z.firstLine && a.line <= z.lastLine && a.column <= z.lastColumn &&
                     a.column + a.width - 1 >= z.firstColumn)
            << a.text << " on the stationery's " << z.name;
    }
    // Every text of the corrective is there, and the owner's as they were.
    for (const char* part : {"RE/00000001", "9 DE DESEMBRE DEL 2026", "Rectifica la factura R/00000004", "IRPF 15,00 %",
                             "IVA 21,00 %", "COMUNITAT CAL PEP", "N.I.F. ESB40312876", "1.070,00", "0,50-", c.total})
      EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
    EXPECT_EQ(page.find("IVA (ret.)"), std::string::npos) << page;
    EXPECT_EQ(page.find("HONORARIS ADMINISTRACI"), std::string::npos) << page;
    EXPECT_EQ(CorrectiveCauseLines(c.cause).size(), c.cause.size() > 88 ? 2u : 1u);
  }
  // A cause too long for its two lines ends in "...", broken between words.
  const std::vector<std::string> cut = CorrectiveCauseLines(std::string(300, 'x') + " " + std::string(20, 'y'));
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1].substr(cut[1].size() - 3), "...");
  EXPECT_LE(cut[1].size(), 88u);
}
