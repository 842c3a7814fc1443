// The screen layer over the current console: display modes with their stack,
// the pop-up window stack kept in "WinPush.tmp", window-relative cursor
// positioning, frames, text output in the current colour, the word-wrapping
// of texts into lines, the centred message window and scrolling.
//
// Coordinates are 1-based. While a window is open (WindowDepth != 0),
// window-relative positions are offset by its top-left corner (the frame),
// so relative (1, 1) is the first cell inside the frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"

// What the screen layer takes from the session, handed down once at start-up
// (and by tests) through SetScreenSettings; the layer never reads the session
// itself.
struct ScreenSettings {
  // Per display mode (0 "h", 1 "n", 2 "r", 3 "rn", 4 "u"): foreground,
  // background, each 0..15 (higher bits are ignored).
  int16_t colourTable[5][2] = {};
  // Host path of the window-stack file (the session's temporary directory +
  // "WinPush.tmp"); the default is that name in the working directory.
  std::string windowStackPath = "WinPush.tmp";
  // The session's language, for the layer's own texts (console/messages.h).
  Language language = Language::Catalan;
};

// Replaces the settings; the current display mode takes its new colours at
// the next mode change. Kept across ResetScreenState.
void SetScreenSettings(const ScreenSettings& settings);
const ScreenSettings& CurrentScreenSettings();

// The innermost open window, frame included, in absolute coordinates; all 0
// (and Depth 0) when none is open.
struct WindowState {
  int16_t Depth = 0;
  int16_t Top = 0, Left = 0, Bottom = 0, Right = 0;
};
extern WindowState Window;

// Height and width of the console's visible window, asked every call.
int16_t ScreenRows();
int16_t ScreenColumns();

// Cursor to (row, col), window-relative while a window is open.
void LocateInWindow(int row, int col);
// Cursor to an absolute position, and where the cursor is.
void LocateAbsolute(int row, int col);
void CursorPosition(int& row, int& col);
// 0 hides the cursor; 50 half height (insert), 100 full (overwrite).
void SetCursorSize(int percent);
int CurrentCursorSize();

// First row / column inside the window (1 without a window) and the last
// column / row inside it (the screen's last without a window).
int16_t WindowFirstRow();
int16_t WindowFirstColumn();
int16_t WindowLastColumn();
int16_t WindowLastRow();

// Saves the rectangle (absolute, frame included) to the window stack and
// makes it the current window; draws nothing. A rectangle partly beyond the
// bottom or right edge of the screen is cut to the screen. A rectangle that
// cannot be shown at all (top or left below 1, inverted, or starting beyond
// the screen or beyond row/column 99) is refused: nothing changes, and the
// matching PopWindow does nothing. Returns 0 when pushed, 1 when refused.
int16_t PushWindow(int top, int left, int bottom, int right);
// Restores the most recently pushed rectangle, the window state and the
// cursor from before its push, and deletes "WinPush.tmp" when the stack is
// empty. Without an open window, or over a damaged file, nothing is
// restored (the depth still goes down by one when a window was open).
void PopWindow();

// Frame of the current window in the current colour, inside blanked.
// Style 0 blanks, 1 single lines, 2 double lines; nothing without a window.
void DrawWindowFrame(int style);

// A frame line between its corners: width cells of the style's horizontal
// line with keys centred in it between tees facing them (single lines 0xB4
// and 0xC3, double 0xB9 and 0xCC), a blank on each side of the keys and at
// least one cell of line on each side of the tees. Keys too long for that
// lose the blanks, then their groups (parted by two blanks) from the end,
// and a first group too long loses its end; empty keys give the plain line.
[[nodiscard]] std::string FrameLineWithKeys(const std::string& keys, int width, int style);
// Writes FrameLineWithKeys into the bottom line of the current window's
// frame, between its corners, in the current colour; nothing without a
// window or on a window of one row.
void WriteFrameKeys(const std::string& keys, int style);

// Selects a display mode by letter code ("h", "n", "r", "rh", "u", with "+"
// to save the current mode first, "-" to restore the saved one).
void SetDisplayMode(const std::string& code);
int16_t CurrentDisplayMode();
// Current output attribute (background * 16 + foreground).
uint8_t CurrentAttribute();
void SetColour(int foreground, int background);

// Writes text at the cursor in the current colour and moves the cursor
// after it; what would fall beyond the right edge is cut, never wrapped.
void WriteText(const std::string& text);
void WriteBlanks(int count);
// Writes at a window-relative position.
void WriteAt(int row, int col, const std::string& text);

// Breaks text into lines of equal width (see the .cpp for the rules) and
// replaces it with them concatenated. align's first letter: E/L/I left,
// N left padded with "-", D/R right, C centred, A/B justified.
void FormatTextLines(std::string& text, int indent, int width, const std::string& align);
// The same lines one by one.
std::vector<std::string> FormatTextLineList(const std::string& text, int indent, int width,
                                            const std::string& align);

// Opens a framed, centred window holding text word-wrapped to 76 columns
// (less on a narrower screen), around anchorRow, in reverse video. text
// holds the formatted lines afterwards. The caller closes it with PopWindow.
// With keys (the keys the caller then waits for), the window is made wide
// enough, within the text width, to show them in its bottom line
// (WriteFrameKeys); the lines stay at its left. Returns 0 when the window
// was opened, 1 when it did not fit (then the caller's PopWindow does
// nothing, so the windows below stay open).
int16_t ShowMessageWindow(int anchorRow, std::string& text, const std::string& keys = std::string());

// Scrolls the rectangle (0-based coordinates) up by n lines when n > 0,
// down by -n when n < 0, down by one when n == 0; the freed lines are blank
// in the current colour.
void ScrollRegion(int top, int left, int bottom, int right, int n);

// Sounds the console's beep.
void Beep();

// Where the window stack lives: the settings' windowStackPath (a host path).
std::string WindowStackPath();

// Back to the start state (no window, mode 0, empty mode stack); for tests
// and for a program that installs a new console.
void ResetScreenState();
