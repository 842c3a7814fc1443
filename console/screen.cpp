#include "console/screen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "console/console.h"
#include "console/guards.h"
#include "console/messages.h"
#include "console/tell.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"

WindowState Window;

namespace {

ScreenSettings settings;

int16_t currentMode = 0;
// Where output goes next. It may lie beyond the screen (a form laid out for
// 25 rows on a smaller terminal): output there is dropped instead of
// landing on the clamped console cursor.
int cursorRow = 1, cursorCol = 1;
std::string modeStack;
uint8_t currentAttr = 0x07;
// One entry per PushWindow still open: 1 pushed, 0 refused. A refused push
// leaves no record in the file, so its pop must do nothing.
std::string pushKinds;

constexpr int kHeaderSize = 4;
constexpr int kRecordHead = 20;
constexpr int kLengthField = 5;

std::string Digits(int value, int width) { return ZeroPad(value < 0 ? 0 : value, width); }

// Plain decimal reading of a fixed field; -1 when it holds a non-digit.
int ReadDigits(const std::string& s, size_t at, size_t width) {
  if (at + width > s.size()) return -1;
  int v = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

uint32_t HeaderValue(const std::string& content) {
  return static_cast<uint32_t>(static_cast<uint8_t>(content[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(content[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(content[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(content[3])) << 24);
}

void WriteHeader(std::string& content, uint32_t value) {
  if (content.size() < kHeaderSize) content.resize(kHeaderSize);
  for (int i = 0; i < kHeaderSize; ++i) content[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// Where the stack is kept: the file, or, once something that is not a
// regular file (a folder, pipe, device, symbolic link) is found at its
// name, this process's memory for the rest of the run, with a note to the
// user. The file is never followed through a link nor waited on.
bool stackInMemory = false;
std::string memoryStack;
bool stackNoteDue = false;
bool stackNoting = false;

void KeepStackInMemory() {
  if (stackInMemory) return;
  stackInMemory = true;
  memoryStack.clear();
  stackNoteDue = true;
}

enum class StackRead { Ok, Missing, Failed };

StackRead LoadStack(std::string& content) {
  if (!stackInMemory) {
    switch (ReadRegularFile(settings.windowStackPath, content, 64u << 20, false)) {
      case ReadResult::Ok: return StackRead::Ok;
      case ReadResult::Missing: return StackRead::Missing;
      case ReadResult::NotRegular: KeepStackInMemory(); break;
      case ReadResult::TooLarge:
      case ReadResult::Unreadable: return StackRead::Failed;
    }
  }
  content = memoryStack;
  return content.empty() ? StackRead::Missing : StackRead::Ok;
}

bool StoreStack(const std::string& content) {
  if (!stackInMemory) {
    int fd = -1;
    switch (OpenOwnFileForWriting(settings.windowStackPath, true, fd)) {
      case ReadResult::Ok: {
        const bool written = WriteAll(fd, content) == 0;
        ::close(fd);
        return written;
      }
      case ReadResult::NotRegular: KeepStackInMemory(); break;
      default: return false;
    }
  }
  memoryStack = content;
  return true;
}

void RemoveStack() {
  if (stackInMemory) {
    memoryStack.clear();
  } else {
    ::unlink(settings.windowStackPath.c_str());
  }
}

void ApplyMode(int16_t mode) {
  currentMode = mode;
  int fg = settings.colourTable[mode][0] & 15;
  int bg = settings.colourTable[mode][1] & 15;
  currentAttr = static_cast<uint8_t>(bg * 16 + fg);
}

// Which character set a frame style uses: corners, horizontal, vertical,
// and the tees that close a horizontal line before a text and open it again
// after.
struct FrameChars {
  uint8_t tl, tr, bl, br, h, v, teeBefore, teeAfter;
};
FrameChars FrameFor(int style) {
  switch (style) {
    case 1: return {0xDA, 0xBF, 0xC0, 0xD9, 0xC4, 0xB3, 0xB4, 0xC3};
    case 2: return {0xC9, 0xBB, 0xC8, 0xBC, 0xCD, 0xBA, 0xB9, 0xCC};
    default: return {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  }
}

bool IsControl(unsigned char c) { return c < 32; }

}  // namespace

int16_t ScreenRows() { return static_cast<int16_t>(CurrentConsole().Rows()); }
int16_t ScreenColumns() { return static_cast<int16_t>(CurrentConsole().Columns()); }

void LocateAbsolute(int row, int col) {
  cursorRow = row;
  cursorCol = col;
  CurrentConsole().SetCursor(row, col);
}

void CursorPosition(int& row, int& col) {
  row = cursorRow;
  col = cursorCol;
}

void SetCursorSize(int percent) { CurrentConsole().SetCursorSize(percent); }
int CurrentCursorSize() { return CurrentConsole().CursorSize(); }

void LocateInWindow(int row, int col) {
  if (Window.Depth != 0) {
    row += Window.Top;
    col += Window.Left;
  }
  LocateAbsolute(row, col);
}

int16_t WindowFirstRow() { return Window.Depth == 0 ? 1 : static_cast<int16_t>(Window.Top + 1); }
int16_t WindowFirstColumn() {
  return Window.Depth == 0 ? 1 : static_cast<int16_t>(Window.Left + 1);
}
int16_t WindowLastColumn() {
  return Window.Depth == 0 ? ScreenColumns() : static_cast<int16_t>(Window.Right - 1);
}
int16_t WindowLastRow() {
  return Window.Depth == 0 ? ScreenRows() : static_cast<int16_t>(Window.Bottom - 1);
}

void SetScreenSettings(const ScreenSettings& newSettings) { settings = newSettings; }
const ScreenSettings& CurrentScreenSettings() { return settings; }

std::string WindowStackPath() { return settings.windowStackPath; }

int16_t PushWindow(int top, int left, int bottom, int right) {
  Console& con = CurrentConsole();
  const int rows = con.Rows(), cols = con.Columns();
  // The file's fields hold two digits, so nothing beyond row/column 99.
  const int maxRow = rows < 99 ? rows : 99, maxCol = cols < 99 ? cols : 99;
  if (top < 1 || left < 1 || top > maxRow || left > maxCol || bottom < top || right < left) {
    pushKinds += '\0';
    return 1;
  }
  if (bottom > maxRow) bottom = maxRow;
  if (right > maxCol) right = maxCol;

  std::string content;
  const StackRead read = LoadStack(content);
  if (read == StackRead::Failed) {
    pushKinds += '\0';
    return 1;
  }
  const bool exists = read == StackRead::Ok;
  // With no window open the file holds nothing worth keeping (a leftover of
  // an interrupted run); a header that points outside the file is damage.
  uint32_t at = 5;
  if (exists && Window.Depth != 0 && content.size() > 3) {
    uint32_t h = HeaderValue(content);
    if (h >= 5 && h <= content.size() + 1) at = h;
  }
  const int curRow = std::clamp(cursorRow, 0, 99), curCol = std::clamp(cursorCol, 0, 99);
  std::string rec;
  rec += Digits(curRow, 2);
  rec += Digits(curCol, 2);
  rec += Digits(Window.Top, 2);
  rec += Digits(Window.Left, 2);
  rec += Digits(Window.Bottom, 2);
  rec += Digits(Window.Right, 2);
  rec += Digits(top, 2);
  rec += Digits(left, 2);
  rec += Digits(bottom, 2);
  rec += Digits(right, 2);
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      uint8_t ch = ' ', attr = 7;
      con.GetCell(r, c, ch, attr);
      rec += static_cast<char>(ch);
      rec += static_cast<char>(attr);
    }
  }
  const size_t cells = static_cast<size_t>(bottom - top + 1) * static_cast<size_t>(right - left + 1);
  rec += Digits(static_cast<int>(kRecordHead + 2 * cells + kLengthField), kLengthField);
  if (!exists) content.clear();
  if (content.size() < at - 1 + rec.size()) content.resize(at - 1 + rec.size());
  std::copy(rec.begin(), rec.end(), content.begin() + static_cast<std::ptrdiff_t>(at - 1));
  WriteHeader(content, static_cast<uint32_t>(at + rec.size()));
  if (!StoreStack(content)) {
    pushKinds += '\0';
    return 1;
  }

  Window.Top = static_cast<int16_t>(top);
  Window.Left = static_cast<int16_t>(left);
  Window.Bottom = static_cast<int16_t>(bottom);
  Window.Right = static_cast<int16_t>(right);
  ++Window.Depth;
  pushKinds += '\1';
  if (stackNoteDue && !stackNoting) {
    stackNoteDue = false;
    stackNoting = true;
    TellUserAndWait(top, kConsoleTexts.Text(ConsoleMessage::StackFileIgnored, settings.language) +
                             TidyHostPath(settings.windowStackPath));
    stackNoting = false;
  }
  return 0;
}

void PopWindow() {
  if (!pushKinds.empty()) {
    const char kind = pushKinds.back();
    pushKinds.pop_back();
    if (kind == '\0') return;  // its push was refused
  }
  if (Window.Depth <= 0) return;
  Console& con = CurrentConsole();
  std::string content;
  --Window.Depth;
  bool ok = LoadStack(content) == StackRead::Ok && content.size() > 3;
  uint32_t end = ok ? HeaderValue(content) : 0;
  int len = -1;
  uint32_t start = 0;
  if (ok && end >= 5 + kRecordHead + kLengthField && end <= content.size() + 1) {
    len = ReadDigits(content, end - 1 - kLengthField, kLengthField);
    if (len >= kRecordHead + kLengthField && static_cast<uint32_t>(len) <= end - 5)
      start = end - static_cast<uint32_t>(len);
    else
      ok = false;
  } else {
    ok = false;
  }
  int v[10] = {};
  if (ok) {
    for (int i = 0; i < 10 && ok; ++i) {
      v[i] = ReadDigits(content, start - 1 + 2 * i, 2);
      if (v[i] < 0) ok = false;
    }
  }
  const int top = v[6], left = v[7], bottom = v[8], right = v[9];
  if (ok && (top < 1 || left < 1 || bottom < top || right < left ||
             static_cast<long>(kRecordHead + kLengthField) +
                     2L * (bottom - top + 1) * (right - left + 1) != len))
    ok = false;
  if (!ok) {
    // Damaged or foreign: nothing can be restored faithfully. Keep going
    // with what is known; with no window left, start clean.
    if (Window.Depth == 0) {
      Window = WindowState{};
      RemoveStack();
    }
    return;
  }
  size_t at = start - 1 + kRecordHead;
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      con.PutCell(r, c, static_cast<uint8_t>(content[at]), static_cast<uint8_t>(content[at + 1]));
      at += 2;
    }
  }
  Window.Top = static_cast<int16_t>(v[2]);
  Window.Left = static_cast<int16_t>(v[3]);
  Window.Bottom = static_cast<int16_t>(v[4]);
  Window.Right = static_cast<int16_t>(v[5]);
  LocateAbsolute(v[0], v[1]);
  if (start < 6) {
    RemoveStack();
    Window = WindowState{};
    return;
  }
  WriteHeader(content, start);
  static_cast<void>(StoreStack(content));
}

void DrawWindowFrame(int style) {
  if (Window.Depth == 0) return;
  Console& con = CurrentConsole();
  const FrameChars fc = FrameFor(style);
  const int t = Window.Top, l = Window.Left, b = Window.Bottom, r = Window.Right;
  for (int c = l; c <= r; ++c) {
    const uint8_t topCh = c == l ? fc.tl : c == r ? fc.tr : fc.h;
    const uint8_t botCh = c == l ? fc.bl : c == r ? fc.br : fc.h;
    con.PutCell(t, c, topCh, currentAttr);
    if (b != t) con.PutCell(b, c, botCh, currentAttr);
  }
  for (int row = t + 1; row < b; ++row) {
    con.PutCell(row, l, fc.v, currentAttr);
    for (int c = l + 1; c < r; ++c) con.PutCell(row, c, ' ', currentAttr);
    if (r != l) con.PutCell(row, r, fc.v, currentAttr);
  }
}

std::string FrameLineWithKeys(const std::string& keys, int width, int style) {
  const FrameChars fc = FrameFor(style);
  if (width < 1) return std::string();
  std::string line(static_cast<size_t>(width), static_cast<char>(fc.h));
  if (keys.empty() || width < 3) return line;
  const size_t room = static_cast<size_t>(width) - 2;  // inside the tees
  // Too long: the groups of keys (parted by two blanks) go from the end, and
  // a first group that still does not fit loses its end.
  std::string piece = keys;
  while (piece.size() > room) {
    const size_t gap = piece.rfind("  ");
    if (gap == std::string::npos || gap == 0) {
      piece.resize(room);
    } else {
      piece.resize(gap);
    }
  }
  // Blanks beside the keys only where a piece of line still shows on each
  // side of the tees.
  if (piece.size() + 4 <= room) piece = " " + piece + " ";
  piece = static_cast<char>(fc.teeBefore) + piece + static_cast<char>(fc.teeAfter);
  line.replace((line.size() - piece.size()) / 2, piece.size(), piece);
  return line;
}

void WriteFrameKeys(const std::string& keys, int style) {
  if (Window.Depth == 0 || Window.Bottom == Window.Top) return;
  Console& con = CurrentConsole();
  const std::string line = FrameLineWithKeys(keys, Window.Right - Window.Left - 1, style);
  for (size_t i = 0; i < line.size(); ++i)
    con.PutCell(Window.Bottom, Window.Left + 1 + static_cast<int>(i), static_cast<uint8_t>(line[i]), currentAttr);
}

void SetDisplayMode(const std::string& code) {
  std::string up;
  bool blank = true;
  for (char ch : code) {
    up += (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch;
    if (ch != ' ') blank = false;
  }
  if (blank) return;
  if (up.find('+') != std::string::npos) modeStack += static_cast<char>(currentMode);
  int16_t mode;
  if (up.find('-') != std::string::npos) {
    if (modeStack.empty()) {
      mode = 0;
    } else {
      mode = static_cast<int16_t>(modeStack.back());
      modeStack.pop_back();
    }
  } else if (up.find('U') != std::string::npos) {
    mode = 4;
  } else {
    mode = static_cast<int16_t>((up.find('R') != std::string::npos ? 2 : 0) +
                                (up.find('N') != std::string::npos ? 1 : 0));
  }
  ApplyMode(mode);
}

int16_t CurrentDisplayMode() { return currentMode; }
uint8_t CurrentAttribute() { return currentAttr; }
void SetColour(int foreground, int background) {
  currentAttr = static_cast<uint8_t>((background & 15) * 16 + (foreground & 15));
}

void WriteText(const std::string& text) {
  Console& con = CurrentConsole();
  const int row = cursorRow;
  int col = cursorCol;
  if (row >= 1 && row <= con.Rows()) {
    for (unsigned char ch : text) {
      if (col > con.Columns()) break;
      if (col >= 1) con.PutCell(row, col, ch, currentAttr);
      ++col;
    }
  }
  LocateAbsolute(row, cursorCol + static_cast<int>(text.size()));
}

void WriteBlanks(int count) {
  if (count > 0) WriteText(std::string(static_cast<size_t>(count), ' '));
}

void WriteAt(int row, int col, const std::string& text) {
  LocateInWindow(row, col);
  WriteText(text);
}

// Line breaking. Every line holds width visible characters (control
// characters take no room); the first line is indented by indent blanks, or,
// with a negative indent, the later lines by -indent (hanging indent). A line
// ends at the last blank before a word that would not fit; a word longer
// than the line is cut. The blanks after a line's piece are skipped.
std::vector<std::string> FormatTextLineList(const std::string& text, int indent, int width,
                                            const std::string& align) {
  std::vector<std::string> lines;
  const char a = align.empty() ? ' ' : static_cast<char>(align[0] >= 'a' && align[0] <= 'z'
                                                             ? align[0] - 32 : align[0]);
  const size_t n = text.size();
  size_t p = 0;
  bool first = true;
  auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  while (p < n) {
    int lineIndent = first ? (indent > 0 ? indent : 0) : (indent < 0 ? -indent : 0);
    first = false;
    int avail = width - lineIndent;
    if (avail < 1) avail = 1;
    size_t q = p;
    int visible = 0;
    while (q < n && visible < avail) {
      if (!IsControl(at(q))) ++visible;
      ++q;
    }
    if (q > p && at(q - 1) != ' ')
      while (q < n && IsControl(at(q))) ++q;
    size_t cut = q;
    if (q < n && at(q) != ' ' && !IsControl(at(q))) {
      size_t b = q;
      while (b > p && at(b - 1) != ' ') --b;
      if (b > p) cut = b - 1;  // the blank before the word
      if (cut <= p) cut = q;
    } else if (q >= n || IsControl(at(q))) {
      while (cut > p && at(cut - 1) == ' ') --cut;
      if (cut == p) cut = q;
    }
    std::string piece = text.substr(p, cut - p);
    std::string line(static_cast<size_t>(lineIndent), ' ');
    line += piece;
    int vis = 0;
    for (unsigned char ch : line) vis += IsControl(ch) ? 0 : 1;
    int free = width - vis;
    if (free < 0) free = 0;
    size_t next = cut;
    while (next < n && at(next) == ' ') ++next;
    switch (a) {
      case 'E': case 'L': case 'I':
        line.append(static_cast<size_t>(free), ' ');
        break;
      case 'N':
        line.append(static_cast<size_t>(free), '-');
        break;
      case 'D': case 'R':
        line.insert(0, static_cast<size_t>(free), ' ');
        break;
      case 'C':
        line.insert(0, static_cast<size_t>(free / 2), ' ');
        line.append(static_cast<size_t>((free + 1) / 2), ' ');
        break;
      case 'A': case 'B': {
        if (next >= n || free == 0) break;
        // Gap starts: the first blank of each run of blanks after the indent.
        std::vector<size_t> gaps;
        for (size_t i = static_cast<size_t>(lineIndent); i < line.size(); ++i)
          if (line[i] == ' ' && (i == static_cast<size_t>(lineIndent) || line[i - 1] != ' '))
            if (i > static_cast<size_t>(lineIndent)) gaps.push_back(i);
        if (gaps.empty()) break;
        size_t g = 0;
        for (int k = 0; k < free; ++k) {
          line.insert(gaps[g], 1, ' ');
          for (size_t j = g + 1; j < gaps.size(); ++j) ++gaps[j];
          g = (g + 1) % gaps.size();
        }
        break;
      }
      default:
        break;
    }
    lines.push_back(line);
    if (next == p) ++next;  // never loop in place
    p = next;
  }
  return lines;
}

void FormatTextLines(std::string& text, int indent, int width, const std::string& align) {
  std::string out;
  for (const auto& line : FormatTextLineList(text, indent, width, align)) out += line;
  text = out;
}

int16_t ShowMessageWindow(int anchorRow, std::string& text, const std::string& keys) {
  const ScopedDisplayMode mode("rh");
  const int cols = ScreenColumns();
  // Centred on column 41 of an 80-column screen; a narrower screen centres
  // on its own middle and narrows the text to fit.
  const int centre = cols >= 80 ? 41 : cols / 2 + 1;
  int textWidth = cols >= 80 ? 76 : cols - 4;
  if (textWidth < 1) textWidth = 1;
  std::vector<std::string> lines = FormatTextLineList(text, 0, textWidth, "i");
  std::string joined;
  for (const auto& l : lines) joined += l;
  text = joined;
  const int n = static_cast<int>(lines.size());
  int top = anchorRow - (n + 1) / 2 - 2;
  if (top < 1) top = 1;
  int bottom = top + n + 1;
  if (bottom > ScreenRows()) {
    bottom = ScreenRows();
    top = bottom - n - 1;
  }
  if (top < 1) {
    PushWindow(0, 0, 0, 0);  // refused: the caller's PopWindow does nothing
    return 1;
  }
  int w = 0;
  for (auto& l : lines) {
    while (!l.empty() && l.back() == ' ') l.pop_back();
    if (static_cast<int>(l.size()) > w) w = static_cast<int>(l.size());
  }
  // The bottom line holds the keys with a blank, a tee and a line on each
  // side: the inside (w + 2) is then keys + 6 wide.
  if (!keys.empty()) w = std::max(w, std::min(textWidth, static_cast<int>(keys.size()) + 4));
  const int left = centre - (w + 1) / 2 - 2;
  const int right = centre + w / 2 + 1;
  if (PushWindow(top, left, bottom, right) != 0) return 1;
  DrawWindowFrame(1);
  WriteFrameKeys(keys, 1);
  for (int i = 0; i < n; ++i) WriteAt(i + 1, 2, lines[static_cast<size_t>(i)]);
  return 0;
}

void ScrollRegion(int top, int left, int bottom, int right, int n) {
  if (n == 0) n = -1;
  CurrentConsole().Scroll(top + 1, left + 1, bottom + 1, right + 1, n, currentAttr);
}

void Beep() { CurrentConsole().Beep(); }

void ResetScreenState() {
  Window = WindowState{};
  cursorRow = cursorCol = 1;
  modeStack.clear();
  pushKinds.clear();
  stackInMemory = stackNoteDue = false;
  memoryStack.clear();
  ApplyMode(0);
}
