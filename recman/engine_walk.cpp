// Walking a key: the get requests (5-13) and the steps of a walk.
//
// Each key has six prepared statements, three per direction: the rest of the
// duplicates of one key value (same value, id beyond a bound), the key values
// beyond it, and the key values from it on. A handle keeps the statement it
// walks with open while the caller steps the same way along the same key, so
// get-next costs one sqlite3_step; anything else resets it and the next step
// seeks again from the current (key, id). An open statement reads one WAL
// snapshot, so a walk never sees a torn record while another process writes.
// A forward seek (equal, greater or equal) whose key falls between the record
// a walk stepped from (or the key it began at) and the record it stands on
// finds that record: the walk's statement delivers it again and goes on,
// without seeking; so does the production pass when it seeks the next unit's
// receipts right where its walk left the previous unit. When a step may go on
// without looking for commits, and when a seek may take the walk's record, is
// the table at the top of engine_snapshot.cpp.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "recman/engine_internal.h"

namespace recman_engine {

namespace {

// Where a walk starts, relative to a key value (and a record id).
enum class WalkStart {
  After,      // after (key, id): the rest of key's duplicates, then beyond
  Beyond,     // after every record of the key value
  AtOrAfter,  // at the key value's first record (last, walking backward)
};

int StartWalkOnce(OpenFile& f, int k, bool forward, const std::string& from, int64_t bound, WalkStart start);

// Starts a walk of key k from a key value in collation form and takes one
// step. `bound` is the record id for WalkStart::After. Key 0's statements
// name the covering index; when another process has taken it away
// (UncoverRecordFile) they can no longer be run, and are made again after
// the file's indexes as they are now.
int StartWalk(OpenFile& f, int k, bool forward, const std::string& from, int64_t bound, WalkStart start) {
  const int rc = StartWalkOnce(f, k, forward, from, bound, start);
  if ((rc & 0xFF) != SQLITE_ERROR || k != 0 || !f.coveredWalks) return rc;
  const std::string value = from;  // from may be the walk's own key
  if (PrepareWalks(f) != SQLITE_OK) return rc;
  return StartWalkOnce(f, k, forward, value, bound, start);
}

int StartWalkOnce(OpenFile& f, int k, bool forward, const std::string& from, int64_t bound, WalkStart start) {
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
  int16_t status = LockForRead(f, id, lock);
  if (status != RmSuccess) {
    SetDataLength(dataLen, 0);
    return status;
  }
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

}  // namespace

int16_t StepWalk(OpenFile& f, int k, void* data, uint32_t* dataLen, void* key) {
  const int rc = ContinueWalk(f);
  if (rc == SQLITE_ROW) return FinishRead(f, k, LockRequest{}, data, dataLen, key);
  SetDataLength(dataLen, 0);
  return rc == SQLITE_DONE ? int16_t{RmEndOfFile} : StatusOf(rc, f.db);  // at the end the position stays
}

// Pre: BeforeRequest has readied the handle: the snapshot is current unless
// this is the next step of the walk.
int16_t GetRequest(OpenFile& f, uint16_t op, const LockRequest& lock, void* data, uint32_t* dataLen, void* key,
                   uint8_t keyLen, int k) {
  int rc = SQLITE_DONE;
  const std::string* wanted = nullptr;
  switch (op) {
    case RmGetNext:
    case RmGetPrevious: {
      if (!f.positioned) {
        SetDataLength(dataLen, 0);
        return RmNoCurrentRecord;
      }
      const bool forward = op == RmGetNext;
      if (ContinuesWalk(f, op, k)) {
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

}  // namespace recman_engine
