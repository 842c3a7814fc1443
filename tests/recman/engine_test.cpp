// The record manager contract, request by request, against real files.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <fstream>
#include <random>

#include "recman/fault.h"
#include "recman/pagecheck.h"
#include "support.h"

namespace {

constexpr uint16_t kLength = 16;

// ---- key order -------------------------------------------------------------

struct OrderCase {
  const char* name;
  std::vector<Seg> key;
  std::vector<std::string> heads;  // inserted in this order; the tag is at byte 10
  std::string order;               // tags along the key, first to last
};

std::string Tagged(const std::string& head, char tag) {
  std::string r = Record(head, kLength);
  r[10] = tag;
  return r;
}

std::string Fold() {
  std::string t(256, '\0');
  for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return t;
}

TEST(RecmanKeyOrder, WalksFollowTheCollationOfEachSegmentKind) {
  const OrderCase cases[] = {
      {"plain unique", {{1, 1, 0}}, {"b", "a", "c"}, "BAC"},
      {"duplicates keep insertion order", {{1, 1, RmDuplicates}}, {"x", "a", "x", "a"}, "BDAC"},
      {"binary little-endian", {{1, 2, RmBinary}}, {std::string("\x02\x01", 2), std::string("\x01\x00", 2),
                                                      std::string("\x00\x01", 2), std::string("\xff\x00", 2)},
       "BDCA"},
      {"descending", {{1, 1, RmDescending}}, {"a", "c", "b"}, "BCA"},
      {"alternate collation folds case", {{1, 1, RmDuplicates | RmAlternateCollation}}, {"b", "A", "a", "B"}, "BCAD"},
      {"ascending then descending segment", {{1, 1, 0}, {2, 1, RmDescending}}, {"a1", "b1", "a2", "b2"}, "CADB"},
      {"second segment before the first in the record", {{3, 1, 0}, {1, 1, 0}}, {"a-2", "b-1", "c-1"}, "BCA"},
      {"binary beyond a plain segment", {{1, 1, 0}, {2, 2, RmBinary}},
       {std::string("a\x00\x02", 3), std::string("a\x01\x01", 3), std::string("a\x05\x00", 3)}, "CBA"},
  };
  for (const OrderCase& c : cases) {
    TempDir dir;
    const std::string path = dir.File("order.dat");
    const bool collating = (c.key[0].flags & RmAlternateCollation) != 0;
    ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {c.key}, collating ? Fold() : std::string())), RmSuccess)
        << c.name;
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess) << c.name;
    for (size_t i = 0; i < c.heads.size(); ++i) {
      ASSERT_EQ(h.Insert(Tagged(c.heads[i], static_cast<char>('A' + i))), RmSuccess) << c.name << " record " << i;
    }
    std::string forward, backward;
    for (int16_t s = h.Get(RmGetFirst); s == RmSuccess; s = h.Get(RmGetNext)) forward += h.data[10];
    for (int16_t s = h.Get(RmGetLast); s == RmSuccess; s = h.Get(RmGetPrevious)) backward.insert(0, 1, h.data[10]);
    EXPECT_EQ(forward, c.order) << c.name;
    EXPECT_EQ(backward, c.order) << c.name << " (walked backward)";
  }
}

// ---- request scripts -------------------------------------------------------

// Records: key 0 = bytes 1-2 (duplicates, modifiable), key 1 = bytes 3-4
// (unique, modifiable), key 2 = the tag, bytes 5-6 (unique, not modifiable). Inserted r3, r1, r4, r2, so the
// two "bb" records stand r3 before r2 on key 0.
struct Step {
  uint16_t op;
  std::string arg;  // key value of a get; record head of an insert or update
  int8_t keyNum;
  int16_t status;
  std::string tag;  // the record a successful get returns
};

struct ScriptCase {
  const char* name;
  std::vector<Step> steps;
};

std::string MakeScriptFile(const TempDir& dir) {
  const std::string path = dir.File("script.dat");
  if (CreateFile(path, CreationBlock(kLength, {{{1, 2, RmDuplicates | RmModifiable}}, {{3, 2, RmModifiable}}, {{5, 2, 0}}})) != RmSuccess) {
    return std::string();
  }
  Handle h;
  if (h.Open(path) != RmSuccess) return std::string();
  for (const char* head : {"bb03r3", "aa01r1", "cc04r4", "bb02r2"}) {
    if (h.Insert(Record(head, kLength)) != RmSuccess) return std::string();
  }
  return path;
}

// Gives a file the layout files had before key 0's covering index: key 0
// indexed on its own.
bool AsMadeBeforeTheCoveringIndex(const std::string& path) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, pagecheck::VfsName()) == SQLITE_OK &&
            sqlite3_exec(db, "DROP INDEX cover0; CREATE INDEX key0 ON records(k0)", nullptr, nullptr, nullptr) ==
                SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Runs sql on the file as it stands; the first column of its first row, or
// "<none>".
std::string Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* s = nullptr;
  std::string out = "<none>";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, pagecheck::VfsName()) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
      sqlite3_column_text(s, 0) != nullptr) {
    out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return out;
}

// The walk of key 0 from its first record, record heads (4 bytes) joined.
std::string Key0Walk(Handle& h) {
  std::string all;
  for (int16_t s = h.Get(RmGetFirst); s == RmSuccess; s = h.Get(RmGetNext)) all += h.data.substr(0, 4) + " ";
  return all;
}

