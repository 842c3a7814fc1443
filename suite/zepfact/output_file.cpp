#include "suite/zepfact/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// The process's umask (read by setting it, then put back: one thread).
mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A temporary file beside path holding bytes: its name, or "" on failure.
std::string WriteTemporary(const std::string& path, const std::string& bytes, mode_t mode) {
  std::string name = path + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return {};
  const bool good = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !good) {
    ::unlink(name.c_str());
    return {};
  }
  return name;
}

}  // namespace

bool WriteWholeFiles(const std::vector<std::pair<std::string, std::string>>& files, std::string& failedPathOut) {
  const mode_t mode = 0666 & ~CurrentUmask();
  std::vector<std::string> temporaries;
  for (const auto& [path, bytes] : files) {
    std::string temporary = WriteTemporary(path, bytes, mode);
    if (temporary.empty()) {
      for (const std::string& made : temporaries) ::unlink(made.c_str());
      failedPathOut = path;
      return false;
    }
    temporaries.push_back(std::move(temporary));
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (std::rename(temporaries[i].c_str(), files[i].first.c_str()) != 0) {
      for (size_t j = i; j < files.size(); ++j) ::unlink(temporaries[j].c_str());
      failedPathOut = files[i].first;
      return false;
    }
  }
  return true;
}
