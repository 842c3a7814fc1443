#include "suite/zepfact/messages.h"

namespace {

constexpr MessageTable<FactMessage, 43> kFactTexts{{{
    {FactMessage::Usage,
     {"\xe9s: zepfact [--root DIR] ORDRE\n  list [DATES]\n  export-csv [DATES] FITXER\n  export-totals [DATES] FITXER\n"
      "  export-xml [DATES] [--requerimiento REF] FITXER\n  verify [NUM]\n  events list|restored|export DIR\n  reprint NUM [--output FITXER]\n  declaration\n"
      "DIR: arrel de la instal\xfalaci\xa2; si no, ZEPROOT; si no, la carpeta actual\n"
      "DATES: --from DATA, --to DATA (data de la factura)\n"
      "       --generated-from DATA, --generated-to DATA (generaci\xa2 del registre)\n"
      "DATA: DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD\n"
      "REF: requeriment de l'Ag\x8ancia Tribut\x85ria (d'1 a 18 lletres o xifres)\n"
      "NUM: n\xa3mero de factura com s'imprimeix (R/00000005, A/7) o el n\xa3mero sol\n"
      "--output: un fitxer .pdf o .txt; si no, la sortida de la sessi\xa2 (ZEPTMP) o S\xd4RIE-N\xe9MERO.pdf",
      "Uso: zepfact [--root DIR] ORDEN\n  list [FECHAS]\n  export-csv [FECHAS] FICHERO\n"
      "  export-totals [FECHAS] FICHERO\n"
      "  export-xml [FECHAS] [--requerimiento REF] FICHERO\n  verify [NUM]\n  events list|restored|export DIR\n  reprint NUM [--output FICHERO]\n"
      "  declaration\n"
      "DIR: ra\xa1z de la instalaci\xa2n; si no, ZEPROOT; si no, la carpeta actual\n"
      "FECHAS: --from FECHA, --to FECHA (fecha de la factura)\n"
      "        --generated-from FECHA, --generated-to FECHA (generaci\xa2n del registro)\n"
      "FECHA: DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD\n"
      "REF: requerimiento de la Agencia Tributaria (de 1 a 18 letras o cifras)\n"
      "NUM: n\xa3mero de factura tal como se imprime (R/00000005, A/7) o el n\xa3mero solo\n"
      "--output: un fichero .pdf o .txt; si no, la salida de la sesi\xa2n (ZEPTMP) o SERIE-N\xe9MERO.pdf",
      "Uso: zepfact [--root DIR] ORDE\n  list [DATAS]\n  export-csv [DATAS] FICHEIRO\n"
      "  export-totals [DATAS] FICHEIRO\n"
      "  export-xml [DATAS] [--requerimiento REF] FICHEIRO\n  verify [NUM]\n  events list|restored|export DIR\n  reprint NUM [--output FICHEIRO]\n"
      "  declaration\n"
      "DIR: ra\xa1z da instalaci\xa2n; se non, ZEPROOT; se non, o cartafol actual\n"
      "DATAS: --from DATA, --to DATA (data da factura)\n"
      "       --generated-from DATA, --generated-to DATA (xeraci\xa2n do rexistro)\n"
      "DATA: DD-MM-AAAA, DD/MM/AAAA ou AAAA-MM-DD\n"
      "REF: requirimento da Axencia Tributaria (de 1 a 18 letras ou cifras)\n"
      "NUM: n\xa3mero de factura tal como se imprime (R/00000005, A/7) ou o n\xa3mero s\xa2\n"
      "--output: un ficheiro .pdf ou .txt; se non, a sa\xa1" "da da sesi\xa2n (ZEPTMP) ou SERIE-N\xe9MERO.pdf",
      "Usatge: zepfact [--root DIR] COMANDA\n  list [DATAS]\n  export-csv [DATAS] FICHI\xd4R\n"
      "  export-totals [DATAS] FICHI\xd4R\n  export-xml [DATAS] [--requerimiento REF] FICHI\xd4R\n  verify [NUM]\n  events list|restored|export DIR\n"
      "  reprint NUM [--output FICHI\xd4R]\n  declaration\n"
      "DIR: ra\x8btz de l'installacion; se que non, ZEPROOT; se que non, lo dorsi\x8ar actual\n"
      "DATAS: --from DATA, --to DATA (data de la factura)\n"
      "       --generated-from DATA, --generated-to DATA (generacion del registre)\n"
      "DATA: DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD\n"
      "REF: requeriment de l'Ag\x82ncia Tribut\x85ria (d'1 a 18 letras o chifras)\n"
      "NUM: num\x8aro de factura coma s'imprim\xa1s (R/00000005, A/7) o lo num\x8aro sol\n"
      "--output: un fichi\x8ar .pdf o .txt; se que non, la sortida de la session (ZEPTMP) o S\xd4RIA-NUM\xd4RO.pdf"}},
    {FactMessage::UnknownCommand,
     {"Ordre desconeguda: {s}",
      "Orden desconocida: {s}",
      "Orde desco\xa4" "ecida: {s}",
      "Comanda desconeguda: {s}"}},
    {FactMessage::BadArgument,
     {"Opci\xa2 o argument no v\x85lid: {s}",
      "Opci\xa2n o argumento no v\xa0lido: {s}",
      "Opci\xa2n ou argumento non v\xa0lido: {s}",
      "Opcion o argument pas valid: {s}"}},
    {FactMessage::MissingValue,
     {"Falta el valor de {s}",
      "Falta el valor de {s}",
      "Falta o valor de {s}",
      "Manca la valor de {s}"}},
    {FactMessage::MissingFile,
     {"Falta el nom del fitxer de sortida",
      "Falta el nombre del fichero de salida",
      "Falta o nome do ficheiro de sa\xa1" "da",
      "Manca lo nom del fichi\x8ar de sortida"}},
    {FactMessage::BadDate,
     {"Data no v\x85lida: {s} (DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD)",
      "Fecha no v\xa0lida: {s} (DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD)",
      "Data non v\xa0lida: {s} (DD-MM-AAAA, DD/MM/AAAA ou AAAA-MM-DD)",
      "Data pas valida: {s} (DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD)"}},
    {FactMessage::DatesReversed,
     {"La data inicial \x82s posterior a la final",
      "La fecha inicial es posterior a la final",
      "A data inicial \x82 posterior \xa0 final",
      "La data iniciala es posteriora a la finala"}},
    {FactMessage::NoRegister,
     {"Encara no hi ha registre de factures a l'arrel {s} (una altra arrel: --root DIR o ZEPROOT)",
      "Todav\xa1" "a no hay registro de facturas en la ra\xa1z {s} (otra ra\xa1z: --root DIR o ZEPROOT)",
      "A\xa1nda non hai rexistro de facturas na ra\xa1z {s} (outra ra\xa1z: --root DIR ou ZEPROOT)",
      "I a pas encara de registre de facturas dins la ra\x8btz {s} (una autra ra\x8btz: --root DIR o ZEPROOT)"}},
    {FactMessage::CannotOpen,
     {"No es pot obrir el registre de factures {s} (estat {n})",
      "No se puede abrir el registro de facturas {s} (estado {n})",
      "Non se pode abrir o rexistro de facturas {s} (estado {n})",
      "Se p\x95t pas dobrir lo registre de facturas {s} (estat {n})"}},
    {FactMessage::CannotRead,
     {"No es pot llegir el registre de factures {s} (estat {n})",
      "No se puede leer el registro de facturas {s} (estado {n})",
      "Non se pode ler o rexistro de facturas {s} (estado {n})",
      "Se p\x95t pas legir lo registre de facturas {s} (estat {n})"}},
    {FactMessage::CannotWrite,
     {"No es pot escriure {s}",
      "No se puede escribir {s}",
      "Non se pode escribir {s}",
      "Se p\x95t pas escriure {s}"}},
    {FactMessage::BadIssuerTaxId,
     {"El NIF de Tarn.ini [Emissor] no \x82s v\x85lid: \"{s}\"",
      "El NIF de Tarn.ini [Emissor] no es v\xa0lido: \"{s}\"",
      "O NIF de Tarn.ini [Emissor] non \x82 v\xa0lido: \"{s}\"",
      "Lo NIF de Tarn.ini [Emissor] es pas valid: \"{s}\""}},
    {FactMessage::Count,
     {"Factures: {n}",
      "Facturas: {n}",
      "Facturas: {n}",
      "Facturas: {n}"}},
    {FactMessage::Written,
     {"Factures escrites a {s}: {n}",
      "Facturas escritas en {s}: {n}",
      "Facturas escritas en {s}: {n}",
      "Facturas escrichas dins {s}: {n}"}},
    {FactMessage::NothingToExport,
     {"Cap factura en aquestes dates: no s'escriu cap fitxer",
      "Ninguna factura en estas fechas: no se escribe ning\xa3n fichero",
      "Ningunha factura nestas datas: non se escribe ning\xa3n ficheiro",
      "Cap de factura dins aquestas datas: s'escriu pas cap de fichi\x8ar"}},
    {FactMessage::ChainSound,
     {"Cadena correcta, registres verificats: {n}",
      "Cadena correcta, registros verificados: {n}",
      "Cadea correcta, rexistros verificados: {n}",
      "Cadena corr\x8a" "cta, registres verificats: {n}"}},
    {FactMessage::ChainBroken,
     {"Cadena trencada al registre {s} (seq\x81\x8ancia {n}): no quadra amb el que es va registrar",
      "Cadena rota en el registro {s} (secuencia {n}): no coincide con lo registrado",
      "Cadea rota no rexistro {s} (secuencia {n}): non coincide co rexistrado",
      "Cadena rompuda al registre {s} (sequ\x82ncia {n}): correspond pas a \x87\x95 registrat"}},
    {FactMessage::NotInRegister,
     {"La factura {s} no \x82s al registre",
      "La factura {s} no est\xa0 en el registro",
      "A factura {s} non est\xa0 no rexistro",
      "La factura {s} es pas al registre"}},
    {FactMessage::AmbiguousNumber,
     {"Hi ha una factura {s} en m\x82s d'una s\x8arie: escriviu-la amb la s\x8arie (S\xd4RIE/N\xe9MERO)",
      "Hay una factura {s} en m\xa0s de una serie: escr\xa1" "bala con la serie (SERIE/N\xe9MERO)",
      "Hai unha factura {s} en m\xa0is dunha serie: escr\xa1" "baa coa serie (SERIE/N\xe9MERO)",
      "I a una factura {s} dins mai d'una s\x8aria: escrivetz-la amb la s\x8aria (S\xd4RIA/NUM\xd4RO)"}},
    {FactMessage::NoArchive,
     {"No es pot llegir la c\x95pia arxivada {s}",
      "No se puede leer la copia archivada {s}",
      "Non se pode ler a copia arquivada {s}",
      "Se p\x95t pas legir la c\x95pia archivada {s}"}},
    {FactMessage::CannotStartPrint,
     {"No es pot executar el programa d'impressi\xa2 {s}",
      "No se puede ejecutar el programa de impresi\xa2n {s}",
      "Non se pode executar o programa de impresi\xa2n {s}",
      "Se p\x95t pas executar lo programa d'impression {s}"}},
    {FactMessage::SoftwareFileMissing,
     {"Falta el fitxer d'identitat del programa {s}",
      "Falta el fichero de identidad del programa {s}",
      "Falta o ficheiro de identidade do programa {s}",
      "Manca lo fichi\x8ar d'identitat del programa {s}"}},
    {FactMessage::SoftwareFieldTooLong,
     {"El valor de {s} \x82s massa llarg",
      "El valor de {s} es demasiado largo",
      "O valor de {s} \x82 longo de m\xa0is",
      "La valor de {s} es tr\x95p longa"}},
    {FactMessage::SoftwareBadNif,
     {"{s} no \x82s un NIF v\x85lid",
      "{s} no es un NIF v\xa0lido",
      "{s} non \x82 un NIF v\xa0lido",
      "{s} es pas un NIF valid"}},
    {FactMessage::SoftwareBadId,
     {"{s} ha de tenir dos car\x85" "cters, lletres A-Z o xifres",
      "{s} debe tener dos caracteres, letras A-Z o cifras",
      "{s} debe ter dous caracteres, letras A-Z ou cifras",
      "{s} deu aver dos caract\x8ars, letras A-Z o chifras"}},
    {FactMessage::SoftwareBadChoice,
     {"{s} ha de ser S o N",
      "{s} debe ser S o N",
      "{s} debe ser S ou N",
      "{s} deu \x8asser S o N"}},
    {FactMessage::SoftwareBadDate,
     {"{s} no \x82s una data DD-MM-AAAA",
      "{s} no es una fecha DD-MM-AAAA",
      "{s} non \x82 unha data DD-MM-AAAA",
      "{s} es pas una data DD-MM-AAAA"}},
    {FactMessage::NoInstallationNumber,
     {"No es pot llegir ni crear el n\xa3mero d'instal\xfalaci\xa2 {s} (error {n})",
      "No se puede leer ni crear el n\xa3mero de instalaci\xa2n {s} (error {n})",
      "Non se pode ler nin crear o n\xa3mero de instalaci\xa2n {s} (erro {n})",
      "Se p\x95t pas legir ni crear lo num\x8aro d'installacion {s} (error {n})"}},
    {FactMessage::UnidentifiedRecipient,
     {"La factura {s} no es pot exportar: el destinatari no t\x82 NIF v\x85lid ni n\xa3mero d'IVA europeu, i una factura F1 l'ha d'identificar",
      "La factura {s} no se puede exportar: el destinatario no tiene NIF v\xa0lido ni n\xa3mero de IVA europeo, y una factura F1 debe identificarlo",
      "A factura {s} non se pode exportar: o destinatario non ten NIF v\xa0lido nin n\xa3mero de IVE europeo, e unha factura F1 debe identificalo",
      "La factura {s} se p\x95t pas exportar: lo destinatari a pas de NIF valid ni de num\x8aro de TVA europ\x8au, e una factura F1 lo deu identificar"}},
    {FactMessage::BadRequirement,
     {"Refer\x8ancia de requeriment no v\x85lida: \"{s}\" (d'1 a 18 lletres o xifres)",
      "Referencia de requerimiento no v\xa0lida: \"{s}\" (de 1 a 18 letras o cifras)",
      "Referencia de requirimento non v\xa0lida: \"{s}\" (de 1 a 18 letras ou cifras)",
      "Refer\x82ncia de requeriment pas valida: \"{s}\" (d'1 a 18 letras o chifras)"}},
    {FactMessage::BadOutput,
     {"Fitxer de sortida no v\x85lid: {s} (ha d'acabar en .pdf o .txt, sense \\)",
      "Fichero de salida no v\xa0lido: {s} (debe acabar en .pdf o .txt, sin \\)",
      "Ficheiro de sa\xa1" "da non v\xa0lido: {s} (debe rematar en .pdf ou .txt, sen \\)",
      "Fichi\x8ar de sortida pas valid: {s} (deu acabar en .pdf o .txt, sens \\)"}},
    {FactMessage::TotalsWritten,
     {"Fitxer de totals escrit: {s} (factures: {n})",
      "Fichero de totales escrito: {s} (facturas: {n})",
      "Ficheiro de totais escrito: {s} (facturas: {n})",
      "Fichi\x8ar de totals escrich: {s} (facturas: {n})"}},
    {FactMessage::ColumnNumber, {"Factura", "Factura", "Factura", "Factura"}},
    {FactMessage::ColumnDate, {"Data", "Fecha", "Data", "Data"}},
    {FactMessage::ColumnTaxId, {"NIF", "NIF", "NIF", "NIF"}},
    {FactMessage::ColumnName, {"Destinatari", "Destinatario", "Destinatario", "Destinatari"}},
    {FactMessage::ColumnTotal, {"Total", "Total", "Total", "Total"}},
    {FactMessage::Anomaly,
     {"Anomalia (seq\x81\x8ancia {n}): {s}", "Anomal\xa1" "a (secuencia {n}): {s}", "Anomal\xa1" "a (secuencia {n}): {s}",
      "Anomalia (sequ\x82ncia {n}): {s}"}},
    {FactMessage::KeepingSound,
     {"Registres, firmes i esdeveniments correctes: {n}", "Registros, firmas y eventos correctos: {n}",
      "Rexistros, sinaturas e eventos correctos: {n}", "Registres, signaturas e eveniments corr\x8a" "ctes: {n}"}},
    {FactMessage::EventsWritten,
     {"Esdeveniments escrits a {s}: {n}", "Eventos escritos en {s}: {n}", "Eventos escritos en {s}: {n}",
      "Eveniments escrits dins {s}: {n}"}},
    {FactMessage::NotLogged,
     {"La comprovaci\xa2 no s'ha anotat al registre d'esdeveniments: {s}",
      "La comprobaci\xa2n no se ha anotado en el registro de eventos: {s}",
      "A comprobaci\xa2n non se anotou no rexistro de eventos: {s}",
      "La verificacion es pas estada anotada al registre d'eveniments: {s}"}},
    {FactMessage::EventCount,
     {"Esdeveniments: {n}", "Eventos: {n}", "Eventos: {n}", "Eveniments: {n}"}},
    {FactMessage::RestoredNoted,
     {"Restauraci\xa2 anotada; el darrer registre \x82s el {n}", "Restauraci\xa2n anotada; el \xa3ltimo registro es el {n}",
      "Restauraci\xa2n anotada; o derradeiro rexistro \x82 o {n}", "Restauracion notada; lo darri\x8ar registre es lo {n}"}},
}}};

void Replace(std::string& text, const std::string& mark, const std::string& value) {
  const size_t at = text.find(mark);
  if (at != std::string::npos) text.replace(at, mark.size(), value);
}

}  // namespace

std::string FactText(FactMessage message, Language language, const std::string& text, int64_t number) {
  std::string out = kFactTexts.Text(message, language);
  Replace(out, "{n}", std::to_string(number));
  Replace(out, "{s}", text);
  return out;
}
