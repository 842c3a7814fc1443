// Text helpers of the bottom library: trimming, padding to a fixed width,
// digits of packed codes, zero padding, numeric reading of settings values
// and the plain capital of a code page 850 character. Texts are code page 850
// bytes; "blank" means the space character unless a routine says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The fields of line between each separator: "a\t\tb" split at tabs is
// {"a", "", "b"}; the empty line is one empty field.
[[nodiscard]] std::vector<std::string> SplitFields(const std::string& line, char separator);

// The fields of each whole line of a log (each ended by "\n"), split at
// separator; a last line without its "\n", torn by a write that did not
// finish, is left out.
[[nodiscard]] std::vector<std::vector<std::string>> WholeLineFields(const std::string& text, char separator);

// The text without the blanks (spaces and tabs) at its end, at its start, or
// at both ends.
[[nodiscard]] std::string TrimRight(std::string_view text);
[[nodiscard]] std::string TrimLeft(std::string_view text);
[[nodiscard]] std::string Trim(std::string_view text);

// The text without the spaces at both ends; tabs count as text (the spool's
// justification mode is trimmed this way).
[[nodiscard]] std::string TrimSpaces(std::string_view text);

// The text cut or filled with spaces on the right to exactly width bytes.
[[nodiscard]] std::string FixedWidth(std::string_view text, size_t width);

// The text cut or filled with spaces on the left to exactly width bytes;
// a longer text keeps its last width bytes.
[[nodiscard]] std::string FixedWidthRight(std::string_view text, size_t width);

// The two decimal digits of (b AND 127) for each byte b of a packed code:
// the bytes 128, 133 give "0005"; values 100 to 127 give their last two digits.
[[nodiscard]] std::string KeyDigits(std::string_view key);

// The decimal digits of |value| preceded by n zeros, cut to the last n
// characters: ZeroPad(42, 8) is "00000042", ZeroPad(12345, 3) is "345".
// n <= 0 gives the empty text.
[[nodiscard]] std::string ZeroPad(int64_t value, int n);

// True when every character of text has the given code; the empty text
// gives true.
[[nodiscard]] bool IsAllChar(std::string_view text, int code);

// The decimal number at the start of text, "." as decimal point, leading
// blanks skipped, reading stopping at the first character that cannot
// continue the number; 0 when the text does not begin with a number.
// Never fails: NaN and infinities are never produced.
[[nodiscard]] double NumericValue(std::string_view text);

// text (UTF-8) as XML character data or attribute value: the five markup
// characters escaped, control characters (which XML 1.0 refuses even as
// references) as blanks.
[[nodiscard]] std::string XmlEscaped(std::string_view text);

// The capital of a code page 850 character by the plain fold table: "a".."z"
// and the accented small letters become their capitals with the accent kept;
// every other character is returned as it is. Settings sections and keys are
// compared through it; the formatting library's plain folding uses it too.
[[nodiscard]] char PlainUpper(char c);
