// Comma-separated items over a text in memory.
#include "session/items.h"

#include <cmath>

#include "base/text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

ItemReader::ItemReader(std::string text) : text_(std::move(text)) {
  const size_t mark = text_.find('\x1a');
  if (mark != std::string::npos) text_.erase(mark);
}

bool ItemReader::AtLineEnd() const { return pos_ < text_.size() && IsLineEnd(text_[pos_]); }

void ItemReader::SkipLineEnd() {
  // One line end: CR LF, LF or a lone CR.
  if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
  if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
}

void ItemReader::SkipBlanks() {
  while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
}

bool ItemReader::AtEnd() {
  size_t p = pos_;
  while (p < text_.size() && (IsBlank(text_[p]) || IsLineEnd(text_[p]))) ++p;
  return p >= text_.size();
}

bool ItemReader::Next(std::string& item) { return ReadItem(item, false); }

bool ItemReader::ReadItem(std::string& item, bool numeric) {
  item.clear();
  for (;;) {
    SkipBlanks();
    if (pos_ >= text_.size()) return false;
    if (!AtLineEnd()) break;
    if (afterComma_ && emptyBeforeComma_ && !numeric) {
      // "a,,<line end>": the record ends with an empty item.
      afterComma_ = false;
      emptyBeforeComma_ = false;
      return true;
    }
    // Any other line end between items is no item: "3, 9,<line end>" goes on
    // with the next line.
    SkipLineEnd();
  }
  afterComma_ = false;
  emptyBeforeComma_ = false;
  const bool quoted = text_[pos_] == '"';
  if (quoted) {
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '"' && !IsLineEnd(text_[pos_])) {
      item.push_back(text_[pos_++]);
    }
    if (pos_ < text_.size() && text_[pos_] == '"') ++pos_;
    // Anything between the closing quote and the separator is dropped.
    while (pos_ < text_.size() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) ++pos_;
  } else {
    while (pos_ < text_.size() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) {
      item.push_back(text_[pos_++]);
    }
    item = TrimRight(item);
  }
  if (pos_ < text_.size() && text_[pos_] == ',') {
    ++pos_;
    afterComma_ = true;
    emptyBeforeComma_ = !quoted && item.empty();
  }
  return true;
}

bool ItemReader::NextNumber(int16_t& number) {
  std::string item;
  if (!ReadItem(item, true)) return false;
  double value = NumericValue(item);
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  if (whole > 32767) whole = 32767;
  if (whole < -32768) whole = -32768;
  number = static_cast<int16_t>(whole);
  return true;
}

void ItemReader::SkipComments() {
  SkipBlanks();
  if (pos_ < text_.size() && !AtLineEnd()) {
    // Mid-line: only at a line's start can a comment begin.
    const bool lineStart = pos_ == 0 || IsLineEnd(text_[pos_ - 1]) ||
                           text_.find_last_not_of(" \t", pos_ - 1) == std::string::npos ||
                           IsLineEnd(text_[text_.find_last_not_of(" \t", pos_ - 1)]);
    if (!lineStart || text_[pos_] != '\'') return;
  }
  for (;;) {
    SkipBlanks();
    if (pos_ >= text_.size()) return;
    if (AtLineEnd()) {
      SkipLineEnd();
      afterComma_ = false;
      emptyBeforeComma_ = false;
      continue;
    }
    if (text_[pos_] != '\'') return;
    // A comment: the rest of the line goes.
    while (pos_ < text_.size() && !IsLineEnd(text_[pos_])) ++pos_;
  }
}
