// Calendar arithmetic of the Gregorian calendar.
#pragma once

// True for a Gregorian leap year (divisible by 4, and by 400 when it is by 100).
[[nodiscard]] bool IsLeapYear(int year);

// The number of days of month 1..12 of year; 0 for a month out of range.
[[nodiscard]] int DaysInMonth(int year, int month);

#include <cstdint>
#include <string>

// Days from 1970-01-01 to day d of month m (1..12) of year y of the
// proleptic Gregorian calendar; negative before it.
[[nodiscard]] int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d);

// The date days after yyyymmdd ("20270430" + 1 is "20270501"), YYYYMMDD;
// empty when yyyymmdd is not a valid date of years 1..9999 or the result
// leaves them.
[[nodiscard]] std::string DaysAfter(const std::string& yyyymmdd, int32_t days);
