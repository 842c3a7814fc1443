#include "session/session.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "formatting/dates.h"
#include "formatting/picture.h"
#include "base/text.h"
#include "base/clock.h"
#include "tests/support/temp_root.h"

namespace {

using Environment = std::map<std::string, std::string>;

EnvironmentLookup LookupIn(const Environment& env) {
  return [env](const char* name) {
    const auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  };
}

// Settings files of one case; empty texts are not written. {tmp} in a
// value or an environment variable stands for the case's folder.
struct SessionCase {
  std::string name;
  Environment env;
  std::string sessio;    // written to <tmp>/Sessio.ini
  std::string tarnTerm;  // written to <tmp>/TarnTerm.ini
  std::string tarn;      // written to <tmp>/Tarn.ini
  std::string extraName;  // another file, at a relative path under <tmp>
  std::string extraContent;
  // Expected values; {tmp} expands as above.
  std::string tempDir;
  std::string terminalDir;
  std::string title;
  std::string menuName;
  std::array<std::array<int16_t, 2>, 5> colours;
  std::string sessionDate;  // 8 digits
  std::string outputDevice;
  std::string language;
  std::string kind;
};

std::string Expand(std::string text, const std::string& dir) {
  const std::string mark = "{tmp}";
  for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), dir);
  return text;
}

