#include "invoicing/run_register.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/screen.h"
#include "invoicing/run_numbering.h"
#include "invoicing/sendmode.h"
#include "invoicing/settle.h"
#include "mail/sending.h"
#include "mail/settings.h"
#include "printing/spool.h"
#include "records/messages.h"
#include "issuing/context.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "register/agency.h"
#include "register/amend.h"
#include "register/software.h"
#include "register/taxid.h"
#include "register/xml.h"

namespace {

std::string ArchiveFolder() { return HostPath(Session.RootDir + "ARXIU\\"); }

// The marker of the copies this process archives under name.
std::string PendingMarker(const std::string& archiveDir, const std::string& name) {
  return archiveDir + "." + name + "-" + std::to_string(::getpid()) + ".pending";
}

// The markers in ARXIU of processes that no longer run, each with the
// archive name it marks.
std::vector<std::pair<std::string, std::string>> LeftMarkers(const std::string& archiveDir) {
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
  return left;
}

// The marker of a process that no longer runs (killed in between) names
// copies that no entry of the register may point to: those are removed, and
// the marker with them. While the register cannot be read they are kept.
void RemoveLeftArchives(RunRegister& reg) {
  const std::string archiveDir = ArchiveFolder();
  const std::vector<std::pair<std::string, std::string>> left = LeftMarkers(archiveDir);
  if (left.empty()) return;
  std::vector<RegisterEntry> entries;
  if (reg.Ready() != 0 || reg.Get().ReadAll(entries) != 0) return;
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

// The register entries of the pass, checked against the register before
// anything is made (Append checks again, for a process that registers
// meanwhile). False when the register would refuse them or cannot be read;
// the user has been told.
bool CheckedEntries(RunRegister& reg, const std::vector<IssuedInvoice>& issued, std::vector<RegisterEntry>& entries) {
  entries.assign(issued.size(), RegisterEntry{});
  Issuer issuer;
  static_cast<void>(ReadIssuer(Session.RootDir, issuer));  // checked with the numbering
  const std::string issuerTaxId = issuer.nif;
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
  return true;
}

// The archive copy of a pass in ARXIU and the files kept beside it (its
// codes, the receipts it settled, its figures), with the side files the
// print program reads beside the spool. Until Keep, Discard removes what
// this pass made of them; a file of that name that was there already
// belongs to another run and stays.
class PassArchive {
 public:
  PassArchive() : archiveDir_(ArchiveFolder()), spoolDir_(SpoolDirectory()) {}

  // Copies the spool file under a new name holding firstNumber, marked as
  // pending. False when it cannot (the user has been told; nothing is left).
  bool CopySpool(int32_t firstNumber);
  // The agency's code of each entry (which is given the archive's name)
  // beside the spool as zepprint.qr, and copied beside the archive as .qr.
  bool WriteCodes(std::vector<RegisterEntry>& entries, bool testEnvironment, bool sending);
  // With settling: the receipts each invoice settled, kept beside the
  // archive for a cancellation to give back (register/amend.h).
  bool WriteReceipts(const std::vector<IssuedInvoice>& issued);
  // With e-mail of invoices: the print program also writes each invoice as
  // its own PDF, ARXIU\<series>-<number>.pdf (mail/settings.h), as
  // zepprint.pag beside the spool lists.
  bool WritePdfPages(const std::vector<RegisterEntry>& entries);
  // The invoices' figures go with the archive copy, for a reprint's totals.
  bool CopyFigures();

  // Removes what the pass archived and wrote, and tells the user problem.
  // Always false.
  bool Refuse(const std::string& problem);
  // The register holds the pass: its copies stay.
  void Keep() { std::remove(marker_.c_str()); }
  [[nodiscard]] const std::string& Name() const { return name_; }

 private:
  std::string Beside(const char* extension) const { return archived_.substr(0, archived_.size() - 4) + extension; }
  void Discard();

  const std::string archiveDir_;
  const std::string spoolDir_;
  std::string name_, archived_, marker_;
  bool codesArchived_ = false;
  bool receiptsArchived_ = false;
  bool figuresArchived_ = false;
};

bool PassArchive::CopySpool(int32_t firstNumber) {
  ::mkdir(archiveDir_.c_str(), 0755);
  // The name holds the first number and the second: a run of the same first
  // number within the same second (a rerun after a refused one) waits for
  // the next second rather than fail on a name that is taken.
  int copied = EEXIST;
  for (int attempt = 0; attempt < 3 && copied == EEXIST; ++attempt) {
    if (attempt > 0) {
      const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
      ::usleep(static_cast<useconds_t>(1000000 - micros % 1000000));
    }
    // "F" + the eight digits as printed + "-" + YYMMDDhhmmss + ".zsp", 26
    // characters as the register's Archive field holds.
    name_ = ArchiveStem('F', firstNumber) + ".zsp";
    archived_ = archiveDir_ + name_;
    marker_ = PendingMarker(archiveDir_, name_);
    if (name_.size() > RegisterFields::Archive.width) break;
    if (WriteWholeFile(marker_, "") != 0) {
      copied = EACCES;
      break;
    }
    copied = CopyFileExclusively(PrintFilePath(), archived_, 0644);
    if (copied != 0) std::remove(marker_.c_str());
  }
  // The name must fit its field whole: a cut name would point nowhere.
  if (name_.size() > RegisterFields::Archive.width || copied != 0) {
    TellUser(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archived_)));
    return false;
  }
  return true;
}