TEST(RecmanCover, AFileAskedNotToBeCoveredIsNotWhateverItsKey0) {
  struct CoverCase {
    const char* name;
    uint16_t key0Flags;
    bool noCover;
    bool madeCovered;  // by the engine that covered such a file all the same
    const char* indexes;
  };
  const CoverCase cases[] = {
      {"key 0 with duplicates, not to be covered", RmDuplicates, true, false, "key0 key1"},
      {"unique key 0, not to be covered", 0, true, false, "key0 key1"},
      {"key 0 with duplicates, covered", RmDuplicates, false, false, "cover0 key1"},
      {"unique key 0, covered", 0, false, false, "cover0 key0 key1"},
      {"covered all the same: its first open for writing drops it", RmDuplicates, true, true, "key0 key1"},
  };
  for (const CoverCase& c : cases) {
    TempDir dir;
    const std::string path = dir.File("c.dat");
    std::string block = CreationBlock(kLength, {{{1, 2, c.key0Flags}}, {{3, 2, 0}}});
    if (c.noCover) block[11] = static_cast<char>(RmNoCover >> 8);
    ASSERT_EQ(CreateFile(path, block), RmSuccess) << c.name;
    {
      Handle h;
      ASSERT_EQ(h.Open(path), RmSuccess) << c.name;
      for (const char* r : {"bb03", "aa01", "cc04", c.key0Flags != 0 ? "bb02" : "dd02"})
        ASSERT_EQ(h.Insert(Record(r, kLength)), RmSuccess) << c.name;
    }
    const std::string order = c.key0Flags != 0 ? "aa01 bb03 bb02 cc04 " : "aa01 bb03 cc04 dd02 ";
    Handle reader;
    if (c.madeCovered) {
      ASSERT_EQ(Sql(path, "SELECT 1 FROM sqlite_master WHERE name = 'key0'"), "1");
      ASSERT_EQ(Sql(path, "DROP INDEX key0"), "<none>");
      ASSERT_EQ(Sql(path, "CREATE INDEX cover0 ON records(k0, id, data)"), "<none>");
      // A reader whose walks of key 0 go along the covering index.
      ASSERT_EQ(reader.Open(path, "", -2), RmSuccess);
      EXPECT_EQ(Key0Walk(reader), order) << c.name;
    }
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess) << c.name;
    EXPECT_EQ(Sql(path, "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master WHERE type = 'index' "
                        "AND name NOT LIKE 'sqlite%' ORDER BY name)"),
              c.indexes)
        << c.name;
    EXPECT_EQ(Key0Walk(h), order) << c.name;
    if (c.madeCovered) { EXPECT_EQ(Key0Walk(reader), order) << c.name << ": the reader opened before"; }
    EXPECT_EQ(h.Get(RmGetEqual, "bb"), RmSuccess) << c.name;
    EXPECT_EQ(h.data.substr(0, 4), "bb03") << c.name;
  }
}

TEST(RecmanWholeTransaction, ARefusedWriteEndsItKeepingNothing) {
  struct RefusedCase {
    const char* name;
    int16_t (*refused)(Handle& h);
    int16_t status;
  };
  const RefusedCase cases[] = {
      {"a duplicate of a unique key", [](Handle& h) { return h.Insert(Record("0002dup", kLength)); },
       RmDuplicateKey},
      {"an update that changes a key that may not change",
       [](Handle& h) {
         const int16_t s = h.Get(RmGetFirst);
         return s != RmSuccess ? s : h.Update(Record("0009", kLength));
       },
       RmKeyNotModifiable},
  };
  for (const RefusedCase& c : cases) {
    TempDir dir;
    const std::string path = dir.File("w.dat");
    ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    for (const char* r : {"0001", "0002", "0003"}) ASSERT_EQ(h.Insert(Record(r, kLength)), RmSuccess);
    uint32_t len = 0;
    ASSERT_EQ(h.Raw(RmBeginTransaction, nullptr, &len, RmWholeTransaction), RmSuccess);
    ASSERT_EQ(h.Insert(Record("0005", kLength)), RmSuccess) << c.name;
    EXPECT_EQ(c.refused(h), c.status) << c.name;
    EXPECT_EQ(h.Insert(Record("0006", kLength)), c.status) << c.name << ": a later write";
    EXPECT_EQ(h.Raw(RmEndTransaction, nullptr, &len, 0), c.status) << c.name;
    EXPECT_EQ(Key0Walk(h), "0001 0002 0003 ") << c.name;
    // The handle writes again after it, and a whole transaction that
    // succeeds keeps its inserts and deletes, counted.
    EXPECT_EQ(h.Insert(Record("0007", kLength)), RmSuccess) << c.name;
    ASSERT_EQ(h.Raw(RmBeginTransaction, nullptr, &len, RmWholeTransaction), RmSuccess);
    EXPECT_EQ(h.Insert(Record("0008", kLength)), RmSuccess) << c.name;
    ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
    EXPECT_EQ(h.Delete(), RmSuccess) << c.name;
    EXPECT_EQ(h.Insert(Record("0009", kLength)), RmSuccess) << c.name;
    EXPECT_EQ(h.RecordCount(), 5u) << c.name << ": inside the transaction";
    EXPECT_EQ(h.Raw(RmEndTransaction, nullptr, &len, 0), RmSuccess) << c.name;
    EXPECT_EQ(Key0Walk(h), "0002 0003 0007 0008 0009 ") << c.name;
    EXPECT_EQ(h.RecordCount(), 5u) << c.name;
  }
}

class RecmanScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = MakeScriptFile(dir_);
    ASSERT_FALSE(path_.empty());
  }
  TempDir dir_;
  std::string path_;
};

