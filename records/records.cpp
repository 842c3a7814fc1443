// The record-file layer over RecordManagerCall: the file table, opening with
// creation from the dictionary, positioning and moving by key, positions,
// collation forms, lock modes and the locked-record retry.
#include "records/records.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "recman/recman.h"
#include "records/messages.h"
#include "records/report.h"
#include "base/codepage.h"
#include "base/files.h"
#include "base/paths.h"

namespace {

constexpr size_t PositionBlockSize = 128;
constexpr size_t MaxFullNameLength = 255;
constexpr size_t StatSegmentStart = 16;
constexpr size_t StatSegmentSize = 16;
constexpr size_t CollatingBlockSize = 265;  // signature, 8 name bytes, 256 entries

struct RecordFileSlot {
  int16_t fileId = 0;  // 0: free
  std::array<uint8_t, PositionBlockSize> positionBlock{};
  uint8_t* recordArea = nullptr;
  uint32_t areaSize = 0;  // 0: the caller vouches for the record length
  int32_t recordLength = 0;
  // How many bytes a read offers and copies into the record area, worked
  // out once at open (AreaLength).
  uint32_t areaLength = 0;
  int16_t keyNumber = 0;
  // The current key value is the first keyLength bytes of `key` (after open
  // and each seek exactly as long as the key, at most 255). The array is
  // also the key buffer of the reads, so the key the record manager hands
  // back is in place without a copy. Invariant: every byte from keyClean on
  // is keyTail, so a read needs to fill only what an earlier one may have
  // written.
  std::array<uint8_t, RecordKeyBufferSize> key{};
  uint16_t keyLength = 0;
  uint16_t keyClean = 0;
  uint8_t keyTail = 0;
  int16_t lockMode = 0;  // 0 plain, 1 locking with wait, 2 locking no wait
  // The file statistics, fetched once per open: record length, keys and
  // collating sequence do not change while the file is open, and a status
  // request costs the record manager a count of the records.
  std::vector<uint8_t> statistics;
  // The length of each key as KeyInfo gives it, worked out with the
  // statistics (a key the reply is cut short in is as long as its
  // segments there; keys past the cut are missing).
  std::vector<int16_t> keyLengths;
};

// Slot 0 only lends its position block to the reset request.
std::array<RecordFileSlot, RecordFileSlots + 1> RecordFileTable;

// The data buffer of the reads and position requests, one for the process:
// the layer is single-threaded and no request is made inside another.
// Invariant: every byte from `dirty` on is a blank, so a request needs to
// blank only what an earlier one may have written.
struct DataBuffer {
  std::array<uint8_t, RecordDataBufferSize> bytes;
  size_t dirty = RecordDataBufferSize;  // at first nothing is known
};
DataBuffer RequestData;

// The data buffer, blank from byte `keep` on; the first `keep` bytes are
// the caller's to fill.
uint8_t* BlankDataBuffer(size_t keep) {
  if (RequestData.dirty > keep) std::memset(RequestData.bytes.data() + keep, ' ', RequestData.dirty - keep);
  RequestData.dirty = keep;
  return RequestData.bytes.data();
}

// After a request that offered `offered` bytes of the buffer and was told
// that `returned` bytes were put there: the record manager writes no further.
void DataBufferUsed(uint32_t offered, uint32_t returned) {
  RequestData.dirty = std::min<size_t>(RecordDataBufferSize, std::max(offered, returned));
}

struct LockModeEntry {
  int16_t slot;
  int16_t mode;
};
// Newest entry at the end.
std::vector<LockModeEntry> LockModeStack;

void ClearSlot(RecordFileSlot& s) { s = RecordFileSlot{}; }

RecordFileSlot* OpenSlot(int16_t fileId) {
  int16_t slot = FindFileSlot(fileId);
  return slot > 0 ? &RecordFileTable[static_cast<size_t>(slot)] : nullptr;
}

RecordManagerEntry Entry = RecordManagerCall;

RecordSettings Settings;

int16_t Call(uint16_t op, RecordFileSlot& s, void* data, uint32_t* dataLen, void* key, uint8_t keyLen,
             int16_t keyNum) {
  return Entry(op, s.positionBlock.data(), data, dataLen, key, keyLen, static_cast<int8_t>(keyNum));
}

// Directory, base name and extension of a suite file name. Scanning from the
// end, the first of ":\/" ends the last component; within it the first "."
// starts the extension.
struct SplitName {
  std::string directory;
  std::string base;
  std::string extension;
};

SplitName SplitFileName(const std::string& name) {
  size_t componentStart = 0;
  size_t dot = std::string::npos;
  for (size_t i = name.size(); i-- > 0;) {
    char c = name[i];
    if (c == ':' || c == '\\' || c == '/') {
      componentStart = i + 1;
      break;
    }
    if (c == '.') dot = i;
  }
  SplitName out;
  out.directory = name.substr(0, componentStart);
  if (dot == std::string::npos) {
    out.base = name.substr(componentStart);
    out.extension = ".dat";
  } else {
    out.base = name.substr(componentStart, dot - componentStart);
    out.extension = name.substr(dot);
  }
  return out;
}

// A dictionary holds a 2-byte length and at most a data buffer's worth of
// specification; a file far larger is no dictionary and is not read whole.
constexpr size_t DictionaryFileLimit = 64u << 10;

// The creation specification of a dictionary file, blank-padded to the data
// buffer's size. A dictionary that is missing, not a regular file (a
// directory, a device), larger than DictionaryFileLimit, empty, has a length
// field outside 1..1536 or holds fewer bytes than its length field says
// gives all blanks: the record manager then refuses the create with its own
// status, and no file is made from a half specification.
std::vector<uint8_t> DictionarySpecification(const std::string& base) {
  std::vector<uint8_t> creation(RecordDataBufferSize, ' ');
  std::string bytes;
  if (ReadRegularFile(HostPath(Settings.rootDir + "ddf\\" + base + ".xdf"), bytes, DictionaryFileLimit) !=
      ReadResult::Ok) {
    return creation;
  }
  if (bytes.size() < 2) return creation;
  int16_t n = static_cast<int16_t>(static_cast<uint8_t>(bytes[0]) | (static_cast<uint8_t>(bytes[1]) << 8));
  if (n <= 0 || static_cast<uint32_t>(n) > RecordDataBufferSize || bytes.size() - 2 < static_cast<size_t>(n)) {
    return creation;
  }
  std::memcpy(creation.data(), bytes.data() + 2, static_cast<size_t>(n));
  return creation;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct Segment {
  uint16_t length;
  uint16_t flags;
};

std::vector<std::vector<Segment>> KeySegments(const std::vector<uint8_t>& stat, int lastKey, size_t* segmentEnd);

// The length of every key the statistics describe, each at most 255.
std::vector<int16_t> KeyLengths(const std::vector<uint8_t>& stat) {
  std::vector<int16_t> lengths;
  const int numberOfKeys = U16(stat.data() + 4);
  if (numberOfKeys == 0) return lengths;
  for (const std::vector<Segment>& key : KeySegments(stat, numberOfKeys - 1, nullptr)) {
    int32_t total = 0;
    for (const Segment& seg : key) total += seg.length;
    lengths.push_back(static_cast<int16_t>(std::min<int32_t>(total, 255)));
  }
  return lengths;
}

// Fetches the file statistics as KeyInfo and CollationForm read them: a
// first status request over 1536 blanks, then a second one over a buffer
// beginning with page-size NUL bytes. Returns the record manager's status;
// on 0 the reply is kept in the slot.
int16_t FetchStatistics(RecordFileSlot& s) {
  std::vector<uint8_t> data(RecordDataBufferSize, ' ');
  std::array<uint8_t, RecordKeyBufferSize> key;
  key.fill(' ');
  key[255] = 0;
  uint32_t len = RecordDataBufferSize;
  int16_t st = Call(RmStat, s, data.data(), &len, key.data(), 255, 0);
  if (st != 0) return st;
  size_t pageSize = std::min<size_t>(U16(data.data() + 2), RecordDataBufferSize);
  std::fill(data.begin(), data.end(), ' ');
  std::fill(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(pageSize), 0);
  key.fill(' ');
  key[255] = 0;
  len = RecordDataBufferSize;
  st = Call(RmStat, s, data.data(), &len, key.data(), 255, 0);
  if (st == 0) {
    s.statistics = std::move(data);
    s.keyLengths = KeyLengths(s.statistics);
  }
  return st;
}

// The slot's file statistics, fetched on first use; empty when the record
// manager cannot give them.
const std::vector<uint8_t>& FileStatistics(RecordFileSlot& s) {
  if (s.statistics.empty()) FetchStatistics(s);
  return s.statistics;
}

// The segments of keys 0..lastKey, grouped per key. Stops at the end of the
// reply buffer, so a damaged reply never reads past it.
std::vector<std::vector<Segment>> KeySegments(const std::vector<uint8_t>& stat, int lastKey, size_t* segmentEnd) {
  std::vector<std::vector<Segment>> keys;
  size_t offset = StatSegmentStart;
  for (int k = 0; k <= lastKey; ++k) {
    std::vector<Segment> segs;
    for (;;) {
      if (offset + StatSegmentSize > stat.size()) {
        if (segmentEnd) *segmentEnd = stat.size();
        keys.push_back(segs);
        return keys;
      }
      Segment seg{U16(stat.data() + offset + 2), U16(stat.data() + offset + 4)};
      segs.push_back(seg);
      offset += StatSegmentSize;
      if (!(seg.flags & RmSegmented)) break;
    }
    keys.push_back(segs);
  }
  if (segmentEnd) *segmentEnd = offset;
  return keys;
}

// How many bytes of a record the caller's area takes: the record length,
// never more than the data buffer or the area's declared size.
uint32_t AreaLength(const RecordFileSlot& s) {
  uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(s.recordLength), RecordDataBufferSize);
  if (s.areaSize != 0) n = std::min(n, s.areaSize);
  return n;
}

// Copies what a read returned into the caller's record area.
inline void CopyToRecordArea(RecordFileSlot& s, const uint8_t* data, uint32_t returned) {
  uint32_t n = std::min(returned, s.areaLength);
  if (s.recordArea && n > 0) std::memcpy(s.recordArea, data, n);
}

std::string_view KeyValue(const RecordFileSlot& s) {
  return std::string_view(reinterpret_cast<const char*>(s.key.data()), s.keyLength);
}

// Makes the current key value `value` cut or NUL-padded to `length` bytes.
// Pre: length <= 255.
void SetKeyValue(RecordFileSlot& s, std::string_view value, size_t length) {
  const size_t copied = std::min(value.size(), length);
  if (copied != 0) std::memcpy(s.key.data(), value.data(), copied);
  std::memset(s.key.data() + copied, 0, length - copied);
  s.keyLength = static_cast<uint16_t>(length);
  s.keyClean = std::max(s.keyClean, s.keyLength);
}

// The current key value becomes the returned key up to its first NUL byte,
// never longer than it was.
void TakeReturnedKey(RecordFileSlot& s, const uint8_t* key, size_t size) {
  const size_t returned = static_cast<size_t>(std::find(key, key + size, 0) - key);
  const std::string_view value(reinterpret_cast<const char*>(key), std::min<size_t>(returned, s.keyLength));
  SetKeyValue(s, value, value.size());
}

// The slot's key buffer ready for a read: the current key value, then
// `fill` up to the end.
uint8_t* KeyBuffer(RecordFileSlot& s, uint8_t fill) {
  uint8_t* const key = s.key.data();
  if (s.keyTail != fill) {
    std::memset(key + s.keyLength, fill, s.key.size() - s.keyLength);
    s.keyTail = fill;
  } else if (s.keyClean > s.keyLength) {
    std::memset(key + s.keyLength, fill, s.keyClean - s.keyLength);
  }
  s.keyClean = s.keyLength;
  return key;
}

// After a read with the slot's key buffer: the record manager writes the
// key value of the record it read there, as many bytes as the key has.
void KeyBufferUsed(RecordFileSlot& s) {
  const size_t k = static_cast<size_t>(s.keyNumber);
  const size_t written = k < s.keyLengths.size() ? static_cast<size_t>(s.keyLengths[k]) : s.key.size();
  s.keyClean = static_cast<uint16_t>(std::max<size_t>(s.keyLength, written));
}

bool TakesLockBias(uint16_t op) {
  return (op >= 5 && op <= 13) || op == 19 || (op >= 22 && op <= 24) || (op >= 33 && op <= 35);
}

// Message, key, files closed, record manager reset, end of the program.
void EndAfterOpenFailure(const std::string& fileName, int16_t failed) {
  RecordFileHooks& h = RecordHooks();
  if (h.ShowMessage) {
    std::string text = kRecordTexts.Text(RecordMessage::OpenFailed, Settings.language);
    // The name holds the suite root, a host path in UTF-8: shown in the one
    // form of paths in messages, converted to the code page like the text.
    h.ShowMessage(12, text + Cp858ForDisplay(TidyHostPath(fileName)) + " (" + std::to_string(failed) + ")");
  }
  if (h.Beep) h.Beep();
  if (h.DiscardKeys) h.DiscardKeys();
  if (h.WaitKey) h.WaitKey();
  if (h.CloseMessage) h.CloseMessage();
  if (h.CloseFiles) h.CloseFiles();
  int16_t resetStatus = 0;
  ResetRecordFiles(resetStatus);
  if (h.EndProgram) h.EndProgram();
}

}  // namespace

