// What the console layer says by itself, in the four languages side by side
// (Catalan, Spanish, Galician, Occitan), code page 850. The language in force
// is ScreenSettings::language.
#pragma once

#include "base/language.h"

enum class ConsoleMessage {
  AnyKey,  // the key line of a message that waits for a key
};

inline constexpr MessageTable<ConsoleMessage, 1> kConsoleTexts{{{
    {ConsoleMessage::AnyKey,
     {"Qualsevol tecla per continuar", "Pulse una tecla para continuar", "Prema unha tecla para continuar",
      "Quinsevolh tecla ent\x85 contunhar"}},
}}};
