// The user's formatting settings: decimal and thousands characters, date
// separator and order, the language of month names and the year that
// completes two-digit years. They are one value, handed down once at start-up
// by the program (the session layer loads it from the settings files, see
// session/session.h LoadFormatSettings) and read by every formatting routine.
// The formatting library never reads the environment, a file or the session.
// The currency contexts are no settings: the session sets them through
// SetCurrency, and the run gives the currency its amounts are in to
// FormatAmount (formatting/picture.h).
#pragma once

#include <string>

#include "base/language.h"

struct FormatSettings {
  char decimalChar = '\'';        // printed for a picture's "."
  char thousandsChar = '.';       // printed for a picture's ","
  char dateSeparator = '/';       // between the parts of a numeric date (styles 0, 1)
  std::string dateOrder = "DMA";  // output order of day "D", month "M", year "A";
                                  // a letter missing here is never shown
  Language language = Language::Catalan;  // month names and joining words of long dates
  // The year against which two-digit years are completed and DateToDisplay
  // decides between two and four year digits; 0: the clock's current year
  // (base/clock.h) at the moment of each call.
  int currentYear = 0;
};

// Puts settings in force for every later formatting call. Called once at
// start-up; tests call it to set what they need.
void SetFormatSettings(const FormatSettings& settings);

// The settings in force: the defaults above until SetFormatSettings is called.
// The reference stays valid for the life of the process; its content changes
// with the next SetFormatSettings.
[[nodiscard]] const FormatSettings& CurrentFormatSettings();
