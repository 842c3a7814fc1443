// Stored dates: packing, reading typed text, texts in four languages, and
// calendar arithmetic.
#include "formatting/dates.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

#include "base/calendar.h"
#include "base/clock.h"
#include "base/text.h"
#include "formatting/settings.h"

const std::string EmptyDate(4, static_cast<char>(128));

namespace {

// The year two-digit years are completed against.
int YearNow() {
  const int year = CurrentFormatSettings().currentYear;
  return year != 0 ? year : CurrentYear();
}

struct DateWords {
  std::array<const char*, 12> months;
  const char* beforeConsonant;
  const char* beforeVowel;
  const char* beforeDayOrYear;
};

// Month names in code page 850.
const DateWords kSpanish{{"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio",
                         "agosto", "septiembre", "octubre", "noviembre", "diciembre"},
                        " de ", " de ", " de "};
const DateWords kGalician{{"janeiro", "fevereiro", "mar\x87o", "abril", "maio", "junho", "julho",
                          "agosto", "setembro", "outubro", "novembro", "dezembro"},
                         " de ", " de ", " do "};
const DateWords kOccitan{{"g\x8ar", "hereu\x8ar", "mar\x87", "abriu", "mai", "junh", "junhsega",
                         "agost", "seteme", "octobre", "noveme", "deseme"},
                        " de ", " d'", " deth "};
const DateWords kCatalan{{"gener", "febrer", "mar\x87", "abril", "maig", "juny", "juliol",
                         "agost", "setembre", "octubre", "novembre", "desembre"},
                        " de ", " d'", " del "};

const DateWords& WordsOf(Language language) {
  switch (language) {
    case Language::Spanish:
      return kSpanish;
    case Language::Galician:
      return kGalician;
    case Language::Occitan:
      return kOccitan;
    case Language::Catalan:
      break;
  }
  return kCatalan;
}

struct YearMonthDay {
  int year = 0;
  int month = 0;
  int day = 0;
};

// The parts of a stored date. A text that is not four bytes long is read as
// its digit pairs right-aligned in eight digits, so an empty text is the
// empty date.
YearMonthDay Unpack(const std::string& storedDate) {
  std::string digits = KeyDigits(storedDate);
  if (digits.size() < 8) digits.insert(0, 8 - digits.size(), '0');
  digits = digits.substr(digits.size() - 8);
  YearMonthDay ymd;
  ymd.year = std::atoi(digits.substr(0, 4).c_str());
  ymd.month = std::atoi(digits.substr(4, 2).c_str());
  ymd.day = std::atoi(digits.substr(6, 2).c_str());
  return ymd;
}

// Day counts (DateDiff) take leap years by the calendar in force: Julian
// (every fourth year) before 1582, Gregorian from then on. Validation
// (IsInvalidDate) takes the Gregorian rule for every year.
bool CalendarLeap(int year) { return year < 1582 ? year % 4 == 0 : IsLeapYear(year); }

int CalendarYearLength(int year) { return CalendarLeap(year) ? 366 : 365; }

// The length of a month for day counts. A month outside 1..12 comes only
// from a damaged stored date; it counts 30 or 31 days by the suite's month
// formula, so that such a date keeps giving the distance it always gave.
int CalendarMonthLength(int year, int month) {
  if (month < 1 || month > 12) return 30 + (((month + 1) % 9 + 1) % 2);
  if (month == 2) return CalendarLeap(year) ? 29 : 28;
  return DaysInMonth(year, month);
}

// A typed date taken apart; empty when the text cannot be read.
struct TypedDate {
  int day = 0;
  int month = 0;
  int year = 0;
  bool fourDigitYear = false;
};

// The number in a part, blanks ignored; empty when it exceeds a 16-bit
// integer.
std::optional<int> PartValue(const std::string& part) {
  int value = 0;
  for (char c : part) {
    if (c == ' ') continue;
    value = value * 10 + (c - '0');
    if (value > 32767) return std::nullopt;
  }
  return value;
}

std::optional<TypedDate> ReadTypedDate(const std::string& text) {
  std::array<std::string, 3> parts;
  int separators = 0;
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == ' ') {
      parts[static_cast<size_t>(separators)].push_back(c);
    } else if (c == '.' || c == '/' || c == '-') {
      if (separators == 2) return std::nullopt;
      ++separators;
    } else {
      return std::nullopt;
    }
  }
  // The ISO form: four year digits first, the parts joined by "-".
  const bool iso = separators == 2 && Trim(parts[0]).size() == 4 &&
                   text.find_first_of("./") == std::string::npos;
  std::string dayText, monthText, yearText;
  if (separators == 0) {
    const std::string& all = parts[0];
    dayText = all.substr(0, 2);
    monthText = all.size() > 2 ? all.substr(2, 2) : std::string();
    yearText = all.size() > 4 ? all.substr(4) : std::string();
  } else if (separators == 2 && iso) {
    yearText = parts[0];
    monthText = parts[1];
    dayText = parts[2];
  } else if (separators == 2) {
    dayText = parts[0];
    monthText = parts[1];
    yearText = parts[2];
  } else {
    return std::nullopt;
  }
  const auto day = PartValue(dayText);
  const auto month = PartValue(monthText);
  const auto year = PartValue(yearText);
  if (!day || !month || !year) return std::nullopt;
  size_t first = yearText.find_first_not_of(' ');
  size_t last = yearText.find_last_not_of(' ');
  const size_t trimmedLength = first == std::string::npos ? 0 : last - first + 1;
  return TypedDate{*day, *month, *year, trimmedLength > 3};
}

}  // namespace

