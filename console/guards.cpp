#include "console/guards.h"

#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/folding.h"

ScopedDisplayMode::ScopedDisplayMode(std::string_view mode) {
  std::string code(mode);
  code.insert(code.begin(), '+');
  SetDisplayMode(code);
}
ScopedDisplayMode::~ScopedDisplayMode() { SetDisplayMode("-"); }

ScopedExitKeys::ScopedExitKeys() : codes_(ExitKeyCodes), values_(ExitKeyValues) {}
ScopedExitKeys::~ScopedExitKeys() {
  ExitKeyCodes = codes_;
  ExitKeyValues = values_;
}

ScopedCursorSize::ScopedCursorSize(int percent) : saved_(CurrentCursorSize()) { SetCursorSize(percent); }
ScopedCursorSize::~ScopedCursorSize() { SetCursorSize(saved_); }

ScopedCursorPosition::ScopedCursorPosition() { CursorPosition(row_, col_); }
ScopedCursorPosition::~ScopedCursorPosition() { LocateAbsolute(row_, col_); }

ScopedFoldMode::ScopedFoldMode(int16_t mode) : saved_(FoldStrict) { FoldStrict = mode; }
ScopedFoldMode::~ScopedFoldMode() { FoldStrict = saved_; }
