// The desk calculator of the Alt+X hot key: four operations, percentages,
// rounding to cents, a paper tape of the last 22 lines, and a box that can be
// moved sideways. Its state lives in TerminalDir + "ZEPCALC.TMP" between
// openings, so the tape, the display and the position come back the next
// time, also in a later session of the same terminal.
#pragma once

#include <array>
#include <cstdint>
#include <string>

inline constexpr int kCalcTapeLines = 22;
// Typed decimals beyond this are ignored: the 21-character display keeps
// its decimal point visible up to here.
inline constexpr int kCalcMaxDecimals = 19;

struct CalcTapeLine {
  double Value = 0;
  bool Point = false;
  int16_t Decimals = 0;
  char Operator = ' ';  // "+", "-", "*", "/", "%", "R", "=", or blank
};

struct CalcState {
  int16_t WindowColumn = 1;  // leftmost column of the 26-column box
  int16_t TopTapeRow = 23;   // first tape line shown, 2..22; 23 shows none
  double Entry = 0;          // the number on the display
  double Accumulator = 0;    // running result
  bool ClearedFlag = true;   // a full clear was the last action
  bool EntryActive = false;  // digits are being typed into Entry
  bool PointEntered = false;
  int16_t DecimalsEntered = 0;
  std::string LastKey;          // last operator key, one character or empty
  std::string PendingOperator;  // "+", "-", "*", "/" or empty
  std::array<CalcTapeLine, kCalcTapeLines> Tape{};  // [21] is the newest line
};

// What the box has to do after a key.
enum class CalcAction {
  None,       // nothing changed but the display
  Redraw,     // the tape or its visible part changed
  MoveLeft,
  MoveRight,
  Finish,     // "F" / Alt+F: leave with the result text
  Cancel,     // Esc: leave without a result
};

// Carries out one key (a ReadKeyOrClick code; characters in any case) on the
// state. Extended keys other than the moves and Alt+F, clicks and unknown
// characters change nothing. Division by zero and overflow leave an
// infinite or undefined Entry, shown in the display's overflow form.
CalcAction CalculatorKey(CalcState& state, int key);

// Rounds Entry for display: at most 15 significant digits, no trailing zero
// decimals; PointEntered and DecimalsEntered describe the shown decimals.
// An infinite or undefined Entry is left as it is.
void NormaliseEntry(CalcState& state);

// value in the 21 characters of the display or a tape line.
std::string CalculatorNumberText(double value, bool point, int decimals);

// The text "F" hands back: the displayed value in hundredths, without sign
// (12.5 gives "1250", 1.2345 gives "123.45", 0.05 gives "5"); empty when
// the display shows an overflow.
std::string CalculatorResultText(const CalcState& state);

// The state file's text (CR LF lines, comma-separated items, texts quoted)
// and its reading item by item: a missing or unreadable item keeps its
// initial value, values out of range are brought into range.
std::string CalculatorStateText(const CalcState& state);
CalcState ParseCalculatorState(const std::string& text);

// TerminalDir + "ZEPCALC.TMP", in the suite's path form.
std::string CalculatorStatePath();

// Runs the calculator over the current screen until "F" (the result text)
// or Esc (the empty text), then saves its state. The line above the display
// names the operation keys, the bottom line "F" and Esc in the session's
// language. The state file is read and written only when it is a regular
// file (or, for writing, missing); one of more than 64 KiB gives the
// initial values. On a screen of fewer than 25 rows or 26 columns it beeps
// and gives the empty text, drawing nothing and leaving the state file
// alone. Restores the display mode, the exit-key set, the cursor size and
// the screen under the box.
std::string Calculator();
