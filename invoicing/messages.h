// What the fee-invoice run says to the user, in the four languages side by
// side (Catalan, Spanish, Galician, Occitan), code page 850. The texts that
// name a file or a program are followed by its path.
#pragma once

#include "base/language.h"

enum class RunMessage {
  SpoolNotWritten,        // + the spool file's path
  PrintProgramNotStarted, // + the print program's path
  PrintProgramFailed,     // + the print program's path, then how it ended:
  ExitStatus,             //   + the exit status, or
  EndedBySignal,          //   + the number of the signal that ended it
  NothingToPrint,         // no invoice for the date and ranges of the form
};

inline constexpr MessageTable<RunMessage, 6> kRunTexts{{{
    {RunMessage::SpoolNotWritten,
     {"NO ES POT ESCRIURE EL FITXER D'IMPRESSI\xe0 ", "NO SE PUEDE ESCRIBIR EL FICHERO DE IMPRESI\xe0N ",
      "NON SE PODE ESCRIBIR O FICHEIRO DE IMPRESI\xe0N ", "SE P\xe3T PAS ESCRIURE LO FICHI\xd4R D'IMPRESSION "}},
    {RunMessage::PrintProgramNotStarted,
     {"NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSI\xe0 ", "NO SE PUEDE EJECUTAR EL PROGRAMA DE IMPRESI\xe0N ",
      "NON SE PODE EXECUTAR O PROGRAMA DE IMPRESI\xe0N ", "SE P\xe3T PAS EXECUTAR LO PROGRAMA D'IMPRESSION "}},
    {RunMessage::PrintProgramFailed,
     {"HA FALLAT EL PROGRAMA D'IMPRESSI\xe0 ", "HA FALLADO EL PROGRAMA DE IMPRESI\xe0N ",
      "FALLOU O PROGRAMA DE IMPRESI\xe0N ", "A FALHAT LO PROGRAMA D'IMPRESSION "}},
    {RunMessage::ExitStatus,
     {", ESTAT DE SORTIDA ", ", ESTADO DE SALIDA ", ", ESTADO DE SA\xd6" "DA ", ", ESTAT DE SORTIDA "}},
    {RunMessage::EndedBySignal,
     {", ATURAT PEL SENYAL ", ", DETENIDO POR LA SE\xa5" "AL ", ", DETIDO POLO SINAL ", ", ARRESTAT PEL SENHAL "}},
    {RunMessage::NothingToPrint,
     {"NO HI HA CAP FACTURA PER IMPRIMIR AMB AQUESTA DATA I AQUESTS MARGES",
      "NO HAY NINGUNA FACTURA QUE IMPRIMIR CON ESTA FECHA Y ESTOS M\xb5RGENES",
      "NON HAI NINGUNHA FACTURA QUE IMPRIMIR CON ESTA DATA E ESTAS MARXES",
      "I A PAS CAP DE FACTURA A IMPRIMIR AMB AQUESTA DATA E AQUESTES LIMITS"}},
}}};
