// Code page 850 (euro variant, 0xD5 is the euro) as the terminal shows it:
// one table of Unicode characters, built once from the code page conversion
// of base/codepage.h, with the PC glyphs for the bytes 1..31 and 127 (so
// 0x10 is the right-pointing and 0x11 the left-pointing triangle). Whole
// texts are converted by base/codepage.h; this table is the screen's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Unicode character shown for a code page 850 byte.
char32_t UnicodeFromCp850(uint8_t byte);
// The code page 850 byte of a Unicode character as the screen shows it (a
// PC glyph gives its control byte); false when it has none.
bool Cp850FromUnicode(char32_t ch, uint8_t& byte);

// UTF-8 text typed or pasted at the terminal, read back through the screen's
// table: what the screen shows as a character comes back as its byte (the
// PC glyphs included); any other character, and each invalid byte, gives
// "?".
std::string Cp850FromTerminalText(std::string_view text);
