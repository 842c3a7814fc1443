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
  RmDataBufferTooShort = 22,
  RmRecordLengthMismatch = 28,
  RmInvalidPosition = 43,
  RmReadOnly = 46,
  RmWrongOwner = 51,
  RmFileExists = 59,
  RmRecordLocked = 84,
  RmFileLocked = 85,
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

// A short English text naming a status, for messages and the recman tool.
std::string RecordManagerStatusText(int16_t status);
