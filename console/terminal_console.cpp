// The terminal back end: ncursesw draws, our own decoder reads the bytes the
// terminal sends (so every key sequence is ours to test), and a shadow grid
// keeps each cell's code page 850 byte and attribute exactly as written.
#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "console/codepage.h"
#include "console/console.h"
#include "console/guards.h"
#include "console/keydecode.h"
#include "formatting/folding.h"

namespace {

// Terminal modes we switch on: X10/SGR mouse presses and bracketed paste.
constexpr char kModesOn[] = "\x1b[?1000h\x1b[?1006h\x1b[?2004h";
constexpr char kModesOff[] = "\x1b[?1000l\x1b[?1006l\x1b[?2004l\x1b[0 q";

volatile sig_atomic_t resized = 0;
volatile sig_atomic_t active = 0;  // a terminal console owns the terminal
struct termios savedTermios;
bool haveTermios = false;
// rmcup and the cursor-normal string, copied at start for the signal path.
char leaveBuf[256];
size_t leaveLen = 0;

// To the terminal, also from a signal handler (WriteAll only calls write).
// A failure is not reported: there is nowhere to report it.
void WriteOut(const char* s, size_t n) { static_cast<void>(WriteAll(STDOUT_FILENO, s, n)); }

// Only async-signal-safe calls: the terminal's own leave strings, then the
// saved line settings.
void RestoreFromSignal() {
  WriteOut(kModesOff, sizeof kModesOff - 1);
  WriteOut(leaveBuf, leaveLen);
  if (haveTermios) tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
}

void OnFatalSignal(int sig) {
  if (active) {
    active = 0;
    RestoreFromSignal();
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void OnResize(int) { resized = 1; }

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// PC colour index (blue is 1, red 4) to the curses colour (red 1, blue 4).
constexpr short kPcToCurses[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN, COLOR_CYAN,
                                  COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

std::string Base64(const std::string& in) {
  static const char* tbl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  while (i + 2 < in.size()) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                       (static_cast<unsigned char>(in[i + 1]) << 8) |
                       static_cast<unsigned char>(in[i + 2]);
    out += tbl[(v >> 18) & 63];
    out += tbl[(v >> 12) & 63];
    out += tbl[(v >> 6) & 63];
    out += tbl[v & 63];
    i += 3;
  }
  if (i < in.size()) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += tbl[(v >> 18) & 63];
    out += tbl[(v >> 12) & 63];
    out += i + 1 < in.size() ? tbl[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

class TerminalConsole;
TerminalConsole* theTerminal = nullptr;

class TerminalConsole : public Console {
 public:
  bool Start() {
    std::setlocale(LC_ALL, "");
    const char* cs = nl_langinfo(CODESET);
    utf8_ = cs != nullptr && std::strcmp(cs, "UTF-8") == 0;
    if (tcgetattr(STDIN_FILENO, &savedTermios) == 0) haveTermios = true;
    screen_ = newterm(nullptr, stdout, stdin);
    if (screen_ == nullptr) return false;
    set_term(screen_);
    raw();
    noecho();
    nonl();
    keypad(stdscr, FALSE);
    scrollok(stdscr, FALSE);
    leaveok(stdscr, FALSE);
    if (has_colors()) {
      start_color();
      colours16_ = COLORS >= 16;
    }
    BuildPlainTable();
    const char* rmcup = tigetstr(const_cast<char*>("rmcup"));
    leaveLen = 0;
    const char* cnorm = tigetstr(const_cast<char*>("cnorm"));
    for (const char* s : {cnorm, rmcup}) {
      if (s == nullptr || s == reinterpret_cast<const char*>(-1)) continue;
      const size_t n = std::strlen(s);
      if (leaveLen + n < sizeof leaveBuf) {
        std::memcpy(leaveBuf + leaveLen, s, n);
        leaveLen += n;
      }
    }
    struct sigaction sa {};
    sa.sa_handler = OnFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    struct sigaction sw {};
    sw.sa_handler = OnResize;
    sigemptyset(&sw.sa_mask);
    sigaction(SIGWINCH, &sw, nullptr);
    rows_ = std::max(LINES, 1);
    cols_ = std::max(COLS, 1);
    chars_.assign(static_cast<size_t>(rows_ * cols_), ' ');
    attrs_.assign(chars_.size(), 7);
    curs_set(0);
    erase();
    refresh();
    WriteOut(kModesOn, sizeof kModesOn - 1);
    active = 1;
    theTerminal = this;
    return true;
  }

  ~TerminalConsole() override {
    Stop();
    if (screen_ != nullptr) delscreen(screen_);
    theTerminal = nullptr;
  }

  void Stop() {
    if (!active) return;
    active = 0;
    WriteOut(kModesOff, sizeof kModesOff - 1);
    curs_set(1);
    endwin();
  }

  void Suspend() {
    if (!active) return;
    WriteOut(kModesOff, sizeof kModesOff - 1);
    curs_set(1);
    endwin();
    active = 0;
  }

  void Resume() {
    if (active) return;
    reset_prog_mode();
    active = 1;
    WriteOut(kModesOn, sizeof kModesOn - 1);
    resized = 1;  // take the size again and redraw everything
    dirty_ = true;
    CheckResize();
  }

  int Rows() const override { return rows_; }
  int Columns() const override { return cols_; }

  void PutCell(int row, int col, uint8_t ch, uint8_t attr) override {
    if (row < 1 || row > rows_ || col < 1 || col > cols_) return;
    const size_t i = Index(row, col);
    chars_[i] = ch;
    attrs_[i] = attr;
    Draw(row, col);
    dirty_ = true;
  }

  void GetCell(int row, int col, uint8_t& ch, uint8_t& attr) const override {
    if (row < 1 || row > rows_ || col < 1 || col > cols_) {
      ch = ' ';
      attr = 7;
      return;
    }
    ch = chars_[Index(row, col)];
    attr = attrs_[Index(row, col)];
  }

  void SetCursor(int row, int col) override {
    curRow_ = std::clamp(row, 1, rows_);
    curCol_ = std::clamp(col, 1, cols_);
    dirty_ = true;
  }
  void GetCursor(int& row, int& col) const override {
    row = curRow_;
    col = curCol_;
  }

  void SetCursorSize(int percent) override {
    cursorSize_ = std::clamp(percent, 0, 100);
    dirty_ = true;
  }
  int CursorSize() const override { return cursorSize_; }

  bool NextEvent(InputEvent& ev) override {
    CheckResize();
    if (TakeQueued(ev)) return true;
    Flush();
    if (closed_) return false;
    TakeInput(20);  // never longer: callers poll
    return TakeQueued(ev);
  }

  bool InputWaiting() override {
    CheckResize();
    if (queue_.empty() && !closed_) TakeInput(0);
    return !queue_.empty();
  }

 private:
  // Waits up to maxWaitMs (less when the decoder has a deadline sooner) for
  // input, decodes what arrived and queues the events.
  void TakeInput(int64_t maxWaitMs) {
    int64_t now = NowMs();
    int64_t wait = maxWaitMs;
    const int64_t deadline = decoder_.MsUntilDeadline(now);
    if (deadline >= 0) wait = std::min(wait, deadline);
    struct pollfd pfd {STDIN_FILENO, POLLIN, 0};
    const int r = poll(&pfd, 1, static_cast<int>(wait));
    now = NowMs();
    std::vector<InputEvent> got;
    if (r > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR))) {
      char buf[4096];
      const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n > 0) decoder_.Feed(std::string_view(buf, static_cast<size_t>(n)), now, got);
      else if (n == 0 || (errno != EINTR && errno != EAGAIN)) closed_ = true;
    }
    decoder_.Tick(now, got);
    for (auto& e : got) queue_.push_back(std::move(e));
    CheckResize();
  }

 public:
  bool InputClosed() const override { return closed_ && queue_.empty(); }

  void DiscardInput() override {
    queue_.clear();
    struct pollfd pfd {STDIN_FILENO, POLLIN, 0};
    char buf[4096];
    while (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN)) {
      if (::read(STDIN_FILENO, buf, sizeof buf) <= 0) break;
    }
    decoder_ = KeyDecoder();
  }

  int MouseButtons() const override { return 3; }
  void SetMouse(bool on) override { mouseOn_ = on; }

  void Beep() override { beep(); }

  void OfferClipboard(const std::string& text) override {
    if (!active) return;
    const std::string seq = "\x1b]52;c;" + Base64(Utf8FromCp858(text)) + "\x07";
    Flush();
    WriteOut(seq.data(), seq.size());
  }

  // Only what changed since the last flush reaches the terminal; a screen
  // that waits for a key costs one poll per 20 ms and nothing else.
  void Flush() override {
    if (!active || !dirty_) return;
    dirty_ = false;
    if (cursorSize_ > 0) move(curRow_ - 1, curCol_ - 1);
    curs_set(cursorSize_ > 0 ? 1 : 0);
    refresh();
    const int shape = cursorSize_ == 0 ? 0 : cursorSize_ <= 50 ? 4 : 2;
    if (shape != 0 && shape != shownShape_) {
      const std::string seq = "\x1b[" + std::to_string(shape) + " q";
      WriteOut(seq.data(), seq.size());
      shownShape_ = shape;
    }
  }

 private:
  size_t Index(int row, int col) const {
    return static_cast<size_t>(row - 1) * static_cast<size_t>(cols_) + static_cast<size_t>(col - 1);
  }

  bool TakeQueued(InputEvent& ev) {
    while (!queue_.empty()) {
      ev = std::move(queue_.front());
      queue_.erase(queue_.begin());
      if (ev.kind == InputEvent::Kind::Mouse && !mouseOn_) continue;
      if (ev.kind == InputEvent::Kind::Mouse && (ev.row > rows_ || ev.col > cols_)) continue;
      return true;
    }
    return false;
  }

  void CheckResize() {
    if (!resized) return;
    resized = 0;
    struct winsize ws {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0 || ws.ws_col == 0) return;
    const int rows = ws.ws_row, cols = ws.ws_col;
    resize_term(rows, cols);
    std::vector<uint8_t> chars(static_cast<size_t>(rows * cols), ' ');
    std::vector<uint8_t> attrs(chars.size(), 7);
    for (int r = 1; r <= std::min(rows, rows_); ++r)
      for (int c = 1; c <= std::min(cols, cols_); ++c) {
        const size_t to = static_cast<size_t>(r - 1) * static_cast<size_t>(cols) +
                          static_cast<size_t>(c - 1);
        chars[to] = chars_[Index(r, c)];
        attrs[to] = attrs_[Index(r, c)];
      }
    rows_ = rows;
    cols_ = cols;
    chars_.swap(chars);
    attrs_.swap(attrs);
    SetCursor(curRow_, curCol_);
    clearok(curscr, TRUE);
    dirty_ = true;
    for (int r = 1; r <= rows_; ++r)
      for (int c = 1; c <= cols_; ++c) Draw(r, c);
    InputEvent ev;
    ev.kind = InputEvent::Kind::Resize;
    queue_.push_back(ev);
  }

  short PairFor(uint8_t attr, attr_t& extra) {
    extra = 0;
    int fg = attr & 15, bg = (attr >> 4) & 15;
    if (!has_colors()) {
      if (bg != 0) extra |= A_REVERSE;
      if (fg & 8) extra |= A_BOLD;
      return 0;
    }
    short cf, cb;
    if (colours16_) {
      cf = static_cast<short>(kPcToCurses[fg & 7] + (fg & 8));
      cb = static_cast<short>(kPcToCurses[bg & 7] + (bg & 8));
    } else {
      // Eight colours: bright foregrounds in bold, bright backgrounds
      // lose their brightness; a foreground that would vanish into its
      // background turns white or black.
      if ((fg & 7) == (bg & 7) && fg != bg) fg = (bg & 7) == 7 ? 0 : 7;
      else if (fg & 8) extra |= A_BOLD;
      cf = kPcToCurses[fg & 7];
      cb = kPcToCurses[bg & 7];
    }
    const int key = cf * 16 + cb;
    if (pairOf_[key] != 0) return pairOf_[key];
    if (nextPair_ >= COLOR_PAIRS) return 0;
    init_pair(static_cast<short>(nextPair_), cf, cb);
    pairOf_[key] = static_cast<short>(nextPair_);
    return static_cast<short>(nextPair_++);
  }

  void BuildPlainTable() {
    for (int b = 0; b < 256; ++b) plain_[b] = b >= 32 && b < 127 ? static_cast<char>(b) : '?';
    for (int b = 128; b < 256; ++b) {
      const std::string out = AsciiFromCp858(std::string(1, static_cast<char>(b)));
      if (!out.empty() && out[0] >= 32 && out[0] < 127) plain_[b] = out[0];
    }
    // Where the locale knows no transliteration, the letters come from the
    // strict folding table (plain capitals), lowered again for small letters.
    const ScopedFoldMode fold(0);
    for (int b = 128; b < 256; ++b) {
      if (plain_[b] != '?') continue;
      const std::string one(1, static_cast<char>(b));
      FoldStrict = -1;
      const std::string strict = FoldText(one);
      FoldStrict = 0;
      const bool small = FoldText(one) != one;
      if (strict[0] >= 'A' && strict[0] <= 'Z')
        plain_[b] = small ? static_cast<char>(strict[0] + 32) : strict[0];
    }
    plain_[0x10] = '>';
    plain_[0x11] = '<';
  }

  void Draw(int row, int col) {
    if (!active) return;
    const size_t i = Index(row, col);
    const uint8_t ch = chars_[i];
    attr_t extra = 0;
    const short pair = PairFor(attrs_[i], extra);
    if (utf8_) {
      wchar_t wc[2] = {static_cast<wchar_t>(ch == 0 ? U' ' : UnicodeFromCp850(ch)), 0};
      cchar_t cc;
      setcchar(&cc, wc, extra, pair, nullptr);
      mvadd_wch(row - 1, col - 1, &cc);
      return;
    }
    chtype out;
    switch (ch) {
      case 0xDA: case 0xC9: out = ACS_ULCORNER; break;
      case 0xBF: case 0xBB: out = ACS_URCORNER; break;
      case 0xC0: case 0xC8: out = ACS_LLCORNER; break;
      case 0xD9: case 0xBC: out = ACS_LRCORNER; break;
      case 0xC4: case 0xCD: out = ACS_HLINE; break;
      case 0xB3: case 0xBA: out = ACS_VLINE; break;
      default: out = static_cast<unsigned char>(plain_[ch]); break;
    }
    mvaddch(row - 1, col - 1, out | extra | COLOR_PAIR(pair));
  }

  SCREEN* screen_ = nullptr;
  bool utf8_ = true;
  bool colours16_ = false;
  int rows_ = 25, cols_ = 80;
  std::vector<uint8_t> chars_, attrs_;
  int curRow_ = 1, curCol_ = 1, cursorSize_ = 0, shownShape_ = 0;
  std::vector<InputEvent> queue_;
  KeyDecoder decoder_;
  bool closed_ = false;
  bool mouseOn_ = false;
  bool dirty_ = true;
  std::array<short, 256> pairOf_{};
  int nextPair_ = 1;
  std::array<char, 256> plain_{};
};

void RestoreAtExit() {
  if (theTerminal != nullptr) theTerminal->Stop();
}

}  // namespace

std::unique_ptr<Console> MakeTerminalConsole() {
  if (theTerminal != nullptr || !isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return nullptr;
  auto console = std::make_unique<TerminalConsole>();
  if (!console->Start()) return nullptr;
  static bool registered = false;
  if (!registered) {
    std::atexit(RestoreAtExit);
    registered = true;
  }
  return console;
}

void SuspendTerminal() {
  if (theTerminal != nullptr) theTerminal->Suspend();
}

void ResumeTerminal() {
  if (theTerminal != nullptr) theTerminal->Resume();
}
