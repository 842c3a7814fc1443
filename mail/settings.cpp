#include "mail/settings.h"

#include <sys/stat.h>

#include <cstdlib>

#include "base/files.h"
#include "base/secret.h"
#include "base/ini.h"
#include "base/text.h"
#include "mail/address.h"

MailSettings LoadMailSettings(const std::string& rootDir) {
  const std::string file = rootDir + "Tarn.ini";
  MailSettings s;
  const std::string active = IniReadTrimmed(file, "Correu", "Actiu");
  s.active = active == "S" || active == "s";
  s.server = IniReadTrimmed(file, "Correu", "Servidor");
  if (s.server.compare(0, 8, "smtps://") == 0) {
    s.implicitTls = true;
    s.server.erase(0, 8);
  } else if (s.server.compare(0, 7, "smtp://") == 0) {
    s.server.erase(0, 7);
  }
  const std::string port = IniReadTrimmed(file, "Correu", "Port");
  if (!port.empty()) {
    s.port = port.find_first_not_of("0123456789") == std::string::npos && port.size() <= 5 ? std::atol(port.c_str()) : 0;
  } else if (s.implicitTls) {
    s.port = 465;
  }
  if (s.port == 465) s.implicitTls = true;
  s.user = IniReadTrimmed(file, "Correu", "Usuari");
  s.passwordFile = IniReadTrimmed(file, "Correu", "ClauUsuari");
  s.sender = IniReadTrimmed(file, "Correu", "Remitent");
  s.caFile = IniReadTrimmed(file, "Correu", "CAServidor");
  return s;
}

MailSettingsProblem CheckMailSettings(const MailSettings& settings, std::string& passwordOut) {
  passwordOut.clear();
  if (settings.server.empty() || settings.server.find_first_of(" /\\@") != std::string::npos)
    return MailSettingsProblem::NoServer;
  if (settings.port < 1 || settings.port > 65535) return MailSettingsProblem::BadPort;
  if (!IsMailAddress(settings.sender)) return MailSettingsProblem::BadSender;
  if (settings.user.empty()) return MailSettingsProblem::None;
  switch (ReadSecretFile(settings.passwordFile, passwordOut)) {
    case SecretProblem::None: break;
    case SecretProblem::Exposed: return MailSettingsProblem::PasswordExposed;
    case SecretProblem::NotOneLine: return MailSettingsProblem::PasswordNotOneLine;
    case SecretProblem::NotSet:
    case SecretProblem::Missing:
    case SecretProblem::Unreadable: return MailSettingsProblem::PasswordMissing;
  }
  return MailSettingsProblem::None;
}

std::string InvoicePdfFileName(const std::string& series, int32_t number) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (const char c : series) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-') {
      name += c;
    } else {
      name += '_';
      name += kHex[u >> 4];
      name += kHex[u & 15];
    }
  }
  return name + "-" + ZeroPad(number, 8) + ".pdf";
}
