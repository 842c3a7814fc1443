#include "console/keydecode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// "k4b00/c" a key with its code in hexadecimal and modifiers (s, c, a) and
// "#" for the keypad; "m1@5,10" a click of buttons 1 at row 5, column 10;
// "p[...]" a paste with its bytes in hexadecimal where they are not plain.
std::string Describe(const std::vector<InputEvent>& events) {
  std::string out;
  for (const auto& ev : events) {
    if (!out.empty()) out += ' ';
    char buf[64];
    switch (ev.kind) {
      case InputEvent::Kind::Key:
        std::snprintf(buf, sizeof buf, "k%x", ev.code);
        out += buf;
        if (ev.mods) {
          out += '/';
          if (ev.mods & ModShift) out += 's';
          if (ev.mods & ModCtrl) out += 'c';
          if (ev.mods & ModAlt) out += 'a';
        }
        if (ev.keypad) out += '#';
        break;
      case InputEvent::Kind::Mouse:
        std::snprintf(buf, sizeof buf, "m%u@%u,%u", ev.buttons, ev.row, ev.col);
        out += buf;
        break;
      case InputEvent::Kind::Paste:
        out += "p[";
        for (unsigned char c : ev.text) {
          if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
          } else {
            std::snprintf(buf, sizeof buf, "<%02x>", c);
            out += buf;
          }
        }
        out += ']';
        break;
      case InputEvent::Kind::Modifiers:
        out += "r";  // a modifier released: the modifiers still held follow
        if (ev.mods & ModShift) out += 's';
        if (ev.mods & ModCtrl) out += 'c';
        if (ev.mods & ModAlt) out += 'a';
        break;
      default:
        out += '?';
        break;
    }
  }
  return out;
}

// Everything fed at once, then enough time for every pending Esc.
std::string DecodeAll(const std::string& bytes) {
  KeyDecoder d;
  std::vector<InputEvent> out;
  d.Feed(bytes, 1000, out);
  d.Tick(1000 + EscDelayMs + 1000, out);
  return Describe(out);
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  const char* expected;
};

