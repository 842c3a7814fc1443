#include "tools/help.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "tests/tools/tools_fixture.h"

namespace {

// A memory console that photographs the screen whenever it hands out Esc,
// so a test sees the page just before the viewer closes it.
class SnoopConsole : public MemoryConsole {
 public:
  using MemoryConsole::MemoryConsole;
  bool NextEvent(InputEvent& ev) override {
    if (!MemoryConsole::NextEvent(ev)) return false;
    if (ev.kind == InputEvent::Kind::Key && ev.code == 27) Photograph();
    return true;
  }
  // A message window throws pending keys away before it waits: photograph
  // it then.
  void DiscardInput() override {
    Photograph();
    MemoryConsole::DiscardInput();
  }
  void Photograph() {
    std::vector<std::string> rows, attrs;
    for (int r = 1; r <= Rows(); ++r) {
      rows.push_back(RowText(r));
      attrs.push_back(RowAttrs(r, 1, Columns()));
    }
    shots.push_back(rows);
    shotAttrs.push_back(attrs);
  }
  std::vector<std::vector<std::string>> shots, shotAttrs;
};

class HelpViewer : public ToolTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    snoop_ = std::make_unique<SnoopConsole>(25, 80);
    SetConsole(snoop_.get());
    std::filesystem::create_directories(dir_ + "/AJUDA");
  }
  void TearDown() override {
    ConsoleTest::TearDown();
  }

  // A help file of n records of 80 bytes: "Line NN" padded, ending in CR LF.
  void WriteHelp(const std::string& key, int n) {
    std::string content;
    for (int i = 1; i <= n; ++i) content += Record("Line " + std::string(i < 10 ? "0" : "") +
                                                   std::to_string(i));
    WriteRaw(key, content);
  }
  static std::string Record(const std::string& text) {
    std::string rec = text;
    rec.resize(78, ' ');
    return rec + "\r\n";
  }
  void WriteRaw(const std::string& key, const std::string& content) {
    std::ofstream out(dir_ + "/AJUDA/" + key + ".HLP", std::ios::binary);
    out << content;
  }
  void Keys(std::initializer_list<uint16_t> codes) {
    for (uint16_t c : codes) snoop_->PushKey(c);
  }
  // The numbers of the first and last lines shown in the last photograph.
  std::string Shown(size_t shot = 0) const {
    const auto& rows = snoop_->shots.at(shot);
    return rows[4].substr(2, 7) + ".." + rows[20].substr(2, 7);
  }

  std::unique_ptr<SnoopConsole> snoop_;
};

TEST_F(HelpViewer, ScrollingThroughFortyLines) {
  struct Case {
    const char* name;
    std::vector<uint16_t> keys;
    const char* shown;
  };
  const Case cases[] = {
      {"first page", {}, "Line 01..Line 17"},
      {"page down", {0x5100}, "Line 18..Line 34"},
      {"page down twice", {0x5100, 0x5100}, "Line 24..Line 40"},
      {"page down past the end", {0x5100, 0x5100, 0x5100}, "Line 24..Line 40"},
      {"end", {0x4F00}, "Line 24..Line 40"},
      {"down", {0x5000}, "Line 02..Line 18"},
      {"down stops at the last line", std::vector<uint16_t>(30, 0x5000), "Line 24..Line 40"},
      {"up at the top is ignored", {0x4800}, "Line 01..Line 17"},
      {"end then up", {0x4F00, 0x4800}, "Line 23..Line 39"},
      {"page down then page up", {0x5100, 0x4900}, "Line 02..Line 18"},
      {"page up twice reaches the top", {0x5100, 0x4900, 0x4900}, "Line 01..Line 17"},
      {"end then home", {0x4F00, 0x4700}, "Line 01..Line 17"},
      {"home at the top is ignored", {0x4700}, "Line 01..Line 17"},
      {"other keys are ignored", {'x', 0x3C00, 13}, "Line 01..Line 17"},
  };
  WriteHelp("PAGE", 40);
  for (const auto& c : cases) {
    snoop_->shots.clear();
    for (uint16_t k : c.keys) snoop_->PushKey(k);
    snoop_->PushKey(27);
    ShowHelp("PAGE");
    ASSERT_EQ(snoop_->shots.size(), 1u) << c.name;
    EXPECT_EQ(Shown(), c.shown) << c.name;
    EXPECT_EQ(Window.Depth, 0) << c.name;
  }
}

