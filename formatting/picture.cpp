// Picture formatting of numbers, money amounts and the currency contexts.
#include "formatting/picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "base/text.h"
#include "formatting/settings.h"

namespace {

// Currency contexts: one letter each, empty when unset.
std::string DefaultCurrency;
std::string AlternateCurrency;
std::string ActiveCurrency;

// The peseta conversion factor as the suite holds it: single precision.
constexpr float kPesetasPerEuro = 166.386f;

bool IsDigitPlace(char c) { return c == '9' || c == 'Z' || c == 'z' || c == '*'; }

// The decimal digits of a non-negative whole double, without leading zeros;
// empty for 0. Pre: v is finite, v >= 0 and has no fraction.
std::string WholeDigits(double v) {
  if (v < 1) return std::string();
  if (v < 1e19) {
    // Whole numbers below 2^64 convert exactly; the usual amounts take this way.
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(v)).ptr;
    return std::string(digits, static_cast<size_t>(end - digits));
  }
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", v);
  return buffer;
}

}  // namespace

std::string FormatPicture(const std::string& picture, double value) {
  const char decimalChar = CurrentFormatSettings().decimalChar;
  const char thousandsChar = CurrentFormatSettings().thousandsChar;
  const int L = static_cast<int>(picture.size());
  if (L == 0) return std::string();
  if (!std::isfinite(value)) return std::string(picture.size(), '!');

  const bool hasSign = picture.find_first_of("-+") != std::string::npos;
  int dec = 0;
  int scale = 0;
  const size_t point = picture.find('.');
  if (point != std::string::npos && static_cast<int>(point) + 1 < L) {
    bool inRun = true;
    for (size_t i = point + 1; i < picture.size(); ++i) {
      const char c = picture[i];
      if (IsDigitPlace(c) || c == '-' || c == '+') ++dec;
      if (inRun && IsDigitPlace(c)) {
        ++scale;
      } else {
        inRun = false;
      }
    }
  }

  // Scale and round half to even. A value beyond the double range after
  // scaling cannot fit any picture: the "!" row.
  double v = value == 0 ? 0.0 : std::fabs(value) * std::pow(10.0, scale);
  if (!std::isfinite(v)) return std::string(picture.size(), '!');
  double whole = std::floor(v);
  const double fraction = v - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  const std::string D = WholeDigits(whole);
  const bool negative = value < 0;
  const int digitCount = static_cast<int>(D.size());
  const int I = digitCount - scale;

  // The digit at cursor d (1-based into D), or 0 when d lies outside D.
  auto digitAt = [&](int d) -> char { return d >= 1 && d <= digitCount ? D[static_cast<size_t>(d - 1)] : '\0'; };
  auto restIsZero = [&](int d) {
    for (int i = std::max(d, 1); i <= digitCount; ++i) {
      if (D[static_cast<size_t>(i - 1)] != '0') return false;
    }
    return true;
  };

  std::string W = picture;
  int d = dec + I;
  int fill = 0;
  int pos = L;
  for (; pos >= 1 && d > 0; --pos) {
    char& out = W[static_cast<size_t>(pos - 1)];
    const char digit = digitAt(d);
    switch (out) {
      case '9':
        out = digit ? digit : '0';
        fill = 0;
        --d;
        break;
      case 'Z':
      case 'z':
        if (pos < L - dec) {
          out = digit ? digit : ' ';
          fill = 32 + (digit ? 0 : 256);
        } else if (!restIsZero(d) || dec == 0) {
          out = digit ? digit : '0';
          fill = 32 + (digit ? 0 : 256);
        } else {
          out = ' ';
          fill = 288;
        }
        --d;
        break;
      case '*':
        out = digit ? digit : '*';
        fill = 42 + (digit ? 0 : 256);
        --d;
        break;
      case '.':
        out = fill > 255 ? static_cast<char>(fill % 256) : decimalChar;
        dec = 0;
        break;
      case ',':
        out = thousandsChar;
        break;
      case '-':
        if (!negative) out = ' ';
        if (dec > 0) --d;
        break;
      case '+':
        out = negative ? '-' : '+';
        if (dec > 0) --d;
        break;
      default:
        break;
    }
  }

  if (d > 0 || (negative && !hasSign && pos < 1)) {
    // Too wide: the plain number, cut to the width, or the "!" row when
    // not even the sign and the integer digits fit.
    const int integerDigits = std::max(I, 0);
    if (L < (negative ? 1 : 0) + integerDigits) return std::string(picture.size(), '!');
    std::string plain = negative ? "-" : "";
    plain += D.substr(0, static_cast<size_t>(integerDigits));
    if (digitCount > integerDigits) {
      plain += decimalChar;
      plain += D.substr(static_cast<size_t>(integerDigits));
    }
    if (static_cast<int>(plain.size()) > L) return plain.substr(0, picture.size());
    return std::string(picture.size() - plain.size(), ' ') + plain;
  }

  bool minusPending = negative && !hasSign;
  for (; pos >= 1; --pos) {
    char& out = W[static_cast<size_t>(pos - 1)];
    const bool integerPart = pos < L - dec;
    switch (out) {
      case '9':
        if (minusPending && integerPart) {
          out = '-';
          minusPending = false;
        } else {
          out = '0';
        }
        fill = 0;
        break;
      case 'Z':
      case 'z':
        if (minusPending) {
          out = '-';
          minusPending = false;
        } else if (integerPart || value == 0) {
          out = ' ';
          fill = 288;
        } else {
          out = '0';
          fill = 32;
        }
        break;
      case '*':
        if (minusPending) {
          out = '-';
          minusPending = false;
        } else {
          out = integerPart ? '*' : '0';
          fill = 42;
        }
        break;
      case ',':
        if (minusPending) {
          out = '-';
          minusPending = false;
        } else {
          out = fill != 0 ? static_cast<char>(fill % 256) : thousandsChar;
        }
        break;
      case '.':
        out = fill > 255 ? static_cast<char>(fill % 256) : decimalChar;
        break;
      case '-':
        if (!negative) out = ' ';
        break;
      case '+':
        out = negative ? '-' : '+';
        break;
      default:
        break;
    }
  }
  return W;
}

