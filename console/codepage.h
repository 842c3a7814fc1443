// Code page 850 (euro variant, 0xD5 is the euro) and Unicode: one table,
// built once from iconv "CP858", with the PC glyphs for the bytes 1..31 and
// 127 (so 0x10 is the right-pointing and 0x11 the left-pointing triangle).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Unicode character shown for a code page 850 byte.
char32_t UnicodeFromCp850(uint8_t byte);
// The code page 850 byte of a Unicode character; false when it has none.
bool Cp850FromUnicode(char32_t ch, uint8_t& byte);

// Whole texts. Characters without a counterpart become "?".
std::string Utf8FromCp850(std::string_view text);
std::string Cp850FromUtf8(std::string_view text);

// Appends the UTF-8 form of ch to out.
void AppendUtf8(std::string& out, char32_t ch);
