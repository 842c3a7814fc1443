// Scoped guards for the console state a screen or tool changes and must give
// back when it leaves: the display mode, the exit-key set, the cursor size
// the cursor position and the folding mode. Each saves on construction and restores on
// destruction, so every way out of a routine (early returns included) puts
// the state back, and guards nest in reverse order of construction.
//
// The display-mode guard uses the mode stack ("+" / "-"); the exit-key guard
// keeps its copy in itself, not in the keyboard's one save slot, so it works
// whatever the slot holds (a form runner usually holds it already).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Saves the display mode and selects mode (a SetDisplayMode code without
// "+" or "-", e.g. "n", "rh"); the destructor restores the saved mode.
class ScopedDisplayMode {
 public:
  explicit ScopedDisplayMode(std::string_view mode);
  ~ScopedDisplayMode();
  ScopedDisplayMode(const ScopedDisplayMode&) = delete;
  ScopedDisplayMode& operator=(const ScopedDisplayMode&) = delete;
};

// Saves the exit-key set (ExitKeyCodes and ExitKeyValues; the mask
// character is not part of it) and puts it back on destruction. The
// keyboard's save slot is neither read nor changed.
class ScopedExitKeys {
 public:
  ScopedExitKeys();
  ~ScopedExitKeys();
  ScopedExitKeys(const ScopedExitKeys&) = delete;
  ScopedExitKeys& operator=(const ScopedExitKeys&) = delete;

 private:
  std::string codes_, values_;
};

// Saves the cursor size and sets percent (0 hides the cursor); the
// destructor sets the saved size again.
class ScopedCursorSize {
 public:
  explicit ScopedCursorSize(int percent);
  ~ScopedCursorSize();
  ScopedCursorSize(const ScopedCursorSize&) = delete;
  ScopedCursorSize& operator=(const ScopedCursorSize&) = delete;

 private:
  int saved_;
};

// Saves the cursor's absolute position; the destructor moves it back.
class ScopedCursorPosition {
 public:
  ScopedCursorPosition();
  ~ScopedCursorPosition();
  ScopedCursorPosition(const ScopedCursorPosition&) = delete;
  ScopedCursorPosition& operator=(const ScopedCursorPosition&) = delete;

 private:
  int row_ = 0;
  int col_ = 0;
};

// Saves the folding mode (FoldStrict, formatting/folding.h) and sets mode
// (-1 strict, 0 plain); the destructor restores it.
class ScopedFoldMode {
 public:
  explicit ScopedFoldMode(int16_t mode);
  ~ScopedFoldMode();
  ScopedFoldMode(const ScopedFoldMode&) = delete;
  ScopedFoldMode& operator=(const ScopedFoldMode&) = delete;

 private:
  int16_t saved_;
};
