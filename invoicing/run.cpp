#include "invoicing/run.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
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
#include "formatting/settings.h"
#include "base/clock.h"
#include "invoicing/figures.h"
#include "invoicing/form_rules.h"
#include "invoicing/keeping.h"
#include "invoicing/messages.h"
#include "invoicing/production.h"
#include "invoicing/sendmode.h"
#include "invoicing/register_screen.h"
#include "invoicing/settle.h"
#include "invoicing/print_window.h"
#include "mail/settings.h"
#include "mail/sending.h"
#include "printing/spool.h"
#include "records/messages.h"
#include "register/amend.h"
#include "register/register.h"
#include "register/software.h"
#include "register/taxid.h"
#include "register/xml.h"
#include "screens/formview.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"

namespace {

constexpr int16_t ParameterForm = 1;
constexpr int16_t KeyEscape = 27;
constexpr int MessageRow = 12;

// In the sending mode, how many records wait for the agency and how many it
// rejected; empty otherwise or when none.
std::string SendingBacklogText() {
  if (!SendingModeOn(Session.RootDir)) return std::string();
  return SendingBacklogLine(Session.RootDir, LanguageFromCode(Session.Language));
}

// The backlog's line under the parameter form, drawn (or cleared) each time
// the form is shown.
constexpr int kSendingBacklogRow = 24;
void ShowSendingBacklog() {
  if (!SendingModeOn(Session.RootDir)) return;
  WriteAbsolute(kSendingBacklogRow, 1, FixedWidth(SendingBacklogText(), 79));
}

int16_t RunParameterForm() {
  ShowSendingBacklog();
  int16_t form = ParameterForm;
  int16_t key = 0;
  RunForm(form, 0, 0, key);
  return key;
}

// How the print program ended: not started (errno), exited with a status,
// or ended by a signal.
ChildEnd StartPrintProgram() { return RunPrintProgramInWindow(RunStationeryHostPath()); }

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
  // What the program said last tells the user why (its output went to a
  // file of the session, not onto the screen).
  const std::string note = PrintProgramNote();
  const std::string said = note.empty() ? std::string() : RunText(RunMessage::ProgramSaid) + note;
  if (end.exited) return failed + RunText(RunMessage::ExitStatus) + std::to_string(end.exitCode) + said;
  return failed + RunText(RunMessage::EndedBySignal) + std::to_string(end.signal) + said;
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
std::string RunSummary(const RunTotals& totals, const std::string& extraLine) {
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
  if (!extraLine.empty()) text += SummaryLine(extraLine);
  return text + RunText(RunMessage::SummaryOutput) + OutputPlace();
}

// The archive name of a run whose first number is first, at the local time
// now: "F" + the eight digits as printed + "-" + YYMMDDhhmmss + ".zsp", 26
// characters as the register's Archive field holds.
std::string ArchiveName(int32_t first) { return ArchiveStem('F', first) + ".zsp"; }

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
      // The register's tail is anchored beside the archives: a register
      // that does not reach its anchor stops every registered run.
      register_.AnchorTail(HostPath(Session.RootDir + RegisterAnchorFileName));
      status_ = register_.Open(HostPath(Session.RootDir + RegisterFileName),
                               HostPath(Session.RootDir + "ddf\\" + RegisterDictionaryBaseName + ".xdf"), false,
                               HostPath(Session.RootDir + EarlierRegisterFileName));
      if (status_ == 0) status_ = register_.CheckTail(true);
    }
    return status_;
  }
  // A read of the register failed: registered runs stop for the rest of
  // the module's run.
  void Stop(int16_t status) { status_ = status; }
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
// A run marks the copies it archives before the register takes them with a
// marker file ".<archive name>-<pid>.pending" in ARXIU, removed once the
// register has them or the copies are gone. The marker of a process that no
// longer runs (killed in between) names copies that no entry of the
// register may point to: those are removed, and the marker with them.
// Copies without a marker (registered, or of another version) are never
// touched, nor those of a run still going.
std::string PendingMarker(const std::string& archiveDir, const std::string& name) {
  return archiveDir + "." + name + "-" + std::to_string(::getpid()) + ".pending";
}

