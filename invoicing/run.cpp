#include "invoicing/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/console.h"
#include "console/screen.h"
#include "console/tell.h"
#include "formatting/picture.h"
#include "invoicing/messages.h"
#include "invoicing/production.h"
#include "printing/spool.h"
#include "records/messages.h"
#include "register/register.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"

namespace {

constexpr int16_t ParameterForm = 1;
constexpr int16_t KeyEscape = 27;
constexpr int MessageRow = 12;

int16_t RunParameterForm() {
  int16_t form = ParameterForm;
  int16_t key = 0;
  RunForm(form, 0, 0, key);
  return key;
}

// How the print program ended: not started (errno), exited with a status,
// or ended by a signal.
ChildEnd StartPrintProgram() {
  return RunPrintProgram(SuspendTerminal, ResumeTerminal, RunStationeryHostPath());
}

// Value k of form 1, or the empty text when the tables lack it.
std::string FormValue(int16_t k) {
  if (ParameterForm >= static_cast<int16_t>(FieldValue.size())) return "";
  const std::vector<std::string>& values = FieldValue[ParameterForm];
  return k < static_cast<int16_t>(values.size()) ? values[static_cast<size_t>(k)] : std::string();
}

// The run's text |id| in the session language.
std::string RunText(RunMessage id) { return kRunTexts.Text(id, LanguageFromCode(Session.Language)); }

// What the user is told about the print program |program| (a code page
// path) that ended as |end|; empty when it ran and ended with status 0.
std::string PrintProgramTrouble(const ChildEnd& end, const std::string& program) {
  if (end.Succeeded()) return std::string();
  if (!end.started) return RunText(RunMessage::PrintProgramNotStarted) + program;
  const std::string failed = RunText(RunMessage::PrintProgramFailed) + program;
  if (end.exited) return failed + RunText(RunMessage::ExitStatus) + std::to_string(end.exitCode);
  return failed + RunText(RunMessage::EndedBySignal) + std::to_string(end.signal);
}

void TellUser(const std::string& message) { TellUserAndWait(MessageRow, message); }

void ClearScreen() {
  ScrollRegion(0, 0, ScreenRows() - 1, ScreenColumns() - 1, ScreenRows());
  LocateAbsolute(1, 1);
}

// The host directory of the spool file, ending in "/": where the print
// program's side files (zepprint.qr, zepprint.out) are.
std::string SpoolDirectory() {
  const std::string spool = PrintFilePath();
  const size_t slash = spool.find_last_of('/');
  return slash == std::string::npos ? std::string() : spool.substr(0, slash + 1);
}

// Amounts in the summary as the invoice prints them.
std::string SummaryAmount(double cents) {
  SetCurrency("p");
  std::string text = TrimLeft(FormatAmount("Z,ZZZ,ZZZ,ZZ9-", cents));
  SetCurrency("");
  return text;
}

// One line of the summary: label, dots, amount, filling the message width
// so that every line starts a line of the window.
std::string SummaryLine(const std::string& label, const std::string& value) {
  constexpr size_t Width = 76;
  std::string line = label + " ";
  const size_t valueStart = 40;
  if (line.size() < valueStart) line.append(valueStart - line.size(), '.');
  line += " " + value;
  if (line.size() < Width) line.resize(Width, ' ');
  return line;
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

std::string RunSummary(const RunTotals& totals) {
  std::string text = SummaryLine(RunText(RunMessage::SummaryInvoices) + std::to_string(totals.count),
                                 ZeroPad(totals.firstNumber, 8) + " - " + ZeroPad(totals.lastNumber, 8));
  text += SummaryLine(RunText(RunMessage::SummaryBases), SummaryAmount(totals.base));
  text += SummaryLine(RunText(RunMessage::SummaryVat), SummaryAmount(totals.vat));
  text += SummaryLine(RunText(RunMessage::SummaryWithholding), SummaryAmount(totals.withholding));
  text += SummaryLine(RunText(RunMessage::SummaryTotal), SummaryAmount(totals.total));
  return text + RunText(RunMessage::SummaryOutput) + OutputPlace();
}

// The archive name of a run whose first number is first, at the local time
// now: "F" + the eight digits as printed + "-" + YYMMDDhhmm + ".zsp", 24
// characters as the register's Archive field holds.
std::string ArchiveName(int32_t first) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // Built by appending: GCC 12 at -O3 misreads "F" + text as an
  // overlapping copy.
  std::string name("F");
  name.append(ZeroPad(first, 8)).append("-");
  for (int part : {local.tm_year % 100, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min})
    name.append(ZeroPad(part, 2));
  return name.append(".zsp");
}

// The register for the whole run, opened at its first use.
class RunRegister {
 public:
  // 0, or the record manager's status of the open.
  int16_t Ready() {
    if (status_ < 0) {
      status_ = register_.Open(HostPath(Session.RootDir + RegisterFileName),
                               HostPath(Session.RootDir + "ddf\\" + RegisterDictionaryBaseName + ".xdf"), false);
    }
    return status_;
  }
  InvoiceRegister& Get() { return register_; }

