#include "suite/zepprint/spool_reader.h"

#include <algorithm>
#include <climits>

#include "base/text.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A spool number: optional blanks, optional "-", 1 to 9 digits, optional
// blanks. False for anything else, so huge or damaged numbers are refused.
bool ParseNumber(std::string_view spoolText, long& value) {
  const std::string trimmed = Trim(spoolText);
  std::string_view text = trimmed;
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 9) return false;
  long result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  value = negative ? -result : result;
  return true;
}

}  // namespace

bool DeviceOf(std::string_view line, std::string& device) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!StartsWith(line, "DEVICE")) return false;
  device = std::string(line.substr(6));
  return true;
}

SpoolReader::SpoolReader(PageSink sink) : sink_(std::move(sink)) {}

void SpoolReader::EmitPage() {
  if (!pageOpen_) return;
  ++totals_.pages;
  sink_(page_);
  pageOpen_ = false;
}

void SpoolReader::StartPage(int lines) {
  EmitPage();
  page_.lines = lines;
  page_.rows.assign(static_cast<size_t>(lines), std::string(GridColumns, ' '));
  pageOpen_ = true;
  line_ = 0;
  column_ = 0;
}

void SpoolReader::Feed(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

  if (StartsWith(line, "PAGE")) {
    long lines = 0;
    bool good = ParseNumber(line.substr(4), lines) && lines >= 1 && lines <= MaxPageLines;
    if (!good) {
      ++totals_.skipped;
      lines = pageOpen_ || totals_.pages > 0 ? page_.lines : DefaultPageLines;
    }
    StartPage(static_cast<int>(lines));
    return;
  }
  if (StartsWith(line, "*")) {
    if (line.substr(1) == "@e") ++totals_.invoices;
    return;
  }
  if (StartsWith(line, "JUS")) {
    std::string_view mode = line.substr(3);
    char letter = mode.empty() ? '?' : mode[0];
    if (letter == 'C' || letter == 'D' || letter == 'A' || letter == 'N' || letter == 'E') {
      justification_ = letter;
    } else {
      ++totals_.skipped;
      justification_ = 'E';
    }
    return;
  }

  // A text item: number "," text "," number; the text may hold commas.
  size_t firstComma = line.find(',');
  size_t lastComma = line.rfind(',');
  long column = 0;
  long advance = 0;
  if (firstComma == std::string_view::npos || lastComma == firstComma ||
      !ParseNumber(line.substr(0, firstComma), column) ||
      !ParseNumber(line.substr(lastComma + 1), advance) || column < 0 || column > SHRT_MAX ||
      advance < SHRT_MIN || advance > SHRT_MAX) {
    ++totals_.skipped;
    return;
  }
  std::string_view text = line.substr(firstComma + 1, lastComma - firstComma - 1);
  if (!text.empty()) {
    if (!pageOpen_) StartPage(totals_.pages > 0 ? page_.lines : DefaultPageLines);
    if (line_ >= page_.lines) StartPage(page_.lines);
    PlaceItem(column, text);
  } else if (column != 0) {
    column_ = column - 1;
  }
  justification_ = 'E';
  if (advance != 0) {
    line_ = std::max(0L, line_ + advance);
    column_ = 0;
  }
}

void SpoolReader::PlaceItem(long column, std::string_view text) {
  const long start = column != 0 ? column - 1 : column_;
  const long width = static_cast<long>(text.size());
  long at = start;
  std::string centred;
  std::string_view shown = text;
  // "D": the text already fills its own width, so it keeps its cells.
  if (justification_ == 'C') {
    centred = Trim(text);
    shown = centred;
    at = start + (width - static_cast<long>(shown.size())) / 2;
  }
  std::string& row = page_.rows[static_cast<size_t>(line_)];
  bool lost = false;
  for (size_t i = 0; i < shown.size(); ++i) {
    const long cell = at + static_cast<long>(i);
    if (shown[i] == ' ') continue;
    if (cell >= GridColumns) {
      lost = true;
      break;
    }
    row[static_cast<size_t>(cell)] = shown[i];
  }
  if (lost) ++totals_.cut;
  column_ = start + width;
}

void SpoolReader::Finish() { EmitPage(); }