TEST_F(HelpViewer, WindowFrameTextPlaceAndModes) {
  WriteHelp("PAGE", 40);
  SetDisplayMode("r");
  snoop_->PushKey(27);
  ShowHelp("PAGE");
  ASSERT_EQ(snoop_->shots.size(), 1u);
  const auto& rows = snoop_->shots[0];
  EXPECT_EQ(rows[2], std::string(80, ' '));  // row 3 untouched
  EXPECT_EQ(rows[3], "\xc9" + std::string(78, '\xcd') + "\xbb");
  EXPECT_EQ(rows[4], "\xba Line 01" + std::string(70, ' ') + "\xba");
  EXPECT_EQ(rows[21], "\xc8" + std::string(78, '\xcd') + "\xbc");
  EXPECT_EQ(rows[22], std::string(80, ' '));
  EXPECT_EQ(snoop_->shotAttrs[0][3][0], static_cast<char>(ModeAttr(0)));  // frame in "h"
  EXPECT_EQ(snoop_->shotAttrs[0][4][2], static_cast<char>(ModeAttr(1)));  // text in "n"
  EXPECT_EQ(CurrentDisplayMode(), 2);  // the mode from before
  EXPECT_EQ(snoop_->RowText(4), std::string(80, ' '));  // the screen restored
}

TEST_F(HelpViewer, ControlBytesSwitchModesAndTakeNoRoom) {
  struct Case {
    const char* name;
    std::string line;
    std::string shown;   // columns 3.. of the first text row
    std::string modes;   // display mode per shown character
  };
  const Case cases[] = {
      {"highlighted word", "a \x1e" "bold\x1e rest", "a bold rest", "11000011111"},
      {"underline", "\x1fu\x1f" "n", "un", "41"},
      {"reverse", "\x10r\x10" "n", "rn", "21"},
      {"highlight under underline keeps underline", "\x1f" "a\x1e" "b\x1e" "c\x1f" "d", "abcd",
       "4441"},
      {"toggles start off on every line", "\x1e" "a", "a", "0"},
      {"seventy-six visible characters at most", "\x1e" + std::string(90, 'w'),
       std::string(76, 'w') + " \xba", std::string(76, '0') + "00"},
      {"a plain line is cut too", std::string(78, 'p'), std::string(76, 'p') + " \xba",
       std::string(76, '1') + "00"},
  };
  for (const auto& c : cases) {
    snoop_->shots.clear();
    snoop_->shotAttrs.clear();
    WriteRaw("CTRL", Record(c.line) + Record("\x1e" "second"));
    snoop_->PushKey(27);
    ShowHelp("CTRL");
    ASSERT_EQ(snoop_->shots.size(), 1u) << c.name;
    EXPECT_EQ(snoop_->shots[0][4].substr(2, c.shown.size()), c.shown) << c.name;
    std::string modes;
    for (size_t i = 0; i < c.modes.size(); ++i) {
      const char a = snoop_->shotAttrs[0][4][2 + i];
      char m = '?';
      for (int k = 4; k >= 0; --k)
        if (a == static_cast<char>(ModeAttr(k))) m = static_cast<char>('0' + k);
      modes += m;
    }
    EXPECT_EQ(modes, c.modes) << c.name;
    EXPECT_EQ(snoop_->shots[0][5].substr(2, 6), "second") << c.name;
  }
}

TEST_F(HelpViewer, ShortFileShowsBlankLinesBeyondItsEnd) {
  WriteRaw("SHORT", Record("Line 01") + Record("Line 02") + "Line 03 without its full length");
  Keys({0x5100, 0x5000, 0x4F00, 27});
  ShowHelp("SHORT");
  ASSERT_EQ(snoop_->shots.size(), 1u);
  const auto& rows = snoop_->shots[0];
  EXPECT_EQ(rows[4].substr(2, 7), "Line 01");
  EXPECT_EQ(rows[6].substr(2, 31), "Line 03 without its full length");
  for (int r = 7; r <= 20; ++r) EXPECT_EQ(rows[static_cast<size_t>(r)].substr(1, 78), std::string(78, ' '));
}

