#include "mail/message.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool PlainAscii(const std::string& text) {
  for (const unsigned char c : text) {
    if (c < 32 || c > 126) return false;
  }
  return true;
}

// 16 random hexadecimal digits.
std::string RandomHex() {
  uint64_t value = 0;
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::read(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) {
    value = std::random_device{}();
    value = (value << 32) ^ std::random_device{}();
  }
  if (fd >= 0) ::close(fd);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string Base64Lines(const std::string& bytes) {
  const std::string encoded = Base64(bytes);
  std::string out;
  out.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
  for (size_t i = 0; i < encoded.size(); i += 76) out.append(encoded, i, 76).append("\r\n");
  return out;
}

std::string EncodedHeaderValue(const std::string& utf8) {
  if (PlainAscii(utf8)) return utf8;
  // Each word holds whole characters: at most 45 bytes give 60 base64
  // characters, 72 with "=?UTF-8?B?" and "?=".
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t end = i;
    while (end < utf8.size()) {
      size_t next = end + 1;
      while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
      if (next - i > 45) break;
      end = next;
    }
    if (end == i) end = i + 1;
    if (!out.empty()) out += "\r\n ";
    out.append("=?UTF-8?B?").append(Base64(utf8.substr(i, end - i))).append("?=");
    i = end;
  }
  return out;
}

std::string MailDate(std::time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  localtime_r(&when, &local);
  const long offset = local.tm_gmtoff / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

std::string NewMessageId(const std::string& senderAddress, std::time_t now) {
  const size_t at = senderAddress.rfind('@');
  const std::string domain = at == std::string::npos ? "localhost" : senderAddress.substr(at + 1);
  std::string id("<");
  id.append(std::to_string(static_cast<long long>(now))).append(".").append(RandomHex()).append("@");
  return id.append(domain).append(">");
}

std::string ComposeMessage(const MailMessage& m) {
  const std::string boundary = std::string("=_korvadel_").append(RandomHex());
  std::string to;
  for (const std::string& address : m.to) to.append(to.empty() ? "" : ",\r\n ").append(address);
  std::string out;
  out += "From: ";
  if (!m.fromName.empty()) {
    // A plain name goes quoted; one with other characters as encoded words.
    std::string name = m.fromName;
    const bool quotable = PlainAscii(name) && name.find_first_of("\"\\") == std::string::npos;
    if (quotable) {
      out.append("\"").append(name).append("\" ");
    } else {
      out.append(EncodedHeaderValue(name)).append(" ");
    }
  }
  out.append("<").append(m.fromAddress).append(">\r\n");
  out.append("To: ").append(to).append("\r\n");
  out.append("Subject: ").append(EncodedHeaderValue(m.subject)).append("\r\n");
  out.append("Date: ").append(MailDate(m.date)).append("\r\n");
  out.append("Message-ID: ").append(m.messageId).append("\r\n");
  out.append("MIME-Version: 1.0\r\n");
  out.append("Content-Type: multipart/mixed; boundary=\"").append(boundary).append("\"\r\n\r\n");
  out.append("--").append(boundary).append("\r\n");
  out += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  std::string text;
  for (const char c : m.text) {
    if (c == '\n') text += '\r';
    text += c;
  }
  out += Base64Lines(text);
  for (const MailAttachment& a : m.attachments) {
    out.append("--").append(boundary).append("\r\n");
    out.append("Content-Type: application/pdf; name=\"").append(a.fileName).append("\"\r\n");
    out.append("Content-Disposition: attachment; filename=\"").append(a.fileName).append("\"\r\n");
    out += "Content-Transfer-Encoding: base64\r\n\r\n";
    out += Base64Lines(a.bytes);
  }
  out.append("--").append(boundary).append("--\r\n");
  return out;
}
