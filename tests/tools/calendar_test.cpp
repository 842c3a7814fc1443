#include "tools/calendar.h"

#include <map>
#include <vector>

#include "tools/calculator.h"
#include "tests/tools/tools_fixture.h"
#include "formatting/dates.h"
#include "formatting/settings.h"
#include "base/clock.h"

namespace {

// A console that remembers the screen when the scripted keys run out, that
// is while the calendar waits for the next key.
class SnapshotConsole : public MemoryConsole {
 public:
  bool NextEvent(InputEvent& ev) override {
    if (PendingEvents() == 0 && text.empty())
      for (int r = 1; r <= Rows(); ++r) {
        text.push_back(RowText(r));
        attrs.push_back(RowAttrs(r, 1, Columns()));
      }
    return MemoryConsole::NextEvent(ev);
  }
  std::vector<std::string> text, attrs;
};

class Calendar : public ToolTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    SetCalculatorHook(Calculator);
    SetCalendarHook(ShowCalendar);
    SetFormatSettings(FormatSettings{});
    SetClockForTesting("20240105");
  }
  void TearDown() override {
    SetClockForTesting("");
    ConsoleTest::TearDown();
  }
  static std::string Date(const std::string& yyyymmdd) { return CodeFromText(yyyymmdd); }
  void Keys(MemoryConsole& con, const std::vector<int>& keys) {
    for (int k : keys) {
      if (k == KeyAltF || k == KeyAltC || k == KeyAltX)
        con.PushKey(static_cast<uint16_t>(k), ModAlt);
      else
        con.PushKey(static_cast<uint16_t>(k));
    }
  }
  std::string Screen() const {
    std::string all;
    for (int r = 1; r <= console_->Rows(); ++r)
      all += console_->RowText(r) + console_->RowAttrs(r, 1, console_->Columns());
    return all;
  }
};

TEST_F(Calendar, KeysMoveTheDay) {
  struct Case {
    const char* name;
    const char* start;  // session date, YYYYMMDD
    std::vector<int> keys;
    const char* result;
  };
  const Case cases[] = {
      {"start day", "20260515", {'F'}, "15/5/2026 "},
      {"down a week", "20260515", {KeyDown, 'F'}, "22/5/2026 "},
      {"up three weeks into April", "20260515", {KeyUp, KeyUp, KeyUp, 'f'}, "24/4/2026 "},
      {"right across a quarter", "20260331", {KeyRight, 'f'}, "1/4/2026  "},
      {"right inside a quarter", "20260430", {KeyRight, 'f'}, "1/5/2026  "},
      {"left into the previous year", "20260101", {KeyLeft, 'f'}, "31/12/2025"},
      {"right into the next year", "20261231", {KeyRight, 'f'}, "1/1/2027  "},
      {"down into the next year", "20261229", {KeyDown, 'f'}, "5/1/2027  "},
      {"page down to a leap February", "20231130", {KeyPgDn, 'f'}, "29/2/2024 "},
      {"page down to a common February", "20241130", {KeyPgDn, 'f'}, "28/2/2025 "},
      {"page up from a leap day", "20240229", {KeyPgUp, 'f'}, "29/11/2023"},
      {"page up into a short month", "20260531", {KeyPgUp, 'f'}, "28/2/2026 "},
      {"four pages down make a year", "20260515", {KeyPgDn, KeyPgDn, KeyPgDn, KeyPgDn, 'f'}, "15/5/2027 "},
      {"home", "20260515", {KeyHome, 'f'}, "15/1/2026 "},
      {"end", "20260515", {KeyEnd, 'f'}, "15/12/2026"},
      {"1900 is not a leap year", "19000228", {KeyRight, 'f'}, "1/3/1900  "},
      {"2000 is a leap year", "20000228", {KeyRight, 'f'}, "29/2/2000 "},
      {"Alt+F", "20260705", {KeyAltF}, "5/7/2026  "},
      {"Enter", "20260705", {KeyDown, KeyEnter}, "12/7/2026 "},
      {"other keys are ignored", "20260705", {'x', KeyTab, KeyF1, KeyF4, 5 * 256 + 64 + 70, 'F'}, "5/7/2026  "},
      {"Esc", "20260705", {KeyRight, KeyEsc}, ""},
      {"input ends", "20260705", {KeyRight}, ""},
      {"no session date: today", "", {'F'}, "5/1/2024  "},
      {"a session date that is no date: today", "20241345", {'F'}, "5/1/2024  "},
      {"the first year is the limit", "00010101", {KeyLeft, KeyPgUp, 'F'}, "1/1/0001  "},  // four year digits
      {"the last year is the limit", "99991231", {KeyRight, KeyPgDn, 'F'}, "31/12/9999"},
  };
  for (const Case& c : cases) {
    Session.SessionDate = c.start[0] != 0 ? Date(c.start) : std::string();
    Keys(*console_, c.keys);
    EXPECT_EQ(ShowCalendar(), c.result) << c.name;
    console_->DiscardInput();
  }
}