 private:
  InvoiceRegister register_;
  int16_t status_ = -1;
};

// The register's highest number + 1, or 0 when it holds nothing or cannot
// be read.
int32_t NextFreeNumber(RunRegister& reg) {
  int32_t highest = 0;
  if (reg.Ready() != 0 || reg.Get().HighestNumber(highest) != 0 || highest == 0) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(highest) + 1u);
}

// Warns when the register's chain is broken (once per run of the module).
void CheckRegisterChain(RunRegister& reg) {
  std::vector<RegisterEntry> entries;
  if (reg.Ready() != 0 || reg.Get().ReadAll(entries) != 0) return;
  const int64_t broken = FirstBrokenLink(entries);
  if (broken < 0) return;
  const RegisterEntry& entry = entries[static_cast<size_t>(broken)];
  TellUser(RunText(RunMessage::RegisterDamaged) + std::to_string(entry.sequence) + " (" +
           PrintedInvoiceNumber(entry.series, entry.number) + ")");
}

// Archives the closed spool file with the codes of the pass beside it and
// adds the pass's invoices to the register, all or nothing. True when the
// pages may be printed; otherwise the user has been told why, and nothing
// is left behind (no archive copy, no side file, no register record).
bool RegisterPass(RunRegister& reg, const std::vector<IssuedInvoice>& issued, bool testEnvironment) {
  const std::string spoolDir = SpoolDirectory();
  const std::string sideFile = spoolDir + "zepprint.qr";
  std::vector<RegisterEntry> entries(issued.size());
  const std::string issuerTaxId = RegisterIssuerTaxId(IssuerDetails[IssuerItem::TaxNumber]);
  for (size_t i = 0; i < issued.size(); ++i) {
    if (!RegisterEntryOf(issued[i], issuerTaxId, entries[i])) {
      TellUser(RunText(RunMessage::RegisterNotWritten));
      return false;
    }
  }
  const int16_t ready = reg.Ready();
  if (ready != 0) {
    TellUser(RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(ready));
    return false;
  }

  // A number already issued is told before anything is made (Append below
  // checks again, for a process that registers in the meantime).
  for (const RegisterEntry& entry : entries) {
    RegisterEntry found;
    if (reg.Get().Find(entry.number, found) == 0) {
      TellUser(RunText(RunMessage::NumberIssued) + std::to_string(entry.number) + RunText(RunMessage::NextFree) +
               std::to_string(NextFreeNumber(reg)));
      return false;
    }
  }

  const std::string archiveDir = HostPath(Session.RootDir + "ARXIU\\");
  ::mkdir(archiveDir.c_str(), 0755);
  const std::string name = ArchiveName(issued.front().number);
  const std::string archived = archiveDir + name;
  const std::string archivedCodes = archived.substr(0, archived.size() - 4) + ".qr";
  std::string codes;
  for (RegisterEntry& entry : entries) {
    entry.archive = name;
    codes += std::to_string(entry.page) + "\t" + TaxQrUrl(entry, testEnvironment) + "\n";
  }
  auto discard = [&]() {
    std::remove(archived.c_str());
    std::remove(archivedCodes.c_str());
    std::remove(sideFile.c_str());
  };
  // The archive is made exclusively: an existing archive is never
  // overwritten.
  if (CopyFileExclusively(PrintFilePath(), archived, 0644) != 0) {
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archived)));
    return false;
  }
  if (WriteWholeFile(sideFile, codes) != 0 || CopyFileExclusively(sideFile, archivedCodes, 0644) != 0) {
    discard();
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archivedCodes)));
    return false;
  }

  // Another process holding the register is waited out, a minute at most.
  // The record layer's lock message stays up meanwhile.
  int waits = 0;
  bool lockShown = false;
  auto waitLocked = [&waits, &lockShown]() {
    if (++waits > 240) return false;
    if (waits == 1) {
      std::string text = kRecordTexts.Text(RecordMessage::FileLocked, LanguageFromCode(Session.Language));
      lockShown = ShowMessageWindow(MessageRow, text) == 0;
    }
    ::usleep(250000);
    return true;
  };
  int32_t firstIssued = 0;
  const int16_t status = reg.Get().Append(entries, GenerationTimeNow(), firstIssued, waitLocked);
  if (lockShown) PopWindow();
  if (status == 0) return true;
  discard();
  if (status == RegisterNumberIssued) {
    TellUser(RunText(RunMessage::NumberIssued) + std::to_string(firstIssued) + RunText(RunMessage::NextFree) +
             std::to_string(NextFreeNumber(reg)));
  } else {
    TellUser(RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(status));
  }
  return false;
}

}  // namespace

