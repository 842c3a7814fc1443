// Reading by position: get-direct (23) and the records a walk reads again.
//
// Direct reads: from the second direct read of a snapshot a handle keeps a
// blob handle on the records table and moves it to each position asked for,
// which costs the seek alone. It reads in the kept snapshot, so it closes
// when the snapshot ends, before every write and when the handle is
// released; a miss falls back to the by-position statement. When it opens
// and closes is the table at the top of engine_snapshot.cpp.
#include <cstring>
#include <string>
#include <string_view>

#include "recman/engine_internal.h"

namespace recman_engine {

namespace {

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

}  // namespace

int16_t DeliverById(OpenFile& f, int k, void* data, uint32_t* dataLen, void* key) {
  const int16_t status = DeliverRecord(f, k, sqlite3_column_int64(f.byId, 0), sqlite3_column_blob(f.byId, 1),
                                       sqlite3_column_bytes(f.byId, 1), data, dataLen, key);
  sqlite3_reset(f.byId);
  return status;
}

int16_t GetDirectRequest(OpenFile& f, const LockRequest& lock, void* data, uint32_t* dataLen, void* key, int k) {
  if (data == nullptr || dataLen == nullptr || *dataLen < 4) return RmInvalidPosition;
  const int64_t id = PositionIn(data);
  if (id == 0) {
    SetDataLength(dataLen, 0);
    return RmInvalidPosition;
  }
  // The position is known good: look for commits, after the lock if asked.
  if (lock.wanted) {
    int16_t status = LockForRead(f, id, lock);
    if (status != RmSuccess) {
      SetDataLength(dataLen, 0);
      return status;
    }
  } else {
    f.FreshSnapshot();
  }
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

}  // namespace recman_engine
