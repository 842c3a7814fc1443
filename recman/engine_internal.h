// The record manager engine's insides, shared by its files: one SQLite
// database per data file, one OpenFile per handle.
//
//   engine_files.cpp     the database layout; open, create, close, reset; the
//                        table of handles and forked children
//   engine_snapshot.cpp  what a handle keeps between requests (read snapshot,
//                        walk statement, blob handle) and when it must look
//                        again: the table of every request's effect on them,
//                        and the code that applies it; idle handles
//   engine_walk.cpp      walking a key: the get requests and their steps
//   engine_direct.cpp    reading by position: get-direct and its blob handle
//   engine_requests.cpp  the request dispatcher, the writes, stat, owner,
//                        transactions and unlock; statuses of storage calls
//
// Small helpers that the next step of a walk (the request a pass over a file
// makes millions of times) or a direct read runs live here, inline.
#pragma once

#include <pthread.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recman/definition.h"
#include "recman/locks.h"
#include "recman/recman.h"

namespace recman_engine {

// A URI naming the database at hostPath, with a query ("%", "?" and "#"
// of the path escaped).
[[nodiscard]] std::string FileUri(const std::string& hostPath, const char* query);

constexpr uint32_t kBlockMagic = 0x4D52564B;  // "KVRM" in the position block
// The first copy of the write-ahead-log index header at the start of the
// shared index (SQLite's "-shm" file): every commit rewrites it.
constexpr size_t kWalHeaderBytes = 48;

inline int64_t g_clockAdvanceMillis = 0;  // the clock's seam (fault.h)

// A coarse monotonic clock in milliseconds: read from the vDSO, no system call.
inline int64_t NowMillis() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000 + g_clockAdvanceMillis;
}

// ---- storage calls, with the fault seam -------------------------------------

inline int64_t g_faultCountdown = -1;
inline int64_t g_storageCalls = 0;

inline bool FaultNow() {
  ++g_storageCalls;
  if (g_faultCountdown < 0) return false;
  if (g_faultCountdown == 0) {
    g_faultCountdown = -1;
    return true;
  }
  --g_faultCountdown;
  return false;
}

// The system error number right after the latest storage call that failed:
// SQLite's own record of it (sqlite3_system_errno) may be overwritten by the
// calls it makes while it cleans up.
inline int g_failureErrno = 0;

inline int Noted(int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) g_failureErrno = errno;
  return rc;
}

inline int Step(sqlite3_stmt* s) {
  if (FaultNow()) {
    sqlite3_reset(s);
    return SQLITE_IOERR;
  }
  return Noted(sqlite3_step(s));
}

inline int Exec(sqlite3* db, const char* sql) {
  if (FaultNow()) return SQLITE_IOERR;
  return Noted(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

inline int Prepare(sqlite3* db, const std::string& sql, sqlite3_stmt** out) {
  *out = nullptr;
  if (FaultNow()) return SQLITE_IOERR;
  return Noted(sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()) + 1, SQLITE_PREPARE_PERSISTENT, out,
                                  nullptr));
}

// The status of a system error number met while reaching or writing a file.
int16_t StatusOfErrno(int err);

// The status of a failed storage call. An open or I/O failure reported by
// SQLite's file layer (an extended code) is told apart by the system error
// behind it; a plain SQLITE_IOERR (the fault seam's) stays an I/O error.
int16_t StatusOf(int rc, sqlite3* db);

// ---- open files --------------------------------------------------------------

struct KeyWalk {
  sqlite3_stmt* sameForward = nullptr;     // k = ?1 AND id > ?2 ORDER BY id
  sqlite3_stmt* beyondForward = nullptr;   // k > ?1 ORDER BY k, id
  sqlite3_stmt* fromForward = nullptr;     // k >= ?1 ORDER BY k, id
  sqlite3_stmt* sameBackward = nullptr;    // k = ?1 AND id < ?2 ORDER BY id DESC
  sqlite3_stmt* beyondBackward = nullptr;  // k < ?1 ORDER BY k DESC, id DESC
  sqlite3_stmt* fromBackward = nullptr;    // k <= ?1 ORDER BY k DESC, id DESC
};

// How a key's value lies in its records, worked out once at open. A plain
// key (no binary, translated or descending segment) has the value as stored
// for its collation form; a contiguous one is a single run of record bytes.
struct KeyShape {
  bool plain = false;
  bool contiguous = false;
  uint16_t offset = 0;  // of the run, from 0, when contiguous
  uint16_t length = 0;  // the key's length
};

