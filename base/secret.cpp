#include "base/secret.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/files.h"

namespace {

constexpr size_t kLongestSecretFile = 4096;

}  // namespace

SecretProblem ReadSecretFile(const std::string& hostPath, std::string& secretOut) {
  secretOut.clear();
  if (hostPath.empty()) return SecretProblem::NotSet;
  int fd = -1;
  const ReadResult opened = OpenRegularFile(hostPath, fd);
  if (opened == ReadResult::Missing || opened == ReadResult::NotRegular) return SecretProblem::Missing;
  if (opened != ReadResult::Ok) return SecretProblem::Unreadable;
  // The mode of the file read, not of whatever stands at the name later.
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return SecretProblem::Unreadable;
  }
  if ((info.st_mode & 077) != 0) {
    ::close(fd);
    return SecretProblem::Exposed;
  }
  std::string content;
  char buffer[1024];
  bool failed = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > kLongestSecretFile) {
      failed = true;
      break;
    }
  }
  ::close(fd);
  if (failed) return SecretProblem::Unreadable;
  const size_t end = content.find_first_of("\r\n");
  if (end != std::string::npos && content.find_first_not_of("\r\n", end) != std::string::npos)
    return SecretProblem::NotOneLine;
  secretOut = content.substr(0, end);
  return SecretProblem::None;
}
