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
  DataFileUnreadable,     // + the data file's name, then Status + the status
  Status,                 //   ", status " before a status number
  SummaryInvoices,        // the summary after a run: + count, then first and last numbers
  SummaryBases,
  SummaryVat,
  SummaryWithholding,
  SummaryTotal,
  SummaryOutput,          // + where the output went
  NumberIssued,           // + the first number already in the register, then
  NextFree,               //   + the next free number
  RegisterNotWritten,     // the register could not be opened or written (+ Status)
  RegisterDamaged,        // + the number of the first record whose chain is broken
  SpoolNotArchived,       // + the path of the copy that could not be made
};

inline constexpr MessageTable<RunMessage, 19> kRunTexts{{{
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
    {RunMessage::DataFileUnreadable,
     {"NO ES POT LLEGIR EL FITXER DE DADES ", "NO SE PUEDE LEER EL FICHERO DE DATOS ",
      "NON SE PODE LER O FICHEIRO DE DATOS ", "SE P\xe3T PAS LEGIR LO FICHI\xd4R DE DONADAS "}},
    {RunMessage::Status, {", ESTAT ", ", ESTADO ", ", ESTADO ", ", ESTAT "}},
    {RunMessage::SummaryInvoices, {"FACTURES EMESES: ", "FACTURAS EMITIDAS: ", "FACTURAS EMITIDAS: ",
                                   "FACTURAS EMESAS: "}},
    {RunMessage::SummaryBases, {"BASES IMPOSABLES", "BASES IMPONIBLES", "BASES IMPO\xa5" "IBLES", "BASAS IMPOSABLAS"}},
    {RunMessage::SummaryVat, {"IVA", "IVA", "IVE", "TVA"}},
    {RunMessage::SummaryWithholding, {"RETENCIONS", "RETENCIONES", "RETENCI\xe0NS", "RETENGUDAS"}},
    {RunMessage::SummaryTotal, {"TOTAL", "TOTAL", "TOTAL", "TOTAL"}},
    {RunMessage::SummaryOutput, {"SORTIDA: ", "SALIDA: ", "SA\xd6" "DA: ", "SORTIDA: "}},
    {RunMessage::NumberIssued,
     {"JA S'HA EM\xd4S LA FACTURA ", "YA SE HA EMITIDO LA FACTURA ", "XA SE EMITIU A FACTURA ",
      "LA FACTURA ES JA EMESA: "}},
    {RunMessage::NextFree,
     {". EL PRIMER N\xe9MERO LLIURE \x90S EL ", ". EL PRIMER N\xe9MERO LIBRE ES EL ",
      ". O PRIMEIRO N\xe9MERO LIBRE \x90 O ", ". LO PRIM\xd4R NUM\xd4RO LIURE ES LO "}},
    {RunMessage::RegisterNotWritten,
     {"NO ES POT ESCRIURE EL REGISTRE DE FACTURES; NO S'IMPRIMEIX RES",
      "NO SE PUEDE ESCRIBIR EL REGISTRO DE FACTURAS; NO SE IMPRIME NADA",
      "NON SE PODE ESCRIBIR O REXISTRO DE FACTURAS; NON SE IMPRIME NADA",
      "SE P\xe3T PAS ESCRIURE LO REGISTRE DE FACTURAS; S'IMPRIMIS PAS RES"}},
    {RunMessage::RegisterDamaged,
     {"EL REGISTRE DE FACTURES EST\xb7 MALM\xd4S A PARTIR DEL REGISTRE ",
      "EL REGISTRO DE FACTURAS EST\xb5 DA\xa5" "ADO A PARTIR DEL REGISTRO ",
      "O REXISTRO DE FACTURAS EST\xb5 DANADO A PARTIR DO REXISTRO ",
      "LO REGISTRE DE FACTURAS ES DAMATJAT A PARTIR DEL REGISTRE "}},
    {RunMessage::SpoolNotArchived,
     {"NO ES POT ARXIVAR EL FITXER D'IMPRESSI\xe0; NO S'IMPRIMEIX RES: ",
      "NO SE PUEDE ARCHIVAR EL FICHERO DE IMPRESI\xe0N; NO SE IMPRIME NADA: ",
      "NON SE PODE ARQUIVAR O FICHEIRO DE IMPRESI\xe0N; NON SE IMPRIME NADA: ",
      "SE P\xe3T PAS ARCHIVAR LO FICHI\xd4R D'IMPRESSION; S'IMPRIMIS PAS RES: "}},
}}};
