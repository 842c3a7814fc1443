// Session values from the environment and the settings files; issuer
// details and tax classes from the system-wide settings file.
#include "session/session.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "formatting/dates.h"
#include "formatting/picture.h"
#include "agency/settings.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/clock.h"

SessionValues Session;
std::array<std::string, 9> IssuerDetails;
std::array<TaxClass, 2> TaxClasses;

namespace {

// A directory value as the suite uses it: ends in "\", "/" or ":", or is
// empty; a directory that already ends in a separator gets nothing appended.
void EndWithSeparator(std::string& dir) { dir = SuiteDirectory(dir); }

// The whole number nearest to a settings value, held within [low, high].
int64_t WholeWithin(double value, int64_t low, int64_t high) {
  const double whole = std::nearbyint(value);
  if (whole <= static_cast<double>(low)) return low;
  if (whole >= static_cast<double>(high)) return high;
  return static_cast<int64_t>(whole);
}

float RateOf(const std::string& text) {
  const double value = NumericValue(text);
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(value);
}

bool IsEightDigits(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

constexpr const char* kDefaultColours = "15000700000700070007";

// text with one blank on each side. Copied into place: GCC 12 at -O3 warns
// falsely (-Wrestrict) on " " + text + " " here.
std::string Framed(const std::string& text) {
  std::string framed(text.size() + 2, ' ');
  std::copy(text.begin(), text.end(), framed.begin() + 1);
  return framed;
}

}  // namespace

std::string SystemEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

void SetUpSession(const EnvironmentLookup& env) {
  Session = SessionValues{};

  Session.RootDir = env("ZEPROOT");
  Session.ExeDir = env("ZEPEXE");
  Session.TempDir = env("ZEPTMP");
  EndWithSeparator(Session.TempDir);

  // With no temporary directory the session file is read from the working
  // directory, before the terminal directory takes its place.
  const std::string sessionFile = Session.TempDir + "Sessio.ini";
  Session.SessionTitle = Framed(IniReadTrimmed(sessionFile, "Menu", "Titol"));
  Session.MenuName = IniReadTrimmed(sessionFile, "Menu", "NomMenu");

  Session.TerminalDir = IniReadTrimmed(sessionFile, "Terminal", "Dir");
  if (Session.TerminalDir.empty()) Session.TerminalDir = env("TERM");
  EndWithSeparator(Session.TerminalDir);

  if (Session.TempDir.empty()) Session.TempDir = Session.TerminalDir;

  SetCurrency("a,E");

  const std::string terminalFile = Session.TempDir + "TarnTerm.ini";
  const int64_t selection =
      WholeWithin(NumericValue(IniRead(terminalFile, "Pantalla", "Seleccio")), INT32_MIN, INT32_MAX);
  std::string scheme = IniReadTrimmed(terminalFile, "Pantalla", "Col" + std::to_string(selection));
  if (scheme.empty()) scheme = kDefaultColours;
  for (size_t row = 0; row < 5; ++row) {
    for (size_t column = 0; column < 2; ++column) {
      const size_t at = 4 * row + 2 * column;
      const std::string number = at < scheme.size() ? scheme.substr(at, 2) : std::string();
      Session.ColourTable[row][column] =
          static_cast<int16_t>(WholeWithin(NumericValue(number), INT16_MIN, INT16_MAX));
    }
  }

  // A missing or unreadable session date gives today's date, so that the
  // screens always start from a real date.
  const std::string trimmedDate = IniReadTrimmed(terminalFile, "Sistema", "Data");
  Session.SessionDate = CodeFromText(IsEightDigits(trimmedDate) ? trimmedDate : TodayDigits());
  Session.OutputDevice = IniReadTrimmed(terminalFile, "Sistema", "Sortida");
  Session.Language = FixedWidth(IniReadTrimmed(terminalFile, "Sistema", "Idioma"), 3);
  if (IsAllChar(Session.Language, ' ')) {
    Session.Language = FixedWidth(IniReadTrimmed(Session.RootDir + "Tarn.ini", "Usuari", "Idioma"), 3);
  }

  if (!env("HTTP_USER_AGENT").empty() || !env("HTTP_ACCEPT").empty()) {
    Session.EnvironmentKind = "CGI";
  } else if (!env("WINDIR").empty() || !env("SYSTEMROOT").empty()) {
    Session.EnvironmentKind = "WIN";
  } else {
    Session.EnvironmentKind = "DOS";
  }
  Session.CommandShell = env("COMSPEC");
}

std::string NormaliseTaxNumber(const std::string& item) {
  std::string kept;
  for (char c : item) {
    if (c == ' ' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) kept.push_back(c);
  }
  kept.resize(item.size(), ' ');
  return FixedWidth("ES" + kept, 35);
}

void LoadIssuerDetails() {
  const std::string file = Session.RootDir + "Tarn.ini";
  struct Key {
    size_t item;
    const char* name;
  };
  static constexpr Key kKeys[] = {
      {IssuerItem::Name, "Nom"},       {IssuerItem::Line2, "Linia2"},
      {IssuerItem::Line3, "Linia3"},   {IssuerItem::Line4, "Linia4"},
      {IssuerItem::Line5, "Linia5"},   {IssuerItem::AlternativeName, "NomAlternatiu"},
      {IssuerItem::TaxNumber, "NIF"},  {IssuerItem::Place, "Poblacio"},
  };
  IssuerDetails[0].clear();
  for (const Key& key : kKeys) IssuerDetails[key.item] = FixedWidth(IniReadTrimmed(file, "Emissor", key.name), 35);
  IssuerDetails[IssuerItem::TaxNumber] = NormaliseTaxNumber(IssuerDetails[IssuerItem::TaxNumber]);
}

FormatSettings LoadFormatSettings(const std::string& rootDir, std::string_view languageCode) {
  const std::string file = rootDir + "Tarn.ini";
  FormatSettings settings;
  const std::string decimal = IniReadTrimmed(file, "Usuari", "DecCaracter");
  if (!decimal.empty() && decimal[0] != ' ') settings.decimalChar = decimal[0];
  const std::string thousands = IniReadTrimmed(file, "Usuari", "MilCaracter");
  if (!thousands.empty() && thousands[0] != ' ') settings.thousandsChar = thousands[0];
  const std::string separator = FixedWidth(IniReadTrimmed(file, "Usuari", "DatCaracter"), 1);
  if (separator != " ") settings.dateSeparator = separator[0];
  std::string order = FixedWidth(IniReadTrimmed(file, "Usuari", "DatOrdre"), 3);
  for (char& c : order) c = PlainUpper(c);
  if (!IsAllChar(order, ' ')) settings.dateOrder = order;
  settings.language = LanguageFromCode(languageCode);
  return settings;
}

namespace {
// text with its letters in capitals (PlainUpper letter by letter).
std::string UpperText(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = PlainUpper(c);
  return out;
}
}  // namespace

RegisterSettings LoadRegisterSettings(const std::string& rootDir) {
  const std::string file = rootDir + "Tarn.ini";
  RegisterSettings settings;
  settings.active = UpperText(IniReadTrimmed(file, "Registre", "Actiu")) == "S";
  settings.settle = settings.active && UpperText(IniReadTrimmed(file, "Registre", "Liquidar")) == "S";
  settings.testEnvironment = !LoadVeriFactuSettings(rootDir).production;
  const std::string corrective = IniReadTrimmed(file, "Registre", "SerieRectificativa");
  if (!corrective.empty()) settings.correctiveSeries = corrective;
  return settings;
}

void LoadTaxClasses() {
  const std::string file = Session.RootDir + "Tarn.ini";
  TaxClasses[0].ClassName = IniReadTrimmed(file, "Iva0", "Nom");
  TaxClasses[1].ClassName = IniReadTrimmed(file, "Iva1", "Nom");
  TaxClasses[0].FeeVatRate = RateOf(IniRead(file, "Iva0", "Honoraris"));
  TaxClasses[1].FeeVatRate = RateOf(IniRead(file, "Iva1", "Honoraris"));
  TaxClasses[0].ExpenseVatRate = RateOf(IniRead(file, "Iva0", "Suplerts"));
  TaxClasses[1].ExpenseVatRate = RateOf(IniRead(file, "Iva1", "Suplerts"));
  TaxClasses[0].WithholdingRate = RateOf(IniRead(file, "Ret0", "Honoraris"));
  TaxClasses[1].WithholdingRate = RateOf(IniRead(file, "Ret1", "Honoraris"));
  TaxClasses[0].Series = IniReadTrimmed(file, "Iva0", "Serie");
  TaxClasses[1].Series = IniReadTrimmed(file, "Iva1", "Serie");
}