TEST(RecmanScript, EachStepGivesItsStatusAndRecord) {
  const ScriptCase cases[] = {
      {"walk forward past the end",
       {{RmGetFirst, "", 0, 0, "r1"}, {RmGetNext, "", 0, 0, "r3"}, {RmGetNext, "", 0, 0, "r2"},
        {RmGetNext, "", 0, 0, "r4"}, {RmGetNext, "", 0, RmEndOfFile, ""}, {RmGetPrevious, "", 0, 0, "r2"}}},
      {"walk backward past the start",
       {{RmGetLast, "", 0, 0, "r4"}, {RmGetPrevious, "", 0, 0, "r2"}, {RmGetPrevious, "", 0, 0, "r3"},
        {RmGetPrevious, "", 0, 0, "r1"}, {RmGetPrevious, "", 0, RmEndOfFile, ""}, {RmGetNext, "", 0, 0, "r3"}}},
      {"moving before any positioning",
       {{RmGetNext, "", 0, RmNoCurrentRecord, ""}, {RmGetPrevious, "", 0, RmNoCurrentRecord, ""}}},
      {"equal gives the first duplicate", {{RmGetEqual, "bb", 0, 0, "r3"}, {RmGetNext, "", 0, 0, "r2"}}},
      {"equal that misses loses the position",
       {{RmGetFirst, "", 0, 0, "r1"}, {RmGetEqual, "ba", 0, RmKeyNotFound, ""}, {RmGetNext, "", 0, 8, ""}}},
      {"greater and less around duplicates",
       {{RmGetGreater, "bb", 0, 0, "r4"}, {RmGetGreaterOrEqual, "bb", 0, 0, "r3"}, {RmGetLess, "bb", 0, 0, "r1"},
        {RmGetLessOrEqual, "bb", 0, 0, "r2"}, {RmGetNext, "", 0, 0, "r4"}}},
      {"nothing beyond the ends",
       {{RmGetGreater, "cc", 0, RmEndOfFile, ""}, {RmGetLess, "aa", 0, RmEndOfFile, ""},
        {RmGetGreaterOrEqual, "cd", 0, RmEndOfFile, ""}, {RmGetLessOrEqual, "a", 0, RmEndOfFile, ""}}},
      {"partial key padded with NULs",
       {{RmGetGreaterOrEqual, "b", 0, 0, "r3"}, {RmGetLessOrEqual, "b", 0, 0, "r1"}, {RmGetEqual, "b", 0, 4, ""}}},
      {"second key",
       {{RmGetEqual, "03", 1, 0, "r3"}, {RmGetNext, "", 1, 0, "r4"}, {RmGetFirst, "", 1, 0, "r1"},
        {RmGetNext, "", 1, 0, "r2"}}},
      {"changing key in mid-walk goes on from the current record",
       {{RmGetEqual, "04", 1, 0, "r4"}, {RmGetPrevious, "", 0, 0, "r2"}, {RmGetPrevious, "", 0, 0, "r3"},
        {RmGetNext, "", 1, 0, "r4"}}},
      {"seeks onto the record a walk stands on, and just before it",
       {{RmGetFirst, "", 0, 0, "r1"}, {RmGetGreaterOrEqual, "a", 0, 0, "r1"}, {RmGetNext, "", 0, 0, "r3"},
        {RmGetGreaterOrEqual, "b", 0, 0, "r3"}, {RmGetNext, "", 0, 0, "r2"}, {RmGetGreaterOrEqual, "bb", 0, 0, "r3"},
        {RmGetNext, "", 0, 0, "r2"}, {RmGetEqual, "bb", 0, 0, "r3"}, {RmGetNext, "", 0, 0, "r2"},
        {RmGetNext, "", 0, 0, "r4"}, {RmGetEqual, "bz", 0, RmKeyNotFound, ""}, {RmGetGreaterOrEqual, "bz", 0, 0, "r4"},
        {RmGetGreaterOrEqual, "c", 0, 0, "r4"}, {RmGetGreaterOrEqual, "bb", 0, 0, "r3"},
        {RmGetGreaterOrEqual, "a", 0, 0, "r1"}, {RmGetEqual, "03", 1, 0, "r3"}, {RmGetEqual, "bb", 0, 0, "r3"}}},
      {"turning round", {{RmGetFirst, "", 0, 0, "r1"}, {RmGetNext, "", 0, 0, "r3"}, {RmGetPrevious, "", 0, 0, "r1"}}},
      {"delete keeps the place between neighbours",
       {{RmGetEqual, "bb", 0, 0, "r3"}, {RmDelete, "", 0, 0, ""}, {RmDelete, "", 0, RmNoCurrentRecord, ""},
        {RmGetNext, "", 0, 0, "r2"}, {RmGetPrevious, "", 0, 0, "r1"}, {RmGetEqual, "03", 1, RmKeyNotFound, ""}}},
      {"update moves the record along its key",
       {{RmGetEqual, "aa", 0, 0, "r1"}, {RmUpdate, "dd01r1", 0, 0, ""}, {RmGetNext, "", 0, RmEndOfFile, ""},
        {RmGetFirst, "", 0, 0, "r3"}, {RmGetLast, "", 0, 0, "r1"}}},
      {"update of a key that may not change",
       {{RmGetEqual, "aa", 0, 0, "r1"}, {RmUpdate, "aa01r9", 0, RmKeyNotModifiable, ""},
        {RmGetEqual, "r9", 2, RmKeyNotFound, ""}, {RmGetEqual, "r1", 2, 0, "r1"}, {RmUpdate, "aa09r1", 0, 0, ""},
        {RmGetEqual, "09", 1, 0, "r1"}}},
      {"duplicates refused on the unique key",
       {{RmInsert, "ee02r5", 0, RmDuplicateKey, ""}, {RmGetEqual, "ee", 0, RmKeyNotFound, ""},
        {RmGetEqual, "aa", 0, 0, "r1"}, {RmUpdate, "bb02r1", 0, RmDuplicateKey, ""}, {RmGetEqual, "aa", 0, 0, "r1"}}},
      {"inserted duplicate goes after the others",
       {{RmInsert, "bb05r5", 0, 0, ""}, {RmGetNext, "", 0, 0, "r4"}, {RmGetEqual, "bb", 0, 0, "r3"},
        {RmGetNext, "", 0, 0, "r2"}, {RmGetNext, "", 0, 0, "r5"}}},
      {"walking on after a write among three duplicates",
       {{RmInsert, "bb05r5", -1, 0, ""}, {RmGetEqual, "bb", 0, 0, "r3"}, {RmUpdate, "bb03r3", 0, 0, ""},
        {RmGetNext, "", 0, 0, "r2"}, {RmGetNext, "", 0, 0, "r5"}, {RmUpdate, "bb05r5", 0, 0, ""},
        {RmGetPrevious, "", 0, 0, "r2"}, {RmGetPrevious, "", 0, 0, "r3"}}},
      {"writes need a current record",
       {{RmUpdate, "aa01r1", 0, RmNoCurrentRecord, ""}, {RmDelete, "", 0, RmNoCurrentRecord, ""}}},
      {"key numbers outside the file",
       {{RmGetEqual, "aa", 3, RmInvalidKeyNumber, ""}, {RmGetFirst, "", -1, RmInvalidKeyNumber, ""},
        {RmInsert, "ff06r6", 5, RmInvalidKeyNumber, ""}}},
  };
  for (const ScriptCase& c : cases) {
    for (const bool earlier : {false, true}) {
      TempDir dir;
      const std::string path = MakeScriptFile(dir);
      // A file made before key 0 had its covering index: key 0 has an index
      // of its own, and walks look records up in the table.
      if (earlier) {
        ASSERT_TRUE(AsMadeBeforeTheCoveringIndex(path)) << c.name;
      }
      Handle h;
      ASSERT_EQ(h.Open(path), RmSuccess) << c.name;
      for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& s = c.steps[i];
        int16_t status;
        if (s.op == RmInsert) {
          status = h.Insert(Record(s.arg, kLength), s.keyNum);
        } else if (s.op == RmUpdate) {
          status = h.Update(Record(s.arg, kLength));
        } else if (s.op == RmDelete) {
          status = h.Delete();
        } else {
          status = h.Get(s.op, s.arg, s.keyNum);
        }
        ASSERT_EQ(status, s.status) << c.name << ", step " << i + 1 << (earlier ? ", earlier file" : "");
        if (!s.tag.empty()) {
          EXPECT_EQ(h.data.substr(4, 2), s.tag) << c.name << ", step " << i + 1 << (earlier ? ", earlier file" : "");
        }
      }
    }
  }
}

