#include "console/keydecode.h"

#include <cstdlib>

#include "console/codepage.h"

namespace {

constexpr size_t kMaxSequence = 32;       // longer CSI sequences are noise
constexpr size_t kMaxPaste = 64 * 1024;   // a paste beyond this is cut
constexpr int64_t kPasteTimeoutMs = 500;  // a paste whose end never comes
const std::string kPasteEnd = "\x1b[201~";

InputEvent KeyEvent(uint16_t code, uint8_t mods, bool keypad = false) {
  InputEvent ev;
  ev.code = code;
  ev.mods = mods;
  ev.keypad = keypad;
  return ev;
}

// xterm's modifier parameter (1 + bits: 1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
uint8_t ModsFromParam(int m) {
  if (m < 2) return 0;
  const int bits = m - 1;
  uint8_t mods = 0;
  if (bits & 1) mods |= ModShift;
  if (bits & (2 | 8)) mods |= ModAlt;
  if (bits & 4) mods |= ModCtrl;
  return mods;
}

// The numbers of a CSI parameter text ("1;5" gives 1 and 5); missing ones 0.
void Params(const std::string& p, int& a, int& b, int& c) {
  int vals[3] = {0, 0, 0};
  int i = 0;
  for (char ch : p) {
    if (ch == ';') {
      if (++i >= 3) break;
    } else if (ch >= '0' && ch <= '9') {
      vals[i] = std::min(vals[i] * 10 + (ch - '0'), 100000);
    }
  }
  a = vals[0];
  b = vals[1];
  c = vals[2];
}

uint16_t CursorKey(char f) {
  switch (f) {
    case 'A': return 0x4800;
    case 'B': return 0x5000;
    case 'C': return 0x4D00;
    case 'D': return 0x4B00;
    case 'H': return 0x4700;
    case 'F': return 0x4F00;
    case 'E': return 0x4C00;
    case 'P': return 0x3B00;
    case 'Q': return 0x3C00;
    case 'R': return 0x3D00;
    case 'S': return 0x3E00;
    default: return 0;
  }
}

uint16_t TildeKey(int n) {
  switch (n) {
    case 1: case 7: return 0x4700;
    case 2: return 0x5200;
    case 3: return 0x5300;
    case 4: case 8: return 0x4F00;
    case 5: return 0x4900;
    case 6: return 0x5100;
    case 11: return 0x3B00;
    case 12: return 0x3C00;
    case 13: return 0x3D00;
    case 14: return 0x3E00;
    case 15: return 0x3F00;
    case 17: return 0x4000;
    case 18: return 0x4100;
    case 19: return 0x4200;
    case 20: return 0x4300;
    case 21: return 0x4400;
    case 23: return 0x8500;
    case 24: return 0x8600;
    default: return 0;
  }
}

// The kitty keyboard protocol's key numbers the decoder knows: the keypad
// digits and the two Alt keys.
constexpr int kKittyKeypad0 = 57399, kKittyKeypad9 = 57408;
constexpr int kKittyLeftAlt = 57443, kKittyRightAlt = 57449;
constexpr int kKittyRelease = 3;  // event type of a key release

// The keypad keys with Num Lock off, by digit.
constexpr uint16_t kPadKeys[10] = {0x5200, 0x4F00, 0x5000, 0x5100, 0x4B00,
                                   0x4C00, 0x4D00, 0x4700, 0x4800, 0x4900};

// A press of the xterm button number b (low two bits) as PC buttons.
uint16_t Buttons(int b) {
  switch (b & 3) {
    case 0: return 1;
    case 1: return 4;
    case 2: return 2;
    default: return 0;
  }
}

// The control bytes and ASCII characters as keys.
bool PlainKey(unsigned char c, uint8_t mods, std::vector<InputEvent>& out) {
  if (c == 0) return false;  // Ctrl+Space and NULs: nothing
  uint16_t code = c;
  if (c == 0x7F) code = 8;
  else if (c == '\n') code = 13;
  if (mods & ModAlt) {
    const uint16_t alt = AltKeyCode(c);
    if (alt != 0) code = alt;
  }
  out.push_back(KeyEvent(code, mods));
  return true;
}

}  // namespace

uint16_t AltKeyCode(unsigned char c) {
  static const char* const kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static const uint16_t kFirst[] = {0x10, 0x1E, 0x2C};
  if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
  for (int r = 0; r < 3; ++r)
    for (int i = 0; kRows[r][i]; ++i)
      if (kRows[r][i] == c) return static_cast<uint16_t>((kFirst[r] + i) << 8);
  if (c >= '1' && c <= '9') return static_cast<uint16_t>((0x78 + (c - '1')) << 8);
  if (c == '0') return 0x8100;
  return 0;
}

void KeyDecoder::Feed(std::string_view bytes, int64_t nowMs, std::vector<InputEvent>& out) {
  if (bytes.empty()) return;
  buf_.append(bytes.data(), bytes.size());
  lastByteMs_ = nowMs;
  Drain(out, false);
}

