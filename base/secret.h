// Files that hold a secret: the password of the issuer's certificate and of
// the mail server's login. One rule for every program: a regular file that
// only its owner may read or write (no permission bit for group or others),
// holding the secret on its first line and nothing after it but line ends.
#pragma once

#include <string>

enum class SecretProblem {
  None,
  NotSet,      // no file named
  Missing,     // no such file, or not a regular file
  Unreadable,  // it cannot be read, or is over 4 KB
  Exposed,     // group or others have a permission on it
  NotOneLine,  // something follows the first line
};

// Reads the secret of the file at hostPath into secretOut (emptied first):
// its first line, without the line end.
[[nodiscard]] SecretProblem ReadSecretFile(const std::string& hostPath, std::string& secretOut);
