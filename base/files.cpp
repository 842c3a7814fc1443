#include "base/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

ReadResult OpenRegularFile(const std::string& hostPath, int& fdOut, bool followFinalLink) {
  fdOut = -1;
  // O_NONBLOCK: opening a pipe with no writer must not wait for one.
  Descriptor fd(::open(hostPath.c_str(),
                       O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followFinalLink ? 0 : O_NOFOLLOW)));
  if (fd.get() < 0) {
    if (errno == ELOOP && !followFinalLink) return ReadResult::NotRegular;
    return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Unreadable;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return ReadResult::Unreadable;
  if (!S_ISREG(info.st_mode)) return ReadResult::NotRegular;
  fdOut = fd.release();
  return ReadResult::Ok;
}

ReadResult OpenOwnFileForWriting(const std::string& hostPath, bool truncate, int& fdOut) {
  fdOut = -1;
  Descriptor fd(::open(hostPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
  if (fd.get() < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR: return ReadResult::Missing;
      case ELOOP:   // a symbolic link
      case EISDIR:
      case ENXIO:   // a device without its driver, a socket
      case ETXTBSY: return ReadResult::NotRegular;
      default: return ReadResult::Unreadable;
    }
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return ReadResult::Unreadable;
  if (!S_ISREG(info.st_mode)) return ReadResult::NotRegular;
  // Writes to a regular file never wait anyway; the flag goes so that the
  // descriptor behaves as an ordinary one.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) static_cast<void>(::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK));
  if (truncate && ::ftruncate(fd.get(), 0) != 0) return ReadResult::Unreadable;
  fdOut = fd.release();
  return ReadResult::Ok;
}

ReadResult ReadRegularFile(const std::string& hostPath, std::string& content, size_t maxBytes,
                           bool followFinalLink) {
  content.clear();
  int opened = -1;
  const ReadResult result = OpenRegularFile(hostPath, opened, followFinalLink);
  if (result != ReadResult::Ok) return result;
  Descriptor fd(opened);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return ReadResult::Unreadable;
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) return ReadResult::TooLarge;
  content.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  for (;;) {
    if (done == content.size()) {
      // The file may have grown since fstat: read on, within the limit.
      if (content.size() >= maxBytes) {
        char probe;
        ssize_t extra = ::read(fd.get(), &probe, 1);
        if (extra < 0 && errno == EINTR) continue;
        if (extra > 0) {
          content.clear();
          return ReadResult::TooLarge;
        }
        break;
      }
      content.resize(std::min(maxBytes, content.size() + 65536));
    }
    ssize_t got = ::read(fd.get(), content.data() + done, content.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      content.clear();
      return ReadResult::Unreadable;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  content.resize(done);
  return ReadResult::Ok;
}

bool IsRegularFile(const std::string& hostPath) {
  struct stat info {};
  return ::stat(hostPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int TakeFileLock(const std::string& hostPath, mode_t mode, int& fdOut) {
  fdOut = -1;
  const int fd = ::open(hostPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  struct stat info {};
  int error = ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ? EINVAL : 0;
  if (error == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) error = errno;
  if (error != 0) {
    ::close(fd);
    return error;
  }
  fdOut = fd;
  return 0;
}
