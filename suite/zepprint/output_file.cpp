#include "suite/zepprint/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr size_t BufferSize = 64 * 1024;
constexpr int MostNumberedNames = 9999;

// The temporary file a signal handler is to remove: set while one exists.
char signalTemporary[4096];
volatile sig_atomic_t haveSignalTemporary = 0;

void NoteTemporary(const std::string& path) {
  if (path.size() >= sizeof signalTemporary) return;
  haveSignalTemporary = 0;
  std::memcpy(signalTemporary, path.c_str(), path.size() + 1);
  haveSignalTemporary = 1;
}

void OnEndingSignal(int signalNumber) {
  if (haveSignalTemporary != 0) unlink(signalTemporary);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// The folder part of a host path, with its "/", or "" for a bare name.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string NumberedName(const std::string& target, int n) {
  if (n <= 1) return target;
  const size_t nameStart = target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1;
  size_t dot = target.rfind('.');
  // No extension: no dot in the file name, or only a leading one.
  if (dot == std::string::npos || dot <= nameStart) dot = target.size();
  return target.substr(0, dot) + "-" + std::to_string(n) + target.substr(dot);
}

void RemoveTemporaryFilesOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

OutputFile::OutputFile(std::string targetPath) : target_(std::move(targetPath)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open() {
  const std::string folder = FolderOf(target_);
  // A name of our own in the target's folder, so that the final rename
  // stays on one file system; O_EXCL takes it only if nobody has it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate =
        folder + ".zepprint-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    fd_ = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temporary_ = candidate;
      NoteTemporary(temporary_);
      buffer_.reserve(BufferSize);
      return true;
    }
    if (errno != EEXIST) return Fail(errno);
  }
  return Fail(EEXIST);
}

bool OutputFile::Fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  return false;
}

bool OutputFile::Flush() {
  if (error_ != 0) return false;
  size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (error_ != 0 || fd_ < 0) return Fail(EBADF);
  const char* bytes = static_cast<const char*>(data);
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return buffer_.size() < BufferSize || Flush();
}

bool OutputFile::Commit(CommitMode mode, std::string& writtenPathOut) {
  if (fd_ < 0) return Fail(EBADF);
  bool good = Flush();
  if (good && fsync(fd_) != 0) good = Fail(errno);
  if (close(fd_) != 0 && good) good = Fail(errno);
  fd_ = -1;
  if (good) {
    if (mode == CommitMode::Replace) {
      if (rename(temporary_.c_str(), target_.c_str()) == 0)
        writtenPathOut = target_;
      else
        good = Fail(errno);
    } else {
      good = PlaceUnderFreeName(writtenPathOut);
    }
  }
  if (!good) {
    Discard();
    return false;
  }
  temporary_.clear();
  haveSignalTemporary = 0;
  // The new name reaches the disk with its folder; a failure here loses
  // nothing already written, so it is not reported.
  const std::string folder = FolderOf(writtenPathOut);
  const int dirFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

bool OutputFile::PlaceUnderFreeName(std::string& writtenPathOut) {
  // renameat2 without replacing takes a name only if it is free; where the
  // file system cannot do that, link() does the same (it never replaces).
  bool useLink = false;
  for (int n = 1; n <= MostNumberedNames; ++n) {
    const std::string candidate = NumberedName(target_, n);
    if (!useLink) {
      if (renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
        writtenPathOut = candidate;
        return true;
      }
      if (errno == EINVAL || errno == ENOSYS) {
        useLink = true;
      } else if (errno == EEXIST) {
        continue;
      } else {
        return Fail(errno);
      }
    }
    if (link(temporary_.c_str(), candidate.c_str()) == 0) {
      unlink(temporary_.c_str());
      writtenPathOut = candidate;
      return true;
    }
    if (errno != EEXIST) return Fail(errno);
  }
  return Fail(EEXIST);
}

void OutputFile::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
    haveSignalTemporary = 0;
  }
  buffer_.clear();
}
