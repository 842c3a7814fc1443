// E-mail of invoices: the settings of Tarn.ini [Correu], the names of the
// files an invoice's e-mail uses, and the password file.
//
//   [Correu]
//   Actiu=S          a registered run also writes each invoice as its own
//                    PDF, ARXIU\<series>-<number>.pdf, and offers to send
//   Servidor=host    the SMTP server; "smtps://host" for implicit TLS
//   Port=587         587 (or any other): STARTTLS, required; 465: implicit TLS
//   Usuari=name      the login; empty: no login
//   ClauUsuari=path  host path of a file holding the password on its only
//                    line (base/secret.h: refused when group or others have
//                    any permission on it)
//   Remitent=addr    the sender's address (envelope and From)
//   CAServidor=path  host path of a PEM file of authorities to trust for the
//                    server instead of the system's (a local or test server)
// The server's certificate is always checked.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* MailLogFileName = "DADES\\CorreuFact.log";

struct MailSettings {
  bool active = false;
  std::string server;  // host name, without a scheme
  bool implicitTls = false;
  long port = 587;
  std::string user;
  std::string passwordFile;  // host path
  std::string sender;        // address
  std::string caFile;        // host path; empty: the system's authorities
};

// The settings in rootDir + "Tarn.ini" (rootDir in the suite's form, empty
// or ending in a separator). Never fails: missing keys give the defaults.
[[nodiscard]] MailSettings LoadMailSettings(const std::string& rootDir);

// What stands in the way of sending with these settings.
enum class MailSettingsProblem {
  None,
  NoServer,          // Servidor= is empty
  BadPort,           // Port= is not 1 to 65535
  BadSender,         // Remitent= is not an address
  PasswordMissing,   // ClauUsuari= names no readable regular file
  PasswordExposed,   // group or others have a permission on the password file
  PasswordNotOneLine,  // something follows the password's line (base/secret.h)
};

// Checks the settings and reads the password (empty without Usuari=).
[[nodiscard]] MailSettingsProblem CheckMailSettings(const MailSettings& settings, std::string& passwordOut);

// The file name under ARXIU\ of an invoice's own PDF: the series, "-", the
// eight digits of the number, ".pdf" ("A-00000007.pdf"). A character of
// the series other than a letter, a digit or "-" is written "_" and its two
// hexadecimal digits, so that two series never share a name.
[[nodiscard]] std::string InvoicePdfFileName(const std::string& series, int32_t number);
