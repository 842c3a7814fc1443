// A memory console installed as the current console, a private temporary
// directory for the window stack, the fixture's colour scheme, and every
// process-wide console state back at its start.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "console/console.h"
#include "console/editor.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "tests/support/temp_root.h"

// Mode n 7/0, r 0/7, rn 0/7, u 0/7, h 15/0: the default scheme, but with
// the reverse modes told apart so that a test sees which mode drew.
inline constexpr int16_t kFixtureColours[5][2] = {{15, 0}, {7, 0}, {0, 7}, {1, 7}, {0, 3}};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { Install(25, 80); }

  void Install(int rows, int cols) {
    console_ = std::make_unique<MemoryConsole>(rows, cols);
    SetConsole(console_.get());
    root_.emplace();
    dir_ = root_->Dir();
    dir_.pop_back();
    ScreenSettings settings;
    for (int m = 0; m < 5; ++m)
      for (int k = 0; k < 2; ++k) settings.colourTable[m][k] = kFixtureColours[m][k];
    settings.windowStackPath = StackFile();
    SetScreenSettings(settings);
    ResetScreenState();
    ResetKeyboardState();
    SetChoiceList("");
    Clipboard.clear();
    InstalledIn(dir_);
  }

  // Called at the end of every Install with the new private directory; the
  // tools' fixture points the session there.
  virtual void InstalledIn(const std::string& dir) { (void)dir; }

  void TearDown() override {
    SetConsole(nullptr);
    SetCalculatorHook(nullptr);
    SetCalendarHook(nullptr);
    SetIdleHook(nullptr);
    root_.reset();
  }

  std::string StackFile() const { return dir_ + "/WinPush.tmp"; }
  bool StackFileExists() const { return std::filesystem::exists(StackFile()); }

  // Fills the screen with a pattern of characters and attributes.
  void FillPattern() {
    for (int r = 1; r <= console_->Rows(); ++r)
      for (int c = 1; c <= console_->Columns(); ++c)
        console_->PutCell(r, c, static_cast<uint8_t>('A' + (r * 7 + c) % 26),
                          static_cast<uint8_t>((r + c) % 256));
  }

  std::unique_ptr<MemoryConsole> console_;
  std::optional<TempRoot> root_;
  std::string dir_;  // root_'s folder without the final "/"
};

// Attribute of a display mode under the fixture's colour table.
inline uint8_t ModeAttr(int mode) {
  return static_cast<uint8_t>(kFixtureColours[mode][1] * 16 + kFixtureColours[mode][0]);
}
