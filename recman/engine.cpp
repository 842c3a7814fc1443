// The record manager engine: one SQLite database per data file.
//
// Database layout:
//   meta(name, value)   "magic" = kMagicText, "definition" = creation block
//                       (record count 0), "owner" = owner name when set
//   counts(n)           one row: the number of records
//   records(id, data, k0, k1, ...)  id is the record's position, data the
//                       fixed-length record, kN the collation form of key N;
//                       index keyN on (kN) (the row id is implied), unique
//                       when key N has no duplicates flag.
//   cover0 on records(k0, id, data)  key 0 with the whole record: walking key
//                       0 (what the production pass does on the collection
//                       file) reads neighbouring index pages and never looks
//                       a record up in the table. It serves as key 0's index
//                       when key 0 allows duplicates (there is no key0 then);
//                       a unique key 0 keeps key0 for its uniqueness.
//                       Files made before cover0 existed have key0 alone and
//                       are read as they are, walking key0 and the table;
//                       nothing converts them.
//
// Walking: each key has six prepared statements, three per direction: the
// rest of the duplicates of one key value (same value, id beyond a bound),
// the key values beyond it, and the key values from it on. A handle keeps the statement it walks with open
// while the caller steps the same way along the same key, so get-next costs
// one sqlite3_step; anything else resets it and the next step seeks again
// from the current (key, id). An open statement reads one WAL snapshot, so a
// walk never sees a torn record while another process writes. A forward
// seek (equal, greater or equal) whose key falls between the record a walk
// stepped from (or the key it began at) and the record it stands on finds
// that record: the walk's statement delivers it again and goes on, without
// seeking; so does the production pass when it seeks the next unit's
// receipts right where its walk left the previous unit.
//
// Direct reads: from the second direct read of a snapshot a handle keeps a
// blob handle on the records table and moves it to each position asked for,
// which costs the seek alone. It reads in the kept snapshot, so it closes
// when the snapshot ends, before every write and when the handle is
// released; a miss falls back to the by-position statement.
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
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recman/definition.h"
#include "recman/fault.h"
#include "recman/locks.h"
#include "recman/recman.h"
#include "base/paths.h"

namespace {

constexpr char kMagicText[] = "korvadel record file 1";
constexpr uint32_t kBlockMagic = 0x4D52564B;  // "KVRM" in the position block
constexpr size_t kMaxPathBytes = 255;
constexpr int kBusyMillis = 1000;
// The first copy of the write-ahead-log index header at the start of the
// shared index (SQLite's "-shm" file): every commit rewrites it.
constexpr size_t kWalHeaderBytes = 48;
constexpr int kWalIndexRegion = 32768;  // the size SQLite maps the index in
// A handle without a request for this long is idle: another handle's request
// releases its snapshot.
constexpr int64_t kIdleMillis = 200;

// A coarse monotonic clock in milliseconds: read from the vDSO, no system call.
int64_t NowMillis() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// ---- storage calls, with the fault seam -------------------------------------

int64_t g_faultCountdown = -1;
int64_t g_storageCalls = 0;

bool FaultNow() {
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
int g_failureErrno = 0;

int Noted(int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) g_failureErrno = errno;
  return rc;
}

int Step(sqlite3_stmt* s) {
  if (FaultNow()) {
    sqlite3_reset(s);
    return SQLITE_IOERR;
  }
  return Noted(sqlite3_step(s));
}

int Exec(sqlite3* db, const char* sql) {
  if (FaultNow()) return SQLITE_IOERR;
  return Noted(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

int Prepare(sqlite3* db, const std::string& sql, sqlite3_stmt** out) {
  *out = nullptr;
  if (FaultNow()) return SQLITE_IOERR;
  return Noted(sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()) + 1, SQLITE_PREPARE_PERSISTENT, out,
                                  nullptr));
}

// The status of a system error number met while reaching or writing a file.
int16_t StatusOfErrno(int err) {
  switch (err) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return RmDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return RmPermissionDenied;
    case ENAMETOOLONG:
      return RmNameTooLong;
    case ENOENT:
    case ENOTDIR:
      return RmFileNotFound;
    default:
      return RmIoError;
  }
}

// The status of a failed storage call. An open or I/O failure reported by
// SQLite's file layer (an extended code) is told apart by the system error
// behind it; a plain SQLITE_IOERR (the fault seam's) stays an I/O error.
int16_t StatusOf(int rc, sqlite3* db) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return RmSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return RmFileLocked;
    case SQLITE_CONSTRAINT:
      return RmDuplicateKey;
    case SQLITE_FULL:
      return RmDiskFull;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return RmPermissionDenied;
    case SQLITE_READONLY:
      // The file is read-only to this handle (46), or SQLite could not make
      // or lock the files that go with it (the folder or they are read-only).
      return rc == SQLITE_READONLY || rc == SQLITE_READONLY_ROLLBACK ? int16_t{RmReadOnly}
                                                                     : int16_t{RmPermissionDenied};
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR: {
      if (rc == SQLITE_IOERR) return RmIoError;
      const int err = g_failureErrno != 0 ? g_failureErrno : db != nullptr ? sqlite3_system_errno(db) : 0;
      const int16_t status = StatusOfErrno(err);
      return status == RmFileNotFound ? int16_t{RmIoError} : status;
    }
    default:
      return RmIoError;
  }
}

// The status of a failed open or first read: a damaged or foreign file is an
// I/O error, whatever SQLite took it for; busy, full and refused stay.
int16_t OpenStatusOf(int rc, sqlite3* db) {
  const int16_t status = StatusOf(rc, db);
  switch (status) {
    case RmFileLocked:
    case RmDiskFull:
    case RmPermissionDenied:
    case RmNameTooLong:
      return status;
    default:
      return RmIoError;
  }
}

// ---- open files --------------------------------------------------------------

struct KeyWalk {
  sqlite3_stmt* sameForward = nullptr;     // k = ?1 AND id > ?2 ORDER BY id
  sqlite3_stmt* beyondForward = nullptr;   // k > ?1 ORDER BY k, id
  sqlite3_stmt* fromForward = nullptr;     // k >= ?1 ORDER BY k, id
  sqlite3_stmt* sameBackward = nullptr;    // k = ?1 AND id < ?2 ORDER BY id DESC
  sqlite3_stmt* beyondBackward = nullptr;  // k < ?1 ORDER BY k DESC, id DESC
  sqlite3_stmt* fromBackward = nullptr;    // k <= ?1 ORDER BY k DESC, id DESC
};

// Where a walk starts, relative to a key value (and a record id).
enum class WalkStart {
  After,      // after (key, id): the rest of key's duplicates, then beyond
  Beyond,     // after every record of the key value
  AtOrAfter,  // at the key value's first record (last, walking backward)
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

KeyShape ShapeOf(const FileDefinition& def, size_t k) {
  const KeyDefinition& key = def.keys[k];
  KeyShape shape;
  shape.plain = true;
  shape.contiguous = true;
  shape.length = static_cast<uint16_t>(key.length);
  shape.offset = key.segments.empty() ? 0 : static_cast<uint16_t>(key.segments.front().position - 1);
  size_t next = shape.offset;
  for (const SegmentDefinition& seg : key.segments) {
    if ((seg.flags & (RmBinary | RmDescending)) != 0 ||
        ((seg.flags & RmAlternateCollation) != 0 && def.hasCollatingSequence)) {
      shape.plain = false;
    }
    if (static_cast<size_t>(seg.position - 1) != next) shape.contiguous = false;
    next = static_cast<size_t>(seg.position - 1) + seg.length;
  }
  return shape;
}

struct OpenFile;
void ReleaseIdleHandles(const OpenFile* except);

struct OpenFile {
  uint32_t check = 0;
  pid_t pid = 0;
  sqlite3* db = nullptr;
  bool readOnly = false;
  FileDefinition def;
  std::vector<KeyShape> shapes;  // one per key
  std::vector<KeyWalk> walks;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* update = nullptr;
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
  // A read snapshot is kept (see the top of this file). Invariant: reading
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

