// Creation blocks and the collation form of key values.
#include <gtest/gtest.h>

#include <set>

#include "recman/definition.h"
#include "support.h"

namespace {

std::string Identity() {
  std::string t(256, '\0');
  for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = static_cast<char>(c);
  return t;
}

// Folds lower-case letters onto capitals.
std::string UpperTable() {
  std::string t = Identity();
  for (int c = 'a'; c <= 'z'; ++c) t[static_cast<size_t>(c)] = static_cast<char>(c - 32);
  return t;
}

struct BlockCase {
  const char* name;
  std::string block;
  int16_t status;
};

TEST(RecmanCreationBlock, ParseStatusNamesEachFault) {
  std::string truncatedSegments = CreationBlock(20, {{{1, 4, 0}, {5, 4, 0}}});
  truncatedSegments.resize(truncatedSegments.size() - 1);
  std::string badSignature = CreationBlock(20, {{{1, 4, RmAlternateCollation}}}, UpperTable());
  badSignature[32] = '\x00';
  std::string shortTable = CreationBlock(20, {{{1, 4, RmAlternateCollation}}}, UpperTable());
  shortTable.resize(shortTable.size() - 10);
  std::string tooManyKeys = CreationBlock(20, std::vector<std::vector<Seg>>(kMaxKeys + 1, {{1, 1, RmDuplicates}}));
  // Two stray bytes after the 16-byte file part shift every segment: the
  // first one then starts at position 0, outside the record.
  std::string shifted = CreationBlock(20, {{{1, 4, 0}}});
  shifted.insert(16, 2, '\0');

  const BlockCase cases[] = {
      {"one plain key", CreationBlock(20, {{{1, 4, 0}}}), RmSuccess},
      {"two keys, segmented and binary", CreationBlock(20, {{{1, 4, 0}, {9, 2, RmBinary}}, {{5, 4, RmDuplicates}}}),
       RmSuccess},
      {"key ending on the last byte", CreationBlock(20, {{{17, 4, 0}}}), RmSuccess},
      {"alternate collation with its table", CreationBlock(20, {{{1, 4, RmAlternateCollation}}}, UpperTable()),
       RmSuccess},
      {"segments shifted by a longer file part", shifted, RmRecordLengthMismatch},
      {"record length 0", CreationBlock(0, {{{1, 4, 0}}}), RmRecordLengthMismatch},
      {"segment past the record", CreationBlock(20, {{{18, 4, 0}}}), RmRecordLengthMismatch},
      {"no keys", CreationBlock(20, {}), RmInvalidOperation},
      {"too many keys", tooManyKeys, RmInvalidOperation},
      {"segment of length 0", CreationBlock(20, {{{1, 0, 0}}}), RmInvalidOperation},
      {"block cut inside a segment", truncatedSegments, RmInvalidOperation},
      {"collation flag, no table", CreationBlock(20, {{{1, 4, RmAlternateCollation}}}), RmInvalidOperation},
      {"collating table without signature", badSignature, RmInvalidOperation},
      {"collating table cut short", shortTable, RmInvalidOperation},
      {"key longer than 255 bytes", CreationBlock(600, {{{1, 200, 0}, {201, 100, 0}}}), RmInvalidOperation},
      {"block shorter than the file part", std::string(10, '\0'), RmInvalidOperation},
  };
  for (const BlockCase& c : cases) {
    FileDefinition def;
    EXPECT_EQ(ParseFileDefinition(reinterpret_cast<const uint8_t*>(c.block.data()), c.block.size(), def), c.status)
        << c.name;
  }
}

TEST(RecmanCreationBlock, StatReplyReadsBackAsTheSameDefinition) {
  const std::string blocks[] = {
      CreationBlock(44, {{{1, 4, RmDuplicates}, {5, 4, RmDuplicates}}}),
      CreationBlock(324, {{{1, 2, 0}}, {{3, 30, RmDuplicates | RmModifiable | RmAlternateCollation}}}, UpperTable()),
      CreationBlock(30, {{{1, 2, RmBinary | RmDescending}}, {{3, 8, 0}, {11, 4, RmBinary}}, {{20, 1, RmDuplicates}}}),
  };
  for (const std::string& block : blocks) {
    FileDefinition def;
    ASSERT_EQ(ParseFileDefinition(reinterpret_cast<const uint8_t*>(block.data()), block.size(), def), RmSuccess);
    const std::string reply = EncodeFileDefinition(def, 1234);
    EXPECT_EQ(reply.substr(16), block.substr(16)) << "segments and table of a " << def.recordLength << "-byte file";
    EXPECT_EQ(reply.substr(0, 6), block.substr(0, 6));
    EXPECT_EQ(static_cast<uint8_t>(reply[6]) | (static_cast<uint8_t>(reply[7]) << 8), 1234);
  }
}

struct CollationCase {
  const char* name;
  std::vector<Seg> key;
  std::string value;
  std::string form;
};

TEST(RecmanCollationForm, EachSegmentKindTransformsItsBytes) {
  const CollationCase cases[] = {
      {"plain bytes stay", {{1, 3, 0}}, "abc", "abc"},
      {"binary 2 bytes reversed", {{1, 2, RmBinary}}, std::string("\x02\x01", 2), std::string("\x01\x02", 2)},
      {"binary 4 bytes reversed", {{1, 4, RmBinary}}, std::string("\x02\x01\x00\x00", 4),
       std::string("\x00\x00\x01\x02", 4)},
      {"alternate collation folds", {{1, 4, RmAlternateCollation}}, "aBcd", "ABCD"},
      {"descending complemented", {{1, 2, RmDescending}}, std::string("\x00\x7f", 2), std::string("\xff\x80", 2)},
      {"binary descending", {{1, 2, RmBinary | RmDescending}}, std::string("\x01\x00", 2),
       std::string("\xff\xfe", 2)},
      {"collation descending", {{1, 1, RmAlternateCollation | RmDescending}}, "a", std::string("\xbe", 1)},
      {"segments each their own way", {{1, 1, 0}, {2, 2, RmBinary}, {4, 1, RmAlternateCollation}},
       std::string("z\x05\x00q", 4), std::string("z\x00\x05Q", 4)},
      {"short value padded with NULs", {{1, 4, RmBinary}}, std::string("\x02\x01", 2),
       std::string("\x00\x00\x01\x02", 4)},
  };
  for (const CollationCase& c : cases) {
    uint16_t end = 0;
    for (const Seg& s : c.key) end = std::max<uint16_t>(end, static_cast<uint16_t>(s.position + s.length - 1));
    const std::string block = CreationBlock(end, {c.key}, UpperTable());
    FileDefinition def;
    ASSERT_EQ(ParseFileDefinition(reinterpret_cast<const uint8_t*>(block.data()), block.size(), def), RmSuccess)
        << c.name;
    EXPECT_EQ(CollationFormOf(def, 0, c.value), c.form) << c.name;
  }
}

TEST(RecmanCollationForm, KeyValueTakesSegmentsFromTheRecord) {
  const std::string block = CreationBlock(10, {{{7, 2, 0}, {2, 3, 0}}});
  FileDefinition def;
  ASSERT_EQ(ParseFileDefinition(reinterpret_cast<const uint8_t*>(block.data()), block.size(), def), RmSuccess);
  const std::string record = "0123456789";
  EXPECT_EQ(KeyValueOf(def, 0, reinterpret_cast<const uint8_t*>(record.data())), "67123");
}

}  // namespace

namespace {

TEST(RecmanStatusText, EveryStatusHasItsOwnName) {
  const int16_t statuses[] = {RmSuccess,          RmInvalidOperation,     RmIoError,         RmFileNotOpen,
                              RmKeyNotFound,      RmDuplicateKey,         RmInvalidKeyNumber, RmNoCurrentRecord,
                              RmEndOfFile,        RmKeyNotModifiable,     RmInvalidFileName, RmFileNotFound,
                              RmDataBufferTooShort, RmRecordLengthMismatch, RmInvalidPosition, RmReadOnly,
                              RmWrongOwner,       RmFileExists,           RmRecordLocked,    RmFileLocked};
  std::set<std::string> seen;
  for (int16_t s : statuses) {
    const std::string text = RecordManagerStatusText(s);
    EXPECT_EQ(text.find("unknown"), std::string::npos) << "status " << s;
    EXPECT_TRUE(seen.insert(text).second) << "status " << s << " shares the text \"" << text << "\"";
  }
  EXPECT_NE(RecordManagerStatusText(7).find("7"), std::string::npos);
}

}  // namespace
