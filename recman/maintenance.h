// Whole-file maintenance of a record file, for the recman tool: a check of
// every page and of both copies of every record, and the upgrade that gives
// a file made before page checksums its checksums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RecordFileCheck {
  // 0 when the file could be walked (problems or not); else the status that
  // stopped the check: 12 no such file, 2 not a record file, 13 unreadable.
  int16_t status = 0;
  bool checksums = false;  // its pages carry checksums
  uint32_t pages = 0;
  uint64_t records = 0;
  // What is damaged, one line each: a page that fails its checksum, a
  // record whose two copies (the table's and the covering index's) differ or
  // that has only one, a record whose key entries do not match its bytes,
  // a record that cannot be read (named by its position), and SQLite's own
  // findings on the file's structure.
  std::vector<std::string> problems;
};

// Checks the record file at hostPath without changing it. Reads the file as
// it stands with its write-ahead log.
RecordFileCheck CheckRecordFile(const std::string& hostPath);

// Gives the record file at hostPath page checksums: rewrites it whole into a
// new file beside it, checks the copy, and puts it in place. Meant for a
// file nobody has open. 0 (also when it had checksums already: then
// `already` is set and nothing changes), or the status of the failure, the
// file unchanged.
int16_t UpgradeRecordFile(const std::string& hostPath, bool& already);
