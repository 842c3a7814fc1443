// zepfact's commands that read the register and change nothing in it:
//
// list [DATES] (a header line, one line per invoice, the count),
// export-csv [DATES] FILE (one row per invoice) and export-totals [DATES]
// FILE (one row per series and quarter) go in date-and-number order,
// export-xml [DATES] [--requerimiento REF] FILE and verify [NUMBER] in
// chain order.
//
// DATES: [--from DATE] [--to DATE] select by the invoice's date,
// [--generated-from DATE] [--generated-to DATE] by the local date of the
// record's generation time; both ends are included, and an invoice must
// lie in every range given. DATE is DD-MM-YYYY, DD/MM/YYYY or YYYY-MM-DD.
//
// export-xml writes at most 1000 records to a file: more make FILE-1.xml,
// FILE-2.xml, ... With --requerimiento the documents answer the tax
// agency's request REF (1 to 18 letters or digits): each header names it,
// and the last one says the answer ends there. export-xml names the
// software by the root's Productor.ini, and the installation by
// <root>DADES\Instalacio.id (made on first use). Files are written whole or
// not at all, the parts of an export together; FILE "-" is standard output
// (for one document), an existing file keeps its permissions, a symbolic
// link is written through to the regular file it names, and a folder, pipe
// or device is refused.
//
// With [VeriFactu] Mode=conserva (suite/zepfact/keeping.h) verify also
// checks the signed records and the event log and logs the check, NUMBER
// checking one record; export-xml writes the signed records and logs the
// export.
//
// Exit codes: 0 done (verify: the chain is sound); 1 no register, a
// register that cannot be read, a file that cannot be written, an issuer
// tax number in Tarn.ini that the agency cannot take, a Productor.ini that
// cannot be used, no installation number, a record whose recipient cannot
// be identified, or (verify) a broken chain.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "mail/log.h"
#include "mail/messages.h"
#include "mail/settings.h"
#include "records/layouts.h"
#include "recman/maintenance.h"
#include "recman/recman.h"
#include "register/amend.h"
#include "register/journal.h"
#include "register/register.h"
#include "register/taxid.h"
#include "register/xml.h"
#include "sending/state.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "suite/zepfact/keeping.h"
#include "suite/zepfact/program.h"

// An invoice's state as the list shows it.
std::string Program::StateText(const InvoiceState& state) const {
  switch (state.kind) {
    case InvoiceState::Kind::Issued:
      return FactText(FactMessage::StateIssued, language_);
    case InvoiceState::Kind::Cancelled:
      return FactText(FactMessage::StateCancelled, language_);
    case InvoiceState::Kind::Corrected:
      break;
  }
  return FactText(FactMessage::StateCorrected, language_, state.lastCorrection) +
         (state.corrections > 1 ? " (" + std::to_string(state.corrections) + ")" : std::string());
}

int Program::List() {
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  // States are read in chain order; the list goes by date, as ReadAll
  // sorts it. A cancellation is shown as its invoice's state.
  const std::map<InvoiceKey, InvoiceState> states = InvoiceStates(chain);
  std::vector<RegisterEntry> entries;
  for (const RegisterEntry& e : SelectedEntries(chain, options_.selection))
    if (!e.IsCancellation()) entries.push_back(e);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const RegisterEntry& a, const RegisterEntry& b) { return a.date < b.date; });
  const auto title = [&](FactMessage column) { return FactText(column, language_); };
  Say(stdout, ListHeader({title(FactMessage::ColumnNumber), title(FactMessage::ColumnDate),
                          title(FactMessage::ColumnTaxId), title(FactMessage::ColumnName),
                          title(FactMessage::ColumnTotal), title(FactMessage::ColumnState)}));
  // In the sending mode each invoice is followed by what the agency made of it.
  std::vector<SendingCells> sending;
  std::string unreadable;
  const bool sendingMode = SendingCellsOf(root_, entries, sending, unreadable);
  // And by how its collection by direct debit stands, when it has gone to the bank.
  const std::map<InvoiceKey, std::string> collection = CollectionListLines(root_, language_);
  for (size_t i = 0; i < entries.size(); ++i) {
    const RegisterEntry& e = entries[i];
    const auto state = states.find({e.series, e.number});
    Say(stdout, ListLine(e, state == states.end() ? std::string() : StateText(state->second)));
    if (sendingMode) Say(stdout, SendingListLine(sending[i], language_));
    if (const auto c = collection.find({e.series, e.number}); c != collection.end()) Say(stdout, c->second);
  }
  Say(stdout, FactText(FactMessage::Count, language_, "", static_cast<int64_t>(entries.size())));
  // The states shown pending for want of their answers are not to be trusted.
  if (!unreadable.empty()) {
    Error(FactMessage::SideFileDamaged, Cp858ForDisplay(TidyHostPath(unreadable)));
    return kExitTrouble;
  }
  return 0;
}

