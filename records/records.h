// The record-file layer: every access of the module to its indexed data
// files goes through here, on top of the record manager's RecordManagerCall.
//
// Callers name a file by a nonzero 16-bit file id of their own choosing and
// hand over, when they open it, the address of their own record area; every
// successful read copies the record there (at most the file's record length)
// and keeps the current key value in the layer. The layer only reads: there
// is no insert, update or delete here.
//
// The file table has 40 slots (1 to 40); a slot is claimed by
// OpenRecordFile and freed only by a successful ResetRecordFiles (there is no
// per-file close). The table and the lock-mode stack are process-wide; the
// module is single-threaded and so is this layer.
//
// Status numbers: 0 success; the record manager's own numbers (recman.h)
// passed through; and the layer's own:
//   3     the file id is not open (same meaning as the record manager's 3)
//   1002  the file id is already open
//   1003  no free slot: 40 files are open
//   1004  the requested key number does not exist in the file
// No routine throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/language.h"

inline constexpr int16_t RecordFileNotOpen = 3;
inline constexpr int16_t RecordFileAlreadyOpen = 1002;
inline constexpr int16_t RecordFileTableFull = 1003;
inline constexpr int16_t RecordKeyMissing = 1004;

// What the layer takes from the session, handed down once at start-up by
// the main flow (tests set it directly).
struct RecordSettings {
  // The suite root as the session keeps it, ending in a separator
  // ("/srv/zep/\"): dictionaries are rootDir + "ddf\" + base + ".xdf".
  std::string rootDir;
  // The language of the open-failure and lock messages.
  Language language = Language::Catalan;
};

// Replaces the settings in force; until the first call the root is empty
// (dictionaries under the working directory) and messages are Catalan.
void SetRecordSettings(const RecordSettings& settings);

inline constexpr int RecordFileSlots = 40;
// Sizes of the per-request buffers: records are at most 1536 bytes long,
// keys and full file names at most 255 bytes.
inline constexpr uint32_t RecordDataBufferSize = 1536;
inline constexpr uint32_t RecordKeyBufferSize = 256;

// Opens fileName under fileId with recordArea as its record area.
// fileName is a suite path ("DADES\PropietV"); without an extension in its
// last component ".dat" is added. A file that does not exist is created from
// its dictionary, rootDir + "ddf\" + base name + ".xdf" (RecordSettings),
// then opened. While
// another user holds the file locked (85) the open is retried every 3 s.
// status: 0; 1002 or 1003 without any message. Any other failure shows
// the open-failure message in the settings' language (the file name in the
// form TidyHostPath gives, converted from UTF-8 to code page 850) with the record
// manager's status, waits for a key, closes every file and ends the program
// through the hooks of records/report.h (when a test's end hook returns,
// status holds the failed status).
// areaSize, when not 0, is the size of recordArea: a file whose records are
// longer is read cut to it instead of writing past the area.
// fileId 0 is no file id: status 3.
// Pre: recordArea holds at least the file's record length, or areaSize bytes.
void OpenRecordFile(int16_t fileId, const std::string& fileName, void* recordArea, int16_t& status,
                    uint32_t areaSize = 0);

// Closes every file of the process in the record manager; on status 0 the
// whole table (and the lock-mode stack) is cleared.
void ResetRecordFiles(int16_t& status);

// Applies the letters left to right, case-insensitive: "D" plain reads
// (mode 0), "A" locking reads that wait out conflicts with a message (1),
// "B" locking reads that return conflicts at once (2), "+" pushes the
// current mode, "-" restores this file's newest pushed mode (nothing when
// none); other letters are ignored. status: 3 when the file is not open,
// otherwise left as the caller set it.
void SetLockMode(int16_t fileId, const std::string& letters, int16_t& status);

// hold true: from the next read on, every read of the file sees one state
// of it, whatever other users commit, until the hold is ended (hold false).
// A production pass holds its files for the whole pass, so it never sees
// half of another user's import. status: 0, or 3 when the file is not open.
void HoldReadSnapshot(int16_t fileId, bool hold, int16_t& status);

// Reads the record whose key number keyNum matches keyValue: direction 0
// equal, > 0 greater or equal, < 0 less or equal. keyValue is padded with
// NUL bytes or cut to the key's length (a partial key). On 1004 the current
// key number and value are left as they were. Status 22 becomes 0 (the
// record is read cut to the record length).
void SeekRecord(int16_t fileId, int16_t keyNum, const std::string& keyValue, int16_t direction,
                int16_t& status);

// Moves |count| records along the current key (forward for count >= 0,
// backward for a negative count) and reads only the last one into the
// record area; stops at the first nonzero status (e.g. 9) without copying.
// A count of 0 changes nothing and gives 0.
void MoveRecord(int16_t fileId, int16_t count, int16_t& status);

// position 0: the current record's position, or 0 when it cannot be had
// (no current record, file not open). Nonzero position: reads the record at
// that position under the current key number into the record area and
// returns the status (0 when the file is not open).
int32_t RecordPosition(int16_t fileId, int32_t position);

// The current key value in collation form (byte order is key order); the
// empty text when the file is not open.
std::string CurrentKeyCollation(int16_t fileId);

// keyValue in collation form under the file's current key: binary segments
// reversed (a value cut short is padded with NULs first), alternate
// collating sequence segments translated; other bytes as they are. The key
// value unchanged when the file is not open.
std::string CollationForm(const std::string& keyValue, int16_t fileId);

// The length of key keyNum and the file's record length; key length 0 when
// the key does not exist, both 0 when the file is not open.
void KeyInfo(int16_t fileId, int16_t keyNum, int16_t& keyLength, int32_t& recordLength);

// The slot (1..40) holding fileId; if none, minus the number of a free slot
// (the highest free one); 0 when no slot is free.
int16_t FindFileSlot(int16_t fileId);

// One record-manager read on slot with operation op (5-13, 22-24 ...), into
// the slot's record area, keeping the current key value; adds the lock bias
// under lock modes 1 and 2 and, under mode 1, waits out 84/85 with the lock
// message. A slot that holds no file gives status 3.
void ReadWithRetry(int16_t slot, uint16_t op, int16_t& status);

// The entry point the layer calls: RecordManagerCall unless a test has put
// a stand-in there. nullptr restores RecordManagerCall.
using RecordManagerEntry = int16_t (*)(uint16_t op, void* posBlock, void* data, uint32_t* dataLen, void* key,
                                       uint8_t keyLen, int8_t keyNum);
void SetRecordManagerEntry(RecordManagerEntry entry);

// The owner name the module's data files carry, four characters followed by
// a NUL byte (5 bytes), assembled on each call.
std::string RecordFileOwnerName();

// Reads every record of the data file at hostPath (its name without ".dat",
// as the host writes it), opened read-only in key order, giving each one to
// each in a record area of recordSize bytes filled with blanks beyond what
// the file holds. RmSuccess after the last record, or the status of the
// open or the read that failed (each has then been given only the records
// read before it).
int16_t ReadEveryRecord(const std::string& hostPath, uint32_t recordSize,
                        const std::function<void(const uint8_t* record)>& each);