TEST_F(Calendar, Page) {
  const std::string blankRow(20, ' ');
  // Row 25 below the window: the keys, ending at column 80.
  const std::map<std::string, std::string> keyLines = {
      {"CAT", "\x18\x19\x1B\x1A Dia  ReP\x85g/AvP\x85g Trimestre  Intro/F Triar  Esc Sortir "},
      {"SPA", "\x18\x19\x1B\x1A D\xA1" "a  ReP\xA0g/AvP\xA0g Trimestre  Intro/F Elegir  Esc Salir "},
      {"GLG", "\x18\x19\x1B\x1A D\xA1" "a  ReP\xA0x/AvP\xA0x Trimestre  Intro/F Escoller  Esc Sa\xA1r "},
      {"OCI", "\x18\x19\x1B\x1A Dia  ReP\x85g/AvP\x85g Trim\x8Astre  Intro/F Causir  Esc Sortir "},
  };
  struct Case {
    const char* name;
    const char* language;
    const char* start;
    std::vector<int> keys;
    const char* year;       // row 1, columns 67..72
    const char* heading;    // row 2, columns 60..79
    const char* months[3];  // rows 3, 10, 17
    std::vector<std::pair<int, std::string>> rows;  // whole inner rows
    int dayRow, dayCol;  // the highlighted day
    const char* day;
  };
  const Case cases[] = {
      {"May 2026",
       "CAT",
       "20260515",
       {},
       " 2026 ",
       "DL DT DC DJ DV DS DG",
       {"       ABRIL        ", "        MAIG        ", "        JUNY        "},
       {{11, "             1  2  3"}, {15, "25 26 27 28 29 30 31"}, {16, blankRow}, {4, "       1  2  3  4  5"}},
       13,
       72,
       "15"},
      {"down a week", "CAT", "20260515", {KeyDown}, " 2026 ", "DL DT DC DJ DV DS DG",
       {"       ABRIL        ", "        MAIG        ", "        JUNY        "}, {}, 14, 72, "22"},
      {"the first quarter, with a cedilla", "CAT", "20260315", {}, " 2026 ", "DL DT DC DJ DV DS DG",
       {"       GENER        ", "       FEBRER       ", "        MAR\x80        "},
       {{15, "23 24 25 26 27 28   "}, {16, std::string(20, ' ')}, {23, "30 31               "}}, 20, 78, "15"},
      {"left into the previous year", "CAT", "20260101", {KeyLeft}, " 2025 ", "DL DT DC DJ DV DS DG",
       {"      OCTUBRE       ", "      NOVEMBRE      ", "      DESEMBRE      "}, {}, 22, 66, "31"},
      {"Spanish", "SPA", "20260515", {}, " 2026 ", " L  M  X  J  V  S  D",
       {"       ABRIL        ", "        MAYO        ", "       JUNIO        "}, {}, 13, 72, "15"},
      {"Galician", "GLG", "20260515", {}, " 2026 ", " L  M  X  J  V  S  D",
       {"       ABRIL        ", "        MAIO        ", "       JUNHO        "}, {}, 13, 72, "15"},
      {"Occitan", "OCI", "20260515", {}, " 2026 ", "DL DT DC DJ DD DS DG",
       {"       ABRIU        ", "        MAI         ", "        JUNH        "}, {}, 13, 72, "15"},
      {"year 1", "CAT", "00010101", {}, "    1 ", "DL DT DC DJ DV DS DG",
       {"       GENER        ", "       FEBRER       ", "        MAR\x80        "}, {}, 4, 75, " 1"},
  };
  for (const Case& c : cases) {
    auto snap = std::make_unique<SnapshotConsole>();
    SetConsole(snap.get());
    Session.Language = c.language;
    FormatSettings formatting;
    formatting.language = LanguageFromCode(c.language);
    SetFormatSettings(formatting);
    Session.SessionDate = Date(c.start);
    Keys(*snap, c.keys);
    EXPECT_EQ(ShowCalendar(), "") << c.name;
    ASSERT_EQ(snap->text.size(), 25u) << c.name;
    EXPECT_EQ(snap->text[0].substr(58), "\xDA\xC4\xC4\xC4\xC4\xC4\xC4\xC4" + std::string(c.year) +
                                            "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xBF")
        << c.name;
    EXPECT_EQ(snap->text[1].substr(58), "\xB3" + std::string(c.heading) + "\xB3") << c.name;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(snap->text[7 * k + 2].substr(59, 20), c.months[k]) << c.name << " month " << k;
      EXPECT_EQ(snap->attrs[7 * k + 2].substr(59, 20), std::string(20, '\x07')) << c.name;
    }
    for (const auto& [row, text] : c.rows) EXPECT_EQ(snap->text[row - 1].substr(59, 20), text) << c.name << row;
    EXPECT_EQ(snap->text[23].substr(58), "\xC0" + std::string(20, '\xC4') + "\xD9") << c.name;
    // The highlighted day in the field colour, the other days in "h".
    EXPECT_EQ(snap->text[c.dayRow - 1].substr(c.dayCol - 1, 2), c.day) << c.name;
    EXPECT_EQ(snap->attrs[c.dayRow - 1].substr(c.dayCol - 1, 2), std::string(2, static_cast<char>(ModeAttr(4))))
        << c.name;
    const int otherCol = c.dayCol == 60 ? 63 : 60;
    EXPECT_EQ(snap->attrs[c.dayRow - 1].substr(otherCol - 1, 2), std::string(2, static_cast<char>(ModeAttr(0))))
        << c.name;
    const std::string& keys = keyLines.at(c.language);
    EXPECT_EQ(snap->text[24], std::string(80 - keys.size(), ' ') + keys) << c.name;
  }
  SetConsole(console_.get());
}

