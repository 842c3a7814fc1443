#include "invoicing/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "console/tell.h"
#include "formatting/picture.h"
#include "base/clock.h"
#include "invoicing/form_rules.h"
#include "invoicing/keeping.h"
#include "invoicing/messages.h"
#include "invoicing/production.h"
#include "invoicing/settle.h"
#include "printing/spool.h"
#include "records/messages.h"
#include "register/register.h"
#include "register/software.h"
#include "register/taxid.h"
#include "register/xml.h"
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

// The count, each series' first and last number on a line of its own, the
// sums with their amounts right-aligned in one column, and where the output
// went.
std::string RunSummary(const RunTotals& totals) {
  std::string text = SummaryLine(RunText(RunMessage::SummaryInvoices) + std::to_string(totals.count));
  for (const SeriesRange& range : totals.ranges)
    text += SummaryLine(PrintedInvoiceNumber(range.series, range.first) + " - " +
                        PrintedInvoiceNumber(range.series, range.last));
  const std::pair<RunMessage, std::string> sums[] = {
      {RunMessage::SummaryBases, SummaryAmount(totals.base)},
      {RunMessage::SummaryVat, SummaryAmount(totals.vat)},
      {RunMessage::SummaryWithholding, SummaryAmount(totals.withholding)},
      {RunMessage::SummaryTotal, SummaryAmount(totals.total)},
  };
  size_t width = 0;
  for (const auto& [label, amount] : sums) width = std::max(width, amount.size());
  for (const auto& [label, amount] : sums) text += SummaryLine(RunText(label), FixedWidthRight(amount, width));
  return text + RunText(RunMessage::SummaryOutput) + OutputPlace();
}

// The archive name of a run whose first number is first, at the local time
// now: "F" + the eight digits as printed + "-" + YYMMDDhhmmss + ".zsp", 26
// characters as the register's Archive field holds.
std::string ArchiveName(int32_t first) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // Built by appending: GCC 12 at -O3 misreads "F" + text as an
  // overlapping copy.
  std::string name("F");
  name.append(ZeroPad(first, 8)).append("-");
  for (int part : {local.tm_year % 100, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec})
    name.append(ZeroPad(part, 2));
  return name.append(".zsp");
}

// YYYYMMDD as the form shows dates, DD/MM/YYYY.
std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

// The series of tax class c (0 or 1) as the register keeps it.
std::string ClassSeries(size_t c) { return TrimRight(TaxClasses[c].Series); }

// The longest series whose number, as printed ("/" and eight digits), fits
// the page's number field before the next text on its line.
constexpr size_t kPrintableSeriesWidth = 5;

// The register for the whole run, opened at its first use.
class RunRegister {
 public:
  // 0, or the record manager's status of the open.
  int16_t Ready() {
    if (status_ < 0) {
      status_ = register_.Open(HostPath(Session.RootDir + RegisterFileName),
                               HostPath(Session.RootDir + "ddf\\" + RegisterDictionaryBaseName + ".xdf"), false,
                               HostPath(Session.RootDir + EarlierRegisterFileName));
    }
    return status_;
  }
  InvoiceRegister& Get() { return register_; }

 private:
  InvoiceRegister register_;
  int16_t status_ = -1;
};

// The suite's data folder and the collection file, as host paths.
std::string DataFolder() { return HostPath(Session.RootDir + "DADES\\"); }
std::string CollectionHostPath() { return HostPath(Session.RootDir + CollectionFileName) + ".dat"; }

// Ends the settling of runs stopped part-way (invoicing/settle.h); tells
// the user when one cannot be ended now.
void RecoverStoppedRuns(RunRegister& reg) {
  if (reg.Ready() != 0) return;
  const int16_t status = RecoverSettlements(DataFolder(), CollectionHostPath(), reg.Get());
  if (status != 0) TellUser(RunText(RunMessage::ReceiptsNotSettled) + std::to_string(status));
}

// The invoices of the pass whose owner and property the register holds an
// invoice for on the same date already, as printed.
// The first items of a list, and how many more there are: a window above
// the confirmation must leave it room.
class ShortList {
 public:
  void Add(const std::string& item) {
    if (++count_ <= kShown) text_ += (text_.empty() ? "" : ", ") + item;
  }
  [[nodiscard]] std::string Text() const {
    return count_ <= kShown ? text_ : text_ + " (+" + std::to_string(count_ - kShown) + ")";
  }

