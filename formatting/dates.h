// Stored dates (four packed bytes: century, year, month, day, each 128 + the
// two-digit value), their parsing from typed text, and their texts in the
// four languages of the suite.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

// The empty stored date: four bytes of 128 (the code of "00000000").
extern const std::string EmptyDate;

// Packs digit pairs: (n+1)/2 bytes for a text of n characters; the text is
// trimmed, right-aligned with "0" on the left, blanks count as "0" and any
// other non-digit counts 0. CodeFromText("20240531") is bytes 148 152 133 159.
std::string CodeFromText(const std::string& text);

// A typed date ("5/1/24", "05.01.2024", "050124", and the ISO form
// "2024-01-05": four digits first, then "-") as a stored date; the empty
// date when the text cannot be read. Two-digit years are completed against
// the current year (FormatSettings::currentYear). No range check is made.
std::string StoredDateFromText(const std::string& text);

// style -1: "YYYY-MM-DD"; 0: numeric; 1: numeric with 3-letter month; 2 or
// more: long text in the language of CurrentFormatSettings(). fields names
// the parts to show ("D", "M", "A" in any case and order); the order of
// output and the separator of styles 0 and 1 are the settings' dateOrder and
// dateSeparator. Day and month are written without leading zeros, the year
// always with four digits ("5/4/0024"). The empty date gives an empty (styles 2+) or blank (styles
// 0, 1) text.
std::string FormatDate(const std::string& storedDate, int16_t style, const std::string& fields);

// The compact text a date field starts from: "DDMMYY" when the year lies
// within 50 years before and 49 after the current year (as for
// StoredDateFromText), else "DDMMYYYY";
// empty for the empty date. StoredDateFromText reads it back to the same date.
std::string DateToDisplay(const std::string& storedDate);

// The forms a date is written in, as the suite's programs name them when
// they refuse one or explain their fields (the parameter form, zepfact's
// date options): "DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD", in language.
// Every program reads all three; the screens also take their short forms.
[[nodiscard]] const char* DateFormsText(Language language);

// -1 when text is not a valid date (unreadable, month or day out of range,
// or one of the ten days dropped in October 1582), 0 when it is.
int16_t IsInvalidDate(const std::string& text);

// 1 (Monday) to 7 (Sunday); Julian calendar before 5 October 1582.
int16_t DayOfWeek(const std::string& storedDate);

// Distance between two stored dates, never negative: whole days ("D"),
// calendar months ("M") or completed years ("A"), unit in any case; any
// other unit gives 0.
int32_t DateDiff(const std::string& d1, const std::string& d2, const std::string& unit);
