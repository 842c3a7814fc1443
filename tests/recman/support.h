// Helpers shared by the record manager tests: temporary folders, creation
// blocks and a thin handle over RecordManagerCall.
#pragma once

#include "tests/support/temp_root.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recman/recman.h"

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir() : path_(root_.Dir().substr(0, root_.Dir().size() - 1)) {}
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  TempRoot root_;
  std::string path_;  // the root's folder without the final "/"
};

struct Seg {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags;
};

// A creation block: record length, keys as lists of segments (the "another
// segment follows" flag is added), and the collating table when given.
std::string CreationBlock(uint16_t recordLength, const std::vector<std::vector<Seg>>& keys,
                          const std::string& collating = std::string());

// Creates `path` from `block`; the status.
int16_t CreateFile(const std::string& path, const std::string& block, int8_t keyNum = -1);

// One open file. Reads use a data buffer of `room` bytes and a 256-byte key
// buffer; `data` and `key` hold what the last call returned.
class Handle {
 public:
  ~Handle();
  int16_t Open(const std::string& path, const std::string& owner = "", int8_t mode = 0);
  int16_t Close();
  // A read: key value in, record and key out.
  int16_t Get(uint16_t op, const std::string& keyValue = std::string(), int8_t keyNum = 0, uint32_t room = 1536);
  int16_t Insert(const std::string& record, int8_t keyNum = 0);
  int16_t Update(const std::string& record);
  int16_t Delete();
  int16_t Position(uint32_t& position);
  int16_t Direct(uint32_t position, int8_t keyNum = 0, uint16_t bias = 0);
  int16_t Raw(uint16_t op, void* data, uint32_t* dataLen, int8_t keyNum);
  uint32_t RecordCount();

  std::string data;
  std::string key;
  uint8_t block[128] = {};
  bool open = false;
};

// Makes this process another user of the suite: "nobody" when the tests run
// as root, else the tests' own user. False when it could not.
bool BecomeOtherUser();

// Runs `act` in a child process (as another user with otherUser) and gives
// its status, or -1 when the child failed.
int16_t InChildProcess(bool otherUser, const std::function<int16_t()>& act);

// A record of `length` bytes: `head` then blanks.
std::string Record(const std::string& head, size_t length);
