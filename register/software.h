// The invoicing system's identity, as every record names it and as its
// producer declares it: read from one installed file beside Tarn.ini,
// Productor.ini (code page 850), and the version from the build. Also the
// installation number, made once per suite root and kept in DADES\.
//
// Productor.ini holds, every key required:
//   [Productor] Nom (up to 120), NIF (a valid Spanish NIF), Adreca (the full
//               postal address, up to 250)
//   [Sistema]   Nom (up to 30), Id (two characters A-Z, 0-9),
//               NomesVerifactu (S/N: works only sending every record),
//               MultiplesEmissors (S/N: can serve several issuers)
//   [Declaracio] Lloc (town and country, up to 100), Data (DD-MM-YYYY): where
//               and when the producer signed the responsible declaration
// Values are trimmed of blanks; a quoted value keeps what the quotes hold.
#pragma once

#include <string>

inline constexpr const char* SoftwareFileName = "Productor.ini";
inline constexpr const char* InstallationFileName = "DADES\\Instalacio.id";

// Texts are code page 850, trimmed.
struct SoftwareIdentity {
  std::string producerName;
  std::string producerNif;      // 9 characters, normalised by CheckNif
  std::string producerAddress;
  std::string systemName;
  std::string systemId;         // 2 characters
  std::string version;          // SoftwareVersion()
  bool sendingOnly = false;
  bool multipleIssuers = false;
  std::string declarationPlace;
  std::string declarationDate;  // DD-MM-YYYY
};

// Why Productor.ini was refused; the callers word the messages.
enum class SoftwareProblem {
  None,
  MissingFile,      // no regular file at <root>Productor.ini
  MissingField,     // a key missing or empty
  FieldTooLong,     // a value over its limit
  InvalidNif,       // the producer's NIF fails CheckNif
  InvalidSystemId,  // not two characters A-Z, 0-9
  InvalidChoice,    // an S/N key holding something else
  InvalidDate,      // not DD-MM-YYYY, or no such day
};

// The version of this build: the CMake project's VERSION, "1.1.0".
[[nodiscard]] const char* SoftwareVersion();

// Reads <root>Productor.ini (root: a suite path, empty or ending in a
// separator) into identityOut. On a problem, identityOut is unchanged and
// fieldOut names the first key at fault as "[Section] Key" (empty for
// MissingFile).
[[nodiscard]] SoftwareProblem LoadSoftwareIdentity(const std::string& root, SoftwareIdentity& identityOut,
                                                   std::string& fieldOut);

// The installation number of the suite root: the one kept in
// <root>DADES\Instalacio.id, else a new one (16 upper-case hexadecimal
// digits from the kernel's random source) written there with
// Placement::NeverOverwrite, so that of two processes making it at once the
// second reads back the first one's. 0 and numberOut set, or an errno:
// ENOENT (no DADES folder), EINVAL (the kept file holds no number of 1 to
// 100 letters and digits; it is never replaced), or that of the failing
// read, random source or write.
[[nodiscard]] int InstallationNumber(const std::string& root, std::string& numberOut);
