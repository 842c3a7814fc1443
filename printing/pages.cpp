#include "printing/pages.h"

#include <cstdlib>
#include <vector>

#include "base/text.h"

namespace {

// Where the module's page puts things (pages.h).
constexpr long kNumberColumn = 17;
constexpr long kTotalColumn = 67;
constexpr long kDateColumn = 17;
constexpr long kLabelColumn = 22;
constexpr long kAmountColumn = 66;
constexpr long kFirstAmountLine = 5;
constexpr long kOwnerLine = 11;
// The copy mark: line 1 holds only the property's code, far to the right.
constexpr long kMarkLine = 1;
constexpr long kMarkColumn = 40;
constexpr size_t kAmountWidth = 14;  // the module's amount picture
constexpr size_t kTotalWidth = 10;   // the module's total picture, asterisk-filled

// One line of a spool page: a text item has its column, text and advance;
// line is the page line it stands on.
struct SpoolLine {
  std::string raw;
  bool item = false;
  long column = 0;
  std::string text;
  long advance = 0;
  long line = -1;
};

bool ParseSpoolNumber(const std::string& text, long& out) {
  const std::string t = Trim(text);
  if (t.empty() || t.size() > 6) return false;
  const size_t start = t[0] == '-' ? 1 : 0;
  if (start == t.size() || t.find_first_not_of("0123456789", start) != std::string::npos) return false;
  out = std::atol(t.c_str());
  return true;
}

// The spool's form of a number: a blank or "-", the digits, a blank.
std::string SpoolNumber(long n) {
  std::string text(1, n < 0 ? '-' : ' ');
  return text.append(std::to_string(n < 0 ? -n : n)).append(" ");
}

std::string Item(long column, const std::string& text, long advance) {
  std::string line = SpoolNumber(column);
  line.append(",").append(text).append(",").append(SpoolNumber(advance)).append("\r\n");
  return line;
}

std::vector<SpoolLine> ParsePage(const std::string& page) {
  std::vector<SpoolLine> lines;
  long line = -1;
  for (size_t at = 0; at < page.size();) {
    size_t end = page.find('\n', at);
    end = end == std::string::npos ? page.size() : end + 1;
    SpoolLine l;
    l.raw = page.substr(at, end - at);
    at = end;
    std::string body = l.raw;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    if (body.compare(0, 4, "PAGE") == 0) {
      line = 0;
    } else if (line >= 0 && body.compare(0, 3, "JUS") != 0 && body.compare(0, 1, "*") != 0) {
      const size_t first = body.find(',');
      const size_t last = body.rfind(',');
      if (first != std::string::npos && last != first && ParseSpoolNumber(body.substr(0, first), l.column) &&
          ParseSpoolNumber(body.substr(last + 1), l.advance)) {
        l.item = true;
        l.text = body.substr(first + 1, last - first - 1);
        l.line = line;
        line = std::max(0L, line + l.advance);
      }
    }
    lines.push_back(l);
  }
  return lines;
}

// Cents as the page writes them: thousands grouped, two decimals, with
// the page's decimal character (the other one groups).
std::string Money(int64_t cents, char decimal) {
  const char group = decimal == ',' ? '.' : ',';
  const uint64_t magnitude = static_cast<uint64_t>(cents < 0 ? -cents : cents);
  const std::string whole = std::to_string(magnitude / 100);
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += group;
    out += whole[i];
  }
  out += decimal;
  out += ZeroPad(static_cast<int64_t>(magnitude % 100), 2);
  return out;
}

// An amount row's amount: right-aligned in the picture's width, the sign
// after it.
std::string AmountText(int64_t cents, char decimal) {
  std::string text = Money(cents, decimal);
  text += cents < 0 ? '-' : ' ';
  return text.size() < kAmountWidth ? std::string(kAmountWidth - text.size(), ' ') + text : text;
}

