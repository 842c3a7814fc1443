#include "tests/support/damage.h"

#include <cstring>

#include "recman/recman.h"

int16_t ChangeStoredRecord(const std::string& path, const std::string& key,
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
    change(record);
    status = RecordManagerCall(RmUpdate, position, record.data(), &length, keyBuffer, 255, 0);
  }
  length = 0;
  const int16_t closed = RecordManagerCall(RmClose, position, nullptr, &length, keyBuffer, 255, 0);
  return status != RmSuccess ? status : closed;
}

std::string NumberKey(int32_t number) {
  std::string key(sizeof number, '\0');
  std::memcpy(key.data(), &number, sizeof number);
  return key;
}
