// korvadel: the fee-invoice module. Prepares everything the run and its
// screens need, in a fixed order, runs the fee-invoice run once, releases the
// data files and ends. Takes no arguments but --help (the usage on stdout,
// exit 0, with or without a terminal); any other argument gives the usage on
// the standard error stream and exit code 2. Otherwise the exit code is 0.
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "base/language.h"
#include "console/console.h"
#include "invoicing/run.h"
#include "korvadel/startup.h"
#include "session/session.h"

namespace {

// What the program itself says to the user, in the four languages side by
// side (Catalan, Spanish, Galician, Occitan). Unlike the texts of the layers
// below these are UTF-8: they go to the standard streams, not to the screen.
enum class ProgramMessage { NoTerminal, Usage, UnknownArgument };
constexpr MessageTable<ProgramMessage, 3> kProgramTexts{{{
    {ProgramMessage::NoTerminal,
     {"korvadel: cal un terminal a l'entrada i a la sortida est\u00e0ndard\n",
      "korvadel: necesita un terminal en la entrada y la salida est\u00e1ndar\n",
      "korvadel: precisa un terminal na entrada e na sa\u00edda est\u00e1ndar\n",
      "korvadel: cau un terminau ena entrada e ena sortida estandard\n"}},
    {ProgramMessage::Usage,
     {"\u00das: korvadel\n"
      "Factures d'honoraris de l'administrador, en un terminal. L'obre zepmenu, que prepara\n"
      "la sessi\u00f3 (zepmenu --root CARPETA [--lang CAT|SPA|GLG|OCI] [--device SORTIDA]).\n"
      "Entorn:\n"
      "  ZEPROOT  arrel de la instal\u00b7laci\u00f3: Tarn.ini, FORMS, LOCALE, AJUDA, DADES, ddf\n"
      "  ZEPEXE   carpeta dels programes de la suite (ZEPPRINT)\n"
      "  ZEPTMP   carpeta temporal de la sessi\u00f3: Sessio.ini (t\u00edtol) i TarnTerm.ini\n"
      "           (colors, data, sortida de la impressi\u00f3, idioma)\n",
      "Uso: korvadel\n"
      "Facturas de honorarios del administrador, en un terminal. Lo abre zepmenu, que prepara\n"
      "la sesi\u00f3n (zepmenu --root CARPETA [--lang CAT|SPA|GLG|OCI] [--device SALIDA]).\n"
      "Entorno:\n"
      "  ZEPROOT  ra\u00edz de la instalaci\u00f3n: Tarn.ini, FORMS, LOCALE, AJUDA, DADES, ddf\n"
      "  ZEPEXE   carpeta de los programas de la suite (ZEPPRINT)\n"
      "  ZEPTMP   carpeta temporal de la sesi\u00f3n: Sessio.ini (t\u00edtulo) y TarnTerm.ini\n"
      "           (colores, fecha, salida de la impresi\u00f3n, idioma)\n",
      "Uso: korvadel\n"
      "Facturas de honorarios do administrador, nun terminal. \u00c1breo zepmenu, que prepara\n"
      "a sesi\u00f3n (zepmenu --root CARTAFOL [--lang CAT|SPA|GLG|OCI] [--device SA\u00cdDA]).\n"
      "Contorno:\n"
      "  ZEPROOT  ra\u00edz da instalaci\u00f3n: Tarn.ini, FORMS, LOCALE, AJUDA, DADES, ddf\n"
      "  ZEPEXE   cartafol dos programas da suite (ZEPPRINT)\n"
      "  ZEPTMP   cartafol temporal da sesi\u00f3n: Sessio.ini (t\u00edtulo) e TarnTerm.ini\n"
      "           (cores, data, sa\u00edda da impresi\u00f3n, idioma)\n",
      "Usatge: korvadel\n"
      "Factures d'onoraris, en un terminau. Que la daurís zepmenu, que prepare\n"
      "era session (zepmenu --root CARPETA [--lang CAT|SPA|GLG|OCI] [--device SORTIDA]).\n"
      "Entorn:\n"
      "  ZEPROOT  ra\u00eftz dera installacion: Tarn.ini, FORMS, LOCALE, AJUDA, DADES, ddf\n"
      "  ZEPEXE   carpeta des programes dera suita (ZEPPRINT)\n"
      "  ZEPTMP   carpeta temporau dera session: Sessio.ini (t\u00edtol) e TarnTerm.ini\n"
      "           (colors, data, sortida dera impression, lengua)\n"}},
    {ProgramMessage::UnknownArgument,
     {"korvadel: argument no v\u00e0lid: ", "korvadel: argumento no v\u00e1lido: ",
      "korvadel: argumento non v\u00e1lido: ", "korvadel: argument non valid: "}},
}}};

// The language of the messages given before there is a screen: the
// session's, so the settings are read for them alone.
Language MessageLanguage() {
  SetUpSession();
  return LanguageFromCode(Session.Language);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const Language language = MessageLanguage();
    const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    if (!help) {
      std::fputs(kProgramTexts.Text(ProgramMessage::UnknownArgument, language), stderr);
      std::fprintf(stderr, "%s\n", argv[1]);
    }
    std::fputs(kProgramTexts.Text(ProgramMessage::Usage, language), help ? stdout : stderr);
    return help ? 0 : 2;
  }
  std::unique_ptr<Console> terminal = MakeTerminalConsole();
  if (!terminal) {
    std::fputs(kProgramTexts.Text(ProgramMessage::NoTerminal, MessageLanguage()), stderr);
    return 0;
  }
  // The screen, session, settings, form file, data files and tax classes.
  if (!StartModule(std::move(terminal))) EndModule();

  // The run, until the user leaves the parameter form with Esc.
  FeeInvoiceRun();

  // Every file released, the terminal given back, exit code 0.
  EndModule();
}