TEST(KeyDecoder, SequencesFromXtermAndTmux) {
  const DecodeCase cases[] = {
      {"letter", "a", "k61"},
      {"two letters", "ab", "k61 k62"},
      {"DEL as backspace", "\x7f", "k8"},
      {"Ctrl+H backspace", "\x08", "k8"},
      {"carriage return", "\r", "kd"},
      {"line feed as Enter", "\n", "kd"},
      {"tab", "\t", "k9"},
      {"Ctrl+C", "\x03", "k3"},
      {"Ctrl+V", "\x16", "k16"},
      {"Ctrl+Y", "\x19", "k19"},
      {"NUL ignored", std::string(1, '\0'), ""},
      {"up CSI", "\x1b[A", "k4800"},
      {"down CSI", "\x1b[B", "k5000"},
      {"right SS3", "\x1bOC", "k4d00"},
      {"left SS3", "\x1bOD", "k4b00"},
      {"home CSI H", "\x1b[H", "k4700"},
      {"end CSI F", "\x1b[F", "k4f00"},
      {"home vt220", "\x1b[1~", "k4700"},
      {"end vt220", "\x1b[4~", "k4f00"},
      {"home rxvt", "\x1b[7~", "k4700"},
      {"end rxvt", "\x1b[8~", "k4f00"},
      {"home SS3", "\x1bOH", "k4700"},
      {"insert", "\x1b[2~", "k5200"},
      {"delete", "\x1b[3~", "k5300"},
      {"page up", "\x1b[5~", "k4900"},
      {"page down", "\x1b[6~", "k5100"},
      {"ctrl left", "\x1b[1;5D", "k4b00/c"},
      {"ctrl right", "\x1b[1;5C", "k4d00/c"},
      {"ctrl home", "\x1b[1;5H", "k4700/c"},
      {"alt up", "\x1b[1;3A", "k4800/a"},
      {"alt up as Esc prefix", "\x1b\x1b[A", "k4800/a"},
      {"shift tab", "\x1b[Z", "kf00"},
      {"F1 SS3", "\x1bOP", "k3b00"},
      {"F4 SS3", "\x1bOS", "k3e00"},
      {"F1 vt220", "\x1b[11~", "k3b00"},
      {"F1 linux console", "\x1b[[A", "k3b00"},
      {"F5 linux console", "\x1b[[E", "k3f00"},
      {"F5", "\x1b[15~", "k3f00"},
      {"F6", "\x1b[17~", "k4000"},
      {"F10", "\x1b[21~", "k4400"},
      {"F11", "\x1b[23~", "k8500"},
      {"F12", "\x1b[24~", "k8600"},
      {"shift F1", "\x1b[1;2P", "k3b00/s"},
      {"shift F1 old xterm", "\x1bO2P", "k3b00/s"},
      {"shift F10", "\x1b[21;2~", "k4400/s"},
      {"ctrl F4", "\x1b[1;5S", "k3e00/c"},
      {"ctrl F12", "\x1b[24;5~", "k8600/c"},
      {"alt F11", "\x1b[23;3~", "k8500/a"},
      {"alt F4", "\x1b[1;3S", "k3e00/a"},
      {"ctrl alt shift F5", "\x1b[15;8~", "k3f00/sca"},
      {"alt x", "\x1bx", "k2d00/a"},
      {"alt X", "\x1bX", "k2d00/a"},
      {"alt c", "\x1b" "c", "k2e00/a"},
      {"alt e", "\x1b" "e", "k1200/a"},
      {"alt f", "\x1b" "f", "k2100/a"},
      {"alt q", "\x1bq", "k1000/a"},
      {"alt m", "\x1bm", "k3200/a"},
      {"alt 1", "\x1b" "1", "k7800/a"},
      {"alt 0", "\x1b" "0", "k8100/a"},
      {"alt comma keeps the character", "\x1b,", "k2c/a"},
      {"lone Esc", "\x1b", "k1b"},
      {"Esc Esc", "\x1b\x1b", "k1b k1b"},
      {"Esc Esc letter", "\x1b\x1bx", "k1b k2d00/a"},
      {"Esc O alone is Alt+O", "\x1bO", "k1800/a"},
      {"keypad digit, application mode", "\x1bOq", "k31"},
      {"alt keypad digit", "\x1b\x1bOq", "k4f00/a#"},
      {"alt keypad 0", "\x1b\x1bOp", "k5200/a#"},
      {"keypad 5 CSI", "\x1b[E", "k4c00#"},
      {"kitty: left Alt released", "\x1b[57443;3:3u", "r"},
      {"kitty: right Alt released, Ctrl held", "\x1b[57449;7:3u", "rc"},
      {"kitty: Alt pressed is no event", "\x1b[57443;3u", ""},
      {"kitty: alt keypad 1", "\x1b[57400;3u", "k4f00/a#"},
      {"kitty: keypad 1 without alt is dropped", "\x1b[57400u", ""},
      {"kitty: alt keypad 0 released is no event", "\x1b[57399;3:3u", ""},
      {"keypad enter", "\x1bOM", "kd"},
      {"SGR left press", "\x1b[<0;10;5M", "m1@5,10"},
      {"SGR right press", "\x1b[<2;3;4M", "m2@4,3"},
      {"SGR middle press", "\x1b[<1;7;8M", "m4@8,7"},
      {"SGR release ignored", "\x1b[<0;10;5m", ""},
      {"SGR wheel ignored", "\x1b[<64;1;1M", ""},
      {"SGR motion ignored", "\x1b[<32;1;1M", ""},
      {"SGR position zero ignored", "\x1b[<0;0;5M", ""},
      {"X10 press", "\x1b[M !!", "m1@1,1"},
      {"X10 release ignored", "\x1b[M#!!", ""},
      {"utf-8 e acute", "\xc3\xa9", "k82"},
      {"utf-8 euro", "\xe2\x82\xac", "kd5"},
      {"utf-8 without code page 850 form", "\xe4\xb8\xad", ""},
      {"alt e acute", "\x1b\xc3\xa9", "k82/a"},
      {"stray continuation byte", "\x80" "a", "k61"},
      {"truncated utf-8 at the end", "a\xc3", "k61"},
      {"invalid utf-8 continuation", "\xc3" "a", "k61"},
      {"unknown tilde key", "\x1b[99~", ""},
      {"private mode reply", "\x1b[?25h", ""},
      {"unknown final", "\x1b[1;5X", ""},
      {"unfinished sequence", "\x1b[1;5", ""},
      {"sequence then key", "\x1b[A" "b", "k4800 k62"},
      {"two sequences", "\x1b[A\x1b[B", "k4800 k5000"},
      {"paste", "\x1b[200~hi there\x1b[201~", "p[hi there]"},
      {"paste with controls", "\x1b[200~a\r\nb\tc\x1b[201~", "p[a<0d><0a>b<09>c]"},
      {"paste with accents", "\x1b[200~Pla\xc3\xa7" "a\x1b[201~", "p[Pla<87>a]"},
      {"paste holding escape sequences", "\x1b[200~\x1b[A\x1b[201~x", "p[<1b>[A] k78"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeAll(c.bytes), c.expected) << c.name;
  }
}

