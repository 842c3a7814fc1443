// The record-file layer over the real record manager, on data files created
// from the shipped dictionaries in a temporary suite root.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "recman/recman.h"
#include "records/dictionaries.h"
#include "records/layouts.h"
#include "records/records.h"
#include "records/report.h"
#include "base/text.h"
#include "tests/records/scripted_recman.h"

namespace {

namespace fs = std::filesystem;

// A packed code or stored date from its digits: "0003" gives 128, 131.
std::string Pack(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out += static_cast<char>(128 + (digits[i] - '0') * 10 + (digits[i + 1] - '0'));
  }
  return out;
}

// A handle of its own on a data file, for building data and holding locks
// beside the layer.
struct DirectFile {
  uint8_t block[128] = {};
  int16_t Open(const fs::path& path) {
    std::string key = path.string();
    key.push_back('\0');
    std::string owner = RecordFileOwnerName();
    uint32_t len = static_cast<uint32_t>(owner.size());
    return RecordManagerCall(RmOpen, block, owner.data(), &len, key.data(), static_cast<uint8_t>(key.size() - 1), 0);
  }
  int16_t Insert(std::string record) {
    uint8_t key[256] = {};
    uint32_t len = static_cast<uint32_t>(record.size());
    return RecordManagerCall(RmInsert, block, record.data(), &len, key, 255, 0);
  }
  int16_t Call(uint16_t op, std::string& data, std::string& key, int8_t keyNum) {
    uint32_t len = static_cast<uint32_t>(data.size());
    return RecordManagerCall(op, block, data.data(), &len, key.data(), static_cast<uint8_t>(key.size() - 1), keyNum);
  }
  int16_t Close() {
    uint8_t key[256] = {};
    uint32_t len = 0;
    return RecordManagerCall(RmClose, block, nullptr, &len, key, 0, 0);
  }
};

class LayerOverEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    hooks.Install();
    root = fs::temp_directory_path() / ("records-eng-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "ddf");
    fs::create_directories(root / "DADES");
    for (const std::string& name : DictionaryBaseNames()) {
      fs::copy_file(fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf" / (name + ".xdf"),
                    root / "ddf" / (name + ".xdf"));
    }
    rootDir = root.string() + "\\";
    SetRecordSettings({rootDir, Language::Catalan});
  }
  void TearDown() override {
    int16_t st = 0;
    ResetRecordFiles(st);
    RecordHooks() = DefaultRecordFileHooks();
    SetRecordSettings({});
    fs::remove_all(root);
  }

  fs::path DataPath(const std::string& base) const { return root / "DADES" / (base + ".dat"); }

  // Opens one of the four files through the layer (creating it).
  int16_t Open(int16_t id, const std::string& base, uint8_t* area) {
    int16_t st = -1;
    OpenRecordFile(id, rootDir + "DADES\\" + base, area, st);
    return st;
  }

  // Creates base's data file and fills it with records through a handle of
  // its own, then closes that handle.
  void Fill(const std::string& base, const std::vector<std::string>& records) {
    uint8_t scratch[1536];
    ASSERT_EQ(Open(1, base, scratch), 0);
    int16_t st = 0;
    ResetRecordFiles(st);
    DirectFile f;
    ASSERT_EQ(f.Open(DataPath(base)), 0);
    for (const std::string& r : records) ASSERT_EQ(f.Insert(r), 0);
    ASSERT_EQ(f.Close(), 0);
  }

  static std::string Owner(const std::string& code, const std::string& name) {
    std::string rec(OwnerRecordSize, ' ');
    auto* p = reinterpret_cast<uint8_t*>(rec.data());
    SetOwnerCode(p, Pack(code));
    SetOwnerName(p, name);
    return rec;
  }

  RecordedHooks hooks;
  fs::path root;
  std::string rootDir;  // the suite's form of root
};