int Program::ExportCsv() {
  std::vector<RegisterEntry> entries;
  if (!Read(entries, true)) return kExitTrouble;
  entries = SelectedEntries(entries, options_.selection);
  std::vector<SendingCells> sending;
  std::string unreadable;
  const bool sendingMode = SendingCellsOf(root_, entries, sending, unreadable);
  // Nothing is written with states the answers file could not give.
  if (!unreadable.empty()) {
    Error(FactMessage::SideFileDamaged, Cp858ForDisplay(TidyHostPath(unreadable)));
    return kExitTrouble;
  }
  return Write({{options_.file, CsvText(entries, sendingMode ? &sending : nullptr)}}, {entries.size()});
}

int Program::ExportTotals() {
  std::vector<RegisterEntry> entries;
  if (!Read(entries, true)) return kExitTrouble;
  entries = SelectedEntries(entries, options_.selection);
  return Write({{options_.file, CsvTotalsText(entries)}}, {entries.size()}, FactMessage::TotalsWritten);
}

int Program::ExportXml() {
  Issuer read;
  if (ReadIssuer(root_, read) == IssuerProblem::BadNif) {
    Say(stderr, IssuerProblemText(IssuerProblem::BadNif, read, language_));
    return kExitTrouble;
  }
  SubmissionIssuer issuer;
  issuer.name = read.name;
  issuer.taxId = read.nif;
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  // In the not-sending mode each record goes as signed.
  if (KeepingModeOn(root_)) UseSignedXml(root_, chain);
  // Records kept with their XML need neither; the others are made now.
  SoftwareIdentity software;
  std::string installation;
  if (NeedsRecordXml(chain, options_.selection) && !Software(software, &installation)) return kExitTrouble;
  int64_t refused = -1;
  const std::vector<std::string> documents =
      SubmissionDocuments(chain, options_.selection, issuer, software, installation, options_.requirement, refused);
  // Records no recipient can be named in are left out and named; the rest
  // are written, and the exit status says the export is not whole.
  size_t leftOut = 0;
  if (refused >= 0) {
    for (const RegisterEntry& e : SelectedEntries(chain, options_.selection)) {
      if (!e.IsCancellation() && e.xml.empty() && !ClassifyRecipientTaxId(e.recipientTaxId).Usable()) {
        Error(FactMessage::UnidentifiedRecipient, PrintedInvoiceNumber(e.series, e.number));
        ++leftOut;
      }
    }
  }
  if (documents.empty()) {
    Say(stdout, FactText(FactMessage::NothingToExport, language_));
    return leftOut > 0 ? kExitTrouble : 0;
  }
  if (options_.file == "-" && documents.size() > 1) {
    Error(FactMessage::SeveralToOutput, "", static_cast<int64_t>(documents.size()));
    return kExitTrouble;
  }
  const size_t inRange = SelectedEntries(chain, options_.selection).size() - leftOut;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<size_t> counts;
  for (size_t i = 0; i < documents.size(); ++i) {
    files.emplace_back(DocumentPartPath(options_.file, i + 1, documents.size()), documents[i]);
    counts.push_back(i + 1 < documents.size() ? kRecordsPerDocument : inRange - i * kRecordsPerDocument);
  }
  const int written = Write(files, counts);
  if (written == 0 && KeepingModeOn(root_))
    LogRecordsExported(root_, SelectedEntries(chain, options_.selection), chain, language_);
  return written == 0 && refused >= 0 ? kExitTrouble : written;
}

// Writes files whole, all or none, and says, for each, message with its
// count of invoices (on the error stream for "-", standard output, so
// that the data stays alone there).
int Program::Write(const std::vector<std::pair<std::string, std::string>>& files, const std::vector<size_t>& counts,
                   FactMessage message) {
  std::string failed;
  int error = 0;
  if (!WriteWholeFiles(files, failed, &error)) {
    Error(error == EISDIR || error == EINVAL ? FactMessage::NotAFile : FactMessage::CannotWrite,
          Cp858ForDisplay(failed));
    return kExitTrouble;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    Say(files[i].first == "-" ? stderr : stdout,
        FactText(message, language_, Cp858ForDisplay(files[i].first), static_cast<int64_t>(counts[i])));
  }
  return 0;
}