 private:
  static constexpr size_t kShown = 6;
  std::string text_;
  size_t count_ = 0;
};

std::string InvoicesBilledBefore(RunRegister& reg, const std::vector<IssuedInvoice>& issued) {
  if (issued.empty() || reg.Ready() != 0) return std::string();
  ShortList list;
  for (const IssuedInvoice& invoice : issued) {
    bool held = false;
    if (reg.Get().HoldsInvoiceOf(invoice.ownerCode, invoice.propertyCode, KeyDigits(invoice.invoiceDate), held) != 0 ||
        !held)
      continue;
    // Owner and property as the form takes them: four digits and three.
    const std::string property = KeyDigits(invoice.propertyCode);
    list.Add(PrintedInvoiceNumber(invoice.series, invoice.number) + " (" + KeyDigits(invoice.ownerCode) + "/" +
             property.substr(property.size() > 3 ? property.size() - 3 : 0) + ")");
  }
  return list.Text();
}

// Warns when the register's chain is broken (once per run of the module).
void CheckRegisterChain(RunRegister& reg) {
  int64_t broken = -1;
  RegisterEntry entry;
  if (reg.Ready() != 0 || reg.Get().CheckChain(broken, entry) != 0 || broken < 0) return;
  TellUser(RunText(RunMessage::RegisterDamaged) + std::to_string(entry.sequence) + " (" +
           PrintedInvoiceNumber(entry.series, entry.number) + ")");
}

// What is wrong with the settings a registered run takes its identity from
// (the issuer's NIF, the two series); empty when nothing is.
std::string RegisterSettingsProblem() {
  const NifCheck nif = CheckNif(IssuerDetails[IssuerItem::TaxNumber]);
  if (!nif.Valid()) return RunText(RunMessage::IssuerNifInvalid) + Trim(IssuerDetails[IssuerItem::TaxNumber]);
  SoftwareIdentity software;
  std::string field;
  if (LoadSoftwareIdentity(Session.RootDir, software, field) != SoftwareProblem::None)
    return RunText(RunMessage::SoftwareIdentityInvalid) + SoftwareFileName + (field.empty() ? "" : " " + field);
  for (size_t c = 0; c < 2; ++c) {
    const std::string series = ClassSeries(c);
    if (!SeriesFitsRegister(series) || series.size() > kPrintableSeriesWidth)
      return RunText(RunMessage::SeriesNotPrintable) + (c == 0 ? "[Iva0] Serie" : "[Iva1] Serie") +
             RunText(RunMessage::SeriesText) + series;
  }
  return std::string();
}

// How a registered run numbers its invoices, planned from the register and
// the form before anything is made.
struct RunNumbering {
  std::string problem;  // why the run cannot go ahead, for the user; empty when it can
  std::string note;     // the first number of each series, for the confirmation
  std::array<int32_t, 2> first{1, 1};
  std::array<int, 2> slotOfClass{0, 1};
};

RunNumbering PlanNumbering(RunRegister& reg, const std::string& dateDigits, int32_t formNumber) {
  RunNumbering plan;
  plan.problem = RegisterSettingsProblem();
  if (!plan.problem.empty()) return plan;
  std::array<SeriesState, 2> series;
  int16_t status = reg.Ready();
  for (size_t c = 0; c < 2 && status == 0; ++c) status = reg.Get().StateOf(ClassSeries(c), series[c]);
  if (status != 0) {
    plan.problem = RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(status);
    return plan;
  }
  const std::string today = TodayDigits();
  if (dateDigits > today) {
    plan.problem = RunText(RunMessage::DateAfterToday) + ShownDate(today);
    return plan;
  }
  if (ClassSeries(1) == ClassSeries(0)) plan.slotOfClass[1] = 0;
  plan.note = RunText(RunMessage::FirstNumbers);
  for (size_t c = 0; c < 2; ++c) {
    if (plan.slotOfClass[c] != static_cast<int>(c)) continue;
    if (series[c].highest != 0) {
      if (dateDigits < series[c].lastDate) {
        plan.problem = RunText(RunMessage::DateBeforeLast) + ClassSeries(c) + RunText(RunMessage::FirstDateAllowed) +
                       ShownDate(series[c].lastDate);
        return plan;
      }
      plan.first[c] = series[c].highest + 1;
    } else {
      plan.first[c] = formNumber;
    }
    if (plan.first[c] < 1 || plan.first[c] > RegisterHighestNumber) {
      plan.problem = RunText(RunMessage::NumberOutOfRange);
      return plan;
    }
    plan.note += (c == 0 ? "" : "  ") + PrintedInvoiceNumber(ClassSeries(c), plan.first[c]);
  }
  return plan;
}

