#include "base/durable.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <iterator>

#include "base/files.h"

namespace {

constexpr size_t BufferSize = 64 * 1024;
constexpr int MostNumberedNames = 9999;
// Of the target's file name in a temporary name: room is left for the
// dot, the pid, the number and ".tmp" within a file name's 255 bytes.
constexpr size_t MostNameBytesInTemporary = 200;

// The temporary files the signal handlers remove, as fixed buffers the
// handlers can read. A slot is written only while it is not in use.
// Invariant: inUse is 1 exactly while path names a temporary file that
// exists. One thread.
struct SignalSlot {
  char path[4096];
  volatile sig_atomic_t inUse;
};
SignalSlot signalSlots[8];

// The slot now holding path, or -1 when the path is too long or every slot
// is taken (the file is then not removed on a signal).
int NoteTemporary(const std::string& path) {
  if (path.size() >= sizeof signalSlots[0].path) return -1;
  for (int i = 0; i < static_cast<int>(std::size(signalSlots)); ++i) {
    SignalSlot& slot = signalSlots[i];
    if (slot.inUse != 0) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.inUse = 1;
    return i;
  }
  return -1;
}

void ForgetTemporary(int& slot) {
  if (slot >= 0) signalSlots[slot].inUse = 0;
  slot = -1;
}

void OnEndingSignal(int signalNumber) {
  for (const SignalSlot& slot : signalSlots) {
    if (slot.inUse != 0) unlink(slot.path);
  }
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// The folder part of a host path, with its "/", or "" for a bare name.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Gives the file at from the name to only when that name is free: 0, or
// the errno (EEXIST when taken).
int PlaceWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // The file system cannot rename without replacing: link() never
  // replaces, and the temporary name then goes.
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  unlink(from.c_str());
  return 0;
}

// Flushes the folder of path to disk, so that a new name there survives a
// crash. A hint: the file itself is already whole on disk.
void FlushFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno != 0 ? errno : EIO;
    if (n == 0) return ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

std::string NumberedName(const std::string& target, int n) {
  if (n <= 1) return target;
  const size_t nameStart = FolderOf(target).size();
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

DurableFile::DurableFile(std::string targetPath, mode_t mode) : target_(std::move(targetPath)), mode_(mode) {}

DurableFile::~DurableFile() { Discard(); }

int DurableFile::CheckTarget(struct stat& existing) {
  destination_ = target_;
  replaces_ = false;
  if (lstat(target_.c_str(), &existing) != 0) {
    // A missing folder on the way is told by the open of the temporary
    // file, as for any new file.
    return errno == ENOENT ? 0 : errno;
  }
  if (S_ISLNK(existing.st_mode)) {
    if (stat(target_.c_str(), &existing) != 0) return errno == ENOENT || errno == ELOOP ? EINVAL : errno;
    if (S_ISREG(existing.st_mode)) {
      char* named = realpath(target_.c_str(), nullptr);
      if (named == nullptr) return errno;
      destination_ = named;
      free(named);
    }
  }
  if (S_ISDIR(existing.st_mode)) return EISDIR;
  if (!S_ISREG(existing.st_mode)) return EINVAL;
  replaces_ = true;
  return 0;
}

bool DurableFile::Open(Placement placement) {
  if (fd_ >= 0 || !temporary_.empty() || toStandardOutput_) return Fail(EBUSY);
  destination_ = target_;
  if (target_ == "-") {
    toStandardOutput_ = true;
    return true;
  }
  // Only a file that is to replace another has to look at what is there:
  // the other placements never touch an existing name.
  struct stat existing {};
  const int refused = placement == Placement::Replace ? CheckTarget(existing) : 0;
  if (refused != 0) return Fail(refused);
  // Numbers go on across files, so that several files of one process in
  // one folder do not try the same names.
  static unsigned nextNumber = 0;
  const std::string folder = FolderOf(destination_);
  const std::string name = destination_.substr(folder.size(), MostNameBytesInTemporary);
  const std::string stem = folder + "." + name + "-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = stem + std::to_string(nextNumber++) + ".tmp";
    fd_ = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_);
    if (fd_ >= 0) {
      temporary_ = candidate;
      slot_ = NoteTemporary(temporary_);
      if (replaces_) {
        // Owner first: a change of owner clears set-id bits. Who may not
        // give the file away keeps it, as with any file it makes.
        if (fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
          static_cast<void>(fchown(fd_, static_cast<uid_t>(-1), existing.st_gid));
        }
        if (fchmod(fd_, existing.st_mode & 07777) != 0) {
          const int failed = errno;
          Discard();
          return Fail(failed);
        }
      }
      return true;
    }
    if (errno != EEXIST) return Fail(errno);
  }
  return Fail(EEXIST);
}

