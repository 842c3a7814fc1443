#include "register/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/durable.h"
#include "base/files.h"
#include "recman/recman.h"
#include "register/amend.h"

namespace {

void SyncFolderOf(const std::string& path) {
  const int folder = ::open(path.substr(0, path.find_last_of('/') + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    static_cast<void>(::fsync(folder));
    ::close(folder);
  }
}

// The archive and positions of a journal's text; false when it is not one
// of move. A line may hold several positions separated by commas, as the
// give-back journals of earlier versions wrote them.
bool ParseJournal(const ReceiptMove& move, const std::string& text, std::string& archive,
                  std::vector<int32_t>& receipts) {
  size_t at = 0;
  auto line = [&](std::string& out) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    out = text.substr(at, end - at);
    at = end + 1;
    return true;
  };
  std::string head;
  if (text.empty()) return false;
  if (!line(head) || head != move.head || !line(archive) || archive.empty()) return false;
  for (std::string positions; at < text.size();) {
    if (!line(positions) || positions.empty() || !ParsePositions(positions, receipts)) return false;
  }
  return true;
}

// The archive and positions of the journal at path: false when it does not
// read as one of move. An earlier version's journal has no seal: its text
// is read as it is (an altered seal makes no journal of it either).
bool ReadJournal(const ReceiptMove& move, const std::string& path, std::string& archive,
                 std::vector<int32_t>& receipts) {
  std::string stored, text;
  if (ReadRegularFile(path, stored, 64u << 20, false) != ReadResult::Ok) return false;
  if (!UnsealedText(stored, text)) text = stored;
  return ParseJournal(move, text, archive, receipts);
}

}  // namespace

ReceiptJournal::~ReceiptJournal() { Release(); }

int ReceiptJournal::Write(const std::string& folderHostPath, const std::string& archive,
                          const std::vector<int32_t>& receipts) {
  path_ = folderHostPath + move_.prefix + archive + ".jnl";
  receipts_ = receipts;
  const std::string temporary = path_ + "." + std::to_string(::getpid()) + ".tmp";
  // Locked before it has its name, so that no start takes it for the
  // journal of a stopped process while this one lives.
  fd_ = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd_ < 0) return errno;
  std::string text = std::string(move_.head) + "\n" + archive + "\n";
  for (int32_t position : receipts) text += std::to_string(position) + "\n";
  text = SealedText(text);
  int error = ::flock(fd_, LOCK_EX) == 0 ? WriteAll(fd_, text) : errno;
  if (error == 0) error = PlaceMadeFile(temporary, path_, Placement::NeverOverwrite);
  else ::unlink(temporary.c_str());
  if (error != 0) Release();
  return error;
}

int16_t ReceiptJournal::Apply(const std::string& collectionHostPath, int32_t& changedOut) {
  changedOut = 0;
  const int16_t status = SetReceiptsState(collectionHostPath, receipts_, move_.from, move_.to, changedOut);
  if (status != RmSuccess) {
    Release();
    return status;
  }
  Remove();
  return RmSuccess;
}

void ReceiptJournal::Remove() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  SyncFolderOf(path_);
  Release();
}

void ReceiptJournal::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int16_t RecoverJournals(const ReceiptMove& move, const std::string& folderHostPath,
                        const std::string& collectionHostPath, InvoiceRegister& reg, std::string* damagedOut) {
  int16_t result = RmSuccess;
  const auto damaged = [&](const std::string& path) {
    if (result == RmSuccess) {
      result = RegisterSideFileDamaged;
      if (damagedOut != nullptr) *damagedOut = path;
    }
  };
  for (const std::string& path : JournalsIn(folderHostPath, move.prefix)) {
    // Never blocking on a pipe, never following a link.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info{};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      if (fd >= 0) ::close(fd);
      damaged(path);
      continue;
    }
    // A journal whose writer lives is that process's business.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    std::string archive;
    std::vector<int32_t> receipts;
    int16_t status = RegisterSideFileDamaged;
    if (ReadJournal(move, path, archive, receipts)) {
      std::vector<RegisterEntry> entries;
      status = reg.ReadAll(entries);
      bool registered = false;
      for (const RegisterEntry& e : entries)
        registered = registered || (e.archive == archive && e.IsCancellation() == move.byCancellation);
      int32_t changed = 0;
      if (status == RmSuccess && registered)
        status = SetReceiptsState(collectionHostPath, receipts, move.from, move.to, changed);
    }
    if (status == RmSuccess) {
      ::unlink(path.c_str());
      SyncFolderOf(path);
    } else if (status == RegisterSideFileDamaged) {
      damaged(path);
    } else if (result == RmSuccess) {
      result = status;
    }
    ::close(fd);
  }
  return result;
}

std::vector<std::string> DamagedJournals(const std::string& folderHostPath) {
  std::vector<std::string> damaged;
  for (const ReceiptMove* move : {&kSettling, &kGivingBack}) {
    for (const std::string& path : JournalsIn(folderHostPath, move->prefix)) {
      const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      struct stat info{};
      std::string archive;
      std::vector<int32_t> receipts;
      if (fd < 0 && errno == ENOENT) continue;  // ended meanwhile
      if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        damaged.push_back(path);
        if (fd >= 0) ::close(fd);
        continue;
      }
      // One a living process holds is its own business. The lock is only
      // looked at, never kept, so that a start's recovery is never kept
      // from a journal by this check.
      const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
      if (!held) static_cast<void>(::flock(fd, LOCK_UN));
      if (!held && !ReadJournal(*move, path, archive, receipts)) {
        // Ended by a recovery while it was read: no journal to name.
        struct stat now{};
        const bool same = ::lstat(path.c_str(), &now) == 0 && now.st_ino == info.st_ino && now.st_dev == info.st_dev;
        if (same) damaged.push_back(path);
      }
      ::close(fd);
    }
  }
  return damaged;
}

int16_t RecoverReceiptJournals(const std::string& folderHostPath, const std::string& collectionHostPath,
                               InvoiceRegister& reg, std::string* damagedOut) {
  const int16_t settled = RecoverJournals(kSettling, folderHostPath, collectionHostPath, reg, damagedOut);
  if (settled != RmSuccess) return settled;
  return RecoverJournals(kGivingBack, folderHostPath, collectionHostPath, reg, damagedOut);
}

bool SettlingUnderway(const std::string& folderHostPath, const std::string& archive) {
  const std::string path = folderHostPath + kSettling.prefix + archive + ".jnl";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);
  return held;
}
