#include "console/keyboard.h"

#include "console/console.h"

std::string TypeAhead;
std::string ExitKeyCodes;
std::string ExitKeyValues;
char MaskCharacter = 0;

namespace {

enum class MouseState { Unchecked, None, Off, On };
MouseState mouse = MouseState::Unchecked;
bool calculatorBusy = false;
bool calendarBusy = false;
bool insertMode = false;
// The tools the hot keys open; the program installs them at start-up.
HotKeyTool calculatorHook;
HotKeyTool calendarHook;

std::function<void()> idleHook;
std::function<void()> waitingHook;

constexpr int kPollsBeforeEsc = 100;
int idlePollsAfterEnd = 0;

std::string savedCodes, savedValues;
int savedCount = 0;

// The digit a keypad key stands for while Alt is held (Num Lock off).
int KeypadDigit(uint16_t code) {
  switch (code) {
    case KeyIns: return 0;
    case KeyEnd: return 1;
    case KeyDown: return 2;
    case KeyPgDn: return 3;
    case KeyLeft: return 4;
    case KeyPad5: return 5;
    case KeyRight: return 6;
    case KeyHome: return 7;
    case KeyUp: return 8;
    case KeyPgUp: return 9;
    default: return -1;
  }
}

bool IsAltKeypadDigit(const InputEvent& ev) {
  return ev.kind == InputEvent::Kind::Key && ev.keypad && (ev.mods & ModAlt) &&
         KeypadDigit(ev.code) >= 0;
}

int ApplyModifiers(int key, uint8_t mods) {
  const bool fKey = key >= KeyF1 && key <= KeyF10 && (key & 0xFF) == 0;
  const bool f1112 = key == KeyF11 || key == KeyF12;
  if (mods & ModAlt) {
    if (fKey) return key + 0x2D00;
    if (f1112) return key + 0x600;
  } else if (mods & ModCtrl) {
    if (fKey) return key + 0x2300;
    if (f1112) return key + 0x400;
    if (key == KeyHome) return KeyCtrlHome;
    if (key == KeyRight) return KeyCtrlRight;
    if (key == KeyLeft) return KeyCtrlLeft;
  } else if (mods & ModShift) {
    if (fKey) return key + 0x1900;
    if (f1112) return key + 0x200;
  }
  return key;
}

// Keeps only what a field can hold: no control characters, no DEL, no 255.
std::string CleanPaste(const std::string& text) {
  std::string out;
  for (unsigned char c : text)
    if (c >= 32 && c != 127 && c != 255) out += static_cast<char>(c);
  return out;
}

void AppendItem(std::string& s, unsigned value) {
  s += static_cast<char>(value & 0xFF);
  s += static_cast<char>((value >> 8) & 0xFF);
}

// Leading hexadecimal digits of text as a number (0 without any), kept to
// 16 bits.
unsigned HexValue(const std::string& text) {
  unsigned v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    v = ((v << 4) | static_cast<unsigned>(d)) & 0xFFFF;
  }
  return v;
}

// First item-aligned (even 0-based offset) occurrence of the 2-byte item,
// or npos.
size_t FindItem(const std::string& list, unsigned code) {
  std::string item;
  AppendItem(item, code);
  size_t at = list.find(item);
  while (at != std::string::npos && at % 2 != 0) at = list.find(item, at + 1);
  return at;
}

}  // namespace

void SetIdleHook(std::function<void()> hook) { idleHook = std::move(hook); }

void SetWaitingHook(std::function<void()> hook) { waitingHook = std::move(hook); }

void KeyWait::NothingYet() {
  if (!idle_) {
    idle_ = true;
    if (idleHook) idleHook();
  }
  if (waitingHook) waitingHook();
}

void SetCalculatorHook(HotKeyTool tool) { calculatorHook = std::move(tool); }
void SetCalendarHook(HotKeyTool tool) { calendarHook = std::move(tool); }
bool CalculatorBusy() { return calculatorBusy; }
bool CalendarBusy() { return calendarBusy; }
bool InsertMode() { return insertMode; }
void SetInsertMode(bool on) { insertMode = on; }