TEST_F(Calendar, LeavesTheScreenAsItWas) {
  FillPattern();
  SetExitKeys("ea", "1b");
  const std::string before = ExitKeyCodes;
  SetExitKeys("+ea", "d,3b00");
  const std::string screenSet = ExitKeyCodes;
  SetDisplayMode("r");
  SetCursorSize(100);
  LocateAbsolute(7, 9);
  const std::string screen = Screen();
  Session.SessionDate = Date("20260515");
  Keys(*console_, {KeyPgDn, KeyDown, 'F'});
  EXPECT_EQ(ShowCalendar(), "22/8/2026 ");
  EXPECT_EQ(Screen(), screen);
  EXPECT_FALSE(StackFileExists());
  EXPECT_EQ(Window.Depth, 0);
  EXPECT_EQ(CurrentDisplayMode(), 2);
  EXPECT_EQ(console_->CursorSize(), 100);
  int row = 0, col = 0;
  console_->GetCursor(row, col);
  EXPECT_EQ(row, 7);
  EXPECT_EQ(col, 9);
  EXPECT_EQ(ExitKeyCodes, screenSet);
  SetExitKeys("-", "");
  EXPECT_EQ(ExitKeyCodes, before);
}

// Opened over a window of the screen below, the calendar closes only its own
// windows, also on a screen without a row for its keys.
TEST_F(Calendar, TheCallersWindowStaysOpen) {
  for (const int rows : {25, 24}) {
    Install(rows, 80);
    Session.SessionDate = Date("20260515");
    ASSERT_EQ(PushWindow(2, 2, 5, 20), 0);
    Keys(*console_, {'F'});
    EXPECT_EQ(ShowCalendar(), "15/5/2026 ") << rows;
    EXPECT_EQ(Window.Depth, 1) << rows;
    EXPECT_EQ(Window.Top, 2) << rows;
    PopWindow();
    EXPECT_FALSE(StackFileExists()) << rows;
  }
}

TEST_F(Calendar, TooSmallScreenBeepsAndTypesNothing) {
  const int sizes[][2] = {{23, 80}, {10, 80}, {25, 79}};
  for (const auto& size : sizes) {
    Install(size[0], size[1]);
    SetCalendarHook(ShowCalendar);
    Session.SessionDate = Date("20260515");
    FillPattern();
    const std::string before = Screen();
    console_->PushKey(KeyAltC, ModAlt);
    console_->PushKey('F');
    EXPECT_EQ(WaitForKey(), KeyAltC) << size[0] << "x" << size[1];
    EXPECT_EQ(TypeAhead, "") << size[0] << "x" << size[1];
    EXPECT_EQ(WaitForKey(), 'F') << size[0] << "x" << size[1];  // not taken by a calendar
    EXPECT_EQ(console_->Beeps(), 1) << size[0] << "x" << size[1];
    EXPECT_EQ(Screen(), before) << size[0] << "x" << size[1];
  }
}

TEST_F(Calendar, HotKeyDoesNotNest) {
  Session.SessionDate = Date("20260515");
  Keys(*console_, {KeyAltC, KeyRight, KeyAltC, 'F', 'z'});
  EXPECT_EQ(WaitForKey(), KeyAltC);
  std::string typed;
  for (int i = 0; i < 11; ++i) typed += static_cast<char>(WaitForKey());
  EXPECT_EQ(typed, "16/5/2026 z");
  EXPECT_FALSE(CalendarBusy());
}

TEST_F(Calendar, DateTypedIntoTheFieldBeingEdited) {
  Session.SessionDate = Date("20260705");
  SetExitKeys("+ea", "d");
  Keys(*console_, {KeyAltC, 'f', 13});
  std::string text(12, '.');
  int pos = 1, key = 0;
  EditField(5, 10, 0, text, pos, key);
  EXPECT_EQ(text, "5/7/2026  ..");
  EXPECT_EQ(key, KeyEnter);
  EXPECT_EQ(console_->RowText(5, 10, 12), "5/7/2026  ..");
  SetExitKeys("-", "");
}

}  // namespace
