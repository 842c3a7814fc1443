#include "support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "tests/support/fork_gate.h"

namespace {
void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
}  // namespace

std::string CreationBlock(uint16_t recordLength, const std::vector<std::vector<Seg>>& keys,
                          const std::string& collating) {
  std::string out;
  Put16(out, recordLength);
  Put16(out, 1024);
  Put16(out, static_cast<uint16_t>(keys.size()));
  out.append(10, '\0');
  for (const auto& key : keys) {
    for (size_t s = 0; s < key.size(); ++s) {
      Put16(out, key[s].position);
      Put16(out, key[s].length);
      Put16(out, static_cast<uint16_t>(key[s].flags | (s + 1 < key.size() ? RmSegmented : 0)));
      out.append(10, '\0');
    }
  }
  if (!collating.empty()) {
    out.push_back('\xAC');
    out += "TESTSEQ ";
    out += collating;
  }
  return out;
}

int16_t CreateFile(const std::string& path, const std::string& block, int8_t keyNum) {
  std::string data = block;
  std::string key = path;
  key.resize(std::max<size_t>(key.size() + 1, 256), '\0');
  uint8_t pos[128] = {};
  uint32_t len = static_cast<uint32_t>(data.size());
  return RecordManagerCall(RmCreate, pos, data.data(), &len, key.data(), static_cast<uint8_t>(std::min<size_t>(path.size(), 255)),
                           keyNum);
}

Handle::~Handle() {
  if (open) Close();
}

int16_t Handle::Open(const std::string& path, const std::string& owner, int8_t mode) {
  std::string name = owner;
  name.push_back('\0');
  std::string k = path;
  k.resize(std::max<size_t>(k.size() + 1, 256), '\0');
  uint32_t len = static_cast<uint32_t>(name.size());
  int16_t s = RecordManagerCall(RmOpen, block, name.data(), &len, k.data(),
                                static_cast<uint8_t>(std::min<size_t>(path.size(), 255)), mode);
  open = s == RmSuccess;
  return s;
}

int16_t Handle::Close() {
  uint32_t len = 0;
  open = false;
  return RecordManagerCall(RmClose, block, nullptr, &len, nullptr, 0, 0);
}

int16_t Handle::Get(uint16_t op, const std::string& keyValue, int8_t keyNum, uint32_t room) {
  std::string buffer(room, '\0');
  std::string k(256, '\0');
  std::memcpy(k.data(), keyValue.data(), std::min<size_t>(keyValue.size(), 256));
  uint32_t len = room;
  int16_t s = RecordManagerCall(op, block, buffer.data(), &len, k.data(), static_cast<uint8_t>(keyValue.size()), keyNum);
  data = buffer.substr(0, len);
  key = k;
  return s;
}

int16_t Handle::Insert(const std::string& record, int8_t keyNum) {
  std::string buffer = record;
  std::string k(256, '\0');
  uint32_t len = static_cast<uint32_t>(buffer.size());
  return RecordManagerCall(RmInsert, block, buffer.data(), &len, k.data(), 0, keyNum);
}

int16_t Handle::Update(const std::string& record) {
  std::string buffer = record;
  std::string k(256, '\0');
  uint32_t len = static_cast<uint32_t>(buffer.size());
  return RecordManagerCall(RmUpdate, block, buffer.data(), &len, k.data(), 0, 0);
}

int16_t Handle::Delete() {
  uint32_t len = 0;
  return RecordManagerCall(RmDelete, block, nullptr, &len, nullptr, 0, 0);
}

int16_t Handle::Position(uint32_t& position) {
  uint8_t buffer[16] = {};
  std::string k(256, '\x5A');
  uint32_t len = sizeof buffer;
  int16_t s = RecordManagerCall(RmGetPosition, block, buffer, &len, k.data(), 0, 0);
  std::memcpy(&position, buffer, 4);
  key = k;
  return s;
}

int16_t Handle::Direct(uint32_t position, int8_t keyNum, uint16_t bias) {
  std::string buffer(1536, ' ');
  std::memcpy(buffer.data(), &position, 4);
  std::string k(256, '\0');
  uint32_t len = 1536;
  int16_t s = RecordManagerCall(static_cast<uint16_t>(RmGetDirect + bias), block, buffer.data(), &len, k.data(), 0, keyNum);
  data = buffer.substr(0, len);
  key = k;
  return s;
}

int16_t Handle::Raw(uint16_t op, void* buffer, uint32_t* dataLen, int8_t keyNum) {
  std::string k(256, '\0');
  return RecordManagerCall(op, block, buffer, dataLen, k.data(), 0, keyNum);
}

uint32_t Handle::RecordCount() {
  std::string buffer(1536, '\0');
  uint32_t len = 1536;
  if (Raw(RmStat, buffer.data(), &len, 0) != RmSuccess) return 0xFFFFFFFF;
  uint32_t n;
  std::memcpy(&n, buffer.data() + 6, 4);
  return n;
}

std::string Record(const std::string& head, size_t length) {
  std::string r = head.substr(0, length);
  r.resize(length, ' ');
  return r;
}

bool BecomeOtherUser() {
  constexpr uid_t kNobody = 65534;
  if (::geteuid() != 0) return true;
  return ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

int16_t InChildProcess(bool otherUser, const std::function<int16_t()>& act) {
  ForkGate child([&](ForkGate&) -> int {
    if (otherUser && !BecomeOtherUser()) return 255;
    return act();
  });
  const int status = child.Wait();
  return status < 0 || status == 255 ? -1 : static_cast<int16_t>(status);
}
