// The record manager: indexed files of fixed-length records kept in SQLite,
// one database per data file. Everything goes through RecordManagerCall.
//
// A data file is one SQLite database (WAL mode) at the full path given to the
// open or create request. The caller's 128-byte position block holds the
// engine's handle for the open file and a check value, never a pointer; the
// engine keeps the current record, key number and key value per handle. A
// handle belongs to the process that opened it.
#pragma once

#include <cstdint>
#include <string>

// RecordManagerCall(op, posBlock, data, dataLen, key, keyLen, keyNum)
//   op       operation code, plus a lock bias for reads (see below)
//   posBlock 128 bytes owned by the caller, written only by the engine
//   data     data buffer; *dataLen in: its usable size, out: bytes put there
//   key      key buffer; a get that returns a key writes the record's key value
//            (its segments' bytes as stored in the record) there; callers size
//            it at 255 bytes or more. keyLen is read only as input length.
//   keyNum   key number; for open 0 normal, -2 read-only; for create -1
//            refuses an existing file
// Returns a status (RmStatus). Never throws, never crashes on damaged files.
// Any write may also give 18 (disk full) or 94 (permission denied), and any
// request 2 when the storage fails otherwise or the file is damaged.
// Not thread-safe: one thread of a process makes all its calls.
//
// Requests, and what each reads and changes:
//   open (0)     key: path + NUL within the first 256 bytes (else 11); data:
//                owner name up to NUL or *dataLen. 12 missing, 2 damaged or
//                foreign or a directory, 51 owner differs, 85 busy, 94 the
//                user may not read it (or, opening for writing, may not make
//                the write-ahead log beside it), 95 name too long. A
//                read-only open (-2) works in a folder the user can only
//                read; lock requests then give 85. Fills posBlock; no
//                current record.
//   create (14)  key: path + NUL; data: creation block of *dataLen bytes (1 or
//                28 when bad). keyNum -1: 59 when the file exists; otherwise
//                an existing file is replaced. The file appears whole or not
//                at all. 18 disk full, 94 the folder may not be written, 95
//                the name leaves no room for the names derived from it (a
//                temporary name, "-wal", "-shm", "-lck"). posBlock is not
//                used.
//   insert (2)   *dataLen must equal the record length (28). 5 on a unique
//                key's duplicate. With keyNum >= 0 the new record becomes
//                current on that key; keyNum -1 leaves the position alone.
//   update (3), delete (4)  the current record (8 without one); 84 when
//                another handle holds its lock; update gives 10 when a key
//                without the modifiable flag changes. After a delete there is
//                no current record, but next/previous go on from its place.
//   gets 5-13    the search key is the first keyLen bytes of the key buffer,
//                padded with NULs to the key's length. 5 misses with 4; 8-13
//                with nothing in that direction give 9; either drops the
//                position. 6/7 without a position give 8; past the end 9,
//                the position staying on the last record. A record longer
//                than the buffer is returned cut with 22 and still counts as
//                read. 6/7 with another key number than the last get go on
//                from the current record along the new key.
//   stat (15)    the creation block with the record count (22 when cut).
//   get position (22)  4 bytes little-endian in data; key buffer untouched.
//   get direct (23)    position in the first 4 data bytes; 43 when no record
//                has it; the record becomes current on keyNum.
//   transactions (19 begin, 20 end, 21 abort)  on this open file only; a
//                close or reset aborts an open one. Begin with keyNum 0
//                (RmPartialTransaction): a write request that fails inside
//                it changes nothing and the transaction goes on. Begin with
//                keyNum 1 (RmWholeTransaction), for a batch of writes kept
//                all or none: the first write request that does not give 0
//                ends what the transaction did (every later write gives that
//                status and writes nothing; end gives it too, keeping
//                nothing); an
//                update does not look at other handles' record locks but the
//                end does, once for every record the transaction updated (84
//                then, nothing kept). In either kind an update of the record
//                the handle read last within the transaction does not read
//                it again.
//   unlock (27)  keyNum -1: the multiple lock whose position is in the first
//                4 data bytes; otherwise every lock of the handle.
//   reset (28)   closes every file of the process (posBlock not needed).
//   set owner (29) data: name up to NUL (1 when empty); clear owner (30).
//                Both give 46 on a read-only handle.
// Lock biases: a locked record cannot be lock-read (84) nor updated or
// deleted (84) through another handle, in this process or another, until its
// holder unlocks, takes another single lock, updates or deletes it, closes,
// resets or dies. A wait bias waits for another process; a lock held by
// another handle of the same process gives 84 at once, since waiting would
// never end. A read that fails with 84 changes neither position nor buffers.
int16_t RecordManagerCall(uint16_t op, void* posBlock, void* data, uint32_t* dataLen,
                          void* key, uint8_t keyLen, int8_t keyNum);

