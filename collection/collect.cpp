#include "collection/collect.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

#include "base/clock.h"
#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "collection/ledger.h"
#include "collection/mandates.h"
#include "collection/remittance.h"
#include "collection/words.h"
#include "records/layouts.h"
#include "recman/recman.h"
#include "register/agency.h"

namespace {

// The period each page of an archived run bills, by its figures file
// (ARXIU\<archive>.fig: page TAB key TAB UTF-8 value), read once a run.
class Periods {
 public:
  explicit Periods(std::string root) : root_(std::move(root)) {}
  std::string Of(const RegisterEntry& e) {
    if (e.archive.empty()) return {};
    auto found = runs_.find(e.archive);
    if (found == runs_.end()) {
      std::map<int32_t, std::string> pages;
      const std::string archived = HostPath(root_ + "ARXIU\\") + e.archive;
      std::string text;
      if (ReadRegularFile(archived.substr(0, archived.find_last_of('.')) + ".fig", text, 64u << 20) == ReadResult::Ok) {
        if (!text.empty() && text.back() != '\n') text += '\n';
        for (const std::vector<std::string>& f : WholeLineFields(text, '\t')) {
          if (f.size() < 3 || f[1] != "Periode") continue;
          std::string cp850;
          if (Cp858FromUtf8(f[2], cp850)) pages[std::atoi(f[0].c_str())] = cp850;
        }
      }
      found = runs_.emplace(e.archive, std::move(pages)).first;
    }
    const auto page = found->second.find(e.page);
    return page == found->second.end() ? std::string() : page->second;
  }

 private:
  std::string root_;
  std::map<std::string, std::map<int32_t, std::string>> runs_;
};

std::string LeftOutText(const LeftOut& l, Language language) {
  switch (l.reason) {
    case LeftOutReason::Cancelled: return CollectionWords(CollectionText::LeftCancelled, language);
    case LeftOutReason::NoMandate: return CollectionWords(CollectionText::LeftNoMandate, language);
    case LeftOutReason::BadIban: return CollectionWords(CollectionText::LeftBadIban, language);
    case LeftOutReason::SignedAfter: return CollectionWords(CollectionText::LeftSignedAfter, language);
    case LeftOutReason::AlreadyRemitted: return CollectionWords(CollectionText::LeftAlready, language);
    case LeftOutReason::NothingPayable: return CollectionWords(CollectionText::LeftNothing, language);
    case LeftOutReason::CorrectiveApart: return CollectionWords(CollectionText::LeftCorrective, language);
    case LeftOutReason::BadMandate: break;
  }
  const CollectionText what = l.fault == MandateFault::NoReference ? CollectionText::MandateReference
                              : l.fault == MandateFault::BadScheme ? CollectionText::MandateScheme
                                                                   : CollectionText::MandateSignature;
  return CollectionWords(CollectionText::LeftBadMandate, language, CollectionWords(what, language));
}

std::string InvoiceLine(const RegisterEntry& e, const std::string& what) {
  return PrintedInvoiceNumber(e.series, e.number) + "  " + KeyDigits(e.ownerCode) + "  " +
         FixedWidth(e.recipientName, 30) + "  " + what;
}

}  // namespace

std::string CollectionDateText(const std::string& yyyymmdd) {
  return yyyymmdd.size() == 8 ? yyyymmdd.substr(6, 2) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(0, 4)
                              : yyyymmdd;
}

// The register's generation time without its offset from UTC.
std::string CollectionTimeNow() { return GenerationTimeNow().substr(0, 19); }

std::string CollectionStateWord(CollectionState state, Language language) {
  switch (state) {
    case CollectionState::Remitted: return CollectionWords(CollectionText::StateRemitted, language);
    case CollectionState::Collected: return CollectionWords(CollectionText::StateCollected, language);
    case CollectionState::Rejected: return CollectionWords(CollectionText::StateRejected, language);
    case CollectionState::Returned: return CollectionWords(CollectionText::StateReturned, language);
    case CollectionState::None: break;
  }
  return {};
}

std::string RemittanceDone::Summary(Language language) const {
  if (debits == 0) return CollectionWords(CollectionText::NothingToCollect, language);
  return CollectionWords(CollectionText::Written, language, Cp858ForDisplay(path), debits) + "  Total " +
         SepaAmount(total) + " EUR";
}

std::string EarliestRemittanceDate() {
  const std::string today = TodayDigits();
  return std::max(EarliestCollectionDate(today, Scheme::Core), EarliestCollectionDate(today, Scheme::B2b));
}

CollectionLock::CollectionLock(const std::string& root) : path_(HostPath(root + CollectionLockFileName)) {
  error_ = TakeFileLock(path_, 0600, fd_);
}

CollectionLock::~CollectionLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string CollectionLock::Problem(Language language) const {
  if (fd_ >= 0) return {};
  if (error_ == EWOULDBLOCK) return CollectionWords(CollectionText::AnotherRemittance, language);
  return CollectionWords(CollectionText::LockUnusable, language, Cp858ForDisplay(path_), error_);
}