std::string RunStationeryHostPath() {
  return InvoiceStationeryHostPath(Session.RootDir, TrimRight(Session.Language));
}

RunHooks& FeeInvoiceRunHooks() {
  static RunHooks hooks{RunParameterForm, StartPrintProgram};
  return hooks;
}

void FeeInvoiceRun() {
  SetDisplayMode("n");
  ClearScreen();
  const RegisterSettings registerSettings = LoadRegisterSettings(Session.RootDir);
  RunRegister reg;
  if (registerSettings.active) CheckRegisterChain(reg);
  for (;;) {
    RunHooks& hooks = FeeInvoiceRunHooks();
    if (registerSettings.active) {
      // The form offers the number after the register's highest; the user
      // may still type another one.
      const int32_t next = NextFreeNumber(reg);
      if (next != 0) SetFieldValue(ParameterForm, 6, std::to_string(next));
    }
    if (hooks.runForm() == KeyEscape) return;

    OpenPrintFile(Session.OutputDevice);
    SetCurrency("p");
    // The parameters are built anew from the form at every pass, so the
    // numbering restarts from the number the user typed.
    InvoiceParameters parameters =
        InvoiceParametersFromTexts(FormValue(1), FormValue(2), FormValue(3), FormValue(4), FormValue(5), FormValue(6));
    const int32_t firstNumber = parameters.NextInvoiceNumber;
    std::vector<IssuedInvoice> issued;
    RunTotals totals;
    RecordFailure failure;
    const int16_t produced = ProduceInvoices(
        parameters,
        [&issued, &totals](const IssuedInvoice& invoice) {
          issued.push_back(invoice);
          totals.Add(invoice);
        },
        &failure);
    SetCurrency("");
    ClosePrintFile();

    if (produced == ProductionRecordFailed) {
      // Pages computed from part of the data must not reach the printer.
      TellUser(RunText(RunMessage::DataFileUnreadable) + failure.fileName + RunText(RunMessage::Status) +
               std::to_string(failure.status));
      continue;
    }
    if (produced != ProductionDone || PrintFileFailed()) {
      // A spool file that is missing or cut short must not reach the printer.
      // The path is the host's (UTF-8); the message is in the code page.
      TellUser(RunText(RunMessage::SpoolNotWritten) + Cp858ForDisplay(PrintFilePath()));
      continue;
    }
    // The number goes up by one per page: unchanged, no page was written. A
    // spool without pages would print as a blank page that looks like a
    // result, so the user is told instead.
    if (parameters.NextInvoiceNumber == firstNumber) {
      TellUser(RunText(RunMessage::NothingToPrint));
      continue;
    }
    // Side files of an earlier run must not be taken for this one's.
    const std::string spoolDir = SpoolDirectory();
    std::remove((spoolDir + "zepprint.out").c_str());
    std::remove((spoolDir + "zepprint.qr").c_str());
    if (registerSettings.active && !RegisterPass(reg, issued, registerSettings.testEnvironment)) continue;
    // The path is the host's (UTF-8); the message is in the code page.
    const std::string trouble = PrintProgramTrouble(hooks.runPrintProgram(), Cp858ForDisplay(PrintProgramPath()));
    TellUser(trouble.empty() ? RunSummary(totals) : trouble);
  }
}