void SetRecordSettings(const RecordSettings& settings) { Settings = settings; }

void SetRecordManagerEntry(RecordManagerEntry entry) { Entry = entry ? entry : RecordManagerCall; }

std::string RecordFileOwnerName() {
  std::string name;
  name += static_cast<char>('J' + 1);
  name += static_cast<char>('U' + 1);
  name += static_cast<char>('0' + 2);
  name += static_cast<char>('0' + 6);
  name += '\0';
  return name;
}

int16_t FindFileSlot(int16_t fileId) {
  // The slot last found for an id is tried first: ids are unique in the
  // table, so a slot holding the id is the one the walk would find.
  static std::array<int16_t, 16> lastFound{};
  int16_t& hint = lastFound[static_cast<uint16_t>(fileId) % lastFound.size()];
  if (fileId != 0 && hint > 0 && RecordFileTable[static_cast<size_t>(hint)].fileId == fileId) return hint;
  int16_t freeSlot = 0;
  for (int16_t i = 1; i <= RecordFileSlots; ++i) {
    const RecordFileSlot& s = RecordFileTable[static_cast<size_t>(i)];
    if (s.fileId == fileId && fileId != 0) {
      hint = i;
      return i;
    }
    if (s.fileId == 0) freeSlot = i;
  }
  return static_cast<int16_t>(-freeSlot);
}

