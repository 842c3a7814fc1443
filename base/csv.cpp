#include "base/csv.h"

std::string CsvField(std::string_view cell) {
  if (cell.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(cell);
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string line;
  for (size_t c = 0; c < cells.size(); ++c) {
    if (c > 0) line.push_back(',');
    line += CsvField(cells[c]);
  }
  return line;
}