bool PassArchive::WriteCodes(std::vector<RegisterEntry>& entries, bool testEnvironment, bool sending) {
  std::string codes;
  for (RegisterEntry& entry : entries) {
    entry.archive = name_;
    codes += std::to_string(entry.page) + "\t" + TaxQrUrl(entry, testEnvironment, sending) + "\n";
  }
  const std::string sideFile = spoolDir_ + "zepprint.qr";
  codesArchived_ = WriteWholeFile(sideFile, codes) == 0 && CopyFileExclusively(sideFile, Beside(".qr"), 0644) == 0;
  return codesArchived_ || Refuse(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(Beside(".qr"))));
}

bool PassArchive::WriteReceipts(const std::vector<IssuedInvoice>& issued) {
  std::vector<std::pair<int32_t, std::vector<int32_t>>> pages;
  for (const IssuedInvoice& invoice : issued) pages.emplace_back(invoice.page, invoice.receipts);
  const std::string archivedReceipts = archiveDir_ + ReceiptsFileName(name_);
  receiptsArchived_ = WriteWholeFile(archivedReceipts, ReceiptsFileText(pages), Placement::NeverOverwrite, 0644) == 0;
  return receiptsArchived_ ||
         Refuse(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(archivedReceipts)));
}

bool PassArchive::WritePdfPages(const std::vector<RegisterEntry>& entries) {
  std::string pages;
  for (const RegisterEntry& entry : entries)
    pages += std::to_string(entry.page) + "\t" + InvoicePdfHostPath(Session.RootDir, entry) + "\n";
  return WriteWholeFile(spoolDir_ + "zepprint.pag", pages) == 0 ||
         Refuse(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(spoolDir_ + "zepprint.pag")));
}

bool PassArchive::CopyFigures() {
  figuresArchived_ = CopyFileExclusively(spoolDir_ + "zepprint.fig", Beside(".fig"), 0644) == 0;
  return figuresArchived_ ||
         Refuse(RunText(RunMessage::SpoolNotArchived) + Cp858ForDisplay(TidyHostPath(Beside(".fig"))));
}

bool PassArchive::Refuse(const std::string& problem) {
  Discard();
  TellUser(problem);
  return false;
}

void PassArchive::Discard() {
  std::remove(archived_.c_str());
  if (codesArchived_) std::remove(Beside(".qr").c_str());
  if (receiptsArchived_) std::remove((archiveDir_ + ReceiptsFileName(name_)).c_str());
  if (figuresArchived_) std::remove(Beside(".fig").c_str());
  std::remove((spoolDir_ + "zepprint.qr").c_str());
  std::remove(marker_.c_str());
  std::remove((spoolDir_ + "zepprint.pag").c_str());
}

// The maker of each record's XML, made as the record is and kept with it;
// empty, with problemOut for the user, when the software's identity or the
// installation's number is missing.
RecordXmlMaker RecordXmlMakerOrProblem(std::string& problemOut) {
  const IssuingContext context(Session.RootDir, Session.ExeDir);
  if (!context.Problem().None()) {
    problemOut = IssuingProblemText(context.Problem(), LanguageFromCode(Session.Language), true);
    return {};
  }
  return context.Maker();
}

// With settling, the receipts the run billed are journaled before the
// register changes, and settled once it has (invoicing/settle.h). Empty,
// or the problem for the user.
std::string WriteJournal(SettleJournal& journal, const std::string& archiveName,
                         const std::vector<IssuedInvoice>& issued) {
  std::vector<int32_t> receipts;
  for (const IssuedInvoice& invoice : issued)
    receipts.insert(receipts.end(), invoice.receipts.begin(), invoice.receipts.end());
  const int written = journal.Write(DataFolder(), archiveName, receipts);
  return written == 0 ? std::string() : RunText(RunMessage::SettleJournalNotWritten) + std::to_string(written);
}