TEST_F(RecmanScripts, GetsFillTheKeyBufferAndPositionLeavesItAlone) {
  Handle h;
  ASSERT_EQ(h.Open(path_), RmSuccess);
  ASSERT_EQ(h.Get(RmGetEqual, "04", 1), RmSuccess);
  EXPECT_EQ(h.key.substr(0, 3), std::string("04\0", 3));
  ASSERT_EQ(h.Get(RmGetPrevious, "", 0), RmSuccess);
  EXPECT_EQ(h.key.substr(0, 2), "bb");
  uint32_t position = 0;
  ASSERT_EQ(h.Position(position), RmSuccess);
  EXPECT_EQ(h.key, std::string(256, '\x5A'));
  EXPECT_NE(position, 0u);
}

TEST_F(RecmanScripts, DirectReadReturnsToARecordAndItsPlaceOnAKey) {
  Handle h;
  ASSERT_EQ(h.Open(path_), RmSuccess);
  uint32_t none = 0;
  EXPECT_EQ(h.Position(none), RmNoCurrentRecord);
  ASSERT_EQ(h.Get(RmGetEqual, "bb", 0), RmSuccess);
  uint32_t r3 = 0;
  ASSERT_EQ(h.Position(r3), RmSuccess);
  ASSERT_EQ(h.Get(RmGetLast, "", 0), RmSuccess);

  struct DirectCase {
    uint32_t position;
    int8_t keyNum;
    bool storageFails;
    int16_t status;
    const char* next;  // tag of the following get-next, or "" when it is not tried
  };
  // In this order: reads that find their record, misses and failures among
  // them, and reads after each.
  const DirectCase cases[] = {
      {r3, 0, false, RmSuccess, "r2"},
      {r3, 1, false, RmSuccess, "r4"},
      {r3, 0, true, RmIoError, ""},
      {r3, 0, false, RmSuccess, "r2"},
      {r3, 0, false, RmSuccess, ""},
      {0, 0, false, RmInvalidPosition, ""},
      {r3 + 1000, 0, false, RmInvalidPosition, ""},
      {r3, 2, false, RmSuccess, "r4"},
      {r3, 3, false, RmInvalidKeyNumber, ""},
  };
  for (const DirectCase& c : cases) {
    if (c.storageFails) FailStorageCallAfter(0);
    const int16_t status = h.Direct(c.position, c.keyNum);
    FailStorageCallAfter(-1);
    ASSERT_EQ(status, c.status) << "position " << c.position << " key " << int(c.keyNum);
    if (c.status != RmSuccess) continue;
    EXPECT_EQ(h.data.substr(4, 2), "r3");
    EXPECT_EQ(h.key.substr(0, 2), c.keyNum == 0 ? "bb" : c.keyNum == 1 ? "03" : "r3");
    if (*c.next == '\0') continue;
    ASSERT_EQ(h.Get(RmGetNext, "", c.keyNum), RmSuccess);
    EXPECT_EQ(h.data.substr(4, 2), c.next) << "after a direct read on key " << int(c.keyNum);
  }
}

// ---- buffers and lengths ---------------------------------------------------

TEST_F(RecmanScripts, ShortBuffersAndWrongLengthsAreReported) {
  Handle h;
  ASSERT_EQ(h.Open(path_), RmSuccess);
  struct LengthCase {
    const char* name;
    uint16_t op;
    uint32_t room;
    int16_t status;
    uint32_t returned;
  };
  const LengthCase cases[] = {
      {"whole record", RmGetFirst, kLength, RmSuccess, kLength},
      {"larger buffer", RmGetFirst, 100, RmSuccess, kLength},
      {"record cut to the buffer", RmGetFirst, 5, RmDataBufferTooShort, 5},
      {"empty buffer", RmGetLast, 0, RmDataBufferTooShort, 0},
      {"stat reply cut", RmStat, 20, RmDataBufferTooShort, 20},
      {"stat reply whole", RmStat, 1536, RmSuccess, 64},
      {"version", RmVersion, 16, RmSuccess, 5},
  };
  for (const LengthCase& c : cases) {
    std::string buffer(c.room + 1, '\x77');
    uint32_t len = c.room;
    EXPECT_EQ(h.Raw(c.op, buffer.data(), &len, 0), c.status) << c.name;
    EXPECT_EQ(len, c.returned) << c.name;
    EXPECT_EQ(buffer[c.room], '\x77') << c.name << ": wrote past the buffer";
  }
  // A record cut to the buffer still counts as read: the walk goes on.
  ASSERT_EQ(h.Get(RmGetFirst, "", 0, 6), RmDataBufferTooShort);
  EXPECT_EQ(h.data, "aa01r1");
  ASSERT_EQ(h.Get(RmGetNext), RmSuccess);
  EXPECT_EQ(h.data.substr(4, 2), "r3");

  const uint32_t before = h.RecordCount();
  for (size_t length : {size_t{0}, size_t{kLength - 1}, size_t{kLength + 1}}) {
    EXPECT_EQ(h.Insert(std::string(length, 'z')), RmRecordLengthMismatch) << length << " bytes";
  }
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.Update(std::string(kLength - 1, 'a')), RmRecordLengthMismatch);
  EXPECT_EQ(h.RecordCount(), before);
}

TEST_F(RecmanScripts, RequestsOnAHandleThatIsNotOpen) {
  Handle h;
  ASSERT_EQ(h.Open(path_), RmSuccess);
  uint8_t stale[128];
  std::memcpy(stale, h.block, sizeof stale);
  ASSERT_EQ(h.Close(), RmSuccess);
  Handle other;
  ASSERT_EQ(other.Open(path_), RmSuccess);  // may take the freed slot

  uint8_t blank[128] = {};
  uint8_t garbage[128];
  std::memset(garbage, 0xA5, sizeof garbage);
  for (uint8_t* block : {stale, blank, garbage}) {
    for (uint16_t op : {RmClose, RmInsert, RmGetFirst, RmGetNext, RmStat, RmGetPosition, RmSetOwner}) {
      std::string buffer(64, ' ');
      uint32_t len = kLength;
      EXPECT_EQ(RecordManagerCall(op, block, buffer.data(), &len, buffer.data(), 0, 0), RmFileNotOpen) << "op " << op;
    }
  }
  EXPECT_EQ(other.Get(RmGetFirst), RmSuccess) << "the other handle is untouched";
}

TEST_F(RecmanScripts, ResetClosesEveryFileOfTheProcess) {
  Handle a, b;
  ASSERT_EQ(a.Open(path_), RmSuccess);
  ASSERT_EQ(b.Open(path_), RmSuccess);
  uint8_t block[128] = {};
  uint32_t len = 0;
  ASSERT_EQ(RecordManagerCall(RmReset, block, nullptr, &len, nullptr, 0, 0), RmSuccess);
  EXPECT_EQ(a.Get(RmGetFirst), RmFileNotOpen);
  EXPECT_EQ(b.Get(RmGetFirst), RmFileNotOpen);
  a.open = b.open = false;
  ASSERT_EQ(a.Open(path_), RmSuccess);
  EXPECT_EQ(a.Get(RmGetFirst), RmSuccess);
}

