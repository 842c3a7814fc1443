#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "console/guards.h"
#include "console/tell.h"
#include "formatting/folding.h"
#include "tests/support/console_fixture.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

struct Snapshot {
  std::vector<std::string> chars, attrs;
  int row = 0, col = 0;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const MemoryConsole& con) {
  Snapshot s;
  for (int r = 1; r <= con.Rows(); ++r) {
    s.chars.push_back(con.RowText(r));
    s.attrs.push_back(con.RowAttrs(r, 1, con.Columns()));
  }
  con.GetCursor(s.row, s.col);
  return s;
}

using ScreenLayer = ConsoleTest;

TEST_F(ScreenLayer, PushThenPopRestoresCellsColoursAndCursor) {
  struct Rect {
    int top, left, bottom, right;
  };
  const Rect rects[] = {{1, 59, 24, 80}, {1, 1, 25, 80}, {12, 40, 12, 40}, {3, 5, 12, 24}};
  for (const auto& r : rects) {
    FillPattern();
    LocateAbsolute(7, 9);
    const Snapshot before = Take(*console_);
    ASSERT_EQ(PushWindow(r.top, r.left, r.bottom, r.right), 0);
    SetDisplayMode("+u");
    DrawWindowFrame(2);
    if (r.bottom - r.top >= 2 && r.right - r.left >= 13) WriteAt(1, 1, "covered text");
    SetDisplayMode("-");
    PopWindow();
    EXPECT_TRUE(Take(*console_) == before) << r.top << "," << r.left << "," << r.bottom << ","
                                           << r.right;
    EXPECT_EQ(Window.Depth, 0);
    EXPECT_FALSE(StackFileExists());
  }
}

TEST_F(ScreenLayer, RecordOfTenByTwentyIs425BytesEndingIn00425) {
  FillPattern();
  LocateAbsolute(2, 3);
  ASSERT_EQ(PushWindow(3, 5, 12, 24), 0);
  const std::string file = ReadFile(StackFile());
  ASSERT_EQ(file.size(), 4u + 425u);
  EXPECT_EQ(file.substr(0, 4), std::string("\xae\x01\x00\x00", 4));  // 430 = 5 + 425
  EXPECT_EQ(file.substr(4, 20), "02030000000003051224");
  EXPECT_EQ(file.substr(file.size() - 5), "00425");
  uint8_t ch, attr;
  console_->GetCell(3, 5, ch, attr);
  EXPECT_EQ(static_cast<uint8_t>(file[24]), ch);
  EXPECT_EQ(static_cast<uint8_t>(file[25]), attr);
  console_->GetCell(12, 24, ch, attr);
  EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 7]), ch);
  EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 6]), attr);
  EXPECT_EQ(Window.Depth, 1);
  EXPECT_EQ(WindowFirstRow(), 4);
  EXPECT_EQ(WindowFirstColumn(), 6);
  EXPECT_EQ(WindowLastColumn(), 23);
  PopWindow();
}

TEST_F(ScreenLayer, NestedWindowsComeBackInReverseOrder) {
  FillPattern();
  const Snapshot empty = Take(*console_);
  ASSERT_EQ(PushWindow(2, 2, 20, 60), 0);
  DrawWindowFrame(1);
  const Snapshot first = Take(*console_);
  ASSERT_EQ(PushWindow(5, 10, 10, 70), 0);
  DrawWindowFrame(2);
  LocateInWindow(1, 1);
  int row, col;
  CursorPosition(row, col);
  EXPECT_EQ(row, 6);
  EXPECT_EQ(col, 11);
  PopWindow();
  EXPECT_TRUE(Take(*console_).chars == first.chars);
  EXPECT_EQ(Window.Depth, 1);
  EXPECT_EQ(Window.Top, 2);
  EXPECT_EQ(Window.Left, 2);
  EXPECT_EQ(Window.Bottom, 20);
  EXPECT_EQ(Window.Right, 60);
  EXPECT_TRUE(StackFileExists());
  PopWindow();
  EXPECT_TRUE(Take(*console_).chars == empty.chars);
  EXPECT_EQ(Window.Depth, 0);
  EXPECT_FALSE(StackFileExists());
  LocateInWindow(1, 1);
  CursorPosition(row, col);
  EXPECT_EQ(row, 1);
  EXPECT_EQ(col, 1);
}