void KeyDecoder::Tick(int64_t nowMs, std::vector<InputEvent>& out) {
  if (inPaste_) {
    if (nowMs - lastByteMs_ >= kPasteTimeoutMs) {
      paste_ += buf_;
      buf_.clear();
      InputEvent ev;
      ev.kind = InputEvent::Kind::Paste;
      ev.text = Cp850FromTerminalText(paste_);
      paste_.clear();
      inPaste_ = false;
      out.push_back(ev);
    }
    return;
  }
  if (!buf_.empty() && nowMs - lastByteMs_ >= EscDelayMs) Drain(out, true);
}

int64_t KeyDecoder::MsUntilDeadline(int64_t nowMs) const {
  if (inPaste_) return std::max<int64_t>(0, lastByteMs_ + kPasteTimeoutMs - nowMs);
  if (buf_.empty()) return -1;
  return std::max<int64_t>(0, lastByteMs_ + EscDelayMs - nowMs);
}

void KeyDecoder::Drain(std::vector<InputEvent>& out, bool final) {
  while (!buf_.empty()) {
    if (inPaste_) {
      const size_t end = buf_.find(kPasteEnd);
      if (end == std::string::npos) {
        // Keep what may be the start of the end marker.
        const size_t keep = std::min(buf_.size(), kPasteEnd.size() - 1);
        if (paste_.size() < kMaxPaste) paste_ += buf_.substr(0, buf_.size() - keep);
        buf_.erase(0, buf_.size() - keep);
        return;
      }
      if (paste_.size() < kMaxPaste) paste_ += buf_.substr(0, end);
      if (paste_.size() > kMaxPaste) paste_.resize(kMaxPaste);
      buf_.erase(0, end + kPasteEnd.size());
      InputEvent ev;
      ev.kind = InputEvent::Kind::Paste;
      ev.text = Cp850FromTerminalText(paste_);
      paste_.clear();
      inPaste_ = false;
      out.push_back(ev);
      continue;
    }
    const size_t n = DecodeOne(out, final);
    if (n == 0) return;
    buf_.erase(0, n);
  }
}

