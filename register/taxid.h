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
  NifAsWritten,     // element NIF, a known form whose control character fails: listed before printing
  EuVatNumber,      // IDOtro with IDType kIdTypeEuVat, without CodigoPais
  NotIdentifiable,  // none of them: listed, and no invoice is made for it
};

inline constexpr std::string_view kIdTypeEuVat = "02";  // NIF-IVA

struct RecipientId {
  RecipientIdKind kind = RecipientIdKind::NotIdentifiable;
  std::string id;       // Nif, NifAsWritten: the 9 characters; EuVatNumber: the number with its prefix
  std::string country;  // CodigoPais to send, or empty to leave it out (always, for IDType 02)
  NifProblem problem = NifProblem::None;  // NifAsWritten, NotIdentifiable: why it is no valid NIF
  // Whether a record can name it (anything but NotIdentifiable).
  [[nodiscard]] bool Usable() const { return kind != RecipientIdKind::NotIdentifiable; }
};

// Classifies an owner's stored tax id. An EU VAT number is a member state's
// prefix (EL for Greece, XI for Northern Ireland; never ES) followed by the
// number as that state structures it (the agency's table of NIF-IVA
// structures: lengths, digits or letters), so "DE12" or "DESCONOCIDO" are
// not. It goes without CodigoPais, which IDType 02 does not need (and which
// would have to match the prefix: GR never does for EL). A NIF of a known
// form whose control character fails is NifAsWritten; nothing else usable
// is NotIdentifiable.
[[nodiscard]] RecipientId ClassifyRecipientTaxId(std::string_view storedTaxId);