TEST_F(LayerOverEngine, ShippedDictionariesAreTheGeneratedOnes) {
  for (const std::string& name : DictionaryBaseNames()) {
    std::ifstream in(root / "ddf" / (name + ".xdf"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, DictionaryFileBytes(name)) << name << ": run ddfgen install/ddf";
  }
}

TEST_F(LayerOverEngine, MissingDataFileIsCreatedFromItsDictionary) {
  struct Row {
    int16_t id;
    const char* base;
    int32_t recordLength;
    std::vector<int16_t> keyLengths;
    std::vector<uint16_t> segmentFlags;  // as the stat reply gives them
  };
  const Row rows[] = {
      {OwnerFileId, "PropietV", 324, {2, 30}, {0x0000, 0x0023}},
      {PropertyFileId, "FinquesV", 204, {2}, {0x0000}},
      {UnitFileId, "DepartaV", 448, {4}, {0x0000}},
      {CollectionFileId, "CobramV", 44, {8}, {0x0011, 0x0001}},
  };
  uint8_t area[1536];
  for (const Row& row : rows) {
    SCOPED_TRACE(row.base);
    ASSERT_FALSE(fs::exists(DataPath(row.base)));
    ASSERT_EQ(Open(row.id, row.base, area), 0);
    EXPECT_TRUE(fs::exists(DataPath(row.base)));
    EXPECT_TRUE(hooks.events.empty());
    for (size_t k = 0; k <= row.keyLengths.size(); ++k) {
      int16_t keyLength = -1;
      int32_t recordLength = -1;
      KeyInfo(row.id, static_cast<int16_t>(k), keyLength, recordLength);
      EXPECT_EQ(recordLength, row.recordLength);
      EXPECT_EQ(keyLength, k < row.keyLengths.size() ? row.keyLengths[k] : 0) << "key " << k;
    }
    // The record manager's own view of the new file.
    DirectFile f;
    ASSERT_EQ(f.Open(DataPath(row.base)), 0);
    std::string data(1536, ' ');
    std::string key(256, ' ');
    ASSERT_EQ(f.Call(RmStat, data, key, 0), 0);
    std::vector<uint16_t> flags;
    for (size_t s = 0; s < row.segmentFlags.size(); ++s) {
      const auto* seg = reinterpret_cast<const uint8_t*>(data.data()) + 16 + 16 * s;
      flags.push_back(static_cast<uint16_t>(seg[4] | (seg[5] << 8)));
    }
    EXPECT_EQ(flags, row.segmentFlags);
    EXPECT_EQ(f.Close(), 0);
  }
  int16_t st = 0;
  ResetRecordFiles(st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Open(OwnerFileId, "PropietV", area), 0) << "an existing file opens without a create";
}

TEST_F(LayerOverEngine, DamagedDictionaryEndsTheOpenAndCreatesNothing) {
  struct Row {
    const char* what;
    bool present;
    std::string bytes;
    bool directory = false;       // a directory in the dictionary's place
    const char* linkTo = nullptr;  // a link to this path in its place
  };
  const std::string creation = CreationSpecification("FinquesV");
  const Row rows[] = {
      {"missing", false, ""},
      {"empty", true, ""},
      {"length field only", true, DictionaryFileBytes("FinquesV").substr(0, 2)},
      {"shorter than its length field", true, DictionaryFileBytes("FinquesV").substr(0, 2 + creation.size() - 1)},
      {"cut inside the collating sequence", true, DictionaryFileBytes("PropietV").substr(0, 100)},
      {"not a specification", true, std::string("\x10\x00", 2) + "just some text.."},
      {"far larger than any dictionary", true, DictionaryFileBytes("FinquesV") + std::string(70000, ' ')},
      {"a directory", false, "", true},
      {"a device that never ends", false, "", false, "/dev/zero"},
  };
  uint8_t area[1536];
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove(root / "ddf" / "Bad.xdf");
    if (row.present) std::ofstream(root / "ddf" / "Bad.xdf", std::ios::binary) << row.bytes;
    if (row.directory) fs::create_directory(root / "ddf" / "Bad.xdf");
    if (row.linkTo != nullptr) fs::create_symlink(row.linkTo, root / "ddf" / "Bad.xdf");
    hooks.events.clear();
    int16_t st = Open(5, "Bad", area);
    EXPECT_NE(st, 0);
    EXPECT_FALSE(fs::exists(DataPath("Bad")));
    ASSERT_FALSE(hooks.events.empty());
    EXPECT_EQ(hooks.events.front(), "show:12:NO ES POT ACCEDIR AL FITXER " + root.string() + "/DADES/Bad (" +
                                        std::to_string(st) + ")");
    EXPECT_EQ(hooks.events.back(), "end");
  }
}

