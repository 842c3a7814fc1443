#include "base/codepage.h"

#include <iconv.h>

#include <cerrno>

namespace {

// The length of the well-formed UTF-8 character at the start of text, or 1
// when there is none (a stray byte, or a character cut short).
size_t Utf8CharacterLength(const char* text, size_t left) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length = 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  }
  if (length > left) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// One conversion descriptor per direction, opened on first use and kept for
// the life of the process (the module has one thread).
class Converter {
 public:
  Converter(const char* to, const char* from)
      : cd_(iconv_open(to, from)), fromUtf8_(std::string_view(from) == "UTF-8") {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts text; on an invalid or unconvertible sequence either fails or,
  // with replace, puts one "?" for the character (a UTF-8 source) or the
  // byte that did not convert and goes on.
  bool Run(std::string_view text, std::string& out, bool replace) {
    out.clear();
    if (!ok()) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(text.data());
    size_t srcLeft = text.size();
    char buffer[1024];
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (!replace) return false;
      // EILSEQ or EINVAL: one character is shown as "?" and conversion goes on.
      const size_t skipped = fromUtf8_ ? Utf8CharacterLength(src, srcLeft) : 1;
      out += '?';
      src += skipped;
      srcLeft -= skipped;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

 private:
  iconv_t cd_;
  bool fromUtf8_;
};

Converter& ToUtf8() {
  static Converter converter("UTF-8", "CP858");
  return converter;
}

Converter& FromUtf8() {
  static Converter converter("CP858", "UTF-8");
  return converter;
}

}  // namespace

std::string Utf8FromCp858(std::string_view text) {
  std::string out;
  if (!ToUtf8().Run(text, out, true)) return std::string(text);
  return out;
}

bool Cp858FromUtf8(std::string_view text, std::string& out) {
  std::string converted;
  if (!FromUtf8().Run(text, converted, false)) return false;
  out = std::move(converted);
  return true;
}

std::string Cp858ForDisplay(std::string_view text) {
  std::string out;
  if (!FromUtf8().Run(text, out, true)) return std::string(text);
  return out;
}

std::string AsciiFromCp858(std::string_view text) {
  // Opened per call: the transliteration follows the locale in force.
  Converter converter("ASCII//TRANSLIT", "CP858");
  std::string out;
  if (!converter.Run(text, out, true)) return std::string(text.size(), '?');
  return out;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}
