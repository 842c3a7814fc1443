#include "suite/zepprint/messages.h"

namespace {

using enum PrintMessage;

constexpr MessageTable<PrintMessage, 23> kPrintTexts{{{
    {WrittenTo,
     {"{n} p\x85gines escrites a {s}", "{n} p\xa0ginas escritas en {s}",
      "{n} p\xa0xinas escritas en {s}", "{n} paginas escrichas dins {s}"}},
    {WrittenToOne,
     {"1 p\x85gina escrita a {s}", "1 p\xa0gina escrita en {s}", "1 p\xa0xina escrita en {s}",
      "1 pagina escricha dins {s}"}},
    {SentTo,
     {"{n} p\x85gines enviades a la impressora {s}", "{n} p\xa0ginas enviadas a la impresora {s}",
      "{n} p\xa0xinas enviadas \xa0 impresora {s}", "{n} paginas mandadas a l'imprimenta {s}"}},
    {SentToOne,
     {"1 p\x85gina enviada a la impressora {s}", "1 p\xa0gina enviada a la impresora {s}",
      "1 p\xa0xina enviada \xa0 impresora {s}", "1 pagina mandada a l'imprimenta {s}"}},
    {CannotRead,
     {"No es pot llegir el fitxer d'impressi\xa2 {s}", "No se puede leer el fichero de impresi\xa2n {s}",
      "Non se pode ler o ficheiro de impresi\xa2n {s}",
      "Se p\x95t pas legir lo fichi\x8ar d'impression {s}"}},
    {CannotWrite,
     {"No es pot escriure {s}", "No se puede escribir {s}", "Non se pode escribir {s}",
      "Se p\x95t pas escriure {s}"}},
    {CannotSend,
     {"No es pot enviar a la impressora {s} (lp)", "No se puede enviar a la impresora {s} (lp)",
      "Non se pode enviar \xa0 impresora {s} (lp)", "Se p\x95t pas mandar a l'imprimenta {s} (lp)"}},
    {UnknownDevice,
     {"dispositiu desconegut \"{s}\", sortida en PDF", "dispositivo desconocido \"{s}\", salida en PDF",
      "dispositivo desco\xa4\x65\x63ido \"{s}\", sa\xa1\x64\x61 en PDF",
      "periferic desconegut \"{s}\", sortida en PDF"}},
    {NoDevice,
     {"sense l\xa1nia DEVICE, sortida en PDF", "sin l\xa1nea DEVICE, salida en PDF",
      "sen li\xa4\x61 DEVICE, sa\xa1\x64\x61 en PDF", "sens linha DEVICE, sortida en PDF"}},
    {Skipped,
     {"{n} l\xa1nies no reconegudes", "{n} l\xa1neas no reconocidas",
      "{n} li\xa4\x61s non reco\xa4\x65\x63idas", "{n} linhas pas reconegudas"}},
    {SkippedOne,
     {"1 l\xa1nia no reconeguda", "1 l\xa1nea no reconocida", "1 li\xa4\x61 non reco\xa4\x65\x63ida",
      "1 linha pas reconeguda"}},
    {Cut,
     {"{n} textos tallats a la columna 96", "{n} textos cortados en la columna 96",
      "{n} textos cortados na columna 96", "{n} t\x8axtes copats a la colomna 96"}},
    {CutOne,
     {"1 text tallat a la columna 96", "1 texto cortado en la columna 96",
      "1 texto cortado na columna 96", "1 t\x8axte copat a la colomna 96"}},
    {PaperUnreadable,
     {"sense plantilla: no es pot llegir {s}", "sin plantilla: no se puede leer {s}",
      "sen modelo: non se pode ler {s}", "sens mod\x8al: se p\x95t pas legir {s}"}},
    {PaperTooLarge,
     {"sense plantilla: {s} \x82s massa gran", "sin plantilla: {s} es demasiado grande",
      "sen modelo: {s} \x82 demasiado grande", "sens mod\x8al: {s} es tr\x95p grand"}},
    {PaperNotSvg,
     {"sense plantilla: {s} no \x82s un SVG v\x85lid", "sin plantilla: {s} no es un SVG v\xa0lido",
      "sen modelo: {s} non \x82 un SVG v\xa0lido", "sens mod\x8al: {s} es pas un SVG valid"}},
    {PaperQrTooSmall,
     {"sense plantilla: l'\x85rea qr de {s} fa menys de 34 x 39 mm",
      "sin plantilla: el \xa0rea qr de {s} mide menos de 34 x 39 mm",
      "sen modelo: a \xa0rea qr de {s} mide menos de 34 x 39 mm",
      "sens mod\x8al: l'airal qr de {s} fa mens de 34 x 39 mm"}},
    {TextWithoutCode,
     {"{n} factures en text sense el codi QR impr\x8as, n'hi ha l'adre\x87" "a",
      "{n} facturas en texto sin el c\xa2" "digo QR impreso, consta su direcci\xa2n",
      "{n} facturas en texto sen o c\xa2" "digo QR impreso, consta o seu enderezo",
      "{n} facturas en t\x8axte sens lo c\x95" "di QR imprimit, i a son adre\x87" "a"}},
    {TextWithoutCodeOne,
     {"1 factura en text sense el codi QR impr\x8as, n'hi ha l'adre\x87" "a",
      "1 factura en texto sin el c\xa2" "digo QR impreso, consta su direcci\xa2n",
      "1 factura en texto sen o c\xa2" "digo QR impreso, consta o seu enderezo",
      "1 factura en t\x8axte sens lo c\x95" "di QR imprimit, i a son adre\x87" "a"}},
    {IbanRefused,
     {"IBAN no v\x85lid a Tarn.ini [Emissor], no s'imprimeix", "IBAN no v\xa0lido en Tarn.ini [Emissor], no se imprime",
      "IBAN non v\xa0lido en Tarn.ini [Emissor], non se imprime",
      "IBAN pas valid dins Tarn.ini [Emissor], s'imprim\xa1s pas"}},
    {Usage,
     {"\xe9s: zepprint\n"
      "Imprimeix <ZEPTMP>zepprint.tmp a la sortida que diu la seva l\xa1nia DEVICE: un fitxer\n"
      ".pdf o .txt, PDF (<ZEPTMP>zepprint.pdf) o LP:impressora. ZEPPAPER: plantilla SVG\n"
      "de les p\x85gines PDF, amb les dades de ZEPROOT Tarn.ini [Emissor].\n"
      "zepprint --sample PLANTILLA.svg SORTIDA.png: una factura de mostra sobre la plantilla.",
      "Uso: zepprint\n"
      "Imprime <ZEPTMP>zepprint.tmp en la salida que indica su l\xa1nea DEVICE: un fichero\n"
      ".pdf o .txt, PDF (<ZEPTMP>zepprint.pdf) o LP:impresora. ZEPPAPER: plantilla SVG\n"
      "de las p\xa0ginas PDF, con los datos de ZEPROOT Tarn.ini [Emissor].\n"
      "zepprint --sample PLANTILLA.svg SALIDA.png: una factura de muestra sobre la plantilla.",
      "Uso: zepprint\n"
      "Imprime <ZEPTMP>zepprint.tmp na sa\xa1" "da que indica a s\xa3" "a li\xa4" "a DEVICE: un ficheiro\n"
      ".pdf ou .txt, PDF (<ZEPTMP>zepprint.pdf) ou LP:impresora. ZEPPAPER: modelo SVG\n"
      "das p\xa0xinas PDF, cos datos de ZEPROOT Tarn.ini [Emissor].\n"
      "zepprint --sample MODELO.svg SA\xd6" "DA.png: unha factura de mostra sobre o modelo.",
      "Usatge: zepprint\n"
      "Imprim\xa1s <ZEPTMP>zepprint.tmp a la sortida que ditz sa linha DEVICE: un fichi\x8ar\n"
      ".pdf o .txt, PDF (<ZEPTMP>zepprint.pdf) o LP:imprimenta. ZEPPAPER: mod\x8al SVG\n"
      "de las paginas PDF, amb las donadas de ZEPROOT Tarn.ini [Emissor].\n"
      "zepprint --sample MOD\x8aL.svg SORTIDA.png: una factura d'exemple sus lo mod\x8al."}},
    {UnknownArgument,
     {"Argument no v\x85lid: {s}", "Argumento no v\xa0lido: {s}", "Argumento non v\xa0lido: {s}",
      "Argument pas valid: {s}"}},
    {PaperTooSlow,
     {"No s'imprimeix: la plantilla {s} triga m\x82s de {n} s a dibuixar-se",
      "No se imprime: la plantilla {s} tarda m\xa0s de {n} s en dibujarse",
      "Non se imprime: o modelo {s} tarda m\xa0is de {n} s en debuxarse",
      "S'imprim\xa1s pas: lo mod\x8al {s} met mai de {n} s a se dessenhar"}},
}}};

// The row for a count of one, for the messages that have one.
PrintMessage ForCount(PrintMessage message, long number) {
  if (number != 1) return message;
  switch (message) {
    case WrittenTo: return WrittenToOne;
    case SentTo: return SentToOne;
    case Skipped: return SkippedOne;
    case Cut: return CutOne;
    case TextWithoutCode: return TextWithoutCodeOne;
    default: return message;
  }
}

void Replace(std::string& text, const std::string& mark, const std::string& value) {
  size_t at = text.find(mark);
  if (at != std::string::npos) text.replace(at, mark.size(), value);
}

}  // namespace

std::string MessageText(Language language, PrintMessage message, long number, const std::string& text) {
  std::string out = kPrintTexts.Text(ForCount(message, number), language);
  Replace(out, "{n}", std::to_string(number));
  Replace(out, "{s}", text);
  return out;
}

std::string SummaryLine(Language language, bool toPrinter, const std::string& target,
                        const SpoolTotals& totals, const std::vector<std::string>& notes) {
  std::string line = MessageText(language, toPrinter ? SentTo : WrittenTo, totals.pages, target);
  std::string joined;
  auto add = [&](const std::string& note) { joined += (joined.empty() ? "" : "; ") + note; };
  for (const std::string& note : notes) add(note);
  if (totals.skipped > 0) add(MessageText(language, Skipped, totals.skipped, ""));
  if (totals.cut > 0) add(MessageText(language, Cut, totals.cut, ""));
  if (!joined.empty()) line += " (" + joined + ")";
  return line;
}
