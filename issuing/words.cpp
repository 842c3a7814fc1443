#include "issuing/words.h"

#include <cstring>

#include "base/codepage.h"
#include "base/paths.h"
#include "base/text.h"
#include "recman/recman.h"
#include "register/register.h"
#include "signing/events.h"

namespace {

enum class Word {
  IssuerNif,
  IssuerName,
  IssuerNameTooLong,
  SoftwareFileMissing,
  SoftwareFieldMissing,
  SoftwareFieldTooLong,
  SoftwareBadNif,
  SoftwareBadId,
  SoftwareBadChoice,
  SoftwareBadDate,
  Installation,
  ModeUnknown,
  Certificate,
  KeptFiles,
  TailCut,
  CorrectiveSeries,
  NotInRegister,
  Cancelled,
  Corrected,
  NothingChanges,
  AmountOutOfRange,
  RecipientNotSignable,
  RecipientNotForType,
  NoArchive,
  CannotArchive,
  Locked,
  CannotRead,
  DateBeforeLast,
  ChangedMeanwhile,
  LastRecordWrong,
  NotSigned,
  NotWritten,
  ReceiptsNotGivenBack,
  SideFileDamaged,
  ModeNotSet,
  ModeEndUnsigned,
  SenderNotStarted,
  SendingModeKept,
  SendingModeNotRenounced,
  CertNotSet,
  CertMissing,
  CertUnreadable,
  CertNotPkcs12,
  PasswordNotSet,
  PasswordMissing,
  PasswordUnreadable,
  PasswordExposed,
  PasswordNotOneLine,
  CertWrongPassword,
  CertNoKey,
  CertNotYetValid,
  CertExpired,
  KeyNotIssuer,
  AuthoritiesUnreadable,
  KeyUntrusted,
  BadCause,
};

constexpr MessageTable<Word, 56> kWords{{{
    {Word::IssuerNif,
     {"El NIF de Tarn.ini [Emissor] no \x82s v\x85lid: \"{s}\"",
      "El NIF de Tarn.ini [Emissor] no es v\xa0lido: \"{s}\"",
      "O NIF de Tarn.ini [Emissor] non \x82 v\xa0lido: \"{s}\"",
      "Lo NIF de Tarn.ini [Emissor] es pas valid: \"{s}\""}},
    {Word::IssuerName,
     {"Falta el nom de l'emissor: Tarn.ini [Emissor] Nom",
      "Falta el nombre del emisor: Tarn.ini [Emissor] Nom",
      "Falta o nome do emisor: Tarn.ini [Emissor] Nom",
      "Manca lo nom de l'emissor: Tarn.ini [Emissor] Nom"}},
    {Word::IssuerNameTooLong,
     {"El nom de l'emissor (Tarn.ini [Emissor] Nom) passa dels 120 car\x85" "cters que admet l'Ag\x8ancia",
      "El nombre del emisor (Tarn.ini [Emissor] Nom) pasa de los 120 caracteres que admite la Agencia",
      "O nome do emisor (Tarn.ini [Emissor] Nom) pasa dos 120 caracteres que admite a Axencia",
      "Lo nom de l'emissor (Tarn.ini [Emissor] Nom) passa los 120 caract\x8a" "rs que l'Ag\x8ancia admet"}},
    {Word::SoftwareFileMissing,
     {"Falta el fitxer d'identitat del programa {s}",
      "Falta el fichero de identidad del programa {s}",
      "Falta o ficheiro de identidade do programa {s}",
      "Manca lo fichi\x8ar d'identitat del programa {s}"}},
    {Word::SoftwareFieldMissing,
     {"Falta el valor de {s}",
      "Falta el valor de {s}",
      "Falta o valor de {s}",
      "Manca la valor de {s}"}},
    {Word::SoftwareFieldTooLong,
     {"El valor de {s} \x82s massa llarg",
      "El valor de {s} es demasiado largo",
      "O valor de {s} \x82 longo de m\xa0is",
      "La valor de {s} es tr\x95p longa"}},
    {Word::SoftwareBadNif,
     {"{s} no \x82s un NIF v\x85lid",
      "{s} no es un NIF v\xa0lido",
      "{s} non \x82 un NIF v\xa0lido",
      "{s} es pas un NIF valid"}},
    {Word::SoftwareBadId,
     {"{s} ha de tenir dos car\x85" "cters, lletres A-Z o xifres",
      "{s} debe tener dos caracteres, letras A-Z o cifras",
      "{s} debe ter dous caracteres, letras A-Z ou cifras",
      "{s} deu aver dos caract\x8a" "rs, letras A-Z o chifras"}},
    {Word::SoftwareBadChoice,
     {"{s} ha de ser S o N",
      "{s} debe ser S o N",
      "{s} debe ser S ou N",
      "{s} deu \x8asser S o N"}},
    {Word::SoftwareBadDate,
     {"{s} no \x82s una data DD-MM-AAAA",
      "{s} no es una fecha DD-MM-AAAA",
      "{s} non \x82 unha data DD-MM-AAAA",
      "{s} es pas una data DD-MM-AAAA"}},
    {Word::Installation,
     {"No es pot llegir ni crear el n\xa3mero d'instal\xfalaci\xa2 {s} (error {n})",
      "No se puede leer ni crear el n\xa3mero de instalaci\xa2n {s} (error {n})",
      "Non se pode ler nin crear o n\xa3mero de instalaci\xa2n {s} (erro {n})",
      "Se p\x95t pas legir ni crear lo num\x8aro d'installacion {s} (error {n})"}},
    {Word::ModeUnknown,
     {"Tarn.ini [VeriFactu] Mode={s} no \x82s cap mode: envia o conserva",
      "Tarn.ini [VeriFactu] Mode={s} no es ning\xa3n modo: envia o conserva",
      "Tarn.ini [VeriFactu] Mode={s} non \x82 ning\xa3n modo: envia ou conserva",
      "Tarn.ini [VeriFactu] Mode={s} es pas cap de m\x95" "de: envia o conserva"}},
    {Word::Certificate,
     {"No es pot signar el registre amb el certificat de [VeriFactu]; no s'ha escrit res: {s}",
      "No se puede firmar el registro con el certificado de [VeriFactu]; no se ha escrito nada: {s}",
      "Non se pode asinar o rexistro co certificado de [VeriFactu]; non se escribiu nada: {s}",
      "Se p\x95t pas signar lo registre amb lo certificat de [VeriFactu]; es pas res estat escrich: {s}"}},
    {Word::ModeNotSet,
     {"Amb [Registre] Actiu=S cal triar a {s} [VeriFactu] Mode=envia (els registres s'envien a l'Ag\x8ancia) o "
      "Mode=conserva (se signen aqu\xa1 amb Certificat i ClauCertificat); no s'ha escrit res",
      "Con [Registre] Actiu=S hay que elegir en {s} [VeriFactu] Mode=envia (los registros se remiten a la Agencia) o "
      "Mode=conserva (se firman aqu\xa1 con Certificat y ClauCertificat); no se ha escrito nada",
      "Con [Registre] Actiu=S hai que escoller en {s} [VeriFactu] Mode=envia (os rexistros rem\xa1tense \xa0 "
      "Axencia) ou Mode=conserva (as\xa1nanse aqu\xa1 con Certificat e ClauCertificat); non se escribiu nada",
      "Amb [Registre] Actiu=S cal causir dins {s} [VeriFactu] Mode=envia (los registres se mandan a l'Ag\x8ancia) o "
      "Mode=conserva (se signan aqu\xa1 amb Certificat e ClauCertificat); es pas res estat escrich"}},
    {Word::ModeEndUnsigned,
     {"No es pot signar el final del mode conserva: mantingueu [VeriFactu] Certificat i ClauCertificat fins que "
      "quedi signat; no s'ha escrit res: {s}",
      "No se puede firmar el final del modo conserva: mantenga [VeriFactu] Certificat y ClauCertificat hasta que "
      "quede firmado; no se ha escrito nada: {s}",
      "Non se pode asinar o final do modo conserva: mante\xa4" "a [VeriFactu] Certificat e ClauCertificat ata que "
      "quede asinado; non se escribiu nada: {s}",
      "Se p\x95t pas signar la fin del m\xa2" "de conserva: gardatz [VeriFactu] Certificat e ClauCertificat fins "
      "que si\xa0 signada; es pas res estat escrich: {s}"}},
    {Word::KeptFiles,
     {"No es pot escriure al registre de factures (estat {n})",
      "No se puede escribir en el registro de facturas (estado {n})",
      "Non se pode escribir no rexistro de facturas (estado {n})",
      "Se p\x95t pas escriure al registre de facturas (estat {n})"}},
    {Word::TailCut,
     {"El registre \x82s m\x82s curt o m\x82s antic del que anota el registre d'esdeveniments (darrer registre anotat: "
      "{n}); no s'ha escrit res. Vegeu zepfact verify, o zepfact events restored si s'ha restaurat una c\x95pia",
      "El registro es m\xa0s corto o m\xa0s antiguo de lo que anota el registro de eventos (\xa3ltimo registro anotado: "
      "{n}); no se ha escrito nada. V\x82" "ase zepfact verify, o zepfact events restored si se ha restaurado una copia",
      "O rexistro \x82 m\xa0is curto ou m\xa0is antigo do que anota o rexistro de eventos (derradeiro rexistro anotado: "
      "{n}); non se escribiu nada. Vexa zepfact verify, ou zepfact events restored se se restaurou unha copia",
      "Lo registre es mai cort o mai ancian que \x87\x95 que n\x95ta lo registre d'eveniments (darri\x8ar registre notat: "
      "{n}); es pas res estat escrich. Vejatz zepfact verify, o zepfact events restored se s'es restaurada una c\x95pia"}},
    {Word::CorrectiveSeries,
     {"La s\x8arie de les rectificatives no es pot imprimir sencera: Tarn.ini [Registre] SerieRectificativa={s}",
      "La serie de las rectificativas no se puede imprimir entera: Tarn.ini [Registre] SerieRectificativa={s}",
      "A serie das rectificativas non se pode imprimir enteira: Tarn.ini [Registre] SerieRectificativa={s}",
      "La s\x8aria de las rectificativas se p\x95t pas imprimir enti\x8ara: Tarn.ini [Registre] "
      "SerieRectificativa={s}"}},
    {Word::NotInRegister,
     {"La factura {s} no \x82s al registre",
      "La factura {s} no est\xa0 en el registro",
      "A factura {s} non est\xa0 no rexistro",
      "La factura {s} es pas al registre"}},
    {Word::Cancelled,
     {"La factura {s} ja est\x85 anul\xfalada",
      "La factura {s} ya est\xa0 anulada",
      "A factura {s} xa est\xa0 anulada",
      "La factura {s} es ja anullada"}},
    {Word::Corrected,
     {"La factura {s} t\x82 factures rectificatives: no es pot anul\xfalar, rectifiqueu-la",
      "La factura {s} tiene facturas rectificativas: no se puede anular, rectif\xa1quela",
      "A factura {s} ten facturas rectificativas: non se pode anular, rectif\xa1quea",
      "La factura {s} a de facturas rectificativas: se p\x95t pas anullar, rectificatz-la"}},
    {Word::NothingChanges,
     {"Els imports no canvien la factura {s}: no hi ha res a rectificar",
      "Los importes no cambian la factura {s}: no hay nada que rectificar",
      "Os importes non cambian a factura {s}: non hai nada que rectificar",
      "Los imports cambian pas la factura {s}: i a pas res a rectificar"}},
    {Word::AmountOutOfRange,
     {"Import no v\x85lid: {s}",
      "Importe no v\xa0lido: {s}",
      "Importe non v\xa0lido: {s}",
      "Import pas valid: {s}"}},
    {Word::RecipientNotForType,
     {"L'Ag\x8ancia no accepta el destinatari de la factura {s} en aquesta rectificativa (R3: nom\x82s amb NIF; "
      "R1, R2 i R4: NIF o NIF-IVA); no s'ha escrit res",
      "La Agencia no acepta el destinatario de la factura {s} en esta rectificativa (R3: solo con NIF; "
      "R1, R2 y R4: NIF o NIF-IVA); no se ha escrito nada",
      "A Axencia non acepta o destinatario da factura {s} nesta rectificativa (R3: s\xa2 con NIF; "
      "R1, R2 e R4: NIF ou NIF-IVE); non se escribiu nada",
      "L'Ag\x8ancia accepta pas lo destinatari de la factura {s} dins aquesta rectificativa (R3: sonque amb NIF; "
      "R1, R2 e R4: NIF o NIF-TVA); es pas res estat escrich"}},
    {Word::RecipientNotSignable,
     {"Amb [VeriFactu] Mode=conserva el destinatari de la factura {s} necessita un NIF que l'Ag\x8ancia accepti per "
      "rectificar-la; no s'ha escrit res",
      "Con [VeriFactu] Mode=conserva el destinatario de la factura {s} necesita un NIF que la Agencia acepte para "
      "rectificarla; no se ha escrito nada",
      "Con [VeriFactu] Mode=conserva o destinatario da factura {s} precisa un NIF que a Axencia acepte para "
      "rectificala; non se escribiu nada",
      "Amb [VeriFactu] Mode=conserva lo destinatari de la factura {s} a besonh d'un NIF que l'Ag\x8ancia accepte per "
      "la rectificar; es pas res estat escrich"}},
    {Word::NoArchive,
     {"No es pot llegir la c\x95pia arxivada {s}",
      "No se puede leer la copia archivada {s}",
      "Non se pode ler a copia arquivada {s}",
      "Se p\x95t pas legir la c\x95pia archivada {s}"}},
    {Word::CannotArchive,
     {"No es pot escriure {s}",
      "No se puede escribir {s}",
      "Non se pode escribir {s}",
      "Se p\x95t pas escriure {s}"}},
    {Word::Locked,
     {"El registre est\x85 ocupat per una facturaci\xa2 en curs; torneu-ho a provar",
      "El registro est\xa0 ocupado por una facturaci\xa2n en curso; vuelva a intentarlo",
      "O rexistro est\xa0 ocupado por unha facturaci\xa2n en curso; t\x82nteo de novo",
      "Lo registre es ocupat per una facturacion en cors; tornatz ensajar"}},
    {Word::CannotRead,
     {"No es pot llegir el registre de factures {s} (estat {n})",
      "No se puede leer el registro de facturas {s} (estado {n})",
      "Non se pode ler o rexistro de facturas {s} (estado {n})",
      "Se p\x95t pas legir lo registre de facturas {s} (estat {n})"}},
    {Word::DateBeforeLast,
     {"La s\x8arie {s} t\x82 factures amb data posterior a avui",
      "La serie {s} tiene facturas con fecha posterior a hoy",
      "A serie {s} ten facturas con data posterior a hoxe",
      "La s\x8aria {s} a de facturas amb una data posteriora a u\x8ai"}},
    {Word::ChangedMeanwhile,
     {"Un altre proc\x82s acaba de rectificar o anul\xfalar la factura {s}: no s'ha escrit res",
      "Otro proceso acaba de rectificar o anular la factura {s}: no se ha escrito nada",
      "Outro proceso acaba de rectificar ou anular a factura {s}: non se escribiu nada",
      "Un autre proc\x82s ven de rectificar o anullar la factura {s}: s'es pas res escrich"}},
    {Word::LastRecordWrong,
     {"L'\xa3ltim registre de la cadena ({s}) no quadra: comproveu-lo amb verify",
      "El \xa3ltimo registro de la cadena ({s}) no cuadra: compru\x82" "belo con verify",
      "O \xa3ltimo rexistro da cadea ({s}) non cadra: comprobeo con verify",
      "Lo darri\x8ar registre de la cadena ({s}) quadra pas: verificatz-lo amb verify"}},
    {Word::NotSigned,
     {"No s'ha pogut signar el registre; no s'ha escrit res: {s}",
      "No se ha podido firmar el registro; no se ha escrito nada: {s}",
      "Non se puido asinar o rexistro; non se escribiu nada: {s}",
      "Lo registre s'es pas pogut signar; es pas res estat escrich: {s}"}},
    {Word::NotWritten,
     {"No es pot escriure al registre de factures (estat {n})",
      "No se puede escribir en el registro de facturas (estado {n})",
      "Non se pode escribir no rexistro de facturas (estado {n})",
      "Se p\x95t pas escriure al registre de facturas (estat {n})"}},
    {Word::ReceiptsNotGivenBack,
     {"La factura est\x85 anul\xfalada, per\xa2 els rebuts no s'han pogut tornar (estat {n}): es tornaran en la "
      "propera obertura",
      "La factura est\xa0 anulada, pero los recibos no se han podido devolver (estado {n}): se devolver\xa0n en la "
      "pr\xa2xima apertura",
      "A factura est\xa0 anulada, pero os recibos non se puideron devolver (estado {n}): devolveranse na pr\xa2xima "
      "apertura",
      "La factura es anullada, mas los recebuts se son pas poguts tornar (estat {n}): se tornar\xa0n a la "
      "dobertura seguenta"}},
    {Word::SendingModeKept,
     {"Cal mantenir [VeriFactu] Mode=envia fins a final d'any: es pot deixar a partir del dia {s}",
      "Hay que mantener [VeriFactu] Mode=envia hasta final de a\xa4o: se puede dejar a partir del d\xa1" "a {s}",
      "Hai que manter [VeriFactu] Mode=envia ata final de ano: p\xa2" "dese deixar a partir do d\xa1" "a {s}",
      "Cal gardar [VeriFactu] Mode=envia fins a la fin de l'an: se p\x95t daissar a partir del {s}"}},
    {Word::SendingModeNotRenounced,
     {"Cal mantenir [VeriFactu] Mode=envia fins a final d'any: es pot deixar a partir del dia {s}, si abans "
      "s'ha comunicat la ren\xa3ncia (zepfact renounce)",
      "Hay que mantener [VeriFactu] Mode=envia hasta final de a\xa4o: se puede dejar a partir del d\xa1" "a {s}, si "
      "antes se ha comunicado la renuncia (zepfact renounce)",
      "Hai que manter [VeriFactu] Mode=envia ata final de ano: p\xa2" "dese deixar a partir do d\xa1" "a {s}, se antes "
      "se comunicou a renuncia (zepfact renounce)",
      "Cal gardar [VeriFactu] Mode=envia fins a la fin de l'an: se p\x95t daissar a partir del {s}, se abans "
      "s'es comunicada la ren\xa2ncia (zepfact renounce)"}},
    {Word::SenderNotStarted,
     {"Registrat, per\xa2 no s'ha pogut engegar l'enviament a l'Ag\x8ancia ({s}, estat {n}): s'enviar\x85 amb "
      "zepfact send",
      "Registrado, pero no se ha podido iniciar el env\xa1o a la Agencia ({s}, estado {n}): se enviar\xa0 con "
      "zepfact send",
      "Rexistrado, pero non se puido iniciar o env\xa1o \xa0 Axencia ({s}, estado {n}): enviarase con zepfact send",
      "Registrat, mas se p\x95t pas aviar lo mandad\xa1s a l'Ag\x8ancia ({s}, estat {n}): se mandar\x85 amb "
      "zepfact send"}},
    {Word::SideFileDamaged,
     {"El fitxer {s} no es pot llegir o ha estat alterat: no s'ha escrit res",
      "El fichero {s} no se puede leer o ha sido alterado: no se ha escrito nada",
      "O ficheiro {s} non se pode ler ou foi alterado: non se escribiu nada",
      "Lo fichi\x8ar {s} se p\x95t pas legir o es estat alterat: s'es pas res escrich"}},
    {Word::CertNotSet,
     {"Falta el certificat: [VeriFactu] Certificat= a {s}",
      "Falta el certificado: [VeriFactu] Certificat= en {s}",
      "Falta o certificado: [VeriFactu] Certificat= en {s}",
      "Manca lo certificat: [VeriFactu] Certificat= dins {s}"}},
    {Word::CertMissing,
     {"No existeix el fitxer del certificat {s}",
      "No existe el fichero del certificado {s}",
      "Non existe o ficheiro do certificado {s}",
      "Exist\xa1s pas lo fichi\x8ar del certificat {s}"}},
    {Word::CertUnreadable,
     {"No es pot llegir el fitxer del certificat {s}",
      "No se puede leer el fichero del certificado {s}",
      "Non se pode ler o ficheiro do certificado {s}",
      "Se p\x95t pas legir lo fichi\x8ar del certificat {s}"}},
    {Word::CertNotPkcs12,
     {"El fitxer {s} no \x82s un certificat PKCS#12 (.p12 o .pfx)",
      "El fichero {s} no es un certificado PKCS#12 (.p12 o .pfx)",
      "O ficheiro {s} non \x82 un certificado PKCS#12 (.p12 ou .pfx)",
      "Lo fichi\x8ar {s} es pas un certificat PKCS#12 (.p12 o .pfx)"}},
    {Word::PasswordNotSet,
     {"Falta el fitxer de la contrasenya del certificat: [VeriFactu] ClauCertificat= a {s}",
      "Falta el fichero de la contrase\xa4" "a del certificado: [VeriFactu] ClauCertificat= en {s}",
      "Falta o ficheiro do contrasinal do certificado: [VeriFactu] ClauCertificat= en {s}",
      "Manca lo fichi\x8ar del senhal del certificat: [VeriFactu] ClauCertificat= dins {s}"}},
    {Word::PasswordMissing,
     {"No existeix el fitxer de la contrasenya {s}",
      "No existe el fichero de la contrase\xa4" "a {s}",
      "Non existe o ficheiro do contrasinal {s}",
      "Exist\xa1s pas lo fichi\x8ar del senhal {s}"}},
    {Word::PasswordUnreadable,
     {"No es pot llegir el fitxer de la contrasenya {s}",
      "No se puede leer el fichero de la contrase\xa4" "a {s}",
      "Non se pode ler o ficheiro do contrasinal {s}",
      "Se p\x95t pas legir lo fichi\x8ar del senhal {s}"}},
    {Word::PasswordExposed,
     {"Altres usuaris poden llegir o canviar el fitxer de la contrasenya {s}: no s'usa (chmod 600)",
      "Otros usuarios pueden leer o cambiar el fichero de la contrase\xa4" "a {s}: no se usa (chmod 600)",
      "Outros usuarios poden ler ou cambiar o ficheiro do contrasinal {s}: non se usa (chmod 600)",
      "D'autres utilizaires p\x95" "don legir o cambiar lo fichi\x8ar del senhal {s}: s'utiliza pas (chmod 600)"}},
    {Word::PasswordNotOneLine,
     {"El fitxer de la contrasenya {s} ha de tenir una sola l\xa1nia",
      "El fichero de la contrase\xa4" "a {s} debe tener una sola l\xa1nea",
      "O ficheiro do contrasinal {s} debe ter unha soa li\xa4" "a",
      "Lo fichi\x8ar del senhal {s} deu aver una sola linha"}},
    {Word::CertWrongPassword,
     {"La contrasenya no obre el certificat {s}",
      "La contrase\xa4" "a no abre el certificado {s}",
      "O contrasinal non abre o certificado {s}",
      "Lo senhal dobr\xa1s pas lo certificat {s}"}},
    {Word::CertNoKey,
     {"El certificat {s} no porta la clau privada",
      "El certificado {s} no lleva la clave privada",
      "O certificado {s} non leva a clave privada",
      "Lo certificat {s} p\x95rta pas la clau privada"}},
    {Word::CertNotYetValid,
     {"El certificat no \x82s v\x85lid fins al {s}",
      "El certificado no es v\xa0lido hasta el {s}",
      "O certificado non \x82 v\xa0lido ata o {s}",
      "Lo certificat es pas valid fins al {s}"}},
    {Word::CertExpired,
     {"El certificat va caducar el {s}",
      "El certificado caduc\xa2 el {s}",
      "O certificado caducou o {s}",
      "Lo certificat expir\x8at lo {s}"}},
    {Word::KeyNotIssuer,
     {"El certificat {s} no \x82s del NIF de l'emissor ([Emissor] NIF)",
      "El certificado {s} no es del NIF del emisor ([Emissor] NIF)",
      "O certificado {s} non \x82 do NIF do emisor ([Emissor] NIF)",
      "Lo certificat {s} es pas del NIF de l'emissor ([Emissor] NIF)"}},
    {Word::AuthoritiesUnreadable,
     {"No es poden llegir les autoritats de [VeriFactu] CAFirma= a {s}",
      "No se pueden leer las autoridades de [VeriFactu] CAFirma= en {s}",
      "Non se poden ler as autoridades de [VeriFactu] CAFirma= en {s}",
      "Se p\x95" "don pas legir las autoritats de [VeriFactu] CAFirma= dins {s}"}},
    {Word::KeyUntrusted,
     {"El certificat de {s} no \x82s d'una autoritat de confian\x87" "a ([VeriFactu] CAFirma=): no es firma res",
      "El certificado de {s} no es de una autoridad de confianza ([VeriFactu] CAFirma=): no se firma nada",
      "O certificado de {s} non \x82 dunha autoridade de confianza ([VeriFactu] CAFirma=): non se asina nada",
      "Lo certificat de {s} es pas d'una autoritat de fisan\x87" "a ([VeriFactu] CAFirma=): se signa pas res"}},
    {Word::BadCause,
     {"La causa descrita passa de 500 car\x85" "cters o en t\x82 que no es poden imprimir",
      "La causa descrita pasa de 500 caracteres o tiene algunos que no se pueden imprimir",
      "A causa descrita pasa de 500 caracteres ou ten alg\xa3ns que non se poden imprimir",
      "La causa descricha passa 500 caract\x8a" "rs o n'a que se p\x95" "don pas imprimir"}},
}}};

// The sentence in capitals, but for the names it quotes: the placeholders,
// file and setting names ("Tarn.ini", "[Emissor]", "Mode=") and the key after
// a section ("[Emissor] Nom", a capital first), and the commands it names.
void Capitals(std::string& text) {
  size_t at = 0;
  bool afterSection = false;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    const size_t dot = word.find('.');
    const bool command = word == "zepfact" || word == "verify" || word == "events" || word == "restored" ||
                         word == "(chmod";
    const bool key = afterSection && !word.empty() && word[0] >= 'A' && word[0] <= 'Z';
    const bool name = word.find_first_of("[]={}_/#") != std::string::npos ||
                      (dot != std::string::npos && dot + 1 < word.size()) || key || command;
    if (!name)
      for (size_t i = at; i < end; ++i) text[i] = PlainUpper(text[i]);
    afterSection = !word.empty() && word.back() == ']';
    at = end + 1;
  }
}

