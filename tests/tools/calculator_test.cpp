#include "tools/calculator.h"
#include "tools/calendar.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "tests/tools/tools_fixture.h"

namespace {

// Keys of a script: one character per key; "<" Left, ">" Right, "\b"
// Backspace, "\r" Enter, "\x1b" Esc.
int KeyOf(char c) {
  switch (c) {
    case '<': return KeyLeft;
    case '>': return KeyRight;
    default: return static_cast<unsigned char>(c);
  }
}

CalcState Press(const std::string& keys, CalcState s = CalcState()) {
  for (char c : keys) CalculatorKey(s, KeyOf(c));
  return s;
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string Shown(const CalcState& s) {
  return Trimmed(CalculatorNumberText(s.Entry, s.PointEntered, s.DecimalsEntered));
}

// The newest n tape lines, oldest first, as "value op" texts.
std::string TapeTail(const CalcState& s, int n) {
  std::string out;
  for (int i = kCalcTapeLines - n; i < kCalcTapeLines; ++i) {
    const CalcTapeLine& t = s.Tape[i];
    if (!out.empty()) out += "|";
    out += Trimmed(CalculatorNumberText(t.Value, t.Point, t.Decimals)) + " " + t.Operator;
  }
  return out;
}

TEST(CalculatorKeys, Arithmetic) {
  struct Case {
    const char* keys;
    const char* display;  // the display with the default separators ' and .
    const char* pending;
    bool entryActive;
  };
  const Case cases[] = {
      {"2+3=", "5", "", false},
      {"200+10%", "20", "+", true},
      {"200-10%", "20", "-", true},
      {"50*10%", "0'1", "*", true},
      {"200+10%=", "220", "", false},
      {"200-10%=", "180", "", false},
      {"7/2=", "3'5", "", false},
      {"1/3=", "0'333333333333333", "", false},
      {"2/3=", "0'666666666666667", "", false},  // rounded at 15 digits
      {"0.1+0.2=", "0'3", "", false},
      {"1.5*4=", "6", "", false},
      {"10-12.25=", "-2'25", "", false},
      {"2+3*4=", "20", "", false},           // from left to right, no precedence
      {"2++", "4", "+", false},              // a repeated operator reuses the display
      {"2+3==", "5", "", false},             // "=" needs a typed number
      {"2+3\r", "5", "", false},             // Enter is "="
      {"12t3", "-123", "", true},            // the sign is kept while typing
      {"5t", "-5", "", true},
      {"1.2.3", "1'23", "", true},           // a second point is ignored
      {"123\b", "12", "", true},
      {"1.23\b", "1'2", "", true},
      {"1.\b", "1", "", true},
      {"5\b", "0", "", false},               // back to nothing ends the entry
      {"12+34c", "12", "+", false},          // "C" cancels the typed number only
      {"12+34c5=", "17", "", false},
      {"12+34cc", "0", "", false},           // a second "C" clears all
      {"12*cc3=", "3", "", false},           // nothing stays pending after a clear
      {"2.125r", "2'12", "", false},         // halves to the even cent
      {"2.375r", "2'38", "", false},
      {"2.349tr", "-2'34", "", false},       // negatives cut toward zero
      {"2+3.456=r", "5'46", "", false},
      {"5r+1=", "6", "", false},
      {"xyz#\x01", "0", "", false},          // ignored keys
      // Division by zero and overflow show the overflow form; "C" recovers.
      {"1/0=", "!!!!!!!!!!!!!!!!!!!!!", "", false},
      {"0/0=", "!!!!!!!!!!!!!!!!!!!!!", "", false},
      {"1/0=+5=r%", "!!!!!!!!!!!!!!!!!!!!!", "", false},
      {"99999999999*99999999999=", "!!!!!!!!!!!!!!!!!!!!!", "", false},
      {"1/0=c", "0", "", false},
  };
  for (const Case& c : cases) {
    const CalcState s = Press(c.keys);
    EXPECT_EQ(Shown(s), c.display) << c.keys;
    EXPECT_EQ(s.PendingOperator, c.pending) << c.keys;
    EXPECT_EQ(s.EntryActive, c.entryActive) << c.keys;
  }
}

TEST(CalculatorKeys, Tape) {
  struct Case {
    const char* keys;
    int lines;
    const char* tail;
    int topRow;
  };
  const Case cases[] = {
      {"2+3=", 3, "2 +|3 =|5  ", 20},
      {"200+10%=", 4, "200 +|10 %|20 =|220  ", 19},
      {"2.125r", 1, "2'12 R", 22},
      {"1.50+", 1, "1'50 +", 22},          // typed decimals are kept on the tape
      {"2+3=ccc", 3, "2 +|3 =|5  ", 23},   // the third "C" hides the tape
      {"5+c", 1, "5 +", 22},
      {"1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1=", 2, "1 =|25  ", 2},
  };
  for (const Case& c : cases) {
    const CalcState s = Press(c.keys);
    EXPECT_EQ(TapeTail(s, c.lines), c.tail) << c.keys;
    EXPECT_EQ(s.TopTapeRow, c.topRow) << c.keys;
  }
}

TEST(CalculatorKeys, ManyDigits) {
  // More than 15 significant digits stay as typed until an operator.
  CalcState s = Press("1234567890.123456789");
  EXPECT_EQ(s.DecimalsEntered, 9);
  EXPECT_DOUBLE_EQ(s.Entry, 1234567890.123456789);
  s = Press("+", s);
  EXPECT_EQ(s.DecimalsEntered, 5);
  EXPECT_EQ(s.Entry, 1234567890.12346);
  // Decimals beyond what the display can show are ignored.
  s = Press("0." + std::string(30, '1'));
  EXPECT_EQ(s.DecimalsEntered, kCalcMaxDecimals);
  EXPECT_NE(CalculatorNumberText(s.Entry, s.PointEntered, s.DecimalsEntered).find('\''), std::string::npos);
}

TEST(CalculatorKeys, DigitsPastTheRangeOfADouble) {
  const CalcState huge = Press(std::string(400, '9'));
  EXPECT_TRUE(std::isinf(huge.Entry));
  EXPECT_EQ(Shown(huge), std::string(21, '!'));
  EXPECT_EQ(CalculatorResultText(huge), "");
}

TEST(CalculatorResult, InHundredths) {
  struct Case {
    const char* keys;
    const char* result;
  };
  const Case cases[] = {
      {"12.5", "1250"},     {"1.2345", "123.45"},  {"0.05", "5"},     {"1250.5", "125050"},
      {"0", "0"},           {"", "0"},             {"3t", "300"},     {"0.001", "0.1"},
      {"2+3=", "500"},      {"1/3=", "33.3333333333333"},            {"50*10%", "10"},
      {"1/0=", ""},         {"1000000*1000000=", "100000000000000"},
      {"1.5", "150"},       {"1.", "100"},
  };
  for (const Case& c : cases) EXPECT_EQ(CalculatorResultText(Press(c.keys)), c.result) << c.keys;
}

TEST(CalculatorStateFile, RoundTrip) {
  const char* scripts[] = {"", "2+3=", "1/3=", "200+10%", "1.50", "1/0=", "0/0=", "12t3", "2+3=ccc<"};
  for (const char* keys : scripts) {
    CalcState s = Press(keys);
    s.WindowColumn = 40;
    const CalcState back = ParseCalculatorState(CalculatorStateText(s));
    EXPECT_EQ(CalculatorStateText(back), CalculatorStateText(s)) << keys;
    EXPECT_EQ(Shown(back), Shown(s)) << keys;
  }
}

TEST(CalculatorStateFile, DamagedFileReadItemByItem) {
  struct Case {
    const char* name;
    std::string text;
    int column, topRow;
    double entry, accumulator;
    bool cleared, active;
    const char* pending;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"empty", "", 1, 23, 0, 0, true, false, ""},
      {"only line 1", "9,21,1.5,2.5", 9, 21, 1.5, 2.5, true, false, ""},
      {"LF line ends", "9,21,1.5,2.5\n0,-1,0,0\n\"+\",\"*\"\n", 9, 21, 1.5, 2.5, false, true, "*"},
      {"garbage items", "x,21,abc,2.5\n0,yes,0,0\n\"+\",\"?\"\n", 1, 21, 0, 2.5, false, false, ""},
      {"short line", "12\n", 12, 23, 0, 0, true, false, ""},
      {"numbers with trailing text", "3x,21 ,4.5e,6\n", 1, 21, 0, 6, true, false, ""},
      {"out of range", "-5,99,1,1\n0,0,0,99\n", 1, 23, 1, 1, false, false, ""},
      {"binary noise", std::string("\x00\xff,\x01\r\n\"\x80", 8), 1, 23, 0, 0, true, false, ""},
      {"quoted comma", "4,22,1,1\n0,0,0,0\n\",\",\"-\"\n", 4, 22, 1, 1, false, false, "-"},
      {"infinite values kept", "4,22,inf,-inf\n", 4, 22, inf, -inf, true, false, ""},
  };
  for (const Case& c : cases) {
    const CalcState s = ParseCalculatorState(c.text);
    EXPECT_EQ(s.WindowColumn, c.column) << c.name;
    EXPECT_EQ(s.TopTapeRow, c.topRow) << c.name;
    EXPECT_EQ(s.Entry, c.entry) << c.name;
    EXPECT_EQ(s.Accumulator, c.accumulator) << c.name;
    EXPECT_EQ(s.ClearedFlag, c.cleared) << c.name;
    EXPECT_EQ(s.EntryActive, c.active) << c.name;
    EXPECT_EQ(s.PendingOperator, c.pending) << c.name;
    EXPECT_LE(s.DecimalsEntered, kCalcMaxDecimals) << c.name;
  }
  // Tape lines: a line with an operator that is none keeps a blank one.
  const CalcState t = ParseCalculatorState("1,2,0,0\n0,0,0,0\n\"\",\"\"\n5,0,0,\"Q\"\n6,-1,1,\"%\"\n");
  EXPECT_EQ(t.Tape[0].Value, 5);
  EXPECT_EQ(t.Tape[0].Operator, ' ');
  EXPECT_EQ(Trimmed(CalculatorNumberText(t.Tape[1].Value, t.Tape[1].Point, t.Tape[1].Decimals)) + t.Tape[1].Operator,
            "6'0%");
}

// --- On the screen --------------------------------------------------------

class CalculatorScreen : public ToolTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    SetCalculatorHook(Calculator);
    SetCalendarHook(ShowCalendar);
  }
  std::string StatePath() const { return dir_ + "/ZEPCALC.TMP"; }
  std::string StateText() const {
    std::ifstream in(StatePath(), std::ios::binary);
    std::ostringstream b;
    b << in.rdbuf();
    return b.str();
  }
  void Keys(const std::string& keys) {
    for (char c : keys) console_->PushKey(static_cast<uint16_t>(KeyOf(c)));
  }
  static std::string Screen(const MemoryConsole& con) {
    std::string all;
    for (int r = 1; r <= con.Rows(); ++r) all += con.RowText(r) + con.RowAttrs(r, 1, con.Columns());
    return all;
  }
};

