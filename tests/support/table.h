// Table-driven tests: runs one check over every row of a table, with the
// row's place (and its name, when the row has one) shown beside any failure.
//
//   struct Case { const char* name; std::string text; int expected; };
//   const Case cases[] = {{"blank", " ", 0}, {"digits", "12", 12}};
//   ForEachRow(cases, [](const Case& c) { EXPECT_EQ(Parse(c.text), c.expected); });
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

template <typename Row>
concept NamedRow = requires(const Row& row) { std::string(row.name); };

template <typename Row>
std::string RowLabel(const Row& row, size_t index) {
  std::string label = "row " + std::to_string(index);
  if constexpr (NamedRow<Row>) label += " (" + std::string(row.name) + ")";
  return label;
}

template <typename Table, typename Check>
void ForEachRow(const Table& rows, Check check) {
  size_t index = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(RowLabel(row, index));
    check(row);
    ++index;
  }
}
