#include "suite/zepprint/messages.h"

#include <array>

namespace {

// Rows in the order of PrintMessage; columns Catalan, Spanish, Galician,
// Occitan.
const std::array<std::array<const char*, 4>, 9> Texts = {{
    {"{n} p\x85gines escrites a {s}", "{n} p\xa0ginas escritas en {s}",
     "{n} p\xa0xinas escritas en {s}", "{n} paginas escrichas dins {s}"},
    {"{n} p\x85gines enviades a la impressora {s}", "{n} p\xa0ginas enviadas a la impresora {s}",
     "{n} p\xa0xinas enviadas \xa0 impresora {s}", "{n} paginas mandadas a l'imprimenta {s}"},
    {"No es pot llegir el fitxer d'impressi\xa2 {s}",
     "No se puede leer el fichero de impresi\xa2n {s}",
     "Non se pode ler o ficheiro de impresi\xa2n {s}",
     "Se p\x95t pas legir lo fichi\x8ar d'impression {s}"},
    {"No es pot escriure {s}", "No se puede escribir {s}", "Non se pode escribir {s}",
     "Se p\x95t pas escriure {s}"},
    {"No es pot enviar a la impressora {s} (lp)", "No se puede enviar a la impresora {s} (lp)",
     "Non se pode enviar \xa0 impresora {s} (lp)",
     "Se p\x95t pas mandar a l'imprimenta {s} (lp)"},
    {"dispositiu desconegut \"{s}\", sortida en PDF",
     "dispositivo desconocido \"{s}\", salida en PDF",
     "dispositivo desco\xa4\x65\x63ido \"{s}\", sa\xa1\x64\x61 en PDF",
     "periferic desconegut \"{s}\", sortida en PDF"},
    {"sense l\xa1nia DEVICE, sortida en PDF", "sin l\xa1nea DEVICE, salida en PDF",
     "sen li\xa4\x61 DEVICE, sa\xa1\x64\x61 en PDF", "sens linha DEVICE, sortida en PDF"},
    {"{n} l\xa1nies no reconegudes", "{n} l\xa1neas no reconocidas", "{n} li\xa4\x61s non reco\xa4\x65\x63idas",
     "{n} linhas pas reconegudas"},
    {"{n} textos tallats a la columna 96", "{n} textos cortados en la columna 96",
     "{n} textos cortados na columna 96", "{n} t\x8axtes copats a la colomna 96"},
}};

// Forms for a count of exactly one, by the same columns: written, sent,
// skipped, cut.
const std::array<std::array<const char*, 4>, 4> Singular = {{
    {"1 p\x85gina escrita a {s}", "1 p\xa0gina escrita en {s}", "1 p\xa0xina escrita en {s}",
     "1 pagina escricha dins {s}"},
    {"1 p\x85gina enviada a la impressora {s}", "1 p\xa0gina enviada a la impresora {s}",
     "1 p\xa0xina enviada \xa0 impresora {s}", "1 pagina mandada a l'imprimenta {s}"},
    {"1 l\xa1nia no reconeguda", "1 l\xa1nea no reconocida", "1 li\xa4\x61 non reco\xa4\x65\x63ida",
     "1 linha pas reconeguda"},
    {"1 text tallat a la columna 96", "1 texto cortado en la columna 96",
     "1 texto cortado na columna 96", "1 t\x8axte copat a la colomna 96"},
}};

void Replace(std::string& text, const std::string& mark, const std::string& value) {
  size_t at = text.find(mark);
  if (at != std::string::npos) text.replace(at, mark.size(), value);
}

}  // namespace

std::string MessageText(const std::string& language, PrintMessage message, long number,
                        const std::string& text) {
  const std::string code = language.substr(0, 3);
  size_t column = code == "SPA" ? 1 : code == "GLG" ? 2 : code == "OCI" ? 3 : 0;
  std::string out = Texts[static_cast<size_t>(message)][column];
  if (number == 1) {
    switch (message) {
      case PrintMessage::WrittenTo: out = Singular[0][column]; break;
      case PrintMessage::SentTo: out = Singular[1][column]; break;
      case PrintMessage::Skipped: out = Singular[2][column]; break;
      case PrintMessage::Cut: out = Singular[3][column]; break;
      default: break;
    }
  }
  Replace(out, "{n}", std::to_string(number));
  Replace(out, "{s}", text);
  return out;
}

std::string SummaryLine(const std::string& language, bool toPrinter, const std::string& target,
                        const SpoolTotals& totals, const std::string& deviceNote) {
  std::string line = MessageText(language, toPrinter ? PrintMessage::SentTo : PrintMessage::WrittenTo,
                                 totals.pages, target);
  std::string notes;
  auto add = [&](const std::string& note) { notes += (notes.empty() ? "" : "; ") + note; };
  if (!deviceNote.empty()) add(deviceNote);
  if (totals.skipped > 0) add(MessageText(language, PrintMessage::Skipped, totals.skipped, ""));
  if (totals.cut > 0) add(MessageText(language, PrintMessage::Cut, totals.cut, ""));
  if (!notes.empty()) line += " (" + notes + ")";
  return line;
}
