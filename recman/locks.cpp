#include "recman/locks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>
#include <tuple>

#include "recman/recman.h"

namespace {

// Records locked by the handles of this process, counted per holder, so that
// a waiting lock request can tell a holder it would wait for forever.
using LockId = std::tuple<uint64_t, uint64_t, int64_t>;
// Never destroyed: files still open when the process ends are closed by the
// engine's own static table, after a static map here would be gone.
std::map<LockId, int>& ProcessLocks() {
  static auto* locks = new std::map<LockId, int>;
  return *locks;
}

struct flock LockRange(short type, int64_t position) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(position);
  fl.l_len = 1;
  fl.l_pid = 0;  // must be 0 for open-file-description locks
  return fl;
}

}  // namespace

RecordLocks::~RecordLocks() { Close(); }

void RecordLocks::Open(const std::string& hostPath, unsigned dataMode) {
  Close();
  const std::string side = hostPath + "-lck";
  path_ = side;
  dataMode_ = dataMode;
  // Never through a symbolic link: the side file is created where the data
  // file is, not wherever a link planted there points.
  const mode_t mode = static_cast<mode_t>(dataMode & 0666);
  fd_ = ::open(side.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
  writable_ = fd_ >= 0;
  if (fd_ < 0) fd_ = ::open(side.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  // Whoever may write the data file must be able to take write locks on the
  // side file, whatever the umask of the process that made it: its owner
  // gives it the data file's permissions.
  if (writable_ && st.st_uid == ::geteuid() && (st.st_mode & 0777) != mode) ::fchmod(fd_, mode);
  device_ = st.st_dev;
  inode_ = st.st_ino;
}

void RecordLocks::Close() {
  if (fd_ < 0) return;
  ReleaseAll();
  ::close(fd_);
  fd_ = -1;
}

void RecordLocks::Abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  single_ = 0;
  multiple_.clear();
}

bool RecordLocks::StillAtPath() const {
  struct stat st {};
  return ::lstat(path_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == device_ &&
         static_cast<uint64_t>(st.st_ino) == inode_;
}

bool RecordLocks::Reopen() {
  const int oldFd = fd_;
  const uint64_t oldDevice = device_, oldInode = inode_;
  const int64_t single = single_;
  const std::set<int64_t> multiple = multiple_;
  fd_ = -1;
  Open(path_.substr(0, path_.size() - 4), dataMode_);
  if (fd_ < 0 || !writable_) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = oldFd;
    writable_ = true;  // only a writable side file is ever moved from
    device_ = oldDevice;
    inode_ = oldInode;
    return false;
  }
  // The locks held move to the new file (those another process took there
  // meanwhile are lost to this handle), and the old file lets them go.
  auto& held = ProcessLocks();
  single_ = 0;
  multiple_.clear();
  auto move = [&](int64_t position) {
    auto it = held.find({oldDevice, oldInode, position});
    if (it != held.end() && --it->second <= 0) held.erase(it);
    if (!TryLock(position)) return false;
    ++held[{device_, inode_, position}];
    return true;
  };
  if (single != 0 && move(single)) single_ = single;
  for (int64_t position : multiple) {
    if (move(position)) multiple_.insert(position);
  }
  ::close(oldFd);
  return true;
}

bool RecordLocks::TryLock(int64_t position) const {
  struct flock fl = LockRange(F_WRLCK, position);
  return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
}

void RecordLocks::Unlock(int64_t position) const {
  struct flock fl = LockRange(F_UNLCK, position);
  ::fcntl(fd_, F_OFD_SETLK, &fl);
  auto& held = ProcessLocks();
  auto it = held.find({device_, inode_, position});
  if (it != held.end() && --it->second <= 0) held.erase(it);
}

int16_t RecordLocks::Lock(int64_t position, bool multiple, bool wait) {
  // A side file open for reading only allows shared locks, which exclude
  // nobody: such a lock would be trusted in vain.
  if (fd_ < 0 || !writable_) return RmFileLocked;
  // A lock counts only in the side file the path names: one deleted or
  // replaced meanwhile is left for the new one, and the lock taken again.
  for (int tries = 0; !StillAtPath(); ++tries) {
    if (tries == 10 || !Reopen()) return RmFileLocked;
  }
  const bool alreadyHeld = position == single_ || multiple_.count(position) != 0;
  if (!alreadyHeld) {
    for (int tries = 0;; ++tries) {
      while (!TryLock(position)) {
        if (errno != EAGAIN && errno != EACCES) return RmFileLocked;
        if (!wait || ProcessLocks().count({device_, inode_, position}) != 0) return RmRecordLocked;
        if (g_lockWaitObserver != nullptr) g_lockWaitObserver();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (StillAtPath()) break;
      // Replaced while this lock was taken: let it go and lock in the new one.
      struct flock fl = LockRange(F_UNLCK, position);
      ::fcntl(fd_, F_OFD_SETLK, &fl);
      if (tries == 10 || !Reopen()) return RmFileLocked;
    }
    ++ProcessLocks()[{device_, inode_, position}];
  }
  if (multiple) {
    if (position == single_) {
      single_ = 0;  // the record moves from the single to the multiple set
    }
    multiple_.insert(position);
  } else {
    if (single_ != 0 && single_ != position && multiple_.count(single_) == 0) Unlock(single_);
    if (multiple_.count(position) == 0) single_ = position;
  }
  return RmSuccess;
}

bool RecordLocks::HeldElsewhere(int64_t position) {
  if (fd_ < 0) return false;
  if (writable_ && !StillAtPath()) static_cast<void>(Reopen());
  if (position == single_ || multiple_.count(position) != 0) return false;
  struct flock fl = LockRange(F_WRLCK, position);
  if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool RecordLocks::AnyHeldElsewhere(const std::vector<int64_t>& positions) {
  if (fd_ < 0 || positions.empty()) return false;
  if (writable_ && !StillAtPath()) static_cast<void>(Reopen());
  struct flock fl = LockRange(F_WRLCK, 0);
  fl.l_len = 0;  // to the end of the file, however far it grows
  if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0 || fl.l_type == F_UNLCK) return false;
  for (int64_t position : positions) {
    if (position == single_ || multiple_.count(position) != 0) continue;
    struct flock one = LockRange(F_WRLCK, position);
    if (::fcntl(fd_, F_OFD_GETLK, &one) == 0 && one.l_type != F_UNLCK) return true;
  }
  return false;
}

void RecordLocks::Release(int64_t position) {
  if (fd_ < 0) return;
  bool held = false;
  if (single_ == position) {
    single_ = 0;
    held = true;
  }
  if (multiple_.erase(position) != 0) held = true;
  if (held) Unlock(position);
}

void RecordLocks::ReleaseAll() {
  if (fd_ < 0) return;
  if (single_ != 0) Unlock(single_);
  single_ = 0;
  for (int64_t position : multiple_) Unlock(position);
  multiple_.clear();
}
