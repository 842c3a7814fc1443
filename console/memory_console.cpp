#include <algorithm>

#include "console/console.h"

namespace {
Console* installed = nullptr;
}  // namespace

void SetConsole(Console* console) { installed = console; }

Console& CurrentConsole() {
  if (installed) return *installed;
  static MemoryConsole fallback;
  return fallback;
}

MemoryConsole::MemoryConsole(int rows, int columns)
    : rows_(std::max(rows, 1)), cols_(std::max(columns, 1)),
      chars_(static_cast<size_t>(rows_) * static_cast<size_t>(cols_), ' '),
      attrs_(chars_.size(), 7) {}

void MemoryConsole::PutCell(int row, int col, uint8_t ch, uint8_t attr) {
  if (row < 1 || row > rows_ || col < 1 || col > cols_) return;
  const size_t i = static_cast<size_t>(row - 1) * static_cast<size_t>(cols_) +
                   static_cast<size_t>(col - 1);
  chars_[i] = ch;
  attrs_[i] = attr;
}

void MemoryConsole::GetCell(int row, int col, uint8_t& ch, uint8_t& attr) const {
  if (row < 1 || row > rows_ || col < 1 || col > cols_) {
    ch = ' ';
    attr = 7;
    return;
  }
  const size_t i = static_cast<size_t>(row - 1) * static_cast<size_t>(cols_) +
                   static_cast<size_t>(col - 1);
  ch = chars_[i];
  attr = attrs_[i];
}

void MemoryConsole::SetCursor(int row, int col) {
  curRow_ = std::clamp(row, 1, rows_);
  curCol_ = std::clamp(col, 1, cols_);
}

void MemoryConsole::GetCursor(int& row, int& col) const {
  row = curRow_;
  col = curCol_;
}

// The default scroll of every console, kept beside the memory console that
// has nothing faster.
void Console::Scroll(int top, int left, int bottom, int right, int n, uint8_t attr) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, Rows());
  right = std::min(right, Columns());
  if (top > bottom || left > right || n == 0) return;
  const int height = bottom - top + 1;
  const int shift = std::min(n > 0 ? n : -n, height);
  auto copyRow = [&](int from, int to) {
    for (int c = left; c <= right; ++c) {
      uint8_t ch, a;
      GetCell(from, c, ch, a);
      PutCell(to, c, ch, a);
    }
  };
  auto blankRow = [&](int r) {
    for (int c = left; c <= right; ++c) PutCell(r, c, ' ', attr);
  };
  if (n > 0) {
    for (int r = top; r + shift <= bottom; ++r) copyRow(r + shift, r);
    for (int r = bottom - shift + 1; r <= bottom; ++r) blankRow(r);
  } else {
    for (int r = bottom; r - shift >= top; --r) copyRow(r - shift, r);
    for (int r = top; r < top + shift; ++r) blankRow(r);
  }
}

bool MemoryConsole::NextEvent(InputEvent& ev) {
  if (events_.empty()) return false;
  ev = events_.front();
  events_.pop_front();
  return true;
}

void MemoryConsole::PushKey(uint16_t code, uint8_t mods, bool keypad) {
  InputEvent ev;
  ev.code = code;
  ev.mods = mods;
  ev.keypad = keypad;
  events_.push_back(ev);
}

void MemoryConsole::PushText(const std::string& cp850) {
  for (unsigned char c : cp850) PushKey(c);
}

void MemoryConsole::PushClick(int row, int col, uint16_t buttons) {
  InputEvent ev;
  ev.kind = InputEvent::Kind::Mouse;
  ev.buttons = buttons;
  ev.row = static_cast<uint16_t>(row);
  ev.col = static_cast<uint16_t>(col);
  events_.push_back(ev);
}

void MemoryConsole::PushPaste(const std::string& cp850) {
  InputEvent ev;
  ev.kind = InputEvent::Kind::Paste;
  ev.text = cp850;
  events_.push_back(ev);
}

void MemoryConsole::Resize(int rows, int columns) {
  rows = std::max(rows, 1);
  columns = std::max(columns, 1);
  std::vector<uint8_t> chars(static_cast<size_t>(rows) * static_cast<size_t>(columns), ' ');
  std::vector<uint8_t> attrs(chars.size(), 7);
  for (int r = 1; r <= std::min(rows, rows_); ++r)
    for (int c = 1; c <= std::min(columns, cols_); ++c) {
      const size_t to = static_cast<size_t>(r - 1) * static_cast<size_t>(columns) +
                        static_cast<size_t>(c - 1);
      GetCell(r, c, chars[to], attrs[to]);
    }
  rows_ = rows;
  cols_ = columns;
  chars_.swap(chars);
  attrs_.swap(attrs);
  SetCursor(curRow_, curCol_);
  InputEvent ev;
  ev.kind = InputEvent::Kind::Resize;
  events_.push_back(ev);
}

std::string MemoryConsole::RowText(int row) const { return RowText(row, 1, cols_); }

std::string MemoryConsole::RowText(int row, int col, int len) const {
  std::string out;
  for (int c = col; c < col + len; ++c) {
    uint8_t ch, a;
    GetCell(row, c, ch, a);
    out += static_cast<char>(ch);
  }
  return out;
}

std::string MemoryConsole::RowAttrs(int row, int col, int len) const {
  std::string out;
  for (int c = col; c < col + len; ++c) {
    uint8_t ch, a;
    GetCell(row, c, ch, a);
    out += static_cast<char>(a);
  }
  return out;
}
