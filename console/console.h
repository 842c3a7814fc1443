// The console seam: the few operations the screen layer needs from a text
// screen (cells, cursor, scrolling, input events, beep, clipboard, size), and
// its two back ends. Everything above this header talks only to `Console`;
// the terminal back end lives in its own source file.
//
// Coordinates are 1-based absolute screen positions. A cell holds one code
// page 850 byte and one attribute byte (background * 16 + foreground).
// Invariant of every back end: a cell outside the current screen is never
// written, and reading one gives a blank with attribute 7.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// Modifier bits of an input event.
inline constexpr uint8_t ModShift = 1;
inline constexpr uint8_t ModCtrl = 2;
inline constexpr uint8_t ModAlt = 4;   // left Alt (or an Esc prefix)

struct InputEvent {
  enum class Kind : uint8_t {
    Key,       // code holds a character byte or a scan code * 256
    Mouse,     // a button press: buttons, row, col
    Paste,     // text holds pasted code page 850 bytes, unfiltered
    Modifiers, // a modifier state change without a key (Alt released)
    Resize,    // the screen changed size
  };
  Kind kind = Kind::Key;
  uint16_t code = 0;     // unmodified key code: Left is 0x4B00 also with Ctrl
  uint8_t mods = 0;      // ModShift | ModCtrl | ModAlt
  bool keypad = false;   // the key came from the numeric keypad
  uint16_t buttons = 0;  // 1 left, 2 right, 4 middle
  uint16_t row = 0, col = 0;
  std::string text;
};

class Console {
 public:
  virtual ~Console() = default;

  virtual int Rows() const = 0;
  virtual int Columns() const = 0;

  // Writes one cell; outside the screen nothing happens.
  virtual void PutCell(int row, int col, uint8_t ch, uint8_t attr) = 0;
  // Reads one cell back exactly as written.
  virtual void GetCell(int row, int col, uint8_t& ch, uint8_t& attr) const = 0;

  // Cursor position, kept inside the screen (clamped).
  virtual void SetCursor(int row, int col) = 0;
  virtual void GetCursor(int& row, int& col) const = 0;
  // 0 hides the cursor, 1..100 shows it with that height in percent
  // (a hint: a terminal shows what it can).
  virtual void SetCursorSize(int percent) = 0;
  virtual int CursorSize() const = 0;

  // Moves the rectangle's contents up by n lines (n > 0) or down by -n
  // (n < 0); freed lines become blanks with attr. Clipped to the screen.
  // The default moves the cells one by one through GetCell and PutCell,
  // which is all both back ends need.
  virtual void Scroll(int top, int left, int bottom, int right, int n, uint8_t attr);

  // The next pending input event, false when none. The terminal back end may
  // wait up to 20 ms for one, never longer.
  virtual bool NextEvent(InputEvent& ev) = 0;
  // True when an input event is ready now; never waits. Input that has
  // arrived is taken in, so the next NextEvent returns at once. For loops
  // that look for a key between pieces of work (a list being built).
  virtual bool InputWaiting() = 0;
  // True when no input will ever come again (script exhausted, terminal
  // gone): waiting loops use it to stop instead of spinning forever.
  virtual bool InputClosed() const = 0;
  // Drops every pending input event.
  virtual void DiscardInput() = 0;

  // Number of mouse buttons, 0 without a mouse; mouse reporting on or off.
  virtual int MouseButtons() const = 0;
  virtual void SetMouse(bool on) = 0;

  virtual void Beep() = 0;
  // Offers code page 850 text to the system clipboard (a hint).
  virtual void OfferClipboard(const std::string& text) = 0;
  // Makes everything written so far visible.
  virtual void Flush() = 0;
};

// The process-wide console the screen layer draws on. The program or a test
// installs it; nullptr uninstalls. Precondition of every screen routine: a
// console is installed (without one, CurrentConsole gives a 80x25 memory
// console with no input, so nothing crashes).
void SetConsole(Console* console);
Console& CurrentConsole();

// A console over a cell grid with a scripted queue of input, for tests and
// headless runs.
class MemoryConsole : public Console {
 public:
  explicit MemoryConsole(int rows = 25, int columns = 80);

  int Rows() const override { return rows_; }
  int Columns() const override { return cols_; }
  void PutCell(int row, int col, uint8_t ch, uint8_t attr) override;
  void GetCell(int row, int col, uint8_t& ch, uint8_t& attr) const override;
  void SetCursor(int row, int col) override;
  void GetCursor(int& row, int& col) const override;
  void SetCursorSize(int percent) override { cursorSize_ = percent; }
  int CursorSize() const override { return cursorSize_; }
  bool NextEvent(InputEvent& ev) override;
  bool InputWaiting() override { return !events_.empty(); }
  bool InputClosed() const override { return events_.empty(); }
  void DiscardInput() override { events_.clear(); }
  int MouseButtons() const override { return mouseButtons_; }
  void SetMouse(bool on) override { mouseOn_ = on; }
  void Beep() override { ++beeps_; }
  void OfferClipboard(const std::string& text) override { offered_ = text; }
  void Flush() override {}

  // Scripting.
  void PushEvent(const InputEvent& ev) { events_.push_back(ev); }
  void PushKey(uint16_t code, uint8_t mods = 0, bool keypad = false);
  void PushText(const std::string& cp850);  // one key event per byte
  void PushClick(int row, int col, uint16_t buttons = 1);
  void PushPaste(const std::string& cp850);
  void SetMouseButtons(int n) { mouseButtons_ = n; }
  // Changes the size, keeping the top-left contents, and queues a Resize.
  void Resize(int rows, int columns);

  // Inspection.
  std::string RowText(int row) const;                  // whole row, cp850
  std::string RowText(int row, int col, int len) const;
  std::string RowAttrs(int row, int col, int len) const;  // attribute bytes
  bool MouseOn() const { return mouseOn_; }
  int Beeps() const { return beeps_; }
  const std::string& Offered() const { return offered_; }
  size_t PendingEvents() const { return events_.size(); }

 private:
  int rows_, cols_;
  std::vector<uint8_t> chars_, attrs_;
  int curRow_ = 1, curCol_ = 1, cursorSize_ = 0;
  std::deque<InputEvent> events_;
  int mouseButtons_ = 0;
  bool mouseOn_ = false;
  int beeps_ = 0;
  std::string offered_;
};

// The real terminal through ncursesw. Create at most one; it takes the
// terminal over (raw mode, no echo, mouse and paste reporting) and gives it
// back on destruction, at exit and on SIGINT, SIGTERM and SIGHUP.
// Returns nullptr (and leaves the terminal alone) when standard input or
// output is not a terminal.
std::unique_ptr<Console> MakeTerminalConsole();

// Hands the terminal back (for a child program) and takes it again. Both do
// nothing when no terminal console exists.
void SuspendTerminal();
void ResumeTerminal();