void OpenRecordFile(int16_t fileId, const std::string& fileName, void* recordArea, int16_t& status,
                    uint32_t areaSize) {
  if (fileId == 0) {
    status = RecordFileNotOpen;
    return;
  }
  int16_t found = FindFileSlot(fileId);
  if (found > 0) {
    status = RecordFileAlreadyOpen;
    return;
  }
  if (found == 0) {
    status = RecordFileTableFull;
    return;
  }
  RecordFileSlot& s = RecordFileTable[static_cast<size_t>(-found)];
  ClearSlot(s);
  s.fileId = fileId;
  s.recordArea = static_cast<uint8_t*>(recordArea);
  s.areaSize = areaSize;

  SplitName parts = SplitFileName(fileName);
  std::string fullName = parts.directory + parts.base + parts.extension;
  if (fullName.size() > MaxFullNameLength) {
    // The name does not fit the key buffer; opening a cut name would reach
    // another file.
    EndAfterOpenFailure(fileName, RmInvalidFileName);
    status = RmInvalidFileName;
    return;
  }
  std::array<uint8_t, RecordKeyBufferSize> key{};
  std::memcpy(key.data(), fullName.data(), fullName.size());
  const uint8_t keyLen = static_cast<uint8_t>(fullName.size());

  bool created = false;
  int16_t st = 0;
  for (;;) {
    std::string owner = RecordFileOwnerName();
    uint32_t len = static_cast<uint32_t>(owner.size());
    st = Call(RmOpen, s, owner.data(), &len, key.data(), keyLen, 0);
    if (st == RmFileLocked) {
      if (RecordHooks().Sleep) RecordHooks().Sleep(3000);
      continue;
    }
    if (st == RmFileNotFound && !created) {
      std::vector<uint8_t> creation = DictionarySpecification(parts.base);
      uint32_t creationLen = RecordDataBufferSize;
      st = Call(RmCreate, s, creation.data(), &creationLen, key.data(), keyLen, -1);
      if (st == 0) {
        created = true;
        continue;
      }
    }
    break;
  }
  // A file that opens but cannot describe itself is as unusable as one
  // that does not open.
  if (st == 0) st = FetchStatistics(s);
  if (st != 0) {
    EndAfterOpenFailure(fileName, st);
    status = st;
    return;
  }
  int16_t keyLength = 0;
  int32_t recordLength = 0;
  KeyInfo(fileId, 0, keyLength, recordLength);
  SetKeyValue(s, std::string_view(), static_cast<size_t>(keyLength));
  s.recordLength = recordLength;
  s.areaLength = AreaLength(s);
  status = 0;
}

