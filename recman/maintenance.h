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

// Brings the record file at hostPath to the layout of today's files: drops
// the covering index of a file whose creation asked for none (UncoverRecordFile),
// and gives a file without page checksums its checksums: rewrites it whole
// into a new file beside it, checks the copy, and puts it in place. Meant
// for a file nobody has open. 0 (also when it was up to date already: then
// `already` is set and nothing changes), or the status of the failure, the
// file unchanged. uncovered, when given, tells whether the covering index
// was dropped.
int16_t UpgradeRecordFile(const std::string& hostPath, bool& already, bool* uncovered = nullptr);

// Gives a record file whose creation specification has RmNoCover, and that
// an earlier engine covered all the same (its key 0 allows duplicates), the
// index of key 0 alone in place of its covering index, in one transaction:
// its records, keys and order stay as they are. Safe while other handles
// have the file open (their walks of key 0 move to the new index). 0 with
// changed set when it did so, 0 when there was nothing to do, or the status
// of the failure (85 while another process writes the file, after a wait
// of a second unless wait is false; the file unchanged). The engine does it
// itself when it opens such a file for writing.
int16_t UncoverRecordFile(const std::string& hostPath, bool& changed, bool wait = true);
