// Tax numbers: the NIF's forms and control characters, and how a recipient's
// stored tax id is sent to the agency. The expected control characters were
// worked out by hand from the agency's rules, not by this code.
#include "register/taxid.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/table.h"

namespace {

TEST(TaxIdNif, FormsControlsAndWriting) {
  using P = NifProblem;
  struct Case {
    const char* name;
    std::string text, nif;
    NifProblem problem;
  };
  const Case cases[] = {
      {"DNI", "12345678Z", "12345678Z", P::None},
      {"DNI, the agency's example", "89890001K", "89890001K", P::None},
      {"DNI, leading zeros", "00000000T", "00000000T", P::None},
      {"DNI, wrong letter", "12345678A", "12345678A", P::WrongControl},
      {"DNI, digit for a letter", "123456789", "123456789", P::WrongControl},
      {"as a setting holds it", "ES12345678Z", "12345678Z", P::None},
      {"prefix, blanks, dots, dash, lower case", " es 12.345.678-z ", "12345678Z", P::None},
      {"NIE X", "X1234567L", "X1234567L", P::None},
      {"NIE Y", "Y1234567X", "Y1234567X", P::None},
      {"NIE Z", "z-1234567-r", "Z1234567R", P::None},
      {"NIE X with Z's letter", "X1234567R", "X1234567R", P::WrongControl},
      {"K", "K1234567L", "K1234567L", P::None},
      {"L", "L7654321J", "L7654321J", P::None},
      {"M", "ESM5555555C", "M5555555C", P::None},
      {"M, wrong letter", "M5555555H", "M5555555H", P::WrongControl},
      {"B must take the digit", "B12345674", "B12345674", P::None},
      {"B given the letter", "B1234567D", "B1234567D", P::WrongControl},
      {"B, wrong digit", "B12345678", "B12345678", P::WrongControl},
      {"C with its digit", "ESC76543214", "C76543214", P::None},
      {"C with its letter, lower case", "c7654321d", "C7654321D", P::None},
      {"G with its letter", "G2222222H", "G2222222H", P::None},
      {"R with its letter", "R0000001H", "R0000001H", P::None},
      {"A must take the digit", "A58080300", "A58080300", P::None},
      {"A given the letter", "A5808030J", "A5808030J", P::WrongControl},
      {"H must take the digit", "H98765431", "H98765431", P::None},
      {"H given the letter", "H9876543A", "H9876543A", P::WrongControl},
      {"Q must take the letter", "Q2826000H", "Q2826000H", P::None},
      {"Q given the digit", "Q28260008", "Q28260008", P::WrongControl},
      {"P must take the letter", "P0800000B", "P0800000B", P::None},
      {"P given the digit", "P08000002", "P08000002", P::WrongControl},
      {"N must take the letter", "N0012345E", "N0012345E", P::None},
      {"W given the digit", "W82658972", "W82658972", P::WrongControl},
      {"S must take the letter", "S2800000H", "S2800000H", P::None},
      {"E must take the digit", "E12345674", "E12345674", P::None},
      {"E given the letter", "E1234567D", "E1234567D", P::WrongControl},
      {"D takes the digit", "D12345674", "D12345674", P::None},
      {"or the letter", "D1234567D", "D1234567D", P::None},
      {"F with its digit", "F12345674", "F12345674", P::None},
      {"F with its letter", "F1234567D", "F1234567D", P::None},
      {"J with its digit", "J12345674", "J12345674", P::None},
      {"J with its letter", "J1234567D", "J1234567D", P::None},
      {"U with its digit", "U12345674", "U12345674", P::None},
      {"U with its letter", "U1234567D", "U1234567D", P::None},
      {"V with its digit", "V12345674", "V12345674", P::None},
      {"V with its letter", "V1234567D", "V1234567D", P::None},
      {"V, wrong digit", "V12345675", "V12345675", P::WrongControl},
      {"I starts no NIF", "I1234567A", "I1234567A", P::UnknownForm},
      {"a letter among the digits", "1234A678Z", "1234A678Z", P::UnknownForm},
      {"too short", "1234567Z", "1234567Z", P::WrongLength},
      {"too long", "123456789Z", "123456789Z", P::WrongLength},
      {"prefix and too short", "ES1234567", "1234567", P::WrongLength},
      {"empty", "", "", P::Empty},
      {"blanks and the prefix only", " ES - ", "", P::Empty},
  };
  ForEachRow(cases, [](const Case& c) {
    const NifCheck check = CheckNif(c.text);
    EXPECT_EQ(check.nif, c.nif);
    EXPECT_EQ(check.problem, c.problem);
    EXPECT_EQ(check.Valid(), c.problem == P::None);
  });
}

TEST(TaxIdRecipient, NifEuVatNumberOrNotIdentifiable) {
  using K = RecipientIdKind;
  using P = NifProblem;
  struct Case {
    const char* name;
    std::string stored;
    RecipientIdKind kind;
    std::string id, country;
    NifProblem problem;
  };
  const Case cases[] = {
      {"Spanish person", "ES12345678Z", K::Nif, "12345678Z", "", P::None},
      {"Spanish company", "ESB12345674", K::Nif, "B12345674", "", P::None},
      {"NIF without the prefix", "12345678Z", K::Nif, "12345678Z", "", P::None},
      {"Spain with a wrong letter: as written", "ES12345678A", K::NifAsWritten, "12345678A", "", P::WrongControl},
      {"a company's wrong digit: as written", "b12345675", K::NifAsWritten, "B12345675", "", P::WrongControl},
      // Every EU VAT number goes without CodigoPais (Greece's EL is no
      // country code), checked by its state's structure.
      {"France, letters and digits", "FR40303265045", K::EuVatNumber, "FR40303265045", "", P::None},
      {"Greece as EL", "EL094259216", K::EuVatNumber, "EL094259216", "", P::None},
      {"Germany", "DE123456789", K::EuVatNumber, "DE123456789", "", P::None},
      {"Austria written loosely", "at u-123.456 78", K::EuVatNumber, "ATU12345678", "", P::None},
      {"Northern Ireland", "XI123456789", K::EuVatNumber, "XI123456789", "", P::None},
      {"Northern Ireland, a branch", "XI123456789012", K::EuVatNumber, "XI123456789012", "", P::None},
      {"Romania, shortest", "RO12", K::EuVatNumber, "RO12", "", P::None},
      {"Netherlands", "NL123456789B01", K::EuVatNumber, "NL123456789B01", "", P::None},
      {"Lithuania, 12 digits", "LT123456789012", K::EuVatNumber, "LT123456789012", "", P::None},
      {"Germany too short", "DE12", K::NotIdentifiable, "", "", P::WrongLength},
      {"Germany with a letter", "DE12345678X", K::NotIdentifiable, "", "", P::WrongLength},
      {"Greece one digit short", "EL09425921", K::NotIdentifiable, "", "", P::WrongLength},
      {"Greece as GR", "GR094259216", K::NotIdentifiable, "", "", P::WrongLength},
      {"Lithuania, 10 digits", "LT1234567890", K::NotIdentifiable, "", "", P::WrongLength},
      {"Romania with a leading zero", "RO0123", K::NotIdentifiable, "", "", P::WrongLength},
      {"Romania, one digit", "RO1", K::NotIdentifiable, "", "", P::WrongLength},
      {"a word after a prefix", "DESCONOCIDO", K::NotIdentifiable, "", "", P::WrongLength},
      {"a slash in the number", "FR403/03265045", K::NotIdentifiable, "", "", P::WrongLength},
      {"not a member state", "GB123456789", K::NotIdentifiable, "", "", P::WrongLength},
      {"garbage of NIF length", "ABCDEFGHI", K::NotIdentifiable, "", "", P::UnknownForm},
      {"blank", "   ", K::NotIdentifiable, "", "", P::Empty},
  };
  ForEachRow(cases, [](const Case& c) {
    const RecipientId r = ClassifyRecipientTaxId(c.stored);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.id, c.id);
    EXPECT_EQ(r.country, c.country);
    EXPECT_EQ(r.problem, c.problem);
  });
}

}  // namespace