const std::string kTop = "\xDA" + std::string(24, '\xC4') + "\xBF";
// The line above the display names the operation keys, the bottom line F
// and Esc in the session's language.
const std::string kOperations = "\xC4\xB4+-*/% =Intro C T\xF1 R\xC3\xC4\xC4";
const std::string kKeysTop = "\xDA" + kOperations + "\xBF";
const std::string kSeparator = "\xC3" + kOperations + "\xB4";
const std::string kBottom = "\xC0\xC4\xB4" "F Triar  Esc Sortir\xC3\xC4\xC4\xD9";
std::string DisplayRow(const std::string& shown) {
  return "\xB3 " + std::string(21 - shown.size(), ' ') + shown + "  \xB3";
}
std::string TapeRow(const std::string& shown, char op) {
  return "\xB3 " + std::string(21 - shown.size(), ' ') + shown + " " + op + "\xB3";
}

// A console that remembers the screen when the scripted keys run out, that
// is while the calculator waits for the next key.
class SnapshotConsole : public MemoryConsole {
 public:
  bool NextEvent(InputEvent& ev) override {
    if (PendingEvents() == 0 && rows.empty())
      for (int r = 1; r <= Rows(); ++r) rows.push_back(RowText(r) + RowAttrs(r, 1, Columns()));
    return MemoryConsole::NextEvent(ev);
  }
  std::vector<std::string> rows;
};

