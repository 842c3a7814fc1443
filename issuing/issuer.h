// The issuer of the invoices as the register's records name it: Tarn.ini
// [Emissor] NIF and Nom, read in one place for every program. Values are
// trimmed of the blanks around them; the NIF is checked by the register's
// rule (register/taxid.h: "ES", blanks, dots and dashes allowed, letters in
// either case) and shown to the user as written; the name goes whole into
// the records (the agency takes up to 120 characters).
#pragma once

#include <string>

#include "register/taxid.h"

struct Issuer {
  std::string written;  // [Emissor] NIF as written, trimmed (code page 850)
  std::string nif;      // the 9 characters the agency takes; empty when not valid
  std::string name;     // [Emissor] Nom, trimmed (code page 850)
};

enum class IssuerProblem {
  None,
  BadNif,       // NIF= is missing or fails its check
  NoName,       // Nom= is missing
  NameTooLong,  // Nom= is longer than the agency takes
};

// The issuer of rootDir + "Tarn.ini" (rootDir in the suite's path form).
[[nodiscard]] IssuerProblem ReadIssuer(const std::string& rootDir, Issuer& out);
