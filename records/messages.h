// The messages of the record-file layer, the four languages side by side
// (code page 850). The text in force is chosen by RecordSettings::language.
#pragma once

#include "base/language.h"

enum class RecordMessage {
  OpenFailed,  // followed by the file name and " (status)"
  FileLocked,  // shown while a locked record or file is waited out
};

inline constexpr MessageTable<RecordMessage, 2> kRecordTexts{{{
    {RecordMessage::OpenFailed,
     {"NO ES POT ACCEDIR AL FITXER ", "NO SE PUEDE ACCEDER AL FICHERO ", "NOM SE PODE ACEDER AO FICHEIRO ",
      "NON SE P\xE3T ACCEDIR ATH FICH\xD4R "}},
    {RecordMessage::FileLocked,
     {"FITXER BLOQUEJAT. ESPEREU UN MOMENT.", "FICHERO BLOQUEADO. ESPERE UN MOMENTO.",
      "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.", "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT."}},
}}};