void ResetRecordFiles(int16_t& status) {
  RecordFileSlot& s0 = RecordFileTable[0];
  s0.positionBlock.fill(' ');
  std::array<uint8_t, 4> area{};
  uint32_t len = 0;
  status = Call(RmReset, s0, area.data(), &len, area.data(), 0, 0);
  s0.positionBlock.fill(0);
  if (status != 0) return;
  for (int i = 1; i <= RecordFileSlots; ++i) ClearSlot(RecordFileTable[static_cast<size_t>(i)]);
  // Saved modes belong to the files just closed.
  LockModeStack.clear();
}

void KeyInfo(int16_t fileId, int16_t keyNum, int16_t& keyLength, int32_t& recordLength) {
  keyLength = 0;
  recordLength = 0;
  RecordFileSlot* s = OpenSlot(fileId);
  if (!s) return;
  const std::vector<uint8_t>& stat = FileStatistics(*s);
  if (stat.empty()) return;
  recordLength = U16(stat.data());
  int numberOfKeys = U16(stat.data() + 4);
  if (keyNum < 0 || keyNum >= numberOfKeys) return;
  if (static_cast<size_t>(keyNum) >= s->keyLengths.size()) return;
  keyLength = s->keyLengths[static_cast<size_t>(keyNum)];
}

