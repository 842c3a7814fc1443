#include "console/codepage.h"

#include <array>
#include <mutex>
#include <unordered_map>

#include "base/codepage.h"

namespace {

// The glyphs the PC shows for the control bytes 0..31.
constexpr char32_t kLowGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

struct Tables {
  std::array<char32_t, 256> toUnicode{};
  std::unordered_map<char32_t, uint8_t> fromUnicode;
};

// The code point of the single UTF-8 character in text; '?' otherwise.
char32_t SingleCodePoint(const std::string& text) {
  char32_t ch = 0;
  size_t len = 0;
  const unsigned char lead = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
  if (lead < 0x80) ch = lead, len = 1;
  else if ((lead & 0xE0) == 0xC0) ch = lead & 0x1F, len = 2;
  else if ((lead & 0xF0) == 0xE0) ch = lead & 0x0F, len = 3;
  else if ((lead & 0xF8) == 0xF0) ch = lead & 0x07, len = 4;
  if (len == 0 || text.size() != len) return '?';
  for (size_t k = 1; k < len; ++k) ch = (ch << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
  return ch;
}

const Tables& GetTables() {
  static Tables tables;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int b = 0; b < 128; ++b) tables.toUnicode[b] = static_cast<char32_t>(b);
    for (int b = 0; b < 32; ++b) tables.toUnicode[b] = kLowGlyphs[b];
    tables.toUnicode[127] = 0x2302;
    for (int b = 128; b < 256; ++b)
      tables.toUnicode[b] = SingleCodePoint(Utf8FromCp858(std::string(1, static_cast<char>(b))));
    // Later bytes do not override earlier ones; plain ASCII wins over glyphs.
    for (int b = 255; b >= 0; --b) tables.fromUnicode[tables.toUnicode[b]] = static_cast<uint8_t>(b);
    for (int b = 32; b < 127; ++b) tables.fromUnicode[static_cast<char32_t>(b)] = static_cast<uint8_t>(b);
  });
  return tables;
}

}  // namespace

char32_t UnicodeFromCp850(uint8_t byte) { return GetTables().toUnicode[byte]; }

bool Cp850FromUnicode(char32_t ch, uint8_t& byte) {
  const auto& map = GetTables().fromUnicode;
  auto it = map.find(ch);
  if (it == map.end()) return false;
  byte = it->second;
  return true;
}

std::string Cp850FromTerminalText(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t ch = 0;
    size_t len = 1;
    if (c < 0x80) {
      ch = c;
    } else if ((c & 0xE0) == 0xC0) {
      ch = c & 0x1F; len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      ch = c & 0x0F; len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      ch = c & 0x07; len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    bool ok = i + len <= text.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      else ch = (ch << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    i += len;
    uint8_t b = 0;
    if (ch < 128) out += static_cast<char>(ch);
    else if (Cp850FromUnicode(ch, b)) out += static_cast<char>(b);
    else out += '?';
  }
  return out;
}
