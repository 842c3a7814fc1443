// The parameter form's refusals in the four languages (code page 850):
// "{1}" and "{2}" stand for the first and the last code as typed.
#pragma once

#include <string>

#include "base/language.h"

namespace form_texts {

enum class Say { OwnersReversed, PropertiesReversed };

constexpr MessageTable<Say, 2> kTexts{{{
    {Say::OwnersReversed,
     {"MARGE DE PROPIETARIS INVERTIT: EL PRIMER ({1}) VA DESPR\x90S DEL DARRER ({2})",
      "MARGEN DE PROPIETARIOS INVERTIDO: EL PRIMERO ({1}) VA DESPU\x90S DEL \xe9LTIMO ({2})",
      "MARXE DE PROPIETARIOS INVERTIDA: O PRIMEIRO ({1}) VAI DESPOIS DO \xe9LTIMO ({2})",
      "MARGE DE PROPRIETARIS INVERSAT: LO PRIMI\xd4R ({1}) VA APR\xd4P LO DARRI\xd4R ({2})"}},
    {Say::PropertiesReversed,
     {"MARGE DE FINQUES INVERTIT: LA PRIMERA ({1}) VA DESPR\x90S DE LA DARRERA ({2})",
      "MARGEN DE FINCAS INVERTIDO: LA PRIMERA ({1}) VA DESPU\x90S DE LA \xe9LTIMA ({2})",
      "MARXE DE FINCAS INVERTIDA: A PRIMEIRA ({1}) VAI DESPOIS DA \xe9LTIMA ({2})",
      "MARGE DE FINCAS INVERSAT: LA PRIMI\xd4RA ({1}) VA APR\xd4P LA DARRI\xd4RA ({2})"}},
}}};

// Text id in language with {1} and {2} replaced by first and last.
inline std::string Filled(Say id, Language language, const std::string& first, const std::string& last) {
  std::string text = kTexts.Text(id, language);
  for (const auto& [mark, value] : {std::pair<const char*, const std::string&>{"{1}", first}, {"{2}", last}}) {
    const size_t at = text.find(mark);
    if (at != std::string::npos) text.replace(at, 3, value);
  }
  return text;
}

}  // namespace form_texts
