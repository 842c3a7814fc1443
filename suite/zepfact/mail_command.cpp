#include "suite/zepfact/mail_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>

#include "base/child.h"
#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "mail/address.h"
#include "mail/log.h"
#include "mail/sending.h"
#include "mail/settings.h"
#include "printing/pages.h"
#include "printing/spool.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "register/agency.h"
#include "register/amend.h"
#include "suite/zepfact/program.h"

namespace {

std::string Line(const RegisterEntry& e, const std::string& address, const std::string& state,
                 const std::string& answer) {
  std::string line = PrintedInvoiceNumber(e.series, e.number) + "  " + KeyDigits(e.ownerCode) + "  " +
                     (address.empty() ? "-" : address) + "  " + state;
  if (!answer.empty() && answer != "-") line += "  (" + answer + ")";
  return line;
}

// Makes the missing PDFs of entries from their runs' archived spool files:
// one run of the print program per archive, its pages going to a scratch
// text file and the pages wanted each to its PDF (zepprint.pag), each with
// its codes and figures.
void MakeMissingPdfs(const std::vector<RegisterEntry>& entries, const std::string& root, Language language,
                     const std::string& printProgram) {
  std::map<std::string, std::string> pagesOf;  // archive -> side file text
  for (const RegisterEntry& e : entries) {
    const std::string pdf = InvoicePdfHostPath(root, e);
    if (e.archive.empty() || IsRegularFile(pdf)) continue;
    pagesOf[e.archive] += std::to_string(e.page) + "\t" + pdf + "\n";
  }
  for (const auto& [archive, pages] : pagesOf) {
    const std::string archived = HostPath(root + "ARXIU\\") + archive;
    std::string spool;
    if (ReadRegularFile(archived, spool, 256u << 20) != ReadResult::Ok) continue;
    const std::string base = std::getenv("TMPDIR") != nullptr && *std::getenv("TMPDIR") != '\0' ? std::getenv("TMPDIR") : "/tmp";
    std::string folder = base + "/zepfact-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) continue;
    folder += "/";
    if (spool.compare(0, 6, "DEVICE") == 0) {
      const size_t end = spool.find('\n');
      spool.erase(0, end == std::string::npos ? spool.size() : end + 1);
    }
    spool = "DEVICE" + folder + "pages.txt\r\n" + spool;
    std::string codes;
    const size_t dot = archived.find_last_of('.');
    if (ReadRegularFile(archived.substr(0, dot) + ".qr", codes, 1u << 20) != ReadResult::Ok) codes.clear();
    // Each page's own figures (totals, period, due date) go with it.
    std::string figures;
    if (ReadRegularFile(archived.substr(0, dot) + ".fig", figures, 64u << 20) != ReadResult::Ok) figures.clear();
    const std::string printedIn = FigureOfPage(figures, 1, "Idioma");
    const std::string code3(LanguageCode(printedIn.empty() ? language : LanguageFromCode(printedIn)));
    if (WriteWholeFile(folder + "zepprint.tmp", spool) == 0 && WriteWholeFile(folder + "zepprint.pag", pages) == 0 &&
        WriteWholeFile(folder + "zepprint.qr", codes) == 0 && WriteWholeFile(folder + "zepprint.fig", figures) == 0 &&
        WriteWholeFile(folder + "TarnTerm.ini", "[Sistema]\r\nIdioma=" + code3 + "\r\n") == 0) {
      ChildSpec spec;
      spec.program = printProgram;
      const std::vector<std::string> variables = PrintProgramEnvironment(
          folder, InvoiceStationeryHostPath(root, code3), root.empty() ? std::string() : HostDirectory(root));
      spec.environment = &variables;
      // Its closing line names the scratch file, not the user's concern:
      // its standard output goes to /dev/null (its errors still show).
      std::fflush(stdout);
      const int saved = ::dup(STDOUT_FILENO);
      const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
      if (saved >= 0 && null >= 0) ::dup2(null, STDOUT_FILENO);
      static_cast<void>(RunChild(spec));
      if (saved >= 0) {
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
      }
      if (null >= 0) ::close(null);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
}

int Status(const std::vector<RegisterEntry>& entries, const std::vector<RegisterEntry>& chain, const std::string& root,
           Language language) {
  const std::map<InvoiceKey, InvoiceState> states = InvoiceStates(chain);
  std::vector<MailLogLine> lines;
  size_t damaged = 0;
  static_cast<void>(ReadMailLog(HostPath(root + MailLogFileName), lines, &damaged));
  const std::map<MailKey, MailLogLine> last = LastMailStates(lines);
  std::map<std::string, OwnerAddresses> book;
  static_cast<void>(ReadAddressBook(HostPath(root + MailAddressFileName), book));
  int unsent = 0, failed = 0, sent = 0;
  for (const RegisterEntry& e : entries) {
    const auto state = states.find({e.series, e.number});
    if (state != states.end() && state->second.kind == InvoiceState::Kind::Cancelled) {
      Say(stdout, Line(e, "", MailTextOf(MailText::StateCancelled, language), ""));
      continue;
    }
    const InvoiceMailStatus status = MailStatusOf(e, last, book);
    if (status.addresses.empty()) Say(stdout, Line(e, "", MailTextOf(MailText::StateNoAddress, language), ""));
    for (const InvoiceMailStatus::AtAddress& at : status.addresses) {
      std::string text = Line(e, at.address, MailTextOf(at.state, language), at.answer);
      if (!at.time.empty()) text += "  " + at.time;
      Say(stdout, text);
    }
    using Overall = InvoiceMailStatus::Overall;
    ++(status.overall == Overall::Sent ? sent : status.overall == Overall::Failed ? failed : unsent);
  }
  Say(stdout, MailTextOf(MailText::SummarySent, language, "", sent));
  Say(stdout, MailTextOf(MailText::SummaryFailed, language, "", failed));
  Say(stdout, MailTextOf(MailText::SummaryUnsent, language, "", unsent));
  if (damaged == 0) return 0;
  Say(stderr, MailTextOf(MailText::ProblemLogDamaged, language,
                         Cp858ForDisplay(TidyHostPath(HostPath(root + MailLogFileName))), static_cast<int64_t>(damaged)));
  return 1;
}

}  // namespace

int MailCommand(const MailCommandOptions& options, const std::vector<RegisterEntry>& chain, const std::string& root,
                Language language, const std::string& printProgram) {
  std::vector<RegisterEntry> entries;
  if (!options.run.empty()) {
    const std::string name = options.run.substr(options.run.find_last_of('/') + 1);
    for (const RegisterEntry& e : chain) {
      if (e.archive == name) entries.push_back(e);
    }
  } else if (options.haveDates) {
    entries = SelectedEntries(chain, options.selection);
  } else if (options.status) {
    entries = chain;
  } else {
    std::vector<MailLogLine> lines;
    static_cast<void>(ReadMailLog(HostPath(root + MailLogFileName), lines));
    entries = EntriesToRetry(chain, lines);
  }
  // Cancellation records are no invoices; a cancelled invoice is listed
  // with what became of it, never sent.
  if (options.status) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const RegisterEntry& e) { return e.IsCancellation() || e.kind == RegisterKindCorrection; }),
                  entries.end());
    return Status(entries, chain, root, language);
  }
  entries = MailableInvoices(entries, chain);
  if (entries.empty()) {
    Say(stdout, MailTextOf(MailText::NothingToSend, language));
    return 0;
  }

  MakeMissingPdfs(entries, root, language, printProgram);
  MailRun run;
  run.rootDir = root;
  run.language = language;
  run.issuerName = IniReadTrimmed(root + "Tarn.ini", "Emissor", "Nom");
  const std::string decimal = IniReadTrimmed(root + "Tarn.ini", "Usuari", "DecCaracter");
  const std::string thousands = IniReadTrimmed(root + "Tarn.ini", "Usuari", "MilCaracter");
  if (decimal.size() == 1) run.decimal = decimal[0];
  if (thousands.size() == 1) run.thousands = thousands[0];
  run.dryRun = options.dryRun;
  run.again = options.again;
  MailReport report;
  std::string problem;
  const bool started = SendInvoiceMail(run, entries, report, problem);
  for (const MailOutcome& o : report.outcomes)
    Say(stdout, Line(*o.entry, o.address, MailTextOf(o.state, language), o.answer));
  if (!started || !problem.empty()) {
    Say(stderr, problem);
    return 1;
  }
  if (!options.dryRun) {
    Say(stdout, MailTextOf(MailText::SummarySent, language, "", report.sent));
    Say(stdout, MailTextOf(MailText::SummaryFailed, language, "", report.failed));
    Say(stdout, MailTextOf(MailText::SummaryNoAddress, language, "", report.noAddress));
  }
  return report.failed > 0 ? 1 : 0;
}