TEST_F(RecmanScripts, InvalidOperationsAndBiases) {
  Handle h;
  ASSERT_EQ(h.Open(path_), RmSuccess);
  for (uint16_t op : {16, 17, 31, 99, 101 /* close with a bias */, 114, 115, 122, 502, 612}) {
    std::string buffer(64, ' ');
    uint32_t len = 64;
    EXPECT_EQ(h.Raw(op, buffer.data(), &len, 0), RmInvalidOperation) << "op " << op;
  }
}

// ---- opening -------------------------------------------------------------------

struct OpenCase {
  const char* name;
  std::string (*make)(const TempDir& dir, const std::string& good);  // the path to open
  std::string owner;
  int8_t mode;
  int16_t status;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string CopyCut(const std::string& from, const std::string& to, size_t keep) {
  std::ifstream in(from, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  WriteBytes(to, bytes.substr(0, std::min(keep, bytes.size())));
  return to;
}

// A copy of a file with damage: `n` bytes changed at the last copy of
// `text` or, without text, in the middle of the page halfway through the
// file (zeros for 512 bytes, else random bytes).
std::string Damaged(const std::string& from, const std::string& to, const std::string& text, size_t n) {
  std::ifstream in(from, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = text.empty() ? 4096 * (bytes.size() / 4096 / 2) + 1500 : bytes.rfind(text) + 1;
  if (at + n > bytes.size()) return std::string();
  std::mt19937 rng(static_cast<unsigned>(at));
  for (size_t i = 0; i < n; ++i) {
    const char was = bytes[at + i];
    bytes[at + i] = n == 512 ? '\0' : static_cast<char>(rng());
    if (bytes[at + i] == was) bytes[at + i] = static_cast<char>(was ^ 0x55);
  }
  WriteBytes(to, bytes);
  return to;
}

// Reads every record along key 0, then each by position: the first failed
// status, or 0.
int16_t ReadEverything(Handle& h, uint32_t records) {
  int16_t s = h.Get(RmGetFirst);
  while (s == RmSuccess) s = h.Get(RmGetNext);
  if (s != RmEndOfFile) return s;
  for (uint32_t p = 1; p <= records; ++p) {
    if ((s = h.Direct(p)) != RmSuccess) return s;
  }
  return RmSuccess;
}

TEST(RecmanOpen, DamagedForeignAndOwnedFiles) {
  const OpenCase cases[] = {
      {"good file", [](const TempDir&, const std::string& good) { return good; }, "", 0, RmSuccess},
      {"good file read-only", [](const TempDir&, const std::string& good) { return good; }, "", -2, RmSuccess},
      {"unknown open mode", [](const TempDir&, const std::string& good) { return good; }, "", 3, RmInvalidOperation},
      {"missing file", [](const TempDir& d, const std::string&) { return d.File("none.dat"); }, "", 0, RmFileNotFound},
      {"missing folder", [](const TempDir& d, const std::string&) { return d.File("no/such.dat"); }, "", 0,
       RmFileNotFound},
      {"a directory", [](const TempDir& d, const std::string&) { return d.Path(); }, "", 0, RmIoError},
      {"a text file",
       [](const TempDir& d, const std::string&) {
         WriteBytes(d.File("t.dat"), "NOT A DATABASE, JUST WORDS\n");
         return d.File("t.dat");
       },
       "", 0, RmIoError},
      {"an empty file",
       [](const TempDir& d, const std::string&) {
         WriteBytes(d.File("e.dat"), "");
         return d.File("e.dat");
       },
       "", 0, RmIoError},
      {"cut to half", [](const TempDir& d, const std::string& good) { return CopyCut(good, d.File("h.dat"), 8192); },
       "", 0, RmIoError},
      {"cut inside the header",
       [](const TempDir& d, const std::string& good) { return CopyCut(good, d.File("c.dat"), 60); }, "", 0, RmIoError},
      {"another program's database",
       [](const TempDir& d, const std::string&) {
         const std::string p = d.File("f.dat");
         const std::string block = CreationBlock(kLength, {{{1, 2, 0}}});
         if (CreateFile(p, block) != RmSuccess) return std::string();
         // Same format, but the engine's mark is gone.
         Handle h;
         h.Open(p);
         h.Close();
         std::ifstream in(p, std::ios::binary);
         std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
         for (size_t at = bytes.find("korvadel record file"); at != std::string::npos;
              at = bytes.find("korvadel record file", at + 1)) {
           bytes[at] = 'X';
         }
         WriteBytes(p, bytes);
         return p;
       },
       "", 0, RmIoError},
      // Pages carry checksums: damage anywhere in a page is found when it is
      // read, whatever the bytes hit.
      {"512 zero bytes in a page",
       [](const TempDir& d, const std::string& good) { return Damaged(good, d.File("z.dat"), "", 512); }, "", 0,
       RmIoError},
      {"eight random bytes in a page",
       [](const TempDir& d, const std::string& good) { return Damaged(good, d.File("r.dat"), "", 8); }, "", 0,
       RmIoError},
      {"one byte of a record's data changed",
       [](const TempDir& d, const std::string& good) { return Damaged(good, d.File("b.dat"), "1377", 1); }, "", 0,
       RmIoError},
      {"path longer than 255 bytes",
       [](const TempDir& d, const std::string&) { return d.File(std::string(300, 'p')); }, "", 0,
       RmInvalidFileName},
  };
  TempDir dir;
  const std::string good = dir.File("good.dat");
  ASSERT_EQ(CreateFile(good, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
  {
    Handle h;
    ASSERT_EQ(h.Open(good), RmSuccess);
    for (int i = 0; i < 400; ++i) ASSERT_EQ(h.Insert(Record(std::to_string(1000 + i), kLength)), RmSuccess);
  }
  for (const OpenCase& c : cases) {
    const std::string path = c.make(dir, good);
    Handle h;
    int16_t status = h.Open(path, c.owner, c.mode);
    // A damaged file may also open and then fail when the damaged page is
    // read: the whole file is read, along key 0 and by position.
    if (status == RmSuccess && c.status == RmIoError) status = ReadEverything(h, 400);
    EXPECT_EQ(status, c.status) << c.name;
  }
}

// A commit still in the write-ahead log is checked against the log's own
// chained checksums when it is read back: a damaged frame answers 2.
TEST(RecmanOpen, ADamagedPageOfTheLogIsFound) {
  for (const bool damage : {false, true}) {
    TempDir dir;
    const std::string path = dir.File("log.dat");
    ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
    Handle writer;  // stays open: its commits stay in the log
    ASSERT_EQ(writer.Open(path), RmSuccess);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(writer.Insert(Record(std::to_string(1000 + i), kLength)), RmSuccess);
    if (damage) {
      // A blank of the last record in its newest copy in the log: the page
      // stays well formed, only its checksum can tell.
      std::ifstream in(path + "-wal", std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      in.close();
      const size_t at = bytes.rfind("1049");
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(bytes[at + 10], ' ');
      bytes[at + 10] = 'x';
      WriteBytes(path + "-wal", bytes);
    }
    Handle reader;
    int16_t status = reader.Open(path);
    if (status == RmSuccess) status = ReadEverything(reader, 50);
    EXPECT_EQ(status, damage ? RmIoError : RmSuccess) << (damage ? "damaged" : "sound");
  }
}

// A handle that stays open trusts the interior pages it found sound only
// until the next lock change: damage done to one meanwhile (a byte of its
// free space, which nothing but the checksum reads) is found by its first
// read after another handle's commit.
TEST(RecmanOpen, AnInteriorPageDamagedUnderAnOpenHandleIsFoundAfterTheNextCommit) {
  TempDir dir;
  const std::string path = dir.File("tree.dat");
  ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
  {
    Handle h;  // closed: its records reach the file, with trees of more than one level
    ASSERT_EQ(h.Open(path), RmSuccess);
    uint32_t none = 0;
    ASSERT_EQ(h.Raw(RmBeginTransaction, nullptr, &none, 0), RmSuccess);
    for (int i = 1000; i < 3000; ++i) ASSERT_EQ(h.Insert(Record(std::to_string(i), kLength)), RmSuccess);
    ASSERT_EQ(h.Raw(RmEndTransaction, nullptr, &none, 0), RmSuccess);
  }
  Handle reader;
  ASSERT_EQ(reader.Open(path), RmSuccess);
  ASSERT_EQ(reader.Get(RmGetEqual, "1500"), RmSuccess);
  Handle writer;  // its commit stays in the log: the interior pages are read from the file
  ASSERT_EQ(writer.Open(path), RmSuccess);
  ASSERT_EQ(writer.Get(RmGetEqual, "2999"), RmSuccess);
  ASSERT_EQ(writer.Update(Record("2999new", kLength)), RmSuccess);

  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto be16 = [&](size_t at) { return static_cast<size_t>(static_cast<uint8_t>(bytes[at])) << 8 |
                                            static_cast<uint8_t>(bytes[at + 1]); };
  const size_t pageSize = be16(16) == 1 ? 65536 : be16(16);
  ASSERT_GE(pageSize, 512u);
  int damaged = 0;
  for (size_t page = 0; (page + 1) * pageSize <= bytes.size(); ++page) {
    const size_t header = page * pageSize + (page == 0 ? 100 : 0);
    if (bytes[header] != 2 && bytes[header] != 5) continue;  // not an interior page
    const size_t freeSpace = header + 12 + 2 * be16(header + 3);
    if (freeSpace >= page * pageSize + be16(header + 5)) continue;
    file.seekp(static_cast<std::streamoff>(freeSpace));
    file.put(static_cast<char>(bytes[freeSpace] ^ 0x55));
    ++damaged;
  }
  file.close();
  ASSERT_GT(damaged, 0) << "no interior page with free space";
  EXPECT_EQ(reader.Get(RmGetEqual, "1600"), RmIoError);
}

TEST(RecmanOpen, ARecordThatDisagreesWithItsIndexEntryIsNeverDelivered) {
  TempDir dir;
  const std::string path = dir.File("damaged.dat");
  // Key 0 plain, key 1 binary and descending: each kind of collation form.
  ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}, {{5, 2, RmBinary | RmDescending}}})), RmSuccess);
  {
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    for (const char* r : {"0001a1", "0002b2", "0003c3"}) ASSERT_EQ(h.Insert(Record(r, kLength)), RmSuccess);
  }
  // The record of 0002 is overwritten behind the engine's back, by a writer
  // that keeps the page checksums: its bytes say 0009 and z9, its index
  // entries still 0002 and b2.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, pagecheck::VfsName()), SQLITE_OK);
  const std::string damaged = Record("0009z9", kLength);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE records SET data = ?1 WHERE id = 2", -1, &s, nullptr), SQLITE_OK);
  sqlite3_bind_blob(s, 1, damaged.data(), static_cast<int>(damaged.size()), SQLITE_STATIC);
  ASSERT_EQ(sqlite3_step(s), SQLITE_DONE);
  sqlite3_finalize(s);
  sqlite3_close(db);

  struct DamageCase {
    uint16_t first;  // a read that lands before the damaged record, or on it
    std::string key;
    int8_t keyNum;
    int16_t firstStatus;
    int16_t nextStatus;  // of a get-next after it
  };
  const DamageCase cases[] = {
      {RmGetFirst, "", 0, RmSuccess, RmIoError},
      {RmGetEqual, "0002", 0, RmIoError, RmNoCurrentRecord},
      {RmGetGreaterOrEqual, "0002", 0, RmIoError, RmNoCurrentRecord},
      {RmGetLast, "", 0, RmSuccess, RmEndOfFile},
      {RmGetFirst, "", 1, RmSuccess, RmIoError},
      {RmGetEqual, std::string("b2", 2), 1, RmIoError, RmNoCurrentRecord},
  };
  for (const DamageCase& c : cases) {
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    EXPECT_EQ(h.Get(c.first, c.key, c.keyNum), c.firstStatus) << c.first << " " << c.key;
    EXPECT_EQ(h.Get(RmGetNext, "", c.keyNum), c.nextStatus) << c.first << " " << c.key;
    if (c.nextStatus == RmIoError) {
      EXPECT_EQ(h.data, "") << "nothing of the damaged record is handed out";
    }
  }
}

TEST(RecmanOpen, OwnerNames) {
  TempDir dir;
  const std::string path = dir.File("owned.dat");
  ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
  struct OwnerStep {
    const char* what;
    std::string openWith;  // empty: open without a name
    uint16_t op;           // RmSetOwner, RmClearOwner, or RmOpen alone
    std::string name;
    int16_t openStatus;
    int16_t opStatus;
  };
  const OwnerStep steps[] = {
      {"no owner: any name opens", "WHO", RmOpen, "", RmSuccess, RmSuccess},
      {"set an owner", "", RmSetOwner, "ZP01", RmSuccess, RmSuccess},
      {"right name", "ZP01", RmOpen, "", RmSuccess, RmSuccess},
      {"wrong name", "ZP02", RmOpen, "", RmWrongOwner, RmSuccess},
      {"no name", "", RmOpen, "", RmWrongOwner, RmSuccess},
      {"name differing in case", "zp01", RmOpen, "", RmWrongOwner, RmSuccess},
      {"empty owner name refused", "ZP01", RmSetOwner, "", RmSuccess, RmInvalidOperation},
      {"replace the owner", "ZP01", RmSetOwner, "NEW", RmSuccess, RmSuccess},
      {"old name no longer opens", "ZP01", RmOpen, "", RmWrongOwner, RmSuccess},
      {"clear it", "NEW", RmClearOwner, "", RmSuccess, RmSuccess},
      {"after clearing any name opens", "ANY", RmOpen, "", RmSuccess, RmSuccess},
      {"read-only handle cannot set", "-ro", RmSetOwner, "X", RmSuccess, RmReadOnly},
  };
  for (const OwnerStep& s : steps) {
    Handle h;
    const bool readOnly = s.openWith == "-ro";
    ASSERT_EQ(h.Open(path, readOnly ? "" : s.openWith, readOnly ? -2 : 0), s.openStatus) << s.what;
    if (s.op == RmOpen || s.openStatus != RmSuccess) continue;
    std::string name = s.name;
    name.push_back('\0');
    uint32_t len = static_cast<uint32_t>(name.size());
    EXPECT_EQ(h.Raw(s.op, name.data(), &len, 0), s.opStatus) << s.what;
  }
}

TEST(RecmanOpen, ReadOnlyHandleReadsButNeverWrites) {
  TempDir dir;
  const std::string path = dir.File("ro.dat");
  ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
  {
    Handle w;
    ASSERT_EQ(w.Open(path), RmSuccess);
    ASSERT_EQ(w.Insert(Record("0001", kLength)), RmSuccess);
  }
  Handle h;
  ASSERT_EQ(h.Open(path, "", -2), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.Insert(Record("0002", kLength)), RmReadOnly);
  EXPECT_EQ(h.Update(Record("0001x", kLength)), RmReadOnly);
  EXPECT_EQ(h.Delete(), RmReadOnly);
  uint32_t len = 0;
  EXPECT_EQ(h.Raw(RmBeginTransaction, nullptr, &len, 0), RmReadOnly);
  EXPECT_EQ(h.RecordCount(), 1u);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.data, Record("0001", kLength));
}

