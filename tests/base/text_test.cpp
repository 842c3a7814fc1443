#include "base/text.h"
#include "base/paths.h"
#include "base/clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(KeyDigits, TwoDigitsPerByte) {
  struct Case {
    std::string key;
    std::string expected;
  };
  const Case cases[] = {
      {"\x80\x85", "0005"},
      {"\x80", "00"},
      {"\xe3", "99"},
      {"\xe4", "00"},  // 228 AND 127 = 100: its last two digits
      {"\xff", "27"},
      {"\x05", "05"},  // top bit already clear
      {"", ""},
      {std::string("\x94\x98\x85\x80", 4), "20240500"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyDigits(c.key), c.expected) << "bytes of \"" << c.key << "\"";
  }
}

TEST(ZeroPad, KeepsTheLastDigits) {
  struct Case {
    int64_t value;
    int n;
    std::string expected;
  };
  const Case cases[] = {
      {42, 8, "00000042"},
      {7, 3, "007"},
      {12345, 3, "345"},
      {0, 2, "00"},
      {-42, 4, "0042"},
      {5, 0, ""},
      {5, -3, ""},
      {std::numeric_limits<int64_t>::min(), 19, "9223372036854775808"},
      {std::numeric_limits<int64_t>::max(), 21, "009223372036854775807"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZeroPad(c.value, c.n), c.expected) << c.value << " in " << c.n;
  }
}

TEST(IsAllChar, UniformTexts) {
  struct Case {
    std::string text;
    int code;
    bool expected;
  };
  const Case cases[] = {
      {"", 32, true},   {"   ", 32, true}, {" a ", 32, false},         {"\x80\x80", 128, true},
      {"\x80\x81", 128, false}, {"aaa", 97, true}, {std::string(1, '\0'), 0, true}, {"a", 97 + 256, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAllChar(c.text, c.code), c.expected) << "\"" << c.text << "\" code " << c.code;
  }
}

TEST(NumericValue, NumberAtTheStart) {
  struct Case {
    std::string text;
    double expected;
  };
  const Case cases[] = {
      {" 16 ", 16},      {"16 ; IVA", 16},  {"21.5", 21.5},    {"  -7.25x", -7.25},
      {"+3", 3},         {".5", 0.5},       {"5.", 5},         {"1.2.3", 1.2},
      {"abc", 0},        {"", 0},           {"-", 0},          {".", 0},
      {"\t5", 0},        {"1e3", 1},        {"0021", 21},      {"1 000", 1},
      {std::string(400, '9'), std::numeric_limits<double>::max()},
      {"-" + std::string(400, '9'), -std::numeric_limits<double>::max()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NumericValue(c.text), c.expected) << "\"" << c.text.substr(0, 20) << "\"";
  }
}

// The host form, the tidy form handed to other programs and shown in
// messages, and the tidy form of the text taken as a directory.
TEST(HostPath, BackslashesBecomeSlashes) {
  struct Case {
    std::string suitePath;
    std::string expected;
    std::string tidy;
    std::string directory;
  };
  const Case cases[] = {
      {"/srv/zep/FORMS\\KORVADEL.ZPN", "/srv/zep/FORMS/KORVADEL.ZPN", "/srv/zep/FORMS/KORVADEL.ZPN",
       "/srv/zep/FORMS/KORVADEL.ZPN/"},
      {"DADES\\PropietV", "DADES/PropietV", "DADES/PropietV", "DADES/PropietV/"},
      {"\\\\", "//", "/", "/"},
      {"/srv/zep/tmp/\\", "/srv/zep/tmp//", "/srv/zep/tmp/", "/srv/zep/tmp/"},
      {"/srv//zep\\/\\x", "/srv//zep///x", "/srv/zep/x", "/srv/zep/x/"},
      {"C:\\TMP\\", "C:/TMP/", "C:/TMP/", "C:/TMP/"},
      {"C:", "C:", "C:", "C:"},
      {"plain", "plain", "plain", "plain/"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostPath(c.suitePath), c.expected) << c.suitePath;
    EXPECT_EQ(TidyHostPath(c.suitePath), c.tidy) << c.suitePath;
    EXPECT_EQ(HostDirectory(c.suitePath), c.directory) << c.suitePath;
  }
}

TEST(Clock, PinnedAndReleased) {
  SetClockForTesting("19991231");
  EXPECT_EQ(TodayDigits(), "19991231");
  EXPECT_EQ(CurrentYear(), 1999);
  SetClockForTesting("bad");  // not 8 characters: back to the system clock
  EXPECT_EQ(TodayDigits().size(), 8u);
  EXPECT_GE(CurrentYear(), 2024);
  SetClockForTesting("");
}

TEST(PlainUpper, LettersOnly) {
  const std::string small = "az\x81\x82\x87\xa4\xec";
  const std::string capital = "AZ\x9a\x90\x80\xa5\xed";
  for (size_t i = 0; i < small.size(); ++i) {
    EXPECT_EQ(PlainUpper(small[i]), capital[i]) << "code " << static_cast<int>(static_cast<unsigned char>(small[i]));
  }
  for (char c : std::string("AZ09 @[\x80\x9a\xe1\xff")) {
    EXPECT_EQ(PlainUpper(c), c) << "code " << static_cast<int>(static_cast<unsigned char>(c));
  }
}

}  // namespace
