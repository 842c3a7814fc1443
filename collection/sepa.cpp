#include "collection/sepa.h"

#include <array>
#include <cstring>

#include "base/calendar.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsAlnum(char c) { return IsDigit(c) || IsUpper(c) || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// MOD 97-10 remainder of text read as a number, letters counting 10 to 35;
// -1 for any other character.
int Mod97(const std::string& text) {
  unsigned remainder = 0;
  for (char c : text) {
    c = Upper(c);
    if (IsDigit(c)) {
      remainder = (remainder * 10 + static_cast<unsigned>(c - '0')) % 97;
    } else if (IsUpper(c)) {
      remainder = (remainder * 100 + static_cast<unsigned>(c - 'A' + 10)) % 97;
    } else {
      return -1;
    }
  }
  return static_cast<int>(remainder);
}

// The plain form of each code page 850 byte from 0x80: its letters, or
// null for a byte with no place in the EPC's set.
constexpr std::array<const char*, 128> kHighBytes = {
    "C",  "u",  "e", "a", "a", "a", "a", "c", "e", "e", "e", "i", "i", "i", "A", "A",   // 80
    "E",  "ae", "AE", "o", "o", "o", "u", "u", "y", "O", "U", "o", nullptr, "O", nullptr, nullptr,  // 90
    "a",  "i",  "o", "u", "n", "N", nullptr, nullptr, "?", nullptr, nullptr, nullptr, nullptr, nullptr, "'", "'",  // A0
    nullptr, nullptr, nullptr, nullptr, nullptr, "A", "A", "A", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // B0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "a", "A", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // C0
    "d",  "D",  "E", "E", "E", nullptr, "I", "I", "I", nullptr, nullptr, nullptr, nullptr, nullptr, "I", nullptr,  // D0
    "O",  "ss", "O", "O", "o", "O", nullptr, "th", "TH", "U", "U", "U", "y", "Y", nullptr, "'",  // E0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, ".", nullptr, nullptr, nullptr, nullptr, nullptr,  // F0
};

// The EPC form of one byte: itself, its replacement, or null.
const char* EpcForm(unsigned char c, char (&one)[2]) {
  one[0] = static_cast<char>(c);
  one[1] = '\0';
  if (IsEpcCharacter(static_cast<char>(c))) return one;
  if (c >= 0x80) return kHighBytes[c - 0x80];
  switch (c) {
    case '&': return "+";
    case '_': return "-";
    case ';': case '!': return ".";
    case '"': return "'";
    case '\t': return " ";
    default: return nullptr;
  }
}

// Easter Sunday of a Gregorian year, as days since 1970-01-01.
int64_t EasterSunday(int year) {
  const int a = year % 19, b = year / 100, c = year % 100, d = b / 4, e = b % 4;
  const int f = (b + 8) / 25, g = (b - f + 1) / 3, h = (19 * a + b - d - g + 15) % 30;
  const int i = c / 4, k = c % 4, l = (32 + 2 * e + 2 * i - h - k) % 7;
  const int m = (a + 11 * h + 22 * l) / 451;
  const int month = (h + l - 7 * m + 114) / 31, day = (h + l - 7 * m + 114) % 31 + 1;
  return DaysFromCivil(year, month, day);
}

}  // namespace

std::string CompactCreditorIdentifier(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out += Upper(c);
  }
  return out;
}

std::string CreditorIdentifier(const std::string& country, const std::string& businessCode,
                               const std::string& nationalId) {
  if (country.size() != 2 || !IsUpper(country[0]) || !IsUpper(country[1])) return {};
  if (businessCode.size() != 3) return {};
  for (char c : businessCode) {
    if (!IsAlnum(c)) return {};
  }
  const std::string national = CompactCreditorIdentifier(nationalId);
  if (national.empty() || national.size() > 28) return {};
  for (char c : national) {
    if (!IsAlnum(c)) return {};
  }
  const int remainder = Mod97(national + country + "00");
  const int check = 98 - remainder;
  return country + static_cast<char>('0' + check / 10) + static_cast<char>('0' + check % 10) +
         CompactCreditorIdentifier(businessCode) + national;
}

