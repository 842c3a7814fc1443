#include "tests/support/damage.h"

#include <cstring>

#include "recman/recman.h"

namespace {

// The record of key at path changed by change, or deleted when change is empty.
int16_t AlterStoredRecord(const std::string& path, const std::string& key,
                          const std::function<void(std::string& record)>& change) {
  uint8_t position[128] = {};
  char keyBuffer[256] = {};
  path.copy(keyBuffer, sizeof keyBuffer - 1);
  char owner[8] = {};
  uint32_t length = 0;
  int16_t status = RecordManagerCall(RmOpen, position, owner, &length, keyBuffer, 255, 0);
  if (status != RmSuccess) return status;
  std::memset(keyBuffer, 0, sizeof keyBuffer);
  key.copy(keyBuffer, sizeof keyBuffer);
  std::string record(65535, '\0');
  length = static_cast<uint32_t>(record.size());
  status = RecordManagerCall(RmGetEqual, position, record.data(), &length, keyBuffer, 255, 0);
  if (status == RmSuccess) {
    record.resize(length);
    if (change) change(record);
    status = RecordManagerCall(change ? RmUpdate : RmDelete, position, record.data(), &length, keyBuffer, 255, 0);
  }
  length = 0;
  const int16_t closed = RecordManagerCall(RmClose, position, nullptr, &length, keyBuffer, 255, 0);
  return status != RmSuccess ? status : closed;
}

}  // namespace

int16_t ChangeStoredRecord(const std::string& path, const std::string& key,
                           const std::function<void(std::string& record)>& change) {
  // No change is a mistake of the test, never a silent success.
  return change ? AlterStoredRecord(path, key, change) : static_cast<int16_t>(RmInvalidOperation);
}

int16_t RemoveStoredRecord(const std::string& path, const std::string& key) { return AlterStoredRecord(path, key, {}); }

std::string NumberKey(int32_t number) {
  std::string key(sizeof number, '\0');
  std::memcpy(key.data(), &number, sizeof number);
  return key;
}

std::string SeriesNumberKey(const std::string& series, int32_t number) {
  std::string key = series;
  key.resize(RegisterSeriesWidth, ' ');
  return key + NumberKey(number);
}

int16_t WriteEarlierRegister(const std::string& path, std::vector<RegisterEntry>& entries) {
  uint8_t position[128] = {};
  char key[256] = {};
  (path + ".dat").copy(key, sizeof key - 1);
  std::string spec = EarlierRegisterCreationSpecification();
  uint32_t length = static_cast<uint32_t>(spec.size());
  int16_t status = RecordManagerCall(RmCreate, position, spec.data(), &length, key, 255, -1);
  char owner[8] = {};
  length = 0;
  if (status == RmSuccess) status = RecordManagerCall(RmOpen, position, owner, &length, key, 255, 0);
  std::string previous, previousSeal;
  for (size_t i = 0; status == RmSuccess && i < entries.size(); ++i) {
    RegisterEntry& e = entries[i];
    e.layout = EarlierRegisterFields::kLayout;
    e.sequence = static_cast<int32_t>(i + 1);
    e.previousFingerprint = previous;
    e.fingerprint = ComputeFingerprint(e);
    e.seal = ComputeSeal(e, previousSeal);
    previous = e.fingerprint;
    previousSeal = e.seal;
    std::string bytes = EncodeRegisterRecord(e);
    length = static_cast<uint32_t>(bytes.size());
    status = RecordManagerCall(RmInsert, position, bytes.data(), &length, key, 255, 0);
  }
  length = 0;
  const int16_t closed = RecordManagerCall(RmClose, position, nullptr, &length, key, 255, 0);
  return status != RmSuccess ? status : closed;
}
