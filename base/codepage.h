// Conversion between the program's code page (CP858: code page 850 with the
// euro at 0xD5) and UTF-8, through glibc's iconv. Text inside the program is
// always code page 850; conversion happens only at the terminal, in messages
// that name host paths, and in the print program's output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Code page 850 to UTF-8. Every byte converts.
[[nodiscard]] std::string Utf8FromCp858(std::string_view text);

// UTF-8 to code page 850: false when the text is not valid UTF-8 or holds a
// character that code page 850 cannot show (out is left as it was).
[[nodiscard]] bool Cp858FromUtf8(std::string_view text, std::string& out);

// UTF-8 to code page 850 for display: each character that does not convert,
// and each byte that is not part of a well-formed character, becomes one "?".
// Used for host paths shown in messages.
[[nodiscard]] std::string Cp858ForDisplay(std::string_view text);

// Code page 850 to plain ASCII through the transliteration of the current
// locale (LC_CTYPE, as set by setlocale): "\x82" (e acute) gives "e"; a
// character the locale cannot transliterate gives "?". Control bytes stay.
// For terminals that are not UTF-8.
[[nodiscard]] std::string AsciiFromCp858(std::string_view text);

// Appends the character code as UTF-8; a code that is no character (a
// surrogate, beyond U+10FFFF, or 0) as U+FFFD.
void AppendUtf8(std::string& out, uint32_t code);
