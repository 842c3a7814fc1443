// The comma-separated item syntax shared by the form definition file and the
// language file: items separated by commas or line ends, leading blanks
// dropped, a text in double quotes keeping its commas and blanks. Items may
// be spread over lines in any way: a line end between items is no item, so
// a record may be broken after any comma. An empty item is written "", or
// as nothing between two commas; a line that ends in two commas (",,") ends
// with an empty item, as files of the suite write an empty last item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The largest form or language file read (base/files.h ReadRegularFile):
// real ones hold a few kilobytes.
inline constexpr size_t MostItemFileBytes = 16u << 20;

// Reads items one by one from a text held in memory.
// Invariant: the position never passes the end of the text; a Ctrl+Z byte
// (the old end-of-file mark) ends the text.
class ItemReader {
 public:
  explicit ItemReader(std::string text);

  // The next text item: quoted items without their quotes and as written
  // inside them, other items without leading and trailing blanks. An item
  // ends at a comma or at a line end. Line ends and blank lines before an
  // item are skipped, so a record may be spread over lines, except after an
  // unquoted empty item ended by a comma: "a,,<line end>" gives "a", "", "".
  // False when the text has ended before another item.
  bool Next(std::string& item);

  // The next item as a 16-bit number: the decimal number at its start,
  // rounded half to even and held within -32768..32767. Line ends before a
  // number are always skipped. False at the end.
  bool NextNumber(int16_t& number);

  // Before a group: moves to the start of the next line that is neither
  // blank nor a comment (first non-blank character "'"). Does nothing when
  // the rest of the current line still holds an item.
  void SkipComments();

  bool AtEnd();

 private:
  bool ReadItem(std::string& item, bool numeric);
  bool AtLineEnd() const;
  void SkipLineEnd();
  void SkipBlanks();

  std::string text_;
  size_t pos_ = 0;
  bool afterComma_ = false;        // the last item ended with a comma
  bool emptyBeforeComma_ = false;  // ... and was an unquoted empty item
};
