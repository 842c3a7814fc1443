// The fee-invoice run's loop: the parameter form, F7 to the register
// screen, and one pass per accepted form. The form and its questions are in
// run_form, the register's numbering in run_numbering, the register's part
// of a pass in run_register and the printing and summary in run_print.
#include "invoicing/run.h"

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/picture.h"
#include "invoicing/figures.h"
#include "invoicing/keeping.h"
#include "invoicing/production.h"
#include "invoicing/run_form.h"
#include "invoicing/run_numbering.h"
#include "invoicing/run_print.h"
#include "invoicing/run_register.h"
#include "invoicing/run_shared.h"
#include "invoicing/sendmode.h"
#include "issuing/context.h"
#include "issuing/words.h"
#include "invoicing/settle.h"
#include "printing/spool.h"
#include "session/session.h"

namespace {

constexpr int16_t KeyEscape = 27;

void ClearScreen() {
  ScrollRegion(0, 0, ScreenRows() - 1, ScreenColumns() - 1, ScreenRows());
  LocateAbsolute(1, 1);
}

// What the run keeps from one showing of the form to the next.
struct RunState {
  RegisterSettings settings;
  RunRegister reg;
  KeepingMode keeping;
  std::string keepingProblem;  // why the not-sending mode cannot sign, told at every pass