// Shows text above the confirmation form and asks it again: true when the
// user answers "S". Without a confirmation form the text is told and nothing
// is confirmed.
bool ConfirmAfter(const std::string& text) {
  if (!HasConfirmationForm()) {
    TellUser(text);
    return false;
  }
  std::string shown = text;
  // Below the confirmation form, which stands in the middle of the screen.
  const bool windowShown = ShowMessageWindow(20, shown) == 0;
  const bool confirmed = ConfirmParameters(KeyEnter) == 0;
  if (windowShown) PopWindow();
  return confirmed;
}

// The invoices of the pass whose recipient the agency cannot identify by
// NIF or EU VAT number, as printed with the owner's name.
std::string InvoicesWithoutRecipientId(const std::vector<IssuedInvoice>& issued) {
  ShortList list;
  for (const IssuedInvoice& invoice : issued) {
    if (ClassifyRecipientTaxId(invoice.recipientTaxId).kind != RecipientIdKind::NotIdentifiable) continue;
    list.Add(PrintedInvoiceNumber(invoice.series, invoice.number) + " " + Trim(invoice.recipientName));
  }
  return list.Text();
}

// The user's text of a run the register refused.
std::string RefusalText(const RegisterRefusal& refusal) {
  using Rule = RegisterRefusal::Rule;
  const std::string number = PrintedInvoiceNumber(refusal.series, refusal.number);
  switch (refusal.rule) {
    case Rule::NumberIssued:
      return RunText(RunMessage::NumberIssued) + number + RunText(RunMessage::NextFree) +
             PrintedInvoiceNumber(refusal.series, refusal.expected);
    case Rule::NumberNotNext:
      return RunText(RunMessage::NumberNotNext) + number + RunText(RunMessage::ContinuesWith) +
             PrintedInvoiceNumber(refusal.series, refusal.expected);
    case Rule::NumberOutOfRange:
      return RunText(RunMessage::NumberOutOfRange);
    case Rule::SeriesNotStorable:
      return RegisterSettingsProblem();
    case Rule::DateBeforeLast:
      return RunText(RunMessage::DateBeforeLast) + refusal.series + RunText(RunMessage::FirstDateAllowed) +
             ShownDate(refusal.expectedDate);
    case Rule::LastRecordBroken:
      return RunText(RunMessage::LastRecordBroken) + number;
    case Rule::LastRecordLater:
      return RunText(RunMessage::LastRecordLater) + number + " " + refusal.date;
    case Rule::None:
      break;
  }
  return RunText(RunMessage::RegisterNotWritten);
}