TEST(KeyDecoder, EscDelayBoundary) {
  struct Step {
    int64_t at;
    std::string bytes;  // empty: only time passes
  };
  struct TimingCase {
    const char* name;
    std::vector<Step> steps;
    const char* expected;
  };
  const TimingCase cases[] = {
      {"lone Esc still waits one ms before the delay", {{1000, "\x1b"}, {1000 + EscDelayMs - 1, ""}}, ""},
      {"lone Esc is a key at the delay", {{1000, "\x1b"}, {1000 + EscDelayMs, ""}}, "k1b"},
      {"letter just inside the delay is Alt", {{1000, "\x1b"}, {1000 + EscDelayMs - 1, "x"}},
       "k2d00/a"},
      {"letter after the delay is a letter",
       {{1000, "\x1b"}, {1000 + EscDelayMs, ""}, {1000 + EscDelayMs + 1, "x"}}, "k1b k78"},
      {"sequence split over two reads", {{1000, "\x1b["}, {1010, "A"}}, "k4800"},
      {"sequence split, rest too late", {{1000, "\x1b[1;"}, {1000 + EscDelayMs, ""}, {1100, "5D"}},
       "k35 k44"},
      {"paste split over reads", {{1000, "\x1b[200~ab"}, {1001, "c\x1b[20"}, {1002, "1~"}}, "p[abc]"},
      {"paste without end gives up", {{1000, "\x1b[200~ab"}, {1499, ""}, {1500, ""}}, "p[ab]"},
  };
  for (const auto& c : cases) {
    KeyDecoder d;
    std::vector<InputEvent> out;
    for (const auto& s : c.steps) {
      if (s.bytes.empty()) d.Tick(s.at, out);
      else d.Feed(s.bytes, s.at, out);
    }
    EXPECT_EQ(Describe(out), c.expected) << c.name;
  }
}

TEST(KeyDecoder, DeadlineFollowsThePendingEsc) {
  KeyDecoder d;
  std::vector<InputEvent> out;
  EXPECT_EQ(d.MsUntilDeadline(1000), -1);
  d.Feed("\x1b", 1000, out);
  EXPECT_EQ(d.MsUntilDeadline(1010), EscDelayMs - 10);
  EXPECT_EQ(d.MsUntilDeadline(2000), 0);
  d.Tick(2000, out);
  EXPECT_EQ(d.MsUntilDeadline(2000), -1);
}

TEST(KeyDecoder, LongPasteIsCut) {
  KeyDecoder d;
  std::vector<InputEvent> out;
  d.Feed("\x1b[200~", 0, out);
  const std::string chunk(4096, 'x');
  for (int i = 0; i < 40; ++i) d.Feed(chunk, i, out);
  d.Feed("\x1b[201~z", 50, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].kind, InputEvent::Kind::Paste);
  EXPECT_EQ(out[0].text.size(), 64u * 1024u);
  EXPECT_EQ(out[1].code, 'z');
}

}  // namespace