TEST_F(ScreenLayer, RectanglesOutsideTheScreen) {
  struct Case {
    int top, left, bottom, right;
    bool pushed;
    int expBottom, expRight;
  };
  const Case cases[] = {
      {0, 1, 5, 5, false, 0, 0},      {1, 0, 5, 5, false, 0, 0},
      {5, 5, 3, 10, false, 0, 0},     {5, 10, 8, 9, false, 0, 0},
      {26, 1, 27, 5, false, 0, 0},    {1, 81, 5, 90, false, 0, 0},
      {-3, -3, 2, 2, false, 0, 0},    {20, 70, 30, 90, true, 25, 80},
      {1, 1, 25, 80, true, 25, 80},   {25, 80, 25, 80, true, 25, 80},
  };
  for (const auto& c : cases) {
    FillPattern();
    ASSERT_EQ(PushWindow(2, 2, 6, 30), 0);  // an open window that must survive
    const Snapshot before = Take(*console_);
    const int16_t got = PushWindow(c.top, c.left, c.bottom, c.right);
    EXPECT_EQ(got == 0, c.pushed) << c.top << "," << c.left << "," << c.bottom << "," << c.right;
    if (c.pushed) {
      EXPECT_EQ(Window.Bottom, c.expBottom);
      EXPECT_EQ(Window.Right, c.expRight);
      DrawWindowFrame(2);
    } else {
      EXPECT_EQ(Window.Top, 2);
      DrawWindowFrame(0);  // draws over the still-current first window
    }
    PopWindow();  // the matching pop of the refused or clipped push
    if (c.pushed) {
      EXPECT_TRUE(Take(*console_) == before) << c.top << "," << c.left;
    }
    EXPECT_EQ(Window.Depth, 1) << c.top << "," << c.left;
    EXPECT_EQ(Window.Top, 2);
    PopWindow();
    EXPECT_EQ(Window.Depth, 0);
    EXPECT_FALSE(StackFileExists());
  }
}

TEST_F(ScreenLayer, PopWithoutPushChangesNothing) {
  FillPattern();
  LocateAbsolute(4, 4);
  const Snapshot before = Take(*console_);
  PopWindow();
  PopWindow();
  EXPECT_TRUE(Take(*console_) == before);
  EXPECT_EQ(Window.Depth, 0);
  // A balanced pair afterwards still works.
  ASSERT_EQ(PushWindow(3, 3, 8, 8), 0);
  DrawWindowFrame(1);
  PopWindow();
  EXPECT_TRUE(Take(*console_) == before);
}

TEST_F(ScreenLayer, DamagedStackFileRestoresNothingAndLosesTheWindow) {
  struct Case {
    const char* name;
    std::string content;
  };
  const Case cases[] = {
      {"empty", ""},
      {"three bytes", "abc"},
      {"header beyond the file", std::string("\xff\xff\x00\x00", 4) + std::string(40, '0')},
      {"header before the first record", std::string("\x02\x00\x00\x00", 4) + "0000000000"},
      {"length field not digits",
       std::string("\x1e\x00\x00\x00", 4) + "0101000000000101010" + "1xyAzzz"},
      {"length longer than the file", std::string("\x1e\x00\x00\x00", 4) + "0101000000000101010199999"},
      {"cells do not match the rectangle",
       std::string("\x20\x00\x00\x00", 4) + "01010000000001010505" + "ab" + "00027"},
      {"foreign text", "This is not a window stack at all, just some text.\r\n"},
  };
  for (const auto& c : cases) {
    FillPattern();
    ASSERT_EQ(PushWindow(3, 3, 10, 30), 0);
    DrawWindowFrame(2);
    const Snapshot drawn = Take(*console_);
    WriteFile(StackFile(), c.content);
    PopWindow();
    EXPECT_TRUE(Take(*console_).chars == drawn.chars) << c.name;
    EXPECT_EQ(Window.Depth, 0) << c.name;
    EXPECT_FALSE(StackFileExists()) << c.name;
    // The stack works again afterwards.
    FillPattern();
    const Snapshot clean = Take(*console_);
    ASSERT_EQ(PushWindow(5, 5, 9, 9), 0);
    DrawWindowFrame(1);
    PopWindow();
    EXPECT_TRUE(Take(*console_).chars == clean.chars) << c.name;
  }
}

