// zepfact: the invoice register's tool for the administrator and the
// accountant. Opens <root>DADES\RegFactV read-only (cancel and correct
// write to it). The root is --root DIR, else the environment's ZEPROOT,
// else the current folder, as for zepmenu: the suite has no root of its own
// installation, and the folder zepfact's program lives in holds programs,
// not a suite root.
//
//   zepfact [--root DIR] [--lang CAT|SPA|GLG|OCI] COMMAND ...
//   zepfact --help
//
// The commands, what each takes and its usage are the table of commands
// (commands.cpp); each group's file says what its commands do.
//
// Exit codes: 0 done (--help: the usage on stdout); 1 trouble, named in a
// message (also a correction's cause, form or amount that cannot be
// taken); 2 a usage error (the usage on stderr); send's own in send.h.
// Messages and pages go in --lang CAT|SPA|GLG|OCI, else the session's
// language: the terminal settings <ZEPTMP>TarnTerm.ini [Sistema] Idioma,
// else the suite's Tarn.ini [Usuari] Idioma, else Catalan.
#include <cstdio>
#include <string>

#include "base/ini.h"
#include "base/language.h"
#include "base/paths.h"
#include "base/text.h"
#include "formatting/settings.h"
#include "session/session.h"
#include "formatting/dates.h"
#include "suite/zepfact/commands.h"
#include "suite/zepfact/messages.h"
#include "suite/zepfact/program.h"

namespace {

Language SessionLanguage(const std::string& root, const std::string& given) {
  if (!given.empty()) return LanguageFromCode(given);
  std::string code = Trim(IniRead(SuiteDirectory(Environment("ZEPTMP")) + "TarnTerm.ini", "Sistema", "Idioma"));
  if (code.empty()) code = Trim(IniRead(root + "Tarn.ini", "Usuari", "Idioma"));
  return LanguageFromCode(code);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const std::string root = SuiteDirectory(options.haveRoot ? options.root : Environment("ZEPROOT"));
  const Language language = SessionLanguage(root, options.language);
  // Dates and amounts of the pages it makes as the session writes them.
  SetFormatSettings(LoadFormatSettings(root, LanguageCode(language)));
  if (options.help) {
    Say(stdout, UsageText(language));
    return 0;
  }
  // A correction's cause, form or amount that cannot be taken is bad data,
  // not a bad command line: said alone, with the trouble's exit code.
  if (options.bad && (options.error == FactMessage::BadAmount || options.error == FactMessage::BadCause ||
                      options.error == FactMessage::BadDescribedCause || options.error == FactMessage::BadForm)) {
    Say(stderr, FactText(options.error, language, options.errorText));
    return kExitTrouble;
  }
  if (options.bad) {
    // A refused date is told with the forms a date is written in.
    const std::string text = options.error == FactMessage::BadDate
                                 ? options.errorText + " (" + DateFormsText(language) + ")"
                                 : options.errorText;
    if (options.error != FactMessage::Usage) Say(stderr, FactText(options.error, language, text));
    Say(stderr, UsageText(language));
    return kExitUsage;
  }
  const int code = Program(options, root, language).Run();
  // Output that did not reach its file or pipe (a full disk) is a failure.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    Say(stderr, FactText(FactMessage::CannotWrite, language, "stdout"));
    return kExitTrouble;
  }
  return code;
}
