#include "base/calendar.h"

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

#include <chrono>
#include <cstdio>

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string DaysAfter(const std::string& yyyymmdd, int32_t days) {
  if (yyyymmdd.size() != 8 || yyyymmdd.find_first_not_of("0123456789") != std::string::npos) return {};
  using namespace std::chrono;
  const year_month_day date{year{std::stoi(yyyymmdd.substr(0, 4))},
                            month{static_cast<unsigned>(std::stoi(yyyymmdd.substr(4, 2)))},
                            day{static_cast<unsigned>(std::stoi(yyyymmdd.substr(6, 2)))}};
  if (!date.ok() || date.year() < year{1}) return {};
  const year_month_day later{sys_days{date} + std::chrono::days{days}};
  if (!later.ok() || later.year() < year{1} || later.year() > year{9999}) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(later.year()), unsigned{later.month()},
                unsigned{later.day()});
  return text;
}