// ---- creating ------------------------------------------------------------------

TEST(RecmanCreate, ExistingFilesAndBadPaths) {
  TempDir dir;
  const std::string block = CreationBlock(kLength, {{{1, 4, 0}}});
  const std::string existing = dir.File("existing.dat");
  ASSERT_EQ(CreateFile(existing, block), RmSuccess);
  {
    Handle h;
    ASSERT_EQ(h.Open(existing), RmSuccess);
    ASSERT_EQ(h.Insert(Record("0001", kLength)), RmSuccess);
  }
  ::mkdir(dir.File("adir").c_str(), 0755);
  struct CreateCase {
    const char* name;
    std::string path;
    int8_t keyNum;
    int16_t status;
    uint32_t records;  // in the file afterwards, when it opens
  };
  const CreateCase cases[] = {
      {"refused over an existing file", existing, -1, RmFileExists, 1},
      {"replaces an existing file", existing, 0, RmSuccess, 0},
      {"over a directory", dir.File("adir"), 0, RmIoError, 0xFFFFFFFF},
      {"folder missing", dir.File("none/x.dat"), -1, RmFileNotFound, 0xFFFFFFFF},
      {"path longer than 255 bytes", dir.File(std::string(260, 'q')), -1, RmInvalidFileName, 0xFFFFFFFF},
      {"empty path", "", -1, RmInvalidFileName, 0xFFFFFFFF},
      {"suite path with backslashes", dir.Path() + "\\suite.dat", -1, RmSuccess, 0},
  };
  for (const CreateCase& c : cases) {
    EXPECT_EQ(CreateFile(c.path, block, c.keyNum), c.status) << c.name;
    Handle h;
    if (h.Open(c.path) == RmSuccess) {
      EXPECT_EQ(h.RecordCount(), c.records) << c.name;
    } else {
      EXPECT_EQ(c.records, 0xFFFFFFFF) << c.name << ": should open";
    }
  }
  struct stat st {};
  EXPECT_EQ(::stat(dir.File("suite.dat").c_str(), &st), 0) << "backslashes are folder separators";
}