bool DurableFile::Fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  return false;
}

bool DurableFile::Flush() {
  if (error_ != 0) return false;
  const int failed = WriteAll(fd_, buffer_);
  buffer_.clear();
  return failed == 0 || Fail(failed);
}

bool DurableFile::Write(const void* data, size_t size) {
  if (error_ != 0) return false;
  if (toStandardOutput_) {
    // Kept until placed, so that a step that fails writes nothing there.
    buffer_.append(static_cast<const char*>(data), size);
    return true;
  }
  if (fd_ < 0) return Fail(EBADF);
  if (buffer_.empty() && size >= BufferSize) {
    const int failed = WriteAll(fd_, data, size);
    return failed == 0 || Fail(failed);
  }
  buffer_.append(static_cast<const char*>(data), size);
  return buffer_.size() < BufferSize || Flush();
}

bool DurableFile::Finish() {
  if (toStandardOutput_) return error_ == 0;
  bool good = fd_ >= 0 ? Flush() : Fail(EBADF);
  if (good && fsync(fd_) != 0) good = Fail(errno);
  if (fd_ >= 0 && close(fd_) != 0 && good) good = Fail(errno);
  fd_ = -1;
  if (!good) Discard();
  return good;
}

int DurableFile::PlaceUnder(const std::string& name, bool replace) {
  if (!replace) return PlaceWithoutReplacing(temporary_, name);
  return rename(temporary_.c_str(), name.c_str()) == 0 ? 0 : errno;
}

bool DurableFile::Place(Placement placement) {
  if (toStandardOutput_) {
    if (error_ != 0) return false;
    std::fflush(stdout);
    const int failed = WriteAll(STDOUT_FILENO, buffer_);
    buffer_.clear();
    return failed == 0 || Fail(failed);
  }
  // Only a finished file: written, on disk and closed.
  int result = fd_ < 0 && !temporary_.empty() && error_ == 0 ? 0 : EBADF;
  std::string placed = target_;
  if (result == 0) {
    switch (placement) {
      case Placement::Replace: {
        // What was checked at Open may have been swapped since.
        struct stat now {};
        if (lstat(destination_.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
          result = S_ISDIR(now.st_mode) ? EISDIR : EINVAL;
        } else {
          result = PlaceUnder(destination_, true);
        }
        break;
      }
      case Placement::NeverOverwrite: result = PlaceUnder(target_, false); break;
      case Placement::NextFree:
        result = EEXIST;
        for (int n = 1; n <= MostNumberedNames && result == EEXIST; ++n) {
          placed = NumberedName(target_, n);
          result = PlaceUnder(placed, false);
        }
        break;
    }
  }
  if (result != 0) {
    static_cast<void>(Fail(result));
    Discard();
    return false;
  }
  temporary_.clear();
  ForgetTemporary(slot_);
  target_ = placed;
  FlushFolderOf(target_);
  return true;
}

void DurableFile::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
  ForgetTemporary(slot_);
  buffer_.clear();
}

size_t RemoveLeftTemporaries(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string name = target.substr(folder.size(), MostNameBytesInTemporary);
  const std::string prefix = "." + name + "-";
  DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
  if (listing == nullptr) return 0;
  std::vector<std::string> left;
  while (const dirent* entry = readdir(listing)) {
    const std::string found = entry->d_name;
    if (found.size() <= prefix.size() + 4 || found.compare(0, prefix.size(), prefix) != 0 ||
        found.compare(found.size() - 4, 4, ".tmp") != 0)
      continue;
    // "<pid>-<n>" or "<pid>-k<n>" between the prefix and ".tmp".
    const std::string middle = found.substr(prefix.size(), found.size() - prefix.size() - 4);
    const size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 9) continue;
    const std::string pid = middle.substr(0, dash);
    std::string number = middle.substr(dash + 1);
    if (!number.empty() && number[0] == 'k') number.erase(0, 1);
    const auto digits = [](const std::string& text) {
      return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(pid) || !digits(number)) continue;
    const pid_t owner = static_cast<pid_t>(std::stol(pid));
    if (owner == getpid() || owner <= 0 || kill(owner, 0) == 0 || errno != ESRCH) continue;
    left.push_back(folder + found);
  }
  closedir(listing);
  size_t removed = 0;
  for (const std::string& path : left) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