TEST_F(LayerOverEngine, DamagedDataFileGivesAStatusNotACrash) {
  Fill("PropietV", {Owner("0001", "A"), Owner("0002", "B"), Owner("0003", "C")});
  std::string database;
  {
    std::ifstream in(DataPath("PropietV"), std::ios::binary);
    database.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(database.size(), 1024u);
  struct Row {
    const char* what;
    std::function<void(const fs::path&)> make;
    int16_t status;  // 0: any nonzero status, on the open or the first read
  };
  const Row rows[] = {
      {"not a database", [](const fs::path& p) { std::ofstream(p) << "NOM;ADRECA\r\n1;Carrer Major\r\n"; }, 2},
      {"empty file", [](const fs::path& p) { std::ofstream{p}; }, 0},
      {"truncated", [&](const fs::path& p) { std::ofstream(p, std::ios::binary) << database.substr(0, 1000); }, 0},
      {"a directory", [](const fs::path& p) { fs::create_directory(p); }, 2},
      {"wrong owner name",
       [&](const fs::path& p) {
         std::ofstream(p, std::ios::binary) << database;
         DirectFile f;
         ASSERT_EQ(f.Open(p), 0);
         std::string owner = "ZZ99";
         owner.push_back('\0');
         std::string key(256, '\0');
         ASSERT_EQ(f.Call(RmSetOwner, owner, key, 0), 0);
         ASSERT_EQ(f.Close(), 0);
       },
       51},
  };
  uint8_t area[OwnerRecordSize];
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(root / "DADES" / "Other.dat");
    fs::remove(root / "DADES" / "Other.dat-wal");
    fs::remove(root / "DADES" / "Other.dat-shm");
    row.make(root / "DADES" / "Other.dat");
    hooks.events.clear();
    int16_t st = Open(OwnerFileId, "Other", area);
    if (st == 0) {
      SeekRecord(OwnerFileId, 0, Pack("0002"), 0, st);
      EXPECT_TRUE(hooks.events.empty());
    } else {
      ASSERT_FALSE(hooks.events.empty());
      EXPECT_EQ(hooks.events.front(), "show:12:NO ES POT ACCEDIR AL FITXER " + root.string() + "/DADES/Other (" +
                                          std::to_string(st) + ")");
    }
    if (row.status != 0) {
      EXPECT_EQ(st, row.status);
    } else {
      EXPECT_NE(st, 0);
    }
    ResetRecordFiles(st);
  }
}

TEST_F(LayerOverEngine, RecordsBuiltWithSettersReadBackWhole) {
  struct Row {
    int16_t id;
    const char* base;
    uint32_t size;
    std::function<void(uint8_t*)> build;
    std::string key;
  };
  const std::string unit = Pack("01020304");
  const std::string date = Pack("20240531");
  const Row rows[] = {
      {OwnerFileId, "PropietV", OwnerRecordSize,
       [](uint8_t* r) {
         SetOwnerCode(r, Pack("0014"));
         SetOwnerName(r, "Ferr\x82*Pau");
         for (int i = 1; i <= OwnerLinkCount; ++i) {
           SetLinkPropertyCode(r, i, Pack("00" + std::to_string(10 + i)));
           SetLinkTaxClass(r, i, static_cast<int16_t>(i % 2));
         }
         SetOwnerTaxId(r, "ES12345678Z");
       },
       Pack("0014")},
      {PropertyFileId, "FinquesV", PropertyRecordSize,
       [&](uint8_t* r) {
         SetPropertyCode(r, Pack("0014"));
         SetFeePercent(r, 4.75f);
         SetExpenseAmount(r, -123456);
         SetBillingPeriodMonths(r, 3);
         SetCutoffDate(r, date);
         SetFixedFee(r, 2500);
       },
       Pack("0014")},
      {UnitFileId, "DepartaV", UnitRecordSize, [&](uint8_t* r) { SetUnitKey(r, unit); }, unit},
      {CollectionFileId, "CobramV", CollectionRecordSize,
       [&](uint8_t* r) {
         SetReceiptUnitKey(r, unit);
         SetReceiptDate(r, date);
         SetReceiptAmount(r, 98765);
         SetReceiptType(r, 'I');
         SetBaseDeduction(r, -50);
         SetReceiptState(r, 'P');
         SetBaseAddition(r, 70000);
       },
       unit + date},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.base);
    std::string rec(row.size, ' ');
    row.build(reinterpret_cast<uint8_t*>(rec.data()));
    Fill(row.base, {rec});
    std::vector<uint8_t> area(row.size, '#');
    ASSERT_EQ(Open(row.id, row.base, area.data()), 0);
    int16_t st = -1;
    SeekRecord(row.id, 0, row.key, 0, st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(std::string(area.begin(), area.end()), rec);
  }
}