TEST_F(ScreenLayer, LeftoverStackFileFromAnEarlierRunIsNotRestored) {
  WriteFile(StackFile(), std::string("\x1e\x00\x00\x00", 4) + std::string(40, 'Z'));
  FillPattern();
  const Snapshot before = Take(*console_);
  ASSERT_EQ(PushWindow(4, 4, 6, 6), 0);
  EXPECT_EQ(ReadFile(StackFile()).size(), 4u + 20u + 18u + 5u);
  DrawWindowFrame(2);
  PopWindow();
  EXPECT_TRUE(Take(*console_) == before);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(ScreenLayer, SmallScreenAndResizeNeverWriteOutside) {
  Install(10, 40);
  FillPattern();
  EXPECT_EQ(ScreenRows(), 10);
  EXPECT_EQ(ScreenColumns(), 40);
  EXPECT_NE(PushWindow(1, 59, 24, 80), 0);  // the calendar's place does not exist here
  PopWindow();
  ASSERT_EQ(PushWindow(4, 1, 22, 40), 0);   // a help window cut to the screen
  EXPECT_EQ(Window.Bottom, 10);
  DrawWindowFrame(2);
  EXPECT_EQ(console_->RowText(10), "\xc8" + std::string(38, '\xcd') + "\xbc");
  WriteAt(1, 30, "a text far longer than the rest of the row");
  EXPECT_EQ(console_->RowText(5).substr(30), "a text far");  // cut at the screen edge
  PopWindow();
  // Rows laid out for 25 lines are dropped, not written on the last row.
  const std::string last = console_->RowText(10);
  LocateAbsolute(25, 2);
  WriteText("status line");
  WriteAt(3, 39, "xyz");
  EXPECT_EQ(console_->RowText(10), last);
  EXPECT_EQ(console_->RowText(3, 39, 2), "xy");
  // A resize while a window is open: the pop restores what still fits.
  FillPattern();
  const std::string row2 = console_->RowText(2).substr(0, 20);
  ASSERT_EQ(PushWindow(2, 2, 9, 39), 0);
  DrawWindowFrame(1);
  console_->Resize(6, 20);
  PopWindow();
  EXPECT_EQ(console_->RowText(2), row2);
  EXPECT_EQ(Window.Depth, 0);
}

TEST_F(ScreenLayer, MessageWindowPlacement) {
  struct Case {
    const char* name;
    std::string text;
    int anchor;
    int top, left, bottom, right;
  };
  const Case cases[] = {
      {"one line of five at row 12", "HELLO", 12, 9, 36, 11, 44},
      {"one line of six", "HELLO!", 12, 9, 36, 11, 45},
      {"two lines", std::string(60, 'a') + " " + std::string(30, 'b'), 12, 9, 9, 12, 72},
      {"near the top", "x", 1, 1, 38, 3, 42},
      {"anchor below the screen", "x", 30, 23, 38, 25, 42},
      {"anchor on the last row", "x", 25, 22, 38, 24, 42},
  };
  for (const auto& c : cases) {
    console_ = std::make_unique<MemoryConsole>(25, 80);
    SetConsole(console_.get());
    ResetScreenState();
    SetDisplayMode("n");
    std::string text = c.text;
    ASSERT_EQ(ShowMessageWindow(c.anchor, text), 0) << c.name;
    EXPECT_EQ(Window.Top, c.top) << c.name;
    EXPECT_EQ(Window.Left, c.left) << c.name;
    EXPECT_EQ(Window.Bottom, c.bottom) << c.name;
    EXPECT_EQ(Window.Right, c.right) << c.name;
    EXPECT_EQ(CurrentDisplayMode(), 1) << c.name;  // back to the mode before
    uint8_t ch, attr;
    console_->GetCell(c.top, c.left, ch, attr);
    EXPECT_EQ(ch, 0xDA) << c.name;
    EXPECT_EQ(attr, ModeAttr(2)) << c.name;
    PopWindow();
  }
  // The example in full: frame and text cells.
  std::string text = "HELLO";
  ShowMessageWindow(12, text);
  EXPECT_EQ(console_->RowText(9, 36, 9), "\xda\xc4\xc4\xc4\xc4\xc4\xc4\xc4\xbf");
  EXPECT_EQ(console_->RowText(10, 36, 9), "\xb3 HELLO \xb3");
  EXPECT_EQ(console_->RowText(11, 36, 9), "\xc0\xc4\xc4\xc4\xc4\xc4\xc4\xc4\xd9");
  EXPECT_EQ(console_->RowAttrs(10, 36, 9), std::string(9, static_cast<char>(ModeAttr(2))));
  EXPECT_EQ(text, "HELLO" + std::string(71, ' '));
  PopWindow();
}

TEST_F(ScreenLayer, MessageWindowOnANarrowScreenStaysInside) {
  Install(12, 40);
  std::string text(100, 'w');
  text[50] = ' ';
  ASSERT_EQ(ShowMessageWindow(6, text), 0);
  EXPECT_GE(Window.Left, 1);
  EXPECT_LE(Window.Right, 40);
  PopWindow();
  Install(3, 40);
  ASSERT_EQ(PushWindow(1, 1, 3, 20), 0);
  std::string tall = "one two three four five six seven eight nine ten eleven twelve thirteen";
  EXPECT_NE(ShowMessageWindow(2, tall), 0);  // two lines need four rows
  EXPECT_EQ(Window.Depth, 1);
  EXPECT_EQ(CurrentDisplayMode(), 0);
  PopWindow();  // the message's pop leaves the window below open
  EXPECT_EQ(Window.Depth, 1);
  PopWindow();
  EXPECT_EQ(Window.Depth, 0);
}

TEST_F(ScreenLayer, DisplayModesAndTheirStack) {
  struct Case {
    std::vector<std::string> codes;
    int mode;
  };
  const Case cases[] = {
      {{"h"}, 0},          {{"n"}, 1},          {{"r"}, 2},
      {{"rh"}, 2},         {{"rn"}, 3},         {{"nr"}, 3},
      {{"u"}, 4},          {{"U"}, 4},          {{"ur"}, 4},
      {{"x"}, 0},          {{"n", "-"}, 0},     {{"n", "+u", "-"}, 1},
      {{"n", "   "}, 1},   {{"n", ""}, 1},      {{"r", "+u", "+n", "-"}, 4},
      {{"r", "+u", "+n", "-", "-"}, 2},         {{"n", "+r", "-", "-"}, 0},
      {{"u", "-u"}, 0},    {{"+", "n", "-"}, 0},
  };
  for (const auto& c : cases) {
    ResetScreenState();
    std::string seq;
    for (const auto& code : c.codes) {
      SetDisplayMode(code);
      seq += "[" + code + "]";
    }
    EXPECT_EQ(CurrentDisplayMode(), c.mode) << seq;
    EXPECT_EQ(CurrentAttribute(), ModeAttr(c.mode)) << seq;
  }
}

TEST_F(ScreenLayer, GuardsGiveBackModeCursorAndFoldingOnEveryWayOut) {
  for (const bool early : {false, true}) {
    ResetScreenState();
    SetDisplayMode("r");
    SetCursorSize(50);
    FoldStrict = 0;
    [&] {
      const ScopedDisplayMode outer("n");
      const ScopedCursorSize hidden(0);
      const ScopedFoldMode strict(-1);
      EXPECT_EQ(CurrentDisplayMode(), 1);
      EXPECT_EQ(CurrentCursorSize(), 0);
      EXPECT_EQ(FoldStrict, -1);
      if (early) return;
      const ScopedDisplayMode inner("u");
      EXPECT_EQ(CurrentDisplayMode(), 4);
    }();
    EXPECT_EQ(CurrentDisplayMode(), 2) << early;
    EXPECT_EQ(CurrentAttribute(), ModeAttr(2)) << early;
    EXPECT_EQ(CurrentCursorSize(), 50) << early;
    EXPECT_EQ(FoldStrict, 0) << early;
  }
}

TEST_F(ScreenLayer, FramesInEveryStyle) {
  struct Case {
    int style;
    const char* top;
    const char* middle;
    const char* bottom;
  };
  const Case cases[] = {
      {0, "     ", "     ", "     "},
      {1, "\xda\xc4\xc4\xc4\xbf", "\xb3   \xb3", "\xc0\xc4\xc4\xc4\xd9"},
      {2, "\xc9\xcd\xcd\xcd\xbb", "\xba   \xba", "\xc8\xcd\xcd\xcd\xbc"},
  };
  for (const auto& c : cases) {
    FillPattern();
    SetDisplayMode("r");
    ASSERT_EQ(PushWindow(3, 4, 6, 8), 0);
    DrawWindowFrame(c.style);
    EXPECT_EQ(console_->RowText(3, 4, 5), c.top) << c.style;
    EXPECT_EQ(console_->RowText(4, 4, 5), c.middle) << c.style;
    EXPECT_EQ(console_->RowText(5, 4, 5), c.middle) << c.style;
    EXPECT_EQ(console_->RowText(6, 4, 5), c.bottom) << c.style;
    EXPECT_EQ(console_->RowAttrs(6, 4, 5), std::string(5, static_cast<char>(ModeAttr(2))));
    EXPECT_NE(console_->RowText(2, 4, 5), "     ");  // nothing above the window
    PopWindow();
  }
  FillPattern();
  const Snapshot before = Take(*console_);
  DrawWindowFrame(2);  // no window open
  EXPECT_TRUE(Take(*console_) == before);
}

TEST_F(ScreenLayer, KeysInAFrameLine) {
  struct Case {
    const char* name;
    const char* keys;
    int width, style;
    const char* line;
  };
  const Case cases[] = {
      {"blanks beside the keys, line beside the tees", "F1 Ajuda", 14, 1, "\xc4\xb4 F1 Ajuda \xc3\xc4"},
      {"double lines", "F1 Ajuda", 14, 2, "\xcd\xb9 F1 Ajuda \xcc\xcd"},
      {"the odd cell on the right", "Esc", 10, 1, "\xc4\xb4 Esc \xc3\xc4\xc4"},
      {"one cell short: no blanks", "F1 Ajuda", 13, 1, "\xc4\xb4" "F1 Ajuda\xc3\xc4\xc4"},
      {"groups go from the end", "Intro Triar  F4 Llista  Esc Sortir", 14, 1, "\xb4" "Intro Triar\xc3\xc4"},
      {"a first group too long loses its end", "Intro Triar", 8, 1, "\xb4" "Intro \xc3"},
      {"no keys", "", 5, 1, "\xc4\xc4\xc4\xc4\xc4"},
      {"no room for the tees", "Esc", 2, 1, "\xc4\xc4"},
  };
  for (const auto& c : cases) EXPECT_EQ(FrameLineWithKeys(c.keys, c.width, c.style), c.line) << c.name;
}

TEST_F(ScreenLayer, ScrollRegionMovesTheRectangleOnly) {
  struct Case {
    int n;
    std::vector<std::string> rows;  // rows 2..5, columns 2..4 after the scroll
  };
  const Case cases[] = {
      {1, {"bbb", "ccc", "ddd", "   "}},
      {2, {"ccc", "ddd", "   ", "   "}},
      {-1, {"   ", "aaa", "bbb", "ccc"}},
      {0, {"   ", "aaa", "bbb", "ccc"}},
      {9, {"   ", "   ", "   ", "   "}},
      {-9, {"   ", "   ", "   ", "   "}},
  };
  for (const auto& c : cases) {
    for (int r = 1; r <= 6; ++r)
      for (int col = 1; col <= 5; ++col)
        console_->PutCell(r, col, static_cast<uint8_t>(r == 1 || r == 6 || col == 1 || col == 5
                                                           ? '#' : 'a' + r - 2), 7);
    SetDisplayMode("r");
    ScrollRegion(1, 1, 4, 3, c.n);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(console_->RowText(i + 2, 2, 3), c.rows[static_cast<size_t>(i)]) << c.n << " row "
                                                                                << i + 2;
    EXPECT_EQ(console_->RowText(1, 1, 5), "#####") << c.n;
    EXPECT_EQ(console_->RowText(6, 1, 5), "#####") << c.n;
    EXPECT_EQ(console_->RowText(3, 1, 1), "#") << c.n;
    EXPECT_EQ(console_->RowText(3, 5, 1), "#") << c.n;
  }
  uint8_t ch, attr;
  console_->GetCell(5, 2, ch, attr);  // a freed cell takes the current colour
  EXPECT_EQ(attr, ModeAttr(2));
}

TEST_F(ScreenLayer, FormatTextLinesEveryAlignment) {
  struct Case {
    std::string text;
    int indent, width;
    const char* align;
    std::string expected;
  };
  const Case cases[] = {
      {"ab", 0, 10, "C", "    ab    "},
      {"abc", 0, 10, "c", "   abc    "},
      {"ab", 0, 10, "E", "ab        "},
      {"ab", 0, 10, "l", "ab        "},
      {"ab", 0, 10, "I", "ab        "},
      {"ab", 0, 10, "R", "        ab"},
      {"ab", 0, 10, "d", "        ab"},
      {"ab", 0, 10, "N", "ab--------"},
      {"ab", 0, 10, "x", "ab"},
      {"ab", 0, 10, "", "ab"},
      {"one two three four", 0, 9, "L", "one two  three    four     "},
      {"one two three four", 0, 9, "R", "  one two    three     four"},
      {"aa bb cc dd ee", 0, 10, "B", "aa  bb  ccdd ee"},
      {"a b c defghij", 0, 8, "A", "a   b  cdefghij"},
      {"one two three four", 0, 9, "A", "one   twothreefour"},
      {"abcdefghijkl", 0, 5, "L", "abcdefghijkl   "},
      {"aaa bbb ccc", 2, 7, "L", "  aaa  bbb ccc"},
      {"aaa bbb ccc ddd", -2, 7, "L", "aaa bbb  ccc    ddd  "},
      {"a\x1e" "bc\x1e def", 0, 4, "L", "a\x1e" "bc\x1e def "},
      {"ab\x1f cd", 0, 2, "L", "ab\x1f" "cd"},
      {"word   ", 0, 6, "L", "word  "},
      {"", 0, 10, "L", ""},
      {"abc", 5, 3, "L", "     abc "},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    FormatTextLines(text, c.indent, c.width, c.align);
    EXPECT_EQ(text, c.expected) << "[" << c.text << "] indent " << c.indent << " width "
                                << c.width << " align " << c.align;
  }
}

}  // namespace