// ---- refusals by the system ----------------------------------------------------

struct RefusalCase {
  const char* name;
  void (*setup)(const TempDir& dir);          // by the tests' own user
  bool otherUser;                             // acts as another user of the suite
  int16_t (*act)(const TempDir& dir);         // in a child process
  int16_t status;
};

// A data file with three records at `name` in dir, with the given mode; its
// folder is made when it is not dir itself.
std::string Prepared(const TempDir& dir, const std::string& name, mode_t fileMode) {
  const std::string path = dir.File(name);
  ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
  if (CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})) != RmSuccess) return path;
  {
    Handle h;
    if (h.Open(path) != RmSuccess) return path;
    for (const char* r : {"0001", "0002", "0003"}) h.Insert(Record(r, kLength));
  }
  ::unlink((path + "-lck").c_str());
  ::chmod(path.c_str(), fileMode);
  return path;
}

TEST(RecmanRefusals, EachConditionHasItsOwnStatus) {
  const RefusalCase cases[] = {
      {"create in a folder the user may only read", [](const TempDir& d) { ::mkdir(d.File("ro").c_str(), 0555); },
       true,
       [](const TempDir& d) { return CreateFile(d.File("ro/new.dat"), CreationBlock(kLength, {{{1, 4, 0}}})); },
       RmPermissionDenied},
      {"open of a file the user may not read", [](const TempDir& d) { Prepared(d, "secret.dat", 0600); }, true,
       [](const TempDir& d) {
         Handle h;
         return h.Open(d.File("secret.dat"));
       },
       RmPermissionDenied},
      {"open for writing in a folder the user may only read",
       [](const TempDir& d) {
         Prepared(d, "ro/shared.dat", 0666);
         ::chmod(d.File("ro").c_str(), 0555);
       },
       true,
       [](const TempDir& d) {
         Handle h;
         int16_t s = h.Open(d.File("ro/shared.dat"));
         return s != RmSuccess ? s : h.Insert(Record("0009", kLength));
       },
       RmPermissionDenied},
      {"the module reads in a folder it may only read",
       [](const TempDir& d) {
         Prepared(d, "ro/data.dat", 0644);
         ::chmod(d.File("ro").c_str(), 0555);
       },
       true,
       [](const TempDir& d) {
         Handle h;
         int16_t s = h.Open(d.File("ro/data.dat"), "", -2);
         if (s == RmSuccess) s = h.Get(RmGetLast);
         if (s == RmSuccess && h.data.substr(0, 4) != "0003") s = 99;
         if (s == RmSuccess) s = h.Get(RmGetEqual, "0002");
         if (s == RmSuccess && h.RecordCount() != 3) s = 98;
         // A lock needs the side file, which cannot be made there.
         if (s == RmSuccess) s = h.Get(RmGetFirst + 200) == RmFileLocked ? 0 : 97;
         return s;
       },
       RmSuccess},
      {"name too long for the temporary name", [](const TempDir&) {}, false,
       [](const TempDir& d) {
         if (::chdir(d.Path().c_str()) != 0) return int16_t{-1};
         return CreateFile(std::string(250, 'n'), CreationBlock(kLength, {{{1, 4, 0}}}));
       },
       RmNameTooLong},
      {"disk full (the file size limit reached)", [](const TempDir& d) { Prepared(d, "full.dat", 0644); }, false,
       [](const TempDir& d) {
         ::signal(SIGXFSZ, SIG_IGN);
         struct rlimit limit {};
         limit.rlim_cur = limit.rlim_max = 64 * 1024;
         ::setrlimit(RLIMIT_FSIZE, &limit);
         Handle h;
         int16_t s = h.Open(d.File("full.dat"));
         for (int i = 0; s == RmSuccess && i < 8000; ++i) s = h.Insert(Record(std::to_string(1000 + i), kLength));
         return s;
       },
       RmDiskFull},
  };
  for (const RefusalCase& c : cases) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    c.setup(dir);
    EXPECT_EQ(InChildProcess(c.otherUser, [&] { return c.act(dir); }), c.status) << c.name;
    // Each status has a name for messages.
    EXPECT_EQ(RecordManagerStatusText(c.status).find("unknown"), std::string::npos) << c.name;
  }
  EXPECT_EQ(RecordManagerStatusText(RmDiskFull), "disk full");
  EXPECT_EQ(RecordManagerStatusText(RmPermissionDenied), "permission denied");
  EXPECT_EQ(RecordManagerStatusText(RmNameTooLong), "file name too long");
}