class OwnerData : public LayerOverEngine {
 protected:
  void SetUp() override {
    LayerOverEngine::SetUp();
    Fill("PropietV", {Owner("0003", "Garc\xA1" "a*Joan"), Owner("0001", "\xB5lvarez*Maria"),
                      Owner("0007", "garcia*joan"), Owner("0005", "Zapata*Pere"), Owner("0009", "Bosch*Nuria")});
    ASSERT_EQ(Open(OwnerFileId, "PropietV", area), 0);
  }

  std::string Code() const { return KeyDigits(OwnerCode(area)); }

  // Puts a marker into the record area so that a read that copies nothing shows.
  void Mark() { std::memset(area, '#', sizeof area); }
  bool Marked() const { return std::all_of(std::begin(area), std::end(area), [](uint8_t b) { return b == '#'; }); }

  uint8_t area[OwnerRecordSize] = {};
};

TEST_F(OwnerData, SeekByKeyAndDirection) {
  struct Row {
    int16_t key;
    std::string value;
    int16_t direction;
    int16_t status;
    const char* code;  // the record read, or "" when none
  };
  const Row rows[] = {
      {0, Pack("0003"), 0, 0, "0003"},
      {0, Pack("0004"), 0, 4, ""},
      {0, Pack("0004"), 1, 0, "0005"},
      {0, Pack("0004"), -1, 0, "0003"},
      {0, Pack("0010"), 1, 9, ""},
      {0, Pack("0000"), -1, 9, ""},
      {0, Pack("00"), 1, 0, "0001"},            // partial key 128, padded 128 0
      {0, "", 1, 0, "0001"},                    // empty key: NUL bytes, the first record
      {0, Pack("000300"), 0, 0, "0003"},        // a longer value is cut
      {1, "GARCIA", 0, 4, ""},                  // a partial name is padded with NULs
      {1, "GARCIA", 1, 0, "0003"},              // duplicates: insertion order
      {1, "garc\xA1" "a", 1, 0, "0003"},        // case and accents folded
      {1, "BOSCH*NURIA" + std::string(19, ' '), 0, 0, "0009"},
      {1, "bosch*nuria" + std::string(19, ' '), 0, 0, "0009"},
      {1, "GARCIA*JOAN" + std::string(19, ' '), -1, 0, "0007"},
      {1, "ALVAREZ", 1, 0, "0001"},
      {1, "H", 1, 0, "0005"},
      {1, "ZZ", 1, 9, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("key " + std::to_string(row.key) + " value " + KeyDigits(row.value) + " dir " +
                 std::to_string(row.direction));
    Mark();
    int16_t st = -1;
    SeekRecord(OwnerFileId, row.key, row.value, row.direction, st);
    EXPECT_EQ(st, row.status);
    if (*row.code) {
      EXPECT_EQ(Code(), row.code);
    } else {
      EXPECT_TRUE(Marked()) << "nothing is copied without a record";
    }
  }
}

TEST_F(OwnerData, MissingKeyNumberKeepsTheCurrentKey) {
  int16_t st = -1;
  SeekRecord(OwnerFileId, 1, "BOSCH", 1, st);  // key 1: Bosch, then the Garcias
  ASSERT_EQ(st, 0);
  for (int16_t key : {2, 5, -1}) {
    SeekRecord(OwnerFileId, key, Pack("0001"), 0, st);
    EXPECT_EQ(st, RecordKeyMissing) << key;
  }
  EXPECT_EQ(Code(), "0009") << "the record area is untouched";
  MoveRecord(OwnerFileId, 1, st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Code(), "0003") << "still walking the name key";
}

TEST_F(OwnerData, MoveCountsStepsAndDeliversOnlyTheLast) {
  struct Row {
    const char* start;
    int16_t count;
    int16_t status;
    const char* code;  // "" when the area must stay as it was
  };
  const Row rows[] = {
      {"0001", 0, 0, ""},      {"0001", 1, 0, "0003"},  {"0001", 3, 0, "0007"},  {"0001", 4, 0, "0009"},
      {"0003", 4, 9, ""},      {"0005", 3, 9, ""},      {"0009", 1, 9, ""},      {"0009", -4, 0, "0001"},
      {"0005", -2, 0, "0001"}, {"0003", -2, 9, ""},     {"0001", -1, 9, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.start) + " by " + std::to_string(row.count));
    int16_t st = -1;
    SeekRecord(OwnerFileId, 0, Pack(row.start), 0, st);
    ASSERT_EQ(st, 0);
    Mark();
    MoveRecord(OwnerFileId, row.count, st);
    EXPECT_EQ(st, row.status);
    if (*row.code) {
      EXPECT_EQ(Code(), row.code);
    } else {
      EXPECT_TRUE(Marked());
    }
  }
  int16_t st = -1;
  MoveRecord(UnitFileId, 1, st);
  EXPECT_EQ(st, RecordFileNotOpen);
}

