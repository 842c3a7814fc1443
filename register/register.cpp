#include "register/register.h"

#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "recman/recman.h"

namespace {

namespace F = RegisterFields;

std::string Int32Key(int32_t v) {
  std::string key(4, '\0');
  for (int i = 0; i < 4; ++i) key[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return key;
}

}  // namespace

InvoiceRegister::~InvoiceRegister() {
  if (open_) {
    uint32_t len = 0;
    uint8_t key[256] = {};
    (void)Call(RmClose, nullptr, &len, key, 0);
  }
}

int16_t InvoiceRegister::Call(uint16_t op, void* data, uint32_t* dataLen, void* key, int8_t keyNum) {
  return RecordManagerCall(op, position_, data, dataLen, key, 255, keyNum);
}

int16_t InvoiceRegister::Open(const std::string& hostPath, const std::string& dictionaryHostPath, bool readOnly) {
  std::string path = hostPath;
  const size_t slash = path.find_last_of('/');
  if (path.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos) path += ".dat";
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t key[256] = {};
  path.copy(reinterpret_cast<char*>(key), path.size());

  if (!readOnly && !IsRegularFile(path)) {
    std::string dictionary;
    std::string spec;
    if (ReadRegularFile(dictionaryHostPath, dictionary, 4096) == ReadResult::Ok && dictionary.size() >= 2) {
      const size_t n = static_cast<uint8_t>(dictionary[0]) | (static_cast<uint8_t>(dictionary[1]) << 8);
      if (n > 0 && dictionary.size() - 2 >= n) spec = dictionary.substr(2, n);
    }
    if (spec.empty()) return RmInvalidOperation;
    uint32_t len = static_cast<uint32_t>(spec.size());
    const int16_t created = Call(RmCreate, spec.data(), &len, key, -1);
    // Another process may have made it in the meantime: open it then.
    if (created != RmSuccess && created != RmFileExists) return created;
  }
  char owner[8] = {};
  uint32_t len = 0;
  const int16_t status = Call(RmOpen, owner, &len, key, readOnly ? -2 : 0);
  open_ = status == RmSuccess;
  return status;
}

int16_t InvoiceRegister::HighestNumber(int32_t& number) {
  number = 0;
  uint8_t rec[RegisterRecordSize];
  uint32_t len = sizeof rec;
  uint8_t key[256] = {};
  const int16_t status = Call(RmGetLast, rec, &len, key, 0);
  if (status == RmEndOfFile || status == RmKeyNotFound) return RmSuccess;
  if (status != RmSuccess) return status;
  number = FieldInt32(rec, F::Number);
  return RmSuccess;
}

int16_t InvoiceRegister::ReadAll(std::vector<RegisterEntry>& entries, bool byDate) {
  entries.clear();
  uint8_t rec[RegisterRecordSize];
  uint8_t key[256] = {};
  uint32_t len = sizeof rec;
  const int8_t keyNum = static_cast<int8_t>(byDate ? 1 : 3);
  int16_t status = Call(RmGetFirst, rec, &len, key, keyNum);
  while (status == RmSuccess) {
    entries.push_back(DecodeRegisterRecord(rec));
    len = sizeof rec;
    status = Call(RmGetNext, rec, &len, key, keyNum);
  }
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}

int16_t InvoiceRegister::Find(int32_t number, RegisterEntry& entry) {
  uint8_t rec[RegisterRecordSize];
  uint32_t len = sizeof rec;
  uint8_t key[256] = {};
  const std::string value = Int32Key(number);
  value.copy(reinterpret_cast<char*>(key), value.size());
  const int16_t status = Call(RmGetEqual, rec, &len, key, 0);
  if (status == RmSuccess) entry = DecodeRegisterRecord(rec);
  return status;
}

int16_t InvoiceRegister::TryAppend(std::vector<RegisterEntry>& entries, const std::string& generatedAt,
                                   int32_t& firstIssued) {
  uint32_t len = 0;
  uint8_t key[256] = {};
  int16_t status = Call(RmBeginTransaction, nullptr, &len, key, 0);
  if (status != RmSuccess) return status;

  // Inside the transaction nobody else writes: the last record of the chain
  // and the numbers read here stay true until the commit.
  uint8_t rec[RegisterRecordSize];
  len = sizeof rec;
  int32_t sequence = 0;
  std::string previous;
  std::string previousSeal;
  status = Call(RmGetLast, rec, &len, key, 3);
  if (status == RmSuccess) {
    sequence = FieldInt32(rec, F::Sequence);
    previous = TrimRight(FieldBytes(rec, F::Fingerprint));
    previousSeal = TrimRight(FieldBytes(rec, F::Seal));
  } else if (status == RmEndOfFile || status == RmKeyNotFound) {
    status = RmSuccess;
  }
  for (size_t i = 0; status == RmSuccess && i < entries.size(); ++i) {
    RegisterEntry found;
    const int16_t lookup = Find(entries[i].number, found);
    if (lookup == RmSuccess) {
      firstIssued = entries[i].number;
      status = RegisterNumberIssued;
    } else if (lookup != RmKeyNotFound) {
      status = lookup;
    }
  }
  for (size_t i = 0; status == RmSuccess && i < entries.size(); ++i) {
    RegisterEntry& e = entries[i];
    e.sequence = ++sequence;
    e.previousFingerprint = previous;
    e.generatedAt = generatedAt;
    e.fingerprint = ComputeFingerprint(e);
    e.seal = ComputeSeal(e, previousSeal);
    previous = e.fingerprint;
    previousSeal = e.seal;
    std::string bytes = EncodeRegisterRecord(e);
    len = static_cast<uint32_t>(bytes.size());
    status = Call(RmInsert, bytes.data(), &len, key, 0);
    if (status == RmDuplicateKey) {
      firstIssued = e.number;
      status = RegisterNumberIssued;
    }
  }
  len = 0;
  if (status != RmSuccess) {
    (void)Call(RmAbortTransaction, nullptr, &len, key, 0);
    return status;
  }
  return Call(RmEndTransaction, nullptr, &len, key, 0);
}

int16_t InvoiceRegister::Append(std::vector<RegisterEntry>& entries, const std::string& generatedAt,
                                int32_t& firstIssued, const std::function<bool()>& waitLocked) {
  firstIssued = 0;
  if (!open_) return RmFileNotOpen;
  for (;;) {
    std::vector<RegisterEntry> attempt = entries;
    const int16_t status = TryAppend(attempt, generatedAt, firstIssued);
    if (status == RmSuccess) {
      entries = std::move(attempt);
      return status;
    }
    if (status != RmFileLocked || !waitLocked || !waitLocked()) return status;
  }
}

