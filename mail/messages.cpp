#include "mail/messages.h"

namespace {

constexpr MessageTable<MailText, 37> kMailTexts{{{
    {MailText::SubjectOne, {"Factura {s}", "Factura {s}", "Factura {s}", "Factura {s}"}},
    {MailText::SubjectMany, {"Factures {s}", "Facturas {s}", "Facturas {s}", "Facturas {s}"}},
    {MailText::BodyOne,
     {"Us enviem adjunta en PDF la factura d'honoraris d'administraci\xa2:",
      "Le enviamos adjunta en PDF la factura de honorarios de administraci\xa2n:",
      "Envi\xa0mosvos xunta en PDF a factura de honorarios de administraci\xa2n:",
      "Vos mandam junta en PDF la factura d'onoraris d'administracion:"}},
    {MailText::BodyMany,
     {"Us enviem adjuntes en PDF les {n} factures d'honoraris d'administraci\xa2:",
      "Le enviamos adjuntas en PDF las {n} facturas de honorarios de administraci\xa2n:",
      "Envi\xa0mosvos xuntas en PDF as {n} facturas de honorarios de administraci\xa2n:",
      "Vos mandam juntas en PDF las {n} facturas d'onoraris d'administracion:"}},
    {MailText::BodyTotal, {"Total: {s}", "Total: {s}", "Total: {s}", "Total: {s}"}},
    {MailText::BodyClosing, {"Cordialment,", "Atentamente,", "Atentamente,", "Cordialament,"}},
    {MailText::StateSent, {"enviada", "enviada", "enviada", "mandada"}},
    {MailText::StateTemporary,
     {"no enviada, es reintentar\x85", "no enviada, se reintentar\xa0", "non enviada, volverase intentar",
      "pas mandada, se tornar\x85 ensajar"}},
    {MailText::StatePermanent,
     {"rebutjada pel servidor", "rechazada por el servidor", "rexeitada polo servidor", "refusada pel servidor"}},
    {MailText::StateNoAddress, {"sense adre\x87" "a", "sin direcci\xa2n", "sen enderezo", "sens adre\x87" "a"}},
    {MailText::StateBadAddress,
     {"adre\x87" "a no v\x85lida", "direcci\xa2n no v\xa0lida", "enderezo non v\xa0lido", "adre\x87" "a pas valida"}},
    {MailText::StateCancelled,
     {"anul\xfa" "lada: no s'envia", "anulada: no se env\xa1" "a", "anulada: non se env\xa1" "a",
      "anullada: se manda pas"}},
    {MailText::StateAlreadySent, {"ja enviada", "ya enviada", "xa enviada", "ja mandada"}},
    {MailText::StateUncertain,
     {"enviament incert (--again per tornar-la a enviar)", "env\xa1o incierto (--again para reenviarla)",
      "env\xa1o incerto (--again para enviala de novo)", "mandadis incert (--again ent\x85 la tornar mandar)"}},
    {MailText::StateRefusedBefore,
     {"rebutjada abans (--again per tornar-ho a provar)", "rechazada antes (--again para reintentarlo)",
      "rexeitada antes (--again para intentalo de novo)", "refusada abans (--again ent\x85 o tornar ensajar)"}},
    {MailText::StateNoPdf, {"falta el PDF", "falta el PDF", "falta o PDF", "manca lo PDF"}},
    {MailText::StateWouldSend, {"s'enviaria", "se enviar\xa1" "a", "enviar\xa1" "ase", "se mandari\x82"}},
    {MailText::StateUnsent, {"no enviada", "no enviada", "non enviada", "pas mandada"}},
    {MailText::StateTrying, {"enviant-se", "envi\xa0ndose", "envi\xa0ndose", "en mandadis"}},
    {MailText::ProblemNoServer,
     {"Falta el servidor de correu: Tarn.ini [Correu] Servidor=", "Falta el servidor de correo: Tarn.ini [Correu] Servidor=",
      "Falta o servidor de correo: Tarn.ini [Correu] Servidor=", "Manca lo servidor de corr\x8ar: Tarn.ini [Correu] Servidor="}},
    {MailText::ProblemBadPort,
     {"Port de correu no v\x85lid: Tarn.ini [Correu] Port=", "Puerto de correo no v\xa0lido: Tarn.ini [Correu] Port=",
      "Porto de correo non v\xa0lido: Tarn.ini [Correu] Port=", "P\x95rt de corr\x8ar pas valid: Tarn.ini [Correu] Port="}},
    {MailText::ProblemBadSender,
     {"Remitent no v\x85lid: Tarn.ini [Correu] Remitent=", "Remitente no v\xa0lido: Tarn.ini [Correu] Remitent=",
      "Remitente non v\xa0lido: Tarn.ini [Correu] Remitent=", "Expeditor pas valid: Tarn.ini [Correu] Remitent="}},
    {MailText::ProblemPasswordMissing,
     {"No es pot llegir el fitxer de la contrasenya (ClauUsuari=) {s}",
      "No se puede leer el fichero de la contrase\xa4" "a (ClauUsuari=) {s}",
      "Non se pode ler o ficheiro do contrasinal (ClauUsuari=) {s}",
      "Se p\x95t pas legir lo fichi\x8ar del senhal (ClauUsuari=) {s}"}},
    {MailText::ProblemPasswordNotOneLine,
     {"El fitxer de la contrasenya {s} ha de tenir una sola l\xa1nia",
      "El fichero de la contrase\xa4" "a {s} debe tener una sola l\xa1nea",
      "O ficheiro do contrasinal {s} debe ter unha soa li\xa4" "a",
      "Lo fichi\x8ar del senhal {s} deu aver una sola linha"}},
    {MailText::ProblemPasswordExposed,
     {"Altres usuaris poden llegir el fitxer de la contrasenya {s} (chmod 600)",
      "Otros usuarios pueden leer el fichero de la contrase\xa4" "a {s} (chmod 600)",
      "Outros usuarios poden ler o ficheiro do contrasinal {s} (chmod 600)",
      "D'autres utilizaires p\x95" "don legir lo fichi\x8ar del senhal {s} (chmod 600)"}},
    {MailText::ProblemLogBusy,
     {"Ja s'estan enviant factures per correu des d'un altre lloc",
      "Ya se est\xa0n enviando facturas por correo desde otro lugar",
      "Xa se est\xa0n enviando facturas por correo desde outro lugar",
      "Ja se mandan facturas per corr\x8ar d'un autre lu\x87"}},
    {MailText::ProblemLogUnwritable,
     {"No es pot escriure el registre d'enviaments {s} (error {n})",
      "No se puede escribir el registro de env\xa1os {s} (error {n})",
      "Non se pode escribir o rexistro de env\xa1os {s} (erro {n})",
      "Se p\x95t pas escriure lo registre dels mandadisses {s} (error {n})"}},
    {MailText::ProblemLogDamaged,
     {"El registre d'enviaments {s} est\x85 malm\x8as a la l\xa1nia {n}: no s'envia res sense --again",
      "El registro de env\xa1os {s} est\xa0 da\xa4" "ado en la l\xa1nea {n}: no se env\xa1" "a nada sin --again",
      "O rexistro de env\xa1os {s} est\xa0 danado na li\xa4" "a {n}: non se env\xa1" "a nada sen --again",
      "Lo registre dels mandadisses {s} es damatjat a la linha {n}: se manda pas res sens --again"}},
    {MailText::ProblemAddressFile,
     {"No es pot llegir el fitxer d'adreces {s} (estat {n})",
      "No se puede leer el fichero de direcciones {s} (estado {n})",
      "Non se pode ler o ficheiro de enderezos {s} (estado {n})",
      "Se p\x95t pas legir lo fichi\x8ar d'adre\x87" "as {s} (estat {n})"}},
    {MailText::SummarySent,
     {"Factures enviades per correu: {n}", "Facturas enviadas por correo: {n}", "Facturas enviadas por correo: {n}",
      "Facturas mandadas per corr\x8ar: {n}"}},
    {MailText::SummaryFailed,
     {"Factures no enviades (error): {n}", "Facturas no enviadas (error): {n}", "Facturas non enviadas (erro): {n}",
      "Facturas pas mandadas (error): {n}"}},
    {MailText::SummaryNoAddress,
     {"Factures sense adre\x87" "a: {n}", "Facturas sin direcci\xa2n: {n}", "Facturas sen enderezo: {n}",
      "Facturas sens adre\x87" "a: {n}"}},
    {MailText::NothingToSend,
     {"Cap factura per enviar", "Ninguna factura para enviar", "Ningunha factura para enviar",
      "Cap de factura de mandar"}},
    {MailText::SummaryUnsent,
     {"Factures per enviar: {n}", "Facturas por enviar: {n}", "Facturas por enviar: {n}",
      "Facturas de mandar: {n}"}},
    {MailText::ProblemNoStartTls,
     {"El servidor de correu {s} no ofereix STARTTLS al port {n}, i sense xifrar no s'envia res: poseu a Tarn.ini "
      "[Correu] Port=465 (TLS directe) o un Servidor= que l'ofereixi. Enviament aturat.",
      "El servidor de correo {s} no ofrece STARTTLS en el puerto {n}, y sin cifrar no se env\xa1" "a nada: ponga en "
      "Tarn.ini [Correu] Port=465 (TLS directo) o un Servidor= que lo ofrezca. Env\xa1o detenido.",
      "O servidor de correo {s} non ofrece STARTTLS no porto {n}, e sen cifrar non se env\xa1" "a nada: po\xa4" "a en "
      "Tarn.ini [Correu] Port=465 (TLS directo) ou un Servidor= que o ofreza. Env\xa1o detido.",
      "Lo servidor de corr\x8ar {s} ofr\xa1s pas STARTTLS al p\x95rt {n}, e sens chifrar se manda pas res: metetz "
      "dins Tarn.ini [Correu] Port=465 (TLS dir\x8a" "cte) o un Servidor= que l'ofrisca. Mandadis arrestat."}},
    {MailText::ProblemLoginRefused,
     {"El servidor de correu {s} no accepta l'usuari o la contrasenya: reviseu Tarn.ini [Correu] Usuari= i el fitxer "
      "de ClauUsuari=. Enviament aturat.",
      "El servidor de correo {s} no acepta el usuario o la contrase\xa4" "a: revise Tarn.ini [Correu] Usuari= y el "
      "fichero de ClauUsuari=. Env\xa1o detenido.",
      "O servidor de correo {s} non acepta o usuario ou o contrasinal: revise Tarn.ini [Correu] Usuari= e o ficheiro "
      "de ClauUsuari=. Env\xa1o detido.",
      "Lo servidor de corr\x8ar {s} accepta pas l'utilizaire o lo senhal: verificatz Tarn.ini [Correu] Usuari= e lo "
      "fichi\x8ar de ClauUsuari=. Mandadis arrestat."}},
    {MailText::ProblemUntrusted,
     {"El certificat del servidor de correu {s} no \x82s d'una autoritat de confian\x87" "a: si el servidor \x82s "
      "vost\x8a, poseu la seva autoritat a Tarn.ini [Correu] CAServidor=; si no, reviseu Servidor=. Enviament aturat.",
      "El certificado del servidor de correo {s} no es de una autoridad de confianza: si el servidor es suyo, ponga "
      "su autoridad en Tarn.ini [Correu] CAServidor=; si no, revise Servidor=. Env\xa1o detenido.",
      "O certificado do servidor de correo {s} non \x82 dunha autoridade de confianza: se o servidor \x82 seu, po\xa4" "a "
      "a s\xa3" "a autoridade en Tarn.ini [Correu] CAServidor=; se non, revise Servidor=. Env\xa1o detido.",
      "Lo certificat del servidor de corr\x8ar {s} es pas d'una autoritat de fisan\x87" "a: se lo servidor es vo\x8arz, "
      "metetz son autoritat dins Tarn.ini [Correu] CAServidor=; siquenon, verificatz Servidor=. Mandadis arrestat."}},
}}};

}  // namespace

std::string MailTextOf(MailText id, Language language, const std::string& text, int64_t number) {
  std::string out = kMailTexts.Text(id, language);
  const size_t s = out.find("{s}");
  if (s != std::string::npos) out.replace(s, 3, text);
  const size_t n = out.find("{n}");
  if (n != std::string::npos) out.replace(n, 3, std::to_string(number));
  return out;
}
