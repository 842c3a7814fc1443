#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/console_fixture.h"

namespace {

using Events = std::vector<InputEvent>;

Events Txt(const std::string& s) {
  Events out;
  for (unsigned char c : s) {
    InputEvent ev;
    ev.code = c;
    out.push_back(ev);
  }
  return out;
}
Events Key(uint16_t code, uint8_t mods = 0) {
  InputEvent ev;
  ev.code = code;
  ev.mods = mods;
  return {ev};
}
Events Click(int row, int col) {
  InputEvent ev;
  ev.kind = InputEvent::Kind::Mouse;
  ev.buttons = 1;
  ev.row = static_cast<uint16_t>(row);
  ev.col = static_cast<uint16_t>(col);
  return {ev};
}
Events Seq(std::initializer_list<Events> parts) {
  Events out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Events kEnter = Key(13);
const Events kUp = Key(0x4800), kDown = Key(0x5000), kLeft = Key(0x4B00), kRight = Key(0x4D00);
const Events kHome = Key(0x4700), kEnd = Key(0x4F00), kIns = Key(0x5200), kDel = Key(0x5300);
const Events kCtrlLeft = Key(0x4B00, ModCtrl), kCtrlRight = Key(0x4D00, ModCtrl);
const Events kCtrlHome = Key(0x4700, ModCtrl);

constexpr int kRow = 5, kCol = 10;

struct EditCase {
  const char* name;
  std::string text;
  int width;
  int pos;
  bool insert;
  const char* exitKeys;  // nullptr: no exit-key set
  Events keys;
  std::string expText;
  int expPos;
  int expKey;
};

class FieldEditor : public ConsoleTest {
 protected:
  void Run(const std::vector<EditCase>& cases) {
    for (const auto& c : cases) {
      ResetKeyboardState();
      console_->DiscardInput();
      SetInsertMode(c.insert);
      if (c.exitKeys != nullptr) SetExitKeys("ea", c.exitKeys);
      console_->SetMouseButtons(3);
      for (const auto& ev : c.keys) console_->PushEvent(ev);
      std::string text = c.text;
      int pos = c.pos, key = -12345;
      EditField(kRow, kCol, c.width, text, pos, key);
      EXPECT_EQ(text, c.expText) << c.name;
      EXPECT_EQ(pos, c.expPos) << c.name;
      EXPECT_EQ(key, c.expKey) << c.name;
      EXPECT_EQ(console_->PendingEvents(), 0u) << c.name << ": keys left unread";
    }
  }
};

TEST_F(FieldEditor, TypingAndMoving) {
  const std::string thirty = "abcdefghij" "klmnopqrst" "uvwxyz0123";
  Run({
      {"insert into trailing blanks", "ABC       ", 0, 4, true, nullptr, Seq({Txt("X"), kEnter}),
       "ABCX      ", 5, 13},
      {"insert shifts the rest", "ABC       ", 0, 2, true, nullptr, Seq({Txt("xy"), kEnter}),
       "AxyBC     ", 4, 13},
      {"insert into a full text is ignored", "ABCDEFGHIJ", 0, 1, true, nullptr,
       Seq({Txt("X"), kEnter}), "ABCDEFGHIJ", 1, 13},
      {"insert at the end is ignored", "AB  ", 0, 5, true, nullptr, Seq({Txt("X"), kEnter}),
       "AB  ", 5, 13},
      {"overwrite", "ABC       ", 0, 2, false, nullptr, Seq({Txt("xy"), kEnter}), "Axy       ",
       4, 13},
      {"overwrite at the end is ignored", "ABC", 0, 4, false, nullptr, Seq({Txt("x"), kEnter}),
       "ABC", 4, 13},
      {"accented letters and the euro", "    ", 0, 1, false, nullptr,
       Seq({Txt("\x82\x87\xd5"), kEnter}), "\x82\x87\xd5 ", 4, 13},
      {"Ins switches to insert", "AB  ", 0, 1, false, nullptr, Seq({kIns, Txt("x"), kEnter}),
       "xAB ", 2, 13},
      {"left stops at 1", "AB", 0, 2, false, nullptr, Seq({kLeft, kLeft, kLeft, kEnter}), "AB", 1, 13},
      {"right stops after the end", "AB", 0, 2, false, nullptr,
       Seq({kRight, kRight, kRight, kEnter}), "AB", 3, 13},
      {"home", "AB  ", 0, 3, false, nullptr, Seq({kHome, kEnter}), "AB  ", 1, 13},
      {"end after the last non-blank", "AB  ", 0, 1, false, nullptr, Seq({kEnd, kEnter}), "AB  ",
       3, 13},
      {"end of a blank text", "    ", 0, 3, false, nullptr, Seq({kEnd, kEnter}), "    ", 1, 13},
      {"end of a full text", "ABCD", 0, 1, false, nullptr, Seq({kEnd, kEnter}), "ABCD", 5, 13},
      {"backspace", "ABCD", 0, 3, false, nullptr, Seq({Key(8), kEnter}), "ACD ", 2, 13},
      {"backspace at 1 is ignored", "ABCD", 0, 1, false, nullptr, Seq({Key(8), kEnter}), "ABCD",
       1, 13},
      {"delete", "ABCD", 0, 2, false, nullptr, Seq({kDel, kEnter}), "ACD ", 2, 13},
      {"delete at the end is ignored", "ABCD", 0, 5, false, nullptr, Seq({kDel, kEnter}), "ABCD",
       5, 13},
      {"ctrl+y clears", "ABCD", 0, 3, false, nullptr, Seq({Key(25), kEnter}), "    ", 1, 13},
      {"ctrl+home clears", "ABCD", 0, 3, false, nullptr, Seq({kCtrlHome, kEnter}), "    ", 1, 13},
      {"down a line", thirty, 10, 5, false, nullptr, Seq({kDown, kEnter}), thirty, 15, 13},
      {"down from the last line ends", thirty, 10, 25, false, nullptr, kDown, thirty, 25, 0x5000},
      {"down to the end position", thirty, 10, 21, false, nullptr, Seq({kDown, kEnter}), thirty,
       31, 13},
      {"up a line", thirty, 10, 15, false, nullptr, Seq({kUp, kEnter}), thirty, 5, 13},
      {"up from the first line ends", thirty, 10, 5, false, nullptr, kUp, thirty, 5, 0x4800},
      {"shift+tab moves up a line", thirty, 10, 15, false, nullptr, Seq({Key(0x0F00), kEnter}),
       thirty, 5, 13},
      {"shift+tab on the first line ends as up", "AB", 0, 1, false, nullptr, Key(0x0F00), "AB",
       1, 0x4800},
      {"position clamped low", "AB", 0, -4, false, nullptr, kEnter, "AB", 1, 13},
      {"position clamped high", "AB", 0, 99, false, nullptr, kEnter, "AB", 3, 13},
      {"empty text", "", 0, 1, true, nullptr, Seq({Txt("x"), kDel, Key(8), kEnter}), "", 1, 13},
  });
}

TEST_F(FieldEditor, Words) {
  Run({
      {"ctrl+left to the word before", "ONE TWO", 0, 8, false, nullptr, Seq({kCtrlLeft, kEnter}),
       "ONE TWO", 5, 13},
      {"ctrl+left twice", "ONE TWO", 0, 8, false, nullptr,
       Seq({kCtrlLeft, kCtrlLeft, kEnter}), "ONE TWO", 1, 13},
      {"ctrl+left at 1 ends", "ONE TWO", 0, 8, false, nullptr,
       Seq({kCtrlLeft, kCtrlLeft, kCtrlLeft}), "ONE TWO", 1, 0x7300},
      {"ctrl+left onto the A after a blank", " ABC", 0, 5, false, nullptr,
       Seq({kCtrlLeft, kEnter}), " ABC", 2, 13},
      {"ctrl+left over delimiters", "a,b;;c", 0, 7, false, nullptr, Seq({kCtrlLeft, kEnter}),
       "a,b;;c", 6, 13},
      {"ctrl+left from after delimiters", "ab.. ", 0, 6, false, nullptr,
       Seq({kCtrlLeft, kEnter}), "ab.. ", 1, 13},
      {"ctrl+right to the end of the word", "ONE TWO", 0, 1, false, nullptr,
       Seq({kCtrlRight, kEnter}), "ONE TWO", 4, 13},
      {"ctrl+right to the end of the text", "ONE TWO", 0, 4, false, nullptr,
       Seq({kCtrlRight, kEnter}), "ONE TWO", 8, 13},
      {"ctrl+right at the end ends", "ONE TWO", 0, 8, false, nullptr, kCtrlRight, "ONE TWO", 8,
       0x7400},
      {"ctrl+right stops at a colon", "ab:cd", 0, 1, false, nullptr, Seq({kCtrlRight, kEnter}),
       "ab:cd", 3, 13},
  });
}

TEST_F(FieldEditor, EndingKeysAndTheExitKeySet) {
  Run({
      {"tab is reported as enter", "AB", 0, 1, false, nullptr, Key(9), "AB", 1, 13},
      {"enter with end in the set is end", "AB", 0, 1, false, "d,1b,4f00", kEnter, "AB", 1,
       0x4F00},
      {"tab with end in the set stays enter", "AB", 0, 1, false, "d,1b,4f00", Key(9), "AB", 1, 13},
      {"enter reported as esc", "AB", 0, 1, false, "d=1b", kEnter, "AB", 1, 27},
      {"keys outside the set do nothing", "AB", 0, 1, false, "d,1b",
       Seq({Key(0x3F00), Key(0x4900), Txt("\x05"), kEnter}), "AB", 1, 13},
      {"ctrl+F4 is esc", "AB", 0, 1, false, nullptr, Key(0x3E00, ModCtrl), "AB", 1, 27},
      {"alt+F4 is esc", "AB", 0, 1, false, "1b", Key(0x3E00, ModAlt), "AB", 1, 27},
      {"F1 in a data-entry set", "AB", 0, 1, false, ",3b00,d", Key(0x3B00), "AB", 1, 0x3B00},
      {"page down without a set", "AB", 0, 1, false, nullptr, Key(0x5100), "AB", 1, 0x5100},
      {"esc", "AB", 0, 2, false, nullptr, Key(27), "AB", 2, 27},
      {"up not in the set keeps editing", "AB", 0, 1, false, "d", Seq({kUp, kEnter}), "AB", 1, 13},
  });
}

TEST_F(FieldEditor, ClipboardAndPaste) {
  struct Case {
    const char* name;
    std::string clipboard, text;
    int pos;
    std::string expText;
  };
  const Case cases[] = {
      {"paste over from the cursor", "xy", "ABCD", 2, "AxyD"},
      {"controls and blanks removed", "  x\ty\r\n\x7f\xff ", "ABCD", 2, "AxyD"},
      {"inner blanks kept", "a b", "ABCDE", 1, "a bDE"},
      {"cut at the end of the field", "123456789", "ABCD", 3, "AB12"},
      {"empty clipboard", "", "ABCD", 1, "ABCD"},
      {"only controls", "\r\n\t", "ABCD", 1, "ABCD"},
      {"at the end position", "xy", "ABCD", 5, "ABCD"},
      {"very long", std::string(100000, 'z'), "AB  ", 2, "Azzz"},
  };
  for (const auto& c : cases) {
    ResetKeyboardState();
    Clipboard = c.clipboard;
    console_->PushKey(22);
    console_->PushKey(13);
    std::string text = c.text;
    int pos = c.pos, key = 0;
    EditField(kRow, kCol, 0, text, pos, key);
    EXPECT_EQ(text, c.expText) << c.name;
    EXPECT_EQ(pos, c.pos) << c.name;
    EXPECT_EQ(Clipboard, c.clipboard) << c.name;
  }
  // Ctrl+C copies the text without its outer blanks, also to the terminal.
  ResetKeyboardState();
  console_->PushKey(3);
  console_->PushKey(13);
  std::string text = "  a b  ";
  int pos = 1, key = 0;
  EditField(kRow, kCol, 0, text, pos, key);
  EXPECT_EQ(Clipboard, "a b");
  EXPECT_EQ(console_->Offered(), "a b");
  // A pasted text typed through the terminal arrives without its controls.
  console_->PushPaste("12\r\n34");
  console_->PushKey(13);
  text = "      ";
  pos = 1;
  EditField(kRow, kCol, 0, text, pos, key);
  EXPECT_EQ(text, "1234  ");
  EXPECT_EQ(key, 13);
}

TEST_F(FieldEditor, ClicksInsideMoveAndOutsideEnd) {
  const std::string thirty(30, 'q');
  Run({
      {"click on a character", thirty, 10, 1, false, nullptr, Seq({Click(6, 13), kEnter}), thirty,
       14, 13},
      {"click on the first cell", thirty, 10, 20, false, nullptr, Seq({Click(5, 10), kEnter}),
       thirty, 1, 13},
      {"click below the field ends", thirty, 10, 1, false, nullptr, Click(8, 13), thirty, 1,
       -(13 * 100 + 8)},
      {"click two rows below a one-line field", "ABCD", 0, 2, false, nullptr, Click(7, 11),
       "ABCD", 2, -(11 * 100 + 7)},
      {"click left of the field ends", "ABCD", 0, 2, false, nullptr, Click(5, 9), "ABCD", 2,
       -(9 * 100 + 5)},
      {"click ends even with a set", "ABCD", 0, 2, false, "d", Click(1, 1), "ABCD", 2, -101},
      {"click just after a one-line field", "ABCD", 0, 1, false, nullptr,
       Seq({Click(5, 14), kEnter}), "ABCD", 5, 13},
  });
}

TEST_F(FieldEditor, FieldIsDrawnInTheFieldColour) {
  SetDisplayMode("n");
  console_->PushKey(13);
  std::string text = "ABC  ";
  int pos = 1, key = 0;
  EditField(kRow, kCol, 0, text, pos, key);
  EXPECT_EQ(console_->RowText(kRow, kCol, 5), "ABC  ");
  EXPECT_EQ(console_->RowAttrs(kRow, kCol, 5), std::string(5, static_cast<char>(ModeAttr(4))));
  EXPECT_EQ(CurrentDisplayMode(), 0);  // left at "h"
  // A multi-line field: one screen row per line.
  console_->PushKey(13);
  text = "abcdefghijklmnopqrst";
  EditField(kRow, kCol, 10, text, pos, key);
  EXPECT_EQ(console_->RowText(kRow, kCol, 10), "abcdefghij");
  EXPECT_EQ(console_->RowText(kRow + 1, kCol, 10), "klmnopqrst");
  EXPECT_EQ(console_->RowText(kRow + 2, kCol, 10), std::string(10, ' '));
}

TEST_F(FieldEditor, CursorPlaceShapeAndWindowOrigin) {
  struct Case {
    const char* name;
    std::string text;
    int width, pos;
    bool insert;
    int row, col, size;
  };
  const Case cases[] = {
      {"start", "ABCD", 0, 1, true, 5, 10, 50},
      {"overwrite is full height", "ABCD", 0, 3, false, 5, 12, 100},
      {"end of a text filling two lines", std::string(20, 'x'), 10, 21, false, 6, 20, 100},
      {"start of the second line", std::string(20, 'x'), 10, 11, false, 6, 10, 100},
      {"end of a short last line", std::string(25, 'x'), 10, 26, false, 7, 15, 100},
  };
  for (const auto& c : cases) {
    int seenRow = 0, seenCol = 0;
    SetCalendarHook([&] {
      console_->GetCursor(seenRow, seenCol);
      return std::string();
    });
    SetInsertMode(c.insert);
    SetExitKeys("ea", "d");  // the hot keys must not end the edit
    int size = -1;
    SetCalculatorHook([&] {
      size = console_->CursorSize();
      return std::string();
    });
    console_->PushKey(0x2E00, ModAlt);
    console_->PushKey(0x2D00, ModAlt);
    console_->PushKey(13);
    std::string text = c.text;
    int pos = c.pos, key = 0;
    EditField(kRow, kCol, c.width, text, pos, key);
    EXPECT_EQ(seenRow, c.row) << c.name;
    EXPECT_EQ(seenCol, c.col) << c.name;
    EXPECT_EQ(size, c.size) << c.name;
    EXPECT_EQ(console_->CursorSize(), 0) << c.name;  // hidden after the edit
  }
  // Inside a window the position is window-relative; 0 takes the cursor's.
  ASSERT_EQ(PushWindow(3, 20, 12, 60), 0);
  console_->PushKey(13);
  std::string text = "ABCD";
  int pos = 1, key = 0;
  EditField(2, 5, 0, text, pos, key);
  EXPECT_EQ(console_->RowText(5, 25, 4), "ABCD");
  LocateInWindow(4, 7);
  console_->PushKey(13);
  EditField(0, 0, 0, text, pos, key);
  EXPECT_EQ(console_->RowText(7, 27, 4), "ABCD");
  ResetKeyboardState();
  console_->SetMouseButtons(2);
  console_->PushClick(5, 26);  // on the B of the first field, absolute
  console_->PushKey(13);
  pos = 1;
  EditField(2, 5, 0, text, pos, key);
  EXPECT_EQ(pos, 2);
  PopWindow();
}

TEST_F(FieldEditor, MaskedField) {
  SetExitKeys("h", "");
  SetInsertMode(false);
  console_->PushText("ab");
  console_->PushKey(3);  // a masked text is never copied
  console_->PushKey(13);
  std::string text = "    ";
  int pos = 1, key = 0;
  EditField(kRow, kCol, 0, text, pos, key);
  EXPECT_EQ(text, "ab  ");
  EXPECT_EQ(console_->RowText(kRow, kCol, 5), "XXXX ");
  EXPECT_EQ(Clipboard, "");
  EXPECT_EQ(key, 13);
}

struct ChoiceCase {
  const char* name;
  std::string list, text;
  Events keys;
  std::string expText;
  int expKey;
  std::string expShown;  // the row from the column before the field, during the edit
};

TEST_F(FieldEditor, ChoiceFields) {
  const std::string yesNo = "|S,Si|N,No";
  const std::string three = "|1,Un|2,Dos|3,Tres";
  const ChoiceCase cases[] = {
      {"shows the description of the text", yesNo, "N", kEnter, "N", 13, "\x11No\x10"},
      {"right steps to the next item", yesNo, "N", Seq({kRight, kEnter}), "S", 13, "\x11Si\x10"},
      {"typing the first letter", yesNo, "S", Seq({Txt("n"), kEnter}), "N", 13, "\x11No\x10"},
      {"right then n", yesNo, "N", Seq({kRight, Txt("n"), kEnter}), "N", 13, "\x11No\x10"},
      {"space as right", three, "3", Seq({Txt(" "), kEnter}), "1", 13, "\x11Un  \x10"},
      {"left from the first is the last", three, "1", Seq({kLeft, kEnter}), "3", 13,
       "\x11Tres\x10"},
      {"no match starts at the first", three, "9", kEnter, "1", 13, "\x11Un  \x10"},
      {"letter without an item changes nothing", three, "2", Seq({Txt("x"), kEnter}), "2", 13,
       "\x11" "Dos \x10"},
      {"letters search cyclically", "|a,Dia|b,Dos|c,Tres", "b",
       Seq({Txt("d"), kEnter}), "a", 13, "\x11" "Dia \x10"},
      {"accents are folded", "|1,\xb7lies|2,Blau", "2", Seq({Txt("a"), kEnter}), "1", 13,
       "\x11\xb7lies\x10"},
      {"typed accent matches a plain letter", "|1,Alta|2,Baixa", "2", Seq({Txt("\x85"), kEnter}),
       "1", 13, "\x11" "Alta \x10"},
      {"editing keys are ignored", yesNo, "S",
       Seq({Key(8), kDel, Key(25), Key(22), kHome, kEnd, kEnter}), "S", 13, "\x11Si\x10"},
      {"up ends", three, "2", kUp, "2", 0x4800, "\x11" "Dos \x10"},
      {"down ends", three, "2", kDown, "2", 0x5000, "\x11" "Dos \x10"},
      {"ctrl+left ends", three, "2", kCtrlLeft, "2", 0x7300, "\x11" "Dos \x10"},
      {"click on the left marker", three, "2", Seq({Click(kRow, kCol - 1), kEnter}), "1", 13,
       "\x11Un  \x10"},
      {"click on the right marker", three, "2", Seq({Click(kRow, kCol + 4), kEnter}), "3", 13,
       "\x11Tres\x10"},
      {"click on the description ends with 0", three, "2", Click(kRow, kCol + 1), "2", 0,
       "\x11" "Dos \x10"},
      {"click elsewhere ends", three, "2", Click(kRow + 1, kCol), "2", -(kCol * 100 + kRow + 1),
       "\x11" "Dos \x10"},
      {"value padded to the field", "|AB,Alpha|C,Gamma", "C    ", Seq({kRight, kEnter}), "AB   ",
       13, "\x11" "Alpha\x10"},
      {"the last of equal values", "|X,First|X,Second", "X", kEnter, "X", 13, "\x11Second\x10"},
  };
  for (const auto& c : cases) {
    ResetKeyboardState();
    console_->DiscardInput();
    console_->SetMouseButtons(3);
    // Hot keys must not end the edit; code 0 is a data-entry screen's.
    SetExitKeys("ea", "d,1b,4800,5000,7300,0");
    SetChoiceList(c.list);
    std::string shown;
    SetCalendarHook([&] {
      shown = console_->RowText(kRow, kCol - 1, static_cast<int>(c.expShown.size()));
      return std::string();
    });
    for (const auto& ev : c.keys) {
      if (ev.kind == InputEvent::Kind::Key && (ev.code == 13 || ev.code >= 0x4800 ||
                                               ev.code == 8)) {
        console_->PushKey(0x2E00, ModAlt);  // look at the screen before the last key
      }
      console_->PushEvent(ev);
    }
    if (c.keys.back().kind == InputEvent::Kind::Mouse) {
      // Clicks: look before the click instead.
      Events evs = c.keys;
      console_->DiscardInput();
      for (size_t i = 0; i + 1 < evs.size(); ++i) console_->PushEvent(evs[i]);
      console_->PushKey(0x2E00, ModAlt);
      console_->PushEvent(evs.back());
    }
    std::string text = c.text;
    int pos = 1, key = 0;
    EditField(kRow, kCol, 0, text, pos, key);
    EXPECT_EQ(text, c.expText) << c.name;
    EXPECT_EQ(key, c.expKey) << c.name;
    EXPECT_EQ(shown, c.expShown) << c.name;
    // The markers are gone afterwards.
    EXPECT_EQ(console_->RowText(kRow, kCol - 1, 1), " ") << c.name;
    SetChoiceList("");
  }
}

TEST_F(FieldEditor, ChoiceCopyGivesTheDescription) {
  SetChoiceList("|S,Si|N,No");
  console_->PushKey(3);
  console_->PushKey(13);
  std::string text = "N";
  int pos = 1, key = 0;
  EditField(kRow, kCol, 0, text, pos, key);
  EXPECT_EQ(Clipboard, "No");
  SetChoiceList("");
}

TEST_F(FieldEditor, VeryLongTextAndEndedInput) {
  std::string text(5000, ' ');
  console_->PushText(std::string(6000, 'k'));
  console_->PushKey(0x4F00);
  // No Enter: the script ends, and the editor must come back with Esc.
  int pos = 1, key = 0;
  SetInsertMode(true);
  EditField(1, 1, 80, text, pos, key);
  EXPECT_EQ(text, std::string(5000, 'k'));
  EXPECT_EQ(pos, 5001);
  EXPECT_EQ(key, 27);
  EXPECT_EQ(console_->RowText(25), std::string(80, 'k'));  // clipped at the screen
}

}  // namespace
