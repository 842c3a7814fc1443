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
  SummaryInvoices,        // the summary after a run: + count; each series' range follows on its own line
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
  SeriesNotPrintable,     // + the setting, then SeriesText + the series
  SeriesText,             //   ": " before the series
  DateAfterToday,         // + the latest date allowed
  DateBeforeLast,         // + the series, then FirstDateAllowed + the date
  FirstDateAllowed,
  NumberOutOfRange,       // the form's number is not from 1 to 99999999
  NumberNotNext,          // + the series' number as printed, then + ContinuesWith + the next number
  ContinuesWith,
  FirstNumbers,           // + each series' first number as printed
  LastRecordBroken,       // + the number of the chain's last record
  LastRecordLater,        // + the number, then + its generation time
  RecipientsWithoutNif,   // + the invoices, then GoOn
  RecipientsLeftOut,      // + the owners (code and name) left out of the pass
  GoOn,
  AlreadyBilled,            // + the links billed for the period and their invoices, then IncludeBilled
  IncludeBilled,
  BilledTwice,              // the second question before they are billed again
  SettleJournalNotWritten,  // + the errno's number
  // The not-sending mode ([VeriFactu] Mode=conserva): the certificate
  // refused (KeyRefused + its cause, worded by issuing/words.h), a record
  // not signed, and the warning that stays while a check's anomaly stands.
  KeyRefused,
  RecordsNotSigned,       // + the library's text
  AnomalyStands,          // one line, below the parameter form
  RegisterCut,            // + the sequence of the register's last record the log names
  ReceiptsNotSettled,       // + the record manager's status
  SideFileDamaged,          // + the file (a journal of receipts) that cannot be read
  RunUnderway,              // another session's run counts the receipts
  BillingLockUnusable,      // + the lock file, then Status + the errno
  // While the print program works, and when it was stopped.
  Printing,                 // the printing window's text, then PagesDone + the count
  PagesDone,
  EscStops,                 // the printing window's key line
  PrintStopped,             // the run's message after Esc, then StoppedRegistered with the register on
  StoppedRegistered,
  ProgramSaid,              // ": " before the print program's last line, after a failure
  SendMailNow,              // the question after a registered run with e-mail on (S sends)
  MailNotSent,              // + why the sending could not start
  SendingMail,              // shown while the invoices go by e-mail
  RemittanceNow,            // the question after a registered run with mandates kept: + the collection date, then YesNo
  YesNo,                    // " (S/N)" ends a question
  RemittanceNotWritten,     // + the register's status
  RemittanceLeftOut,        // + how many of the run's invoices stay out (zepfact remittance lists them)
  RemittanceWritten,        // + the debits in it and ")", then its total
  RemittanceFile,           // + the file under the root
  DirectDebit,              // the payment box's way of paying of an owner with a mandate
  MandateLabel,             // before the mandate's reference in the payment box
  // The sending mode.
  SendingPending,           // + the records waiting to be sent (the form's line, the summary), then
  SendingRejected,          //   + the rejections standing, when there are any
  RegisterOff,            // F7 on the form without the register
  IbanInvalid,            // + the IBAN as Tarn.ini [Emissor] IBAN holds it
  DueDaysInvalid,         // + the text of Tarn.ini [Emissor] Venciment
  FiguresNotWritten,      // + the path of the invoices' figures file
  TextWithoutCode,        // a run printed as text: the tax code is not printed, its address is
  // The register's tail (register/anchor.h); each stops registered runs.
  RegisterMissing,          // + the register's path
  RegisterShorter,          // + the register's path, then RegisterEndsAt + the last sequence,
  RegisterEndsAt,           //   RegisterShouldReach + the anchored sequence, ")"
  RegisterShouldReach,
  RegisterDiffers,          // + the anchor's path
  AnchorDamaged,            // + the anchor's path
  RegisterUnreadable,       // + the register's path, then Status + the status
  // A registered run whose printing failed.
  RunRegisteredNotPrinted,  // + the count and range of its invoices, then PrintAgainFromArchive or ReprintLater
  PrintAgainFromArchive,
  ReprintLater,             // + the archive's name
};

