// Field layouts and CSV for the recman tool: how the bytes of a fixed-length
// record map to named cells of a CSV file (UTF-8, RFC 4180) and back.
//
// A layout file holds one field a line, "name, offset, width, type" (offset
// from 0); "#" starts a comment, blank lines are ignored. Types:
//   text    code page 850 text padded with blanks; a cell is UTF-8 text
//   code    packed decimal pairs, each byte 128 + two digits; a cell is
//           digits, right-aligned with zeros to 2 x width ("5" -> "0005")
//   date    4 packed bytes century/year/month/day; a cell is "YYYYMMDD" or
//           empty (the empty date, four bytes 128)
//   int16, int32   little-endian signed; a cell is a decimal number
//   single  IEEE little-endian single precision; a cell is a decimal number
// An empty cell gives blanks, zero digits, the empty date or 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/codepage.h"

enum class FieldType { Text, Code, Date, Int16, Int32, Single };

struct LayoutField {
  std::string name;
  size_t offset = 0;
  size_t width = 0;
  FieldType type = FieldType::Text;
};

// Reads layout text. On a fault returns false with a message naming the line,
// or both fields when two of them share bytes.
bool ParseFieldLayout(std::string_view text, std::vector<LayoutField>& fields, std::string& error);

// Checks that every field lies inside a record of `recordLength` bytes.
bool CheckLayoutFits(const std::vector<LayoutField>& fields, size_t recordLength, std::string& error);

// One CSV row with the line number (from 1) where it starts.
struct CsvRow {
  size_t line = 0;
  std::vector<std::string> cells;
};

// Splits CSV text into rows: quoted cells with "" for a quote, line breaks
// inside quotes kept, CRLF or LF between rows, a final line break optional.
// False with a message naming the line on an unclosed quote or a quote inside
// an unquoted cell.
bool ParseCsv(std::string_view text, std::vector<CsvRow>& rows, std::string& error);

// Writes the cell of a field into the record at the field's offset. False
// with a message saying what is wrong with the cell (the caller adds where);
// a text cell holding a control character (below 0x20, or 0x7F) is refused.
bool CellToField(const LayoutField& field, const std::string& cell, uint8_t* record, std::string& error);

// The cell text of a field of a record. Control bytes of a text field are
// written as \xNN (lowercase hexadecimal).
std::string FieldToCell(const LayoutField& field, const uint8_t* record);

// UTF-8 to code page 850 (CP858), as base/codepage.h's Cp858FromUtf8: false
// on malformed UTF-8 or a character code page 850 lacks. Kept for callers
// that convert CSV cells the way the tool does.
[[nodiscard]] inline bool Utf8ToCp850(const std::string& utf8, std::string& out) { return Cp858FromUtf8(utf8, out); }
