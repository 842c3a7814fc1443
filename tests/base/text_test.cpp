#include "base/text.h"
#include "base/calendar.h"
#include "base/clock.h"
#include "base/codepage.h"
#include "base/paths.h"

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

TEST(Trim, BlanksAreSpacesAndTabs) {
  struct Case {
    std::string text;
    std::string both, left, right;
  };
  const Case cases[] = {
      {"  a b  ", "a b", "a b  ", "  a b"},
      {"\t a\t", "a", "a\t", "\t a"},
      {"   ", "", "", ""},
      {"", "", "", ""},
      {"a", "a", "a", "a"},
      {"\r\na\n", "\r\na\n", "\r\na\n", "\r\na\n"},  // line ends are no blanks
      {std::string("\0 a", 3), std::string("\0 a", 3), std::string("\0 a", 3), std::string("\0 a", 3)},
      {"\xff a \xff", "\xff a \xff", "\xff a \xff", "\xff a \xff"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Trim(c.text), c.both) << "\"" << c.text << "\"";
    EXPECT_EQ(TrimLeft(c.text), c.left) << "\"" << c.text << "\"";
    EXPECT_EQ(TrimRight(c.text), c.right) << "\"" << c.text << "\"";
  }
}

TEST(FixedWidth, CutOrFilled) {
  struct Case {
    std::string text;
    size_t width;
    std::string left;   // FixedWidth
    std::string right;  // FixedWidthRight
  };
  const Case cases[] = {
      {"abc", 5, "abc  ", "  abc"},
      {"abcdef", 3, "abc", "def"},
      {"abc", 3, "abc", "abc"},
      {"abc", 0, "", ""},
      {"", 2, "  ", "  "},
      {" a ", 2, " a", "a "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixedWidth(c.text, c.width), c.left) << "\"" << c.text << "\" in " << c.width;
    EXPECT_EQ(FixedWidthRight(c.text, c.width), c.right) << "\"" << c.text << "\" in " << c.width;
  }
}

TEST(DaysInMonth, GregorianCalendar) {
  struct Case {
    int year, month, days;
  };
  const Case cases[] = {
      {2024, 1, 31}, {2024, 2, 29}, {2023, 2, 28}, {1900, 2, 28}, {2000, 2, 29}, {2024, 4, 30},
      {2024, 6, 30}, {2024, 7, 31}, {2024, 8, 31}, {2024, 9, 30}, {2024, 11, 30}, {2024, 12, 31},
      {1500, 2, 28},  // Gregorian rule for every year
      {0, 2, 29},     {2100, 2, 28}, {1600, 2, 29}, {2024, 0, 0},  {2024, 13, 0}, {2024, -1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
  }
}

TEST(CodePage, Cp858AndUtf8) {
  struct Case {
    std::string cp858;
    std::string utf8;
  };
  // Both ways: accented letters, the euro at 0xD5, frames, plain text.
  const Case both[] = {
      {"Gesti\xa2", "Gesti\xc3\xb3"},
      {"\xd5", "\xe2\x82\xac"},
      {"\xc9\xcd\xbb", "\xe2\x95\x94\xe2\x95\x90\xe2\x95\x97"},
      {"\x80\x87\xa4\xa5", "\xc3\x87\xc3\xa7\xc3\xb1\xc3\x91"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : both) {
    EXPECT_EQ(Utf8FromCp858(c.cp858), c.utf8) << c.utf8;
    std::string out = "unchanged";
    ASSERT_TRUE(Cp858FromUtf8(c.utf8, out)) << c.utf8;
    EXPECT_EQ(out, c.cp858) << c.utf8;
    EXPECT_EQ(Cp858ForDisplay(c.utf8), c.cp858) << c.utf8;
  }
  // UTF-8 that code page 850 cannot hold, or that is not UTF-8 at all: the
  // strict conversion refuses and leaves out as it was, display shows "?".
  const Case refused[] = {
      {"a?b", "a\xe4\xb8\xad" "b"},  // a CJK character
      {"?x", "\xffx"},            // not UTF-8
      {"a?", "a\xc3"},            // cut in the middle of a character
  };
  for (const Case& c : refused) {
    std::string out = "unchanged";
    EXPECT_FALSE(Cp858FromUtf8(c.utf8, out)) << c.cp858;
    EXPECT_EQ(out, "unchanged") << c.cp858;
    EXPECT_EQ(Cp858ForDisplay(c.utf8), c.cp858) << c.cp858;
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