RemittanceDone WriteRemittance(const RemittanceAsk& ask) {
  RemittanceDone done;
  const Language language = ask.language;
  const auto fail = [&](CollectionText id, const std::string& text = "", int64_t number = 0) {
    done.problem = CollectionWords(id, language, text, number);
    done.lines.clear();
    done.debits = 0;
    return done;
  };
  Creditor creditor;
  const CreditorProblem problem = LoadCreditor(ask.root + "Tarn.ini", creditor);
  if (problem.kind == CreditorProblem::Kind::Missing) return fail(CollectionText::CreditorMissing, problem.setting);
  if (problem.kind == CreditorProblem::Kind::Invalid)
    return fail(CollectionText::CreditorInvalid, problem.setting + "=" + problem.value);

  const CollectionLock lock(ask.root);
  if (const std::string held = lock.Problem(language); !held.empty()) {
    done.problem = held;
    return done;
  }
  const std::string logPath = HostPath(ask.root + CollectionLogFileName);
  std::vector<CollectionLine> log;
  std::string logText;
  if (!ReadCollectionLog(logPath, log, logText)) return fail(CollectionText::LogUnreadable, Cp858ForDisplay(logPath));
  const std::map<InvoiceKey, CollectionLine> last = LastCollectionStates(log);

  std::map<std::string, Mandate> mandates;
  const std::string mandatePath = HostPath(ask.root + MandateFileName);
  const int16_t read = ReadMandates(mandatePath, mandates);
  if (read == RmFileNotFound) return fail(CollectionText::NoMandateFile, Cp858ForDisplay(mandatePath + ".dat"));
  if (read != 0) return fail(CollectionText::MandateFileUnreadable, Cp858ForDisplay(mandatePath + ".dat"), read);

  const std::string today = TodayDigits();
  const std::string earliest = EarliestRemittanceDate();
  const std::string date = ask.collectionDate.empty() ? earliest : ask.collectionDate;
  if (!CollectionDateAllowed(today, date, Scheme::Core) || !CollectionDateAllowed(today, date, Scheme::B2b))
    return fail(CollectionText::DateTooSoon,
                CollectionDateText(date) + " (" + CollectionWords(CollectionText::EarliestDate, language, CollectionDateText(earliest)) + ")");
  done.collectionDate = date;

  std::vector<const RegisterEntry*> selected;
  for (const RegisterEntry& e : *ask.chain)
    if (ask.selects(e)) selected.push_back(&e);
  Periods periods(ask.root);
  PlanInput input;
  input.chain = ask.chain;
  input.selected = &selected;
  input.mandates = &mandates;
  input.collected = &last;
  input.again = ask.again;
  input.collectionDate = date;
  input.periodOf = [&periods](const RegisterEntry& e) { return periods.Of(e); };
  input.periodWord = CollectionWords(CollectionText::PeriodWord, language);
  RemittancePlan plan;
  std::string badName;
  if (!PlanRemittance(input, plan, badName)) return fail(CollectionText::BadDebtorName, badName);
  for (const LeftOut& l : plan.leftOut) done.lines.push_back(InvoiceLine(*l.entry, LeftOutText(l, language)));
  if (plan.debits.empty()) return done;

  std::set<std::string> remittances;
  for (const CollectionLine& line : log) remittances.insert(line.messageId);
  const std::string now = CollectionTimeNow();
  RemittanceHeader header;
  header.createdAt = now;
  header.collectionDate = date;
  header.creditor = creditor;
  std::string stamp = now;
  stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c < '0' || c > '9'; }), stamp.end());
  header.messageId = "REM" + stamp + "-" + std::to_string(remittances.size() + 1);

  // The file is made whole, then the log takes its lines, then the file
  // takes its name; a failure after the log was written puts the log back.
  DurableFile file(ask.output);
  if (!file.Open(Placement::Replace) ||
      !WritePain008(plan, header, [&file](std::string_view bytes) { return file.Write(bytes); }) || !file.Finish())
    return fail(CollectionText::CannotWrite, Cp858ForDisplay(ask.output));
  std::string text = logText;
  for (const Debit& d : plan.debits) {
    CollectionLine line;
    line.time = now;
    line.series = d.entry->series;
    line.number = d.entry->number;
    line.state = CollectionState::Remitted;
    line.messageId = header.messageId;
    line.mandate = d.mandate->reference;
    line.sequence = d.first ? "FRST" : "RCUR";
    line.amount = d.amount;
    line.collectionDate = date;
    line.reason = "-";
    text += CollectionLogLine(line);
    done.total += d.amount;
  }
  if (WriteWholeFile(logPath, text) != 0) {
    file.Discard();
    return fail(CollectionText::LogUnwritable, Cp858ForDisplay(logPath));
  }
  if (!file.Place(Placement::Replace)) {
    static_cast<void>(logText.empty() ? (std::remove(logPath.c_str()), 0) : WriteWholeFile(logPath, logText));
    return fail(CollectionText::CannotWrite, Cp858ForDisplay(ask.output));
  }
  for (const Debit& d : plan.debits)
    done.lines.push_back(
        InvoiceLine(*d.entry, (d.first ? "FRST " : "RCUR ") + d.mandate->reference + "  " + SepaAmount(d.amount)));
  done.debits = static_cast<int64_t>(plan.debits.size());
  done.path = file.path();
  return done;
}