// A memory console that keeps the screen as it was when the first event was
// asked for: what the user sees while a routine waits for a key.
class WaitSnoopConsole : public MemoryConsole {
 public:
  using MemoryConsole::MemoryConsole;
  bool NextEvent(InputEvent& ev) override {
    if (!snapped) {
      snapped = true;
      seen = Take(*this);
    }
    return MemoryConsole::NextEvent(ev);
  }
  bool snapped = false;
  Snapshot seen;
};

TEST_F(ScreenLayer, TellUserAndWaitShowsTheTextWaitsForOneKeyAndPutsTheScreenBack) {
  enum class Stack { Writable, InMissingFolder };
  struct Case {
    const char* name;
    int rows;
    Stack stack;
    int textRow, textCol;  // where "HELLO" is seen while waiting
    uint8_t textAttr;
    int keysRow, keysCol;  // where the keys are seen; row 0: nowhere
    std::string keys;      // as seen there
    Language language = Language::Catalan;
  };
  // The window is as wide as its bottom line needs for the keys.
  const Case cases[] = {
      {"in a window", 25, Stack::Writable, 10, 24, ModeAttr(2), 11, 22,
       "\xc0\xc4\xb4 Qualsevol tecla per continuar \xc3\xc4\xd9"},
      {"in a window, in Spanish", 25, Stack::Writable, 10, 24, ModeAttr(2), 11, 22,
       "\xc0\xc4\xb4 Pulse una tecla para continuar \xc3\xc4\xd9", Language::Spanish},
      {"in a window, in Galician", 25, Stack::Writable, 10, 23, ModeAttr(2), 11, 21,
       "\xc0\xc4\xb4 Prema unha tecla para continuar \xc3\xc4\xd9", Language::Galician},
      {"in a window, in Occitan", 25, Stack::Writable, 10, 23, ModeAttr(2), 11, 21,
       "\xc0\xc4\xb4 Quinsevolh tecla ent\x85 contunhar \xc3\xc4\xd9", Language::Occitan},
      {"window stack cannot be written", 25, Stack::InMissingFolder, 12, 3, 0x70, 13, 3,
       std::string(23, ' ') + "Qualsevol tecla per continuar" + std::string(24, ' ')},
      {"too low a screen for the frame", 2, Stack::Writable, 2, 3, 0x70, 0, 0, ""},
  };
  for (const auto& c : cases) {
    auto snoop = std::make_unique<WaitSnoopConsole>(c.rows, 80);
    SetConsole(snoop.get());
    ScreenSettings settings = CurrentScreenSettings();
    settings.windowStackPath = c.stack == Stack::InMissingFolder ? dir_ + "/missing/WinPush.tmp" : StackFile();
    settings.language = c.language;
    std::remove(StackFile().c_str());
    SetScreenSettings(settings);
    ResetScreenState();
    ResetKeyboardState();
    for (int r = 1; r <= c.rows; ++r)
      for (int col = 1; col <= 80; ++col) snoop->PutCell(r, col, '.', 0x07);
    SetDisplayMode("n");
    LocateAbsolute(5, 6);
    const Snapshot before = Take(*snoop);
    snoop->PushKey('a');
    snoop->PushKey('b');
    TellUserAndWait(12, "HELLO");
    ASSERT_TRUE(snoop->snapped) << c.name;
    EXPECT_EQ(snoop->seen.chars[static_cast<size_t>(c.textRow - 1)].substr(static_cast<size_t>(c.textCol - 1), 5),
              "HELLO")
        << c.name;
    EXPECT_EQ(snoop->seen.attrs[static_cast<size_t>(c.textRow - 1)][static_cast<size_t>(c.textCol - 1)],
              static_cast<char>(c.textAttr))
        << c.name;
    if (c.keysRow != 0) {
      EXPECT_EQ(snoop->seen.chars[static_cast<size_t>(c.keysRow - 1)].substr(static_cast<size_t>(c.keysCol - 1),
                                                                              c.keys.size()),
                c.keys)
          << c.name;
    }
    EXPECT_EQ(Take(*snoop), before) << c.name;
    EXPECT_EQ(snoop->Beeps(), 1) << c.name;
    EXPECT_EQ(snoop->PendingEvents(), 0u) << c.name;  // typed-ahead keys dropped, one key spent
    EXPECT_EQ(Window.Depth, 0) << c.name;
    EXPECT_EQ(CurrentDisplayMode(), 1) << c.name;
    // The window stack is balanced: a window opened afterwards closes cleanly.
    ASSERT_EQ(PushWindow(1, 1, 2, 2), c.stack == Stack::Writable ? 0 : 1) << c.name;
    PopWindow();
    EXPECT_EQ(Take(*snoop), before) << c.name;
    SetConsole(console_.get());
  }
  std::remove(StackFile().c_str());
  ScreenSettings settings = CurrentScreenSettings();
  settings.windowStackPath = StackFile();
  settings.language = Language::Catalan;
  SetScreenSettings(settings);
}