std::string FormatAmount(const std::string& spec, double cents) {
  return FormatAmount(spec, cents, std::string());
}

std::string FormatAmount(const std::string& spec, double cents, const std::string& currency) {
  const size_t L = spec.size();
  int C = 0;
  bool forceUnits = cents != 0;
  bool thousands = false;
  char fillChar = 'Z';
  char signChar = '\0';
  bool leadingSign = false;
  for (size_t i = 0; i < L; ++i) {
    switch (spec[i]) {
      case '.':
        ++C;
        break;
      case '9':
        if (C != 0) {
          ++C;
        } else {
          forceUnits = true;
        }
        break;
      case '-':
      case '+':
        signChar = spec[i];
        leadingSign = i == 0;
        break;
      case ',':
        thousands = true;
        break;
      case '*':
        fillChar = '*';
        break;
      case 'Z':
        fillChar = 'Z';
        break;
      default:
        break;
    }
  }
  auto keepRight = [L](std::string& text) {
    if (text.size() > L) text.erase(0, text.size() - L);
  };

  std::string pic(L, fillChar);
  if (forceUnits) {
    pic += '9';
    keepRight(pic);
  }
  if (thousands) {
    for (long k = static_cast<long>(L) - 3; k >= 1; k -= 4) {
      pic.insert(static_cast<size_t>(k), 1, ',');
      keepRight(pic);
    }
  }
  double value;
  if ((currency.empty() ? ActiveCurrency : currency) == "P") {
    value = cents / 100 * static_cast<double>(kPesetasPerEuro);
  } else {
    value = cents / 100;
    C += C == 0 ? 3 : 2;
  }
  if (C != 0) {
    pic += '.';
    pic += std::string(static_cast<size_t>(C - 1), forceUnits ? '9' : 'Z');
    keepRight(pic);
  }
  if (signChar != '\0' && L > 0) {
    if (leadingSign) {
      pic[0] = signChar;
    } else {
      pic += signChar;
      keepRight(pic);
    }
  }
  return FormatPicture(pic, value);
}

void SetCurrency(const std::string& selector) {
  const char first = selector.empty() ? '\0' : PlainUpper(selector[0]);
  const size_t comma = selector.find(',');
  if (comma != std::string::npos) {
    const std::string rest = Trim(std::string_view(selector).substr(comma + 1));
    const std::string letter = rest.empty() ? std::string() : std::string(1, PlainUpper(rest[0]));
    if (first == 'A') {
      DefaultCurrency = letter.empty() ? "E" : letter;
      ActiveCurrency = DefaultCurrency;
    } else {
      AlternateCurrency = letter.empty() ? DefaultCurrency : letter;
    }
    return;
  }
  if (first == 'P') {
    ActiveCurrency = AlternateCurrency.empty() ? DefaultCurrency : AlternateCurrency;
  } else {
    ActiveCurrency = DefaultCurrency;
  }
}

std::string CurrencyOf(const std::string& context) {
  const std::string trimmed = Trim(context);
  if (!trimmed.empty() && PlainUpper(trimmed[0]) == 'A') return DefaultCurrency;
  return AlternateCurrency.empty() ? DefaultCurrency : AlternateCurrency;
}

std::string FormatPersonName(const std::string& name) {
  const size_t star = name.find('*');
  if (star == std::string::npos || star == 0) return Trim(name);
  const std::string surname = Trim(std::string_view(name).substr(0, star));
  const std::string given = Trim(std::string_view(name).substr(star + 1));
  const std::string rightTrimmed = TrimRight(name);
  const bool elided = !rightTrimmed.empty() && rightTrimmed.back() == '\'';
  return given + (elided ? "" : " ") + surname;
}

int16_t IsInvalidNumber(const std::string& text, const std::string& picture) {
  bool signAllowed = picture.find_first_of("-+") != std::string::npos;
  bool pointAllowed = picture.find('.') != std::string::npos;
  for (char c : text) {
    if (c == '+' || c == '-') {
      if (!signAllowed) return -1;
      signAllowed = false;
    } else if (c == '.') {
      if (!pointAllowed) return -1;
      pointAllowed = false;
      signAllowed = false;
    } else if (c >= '0' && c <= '9') {
      signAllowed = false;
    } else if (c != ' ') {
      return -1;
    }
  }
  return 0;
}

void ResetFormattingSettingsForTesting() {
  SetFormatSettings(FormatSettings{});
  DefaultCurrency.clear();
  AlternateCurrency.clear();
  ActiveCurrency.clear();
}
