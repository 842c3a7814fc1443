// The recman tool: field layouts, CSV, and its commands on real files.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "base/csv.h"
#include "recman/fault.h"
#include "recman/layout.h"
#include "recman/tool.h"
#include "support.h"

namespace {

// ---- field layouts -----------------------------------------------------------

struct LayoutCase {
  const char* text;
  size_t fields;      // parsed fields when ok
  const char* error;  // part of the message, or nullptr when it parses
};

TEST(RecmanFieldLayout, LinesCommentsAndFaults) {
  const LayoutCase cases[] = {
      {"A, 0, 4, code\n", 1, nullptr},
      {"# comment only\n\nA, 0, 4, code # trailing\r\n  B ,4,4,date\n", 2, nullptr},
      {"A, 0, 2, int16\nB, 2, 4, int32\nC, 6, 4, single\nD, 10, 30, text", 4, nullptr},
      {"", 0, "no fields"},
      {"A, 0, 4\n", 0, "line 1"},
      {"\nA, x, 4, code\n", 0, "line 2"},
      {"A, 0, 0, text\n", 0, "width"},
      {"A, 0, 4, money\n", 0, "unknown type"},
      {"A, 0, 3, date\n", 0, "4 bytes"},
      {"A, 0, 4, int16\n", 0, "2 bytes"},
      {"A, 0, 4, code\nA, 4, 4, code\n", 0, "twice"},
      {", 0, 4, code\n", 0, "name"},
      {"A, -1, 4, code\n", 0, "line 1"},
      {"A, 0, 4, code\nB, 4, 2, int16\n", 2, nullptr},
      {"A, 4, 4, code\nB, 0, 6, text\n", 0, "\"B\" (from byte 0) overlaps field \"A\" (bytes 4 to 7)"},
      {"A, 0, 8, text\nB, 8, 2, int16\nC, 7, 1, text\n", 0, "\"C\" (from byte 7) overlaps field \"A\""},
      {"A, 18446744073709551615, 1, text\nB, 0, 4, code\n", 2, nullptr},
  };
  for (const LayoutCase& c : cases) {
    std::vector<LayoutField> fields;
    std::string error;
    const bool ok = ParseFieldLayout(c.text, fields, error);
    EXPECT_EQ(ok, c.error == nullptr) << c.text;
    if (ok) {
      EXPECT_EQ(fields.size(), c.fields) << c.text;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
    }
  }
}

TEST(RecmanFieldLayout, ShippedLayoutsFitTheirRecords) {
  const struct {
    const char* file;
    size_t recordLength;
  } shipped[] = {{"PropietV", 324}, {"FinquesV", 204}, {"DepartaV", 448}, {"CobramV", 44}};
  for (const auto& s : shipped) {
    std::ifstream in(std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/" + s.file + ".layout");
    std::stringstream text;
    text << in.rdbuf();
    std::vector<LayoutField> fields;
    std::string error;
    EXPECT_TRUE(ParseFieldLayout(text.str(), fields, error)) << s.file << ": " << error;
    EXPECT_TRUE(CheckLayoutFits(fields, s.recordLength, error)) << s.file << ": " << error;
    EXPECT_FALSE(CheckLayoutFits(fields, 3, error)) << s.file;
  }
}

TEST(RecmanFieldLayout, FieldsBeyondTheRecordAreRefused) {
  const struct {
    const char* text;
    bool fits;
  } cases[] = {
      {"A, 0, 44, text\n", true},
      {"A, 40, 4, int32\n", true},
      {"A, 41, 4, int32\n", false},
      {"A, 0, 45, text\n", false},
      {"A, 44, 1, text\n", false},
      // offset + width wraps round to a small number in size_t arithmetic
      {"A, 18446744073709551615, 1, text\n", false},
      {"A, 18446744073709551612, 4, int32\n", false},
      {"A, 1, 18446744073709551615, text\n", false},
  };
  for (const auto& c : cases) {
    std::vector<LayoutField> fields;
    std::string error;
    ASSERT_TRUE(ParseFieldLayout(c.text, fields, error)) << c.text << ": " << error;
    EXPECT_EQ(CheckLayoutFits(fields, 44, error), c.fits) << c.text;
  }
}

// ---- CSV ---------------------------------------------------------------------

struct CsvCase {
  const char* name;
  std::string text;
  std::vector<std::vector<std::string>> rows;
  std::vector<size_t> lines;
  const char* error;
};

TEST(RecmanCsv, SplitsRowsAndCells) {
  const CsvCase cases[] = {
      {"plain", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}, {1, 2}, nullptr},
      {"CRLF and no final break", "a,b\r\n1,2", {{"a", "b"}, {"1", "2"}}, {1, 2}, nullptr},
      {"empty cells", ",\n,x,\n", {{"", ""}, {"", "x", ""}}, {1, 2}, nullptr},
      {"quoted comma and quote", "\"a,b\",\"say \"\"hi\"\"\"\n", {{"a,b", "say \"hi\""}}, {1}, nullptr},
      {"line break inside quotes", "\"two\nlines\",x\ny,z\n", {{"two\nlines", "x"}, {"y", "z"}}, {1, 3}, nullptr},
      {"quoted empty", "\"\",a\n", {{"", "a"}}, {1}, nullptr},
      {"unclosed quote", "a\n\"open,b\n", {}, {}, "line 2"},
      {"quote inside a plain cell", "a,b\"c\n", {}, {}, "line 1"},
      {"text after a closing quote", "\"a\"b,c\n", {}, {}, "closing quote"},
  };
  for (const CsvCase& c : cases) {
    std::vector<CsvRow> rows;
    std::string error;
    const bool ok = ParseCsv(c.text, rows, error);
    ASSERT_EQ(ok, c.error == nullptr) << c.name << ": " << error;
    if (!ok) {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.name << " gave: " << error;
      continue;
    }
    ASSERT_EQ(rows.size(), c.rows.size()) << c.name;
    for (size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(rows[r].cells, c.rows[r]) << c.name << ", row " << r;
      EXPECT_EQ(rows[r].line, c.lines[r]) << c.name << ", row " << r;
    }
    // Writing the rows back and reading them again gives the same cells.
    std::string again;
    for (const auto& row : c.rows) again += CsvLine(row) + "\r\n";
    std::vector<CsvRow> back;
    ASSERT_TRUE(ParseCsv(again, back, error)) << c.name;
    ASSERT_EQ(back.size(), c.rows.size()) << c.name;
    for (size_t r = 0; r < back.size(); ++r) EXPECT_EQ(back[r].cells, c.rows[r]) << c.name << " written back";
  }
}

// ---- cells -------------------------------------------------------------------

struct CellCase {
  FieldType type;
  size_t width;
  std::string cell;
  std::string bytes;   // the field's bytes, when the cell is good
  const char* error;   // part of the message, when it is not
  std::string dumped;  // the cell written back
};

TEST(RecmanCells, EachTypeConvertsBothWays) {
  const CellCase cases[] = {
      {FieldType::Code, 2, "5", "\x80\x85", nullptr, "0005"},
      {FieldType::Code, 2, "1234", "\x8c\xa2", nullptr, "1234"},
      {FieldType::Code, 2, "", "\x80\x80", nullptr, "0000"},
      {FieldType::Code, 2, "12345", "", "up to 4 digits", ""},
      {FieldType::Code, 2, "12a", "", "digits", ""},
      {FieldType::Code, 2, "-1", "", "digits", ""},
      {FieldType::Date, 4, "20240531", "\x94\x98\x85\x9f", nullptr, "20240531"},
      {FieldType::Date, 4, "", "\x80\x80\x80\x80", nullptr, ""},
      {FieldType::Date, 4, "20240229", "\x94\x98\x82\x9d", nullptr, "20240229"},
      {FieldType::Date, 4, "20230229", "", "date", ""},
      {FieldType::Date, 4, "20241301", "", "date", ""},
      {FieldType::Date, 4, "2024-05-31", "", "date", ""},
      {FieldType::Int16, 2, "-2", "\xfe\xff", nullptr, "-2"},
      {FieldType::Int16, 2, "32767", "\xff\x7f", nullptr, "32767"},
      {FieldType::Int16, 2, "32768", "", "out of range", ""},
      {FieldType::Int16, 2, "1.5", "", "whole number", ""},
      {FieldType::Int16, 2, "", std::string("\0\0", 2), nullptr, "0"},
      {FieldType::Int32, 4, "-2147483648", std::string("\0\0\0\x80", 4), nullptr, "-2147483648"},
      {FieldType::Int32, 4, "2147483648", "", "out of range", ""},
      {FieldType::Int32, 4, "12345", std::string("\x39\x30\0\0", 4), nullptr, "12345"},
      {FieldType::Single, 4, "1.5", std::string("\0\0\xc0\x3f", 4), nullptr, "1.5"},
      {FieldType::Single, 4, "0.1", "\xcd\xcc\xcc\x3d", nullptr, "0.1"},
      {FieldType::Single, 4, "1e40", "", "single", ""},
      {FieldType::Single, 4, "abc", "", "number", ""},
      {FieldType::Text, 6, "abc", "abc   ", nullptr, "abc"},
      {FieldType::Text, 6, "\xc3\x80\xc3\xa7\xe2\x82\xac", "\xb7\x87\xd5   ", nullptr, "\xc3\x80\xc3\xa7\xe2\x82\xac"},
      {FieldType::Text, 3, "abcd", "", "longer than the width 3", ""},
      {FieldType::Text, 3, "\xe4\xb8\xad", "", "code page 850", ""},
      {FieldType::Text, 3, "\xff", "", "code page 850", ""},
      {FieldType::Text, 6, "a\x07" "b", "", "control character (\\x07) at character 2", ""},
      {FieldType::Text, 6, "a\tb", "", "control character (\\x09)", ""},
      {FieldType::Text, 6, "a\x7f", "", "control character (\\x7f)", ""},
  };
  for (const CellCase& c : cases) {
    LayoutField field{"F", 1, c.width, c.type};
    std::string record(c.width + 2, '#');
    std::string error;
    const bool ok = CellToField(field, c.cell, reinterpret_cast<uint8_t*>(record.data()), error);
    ASSERT_EQ(ok, c.error == nullptr) << "cell \"" << c.cell << "\": " << error;
    if (!ok) {
      EXPECT_NE(error.find(c.error), std::string::npos) << "cell \"" << c.cell << "\" gave: " << error;
      EXPECT_EQ(record, std::string(c.width + 2, '#')) << "cell \"" << c.cell << "\" wrote bytes";
      continue;
    }
    EXPECT_EQ(record.substr(1, c.width), c.bytes) << "cell \"" << c.cell << "\"";
    EXPECT_EQ(record.front(), '#');
    EXPECT_EQ(record.back(), '#') << "cell \"" << c.cell << "\" wrote past its field";
    EXPECT_EQ(FieldToCell(field, reinterpret_cast<const uint8_t*>(record.data())), c.dumped) << "cell \"" << c.cell
                                                                                             << "\"";
  }
}

TEST(RecmanCells, ControlBytesOfATextFieldAreEscapedInTheDump) {
  const struct {
    std::string bytes;  // the field's bytes
    const char* cell;
  } cases[] = {
      {"a\x07" "b   ", "a\\x07b"},
      {std::string("\0x\x1f   ", 6), "\\x00x\\x1f"},
      {"tab\t  ", "tab\\x09"},
      {"\x7f\x87    ", "\\x7f\xc3\xa7"},
  };
  for (const auto& c : cases) {
    const LayoutField field{"F", 0, 6, FieldType::Text};
    EXPECT_EQ(FieldToCell(field, reinterpret_cast<const uint8_t*>(c.bytes.data())), c.cell) << c.cell;
  }
}

// ---- commands ----------------------------------------------------------------

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

ToolRun Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunRecmanTool(args, out, err);
  return {code, out.str(), err.str()};
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string Ddf(const std::string& name) { return std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/" + name; }

struct DataFileCase {
  const char* name;
  size_t recordLength;
  std::string csv;       // imported
  std::string dumped;    // dump --layout afterwards
};

TEST(RecmanToolCommands, EachShippedDictionaryCreatesImportsAndDumps) {
  const DataFileCase cases[] = {
      {"CobramV", 44,
       "ReceiptDate,ReceiptUnitKey,ReceiptAmount,ReceiptType,ReceiptState\n"
       "20240105,10203,1500,C,P\n20231231,10203,-20,I,\n20240105,10203,7,C,P\n,9,0,,\n",
       "ReceiptUnitKey,ReceiptDate,ReceiptAmount,ReceiptType,BaseDeduction,ReceiptState,BaseAddition\r\n"
       "00000009,,0,,0,,0\r\n"
       "00010203,20231231,-20,I,0,,0\r\n"
       "00010203,20240105,1500,C,0,P,0\r\n"
       "00010203,20240105,7,C,0,P,0\r\n"},
      {"DepartaV", 448, "UnitKey\n0102\n0101\n", "UnitKey\r\n00000101\r\n00000102\r\n"},
      {"FinquesV", 204,
       "PropertyCode,PropertyName,FeePercent,BillingPeriodMonths,CutoffDate,FixedFee\n"
       "12,\"Carrer Major, 3\",4.5,3,20231130,2500\n7,Pla\xc3\xa7" "a,0,0,,0\n",
       "PropertyCode,PropertyListName,FeePercent,ExpenseAmount,BillingPeriodMonths,PropertyName,CutoffDate,FixedFee\r\n"
       "0007,,0,0,0,Pla\xc3\xa7" "a,,0\r\n"
       "0012,,4.5,0,3,\"Carrer Major, 3\",20231130,2500\r\n"},
      {"PropietV", 324, "OwnerCode,OwnerName,OwnerTaxId,Link1Property,Link1Class\n3,\"GARC\xc3\x8d" "A*ANNA\",ES123,12,1\n",
       ""},
  };
  for (const DataFileCase& c : cases) {
    TempDir dir;
    const std::string file = dir.File(std::string(c.name) + ".dat");
    ToolRun r = Tool({"create", file, Ddf(std::string(c.name) + ".xdf")});
    ASSERT_EQ(r.code, 0) << c.name << ": " << r.err;
    Write(dir.File("in.csv"), c.csv);
    r = Tool({"import", file, dir.File("in.csv"), Ddf(std::string(c.name) + ".layout")});
    ASSERT_EQ(r.code, 0) << c.name << ": " << r.err;
    r = Tool({"dump", file, "--layout", Ddf(std::string(c.name) + ".layout")});
    ASSERT_EQ(r.code, 0) << c.name << ": " << r.err;
    if (!c.dumped.empty()) {
      EXPECT_EQ(r.out, c.dumped) << c.name;
    }

    // The CSV dump imports back into an empty file as the same records.
    const std::string copy = dir.File("copy.dat");
    Write(dir.File("dump.csv"), r.out);
    ASSERT_EQ(Tool({"create", copy, Ddf(std::string(c.name) + ".xdf")}).code, 0);
    ASSERT_EQ(Tool({"import", copy, dir.File("dump.csv"), Ddf(std::string(c.name) + ".layout")}).code, 0) << c.name;
    const ToolRun original = Tool({"dump", file});
    const ToolRun again = Tool({"dump", copy});
    EXPECT_EQ(original.out, again.out) << c.name;
    EXPECT_EQ(original.out.size(), (c.recordLength * 2 + 1) * (std::count(c.csv.begin(), c.csv.end(), '\n') - 1))
        << c.name;

    r = Tool({"stat", file});
    ASSERT_EQ(r.code, 0) << c.name;
    EXPECT_NE(r.out.find("record length " + std::to_string(c.recordLength) + "\n"), std::string::npos) << r.out;
  }
}

TEST(RecmanToolCommands, LoadInsertsRawRecordsOrNothing) {
  TempDir dir;
  const std::string file = dir.File("CobramV.dat");
  ASSERT_EQ(Tool({"create", file, Ddf("CobramV.xdf")}).code, 0);
  std::string raw;
  for (int i = 0; i < 5; ++i) raw += Record("\x80\x80\x80" + std::string(1, static_cast<char>(0x85 - i)) + "DATE", 44);
  struct LoadCase {
    const char* name;
    std::string bytes;
    int code;
    const char* message;
    size_t linesAfter;
  };
  const LoadCase cases[] = {
      {"one byte too many", raw + "x", 1, "not a whole number of 44-byte records", 0},
      {"one byte short", raw.substr(0, raw.size() - 1), 1, "not a whole number", 0},
      {"five records", raw, 0, "inserted 5 records", 5},
      {"empty file", "", 0, "inserted 0 records", 5},
      {"loaded twice keeps duplicates", raw.substr(0, 88), 0, "inserted 2", 7},
  };
  for (const LoadCase& c : cases) {
    Write(dir.File("raw.bin"), c.bytes);
    const ToolRun r = Tool({"load", file, dir.File("raw.bin")});
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << c.name << ": " << r.out << r.err;
    const ToolRun d = Tool({"dump", file});
    EXPECT_EQ(static_cast<size_t>(std::count(d.out.begin(), d.out.end(), '\n')), c.linesAfter) << c.name;
  }
  const ToolRun d = Tool({"dump", file});
  EXPECT_EQ(d.out.substr(0, 8), "80808081") << "dumped in key order, lowercase";
}

// A copy of a record file as files were made before page checksums: the
// same tables and rows in a database without reserved bytes.
bool AsMadeBeforeChecksums(const std::string& from, const std::string& to) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(to.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, ("PRAGMA journal_mode = WAL; ATTACH '" + from + "' AS src; BEGIN").c_str(), nullptr,
                         nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* s = nullptr;
  std::vector<std::string> schema;
  ok = ok && sqlite3_prepare_v2(db, "SELECT sql FROM src.sqlite_master WHERE sql IS NOT NULL ORDER BY type DESC", -1,
                                &s, nullptr) == SQLITE_OK;
  while (ok && sqlite3_step(s) == SQLITE_ROW) schema.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  for (const std::string& sql : schema) ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  for (const char* table : {"meta", "counts", "records"}) {
    const std::string copy = std::string("INSERT INTO main.") + table + " SELECT * FROM src." + table;
    ok = ok && sqlite3_exec(db, copy.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ok = ok && sqlite3_exec(db, "COMMIT; DETACH src", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RecmanToolCommands, CheckListsDamageAndUpgradeGivesChecksums) {
  TempDir dir;
  const std::string good = dir.File("good.dat");
  ASSERT_EQ(Tool({"create", good, Ddf("CobramV.xdf")}).code, 0);
  std::string raw;
  for (int i = 0; i < 300; ++i) {
    raw += Record(std::string("\x80\x81") + static_cast<char>(0x80 + i / 100) + static_cast<char>(0x80 + i % 100) +
                      "DATEAMOUNT" + std::to_string(100000 + i),
                  44);
  }
  Write(dir.File("raw.bin"), raw);
  ASSERT_EQ(Tool({"load", good, dir.File("raw.bin")}).code, 0);
  const std::string old = dir.File("old.dat");
  ASSERT_TRUE(AsMadeBeforeChecksums(good, old));
  // Damage done to a copy of a file: the bytes of record 100150's amount,
  // in its first copy (which) or its last, or a block of the middle page.
  auto damaged = [&](const std::string& from, const std::string& name, int which, bool zeroBlock) {
    std::string bytes = ReadAll(from);
    if (zeroBlock) {
      const size_t page = 4096 * (bytes.size() / 4096 / 2);
      std::fill(bytes.begin() + static_cast<long>(page + 1024), bytes.begin() + static_cast<long>(page + 1536), '\0');
    } else {
      const size_t at = which == 0 ? bytes.find("100150") : bytes.rfind("100150");
      if (at == std::string::npos) return std::string();
      bytes[at + 1] = '9';
    }
    Write(dir.File(name), bytes);
    return dir.File(name);
  };
  struct CheckCase {
    const char* name;
    std::string path;
    int code;
    const char* message;
  };
  const CheckCase checks[] = {
      {"a sound file", good, 0, "page checksums, no damage found"},
      {"512 zero bytes in a page", damaged(good, "z.dat", 0, true), 1, "its checksum does not match"},
      {"an amount changed in one copy", damaged(good, "a.dat", 0, false), 1, "its checksum does not match"},
      {"an amount changed in the other copy", damaged(good, "b.dat", 1, false), 1, "its checksum does not match"},
      {"made before checksums", old, 0, "no page checksums (recman upgrade gives them), no damage found"},
      {"made before checksums, one copy changed", damaged(old, "c.dat", 0, false), 1, ": its two copies differ"},
      {"made before checksums, the other copy changed", damaged(old, "d.dat", 1, false), 1,
       ": its two copies differ"},
      {"no such file", dir.File("none.dat"), 1, "status 12"},
      {"not a record file", "/dev/null", 1, "status 2"},
  };
  for (const CheckCase& c : checks) {
    const ToolRun r = Tool({"check", c.path});
    EXPECT_EQ(r.code, c.code) << c.name << ": " << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << c.name << ": " << r.out << r.err;
  }
  const std::string oldDump = Tool({"dump", old}).out;
  // A register made by the engine that covered its key 0 (which allows
  // duplicates) although its creation asked for no covering index.
  const std::string made = dir.File("reg-made.dat");
  const std::string covered = dir.File("reg.dat");
  ASSERT_EQ(Tool({"create", made, Ddf("RegFact2.xdf")}).code, 0);
  ASSERT_TRUE(AsMadeBeforeChecksums(made, covered));
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(covered.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP INDEX key0; CREATE INDEX cover0 ON records(k0, id, data)", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  struct UpgradeCase {
    const char* name;
    std::string path;
    int code;
    const char* message;
  };
  const UpgradeCase upgrades[] = {
      {"an older file", old, 0, "page checksums added"},
      {"the same again", old, 0, "already has page checksums"},
      {"a damaged older file", dir.File("c.dat"), 1, "damaged or cannot be read"},
      {"a register covered all the same, before checksums", covered, 0, "page checksums added"},
      {"that register again", covered, 0, "already has page checksums"},
  };
  for (const UpgradeCase& c : upgrades) {
    const std::string before = ReadAll(c.path);
    const ToolRun r = Tool({"upgrade", c.path});
    EXPECT_EQ(r.code, c.code) << c.name << ": " << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << c.name << ": " << r.out << r.err;
    if (c.code != 0) { EXPECT_EQ(ReadAll(c.path), before) << c.name << ": left as it was"; }
  }
  {
    // The register's key 0 is indexed alone, as its creation asked.
    sqlite3* db = nullptr;
    sqlite3_stmt* s = nullptr;
    std::string indexes;
    ASSERT_EQ(sqlite3_open_v2(covered.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'index' AND name LIKE '%0' ORDER BY name",
                           -1, &s, nullptr) == SQLITE_OK) {
      while (sqlite3_step(s) == SQLITE_ROW) indexes += reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    EXPECT_EQ(indexes, "key0");
  }
  EXPECT_EQ(Tool({"check", old}).out.find("page checksums, no damage found") != std::string::npos, true);
  EXPECT_EQ(Tool({"dump", old}).out, oldDump) << "the upgraded file holds the same records";
  EXPECT_EQ(Tool({"check", damaged(old, "e.dat", 1, false)}).code, 1) << "the upgraded file's pages are checked";
}

TEST(RecmanToolCommands, AStorageFailureDuringLoadLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string file = dir.File("CobramV.dat");
  ASSERT_EQ(Tool({"create", file, Ddf("CobramV.xdf")}).code, 0);
  std::string raw;
  for (int i = 0; i < 4; ++i) raw += Record("\x80\x80\x80" + std::string(1, static_cast<char>(0x81 + i)), 44);
  Write(dir.File("first.bin"), raw.substr(0, 44));
  Write(dir.File("raw.bin"), raw);
  ASSERT_EQ(Tool({"load", file, dir.File("first.bin")}).code, 0);
  const std::string before = Tool({"dump", file}).out;

  int64_t calls = 0;
  {
    TempDir scratch;
    const std::string copy = scratch.File("c.dat");
    ASSERT_EQ(Tool({"create", copy, Ddf("CobramV.xdf")}).code, 0);
    const int64_t start = StorageCallCount();
    ASSERT_EQ(Tool({"load", copy, dir.File("raw.bin")}).code, 0);
    calls = StorageCallCount() - start;
  }
  ASSERT_GT(calls, 8);
  for (int64_t n = 0; n < calls; ++n) {
    FailStorageCallAfter(n);
    const ToolRun r = Tool({"load", file, dir.File("raw.bin")});
    FailStorageCallAfter(-1);
    EXPECT_EQ(r.code, 1) << "failure at storage call " << n + 1;
    EXPECT_NE(r.err.find("status 2"), std::string::npos) << "failure at storage call " << n + 1 << ": " << r.err;
    EXPECT_EQ(Tool({"dump", file}).out, before) << "failure at storage call " << n + 1 << " changed the file";
  }
}

struct ImportCase {
  const char* name;
  std::string csv;
  const char* message;
};

TEST(RecmanToolCommands, ABadCellRefusesTheWholeImport) {
  const ImportCase cases[] = {
      {"code with a letter", "ReceiptUnitKey,ReceiptDate\n1,20240101\n1A,20240101\n", "line 3, column 1 (ReceiptUnitKey)"},
      {"impossible date", "ReceiptUnitKey,ReceiptDate\n1,20240101\n2,20240132\n", "line 3, column 2 (ReceiptDate)"},
      {"amount too large", "ReceiptAmount,ReceiptUnitKey\n99999999999,1\n", "line 2, column 1 (ReceiptAmount)"},
      {"text wider than its field", "ReceiptType,ReceiptUnitKey\nCC,1\n", "line 2, column 1 (ReceiptType)"},
      {"unknown column", "ReceiptUnitKey,Colour\n1,red\n", "\"Colour\" is not a field"},
      {"column twice", "ReceiptUnitKey,ReceiptUnitKey\n1,2\n", "appears twice"},
      {"row with a missing cell", "ReceiptUnitKey,ReceiptDate\n1,20240101\n2\n", "line 3: 1 cells"},
      {"unclosed quote", "ReceiptUnitKey,ReceiptType\n1,\"C\n", "never closed"},
      {"no header", "", "no header"},
      {"control character in a text cell", "ReceiptUnitKey,ReceiptType\n1,C\n2,\"\x07\"\n",
       "line 3, column 2 (ReceiptType)"},
  };
  for (const ImportCase& c : cases) {
    TempDir dir;
    const std::string file = dir.File("CobramV.dat");
    ASSERT_EQ(Tool({"create", file, Ddf("CobramV.xdf")}).code, 0);
    Write(dir.File("in.csv"), c.csv);
    const ToolRun r = Tool({"import", file, dir.File("in.csv"), Ddf("CobramV.layout")});
    EXPECT_EQ(r.code, 1) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find("nothing was inserted"), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(Tool({"dump", file}).out, "") << c.name;
  }
}

TEST(RecmanToolCommands, DuplicateKeyDuringImportInsertsNothing) {
  TempDir dir;
  const std::string file = dir.File("DepartaV.dat");
  ASSERT_EQ(Tool({"create", file, Ddf("DepartaV.xdf")}).code, 0);
  Write(dir.File("in.csv"), "UnitKey\n1\n2\n1\n");
  const ToolRun r = Tool({"import", file, dir.File("in.csv"), Ddf("DepartaV.layout")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("status 5 (duplicate key value)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 4"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"dump", file}).out, "");
}

struct UsageCase {
  std::vector<std::string> args;
  int code;
  std::string message;
};

TEST(RecmanToolCommands, ArgumentsStatusesAndOwners) {
  TempDir dir;
  const std::string file = dir.File("FinquesV.dat");
  ASSERT_EQ(Tool({"create", file, Ddf("FinquesV.xdf")}).code, 0);
  Write(dir.File("short.xdf"), std::string("\x40\x00\x2c\x00", 4));
  Write(dir.File("junk.dat"), "this is not a data file at all");
  Write(dir.File("huge.xdf"), std::string(100000, 'x'));
  ::mkdir(dir.File("folder").c_str(), 0755);
  const std::string folder = dir.File("folder");
  const UsageCase cases[] = {
      {{}, 2, "usage:"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"dump"}, 2, "usage:"},
      {{"dump", file, "--key"}, 2, "--key needs a value"},
      {{"dump", file, "--key", "x"}, 2, "key number"},
      {{"dump", file, "--colour", "red"}, 2, "unknown option"},
      {{"create", file}, 2, "usage:"},
      {{"create", file, Ddf("FinquesV.xdf")}, 1, "status 59 (file exists)"},
      {{"create", dir.File("n.dat"), dir.File("short.xdf")}, 1, "declares 64 bytes"},
      {{"create", dir.File("n.dat"), dir.File("missing.xdf")}, 1, "cannot read"},
      {{"stat", dir.File("none.dat")}, 1, "status 12 (file not found)"},
      {{"stat", dir.File("junk.dat")}, 1, "status 2 (I/O error"},
      {{"dump", dir.Path()}, 1, "status 2"},
      // A directory or a device where a file is expected: refused at once,
      // never read without end.
      {{"dump", dir.Path()}, 1, "not a regular file"},
      {{"create", dir.File("n.dat"), "/dev/zero"}, 1, "not a regular file"},
      {{"create", dir.File("n.dat"), folder}, 1, "not a regular file"},
      {{"create", dir.File("n.dat"), dir.File("huge.xdf")}, 1, "larger than"},
      {{"create", folder, Ddf("FinquesV.xdf")}, 1, "a directory or a device"},
      {{"load", file, "/dev/zero"}, 1, "not a regular file"},
      {{"load", file, folder}, 1, "not a regular file"},
      {{"load", folder, dir.File("junk.dat")}, 1, "not a regular file"},
      {{"import", file, folder, Ddf("FinquesV.layout")}, 1, "not a regular file"},
      {{"import", file, "/dev/zero", Ddf("FinquesV.layout")}, 1, "not a regular file"},
      {{"import", file, dir.File("junk.dat"), "/dev/zero"}, 1, "not a regular file"},
      {{"dump", file, "--layout", folder}, 1, "not a regular file"},
      {{"dump", file, "--layout", "/dev/zero"}, 1, "not a regular file"},
      {{"dump", file, "--key", "4"}, 1, "no key 4"},
      {{"dump", file, "--layout", Ddf("PropietV.layout")}, 1, "beyond the record length"},
      {{"--help"}, 0, "usage: recman create FILE DICTIONARY\n"},
      {{"set-owner", file, "ZP01"}, 0, "owner set"},
      // The name of an owned file is never shown; how to give it is.
      {{"stat", file}, 1, "status 51 (wrong owner name)\nrecman: " + file + " has an owner name; give it with --owner NAME\n"},
      {{"dump", file, "--owner", "ZP02"}, 1, "has an owner name, not the one given with --owner NAME\n"},
      {{"stat", file, "--owner", "ZP01"}, 0, "record length 204"},
      {{"set-owner", file, "ZP02"}, 1, "has an owner name; give it with --owner CURRENT\n"},
      {{"clear-owner", file, "ZP02"}, 1, "has an owner name, not the one given with NAME\n"},
      {{"clear-owner", file, "ZP01"}, 0, "owner cleared"},
      {{"stat", file}, 0, "records 0"},
  };
  for (const UsageCase& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const ToolRun r = Tool(c.args);
    EXPECT_EQ(r.code, c.code) << line << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << line << "gave: " << r.out << r.err;
    // Success says nothing on stderr; a usage error shows the usage there.
    if (c.code == 0) { EXPECT_EQ(r.err, "") << line; }
    if (c.code == 2) { EXPECT_NE(r.err.find("usage: recman"), std::string::npos) << line << r.err; }
  }
}

}  // namespace