// Archives the closed spool file with the codes of the pass beside it and
// adds the pass's invoices to the register, all or nothing. True when the
// pages may be printed; otherwise the user has been told why, and nothing
// is left behind (no archive copy, no side file, no register record).
bool RegisterPass(RunRegister& reg, const std::vector<IssuedInvoice>& issued, const RegisterSettings& settings,
                  KeepingMode& keeping) {
  const bool testEnvironment = settings.testEnvironment;
  const std::string spoolDir = SpoolDirectory();
  const std::string sideFile = spoolDir + "zepprint.qr";
  std::vector<RegisterEntry> entries(issued.size());
  const std::string issuerTaxId = CheckNif(IssuerDetails[IssuerItem::TaxNumber]).nif;
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

  // A run the register would refuse is told before anything is made
  // (Append below checks again, for a process that registers meanwhile).
  std::map<std::string, SeriesState> series;
  RegisterRefusal refusal;
  const int16_t read = reg.Get().StatesOf(entries, series);
  if (read != 0) {
    TellUser(RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(read));
    return false;
  }
  if (!InvoiceRegister::CheckRun(entries, series, refusal)) {
    TellUser(RefusalText(refusal));
    return false;
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
  // Only what this run made is removed: a copy of that name that was there
  // already belongs to another run.
  bool codesArchived = false;
  auto discard = [&]() {
    std::remove(archived.c_str());
    if (codesArchived) std::remove(archivedCodes.c_str());
    std::remove(sideFile.c_str());
  };
  // The name must fit its field whole: a cut name would point nowhere.
  if (name.size() > RegisterFields::Archive.width || CopyFileExclusively(PrintFilePath(), archived, 0644) != 0) {
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archived)));
    return false;
  }
  codesArchived = WriteWholeFile(sideFile, codes) == 0 && CopyFileExclusively(sideFile, archivedCodes, 0644) == 0;
  if (!codesArchived) {
    discard();
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archivedCodes)));
    return false;
  }

  // Another process holding the register is waited out, a minute of clock
  // time at most. The record layer's lock message stays up meanwhile.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  bool lockShown = false;
  bool waited = false;
  auto waitLocked = [&deadline, &lockShown, &waited]() {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!waited) {
      std::string text = kRecordTexts.Text(RecordMessage::FileLocked, LanguageFromCode(Session.Language));
      lockShown = ShowMessageWindow(MessageRow, text) == 0;
      waited = true;
    }
    ::usleep(250000);
    return true;
  };
  // Each record's XML is made as the record is, and kept with it.
  SoftwareIdentity software;
  std::string field;
  std::string installation;
  const int made = InstallationNumber(Session.RootDir, installation);
  if (LoadSoftwareIdentity(Session.RootDir, software, field) != SoftwareProblem::None || made != 0) {
    discard();
    TellUser(made != 0 ? RunText(RunMessage::NoInstallationNumber) + std::to_string(made)
                       : RunText(RunMessage::SoftwareIdentityInvalid) + SoftwareFileName + " " + field);
    return false;
  }
  const std::string issuerName = Trim(IssuerDetails[IssuerItem::Name]);
  const RecordXmlMaker makeXml = [&](const RegisterEntry& entry, const RegisterEntry* previous) {
    return RegistroAltaXml(entry, previous, issuerName, software, installation);
  };
  // With settling, the receipts the run billed are journaled before the
  // register changes, and settled once it has (invoicing/settle.h).
  SettleJournal journal;
  if (settings.settle) {
    std::vector<int32_t> receipts;
    for (const IssuedInvoice& invoice : issued) receipts.insert(receipts.end(), invoice.receipts.begin(), invoice.receipts.end());
    const int written = journal.Write(DataFolder(), name, receipts);
    if (written != 0) {
      discard();
      TellUser(RunText(RunMessage::SettleJournalNotWritten) + std::to_string(written));
      return false;
    }
  }
  // In the not-sending mode the records are signed and kept in the step
  // that appends them: none is kept unsigned.
  std::string signError;
  const int16_t status =
      reg.Get().Append(entries, GenerationTimeNow, refusal, waitLocked, makeXml, keeping.Signer(signError));
  if (lockShown) PopWindow();
  if (status == 0) {
    keeping.Registered(entries);
    if (settings.settle) {
      journal.Registered();
      int32_t settled = 0;
      const int16_t settling = journal.Settle(CollectionHostPath(), settled);
      // The invoices are issued: they print; the receipts are settled
      // before the next run, or at the next start.
      if (settling != 0) TellUser(RunText(RunMessage::ReceiptsNotSettled) + std::to_string(settling));
    }
    return true;
  }
  journal.Remove();
  discard();
  if (status == RegisterRefused) {
    TellUser(RefusalText(refusal));
  } else if (!signError.empty()) {
    TellUser(RunText(RunMessage::RecordsNotSigned) + Cp858ForDisplay(signError));
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
  KeepingMode keeping;
  if (registerSettings.active) {
    RecoverStoppedRuns(reg);
    CheckRegisterChain(reg);
    // The not-sending mode: a certificate that cannot sign is told now,
    // and every run refused until it is mended.
    if (reg.Ready() == 0) keeping.Start(Session.RootDir, reg.Get());
    if (!keeping.Problem().empty()) TellUser(keeping.Problem());
    // Settings a registered run cannot take are told at once; every run is
    // refused with the same message until they are mended.
    const std::string problem = RegisterSettingsProblem();
    if (!problem.empty()) TellUser(problem);
  }
  for (;;) {
    RunHooks& hooks = FeeInvoiceRunHooks();
    if (registerSettings.active) {
      // The form offers the number after the highest of tax class 0's
      // series; a series not yet in the register starts from the form's
      // number, which the user may change.
      SeriesState first;
      if (reg.Ready() == 0 && reg.Get().StateOf(ClassSeries(0), first) == 0 && first.highest != 0)
        SetFieldValue(ParameterForm, 6, std::to_string(first.highest + 1));
      // The confirmation names the first number of each series; a run the
      // register would refuse is told before it is confirmed.
      SetConfirmationNote([&reg](std::string& note) {
        const InvoiceParameters form = InvoiceParametersFromTexts(FormValue(1), FormValue(2), FormValue(3),
                                                                  FormValue(4), FormValue(5), FormValue(6));
        const RunNumbering plan = PlanNumbering(reg, KeyDigits(form.InvoiceDate), form.NextInvoiceNumber);
        if (!plan.problem.empty()) {
          TellUser(plan.problem);
          return false;
        }
        note = plan.note;
        return true;
      });
    }
    // While a check's anomaly stands, a warning stays below the form.
    if (registerSettings.active && reg.Ready() == 0) keeping.Summarise(reg.Get(), false);
    std::string anomaly = keeping.AnomalyStands() ? RunText(RunMessage::AnomalyStands) : std::string();
    const bool warned = !anomaly.empty() && ShowMessageWindow(ScreenRows() - 1, anomaly) == 0;
    const int16_t formKey = hooks.runForm();
    if (warned) PopWindow();
    SetConfirmationNote({});
    if (formKey == KeyEscape) {
      if (registerSettings.active && reg.Ready() == 0) keeping.Summarise(reg.Get(), true);
      return;
    }
    // Receipts a run of this session could not settle are settled before
    // another run can bill them.
    if (registerSettings.active) RecoverStoppedRuns(reg);

    // The parameters are built anew from the form at every pass, so the
    // numbering restarts from the number the user typed.
    InvoiceParameters parameters =
        InvoiceParametersFromTexts(FormValue(1), FormValue(2), FormValue(3), FormValue(4), FormValue(5), FormValue(6));
    const int32_t firstNumber = parameters.NextInvoiceNumber;
    if (registerSettings.active) {
      // A run the register would refuse makes no spool file at all.
      if (!keeping.Problem().empty()) {
        TellUser(keeping.Problem());
        continue;
      }
      const RunNumbering plan = PlanNumbering(reg, KeyDigits(parameters.InvoiceDate), parameters.NextInvoiceNumber);
      if (!plan.problem.empty()) {
        TellUser(plan.problem);
        continue;
      }
      parameters.NumberBySeries = true;
      parameters.CollectReceipts = registerSettings.settle;
      parameters.SeriesNumbers = plan.first;
      parameters.SeriesOfClass = plan.slotOfClass;
    }
    OpenPrintFile(Session.OutputDevice);
    SetCurrency("p");
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
    if (registerSettings.active) {
      // Invoices whose recipient the agency cannot identify are named; the
      // user decides whether they are issued as they are.
      const std::string unidentified = InvoicesWithoutRecipientId(issued);
      // In the not-sending mode they cannot be issued: with no agency
      // record there is nothing to sign, and no record is kept unsigned.
      if (!unidentified.empty() && keeping.Active()) {
        TellUser(RunText(RunMessage::RecipientsNotSignable) + unidentified);
        continue;
      }
      if (!unidentified.empty() &&
          !ConfirmAfter(RunText(RunMessage::RecipientsWithoutNif) + unidentified + RunText(RunMessage::GoOn)))
        continue;
      // A link billed on the same date already is named; the user decides.
      const std::string billed = InvoicesBilledBefore(reg, issued);
      if (!billed.empty() && !ConfirmAfter(RunText(RunMessage::AlreadyBilled) + billed + RunText(RunMessage::GoOn)))
        continue;
      if (!RegisterPass(reg, issued, registerSettings, keeping)) continue;
    }
    // The path is the host's (UTF-8); the message is in the code page.
    const std::string trouble = PrintProgramTrouble(hooks.runPrintProgram(), Cp858ForDisplay(PrintProgramPath()));
    TellUser(trouble.empty() ? RunSummary(totals) : trouble);
  }
}