TEST_F(CalculatorScreen, BoxTapeAndDisplay) {
  struct Case {
    const char* name;
    const char* keys;
    int column;  // box column after the keys
    std::vector<std::pair<int, std::string>> rows;
    const char* language = "CAT";
  };
  const Case cases[] = {
      {"fresh", "", 1, {{22, std::string(26, 'A')}, {23, kKeysTop}, {24, DisplayRow("0")}, {25, kBottom}}},
      {"typing", "12.5", 1, {{23, kKeysTop}, {24, DisplayRow("12'5")}}},
      {"a sum", "2+3=", 1,
       {{18, std::string(26, 'A')}, {19, kTop}, {20, TapeRow("2", '+')}, {21, TapeRow("3", '=')},
        {22, TapeRow("5", ' ')}, {23, kSeparator}, {24, DisplayRow("5")}}},
      {"tape hidden", "2+3=ccc", 1, {{19, std::string(26, 'A')}, {22, std::string(26, 'A')}, {23, kKeysTop}}},
      {"moved right", ">>", 3, {{23, std::string(2, 'A') + kKeysTop}}},
      {"left from column 1 wraps to the right edge", "<", 55, {{23, std::string(54, 'A') + kKeysTop}}},
      {"right from the right edge wraps to column 1", "<>", 1, {{23, kKeysTop + std::string(54, 'A')}}},
      {"Spanish", "", 1, {{25, "\xC0\xC4\xB4" "F Elegir  Esc Salir\xC3\xC4\xC4\xD9"}}, "SPA"},
      {"Galician", "", 1, {{25, "\xC0\xC4\xB4" "F Escoller  Esc Sa\xA1r\xC3\xC4\xD9"}}, "GLG"},
      {"Occitan", "", 1, {{25, "\xC0\xC4\xB4" "F Causir  Esc Sortir\xC3\xC4\xD9"}}, "OCI"},
  };
  for (const Case& c : cases) {
    auto snap = std::make_unique<SnapshotConsole>();
    SetConsole(snap.get());
    Session.Language = c.language;
    std::filesystem::remove(StatePath());
    for (int r = 1; r <= 25; ++r) {
      LocateAbsolute(r, 1);
      WriteText(std::string(80, 'A'));
    }
    const std::string before = Screen(*snap);
    for (char ch : std::string(c.keys)) snap->PushKey(static_cast<uint16_t>(KeyOf(ch)));
    EXPECT_EQ(Calculator(), "") << c.name;  // input ends: Esc
    ASSERT_EQ(snap->rows.size(), 25u) << c.name;
    for (const auto& [row, text] : c.rows) {
      const int col = text.size() == 26 ? c.column : 1;
      EXPECT_EQ(snap->rows[row - 1].substr(col - 1, text.size()), text) << c.name << " row " << row;
    }
    // Mode "n" (7 on 0) for the whole box.
    EXPECT_EQ(snap->rows[23].substr(80 + c.column - 1, 26), std::string(26, '\x07')) << c.name;
    EXPECT_EQ(Screen(*snap), before) << c.name;  // the screen under the box is back
    EXPECT_EQ(ParseCalculatorState(StateText()).WindowColumn, c.column) << c.name;
    EXPECT_FALSE(StackFileExists()) << c.name;
    SetConsole(console_.get());
  }
}