struct OpenFile {
  uint32_t check = 0;
  pid_t pid = 0;
  sqlite3* db = nullptr;
  bool readOnly = false;
  FileDefinition def;
  std::vector<KeyShape> shapes;  // one per key
  std::vector<KeyWalk> walks;
  bool coveredWalks = false;  // key 0's walk statements name cover0
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_stmt* updateData = nullptr;  // the record alone, when no key changes
  sqlite3_stmt* savepoint = nullptr;   // a write request inside the caller's transaction
  sqlite3_stmt* release = nullptr;
  sqlite3_stmt* remove = nullptr;
  sqlite3_stmt* byId = nullptr;
  sqlite3_stmt* countRead = nullptr;
  sqlite3_stmt* countAdd = nullptr;
  sqlite3_stmt* ownerWrite = nullptr;
  sqlite3_stmt* ownerClear = nullptr;
  // Direct reads go through a blob handle on the records table, moved from
  // record to record: no statement is run per read. It reads in the kept
  // snapshot (or the caller's transaction), so it is closed whenever that
  // ends, and before any write. Opened at the second direct read of a
  // snapshot, so that a lone read does not pay for making it.
  sqlite3_blob* direct = nullptr;
  int directReads = 0;   // direct reads since it was last closed
  std::string record;    // the record it read
  sqlite3_stmt* beginRead = nullptr;   // BEGIN (deferred: the next read starts it)
  sqlite3_stmt* endRead = nullptr;     // COMMIT of that read transaction
  sqlite3_file* file = nullptr;        // the database file, for its shared index
  const volatile uint8_t* walIndex = nullptr;  // its first region, once mapped
  RecordLocks locks;
  bool inTransaction = false;
  // The caller's transaction is whole (RmWholeTransaction): its writes run
  // without a savepoint each, since a failure ends the transaction as a
  // whole; doomed is the status of the first write that failed (0 while
  // none did), and updated the records its updates wrote, whose locks the
  // end looks at.
  bool whole = false;
  int16_t doomed = 0;
  std::vector<int64_t> updated;
  int64_t pendingCount = 0;  // records its inserts and deletes added, counted once at its end
  sqlite3_stmt* insertWhole = nullptr;  // INSERT OR ROLLBACK: no statement journal
  // The record the handle read last inside the caller's transaction, as
  // stored (nobody else writes the file meanwhile), so that its update
  // needs no second read; lastReadId 0 when there is none.
  std::string lastRead;
  int64_t lastReadId = 0;
  // A read snapshot is kept (see engine_snapshot.cpp). Invariant: reading
  // implies !inTransaction; walHeader is the shared index header as it was
  // just before the snapshot began.
  bool reading = false;
  // A held snapshot (RmHoldSnapshot): the reads of the handle see one state
  // of the file, whatever other processes commit, until it is released.
  bool holding = false;
  uint8_t walHeader[kWalHeaderBytes] = {};
  int64_t lastUse = 0;  // NowMillis() at the handle's latest request

  // Position. Invariant: onRecord implies positioned; posKey is the
  // collation form of key keyNum of the record posId (or of the record that
  // stood there before a delete).
  int keyNum = 0;
  bool positioned = false;
  bool onRecord = false;
  std::string posKey;
  int64_t posId = 0;

  // The statement the handle walks with; it stands right after the current
  // record in its direction. Null when the next step must seek.
  sqlite3_stmt* active = nullptr;
  bool activeForward = true;
  bool activeSame = false;  // still in the duplicates of walkKey
  int activeKey = 0;
  std::string walkKey;
  // What a forward walk knows of the records before its current one, so
  // that a seek landing on that record takes it from the walk instead of
  // seeking: none at or after walkKey (the walk began there and has not
  // stepped: Start), or none after floorKey, the key of the record it
  // stepped from (Step). Meaningful only while `active` is set.
  enum class Floor : uint8_t { None, Start, Step };
  Floor floor = Floor::None;
  std::string floorKey;
  // Working storage of one request (search keys, key values), kept so that
  // requests do not allocate.
  std::string scratch;
  std::string scratchValue;

