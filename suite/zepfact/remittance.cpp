// zepfact remittance and remittance returns (suite/zepfact/remittance.h).
#include "suite/zepfact/remittance.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "collection/ledger.h"
#include "collection/mandates.h"
#include "collection/remittance.h"
#include "collection/returns.h"
#include "collection/words.h"
#include "records/layouts.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "suite/zepfact/program.h"

namespace {

std::string ShownDate(const std::string& yyyymmdd) {
  return yyyymmdd.size() == 8 ? yyyymmdd.substr(6, 2) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(0, 4)
                              : yyyymmdd;
}

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

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
        size_t start = 0;
        while (start < text.size()) {
          size_t end = text.find('\n', start);
          if (end == std::string::npos) end = text.size();
          const std::string line = text.substr(start, end - start);
          start = end + 1;
          const size_t tab1 = line.find('\t'), tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
          if (tab2 == std::string::npos || line.compare(tab1 + 1, tab2 - tab1 - 1, "Periode") != 0) continue;
          std::string cp850;
          if (Cp858FromUtf8(line.substr(tab2 + 1), cp850)) pages[std::atoi(line.substr(0, tab1).c_str())] = cp850;
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

std::string StateWord(CollectionState state, Language language) {
  switch (state) {
    case CollectionState::Remitted: return CollectionWords(CollectionText::StateRemitted, language);
    case CollectionState::Collected: return CollectionWords(CollectionText::StateCollected, language);
    case CollectionState::Rejected: return CollectionWords(CollectionText::StateRejected, language);
    case CollectionState::Returned: return CollectionWords(CollectionText::StateReturned, language);
    case CollectionState::None: break;
  }
  return {};
}

std::string InvoiceLine(const RegisterEntry& e, const std::string& what) {
  return PrintedInvoiceNumber(e.series, e.number) + "  " + KeyDigits(e.ownerCode) + "  " + FixedWidth(e.recipientName, 30) +
         "  " + what;
}

// Writes the log's new text whole; 0 or the errno.
int WriteLog(const std::string& path, const std::string& text) { return WriteWholeFile(path, text); }

}  // namespace

std::map<InvoiceKey, std::string> CollectionListLines(const std::string& root, Language language) {
  std::map<InvoiceKey, std::string> lines;
  std::vector<CollectionLine> log;
  std::string text;
  if (!ReadCollectionLog(HostPath(root + CollectionLogFileName), log, text)) return lines;
  for (const auto& [key, line] : LastCollectionStates(log)) {
    std::string what = StateWord(line.state, language) + " " + ShownDate(line.collectionDate) + " " + line.mandate;
    if (line.state == CollectionState::Rejected || line.state == CollectionState::Returned) what += " (" + line.reason + ")";
    lines[key] = "    " + CollectionWords(CollectionText::ListCollection, language, what);
  }
  return lines;
}

int Program::Remittance() {
  const RemittanceOptions& o = options_.remittance;
  const auto fail = [&](CollectionText id, const std::string& text = "", int64_t number = 0) {
    Say(stderr, CollectionWords(id, language_, text, number));
    return kExitTrouble;
  };
  const std::string logPath = HostPath(root_ + CollectionLogFileName);
  std::vector<CollectionLine> log;
  std::string logText;
  if (!ReadCollectionLog(logPath, log, logText)) return fail(CollectionText::LogUnreadable, Cp858ForDisplay(logPath));
  std::map<InvoiceKey, CollectionLine> last = LastCollectionStates(log);

  if (o.returns) {
    std::string bytes;
    if (ReadRegularFile(o.file, bytes, 64u << 20) != ReadResult::Ok)
      return fail(CollectionText::StatusUnreadable, Cp858ForDisplay(o.file));
    const StatusReading reading = ReadStatusFile(bytes);
    using Fault = StatusReading::Fault;
    if (reading.fault == Fault::NotXml)
      return fail(CollectionText::StatusNotXml, Cp858ForDisplay(o.file + ": " + reading.detail));
    if (reading.fault == Fault::Foreign) return fail(CollectionText::StatusForeign, Cp858ForDisplay(reading.detail));
    if (reading.fault == Fault::Empty) return fail(CollectionText::StatusEmpty, Cp858ForDisplay(o.file));
    // Every item is matched to the invoices it names before anything is
    // noted: one that names no remitted debit stops the whole file.
    std::vector<CollectionLine> added;
    std::set<InvoiceKey> marked;
    for (const StatusItem& item : reading.items) {
      std::vector<InvoiceKey> keys;
      for (const auto& [key, line] : last) {
        if (!HoldsInvoice(line.state) && line.state != item.state) continue;
        if (!item.messageId.empty() && line.messageId != item.messageId) continue;
        if (!item.endToEndId.empty() && EndToEndId(key.first, key.second) != item.endToEndId) continue;
        if (!item.blockId.empty() && item.blockId.compare(0, line.messageId.size() + 6, line.messageId + "-" + line.sequence + "-") != 0)
          continue;
        keys.push_back(key);
      }
      if (keys.empty()) {
        const std::string named = !item.endToEndId.empty() ? item.endToEndId : !item.blockId.empty() ? item.blockId : item.messageId;
        return fail(CollectionText::StatusUnknown, Cp858ForDisplay(named));
      }
      for (const InvoiceKey& key : keys) {
        CollectionLine line = last.at(key);
        if (line.state == item.state || !marked.insert(key).second) continue;
        line.time = LocalTimeNow();
        line.state = item.state;
        line.reason = item.reason.empty() ? "-" : item.reason;
        added.push_back(line);
      }
    }
    std::string text = logText;
    for (const CollectionLine& line : added) text += CollectionLogLine(line);
    if (!added.empty() && WriteLog(logPath, text) != 0) return fail(CollectionText::LogUnwritable, Cp858ForDisplay(logPath));
    for (const CollectionLine& line : added) {
      std::string what = StateWord(line.state, language_);
      if (line.reason != "-") what += " (" + line.reason + ")";
      Say(stdout, PrintedInvoiceNumber(line.series, line.number) + "  " + line.mandate + "  " + what);
    }
    Say(stdout, CollectionWords(CollectionText::StatusMarked, language_, "", static_cast<int64_t>(added.size())));
    return 0;
  }

  Creditor creditor;
  const CreditorProblem problem = LoadCreditor(root_ + "Tarn.ini", creditor);
  if (problem.kind == CreditorProblem::Kind::Missing) return fail(CollectionText::CreditorMissing, problem.setting);
  if (problem.kind == CreditorProblem::Kind::Invalid)
    return fail(CollectionText::CreditorInvalid, problem.setting + "=" + problem.value);

  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  std::vector<const RegisterEntry*> selected;
  const bool haveDates = !options_.selection.issued.from.empty() || !options_.selection.issued.to.empty();
  for (const RegisterEntry& e : chain) {
    if (!o.run.empty() ? e.archive == o.run
                       : !haveDates || ((options_.selection.issued.from.empty() || e.date >= options_.selection.issued.from) &&
                                        (options_.selection.issued.to.empty() || e.date <= options_.selection.issued.to)))
      selected.push_back(&e);
  }

  std::map<std::string, Mandate> mandates;
  const std::string mandatePath = HostPath(root_ + MandateFileName);
  const int16_t read = ReadMandates(mandatePath, mandates);
  if (read == RmFileNotFound) return fail(CollectionText::NoMandateFile, Cp858ForDisplay(mandatePath + ".dat"));
  if (read != 0) return fail(CollectionText::MandateFileUnreadable, Cp858ForDisplay(mandatePath + ".dat"), read);

  const std::string today = TodayDigits();
  std::string earliest = EarliestCollectionDate(today, Scheme::Core);
  earliest = std::max(earliest, EarliestCollectionDate(today, Scheme::B2b));
  const std::string date = o.collectionDate.empty() ? earliest : o.collectionDate;
  if (!CollectionDateAllowed(today, date, Scheme::Core) || !CollectionDateAllowed(today, date, Scheme::B2b))
    return fail(CollectionText::DateTooSoon,
                ShownDate(date) + " (" + CollectionWords(CollectionText::EarliestDate, language_, ShownDate(earliest)) + ")");

  Periods periods(root_);
  PlanInput input;
  input.chain = &chain;
  input.selected = &selected;
  input.mandates = &mandates;
  input.collected = &last;
  input.again = o.again;
  input.collectionDate = date;
  input.periodOf = [&periods](const RegisterEntry& e) { return periods.Of(e); };
  input.periodWord = CollectionWords(CollectionText::PeriodWord, language_);
  RemittancePlan plan;
  std::string badName;
  if (!PlanRemittance(input, plan, badName)) return fail(CollectionText::BadDebtorName, badName);
  for (const LeftOut& l : plan.leftOut) Say(stdout, InvoiceLine(*l.entry, LeftOutText(l, language_)));
  if (plan.debits.empty()) {
    Say(stdout, CollectionWords(CollectionText::NothingToCollect, language_));
    return 0;
  }

  std::set<std::string> remittances;
  for (const CollectionLine& line : log) remittances.insert(line.messageId);
  const std::string now = LocalTimeNow();
  RemittanceHeader header;
  header.createdAt = now;
  header.collectionDate = date;
  header.creditor = creditor;
  std::string stamp = now;
  stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c < '0' || c > '9'; }), stamp.end());
  header.messageId = "REM" + stamp + "-" + std::to_string(remittances.size() + 1);

  // The file is made whole, then the log takes its lines, then the file
  // takes its name; a failure after the log was written puts the log back.
  DurableFile file(o.output);
  if (!file.Open(Placement::Replace) ||
      !WritePain008(plan, header, [&file](std::string_view bytes) { return file.Write(bytes); }) || !file.Finish())
    return fail(CollectionText::CannotWrite, Cp858ForDisplay(o.output));
  std::string text = logText;
  int64_t total = 0;
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
    total += d.amount;
  }
  if (WriteLog(logPath, text) != 0) {
    file.Discard();
    return fail(CollectionText::LogUnwritable, Cp858ForDisplay(logPath));
  }
  if (!file.Place(Placement::Replace)) {
    static_cast<void>(logText.empty() ? (std::remove(logPath.c_str()), 0) : WriteLog(logPath, logText));
    return fail(CollectionText::CannotWrite, Cp858ForDisplay(o.output));
  }
  for (const Debit& d : plan.debits)
    Say(stdout, InvoiceLine(*d.entry, (d.first ? "FRST " : "RCUR ") + d.mandate->reference + "  " + SepaAmount(d.amount)));
  if (o.output != "-")
    Say(stdout, CollectionWords(CollectionText::Written, language_, Cp858ForDisplay(file.path()),
                                static_cast<int64_t>(plan.debits.size())) + "  Total " + SepaAmount(total) + " EUR");
  return 0;
}