size_t KeyDecoder::DecodeOne(std::vector<InputEvent>& out, bool final) {
  // Decodes the key at offset off with the modifiers mods already known
  // (Alt from an Esc prefix); returns its length, 0 when incomplete.
  struct Decoder {
    KeyDecoder& self;
    std::vector<InputEvent>& out;
    bool final;

    size_t Utf8(size_t off, uint8_t mods) {
      const std::string& b = self.buf_;
      const unsigned char c = static_cast<unsigned char>(b[off]);
      size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
      if (len == 1) return 1;  // a stray continuation byte: dropped
      if (off + len > b.size()) return final ? b.size() - off : 0;
      std::string one = b.substr(off, len);
      for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(one[k]) & 0xC0) != 0x80) return 1;
      const std::string cp = Cp850FromTerminalText(one);
      if (cp.size() == 1 && cp != "?") out.push_back(KeyEvent(static_cast<unsigned char>(cp[0]), mods));
      return len;
    }

    size_t Csi(size_t off, uint8_t mods) {
      const std::string& b = self.buf_;
      // b[off] is Esc, b[off + 1] is "[".
      if (off + 2 >= b.size()) return final ? b.size() - off : 0;
      const char first = b[off + 2];
      if (first == '[') {  // Linux console F1..F5
        if (off + 3 >= b.size()) return final ? b.size() - off : 0;
        const char f = b[off + 3];
        if (f >= 'A' && f <= 'E')
          out.push_back(KeyEvent(static_cast<uint16_t>(0x3B00 + ((f - 'A') << 8)), mods));
        return 4;
      }
      if (first == 'M') {  // X10 mouse: three bytes follow
        if (off + 5 >= b.size()) return final ? b.size() - off : 0;
        const int cb = static_cast<unsigned char>(b[off + 3]) - 32;
        const int cx = static_cast<unsigned char>(b[off + 4]) - 32;
        const int cy = static_cast<unsigned char>(b[off + 5]) - 32;
        if ((cb & (32 | 64)) == 0 && Buttons(cb) != 0 && cx > 0 && cy > 0) {
          InputEvent ev;
          ev.kind = InputEvent::Kind::Mouse;
          ev.buttons = Buttons(cb);
          ev.col = static_cast<uint16_t>(cx);
          ev.row = static_cast<uint16_t>(cy);
          out.push_back(ev);
        }
        return 6;
      }
      size_t i = off + 2;
      while (i < b.size() && static_cast<unsigned char>(b[i]) >= 0x20 &&
             static_cast<unsigned char>(b[i]) <= 0x3F)
        ++i;
      if (i >= b.size()) {
        if (i - off > kMaxSequence || final) return b.size() - off;
        return 0;
      }
      const unsigned char fin = static_cast<unsigned char>(b[i]);
      const size_t len = i - off + 1;
      if (fin < 0x40 || fin > 0x7E) return len - 1;  // broken: drop up to the odd byte
      const std::string params = b.substr(off + 2, i - off - 2);
      int p1, p2, p3;
      Params(params[0] == '<' ? params.substr(1) : params, p1, p2, p3);
      if (fin == 'u') {
        Kitty(params, mods);
        return len;
      }
      if (!params.empty() && params[0] == '<') {
        if (fin == 'M' && (p1 & (32 | 64)) == 0 && Buttons(p1) != 0 && p2 > 0 && p3 > 0) {
          InputEvent ev;
          ev.kind = InputEvent::Kind::Mouse;
          ev.buttons = Buttons(p1);
          ev.col = static_cast<uint16_t>(std::min(p2, 0xFFFF));
          ev.row = static_cast<uint16_t>(std::min(p3, 0xFFFF));
          out.push_back(ev);
        }
        return len;
      }
      if (fin == '~') {
        if (p1 == 200) {
          self.inPaste_ = true;
          self.paste_.clear();
          return len;
        }
        const uint16_t code = TildeKey(p1);
        if (code != 0) out.push_back(KeyEvent(code, mods | ModsFromParam(p2)));
        return len;
      }
      if (fin == 'Z') {
        out.push_back(KeyEvent(0x0F00, mods));
        return len;
      }
      const uint16_t code = CursorKey(static_cast<char>(fin));
      if (code != 0) out.push_back(KeyEvent(code, mods | ModsFromParam(p2), code == 0x4C00));
      return len;
    }

    // "CSI key ; modifiers : event u" of the kitty keyboard protocol, where
    // a terminal reports it: a keypad digit held with Alt, and the release of
    // an Alt key (a Modifiers event without Alt), which ends an Alt+keypad
    // code. Other keys of that form are dropped.
    void Kitty(const std::string& params, uint8_t mods) {
      int key = 0, modParam = 0, event = 0;  // no event type: a press
      int* field = &key;
      for (char ch : params) {
        if (ch == ';') field = field == &key ? &modParam : &event;
        else if (ch == ':') field = field == &modParam ? &event : field;
        else if (ch >= '0' && ch <= '9') *field = std::min(*field * 10 + (ch - '0'), 100000);
      }
      mods |= ModsFromParam(modParam);
      if (key == kKittyLeftAlt || key == kKittyRightAlt) {
        if (event != kKittyRelease) return;
        InputEvent ev;
        ev.kind = InputEvent::Kind::Modifiers;
        ev.mods = static_cast<uint8_t>(mods & ~ModAlt);
        out.push_back(ev);
        return;
      }
      if (key >= kKittyKeypad0 && key <= kKittyKeypad9 && event != kKittyRelease && (mods & ModAlt))
        out.push_back(KeyEvent(kPadKeys[key - kKittyKeypad0], mods, true));
    }

    size_t Ss3(size_t off, uint8_t mods) {
      const std::string& b = self.buf_;
      if (off + 2 >= b.size()) {
        if (!final) return 0;
        // Esc then "O" and nothing more: Alt+O.
        PlainKey('O', mods | ModAlt, out);
        return 2;
      }
      size_t at = off + 2;
      int param = 0;
      if (b[at] >= '1' && b[at] <= '9') {  // older xterm: Esc O 5 P
        if (at + 1 >= b.size()) return final ? b.size() - off : 0;
        param = b[at] - '0';
        ++at;
      }
      const char f = b[at];
      const size_t len = at - off + 1;
      if (f >= 'p' && f <= 'y') {
        if (mods & ModAlt) out.push_back(KeyEvent(kPadKeys[f - 'p'], mods, true));
        else out.push_back(KeyEvent(static_cast<uint16_t>('0' + (f - 'p')), mods));
        return len;
      }
      if (f == 'M') {
        out.push_back(KeyEvent(13, mods));
        return len;
      }
      const uint16_t code = CursorKey(f);
      if (code != 0) out.push_back(KeyEvent(code, mods | ModsFromParam(param), code == 0x4C00));
      return len;
    }

    size_t At(size_t off, uint8_t mods) {
      const std::string& b = self.buf_;
      const unsigned char c = static_cast<unsigned char>(b[off]);
      if (c != 0x1B) {
        if (c >= 0x80) return Utf8(off, mods);
        PlainKey(c, mods, out);
        return 1;
      }
      if (off + 1 >= b.size()) {
        if (!final) return 0;
        out.push_back(KeyEvent(27, mods));
        return 1;
      }
      const unsigned char next = static_cast<unsigned char>(b[off + 1]);
      if (next == '[') return Csi(off, mods);
      if (next == 'O') return Ss3(off, mods);
      if (next == 0x1B) {
        // Esc Esc [ or Esc Esc O: Alt with a key sequence; otherwise the
        // first Esc is a key of its own.
        if (off + 2 >= b.size() && !final) return 0;
        const bool seq = off + 2 < b.size() && (b[off + 2] == '[' || b[off + 2] == 'O') &&
                         (mods & ModAlt) == 0;
        if (!seq) {
          out.push_back(KeyEvent(27, mods));
          return 1;
        }
      }
      const size_t n = At(off + 1, mods | ModAlt);
      return n == 0 ? 0 : n + 1;
    }
  };
  Decoder d{*this, out, final};
  return d.At(0, 0);
}