  // Stops the walk, closes the blob handle, ends a kept snapshot or an open
  // transaction (rolled back) and closes the connection (engine_files.cpp).
  ~OpenFile();

  void StopWalk() {
    if (active != nullptr) sqlite3_reset(active);
    active = nullptr;
  }

  void CloseDirect() {
    if (direct != nullptr) sqlite3_blob_close(direct);
    direct = nullptr;
    directReads = 0;
  }

  void ClearPosition() {
    StopWalk();
    positioned = false;
    onRecord = false;
  }

  // The snapshot rules (engine_snapshot.cpp, whose table tells which request
  // calls which).

  // The shared index of the write-ahead log, mapped by SQLite; nullptr when
  // it is not there (yet).
  const volatile uint8_t* WalIndex();
  // Ends the kept read snapshot, if any; the active walk stops with it. The
  // blob handle of direct reads closes in any case: a write follows, or the
  // snapshot it read in ends.
  void EndRead();
  // Lets go of everything that pins the write-ahead log: the walk statement
  // and the kept snapshot (unless held). The position stays.
  void Release();
  // Makes the next statement see every commit made before this call: keeps
  // the snapshot while the shared index header is unchanged, else begins a
  // new one. Never fails.
  void FreshSnapshot();
};

// Prepares the walk statements of every key (again), after the file's
// indexes as they are now; FinalizeWalks lets them go (engine_files.cpp).
int PrepareWalks(OpenFile& f);
void FinalizeWalks(OpenFile& f);

// ---- the table of handles ----------------------------------------------------

inline std::vector<std::unique_ptr<OpenFile>>& Files() {
  static std::vector<std::unique_ptr<OpenFile>> files;
  return files;
}

// Moves the handles a forked child inherits out of its table
// (engine_files.cpp).
void ForgetInheritedFiles();

// The process id, kept because getpid() is a system call on every request;
// a forked child learns its own in ForgetInheritedFiles.
inline pid_t& ProcessId() {
  static pid_t pid = [] {
    pthread_atfork(nullptr, nullptr, ForgetInheritedFiles);
    return ::getpid();
  }();
  return pid;
}

struct PositionBlock {
  uint32_t magic;
  uint32_t index;
  uint32_t check;
};

// The open file of a position block; nullptr when the block names none of
// this process's handles.
inline OpenFile* FileOf(const void* posBlock) {
  if (posBlock == nullptr) return nullptr;
  PositionBlock pb;
  std::memcpy(&pb, posBlock, sizeof pb);
  if (pb.magic != kBlockMagic || pb.index >= Files().size()) return nullptr;
  OpenFile* f = Files()[pb.index].get();
  if (f == nullptr || f->check != pb.check || f->pid != ProcessId()) return nullptr;
  return f;
}

// ---- the caller's buffers ----------------------------------------------------

inline void SetDataLength(uint32_t* dataLen, uint32_t n) {
  if (dataLen != nullptr) *dataLen = n;
}

// Copies `size` bytes to the caller's buffer, cut to its size: 0 or 22.
inline int16_t PutData(void* data, uint32_t* dataLen, const void* bytes, size_t size) {
  if (data == nullptr || dataLen == nullptr) return RmDataBufferTooShort;
  const uint32_t room = *dataLen;
  const uint32_t n = size > room ? room : static_cast<uint32_t>(size);
  if (n > 0) std::memcpy(data, bytes, n);
  *dataLen = n;
  return size > room ? RmDataBufferTooShort : RmSuccess;
}

// The text of a data buffer: its bytes up to the first NUL or *dataLen.
inline std::string BufferText(const void* data, const uint32_t* dataLen) {
  if (data == nullptr || dataLen == nullptr) return {};
  const char* d = static_cast<const char*>(data);
  const void* nul = std::memchr(d, '\0', *dataLen);
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - d) : *dataLen;
  return std::string(d, n);
}

