// A scripted stand-in for the record manager: every request the layer makes
// is recorded, and a test-supplied reply function answers it. Used for what
// the real engine cannot be made to do on demand (a file locked by another
// user, a record locked for a while) and to see the exact requests.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "records/records.h"
#include "records/report.h"

struct RecordedRequest {
  uint16_t op = 0;
  std::string data;  // the data buffer's first dataLen (in) bytes
  uint32_t dataLenIn = 0;
  std::string key;   // the key buffer's first keyLen + 1 bytes
  uint8_t keyLen = 0;
  int8_t keyNum = 0;
};

// Replies to one request: may write into data (up to *dataLen) and key,
// sets *dataLen, returns the status.
using ScriptedReply = std::function<int16_t(const RecordedRequest& r, uint8_t* data, uint32_t* dataLen, uint8_t* key)>;

inline std::vector<RecordedRequest>& Requests() {
  static std::vector<RecordedRequest> all;
  return all;
}

inline ScriptedReply& Reply() {
  static ScriptedReply reply;
  return reply;
}

inline int16_t ScriptedEntry(uint16_t op, void*, void* data, uint32_t* dataLen, void* key, uint8_t keyLen,
                             int8_t keyNum) {
  RecordedRequest r;
  r.op = op;
  r.dataLenIn = *dataLen;
  r.data.assign(static_cast<const char*>(data), *dataLen);
  r.key.assign(static_cast<const char*>(key), static_cast<size_t>(keyLen) + 1);
  r.keyLen = keyLen;
  r.keyNum = keyNum;
  Requests().push_back(r);
  return Reply() ? Reply()(r, static_cast<uint8_t*>(data), dataLen, static_cast<uint8_t*>(key)) : 0;
}

// One key segment of a built statistics reply.
struct StatSegment {
  uint16_t length;
  uint16_t flags;
};

// A statistics reply: record length, page size 512, keys as groups of
// segments (the 0x0010 flag is set here on all but a key's last segment),
// and the collating table when given (256 bytes).
inline std::string StatReply(uint16_t recordLength, const std::vector<std::vector<StatSegment>>& keys,
                             const std::string& collating = std::string()) {
  std::string out(16, '\0');
  out[0] = static_cast<char>(recordLength & 0xFF);
  out[1] = static_cast<char>(recordLength >> 8);
  out[2] = 0;
  out[3] = 2;  // page size 512
  out[4] = static_cast<char>(keys.size());
  uint16_t position = 1;
  for (const auto& key : keys) {
    for (size_t i = 0; i < key.size(); ++i) {
      std::string seg(16, '\0');
      uint16_t flags = static_cast<uint16_t>(key[i].flags | (i + 1 < key.size() ? 0x0010 : 0));
      seg[0] = static_cast<char>(position & 0xFF);
      seg[2] = static_cast<char>(key[i].length & 0xFF);
      seg[4] = static_cast<char>(flags & 0xFF);
      position = static_cast<uint16_t>(position + key[i].length);
      out += seg;
    }
  }
  if (!collating.empty()) {
    out += static_cast<char>(0xAC);
    out += "TESTSEQ ";
    out += collating;
  }
  return out;
}

inline void WriteReply(const std::string& bytes, uint8_t* data, uint32_t* dataLen) {
  std::memcpy(data, bytes.data(), bytes.size());
  *dataLen = static_cast<uint32_t>(bytes.size());
}

// Hooks that record what the layer asks of the outside world.
struct RecordedHooks {
  std::vector<std::string> events;  // "show:<row>:<text>", "close", "beep", ...
  std::vector<int> sleeps;
  double fraction = 0.5;

  void Install() {
    RecordFileHooks h;
    h.ShowMessage = [this](int row, const std::string& text) {
      events.push_back("show:" + std::to_string(row) + ":" + text);
    };
    h.CloseMessage = [this] { events.push_back("close"); };
    h.Beep = [this] { events.push_back("beep"); };
    h.DiscardKeys = [this] { events.push_back("discard"); };
    h.WaitKey = [this] { events.push_back("key"); };
    h.CloseFiles = [this] { events.push_back("files"); };
    h.EndProgram = [this] { events.push_back("end"); };
    h.Sleep = [this](int ms) { sleeps.push_back(ms); };
    h.RandomFraction = [this] { return fraction; };
    RecordHooks() = h;
  }
};
