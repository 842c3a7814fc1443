#include "invoicing/run_print.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <sys/stat.h>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "collection/collect.h"
#include "formatting/picture.h"
#include "formatting/settings.h"
#include "invoicing/run_form.h"
#include "invoicing/run_shared.h"
#include "mail/sending.h"
#include "mail/settings.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "register/agency.h"
#include "register/register.h"
#include "session/session.h"

namespace {

// What the user is told about the print program |program| (a code page
// path) that ended as |end|; empty when it ran and ended with status 0.
std::string PrintProgramTrouble(const ChildEnd& end, const std::string& program) {
  if (end.Succeeded()) return std::string();
  if (!end.started) return RunText(RunMessage::PrintProgramNotStarted) + program;
  const std::string failed = RunText(RunMessage::PrintProgramFailed) + program;
  // What the program said last tells the user why (its output went to a
  // file of the session, not onto the screen).
  const std::string note = PrintProgramNote();
  const std::string said = note.empty() ? std::string() : RunText(RunMessage::ProgramSaid) + note;
  if (end.exited) return failed + RunText(RunMessage::ExitStatus) + std::to_string(end.exitCode) + said;
  return failed + RunText(RunMessage::EndedBySignal) + std::to_string(end.signal) + said;
}

// What the user is told of a print that did not end well: stopped with
// Esc, or the print program's trouble; empty when it printed.
std::string PrintTrouble(const ChildEnd& end) {
  if (end.stopped) return RunText(RunMessage::PrintStopped);
  return PrintProgramTrouble(end, Cp858ForDisplay(PrintProgramPath()));
}

// An amount of the summary as the invoice prints it.
std::string SummaryAmount(double cents, const std::string& currency) {
  return TrimLeft(FormatAmount("Z,ZZZ,ZZZ,ZZ9-", cents, currency));
}

// One line of the summary, filling the message width so that every line
// starts a line of the window (a line cannot start with blanks: the window
// drops those that follow a line).
std::string SummaryLine(std::string line) {
  constexpr size_t Width = 76;
  if (line.size() < Width) line.resize(Width, ' ');
  return line;
}

// A line of the summary with a value: label, dots, the value from column 42.
std::string SummaryLine(const std::string& label, const std::string& value) {
  std::string line = label + " ";
  const size_t valueStart = 40;
  if (line.size() < valueStart) line.append(valueStart - line.size(), '.');
  return SummaryLine(line + " " + value);
}

// Where the print program put the output: the file zepprint.out names
// (UTF-8, shown in the code page), else the output device.
std::string OutputPlace() {
  std::string named;
  if (ReadRegularFile(SpoolDirectory() + "zepprint.out", named, 4096) == ReadResult::Ok) {
    const size_t end = named.find_first_of("\r\n");
    named = Trim(named.substr(0, end));
    if (!named.empty()) return Cp858ForDisplay(named);
  }
  return Session.OutputDevice;
}

// Asks a question of the summary in a window, keys typed before it
// dropped: true for S (O in Occitan).
bool AnsweredYes(std::string question) {
  const bool shown = ShowMessageWindow(kRunMessageRow, question) == 0;
  DiscardPendingKeys();
  const int key = WaitForKey();
  if (shown) PopWindow();
  return key == 'S' || key == 's' || key == 'O' || key == 'o';
}

// After a registered run with e-mail on: asks whether its invoices go by
// e-mail now (S, or O in Occitan), and sends them. The lines for the run's
// summary: how many were sent, failed or have no address; empty when the
// user said no.
std::string OfferToSend(const std::vector<RegisterEntry>& registered) {
  if (!AnsweredYes(RunText(RunMessage::SendMailNow))) return std::string();
  MailRun run;
  run.rootDir = Session.RootDir;
  run.language = LanguageFromCode(Session.Language);
  run.issuerName = IssuerDetails[IssuerItem::Name];
  run.decimal = CurrentFormatSettings().decimalChar;
  run.thousands = CurrentFormatSettings().thousandsChar;
  MailReport report;
  std::string problem;
  std::string sending = RunText(RunMessage::SendingMail);
  const bool sendingShown = ShowMessageWindow(kRunMessageRow, sending) == 0;
  const bool started = SendInvoiceMail(run, registered, report, problem);
  if (sendingShown) PopWindow();
  if (!started) return SummaryLine(RunText(RunMessage::MailNotSent) + problem);
  std::string lines = SummaryLine(MailTextOf(MailText::SummarySent, run.language, "", report.sent)) +
                      SummaryLine(MailTextOf(MailText::SummaryFailed, run.language, "", report.failed)) +
                      SummaryLine(MailTextOf(MailText::SummaryNoAddress, run.language, "", report.noAddress));
  if (!problem.empty()) lines += SummaryLine(problem);
  return lines;
}

// After a registered run, where the owners' mandates are kept: asks
// whether the run's invoices go into a direct-debit remittance now, with
// the earliest collection date the schemes allow, and writes it
// (REMESES\<the run's archive>.xml) as zepfact remittance --run does. The
// lines for the run's summary; empty when the user said no.
std::string OfferRemittance(const std::string& archiveName, const std::string& currency) {
  const Language language = LanguageFromCode(Session.Language);
  const std::string date = EarliestRemittanceDate();
  if (!AnsweredYes(RunText(RunMessage::RemittanceNow) + CollectionDateText(date) + RunText(RunMessage::YesNo)))
    return std::string();
  InvoiceRegister reg;
  std::vector<RegisterEntry> chain;
  int16_t status = reg.Open(HostPath(Session.RootDir + RegisterFileName),
                            HostPath(Session.RootDir + "ddf\\" + RegisterDictionaryBaseName + ".xdf"), true,
                            HostPath(Session.RootDir + EarlierRegisterFileName));
  if (status == 0) status = reg.ReadAll(chain);
  if (status != 0) return SummaryLine(RunText(RunMessage::RemittanceNotWritten) + std::to_string(status));
  const std::string folder = HostPath(Session.RootDir + "REMESES\\");
  const std::string name = archiveName.substr(0, archiveName.find_last_of('.')) + ".xml";
  static_cast<void>(::mkdir(folder.c_str(), 0755));
  RemittanceAsk ask;
  ask.root = Session.RootDir;
  ask.chain = &chain;
  ask.selects = [&archiveName](const RegisterEntry& e) { return e.archive == archiveName; };
  ask.collectionDate = date;
  ask.output = folder + name;
  ask.language = language;
  const RemittanceDone done = WriteRemittance(ask);
  if (!done.problem.empty()) return SummaryLine(done.problem);
  if (done.debits == 0) return SummaryLine(done.Summary(language));
  std::string lines =
      SummaryLine(RunText(RunMessage::RemittanceWritten) + std::to_string(done.debits) + ")",
                  SummaryAmount(static_cast<double>(done.total), currency)) +
      SummaryLine(RunText(RunMessage::RemittanceFile) + "REMESES/" + Cp858ForDisplay(name));
  const size_t leftOut = done.lines.size() - static_cast<size_t>(done.debits);
  if (leftOut > 0) lines += SummaryLine(RunText(RunMessage::RemittanceLeftOut) + std::to_string(leftOut));
  return lines;
}

// Puts a registered run's archived spool file, codes and figures back
// where the print program reads them: the run is printed again as it was
// archived (a run archived before it had figures prints without them).
bool SpoolFromArchive(const std::string& name) {
  const std::string archived = HostPath(Session.RootDir + "ARXIU\\") + name;
  const std::string stem = archived.substr(0, archived.size() - 4);
  const std::string spoolDir = SpoolDirectory();
  std::remove(PrintFilePath().c_str());
  for (const char* side : {"zepprint.qr", "zepprint.fig", "zepprint.out"}) std::remove((spoolDir + side).c_str());
  return CopyFileExclusively(archived, PrintFilePath(), 0644) == 0 &&
         CopyFileExclusively(stem + ".qr", spoolDir + "zepprint.qr", 0644) == 0 &&
         (!IsRegularFile(stem + ".fig") || CopyFileExclusively(stem + ".fig", spoolDir + "zepprint.fig", 0644) == 0);
}

// The count and the numbers of a run's invoices, for the user.
std::string RunRange(const std::vector<IssuedInvoice>& issued) {
  if (issued.empty()) return std::string();
  return std::to_string(issued.size()) + " (" + PrintedInvoiceNumber(issued.front().series, issued.front().number) +
         " - " + PrintedInvoiceNumber(issued.back().series, issued.back().number) + ")";
}

// A registered pass whose printing failed with trouble: told, and printed
// again from its archive as long as it fails and the user asks. What is
// left to tell: empty when a print ended well, else the last trouble or
// where the run can be printed from later.
std::string ReprintFromArchive(const PrintProgramStarter& runPrintProgram, const PrintedPass& pass,
                               std::string trouble) {
  while (!trouble.empty()) {
    TellUser(trouble);
    const std::string registeredText = RunText(RunMessage::RunRegisteredNotPrinted) + RunRange(pass.issued);
    if (!ConfirmAfter(registeredText + RunText(RunMessage::PrintAgainFromArchive)))
      return registeredText + RunText(RunMessage::ReprintLater) + pass.archiveName;
    trouble = SpoolFromArchive(pass.archiveName)
                  ? PrintTrouble(runPrintProgram())
                  : RunText(RunMessage::SpoolNotWritten) + Cp858ForDisplay(PrintFilePath());
  }
  return trouble;
}

// Whether the session prints into a text file.
bool OutputIsText() {
  const std::string device = Trim(Session.OutputDevice);
  return device.size() > 4 &&
         (device.compare(device.size() - 4, 4, ".txt") == 0 || device.compare(device.size() - 4, 4, ".TXT") == 0);
}

// The summary of a run that printed, the amounts in currency; extraLine,
// when not empty, before where the output went.
std::string RunSummary(const RunTotals& totals, const std::string& extraLine, const std::string& currency) {
  std::string text = SummaryLine(RunText(RunMessage::SummaryInvoices) + std::to_string(totals.count));
  for (const SeriesRange& range : totals.ranges)
    text += SummaryLine(PrintedInvoiceNumber(range.series, range.first) + " - " +
                        PrintedInvoiceNumber(range.series, range.last));
  const std::pair<RunMessage, std::string> sums[] = {
      {RunMessage::SummaryBases, SummaryAmount(totals.base, currency)},
      {RunMessage::SummaryVat, SummaryAmount(totals.vat, currency)},
      {RunMessage::SummaryWithholding, SummaryAmount(totals.withholding, currency)},
      {RunMessage::SummaryTotal, SummaryAmount(totals.total, currency)},
  };
  size_t width = 0;
  for (const auto& [label, amount] : sums) width = std::max(width, amount.size());
  for (const auto& [label, amount] : sums) text += SummaryLine(RunText(label), FixedWidthRight(amount, width));
  if (!extraLine.empty()) text += SummaryLine(extraLine);
  return text + RunText(RunMessage::SummaryOutput) + OutputPlace();
}

// What the user is told of a pass that printed.
std::string PrintedText(const PrintedPass& pass) {
  // With e-mail on, a registered run that printed offers to send at once.
  std::string mailed;
  if (!pass.registered.empty() && LoadMailSettings(Session.RootDir).active) mailed = OfferToSend(pass.registered);
  // Where the owners' mandates are kept, it offers the run's remittance.
  if (!pass.registered.empty() && IsRegularFile(HostPath(Session.RootDir + MandateFileName) + ".dat"))
    mailed += OfferRemittance(pass.archiveName, pass.currency);
  const std::string summary = mailed + RunSummary(pass.totals, SendingBacklogText(), pass.currency);
  // A text file cannot carry the tax code's picture: its pages give the
  // code's address instead, and the user is told.
  if (pass.registerActive && OutputIsText()) return SummaryLine(RunText(RunMessage::TextWithoutCode)) + summary;
  return summary;
}

}  // namespace

void PrintPass(const PrintProgramStarter& runPrintProgram, const PrintedPass& pass) {
  const ChildEnd printed = runPrintProgram();
  if (printed.stopped && pass.archiveName.empty()) {
    // Stopped with Esc: the earlier output is as it was.
    TellUser(RunText(RunMessage::PrintStopped) +
             (pass.registerActive ? RunText(RunMessage::StoppedRegistered) : std::string()));
    return;
  }
  // A registered run stopped with Esc is issued all the same: offered to
  // print again as a failed print is.
  std::string trouble = PrintTrouble(printed);
  if (!pass.archiveName.empty()) trouble = ReprintFromArchive(runPrintProgram, pass, trouble);
  TellUser(trouble.empty() ? PrintedText(pass) : trouble);
}
