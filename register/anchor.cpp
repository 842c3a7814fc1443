#include "register/anchor.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "base/durable.h"
#include "base/files.h"
#include "register/agency.h"

namespace {

constexpr const char* kFirstLine = "korvadel register anchor 1";

std::string Body(const RegisterAnchor& anchor) {
  return std::string(kFirstLine) + "\n" + std::to_string(anchor.sequence) + "\n" + anchor.fingerprint + "\n";
}

std::string FolderOf(const std::string& hostPath) {
  const size_t slash = hostPath.find_last_of('/');
  return slash == std::string::npos ? "." : hostPath.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

AnchorRead ReadRegisterAnchor(const std::string& hostPath, RegisterAnchor& out) {
  out = RegisterAnchor{};
  std::string text;
  switch (ReadRegularFile(hostPath, text, 4096)) {
    case ReadResult::Ok:
      break;
    case ReadResult::Missing:
      return AnchorRead::Absent;
    default:
      return AnchorRead::Damaged;
  }
  // Four lines: the first, the sequence, the fingerprint, the check.
  std::string lines[4];
  size_t start = 0;
  for (std::string& line : lines) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) return AnchorRead::Damaged;
    line = text.substr(start, end - start);
    start = end + 1;
  }
  if (start != text.size() || lines[0] != kFirstLine || lines[1].empty() || lines[1].size() > 10 ||
      lines[1].find_first_not_of("0123456789") != std::string::npos) {
    return AnchorRead::Damaged;
  }
  const long sequence = std::strtol(lines[1].c_str(), nullptr, 10);
  if (sequence < 1 || sequence > INT32_MAX) return AnchorRead::Damaged;
  out.sequence = static_cast<int32_t>(sequence);
  out.fingerprint = lines[2];
  if (Sha256Hex(Body(out)) != lines[3]) {
    out = RegisterAnchor{};
    return AnchorRead::Damaged;
  }
  return AnchorRead::Read;
}

int WriteRegisterAnchor(const std::string& hostPath, const RegisterAnchor& anchor) {
  const std::string folder = FolderOf(hostPath);
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  const std::string body = Body(anchor);
  return WriteWholeFile(hostPath, body + Sha256Hex(body) + "\n", Placement::Replace, 0644);
}

bool ArchivedRunsBeside(const std::string& anchorHostPath) {
  DIR* dir = ::opendir(FolderOf(anchorHostPath).c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zsp") == 0) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}
