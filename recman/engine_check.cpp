// Whole-file check and checksum upgrade of record files (recman check,
// recman upgrade).
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/durable.h"
#include "recman/definition.h"
#include "recman/engine_internal.h"
#include "recman/maintenance.h"
#include "recman/pagecheck.h"
#include "recman/recman.h"

namespace {

constexpr char kMagicText[] = "korvadel record file 1";

struct Db {
  sqlite3* db = nullptr;
  ~Db() { sqlite3_close_v2(db); }
};

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() { sqlite3_finalize(s); }
};

std::string Blob(sqlite3_stmt* s, int col) {
  const void* b = sqlite3_column_blob(s, col);
  return std::string(b ? static_cast<const char*>(b) : "", static_cast<size_t>(sqlite3_column_bytes(s, col)));
}

// Opens a record file for reading, through the checking layer or SQLite's
// own (which reads damaged pages as they are, for the structural check).
int OpenForReading(const std::string& path, bool checked, Db& out) {
  const int rc = sqlite3_open_v2(path.c_str(), &out.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                 checked ? pagecheck::VfsName() : nullptr);
  if (out.db != nullptr) {
    sqlite3_extended_result_codes(out.db, 1);
    sqlite3_busy_timeout(out.db, 5000);
  }
  return rc;
}

// The file's definition from its meta table; false when it is no record file.
bool ReadDefinition(sqlite3* db, FileDefinition& def) {
  Stmt s;
  if (sqlite3_prepare_v2(db, "SELECT name, value FROM meta WHERE name IN ('magic', 'definition')", -1, &s.s,
                         nullptr) != SQLITE_OK) {
    return false;
  }
  bool magic = false, block = false;
  while (sqlite3_step(s.s) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s.s, 0));
    const std::string value = Blob(s.s, 1);
    if (name == "magic") magic = value == kMagicText;
    if (name == "definition") {
      block = ParseFileDefinition(reinterpret_cast<const uint8_t*>(value.data()), value.size(), def) == RmSuccess;
    }
  }
  return magic && block;
}

bool HasCover(sqlite3* db) {
  Stmt s;
  return sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'cover0'", -1, &s.s,
                            nullptr) == SQLITE_OK &&
         sqlite3_step(s.s) == SQLITE_ROW;
}

std::string At(int64_t id) { return "record at position " + std::to_string(id) + ": "; }

// Walks the records table in position order, and the covering index (when
// there is one) in the same order, and compares: each record whole, its
// key entries against its bytes. A read that fails names the position after
// the last one read.
void CompareCopies(sqlite3* db, const FileDefinition& def, RecordFileCheck& report) {
  std::string cols;
  for (size_t k = 0; k < def.keys.size(); ++k) cols += ", k" + std::to_string(k);
  Stmt table, index;
  if (sqlite3_prepare_v2(db, ("SELECT id, data" + cols + " FROM records NOT INDEXED ORDER BY id").c_str(), -1,
                         &table.s, nullptr) != SQLITE_OK) {
    report.problems.push_back(std::string("the records table cannot be read: ") + sqlite3_errmsg(db));
    return;
  }
  bool cover = HasCover(db);
  if (cover && sqlite3_prepare_v2(db, "SELECT id, data FROM records INDEXED BY cover0 WHERE k0 >= x'' ORDER BY id",
                                  -1, &index.s, nullptr) != SQLITE_OK) {
    report.problems.push_back(std::string("the covering index cannot be read: ") + sqlite3_errmsg(db));
    return;
  }
  int64_t lastTable = 0;
  int rcIndex = cover ? sqlite3_step(index.s) : SQLITE_DONE;
  if (rcIndex != SQLITE_ROW && rcIndex != SQLITE_DONE) {
    report.problems.push_back("the covering index cannot be read");
  }
  for (;;) {
    const int rc = sqlite3_step(table.s);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) {
      report.problems.push_back("the record after position " + std::to_string(lastTable) +
                                " cannot be read (" + sqlite3_errstr(rc) + ")");
      return;
    }
    ++report.records;
    const int64_t id = sqlite3_column_int64(table.s, 0);
    lastTable = id;
    const std::string data = Blob(table.s, 1);
    if (data.size() != def.recordLength) {
      report.problems.push_back(At(id) + "its length is " + std::to_string(data.size()) + ", not " +
                                std::to_string(def.recordLength));
    } else {
      for (size_t k = 0; k < def.keys.size(); ++k) {
        const std::string want =
            CollationFormOf(def, k, KeyValueOf(def, k, reinterpret_cast<const uint8_t*>(data.data())));
        if (Blob(table.s, static_cast<int>(k) + 2) != want) {
          report.problems.push_back(At(id) + "its entry of key " + std::to_string(k) + " does not match its bytes");
        }
      }
    }
    if (!cover) continue;
    while (rcIndex == SQLITE_ROW && sqlite3_column_int64(index.s, 0) < id) {
      report.problems.push_back(At(sqlite3_column_int64(index.s, 0)) + "only in the covering index");
      rcIndex = sqlite3_step(index.s);
    }
    if (rcIndex == SQLITE_ROW && sqlite3_column_int64(index.s, 0) == id) {
      if (Blob(index.s, 1) != data) report.problems.push_back(At(id) + "its two copies differ");
      rcIndex = sqlite3_step(index.s);
    } else if (rcIndex == SQLITE_ROW || rcIndex == SQLITE_DONE) {
      report.problems.push_back(At(id) + "missing from the covering index");
    }
    if (rcIndex != SQLITE_ROW && rcIndex != SQLITE_DONE) {
      report.problems.push_back("the covering index cannot be read after position " + std::to_string(id));
      rcIndex = SQLITE_DONE;
      cover = false;
    }
  }
  while (cover && rcIndex == SQLITE_ROW) {
    report.problems.push_back(At(sqlite3_column_int64(index.s, 0)) + "only in the covering index");
    rcIndex = sqlite3_step(index.s);
  }
}

}  // namespace

