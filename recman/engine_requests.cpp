// The requests of the record manager: the dispatcher behind
// RecordManagerCall, the writes (insert, update, delete, owner), stat,
// transactions and unlock; and the statuses of failed storage calls.
//
// Every request on an open handle but the unlocked next step of a walk goes
// through BeforeRequest (engine_snapshot.cpp) before it runs, which applies
// the table of what each request does to the handle's snapshot, walk and
// blob handle.
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "recman/engine_internal.h"
#include "recman/fault.h"
#include "recman/recman.h"

namespace recman_engine {

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
      // A page that fails its checksum (SQLITE_IOERR_DATA) is damage, whatever
      // the system error last noted.
      if (rc == SQLITE_IOERR || rc == SQLITE_IOERR_DATA) return RmIoError;
      const int err = g_failureErrno != 0 ? g_failureErrno : db != nullptr ? sqlite3_system_errno(db) : 0;
      const int16_t status = StatusOfErrno(err);
      return status == RmFileNotFound ? int16_t{RmIoError} : status;
    }
    default:
      return RmIoError;
  }
}

namespace {

// ---- write guard ----------------------------------------------------------------

// Brackets one write request: a transaction of its own, or a savepoint inside
// the caller's transaction. Rolls back unless committed.
class WriteGuard {
 public:
  explicit WriteGuard(OpenFile& f) : f_(f) {}
  ~WriteGuard() {
    if (!begun_ || committed_) return;
    if (f_.whole) return;  // the write failed: its status dooms the transaction (Doom)
    if (f_.inTransaction) {
      sqlite3_exec(f_.db, "ROLLBACK TO request; RELEASE request", nullptr, nullptr, nullptr);
    } else {
      sqlite3_exec(f_.db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

  int Begin() {
    // A transaction SQLite ended on its own (after a failed write) would let
    // this write commit alone: it is refused instead.
    if (f_.inTransaction && sqlite3_get_autocommit(f_.db)) return SQLITE_IOERR;
    // A whole transaction ends as a whole on any failure: no savepoint.
    if (f_.whole) {
      begun_ = true;
      return SQLITE_OK;
    }
    int rc = f_.inTransaction ? Run(f_.savepoint) : Exec(f_.db, "BEGIN IMMEDIATE");
    begun_ = rc == SQLITE_OK;
    return rc;
  }
  int Commit() {
    if (f_.whole) {
      committed_ = true;
      return SQLITE_OK;
    }
    int rc = f_.inTransaction ? Run(f_.release) : Exec(f_.db, "COMMIT");
    if (rc == SQLITE_OK) committed_ = true;
    return rc;
  }

 private:
  // A prepared statement of the savepoint, kept with the file: a run of
  // writes in one transaction does not parse it again for every request.
  static int Run(sqlite3_stmt* s) {
    const int rc = Step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }

  OpenFile& f_;
  bool begun_ = false;
  bool committed_ = false;
};

// The status of a write request: in a whole transaction the first that is
// not 0 dooms it.
int16_t Doom(OpenFile& f, int16_t status) {
  if (f.whole && f.doomed == RmSuccess) f.doomed = status;
  return status;
}

int AddToCount(OpenFile& f, int delta) {
  sqlite3_bind_int(f.countAdd, 1, delta);
  int rc = Step(f.countAdd);
  sqlite3_reset(f.countAdd);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}
// ---- requests ----------------------------------------------------------------------

// Collation forms of every key of a record about to be written.
std::vector<std::string> KeysOf(const OpenFile& f, const uint8_t* record) {
  std::vector<std::string> keys;
  for (size_t k = 0; k < f.def.keys.size(); ++k) keys.push_back(CollationFormOf(f.def, k, KeyValueOf(f.def, k, record)));
  return keys;
}

// True when every key segment holds the same bytes in both records, so
// that every key's collation form is the same too.
bool SameKeyBytes(const OpenFile& f, const uint8_t* a, const uint8_t* b) {
  for (const KeyDefinition& key : f.def.keys) {
    for (const SegmentDefinition& seg : key.segments) {
      if (std::memcmp(a + seg.position - 1, b + seg.position - 1, seg.length) != 0) return false;
    }
  }
  return true;
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
    sqlite3_stmt* s = f.whole ? f.insertWhole : f.insert;
    sqlite3_bind_blob(s, 1, data, f.def.recordLength, SQLITE_STATIC);
    BindKeys(s, keys);
    rc = Step(s);
    sqlite3_reset(s);
    // A whole transaction counts its records once, at its end.
    if (rc == SQLITE_DONE) {
      rc = SQLITE_OK;
      if (f.whole) ++f.pendingCount;
      else rc = AddToCount(f, 1);
    }
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
    if (f.inTransaction) {
      f.lastRead.assign(static_cast<const char*>(data), f.def.recordLength);
      f.lastReadId = id;
    }
  }
  return RmSuccess;
}

int16_t UpdateRequest(OpenFile& f, const void* data, const uint32_t* dataLen, void* key) {
  if (f.readOnly) return RmReadOnly;
  if (!f.onRecord) return RmNoCurrentRecord;
  if (data == nullptr || dataLen == nullptr || *dataLen != f.def.recordLength) return RmRecordLengthMismatch;
  // A whole transaction looks at the locks once, at its end, for every
  // record it updated.
  if (!f.whole && f.locks.HeldElsewhere(f.posId)) return RmRecordLocked;
  const auto* record = static_cast<const uint8_t*>(data);
  std::vector<std::string> keys;
  bool sameKeys = false;
  int rc = SQLITE_OK;
  // The keys of the record as stored, compared with the new ones: the same
  // bytes in every segment (a state, an amount changed) need no collation
  // forms; otherwise the forms decide, and a key that may not change must
  // not.
  auto compare = [&](const uint8_t* old) {
    sameKeys = SameKeyBytes(f, old, record);
    if (sameKeys) return RmSuccess;
    keys = KeysOf(f, record);
    const std::vector<std::string> oldKeys = KeysOf(f, old);
    for (size_t k = 0; k < keys.size(); ++k) {
      if (!f.def.keys[k].modifiable && keys[k] != oldKeys[k]) return RmKeyNotModifiable;
    }
    sameKeys = keys == oldKeys;
    return RmSuccess;
  };
  int16_t checked = RmSuccess;
  if (f.inTransaction && f.lastReadId == f.posId && f.lastRead.size() == f.def.recordLength) {
    // Read within the transaction, in which nobody else writes: as stored.
    f.StopWalk();
    checked = compare(reinterpret_cast<const uint8_t*>(f.lastRead.data()));
  } else {
    rc = ReadById(f, f.posId);
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? int16_t{RmNoCurrentRecord} : StatusOf(rc, f.db);
    const void* old = sqlite3_column_blob(f.byId, 1);
    const bool oldWhole = old != nullptr && sqlite3_column_bytes(f.byId, 1) == f.def.recordLength;
    if (oldWhole) checked = compare(static_cast<const uint8_t*>(old));
    sqlite3_reset(f.byId);
    if (!oldWhole) return RmIoError;
  }
  if (checked != RmSuccess) return checked;
  WriteGuard guard(f);
  rc = guard.Begin();
  if (rc == SQLITE_OK) {
    // A change that leaves every key as it was (a state, an amount) writes
    // the record alone.
    sqlite3_stmt* s = sameKeys ? f.updateData : f.update;
    sqlite3_bind_blob(s, 1, data, f.def.recordLength, SQLITE_STATIC);
    if (sameKeys) {
      sqlite3_bind_int64(s, 2, f.posId);
    } else {
      BindKeys(s, keys);
      sqlite3_bind_int64(s, static_cast<int>(keys.size()) + 2, f.posId);
    }
    rc = Step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE) rc = sqlite3_changes(f.db) == 1 ? SQLITE_OK : SQLITE_NOTFOUND;
  }
  if (rc == SQLITE_NOTFOUND) return RmNoCurrentRecord;
  if (rc == SQLITE_OK) rc = guard.Commit();
  if (rc != SQLITE_OK) return StatusOf(rc, f.db);
  // Keys of the same bytes leave the position's key as it was.
  if (!keys.empty()) f.posKey = keys[static_cast<size_t>(f.keyNum)];
  f.locks.Release(f.posId);
  if (f.whole) f.updated.push_back(f.posId);
  if (f.inTransaction) {
    f.lastRead.assign(static_cast<const char*>(data), f.def.recordLength);
    f.lastReadId = f.posId;
  }
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
    if (rc == SQLITE_DONE && sqlite3_changes(f.db) == 1 && f.whole) {
      --f.pendingCount;
      rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
      rc = sqlite3_changes(f.db) == 1 ? AddToCount(f, -1) : SQLITE_NOTFOUND;
    }
  }
  if (rc == SQLITE_NOTFOUND) return RmNoCurrentRecord;
  if (rc == SQLITE_OK) rc = guard.Commit();
  if (rc != SQLITE_OK) return StatusOf(rc, f.db);
  // The position stays between the neighbours of the deleted record.
  if (f.lastReadId == f.posId) f.lastReadId = 0;
  f.onRecord = false;
  f.locks.Release(f.posId);
  return RmSuccess;
}

int16_t StatRequest(OpenFile& f, void* data, uint32_t* dataLen) {
  int rc = Step(f.countRead);
  int64_t count = rc == SQLITE_ROW ? sqlite3_column_int64(f.countRead, 0) + f.pendingCount : 0;
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

int16_t TransactionRequest(OpenFile& f, uint16_t op, int8_t kind) {
  f.StopWalk();
  f.lastReadId = 0;
  if (op == RmBeginTransaction) {
    if (f.readOnly) return RmReadOnly;
    if (f.inTransaction) return RmInvalidOperation;
    int rc = Exec(f.db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return StatusOf(rc, f.db);
    f.inTransaction = true;
    f.whole = kind == RmWholeTransaction;
    f.doomed = RmSuccess;
    f.updated.clear();
    return RmSuccess;
  }
  if (!f.inTransaction) return RmInvalidOperation;
  const bool whole = f.whole;
  const int64_t pending = f.pendingCount;
  int16_t status = f.doomed;
  f.inTransaction = false;
  f.whole = false;
  f.doomed = RmSuccess;
  f.pendingCount = 0;
  if (op == RmEndTransaction) {
    // Nothing of a doomed whole transaction is kept, nor anything of one
    // that updated a record another handle holds locked.
    if (whole && status == RmSuccess && f.locks.AnyHeldElsewhere(f.updated)) status = RmRecordLocked;
    f.updated.clear();
    if (status == RmSuccess && pending != 0) {
      const int rc = AddToCount(f, static_cast<int>(pending));
      if (rc != SQLITE_OK) status = StatusOf(rc, f.db);
    }
    if (status == RmSuccess) {
      int rc = Exec(f.db, "COMMIT");
      if (rc == SQLITE_OK) return RmSuccess;
      status = StatusOf(rc, f.db);
    }
    sqlite3_exec(f.db, "ROLLBACK", nullptr, nullptr, nullptr);
    f.ClearPosition();
    return status;
  }
  f.updated.clear();
  sqlite3_exec(f.db, "ROLLBACK", nullptr, nullptr, nullptr);
  f.ClearPosition();
  return RmSuccess;
}

int16_t UnlockRequest(OpenFile& f, const void* data, const uint32_t* dataLen, int8_t keyNum) {
  if (keyNum == -1) {
    if (data == nullptr || dataLen == nullptr || *dataLen < 4) return RmInvalidPosition;
    f.locks.Release(PositionIn(data));
    return RmSuccess;
  }
  f.locks.ReleaseAll();
  return RmSuccess;
}

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
  if (!lock.wanted && ContinuesWalk(*f, base, keyNum)) return StepWalk(*f, keyNum, data, dataLen, key);
  f->lastUse = NowMillis();  // a walk's steps do not count: see engine_snapshot.cpp
  const bool keyed = (base >= RmGetEqual && base <= RmGetLast) || base == RmGetDirect;
  if (keyed && (keyNum < 0 || keyNum >= static_cast<int>(f->def.keys.size()))) {
    SetDataLength(dataLen, 0);
    return RmInvalidKeyNumber;
  }
  BeforeRequest(*f, base, keyNum);
  // A whole transaction whose write failed writes nothing more.
  if (f->doomed != RmSuccess &&
      (base == RmInsert || base == RmUpdate || base == RmDelete || base == RmSetOwner || base == RmClearOwner)) {
    return f->doomed;
  }
  switch (base) {
    case RmClose:
      CloseFile(posBlock);
      return RmSuccess;
    case RmInsert:
      return Doom(*f, InsertRequest(*f, data, dataLen, keyNum));
    case RmUpdate:
      return Doom(*f, UpdateRequest(*f, data, dataLen, key));
    case RmDelete:
      return Doom(*f, DeleteRequest(*f));
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
      return TransactionRequest(*f, base, keyNum);
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
    case RmReleaseSnapshot:
      return RmSuccess;  // BeforeRequest did it
    case RmSetOwner:
      return Doom(*f, OwnerRequest(*f, true, data, dataLen));
    case RmClearOwner:
      return Doom(*f, OwnerRequest(*f, false, data, dataLen));
    default:
      return RmInvalidOperation;
  }
}

}  // namespace

}  // namespace recman_engine

void FailStorageCallAfter(int64_t count) { recman_engine::g_faultCountdown = count < 0 ? -1 : count; }

int64_t StorageCallCount() { return recman_engine::g_storageCalls; }

void AdvanceRecordManagerClock(int64_t millis) { recman_engine::g_clockAdvanceMillis += millis; }

int16_t RecordManagerCall(uint16_t op, void* posBlock, void* data, uint32_t* dataLen, void* key, uint8_t keyLen,
                          int8_t keyNum) {
  try {
    return recman_engine::Request(op, posBlock, data, dataLen, key, keyLen, keyNum);
  } catch (...) {
    // Only memory can run out here (the engine's own storage); the request
    // is answered as failed storage rather than thrown at the caller.
    recman_engine::SetDataLength(dataLen, 0);
    return RmIoError;
  }
}