  // The register is on and can be used.
  bool RegisterReady() { return settings.active && reg.Ready() == 0; }
};

// With the register on, once when the run starts: what stopped runs left is
// ended, the chain is checked, and a certificate that cannot sign (the
// not-sending mode) or settings a registered run cannot take are told at
// once; every pass is refused with the same message until they are mended.
void StartRegisteredRun(RunState& run) {
  static_cast<void>(RecoverStoppedRuns(run.reg));  // told; each pass tries again
  CheckRegisterChain(run.reg);
  if (run.reg.Ready() == 0) StartKeeping(run.keeping, run.reg.Get());
  run.keepingProblem = KeepingProblemText(run.keeping, RunText(RunMessage::KeyRefused));
  if (!run.keepingProblem.empty()) TellUser(run.keepingProblem);
  const std::string problem = RegisterSettingsProblem();
  if (!problem.empty()) TellUser(problem);
}

// Shows form 1 through hooks.runForm (prepared for a registered run, with a
// warning below it while a check's anomaly stands): the key that ended it.
int16_t ShowForm(RunState& run, const RunHooks& hooks) {
  if (run.settings.active) PrepareRegisteredForm(run.reg);
  if (run.RegisterReady()) run.keeping.Summarise(run.reg.Get(), false);
  std::string anomaly = run.keeping.AnomalyStands() ? RunText(RunMessage::AnomalyStands) : std::string();
  const bool warned = !anomaly.empty() && ShowMessageWindow(ScreenRows() - 1, anomaly) == 0;
  // While the form waits, a summary that falls due is logged all the same.
  SetWaitingHook([&run] {
    if (run.keeping.Active() && run.RegisterReady()) run.keeping.Summarise(run.reg.Get(), false);
  });
  const int16_t key = hooks.runForm();
  SetWaitingHook({});
  if (warned) PopWindow();
  ClearRegisteredForm();
  return key;
}

// F7: the register screen; the form comes back afterwards.
void OpenRegister(const RunState& run, const RunHooks& hooks) {
  if (!run.settings.active) TellUser(RunText(RunMessage::RegisterOff));
  else if (hooks.openRegister) hooks.openRegister();
  ClearScreen();
}

// A registered pass numbers each series from the register. False when the
// run cannot go ahead (the user has been told): a run the register would
// refuse makes no spool file at all.
bool NumberByRegister(RunState& run, InvoiceParameters& parameters) {
  if (!run.keepingProblem.empty()) {
    TellUser(run.keepingProblem);
    return false;
  }
  const RunNumbering plan = PlanNumbering(run.reg, KeyDigits(parameters.InvoiceDate), parameters.NextInvoiceNumber);
  if (!plan.problem.empty()) {
    TellUser(plan.problem);
    return false;
  }
  parameters.NumberBySeries = true;
  parameters.CollectReceipts = run.settings.settle;
  parameters.SeriesNumbers = plan.first;
  parameters.SeriesOfClass = plan.slotOfClass;
  return true;
}

// What a pass made.
struct PassMade {
  std::vector<IssuedInvoice> issued;
  RunTotals totals;
};

// Runs the production pass into the spool file on the session's output
// device. False when its pages must not reach the printer (the user has
// been told): a data file failed a read, the spool file is missing or cut
// short, or no page was written.
bool ProducePass(InvoiceParameters& parameters, PassMade& made) {
  const int32_t firstNumber = parameters.NextInvoiceNumber;
  OpenPrintFile(Session.OutputDevice);
  RecordFailure failure;
  const int16_t produced = ProduceInvoices(
      parameters,
      [&made](const IssuedInvoice& invoice) {
        made.issued.push_back(invoice);
        made.totals.Add(invoice);
      },
      &failure);
  ClosePrintFile();
  if (produced == ProductionRecordFailed) {
    // Pages computed from part of the data must not reach the printer.
    TellUser(RunText(RunMessage::DataFileUnreadable) + failure.fileName + RunText(RunMessage::Status) +
             std::to_string(failure.status));
    return false;
  }
  if (produced != ProductionDone || PrintFileFailed()) {
    // The path is the host's (UTF-8); the message is in the code page.
    TellUser(RunText(RunMessage::SpoolNotWritten) + Cp858ForDisplay(PrintFilePath()) + PrintFileFailureReason());
    return false;
  }
  // The number goes up by one per page: unchanged, no page was written. A
  // spool without pages would print as a blank page that looks like a
  // result, so the user is told instead.
  if (!parameters.LeftOut.empty()) TellUser(RunText(RunMessage::RecipientsLeftOut) + LeftOutText(parameters.LeftOut));
  if (parameters.NextInvoiceNumber == firstNumber) {
    TellUser(RunText(RunMessage::NothingToPrint));
    return false;
  }
  return true;
}

// Beside the spool: the side files of an earlier run removed (they must not
// be taken for this one's), and each invoice's figures written for the
// stationery's totals, period and due date (invoicing/figures.h). False
// when the figures could not be written (the user has been told).
bool WriteFigures(const PassMade& made, const PaymentTerms& terms, const std::string& currency) {
  const std::string spoolDir = SpoolDirectory();
  for (const char* side : {"zepprint.out", "zepprint.qr", "zepprint.pag"}) std::remove((spoolDir + side).c_str());
  const std::string figuresFile = spoolDir + "zepprint.fig";
  if (WriteWholeFile(figuresFile, InvoiceFigures(made.issued, terms, currency)) == 0) return true;
  std::remove(figuresFile.c_str());
  TellUser(RunText(RunMessage::FiguresNotWritten) + Cp858ForDisplay(TidyHostPath(figuresFile)));
  return false;
}

// A registered pass is issued once the user has accepted what the register
// warns of and the register holds it; in the sending mode its records then
// go to the agency while the pages print, and after the module has ended if
// need be. False when it was not issued (the user has been told).
bool IssueRegistered(RunState& run, const PassMade& made, std::vector<RegisterEntry>& registeredOut,
                     std::string& archiveNameOut) {
  if (!RegisterPass(run.reg, made.issued, run.settings, registeredOut, archiveNameOut, run.keeping)) return false;
  if (!SendingModeOn(Session.RootDir)) return true;
  const IssuingProblem started = SendInBackground(Session.RootDir, Session.ExeDir);
  if (!started.None()) TellUser(IssuingProblemText(started, LanguageFromCode(Session.Language), true));
  return true;
}

// The lock of the runs that settle (invoicing/settle.h); false when
// another run holds it or it cannot be taken (the user has been told).
bool TakeBillingLock(BillingLock& lock) {
  const int error = lock.Take(DataFolder());
  if (error == 0) return true;
  if (error == EWOULDBLOCK) TellUser(RunText(RunMessage::RunUnderway));
  else
    TellUser(RunText(RunMessage::BillingLockUnusable) + Cp858ForDisplay(TidyHostPath(DataFolder() + "Factura.lck")) +
             RunText(RunMessage::Status) + std::to_string(error));
  return false;
}

// One pass for the form as accepted: made, issued when the register is on,
// and printed.
void RunPass(RunState& run, const RunHooks& hooks) {
  // From the count of the receipts to their settling no other run of these
  // data counts them.
  BillingLock lock;
  if (run.settings.active && run.settings.settle && !TakeBillingLock(lock)) return;
  // Receipts a run of this session could not settle are settled before
  // another run can bill them.
  if (run.settings.active && !RecoverStoppedRuns(run.reg)) return;
  // The parameters are built anew from the form at every pass, so the
  // numbering restarts from the number the user typed.
  InvoiceParameters parameters = FormParameters();
  parameters.Currency = CurrencyOf("p");
  // Payment details that would print wrong (an IBAN failing its check
  // digits) stop the pass before anything is made.
  const PaymentTerms terms = LoadPaymentTerms(Session.RootDir);
  if (!terms.problem.empty()) {
    TellUser(terms.problem);
    return;
  }
  if (run.settings.active && !NumberByRegister(run, parameters)) return;
  // No invoice is made that its record could not name (in both modes).
  parameters.LeaveOutUnidentified = run.settings.active;
  const InvoiceParameters planned = parameters;
  PassMade made;
  if (!ProducePass(parameters, made) || !WriteFigures(made, terms, parameters.Currency)) return;
  if (run.settings.active) {
    std::set<std::string> leaveOut;
    if (!RegisteredPassAccepted(run.reg, made.issued, run.keeping.Active(), leaveOut)) return;
    // The links already billed for the period are left out: the pass is
    // made again without them.
    if (!leaveOut.empty()) {
      parameters = planned;
      parameters.LeaveOut = leaveOut;
      made = PassMade{};
      if (!ProducePass(parameters, made) || !WriteFigures(made, terms, parameters.Currency)) return;
    }
  }
  std::vector<RegisterEntry> registered;
  std::string archiveName;
  if (run.settings.active && !IssueRegistered(run, made, registered, archiveName)) return;
  lock.Release();
  PrintPass(hooks.runPrintProgram,
            PrintedPass{made.totals, made.issued, registered, archiveName, run.settings.active, parameters.Currency});
}

}  // namespace

RunHooks& FeeInvoiceRunHooks() {
  static RunHooks hooks{RunParameterForm, StartPrintProgram, {}};
  return hooks;
}

void FeeInvoiceRun() {
  SetDisplayMode("n");
  ClearScreen();
  RunState run;
  run.settings = LoadRegisterSettings(Session.RootDir);
  if (run.settings.active) StartRegisteredRun(run);
  for (;;) {
    const RunHooks& hooks = FeeInvoiceRunHooks();
    const int16_t key = ShowForm(run, hooks);
    if (key == KeyEscape) {
      if (run.RegisterReady()) run.keeping.Summarise(run.reg.Get(), true);
      return;
    }
    if (key == static_cast<int16_t>(KeyF7)) {
      OpenRegister(run, hooks);
      continue;
    }
    RunPass(run, hooks);
  }
}