void ReadKey(int& key, int& buttons, int& row, int& col) {
  if (!TypeAhead.empty()) {
    key = static_cast<unsigned char>(TypeAhead[0]);
    TypeAhead.erase(0, 1);
    return;
  }
  Console& con = CurrentConsole();
  if (mouse == MouseState::Unchecked)
    mouse = con.MouseButtons() != 0 ? MouseState::Off : MouseState::None;
  if (mouse == MouseState::Off) {
    con.SetMouse(true);
    mouse = MouseState::On;
  }
  key = buttons = row = col = 0;
  InputEvent ev;
  if (!con.NextEvent(ev)) {
    // Input that has ended for good (a finished script, a terminal that is
    // gone) turns into Esc after a while, so that every polling loop of
    // every screen unwinds instead of waiting forever.
    if (con.InputClosed() && ++idlePollsAfterEnd > kPollsBeforeEsc) key = KeyEsc;
    return;
  }
  idlePollsAfterEnd = 0;

  // Alt + keypad digits compose a character. The code ends when Alt is let
  // go, where the terminal reports that (a Modifiers event without Alt); as
  // most terminals cannot, three digits also end it, or four when the first
  // is 0 (the "0130" form).
  if (IsAltKeypadDigit(ev)) {
    const int most = KeypadDigit(ev.code) == 0 ? 4 : 3;
    int value = 0;
    for (int count = 1;; ++count) {
      value = value * 10 + KeypadDigit(ev.code);
      if (count == most) break;
      bool got = false;
      while (!(got = con.NextEvent(ev)) && !con.InputClosed()) {
      }
      // Whatever event ends the composition (the Alt release too) is spent
      // on it.
      if (!got || !IsAltKeypadDigit(ev)) break;
    }
    key = value % 256;
    goto hotkeys;
  }

  switch (ev.kind) {
    case InputEvent::Kind::Key:
      key = ev.code;
      if (key == KeyAltE) key = KeyEuro;
      key = ApplyModifiers(key, ev.mods);
      break;
    case InputEvent::Kind::Paste: {
      TypeAhead += CleanPaste(ev.text);
      if (!TypeAhead.empty()) {
        key = static_cast<unsigned char>(TypeAhead[0]);
        TypeAhead.erase(0, 1);
      }
      break;
    }
    case InputEvent::Kind::Mouse:
      if (mouse == MouseState::On) {
        buttons = ev.buttons;
        row = ev.row;
        col = ev.col;
      }
      break;
    default:
      break;
  }

hotkeys:
  if (key == KeyAltX && !calculatorBusy) {
    calculatorBusy = true;
    std::string typed = calculatorHook ? calculatorHook() : std::string();
    TypeAhead += typed;
    calculatorBusy = false;
  } else if (key == KeyAltC && !calendarBusy) {
    calendarBusy = true;
    std::string typed = calendarHook ? calendarHook() : std::string();
    TypeAhead += typed;
    calendarBusy = false;
  }
  if (mouse == MouseState::On && (key > 0 || buttons != 0)) {
    con.SetMouse(false);
    mouse = MouseState::Off;
  }
}

void ReadKeyOrClick(int& key) {
  KeyWait wait;
  for (;;) {
    int buttons = 0, row = 0, col = 0;
    ReadKey(key, buttons, row, col);
    if (buttons != 0) key = (col * 256 + buttons * 64 + row) & 0xFFFF;
    if (key != 0) return;
    if (TypeAhead.empty() && CurrentConsole().InputClosed()) {
      key = KeyEsc;
      return;
    }
    wait.NothingYet();
  }
}

void DiscardPendingKeys() {
  TypeAhead.clear();
  CurrentConsole().DiscardInput();
}

int WaitForKey() {
  int key = 0;
  ReadKeyOrClick(key);
  return key;
}

void SetExitKeys(const std::string& ops, const std::string& list) {
  // The entries of list, each as code and value.
  auto forEachEntry = [&](auto&& fn) {
    size_t start = 0;
    for (;;) {
      size_t comma = list.find(',', start);
      std::string entry = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                        : comma - start);
      size_t eq = entry.find('=');
      unsigned code = HexValue(entry.substr(0, eq));
      unsigned value = eq == std::string::npos ? code : HexValue(entry.substr(eq + 1));
      fn(code, value);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  };
  for (char op : ops) {
    switch (op) {
      case 'E': case 'e':
        ExitKeyCodes.clear();
        ExitKeyValues.clear();
        break;
      case 'A': case 'a':
        forEachEntry([](unsigned code, unsigned value) {
          AppendItem(ExitKeyCodes, code);
          AppendItem(ExitKeyValues, value);
        });
        break;
      case 'D': case 'd':
        forEachEntry([](unsigned code, unsigned) {
          size_t at = FindItem(ExitKeyCodes, code);
          if (at == std::string::npos) return;
          ExitKeyCodes.erase(at, 2);
          if (at + 2 <= ExitKeyValues.size()) ExitKeyValues.erase(at, 2);
        });
        break;
      case '+':
        if (savedCount == 0) {
          savedCodes = ExitKeyCodes;
          savedValues = ExitKeyValues;
          savedCount = 1;
        }
        break;
      case '-':
        if (savedCount == 1) {
          ExitKeyCodes = savedCodes;
          ExitKeyValues = savedValues;
          savedCodes.clear();
          savedValues.clear();
          savedCount = 0;
        }
        break;
      case 'H': case 'h':
        MaskCharacter = 'X';
        break;
      case 'V': case 'v':
        MaskCharacter = 0;
        break;
      default:
        break;
    }
  }
}

bool LookupExitKey(int key, int& value) {
  size_t at = FindItem(ExitKeyCodes, static_cast<unsigned>(key) & 0xFFFF);
  if (at == std::string::npos || at + 2 > ExitKeyValues.size()) return false;
  value = static_cast<unsigned char>(ExitKeyValues[at]) |
          (static_cast<unsigned char>(ExitKeyValues[at + 1]) << 8);
  return true;
}

void ResetKeyboardState() {
  TypeAhead.clear();
  ExitKeyCodes.clear();
  ExitKeyValues.clear();
  savedCodes.clear();
  savedValues.clear();
  savedCount = 0;
  MaskCharacter = 0;
  mouse = MouseState::Unchecked;
  calculatorBusy = calendarBusy = false;
  insertMode = false;
  idlePollsAfterEnd = 0;
}
