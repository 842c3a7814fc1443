#include "base/codepage.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One conversion descriptor per direction, opened on first use and kept for
// the life of the process (the module has one thread).
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
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
      // EILSEQ or EINVAL: one byte is shown as "?" and conversion goes on.
      out += '?';
      ++src;
      --srcLeft;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
  }

 private:
  iconv_t cd_;
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