void RemoveLeftArchives(RunRegister& reg) {
  const std::string archiveDir = HostPath(Session.RootDir + "ARXIU\\");
  std::vector<std::pair<std::string, std::string>> left;  // marker, archive name
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator(archiveDir, failed)) {
    const std::string file = entry.path().filename().string();
    const size_t dash = file.rfind('-');
    if (file.size() < 10 || file[0] != '.' || dash == std::string::npos ||
        file.compare(file.size() - 8, 8, ".pending") != 0)
      continue;
    const std::string pid = file.substr(dash + 1, file.size() - dash - 1 - 8);
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (::kill(static_cast<pid_t>(std::stol(pid)), 0) == 0 || errno != ESRCH) continue;
    left.emplace_back(entry.path().string(), file.substr(1, dash - 1));
  }
  if (left.empty()) return;
  std::vector<RegisterEntry> entries;
  if (reg.Ready() != 0 || reg.Get().ReadAll(entries) != 0) return;  // not known: kept
  for (const auto& [marker, name] : left) {
    bool registered = false;
    for (const RegisterEntry& e : entries) registered = registered || e.archive == name;
    if (!registered && name.size() > 4) {
      std::remove((archiveDir + name).c_str());
      // The files kept beside the copy: its codes, the receipts it settled
      // and its figures.
      const std::string stem = archiveDir + name.substr(0, name.size() - 4);
      for (const char* extension : {".qr", ".rcb", ".fig"}) std::remove((stem + extension).c_str());
    }
    std::remove(marker.c_str());
  }
}

void RecoverStoppedRuns(RunRegister& reg) {
  RemoveLeftArchives(reg);
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

// What the user is told when the register cannot be used (status of its
// open, its tail's check, a read or an append).
std::string RegisterProblemText(RunRegister& reg, int16_t status) {
  const std::string path = Cp858ForDisplay(TidyHostPath(HostPath(Session.RootDir + RegisterFileName) + ".dat"));
  if (status != RegisterTailLost) {
    return RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(status);
  }
  const RegisterTail& tail = reg.Get().Tail();
  const std::string anchor = Cp858ForDisplay(TidyHostPath(HostPath(Session.RootDir + RegisterAnchorFileName)));
  switch (tail.problem) {
    case RegisterTail::Problem::RegisterMissing:
      return RunText(RunMessage::RegisterMissing) + path;
    case RegisterTail::Problem::Shorter:
      return RunText(RunMessage::RegisterShorter) + path + RunText(RunMessage::RegisterEndsAt) +
             std::to_string(tail.lastSequence) + RunText(RunMessage::RegisterShouldReach) +
             std::to_string(tail.anchored) + ")";
    case RegisterTail::Problem::Differs:
      return RunText(RunMessage::RegisterDiffers) + anchor;
    case RegisterTail::Problem::AnchorDamaged:
      return RunText(RunMessage::AnchorDamaged) + anchor;
    case RegisterTail::Problem::Unreadable:
      return RunText(RunMessage::RegisterUnreadable) + path + RunText(RunMessage::Status) +
             std::to_string(tail.status);
    case RegisterTail::Problem::None:
      break;
  }
  return RunText(RunMessage::RegisterNotWritten);
}

// Warns when the register's chain is broken (once per run of the module).
// A register that cannot be opened or read, or that falls short of its
// anchor, is told too, and stops registered runs.
void CheckRegisterChain(RunRegister& reg) {
  int64_t broken = -1;
  RegisterEntry entry;
  const int16_t ready = reg.Ready();
  if (ready != 0) {
    TellUser(RegisterProblemText(reg, ready));
    return;
  }
  const int16_t read = reg.Get().CheckChain(broken, entry);
  if (read != 0) {
    reg.Stop(read);
    TellUser(RunText(RunMessage::RegisterUnreadable) +
             Cp858ForDisplay(TidyHostPath(HostPath(Session.RootDir + RegisterFileName) + ".dat")) +
             RunText(RunMessage::Status) + std::to_string(read));
    return;
  }
  if (broken < 0) return;
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
    plan.problem = RegisterProblemText(reg, status);
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
    case Rule::NoLongerAllowed:  // runs make no such check
      break;
  }
  return RunText(RunMessage::RegisterNotWritten);
}

