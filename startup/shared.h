// Small routines shared by every folder: digits of packed codes, zero
// padding, uniform texts, numeric reading of settings values, host paths and
// the clock. This is the bottom library: it links to nothing of ours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The two decimal digits of (b AND 127) for each byte b of a packed code:
// the bytes 128, 133 give "0005"; values 100 to 127 give their last two digits.
std::string KeyDigits(std::string_view key);

// The decimal digits of |value| preceded by n zeros, cut to the last n
// characters: ZeroPad(42, 8) is "00000042", ZeroPad(12345, 3) is "345".
// n <= 0 gives the empty text.
std::string ZeroPad(int64_t value, int n);

// True (-1) when every character of text has the given code; the empty text
// gives true. False is 0.
int16_t IsAllChar(std::string_view text, int code);

// The decimal number at the start of text, "." as decimal point, leading
// blanks skipped, reading stopping at the first character that cannot
// continue the number; 0 when the text does not begin with a number.
// Never fails: NaN and infinities are never produced.
double NumericValue(std::string_view text);

// Turns a path built the suite's way ("\" as separator) into a host path
// ("/" as separator). Every open, create, delete or exec of a file goes
// through it; nothing else converts paths.
std::string HostPath(std::string_view suitePath);

// The current calendar year and today's date as 8 digits (YYYYMMDD), from
// the system clock unless a test has fixed them with SetClockForTesting.
int CurrentYear();
std::string TodayDigits();

// The capital of a code page 850 character by the plain fold table: "a".."z"
// and the accented small letters become their capitals with the accent kept;
// every other character is returned as it is. Settings sections and keys are
// compared through it; the formatting library's plain folding uses it too.
char PlainUpper(char c);

// Pins the clock to the given 8-digit date; the empty text returns to the
// system clock.
void SetClockForTesting(const std::string& yyyymmdd);