// The decimal character of the page's amounts: the character before the
// last two digits of an amount of the rows; "," when there is none.
char DecimalOf(const std::vector<SpoolLine>& lines) {
  for (const SpoolLine& l : lines) {
    if (!l.item || l.column != kAmountColumn) continue;
    const std::string t = Trim(l.text);
    size_t last = t.find_last_of("0123456789");
    if (last != std::string::npos && last >= 3 && (t[last - 2] == ',' || t[last - 2] == '.')) return t[last - 2];
  }
  return ',';
}

}  // namespace

std::string MarkedCopyPage(const std::string& page, const std::string& mark) {
  std::string out;
  bool marked = false;
  for (const SpoolLine& l : ParsePage(page)) {
    out += l.raw;
    if (!marked && l.raw.compare(0, 4, "PAGE") == 0) {
      // Down to line 1, the mark, back to line 0 where the page begins.
      out += Item(0, "", kMarkLine) + Item(kMarkColumn, "*** " + mark + " ***", -kMarkLine);
      marked = true;
    }
  }
  return out;
}

std::vector<std::string> CorrectiveCauseLines(const std::string& cause) {
  const size_t width = static_cast<size_t>(kCorrectiveCauseWidth);
  std::vector<std::string> lines;
  std::string text = Trim(cause);
  while (!text.empty()) {
    if (lines.size() == 1 && text.size() > width) {
      // The last line: what fits before the mark.
      std::string cut = text.substr(0, width - 3);
      const size_t blank = cut.find_last_of(' ');
      if (blank != std::string::npos && blank > width / 2) cut.resize(blank);
      lines.push_back(TrimRight(cut) + "...");
      break;
    }
    size_t take = std::min(text.size(), width);
    if (take < text.size()) {
      const size_t blank = text.find_last_of(' ', width);
      if (blank != std::string::npos && blank > 0) take = blank;
    }
    lines.push_back(TrimRight(text.substr(0, take)));
    text = Trim(text.substr(take));
    if (lines.size() == 2) break;
  }
  return lines;
}

std::string CorrectivePage(const std::string& page, const CorrectivePageTexts& t) {
  const std::vector<SpoolLine> lines = ParsePage(page);
  const char decimal = DecimalOf(lines);
  // Where the corrective's own texts go (pages.h).
  constexpr long kTitleLine = 3, kHeadingLine = 4, kCorrectsLine = 9, kCauseLine = 22;
  constexpr long kFirstColumn = 37, kSecondColumn = 51;
  const auto right = [](std::string text) {
    return text.size() < kAmountWidth ? std::string(kAmountWidth - text.size(), ' ') + text : text;
  };

  // From line 3 (the date leaves the page on line 5) to line 11, where the
  // property begins.
  long at = kTitleLine;
  std::string block = Item(0, "", kTitleLine - kFirstAmountLine) + Item(kNumberColumn, t.title, 1);
  const auto next = [&](long line) {
    if (line > at) block += Item(0, "", line - at);
    at = line;
  };
  block += Item(kFirstColumn, right(t.originalHeading), 0) + Item(kSecondColumn,
      right(t.differences ? t.correctedHeading : t.differenceHeading), 1);
  at = kHeadingLine + 1;
  // By substitution the corrective's own amounts are the corrected ones, by
  // differences the difference: they take the last column.
  const CorrectiveAmounts& middle = t.differences ? t.corrected : t.difference;
  const CorrectiveAmounts& own = t.differences ? t.difference : t.corrected;
  const auto row = [&](const std::string& label, int64_t CorrectiveAmounts::*amount) {
    block += Item(kLabelColumn, label.substr(0, kCorrectiveLabelWidth), 0) +
             Item(kFirstColumn, AmountText(t.original.*amount, decimal), 0) +
             Item(kSecondColumn, AmountText(middle.*amount, decimal), 0) +
             Item(kAmountColumn, AmountText(own.*amount, decimal), 1);
    ++at;
  };
  row(t.baseLabel, &CorrectiveAmounts::base);
  row(t.vatLabel + Money(t.vatRate, decimal) + " %", &CorrectiveAmounts::vat);
  if (t.withholding) row(t.withholdingLabel + Money(t.withholdingRate, decimal) + " %", &CorrectiveAmounts::withholding);
  row(t.totalLabel, &CorrectiveAmounts::total);
  next(kCorrectsLine);
  block += Item(kNumberColumn, t.corrects.substr(0, kCorrectiveTextWidth), 1) +
           Item(kNumberColumn, t.correctedDate.substr(0, kCorrectiveTextWidth), 1);
  at += 2;
  if (at < kOwnerLine) block += Item(0, "", kOwnerLine - at);

  // The cause goes last, below everything the page prints.
  std::string cause;
  for (const std::string& line : CorrectiveCauseLines(t.cause)) cause += Item(kCorrectiveCauseColumn, line, 1);

  std::string out;
  std::string held;  // a JUS line, kept until the item it shapes is kept
  long last = 0;     // the line the kept items end on, as this page prints them
  for (const SpoolLine& l : lines) {
    if (!l.item) {
      if (l.raw.compare(0, 3, "JUS") == 0) held += l.raw;
      else out += l.raw;
      continue;
    }
    if (l.line >= kFirstAmountLine && l.line < kOwnerLine) {
      held.clear();
      continue;
    }
    out += held;
    held.clear();
    std::string text = l.text;
    if (l.line == 0 && l.column == kNumberColumn) {
      text = t.number;
    } else if (l.line == 0 && l.column == kTotalColumn) {
      const size_t digit = text.find_last_of("0123456789");
      const std::string currency = digit == std::string::npos ? std::string() : text.substr(digit + 1);
      std::string total = Money(own.total, decimal);
      if (total.size() < kTotalWidth) total.insert(0, kTotalWidth - total.size(), '*');
      text = total + (own.total < 0 ? "-" : "") + currency;
    } else if (l.line == 2 && l.column == kDateColumn) {
      text = t.date;
    }
    out += text == l.text ? l.raw : Item(l.column, text, l.advance);
    last = std::max(0L, last + l.advance);
    // The block ends where the property begins, whatever the rows did.
    if (l.line == 2 && l.column == kDateColumn) {
      out += block;
      last = kOwnerLine;
    }
  }
  out += held;
  if (!cause.empty() && last <= kCauseLine) out += Item(0, "", kCauseLine - last) + cause;
  return out;
}