void HoldReadSnapshot(int16_t fileId, bool hold, int16_t& status) {
  const int16_t slot = FindFileSlot(fileId);
  if (slot <= 0) {
    status = RecordFileNotOpen;
    return;
  }
  uint32_t none = 0;
  std::array<uint8_t, RecordKeyBufferSize> key{};
  status = Call(hold ? RmHoldSnapshot : RmReleaseSnapshot, RecordFileTable[static_cast<size_t>(slot)], nullptr,
                &none, key.data(), 0, 0);
}

void SetLockMode(int16_t fileId, const std::string& letters, int16_t& status) {
  int16_t slot = FindFileSlot(fileId);
  if (slot <= 0) {
    status = RecordFileNotOpen;
    return;
  }
  RecordFileSlot& s = RecordFileTable[static_cast<size_t>(slot)];
  for (char c : letters) {
    switch (c) {
      case 'D': case 'd': s.lockMode = 0; break;
      case 'A': case 'a': s.lockMode = 1; break;
      case 'B': case 'b': s.lockMode = 2; break;
      case '+': LockModeStack.push_back({slot, s.lockMode}); break;
      case '-':
        for (auto it = LockModeStack.rbegin(); it != LockModeStack.rend(); ++it) {
          if (it->slot == slot) {
            s.lockMode = it->mode;
            LockModeStack.erase(std::next(it).base());
            break;
          }
        }
        break;
      default: break;
    }
  }
}