// Another process holding the register is waited out, a minute of clock
// time at most. The record layer's lock message stays up meanwhile, until
// Close.
class LockWait {
 public:
  LockWait() : deadline_(std::chrono::steady_clock::now() + std::chrono::minutes(1)) {}
  // Whether to try again (after a quarter of a second).
  bool Again() {
    if (std::chrono::steady_clock::now() >= deadline_) return false;
    if (!waited_) {
      std::string text = kRecordTexts.Text(RecordMessage::FileLocked, LanguageFromCode(Session.Language));
      shown_ = ShowMessageWindow(kRunMessageRow, text) == 0;
      waited_ = true;
    }
    ::usleep(250000);
    return true;
  }
  void Close() {
    if (shown_) PopWindow();
    shown_ = false;
  }

 private:
  const std::chrono::steady_clock::time_point deadline_;
  bool shown_ = false;
  bool waited_ = false;
};

// What the user is told when the register did not take the pass.
std::string AppendProblem(RunRegister& reg, int16_t status, const RegisterRefusal& refusal,
                          const std::string& signError) {
  if (status == RegisterRefused) return RefusalText(refusal);
  if (!signError.empty()) return RunText(RunMessage::RecordsNotSigned) + Cp858ForDisplay(signError);
  if (status == RegisterTailLost) reg.Stop(status);
  return RegisterProblemText(reg, status);
}

// The receipts of a registered pass are settled; the invoices are issued
// whatever happens: they print, and receipts not settled now are settled
// before the next run, or at the next start.
void SettleRegistered(SettleJournal& journal) {
  journal.Registered();
  int32_t settled = 0;
  const int16_t settling = journal.Settle(CollectionHostPath(), settled);
  if (settling != 0) TellUser(RunText(RunMessage::ReceiptsNotSettled) + std::to_string(settling));
}

}  // namespace

bool RecoverStoppedRuns(RunRegister& reg) {
  RemoveLeftArchives(reg);
  if (reg.Ready() != 0) return true;
  std::string damaged;
  const int16_t status = RecoverSettlements(DataFolder(), CollectionHostPath(), reg.Get(), &damaged);
  if (status == RegisterSideFileDamaged) {
    TellUser(RunText(RunMessage::SideFileDamaged) + Cp858ForDisplay(TidyHostPath(damaged)));
    return false;
  }
  if (status != 0) TellUser(RunText(RunMessage::ReceiptsNotSettled) + std::to_string(status));
  return true;
}

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

bool RegisterPass(RunRegister& reg, const std::vector<IssuedInvoice>& issued, const RegisterSettings& settings,
                  std::vector<RegisterEntry>& registeredOut, std::string& archiveNameOut, KeepingMode& keeping) {
  std::vector<RegisterEntry> entries;
  if (!CheckedEntries(reg, issued, entries)) return false;
  PassArchive archive;
  if (!archive.CopySpool(issued.front().number) ||
      !archive.WriteCodes(entries, settings.testEnvironment, SendingModeOn(Session.RootDir)) ||
      (settings.settle && !archive.WriteReceipts(issued)) ||
      (LoadMailSettings(Session.RootDir).active && !archive.WritePdfPages(entries)) || !archive.CopyFigures())
    return false;
  std::string problem;
  const RecordXmlMaker makeXml = RecordXmlMakerOrProblem(problem);
  if (!makeXml) return archive.Refuse(problem);
  SettleJournal journal;
  if (settings.settle) problem = WriteJournal(journal, archive.Name(), issued);
  if (!problem.empty()) return archive.Refuse(problem);

  // In the not-sending mode the records are signed and kept in the step
  // that appends them: none is kept unsigned.
  LockWait lock;
  RegisterRefusal refusal;
  std::string signError;
  const int16_t status = reg.Get().Append(entries, GenerationTimeNow, refusal, [&lock] { return lock.Again(); },
                                          makeXml, {}, keeping.Signer(signError));
  lock.Close();
  if (status != 0) {
    journal.Remove();
    return archive.Refuse(AppendProblem(reg, status, refusal, signError));
  }
  archive.Keep();
  registeredOut = entries;
  archiveNameOut = archive.Name();
  keeping.Registered();
  if (settings.settle) SettleRegistered(journal);
  return true;
}
