// Reading the print spool file into pages of a fixed character grid.
//
// The grid is 96 columns wide and as many lines high as the page's "PAGE"
// line says. Columns of text items are 1-based: column 1 is the left edge,
// column 96 the last cell (the invoice prints its four-character property
// code at column 92, so it ends in column 95). Column 0 continues where the
// previous item ended on the same line. Rows are 0-based from the top.
//
// Decisions about the spool file's content:
// - "JUS" applies to the next text item only (also an empty one). "D"
//   right-aligns the item inside its own width: the item spans the cells
//   from its column for as many cells as its text has characters, and its
//   last character, blank or not, goes into the last of them. Trailing
//   blanks belong to the text: a picture's sign position is a blank for a
//   positive amount and "-" for a negative one, so every amount of the same
//   picture printed at column 66 ends in column 66 + width - 1, with or
//   without "JUS D", positive or negative. "C" centres the text, trimmed of
//   blanks, inside the item's width. "E", "A" and "N..." print the item as
//   it is.
// - A blank never erases a character already on the page (paper does not
//   unprint); items later on a line overwrite earlier non-blank cells only
//   with non-blank characters.
// - Text beyond column 96 is cut; each item that loses characters is counted.
// - An item that would print at or below the page's last line starts a new
//   page of the same length on its first line, as the writer itself does.
//   Lines moved above the top stop at the top.
// - "*" directives: "@e" counts an invoice; others are ignored.
// - A line that is none of the commands, an item with an unreadable or
//   out-of-range number, a "PAGE" with a length outside 1..MaxPageLines (the
//   page is still started, with the previous length or DefaultPageLines) and
//   a "JUS" with an unknown letter are skipped and counted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int GridColumns = 96;
inline constexpr int DefaultPageLines = 66;
inline constexpr int MaxPageLines = 240;

struct GridPage {
  int lines = DefaultPageLines;
  std::vector<std::string> rows;  // `lines` rows of GridColumns cp850 bytes
};

struct SpoolTotals {
  int pages = 0;
  int invoices = 0;  // "*@e" directives
  int skipped = 0;   // lines not understood
  int cut = 0;       // items cut at the right edge
};

// Receives each page once it is complete.
using PageSink = std::function<void(const GridPage&)>;

class SpoolReader {
 public:
  explicit SpoolReader(PageSink sink);

  // One line of the spool file, without its line end (a trailing CR is
  // tolerated). The DEVICE line is the caller's: here it counts as skipped.
  void Feed(std::string_view line);
  // Hands over the page in progress. Call once, after the last line.
  void Finish();

  const SpoolTotals& Totals() const { return totals_; }

 private:
  void StartPage(int lines);
  void PlaceItem(long column, std::string_view text);
  void EmitPage();

  PageSink sink_;
  SpoolTotals totals_;
  GridPage page_;
  bool pageOpen_ = false;
  long line_ = 0;    // row of the next item; may pass the page end
  long column_ = 0;  // 0-based cell where column 0 continues
  char justification_ = 'E';
};

// The device line's value when line is "DEVICE" + value; false otherwise.
bool DeviceOf(std::string_view line, std::string& device);