TEST_F(OwnerData, PositionsAreRememberedAndRestoreTheKeyPath) {
  EXPECT_EQ(RecordPosition(OwnerFileId, 0), 0) << "no current record yet";
  int16_t st = -1;
  SeekRecord(OwnerFileId, 1, "GARCIA", 1, st);  // first Garcia, 0003
  ASSERT_EQ(st, 0);
  int32_t garcia = RecordPosition(OwnerFileId, 0);
  EXPECT_NE(garcia, 0);
  MoveRecord(OwnerFileId, 2, st);  // past the second Garcia, to Zapata
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Code(), "0005");
  EXPECT_NE(RecordPosition(OwnerFileId, 0), garcia);
  Mark();
  EXPECT_EQ(RecordPosition(OwnerFileId, garcia), 0);
  EXPECT_EQ(Code(), "0003");
  MoveRecord(OwnerFileId, 1, st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Code(), "0007") << "the name key's path goes on from the remembered record";
  Mark();
  EXPECT_NE(RecordPosition(OwnerFileId, 0x7FFFFF00), 0);
  EXPECT_TRUE(Marked());
}

TEST_F(OwnerData, CollationFollowsTheNameKeyOrder) {
  int16_t st = -1;
  SeekRecord(OwnerFileId, 1, "", 1, st);
  ASSERT_EQ(st, 0);
  std::vector<std::string> codes;
  std::vector<std::string> forms;
  while (st == 0) {
    codes.push_back(Code());
    forms.push_back(CurrentKeyCollation(OwnerFileId));
    MoveRecord(OwnerFileId, 1, st);
  }
  EXPECT_EQ(st, 9);
  EXPECT_EQ(codes, (std::vector<std::string>{"0001", "0009", "0003", "0007", "0005"}));
  EXPECT_TRUE(std::is_sorted(forms.begin(), forms.end()));
  ASSERT_EQ(forms.size(), 5u);
  EXPECT_EQ(forms[0], "ALVAREZ*MARIA" + std::string(17, ' '));
  EXPECT_EQ(forms[2], "GARCIA*JOAN" + std::string(19, ' '));
  EXPECT_EQ(forms[3], forms[2]);
  struct Row {
    std::string value;
    std::string form;
  };
  const Row rows[] = {
      {"pla\x87" "a", "PLACA"},
      {"\x90\x82\x8A\x88\x89", "EEEEE"},
      {"\xA4\xA5\xE1", "NNS"},
      {"a-1 b", "A-1 B"},
  };
  for (const Row& row : rows) EXPECT_EQ(CollationForm(row.value, OwnerFileId), row.form) << row.value;
  SeekRecord(OwnerFileId, 0, Pack("0007"), 0, st);
  EXPECT_EQ(CurrentKeyCollation(OwnerFileId), Pack("0007")) << "the code key stays as it is";
}

}  // namespace