std::string CodeFromText(const std::string& text) {
  const size_t n = text.size();
  const size_t first = text.find_first_not_of(' ');
  std::string digits;
  if (first != std::string::npos) {
    digits = text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  digits.insert(0, n - digits.size(), '0');
  std::string code;
  code.reserve((n + 1) / 2);
  for (size_t i = 0; i < n; i += 2) {
    auto valueOf = [&](size_t k) {
      if (k >= n) return 0;
      const char c = digits[k];
      return c >= '0' && c <= '9' ? c - '0' : 0;
    };
    code.push_back(static_cast<char>(128 + 10 * valueOf(i) + valueOf(i + 1)));
  }
  return code;
}

std::string StoredDateFromText(const std::string& text) {
  const auto typed = ReadTypedDate(text);
  if (!typed) return EmptyDate;
  int year = typed->year;
  if (typed->day > 0 && typed->month > 0 && !typed->fourDigitYear) {
    const int current = YearNow();
    year += 100 * (current / 100);
    if (year - current > 49) {
      year -= 100;
    } else if (current - year > 50) {
      year += 100;
    }
  }
  // The stored form holds four year digits and two each for month and day;
  // a wider number would be cut to a different date, so it reads as empty.
  if (year > 9999 || typed->month > 99 || typed->day > 99) return EmptyDate;
  return CodeFromText(ZeroPad(year, 4) + ZeroPad(typed->month, 2) + ZeroPad(typed->day, 2));
}

const char* DateFormsText(Language language) {
  static constexpr std::array<const char*, kLanguageCount> kForms{
      "DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD", "DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD",
      "DD-MM-AAAA, DD/MM/AAAA ou AAAA-MM-DD", "DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD"};
  return kForms[static_cast<size_t>(language)];
}

int16_t IsInvalidDate(const std::string& text) {
  const auto typed = ReadTypedDate(text);
  if (!typed) return -1;
  int year = typed->year;
  if (year < 100 && !typed->fourDigitYear) {
    const int current = YearNow();
    year += 100 * (current / 100);
    if (year - current > 50) {
      year -= 100;
    } else if (current - year > 50) {
      year += 100;
    }
  }
  const int month = typed->month;
  const int day = typed->day;
  if (year > 9999) return -1;
  const long number = year * 10000L + month * 100L + day;
  if (number > 15821004 && number < 15821015) return -1;
  if (month < 1 || month > 12) return -1;
  if (day < 1 || day > DaysInMonth(year, month)) return -1;
  return 0;
}

std::string FormatDate(const std::string& storedDate, int16_t style, const std::string& fields) {
  const FormatSettings& settings = CurrentFormatSettings();
  const YearMonthDay ymd = Unpack(storedDate);
  if (style == -1) {
    return ZeroPad(ymd.year, 4) + "-" + ZeroPad(ymd.month, 2) + "-" + ZeroPad(ymd.day, 2);
  }
  std::string requested;
  for (char c : fields) requested.push_back(PlainUpper(c));
  const bool wantMonth = requested.find('M') != std::string::npos;
  const bool wantYear = requested.find('A') != std::string::npos;
  const bool wantDay = requested.find('D') != std::string::npos;

  const DateWords& language = WordsOf(settings.language);
  const bool validMonth = ymd.month >= 1 && ymd.month <= 12;
  std::string text;
  if (ymd.month != 0 || ymd.day != 0) {
    bool firstPart = true;
    for (char letter : settings.dateOrder) {
      if (requested.find(letter) == std::string::npos) continue;
      std::string part;
      bool isMonthName = false;
      if (letter == 'D') {
        part = std::to_string(ymd.day);
      } else if (letter == 'A') {
        part = ZeroPad(ymd.year, 4);
      } else if (letter == 'M') {
        if (style >= 1 && validMonth) {
          std::string name = language.months[static_cast<size_t>(ymd.month - 1)];
          if (style == 1) {
            name.resize(10, ' ');
            name.resize(3);
          }
          part = name;
          isMonthName = style >= 2;
        } else {
          part = std::to_string(ymd.month);
        }
      } else {
        continue;
      }
      if (!firstPart) {
        if (style <= 1) {
          text += settings.dateSeparator;
        } else if (isMonthName) {
          const char initial = PlainUpper(part[0]);
          const bool vowel = std::string_view("AEIOU").find(initial) != std::string_view::npos;
          text += vowel ? language.beforeVowel : language.beforeConsonant;
        } else {
          text += language.beforeDayOrYear;
        }
      }
      text += part;
      firstPart = false;
    }
  }
  if (style == 0 || style == 1) {
    int width = static_cast<int>(fields.size()) - 1 + (wantMonth ? style + 2 : 0) +
                (wantYear ? 4 : 0) + (wantDay ? 2 : 0);
    text.resize(static_cast<size_t>(std::max(width, 0)), ' ');
  }
  return text;
}

std::string DateToDisplay(const std::string& storedDate) {
  const YearMonthDay ymd = Unpack(storedDate);
  if (ymd.day == 0 && ymd.month == 0) return std::string();
  const int current = YearNow();
  const bool near = current - 50 <= ymd.year && ymd.year <= current + 49;
  return ZeroPad(ymd.day, 2) + ZeroPad(ymd.month, 2) +
         (near ? ZeroPad(ymd.year % 100, 2) : ZeroPad(ymd.year, 4));
}

int32_t DateDiff(const std::string& d1, const std::string& d2, const std::string& unit) {
  const bool firstEarlier = d1 <= d2;  // std::string compares bytes as unsigned
  const YearMonthDay a = Unpack(firstEarlier ? d1 : d2);
  const YearMonthDay b = Unpack(firstEarlier ? d2 : d1);
  const char kind = unit.empty() ? '\0' : PlainUpper(unit[0]);
  int32_t result = 0;
  if (kind == 'D') {
    for (int year = a.year + 1; year < b.year; ++year) result += CalendarYearLength(year);
    const int lastMonthOfA = a.year == b.year ? b.month - 1 : 12;
    for (int month = a.month; month <= lastMonthOfA; ++month) result += CalendarMonthLength(a.year, month);
    if (a.year != b.year) {
      for (int month = 1; month < b.month; ++month) result += CalendarMonthLength(b.year, month);
    }
    result += b.day - a.day;
  } else if (kind == 'M') {
    result = (b.year - a.year) * 12 + b.month - a.month;
  } else if (kind == 'A') {
    result = b.year - a.year;
    if (a.month > b.month || (a.month == b.month && a.day > b.day)) --result;
  }
  return std::max(result, 0);
}

int16_t DayOfWeek(const std::string& storedDate) {
  const YearMonthDay ymd = Unpack(storedDate);
  const std::string date = CodeFromText(ZeroPad(ymd.year, 4) + ZeroPad(ymd.month, 2) + ZeroPad(ymd.day, 2));
  const std::string newYear = CodeFromText(ZeroPad(ymd.year, 4) + "0101");
  const int d = DateDiff(date, newYear, "D") - 1;
  const int y = ymd.year - 1;
  // Floor division and a non-negative remainder keep year 0 in range.
  auto floorDiv = [](int n, int k) { return n >= 0 ? n / k : -((-n + k - 1) / k); };
  auto mod7 = [](int n) { return ((n % 7) + 7) % 7; };
  int result;
  if (date < CodeFromText("15821005")) {
    result = mod7(mod7(y + floorDiv(y, 4)) + 6 + d) + 1;
  } else {
    result = mod7(mod7(y + floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400)) + 1 + d) + 1;
  }
  return static_cast<int16_t>(result);
}
