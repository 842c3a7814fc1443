// What a handle keeps from request to request, and when it must look again.
//
// A handle keeps three things that let a request skip work, each valid only
// in one state of the file: the read snapshot, the walk statement (it reads
// the snapshot it began in; engine_walk.cpp) and the blob handle of direct
// reads (engine_direct.cpp). What each request does to them:
//
//   "look": FreshSnapshot. The kept snapshot stays while no commit came since
//   (the shared index header is unchanged); otherwise it ends, taking the
//   walk and the blob handle with it, and a new one begins (as one does when
//   none is kept), after the sweep of idle handles (h). A held snapshot
//   stays without a look; inside the caller's transaction a look does nothing
//   (reads see the transaction). Over a file without a shared index no
//   snapshot is ever kept: each statement reads on its own.
//   "end": EndRead. The blob handle closes; a kept snapshot ends, and its
//   walk stops.
//
//   request (op)              snapshot             walk statement          blob handle
//   ------------------------  -------------------  ----------------------  ------------------------------
//   get-next 6, -previous 7   untouched, no look   stepped on; stopped at  untouched
//    continuing the walk (a)                       the end (9, position
//                                                  stays) or on a failure
//    ... with a lock bias     look after the lock  stepped on, then        through the look
//                             (b)                  stopped (b)
//   get-next 6, -previous 7   look                 a new walk from the     through the look
//    otherwise                                     position (c)
//   get-equal 5,              look                 the walk's own record   through the look
//    get-greater-or-equal 9                        when the seek lands on
//                                                  it (d), else a new walk
//   get-greater 8, -less 10,  look                 a new walk              through the look
//    -less-or-equal 11,
//    -first 12, -last 13
//   get-direct 23 (e)         look (after the      stopped                 moved to the position when open
//                             lock, if any)                                (a failed move closes it); else
//                                                                          opened there at the second
//                                                                          direct read (f)
//   stat 15                   look                 stopped                 through the look
//   insert 2, update 3,       end first            stopped (g)             closed
//    delete 4, set owner 29,
//    clear owner 30
//   begin transaction 19      end first; the       stopped                 closed; may open within it (f)
//                             transaction stands
//                             in for it
//   end 20, abort 21          end first            stopped                 closed
//    transaction
//   hold snapshot 41          look, then held      through the look        through the look
//                             (a held one stays)
//   release snapshot 42       end; no longer held  stopped if a snapshot   closed
//                                                  was kept
//   get-position 22,          untouched            untouched               untouched
//    unlock 27, a bad key
//    number (6)
//   close 1                   the handle goes: its walk stops, its blob handle closes, its snapshot
//                             or open transaction rolls back
//   reset 28                  as close, for every handle of the process
//   open 0                    a new handle keeps nothing; its first read begins a snapshot
//   create 14, version 26     no handle
//   RecordManagerIdle()       end, unless held     stopped                 closed, unless held
//   a look that begins a new  the same as RecordManagerIdle() for every other handle of the
//    snapshot                 process idle for kIdleMillis (h)
//
//   (a) ContinuesWalk: the walk goes that way along the key asked for, which
//       is the key of the position. Without a lock bias this is the fast
//       path, straight to the statement; it alone does not note the handle's
//       time (lastUse), which every other request on an open handle does.
//   (b) LockForRead, once the walk has found the record: the walk stops, the
//       lock is taken, then the look; the record is read again by position.
//       A refused lock (84) changes nothing else. Every lock-biased read
//       looks so, and a held snapshot ends first and is held again from the
//       new one: the locked record is always the latest committed.
//   (c) on another key than the position's, the current record is first
//       read by position for its value on that key. Any get that finds
//       nothing stops its walk and drops the position (next and previous
//       keep it).
//   (d) SeekLandsOnWalk: a forward walk on the same key, in the kept snapshot
//       (not in a transaction), with no record between its floor and the
//       record it stands on. Its statement delivers that record and goes on.
//   (e) refused for its buffer or position 0 (43) before any of this; under
//       a lock bias LockForRead stops the walk and locks before the look.
//   (f) only while a snapshot is kept or within a transaction: the blob
//       handle reads that one state. It opens at the second direct read
//       since it last closed, so that a lone read does not pay for making it.
//   (g) once the request passes its own checks; a refused write stops the
//       walk only through the end of a kept snapshot.
//   (h) the sweep looks at the handles at most once in kIdleMillis.
//
// Read snapshots: outside the caller's transactions a handle keeps one read
// transaction open from request to request, so that a read does not pay
// SQLite's start of a read transaction (locks on the shared index, a look at
// the file size) each time. Before every positioning request (every read but
// the next step of a walk) the handle compares the header of the shared
// write-ahead-log index with the copy it took before its snapshot began; any
// commit by any connection changes that header, and the handle then starts a
// fresh snapshot. So a positioning request always sees what was committed
// before it, and a walk keeps its snapshot while it steps, as before. Writes
// end the snapshot first.
//
// Idle handles: a kept snapshot (or a walk statement left standing on a row)
// pins the write-ahead log: no checkpoint of any process can go past it, so
// the log of a file that others write grows for as long as the handle sits
// idle. The engine has no thread, so nothing of it runs while its process
// waits; snapshots are therefore released in two ways. RecordManagerIdle()
// releases every one of the process, and the program calls it before any
// wait longer than a moment (a key wait). And each request that takes a new
// snapshot first releases those of the process's other handles that have
// made no request for kIdleMillis, so a handle left behind by a part of the
// program that moved on to another file does not pin the log either. A
// released handle keeps its position; its next step seeks from it.
#include <atomic>
#include <cstring>

