// What the record-file layer needs from the outside world: the message
// window, the keyboard, the end of the program, the clock's sleep and a
// random number. The main flow connects these to the console; tests replace
// them. The defaults work without a console: the message goes to stderr,
// no key is awaited, and the end is exit(0) (the program always ends with
// exit code 0).
#pragma once

#include <functional>
#include <string>

struct RecordFileHooks {
  // Shows text (code page 850) in a framed message window anchored at row.
  std::function<void(int row, const std::string& text)> ShowMessage;
  // Closes the window ShowMessage opened.
  std::function<void()> CloseMessage;
  std::function<void()> Beep;
  // Throws away keystrokes already typed.
  std::function<void()> DiscardKeys;
  // Waits until one key is pressed.
  std::function<void()> WaitKey;
  // Closes every ordinary (non record-manager) file the process holds open.
  std::function<void()> CloseFiles;
  // Ends the program; normally does not return. If it returns (tests),
  // OpenRecordFile returns with the failed status.
  std::function<void()> EndProgram;
  // Sleeps the given number of milliseconds.
  std::function<void(int milliseconds)> Sleep;
  // A uniform random fraction in [0, 1).
  std::function<double()> RandomFraction;
};

// The hooks in force; starts with the defaults.
RecordFileHooks& RecordHooks();

// The defaults described above.
RecordFileHooks DefaultRecordFileHooks();