// Archives the closed spool file with the codes of the pass beside it and
// adds the pass's invoices to the register, all or nothing. True when the
// pages may be printed; otherwise the user has been told why, and nothing
// is left behind (no archive copy, no side file, no register record).
bool RegisterPass(RunRegister& reg, const std::vector<IssuedInvoice>& issued, const RegisterSettings& settings,
                  std::vector<RegisterEntry>& registeredOut, std::string& archiveName,
                  KeepingMode& keeping) {
  const bool testEnvironment = settings.testEnvironment;
  const bool sending = SendingModeOn(Session.RootDir);
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
    TellUser(RegisterProblemText(reg, ready));
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
  // The name holds the first number and the second: a run of the same first
  // number within the same second (a rerun after a refused one) waits for
  // the next second rather than fail on a name that is taken.
  std::string name, archived, marker;
  int copied = EEXIST;
  for (int attempt = 0; attempt < 3 && copied == EEXIST; ++attempt) {
    if (attempt > 0) {
      const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
      ::usleep(static_cast<useconds_t>(1000000 - micros % 1000000));
    }
    name = ArchiveName(issued.front().number);
    archived = archiveDir + name;
    marker = PendingMarker(archiveDir, name);
    if (name.size() > RegisterFields::Archive.width) break;
    if (WriteWholeFile(marker, "") != 0) {
      copied = EACCES;
      break;
    }
    copied = CopyFileExclusively(PrintFilePath(), archived, 0644);
    if (copied != 0) std::remove(marker.c_str());
  }
  const std::string archivedCodes = archived.substr(0, archived.size() - 4) + ".qr";
  std::string codes;
  for (RegisterEntry& entry : entries) {
    entry.archive = name;
    codes += std::to_string(entry.page) + "\t" + TaxQrUrl(entry, testEnvironment, sending) + "\n";
  }
  // Only what this run made is removed: a copy of that name that was there
  // already belongs to another run.
  bool codesArchived = false;
  // With settling, the receipts each invoice settled, kept beside the
  // archive for a cancellation to give back (register/amend.h).
  const std::string archivedReceipts = archiveDir + ReceiptsFileName(name);
  bool receiptsArchived = false;
  // The invoices' figures go with the archive copy, for a reprint's totals.
  const std::string archivedFigures = archived.substr(0, archived.size() - 4) + ".fig";
  bool figuresArchived = false;
  auto discard = [&]() {
    std::remove(archived.c_str());
    if (codesArchived) std::remove(archivedCodes.c_str());
    if (receiptsArchived) std::remove(archivedReceipts.c_str());
    if (figuresArchived) std::remove(archivedFigures.c_str());
    std::remove(sideFile.c_str());
    std::remove(marker.c_str());
    std::remove((spoolDir + "zepprint.pag").c_str());
  };
  // The name must fit its field whole: a cut name would point nowhere.
  if (name.size() > RegisterFields::Archive.width || copied != 0) {
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archived)));
    return false;
  }
  codesArchived = WriteWholeFile(sideFile, codes) == 0 && CopyFileExclusively(sideFile, archivedCodes, 0644) == 0;
  if (!codesArchived) {
    discard();
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archivedCodes)));
    return false;
  }
  if (settings.settle) {
    std::vector<std::pair<int32_t, std::vector<int32_t>>> pages;
    for (const IssuedInvoice& invoice : issued) pages.emplace_back(invoice.page, invoice.receipts);
    receiptsArchived = WriteWholeFile(archivedReceipts, ReceiptsFileText(pages), Placement::NeverOverwrite, 0644) == 0;
    if (!receiptsArchived) {
      discard();
      TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archivedReceipts)));
      return false;
    }
  }

  // With e-mail of invoices, the print program also writes each invoice as
  // its own PDF, ARXIU\<series>-<number>.pdf (mail/settings.h).
  if (LoadMailSettings(Session.RootDir).active) {
    std::string pages;
    for (const RegisterEntry& entry : entries)
      pages += std::to_string(entry.page) + "\t" + InvoicePdfHostPath(Session.RootDir, entry) + "\n";
    if (WriteWholeFile(spoolDir + "zepprint.pag", pages) != 0) {
      discard();
      TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(spoolDir + "zepprint.pag")));
      return false;
    }
  }
  figuresArchived = CopyFileExclusively(spoolDir + "zepprint.fig", archivedFigures, 0644) == 0;
  if (!figuresArchived) {
    discard();
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archivedFigures)));
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
    return RecordXml(entry, previous, issuerName, software, installation);
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
      reg.Get().Append(entries, GenerationTimeNow, refusal, waitLocked, makeXml, {}, keeping.Signer(signError));
  if (lockShown) PopWindow();
  if (status == 0) {
    std::remove(marker.c_str());
    registeredOut = entries;
    archiveName = name;
    keeping.Registered();
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
    if (status == RegisterTailLost) reg.Stop(status);
    TellUser(RegisterProblemText(reg, status));
  }
  return false;
}

