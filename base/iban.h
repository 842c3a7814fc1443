// International bank account numbers (ISO 13616): the check of their two
// control digits (ISO 7064 MOD 97-10) and their printed form.
#pragma once

#include <cstddef>
#include <string>

// The IBAN in its electronic form: blanks and hyphens dropped, letters
// upper-cased. Nothing else is changed.
[[nodiscard]] std::string CompactIban(const std::string& text);

// True when text (in any form CompactIban reads) is an IBAN: two letters,
// two digits, 11 to 30 letters or digits, and the remainder 1 of the whole
// number modulo 97 (letters counting 10 to 35) with the first four
// characters moved to the end. An IBAN of a country of the SEPA scheme
// (IbanLength) must have that country's length.
[[nodiscard]] bool IsValidIban(const std::string& text);

// The length of the IBANs of a country of the SEPA scheme ("ES" 24, "DE"
// 22, "FR" 27 ...), by its two capital letters; 0 for any other country.
[[nodiscard]] size_t IbanLength(const std::string& country);

// The compact IBAN in groups of four separated by blanks, as it is printed.
[[nodiscard]] std::string PrintedIban(const std::string& text);

// As PrintedIban with every group but the first and the last hidden, as a
// page shows the account it charges: "ES76 **** **** **** **** 1332".
[[nodiscard]] std::string MaskedIban(const std::string& text);
