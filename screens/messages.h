// What the screens say to the user, in the four languages side by side
// (Catalan, Spanish, Galician, Occitan), code page 850.
#pragma once

#include "base/language.h"

enum class ScreenMessage {
  FormFileUnreadable,  // followed by the form file's name
};

inline constexpr MessageTable<ScreenMessage, 1> kScreenTexts{{{
    {ScreenMessage::FormFileUnreadable,
     {"NO ES POT LLEGIR EL FITXER DE PANTALLES ", "NO SE PUEDE LEER EL FICHERO DE PANTALLAS ",
      "NOM SE PODE LER O FICHEIRO DE PANTALLAS ", "NON SE P\xE3T L\x90GER ETH FICH\xD4R DE FORMULARIS "}},
}}};