RecordFileCheck CheckRecordFile(const std::string& hostPath) {
  RecordFileCheck report;
  struct stat st {};
  if (::stat(hostPath.c_str(), &st) != 0) {
    report.status = errno == ENOENT ? int16_t{RmFileNotFound} : int16_t{RmIoError};
    return report;
  }
  if (!S_ISREG(st.st_mode)) {
    report.status = RmIoError;
    return report;
  }
  if (::access(hostPath.c_str(), R_OK) != 0) {
    report.status = RmPermissionDenied;
    return report;
  }
  const pagecheck::FileReport pages = pagecheck::CheckPages(hostPath);
  if (!pages.readable) {
    report.status = RmIoError;
    return report;
  }
  report.checksums = pages.checked;
  report.pages = pages.pages;
  for (uint32_t n : pages.damaged) {
    report.problems.push_back("page " + std::to_string(n) + " (bytes from " +
                              std::to_string(static_cast<uint64_t>(n - 1) * pages.pageSize) +
                              "): its checksum does not match");
  }
  // The rest reads the file as SQLite sees it, damaged pages too, so that a
  // damaged page does not hide what lies behind it.
  Db db;
  FileDefinition def;
  if (OpenForReading(hostPath, false, db) != SQLITE_OK || !ReadDefinition(db.db, def)) {
    report.problems.push_back("not a record file, or its description cannot be read");
    return report;
  }
  CompareCopies(db.db, def, report);
  Stmt integrity;
  if (sqlite3_prepare_v2(db.db, "PRAGMA integrity_check(100)", -1, &integrity.s, nullptr) == SQLITE_OK) {
    int rc;
    while ((rc = sqlite3_step(integrity.s)) == SQLITE_ROW) {
      const auto* line = reinterpret_cast<const char*>(sqlite3_column_text(integrity.s, 0));
      if (line != nullptr && std::strcmp(line, "ok") != 0) report.problems.push_back(std::string("structure: ") + line);
    }
    if (rc != SQLITE_DONE) report.problems.push_back(std::string("structure: ") + sqlite3_errstr(rc));
  }
  return report;
}