TEST_F(HelpViewer, F1OpensTheGeneralPageOnce) {
  WriteHelp("PAGE", 40);
  WriteRaw("ZARVISEL", Record("General help"));
  // F1 on the page opens ZARVISEL; F1 there is ignored; Esc closes it and
  // the page goes on where it was.
  Keys({0x5000, 0x3B00, 0x3B00, 27, 27});
  ShowHelp("PAGE");
  ASSERT_EQ(snoop_->shots.size(), 2u);
  EXPECT_EQ(snoop_->shots[0][4].substr(2, 12), "General help");
  EXPECT_EQ(snoop_->shots[0][5].substr(2, 7), "       ");
  EXPECT_EQ(Shown(1), "Line 02..Line 18");
  EXPECT_EQ(Window.Depth, 0);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(HelpViewer, MissingPageSaysSoInTheSessionLanguage) {
  // In place of the page: nothing, or something that is not a regular file
  // (never waited on, never shown as a page).
  enum class Put { Nothing, NamedPipe, Directory };
  struct Case {
    const char* language;
    const char* utf8;
    Put put;
  };
  const Case cases[] = {
      {"CAT", "No hi ha cap pàgina d'ajuda", Put::Nothing},
      {"SPA", "No hay ninguna página de ayuda", Put::Nothing},
      {"GLG", "Non hai ningunha páxina de axuda", Put::Nothing},
      {"OCI", "I a pas cap de pagina d'ajuda", Put::Nothing},
      {"", "No hi ha cap pàgina d'ajuda", Put::Nothing},
      {"CAT", "No hi ha cap pàgina d'ajuda", Put::NamedPipe},
      {"CAT", "No hi ha cap pàgina d'ajuda", Put::Directory},
  };
  const std::string page = dir_ + "/AJUDA/NOPE.HLP";
  for (const auto& c : cases) {
    std::filesystem::remove(page);
    if (c.put == Put::NamedPipe) {
      ASSERT_EQ(mkfifo(page.c_str(), 0600), 0);
    }
    if (c.put == Put::Directory) std::filesystem::create_directory(page);
    Session.Language = c.language;
    snoop_->shots.clear();
    ShowHelp("NOPE");
    ASSERT_EQ(snoop_->shots.size(), 1u) << c.language;
    const std::string expected = Cp858ForDisplay(c.utf8) + " (NOPE)";
    bool found = false;
    for (const auto& row : snoop_->shots[0]) found = found || row.find(expected) != std::string::npos;
    EXPECT_TRUE(found) << c.language;
    EXPECT_EQ(Window.Depth, 0);
    EXPECT_EQ(snoop_->RowText(12), std::string(80, ' '));
  }
  EXPECT_GE(snoop_->Beeps(), 1);
}

TEST_F(HelpViewer, LauncherCommandLine) {
  struct Case {
    const char* comspec;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"C:\\WINDOWS\\CMD.EXE", {"C:\\WINDOWS\\CMD.EXE", "/C", "BROVEX", "AJUDA\\K1.HTM"}},
      {"", {"/bin/sh", "-c", "'/suite/bin/brovex' '/suite/root/AJUDA/K1.HTM'"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HelpLauncherCommand(c.comspec, "/suite/bin\\", "/suite/root\\", "K1"), c.expected)
        << c.comspec;
  EXPECT_EQ(HelpLauncherCommand("", "/it's\\", "/r\\", "K")[2], "'/it'\\''s/brovex' '/r/AJUDA/K.HTM'");
}

TEST_F(HelpViewer, WindowedSessionRunsTheLauncherAndWaits) {
  const std::string script = dir_ + "/comspec.sh";
  const std::string log = dir_ + "/args.txt";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\nprintf '%s|' \"$@\" > '" << log << "'\n";
  }
  chmod(script.c_str(), 0755);
  Session.CommandShell = script;
  Session.EnvironmentKind = "WIN";
  ShowHelp("K1  ");
  std::ifstream in(log);
  std::string args;
  std::getline(in, args);
  EXPECT_EQ(args, "/C|BROVEX|AJUDA\\K1.HTM|");
}

}  // namespace

namespace {

TEST_F(HelpViewer, PagesOfTheSessionLanguageComeFirst) {
  namespace fs = std::filesystem;
  fs::create_directories(dir_ + "/AJUDA/SPA");
  fs::create_directories(dir_ + "/AJUDA/GLG/K.HLP");  // a folder where a page should be
  std::ofstream(dir_ + "/AJUDA/K.HLP") << "ca";
  std::ofstream(dir_ + "/AJUDA/SPA/K.HLP") << "es";
  struct Case {
    const char* language;
    const char* extension;
    std::string expected;
  };
  const Case cases[] = {
      {"CAT", ".HLP", "K"},      {"SPA", ".HLP", "SPA\\K"}, {" SPA ", ".HLP", "SPA\\K"},
      {"SPA", ".HTM", "K"},      {"GLG", ".HLP", "K"},      {"OCI", ".HLP", "K"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LocalisedHelpKey(dir_ + "\\", c.language, "K", c.extension), c.expected)
        << c.language << c.extension;
  }
}

}  // namespace
