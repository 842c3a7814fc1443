#include "formatting/folding.h"

#include <gtest/gtest.h>

namespace {

struct FoldCase {
  int16_t strict;
  std::string text;
  std::string expected;
};

TEST(FoldText, PlainAndStrictTables) {
  const FoldCase cases[] = {
      {0, "Pla\x87" "a d'Espanya, 3", "PLA\x80" "A D'ESPANYA, 3"},
      {-1, "Pla\x87" "a d'Espanya, 3", "PLACA D'ESPANYA, 3"},
      {-1, "\x85\xb7[", "AA "},
      {0, "\x85\xb7[", "\xb7\xb7["},
      {0, "abcxyz@[`{~", "ABCXYZ@[`{~"},
      {-1, "@[`{~\x7f", "      "},
      // Letters the plain table keeps as they are.
      {0, "\x98\x9b\xe1\xe7", "\x98\x9b\xe1\xe7"},
      {-1, "\x98\x9b\xe1\xe7", "YOST"},
      {-1, "\xa6\xa7\xd5\x91\x92", "AOEAA"},
      {0, "\xa4\xec\xd0\xc6\xe4", "\xa5\xed\xd1\xc7\xe5"},
      // Box drawing and symbols become blanks only in the strict table.
      {0, "\xc4\xb3\x9c", "\xc4\xb3\x9c"},
      {-1, "\xc4\xb3\x9c", "   "},
      // Below 64 and from 238 up nothing changes in either table.
      {0, "\xee\xff 09?", "\xee\xff 09?"},
      {-1, "\xee\xff 09?", "\xee\xff 09?"},
      {-1, std::string("a\0b", 3), std::string("A\0B", 3)},
      {5, "\x82t\x82", "\x90T\x90"},  // any value but -1 is plain
      {0, "", ""},
  };
  for (const FoldCase& c : cases) {
    FoldStrict = c.strict;
    EXPECT_EQ(FoldText(c.text), c.expected) << "strict " << c.strict << " text \"" << c.text << "\"";
  }
  FoldStrict = 0;
}

TEST(FoldText, EveryCodeKeepsLengthAndStrictGivesOnlyCapitalsOrBlanks) {
  for (int code = 0; code < 256; ++code) {
    const std::string one(1, static_cast<char>(code));
    FoldStrict = -1;
    const std::string strict = FoldText(one);
    FoldStrict = 0;
    const std::string plain = FoldText(one);
    ASSERT_EQ(strict.size(), 1u);
    ASSERT_EQ(plain.size(), 1u);
    const auto s = static_cast<unsigned char>(strict[0]);
    if (code >= 64 && code <= 237) {
      EXPECT_TRUE(s == ' ' || (s >= 'A' && s <= 'Z')) << "strict fold of code " << code;
      // Folding twice changes nothing more.
      EXPECT_EQ(FoldText(plain), plain) << "plain fold of code " << code;
    } else {
      EXPECT_EQ(strict, one) << "code " << code;
      EXPECT_EQ(plain, one) << "code " << code;
    }
  }
}

}  // namespace
