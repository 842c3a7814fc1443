// Scoped guards of the screens: each saves one piece of the console's state
// when it is made and puts it back when its scope ends, on every way out of
// the scope. Local to the screens until the console layer offers its own.
#pragma once

#include <cstdint>
#include <string>

#include "console/keyboard.h"
#include "console/screen.h"
#include "records/records.h"

// The exit-key set in force (ExitKeyCodes, ExitKeyValues), saved apart from
// the one save slot of SetExitKeys: a screen or list that changes the set
// inside another one that already holds the slot still gets the caller's
// set back. The mask character is not part of it.
class ExitKeysScope {
 public:
  ExitKeysScope() : codes_(ExitKeyCodes), values_(ExitKeyValues) {}
  ~ExitKeysScope() {
    ExitKeyCodes = codes_;
    ExitKeyValues = values_;
  }
  ExitKeysScope(const ExitKeysScope&) = delete;
  ExitKeysScope& operator=(const ExitKeysScope&) = delete;

 private:
  std::string codes_;
  std::string values_;
};

// Selects display mode |mode| after saving the current one ("+" + mode);
// the saved mode comes back ("-") when the scope ends.
class DisplayModeScope {
 public:
  explicit DisplayModeScope(const std::string& mode) { SetDisplayMode("+" + mode); }
  ~DisplayModeScope() { SetDisplayMode("-"); }
  DisplayModeScope(const DisplayModeScope&) = delete;
  DisplayModeScope& operator=(const DisplayModeScope&) = delete;
};

// The cursor's absolute position, put back when the scope ends.
class CursorScope {
 public:
  CursorScope() { CursorPosition(row_, col_); }
  ~CursorScope() { LocateAbsolute(row_, col_); }
  CursorScope(const CursorScope&) = delete;
  CursorScope& operator=(const CursorScope&) = delete;

 private:
  int row_ = 0;
  int col_ = 0;
};

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
