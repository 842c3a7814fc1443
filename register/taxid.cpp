#include "register/taxid.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

constexpr std::string_view kPersonalLetters = "TRWAGMYFPDXBNJZSQVHLCKE";
constexpr std::string_view kEntityLetters = "JABCDEFGHI";

// The lengths a number may have, as a set of bits.
constexpr uint32_t Lengths(size_t shortest, size_t longest) {
  uint32_t bits = 0;
  for (size_t n = shortest; n <= longest; ++n) bits |= uint32_t{1} << n;
  return bits;
}

// The structure of each member state's VAT number after its prefix, as the
// agency checks it (IDType 02): its lengths and whether only digits.
struct EuStructure {
  std::string_view prefix;
  uint32_t lengths;
  bool digitsOnly;
};

// Greece is EL, Northern Ireland XI; Romania's numbers start with no zero
// (FitsStructure). Croatia, which the agency's list leaves out, as the
// Commission gives it.
constexpr EuStructure kEuStructures[] = {
    {"AT", Lengths(9, 9), false},   {"BE", Lengths(10, 10), true}, {"BG", Lengths(9, 10), true},
    {"CY", Lengths(9, 9), false},   {"CZ", Lengths(8, 10), true},  {"DE", Lengths(9, 9), true},
    {"DK", Lengths(8, 8), true},    {"EE", Lengths(9, 9), true},   {"EL", Lengths(9, 9), true},
    {"FI", Lengths(8, 8), true},    {"FR", Lengths(11, 11), false}, {"HR", Lengths(11, 11), true},
    {"HU", Lengths(8, 8), true},    {"IE", Lengths(8, 9), false},  {"IT", Lengths(11, 11), true},
    {"LT", Lengths(9, 9) | Lengths(12, 12), true}, {"LU", Lengths(8, 8), true}, {"LV", Lengths(11, 11), true},
    {"MT", Lengths(8, 8), true},    {"NL", Lengths(12, 12), false}, {"PL", Lengths(10, 10), true},
    {"PT", Lengths(9, 9), true},    {"RO", Lengths(2, 10), true},  {"SE", Lengths(12, 12), true},
    {"SI", Lengths(8, 8), true},    {"SK", Lengths(10, 10), true},
    {"XI", Lengths(5, 5) | Lengths(9, 9) | Lengths(12, 12), false},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

// Blanks, tabs, dots and dashes dropped; ASCII letters upper case.
std::string Compact(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '.' || c == '-') continue;
    out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

// Pre: digits holds digits only.
int32_t Number(std::string_view digits) {
  int32_t n = 0;
  for (char c : digits) n = n * 10 + (c - '0');
  return n;
}

// The entity control on the 7 digits: the 2nd, 4th and 6th added as they are;
// the others doubled and the two digits of each product added.
int EntityControl(std::string_view digits) {
  int sum = 0;
  for (size_t i = 0; i < digits.size(); ++i) {
    const int d = digits[i] - '0';
    sum += i % 2 == 1 ? d : 2 * d / 10 + 2 * d % 10;
  }
  return (10 - sum % 10) % 10;
}

// Pre: nif has 9 characters, the 2nd to 8th digits.
NifProblem EntityProblem(std::string_view nif) {
  const int c = EntityControl(nif.substr(1, 7));
  const bool digitOk = nif[8] == static_cast<char>('0' + c);
  const bool letterOk = nif[8] == kEntityLetters[static_cast<size_t>(c)];
  bool ok = false;
  if (std::string_view("ABEH").find(nif[0]) != std::string_view::npos) {
    ok = digitOk;
  } else if (std::string_view("NPQSW").find(nif[0]) != std::string_view::npos) {
    ok = letterOk;
  } else if (std::string_view("CDFGJRUV").find(nif[0]) != std::string_view::npos) {
    ok = digitOk || letterOk;
  } else {
    return NifProblem::UnknownForm;
  }
  return ok ? NifProblem::None : NifProblem::WrongControl;
}

NifProblem Problem(std::string_view nif) {
  if (nif.empty()) return NifProblem::Empty;
  if (nif.size() != 9) return NifProblem::WrongLength;
  const std::string_view middle = nif.substr(1, 7);
  if (!std::all_of(middle.begin(), middle.end(), IsDigit)) return NifProblem::UnknownForm;
  int32_t number = 0;
  if (IsDigit(nif[0])) {
    number = Number(nif.substr(0, 8));
  } else if (nif[0] >= 'X' && nif[0] <= 'Z') {
    number = (nif[0] - 'X') * 10000000 + Number(middle);
  } else if (nif[0] >= 'K' && nif[0] <= 'M') {
    number = Number(middle);
  } else {
    return EntityProblem(nif);
  }
  return nif[8] == kPersonalLetters[static_cast<size_t>(number % 23)] ? NifProblem::None : NifProblem::WrongControl;
}

}  // namespace

NifCheck CheckNif(std::string_view text) {
  std::string nif = Compact(text);
  if (nif.starts_with("ES")) nif.erase(0, 2);
  const NifProblem problem = Problem(nif);
  return {std::move(nif), problem};
}

namespace {

// Pre: text starts with structure's prefix.
bool FitsStructure(const std::string& text, const EuStructure& structure) {
  const std::string_view rest = std::string_view(text).substr(2);
  if (rest.size() > 31 || (structure.lengths & (uint32_t{1} << rest.size())) == 0) return false;
  if (!std::all_of(rest.begin(), rest.end(), [&](char c) { return IsDigit(c) || (!structure.digitsOnly && IsUpper(c)); }))
    return false;
  if (structure.prefix == "RO" && rest.front() == '0') return false;
  return std::any_of(rest.begin(), rest.end(), IsDigit);
}

}  // namespace

RecipientId ClassifyRecipientTaxId(std::string_view storedTaxId) {
  const std::string text = Compact(storedTaxId);
  for (const EuStructure& eu : kEuStructures) {
    if (!text.starts_with(eu.prefix)) continue;
    if (FitsStructure(text, eu)) return {RecipientIdKind::EuVatNumber, text, {}, NifProblem::None};
  }
  NifCheck nif = CheckNif(storedTaxId);
  if (nif.Valid()) return {RecipientIdKind::Nif, std::move(nif.nif), {}, NifProblem::None};
  // A known form whose control character fails: registered as written (the
  // agency takes it with errors) once the user has seen it listed.
  if (nif.problem == NifProblem::WrongControl)
    return {RecipientIdKind::NifAsWritten, std::move(nif.nif), {}, NifProblem::WrongControl};
  return {RecipientIdKind::NotIdentifiable, {}, {}, nif.problem};
}
