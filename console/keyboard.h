// Key reading: one key code per key from the console's events, Alt+keypad
// characters, the PC codes of function and cursor keys with Shift, Ctrl and
// Alt, mouse clicks, the type-ahead buffer fed by the two hot keys (Alt+X
// calculator, Alt+C calendar), and the exit-key set of the field editor.
//
// Key codes are 16-bit values carried in an int: a character is its code
// page 850 byte (1..255), an extended key its scan code * 256, 0 is no key.
// A click reported by the field editor is the negative -(column*100 + row).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

inline constexpr int KeyCtrlC = 3;
inline constexpr int KeyBackspace = 8;
inline constexpr int KeyTab = 9;
inline constexpr int KeyEnter = 13;
inline constexpr int KeyCtrlV = 22;
inline constexpr int KeyCtrlY = 25;
inline constexpr int KeyEsc = 27;
inline constexpr int KeyEuro = 0xD5;
inline constexpr int KeyShiftTab = 0x0F00;
inline constexpr int KeyAltE = 0x1200;
inline constexpr int KeyAltF = 0x2100;
inline constexpr int KeyAltX = 0x2D00;
inline constexpr int KeyAltC = 0x2E00;
inline constexpr int KeyF1 = 0x3B00;
inline constexpr int KeyF2 = 0x3C00;
inline constexpr int KeyF3 = 0x3D00;
inline constexpr int KeyF4 = 0x3E00;
inline constexpr int KeyF5 = 0x3F00;
inline constexpr int KeyF6 = 0x4000;
inline constexpr int KeyF7 = 0x4100;
inline constexpr int KeyF8 = 0x4200;
inline constexpr int KeyF9 = 0x4300;
inline constexpr int KeyF10 = 0x4400;
inline constexpr int KeyF11 = 0x8500;
inline constexpr int KeyF12 = 0x8600;
inline constexpr int KeyHome = 0x4700;
inline constexpr int KeyUp = 0x4800;
inline constexpr int KeyPgUp = 0x4900;
inline constexpr int KeyLeft = 0x4B00;
inline constexpr int KeyPad5 = 0x4C00;
inline constexpr int KeyRight = 0x4D00;
inline constexpr int KeyEnd = 0x4F00;
inline constexpr int KeyDown = 0x5000;
inline constexpr int KeyPgDn = 0x5100;
inline constexpr int KeyIns = 0x5200;
inline constexpr int KeyDel = 0x5300;
inline constexpr int KeyCtrlLeft = 0x7300;
inline constexpr int KeyCtrlRight = 0x7400;
inline constexpr int KeyCtrlHome = 0x7700;
inline constexpr int KeyCtrlF4 = 0x6100;
inline constexpr int KeyAltF4 = 0x6B00;

// Reads one key without waiting (the terminal back end may wait up to 20 ms
// for it). key 0 when nothing is pending. A click gives key 0 with buttons,
// row and col (1-based, absolute). A key from the type-ahead buffer leaves
// buttons, row and col untouched. Once the console's input has ended for
// good, a hundred calls in a row without input give Esc, so no polling loop
// waits forever.
void ReadKey(int& key, int& buttons, int& row, int& col);
// Repeats ReadKey until a key or a click; a click comes back folded as
// column*256 + buttons*64 + row, kept to 16 bits. When the console's input
// has ended for good, gives Esc so that every screen can unwind.
void ReadKeyOrClick(int& key);

// Hot-key hooks: Alt+X runs the calculator, Alt+C the calendar; the text
// each returns is typed into whatever is waiting for keys. The program
// installs the tools at start-up (InstallHotKeyTools, tools/setup.h); an
// empty hook (the default) returns the empty text.
using HotKeyTool = std::function<std::string()>;
void SetCalculatorHook(HotKeyTool tool);
void SetCalendarHook(HotKeyTool tool);
// Busy flags: set while the tool runs, so its hot key does not nest.
bool CalculatorBusy();
bool CalendarBusy();

// The idle hook: run once per key wait, when the wait goes on beyond its
// first poll (about 20 ms on the terminal) with nothing typed, i.e. just
// before the program settles down to wait for the user. The program uses it
// to let go of what must not be held while the user thinks (the record
// manager's kept read snapshot). The hook must not read keys or draw; an
// empty hook (the default) does nothing. Waits that run it: ReadKeyOrClick
// (and so WaitForKey), the field editor, the help viewer.
void SetIdleHook(std::function<void()> hook);

// The waiting hook: run at every poll of a key wait that brought nothing
// (some fifty times a second on the terminal), after the idle hook, for
// what falls due while the user thinks (the not-sending mode's six-hourly
// summary while the parameter form waits). It must be cheap, and must not
// read keys or draw; empty (the default) does nothing.
void SetWaitingHook(std::function<void()> hook);

// One wait for a key, for loops that poll the console themselves: call
// NothingYet after every poll that brought nothing; the first call of a
// wait runs the idle hook.
class KeyWait {
 public:
  void NothingYet();

 private:
  bool idle_ = false;
};

// Characters still to be delivered as keys before any new console event.
extern std::string TypeAhead;

// The Insert toggle, kept for the whole process (starts off: overwrite).
bool InsertMode();
void SetInsertMode(bool on);

// Drops pending console input and the type-ahead buffer.
void DiscardPendingKeys();
// Waits for one key or click (ReadKeyOrClick) and returns it.
int WaitForKey();

// The exit-key set: 2-byte items, low byte first; the i-th item of
// ExitKeyValues is the code reported for the i-th item of ExitKeyCodes.
extern std::string ExitKeyCodes;
extern std::string ExitKeyValues;
// 0, or the character the field editor shows instead of typed ones.
extern char MaskCharacter;

// Carries out ops left to right (case-insensitive): E empty, A append the
// entries of list, D delete them, + save into the one slot (when free),
// - restore from the slot (when taken), H mask on ("X"), V mask off. list is
// comma-separated "code" or "code=value", hexadecimal without prefix; an
// empty entry is code 0.
void SetExitKeys(const std::string& ops, const std::string& list);
// The reported code for key when it is in the set: true and value set.
bool LookupExitKey(int key, int& value);

// Back to the start state (empty buffer and sets, mouse unchecked, tools
// not busy, hooks kept); for tests.
void ResetKeyboardState();