// A folder or a named pipe at the window stack's name is neither waited on
// nor written: the stack is kept in memory, the user is told once with the
// file named, and windows still put back what they cover.
TEST_F(ScreenLayer, StackFileThatIsNoFileIsIgnoredWithANote) {
  const bool folder[] = {true, false};
  for (const bool isFolder : folder) {
    SCOPED_TRACE(isFolder ? "a folder" : "a named pipe");
    auto snoop = std::make_unique<WaitSnoopConsole>(25, 80);
    SetConsole(snoop.get());
    std::filesystem::remove_all(StackFile());
    if (isFolder) {
      ASSERT_TRUE(std::filesystem::create_directory(StackFile()));
    } else {
      ASSERT_EQ(mkfifo(StackFile().c_str(), 0600), 0);
    }
    ResetScreenState();
    ResetKeyboardState();
    for (int r = 1; r <= 25; ++r)
      for (int col = 1; col <= 80; ++col) snoop->PutCell(r, col, '.', 0x07);
    const Snapshot before = Take(*snoop);
    ASSERT_EQ(PushWindow(3, 3, 8, 40), 0);
    ASSERT_TRUE(snoop->snapped);  // the note waited for a key
    std::string seen;
    for (const std::string& row : snoop->seen.chars) seen += row;
    EXPECT_NE(seen.find("WinPush.tmp"), std::string::npos) << seen;
    DrawWindowFrame(1);
    const Snapshot framed = Take(*snoop);
    EXPECT_EQ(framed.chars[2].substr(2, 3), "\xda\xc4\xc4");
    ASSERT_EQ(PushWindow(5, 10, 12, 60), 0);
    DrawWindowFrame(2);
    PopWindow();
    EXPECT_EQ(Take(*snoop), framed);
    PopWindow();
    EXPECT_EQ(Take(*snoop), before);
    EXPECT_EQ(Window.Depth, 0);
    EXPECT_EQ(std::filesystem::is_directory(StackFile()), isFolder);
    EXPECT_EQ(std::filesystem::is_fifo(StackFile()), !isFolder);
    SetConsole(console_.get());
  }
  std::filesystem::remove_all(StackFile());
  ResetScreenState();
}