int16_t UncoverRecordFile(const std::string& hostPath, bool& changed, bool wait) {
  changed = false;
  Db db;
  if (sqlite3_open_v2(hostPath.c_str(), &db.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, pagecheck::VfsName()) !=
      SQLITE_OK) {
    return recman_engine::StatusOf(sqlite3_extended_errcode(db.db), db.db);
  }
  sqlite3_extended_result_codes(db.db, 1);
  sqlite3_busy_timeout(db.db, wait ? 1000 : 0);
  FileDefinition def;
  if (!ReadDefinition(db.db, def)) return RmIoError;
  if ((def.fileFlags & RmNoCover) == 0 || !HasCover(db.db)) return RmSuccess;
  int rc = sqlite3_exec(db.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return recman_engine::StatusOf(rc, db.db);
  // Looked at again under the write lock: another process may have done it.
  if (!HasCover(db.db)) {
    sqlite3_exec(db.db, "ROLLBACK", nullptr, nullptr, nullptr);
    return RmSuccess;
  }
  const bool hasKey0 = [&] {
    Stmt s;
    return sqlite3_prepare_v2(db.db, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'key0'", -1, &s.s,
                              nullptr) == SQLITE_OK &&
           sqlite3_step(s.s) == SQLITE_ROW;
  }();
  const std::string sql = std::string(hasKey0 ? "" : def.keys[0].duplicates ? "CREATE INDEX key0 ON records(k0);"
                                                                             : "CREATE UNIQUE INDEX key0 ON records(k0);") +
                          "DROP INDEX cover0; COMMIT";
  rc = sqlite3_exec(db.db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    const int16_t status = recman_engine::StatusOf(rc, db.db);
    sqlite3_exec(db.db, "ROLLBACK", nullptr, nullptr, nullptr);
    return status;
  }
  changed = true;
  return RmSuccess;
}

int16_t UpgradeRecordFile(const std::string& hostPath, bool& already, bool* uncoveredOut) {
  already = false;
  if (uncoveredOut != nullptr) *uncoveredOut = false;
  RecordFileCheck before = CheckRecordFile(hostPath);
  if (before.status != RmSuccess) return before.status;
  if (!before.problems.empty()) return RmIoError;  // a damaged file is mended by no rewrite
  bool uncovered = false;
  if (const int16_t status = UncoverRecordFile(hostPath, uncovered); status != RmSuccess) return status;
  if (uncoveredOut != nullptr) *uncoveredOut = uncovered;
  if (before.checksums) {
    already = !uncovered;
    return RmSuccess;
  }
  const std::string temp = hostPath + ".upg" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  int16_t status = RmSuccess;
  {
    // Writers are kept out while the copy is made: a second connection holds
    // the write lock.
    Db source, guard;
    if (sqlite3_open_v2(hostPath.c_str(), &source.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                        pagecheck::VfsName()) != SQLITE_OK ||
        sqlite3_open_v2(hostPath.c_str(), &guard.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        pagecheck::VfsName()) != SQLITE_OK) {
      return RmIoError;
    }
    sqlite3_busy_timeout(guard.db, 5000);
    if (sqlite3_exec(guard.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return RmFileLocked;
    int reserve = pagecheck::kReserveBytes;
    sqlite3_file_control(source.db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve);
    const std::string uri = recman_engine::FileUri(temp, (std::string(pagecheck::kMakeParameter) + "=1").c_str());
    Stmt vacuum;
    int rc = sqlite3_prepare_v2(source.db, "VACUUM INTO ?1", -1, &vacuum.s, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(vacuum.s, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
      rc = sqlite3_step(vacuum.s);
    }
    if (rc != SQLITE_DONE) status = (rc & 0xFF) == SQLITE_FULL ? int16_t{RmDiskFull} : int16_t{RmIoError};
    sqlite3_exec(guard.db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (status == RmSuccess) {
    // The copy keeps a write-ahead log as every record file does.
    Db made;
    if (sqlite3_open_v2(temp.c_str(), &made.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, pagecheck::VfsName()) !=
            SQLITE_OK ||
        sqlite3_exec(made.db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
      status = RmIoError;
    }
  }
  if (status == RmSuccess) {
    const RecordFileCheck after = CheckRecordFile(temp);
    if (after.status != RmSuccess || !after.checksums || !after.problems.empty() ||
        after.records != before.records) {
      status = RmIoError;
    }
  }
  if (status == RmSuccess) {
    const int placed = PlaceMadeFile(temp, hostPath, Placement::Replace);
    if (placed != 0) status = placed == ENOSPC ? int16_t{RmDiskFull} : int16_t{RmIoError};
  }
  if (status != RmSuccess) {
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
    return status;
  }
  // The log of the file that was replaced must never be applied to the new one.
  ::unlink((hostPath + "-wal").c_str());
  ::unlink((hostPath + "-shm").c_str());
  for (const char* suffix : {"-wal", "-shm"}) ::unlink((temp + suffix).c_str());
  return RmSuccess;
}
