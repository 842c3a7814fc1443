// What the console layer says by itself, in the four languages side by side
// (Catalan, Spanish, Galician, Occitan), code page 850. The language in force
// is ScreenSettings::language.
#pragma once

#include "base/language.h"

enum class ConsoleMessage {
  AnyKey,  // the key line of a message that waits for a key
  StackFileIgnored,  // followed by the window-stack file's path
};

inline constexpr MessageTable<ConsoleMessage, 2> kConsoleTexts{{{
    {ConsoleMessage::AnyKey,
     {"Qualsevol tecla per continuar", "Pulse una tecla para continuar", "Prema unha tecla para continuar",
      "Quinsevolh tecla ent\x85 contunhar"}},
    {ConsoleMessage::StackFileIgnored,
     {"No \x82s un fitxer normal i no es fa servir; les finestres es guarden en mem\x95ria: ",
      "No es un fichero normal y no se usa; las ventanas se guardan en memoria: ",
      "Non \x82 un ficheiro normal e non se usa; as vent\xa0s g\xa0rdanse en memoria: ",
      "Es pas un fichi\x8ar normal e s'utiliza pas; las fen\x8astras se gardan en mem\x95ria: "}},
}}};
