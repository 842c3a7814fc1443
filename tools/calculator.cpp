#include "tools/calculator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/picture.h"
#include "session/session.h"
#include "tools/messages.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/text.h"
#include "base/paths.h"

namespace {

constexpr int kBoxWidth = 26;     // columns WindowColumn .. WindowColumn + 25
constexpr int kBoxRows = 25;      // rows 1 .. 25
constexpr int kSeparatorRow = 23;
constexpr int kDisplayRow = 24;
constexpr int kFarRightColumn = 80;  // where the box's right edge stops moving

// Box-drawing characters of code page 850.
constexpr char kTopLeft = '\xDA', kTopRight = '\xBF', kBottomLeft = '\xC0', kBottomRight = '\xD9';
constexpr char kVertical = '\xB3', kTeeLeft = '\xC3', kTeeRight = '\xB4';

// The operation keys, in the line above the display: the same in every
// language (Enter is "Intro" in all four). 0xF1 is the plus-minus sign.
constexpr const char* kOperationKeys = "+-*/% =Intro C T\xF1 R";

// 10 to the power n, exact up to 10^22.
double Pow10(int n) {
  double p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

bool IsOperatorText(const std::string& s, const char* allowed) {
  return s.empty() || (s.size() == 1 && std::string(allowed).find(s[0]) != std::string::npos);
}

void AddTapeLine(CalcState& s, double value, bool point, int decimals, char op) {
  for (int i = 0; i + 1 < kCalcTapeLines; ++i) s.Tape[i] = s.Tape[i + 1];
  s.Tape[kCalcTapeLines - 1] = {value, point, static_cast<int16_t>(decimals), op};
  if (s.TopTapeRow > 2) --s.TopTapeRow;
}

void StartEntry(CalcState& s) {
  if (s.EntryActive) return;
  s.Entry = 0;
  s.PointEntered = false;
  s.DecimalsEntered = 0;
}

void TypeDigit(CalcState& s, int digit) {
  StartEntry(s);
  // A digit grows the number away from zero, so a sign changed with "T"
  // while typing is kept.
  const double signedDigit = std::signbit(s.Entry) ? -digit : digit;
  if (!s.PointEntered) {
    s.Entry = s.Entry * 10 + signedDigit;
  } else if (s.DecimalsEntered < kCalcMaxDecimals) {
    // Built from the whole number of the typed digits, so that the value is
    // the double nearest to what was typed (2.375 exactly, not 2.37499...).
    const double whole = std::nearbyint(s.Entry * Pow10(s.DecimalsEntered));
    ++s.DecimalsEntered;
    s.Entry = (whole * 10 + signedDigit) / Pow10(s.DecimalsEntered);
  }
  s.EntryActive = true;
}

void Backspace(CalcState& s) {
  if (!s.PointEntered) {
    s.Entry = std::trunc(s.Entry / 10);
  } else if (--s.DecimalsEntered < 0) {
    s.PointEntered = false;
    s.DecimalsEntered = 0;
  } else if (std::isfinite(s.Entry)) {
    // The value was typed with one decimal more than is kept: drop that
    // digit on the scaled whole number, so that binary fractions such as
    // 1.23 (1.229999...) do not lose a second digit.
    const double scaled = std::nearbyint(s.Entry * Pow10(s.DecimalsEntered + 1));
    s.Entry = std::trunc(scaled / 10) / Pow10(s.DecimalsEntered);
  }
  s.EntryActive = s.Entry != 0;
}

CalcAction OperatorStep(CalcState& s, char key) {
  s.LastKey = std::string(1, key);
  switch (key) {
    case 'C':
      if (s.EntryActive) {
        // Cancels the number being typed; the display shows the running
        // result again and the next digit starts a new number.
        s.Entry = s.Accumulator;
        s.EntryActive = false;
        s.LastKey = s.PendingOperator;
        NormaliseEntry(s);
        return CalcAction::None;
      }
      if (!s.ClearedFlag) {
        s.Entry = s.Accumulator = 0;
        s.PointEntered = false;
        s.DecimalsEntered = 0;
        s.LastKey.clear();
        s.PendingOperator.clear();  // a cleared calculator has nothing pending
        s.ClearedFlag = true;
        return CalcAction::None;
      }
      s.TopTapeRow = 23;
      return CalcAction::Redraw;
    case 'R': {
      double v = 100 * s.Entry;
      const double fraction = v - std::trunc(v);
      v = std::trunc(v);
      if (fraction > 0.5 || (fraction == 0.5 && std::fmod(v, 2) != 0)) v += 1;
      s.Entry = v / 100;
      s.Accumulator = s.Entry;
      s.PointEntered = true;
      s.DecimalsEntered = 2;
      AddTapeLine(s, s.Entry, true, 2, 'R');
      // The rounded value is the new running result: nothing stays pending
      // and the next digit starts a new number.
      s.EntryActive = false;
      s.ClearedFlag = false;
      s.PendingOperator.clear();
      return CalcAction::Redraw;
    }
    case '%':
      AddTapeLine(s, s.Entry, s.PointEntered, s.DecimalsEntered, '%');
      if (s.PendingOperator == "+" || s.PendingOperator == "-")
        s.Entry = s.Accumulator / 100 * s.Entry;
      else
        s.Entry = s.Entry / 100;
      NormaliseEntry(s);
      return CalcAction::Redraw;
    default: break;
  }
  // "+", "-", "*", "/", "=".
  const double e = s.Entry;
  const char pending = s.PendingOperator.empty() ? ' ' : s.PendingOperator[0];
  switch (pending) {
    case '+': s.Accumulator += e; break;
    case '-': s.Accumulator -= e; break;
    case '*': s.Accumulator *= e; break;
    case '/': s.Accumulator /= e; break;
    default: s.Accumulator = e; break;
  }
  AddTapeLine(s, e, s.PointEntered, s.DecimalsEntered, key);
  s.Entry = s.Accumulator;
  NormaliseEntry(s);
  if (key == '=') {
    AddTapeLine(s, s.Entry, s.PointEntered, s.DecimalsEntered, ' ');
    s.LastKey.clear();
  }
  s.EntryActive = false;
  s.ClearedFlag = false;
  s.PendingOperator = s.LastKey;
  return CalcAction::Redraw;
}

// --- State file -----------------------------------------------------------

std::string NumberItem(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The items of one line: commas separate, a double-quoted item may hold
// commas; quotes are taken off.
std::vector<std::string> SplitItems(const std::string& line) {
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      items.push_back(Trim(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  items.push_back(Trim(cur));
  return items;
}

// Item reading: false (target untouched) when the item is missing or is not
// entirely a number of the kind.
bool ReadDouble(const std::vector<std::string>& items, size_t i, double& out) {
  if (i >= items.size() || items[i].empty()) return false;
  const std::string& t = items[i];
  double v = 0;
  const char* first = t.data();
  if (*first == '+') ++first;
  const auto res = std::from_chars(first, t.data() + t.size(), v);
  if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return false;
  out = v;
  return true;
}

bool ReadInt(const std::vector<std::string>& items, size_t i, int lo, int hi, int16_t& out) {
  double v = 0;
  if (!ReadDouble(items, i, v) || !std::isfinite(v) || v != std::trunc(v)) return false;
  out = static_cast<int16_t>(v < lo ? lo : v > hi ? hi : v);
  return true;
}

bool ReadBool(const std::vector<std::string>& items, size_t i, bool& out) {
  double v = 0;
  if (!ReadDouble(items, i, v) || std::isnan(v)) return false;
  out = v != 0;
  return true;
}

void ReadText(const std::vector<std::string>& items, size_t i, const char* allowed, std::string& out) {
  if (i >= items.size() || !IsOperatorText(items[i], allowed)) return;
  out = items[i];
}

// A horizontal line of the box with keys in its middle.
void DrawLine(int row, int col, char left, const std::string& keys, char right) {
  LocateAbsolute(row, col);
  std::string line(1, left);
  line += FrameLineWithKeys(keys, kBoxWidth - 2, 1);
  line += right;
  WriteText(line);
}

void DrawDisplay(const CalcState& s) {
  LocateAbsolute(kDisplayRow, s.WindowColumn);
  WriteText(std::string(1, kVertical) + " " + CalculatorNumberText(s.Entry, s.PointEntered, s.DecimalsEntered) +
            "  " + std::string(1, kVertical));
}

void DrawBox(const CalcState& s) {
  const int col = s.WindowColumn;
  if (s.TopTapeRow <= kCalcTapeLines) {
    DrawLine(s.TopTapeRow - 1, col, kTopLeft, "", kTopRight);
    for (int row = s.TopTapeRow; row <= kCalcTapeLines; ++row) {
      const CalcTapeLine& t = s.Tape[row - 1];
      LocateAbsolute(row, col);
      WriteText(std::string(1, kVertical) + " " + CalculatorNumberText(t.Value, t.Point, t.Decimals) + " " +
                std::string(1, t.Operator) + std::string(1, kVertical));
    }
    DrawLine(kSeparatorRow, col, kTeeLeft, kOperationKeys, kTeeRight);
  } else {
    DrawLine(kSeparatorRow, col, kTopLeft, kOperationKeys, kTopRight);
  }
  DrawDisplay(s);
  DrawLine(kBoxRows, col, kBottomLeft, ToolText(ToolMessage::CalculatorKeys), kBottomRight);
}

// The column of the box's left edge when its right edge is as far right as
// the box goes.
int RightmostColumn() {
  const int last = ScreenColumns() < kFarRightColumn ? ScreenColumns() : kFarRightColumn;
  return last - kBoxWidth + 1;
}

void OpenBox(const CalcState& s) {
  PushWindow(1, s.WindowColumn, kBoxRows, s.WindowColumn + kBoxWidth - 1);
  DrawBox(s);
}

// A written state file is well under a kilobyte; a larger one is not ours
// and gives the initial values.
constexpr size_t kMostRead = 64 * 1024;

// Replaces the content of the state file, creating it when missing. Only a
// regular file is written: the descriptor is opened without blocking or
// following a symbolic link and checked before anything is cut, so a named
// pipe, a device or a link put in its place is left alone. Failures are not reported: the state is a comfort.
void WriteStateFile(const std::string& hostPath, const std::string& text) {
  int fd = -1;
  if (OpenOwnFileForWriting(hostPath, true, fd) != ReadResult::Ok) return;
  static_cast<void>(WriteAll(fd, text));
  ::close(fd);
}

}  // namespace

CalcAction CalculatorKey(CalcState& s, int key) {
  if (key > 255 || key <= 0) {
    switch (key) {
      case KeyLeft:
      case KeyCtrlLeft: return CalcAction::MoveLeft;
      case KeyRight:
      case KeyCtrlRight: return CalcAction::MoveRight;
      case KeyAltF: return CalcAction::Finish;
      default: return CalcAction::None;
    }
  }
  char c = static_cast<char>(key);
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (c >= '0' && c <= '9') {
    TypeDigit(s, c - '0');
    return CalcAction::None;
  }
  switch (c) {
    case '.':
      StartEntry(s);
      if (!s.PointEntered) {
        s.PointEntered = true;
        s.DecimalsEntered = 0;
      }
      s.EntryActive = true;
      return CalcAction::None;
    case KeyBackspace: Backspace(s); return CalcAction::None;
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case 'R':
    case 'C': return OperatorStep(s, c);
    case '=':
    case KeyEnter: return s.EntryActive ? OperatorStep(s, '=') : CalcAction::None;
    case 'T': s.Entry = -s.Entry; return CalcAction::None;
    case 'F': return CalcAction::Finish;
    case KeyEsc: return CalcAction::Cancel;
    default: return CalcAction::None;
  }
}

void NormaliseEntry(CalcState& s) {
  const double v = s.Entry;
  if (!std::isfinite(v)) return;
  int integerDigits = 0;
  for (double t = std::trunc(std::fabs(v)); t >= 1; t = std::trunc(t / 10)) ++integerDigits;
  // Each step scales the value itself (one rounding), not the previous
  // step, so that errors do not pile up in the last digit.
  int scale = 0;
  double w = v;
  while (w != std::trunc(w) && scale + integerDigits < 15) w = v * Pow10(++scale);
  w = std::nearbyint(w);  // the default rounding: halves to even
  while (scale > 0 && std::fmod(w, 10) == 0) {
    w /= 10;
    --scale;
  }
  s.Entry = w / Pow10(scale);
  s.DecimalsEntered = static_cast<int16_t>(scale);
  s.PointEntered = scale > 0;
}

std::string CalculatorNumberText(double value, bool point, int decimals) {
  std::string picture = "-Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  if (point) {
    picture += '.';
    if (decimals > 0) picture += std::string(decimals < kCalcMaxDecimals ? decimals : kCalcMaxDecimals, '9');
  }
  return FormatPicture(picture.substr(picture.size() - 21), value);
}

std::string CalculatorResultText(const CalcState& s) {
  const int d = s.DecimalsEntered > 2 ? s.DecimalsEntered : 2;
  const double scaled = std::nearbyint(std::fabs(s.Entry) * Pow10(d));
  if (!std::isfinite(scaled)) return std::string();
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.0f", scaled);
  std::string digits = buf;
  const size_t kept = static_cast<size_t>(d - 2);
  if (kept == 0) return digits;
  // At least one digit before the point: 0.001 gives "0.1", not ".1".
  if (digits.size() < kept + 1) digits.insert(0, kept + 1 - digits.size(), '0');
  return digits.substr(0, digits.size() - kept) + "." + digits.substr(digits.size() - kept);
}

std::string CalculatorStateText(const CalcState& s) {
  const auto b = [](bool v) { return std::string(v ? "-1" : "0"); };
  std::string out;
  out += std::to_string(s.WindowColumn) + "," + std::to_string(s.TopTapeRow) + "," + NumberItem(s.Entry) + "," +
         NumberItem(s.Accumulator) + "\r\n";
  out += b(s.ClearedFlag) + "," + b(s.EntryActive) + "," + b(s.PointEntered) + "," +
         std::to_string(s.DecimalsEntered) + "\r\n";
  out += Quoted(s.LastKey) + "," + Quoted(s.PendingOperator) + "\r\n";
  for (const CalcTapeLine& t : s.Tape)
    out += NumberItem(t.Value) + "," + b(t.Point) + "," + std::to_string(t.Decimals) + "," +
           Quoted(std::string(1, t.Operator)) + "\r\n";
  return out;
}

CalcState ParseCalculatorState(const std::string& text) {
  CalcState s;
  std::vector<std::vector<std::string>> lines;
  std::string line;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (i < text.size() || !line.empty()) lines.push_back(SplitItems(line));
      line.clear();
    } else {
      line += text[i];
    }
  }
  const std::vector<std::string> none;
  const auto at = [&](size_t n) -> const std::vector<std::string>& { return n < lines.size() ? lines[n] : none; };

  ReadInt(at(0), 0, 1, 999, s.WindowColumn);
  ReadInt(at(0), 1, 2, 23, s.TopTapeRow);
  ReadDouble(at(0), 2, s.Entry);
  ReadDouble(at(0), 3, s.Accumulator);
  ReadBool(at(1), 0, s.ClearedFlag);
  ReadBool(at(1), 1, s.EntryActive);
  ReadBool(at(1), 2, s.PointEntered);
  ReadInt(at(1), 3, 0, kCalcMaxDecimals, s.DecimalsEntered);
  ReadText(at(2), 0, "+-*/%RC=", s.LastKey);
  ReadText(at(2), 1, "+-*/", s.PendingOperator);
  for (int k = 0; k < kCalcTapeLines; ++k) {
    const std::vector<std::string>& items = at(3 + static_cast<size_t>(k));
    CalcTapeLine& t = s.Tape[k];
    ReadDouble(items, 0, t.Value);
    ReadBool(items, 1, t.Point);
    ReadInt(items, 2, 0, kCalcMaxDecimals, t.Decimals);
    if (items.size() > 3 && items[3].size() == 1 && std::string("+-*/%R=").find(items[3][0]) != std::string::npos)
      t.Operator = items[3][0];
  }
  if (!s.PointEntered) s.DecimalsEntered = 0;
  return s;
}

std::string CalculatorStatePath() { return Session.TerminalDir + "ZEPCALC.TMP"; }

std::string Calculator() {
  if (ScreenRows() < kBoxRows || ScreenColumns() < kBoxWidth) {
    Beep();
    return std::string();
  }
  // The exit-key set in force is kept by a guard rather than in the
  // keyboard's one save slot: the screen below has usually filled that slot
  // already, and taking it over would lose the screen's own set.
  const ScopedExitKeys exitKeys;
  SetExitKeys("e", "");
  const ScopedDisplayMode mode("n");
  const ScopedCursorSize cursor(0);

  const std::string path = HostPath(CalculatorStatePath());
  std::string text;
  const ReadResult read = ReadRegularFile(path, text, kMostRead);
  if (read != ReadResult::Ok) text.clear();
  if (read == ReadResult::Missing) WriteStateFile(path, "");
  CalcState s = ParseCalculatorState(text);
  if (s.WindowColumn > RightmostColumn()) s.WindowColumn = static_cast<int16_t>(RightmostColumn());
  OpenBox(s);

  std::string result;
  for (bool done = false; !done;) {
    DrawDisplay(s);
    int key = 0;
    ReadKeyOrClick(key);
    switch (CalculatorKey(s, key)) {
      case CalcAction::None: break;
      case CalcAction::Redraw:
        PopWindow();
        OpenBox(s);
        break;
      case CalcAction::MoveLeft:
        PopWindow();
        s.WindowColumn = static_cast<int16_t>(s.WindowColumn <= 1 ? RightmostColumn() : s.WindowColumn - 1);
        OpenBox(s);
        break;
      case CalcAction::MoveRight:
        PopWindow();
        s.WindowColumn = static_cast<int16_t>(s.WindowColumn >= RightmostColumn() ? 1 : s.WindowColumn + 1);
        OpenBox(s);
        break;
      case CalcAction::Finish:
        result = CalculatorResultText(s);
        if (result.empty()) Beep();  // an overflow has no digits to type
        done = true;
        break;
      case CalcAction::Cancel: done = true; break;
    }
  }

  PopWindow();
  WriteStateFile(path, CalculatorStateText(s));
  return result;
}
