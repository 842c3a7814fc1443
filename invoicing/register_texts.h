// The register screen's texts in the four languages (code page 850): the
// list, the detail, the chain's checks and the questions. The problems of
// its actions are worded by the issuing layer (issuing/words.h).
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

struct RegisterEntry;

namespace register_screen {

enum class Say {
  Title, ColumnNumber, ColumnDate, ColumnCodes, ColumnName, ColumnTotal, ColumnState,
  ListKeys, DetailKeys, YesNoKeys, Help, Empty, CannotRead,
  Issued, Cancelled, CorrectedShort, CorrectedBy,
  LabelType, LabelOwner, LabelRecipient, LabelIssuer, LabelBase, LabelVat, LabelWithholding, LabelTotal,
  LabelGenerated, LabelFingerprint, LabelPrevious, LabelArchive, LabelPage, LabelCorrects,
  NeverDelivered, CannotUndo, CancelledDone, ReceiptsBack,
  BadCorrection, CorrectiveDone, Printed,
  ChainKeys, CancellationType, LabelSignature, CheckOk, CheckFault,
  FingerprintOk, FingerprintBad, SealBad, LinkFirst, LinkFirstBad, LinkOk, LinkBad, LinkGap,
  TimeOk, TimeBefore, TimeFuture,
  SignatureOk, SignatureNotRequired, SignatureMissing, SignatureBroken, SignatureUnreadable, SignatureProperties,
  SignatureNotIssuer, SignatureValidity, SignatureOtherRecord, SignaturesUnreadable, SignatureUntrusted,
  Corrects, CorrectionHelp, PresentBase, CorrectionTypeBad, CorrectionFormBad, FeeField, ExpensesField, NotAmount,
  ConfirmCorrective, ByDifferences, BySubstitution, FeeWord, ExpensesWord,
};

constexpr MessageTable<Say, 78> kTexts{{{
    {Say::Title, {"REGISTRE DE FACTURES", "REGISTRO DE FACTURAS", "REXISTRO DE FACTURAS", "REGISTRE DE FACTURAS"}},
    {Say::ColumnNumber, {"Factura", "Factura", "Factura", "Factura"}},
    {Say::ColumnDate, {"Data", "Fecha", "Data", "Data"}},
    {Say::ColumnCodes, {"Prop/Fin", "Prop/Fin", "Prop/Fin", "Prop/Fin"}},
    {Say::ColumnName, {"Destinatari", "Destinatario", "Destinatario", "Destinatari"}},
    {Say::ColumnTotal, {"Total", "Total", "Total", "Total"}},
    {Say::ColumnState, {"Estat", "Estado", "Estado", "Estat"}},
    {Say::ListKeys,
     {"N\xa3m Factura  *N\xa3m Propietari  Intro Detall  F1 Ajuda  Esc Sortir",
      "N\xa3m Factura  *N\xa3m Propietario  Intro Detalle  F1 Ayuda  Esc Salir",
      "N\xa3m Factura  *N\xa3m Propietario  Intro Detalle  F1 Axuda  Esc Sa\xa1r",
      "Num Factura  *Num Proprietari  Intro Detalh  F1 Ajuda  Esc Sortir"}},
    {Say::DetailKeys,
     {"C C\x95pia  R Rectificar  A Anul\xfalar  RePag/AvPag Cadena  Esc Tornar",
      "C Copia  R Rectificar  A Anular  RePag/AvPag Cadena  Esc Volver",
      "C Copia  R Rectificar  A Anular  RePax/AvPax Cadea  Esc Volver",
      "C C\x95pia  R Rectificar  A Anullar  RePag/AvPag Cadena  Esc Tornar"}},
    {Say::ChainKeys,
     {"RePag/AvPag Cadena  Esc Tornar", "RePag/AvPag Cadena  Esc Volver", "RePax/AvPax Cadea  Esc Volver",
      "RePag/AvPag Cadena  Esc Tornar"}},
    {Say::YesNoKeys, {"S S\xa1  N No", "S S\xa1  N No", "S Si  N Non", "S \xe3" "c  N Non"}},
    {Say::Help,
     {"REGISTRE DE FACTURES: les factures emeses, de la m\x82s nova a la m\x82s antiga, amb el seu estat. Les fletxes, "
      "RePag, AvPag, Inici i Fi la recorren; escriviu un n\xa3mero de factura (A/00000007 o 7) per anar-hi, o * i un codi "
      "de propietari (*5) per anar a la seva factura m\x82s nova. Intro obre el detall de la factura: C n'imprimeix una c\x95pia marcada DUPLICAT, R en fa una "
      "factura rectificativa i A l'anul\xfala si es va emetre per error i no s'ha lliurat mai. Al detall, RePag i "
      "AvPag passen al registre anterior i al seg\x81" "ent de la cadena (anul\xfalacions incloses), Inici i Fi al primer "
      "i a l'\xa3ltim; cada registre diu si la seva empremta \x82s la de les seves dades, si enlla\x87" "a amb la de "
      "l'anterior, si l'hora \x82s en ordre i, amb Mode=conserva, si la firma \x82s v\x85lida. Esc torna al formulari.",
      "REGISTRO DE FACTURAS: las facturas emitidas, de la m\xa0s nueva a la m\xa0s antigua, con su estado. Las flechas, "
      "RePag, AvPag, Inicio y Fin la recorren; escriba un n\xa3mero de factura (A/00000007 o 7) para ir a ella, o * y un "
      "c\xa2" "digo de propietario (*5) para ir a su factura m\xa0s nueva. Intro abre el detalle de la factura: C imprime una copia marcada DUPLICADO, R hace "
      "una factura rectificativa y A la anula si se emiti\xa2 por error y nunca se entreg\xa2. En el detalle, RePag y "
      "AvPag pasan al registro anterior y al siguiente de la cadena (anulaciones incluidas), Inicio y Fin al primero y "
      "al \xa3ltimo; cada registro dice si su huella es la de sus datos, si enlaza con la del anterior, si la hora "
      "est\xa0 en orden y, con Mode=conserva, si la firma es v\xa0lida. Esc vuelve al formulario.",
      "REXISTRO DE FACTURAS: as facturas emitidas, da m\xa0is nova \xa0 m\xa0is antiga, co seu estado. As frechas, "
      "RePax, AvPax, Inicio e Fin perc\xa3rrena; escriba un n\xa3mero de factura (A/00000007 ou 7) para ir a ela, ou * e un "
      "c\xa2" "digo de propietario (*5) para ir \xa0 s\xa3" "a factura m\xa0is nova. Intro abre o detalle da factura: C imprime unha copia marcada DUPLICADO, R fai unha "
      "factura rectificativa e A an\xa3lraa se se emitiu por erro e nunca se entregou. No detalle, RePax e AvPax pasan "
      "ao rexistro anterior e ao seguinte da cadea (anulaci\xa2ns inclu\xa1" "das), Inicio e Fin ao primeiro e ao \xa3ltimo; "
      "cada rexistro di se a s\xa3" "a pegada \x82 a dos seus datos, se enlaza coa do anterior, se a hora est\xa0 en "
      "orde e, con Mode=conserva, se a sinatura \x82 v\xa0lida. Esc volve ao formulario.",
      "REGISTRE DE FACTURAS: las facturas emesas, de la mai nov\x85 a la mai vi\x8alha, amb lor estat. Las sagetas, "
      "RePag, AvPag, Inici e Fin la percorron; escriv\x8atz un num\x8aro de factura (A/00000007 o 7) per i anar, o * e un "
      "c\x95" "di de proprietari (*5) per anar a sa factura mai nov\x85. Intro dobr\xa1s lo detalh de la factura: C n'imprim\xa1s una c\x95pia marcada DUPLICATA, "
      "R ne fa una factura rectificativa e A l'anulla se fogu\x8at emesa per error e es pas jamai estada liurada. Al "
      "detalh, RePag e AvPag passan al registre precedent e al seguent de la cadena (anullacions compresas), Inici e "
      "Fin al primi\x8ar e al darri\x8ar; cada registre ditz se son emprenta es la de sas donadas, se s'estaca a la del "
      "precedent, se l'ora es en \x95rdre e, amb Mode=conserva, se la signatura es valida. Esc torna al formulari."}},
    {Say::Empty,
     {"NO HI HA CAP FACTURA AL REGISTRE", "NO HAY NINGUNA FACTURA EN EL REGISTRO", "NON HAI NINGUNHA FACTURA NO REXISTRO",
      "I A PAS CAP DE FACTURA AL REGISTRE"}},
    {Say::CannotRead,
     {"NO ES POT LLEGIR EL REGISTRE DE FACTURES, ESTAT ", "NO SE PUEDE LEER EL REGISTRO DE FACTURAS, ESTADO ",
      "NON SE PODE LER O REXISTRO DE FACTURAS, ESTADO ", "SE P\xe3T PAS LEGIR LO REGISTRE DE FACTURAS, ESTAT "}},
    {Say::Issued, {"emesa", "emitida", "emitida", "emesa"}},
    {Say::Cancelled, {"anul\xfalada", "anulada", "anulada", "anullada"}},
    {Say::CorrectedShort, {"rect. ", "rect. ", "rect. ", "rect. "}},
    {Say::CorrectedBy, {"rectificada per ", "rectificada por ", "rectificada por ", "rectificada per "}},
    {Say::LabelType, {"Tipus", "Tipo", "Tipo", "Tipe"}},
    {Say::LabelOwner, {"Propietari / finca", "Propietario / finca", "Propietario / finca", "Proprietari / finca"}},
    {Say::LabelRecipient, {"Destinatari", "Destinatario", "Destinatario", "Destinatari"}},
    {Say::LabelIssuer, {"NIF emissor", "NIF emisor", "NIF emisor", "NIF emissor"}},
    {Say::LabelBase, {"Base imposable", "Base imponible", "Base impo\xa4ible", "Basa imposabla"}},
    {Say::LabelVat, {"IVA", "IVA", "IVE", "TVA"}},
    {Say::LabelWithholding, {"Retenci\xa2", "Retenci\xa2n", "Retenci\xa2n", "Retencion"}},
    {Say::LabelTotal, {"Total", "Total", "Total", "Total"}},
    {Say::LabelGenerated, {"Registrada", "Registrada", "Rexistrada", "Registrada"}},
    {Say::LabelFingerprint, {"Empremta", "Huella", "Pegada", "Emprenta"}},
    {Say::LabelPrevious, {"Anterior", "Anterior", "Anterior", "Anterior"}},
    {Say::LabelArchive, {"Arxiu", "Archivo", "Arquivo", "Archiu"}},
    {Say::LabelPage, {" p\x85gina ", " p\xa0gina ", " p\xa0xina ", " pagina "}},
    {Say::LabelCorrects, {"Rectifica", "Rectifica", "Rectifica", "Rectifica"}},
    {Say::NeverDelivered,
     {"NOM\x90S ES POT ANUL\xfaLAR UNA FACTURA EMESA PER ERROR, QUE NO S'HA LLIURAT MAI. NO S'HA LLIURAT MAI LA FACTURA ",
      "S\xe0LO SE PUEDE ANULAR UNA FACTURA EMITIDA POR ERROR, QUE NUNCA SE ENTREG\xe0. \xa8NUNCA SE ENTREG\xe0 LA FACTURA ",
      "S\xe0 SE PODE ANULAR UNHA FACTURA EMITIDA POR ERRO, QUE NUNCA SE ENTREGOU. NUNCA SE ENTREGOU A FACTURA ",
      "SONQUE SE P\xe3T ANULLAR UNA FACTURA EMESA PER ERROR, JAMAI LIURADA. ES PAS JAMAI ESTADA LIURADA LA FACTURA "}},
    {Say::CannotUndo,
     {"L'ANUL\xfaLACI\xe0 NO ES POT DESFER. ANUL\xfaLEU LA FACTURA ", "LA ANULACI\xe0N NO SE PUEDE DESHACER. \xa8" "ANULA LA FACTURA ",
      "A ANULACI\xe0N NON SE PODE DESFACER. ANULA A FACTURA ", "L'ANULLACION SE P\xe3T PAS DESFAR. ANULLATZ LA FACTURA "}},
    {Say::CancelledDone, {"FACTURA ANUL\xfaLADA: ", "FACTURA ANULADA: ", "FACTURA ANULADA: ", "FACTURA ANULLADA: "}},
    {Say::ReceiptsBack,
     {". REBUTS TORNATS A PENDENTS DE FACTURAR: ", ". RECIBOS DEVUELTOS A PENDIENTES DE FACTURAR: ",
      ". RECIBOS DEVOLTOS A PENDENTES DE FACTURAR: ", ". RECEPISSES TORNATS A PAS FACTURATS: "}},
    {Say::BadCorrection,
     {"CAUSA (R1 A R4), FORMA (S O I) O IMPORT NO V\xb7LID: ", "CAUSA (R1 A R4), FORMA (S O I) O IMPORTE NO V\xb5LIDO: ",
      "CAUSA (R1 A R4), FORMA (S OU I) OU IMPORTE NON V\xb5LIDO: ", "CAUSA (R1 A R4), F\xe3RMA (S O I) O IMPORT PAS VALID: "}},
    {Say::CorrectiveDone,
     {"FACTURA RECTIFICATIVA REGISTRADA: ", "FACTURA RECTIFICATIVA REGISTRADA: ", "FACTURA RECTIFICATIVA REXISTRADA: ",
      "FACTURA RECTIFICATIVA REGISTRADA: "}},
    {Say::Printed, {". IMPRESA A: ", ". IMPRESA EN: ", ". IMPRESA EN: ", ". IMPRIMIDA A: "}},
    {Say::CancellationType, {"anul\xfalaci\xa2", "anulaci\xa2n", "anulaci\xa2n", "anullacion"}},
    {Say::LabelSignature, {"Firma", "Firma", "Sinatura", "Signatura"}},
    {Say::CheckOk, {"OK: ", "OK: ", "OK: ", "OK: "}},
    {Say::CheckFault, {"ERROR: ", "ERROR: ", "ERRO: ", "ERROR: "}},
    {Say::FingerprintOk,
     {"la de les dades del registre", "la de los datos del registro", "a dos datos do rexistro",
      "la de las donadas del registre"}},
    {Say::FingerprintBad,
     {"no \x82s la de les dades del registre", "no es la de los datos del registro", "non \x82 a dos datos do rexistro",
      "es pas la de las donadas del registre"}},
    {Say::SealBad,
     {"registre modificat: el segell no concorda", "registro modificado: el sello no concuerda",
      "rexistro modificado: o selo non concorda", "registre modificat: lo sag\x8al conc\x95rda pas"}},
    {Say::LinkFirst,
     {"primer registre de la cadena", "primer registro de la cadena", "primeiro rexistro da cadea",
      "primi\x8ar registre de la cadena"}},
    {Say::LinkFirstBad,
     {"el primer registre no n'ha de tenir", "el primer registro no debe tenerla", "o primeiro rexistro non debe tela",
      "lo primi\x8ar registre la deu pas aver"}},
    {Say::LinkOk, {"la del registre #", "la del registro #", "a do rexistro #", "la del registre #"}},
    {Say::LinkBad, {"no \x82s la del registre #", "no es la del registro #", "non \x82 a do rexistro #", "es pas la del registre #"}},
    {Say::LinkGap, {"falta el registre #", "falta el registro #", "falta o rexistro #", "manca lo registre #"}},
    {Say::TimeOk, {"hora en ordre", "hora en orden", "hora en orde", "ora en \x95rdre"}},
    {Say::TimeBefore,
     {"hora anterior a la del #", "hora anterior a la del #", "hora anterior \xa0 do #", "ora anteriora a la del #"}},
    {Say::TimeFuture,
     {"hora posterior a l'actual", "hora posterior a la actual", "hora posterior \xa0 actual", "ora posteriora a l'actuala"}},
    {Say::SignatureOk, {"v\x85lida, de l'emissor", "v\xa0lida, del emisor", "v\xa0lida, do emisor", "valida, de l'emissor"}},
    {Say::SignatureNotRequired,
     {"sense firma: fet fora del mode conserva", "sin firma: hecho fuera del modo conserva",
      "sen sinatura: feito f\xa2ra do modo conserva", "sens signatura: fach f\x95ra del m\x95" "de conserva"}},
    {Say::SignatureMissing,
     {"no n'hi ha cap de desada", "no hay ninguna guardada", "non hai ningunha gardada", "i a pas cap de gardada"}},
    {Say::SignatureBroken,
     {"no concorda amb les dades signades", "no concuerda con los datos firmados", "non concorda cos datos asinados",
      "conc\x95rda pas amb las donadas signadas"}},
    {Say::SignatureUnreadable, {"il\xfalegible", "ilegible", "ilexible", "illegibla"}},
    {Say::SignatureProperties,
     {"propietats de la firma alterades", "propiedades de la firma alteradas", "propiedades da sinatura alteradas",
      "proprietats de la signatura alteradas"}},
    {Say::SignatureNotIssuer,
     {"certificat d'un altre NIF", "certificado de otro NIF", "certificado doutro NIF", "certificat d'un autre NIF"}},
    {Say::SignatureValidity,
     {"certificat no vigent en la data del registre", "certificado no vigente en la fecha del registro",
      "certificado non vixente na data do rexistro", "certificat pas valid a la data del registre"}},
    {Say::SignatureUntrusted,
     {"certificat d'una autoritat no admesa (CAFirma=)", "certificado de una autoridad no admitida (CAFirma=)",
      "certificado dunha autoridade non admitida (CAFirma=)", "certificat d'una autoritat pas admesa (CAFirma=)"}},
    {Say::SignatureOtherRecord,
     {"signa un altre contingut que el del registre", "firma otro contenido que el del registro",
      "asina outro contido que o do rexistro", "signa un autre contengut que lo del registre"}},
    {Say::SignaturesUnreadable,
     {"no es poden llegir les firmes desades, estat ", "no se pueden leer las firmas guardadas, estado ",
      "non se poden ler as sinaturas gardadas, estado ", "se p\x95" "don pas legir las signaturas gardadas, estat "}},
    {Say::Corrects, {"rectif. ", "rectif. ", "rectif. ", "rectif. "}},
    {Say::CorrectionHelp,
     {"FACTURA RECTIFICATIVA: Causa R1 a R4 (la del reglament de facturaci\xa2), Forma I per difer\x8ancies o S per "
      "substituci\xa2, els honoraris i els suplerts tal com han de quedar (en euros: 1234,56), i una descripci\xa2 de "
      "la causa. Cada camp es comprova en sortir-ne. Intro a l'\xa3ltim camp demana confirmaci\xa2 abans de "
      "registrar-la; Esc torna sense registrar res.",
      "FACTURA RECTIFICATIVA: Causa R1 a R4 (la del reglamento de facturaci\xa2n), Forma I por diferencias o S por "
      "sustituci\xa2n, los honorarios y los suplidos tal como deben quedar (en euros: 1234,56), y una descripci\xa2n "
      "de la causa. Cada campo se comprueba al salir de \x82l. Intro en el \xa3ltimo campo pide confirmaci\xa2n antes "
      "de registrarla; Esc vuelve sin registrar nada.",
      "FACTURA RECTIFICATIVA: Causa R1 a R4 (a do regulamento de facturaci\xa2n), Forma I por diferenzas ou S por "
      "substituci\xa2n, os honorarios e os suplidos tal como deben quedar (en euros: 1234,56), e unha descrici\xa2n "
      "da causa. Cada campo compr\xa2" "base ao sa\xa1r del. Intro no \xa3ltimo campo pide confirmaci\xa2n antes de "
      "rexistrala; Esc volve sen rexistrar nada.",
      "FACTURA RECTIFICATIVA: Causa R1 a R4 (la del reglament de facturacion), F\x95rma I per difer\x82" "ncias o S per "
      "substitucion, los onoraris e los suplerts coma devon demorar (en \x8auros: 1234,56), e una descripcion de "
      "la causa. Cada camp es verificat en ne sortir. Intro al darri\x8ar camp demanda confirmacion abans de la "
      "registrar; Esc torna sens res registrar."}},
    {Say::PresentBase, {"base actual ", "base actual ", "base actual ", "basa actuala "}},
    {Say::CorrectionTypeBad,
     {"CAUSA: \"{t}\" NO \x90S CAP DE R1, R2, R3 O R4", "CAUSA: \"{t}\" NO ES NINGUNA DE R1, R2, R3 O R4",
      "CAUSA: \"{t}\" NON \x90 NINGUNHA DE R1, R2, R3 OU R4", "CAUSA: \"{t}\" ES PAS CAP DE R1, R2, R3 O R4"}},
    {Say::CorrectionFormBad,
     {"FORMA: \"{t}\" NO \x90S I (PER DIFER\xd4NCIES) NI S (PER SUBSTITUCI\xe0)",
      "FORMA: \"{t}\" NO ES I (POR DIFERENCIAS) NI S (POR SUSTITUCI\xe0N)",
      "FORMA: \"{t}\" NON \x90 I (POR DIFERENZAS) NIN S (POR SUBSTITUCI\xe0N)",
      "F\xe3RMA: \"{t}\" ES PAS I (PER DIFER\x90NCIAS) NI S (PER SUBSTITUCION)"}},
    {Say::FeeField, {"HONORARIS CORREGITS: ", "HONORARIOS CORREGIDOS: ", "HONORARIOS CORRIXIDOS: ", "ONORARIS CORREGITS: "}},
    {Say::ExpensesField, {"SUPLERTS CORREGITS: ", "SUPLIDOS CORREGIDOS: ", "SUPLIDOS CORRIXIDOS: ", "SUPLERTS CORREGITS: "}},
    {Say::NotAmount,
     {"\"{t}\" NO \x90S UN IMPORT EN EUROS (1234,56)", "\"{t}\" NO ES UN IMPORTE EN EUROS (1234,56)",
      "\"{t}\" NON \x90 UN IMPORTE EN EUROS (1234,56)", "\"{t}\" ES PAS UN IMPORT EN \x90UROS (1234,56)"}},
    {Say::ConfirmCorrective,
     {"REGISTRAR LA FACTURA RECTIFICATIVA DE ", "\xa8REGISTRAR LA FACTURA RECTIFICATIVA DE ",
      "REXISTRAR A FACTURA RECTIFICATIVA DE ", "REGISTRAR LA FACTURA RECTIFICATIVA DE "}},
    {Say::ByDifferences, {"PER DIFER\xd4NCIES", "POR DIFERENCIAS", "POR DIFERENZAS", "PER DIFER\x90NCIAS"}},
    {Say::BySubstitution, {"PER SUBSTITUCI\xe0", "POR SUSTITUCI\xe0N", "POR SUBSTITUCI\xe0N", "PER SUBSTITUCION"}},
    {Say::FeeWord, {"HONORARIS ", "HONORARIOS ", "HONORARIOS ", "ONORARIS "}},
    {Say::ExpensesWord, {"SUPLERTS ", "SUPLIDOS ", "SUPLIDOS ", "SUPLERTS "}},
}}};

// The ways of saying things the list and the correction window share
// (register_screen.cpp): in the session's language and number and date
// forms, messages on the screen's message row.
constexpr int kMessageRow = 12;
Language SessionLanguage();
std::string Text(Say id);
std::string Number(const RegisterEntry& e);  // as printed, "A/00000003"
std::string Amount(int64_t cents);
std::string ShownDate(const std::string& yyyymmdd);
void Tell(const std::string& text);
bool Confirmed(const std::string& question);  // a yes-or-no window: true for S

}  // namespace register_screen
