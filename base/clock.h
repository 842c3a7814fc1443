// The clock seam: today's date and the current year come from here, so that
// tests can pin them.
#pragma once

#include <string>

// The current calendar year and today's date as 8 digits (YYYYMMDD), from
// the system clock unless a test has fixed them with SetClockForTesting.
[[nodiscard]] int CurrentYear();
[[nodiscard]] std::string TodayDigits();

// Pins the clock to the given 8-digit date; the empty text returns to the
// system clock.
void SetClockForTesting(const std::string& yyyymmdd);
