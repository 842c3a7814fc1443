// Process-wide session values, issuer details and tax classes, filled once
// at start-up from the environment and the settings files.
//
// Lifetime: Session, IssuerDetails and TaxClasses are written only during
// start-up (SetUpSession, LoadIssuerDetails, LoadTaxClasses, called by the
// program in that order before the first screen) and only read afterwards;
// a change to the settings files takes effect at the next start. Tests write
// them directly to set up a case. Lower layers are not to read them: what
// they need is handed down as arguments or settings values (FormatSettings).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "formatting/settings.h"

struct SessionValues {
  std::string RootDir;       // ZEPROOT, as is (ends with a path separator)
  std::string ExeDir;        // ZEPEXE, as is
  std::string TempDir;       // ZEPTMP, else TerminalDir; ends in "\", "/" or ":", or is empty
  std::string TerminalDir;   // Sessio.ini [Terminal] Dir, else TERM; same ending rule
  std::string SessionTitle;  // " " + [Menu] Titol + " "
  std::string MenuName;      // [Menu] NomMenu
  int16_t ColourTable[5][2] = {};  // per display mode: foreground, background
  std::string SessionDate;   // stored date (4 bytes) or empty
  std::string OutputDevice;  // TarnTerm.ini [Sistema] Sortida
  std::string Language;      // 3 characters, blank-padded: CAT, SPA, GLG, OCI
  std::string EnvironmentKind;  // "CGI", "WIN" or "DOS"
  std::string CommandShell;     // COMSPEC: what runs the help launcher in a windowed session
};

extern SessionValues Session;

// Reads one environment variable; empty when unset. Tests pass their own.
using EnvironmentLookup = std::function<std::string(const char* name)>;
std::string SystemEnvironment(const char* name);

// Builds Session from the environment and the settings files, in the fixed
// order: directories, session file, terminal directory, currency default
// ("a,E"), colours, session date (today's date when [Sistema] Data is
// missing), output device, language, environment kind. Every text value of
// the settings files is taken without the blanks written around it
// (IniReadTrimmed); numbers are read with NumericValue.
void SetUpSession(const EnvironmentLookup& env = SystemEnvironment);

// The invoicing party: items 1 to 8 (index 0 unused), each exactly 35
// characters, named by IssuerItem. The tax number always begins with "ES".
extern std::array<std::string, 9> IssuerDetails;

// The numbered items of IssuerDetails, with the Tarn.ini [Emissor] key each
// is read from. Only Name, AlternativeName, TaxNumber and Place are printed
// by this module.
namespace IssuerItem {
inline constexpr size_t Name = 1;             // Nom
inline constexpr size_t Line2 = 2;            // Linia2
inline constexpr size_t Line3 = 3;            // Linia3
inline constexpr size_t Line4 = 4;            // Linia4
inline constexpr size_t Line5 = 5;            // Linia5
inline constexpr size_t AlternativeName = 6;  // NomAlternatiu: printed instead of Name when not blank
inline constexpr size_t TaxNumber = 7;        // NIF, normalised by NormaliseTaxNumber
inline constexpr size_t Place = 8;            // Poblacio: the place printed beside the invoice number
}  // namespace IssuerItem

// Reads Tarn.ini [Emissor] Nom, Linia2..Linia5, NomAlternatiu, NIF, Poblacio
// under Session.RootDir into IssuerDetails, each without the blanks written
// around it (IniReadTrimmed), and normalises the tax number.
void LoadIssuerDetails();

// The tax number's normalisation: keeps blanks, "A".."Z" and "0".."9",
// refills with blanks, puts "ES" in front, cuts to 35 characters.
std::string NormaliseTaxNumber(const std::string& item);

struct TaxClass {
  std::string ClassName;
  float FeeVatRate = 0;
  float ExpenseVatRate = 0;
  float WithholdingRate = 0;
  std::string Series;
};

// Exactly two classes, 0 and 1.
extern std::array<TaxClass, 2> TaxClasses;

// The formatting settings of the user: Tarn.ini [Usuari] DecCaracter (first
// character; default "'" when missing, empty or blank), MilCaracter (default
// "."), DatCaracter (cut or blank-padded to 1; default "/" when blank),
// DatOrdre (cut or blank-padded to 3, letters in capitals; default "DMA"
// when blank) under rootDir, each without the blanks written around it
// (IniReadTrimmed), and the language of languageCode (see LanguageFromCode).
// The current year is left to the clock. Reads only; the program hands the
// result to SetFormatSettings once at start-up.
[[nodiscard]] FormatSettings LoadFormatSettings(const std::string& rootDir, std::string_view languageCode);

// The invoice register's switches in rootDir + "Tarn.ini": [Registre] Actiu
// "S" (trimmed, either case) turns it on; [Registre] Liquidar "S" has a
// registered run mark the receipts it billed as settled; [VeriFactu] Entorn
// "proves" picks the tax agency's test host for the codes on the invoices
// (agency/settings.h reads it). All off when missing. [Registre]
// SerieRectificativa names the corrective invoices' series ("RE" when
// missing). Reads only.
struct RegisterSettings {
  bool active = false;
  bool settle = false;
  bool testEnvironment = false;
  std::string correctiveSeries = "RE";
};
[[nodiscard]] RegisterSettings LoadRegisterSettings(const std::string& rootDir);

// Reads [Iva0]/[Iva1] Nom, Honoraris, Suplerts, Serie and [Ret0]/[Ret1]
// Honoraris from Session.RootDir + "Tarn.ini"; Nom and Serie without the
// blanks written around them.
void LoadTaxClasses();
