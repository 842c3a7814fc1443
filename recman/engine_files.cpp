// Opening, creating and closing data files, and the table of handles.
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
//                       Files made before cover0 existed, and files created
//                       with RmNoCover, have key0 alone and are read as they
//                       are, walking key0 and the table. A file created with
//                       RmNoCover whose key 0 allows duplicates was once
//                       given cover0 all the same; UncoverRecordFile
//                       (engine_check.cpp) gives it key0 instead.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "recman/engine_internal.h"
#include "recman/maintenance.h"
#include "recman/pagecheck.h"
#include "base/durable.h"
#include "base/paths.h"

namespace recman_engine {

// A URI naming the database at hostPath, with a query.
std::string FileUri(const std::string& hostPath, const char* query) {
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
  return uri + "?" + query;
}

namespace {

constexpr char kMagicText[] = "korvadel record file 1";
constexpr size_t kMaxPathBytes = 255;
constexpr int kBusyMillis = 1000;

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

// Handles inherited by a forked child: never used nor closed there (their
// SQLite connections belong to the parent), only kept reachable.
std::vector<std::unique_ptr<OpenFile>>& Abandoned() {
  static std::vector<std::unique_ptr<OpenFile>> files;
  return files;
}

uint32_t NextCheck() {
  static uint32_t counter = static_cast<uint32_t>(::getpid()) * 2654435761u;
  counter += 0x9E3779B9u;
  return counter == 0 ? 1 : counter;
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


// The database at hostPath to be read as a file that nobody changes: no
// locks, no write-ahead log, no shared index.
std::string ImmutableUri(const std::string& hostPath) { return FileUri(hostPath, "immutable=1"); }

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
  // In a whole transaction a duplicate ends the transaction, so the insert
  // needs no statement journal to undo itself alone.
  prep("INSERT OR ROLLBACK INTO records(data" + cols + ") VALUES(?1" + params + ")", &f.insertWhole);
  prep("UPDATE records SET data = ?1" + sets + " WHERE id = " + idParam, &f.update);
  // Only cover0, which holds the record, changes with it: the key indexes
  // are left alone.
  prep("UPDATE records SET data = ?1 WHERE id = ?2", &f.updateData);
  prep("SAVEPOINT request", &f.savepoint);
  prep("RELEASE request", &f.release);
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
  if (rc == SQLITE_OK) rc = PrepareWalks(f);
  return rc;
}

}  // namespace

void FinalizeWalks(OpenFile& f) {
  f.StopWalk();
  for (KeyWalk& w : f.walks) {
    for (sqlite3_stmt* st : {w.sameForward, w.beyondForward, w.fromForward, w.sameBackward, w.beyondBackward,
                             w.fromBackward}) {
      sqlite3_finalize(st);
    }
  }
  f.walks.clear();
}

int PrepareWalks(OpenFile& f) {
  FinalizeWalks(f);
  const size_t keys = f.def.keys.size();
  int rc = SQLITE_OK;
  auto prep = [&](const std::string& sql, sqlite3_stmt** s) {
    if (rc == SQLITE_OK) rc = Prepare(f.db, sql, s);
  };
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
  f.coveredWalks = covered;
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

namespace {

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

}  // namespace

OpenFile::~OpenFile() {
  StopWalk();
  CloseDirect();
  sqlite3_stmt* all[] = {insert,     update,    remove,  byId,       countRead,  countAdd,  updateData,
                         savepoint, release, ownerWrite, ownerClear, beginRead, endRead,   insertWhole};
  for (sqlite3_stmt* s : all) sqlite3_finalize(s);
  FinalizeWalks(*this);
  if (db != nullptr && (inTransaction || reading)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
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

void CloseFile(void* posBlock) {
  PositionBlock pb;
  std::memcpy(&pb, posBlock, sizeof pb);
  Files()[pb.index].reset();
  std::memset(posBlock, 0, sizeof pb);
}

void ResetAll() {
  for (auto& f : Files()) f.reset();
  Files().clear();
}

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
    // Through the layer that checks each page against its checksum.
    int rc = Noted(sqlite3_open_v2(immutable ? ImmutableUri(host).c_str() : host.c_str(), &f->db, flags,
                                   pagecheck::VfsName()));
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
  // A file that asked for no covering index and was given one all the same
  // loses it at its first open for writing (a hint: the file works either
  // way, so a failure or another writer leaves it for a later open).
  if (rc == SQLITE_OK && !f->readOnly && (f->def.fileFlags & RmNoCover) != 0 && f->coveredWalks) {
    bool uncovered = false;
    if (UncoverRecordFile(host, uncovered, false) == RmSuccess && uncovered) rc = PrepareWalks(*f);
  }
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
  // Every page of a new file carries its checksum: 8 reserved bytes a page,
  // written by the checking layer.
  const std::string uri = FileUri(temp, (std::string(pagecheck::kMakeParameter) + "=1").c_str());
  int rc = sqlite3_open_v2(uri.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW |
                               SQLITE_OPEN_URI,
                           pagecheck::VfsName());
  if (db != nullptr) sqlite3_extended_result_codes(db, 1);
  if (rc == SQLITE_OK) {
    int reserve = pagecheck::kReserveBytes;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve);
  }
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
    // A file asked not to be covered is not, whatever its key 0.
    const bool cover = (def.fileFlags & RmNoCover) == 0;
    for (size_t k = 0; k < def.keys.size(); ++k) {
      if (k == 0 && def.keys[k].duplicates && cover) continue;  // cover0 serves
      schema += std::string("CREATE ") + (def.keys[k].duplicates ? "" : "UNIQUE ") + "INDEX " + Column("key", k) +
                " ON records(" + Column("k", k) + ");";
    }
    if (cover) schema += "CREATE INDEX cover0 ON records(k0, id, data);";
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
  // Flushed to disk and put in place with its folder flushed, so that a
  // file reported made survives a crash whole.
  const int placed = PlaceMadeFile(temp, host, keyNum == -1 ? Placement::NeverOverwrite : Placement::Replace);
  if (placed != 0) return placed == EEXIST ? int16_t{RmFileExists} : StatusOfErrno(placed);
  if (keyNum != -1) {
    // A write-ahead log left by the file that was replaced must never be
    // applied to the new one.
    ::unlink((host + "-wal").c_str());
    ::unlink((host + "-shm").c_str());
  }
  return RmSuccess;
}

}  // namespace recman_engine
