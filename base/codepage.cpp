#include "base/codepage.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One conversion descriptor per direction, opened on first use and kept for
// the life of the process (the module has one thread).
// The length of the whole UTF-8 sequence at text (lead byte and its
// continuation bytes), or 1 when the bytes there do not form one.
size_t Utf8SequenceLength(const char* text, size_t left) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  const size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
  if (length > left) return 1;
  for (size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 1;
  return length;
}

class Converter {
 public:
  Converter(const char* to, const char* from)
      : cd_(iconv_open(to, from)), utf8Input_(std::string_view(from) == "UTF-8") {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts text; on an invalid or unconvertible sequence either fails or,
  // with replace, puts "?" for one input byte and goes on.
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
      // EILSEQ or EINVAL: one "?" stands for the character that does not
      // convert (all of its bytes when the input is UTF-8 and they form a
      // whole sequence), or for one invalid byte; conversion goes on.
      out += '?';
      const size_t skip = utf8Input_ ? Utf8SequenceLength(src, srcLeft) : 1;
      src += skip;
      srcLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

 private:
  iconv_t cd_;
  bool utf8Input_;
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