bool IsCreditorIdentifier(const std::string& text) {
  const std::string id = CompactCreditorIdentifier(text);
  if (id.size() < 8 || id.size() > 35 || !IsDigit(id[2]) || !IsDigit(id[3])) return false;
  return CreditorIdentifier(id.substr(0, 2), id.substr(4, 3), id.substr(7)) == id;
}

bool IsEpcCharacter(char c) { return IsAlnum(c) || (c != '\0' && std::strchr("/-?:().,'+ ", c) != nullptr); }

std::string EpcText(std::string_view cp850, char& badOut) {
  badOut = 0;
  std::string out;
  for (const char c : cp850) {
    char one[2];
    const char* const form = EpcForm(static_cast<unsigned char>(c), one);
    if (form == nullptr) {
      badOut = c;
      return out;
    }
    out += form;
  }
  return out;
}

std::string EpcTextLoose(std::string_view cp850) {
  std::string out;
  for (const char c : cp850) {
    char one[2];
    const char* const form = EpcForm(static_cast<unsigned char>(c), one);
    out += form == nullptr ? " " : form;
  }
  return out;
}

std::string EpcCut(const std::string& text, size_t width) {
  std::string cut = text.substr(0, width);
  const size_t first = cut.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  cut.erase(0, first);
  cut.erase(cut.find_last_not_of(' ') + 1);
  return cut;
}

bool IsCalendarDate(const std::string& d) {
  if (d.size() != 8) return false;
  for (char c : d) {
    if (!IsDigit(c)) return false;
  }
  const int year = std::stoi(d.substr(0, 4)), month = std::stoi(d.substr(4, 2)), day = std::stoi(d.substr(6, 2));
  return year >= 1900 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

int64_t DayNumber(const std::string& d) {
  return DaysFromCivil(std::stoi(d.substr(0, 4)), std::stoi(d.substr(4, 2)), std::stoi(d.substr(6, 2)));
}

std::string DateOfDayNumber(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
  return text;
}

bool IsTargetBusinessDay(const std::string& d) {
  const int64_t n = DayNumber(d);
  const int64_t weekday = ((n % 7) + 7 + 3) % 7;  // 0 Monday; 1970-01-01 was a Thursday
  if (weekday >= 5) return false;
  const std::string monthDay = d.substr(4);
  if (monthDay == "0101" || monthDay == "0501" || monthDay == "1225" || monthDay == "1226") return false;
  const int64_t easter = EasterSunday(std::stoi(d.substr(0, 4)));
  return n != easter - 2 && n != easter + 1;
}

const char* SchemeCode(Scheme scheme) { return scheme == Scheme::B2b ? "B2B" : "CORE"; }

bool ParseScheme(const std::string& text, Scheme& out) {
  std::string code;
  for (char c : text) {
    if (c != ' ') code += Upper(c);
  }
  if (code == "CORE") {
    out = Scheme::Core;
  } else if (code == "B2B") {
    out = Scheme::B2b;
  } else {
    return false;
  }
  return true;
}

int LeadBusinessDays(Scheme) { return 1; }

std::string EarliestCollectionDate(const std::string& today, Scheme scheme) {
  // A file sent on a day that is no business day reaches the bank on the next.
  int64_t day = DayNumber(today);
  while (!IsTargetBusinessDay(DateOfDayNumber(day))) ++day;
  for (int left = LeadBusinessDays(scheme); left > 0;) {
    ++day;
    if (IsTargetBusinessDay(DateOfDayNumber(day))) --left;
  }
  while (!IsTargetBusinessDay(DateOfDayNumber(day))) ++day;
  return DateOfDayNumber(day);
}

bool CollectionDateAllowed(const std::string& today, const std::string& collection, Scheme scheme) {
  return IsCalendarDate(collection) && IsTargetBusinessDay(collection) &&
         DayNumber(collection) >= DayNumber(EarliestCollectionDate(today, scheme));
}