// After a registered run with e-mail on: asks whether its invoices go by
// e-mail now (S, or O in Occitan), and sends them. The lines for the run's
// summary: how many were sent, failed or have no address; empty when the
// user said no.
std::string OfferToSend(const std::vector<RegisterEntry>& registered) {
  std::string question = RunText(RunMessage::SendMailNow);
  const bool shown = ShowMessageWindow(MessageRow, question) == 0;
  DiscardPendingKeys();
  const int key = WaitForKey();
  if (shown) PopWindow();
  if (key != 'S' && key != 's' && key != 'O' && key != 'o') return std::string();
  MailRun run;
  run.rootDir = Session.RootDir;
  run.language = LanguageFromCode(Session.Language);
  run.issuerName = IssuerDetails[IssuerItem::Name];
  run.decimal = CurrentFormatSettings().decimalChar;
  run.thousands = CurrentFormatSettings().thousandsChar;
  MailReport report;
  std::string problem;
  std::string sending = RunText(RunMessage::SendingMail);
  const bool sendingShown = ShowMessageWindow(MessageRow, sending) == 0;
  const bool started = SendInvoiceMail(run, registered, report, problem);
  if (sendingShown) PopWindow();
  if (!started) return SummaryLine(RunText(RunMessage::MailNotSent) + problem);
  std::string lines = SummaryLine(MailTextOf(MailText::SummarySent, run.language, "", report.sent)) +
                      SummaryLine(MailTextOf(MailText::SummaryFailed, run.language, "", report.failed)) +
                      SummaryLine(MailTextOf(MailText::SummaryNoAddress, run.language, "", report.noAddress));
  if (!problem.empty()) lines += SummaryLine(problem);
  return lines;
}

// Puts a registered run's archived spool file and codes back where the
// print program reads them: the run is printed again as it was archived.
bool SpoolFromArchive(const std::string& name) {
  const std::string archived = HostPath(Session.RootDir + "ARXIU\\") + name;
  const std::string spoolDir = SpoolDirectory();
  std::remove(PrintFilePath().c_str());
  std::remove((spoolDir + "zepprint.qr").c_str());
  std::remove((spoolDir + "zepprint.out").c_str());
  return CopyFileExclusively(archived, PrintFilePath(), 0644) == 0 &&
         CopyFileExclusively(archived.substr(0, archived.size() - 4) + ".qr", spoolDir + "zepprint.qr", 0644) == 0;
}

