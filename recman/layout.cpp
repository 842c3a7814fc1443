#include "recman/layout.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/text.h"

namespace {

// A byte as \xNN, lowercase hexadecimal.
std::string EscapedByte(unsigned char c) {
  static const char digits[] = "0123456789abcdef";
  return std::string{'\\', 'x', digits[c >> 4], digits[c & 15]};
}

bool ParseSize(const std::string& s, size_t& out) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool AllDigits(const std::string& s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Packs an even number of digits into bytes of 128 + pair value.
void PackDigits(const std::string& digits, uint8_t* out) {
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out[i / 2] = static_cast<uint8_t>(128 + (digits[i] - '0') * 10 + (digits[i + 1] - '0'));
  }
}

bool ValidDate(int year, int month, int day) { return day >= 1 && day <= DaysInMonth(year, month); }

template <typename Int>
bool ParseInteger(const std::string& s, Int& out) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  auto [p, ec] = std::from_chars(b, e, out);
  return b != e && ec == std::errc() && p == e;
}

}  // namespace

bool ParseFieldLayout(std::string_view text, std::vector<LayoutField>& fields, std::string& error) {
  fields.clear();
  size_t lineNo = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    if (Trim(line).empty()) continue;
    std::vector<std::string> parts;
    size_t p = 0;
    while (true) {
      const size_t comma = line.find(',', p);
      parts.push_back(Trim(line.substr(p, comma == std::string_view::npos ? std::string_view::npos : comma - p)));
      if (comma == std::string_view::npos) break;
      p = comma + 1;
    }
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (parts.size() != 4) {
      error = where + "expected \"name, offset, width, type\"";
      return false;
    }
    LayoutField f;
    f.name = parts[0];
    if (f.name.empty()) {
      error = where + "field name is empty";
      return false;
    }
    if (!ParseSize(parts[1], f.offset) || !ParseSize(parts[2], f.width) || f.width == 0) {
      error = where + "offset and width must be whole numbers, width at least 1";
      return false;
    }
    const std::string& t = parts[3];
    size_t fixedWidth = 0;
    if (t == "text") {
      f.type = FieldType::Text;
    } else if (t == "code") {
      f.type = FieldType::Code;
    } else if (t == "date") {
      f.type = FieldType::Date;
      fixedWidth = 4;
    } else if (t == "int16") {
      f.type = FieldType::Int16;
      fixedWidth = 2;
    } else if (t == "int32") {
      f.type = FieldType::Int32;
      fixedWidth = 4;
    } else if (t == "single") {
      f.type = FieldType::Single;
      fixedWidth = 4;
    } else {
      error = where + "unknown type \"" + t + "\" (text, code, date, int16, int32, single)";
      return false;
    }
    if (fixedWidth != 0 && f.width != fixedWidth) {
      error = where + "a " + t + " field is " + std::to_string(fixedWidth) + " bytes wide";
      return false;
    }
    for (const LayoutField& other : fields) {
      if (other.name == f.name) {
        error = where + "field \"" + f.name + "\" appears twice";
        return false;
      }
    }
    fields.push_back(f);
  }
  if (fields.empty()) {
    error = "the layout has no fields";
    return false;
  }
  // Two fields sharing bytes would write over each other on import.
  auto end = [](const LayoutField& f) {
    return f.offset > std::numeric_limits<size_t>::max() - f.width ? std::numeric_limits<size_t>::max()
                                                                  : f.offset + f.width;
  };
  for (size_t a = 0; a < fields.size(); ++a) {
    for (size_t b = a + 1; b < fields.size(); ++b) {
      if (fields[a].offset < end(fields[b]) && fields[b].offset < end(fields[a])) {
        error = "field \"" + fields[b].name + "\" (from byte " + std::to_string(fields[b].offset) +
                ") overlaps field \"" + fields[a].name + "\" (bytes " + std::to_string(fields[a].offset) + " to " +
                std::to_string(end(fields[a]) - 1) + ")";
        return false;
      }
    }
  }
  return true;
}

bool CheckLayoutFits(const std::vector<LayoutField>& fields, size_t recordLength, std::string& error) {
  for (const LayoutField& f : fields) {
    // Compared without adding: offset + width could wrap round for the
    // huge numbers a damaged layout file may hold.
    if (f.width > recordLength || f.offset > recordLength - f.width) {
      error = "field \"" + f.name + "\" starts at byte " + std::to_string(f.offset) + " with width " +
              std::to_string(f.width) + ", beyond the record length " + std::to_string(recordLength);
      return false;
    }
  }
  return true;
}

bool ParseCsv(std::string_view text, std::vector<CsvRow>& rows, std::string& error) {
  rows.clear();
  size_t line = 1;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    CsvRow row;
    row.line = line;
    bool rowDone = false;
    while (!rowDone) {
      std::string cell;
      if (i < n && text[i] == '"') {
        const size_t openLine = line;
        ++i;
        bool closed = false;
        while (i < n) {
          const char c = text[i++];
          if (c == '"') {
            if (i < n && text[i] == '"') {
              cell.push_back('"');
              ++i;
            } else {
              closed = true;
              break;
            }
          } else {
            if (c == '\n') ++line;
            cell.push_back(c);
          }
        }
        if (!closed) {
          error = "line " + std::to_string(openLine) + ": a quoted cell is never closed";
          return false;
        }
        if (i < n && text[i] != ',' && text[i] != '\n' && !(text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') &&
            !(text[i] == '\r' && i + 1 == n)) {
          error = "line " + std::to_string(line) + ": text after a closing quote";
          return false;
        }
      } else {
        while (i < n && text[i] != ',' && text[i] != '\n') {
          if (text[i] == '"') {
            error = "line " + std::to_string(line) + ": a quote inside an unquoted cell";
            return false;
          }
          if (text[i] == '\r' && (i + 1 == n || text[i + 1] == '\n')) {
            ++i;
            continue;
          }
          cell.push_back(text[i++]);
        }
      }
      row.cells.push_back(std::move(cell));
      if (i < n && text[i] == '\r') ++i;
      if (i >= n) {
        rowDone = true;
      } else if (text[i] == ',') {
        ++i;
      } else {  // '\n'
        ++i;
        ++line;
        rowDone = true;
      }
    }
    rows.push_back(std::move(row));
  }
  return true;
}

