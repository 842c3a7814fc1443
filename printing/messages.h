// The messages of the spool writer, the four languages side by side (code
// page 850). The text in force is chosen by SpoolSettings::language.
#pragma once

#include "base/language.h"

enum class SpoolMessage {
  FileNotWritten,    // followed by the spool file's path
  ProgramNotRun,     // followed by the print program's path
  NotRegular,        // after the spool file's path: why it was refused
};

inline constexpr MessageTable<SpoolMessage, 3> kSpoolTexts{{{
    {SpoolMessage::FileNotWritten,
     {"NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0 ", "NO SE PUEDE ESCRIBIR EL FICHERO DE IMPRESI\xe0N ",
      "NON SE PODE ESCRIBIR O FICHEIRO DE IMPRESI\xe0N ", "SE P\xe3T PAS ESCRIURE LO FICHI\xd4R D'IMPRESSION "}},
    {SpoolMessage::ProgramNotRun,
     {"NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0 ", "NO SE PUEDE EJECUTAR EL PROGRAMA DE IMPRESI\xe0N ",
      "NON SE PODE EXECUTAR O PROGRAMA DE IMPRESI\xe0N ", "SE P\xe3T PAS EXECUTAR LO PROGRAMA D'IMPRESSION "}},
    {SpoolMessage::NotRegular,
     {": NO \x90S UN FITXER NORMAL", ": NO ES UN FICHERO NORMAL", ": NON \x90 UN FICHEIRO NORMAL",
      ": ES PAS UN FICHI\xd4R NORMAL"}},
}}};