std::string Put(Word word, Language language, bool capitals, const std::string& text, const std::string& number = "0") {
  std::string out = kWords.Text(word, language);
  if (capitals) Capitals(out);
  size_t at = out.find("{n}");
  if (at != std::string::npos) out.replace(at, 3, number);
  at = out.find("{s}");
  if (at != std::string::npos) out.replace(at, 3, text);
  return out;
}

Word SoftwareWord(SoftwareProblem problem) {
  switch (problem) {
    case SoftwareProblem::MissingFile: return Word::SoftwareFileMissing;
    case SoftwareProblem::MissingField: return Word::SoftwareFieldMissing;
    case SoftwareProblem::FieldTooLong: return Word::SoftwareFieldTooLong;
    case SoftwareProblem::InvalidNif: return Word::SoftwareBadNif;
    case SoftwareProblem::InvalidSystemId: return Word::SoftwareBadId;
    case SoftwareProblem::InvalidChoice: return Word::SoftwareBadChoice;
    case SoftwareProblem::InvalidDate:
    case SoftwareProblem::None: break;
  }
  return Word::SoftwareBadDate;
}

Word CertificateWord(CertificateProblem problem) {
  switch (problem) {
    case CertificateProblem::NotSet: return Word::CertNotSet;
    case CertificateProblem::Missing: return Word::CertMissing;
    case CertificateProblem::Unreadable: return Word::CertUnreadable;
    case CertificateProblem::NotPkcs12: return Word::CertNotPkcs12;
    case CertificateProblem::PasswordNotSet: return Word::PasswordNotSet;
    case CertificateProblem::PasswordMissing: return Word::PasswordMissing;
    case CertificateProblem::PasswordUnreadable: return Word::PasswordUnreadable;
    case CertificateProblem::PasswordExposed: return Word::PasswordExposed;
    case CertificateProblem::PasswordNotOneLine: return Word::PasswordNotOneLine;
    case CertificateProblem::WrongPassword: return Word::CertWrongPassword;
    case CertificateProblem::NoKey: return Word::CertNoKey;
    case CertificateProblem::NotYetValid: return Word::CertNotYetValid;
    case CertificateProblem::Expired: return Word::CertExpired;
    case CertificateProblem::AuthoritiesUnreadable: return Word::AuthoritiesUnreadable;
    case CertificateProblem::Untrusted: return Word::KeyUntrusted;
    case CertificateProblem::NotIssuer:
    case CertificateProblem::None: break;
  }
  return Word::KeyNotIssuer;
}