TEST_F(CalculatorScreen, StateKeptBetweenOpenings) {
  EXPECT_EQ(Calculator(), "");  // creates the file with the initial state
  EXPECT_EQ(StateText(), CalculatorStateText(CalcState()));
  Keys("2+3=>>F");
  EXPECT_EQ(Calculator(), "500");
  const std::string saved = StateText();
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(saved.substr(0, 3), "3,2");  // column 3, tape from row 20

  // The next opening shows the same box, tape and display.
  auto snap = std::make_unique<SnapshotConsole>();
  SetConsole(snap.get());
  EXPECT_EQ(Calculator(), "");
  ASSERT_EQ(snap->rows.size(), 25u);
  EXPECT_EQ(snap->rows[18].substr(2, 26), kTop);
  EXPECT_EQ(snap->rows[21].substr(2, 26), TapeRow("5", ' '));
  EXPECT_EQ(snap->rows[23].substr(2, 26), DisplayRow("5"));
  EXPECT_EQ(StateText(), saved);  // nothing changed: the same file
  SetConsole(console_.get());
}

TEST_F(CalculatorScreen, OverflowTypesNothingAndBeeps) {
  Keys("1/0=F");
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(console_->Beeps(), 1);
  EXPECT_TRUE(std::isinf(ParseCalculatorState(StateText()).Entry));  // still shown next time
}

