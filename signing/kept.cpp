#include "signing/kept.h"

#include "base/files.h"
#include "base/text.h"
#include "recman/recman.h"
#include "records/dictionaries.h"

namespace {

std::string SequenceKey(int32_t v) {
  std::string key(4, '\0');
  for (int i = 0; i < 4; ++i) key[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return key;
}

}  // namespace

std::string KeptFileCreationSpecification() {
  return EncodeCreationSpecification(KeptRecordSize, 1,
                                     {{FieldPosition(SignedRecordFields::Sequence), 4, RmBinary, 0}}, RmNoCover);
}

std::string KeptText(const std::string& record, RecordField field) {
  if (record.size() < static_cast<size_t>(field.offset) + field.width) return std::string();
  return TrimRight(record.substr(field.offset, field.width));
}

int32_t KeptInt(const std::string& record, RecordField field) {
  if (record.size() < static_cast<size_t>(field.offset) + field.width) return 0;
  return FieldInt32(reinterpret_cast<const uint8_t*>(record.data()), field);
}

std::string KeptXml(const std::string& record, RecordField lengthField, RecordField xmlField) {
  const int32_t length = KeptInt(record, lengthField);
  if (length <= 0 || static_cast<uint32_t>(length) > xmlField.width || record.size() < xmlField.offset + xmlField.width)
    return std::string();
  return record.substr(xmlField.offset, static_cast<size_t>(length));
}

KeptFile::~KeptFile() {
  if (!open_) return;
  uint32_t len = 0;
  uint8_t key[256] = {};
  (void)Call(RmClose, nullptr, &len, key, 0);
}

int16_t KeptFile::Call(uint16_t op, void* data, uint32_t* len, void* key, int8_t keyNum) {
  return RecordManagerCall(op, position_, data, len, key, 255, keyNum);
}

int16_t KeptFile::Open(const std::string& hostPath, bool readOnly) {
  const std::string path = hostPath + ".dat";
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t key[256] = {};
  path.copy(reinterpret_cast<char*>(key), path.size());
  if (!IsRegularFile(path)) {
    if (readOnly) return RmFileNotFound;
    std::string spec = KeptFileCreationSpecification();
    uint32_t len = static_cast<uint32_t>(spec.size());
    const int16_t created = Call(RmCreate, spec.data(), &len, key, -1);
    if (created != RmSuccess && created != RmFileExists) return created;
  }
  char owner[8] = {};
  uint32_t len = 0;
  const int16_t status = Call(RmOpen, owner, &len, key, readOnly ? -2 : 0);
  open_ = status == RmSuccess;
  return status;
}

int16_t KeptFile::ReadAll(std::vector<KeptRecord>& out) {
  out.clear();
  if (!open_) return RmFileNotOpen;
  std::string rec(KeptRecordSize, '\0');
  uint8_t key[256] = {};
  uint32_t len = KeptRecordSize;
  int16_t status = Call(RmGetFirst, rec.data(), &len, key, 0);
  while (status == RmSuccess) {
    out.push_back({KeptInt(rec, SignedRecordFields::Sequence), rec});
    len = KeptRecordSize;
    status = Call(RmGetNext, rec.data(), &len, key, 0);
  }
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}

int16_t KeptFile::Get(int32_t sequence, KeptRecord& out) {
  if (!open_) return RmFileNotOpen;
  std::string rec(KeptRecordSize, '\0');
  uint8_t key[256] = {};
  SequenceKey(sequence).copy(reinterpret_cast<char*>(key), 4);
  uint32_t len = KeptRecordSize;
  const int16_t status = Call(RmGetEqual, rec.data(), &len, key, 0);
  if (status == RmSuccess) out = {sequence, rec};
  return status;
}

int16_t KeptFile::Last(KeptRecord& out) {
  if (!open_) return RmFileNotOpen;
  std::string rec(KeptRecordSize, '\0');
  uint8_t key[256] = {};
  uint32_t len = KeptRecordSize;
  const int16_t status = Call(RmGetLast, rec.data(), &len, key, 0);
  if (status == RmSuccess) out = {KeptInt(rec, SignedRecordFields::Sequence), rec};
  return status;
}

int16_t KeptFile::Replace(const std::vector<KeptRecord>& records) {
  if (!open_) return RmFileNotOpen;
  if (records.empty()) return RmSuccess;
  uint8_t key[256] = {};
  uint32_t len = 0;
  int16_t status = Call(RmBeginTransaction, nullptr, &len, key, 0);
  if (status != RmSuccess) return status;
  // What a stopped run left from this sequence on is not part of the chain.
  std::string rec(KeptRecordSize, '\0');
  for (;;) {
    SequenceKey(records.front().sequence).copy(reinterpret_cast<char*>(key), 4);
    len = KeptRecordSize;
    status = Call(RmGetGreaterOrEqual, rec.data(), &len, key, 0);
    if (status != RmSuccess) break;
    len = KeptRecordSize;
    status = Call(RmDelete, rec.data(), &len, key, 0);
    if (status != RmSuccess) break;
  }
  if (status == RmEndOfFile || status == RmKeyNotFound) status = RmSuccess;
  for (size_t i = 0; status == RmSuccess && i < records.size(); ++i) {
    std::string bytes = records[i].bytes;
    bytes.resize(KeptRecordSize, ' ');
    len = KeptRecordSize;
    status = Call(RmInsert, bytes.data(), &len, key, 0);
  }
  len = 0;
  if (status != RmSuccess) {
    (void)Call(RmAbortTransaction, nullptr, &len, key, 0);
    return status;
  }
  return Call(RmEndTransaction, nullptr, &len, key, 0);
}

int16_t KeptFile::AppendNext(const std::function<int16_t(const KeptRecord* last, std::string& next)>& make) {
  if (!open_) return RmFileNotOpen;
  uint8_t key[256] = {};
  uint32_t len = 0;
  int16_t status = Call(RmBeginTransaction, nullptr, &len, key, 0);
  if (status != RmSuccess) return status;
  KeptRecord last;
  status = Last(last);
  const bool haveLast = status == RmSuccess;
  if (status == RmEndOfFile) status = RmSuccess;
  std::string next;
  if (status == RmSuccess) status = make(haveLast ? &last : nullptr, next);
  if (status == RmSuccess) {
    next.resize(KeptRecordSize, ' ');
    len = KeptRecordSize;
    status = Call(RmInsert, next.data(), &len, key, 0);
  }
  len = 0;
  if (status != RmSuccess) {
    (void)Call(RmAbortTransaction, nullptr, &len, key, 0);
    return status;
  }
  return Call(RmEndTransaction, nullptr, &len, key, 0);
}