// The count and the numbers of a run's invoices, for the user.
std::string RunRange(const std::vector<IssuedInvoice>& issued) {
  if (issued.empty()) return std::string();
  return std::to_string(issued.size()) + " (" + PrintedInvoiceNumber(issued.front().series, issued.front().number) +
         " - " + PrintedInvoiceNumber(issued.back().series, issued.back().number) + ")";
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
  std::string keepingProblem;  // why the mode cannot sign, told at every run
  if (registerSettings.active) {
    RecoverStoppedRuns(reg);
    CheckRegisterChain(reg);
    // The not-sending mode: a certificate that cannot sign is told now,
    // and every run refused until it is mended.
    if (reg.Ready() == 0) StartKeeping(keeping, reg.Get());
    keepingProblem = KeepingProblemText(keeping, RunText(RunMessage::KeyRefused));
    if (!keepingProblem.empty()) TellUser(keepingProblem);
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
    if (formKey == static_cast<int16_t>(KeyF7)) {
      // The register screen; the form comes back afterwards.
      if (registerSettings.active) RegisterScreen();
      else TellUser(RunText(RunMessage::RegisterOff));
      ClearScreen();
      continue;
    }
    // Receipts a run of this session could not settle are settled before
    // another run can bill them.
    if (registerSettings.active) RecoverStoppedRuns(reg);

    // The parameters are built anew from the form at every pass, so the
    // numbering restarts from the number the user typed.
    InvoiceParameters parameters =
        InvoiceParametersFromTexts(FormValue(1), FormValue(2), FormValue(3), FormValue(4), FormValue(5), FormValue(6));
    const int32_t firstNumber = parameters.NextInvoiceNumber;
    // Payment details that would print wrong (an IBAN failing its check
    // digits) stop the pass before anything is made.
    const PaymentTerms paymentTerms = LoadPaymentTerms(Session.RootDir);
    if (!paymentTerms.problem.empty()) {
      TellUser(paymentTerms.problem);
      continue;
    }
    if (registerSettings.active) {
      // A run the register would refuse makes no spool file at all.
      if (!keepingProblem.empty()) {
        TellUser(keepingProblem);
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
      TellUser(RunText(RunMessage::SpoolNotWritten) + Cp858ForDisplay(PrintFilePath()) + PrintFileFailureReason());
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
    std::remove((spoolDir + "zepprint.pag").c_str());
    std::vector<RegisterEntry> registered;
    // Each invoice's figures, for the stationery's totals, period and due
    // date (invoicing/figures.h).
    const std::string figuresFile = spoolDir + "zepprint.fig";
    SetCurrency("p");
    const std::string figures = InvoiceFigures(issued, paymentTerms);
    SetCurrency("");
    if (WriteWholeFile(figuresFile, figures) != 0) {
      std::remove(figuresFile.c_str());
      TellUser(RunText(RunMessage::FiguresNotWritten) + Cp858ForDisplay(TidyHostPath(figuresFile)));
      continue;
    }
    std::string archiveName;  // of the run, once registered
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
      if (!RegisterPass(reg, issued, registerSettings, registered, archiveName, keeping)) continue;
      if (SendingModeOn(Session.RootDir)) {
        // The run's records go to the agency while the pages print, and
        // after the module has ended if need be.
        std::string sender;
        const int started = StartBackgroundSender(Session.RootDir, Session.ExeDir, sender);
        if (started != 0)
          TellUser(RunText(RunMessage::SenderNotStarted) + Cp858ForDisplay(sender) + ")" + RunText(RunMessage::Status) +
                   std::to_string(started));
      }
    }
    // The path is the host's (UTF-8); the message is in the code page.
    const ChildEnd printed = hooks.runPrintProgram();
    if (printed.stopped) {
      // Stopped with Esc: the earlier output is as it was.
      TellUser(RunText(RunMessage::PrintStopped) +
               (registerSettings.active ? RunText(RunMessage::StoppedRegistered) : std::string()));
      continue;
    }
    std::string trouble = PrintProgramTrouble(printed, Cp858ForDisplay(PrintProgramPath()));
    // A registered run's invoices are issued whether they printed or not:
    // the user is told so and may print the whole run again from its
    // archive, now (as often as it fails) or later with zepfact.
    while (!trouble.empty() && !archiveName.empty()) {
      TellUser(trouble);
      const std::string registeredText = RunText(RunMessage::RunRegisteredNotPrinted) + RunRange(issued);
      if (!ConfirmAfter(registeredText + RunText(RunMessage::PrintAgainFromArchive))) {
        trouble = registeredText + RunText(RunMessage::ReprintLater) + archiveName;
        break;
      }
      trouble = SpoolFromArchive(archiveName)
                    ? PrintProgramTrouble(hooks.runPrintProgram(), Cp858ForDisplay(PrintProgramPath()))
                    : RunText(RunMessage::SpoolNotWritten) + Cp858ForDisplay(PrintFilePath());
    }
    // With e-mail on, a registered run that printed offers to send at once.
    std::string mailed;
    if (trouble.empty() && !registered.empty() && LoadMailSettings(Session.RootDir).active)
      mailed = OfferToSend(registered);
    std::string summary = trouble.empty() ? mailed + RunSummary(totals, SendingBacklogText()) : trouble;
    // A text file cannot carry the tax code's picture: its pages give the
    // code's address instead, and the user is told.
    const std::string device = Trim(Session.OutputDevice);
    if (trouble.empty() && registerSettings.active && device.size() > 4 &&
        (device.compare(device.size() - 4, 4, ".txt") == 0 || device.compare(device.size() - 4, 4, ".TXT") == 0))
      summary = SummaryLine(RunText(RunMessage::TextWithoutCode)) + summary;
    TellUser(summary);
  }
}
