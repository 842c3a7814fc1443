#include "suite/brovex/htmltext.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "base/codepage.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Decodes the entity starting at html[i] ("&..."); returns the characters
// consumed, 0 when it is not an entity this reader knows.
size_t DecodeEntity(const std::string& html, size_t i, std::string& out) {
  size_t end = html.find(';', i);
  if (end == std::string::npos || end - i > 10) return 0;
  std::string name = html.substr(i + 1, end - i - 1);
  struct Named {
    const char* name;
    uint32_t code;
  };
  static constexpr Named kNamed[] = {{"amp", '&'},  {"lt", '<'},    {"gt", '>'},
                                     {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
  for (const Named& n : kNamed) {
    if (name == n.name) {
      AppendUtf8(out, n.code);
      return end - i + 1;
    }
  }
  if (name.size() >= 2 && name[0] == '#') {
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 7) return 0;
    for (char c : digits) {
      if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
        return 0;
    }
    const uint32_t code = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10));
    // A control character written as a reference (an escape, a bell, a C1
    // code) would reach the terminal as a command: it shows as a blank.
    const bool control = (code >= 1 && code < 0x20) || (code >= 0x7F && code < 0xA0);
    AppendUtf8(out, control ? ' ' : code);
    return end - i + 1;
  }
  return 0;
}

bool IsBlockTag(const std::string& name) {
  static constexpr const char* kBlocks[] = {"p",  "br", "div", "h1", "h2", "h3", "h4",
                                            "h5", "h6", "li",  "tr", "pre", "hr", "title"};
  for (const char* b : kBlocks) {
    if (name == b) return true;
  }
  return false;
}

}  // namespace

std::string HtmlToText(const std::string& html) {
  std::string out;
  bool inPre = false;
  bool pendingBlank = false;
  auto newline = [&]() {
    pendingBlank = false;
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out.back() != '\n') out += '\n';
  };
  size_t i = 0;
  while (i < html.size()) {
    char c = html[i];
    if (c == '<') {
      size_t close = html.find('>', i);
      if (close == std::string::npos) break;
      std::string tag = Lower(html.substr(i + 1, close - i - 1));
      i = close + 1;
      bool closing = !tag.empty() && tag[0] == '/';
      std::string name = tag.substr(closing ? 1 : 0);
      size_t nameEnd = name.find_first_of(" \t\r\n/");
      if (nameEnd != std::string::npos) name.resize(nameEnd);
      if (!closing && (name == "script" || name == "style")) {
        // Their contents may hold "<" freely: jump to the closing tag.
        size_t end = Lower(html).find("</" + name, i);
        if (end == std::string::npos) break;
        size_t after = html.find('>', end);
        if (after == std::string::npos) break;
        i = after + 1;
        continue;
      }
      if (IsBlockTag(name)) newline();
      if (name == "pre") {
        inPre = !closing;
        // A line break right after <pre> belongs to the markup, not the text.
        if (inPre && i < html.size() && html[i] == '\r') ++i;
        if (inPre && i < html.size() && html[i] == '\n') ++i;
      }
      continue;
    }
    if (c == '&') {
      std::string decoded;
      size_t used = DecodeEntity(html, i, decoded);
      if (used > 0) {
        if (pendingBlank) out += ' ';
        pendingBlank = false;
        out += decoded;
        i += used;
        continue;
      }
    }
    if (!inPre && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
      if (!out.empty() && out.back() != '\n') pendingBlank = true;
      ++i;
      continue;
    }
    if (inPre && c == '\r') {
      ++i;
      continue;
    }
    if (pendingBlank) out += ' ';
    pendingBlank = false;
    out += c;
    ++i;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
  if (!out.empty()) out += '\n';
  return out;
}