namespace {

// ReadWithRetry on an open slot. The hooks are looked up only for a conflict.
void ReadRecord(RecordFileSlot& s, uint16_t op, int16_t& status) {
  if (s.lockMode != 0 && TakesLockBias(op)) op = static_cast<uint16_t>(op + RmSingleLockNoWait);
  int attempts = 0;
  uint8_t keyFill = ' ';
  if (op == RmGetGreater || op == RmGetGreaterOrEqual) keyFill = 0;
  if (op == RmGetLess || op == RmGetLessOrEqual) keyFill = 0xFF;
  const uint32_t recordLength = s.areaLength;
  for (;;) {
    if (attempts == 1) {
      RecordFileHooks& h = RecordHooks();
      if (h.ShowMessage) h.ShowMessage(24, kRecordTexts.Text(RecordMessage::FileLocked, Settings.language));
    }
    uint8_t* data = BlankDataBuffer(s.recordArea ? recordLength : 0);
    if (s.recordArea) std::memcpy(data, s.recordArea, recordLength);
    uint8_t* key = KeyBuffer(s, keyFill);
    uint32_t len = recordLength;
    status = Call(op, s, data, &len, key, static_cast<uint8_t>(s.keyLength), s.keyNumber);
    KeyBufferUsed(s);
    DataBufferUsed(recordLength, len);
    CopyToRecordArea(s, data, len);
    if ((status == RmRecordLocked || status == RmFileLocked) && s.lockMode == 1) {
      RecordFileHooks& h = RecordHooks();
      double fraction = h.RandomFraction ? h.RandomFraction() : 0.0;
      if (h.Sleep) h.Sleep(static_cast<int>(std::lround(fraction * 10000.0 + 1.0)));
      if (attempts < 2) ++attempts;
      continue;
    }
    break;
  }
  if (attempts != 0) {
    RecordFileHooks& h = RecordHooks();
    if (h.CloseMessage) h.CloseMessage();
  }
}

// The steps of a move before the last one: each into buffers of its own,
// the record area untouched, the key of the record stepped onto kept.
// Stops at the first status other than 0 and 22.
void StepsBeforeTheLast(RecordFileSlot& s, uint16_t op, int32_t steps, int16_t& status) {
  std::vector<uint8_t> data(RecordDataBufferSize);
  std::array<uint8_t, RecordKeyBufferSize> key{};
  for (; steps > 0 && status == 0; --steps) {
    uint32_t len = RecordDataBufferSize;
    // The whole key buffer is offered, so the record manager can hand back
    // the key of the record it stepped onto.
    status = Call(op, s, data.data(), &len, key.data(), 255, s.keyNumber);
    TakeReturnedKey(s, key.data(), key.size());
    if (status == RmDataBufferTooShort) status = 0;
  }
}

}  // namespace

void ReadWithRetry(int16_t slot, uint16_t op, int16_t& status) {
  if (slot < 1 || slot > RecordFileSlots || RecordFileTable[static_cast<size_t>(slot)].fileId == 0) {
    status = RecordFileNotOpen;
    return;
  }
  ReadRecord(RecordFileTable[static_cast<size_t>(slot)], op, status);
}

void SeekRecord(int16_t fileId, int16_t keyNum, const std::string& keyValue, int16_t direction, int16_t& status) {
  int16_t slot = FindFileSlot(fileId);
  if (slot <= 0) {
    status = RecordFileNotOpen;
    return;
  }
  int16_t keyLength = 0;
  int32_t recordLength = 0;
  KeyInfo(fileId, keyNum, keyLength, recordLength);
  if (keyLength == 0) {
    status = RecordKeyMissing;
    return;
  }
  RecordFileSlot& s = RecordFileTable[static_cast<size_t>(slot)];
  s.keyNumber = keyNum;
  SetKeyValue(s, keyValue, static_cast<size_t>(keyLength));
  uint16_t op = direction == 0 ? RmGetEqual : direction > 0 ? RmGetGreaterOrEqual : RmGetLessOrEqual;
  status = 0;
  ReadRecord(s, op, status);
  if (status == RmDataBufferTooShort) status = 0;
}

void MoveRecord(int16_t fileId, int16_t count, int16_t& status) {
  int16_t slot = FindFileSlot(fileId);
  if (slot <= 0) {
    status = RecordFileNotOpen;
    return;
  }
  RecordFileSlot& s = RecordFileTable[static_cast<size_t>(slot)];
  const uint16_t op = count >= 0 ? RmGetNext : RmGetPrevious;
  status = 0;
  const int32_t n = std::abs(static_cast<int32_t>(count));
  if (n == 0) return;
  if (n > 1) StepsBeforeTheLast(s, op, n - 1, status);
  if (status == 0) {
    ReadRecord(s, op, status);
    if (status == RmDataBufferTooShort) status = 0;
  }
}