std::string Shown(const std::string& hostPath) { return Cp858ForDisplay(TidyHostPath(hostPath)); }

enum class StatusWord { IoError, FileNotFound, DiskFull, ReadOnly, RecordLocked, FileLocked, PermissionDenied,
                        Refused, TailLost, Journal, EventNotSigned };

constexpr MessageTable<StatusWord, 11> kStatusWords{{{
    {StatusWord::IoError,
     {"fitxer malm\x8as o d'un altre programa", "fichero da\xa4" "ado o de otro programa",
      "ficheiro danado ou doutro programa", "fichi\x8ar damatjat o d'un autre programa"}},
    {StatusWord::FileNotFound,
     {"no existeix el fitxer", "no existe el fichero", "non existe o ficheiro", "lo fichi\x8ar exist\xa1s pas"}},
    {StatusWord::DiskFull, {"disc ple", "disco lleno", "disco cheo", "disc plen"}},
    {StatusWord::ReadOnly,
     {"fitxer nom\x82s de lectura", "fichero de solo lectura", "ficheiro s\xa2 de lectura", "fichi\x8ar sonque de lectura"}},
    {StatusWord::RecordLocked,
     {"un altre proc\x82s t\x82 el registre", "otro proceso tiene el registro", "outro proceso ten o rexistro",
      "un autre proc\x82s a lo registre"}},
    {StatusWord::FileLocked,
     {"un altre proc\x82s t\x82 el fitxer", "otro proceso tiene el fichero", "outro proceso ten o ficheiro",
      "un autre proc\x82s a lo fichi\x8ar"}},
    {StatusWord::PermissionDenied,
     {"sense perm\xa1s sobre el fitxer o la carpeta", "sin permiso sobre el fichero o la carpeta",
      "sen permiso sobre o ficheiro ou o cartafol", "sens permission sul fichi\x8ar o lo dorsi\x8ar"}},
    {StatusWord::Refused,
     {"el registre no ho admet", "el registro no lo admite", "o rexistro non o admite", "lo registre o admet pas"}},
    {StatusWord::TailLost,
     {"al registre li falten els darrers registres", "al registro le faltan los \xa3ltimos registros",
      "ao rexistro f\xa0ltanlle os \xa3ltimos rexistros", "au registre li mancan los darri\x8ars registres"}},
    {StatusWord::Journal,
     {"no es pot escriure el diari dels rebuts: ", "no se puede escribir el diario de los recibos: ",
      "non se pode escribir o diario dos recibos: ", "se p\x95t pas escriure lo jornal dels recebuts: "}},
    {StatusWord::EventNotSigned,
     {"no s'ha pogut signar l'esdeveniment", "no se ha podido firmar el evento", "non se puido asinar o evento",
      "l'eveniment s'es pas pogut signar"}},
}}};

}  // namespace