constexpr std::array<std::array<int16_t, 2>, 5> kDefaultColours{{{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}};

TEST(SetUpSession, FromEnvironmentAndSettingsFiles) {
  SetClockForTesting("20240615");
  const SessionCase cases[] = {
      {"everything given",
       {{"ZEPROOT", "{tmp}"}, {"ZEPEXE", "/opt/zep/"}, {"ZEPTMP", "{tmp}"}, {"TERM", "xterm"}},
       "[Menu]\r\nTitol=Finques Puig\r\nNomMenu=ADMIN\r\n[Terminal]\r\nDir=T01\r\n",
       "[Pantalla]\r\nSeleccio=2\r\nCol2=07011504140107001501\r\n[Sistema]\r\nData=20240531\r\n"
       "Sortida=PDF\r\nIdioma=SPANISH\r\n",
       "", "", "",
       "{tmp}\\", "T01\\", " Finques Puig ", "ADMIN",
       {{{7, 1}, {15, 4}, {14, 1}, {7, 0}, {15, 1}}}, "20240531", "PDF", "SPA", "DOS"},
      {"temporary directory gains its separator",
       {{"ZEPTMP", "{tmp}\\sub"}},
       "", "", "", "sub/TarnTerm.ini", "[Sistema]\r\nIdioma=OCI\r\n",
       "{tmp}\\sub\\", "", "  ", "", kDefaultColours, "20240615", "", "OCI", "DOS"},
      {"no temporary directory: the terminal directory serves",
       {{"TERM", "{tmp}\\T01"}, {"ZEPROOT", "{tmp}/"}},
       "", "", "[Usuari]\r\nIdioma=GLG\r\n", "T01/TarnTerm.ini", "[Sistema]\r\nSortida=LP:sala\r\n",
       "{tmp}\\T01\\", "{tmp}\\T01\\", "  ", "", kDefaultColours, "20240615", "LP:sala", "GLG", "DOS"},
      {"colon and backslash endings stay",
       {{"ZEPTMP", "C:"}, {"TERM", "T:"}},
       "", "", "", "", "",
       "C:", "T:", "  ", "", kDefaultColours, "20240615", "", "   ", "DOS"},
      {"language falls back to the system file; short scheme",
       {{"ZEPROOT", "{tmp}/"}, {"ZEPTMP", "{tmp}/"}, {"HTTP_ACCEPT", "*/*"}, {"WINDIR", "C:\\W"}},
       "[Terminal]\r\nDir=\r\n",
       "[Pantalla]\r\nSeleccio=-1\r\nCol-1=0102xx\r\n[Sistema]\r\nIdioma=   \r\nData=bad\r\n",
       "[Usuari]\r\nIdioma=CATALA\r\n", "", "",
       "{tmp}/", "", "  ", "", {{{1, 2}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}, "20240615", "", "CAT", "CGI"},
      {"windows kind; unknown scheme number gives the default",
       {{"SYSTEMROOT", "C:\\W"}, {"ZEPTMP", "{tmp}/"}},
       "", "[Pantalla]\r\nSeleccio=7\r\nCol0=01010101010101010101\r\n[Sistema]\r\nIdioma=SP\r\n", "", "", "",
       "{tmp}/", "", "  ", "", kDefaultColours, "20240615", "", "SP ", "WIN"},
      {"huge numbers in the scheme are held",
       {{"ZEPTMP", "{tmp}/"}, {"HTTP_USER_AGENT", "x"}},
       "", "[Pantalla]\r\nSeleccio=99999999999999999999\r\nCol2147483647=99999999999999999999\r\n", "", "", "",
       "{tmp}/", "", "  ", "", {{{99, 99}, {99, 99}, {99, 99}, {99, 99}, {99, 99}}}, "20240615", "", "   ", "CGI"},
  };
  for (const SessionCase& c : cases) {
    TempRoot root;
    const std::string dir = root.Dir().substr(0, root.Dir().size() - 1);
    Environment env;
    for (const auto& [name, value] : c.env) env[name] = Expand(value, dir);
    if (!c.sessio.empty()) root.Write("Sessio.ini", c.sessio);
    if (!c.tarnTerm.empty()) root.Write("TarnTerm.ini", c.tarnTerm);
    if (!c.tarn.empty()) root.Write("Tarn.ini", c.tarn);
    if (!c.extraName.empty()) root.Write(c.extraName, c.extraContent);

    SetUpSession(LookupIn(env));

    SCOPED_TRACE(c.name);
    EXPECT_EQ(Session.RootDir, env["ZEPROOT"]);
    EXPECT_EQ(Session.ExeDir, env["ZEPEXE"]);
    EXPECT_EQ(Session.TempDir, Expand(c.tempDir, dir));
    EXPECT_EQ(Session.TerminalDir, Expand(c.terminalDir, dir));
    EXPECT_EQ(Session.SessionTitle, c.title);
    EXPECT_EQ(Session.MenuName, c.menuName);
    for (size_t row = 0; row < 5; ++row) {
      EXPECT_EQ(Session.ColourTable[row][0], c.colours[row][0]) << "row " << row;
      EXPECT_EQ(Session.ColourTable[row][1], c.colours[row][1]) << "row " << row;
    }
    EXPECT_EQ(KeyDigits(Session.SessionDate), c.sessionDate);
    EXPECT_EQ(Session.OutputDevice, c.outputDevice);
    EXPECT_EQ(Session.Language, c.language);
    EXPECT_EQ(Session.EnvironmentKind, c.kind);
    EXPECT_EQ(CurrencyOf("a"), "E");
  }
  SetClockForTesting("");
}

// Every key the session reads, written with blanks around "=" and after the
// value: names, codes, paths, devices, the language, the tax number and
// printed texts are taken without them (a value in double quotes keeps what
// the quotes enclose); numbers ignore them anyway. Each row is a fresh set of
// files holding that row's lines only.
TEST(SettingsValues, BlanksAroundTheEqualsSign) {
  auto colours = [] {
    std::string out;
    for (const auto& row : Session.ColourTable) out += std::to_string(row[0]) + "," + std::to_string(row[1]) + " ";
    return out;
  };
  auto issuer = [](size_t item) { return [item] { return TrimRight(IssuerDetails[item]); }; };
  auto number = [](const float& value) { return [&value] { return std::to_string(value); }; };
  struct Case {
    std::string file;  // under the case's folder, which is ZEPROOT and ZEPTMP
    std::string lines;
    std::function<std::string()> observed;
    std::string expected;
  };
  const Case cases[] = {
      {"Sessio.ini", "[Menu]\r\nTitol =  Finques Puig \r\n", [] { return Session.SessionTitle; }, " Finques Puig "},
      {"Sessio.ini", "[Menu]\r\nNomMenu = ADMIN \r\n", [] { return Session.MenuName; }, "ADMIN"},
      {"Sessio.ini", "[Terminal]\r\nDir = T01 \r\n", [] { return Session.TerminalDir; }, "T01\\"},
      {"TarnTerm.ini", "[Pantalla]\r\nSeleccio = 2 \r\nCol2 = 07011504140107001501 \r\n", colours,
       "7,1 15,4 14,1 7,0 15,1 "},
      {"TarnTerm.ini", "[Sistema]\r\nData = 20240531 \r\n", [] { return KeyDigits(Session.SessionDate); },
       "20240531"},
      {"TarnTerm.ini", "[Sistema]\r\nSortida = LP:sala \r\n", [] { return Session.OutputDevice; }, "LP:sala"},
      {"TarnTerm.ini", "[Sistema]\r\nIdioma = SPA \r\n", [] { return Session.Language; }, "SPA"},
      {"Tarn.ini", "[Usuari]\r\nIdioma = GLG \r\n", [] { return Session.Language; }, "GLG"},
      {"Tarn.ini", "[Emissor]\r\nNom = Administracions Puig \r\n", issuer(IssuerItem::Name),
       "Administracions Puig"},
      {"Tarn.ini", "[Emissor]\r\nLinia2 = C/ Major, 1 \r\n", issuer(IssuerItem::Line2), "C/ Major, 1"},
      {"Tarn.ini", "[Emissor]\r\nLinia3 = 17800 Olot \r\n", issuer(IssuerItem::Line3), "17800 Olot"},
      {"Tarn.ini", "[Emissor]\r\nLinia4 = Garrotxa \r\n", issuer(IssuerItem::Line4), "Garrotxa"},
      {"Tarn.ini", "[Emissor]\r\nLinia5 = Tel. 972 \r\n", issuer(IssuerItem::Line5), "Tel. 972"},
      {"Tarn.ini", "[Emissor]\r\nNomAlternatiu = Puig SL \r\n", issuer(IssuerItem::AlternativeName), "Puig SL"},
      {"Tarn.ini", "[Emissor]\r\nNomAlternatiu = \"  Puig \" \r\n", [] { return IssuerDetails[IssuerItem::AlternativeName]; },
       "  Puig " + std::string(28, ' ')},
      {"Tarn.ini", "[Emissor]\r\nNIF = B12345678 \r\n", issuer(IssuerItem::TaxNumber), "ESB12345678"},
      {"Tarn.ini", "[Emissor]\r\nPoblacio = Olot \r\n", issuer(IssuerItem::Place), "Olot"},
      {"Tarn.ini", "[Iva0]\r\nNom = IVA \r\n", [] { return TaxClasses[0].ClassName; }, "IVA"},
      {"Tarn.ini", "[Iva1]\r\nNom = IVA (ret.) \r\n", [] { return TaxClasses[1].ClassName; }, "IVA (ret.)"},
      {"Tarn.ini", "[Iva0]\r\nSerie = A \r\n", [] { return TaxClasses[0].Series; }, "A"},
      {"Tarn.ini", "[Iva1]\r\nSerie = R \r\n", [] { return TaxClasses[1].Series; }, "R"},
      {"Tarn.ini", "[Iva0]\r\nHonoraris = 21 \r\n", number(TaxClasses[0].FeeVatRate), "21.000000"},
      {"Tarn.ini", "[Iva1]\r\nSuplerts = 10.5 \r\n", number(TaxClasses[1].ExpenseVatRate), "10.500000"},
      {"Tarn.ini", "[Ret1]\r\nHonoraris = 15 \r\n", number(TaxClasses[1].WithholdingRate), "15.000000"},
      {"Tarn.ini", "[Usuari]\r\nDecCaracter = , \r\nMilCaracter = . \r\n",
       [] { return FormatPicture("Z,ZZ9.99", 1234.5); }, "1.234,50"},
      {"Tarn.ini", "[Usuari]\r\nDatCaracter = - \r\nDatOrdre = AMD \r\n",
       [] { return FormatDate(CodeFromText("20240105"), 0, "DMA"); }, "2024-1-5  "},
  };
  SetClockForTesting("20240615");
  for (const Case& c : cases) {
    TempRoot root;
    root.Write(c.file, c.lines);
    const Environment env{{"ZEPROOT", root.Dir()}, {"ZEPTMP", root.Dir()}};
    SetUpSession(LookupIn(env));
    LoadIssuerDetails();
    LoadTaxClasses();
    SetFormatSettings(LoadFormatSettings(Session.RootDir, Session.Language));
    EXPECT_EQ(c.observed(), c.expected) << c.file << ": " << c.lines;
  }
  SetClockForTesting("");
  SetFormatSettings(FormatSettings{});
  Session = SessionValues{};
}

TEST(NormaliseTaxNumber, KeepsCapitalsDigitsAndBlanks) {
  struct Case {
    std::string item;
    std::string expected;
  };
  const Case cases[] = {
      {"B-12.345.678", "ESB12345678"},
      {"B-.123", "ESB123"},
      {"ES B12345678", "ESES B12345678"},
      {"b12", "ES12"},                 // small letters are dropped
      {"\x80" "A1", "ESA1"},          // so are code page 850 letters
      {"", "ES"},
      {std::string(35, '9'), "ES" + std::string(33, '9')},
  };
  for (const Case& c : cases) {
    std::string padded = c.item;
    if (padded.size() < 35) padded.resize(35, ' ');
    std::string expected = c.expected;
    expected.resize(35, ' ');
    EXPECT_EQ(NormaliseTaxNumber(padded), expected) << "\"" << c.item << "\"";
  }
}

TEST(LoadIssuerDetails, ItemsOfTheSystemFile) {
  TempRoot root;
  root.Write("Tarn.ini",
             "[Emissor]\r\nNom=Administracions Puig i Associats de Catalunya SL\r\nLinia2=C/ Major, 1\r\n"
             "NomAlternatiu=\"  Puig \"\r\nNIF=B-12.345.678\r\nPoblacio=Girona\r\n");
  Session.RootDir = root.Dir();
  LoadIssuerDetails();
  const std::string expected[9] = {
      "",
      "Administracions Puig i Associats de",
      "C/ Major, 1",
      "",
      "",
      "",
      "  Puig ",
      "ESB12345678",
      "Girona",
  };
  for (size_t i = 1; i <= 8; ++i) {
    std::string want = expected[i];
    want.resize(35, ' ');
    EXPECT_EQ(IssuerDetails[i], want) << "item " << i;
  }
  Session.RootDir = root.Dir() + "nowhere/";
  LoadIssuerDetails();
  EXPECT_EQ(IssuerDetails[IssuerItem::Name], std::string(35, ' '));
  EXPECT_EQ(IssuerDetails[IssuerItem::TaxNumber], "ES" + std::string(33, ' '));
  Session = SessionValues{};
}

// The formatting settings of the system file, and what they make of a
// number and of 5 January 2024 (style 0 unless given, fields "DMA").
TEST(LoadFormatSettings, FromTheSystemFile) {
  struct Case {
    std::string tarn;
    std::string picture;  // of "Z,ZZ9.99" and 1234.5
    int16_t dateStyle;
    std::string date;
  };
  const Case cases[] = {
      {"[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\n", "1.234,50", 0, "5/1/2024  "},
      {"[Usuari]\r\nDecCaracter=.\r\nMilCaracter=,\r\n", "1,234.50", 0, "5/1/2024  "},
      {"[usuari]\r\nDecCaracter=.x\r\n", "1.234.50", 0, "5/1/2024  "},  // first character only
      {"[Usuari]\r\nDecCaracter=\" .\"\r\nMilCaracter=\r\n", "1.234'50", 0, "5/1/2024  "},  // blank first: defaults
      {"[Usuari]\r\nDecCaracter= .\r\n", "1.234.50", 0, "5/1/2024  "},  // blanks around the value go
      {"[Altres]\r\nDecCaracter=,\r\n", "1.234'50", 0, "5/1/2024  "},
      {"[Usuari]\r\nDatCaracter=-\r\nDatOrdre=AMD\r\n", "1.234'50", 0, "2024-1-5  "},
      {"[Usuari]\r\nDatCaracter=.\r\nDatOrdre=MDA\r\n", "1.234'50", 1, "gen.5.2024 "},
      {"[Usuari]\r\nDatCaracter= \r\nDatOrdre=   \r\n", "1.234'50", 0, "5/1/2024  "},
      {"[Usuari]\r\nDatOrdre=amd\r\n", "1.234'50", 2, "2024 de gener del 5"},
      {"[Usuari]\r\nDatOrdre=D\r\n", "1.234'50", 0, "5         "},  // a short order shows less
      {"[Usuari]\r\nDatCaracter=\"/\"\r\nDecCaracter=\",\"\r\n", "1.234,50", 0, "5/1/2024  "},
      {"", "1.234'50", 0, "5/1/2024  "},
  };
  for (const Case& c : cases) {
    TempRoot root;
    if (!c.tarn.empty()) root.Write("Tarn.ini", c.tarn);
    SetFormatSettings(LoadFormatSettings(root.Dir(), "CAT"));
    EXPECT_EQ(FormatPicture("Z,ZZ9.99", 1234.5), c.picture) << c.tarn;
    EXPECT_EQ(FormatDate(CodeFromText("20240105"), c.dateStyle, "DMA"), c.date) << c.tarn;
  }
  struct LanguageCase {
    std::string code;
    Language language;
  };
  const LanguageCase languages[] = {
      {"SPA", Language::Spanish}, {"GLG", Language::Galician}, {"OCI", Language::Occitan},
      {"CAT", Language::Catalan}, {"   ", Language::Catalan},  {"spa", Language::Catalan},
  };
  for (const LanguageCase& c : languages) {
    EXPECT_EQ(LoadFormatSettings("/nowhere/", c.code).language, c.language) << c.code;
  }
  SetFormatSettings(FormatSettings{});
}

TEST(LoadTaxClasses, RatesAndTexts) {
  struct Case {
    std::string tarn;
    TaxClass first;
    TaxClass second;
  };
  const Case cases[] = {
      {"[Iva0]\r\nNom=General\r\nHonoraris = 21 ; IVA\r\nSuplerts=21\r\nSerie=A\r\n"
       "[Iva1]\r\nNom=Exempt\r\nHonoraris=0\r\nSuplerts=10.5\r\nSerie=B \r\n"
       "[Ret0]\r\nHonoraris=15\r\n[Ret1]\r\nHonoraris=abc\r\n",
       {"General", 21, 21, 15, "A"}, {"Exempt", 0, 10.5f, 0, "B"}},  // "B ": texts lose blanks around them
      {"", {"", 0, 0, 0, ""}, {"", 0, 0, 0, ""}},
      {"[Iva0]\r\nHonoraris=1e999\r\nSuplerts=" + std::string(400, '9') + "\r\n",
       {"", 1, 3.4028235e38f, 0, ""}, {"", 0, 0, 0, ""}},
  };
  for (const Case& c : cases) {
    TempRoot root;
    if (!c.tarn.empty()) root.Write("Tarn.ini", c.tarn);
    Session.RootDir = root.Dir();
    LoadTaxClasses();
    const TaxClass* want[2] = {&c.first, &c.second};
    for (size_t k = 0; k < 2; ++k) {
      SCOPED_TRACE("class " + std::to_string(k) + " of \"" + c.tarn.substr(0, 40) + "\"");
      EXPECT_EQ(TaxClasses[k].ClassName, want[k]->ClassName);
      EXPECT_EQ(TaxClasses[k].FeeVatRate, want[k]->FeeVatRate);
      EXPECT_EQ(TaxClasses[k].ExpenseVatRate, want[k]->ExpenseVatRate);
      EXPECT_EQ(TaxClasses[k].WithholdingRate, want[k]->WithholdingRate);
      EXPECT_EQ(TaxClasses[k].Series, want[k]->Series);
    }
  }
  Session = SessionValues{};
}

}  // namespace
