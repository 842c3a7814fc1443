#include "base/text.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string TrimRight(std::string_view text) {
  size_t last = text.size();
  while (last > 0 && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(0, last));
}

std::string TrimLeft(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  return std::string(text.substr(first));
}

std::string Trim(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

std::string TrimSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string FixedWidth(std::string_view text, size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

std::string FixedWidthRight(std::string_view text, size_t width) {
  if (text.size() >= width) return std::string(text.substr(text.size() - width));
  return std::string(width - text.size(), ' ') + std::string(text);
}

std::string KeyDigits(std::string_view key) {
  std::string digits;
  digits.reserve(key.size() * 2);
  for (char c : key) {
    const int v = (static_cast<unsigned char>(c) & 127) % 100;
    digits.push_back(static_cast<char>('0' + v / 10));
    digits.push_back(static_cast<char>('0' + v % 10));
  }
  return digits;
}

std::string ZeroPad(int64_t value, int n) {
  if (n <= 0) return std::string();
  // The magnitude as unsigned, so that the most negative value is safe.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  const std::string padded = std::string(static_cast<size_t>(n), '0') + digits;
  return padded.substr(padded.size() - static_cast<size_t>(n));
}

bool IsAllChar(std::string_view text, int code) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) != static_cast<unsigned>(code)) return false;
  }
  return true;
}

double NumericValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the digits as text and let strtod round them once; a number
  // beyond the double range is held at the largest finite value.
  std::string number;
  bool anyDigit = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      anyDigit = true;
      number.push_back(c);
    } else if (c == '.' && !point) {
      point = true;
      number.push_back(c);
    } else {
      break;
    }
  }
  if (!anyDigit) return 0;
  double value = std::strtod(number.c_str(), nullptr);
  if (!std::isfinite(value)) value = DBL_MAX;
  return negative ? -value : value;
}

std::string XmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return out;
}

namespace {

// Small letter -> capital pairs of the plain fold table above ASCII.
constexpr std::array<std::array<unsigned char, 2>, 28> kAccentedCapitals{{
    {129, 154}, {130, 144}, {131, 182}, {132, 142}, {133, 183}, {134, 143}, {135, 128},
    {136, 210}, {137, 211}, {138, 212}, {139, 216}, {140, 215}, {141, 222}, {145, 146},
    {147, 226}, {148, 153}, {149, 227}, {150, 234}, {151, 235}, {160, 181}, {161, 214},
    {162, 224}, {163, 233}, {164, 165}, {198, 199}, {208, 209}, {228, 229}, {236, 237},
}};

struct UpperTable {
  std::array<unsigned char, 256> map{};
  UpperTable() {
    for (int i = 0; i < 256; ++i) map[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    for (int c = 'a'; c <= 'z'; ++c) map[static_cast<size_t>(c)] = static_cast<unsigned char>(c - 32);
    for (const auto& pair : kAccentedCapitals) map[pair[0]] = pair[1];
  }
};

const UpperTable kUpper;

}  // namespace

char PlainUpper(char c) {
  return static_cast<char>(kUpper.map[static_cast<unsigned char>(c)]);
}

std::vector<std::string> SplitFields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t at = line.find(separator, start);
    fields.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return fields;
    start = at + 1;
  }
}

std::vector<std::vector<std::string>> WholeLineFields(const std::string& text, char separator) {
  std::vector<std::vector<std::string>> lines;
  for (size_t start = 0, end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start))
    lines.push_back(SplitFields(text.substr(start, end - start), separator));
  return lines;
}