// A record position of the first 4 data bytes, little-endian.
inline int64_t PositionIn(const void* data) {
  uint8_t p[4];
  std::memcpy(p, data, 4);
  return static_cast<int64_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

// ---- reading and delivering records --------------------------------------------

// A lock bias of a read request.
struct LockRequest {
  bool wanted = false;
  bool multiple = false;
  bool wait = false;
};

// Writes the key value of the record into the caller's key buffer.
inline void PutKey(const OpenFile& f, int k, const uint8_t* record, void* key) {
  if (key == nullptr) return;
  auto* out = static_cast<uint8_t*>(key);
  const KeyShape& shape = f.shapes[static_cast<size_t>(k)];
  if (shape.contiguous) {
    std::memcpy(out, record + shape.offset, shape.length);
    return;
  }
  for (const SegmentDefinition& seg : f.def.keys[static_cast<size_t>(k)].segments) {
    std::memcpy(out, record + seg.position - 1, seg.length);
    out += seg.length;
  }
}

// Delivers a record found on key k: data, key buffer, new position.
inline int16_t Deliver(OpenFile& f, int k, int64_t id, const void* record, int size, std::string_view collation,
                       void* data, uint32_t* dataLen, void* key) {
  if (record == nullptr || size != f.def.recordLength) {
    f.StopWalk();
    SetDataLength(dataLen, 0);
    return RmIoError;
  }
  const auto* bytes = static_cast<const uint8_t*>(record);
  if (f.inTransaction) {
    f.lastRead.assign(static_cast<const char*>(record), static_cast<size_t>(size));
    f.lastReadId = id;
  }
  PutKey(f, k, bytes, key);
  f.keyNum = k;
  f.positioned = true;
  f.onRecord = true;
  f.posId = id;
  if (f.posKey.size() == collation.size()) {
    std::memcpy(f.posKey.data(), collation.data(), collation.size());  // the usual case: no reallocation check
  } else {
    f.posKey.assign(collation.data(), collation.size());
  }
  return PutData(data, dataLen, bytes, static_cast<size_t>(size));
}

// Reads record `id` afresh: SQLITE_ROW with the byId statement standing on
// it (the caller resets it), SQLITE_DONE when there is none, or an error.
inline int ReadById(OpenFile& f, int64_t id) {
  f.StopWalk();
  sqlite3_bind_int64(f.byId, 1, id);
  int rc = Step(f.byId);
  if (rc != SQLITE_ROW) sqlite3_reset(f.byId);
  return rc;
}

// Delivers the row the byId statement stands on, under key k
// (engine_direct.cpp).
int16_t DeliverById(OpenFile& f, int k, void* data, uint32_t* dataLen, void* key);

// ---- what a request may reuse (engine_snapshot.cpp) ------------------------------

// True when get-next/previous `op` on key k steps the active walk on: the
// walk goes that way along key k, the key of the position. Such a step
// reuses the walk's statement in the snapshot it reads, without looking for
// commits.
inline bool ContinuesWalk(const OpenFile& f, uint16_t op, int k) {
  return (op == RmGetNext || op == RmGetPrevious) && f.active != nullptr && f.activeForward == (op == RmGetNext) &&
         f.activeKey == k && k == f.keyNum;
}

// Readies what handle f keeps for request `op` on key k before the request
// runs: ends the snapshot before a write, looks for commits before a read
// that positions, holds or lets go of a held snapshot. Every request on an
// open handle but the unlocked next step of a walk passes here.
void BeforeRequest(OpenFile& f, uint16_t op, int k);

// Locks record `id` for a read. The walk stops (the record is read again
// under the lock, by position) and, once the lock is taken, the handle looks
// for commits: the holder may have changed the record before letting go.
// 0, or the lock's status with nothing changed but the walk.
int16_t LockForRead(OpenFile& f, int64_t id, const LockRequest& lock);

// ---- requests of the other files --------------------------------------------

int16_t OpenRequest(void* posBlock, void* data, uint32_t* dataLen, void* key, int8_t keyNum);
int16_t CreateRequest(const void* data, const uint32_t* dataLen, const void* key, int8_t keyNum);
void CloseFile(void* posBlock);
void ResetAll();

// Gets 5-13 on key k (engine_walk.cpp).
int16_t GetRequest(OpenFile& f, uint16_t op, const LockRequest& lock, void* data, uint32_t* dataLen, void* key,
                   uint8_t keyLen, int k);
// The unlocked next step of the active walk on key k, which ContinuesWalk
// has allowed: 0, 22, 9 at the end (the position stays), or a failure.
int16_t StepWalk(OpenFile& f, int k, void* data, uint32_t* dataLen, void* key);

// Get-direct (engine_direct.cpp).
int16_t GetDirectRequest(OpenFile& f, const LockRequest& lock, void* data, uint32_t* dataLen, void* key, int k);

}  // namespace recman_engine
