// Record locks of one open file, visible across processes: an
// open-file-description lock on byte `position` of a side file next to the
// data file ("<data file>-lck"). Two handles conflict even inside one process,
// and the kernel drops a holder's locks when its handle closes or it dies.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Called each time a lock request that waits finds the record held by
// another process, before it pauses: a seam for tests whose holder lets go
// only once the request is waiting. Null in the programs.
inline void (*g_lockWaitObserver)() = nullptr;

class RecordLocks {
 public:
  RecordLocks() = default;
  RecordLocks(const RecordLocks&) = delete;
  RecordLocks& operator=(const RecordLocks&) = delete;
  ~RecordLocks();

  // Opens (creating when allowed) the side file of the data file at hostPath,
  // never through a symbolic link. A side file this process owns gets the
  // data file's permission bits (dataMode & 0666), so that every user who may
  // write the data file may lock it. Without a side file open for writing,
  // every lock request answers 85: only a write lock excludes others.
  void Open(const std::string& hostPath, unsigned dataMode);
  // Drops every lock of this handle and the side file.
  void Close();
  // Forgets the side file without touching its locks: for a forked child,
  // whose copy of the descriptor shares the parent's locks.
  void Abandon();

  // Locks a record: 0 locked, 84 held by another handle (at once under
  // no-wait, and also under wait when the holder is in this process, since
  // waiting there could never end), 85 when locks are unavailable (no side
  // file, or one this process may only read). A single
  // lock replaces this handle's previous single lock; multiple locks add up.
  int16_t Lock(int64_t position, bool multiple, bool wait);
  // True when another handle holds a lock on the record.
  // (Looks in the side file its path names, moving there when it changed.)
  bool HeldElsewhere(int64_t position);
  // True when another handle holds a lock on any of the records: one look
  // at the whole side file, and one for each record only when some other
  // handle holds any lock at all.
  bool AnyHeldElsewhere(const std::vector<int64_t>& positions);
  // Releases this handle's locks on one record, or all of them.
  void Release(int64_t position);
  void ReleaseAll();

 private:
  bool TryLock(int64_t position) const;
  // True while the side file open is the one its path names (a side file
  // deleted or replaced under a holder would let two processes lock one
  // record, each in its own file).
  bool StillAtPath() const;
  // Opens the side file its path names now and moves this handle's locks
  // there; false when it cannot be opened.
  bool Reopen();
  void Unlock(int64_t position) const;

  int fd_ = -1;
  bool writable_ = false;
  std::string path_;  // of the side file
  unsigned dataMode_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  int64_t single_ = 0;  // 0: no single lock
  std::set<int64_t> multiple_;
};