inline constexpr MessageTable<RunMessage, 79> kRunTexts{{{
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
    {RunMessage::SeriesNotPrintable,
     {"LA S\xd4RIE NO ES POT IMPRIMIR SENCERA (M\xb7XIM 5 CAR\xb7" "CTERS ASCII) A Tarn.ini ",
      "LA SERIE NO SE PUEDE IMPRIMIR ENTERA (M\xb5XIMO 5 CARACTERES ASCII) EN Tarn.ini ",
      "A SERIE NON SE PODE IMPRIMIR ENTEIRA (M\xb5XIMO 5 CARACTERES ASCII) EN Tarn.ini ",
      "LA S\xd4RIA SE P\xe3T PAS IMPRIMIR ENTI\xd4RA (5 CARACT\xd4RS ASCII AL M\xb5XIMUM) DINS Tarn.ini "}},
    {RunMessage::SeriesText, {": ", ": ", ": ", ": "}},
    {RunMessage::DateAfterToday,
     {"LA DATA DE LES FACTURES \x90S POSTERIOR A AVUI; LA DARRERA DATA PERMESA \x90S ",
      "LA FECHA DE LAS FACTURAS ES POSTERIOR A HOY; LA \xe9LTIMA FECHA PERMITIDA ES ",
      "A DATA DAS FACTURAS \x90 POSTERIOR A HOXE; A DERRADEIRA DATA PERMITIDA \x90 ",
      "LA DATA DE LAS FACTURAS ES POSTERIORA A U\xd4I; LA DARRI\xd4RA DATA PERMESA ES "}},
    {RunMessage::DateBeforeLast,
     {"LA DATA \x90S ANTERIOR A LA DARRERA FACTURA DE LA S\xd4RIE ",
      "LA FECHA ES ANTERIOR A LA \xe9LTIMA FACTURA DE LA SERIE ",
      "A DATA \x90 ANTERIOR \xb5 DERRADEIRA FACTURA DA SERIE ",
      "LA DATA ES ANTERIORA A LA DARRI\xd4RA FACTURA DE LA S\xd4RIA "}},
    {RunMessage::FirstDateAllowed,
     {"; LA PRIMERA DATA PERMESA \x90S ", "; LA PRIMERA FECHA PERMITIDA ES ", "; A PRIMEIRA DATA PERMITIDA \x90 ",
      "; LA PRIMI\xd4RA DATA PERMESA ES "}},
    {RunMessage::NumberOutOfRange,
     {"EL N\xe9MERO DE FACTURA HA DE SER DE 1 A 99999999", "EL N\xe9MERO DE FACTURA DEBE SER DE 1 A 99999999",
      "O N\xe9MERO DE FACTURA DEBE SER DE 1 A 99999999", "LO NUM\xd4RO DE FACTURA DEU \xd4SSER DE 1 A 99999999"}},
    {RunMessage::NumberNotNext,
     {"LA FACTURA ", "LA FACTURA ", "A FACTURA ", "LA FACTURA "}},
    {RunMessage::ContinuesWith,
     {" NO SEGUEIX LA S\xd4RIE, QUE CONTINUA AMB EL N\xe9MERO ", " NO SIGUE LA SERIE, QUE CONTIN\xe9" "A CON EL N\xe9MERO ",
      " NON SEGUE A SERIE, QUE CONTIN\xe9" "A CO N\xe9MERO ", " SEG PAS LA S\xd4RIA, QUE CONTUNHA AMB LO NUM\xd4RO "}},
    {RunMessage::FirstNumbers,
     {"PRIMERS N\xe9MEROS: ", "PRIMEROS N\xe9MEROS: ", "PRIMEIROS N\xe9MEROS: ", "PRIMI\xd4RS NUM\xd4ROS: "}},
    {RunMessage::LastRecordBroken,
     {"EL DARRER REGISTRE DE LA CADENA NO QUADRA; NO S'EMET RES: ", "EL \xe9LTIMO REGISTRO DE LA CADENA NO CUADRA; NO SE EMITE NADA: ",
      "O DERRADEIRO REXISTRO DA CADEA NON CADRA; NON SE EMITE NADA: ",
      "LO DARRI\xd4R REGISTRE DE LA CADENA QUADRA PAS; S'EMET PAS RES: "}},
    {RunMessage::LastRecordLater,
     {"EL DARRER REGISTRE \x90S POSTERIOR A ARA (REVISEU EL RELLOTGE); NO S'EMET RES: ",
      "EL \xe9LTIMO REGISTRO ES POSTERIOR A AHORA (REVISE EL RELOJ); NO SE EMITE NADA: ",
      "O DERRADEIRO REXISTRO \x90 POSTERIOR A AGORA (REVISE O RELOXO); NON SE EMITE NADA: ",
      "LO DARRI\xd4R REGISTRE ES POSTERIOR A ARA (VERIFICATZ LO RELOTGE); S'EMET PAS RES: "}},
    {RunMessage::RecipientsWithoutNif,
     {"AQUESTES FACTURES NO PORTEN UN NIF DEL DESTINATARI QUE L'AG\xd4NCIA ACCEPTI: ",
      "ESTAS FACTURAS NO LLEVAN UN NIF DEL DESTINATARIO QUE LA AGENCIA ACEPTE: ",
      "ESTAS FACTURAS NON LEVAN UN NIF DO DESTINATARIO QUE A AXENCIA ACEPTE: ",
      "AQUESTAS FACTURAS P\xe3RTAN PAS UN NIF DEL DESTINATARI QUE L'AG\xd4NCIA ACCEPTE: "}},
    {RunMessage::RecipientsLeftOut,
     {"AQUESTS PROPIETARIS NO TENEN UN NIF NI UN NIF-IVA QUE L'AG\xd4NCIA PUGUI REGISTRAR; NO ES FACTUREN: ",
      "ESTOS PROPIETARIOS NO TIENEN UN NIF NI UN NIF-IVA QUE LA AGENCIA PUEDA REGISTRAR; NO SE FACTURAN: ",
      "ESTES PROPIETARIOS NON TE\xa5" "EN UN NIF NIN UN NIF-IVE QUE A AXENCIA POIDA REXISTRAR; NON SE FACTURAN: ",
      "AQUESTES PROPRIETARIS AN PAS NI NIF NI NIF-TVA QUE L'AG\xd4NCIA PUSCA REGISTRAR; SON PAS FACTURATS: "}},
    {RunMessage::GoOn,
     {". CONFIRMEU PER EMETRE-LES IGUALMENT.", ". CONFIRME PARA EMITIRLAS IGUALMENTE.", ". CONFIRME PARA EMITILAS IGUALMENTE.",
      ". CONFIRMATZ PER LAS EMETRE PASMENS."}},
    {RunMessage::AlreadyBilled,
     {"AQUESTES FINQUES JA ES VAN FACTURAR PER AL PER\xd6ODE D'AQUEST MES: ",
      "ESTAS FINCAS YA SE FACTURARON PARA EL PER\xd6ODO DE ESTE MES: ",
      "ESTAS FINCAS XA SE FACTURARON PARA O PER\xd6ODO DESTE MES: ",
      "AQUESTAS FINCAS FOGU\xd4RON JA FACTURADAS PER LO PERI\xe0" "DE D'AQUESTE MES: "}},
    {RunMessage::IncludeBilled,
     {". ES DEIXEN FORA; LES VOLEU INCLOURE?", ". SE DEJAN FUERA; \xa8QUIERE INCLUIRLAS?",
      ". D\x90IXANSE F\xe0RA; QUERE INCLU\xd6LAS?", ". SE LAISSAN DEF\xe3RA; LAS VOLETZ INCLURE?"}},
    {RunMessage::BilledTwice,
     {"AQUESTES FINQUES ES FACTURARAN DUES VEGADES PER AL MATEIX PER\xd6ODE: N'ESTEU SEGUR?",
      "ESTAS FINCAS SE FACTURAR\xb5N DOS VECES PARA EL MISMO PER\xd6ODO: \xa8" "EST\xb5 SEGURO?",
      "ESTAS FINCAS FACTURARANSE D\xe9" "AS VECES PARA O MESMO PER\xd6ODO: EST\xb5 SEGURO?",
      "AQUESTAS FINCAS SER\xb5N FACTURADAS DOS C\xe3PS PER LO MEI\xa5 PERI\xe0" "DE: NE S\xd4TZ SEGUR?"}},
    {RunMessage::SettleJournalNotWritten,
     {"NO ES POT ESCRIURE EL DIARI DE LIQUIDACI\xe0 A DADES; NO S'IMPRIMEIX RES, ERROR ",
      "NO SE PUEDE ESCRIBIR EL DIARIO DE LIQUIDACI\xe0N EN DADES; NO SE IMPRIME NADA, ERROR ",
      "NON SE PODE ESCRIBIR O DIARIO DE LIQUIDACI\xe0N EN DADES; NON SE IMPRIME NADA, ERRO ",
      "SE P\xe3T PAS ESCRIURE LO JORNAL DE LIQUIDACION DINS DADES; S'IMPRIMIS PAS RES, ERROR "}},
    {RunMessage::ReceiptsNotSettled,
     {"ELS REBUTS FACTURATS ENCARA NO S'HAN MARCAT COM A LIQUIDATS; ES FAR\xb7 ABANS DE LA PROPERA EMISSI\xe0, ESTAT ",
      "LOS RECIBOS FACTURADOS A\xe9N NO SE HAN MARCADO COMO LIQUIDADOS; SE HAR\xb5 ANTES DE LA PR\xe0XIMA EMISI\xe0N, ESTADO ",
      "OS RECIBOS FACTURADOS A\xe9NDA NON SE MARCARON COMO LIQUIDADOS; FAR\xb5SE ANTES DA PR\xe0XIMA EMISI\xe0N, ESTADO ",
      "LOS RECEPISSES FACTURATS SON PAS ENC\xe3RA MARCATS COMA LIQUIDATS; SE FAR\xb5 ABANS LA PROPDANA EMISSION, ESTAT "}},
    {RunMessage::RunUnderway,
     {"UNA ALTRA SESSI\xe0 EST\xb7 FACTURANT AMB AQUESTES DADES; NO S'EMET RES. TORNEU-HO A PROVAR QUAN ACABI",
      "OTRA SESI\xe0N EST\xb5 FACTURANDO CON ESTOS DATOS; NO SE EMITE NADA. VUELVA A INTENTARLO CUANDO TERMINE",
      "OUTRA SESI\xe0N EST\xb5 FACTURANDO CON ESTES DATOS; NON SE EMITE NADA. T\x90NTEO DE NOVO CANDO REMATE",
      "UNA AUTRA SESSION FACTURA AMB AQUESTAS DADAS; S'EMET PAS RES. TORNATZ ENSAJAR QUAND AUR\xb5 ACABAT"}},
    {RunMessage::BillingLockUnusable,
     {"NO ES POT BLOCAR LA FACTURACI\xe0; NO S'EMET RES: ", "NO SE PUEDE BLOQUEAR LA FACTURACI\xe0N; NO SE EMITE NADA: ",
      "NON SE PODE BLOQUEAR A FACTURACI\xe0N; NON SE EMITE NADA: ",
      "SE P\xe3T PAS BLOCAR LA FACTURACION; S'EMET PAS RES: "}},
    {RunMessage::SideFileDamaged,
     {"UN FITXER AUXILIAR DEL REGISTRE NO ES POT LLEGIR O HA ESTAT ALTERAT; NO S'EMET RES FINS QUE ES REVISI: ",
      "UN FICHERO AUXILIAR DEL REGISTRO NO SE PUEDE LEER O HA SIDO ALTERADO; NO SE EMITE NADA HASTA QUE SE REVISE: ",
      "UN FICHEIRO AUXILIAR DO REXISTRO NON SE PODE LER OU FOI ALTERADO; NON SE EMITE NADA ATA QUE SE REVISE: ",
      "UN FICHI\xd4R AUXILIARI DEL REGISTRE SE P\xe3T PAS LEGIR O ES ESTAT ALTERAT; S'EMET PAS RES FINS QUE SI\xb5 REVISAT: "}},
    {RunMessage::Printing,
     {"S'ESTAN IMPRIMINT LES FACTURES.", "SE EST\xb5N IMPRIMIENDO LAS FACTURAS.", "EST\xb5NSE IMPRIMINDO AS FACTURAS.",
      "LAS FACTURAS S'IMPRIMISSON."}},
    {RunMessage::PagesDone,
     {" P\xb7GINES FETES: ", " P\xb5GINAS HECHAS: ", " P\xb5XINAS FEITAS: ", " PAGINAS FACHAS: "}},
    {RunMessage::EscStops, {"Esc Atura", "Esc Detener", "Esc Deter", "Esc Arrestar"}},
    {RunMessage::PrintStopped,
     {"IMPRESSI\xe0 ATURADA AMB ESC: NO S'HA ESCRIT CAP FITXER NOU; LA SORTIDA ANTERIOR ES CONSERVA.",
      "IMPRESI\xe0N DETENIDA CON ESC: NO SE HA ESCRITO NING\xe9N FICHERO NUEVO; LA SALIDA ANTERIOR SE CONSERVA.",
      "IMPRESI\xe0N DETIDA CON ESC: NON SE ESCRIBIU NING\xe9N FICHEIRO NOVO; A SA\xd6" "DA ANTERIOR CONS\x90RVASE.",
      "IMPRESSION ARRESTADA AMB ESC: CAP DE FICHI\xd4R NOU ES PAS ESTAT ESCRICH; LA SORTIDA D'ABANS ES GARDADA."}},
    {RunMessage::StoppedRegistered,
     {" LES FACTURES JA S\xe0N AL REGISTRE: ES PODEN TORNAR A IMPRIMIR.",
      " LAS FACTURAS YA EST\xb5N EN EL REGISTRO: SE PUEDEN VOLVER A IMPRIMIR.",
      " AS FACTURAS XA EST\xb5N NO REXISTRO: P\xe0" "DENSE VOLVER IMPRIMIR.",
      " LAS FACTURAS SON JA AL REGISTRE: SE P\xe3" "DON TORNAR IMPRIMIR."}},
    {RunMessage::ProgramSaid, {": ", ": ", ": ", ": "}},
    {RunMessage::SendMailNow,
     {"VOLEU ENVIAR ARA LES FACTURES PER CORREU ELECTR\xe3NIC? (S/N)",
      "\xa8QUIERE ENVIAR AHORA LAS FACTURAS POR CORREO ELECTR\xe0NICO? (S/N)",
      "QUERE ENVIAR AGORA AS FACTURAS POR CORREO ELECTR\xe0NICO? (S/N)",
      "VOLETZ MANDAR ARA LAS FACTURAS PER CORR\xd4R ELECTRONIC? (\xe3/N)"}},
    {RunMessage::MailNotSent,
     {"NO S'HA ENVIAT CAP FACTURA PER CORREU: ", "NO SE HA ENVIADO NINGUNA FACTURA POR CORREO: ",
      "NON SE ENVIOU NINGUNHA FACTURA POR CORREO: ", "S'ES PAS MANDADA CAP DE FACTURA PER CORR\xd4R: "}},
    {RunMessage::RemittanceNow,
     {"VOLEU ESCRIURE ARA LA REMESA DE DOMICILIACI\xe0 D'AQUESTES FACTURES, AMB COBRAMENT EL ",
      "\xa8QUIERE ESCRIBIR AHORA LA REMESA DE DOMICILIACI\xe0N DE ESTAS FACTURAS, CON COBRO EL ",
      "QUERE ESCRIBIR AGORA A REMESA DE DOMICILIACI\xe0N DESTAS FACTURAS, CON COBRO O ",
      "VOLETZ ESCRIURE ARA LA REMESA DE DOMICILIACION D'AQUESTAS FACTURAS, AMB ENCAISSAMENT LO "}},
    {RunMessage::YesNo, {"? (S/N)", "? (S/N)", "? (S/N)", "? (\xe3/N)"}},
    {RunMessage::RemittanceNotWritten,
     {"NO S'HA ESCRIT LA REMESA: NO ES POT LLEGIR EL REGISTRE, ESTAT ",
      "NO SE HA ESCRITO LA REMESA: NO SE PUEDE LEER EL REGISTRO, ESTADO ",
      "NON SE ESCRIBIU A REMESA: NON SE PODE LER O REXISTRO, ESTADO ",
      "LA REMESA ES PAS ESCRICHA: SE P\xe3T PAS LEGIR LO REGISTRE, ESTAT "}},
    {RunMessage::RemittanceLeftOut,
     {"FACTURES FORA DE LA REMESA (zepfact remittance): ", "FACTURAS FUERA DE LA REMESA (zepfact remittance): ",
      "FACTURAS F\xe0RA DA REMESA (zepfact remittance): ", "FACTURAS F\xe3RA DE LA REMESA (zepfact remittance): "}},
    {RunMessage::RemittanceWritten,
     {"REMESA DE DOMICILIACI\xe0 (REBUTS: ", "REMESA DE DOMICILIACI\xe0N (RECIBOS: ",
      "REMESA DE DOMICILIACI\xe0N (RECIBOS: ", "REMESA DE DOMICILIACION (REBUTS: "}},
    {RunMessage::DirectDebit,
     {"Domiciliaci\xa2 banc\x85ria", "Domiciliaci\xa2n bancaria", "Domiciliaci\xa2n bancaria", "Domiciliacion banc\x85ria"}},
    {RunMessage::MandateLabel, {"Mandat", "Mandato", "Mandato", "Mandat"}},
    {RunMessage::RemittanceFile,
     {"FITXER DE LA REMESA: ", "FICHERO DE LA REMESA: ", "FICHEIRO DA REMESA: ", "FICHI\xd4R DE LA REMESA: "}},
    {RunMessage::SendingMail,
     {"S'ESTAN ENVIANT LES FACTURES PER CORREU...", "ENVIANDO LAS FACTURAS POR CORREO...",
      "ENVIANDO AS FACTURAS POR CORREO...", "SE MANDAN LAS FACTURAS PER CORR\xd4R..."}},
    {RunMessage::SendingPending,
     {"REGISTRES PER ENVIAR A L'AG\xd4NCIA TRIBUT\xb7RIA: ",
      "REGISTROS POR ENVIAR A LA AGENCIA TRIBUTARIA: ",
      "REXISTROS POR ENVIAR \xb5 AXENCIA TRIBUTARIA: ",
      "REGISTRES DE MANDAR A L'AG\x90NCIA TRIBUT\xb7RIA: "}},
    {RunMessage::SendingRejected,
     {", REBUTJATS: ",
      ", RECHAZADOS: ",
      ", REXEITADOS: ",
      ", REFUSATS: "}},
    {RunMessage::RegisterOff,
     {"EL REGISTRE DE FACTURES NO EST\xb7 ACTIU (Tarn.ini [Registre] Actiu=S)",
      "EL REGISTRO DE FACTURAS NO EST\xb5 ACTIVO (Tarn.ini [Registre] Actiu=S)",
      "O REXISTRO DE FACTURAS NON EST\xb5 ACTIVO (Tarn.ini [Registre] Actiu=S)",
      "LO REGISTRE DE FACTURAS ES PAS ACTIU (Tarn.ini [Registre] Actiu=S)"}},
    {RunMessage::IbanInvalid,
     {"L'IBAN DE L'EMISSOR NO \x90S V\xb7LID; NO S'IMPRIMEIX RES (Tarn.ini [Emissor] IBAN): ",
      "EL IBAN DEL EMISOR NO ES V\xb5LIDO; NO SE IMPRIME NADA (Tarn.ini [Emissor] IBAN): ",
      "O IBAN DO EMISOR NON \x90 V\xb5LIDO; NON SE IMPRIME NADA (Tarn.ini [Emissor] IBAN): ",
      "L'IBAN DE L'EMISSOR ES PAS VALID; S'IMPRIMIS PAS RES (Tarn.ini [Emissor] IBAN): "}},
    {RunMessage::DueDaysInvalid,
     {"EL VENCIMENT HA DE SER UN NOMBRE DE DIES (0 A 999) (Tarn.ini [Emissor] Venciment): ",
      "EL VENCIMIENTO DEBE SER UN N\xe9MERO DE D\xd6" "AS (0 A 999) (Tarn.ini [Emissor] Venciment): ",
      "O VENCEMENTO DEBE SER UN N\xe9MERO DE D\xd6" "AS (0 A 999) (Tarn.ini [Emissor] Venciment): ",
      "L'ESCASEN\x80" "A DEU \xd4SSER UN NOMBRE DE JORNS (0 A 999) (Tarn.ini [Emissor] Venciment): "}},
    {RunMessage::FiguresNotWritten,
     {"NO ES POT ESCRIURE EL FITXER DE XIFRES DE LES FACTURES; NO S'IMPRIMEIX RES: ",
      "NO SE PUEDE ESCRIBIR EL FICHERO DE CIFRAS DE LAS FACTURAS; NO SE IMPRIME NADA: ",
      "NON SE PODE ESCRIBIR O FICHEIRO DE CIFRAS DAS FACTURAS; NON SE IMPRIME NADA: ",
      "SE P\xe3T PAS ESCRIURE LO FICHI\xd4R DE CHIFRAS DE LAS FACTURAS; S'IMPRIMIS PAS RES: "}},
    {RunMessage::TextWithoutCode,
     {"LES FACTURES EN TEXT NO PORTEN EL CODI QR IMPR\xd4S, NOM\x90S LA SEVA ADRE\x80" "A",
      "LAS FACTURAS EN TEXTO NO LLEVAN EL C\xe0" "DIGO QR IMPRESO, S\xe0LO SU DIRECCI\xe0N",
      "AS FACTURAS EN TEXTO NON LEVAN O C\xe0" "DIGO QR IMPRESO, S\xe0 O SEU ENDEREZO",
      "LAS FACTURAS EN T\xd4XTE P\xe3RTAN PAS LO C\xe3" "DI QR IMPRIMIT, SONQUE SON ADRE\x80" "A"}},
    {RunMessage::RegisterMissing,
     {"FALTA EL REGISTRE DE FACTURES, I N'HI HAVIA UN (HI HA EMISSIONS A ARXIU); NO S'EMET RES: ",
      "FALTA EL REGISTRO DE FACTURAS, Y HAB\xd6" "A UNO (HAY EMISIONES EN ARXIU); NO SE EMITE NADA: ",
      "FALTA O REXISTRO DE FACTURAS, E HAB\xd6" "A UN (HAI EMISI\xe0NS EN ARXIU); NON SE EMITE NADA: ",
      "MANCA LO REGISTRE DE FACTURAS, E I AVI\xd6" "A UN (I A D'EMISSIONS DINS ARXIU); S'EMET PAS RES: "}},
    {RunMessage::RegisterShorter,
     {"AL REGISTRE DE FACTURES LI FALTEN ELS DARRERS REGISTRES; NO S'EMET RES: ",
      "AL REGISTRO DE FACTURAS LE FALTAN LOS \xe9LTIMOS REGISTROS; NO SE EMITE NADA: ",
      "AO REXISTRO DE FACTURAS FALTANLLE OS \xe9LTIMOS REXISTROS; NON SE EMITE NADA: ",
      "AU REGISTRE DE FACTURAS LI MANCAN LOS DARR\xd4RS REGISTRES; S'EMET PAS RES: "}},
    {RunMessage::RegisterEndsAt, {" (ACABA AL ", " (TERMINA EN EL ", " (REMATA NO ", " (S'ACABA AU "}},
    {RunMessage::RegisterShouldReach,
     {", HA D'ARRIBAR AL ", ", DEBE LLEGAR AL ", ", DEBE CHEGAR AO ", ", DEU ARRIBAR AU "}},
    {RunMessage::RegisterDiffers,
     {"EL DARRER REGISTRE DE FACTURES NO \x90S EL QUE VA QUEDAR ANOTAT; NO S'EMET RES: ",
      "EL \xe9LTIMO REGISTRO DE FACTURAS NO ES EL QUE QUED\xe0 ANOTADO; NO SE EMITE NADA: ",
      "O \xe9LTIMO REXISTRO DE FACTURAS NON \x90 O QUE QUEDOU ANOTADO; NON SE EMITE NADA: ",
      "LO DARR\xd4R REGISTRE DE FACTURAS ES PAS LO QUE DEMOR\xe9T NOTAT; S'EMET PAS RES: "}},
    {RunMessage::AnchorDamaged,
     {"EST\xb7 MALM\xd4S EL FITXER QUE ANOTA EL FINAL DEL REGISTRE; NO S'EMET RES: ",
      "EST\xb5 DA\xa5" "ADO EL FICHERO QUE ANOTA EL FINAL DEL REGISTRO; NO SE EMITE NADA: ",
      "EST\xb5 DANADO O FICHEIRO QUE ANOTA O FINAL DO REXISTRO; NON SE EMITE NADA: ",
      "ES DAMATJAT LO FICHI\xd4R QUE NOTA LA FIN DEL REGISTRE; S'EMET PAS RES: "}},
    {RunMessage::RegisterUnreadable,
     {"NO ES POT LLEGIR EL REGISTRE DE FACTURES; NO S'EMET RES: ",
      "NO SE PUEDE LEER EL REGISTRO DE FACTURAS; NO SE EMITE NADA: ",
      "NON SE PODE LER O REXISTRO DE FACTURAS; NON SE EMITE NADA: ",
      "SE P\xe3T PAS LEGIR LO REGISTRE DE FACTURAS; S'EMET PAS RES: "}},
    {RunMessage::RunRegisteredNotPrinted,
     {"NO S'HA IMPR\xd4S, PER\xe3 LES FACTURES JA S\xe0N AL REGISTRE: ",
      "NO SE HA IMPRESO, PERO LAS FACTURAS YA EST\xb5N EN EL REGISTRO: ",
      "NON SE IMPRIMIU, PERO AS FACTURAS XA EST\xb5N NO REXISTRO: ",
      "ES PAS ESTAT IMPRIMIT, MAS LAS FACTURAS SON JA AU REGISTRE: "}},
    {RunMessage::PrintAgainFromArchive,
     {". CONFIRMEU PER IMPRIMIR DE NOU TOTA L'EMISSI\xe0 DES DE L'ARXIU.",
      ". CONFIRME PARA IMPRIMIR DE NUEVO TODA LA EMISI\xe0N DESDE EL ARCHIVO.",
      ". CONFIRME PARA IMPRIMIR DE NOVO TODA A EMISI\xe0N DESDE O ARQUIVO.",
      ". CONFIRMATZ PER TORNAR IMPRIMIR TOTA L'EMISSION DEMPUI L'ARCHIU."}},
    {RunMessage::ReprintLater,
     {". PER IMPRIMIR-LES: zepfact reprint --run ", ". PARA IMPRIMIRLAS: zepfact reprint --run ",
      ". PARA IMPRIMILAS: zepfact reprint --run ", ". PER LAS IMPRIMIR: zepfact reprint --run "}},
    {RunMessage::KeyRefused,
     {"NO ES POT SIGNAR AMB EL CERTIFICAT DE [VeriFactu]; NO S'EMET RES: ",
      "NO SE PUEDE FIRMAR CON EL CERTIFICADO DE [VeriFactu]; NO SE EMITE NADA: ",
      "NON SE PODE ASINAR CO CERTIFICADO DE [VeriFactu]; NON SE EMITE NADA: ",
      "SE P\xe3T PAS SIGNAR AMB LO CERTIFICAT DE [VeriFactu]; S'EMET PAS RES: "}},
    {RunMessage::RecordsNotSigned,
     {"ELS REGISTRES NO S'HAN POGUT SIGNAR; NO S'EMET RES: ", "LOS REGISTROS NO SE HAN PODIDO FIRMAR; NO SE EMITE NADA: ",
      "OS REXISTROS NON SE PUIDERON ASINAR; NON SE EMITE NADA: ",
      "LOS REGISTRES SE S\xe3N PAS POGUTS SIGNAR; S'EMET PAS RES: "}},
    {RunMessage::AnomalyStands,
     {"ATENCI\xe0: LA DARRERA COMPROVACI\xe0 HA TROBAT ANOMALIES (zepfact verify)",
      "ATENCI\xe0N: LA \xe9" "LTIMA COMPROBACI\xe0N ENCONTR\xe0 ANOMAL\xd6" "AS (zepfact verify)",
      "ATENCI\xe0N: A DERRADEIRA COMPROBACI\xe0N ATOPOU ANOMAL\xd6" "AS (zepfact verify)",
      "ATENCION: LA DARRI\xd4RA VERIFICACION A TROBAT D'ANOMALIAS (zepfact verify)"}},
    {RunMessage::RegisterCut,
     {"EL REGISTRE \x90S M\x90S CURT O ANTIC DEL QUE DIU EL REGISTRE D'ESDEVENIMENTS (zepfact verify; "
      "si s'ha restaurat una c\x95pia, zepfact events restored); NO S'EMET RES. DARRER REGISTRE ANOTAT: ",
      "EL REGISTRO ES M\xb5S CORTO O ANTIGUO DE LO QUE DICE EL REGISTRO DE EVENTOS (zepfact verify; "
      "si se ha restaurado una copia, zepfact events restored); NO SE EMITE NADA. \xe9" "LTIMO REGISTRO ANOTADO: ",
      "O REXISTRO \x90 M\xb5IS CURTO OU ANTIGO DO QUE DI O REXISTRO DE EVENTOS (zepfact verify; "
      "se se restaurou unha copia, zepfact events restored); NON SE EMITE NADA. DERRADEIRO REXISTRO ANOTADO: ",
      "LO REGISTRE ES MAI CORT O ANCIAN QUE \x87\x95 QUE DITZ LO REGISTRE D'EVENIMENTS (zepfact verify; "
      "se s'es restaurada una c\x95pia, zepfact events restored); S'EMET PAS RES. DARRI\xd4R REGISTRE NOTAT: "}},
}}};
