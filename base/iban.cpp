#include "base/iban.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

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
  if (iban.compare(0, 2, "ES") == 0 && iban.size() != 24) return false;
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

std::string PrintedIban(const std::string& text) {
  const std::string iban = CompactIban(text);
  std::string out;
  for (size_t i = 0; i < iban.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    out += iban[i];
  }
  return out;
}