bool WriteWholeFiles(const std::vector<std::pair<std::string, std::string>>& files, std::string& failedPathOut,
                     int* failedError) {
  const auto fail = [&](size_t i, int error) {
    failedPathOut = files[i].first;
    if (failedError != nullptr) *failedError = error;
    return false;
  };
  // Every file that is not placed has its temporary file removed when the
  // list goes out of scope.
  std::deque<DurableFile> made;
  for (size_t i = 0; i < files.size(); ++i) {
    DurableFile& file = made.emplace_back(files[i].first);
    if (!file.Open() || !file.Write(files[i].second) || !file.Finish()) return fail(i, file.error());
  }
  // Files on disk first, standard output last: it cannot be taken back.
  std::vector<size_t> order;
  for (size_t i = 0; i < files.size(); ++i)
    if (made[i].destination() != "-") order.push_back(i);
  for (size_t i = 0; i < files.size(); ++i)
    if (made[i].destination() == "-") order.push_back(i);
  // The earlier file of each name is kept under a second name (a hard
  // link, named as a temporary file) until every file is placed, to be put
  // back when a later one fails. Where a link cannot be made (a file system
  // without them) that file cannot be put back.
  static unsigned nextKept = 0;
  std::vector<std::string> kept(files.size());
  size_t placed = 0;
  int error = 0;
  for (; placed < order.size(); ++placed) {
    DurableFile& file = made[order[placed]];
    if (file.replacesFile()) {
      const std::string& destination = file.destination();
      const std::string folder = FolderOf(destination);
      std::string& keptName = kept[order[placed]];
      keptName = folder + "." + destination.substr(folder.size(), MostNameBytesInTemporary) + "-" +
                 std::to_string(getpid()) + "-k" + std::to_string(nextKept++) + ".tmp";
      if (link(destination.c_str(), keptName.c_str()) != 0) keptName.clear();
    }
    if (!file.Place(Placement::Replace)) {
      error = file.error();
      break;
    }
  }
  if (placed < order.size()) {
    for (size_t p = 0; p < placed; ++p) {
      const DurableFile& file = made[order[p]];
      const std::string& keptName = kept[order[p]];
      if (!keptName.empty()) {
        rename(keptName.c_str(), file.destination().c_str());
      } else if (!file.replacesFile() && file.destination() != "-") {
        unlink(file.destination().c_str());
      }
    }
  }
  for (size_t p = placed < order.size() ? placed : 0; p < order.size(); ++p) {
    const std::string& keptName = kept[order[p]];
    if (!keptName.empty()) unlink(keptName.c_str());
  }
  return placed < order.size() ? fail(order[placed], error) : true;
}

int WriteWholeFile(const std::string& path, std::string_view bytes, Placement placement, mode_t mode) {
  DurableFile file(path, mode);
  return file.Open(placement) && file.Write(bytes) && file.Commit(placement) ? 0 : file.error();
}

int CopyFileExclusively(const std::string& from, const std::string& to, mode_t mode) {
  int source = -1;
  switch (OpenRegularFile(from, source)) {
    case ReadResult::Ok: break;
    case ReadResult::Missing: return ENOENT;
    case ReadResult::NotRegular: return EINVAL;
    case ReadResult::TooLarge:
    case ReadResult::Unreadable: return EACCES;
  }
  DurableFile file(to, mode);
  bool good = file.Open(Placement::NeverOverwrite);
  int readError = 0;
  char chunk[BufferSize];
  while (good) {
    const ssize_t got = read(source, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readError = errno;
    if (got <= 0) break;
    good = file.Write(chunk, static_cast<size_t>(got));
  }
  close(source);
  if (readError != 0) return readError;
  return good && file.Commit(Placement::NeverOverwrite) ? 0 : file.error();
}

int PlaceMadeFile(const std::string& temporary, const std::string& target, Placement placement) {
  int result = 0;
  const int fd = open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) result = errno;
  if (fd >= 0) close(fd);
  if (result == 0 && placement == Placement::NextFree) result = EINVAL;
  if (result == 0) {
    result = placement == Placement::Replace ? (rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno)
                                             : PlaceWithoutReplacing(temporary, target);
  }
  if (result != 0) {
    unlink(temporary.c_str());
    return result;
  }
  FlushFolderOf(target);
  return 0;
}