#include "recman/engine_internal.h"

namespace recman_engine {

namespace {

constexpr int kWalIndexRegion = 32768;  // the size SQLite maps the index in
// A handle without a request for this long is idle: another handle's request
// releases its snapshot.
constexpr int64_t kIdleMillis = 200;

// Releases the snapshots of the process's handles (but `except`) that have
// been idle for kIdleMillis. Looks at the handles at most once in that time.
// The steps of a walk do not update a handle's time (they are the engine's
// fastest path), so a handle that has only stepped for that long may lose
// its walk statement too: its next step then seeks from its record.
void ReleaseIdleHandles(const OpenFile* except) {
  static int64_t lastSweep = 0;
  const int64_t now = NowMillis();
  if (now - lastSweep < kIdleMillis) return;
  lastSweep = now;
  for (auto& f : Files()) {
    if (f && f.get() != except && now - f->lastUse >= kIdleMillis) f->Release();
  }
}

}  // namespace

// Once mapped, the region stays where it is while the connection is open
// (SQLite unmaps it when the connection's log closes, with the connection),
// so it is asked for once.
const volatile uint8_t* OpenFile::WalIndex() {
  if (walIndex != nullptr) return walIndex;
  if (file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
      file->pMethods->xShmMap == nullptr) {
    return nullptr;
  }
  volatile void* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, kWalIndexRegion, 0, &region) != SQLITE_OK) return nullptr;
  walIndex = static_cast<const volatile uint8_t*>(region);
  return walIndex;
}

void OpenFile::EndRead() {
  CloseDirect();
  if (!reading) return;
  StopWalk();
  reading = false;
  const int rc = sqlite3_step(endRead);
  sqlite3_reset(endRead);
  if (rc != SQLITE_DONE && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void OpenFile::Release() {
  StopWalk();
  if (!holding) EndRead();
}

// Without a shared index the statements run on their own, each with a read
// transaction of its own: at worst the handle reads as it would without a
// kept snapshot.
void OpenFile::FreshSnapshot() {
  if (inTransaction || (holding && reading)) return;
  const volatile uint8_t* index = WalIndex();
  uint8_t now[kWalHeaderBytes];
  if (index != nullptr) {
    for (size_t i = 0; i < kWalHeaderBytes; ++i) now[i] = index[i];
    std::atomic_thread_fence(std::memory_order_acquire);
  }
  if (reading) {
    if (index != nullptr && std::memcmp(now, walHeader, kWalHeaderBytes) == 0) return;
    EndRead();
  }
  if (index == nullptr || beginRead == nullptr || !sqlite3_get_autocommit(db)) return;
  ReleaseIdleHandles(this);
  const int rc = sqlite3_step(beginRead);
  sqlite3_reset(beginRead);
  if (rc != SQLITE_DONE) return;
  std::memcpy(walHeader, now, kWalHeaderBytes);
  reading = true;
}

// The table above as code, for what happens before a request runs. The
// rest happens inside the requests, where the table's notes say: the look of
// a locked read after its lock (LockForRead) and get-direct's once its
// position is known good (e), the new walks of gets, the stop of a write's
// walk once it passes its checks (g).
void BeforeRequest(OpenFile& f, uint16_t op, int k) {
  switch (op) {
    case RmInsert:
    case RmUpdate:
    case RmDelete:
    case RmBeginTransaction:
    case RmEndTransaction:
    case RmAbortTransaction:
    case RmSetOwner:
    case RmClearOwner:
      f.EndRead();  // a write starts from the latest commit
      return;
    case RmGetEqual:
    case RmGetNext:
    case RmGetPrevious:
    case RmGetGreater:
    case RmGetGreaterOrEqual:
    case RmGetLess:
    case RmGetLessOrEqual:
    case RmGetFirst:
    case RmGetLast:
      if (!ContinuesWalk(f, op, k)) f.FreshSnapshot();
      return;
    case RmStat:
      f.StopWalk();
      f.FreshSnapshot();
      return;
    case RmHoldSnapshot:
      // The snapshot is the state of the first read after this call; a
      // handle that holds one already keeps it.
      if (!f.holding) {
        f.FreshSnapshot();
        f.holding = true;
      }
      return;
    case RmReleaseSnapshot:
      f.holding = false;
      f.EndRead();
      return;
    case RmGetDirect:  // looks once its position is known good (e)
    case RmGetPosition:
    case RmUnlock:
    case RmClose:  // the handle goes with all it keeps
    default:
      return;
  }
}

int16_t LockForRead(OpenFile& f, int64_t id, const LockRequest& lock) {
  f.StopWalk();
  const int16_t status = f.locks.Lock(id, lock.multiple, lock.wait);
  if (status != RmSuccess) return status;
  // A locked read is the read before a write: it sees the latest commit
  // even under a held snapshot, which then holds from this state on.
  if (f.holding && f.reading) f.EndRead();
  f.FreshSnapshot();
  return status;
}

}  // namespace recman_engine

void RecordManagerIdle() {
  for (auto& f : recman_engine::Files()) {
    if (f) f->Release();
  }
}
