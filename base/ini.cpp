// Settings reader: scans an INI-style file line by line for one value.
#include "base/ini.h"

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Equal without regard to letter case, code page 850 letters included.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (PlainUpper(a[i]) != PlainUpper(b[i])) return false;
  }
  return true;
}

// The line of text that starts at pos, into line without its line end (LF,
// with a CR before it dropped); pos moves past it. False, with nothing
// changed, when text has no more lines.
bool NextLine(const std::string& text, size_t& pos, std::string& line) {
  if (pos >= text.size()) return false;
  size_t end = text.find('\n', pos);
  if (end == std::string::npos) end = text.size();
  line.assign(text, pos, end - pos);
  pos = end + 1;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// The value as written after "=", up to the comment; empty when it is not
// there.
std::string RawValue(const std::string& file, const std::string& section, const std::string& key) {
  // Only a regular file is read: a directory or a pipe in its place would
  // fail or block.
  std::string content;
  if (ReadRegularFile(HostPath(file), content, MostSettingsFileBytes) != ReadResult::Ok) return std::string();

  const std::string wantedSection = Trim(section);
  const std::string wantedKey = Trim(key);
  bool inSection = false;
  std::string line;
  std::string value;
  bool found = false;
  size_t pos = 0;
  while (!found && NextLine(content, pos, line)) {
    const size_t comment = line.find(';');
    if (comment != std::string::npos) line.erase(comment);
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start == line.size()) continue;
    if (line[start] == '[') {
      if (inSection) break;  // the section's first block has ended
      const size_t close = line.find(']', start + 1);
      const std::string name = line.substr(start + 1, close == std::string::npos
                                                          ? std::string::npos
                                                          : close - start - 1);
      inSection = SameName(Trim(name), wantedSection);
      continue;
    }
    if (!inSection) continue;
    const size_t equals = line.find('=', start);
    if (equals == std::string::npos) continue;
    if (SameName(Trim(line.substr(start, equals - start)), wantedKey) && !wantedKey.empty()) {
      value = line.substr(equals + 1);
      found = true;
    }
  }
  return value;
}

// A value of at least two characters in double quotes loses them.
std::string Unquoted(std::string value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string IniRead(const std::string& file, const std::string& section, const std::string& key) {
  return Unquoted(RawValue(file, section, key));
}

std::string IniReadTrimmed(const std::string& file, const std::string& section, const std::string& key) {
  return Unquoted(Trim(RawValue(file, section, key)));
}