bool SpoolOfPage(const std::string& spool, int32_t page, std::string& out) {
  if (page < 1) return false;
  std::string header;
  std::string found;
  int32_t current = 0;
  size_t at = 0;
  while (at < spool.size()) {
    size_t end = spool.find('\n', at);
    end = end == std::string::npos ? spool.size() : end + 1;
    const std::string_view line(spool.data() + at, end - at);
    if (line.substr(0, 4) == "PAGE") ++current;
    if (current == 0) header.append(line);
    else if (current == page) found.append(line);
    else if (current > page) break;
    at = end;
  }
  if (found.empty()) return false;
  out = header + found;
  return true;
}

namespace {

// The lines of page in a side file ("<page>\t..." per line), renumbered as
// page 1: all of them, or the first only.
std::string LinesOfPage(const std::string& side, int32_t page, bool firstOnly) {
  const std::string prefix = std::to_string(page) + "\t";
  std::string out;
  size_t at = 0;
  while (at < side.size()) {
    size_t end = side.find('\n', at);
    if (end == std::string::npos) end = side.size();
    std::string line = side.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size()) {
      out.append("1\t").append(line, prefix.size(), std::string::npos).append(1, '\n');
      if (firstOnly) break;
    }
    at = end + 1;
  }
  return out;
}

}  // namespace

std::string CodeLineOfPage(const std::string& codes, int32_t page) { return LinesOfPage(codes, page, true); }

std::string FigureLinesOfPage(const std::string& figures, int32_t page) { return LinesOfPage(figures, page, false); }

std::string FigureOfPage(const std::string& figures, int32_t page, const std::string& key) {
  const std::string lines = LinesOfPage(figures, page, false);
  const std::string prefix = "1\t" + key + "\t";
  for (size_t at = 0; at < lines.size();) {
    const size_t end = lines.find('\n', at);
    if (lines.compare(at, prefix.size(), prefix) == 0) return lines.substr(at + prefix.size(), end - at - prefix.size());
    at = end + 1;
  }
  return {};
}