  ~OpenFile() {
    StopWalk();
    CloseDirect();
    sqlite3_stmt* all[] = {insert, update, remove, byId, countRead, countAdd, ownerWrite, ownerClear, beginRead,
                           endRead};
    for (sqlite3_stmt* s : all) sqlite3_finalize(s);
    for (KeyWalk& w : walks) {
      for (sqlite3_stmt* st : {w.sameForward, w.beyondForward, w.fromForward, w.sameBackward, w.beyondBackward,
                               w.fromBackward}) {
        sqlite3_finalize(st);
      }
    }
    if (db != nullptr && (inTransaction || reading)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
  }

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

  // The shared index of the write-ahead log, mapped by SQLite; nullptr when
  // it is not there (yet).
  // Once mapped, the region stays where it is while the connection is open
  // (SQLite unmaps it when the connection's log closes, with the connection),
  // so it is asked for once.
  const volatile uint8_t* WalIndex() {
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

  // Ends the kept read snapshot, if any; the active walk stops with it. The
  // blob handle of direct reads closes in any case: a write follows, or the
  // snapshot it read in ends.
  void EndRead() {
    CloseDirect();
    if (!reading) return;
    StopWalk();
    reading = false;
    const int rc = sqlite3_step(endRead);
    sqlite3_reset(endRead);
    if (rc != SQLITE_DONE && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  // Lets go of everything that pins the write-ahead log: the walk statement
  // and the kept snapshot. The position stays.
  void Release() {
    StopWalk();
    if (!holding) EndRead();
  }

  // Makes the next statement see every commit made before this call: keeps
  // the snapshot while the shared index header is unchanged, else begins a
  // new one. Without a shared index the statements run on their own, each
  // with a read transaction of its own. Never fails: at worst the handle
  // reads as it would without a kept snapshot.
  void FreshSnapshot() {
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
};

std::vector<std::unique_ptr<OpenFile>>& Files() {
  static std::vector<std::unique_ptr<OpenFile>> files;
  return files;
}

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

// Handles inherited by a forked child: never used nor closed there (their
// SQLite connections belong to the parent), only kept reachable.
std::vector<std::unique_ptr<OpenFile>>& Abandoned() {
  static std::vector<std::unique_ptr<OpenFile>> files;
  return files;
}

void ForgetInheritedFiles();

// The process id, kept because getpid() is a system call on every request;
// a forked child learns its own in ForgetInheritedFiles.
pid_t& ProcessId() {
  static pid_t pid = [] {
    pthread_atfork(nullptr, nullptr, ForgetInheritedFiles);
    return ::getpid();
  }();
  return pid;
}

void ForgetInheritedFiles() {
  ProcessId() = ::getpid();
  for (auto& f : Files()) {
    if (f) {
      f->locks.Abandon();
      Abandoned().push_back(std::move(f));
    }
  }
  Files().clear();
}

uint32_t NextCheck() {
  static uint32_t counter = static_cast<uint32_t>(::getpid()) * 2654435761u;
  counter += 0x9E3779B9u;
  return counter == 0 ? 1 : counter;
}

struct PositionBlock {
  uint32_t magic;
  uint32_t index;
  uint32_t check;
};

OpenFile* FileOf(const void* posBlock) {
  if (posBlock == nullptr) return nullptr;
  PositionBlock pb;
  std::memcpy(&pb, posBlock, sizeof pb);
  if (pb.magic != kBlockMagic || pb.index >= Files().size()) return nullptr;
  OpenFile* f = Files()[pb.index].get();
  if (f == nullptr || f->check != pb.check || f->pid != ProcessId()) return nullptr;
  return f;
}

void CloseFile(void* posBlock) {
  PositionBlock pb;
  std::memcpy(&pb, posBlock, sizeof pb);
  Files()[pb.index].reset();
  std::memset(posBlock, 0, sizeof pb);
}

// The path of an open or create request: the key bytes up to the first NUL,
// which must come within 256 bytes. Empty when there is none.
std::string RequestPath(const void* key) {
  if (key == nullptr) return {};
  const char* k = static_cast<const char*>(key);
  const void* nul = std::memchr(k, '\0', kMaxPathBytes + 1);
  if (nul == nullptr) return {};
  return std::string(k, static_cast<const char*>(nul) - k);
}

std::string BufferText(const void* data, const uint32_t* dataLen) {
  if (data == nullptr || dataLen == nullptr) return {};
  const char* d = static_cast<const char*>(data);
  const void* nul = std::memchr(d, '\0', *dataLen);
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - d) : *dataLen;
  return std::string(d, n);
}

void SetDataLength(uint32_t* dataLen, uint32_t n) {
  if (dataLen != nullptr) *dataLen = n;
}

// Copies `size` bytes to the caller's buffer, cut to its size: 0 or 22.
int16_t PutData(void* data, uint32_t* dataLen, const void* bytes, size_t size) {
  if (data == nullptr || dataLen == nullptr) return RmDataBufferTooShort;
  const uint32_t room = *dataLen;
  const uint32_t n = size > room ? room : static_cast<uint32_t>(size);
  if (n > 0) std::memcpy(data, bytes, n);
  *dataLen = n;
  return size > room ? RmDataBufferTooShort : RmSuccess;
}

// Reads the first 100 bytes of a database file and refuses what SQLite must
// not be handed: something that is no SQLite file or that is shorter than
// its own header says. 0, 2, or the status of a file that cannot be read.
int16_t CheckWholeDatabase(const std::string& hostPath) {
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int16_t status = StatusOfErrno(errno);
    return status == RmPermissionDenied ? status : int16_t{RmIoError};
  }
  unsigned char h[100];
  struct stat st {};
  const bool ok = ::fstat(fd, &st) == 0 && ::pread(fd, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h);
  ::close(fd);
  if (!ok || std::memcmp(h, "SQLite format 3", 16) != 0) return RmIoError;
  uint32_t pageSize = (static_cast<uint32_t>(h[16]) << 8) | h[17];
  if (pageSize == 1) pageSize = 65536;
  auto be32 = [&](int o) {
    return (static_cast<uint32_t>(h[o]) << 24) | (static_cast<uint32_t>(h[o + 1]) << 16) |
           (static_cast<uint32_t>(h[o + 2]) << 8) | h[o + 3];
  };
  const uint32_t pages = be32(28);
  if (be32(92) == be32(24) && pages != 0 &&
      static_cast<uint64_t>(st.st_size) < static_cast<uint64_t>(pages) * pageSize) {
    // Shorter than its header says. While a write-ahead log holds pages a
    // checkpoint may be growing the file right now, so only judge without one.
    struct stat wal {};
    return ::stat((hostPath + "-wal").c_str(), &wal) == 0 && wal.st_size > 0 ? RmSuccess : RmIoError;
  }
  return RmSuccess;
}

// True when a write-ahead log with frames lies beside the database.
bool HasLog(const std::string& hostPath) {
  struct stat wal {};
  return ::stat((hostPath + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
}

// The folder of a host path ("." for a bare name).
std::string ParentFolder(const std::string& hostPath) {
  const size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

// A URI naming the database at hostPath, to be read as a file that nobody
// changes: no locks, no write-ahead log, no shared index.
std::string ImmutableUri(const std::string& hostPath) {
  std::string uri = "file:";
  for (char c : hostPath) {
    if (c == '%' || c == '?' || c == '#') {
      static const char hex[] = "0123456789ABCDEF";
      uri += '%';
      uri += hex[static_cast<uint8_t>(c) >> 4];
      uri += hex[static_cast<uint8_t>(c) & 15];
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

std::string Column(const std::string& base, size_t k) { return base + std::to_string(k); }

int PrepareStatements(OpenFile& f) {
  const size_t keys = f.def.keys.size();
  std::string cols, params, sets;
  for (size_t k = 0; k < keys; ++k) {
    cols += ", " + Column("k", k);
    params += ", ?" + std::to_string(k + 2);
    sets += ", " + Column("k", k) + " = ?" + std::to_string(k + 2);
  }
  const std::string idParam = "?" + std::to_string(keys + 2);
  int rc = SQLITE_OK;
  auto prep = [&](const std::string& sql, sqlite3_stmt** s) {
    if (rc == SQLITE_OK) rc = Prepare(f.db, sql, s);
  };
  prep("INSERT INTO records(data" + cols + ") VALUES(?1" + params + ")", &f.insert);
  prep("UPDATE records SET data = ?1" + sets + " WHERE id = " + idParam, &f.update);
  prep("DELETE FROM records WHERE id = ?1", &f.remove);
  prep("SELECT id, data FROM records WHERE id = ?1", &f.byId);
  prep("SELECT n FROM counts", &f.countRead);
  prep("UPDATE counts SET n = n + ?1", &f.countAdd);
  prep("INSERT OR REPLACE INTO meta(name, value) VALUES('owner', ?1)", &f.ownerWrite);
  prep("DELETE FROM meta WHERE name = 'owner'", &f.ownerClear);
  // The read snapshot's statements are hints: without them every statement
  // reads on its own, as SQLite does by default.
  if (rc == SQLITE_OK && sqlite3_prepare_v3(f.db, "BEGIN", -1, SQLITE_PREPARE_PERSISTENT, &f.beginRead, nullptr) !=
                             SQLITE_OK) {
    sqlite3_finalize(f.beginRead);
    f.beginRead = nullptr;
  }
  if (rc == SQLITE_OK && sqlite3_prepare_v3(f.db, "COMMIT", -1, SQLITE_PREPARE_PERSISTENT, &f.endRead, nullptr) !=
                             SQLITE_OK) {
    sqlite3_finalize(f.beginRead);
    sqlite3_finalize(f.endRead);
    f.beginRead = f.endRead = nullptr;
  }
  // Key 0 walks along cover0 when the file has it.
  bool covered = false;
  sqlite3_stmt* probe = nullptr;
  prep("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'cover0'", &probe);
  if (rc == SQLITE_OK) {
    rc = Step(probe);
    covered = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(probe);
  f.walks.resize(keys);
  for (size_t k = 0; k < keys; ++k) {
    const std::string c = Column("k", k);
    const std::string sel =
        "SELECT id, data, " + c + " FROM records" + (k == 0 && covered ? " INDEXED BY cover0" : "") + " WHERE ";
    prep(sel + c + " = ?1 AND id > ?2 ORDER BY id", &f.walks[k].sameForward);
    prep(sel + c + " > ?1 ORDER BY " + c + ", id", &f.walks[k].beyondForward);
    prep(sel + c + " >= ?1 ORDER BY " + c + ", id", &f.walks[k].fromForward);
    prep(sel + c + " <= ?1 ORDER BY " + c + " DESC, id DESC", &f.walks[k].fromBackward);
    prep(sel + c + " = ?1 AND id < ?2 ORDER BY id DESC", &f.walks[k].sameBackward);
    prep(sel + c + " < ?1 ORDER BY " + c + " DESC, id DESC", &f.walks[k].beyondBackward);
  }
  return rc;
}

// True when the database keeps a write-ahead log.
bool InWalMode(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(s, 0);
    wal = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
  }
  sqlite3_finalize(s);
  return wal;
}

// Runs a one-row query of the meta table; the value as a blob, or rc.
int ReadMeta(sqlite3* db, const char* name, std::string& value, bool& found) {
  found = false;
  sqlite3_stmt* s = nullptr;
  int rc = Prepare(db, "SELECT value FROM meta WHERE name = ?1", &s);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(s);
    return rc;
  }
  sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
  rc = Step(s);
  if (rc == SQLITE_ROW) {
    found = true;
    const void* b = sqlite3_column_blob(s, 0);
    value.assign(b ? static_cast<const char*>(b) : "", static_cast<size_t>(sqlite3_column_bytes(s, 0)));
    rc = SQLITE_OK;
  } else if (rc == SQLITE_DONE) {
    rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  return rc;
}

// Room the memory map of a file gets beyond its size at open, for growth.
constexpr int64_t kMapHeadroom = 64 << 20;

void Tune(sqlite3* db, bool readOnly, int64_t fileBytes) {
  sqlite3_busy_timeout(db, kBusyMillis);
  // Hints: their failure changes nothing but speed. Pages are read through a
  // memory map of the whole file (with room to grow): mapped pages are the
  // system's file cache, shared and given back under pressure, not memory
  // the process owns, and reading them costs no system call. The page cache
  // of 2 MiB per open file then holds only pages being written and pages of
  // the write-ahead log, so the memory the process owns stays small and the
  // same whatever the size of its files. SQLite maps no further than the
  // file's size at the start of each read, and no writer of these files
  // shrinks them (the engine never vacuums), so a mapped page never lies
  // past the end of the file.
  const std::string pragmas = "PRAGMA cache_size = -2048; PRAGMA mmap_size = " +
                              std::to_string(std::max<int64_t>(fileBytes, 0) + kMapHeadroom) +
                              "; PRAGMA synchronous = FULL";
  sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
  if (readOnly) sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
}

// ---- write guard ----------------------------------------------------------------

// Brackets one write request: a transaction of its own, or a savepoint inside
// the caller's transaction. Rolls back unless committed.
class WriteGuard {
 public:
  explicit WriteGuard(OpenFile& f) : f_(f) {}
  ~WriteGuard() {
    if (!begun_ || committed_) return;
    if (f_.inTransaction) {
      sqlite3_exec(f_.db, "ROLLBACK TO request; RELEASE request", nullptr, nullptr, nullptr);
    } else {
      sqlite3_exec(f_.db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

  int Begin() {
    int rc = Exec(f_.db, f_.inTransaction ? "SAVEPOINT request" : "BEGIN IMMEDIATE");
    begun_ = rc == SQLITE_OK;
    return rc;
  }
  int Commit() {
    int rc = Exec(f_.db, f_.inTransaction ? "RELEASE request" : "COMMIT");
    if (rc == SQLITE_OK) committed_ = true;
    return rc;
  }

 private:
  OpenFile& f_;
  bool begun_ = false;
  bool committed_ = false;
};

int AddToCount(OpenFile& f, int delta) {
  sqlite3_bind_int(f.countAdd, 1, delta);
  int rc = Step(f.countAdd);
  sqlite3_reset(f.countAdd);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// ---- requests ----------------------------------------------------------------------

int16_t OpenRequest(void* posBlock, void* data, uint32_t* dataLen, void* key, int8_t keyNum) {
  if (posBlock == nullptr) return RmInvalidOperation;
  if (keyNum != 0 && keyNum != -2) return RmInvalidOperation;
  const std::string path = RequestPath(key);
  if (path.empty()) return RmInvalidFileName;
  const std::string host = HostPath(path);
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) {
    const int16_t status = StatusOfErrno(errno);
    return status == RmFileNotFound || status == RmPermissionDenied || status == RmNameTooLong ? status
                                                                                               : int16_t{RmIoError};
  }
  if (!S_ISREG(st.st_mode)) return RmIoError;
  if (const int16_t whole = CheckWholeDatabase(host); whole != RmSuccess) return whole;

  auto f = std::make_unique<OpenFile>();
  f->readOnly = keyNum == -2;
  f->pid = ProcessId();
  std::string magic, block, owner;
  bool found = false, hasBlock = false, hasOwner = false;
  // Opens the connection and reads the file's description.
  auto connect = [&](bool immutable) {
    sqlite3_close_v2(f->db);
    f->db = nullptr;
    int flags = (f->readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (immutable) flags |= SQLITE_OPEN_URI;
    int rc = Noted(sqlite3_open_v2(immutable ? ImmutableUri(host).c_str() : host.c_str(), &f->db, flags, nullptr));
    if (rc != SQLITE_OK) return rc;
    sqlite3_extended_result_codes(f->db, 1);
    Tune(f->db, f->readOnly, st.st_size);
    rc = ReadMeta(f->db, "magic", magic, found);
    if (rc == SQLITE_OK) rc = ReadMeta(f->db, "definition", block, hasBlock);
    if (rc == SQLITE_OK) rc = ReadMeta(f->db, "owner", owner, hasOwner);
    return rc;
  };
  int rc = connect(false);
  // A folder this user may only read, with no write-ahead log in it: SQLite
  // can make neither the log nor its shared index, which it wants even to
  // read. No one can write the file in WAL mode there either, so a
  // read-only handle reads the file as it stands, without them.
  if (rc != SQLITE_OK && f->readOnly && OpenStatusOf(rc, f->db) == RmPermissionDenied && !HasLog(host) &&
      ::access(ParentFolder(host).c_str(), W_OK) != 0) {
    rc = connect(true);
  }
  if (rc != SQLITE_OK) return OpenStatusOf(rc, f->db);
  if (!found || magic != kMagicText || !hasBlock) return RmIoError;
  if (ParseFileDefinition(reinterpret_cast<const uint8_t*>(block.data()), block.size(), f->def) != RmSuccess) {
    return RmIoError;
  }
  if (hasOwner && owner != BufferText(data, dataLen)) return RmWrongOwner;
  for (size_t k = 0; k < f->def.keys.size(); ++k) f->shapes.push_back(ShapeOf(f->def, k));
  rc = PrepareStatements(*f);
  if (rc != SQLITE_OK) return OpenStatusOf(rc, f->db);
  // Snapshots are kept only over a write-ahead log, whose shared index
  // tells of every commit; a file in another journal mode reads afresh.
  if (InWalMode(f->db)) sqlite3_file_control(f->db, "main", SQLITE_FCNTL_FILE_POINTER, &f->file);
  f->locks.Open(host, st.st_mode);

  auto& files = Files();
  size_t index = 0;
  while (index < files.size() && files[index]) ++index;
  if (index == files.size()) files.emplace_back();
  f->check = NextCheck();
  PositionBlock pb{kBlockMagic, static_cast<uint32_t>(index), f->check};
  files[index] = std::move(f);
  std::memset(posBlock, 0, 128);
  std::memcpy(posBlock, &pb, sizeof pb);
  return RmSuccess;
}

int16_t CreateRequest(const void* data, const uint32_t* dataLen, const void* key, int8_t keyNum) {
  const std::string path = RequestPath(key);
  if (path.empty()) return RmInvalidFileName;
  if (data == nullptr || dataLen == nullptr) return RmInvalidOperation;
  FileDefinition def;
  int16_t status = ParseFileDefinition(static_cast<const uint8_t*>(data), *dataLen, def);
  if (status != RmSuccess) return status;

  const std::string host = HostPath(path);
  struct stat st {};
  const bool exists = ::lstat(host.c_str(), &st) == 0;
  if (exists && keyNum == -1) return RmFileExists;
  if (exists && !S_ISREG(st.st_mode)) return RmIoError;

  // Built aside and moved into place whole, so that a failure leaves no
  // half-made file behind. The temporary name and the names of the files
  // that go with the data file ("-wal", "-shm", "-lck") must fit in a
  // folder entry too.
  const std::string suffix = ".new" + std::to_string(::getpid());
  const size_t slash = host.rfind('/');
  const size_t nameBytes = host.size() - (slash == std::string::npos ? 0 : slash + 1);
  if (nameBytes + std::max<size_t>(suffix.size(), 4) > NAME_MAX) return RmNameTooLong;
  const std::string temp = host + suffix;
  ::unlink(temp.c_str());
  // Made here first, empty (a new database to SQLite), so that a refusal
  // comes with its own system error.
  const int made = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (made < 0) return StatusOfErrno(errno);
  ::close(made);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(temp.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  if (db != nullptr) sqlite3_extended_result_codes(db, 1);
  if (rc == SQLITE_OK) {
    std::string schema =
        "PRAGMA journal_mode = WAL;"
        "BEGIN;"
        "CREATE TABLE meta(name TEXT PRIMARY KEY, value BLOB) WITHOUT ROWID;"
        "CREATE TABLE counts(n INTEGER NOT NULL);"
        "INSERT INTO counts VALUES(0);"
        "CREATE TABLE records(id INTEGER PRIMARY KEY, data BLOB NOT NULL";
    for (size_t k = 0; k < def.keys.size(); ++k) schema += ", " + Column("k", k) + " BLOB NOT NULL";
    schema += ");";
    for (size_t k = 0; k < def.keys.size(); ++k) {
      if (k == 0 && def.keys[k].duplicates) continue;  // cover0 serves
      schema += std::string("CREATE ") + (def.keys[k].duplicates ? "" : "UNIQUE ") + "INDEX " + Column("key", k) +
                " ON records(" + Column("k", k) + ");";
    }
    schema += "CREATE INDEX cover0 ON records(k0, id, data);";
    rc = Exec(db, schema.c_str());
    sqlite3_stmt* s = nullptr;
    if (rc == SQLITE_OK) rc = Prepare(db, "INSERT INTO meta VALUES('magic', ?1), ('definition', ?2)", &s);
    if (rc == SQLITE_OK) {
      const std::string block = EncodeFileDefinition(def, 0);
      sqlite3_bind_blob(s, 1, kMagicText, sizeof kMagicText - 1, SQLITE_STATIC);
      sqlite3_bind_blob(s, 2, block.data(), static_cast<int>(block.size()), SQLITE_TRANSIENT);
      rc = Step(s);
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(s);
    if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
  }
  if (rc != SQLITE_OK) {
    const int err = db != nullptr ? sqlite3_system_errno(db) : 0;
    status = (rc & 0xFF) == SQLITE_CANTOPEN ? StatusOfErrno(err) : OpenStatusOf(rc, db);
    sqlite3_close(db);
    ::unlink(temp.c_str());
    return status;
  }
  if (sqlite3_close(db) != SQLITE_OK) {
    ::unlink(temp.c_str());
    return RmIoError;
  }
  int moved;
  if (keyNum == -1) {
    moved = ::link(temp.c_str(), host.c_str());
    const int err = errno;
    ::unlink(temp.c_str());
    if (moved != 0) return err == EEXIST ? int16_t{RmFileExists} : StatusOfErrno(err);
  } else {
    moved = ::rename(temp.c_str(), host.c_str());
    if (moved != 0) {
      const int err = errno;
      ::unlink(temp.c_str());
      return StatusOfErrno(err);
    }
    // A write-ahead log left by the file that was replaced must never be
    // applied to the new one.
    ::unlink((host + "-wal").c_str());
    ::unlink((host + "-shm").c_str());
  }
  return RmSuccess;
}

// Writes the key value of the record into the caller's key buffer.
void PutKey(const OpenFile& f, int k, const uint8_t* record, void* key) {
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
int16_t Deliver(OpenFile& f, int k, int64_t id, const void* record, int size, std::string_view collation, void* data,
                uint32_t* dataLen, void* key) {
  if (record == nullptr || size != f.def.recordLength) {
    f.StopWalk();
    SetDataLength(dataLen, 0);
    return RmIoError;
  }
  const auto* bytes = static_cast<const uint8_t*>(record);
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

// Starts a walk of key k from a key value in collation form and takes one
// step. `bound` is the record id for WalkStart::After.
int StartWalk(OpenFile& f, int k, bool forward, const std::string& from, int64_t bound, WalkStart start) {
  f.StopWalk();
  KeyWalk& w = f.walks[static_cast<size_t>(k)];
  f.walkKey.assign(from.data(), from.size());
  f.activeForward = forward;
  f.activeKey = k;
  f.activeSame = start == WalkStart::After;
  f.floor = forward && start == WalkStart::AtOrAfter ? OpenFile::Floor::Start : OpenFile::Floor::None;
  switch (start) {
    case WalkStart::After:
      f.active = forward ? w.sameForward : w.sameBackward;
      sqlite3_bind_int64(f.active, 2, bound);
      break;
    case WalkStart::Beyond:
      f.active = forward ? w.beyondForward : w.beyondBackward;
      break;
    case WalkStart::AtOrAfter:
      f.active = forward ? w.fromForward : w.fromBackward;
      break;
  }
  // walkKey stays as it is while the statement runs: only a new walk, which
  // resets the statement first, changes it.
  sqlite3_bind_blob(f.active, 1, f.walkKey.data(), static_cast<int>(f.walkKey.size()), SQLITE_STATIC);
  int rc = Step(f.active);
  if (rc == SQLITE_DONE && f.activeSame) {
    sqlite3_reset(f.active);
    f.activeSame = false;
    f.active = forward ? w.beyondForward : w.beyondBackward;
    sqlite3_bind_blob(f.active, 1, f.walkKey.data(), static_cast<int>(f.walkKey.size()), SQLITE_STATIC);
    rc = Step(f.active);
  }
  if (rc != SQLITE_ROW) f.StopWalk();
  return rc;
}

// One more step of the active walk.
int ContinueWalk(OpenFile& f) {
  if (f.activeForward) {
    // The record stepped from becomes the walk's floor.
    if (f.floorKey.size() == f.posKey.size()) {
      std::memcpy(f.floorKey.data(), f.posKey.data(), f.posKey.size());
    } else {
      f.floorKey = f.posKey;
    }
    f.floor = OpenFile::Floor::Step;
  }
  int rc = Step(f.active);
  if (rc == SQLITE_DONE && f.activeSame) {
    sqlite3_reset(f.active);
    KeyWalk& w = f.walks[static_cast<size_t>(f.activeKey)];
    f.activeSame = false;
    f.active = f.activeForward ? w.beyondForward : w.beyondBackward;
    sqlite3_bind_blob(f.active, 1, f.walkKey.data(), static_cast<int>(f.walkKey.size()), SQLITE_STATIC);
    rc = Step(f.active);
  }
  if (rc != SQLITE_ROW) f.StopWalk();
  return rc;
}

// Reads record `id` afresh: SQLITE_ROW with the byId statement standing on
// it (the caller resets it), SQLITE_DONE when there is none, or an error.
int ReadById(OpenFile& f, int64_t id) {
  f.StopWalk();
  sqlite3_bind_int64(f.byId, 1, id);
  int rc = Step(f.byId);
  if (rc != SQLITE_ROW) sqlite3_reset(f.byId);
  return rc;
}

struct LockRequest {
  bool wanted = false;
  bool multiple = false;
  bool wait = false;
};

// Delivers record `id`, read by its position, under key k.
int16_t DeliverRecord(OpenFile& f, int k, int64_t id, const void* rec, int size, void* data, uint32_t* dataLen,
                      void* key) {
  std::string_view collation;
  if (rec != nullptr && size == f.def.recordLength) {
    const KeyShape& shape = f.shapes[static_cast<size_t>(k)];
    if (shape.plain && shape.contiguous) {
      collation = std::string_view(static_cast<const char*>(rec) + shape.offset, shape.length);
    } else {
      f.scratch.clear();
      KeyValueInto(f.def, static_cast<size_t>(k), static_cast<const uint8_t*>(rec), f.scratch);
      ToCollationForm(f.def, static_cast<size_t>(k), f.scratch);
      collation = f.scratch;
    }
  }
  return Deliver(f, k, id, rec, size, collation, data, dataLen, key);
}

// Delivers the row the byId statement stands on, under key k.
int16_t DeliverById(OpenFile& f, int k, void* data, uint32_t* dataLen, void* key) {
  const int16_t status = DeliverRecord(f, k, sqlite3_column_int64(f.byId, 0), sqlite3_column_blob(f.byId, 1),
                                       sqlite3_column_bytes(f.byId, 1), data, dataLen, key);
  sqlite3_reset(f.byId);
  return status;
}

// Reads record `id` into f.record through the blob handle: SQLITE_ROW, an
// error, or SQLITE_NOTFOUND when the handle cannot serve (there is none,
// no such record, a value that is no record): the caller then reads through
// the byId statement, which tells those cases apart as before.
int ReadDirect(OpenFile& f, int64_t id) {
  if (f.direct == nullptr) return SQLITE_NOTFOUND;
  if (FaultNow()) return SQLITE_IOERR;
  int rc = sqlite3_blob_reopen(f.direct, id);
  if (rc == SQLITE_OK && sqlite3_blob_bytes(f.direct) == f.def.recordLength) {
    f.record.resize(f.def.recordLength);
    rc = sqlite3_blob_read(f.direct, f.record.data(), f.def.recordLength, 0);
    if (rc == SQLITE_OK) return SQLITE_ROW;
  }
  f.CloseDirect();  // a failed move leaves the handle unusable
  return SQLITE_NOTFOUND;
}

// Opens the blob handle of direct reads on record `id`, just read, when
// the handle keeps a snapshot or is in a transaction (elsewhere a kept
// handle would go on reading an old state of the file). A hint: when it
// cannot be made, reads go through the byId statement.
void OpenDirect(OpenFile& f, int64_t id) {
  if (f.direct != nullptr || (!f.reading && !f.inTransaction) || ++f.directReads < 2) return;
  if (sqlite3_blob_open(f.db, "main", "records", "data", id, 0, &f.direct) != SQLITE_OK) f.CloseDirect();
}

// Finishes a read whose walk stands on a row: takes the lock when asked (the
// record is then read again under the lock) and delivers it. On 84 nothing
// changes: the position stays where it was.
int16_t FinishRead(OpenFile& f, int k, const LockRequest& lock, void* data, uint32_t* dataLen, void* key) {
  sqlite3_stmt* s = f.active;
  // The columns are read as values: one look-up of each instead of one for
  // its bytes and one for its length (the engine's calls all come from one
  // thread, so the unprotected values are safe to read).
  const int64_t id = sqlite3_column_int64(s, 0);
  sqlite3_value* recValue = sqlite3_column_value(s, 1);
  sqlite3_value* collValue = sqlite3_column_value(s, 2);
  const void* rec = sqlite3_value_blob(recValue);
  const int size = sqlite3_value_bytes(recValue);
  const void* coll = sqlite3_value_blob(collValue);
  const std::string_view collation(coll ? static_cast<const char*>(coll) : "",
                                    static_cast<size_t>(sqlite3_value_bytes(collValue)));
  // A record whose key disagrees with the index entry that led here is
  // damaged: it is never delivered as a good one.
  const KeyShape& shape = f.shapes[static_cast<size_t>(k)];
  if (rec != nullptr && size == f.def.recordLength &&
      !(shape.plain && shape.contiguous
            ? collation.size() == shape.length &&
                  std::memcmp(static_cast<const uint8_t*>(rec) + shape.offset, collation.data(), shape.length) == 0
            : CollationFormMatches(f.def, static_cast<size_t>(k), static_cast<const uint8_t*>(rec), collation))) {
    f.StopWalk();
    SetDataLength(dataLen, 0);
    return RmIoError;
  }
  if (!lock.wanted) return Deliver(f, k, id, rec, size, collation, data, dataLen, key);
  f.StopWalk();
  int16_t status = f.locks.Lock(id, lock.multiple, lock.wait);
  if (status != RmSuccess) {
    SetDataLength(dataLen, 0);
    return status;
  }
  f.FreshSnapshot();  // the holder may have changed the record before letting go
  int rc = ReadById(f, id);
  if (rc != SQLITE_ROW) {
    f.locks.Release(id);
    SetDataLength(dataLen, 0);
    return rc == SQLITE_DONE ? int16_t{RmRecordLocked} : StatusOf(rc, f.db);  // it went while we locked it
  }
  return DeliverById(f, k, data, dataLen, key);
}

// The search key of a get: the first keyLen bytes of the key buffer, cut or
// padded with NULs to the key's length, in collation form. Kept in the
// handle's scratch storage until the next request.
const std::string& SearchKey(OpenFile& f, int k, const void* key, uint8_t keyLen) {
  const size_t length = f.def.keys[static_cast<size_t>(k)].length;
  f.scratch.clear();
  if (key != nullptr) f.scratch.assign(static_cast<const char*>(key), std::min<size_t>(keyLen, length));
  ToCollationForm(f.def, static_cast<size_t>(k), f.scratch);
  return f.scratch;
}

// True when a forward seek for `wanted` (a collation form of key k, its
// full length) finds the record the handle's walk stands on: no record lies
// between the walk's floor and it. The walk's statement then still holds
// that record and goes on from it. Only within the kept snapshot, which the
// caller has just checked is current: the walk read that same state.
bool SeekLandsOnWalk(const OpenFile& f, int k, const std::string& wanted) {
  if (f.active == nullptr || !f.reading || !f.activeForward || f.activeKey != k || f.keyNum != k || !f.onRecord ||
      std::string_view(wanted) > std::string_view(f.posKey)) {
    return false;
  }
  switch (f.floor) {
    case OpenFile::Floor::Start:
      return std::string_view(wanted) >= std::string_view(f.walkKey);
    case OpenFile::Floor::Step:
      return std::string_view(wanted) > std::string_view(f.floorKey);
    case OpenFile::Floor::None:
      break;
  }
  return false;
}

// Beyond every key value: keys are at most 255 bytes long.
const std::string& AfterEveryKey() {
  static const std::string beyond(256, '\xFF');
  return beyond;
}

int16_t GetRequest(OpenFile& f, uint16_t op, const LockRequest& lock, void* data, uint32_t* dataLen, void* key,
                   uint8_t keyLen, int k) {
  int rc = SQLITE_DONE;
  const std::string* wanted = nullptr;
  const bool continuing = (op == RmGetNext || op == RmGetPrevious) && f.active != nullptr &&
                          f.activeForward == (op == RmGetNext) && f.activeKey == k && k == f.keyNum;
  if (!continuing) f.FreshSnapshot();
  switch (op) {
    case RmGetNext:
    case RmGetPrevious: {
      if (!f.positioned) {
        SetDataLength(dataLen, 0);
        return RmNoCurrentRecord;
      }
      const bool forward = op == RmGetNext;
      if (f.active != nullptr && f.activeForward == forward && f.activeKey == k && k == f.keyNum) {
        rc = ContinueWalk(f);
      } else {
        std::string from = f.posKey;
        if (k != f.keyNum) {
          // Walking another key from the current record: its value there.
          if (!f.onRecord) {
            SetDataLength(dataLen, 0);
            return RmNoCurrentRecord;
          }
          rc = ReadById(f, f.posId);
          if (rc != SQLITE_ROW) {
            SetDataLength(dataLen, 0);
            return rc == SQLITE_DONE ? int16_t{RmNoCurrentRecord} : StatusOf(rc, f.db);
          }
          const void* rec = sqlite3_column_blob(f.byId, 1);
          if (rec == nullptr || sqlite3_column_bytes(f.byId, 1) != f.def.recordLength) {
            sqlite3_reset(f.byId);
            SetDataLength(dataLen, 0);
            return RmIoError;
          }
          from = CollationFormOf(f.def, static_cast<size_t>(k),
                                 KeyValueOf(f.def, static_cast<size_t>(k), static_cast<const uint8_t*>(rec)));
          sqlite3_reset(f.byId);
        }
        rc = StartWalk(f, k, forward, from, f.posId, WalkStart::After);
      }
      if (rc == SQLITE_DONE) {
        SetDataLength(dataLen, 0);
        return RmEndOfFile;  // the position stays on the last record
      }
      break;
    }
    case RmGetFirst:
      rc = StartWalk(f, k, true, std::string(), 0, WalkStart::AtOrAfter);
      break;
    case RmGetLast:
      rc = StartWalk(f, k, false, AfterEveryKey(), 0, WalkStart::Beyond);
      break;
    case RmGetEqual:
    case RmGetGreaterOrEqual:
      wanted = &SearchKey(f, k, key, keyLen);
      rc = SeekLandsOnWalk(f, k, *wanted) ? SQLITE_ROW : StartWalk(f, k, true, *wanted, 0, WalkStart::AtOrAfter);
      break;
    case RmGetGreater:
      rc = StartWalk(f, k, true, SearchKey(f, k, key, keyLen), 0, WalkStart::Beyond);
      break;
    case RmGetLessOrEqual:
      rc = StartWalk(f, k, false, SearchKey(f, k, key, keyLen), 0, WalkStart::AtOrAfter);
      break;
    case RmGetLess:
      rc = StartWalk(f, k, false, SearchKey(f, k, key, keyLen), 0, WalkStart::Beyond);
      break;
    default:
      return RmInvalidOperation;
  }
  if (rc != SQLITE_ROW) {
    SetDataLength(dataLen, 0);
    if (rc != SQLITE_DONE) return StatusOf(rc, f.db);
    f.ClearPosition();
    return op == RmGetEqual ? RmKeyNotFound : RmEndOfFile;
  }
  if (op == RmGetEqual) {
    const void* coll = sqlite3_column_blob(f.active, 2);
    const size_t n = static_cast<size_t>(sqlite3_column_bytes(f.active, 2));
    if (n != wanted->size() || (n > 0 && std::memcmp(coll, wanted->data(), n) != 0)) {
      f.ClearPosition();
      SetDataLength(dataLen, 0);
      return RmKeyNotFound;
    }
  }
  return FinishRead(f, k, lock, data, dataLen, key);
}

int16_t GetDirectRequest(OpenFile& f, const LockRequest& lock, void* data, uint32_t* dataLen, void* key, int k) {
  if (data == nullptr || dataLen == nullptr || *dataLen < 4) return RmInvalidPosition;
  uint8_t p[4];
  std::memcpy(p, data, 4);
  const int64_t id = static_cast<int64_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
  if (id == 0) {
    SetDataLength(dataLen, 0);
    return RmInvalidPosition;
  }
  if (lock.wanted) {
    f.StopWalk();
    int16_t status = f.locks.Lock(id, lock.multiple, lock.wait);
    if (status != RmSuccess) {
      SetDataLength(dataLen, 0);
      return status;
    }
  }
  f.FreshSnapshot();
  f.StopWalk();
  int rc = ReadDirect(f, id);
  if (rc == SQLITE_ROW) return DeliverRecord(f, k, id, f.record.data(), f.def.recordLength, data, dataLen, key);
  if (rc == SQLITE_NOTFOUND) rc = ReadById(f, id);
  if (rc != SQLITE_ROW) {
    if (lock.wanted) f.locks.Release(id);
    SetDataLength(dataLen, 0);
    return rc == SQLITE_DONE ? int16_t{RmInvalidPosition} : StatusOf(rc, f.db);
  }
  const int16_t status = DeliverById(f, k, data, dataLen, key);
  if (status == RmSuccess || status == RmDataBufferTooShort) OpenDirect(f, id);
  return status;
}

// Collation forms of every key of a record about to be written.
std::vector<std::string> KeysOf(const OpenFile& f, const uint8_t* record) {
  std::vector<std::string> keys;
  for (size_t k = 0; k < f.def.keys.size(); ++k) keys.push_back(CollationFormOf(f.def, k, KeyValueOf(f.def, k, record)));
  return keys;
}

void BindKeys(sqlite3_stmt* s, const std::vector<std::string>& keys) {
  for (size_t k = 0; k < keys.size(); ++k) {
    sqlite3_bind_blob(s, static_cast<int>(k) + 2, keys[k].data(), static_cast<int>(keys[k].size()), SQLITE_STATIC);
  }
}

int16_t InsertRequest(OpenFile& f, const void* data, const uint32_t* dataLen, int k) {
  if (f.readOnly) return RmReadOnly;
  if (data == nullptr || dataLen == nullptr || *dataLen != f.def.recordLength) return RmRecordLengthMismatch;
  if (k >= static_cast<int>(f.def.keys.size())) return RmInvalidKeyNumber;
  const auto* record = static_cast<const uint8_t*>(data);
  const std::vector<std::string> keys = KeysOf(f, record);
  f.StopWalk();
  WriteGuard guard(f);
  int rc = guard.Begin();
  if (rc == SQLITE_OK) {
    sqlite3_bind_blob(f.insert, 1, data, f.def.recordLength, SQLITE_STATIC);
    BindKeys(f.insert, keys);
    rc = Step(f.insert);
    sqlite3_reset(f.insert);
    if (rc == SQLITE_DONE) rc = AddToCount(f, 1);
  }
  const int64_t id = sqlite3_last_insert_rowid(f.db);
  if (rc == SQLITE_OK) rc = guard.Commit();
  if (rc != SQLITE_OK) return StatusOf(rc, f.db);
  if (k >= 0) {
    f.keyNum = k;
    f.positioned = true;
    f.onRecord = true;
    f.posId = id;
    f.posKey = keys[static_cast<size_t>(k)];
  }
  return RmSuccess;
}

int16_t UpdateRequest(OpenFile& f, const void* data, const uint32_t* dataLen, void* key) {
  if (f.readOnly) return RmReadOnly;
  if (!f.onRecord) return RmNoCurrentRecord;
  if (data == nullptr || dataLen == nullptr || *dataLen != f.def.recordLength) return RmRecordLengthMismatch;
  if (f.locks.HeldElsewhere(f.posId)) return RmRecordLocked;
  const auto* record = static_cast<const uint8_t*>(data);
  const std::vector<std::string> keys = KeysOf(f, record);
  int rc = ReadById(f, f.posId);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? int16_t{RmNoCurrentRecord} : StatusOf(rc, f.db);
  const void* old = sqlite3_column_blob(f.byId, 1);
  const bool oldWhole = old != nullptr && sqlite3_column_bytes(f.byId, 1) == f.def.recordLength;
  std::vector<std::string> oldKeys;
  if (oldWhole) oldKeys = KeysOf(f, static_cast<const uint8_t*>(old));
  sqlite3_reset(f.byId);
  if (!oldWhole) return RmIoError;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (!f.def.keys[k].modifiable && keys[k] != oldKeys[k]) return RmKeyNotModifiable;
  }
  WriteGuard guard(f);
  rc = guard.Begin();
  if (rc == SQLITE_OK) {
    sqlite3_bind_blob(f.update, 1, data, f.def.recordLength, SQLITE_STATIC);
    BindKeys(f.update, keys);
    sqlite3_bind_int64(f.update, static_cast<int>(keys.size()) + 2, f.posId);
    rc = Step(f.update);
    sqlite3_reset(f.update);
    if (rc == SQLITE_DONE) rc = sqlite3_changes(f.db) == 1 ? SQLITE_OK : SQLITE_NOTFOUND;
  }
  if (rc == SQLITE_NOTFOUND) return RmNoCurrentRecord;
  if (rc == SQLITE_OK) rc = guard.Commit();
  if (rc != SQLITE_OK) return StatusOf(rc, f.db);
  f.posKey = keys[static_cast<size_t>(f.keyNum)];
  f.locks.Release(f.posId);
  if (key != nullptr) PutKey(f, f.keyNum, record, key);
  return RmSuccess;
}

int16_t DeleteRequest(OpenFile& f) {
  if (f.readOnly) return RmReadOnly;
  if (!f.onRecord) return RmNoCurrentRecord;
  if (f.locks.HeldElsewhere(f.posId)) return RmRecordLocked;
  f.StopWalk();
  WriteGuard guard(f);
  int rc = guard.Begin();
  if (rc == SQLITE_OK) {
    sqlite3_bind_int64(f.remove, 1, f.posId);
    rc = Step(f.remove);
    sqlite3_reset(f.remove);
    if (rc == SQLITE_DONE) rc = sqlite3_changes(f.db) == 1 ? AddToCount(f, -1) : SQLITE_NOTFOUND;
  }
  if (rc == SQLITE_NOTFOUND) return RmNoCurrentRecord;
  if (rc == SQLITE_OK) rc = guard.Commit();
  if (rc != SQLITE_OK) return StatusOf(rc, f.db);
  // The position stays between the neighbours of the deleted record.
  f.onRecord = false;
  f.locks.Release(f.posId);
  return RmSuccess;
}

int16_t StatRequest(OpenFile& f, void* data, uint32_t* dataLen) {
  f.StopWalk();
  f.FreshSnapshot();
  int rc = Step(f.countRead);
  int64_t count = rc == SQLITE_ROW ? sqlite3_column_int64(f.countRead, 0) : 0;
  sqlite3_reset(f.countRead);
  if (rc != SQLITE_ROW) {
    SetDataLength(dataLen, 0);
    return StatusOf(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, f.db);
  }
  if (count < 0) count = 0;
  if (count > 0xFFFFFFFF) count = 0xFFFFFFFF;
  const std::string reply = EncodeFileDefinition(f.def, static_cast<uint32_t>(count));
  return PutData(data, dataLen, reply.data(), reply.size());
}

int16_t OwnerRequest(OpenFile& f, bool set, const void* data, const uint32_t* dataLen) {
  if (f.readOnly) return RmReadOnly;
  const std::string name = BufferText(data, dataLen);
  if (set && name.empty()) return RmInvalidOperation;
  f.StopWalk();
  WriteGuard guard(f);
  int rc = guard.Begin();
  sqlite3_stmt* s = set ? f.ownerWrite : f.ownerClear;
  if (rc == SQLITE_OK) {
    if (set) sqlite3_bind_blob(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    rc = Step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc == SQLITE_OK) rc = guard.Commit();
  return StatusOf(rc, f.db);
}

int16_t TransactionRequest(OpenFile& f, uint16_t op) {
  f.StopWalk();
  if (op == RmBeginTransaction) {
    if (f.readOnly) return RmReadOnly;
    if (f.inTransaction) return RmInvalidOperation;
    int rc = Exec(f.db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return StatusOf(rc, f.db);
    f.inTransaction = true;
    return RmSuccess;
  }
  if (!f.inTransaction) return RmInvalidOperation;
  f.inTransaction = false;
  if (op == RmEndTransaction) {
    int rc = Exec(f.db, "COMMIT");
    if (rc == SQLITE_OK) return RmSuccess;
    sqlite3_exec(f.db, "ROLLBACK", nullptr, nullptr, nullptr);
    f.ClearPosition();
    return StatusOf(rc, f.db);
  }
  sqlite3_exec(f.db, "ROLLBACK", nullptr, nullptr, nullptr);
  f.ClearPosition();
  return RmSuccess;
}

int16_t UnlockRequest(OpenFile& f, const void* data, const uint32_t* dataLen, int8_t keyNum) {
  if (keyNum == -1) {
    if (data == nullptr || dataLen == nullptr || *dataLen < 4) return RmInvalidPosition;
    uint8_t p[4];
    std::memcpy(p, data, 4);
    f.locks.Release(static_cast<int64_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24)));
    return RmSuccess;
  }
  f.locks.ReleaseAll();
  return RmSuccess;
}

void ResetAll() {
  for (auto& f : Files()) f.reset();
  Files().clear();
}

}  // namespace

void RecordManagerIdle() {
  for (auto& f : Files()) {
    if (f) f->Release();
  }
}

void FailStorageCallAfter(int64_t count) { g_faultCountdown = count < 0 ? -1 : count; }

int64_t StorageCallCount() { return g_storageCalls; }

namespace {

int16_t Request(uint16_t op, void* posBlock, void* data, uint32_t* dataLen, void* key, uint8_t keyLen, int8_t keyNum) {
  LockRequest lock;
  uint16_t base = op;
  if (op >= 100) {
    base = op % 100;
    const uint16_t bias = op - base;
    const bool readOp = (base >= RmGetEqual && base <= RmGetLast) || base == RmGetDirect;
    if (!readOp || bias > 400) return RmInvalidOperation;
    lock.wanted = true;
    lock.multiple = bias == RmMultipleLockWait || bias == RmMultipleLockNoWait;
    lock.wait = bias == RmSingleLockWait || bias == RmMultipleLockWait;
  }
  switch (base) {
    case RmOpen:
      return OpenRequest(posBlock, data, dataLen, key, keyNum);
    case RmCreate:
      return CreateRequest(data, dataLen, key, keyNum);
    case RmReset:
      ResetAll();
      return RmSuccess;
    case RmVersion: {
      const uint8_t version[5] = {1, 0, 0, 0, 'L'};
      return PutData(data, dataLen, version, sizeof version);
    }
    default:
      break;
  }
  OpenFile* f = FileOf(posBlock);
  if (f == nullptr) {
    if (base <= RmClearOwner) {
      SetDataLength(dataLen, 0);
      return RmFileNotOpen;
    }
    return RmInvalidOperation;
  }
  // The next step of a walk without a lock, the request a pass over a file
  // makes millions of times: straight to the statement.
  if ((base == RmGetNext || base == RmGetPrevious) && !lock.wanted && f->active != nullptr &&
      f->activeForward == (base == RmGetNext) && f->activeKey == keyNum && keyNum == f->keyNum) {
    const int rc = ContinueWalk(*f);
    if (rc == SQLITE_ROW) return FinishRead(*f, keyNum, lock, data, dataLen, key);
    SetDataLength(dataLen, 0);
    return rc == SQLITE_DONE ? int16_t{RmEndOfFile} : StatusOf(rc, f->db);  // at the end the position stays
  }
  f->lastUse = NowMillis();  // a walk's steps do not count: see ReleaseIdleHandles
  const bool keyed = (base >= RmGetEqual && base <= RmGetLast) || base == RmGetDirect;
  if (keyed && (keyNum < 0 || keyNum >= static_cast<int>(f->def.keys.size()))) {
    SetDataLength(dataLen, 0);
    return RmInvalidKeyNumber;
  }
  switch (base) {
    case RmInsert:
    case RmUpdate:
    case RmDelete:
    case RmBeginTransaction:
    case RmEndTransaction:
    case RmAbortTransaction:
    case RmSetOwner:
    case RmClearOwner:
      f->EndRead();  // a write starts from the latest commit
      break;
    default:
      break;
  }
  switch (base) {
    case RmClose:
      CloseFile(posBlock);
      return RmSuccess;
    case RmInsert:
      return InsertRequest(*f, data, dataLen, keyNum);
    case RmUpdate:
      return UpdateRequest(*f, data, dataLen, key);
    case RmDelete:
      return DeleteRequest(*f);
    case RmGetEqual:
    case RmGetNext:
    case RmGetPrevious:
    case RmGetGreater:
    case RmGetGreaterOrEqual:
    case RmGetLess:
    case RmGetLessOrEqual:
    case RmGetFirst:
    case RmGetLast:
      return GetRequest(*f, base, lock, data, dataLen, key, keyLen, keyNum);
    case RmStat:
      return StatRequest(*f, data, dataLen);
    case RmBeginTransaction:
    case RmEndTransaction:
    case RmAbortTransaction:
      return TransactionRequest(*f, base);
    case RmGetPosition: {
      if (!f->onRecord) {
        SetDataLength(dataLen, 0);
        return RmNoCurrentRecord;
      }
      const uint32_t id = static_cast<uint32_t>(f->posId);
      const uint8_t p[4] = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id >> 16),
                            static_cast<uint8_t>(id >> 24)};
      return PutData(data, dataLen, p, 4);
    }
    case RmGetDirect:
      return GetDirectRequest(*f, lock, data, dataLen, key, keyNum);
    case RmUnlock:
      return UnlockRequest(*f, data, dataLen, keyNum);
    case RmHoldSnapshot:
      // The snapshot is the state of the first read after this call; a
      // handle that holds one already keeps it.
      if (!f->holding) {
        f->FreshSnapshot();
        f->holding = true;
      }
      return RmSuccess;
    case RmReleaseSnapshot:
      f->holding = false;
      f->EndRead();
      return RmSuccess;
    case RmSetOwner:
      return OwnerRequest(*f, true, data, dataLen);
    case RmClearOwner:
      return OwnerRequest(*f, false, data, dataLen);
    default:
      return RmInvalidOperation;
  }
}

}  // namespace

int16_t RecordManagerCall(uint16_t op, void* posBlock, void* data, uint32_t* dataLen, void* key, uint8_t keyLen,
                          int8_t keyNum) {
  try {
    return Request(op, posBlock, data, dataLen, key, keyLen, keyNum);
  } catch (...) {
    // Only memory can run out here (the engine's own storage); the request
    // is answered as failed storage rather than thrown at the caller.
    SetDataLength(dataLen, 0);
    return RmIoError;
  }
}
