// Tax numbers as the agency takes them: the Spanish NIF from a setting or an
// owner's stored tax id ("ES12345678Z", "12.345.678-z"), checked by its
// control character, and how a recipient is named in a record: by NIF, by an
// EU VAT number in IDOtro, or not at all. The callers word the messages.
#pragma once

#include <string>
#include <string_view>

// Why a text is not a valid Spanish NIF.
enum class NifProblem {
  None,
  Empty,         // nothing left once blanks, dots, dashes and "ES" are gone
  WrongLength,   // not 9 characters
  UnknownForm,   // no form of NIF starts or goes on this way
  WrongControl,  // a known form whose last character is not its control
};

struct NifCheck {
  std::string nif;  // the normalised text; 9 upper-case characters when valid
  NifProblem problem = NifProblem::None;
  [[nodiscard]] bool Valid() const { return problem == NifProblem::None; }
};

// The NIF in text: blanks, tabs, dots and dashes dropped, ASCII letters upper
// case, a leading "ES" dropped (no NIF starts with it), then checked by form:
//   DNI      8 digits + letter "TRWAGMYFPDXBNJZSQVHLCKE"[number % 23]
//   NIE      X, Y or Z (read as 0, 1, 2 before the digits) + 7 digits + letter as DNI
//   K, L, M  letter + 7 digits + letter as DNI on the 7 digits
//   entity   A-H J N P-S U-W + 7 digits + control digit or letter (taxid.cpp)
[[nodiscard]] NifCheck CheckNif(std::string_view text);

// How a recipient is identified in a record.
enum class RecipientIdKind {
  Nif,              // element NIF
  EuVatNumber,      // IDOtro with IDType kIdTypeEuVat
  NotIdentifiable,  // neither: the caller lists it before printing
};

inline constexpr std::string_view kIdTypeEuVat = "02";  // NIF-IVA

struct RecipientId {
  RecipientIdKind kind = RecipientIdKind::NotIdentifiable;
  std::string id;       // Nif: the 9 characters; EuVatNumber: the number with its prefix
  std::string country;  // EuVatNumber: CodigoPais, or empty to leave it out
  NifProblem problem = NifProblem::None;  // NotIdentifiable: why it is no valid NIF
};

// Classifies an owner's stored tax id. An EU VAT number is a member state's
// prefix (EL for Greece, XI for Northern Ireland; never ES) and 2 to 13
// letters or digits, at least one a digit, so words such as "DESCONOCIDO" stay
// unidentifiable. Its CodigoPais is the ISO code the agency's country list
// holds (GR for EL); XI has none there, and IDType 02 does not require one, so
// it is left out. An "ES" number that fails the NIF check is not identifiable.
[[nodiscard]] RecipientId ClassifyRecipientTaxId(std::string_view storedTaxId);
