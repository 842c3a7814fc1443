#include "formatting/picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "formatting/settings.h"

namespace {

// Puts the given separators in force (the defaults when none are given),
// and the defaults back afterwards.
class Separators {
 public:
  explicit Separators(char decimalChar = '\'', char thousandsChar = '.') {
    ResetFormattingSettingsForTesting();
    FormatSettings settings;
    settings.decimalChar = decimalChar;
    settings.thousandsChar = thousandsChar;
    SetFormatSettings(settings);
  }
  ~Separators() { ResetFormattingSettingsForTesting(); }
};

struct PictureCase {
  std::string picture;
  double value;
  std::string expected;
};

TEST(FormatPicture, DefaultSeparators) {
  Separators defaults;
  const PictureCase cases[] = {
      {"Z,ZZZ,ZZZ,ZZ9-", 1234567.891, "    1.234.568 "},
      {"Z,ZZZ,ZZZ,ZZ9-", -1234.5, "        1.234-"},
      {"Z,ZZZ,ZZZ,ZZ9-", -1235.5, "        1.236-"},
      {"ZZZZZZZ9", 0, "       0"},
      {"Z9.99 %", 7.5, " 7'50 %"},
      {"ZZ9.ZZ", 1.5, "  1'5 "},
      {"ZZ9.ZZ", 1.05, "  1'05"},
      {"ZZZ.ZZ", 0, "      "},
      {"ZZ9", -5, " -5"},
      {"ZZ9", 2.5, "  2"},
      {"ZZ9", 3.5, "  4"},
      {"9999", 7, "0007"},
      {"999", 1234, "!!!"},
      {"999", -123, "!!!"},
      {"ZZZ.99", 1234.5, "1234'5"},
      {"ZZ9.99", 0.125, "  0'12"},
      {"ZZ9.99", 0.375, "  0'38"},
      {"+ZZ9.99", -3.5, "-  3'50"},
      {"+ZZ9.99", 3.5, "+  3'50"},
      {"***,**9.99", 1234.5, "**1.234'50"},
      {"***,**9.99", 0, "******0'00"},
      {"ZZ9.99-", -0.004, "  0'00-"},  // negative even when it rounds to zero
      {"ZZZ.ZZ", 0.05, "   '05"},
      {"Z,ZZ9", -1234, "-1234"},  // no room for the minus: the plain number
      {"ZZ,ZZ9", -1234, "-1.234"},
      {"9999", -12, "0-12"},  // the minus floats to the first free "9"
      {"ZZZ", -1234, "!!!"},
      {"ZZZZZ", -1234, "-1234"},
      {"(ZZ9)", 42, "( 42)"},
      {"", 5, ""},
      {std::string(20, '9'), 9999999999999997952.0, "09999999999999997952"},
      {std::string(20, '9'), 1e19, "10000000000000000000"},
      {std::string(20, 'Z'), 18446744073709551616.0, "18446744073709551616"},  // 2 to the 64th
  };
  for (const PictureCase& c : cases) {
    EXPECT_EQ(FormatPicture(c.picture, c.value), c.expected)
        << "picture \"" << c.picture << "\" value " << c.value;
  }
}

TEST(FormatPicture, ValuesBeyondAnyPictureGiveTheOverflowForms) {
  Separators defaults;
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string longPicture = std::string(290, 'Z') + ".99";
  const PictureCase cases[] = {
      {"ZZ9.99", nan, "!!!!!!"},
      {"ZZ9.99", inf, "!!!!!!"},
      {"ZZ9.99", -inf, "!!!!!!"},
      {"ZZ9.99", 1e300, "!!!!!!"},
      {"ZZ9.99", -1e300, "!!!!!!"},
      {"ZZ9.99", 1.7e308, "!!!!!!"},
      {"ZZ9.99", -0.0, "  0'00"},
      {"ZZ9.ZZ", -0.0, "  0   "},
      {"-", -1, "!"},
      {"9", 10, "!"},
      {".", 3, "3"},
      {std::string(10, 'Z') + "." + std::string(300, '9'), 0, std::string(10, ' ') + "'" + std::string(300, '0')},
      {longPicture, 1234.5, std::string(286, ' ') + "1234'50"},
  };
  for (const PictureCase& c : cases) {
    EXPECT_EQ(FormatPicture(c.picture, c.value), c.expected)
        << "picture of length " << c.picture.size() << " value " << c.value;
  }
}

// Generated pictures and values, extremes included: the result always has
// the picture's length. Under the sanitizers this catches reads outside the
// picture or the digits and out-of-range conversions of huge values.
TEST(FormatPicture, GeneratedPicturesKeepTheirLength) {
  Separators defaults;
  const std::string alphabet = "9Zz*.,-+ %(";
  const double values[] = {0, -0.0, 0.5, -2.5, 1234.5678, -99999.995, 1e15, -1e300, 1e-300,
                           std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  std::mt19937 generator(4242);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int round = 0; round < 4000; ++round) {
    std::string picture;
    const int n = length(generator);
    for (int i = 0; i < n; ++i) picture.push_back(alphabet[pick(generator)]);
    for (double value : values) {
      ASSERT_EQ(FormatPicture(picture, value).size(), picture.size())
          << "picture \"" << picture << "\" value " << value;
      ASSERT_EQ(FormatAmount(picture, value).size(), picture.size())
          << "spec \"" << picture << "\" cents " << value;
    }
  }
}

// Where the characters come from the settings file: session_test's
// LoadFormatSettings table.
TEST(FormatPicture, SeparatorsOfTheSettings) {
  struct Case {
    char decimalChar;
    char thousandsChar;
    std::string picture;
    double value;
    std::string expected;
  };
  const Case cases[] = {
      {',', '.', "Z,ZZ9.99", 1234.5, "1.234,50"},
      {'.', ',', "Z,ZZ9.99", 1234.5, "1,234.50"},
      {',', '.', "ZZZ.99", 1234.5, "1234,5"},        // the overflow form uses the decimal character
      {'.', ',', "***,**9.99", 0, "******0.00"},
      {',', '.', "Z,ZZZ,ZZ9.ZZ", 1234567.5, "1.234.567,5 "},
  };
  for (const Case& c : cases) {
    Separators settings(c.decimalChar, c.thousandsChar);
    EXPECT_EQ(FormatPicture(c.picture, c.value), c.expected)
        << c.decimalChar << c.thousandsChar << " picture \"" << c.picture << "\" value " << c.value;
  }
}

struct AmountCase {
  std::string currencySelector;  // "" euros, "p" pesetas
  std::string spec;
  double cents;
  std::string expected;
};

TEST(FormatAmount, EurosAndPesetas) {
  Separators defaults;
  const AmountCase cases[] = {
      {"", "**,***,***", 123450, "**1.234'50"},
      {"", "**,***,***", 0, "*******   "},
      {"", "Z,ZZZ,ZZZ,ZZ9-", -123450, "     1.234'50-"},
      {"", "Z,ZZZ,ZZZ,ZZ9-", 123450, "     1.234'50 "},
      {"", "Z,ZZZ,ZZZ,ZZ9-", 0, "         0'00 "},
      {"", "ZZZ9", 100, "1'00"},
      {"", "ZZZZZZ.9", 150, "   1'500"},  // "." and "9" add decimals
      {"", "-ZZZZZZ", -250, "-  2'50"},
      {"", "ZZZZZZ+", 250, "  2'50+"},
      {"", "ZZZ", 12345678, "!!!"},
      {"p", "Z,ZZZ,ZZZ,ZZ9-", 123450, "      205.404 "},
      {"p", "Z,ZZZ,ZZZ,ZZ9-", -123450, "      205.404-"},
      {"p", "**,***,***", 100, "*******166"},
      {"p", "ZZZZ", 0, "    "},
  };
  for (const AmountCase& c : cases) {
    ResetFormattingSettingsForTesting();
    SetCurrency("a,E");
    SetCurrency("p,P");
    SetCurrency(c.currencySelector);
    EXPECT_EQ(FormatAmount(c.spec, c.cents), c.expected)
        << "currency \"" << c.currencySelector << "\" spec \"" << c.spec << "\" cents " << c.cents;
  }
}

TEST(SetCurrency, ContextsAndActiveCurrency) {
  Separators defaults;
  struct Case {
    std::vector<std::string> selectors;
    std::string defaultLetter;
    std::string alternateLetter;  // CurrencyOf("p")
    bool pesetasActive;
  };
  const Case cases[] = {
      {{"a,E"}, "E", "E", false},
      {{"a,E", "p,P"}, "E", "P", false},
      {{"a,E", "p,P", "p"}, "E", "P", true},
      {{"a,E", "p,P", "p", ""}, "E", "P", false},
      {{"a,E", "p"}, "E", "E", false},  // no alternate: the default
      {{"a,E", "p, p "}, "E", "P", false},
      {{"a,E", "p,  "}, "E", "E", false},  // nothing after the comma: the default's letter
      {{"A,  ", "p,P", "P"}, "E", "P", true},
      {{"a,P"}, "P", "P", true},  // the default context is made active
      {{"a,E", "p,P", "p", "a,E"}, "E", "P", false},
      {{"a,E", "p,P", "x"}, "E", "P", false},
  };
  for (const Case& c : cases) {
    ResetFormattingSettingsForTesting();
    std::string trail;
    for (const std::string& s : c.selectors) {
      SetCurrency(s);
      trail += "[" + s + "]";
    }
    EXPECT_EQ(CurrencyOf("a"), c.defaultLetter) << trail;
    EXPECT_EQ(CurrencyOf(" A "), c.defaultLetter) << trail;
    EXPECT_EQ(CurrencyOf("p"), c.alternateLetter) << trail;
    EXPECT_EQ(FormatAmount("ZZZ9", 100), c.pesetasActive ? " 166" : "1'00") << trail;
    // A letter given is the amount's currency, whichever context is active.
    for (const std::string& letter : {c.defaultLetter, c.alternateLetter})
      EXPECT_EQ(FormatAmount("ZZZ9", 100, letter), letter == "P" ? " 166" : "1'00") << trail << " " << letter;
  }
}

TEST(FormatPersonName, GivenNameFirst) {
  struct Case {
    std::string name;
    std::string expected;
  };
  const Case cases[] = {
      {"Puig i Ferrer*Maria", "Maria Puig i Ferrer"},
      {"  Puig  *  Joan   ", "Joan Puig"},
      {"Puig", "Puig"},
      {"   Puig Ferrer   ", "Puig Ferrer"},
      {"*Maria", "*Maria"},
      {"Ferrer*Joan d'", "Joan d'Ferrer"},
      {"Ferrer*Joan d'   ", "Joan d'Ferrer"},
      {"Ferrer*", " Ferrer"},
      {"A*B*C", "B*C A"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatPersonName(c.name), c.expected) << "\"" << c.name << "\"";
  }
}

TEST(IsInvalidNumber, AgainstThePicture) {
  struct Case {
    std::string text;
    std::string picture;
    int16_t expected;
  };
  const Case cases[] = {
      {"", "ZZ9", 0},
      {"   ", "ZZ9", 0},
      {"123", "ZZ9", 0},
      {" 1 2 ", "ZZ9", 0},
      {"-12", "ZZ9", -1},
      {"-12", "ZZ9-", 0},
      {"+12", "+ZZ9", 0},
      {"12-", "ZZ9-", -1},
      {"--1", "ZZ9-", -1},
      {"1.5", "ZZ9", -1},
      {"1.5", "ZZ9.99", 0},
      {".5", "ZZ9.99", 0},
      {"1.5.", "ZZ9.99", -1},
      {"-.5", "-ZZ9.99", 0},
      {".-5", "-ZZ9.99", -1},
      {"1,5", "Z,ZZ9.99", -1},
      {"1a", "ZZ9", -1},
      {"\xfd", "ZZ9", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsInvalidNumber(c.text, c.picture), c.expected)
        << "text \"" << c.text << "\" picture \"" << c.picture << "\"";
  }
}

}  // namespace