enum RmOperation : uint16_t {
  RmOpen = 0,
  RmClose = 1,
  RmInsert = 2,
  RmUpdate = 3,
  RmDelete = 4,
  RmGetEqual = 5,
  RmGetNext = 6,
  RmGetPrevious = 7,
  RmGetGreater = 8,
  RmGetGreaterOrEqual = 9,
  RmGetLess = 10,
  RmGetLessOrEqual = 11,
  RmGetFirst = 12,
  RmGetLast = 13,
  RmCreate = 14,
  RmStat = 15,
  RmBeginTransaction = 19,  // of this open file only
  RmEndTransaction = 20,
  RmAbortTransaction = 21,
  RmGetPosition = 22,
  RmGetDirect = 23,
  RmVersion = 26,
  RmUnlock = 27,
  RmReset = 28,
  RmSetOwner = 29,
  RmClearOwner = 30,
  // Holds the handle's read snapshot: from its next read until op 42, every
  // read of the handle sees one state of the file, whatever other processes
  // commit meanwhile (a production pass reads a whole run from one state).
  // A write of the handle starts from the latest commit and the hold goes on
  // from there. Held snapshots keep the write-ahead log from being emptied:
  // release them as soon as the reading is done. Holding a held snapshot
  // keeps it. Neither fails on an open handle.
  RmHoldSnapshot = 41,
  RmReleaseSnapshot = 42,
};

// Lock biases added to read operations 5-13 and 23.
enum RmLockBias : uint16_t {
  RmSingleLockWait = 100,
  RmMultipleLockWait = 300,
  RmSingleLockNoWait = 200,
  RmMultipleLockNoWait = 400,
};

enum RmStatus : int16_t {
  RmSuccess = 0,
  RmInvalidOperation = 1,
  RmIoError = 2,
  RmFileNotOpen = 3,
  RmKeyNotFound = 4,
  RmDuplicateKey = 5,
  RmInvalidKeyNumber = 6,
  RmNoCurrentRecord = 8,
  RmEndOfFile = 9,
  RmKeyNotModifiable = 10,  // an update changed a key without the modifiable flag
  RmInvalidFileName = 11,   // empty path, or no NUL within the first 256 key bytes
  RmFileNotFound = 12,
  RmDiskFull = 18,           // no room left on the disk (or the file size limit reached)
  RmDataBufferTooShort = 22,
  RmRecordLengthMismatch = 28,
  RmInvalidPosition = 43,
  RmReadOnly = 46,
  RmWrongOwner = 51,
  RmFileExists = 59,
  RmRecordLocked = 84,
  RmFileLocked = 85,
  RmPermissionDenied = 94,  // the file or its folder may not be read or written by this user
  RmNameTooLong = 95,       // the file name, or a name the engine derives from it, is too long
};

// Creation specification flags of a file. RmNoCover: no covering index of
// key 0 (see the engine's database layout), with duplicates or without, for
// a file that is written more than it is walked and whose records are
// large. A file made with the flag by an engine that still covered a key 0
// with duplicates loses its covering index at recman upgrade, or when its
// owner asks (UncoverRecordFile, maintenance.h).
enum RmFileFlag : uint16_t {
  RmNoCover = 0x4000,
};

// The kinds of transaction, as the keyNum of begin transaction (19).
enum RmTransactionKind : int8_t {
  RmPartialTransaction = 0,
  RmWholeTransaction = 1,
};

// Creation specification and stat reply flags of a key segment.
enum RmSegmentFlag : uint16_t {
  RmDuplicates = 0x0001,
  RmModifiable = 0x0002,
  RmBinary = 0x0004,
  RmSegmented = 0x0010,
  RmAlternateCollation = 0x0020,
  RmDescending = 0x0040,
};

// Releases every read snapshot the process's open files keep between
// requests (and the walk statements standing on a row), so that no checkpoint
// of the write-ahead log waits for this process. Positions, locks and
// transactions stay; the next request of each handle starts a fresh snapshot
// and a walk goes on from its current record. The program calls it before a
// wait longer than a moment, such as a key wait: without a thread the engine
// cannot notice that its process sleeps. (A request that takes a new snapshot
// also releases those of the process's handles idle for 200 ms.) Cheap when
// nothing is kept; never fails.
void RecordManagerIdle();

// A short English text naming a status, for messages and the recman tool.
std::string RecordManagerStatusText(int16_t status);