TEST_F(CalculatorScreen, DamagedStateFileOpensAndIsRepaired) {
  std::ofstream(StatePath(), std::ios::binary) << "90,abc\r\n\"\r\n,,,\r\nnonsense\r\n";
  Keys("7F");
  EXPECT_EQ(Calculator(), "700");
  const CalcState s = ParseCalculatorState(StateText());
  EXPECT_EQ(s.WindowColumn, 55);  // brought back onto the screen
  EXPECT_EQ(s.Entry, 7);
  EXPECT_EQ(CalculatorStateText(ParseCalculatorState(StateText())), StateText());
}

TEST_F(CalculatorScreen, NamedPipeInPlaceOfTheStateFileIsNeitherReadNorWritten) {
  ASSERT_EQ(mkfifo(StatePath().c_str(), 0600), 0);
  Keys("12F");
  EXPECT_EQ(Calculator(), "1200");
  EXPECT_TRUE(std::filesystem::is_fifo(StatePath()));
}

TEST_F(CalculatorScreen, RestoresModeExitKeysAndCursor) {
  // A screen that saved the set before its own: both come back in turn.
  SetExitKeys("ea", "1b");
  const std::string before = ExitKeyCodes;
  SetExitKeys("+ea", "d,3b00");
  SetDisplayMode("r");
  SetCursorSize(50);
  const std::string codes = ExitKeyCodes;
  Keys("1+2=\x1b");
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(ExitKeyCodes, codes);
  SetExitKeys("-", "");
  EXPECT_EQ(ExitKeyCodes, before);
  EXPECT_EQ(CurrentDisplayMode(), 2);
  EXPECT_EQ(console_->CursorSize(), 50);
  EXPECT_EQ(Window.Depth, 0);
}

TEST_F(CalculatorScreen, TooSmallScreenBeepsAndLeavesEverything) {
  const int sizes[][2] = {{24, 80}, {10, 80}, {25, 25}};
  for (const auto& size : sizes) {
    Install(size[0], size[1]);
    FillPattern();
    const std::string before = Screen(*console_);
    Keys("5F");
    EXPECT_EQ(Calculator(), "") << size[0] << "x" << size[1];
    EXPECT_EQ(console_->Beeps(), 1) << size[0] << "x" << size[1];
    EXPECT_EQ(Screen(*console_), before) << size[0] << "x" << size[1];
    EXPECT_FALSE(std::filesystem::exists(StatePath())) << size[0] << "x" << size[1];
  }
}

TEST_F(CalculatorScreen, HotKeyTypesTheResultAndDoesNotNest) {
  // Alt+X inside the calculator is an ignored key: "F" ends the only
  // calculator, and its result comes before the next key.
  console_->PushKey(KeyAltX, ModAlt);
  Keys("7");
  console_->PushKey(KeyAltX, ModAlt);
  Keys("Fz");
  EXPECT_EQ(WaitForKey(), KeyAltX);
  std::string typed;
  for (int i = 0; i < 4; ++i) typed += static_cast<char>(WaitForKey());
  EXPECT_EQ(typed, "700z");
  EXPECT_FALSE(CalculatorBusy());
}

TEST_F(CalculatorScreen, ResultTypedIntoTheFieldBeingEdited) {
  SetExitKeys("+ea", "d");
  console_->PushKey(KeyAltX, ModAlt);
  Keys("12.5*2=F\r");
  std::string text(8, ' ');
  int pos = 1, key = 0;
  EditField(5, 10, 0, text, pos, key);
  EXPECT_EQ(text, "2500    ");
  EXPECT_EQ(key, KeyEnter);
  EXPECT_EQ(console_->RowText(5, 10, 8), "2500    ");
  SetExitKeys("-", "");
}

}  // namespace
