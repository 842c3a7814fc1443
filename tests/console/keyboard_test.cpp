#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console/guards.h"
#include "console/keydecode.h"
#include "tests/support/console_fixture.h"

namespace {

using KeyReader = ConsoleTest;

int NextKey() {
  int key = 0, buttons = 0, row = 0, col = 0;
  ReadKey(key, buttons, row, col);
  return key;
}

TEST_F(KeyReader, CodesWithModifiers) {
  struct Case {
    const char* name;
    uint16_t code;
    uint8_t mods;
    bool keypad;
    int expected;
  };
  const Case cases[] = {
      {"letter", 'a', 0, false, 'a'},
      {"euro byte", 0xD5, 0, false, 0xD5},
      {"shift F1", 0x3B00, ModShift, false, 0x5400},
      {"shift F10", 0x4400, ModShift, false, 0x5D00},
      {"shift F11", 0x8500, ModShift, false, 0x8700},
      {"shift F12", 0x8600, ModShift, false, 0x8800},
      {"ctrl F1", 0x3B00, ModCtrl, false, 0x5E00},
      {"ctrl F4", 0x3E00, ModCtrl, false, 0x6100},
      {"ctrl F11", 0x8500, ModCtrl, false, 0x8900},
      {"ctrl F12", 0x8600, ModCtrl, false, 0x8A00},
      {"alt F1", 0x3B00, ModAlt, false, 0x6800},
      {"alt F4", 0x3E00, ModAlt, false, 0x6B00},
      {"alt F11", 0x8500, ModAlt, false, 0x8B00},
      {"alt F12", 0x8600, ModAlt, false, 0x8C00},
      {"alt wins over ctrl", 0x3B00, ModAlt | ModCtrl, false, 0x6800},
      {"ctrl wins over shift", 0x3B00, ModCtrl | ModShift, false, 0x5E00},
      {"ctrl home", 0x4700, ModCtrl, false, 0x7700},
      {"ctrl left", 0x4B00, ModCtrl, false, 0x7300},
      {"ctrl right", 0x4D00, ModCtrl, false, 0x7400},
      {"ctrl end keeps its code", 0x4F00, ModCtrl, false, 0x4F00},
      {"shift home keeps its code", 0x4700, ModShift, false, 0x4700},
      {"alt left keeps its code", 0x4B00, ModAlt, false, 0x4B00},
      {"alt E is the euro sign", 0x1200, ModAlt, false, 0xD5},
      {"shift tab", 0x0F00, 0, false, 0x0F00},
      {"keypad end without alt", 0x4F00, 0, true, 0x4F00},
  };
  for (const auto& c : cases) {
    console_->PushKey(c.code, c.mods, c.keypad);
    EXPECT_EQ(NextKey(), c.expected) << c.name;
  }
  EXPECT_EQ(NextKey(), 0);  // nothing pending, no mouse
}

// What a terminal sends, through the decoder and ReadKey, to the PC codes.
TEST_F(KeyReader, TerminalBytesToKeyCodes) {
  struct Case {
    std::string bytes;
    std::vector<int> keys;
  };
  const Case cases[] = {
      {"\x1b[21;2~", {0x5D00}},          {"\x1b[24;5~", {0x8A00}},
      {"\x1b[23;3~", {0x8B00}},          {"\x1b[1;5D\x1b[1;5C", {0x7300, 0x7400}},
      {"\x1b[1;5H", {0x7700}},           {"\x1b" "e", {0xD5}},
      {"\xe2\x82\xac", {0xD5}},          {"\x1b\x1bOq\x1b\x1bOs\x1b\x1bOp", {130}},
      {"\x1b[Z\t\r\x7f", {0x0F00, 9, 13, 8}}, {"\x1b[200~a\x01" "b\x1b[201~", {'a', 'b'}},
  };
  for (const auto& c : cases) {
    KeyDecoder d;
    std::vector<InputEvent> events;
    d.Feed(c.bytes, 0, events);
    d.Tick(1000, events);
    for (const auto& ev : events) console_->PushEvent(ev);
    std::vector<int> keys;
    for (int k; (k = NextKey()) != 0;) keys.push_back(k);
    EXPECT_EQ(keys, c.keys) << c.bytes.substr(1);
  }
}

TEST_F(KeyReader, EndedInputBecomesEscForPollingLoops) {
  int polls = 0, key = 0;
  while ((key = NextKey()) == 0 && polls < 100000) ++polls;
  EXPECT_EQ(key, 27);
  EXPECT_GE(polls, 50);   // not at the first empty poll
  EXPECT_LT(polls, 1000);
  console_->PushKey('a');
  EXPECT_EQ(NextKey(), 'a');
  EXPECT_EQ(NextKey(), 0);  // a new event starts the count again
}

TEST_F(KeyReader, AltKeypadDigitsComposeACharacter) {
  struct Case {
    const char* name;
    std::vector<int> digits;  // keypad keys held with left Alt
    bool release;             // an Alt release event ends the composition
    int expected;
    int nextKey;              // the key after the composition
  };
  const Case cases[] = {
      {"130 is e acute", {1, 3, 0}, false, 130, 'z'},
      {"65 then Alt released", {6, 5}, true, 65, 'z'},
      {"a single digit ended by a key eats that key", {7}, false, 7, 0},
      {"999 wraps to 231", {9, 9, 9}, false, 231, 'z'},
      {"256 gives no key", {2, 5, 6}, false, 0, 'z'},
      {"keypad 5 and zero", {0, 0, 5, 5}, false, 55, 'z'},
      {"0130, a leading zero, is e acute", {0, 1, 3, 0}, false, 130, 'z'},
      {"0 and three digits wraps", {0, 3, 8, 5}, false, 129, 'z'},
      {"leading zero ended by Alt released", {0, 6, 5}, true, 65, 'z'},
      {"leading zero ended by a key eats that key", {0, 6, 5}, false, 65, 0},
  };
  static const uint16_t kPad[10] = {0x5200, 0x4F00, 0x5000, 0x5100, 0x4B00,
                                    0x4C00, 0x4D00, 0x4700, 0x4800, 0x4900};
  for (const auto& c : cases) {
    console_->DiscardInput();
    for (int d : c.digits) console_->PushKey(kPad[d], ModAlt, true);
    if (c.release) {
      InputEvent up;
      up.kind = InputEvent::Kind::Modifiers;
      console_->PushEvent(up);
    } else if (c.digits.size() < (c.digits[0] == 0 ? 4u : 3u)) {
      console_->PushKey('y');  // ends the composition and is spent on it
    }
    console_->PushKey('z');
    EXPECT_EQ(NextKey(), c.expected) << c.name;
    EXPECT_EQ(NextKey(), c.nextKey == 0 ? 'z' : c.nextKey) << c.name;
  }
}

TEST_F(KeyReader, IdleHookRunsOncePerWaitThatGoesBeyondItsFirstPollAndTheWaitingHookAtEachPoll) {
  // "~" stands for a poll that brings nothing (a resize event).
  struct Case {
    const char* name;
    const char* events;
    bool edit;  // read by the field editor instead of WaitForKey
    int runs;
    int waits;  // the waiting hook's runs: one per empty poll
  };
  const Case cases[] = {
      {"a key at once", "a", false, 0, 0},
      {"a key after an empty poll", "~a", false, 1, 1},
      {"many empty polls", "~~~~a", false, 1, 4},
      {"input that has ended", "", false, 0, 0},
      {"field editor, a key after an empty poll", "~x\r", true, 1, 1},
      {"field editor, one run per key wait", "~x~\r", true, 2, 2},
      {"field editor, keys at once", "x\r", true, 0, 0},
  };
  int runs = 0;
  int waits = 0;
  SetIdleHook([&] { ++runs; });
  SetWaitingHook([&] { ++waits; });
  for (const auto& c : cases) {
    runs = 0;
    waits = 0;
    console_->DiscardInput();
    for (const char* e = c.events; *e != 0; ++e) {
      if (*e == '~') {
        InputEvent resize;
        resize.kind = InputEvent::Kind::Resize;
        console_->PushEvent(resize);
      } else {
        console_->PushKey(static_cast<uint8_t>(*e));
      }
    }
    if (c.edit) {
      std::string text = "    ";
      int pos = 1, key = 0;
      EditField(1, 1, 0, text, pos, key);
      EXPECT_EQ(key, KeyEnter) << c.name;
    } else {
      (void)WaitForKey();
    }
    EXPECT_EQ(runs, c.runs) << c.name;
    EXPECT_EQ(waits, c.waits) << c.name;
  }
  SetWaitingHook({});
}

TEST_F(KeyReader, HotKeysTypeTheirResultBeforeNewKeys) {
  int calendarRuns = 0, calculatorRuns = 0;
  bool busyInside = false;
  SetCalendarHook([&] {
    ++calendarRuns;
    busyInside = CalendarBusy();
    // Alt+C inside the calendar must not open a second one.
    EXPECT_EQ(NextKey(), 0x2E00);
    return std::string("05/07/26");
  });
  SetCalculatorHook([&] {
    ++calculatorRuns;
    return std::string("1250");
  });
  console_->PushKey(0x2E00, ModAlt);
  console_->PushKey(0x2E00, ModAlt);  // read by the calendar itself
  console_->PushKey('z');
  EXPECT_EQ(NextKey(), 0x2E00);
  std::string typed;
  for (int i = 0; i < 8; ++i) typed += static_cast<char>(NextKey());
  EXPECT_EQ(typed, "05/07/26");
  EXPECT_EQ(NextKey(), 'z');
  EXPECT_EQ(calendarRuns, 1);
  EXPECT_TRUE(busyInside);
  EXPECT_FALSE(CalendarBusy());

  console_->PushKey(0x2D00, ModAlt);
  EXPECT_EQ(NextKey(), 0x2D00);
  EXPECT_EQ(TypeAhead, "1250");
  EXPECT_EQ(calculatorRuns, 1);
  TypeAhead.clear();

  SetCalculatorHook(nullptr);  // no calculator yet: nothing is typed
  console_->PushKey(0x2D00, ModAlt);
  EXPECT_EQ(NextKey(), 0x2D00);
  EXPECT_EQ(TypeAhead, "");
}

TEST_F(KeyReader, TypeAheadLeavesTheMouseOutputsAlone) {
  TypeAhead = "q";
  int key = 0, buttons = 7, row = 8, col = 9;
  ReadKey(key, buttons, row, col);
  EXPECT_EQ(key, 'q');
  EXPECT_EQ(buttons, 7);
  EXPECT_EQ(row, 8);
  EXPECT_EQ(col, 9);
}

TEST_F(KeyReader, MouseClicksAndMouseInput) {
  console_->SetMouseButtons(3);
  int key = 0, buttons = 0, row = 0, col = 0;
  ReadKey(key, buttons, row, col);
  EXPECT_TRUE(console_->MouseOn());
  console_->PushClick(5, 10, 1);
  ReadKey(key, buttons, row, col);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(row, 5);
  EXPECT_EQ(col, 10);
  EXPECT_FALSE(console_->MouseOn());  // off after a report, on again at the next call
  ReadKey(key, buttons, row, col);
  EXPECT_TRUE(console_->MouseOn());

  struct Case {
    int row, col, buttons, folded;
  };
  const Case cases[] = {
      {5, 10, 1, 10 * 256 + 64 + 5},
      {25, 80, 2, 80 * 256 + 128 + 25},
      {5, 300, 1, (300 * 256 + 64 + 5) & 0xFFFF},
  };
  for (const auto& c : cases) {
    console_->PushClick(c.row, c.col, static_cast<uint16_t>(c.buttons));
    int folded = 0;
    ReadKeyOrClick(folded);
    EXPECT_EQ(folded, c.folded) << c.row << "," << c.col;
  }
}

TEST_F(KeyReader, NoMouseMeansNoClicks) {
  console_->PushClick(5, 10, 1);
  console_->PushKey('k');
  int key = 0, buttons = 0, row = 0, col = 0;
  ReadKey(key, buttons, row, col);
  EXPECT_EQ(buttons, 0);
  EXPECT_FALSE(console_->MouseOn());
  EXPECT_EQ(NextKey(), 'k');
}

TEST_F(KeyReader, PasteIsTypedWithoutControlCharacters) {
  console_->PushPaste("ab\r\ncd\x7f\xff\x1b[A");
  std::string typed;
  for (int k; (k = NextKey()) != 0;) typed += static_cast<char>(k);
  EXPECT_EQ(typed, "abcd[A");
}

TEST_F(KeyReader, WaitingEndsWithEscWhenInputIsGone) {
  int key = 0;
  ReadKeyOrClick(key);
  EXPECT_EQ(key, 27);
  console_->PushKey('x');
  EXPECT_EQ(WaitForKey(), 'x');
  console_->PushText("abc");
  TypeAhead = "q";
  DiscardPendingKeys();
  EXPECT_EQ(NextKey(), 0);
}

std::string Items(const std::string& list) {
  std::string out;
  for (size_t i = 0; i + 1 < list.size(); i += 2) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned char>(list[i]) |
                                             (static_cast<unsigned char>(list[i + 1]) << 8));
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

TEST_F(KeyReader, ExitKeySetOperations) {
  // ops "[" opens a ScopedExitKeys guard, "]" closes the innermost one.
  struct Step {
    const char* ops;
    const char* list;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    const char* codes;
    const char* values;
    char mask;
  };
  const Case cases[] = {
      {"empty", {{"e", ""}}, "", "", 0},
      {"append", {{"ea", "d,1b,4d00"}}, "d 1b 4d00", "d 1b 4d00", 0},
      {"upper case letters", {{"EA", "d"}}, "d", "d", 0},
      {"value after =", {{"ea", "d=1b"}}, "d", "1b", 0},
      {"empty entry is code 0", {{"ea", ",3b00"}}, "0 3b00", "0 3b00", 0},
      {"not hexadecimal", {{"ea", "zz,12xy,=5"}}, "0 12 0", "0 12 5", 0},
      {"only 16 bits", {{"ea", "12345"}}, "2345", "2345", 0},
      {"append twice keeps duplicates", {{"ea", "d"}, {"a", "d=1b"}}, "d d", "d 1b", 0},
      {"delete", {{"ea", "d,1b,4d00"}, {"d", "1b"}}, "d 4d00", "d 4d00", 0},
      {"delete the first of two", {{"ea", "d=1,1b,d=2"}, {"d", "d"}}, "1b d", "1b 2", 0},
      {"delete skips a match across items", {{"ea", "d00,5000"}, {"d", "d"}}, "d00 5000",
       "d00 5000", 0},
      {"delete of a missing code", {{"ea", "d"}, {"d", "4800"}}, "d", "d", 0},
      {"save and restore", {{"ea", "d"}, {"+ea", "1b"}, {"-", ""}}, "d", "d", 0},
      {"inside the bracket", {{"ea", "d"}, {"+ea", "1b"}}, "1b", "1b", 0},
      {"second save is lost", {{"ea", "d"}, {"+ea", "1b"}, {"+e", ""}}, "", "", 0},
      {"second save, one restore", {{"ea", "d"}, {"+ea", "1b"}, {"+e", ""}, {"-", ""}}, "d", "d", 0},
      {"restore with nothing saved", {{"ea", "d"}, {"-", ""}}, "d", "d", 0},
      {"restore twice", {{"ea", "d"}, {"+ea", "1b"}, {"-", ""}, {"ea", "9"}, {"-", ""}}, "9", "9", 0},
      {"browse list keys", {{"+ea", "d,1b,4800,5000,4900,5100,4b00,4d00"}, {"a", "3e00"}},
       "d 1b 4800 5000 4900 5100 4b00 4d00 3e00", "d 1b 4800 5000 4900 5100 4b00 4d00 3e00", 0},
      {"mask on", {{"h", ""}}, "", "", 'X'},
      {"mask on, upper case", {{"H", ""}}, "", "", 'X'},
      {"mask off", {{"h", ""}, {"v", ""}}, "", "", 0},
      {"unknown letters ignored", {{"ea", "d"}, {"zq?", "1b"}}, "d", "d", 0},
      {"left to right", {{"aeA", "d"}}, "d", "d", 0},
      // A pick list opened from a form's field: the form holds the slot.
      {"guard inside a form's bracket gives the field's set back",
       {{"ea", "9"}, {"+ea", "d=1b,1b"}, {"[", ""}, {"ea", "4800"}, {"]", ""}}, "d 1b", "1b 1b", 0},
      {"the form's restore still finds its slot",
       {{"ea", "9"}, {"+ea", "d"}, {"[", ""}, {"e", ""}, {"]", ""}, {"-", ""}}, "9", "9", 0},
      {"guards nest", {{"ea", "d"}, {"[", ""}, {"ea", "1b"}, {"[", ""}, {"e", ""}, {"]", ""}}, "1b", "1b", 0},
      {"guard leaves the mask alone", {{"ea", "d"}, {"[", ""}, {"h", ""}, {"]", ""}}, "d", "d", 'X'},
  };
  for (const auto& c : cases) {
    ResetKeyboardState();
    std::vector<std::unique_ptr<ScopedExitKeys>> guards;
    for (const auto& s : c.steps) {
      if (std::string(s.ops) == "[") guards.push_back(std::make_unique<ScopedExitKeys>());
      else if (std::string(s.ops) == "]") guards.pop_back();
      else SetExitKeys(s.ops, s.list);
    }
    EXPECT_EQ(Items(ExitKeyCodes), c.codes) << c.name;
    EXPECT_EQ(Items(ExitKeyValues), c.values) << c.name;
    EXPECT_EQ(MaskCharacter, c.mask) << c.name;
  }
}

TEST_F(KeyReader, ExitKeyLookup) {
  SetExitKeys("ea", "d=1b,1b,d00,5000,3e00=4f00");
  struct Case {
    int key;
    bool found;
    int value;
  };
  const Case cases[] = {
      {13, true, 27},    {27, true, 27},    {0xD00, true, 0xD00}, {0x5000, true, 0x5000},
      {0x3E00, true, 0x4F00}, {0x4800, false, 0}, {0, false, 0},
      {0x1B00, false, 0},  // bytes that straddle two items
  };
  for (const auto& c : cases) {
    int value = -1;
    EXPECT_EQ(LookupExitKey(c.key, value), c.found) << std::hex << c.key;
    if (c.found) {
      EXPECT_EQ(value, c.value) << std::hex << c.key;
    }
  }
}

}  // namespace