// ---- storage failures ---------------------------------------------------------

std::string Contents(const std::string& path) {
  Handle h;
  if (h.Open(path) != RmSuccess) return "<cannot open>";
  std::string all;
  for (int16_t s = h.Get(RmGetFirst); s == RmSuccess; s = h.Get(RmGetNext)) all += h.data;
  return all + "#" + std::to_string(h.RecordCount());
}

TEST(RecmanStorageFailure, AFailedWriteIsReportedAndChangesNothing) {
  struct WriteCase {
    const char* name;
    int16_t (*write)(Handle& h);
  };
  const WriteCase cases[] = {
      {"insert", [](Handle& h) { return h.Insert(Record("0009new", kLength)); }},
      {"update", [](Handle& h) {
         int16_t s = h.Get(RmGetFirst);
         return s != RmSuccess ? s : h.Update(Record("0001upd", kLength));
       }},
      {"delete", [](Handle& h) {
         int16_t s = h.Get(RmGetLast);
         return s != RmSuccess ? s : h.Delete();
       }},
      {"transaction of two inserts", [](Handle& h) {
         uint32_t len = 0;
         int16_t s = h.Raw(RmBeginTransaction, nullptr, &len, 0);
         if (s == RmSuccess) s = h.Insert(Record("0007a", kLength));
         if (s == RmSuccess) s = h.Insert(Record("0008b", kLength));
         if (s == RmSuccess) return h.Raw(RmEndTransaction, nullptr, &len, 0);
         h.Raw(RmAbortTransaction, nullptr, &len, 0);
         return s;
       }},
      {"set owner", [](Handle& h) {
         char name[] = "OWN";
         uint32_t len = sizeof name;
         return h.Raw(RmSetOwner, name, &len, 0);
       }},
      // A caller that goes on after a failed write: the end keeps nothing.
      {"whole transaction of an insert and an update, ended whatever they give", [](Handle& h) {
         uint32_t len = 0;
         int16_t s = h.Raw(RmBeginTransaction, nullptr, &len, RmWholeTransaction);
         if (s != RmSuccess) return s;
         const int16_t inserted = h.Insert(Record("0007a", kLength));
         const int16_t updated = h.Update(Record("0007b", kLength));
         const int16_t ended = h.Raw(RmEndTransaction, nullptr, &len, 0);
         return inserted != RmSuccess ? inserted : updated != RmSuccess ? updated : ended;
       }},
  };
  for (const WriteCase& c : cases) {
    TempDir dir;
    const std::string path = dir.File("f.dat");
    ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
    {
      Handle h;
      ASSERT_EQ(h.Open(path), RmSuccess);
      for (const char* r : {"0001", "0002", "0003"}) ASSERT_EQ(h.Insert(Record(r, kLength)), RmSuccess);
    }
    const std::string before = Contents(path);
    // How many storage calls the write makes when nothing fails.
    std::string after;
    int64_t calls = 0;
    {
      TempDir scratch;
      const std::string copy = scratch.File("f.dat");
      ASSERT_EQ(CreateFile(copy, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
      Handle h;
      ASSERT_EQ(h.Open(copy), RmSuccess);
      for (const char* r : {"0001", "0002", "0003"}) ASSERT_EQ(h.Insert(Record(r, kLength)), RmSuccess);
      const int64_t start = StorageCallCount();
      ASSERT_EQ(c.write(h), RmSuccess) << c.name;
      calls = StorageCallCount() - start;
      h.Close();
      after = Contents(copy);
    }
    ASSERT_GT(calls, 0) << c.name;
    for (int64_t n = 0; n < calls; ++n) {
      {
        Handle h;
        ASSERT_EQ(h.Open(path, c.name == std::string("set owner") ? "" : ""), RmSuccess);
        FailStorageCallAfter(n);
        const int16_t status = c.write(h);
        FailStorageCallAfter(-1);
        EXPECT_EQ(status, RmIoError) << c.name << ": failure at storage call " << n + 1 << " of " << calls;
        if (c.name != std::string("set owner")) {
          // The handle still works after the failure.
          EXPECT_EQ(h.Get(RmGetFirst), RmSuccess) << c.name << " at call " << n + 1;
        }
      }
      EXPECT_EQ(Contents(path), before) << c.name << ": failure at storage call " << n + 1 << " changed the file";
    }
    EXPECT_NE(before, after) << c.name << " changes the file when nothing fails";
  }
}

}  // namespace
