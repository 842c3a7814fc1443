#include "base/text.h"
#include "base/paths.h"
#include "base/clock.h"
#include "base/calendar.h"
#include "base/codepage.h"

#include <gtest/gtest.h>

#include <clocale>
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

TEST(HostPath, BackslashesBecomeSlashes) {
  struct Case {
    std::string suitePath;
    std::string expected;
  };
  const Case cases[] = {
      {"/srv/zep/FORMS\\KORVADEL.ZPN", "/srv/zep/FORMS/KORVADEL.ZPN"},
      {"DADES\\PropietV", "DADES/PropietV"},
      {"\\\\", "//"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostPath(c.suitePath), c.expected) << c.suitePath;
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

TEST(DaysInMonth, GregorianLeapRule) {
  struct Case {
    int year, month, days;
  };
  const Case cases[] = {
      {2026, 1, 31}, {2026, 4, 30}, {2026, 7, 31},  {2026, 8, 31},  {2026, 9, 30}, {2026, 12, 31},
      {2026, 2, 28}, {2024, 2, 29}, {1900, 2, 28},  {2000, 2, 29},  {2100, 2, 28}, {1600, 2, 29},
      {2026, 0, 0},  {2026, 13, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
}

TEST(CodePage, ForDisplayGivesOneQuestionMarkPerCharacter) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string cp858;
  };
  const Case cases[] = {
      {"letters and the euro", "\xC3\xA9s \xE2\x82\xAC", "\x82s \xD5"},
      {"a character code page 850 lacks", "a\xC5\x82" "b", "a?b"},
      {"one outside the basic plane", "\xF0\x9F\x98\x80!", "?!"},
      {"an invalid byte", "a\xFF" "b", "a?b"},
      {"a lead byte without its continuation", "\xC3" "a", "?a"},
      {"a sequence cut at the end", "a\xE2\x82", "a??"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp858ForDisplay(c.utf8), c.cp858) << c.name;
}

TEST(CodePage, AsciiTransliterationFollowsTheLocale) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_EQ(AsciiFromCp858("Caf\x82 \x80 a\x10"), "Cafe C a\x10");
  EXPECT_EQ(AsciiFromCp858("\xDB"), "?");  // a full block has no plain form
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
