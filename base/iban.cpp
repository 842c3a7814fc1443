#include "base/iban.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

// The IBAN registry's lengths of the SEPA scheme's countries.
struct CountryLength {
  const char* country;
  size_t length;
};
constexpr CountryLength kSepaLengths[] = {
    {"AD", 24}, {"AT", 20}, {"BE", 16}, {"BG", 22}, {"CH", 21}, {"CY", 28}, {"CZ", 24}, {"DE", 22},
    {"DK", 18}, {"EE", 20}, {"ES", 24}, {"FI", 18}, {"FR", 27}, {"GB", 22}, {"GI", 23}, {"GR", 27},
    {"HR", 21}, {"HU", 28}, {"IE", 22}, {"IS", 26}, {"IT", 27}, {"LI", 21}, {"LT", 20}, {"LU", 20},
    {"LV", 21}, {"MC", 27}, {"MT", 31}, {"NL", 18}, {"NO", 15}, {"PL", 28}, {"PT", 25}, {"RO", 24},
    {"SE", 24}, {"SI", 19}, {"SK", 24}, {"SM", 27}, {"VA", 22},
};

}  // namespace

std::string CompactIban(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '-') continue;
    out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

bool IsValidIban(const std::string& text) {
  const std::string iban = CompactIban(text);
  if (iban.size() < 15 || iban.size() > 34) return false;
  if (!IsUpper(iban[0]) || !IsUpper(iban[1]) || !IsDigit(iban[2]) || !IsDigit(iban[3])) return false;
  const size_t length = IbanLength(iban.substr(0, 2));
  if (length != 0 && iban.size() != length) return false;
  unsigned remainder = 0;
  for (size_t i = 0; i < iban.size(); ++i) {
    const char c = iban[(i + 4) % iban.size()];
    if (IsDigit(c)) {
      remainder = (remainder * 10 + static_cast<unsigned>(c - '0')) % 97;
    } else if (IsUpper(c)) {
      remainder = (remainder * 100 + static_cast<unsigned>(c - 'A' + 10)) % 97;
    } else {
      return false;
    }
  }
  return remainder == 1;
}

size_t IbanLength(const std::string& country) {
  for (const CountryLength& row : kSepaLengths) {
    if (country == row.country) return row.length;
  }
  return 0;
}

std::string PrintedIban(const std::string& text) {
  const std::string iban = CompactIban(text);
  std::string out;
  for (size_t i = 0; i < iban.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    out += iban[i];
  }
  return out;
}

std::string MaskedIban(const std::string& text) {
  std::string out = PrintedIban(text);
  const size_t first = out.find(' '), last = out.rfind(' ');
  if (first == std::string::npos || first == last) return out;
  for (size_t i = first; i < last; ++i)
    if (out[i] != ' ') out[i] = '*';
  return out;
}