// Checks every stored byte of the register: the pages and both copies of
// each record of its files, the chain with each seal over the record as
// stored, and that the register reaches its anchor. Says everything it
// finds, not only the first.
int Program::Verify() {
  // NUMBER checks one record; the not-sending mode checks its signature
  // too, and logs the check.
  if (!options_.number.empty()) {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    int64_t index = -1;
    const size_t slash = options_.number.find_last_of('/');
    std::string series;
    if (slash != std::string::npos && !Cp858FromUtf8(options_.number.substr(0, slash), series))
      series = options_.number.substr(0, slash);
    const int32_t number =
        static_cast<int32_t>(std::atol(options_.number.c_str() + (slash == std::string::npos ? 0 : slash + 1)));
    size_t matches = 0;
    for (size_t i = 0; i < chain.size(); ++i) {
      if (chain[i].number != number || (slash != std::string::npos && chain[i].series != series)) continue;
      index = static_cast<int64_t>(i);
      ++matches;
    }
    if (matches != 1) {
      Error(matches == 0 ? FactMessage::NotInRegister : FactMessage::AmbiguousNumber, Cp858ForDisplay(options_.number));
      return kExitTrouble;
    }
    if (KeepingModeOn(root_)) return VerifyKept(root_, chain, index, language_);
    // The record against its own fingerprint and seal and its link to
    // the record before it.
    const RegisterEntry& e = chain[static_cast<size_t>(index)];
    const RegisterEntry* before = index > 0 ? &chain[static_cast<size_t>(index - 1)] : nullptr;
    const bool sound = e.fingerprint == ComputeFingerprint(e) &&
                       e.previousFingerprint == (before != nullptr ? before->fingerprint : std::string()) &&
                       e.seal == ComputeSeal(e, before != nullptr ? before->seal : std::string());
    if (sound) {
      Say(stdout, FactText(FactMessage::ChainSound, language_, "", 1));
      return 0;
    }
    Say(stdout, FactText(FactMessage::ChainBroken, language_, PrintedInvoiceNumber(e.series, e.number), e.sequence));
    return kExitTrouble;
  }
  const std::string path = HostPath(root_ + RegisterFileName) + ".dat";
  const std::string earlier = HostPath(root_ + EarlierRegisterFileName) + ".dat";
  const std::string anchorPath = HostPath(root_ + RegisterAnchorFileName);
  if (!IsRegularFile(path)) {
    RegisterAnchor anchor;
    if (ReadRegisterAnchor(anchorPath, anchor) != AnchorRead::Absent ||
        (!IsRegularFile(earlier) && ArchivedRunsBeside(anchorPath))) {
      Say(stdout, FactText(FactMessage::RegisterMissing, language_, Cp858ForDisplay(path)));
      return kExitTrouble;
    }
    if (!IsRegularFile(earlier)) {
      Error(FactMessage::NoRegister, Cp858ForDisplay(AbsoluteHostPath(root_.empty() ? "." : HostPath(root_)) + "/"));
      return kExitTrouble;
    }
  }
  bool sound = true;
  // The register's files, and the answers of the sending mode beside it.
  const std::string answers = HostPath(root_ + SendingStateFileName) + ".dat";
  for (const std::string& file : {earlier, path, answers}) {
    if (!IsRegularFile(file)) continue;
    const RecordFileCheck check = CheckRecordFile(file);
    if (check.status != 0) {
      Error(FactMessage::CannotRead, Cp858ForDisplay(file), check.status);
      return kExitTrouble;
    }
    if (check.problems.empty()) continue;
    sound = false;
    Say(stdout, FactText(FactMessage::FileDamaged, language_, Cp858ForDisplay(file),
                         static_cast<int64_t>(check.problems.size())));
    for (const std::string& problem : check.problems) Say(stdout, "  " + problem);
  }
  // The mail log: a line that does not read may hide an invoice sent.
  std::vector<MailLogLine> mailLines;
  size_t mailDamaged = 0;
  const std::string mailLog = HostPath(root_ + MailLogFileName);
  if (ReadMailLog(mailLog, mailLines, &mailDamaged) == 0 && mailDamaged != 0) {
    sound = false;
    Say(stdout, MailTextOf(MailText::ProblemLogDamaged, language_, Cp858ForDisplay(TidyHostPath(mailLog)),
                           static_cast<int64_t>(mailDamaged)));
  }
  const int16_t opened = register_.Open(path, "", true, earlier);
  if (opened != 0) {
    Error(FactMessage::CannotOpen, Cp858ForDisplay(path), opened);
    return kExitTrouble;
  }
  int64_t broken = -1;
  RegisterEntry e;
  const int16_t read = register_.CheckChain(broken, e);
  if (read != 0) {
    Say(stdout, FactText(FactMessage::RecordUnreadable, language_, Cp858ForDisplay(path), broken + 1));
    sound = false;
  } else if (broken >= 0) {
    Say(stdout, FactText(FactMessage::ChainBroken, language_, PrintedInvoiceNumber(e.series, e.number), e.sequence));
    sound = false;
  }
  register_.AnchorTail(anchorPath);
  if (register_.CheckTail(false) != 0) {
    sound = false;
    const RegisterTail& tail = register_.Tail();
    const std::string anchorShown = Cp858ForDisplay(anchorPath);
    switch (tail.problem) {
      case RegisterTail::Problem::Shorter:
        Say(stdout, FactText(FactMessage::RegisterShorter, language_, Cp858ForDisplay(path), tail.anchored));
        break;
      case RegisterTail::Problem::Differs:
        Say(stdout, FactText(FactMessage::RegisterDiffers, language_, anchorShown, tail.anchored));
        break;
      case RegisterTail::Problem::AnchorDamaged:
        Say(stdout, FactText(FactMessage::AnchorDamaged, language_, anchorShown));
        break;
      default:
        Say(stdout, FactText(FactMessage::CannotRead, language_, Cp858ForDisplay(path), tail.status));
        break;
    }
  }
  std::vector<RegisterEntry> chain;
  const bool readable = register_.ReadAll(chain) == 0;
  // The register's side files: the receipts file beside each archived run
  // (what a cancellation gives back) and the journals of settlings and
  // give-backs left unfinished (what the next start completes).
  if (readable) {
    std::vector<std::string> damaged = DamagedJournals(HostPath(root_ + "DADES\\"));
    std::set<std::string> archives;
    for (const RegisterEntry& entry : chain) {
      if (entry.archive.empty() || entry.IsCancellation() || !archives.insert(entry.archive).second) continue;
      const std::string receipts = HostPath(root_ + "ARXIU\\") + ReceiptsFileName(entry.archive);
      std::vector<int32_t> positions;
      if (ReadReceiptsFile(receipts, entry.page, positions) == ReceiptsFileRead::Damaged) damaged.push_back(receipts);
    }
    // Answers of another register (or an older copy) under this one's
    // sequences would be taken for its records' states.
    SendingState state;
    if (IsRegularFile(answers) && state.Open(answers, true) == RmSuccess) {
      // Answered in full up to a record the register does not hold.
      SendControl control;
      int32_t last = 0;
      for (const RegisterEntry& entry : chain)
        if (entry.layout == RegisterFields::kLayout) last = std::max(last, entry.sequence);
      bool foreign = state.Control(control) == RmSuccess && control.answeredThrough > last;
      for (size_t i = 0; i < chain.size() && !foreign; ++i) {
        SendAnswer answer;
        bool found = false;
        foreign = chain[i].layout == RegisterFields::kLayout &&
                  state.FindFor(chain[i], answer, found) == RegisterSideFileDamaged;
      }
      if (foreign) damaged.push_back(answers);
    }
    for (const std::string& file : damaged)
      Say(stdout, FactText(FactMessage::SideFileDamaged, language_, Cp858ForDisplay(TidyHostPath(file))));
    sound = sound && damaged.empty();
  }
  if (!sound) return kExitTrouble;
  if (!readable) {
    Error(FactMessage::CannotRead, Cp858ForDisplay(path), RmIoError);
    return kExitTrouble;
  }
  // The not-sending mode checks the signatures and the event log too, and
  // logs the check.
  if (KeepingModeOn(root_)) return VerifyKept(root_, chain, -1, language_);
  Say(stdout, FactText(FactMessage::ChainSound, language_, "", static_cast<int64_t>(chain.size())));
  return 0;
}
