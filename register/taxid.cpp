#include "register/taxid.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

constexpr std::string_view kPersonalLetters = "TRWAGMYFPDXBNJZSQVHLCKE";
constexpr std::string_view kEntityLetters = "JABCDEFGHI";

struct EuPrefix {
  std::string_view prefix, country;
};

// The member states' VAT prefixes and the CodigoPais each is sent with.
constexpr EuPrefix kEuPrefixes[] = {
    {"AT", "AT"}, {"BE", "BE"}, {"BG", "BG"}, {"CY", "CY"}, {"CZ", "CZ"}, {"DE", "DE"}, {"DK", "DK"},
    {"EE", "EE"}, {"EL", "GR"}, {"FI", "FI"}, {"FR", "FR"}, {"HR", "HR"}, {"HU", "HU"}, {"IE", "IE"},
    {"IT", "IT"}, {"LT", "LT"}, {"LU", "LU"}, {"LV", "LV"}, {"MT", "MT"}, {"NL", "NL"}, {"PL", "PL"},
    {"PT", "PT"}, {"RO", "RO"}, {"SE", "SE"}, {"SI", "SI"}, {"SK", "SK"}, {"XI", ""},
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

RecipientId ClassifyRecipientTaxId(std::string_view storedTaxId) {
  const std::string text = Compact(storedTaxId);
  const std::string_view rest = std::string_view(text).substr(std::min<size_t>(2, text.size()));
  const bool vatShape = rest.size() >= 2 && rest.size() <= 13 && std::any_of(rest.begin(), rest.end(), IsDigit) &&
                        std::all_of(rest.begin(), rest.end(), [](char c) { return IsDigit(c) || IsUpper(c); });
  for (const EuPrefix& eu : kEuPrefixes) {
    if (vatShape && text.starts_with(eu.prefix)) {
      return {RecipientIdKind::EuVatNumber, text, std::string(eu.country), NifProblem::None};
    }
  }
  NifCheck nif = CheckNif(storedTaxId);
  if (nif.Valid()) return {RecipientIdKind::Nif, std::move(nif.nif), {}, NifProblem::None};
  return {RecipientIdKind::NotIdentifiable, {}, {}, nif.problem};
}
