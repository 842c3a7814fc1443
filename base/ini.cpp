// Settings reader: scans an INI-style file line by line for one value.
#include "base/ini.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "base/text.h"
#include "base/paths.h"

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

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Reads one line without its line end (LF, with a CR before it dropped).
// Returns false at the end of the file when nothing was read.
bool ReadLine(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// The value as written after "=", up to the comment; empty when it is not
// there.
std::string RawValue(const std::string& file, const std::string& section, const std::string& key) {
  // Only a regular file is read: a directory or a pipe in its place would
  // fail or block.
  const std::string path = HostPath(file);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::string();
  std::unique_ptr<std::FILE, FileCloser> handle(std::fopen(path.c_str(), "rb"));
  if (!handle) return std::string();

  const std::string wantedSection = Trim(section);
  const std::string wantedKey = Trim(key);
  bool inSection = false;
  std::string line;
  std::string value;
  bool found = false;
  while (!found && ReadLine(handle.get(), line)) {
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
