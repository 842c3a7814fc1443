#include "formatting/dates.h"

#include <gtest/gtest.h>

#include <random>

#include "base/text.h"
#include "formatting/settings.h"

namespace {

// Stored date of an 8-digit text.
std::string Stored(const std::string& yyyymmdd) { return CodeFromText(yyyymmdd); }

// Settings in force for a test: the current year 2024, Catalan, and the
// given date separator and order; the defaults again afterwards.
class DateWorld {
 public:
  explicit DateWorld(char separator = '/', const std::string& order = "DMA") {
    settings_.currentYear = 2024;
    settings_.dateSeparator = separator;
    settings_.dateOrder = order;
    SetFormatSettings(settings_);
  }
  ~DateWorld() { SetFormatSettings(FormatSettings{}); }

  void SetLanguage(const std::string& code) {
    settings_.language = LanguageFromCode(code);
    SetFormatSettings(settings_);
  }
  void SetYear(int year) {
    settings_.currentYear = year;
    SetFormatSettings(settings_);
  }

 private:
  FormatSettings settings_;
};

TEST(CodeFromText, PacksDigitPairs) {
  struct Case {
    std::string text;
    std::vector<int> bytes;
  };
  const Case cases[] = {
      {"20240531", {148, 152, 133, 159}},
      {"00000000", {128, 128, 128, 128}},
      {"", {}},
      {"5", {178}},  // odd length: the missing second digit counts 0
      {"123", {140, 158}},
      {" 42 ", {128, 170}},
      {"  ", {128}},
      {"1 2", {138, 148}},  // inner blank counts 0
      {"9a", {218}},        // a non-digit counts 0
      {"9999", {227, 227}},
  };
  for (const Case& c : cases) {
    const std::string code = CodeFromText(c.text);
    std::vector<int> got;
    for (char b : code) got.push_back(static_cast<unsigned char>(b));
    EXPECT_EQ(got, c.bytes) << "\"" << c.text << "\"";
  }
  EXPECT_EQ(KeyDigits(CodeFromText("20240531")), "20240531");
}

TEST(StoredDateFromText, ReadsTypedDates) {
  DateWorld world;
  struct Case {
    std::string text;
    std::string expected;  // 8 digits; "00000000" is the empty date
    int currentYear = 2024;  // two-digit years fall within 50 years before and 49 after it
  };
  const Case cases[] = {
      {"5/1/19", "21190105", 2070},  // 2019 lies more than 50 years back
      {"5/1/20", "20200105", 2070},
      {"5/1/24", "20240105", 2070},
      {"5/1/99", "20990105", 2070},
      {"050124", "20240105"},
      {"5/1/24", "20240105"},
      {"5.1.2024", "20240105"},
      {"05-01-2024", "20240105"},
      {" 5 / 1 / 24 ", "20240105"},
      {"5/1/74", "19740105"},  // 2074 lies more than 49 years ahead
      {"5/1/73", "20730105"},
      {"5/1/0", "20000105"},
      {"5/1/024", "20240105"},   // three characters: still two-digit style
      {"5/1/0024", "00240105"},  // four characters: as written
      {"31/02/24", "20240231"},  // no range check here
      {"5-1", "00000000"},       // one separator
      {"5/1/2024/", "00000000"},
      {"5a/1/24", "00000000"},
      {"", "00000000"},
      {"0/0/24", "00240000"},  // no day or month: the year stays as typed
      {"5/1/99999", "00000000"},  // beyond a 16-bit number
      {"5/1/12345", "00000000"},  // beyond four year digits
      {"5/123/2024", "00000000"},
      {"15062024", "20240615"},
      {"1506", "20000615"},  // no year: year 0 of the century
      {"2026-12-09", "20261209"},  // the ISO form: four digits first, then "-"
      {"2026-1-5", "20260105"},
      {"2026/12/09", "00000000"},  // four digits first only with "-": read as day 2026
      {"12-12-2026", "20261212"},
  };
  for (const Case& c : cases) {
    world.SetYear(c.currentYear);
    EXPECT_EQ(KeyDigits(StoredDateFromText(c.text)), c.expected) << "\"" << c.text << "\" in " << c.currentYear;
  }
}

TEST(IsInvalidDate, Validation) {
  DateWorld world;
  struct Case {
    std::string text;
    int16_t expected;
  };
  const Case cases[] = {
      {"29/02/1900", -1}, {"29/02/2000", 0}, {"29/02/2024", 0},  {"29/02/2023", -1},
      {"10/10/1582", -1}, {"4/10/1582", 0},  {"15/10/1582", 0},  {"5/10/1582", -1},
      {"31/04/2024", -1}, {"30/04/2024", 0}, {"31/12/2024", 0},  {"1.2.2024", 0},
      {"0/1/2024", -1},   {"1/0/2024", -1},  {"1/13/2024", -1},  {"32/1/2024", -1},
      {"5-1", -1},        {"", -1},          {"abc", -1},        {"050124", 0},
      {"29/02/00", 0},    {"1/1/12345", -1}, {"1/1/99999", -1},  {"31/08/24", 0},
      {"31/09/24", -1},   {"31/11/24", -1},  {"31/10/24", 0},    {"  /  /    ", -1},
      {"2026-12-09", 0},  {"2026-02-30", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsInvalidDate(c.text), c.expected) << "\"" << c.text << "\"";
  }
}

struct FormatCase {
  std::string language;
  std::string date;
  int16_t style;
  std::string fields;
  std::string expected;
};

TEST(FormatDate, StylesAndLanguagesWithDefaultSettings) {
  DateWorld world;
  const FormatCase cases[] = {
      {"CAT", "20240105", 0, "DMA", "5/1/2024  "},
      {"CAT", "20240105", 1, "DMA", "5/gen/2024 "},
      {"CAT", "20240105", 2, "dma", "5 de gener del 2024"},
      {"CAT", "20240405", 2, "dma", "5 d'abril del 2024"},
      {"CAT", "20240805", 2, "dma", "5 d'agost del 2024"},
      {"CAT", "20240305", 2, "dma", "5 de mar\x87 del 2024"},
      {"SPA", "20240405", 2, "dma", "5 de abril de 2024"},
      {"GLG", "20240105", 2, "dma", "5 de janeiro do 2024"},
      {"OCI", "20241005", 2, "dma", "5 d'octobre deth 2024"},
      {"OCI", "20240105", 2, "dma", "5 de g\x8ar deth 2024"},
      {"XYZ", "20240105", 2, "dma", "5 de gener del 2024"},
      {"CAT", "20240105", 2, "m", "gener"},
      {"SPA", "20240905", 2, "M", "septiembre"},
      {"CAT", "20240105", 2, "am", "gener del 2024"},  // output order is the setting's
      {"CAT", "20240105", 5, "da", "5 del 2024"},
      {"CAT", "20241231", 0, "DM", "31/12"},
      {"SPA", "20240905", 1, "DMA", "5/sep/2024 "},
      {"OCI", "20240505", 1, "M", "mai"},
      {"CAT", "20240105", -1, "DMA", "2024-01-05"},
      {"CAT", "00000000", -1, "DMA", "0000-00-00"},
      {"CAT", "00000000", 0, "DMA", "          "},
      {"CAT", "00000000", 2, "dma", ""},
      {"CAT", "", 2, "dma", ""},  // a missing session date is the empty date
      {"CAT", "20241399", 2, "dma", "99 del 13 del 2024"},  // damaged month: its number
      {"CAT", "20240105", 0, "", ""},
      {"CAT", "00240405", 0, "DMA", "5/4/0024  "},  // the year always has four digits
      {"SPA", "09990405", 1, "DMA", "5/abr/0999 "},
      {"CAT", "00010405", 2, "dma", "5 d'abril del 0001"},
      {"CAT", "00000405", 2, "a", "0000"},
  };
  for (const FormatCase& c : cases) {
    world.SetLanguage(c.language);
    const std::string date = c.date.empty() ? std::string() : Stored(c.date);
    EXPECT_EQ(FormatDate(date, c.style, c.fields), c.expected)
        << c.language << " " << c.date << " style " << c.style << " fields " << c.fields;
  }
}

// Where separator and order come from the settings file: session_test's
// LoadFormatSettings table.
TEST(FormatDate, SeparatorAndOrderOfTheSettings) {
  struct Case {
    char separator;
    std::string order;
    int16_t style;
    std::string expected;  // 5 January 2024, fields "DMA"
  };
  const Case cases[] = {
      {'-', "AMD", 0, "2024-1-5  "},
      {'.', "MDA", 1, "gen.5.2024 "},
      {'/', "AMD", 2, "2024 de gener del 5"},
      {'/', "D", 0, "5         "},  // a short order shows less
      {'/', "DXA", 0, "5/2024    "},  // a letter that is no part is skipped
  };
  for (const Case& c : cases) {
    DateWorld world(c.separator, c.order);
    EXPECT_EQ(FormatDate(Stored("20240105"), c.style, "DMA"), c.expected) << c.separator << c.order;
  }
}

TEST(DateToDisplay, CompactTextReadsBackToTheSameDate) {
  DateWorld world;
  struct Case {
    std::string date;
    std::string expected;
  };
  const Case cases[] = {
      {"20240105", "050124"}, {"18900105", "05011890"}, {"19740101", "010174"},
      {"20731231", "311273"}, {"19731231", "31121973"}, {"20740101", "01012074"},
      {"00000000", ""},       {"20000229", "290200"},   {"00010101", "01010001"},
  };
  for (const Case& c : cases) {
    const std::string shown = DateToDisplay(Stored(c.date));
    EXPECT_EQ(shown, c.expected) << c.date;
    if (!shown.empty()) {
      EXPECT_EQ(KeyDigits(StoredDateFromText(shown)), c.date) << "read back " << shown;
    }
  }
  EXPECT_EQ(DateToDisplay(""), "");
}

TEST(DateDiff, DaysMonthsAndYears) {
  struct Case {
    std::string a;
    std::string b;
    int32_t days;
    int32_t months;
    int32_t years;
  };
  const Case cases[] = {
      {"20231231", "20240101", 1, 1, 0},
      {"20240101", "20231231", 1, 1, 0},  // order does not matter
      {"20240101", "20240101", 0, 0, 0},
      {"20240101", "20250101", 366, 12, 1},
      {"20230101", "20240101", 365, 12, 1},
      {"20240301", "20240228", 2, 1, 0},
      {"20000101", "20240101", 8766, 288, 24},
      {"19000228", "19000301", 1, 1, 0},   // 1900 is not a leap year
      {"15000228", "15000301", 2, 1, 0},   // before 1582 every fourth year is
      {"15821004", "15821015", 11, 0, 0},  // the dropped days are still counted
      {"20240615", "20250614", 364, 12, 0},
      {"20240615", "20250615", 365, 12, 1},
      {"20240131", "20240201", 1, 1, 0},
  };
  for (const Case& c : cases) {
    const std::string a = Stored(c.a), b = Stored(c.b);
    EXPECT_EQ(DateDiff(a, b, "D"), c.days) << c.a << " " << c.b;
    EXPECT_EQ(DateDiff(a, b, "m"), c.months) << c.a << " " << c.b;
    EXPECT_EQ(DateDiff(a, b, "A"), c.years) << c.a << " " << c.b;
    EXPECT_EQ(DateDiff(a, b, "X"), 0) << c.a << " " << c.b;
    EXPECT_EQ(DateDiff(a, b, ""), 0) << c.a << " " << c.b;
  }
}

TEST(DayOfWeek, JulianThenGregorian) {
  struct Case {
    std::string date;
    int16_t expected;
  };
  const Case cases[] = {
      {"20240101", 1}, {"20240615", 6}, {"20240616", 7}, {"20000229", 2}, {"19700101", 4},
      {"15821004", 4}, {"15821015", 5}, {"15000101", 3}, {"00010101", 6}, {"00000101", 4},
      {"99991231", 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DayOfWeek(Stored(c.date)), c.expected) << c.date;
  }
}

// Every short text of digits, blanks, separators and letters either reads
// as a date or is refused; run under the sanitizers this catches any read
// outside the text or overflow in the number reading.
TEST(TypedDates, GeneratedTextsNeverBreakTheReader) {
  DateWorld world;
  const std::string alphabet = "0123456789 ./-aZ\xa4\x87";
  std::mt19937 generator(20240615);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  for (int round = 0; round < 40000; ++round) {
    std::string text;
    const int n = length(generator);
    for (int i = 0; i < n; ++i) text.push_back(alphabet[pick(generator)]);
    const int16_t invalid = IsInvalidDate(text);
    const std::string stored = StoredDateFromText(text);
    ASSERT_TRUE(invalid == 0 || invalid == -1) << "\"" << text << "\"";
    ASSERT_EQ(stored.size(), 4u) << "\"" << text << "\"";
    if (invalid == 0) {
      // A valid date is stored as a real day of a real month.
      const std::string digits = KeyDigits(stored);
      const int month = std::stoi(digits.substr(4, 2));
      const int day = std::stoi(digits.substr(6, 2));
      ASSERT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << "\"" << text << "\"";
      ASSERT_EQ(KeyDigits(StoredDateFromText(DateToDisplay(stored))), digits) << "\"" << text << "\"";
    }
    const int16_t weekday = DayOfWeek(stored);
    ASSERT_TRUE(weekday >= 1 && weekday <= 7) << "\"" << text << "\"";
    const std::string shown = FormatDate(stored, 2, "dma");
    ASSERT_LE(shown.size(), 40u) << "\"" << text << "\"";
  }
}

}  // namespace
