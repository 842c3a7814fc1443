// korvadel: the fee-invoice module. Prepares everything the run and its
// screens need, in a fixed order, runs the fee-invoice run once, releases the
// data files and ends. Takes no arguments; the exit code is always 0.
#include <cstdio>
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
// below these are UTF-8: they go to the standard error stream, not to the
// screen.
enum class ProgramMessage { NoTerminal };
constexpr MessageTable<ProgramMessage, 1> kProgramTexts{{{
    {ProgramMessage::NoTerminal,
     {"korvadel: cal un terminal a l'entrada i a la sortida est\u00e0ndard\n",
      "korvadel: necesita un terminal en la entrada y la salida est\u00e1ndar\n",
      "korvadel: precisa un terminal na entrada e na sa\u00edda est\u00e1ndar\n",
      "korvadel: cau un terminau ena entrada e ena sortida estandard\n"}},
}}};

// The one message given before there is a screen: in the session's
// language, so the settings are read for it alone.
const char* NoTerminalMessage() {
  SetUpSession();
  return kProgramTexts.Text(ProgramMessage::NoTerminal, LanguageFromCode(Session.Language));
}

}  // namespace

int main() {
  std::unique_ptr<Console> terminal = MakeTerminalConsole();
  if (!terminal) {
    std::fputs(NoTerminalMessage(), stderr);
    return 0;
  }
  // The screen, session, settings, form file, data files and tax classes.
  if (!StartModule(std::move(terminal))) EndModule();

  // The run, until the user leaves the parameter form with Esc.
  FeeInvoiceRun();

  // Every file released, the terminal given back, exit code 0.
  EndModule();
}