bool CellToField(const LayoutField& field, const std::string& cell, uint8_t* record, std::string& error) {
  uint8_t* dst = record + field.offset;
  switch (field.type) {
    case FieldType::Text: {
      std::string text;
      for (size_t i = 0; i < cell.size(); ++i) {
        const auto c = static_cast<unsigned char>(cell[i]);
        if (c < 0x20 || c == 0x7F) {
          error = "text has a control character (" + EscapedByte(c) + ") at character " + std::to_string(i + 1);
          return false;
        }
      }
      if (!Cp858FromUtf8(cell, text)) {
        error = "text has a character that code page 850 lacks, or is not UTF-8";
        return false;
      }
      if (text.size() > field.width) {
        error = "text is " + std::to_string(text.size()) + " characters, longer than the width " +
                std::to_string(field.width);
        return false;
      }
      std::memset(dst, ' ', field.width);
      std::memcpy(dst, text.data(), text.size());
      return true;
    }
    case FieldType::Code: {
      const size_t digits = field.width * 2;
      if (!AllDigits(cell) || cell.size() > digits) {
        error = "a code is up to " + std::to_string(digits) + " digits";
        return false;
      }
      PackDigits(std::string(digits - cell.size(), '0') + cell, dst);
      return true;
    }
    case FieldType::Date: {
      if (cell.empty()) {
        std::memset(dst, 128, 4);
        return true;
      }
      if (cell.size() != 8 || !AllDigits(cell) ||
          !ValidDate(std::stoi(cell.substr(0, 4)), std::stoi(cell.substr(4, 2)), std::stoi(cell.substr(6, 2)))) {
        error = "a date is YYYYMMDD (a real calendar date) or empty";
        return false;
      }
      PackDigits(cell, dst);
      return true;
    }
    case FieldType::Int16:
    case FieldType::Int32: {
      int64_t value = 0;
      if (!cell.empty() && !ParseInteger(cell, value)) {
        error = "not a whole number";
        return false;
      }
      const bool narrow = field.type == FieldType::Int16;
      const int64_t lo = narrow ? std::numeric_limits<int16_t>::min() : std::numeric_limits<int32_t>::min();
      const int64_t hi = narrow ? std::numeric_limits<int16_t>::max() : std::numeric_limits<int32_t>::max();
      if (value < lo || value > hi) {
        error = "number out of range " + std::to_string(lo) + " to " + std::to_string(hi);
        return false;
      }
      const uint32_t bits = static_cast<uint32_t>(value);
      for (size_t b = 0; b < field.width; ++b) dst[b] = static_cast<uint8_t>(bits >> (8 * b));
      return true;
    }
    case FieldType::Single: {
      float value = 0;
      if (!cell.empty()) {
        const char* b = cell.data();
        const char* e = b + cell.size();
        if (*b == '+') ++b;
        auto [p, ec] = std::from_chars(b, e, value);
        if (b == e || ec != std::errc() || p != e || !std::isfinite(value)) {
          error = "not a number within single precision";
          return false;
        }
      }
      uint32_t bits;
      std::memcpy(&bits, &value, 4);
      for (size_t b = 0; b < 4; ++b) dst[b] = static_cast<uint8_t>(bits >> (8 * b));
      return true;
    }
  }
  return false;
}

std::string FieldToCell(const LayoutField& field, const uint8_t* record) {
  const uint8_t* src = record + field.offset;
  switch (field.type) {
    case FieldType::Text: {
      std::string text(reinterpret_cast<const char*>(src), field.width);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      // Control bytes (which code page 850 shows as symbols) are written
      // as \xNN, so that a CSV line never holds a control character.
      const std::string utf8 = Utf8FromCp858(text);
      std::string cell;
      cell.reserve(utf8.size());
      for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
          cell += EscapedByte(c);
        } else {
          cell.push_back(ch);
        }
      }
      return cell;
    }
    case FieldType::Code:
      return KeyDigits(std::string_view(reinterpret_cast<const char*>(src), field.width));
    case FieldType::Date: {
      bool empty = true;
      for (size_t b = 0; b < 4; ++b) empty = empty && src[b] == 128;
      return empty ? std::string() : KeyDigits(std::string_view(reinterpret_cast<const char*>(src), 4));
    }
    case FieldType::Int16:
      return std::to_string(static_cast<int16_t>(src[0] | (src[1] << 8)));
    case FieldType::Int32: {
      const uint32_t bits = src[0] | (src[1] << 8) | (src[2] << 16) | (static_cast<uint32_t>(src[3]) << 24);
      return std::to_string(static_cast<int32_t>(bits));
    }
    case FieldType::Single: {
      const uint32_t bits = src[0] | (src[1] << 8) | (src[2] << 16) | (static_cast<uint32_t>(src[3]) << 24);
      float value;
      std::memcpy(&value, &bits, 4);
      char buf[64];
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
      return ec == std::errc() ? std::string(buf, p) : std::string();
    }
  }
  return {};
}
