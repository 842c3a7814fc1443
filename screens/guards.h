// The screens' guard over the record layer: a list reads its data file
// without locks for as long as it is open, and the file's lock mode comes
// back on every way out. The console's own guards are in console/guards.h.
#pragma once

#include <cstdint>

#include "records/records.h"

// Plain reads (lock mode "D") on data file |fileId| for the scope; the
// file's previous lock mode comes back when it ends. fileId 0: no file,
// nothing changes.
class PlainReadsScope {
 public:
  explicit PlainReadsScope(int16_t fileId) : fileId_(fileId) {
    int16_t status = 0;
    if (fileId_ != 0) SetLockMode(fileId_, "+d", status);
  }
  ~PlainReadsScope() {
    int16_t status = 0;
    if (fileId_ != 0) SetLockMode(fileId_, "-", status);
  }
  PlainReadsScope(const PlainReadsScope&) = delete;
  PlainReadsScope& operator=(const PlainReadsScope&) = delete;

 private:
  int16_t fileId_;
};
