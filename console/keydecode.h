// Decoding of what xterm-like terminals and tmux send into input events:
// a pure state machine, bytes and the time in, events out. It knows the
// cursor and editing keys (CSI and SS3 forms, with the xterm modifier
// parameter), F1..F12 in the xterm, vt220 and Linux-console forms, Shift+Tab,
// Alt as an Esc prefix, the SS3 keypad digits, SGR and X10 mouse reports,
// bracketed paste, and UTF-8 text (turned into code page 850).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"

// An Esc not followed by more bytes within this many milliseconds is the Esc
// key itself; an unfinished sequence is dropped after it.
inline constexpr int64_t EscDelayMs = 25;

class KeyDecoder {
 public:
  // Feeds bytes that arrived at time nowMs; complete events go to out.
  void Feed(std::string_view bytes, int64_t nowMs, std::vector<InputEvent>& out);
  // Reports what the passing of time completes (a lone Esc) at nowMs.
  void Tick(int64_t nowMs, std::vector<InputEvent>& out);
  // Milliseconds until Tick has something to decide, -1 when nothing waits.
  int64_t MsUntilDeadline(int64_t nowMs) const;
  bool Pending() const { return !buf_.empty() || inPaste_; }

 private:
  // Decodes as much of buf_ as is complete; final=true forces a decision.
  void Drain(std::vector<InputEvent>& out, bool final);
  // Length of a complete sequence at the start of buf_ (emitting it), 0 when
  // more bytes are needed.
  size_t DecodeOne(std::vector<InputEvent>& out, bool final);

  std::string buf_;
  int64_t lastByteMs_ = 0;
  bool inPaste_ = false;
  std::string paste_;
};

// The scan code * 256 of Alt + a letter or digit, as the PC keyboard gives
// it ("x" and "X" give 0x2D00); 0 for other characters.
uint16_t AltKeyCode(unsigned char c);
