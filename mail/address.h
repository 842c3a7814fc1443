// Owners' e-mail addresses: the check of one address and the reading of
// DADES\CorreuV (records/layouts.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Whether text is an address a message can go to: local@domain in ASCII,
// the local part of letters, digits and !#$%&'*+/=?^_`{|}~.- (no dot at
// either end, no two dots together), the domain of two or more labels of
// letters, digits and "-" (not at a label's ends), at most 254 characters.
[[nodiscard]] bool IsMailAddress(const std::string& text);

// One owner's record of CorreuV: the addresses as written, blanks trimmed,
// empty ones left out.
struct OwnerAddresses {
  std::vector<std::string> addresses;
  bool paper = false;
};

// Every record of the file at hostPath (".dat" added), by packed owner
// code. 0; RmFileNotFound (12) when there is no such file (bookOut empty);
// or the record manager's status of the failure.
[[nodiscard]] int16_t ReadAddressBook(const std::string& hostPath, std::map<std::string, OwnerAddresses>& bookOut);