int32_t RecordPosition(int16_t fileId, int32_t position) {
  RecordFileSlot* s = OpenSlot(fileId);
  if (!s) return 0;
  uint8_t* data = BlankDataBuffer(4);
  if (position == 0) {
    std::fill(data, data + 4, 0);
    std::array<uint8_t, 4> area{};
    uint32_t len = RecordDataBufferSize;
    int16_t st = Call(RmGetPosition, *s, data, &len, area.data(), 0, 0);
    DataBufferUsed(RecordDataBufferSize, len);
    if (st != 0) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                                (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24));
  }
  uint32_t p = static_cast<uint32_t>(position);
  for (int i = 0; i < 4; ++i) data[static_cast<size_t>(i)] = static_cast<uint8_t>((p >> (8 * i)) & 0xFF);
  std::array<uint8_t, RecordKeyBufferSize> key{};
  uint32_t len = RecordDataBufferSize;
  int16_t st = Call(RmGetDirect, *s, data, &len, key.data(), 0, s->keyNumber);
  DataBufferUsed(RecordDataBufferSize, len);
  TakeReturnedKey(*s, key.data(), key.size());
  if (st == RmDataBufferTooShort) st = 0;
  if (st == 0) CopyToRecordArea(*s, data, len);
  return st;
}

std::string CollationForm(const std::string& keyValue, int16_t fileId) {
  RecordFileSlot* s = OpenSlot(fileId);
  if (!s) return keyValue;
  const std::vector<uint8_t>& stat = FileStatistics(*s);
  if (stat.empty()) return keyValue;
  int numberOfKeys = U16(stat.data() + 4);
  // The collating sequence follows the segments of all keys.
  size_t segmentEnd = 0;
  auto allKeys = KeySegments(stat, numberOfKeys - 1, &segmentEnd);
  const uint8_t* table = nullptr;
  if (segmentEnd + CollatingBlockSize <= stat.size()) table = stat.data() + segmentEnd + 9;
  if (s->keyNumber < 0 || static_cast<size_t>(s->keyNumber) >= allKeys.size()) return keyValue;

  std::string out = keyValue;
  size_t p = 0;
  for (const Segment& seg : allKeys[static_cast<size_t>(s->keyNumber)]) {
    const size_t end = p + seg.length;
    if (seg.flags & RmBinary) {
      if (out.size() < end) out.resize(end, '\0');
      std::reverse(out.begin() + static_cast<std::ptrdiff_t>(p), out.begin() + static_cast<std::ptrdiff_t>(end));
    } else if ((seg.flags & RmAlternateCollation) && table) {
      for (size_t i = p; i < end && i < out.size(); ++i) {
        out[i] = static_cast<char>(table[static_cast<uint8_t>(out[i])]);
      }
    }
    p = end;
  }
  return out;
}

std::string CurrentKeyCollation(int16_t fileId) {
  RecordFileSlot* s = OpenSlot(fileId);
  if (!s) return std::string();
  return CollationForm(std::string(KeyValue(*s)), fileId);
}

int16_t ReadEveryRecord(const std::string& hostPath, uint32_t recordSize,
                        const std::function<void(const uint8_t* record)>& each) {
  const std::string path = hostPath + ".dat";
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t block[128] = {};
  char key[256] = {};
  path.copy(key, path.size());
  std::string owner = RecordFileOwnerName();
  uint32_t length = static_cast<uint32_t>(owner.size());
  int16_t status = RecordManagerCall(RmOpen, block, owner.data(), &length, key, 255, -2);
  if (status != RmSuccess) return status;
  std::vector<uint8_t> record(recordSize);
  for (uint16_t op = RmGetFirst;; op = RmGetNext) {
    length = recordSize;
    std::fill(record.begin(), record.end(), static_cast<uint8_t>(' '));
    status = RecordManagerCall(op, block, record.data(), &length, key, 255, 0);
    if (status != RmSuccess) break;
    each(record.data());
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}