std::string CertificateProblemText(CertificateProblem problem, const std::string& detail,
                                   const std::string& settingsFile, Language language, bool capitals) {
  const bool notSet = problem == CertificateProblem::NotSet || problem == CertificateProblem::PasswordNotSet;
  const bool date = problem == CertificateProblem::NotYetValid || problem == CertificateProblem::Expired;
  return Put(CertificateWord(problem), language, capitals,
             notSet ? Shown(settingsFile) : date ? detail : Shown(detail));
}

std::string IssuerProblemText(IssuerProblem problem, const Issuer& issuer, Language language, bool capitals) {
  switch (problem) {
    case IssuerProblem::None: return "";
    case IssuerProblem::BadNif: return Put(Word::IssuerNif, language, capitals, issuer.written);
    case IssuerProblem::NoName: return Put(Word::IssuerName, language, capitals, "");
    case IssuerProblem::NameTooLong: break;
  }
  return Put(Word::IssuerNameTooLong, language, capitals, "");
}

std::string IssuingProblemText(const IssuingProblem& p, Language language, bool capitals) {
  const auto put = [&](Word word) { return Put(word, language, capitals, p.detail, std::to_string(p.number)); };
  const auto status = [&](Word word) {
    return Put(word, language, capitals, p.detail, StatusText(static_cast<int16_t>(p.number), language));
  };
  switch (p.what) {
    case Refusal::None: return "";
    case Refusal::IssuerNif: return put(Word::IssuerNif);
    case Refusal::IssuerName: return put(Word::IssuerName);
    case Refusal::IssuerNameTooLong: return put(Word::IssuerNameTooLong);
    case Refusal::Software: return put(SoftwareWord(p.software));
    case Refusal::Installation: return put(Word::Installation);
    case Refusal::ModeUnknown: return put(Word::ModeUnknown);
    case Refusal::ModeNotSet: return Put(Word::ModeNotSet, language, capitals, Shown(p.settingsFile));
    case Refusal::SendingModeKept: return put(p.number != 0 ? Word::SendingModeKept : Word::SendingModeNotRenounced);
    case Refusal::Certificate:
      return Put(Word::Certificate, language, capitals,
                 CertificateProblemText(p.certificate, p.detail, p.settingsFile, language, capitals));
    case Refusal::ModeEndUnsigned:
      return Put(Word::ModeEndUnsigned, language, capitals,
                 CertificateProblemText(p.certificate, p.detail, p.settingsFile, language, capitals));
    case Refusal::KeptFiles: return status(Word::KeptFiles);
    case Refusal::TailCut: return put(Word::TailCut);
    case Refusal::CorrectiveSeries: return put(Word::CorrectiveSeries);
    case Refusal::NotInRegister: return put(Word::NotInRegister);
    case Refusal::Cancelled: return put(Word::Cancelled);
    case Refusal::Corrected: return put(Word::Corrected);
    case Refusal::NothingChanges: return put(Word::NothingChanges);
    case Refusal::AmountOutOfRange: return put(Word::AmountOutOfRange);
    case Refusal::RecipientNotSignable: return put(Word::RecipientNotSignable);
    case Refusal::RecipientNotForType: return put(Word::RecipientNotForType);
    case Refusal::NoArchive: return put(Word::NoArchive);
    case Refusal::CannotArchive: return put(Word::CannotArchive);
    case Refusal::Locked: return put(Word::Locked);
    case Refusal::CannotRead: return status(Word::CannotRead);
    case Refusal::DateBeforeLast: return put(Word::DateBeforeLast);
    case Refusal::ChangedMeanwhile: return put(Word::ChangedMeanwhile);
    case Refusal::LastRecordWrong: return put(Word::LastRecordWrong);
    case Refusal::NotSigned: return put(Word::NotSigned);
    case Refusal::NotWritten: return status(Word::NotWritten);
    case Refusal::ReceiptsNotGivenBack: return status(Word::ReceiptsNotGivenBack);
    case Refusal::SideFileDamaged: return put(Word::SideFileDamaged);
    case Refusal::BadCause: return put(Word::BadCause);
    case Refusal::SenderNotStarted: return put(Word::SenderNotStarted);
  }
  return "";
}

std::string StatusText(int16_t status, Language language) {
  const auto said = [&](StatusWord word) { return std::to_string(status) + ": " + kStatusWords.Text(word, language); };
  switch (status) {
    case RmIoError: return said(StatusWord::IoError);
    case RmFileNotFound: return said(StatusWord::FileNotFound);
    case RmDiskFull: return said(StatusWord::DiskFull);
    case RmReadOnly: return said(StatusWord::ReadOnly);
    case RmRecordLocked: return said(StatusWord::RecordLocked);
    case RmFileLocked: return said(StatusWord::FileLocked);
    case RmPermissionDenied: return said(StatusWord::PermissionDenied);
    case RegisterRefused: return said(StatusWord::Refused);
    case RegisterTailLost: return said(StatusWord::TailLost);
    case EventNotSigned: return said(StatusWord::EventNotSigned);
    default: break;
  }
  if (status > RegisterJournalErrno && status < RegisterJournalErrno + 900)
    return said(StatusWord::Journal) + Cp858ForDisplay(std::strerror(status - RegisterJournalErrno));
  // Anything else is named as the record manager or the record layer has it.
  return std::to_string(status) + ": " + RecordManagerStatusText(status);
}
