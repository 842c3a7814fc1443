// Writing CSV as RFC 4180 has it: cells separated by commas, a cell quoted
// (with its quotes doubled) only when it holds a comma, a quote, CR or LF.
// Bytes are copied as they are: the caller chooses the character set and
// the line ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One cell as it stands in a line.
[[nodiscard]] std::string CsvField(std::string_view cell);

// One line of cells, without the line break.
[[nodiscard]] std::string CsvLine(const std::vector<std::string>& cells);
