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
#include "collection/collect.h"
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

// Writes the log's new text whole; 0 or the errno.
int WriteLog(const std::string& path, const std::string& text) { return WriteWholeFile(path, text); }

}  // namespace

std::map<InvoiceKey, std::string> CollectionListLines(const std::string& root, Language language) {
  std::map<InvoiceKey, std::string> lines;
  std::vector<CollectionLine> log;
  std::string text;
  if (!ReadCollectionLog(HostPath(root + CollectionLogFileName), log, text)) return lines;
  for (const auto& [key, line] : LastCollectionStates(log)) {
    std::string what = CollectionStateWord(line.state, language) + " " + CollectionDateText(line.collectionDate) + " " + line.mandate;
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
  if (o.returns) {
    const CollectionLock lock(root_);
    if (const std::string held = lock.Problem(language_); !held.empty()) {
      Say(stderr, held);
      return kExitTrouble;
    }
    const std::string logPath = HostPath(root_ + CollectionLogFileName);
    std::vector<CollectionLine> log;
    std::string logText;
    if (!ReadCollectionLog(logPath, log, logText)) return fail(CollectionText::LogUnreadable, Cp858ForDisplay(logPath));
    std::map<InvoiceKey, CollectionLine> last = LastCollectionStates(log);
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
        line.time = CollectionTimeNow();
        line.state = item.state;
        line.reason = item.reason.empty() ? "-" : item.reason;
        added.push_back(line);
      }
    }
    std::string text = logText;
    for (const CollectionLine& line : added) text += CollectionLogLine(line);
    if (!added.empty() && WriteLog(logPath, text) != 0) return fail(CollectionText::LogUnwritable, Cp858ForDisplay(logPath));
    for (const CollectionLine& line : added) {
      std::string what = CollectionStateWord(line.state, language_);
      if (line.reason != "-") what += " (" + line.reason + ")";
      Say(stdout, PrintedInvoiceNumber(line.series, line.number) + "  " + line.mandate + "  " + what);
    }
    Say(stdout, CollectionWords(CollectionText::StatusMarked, language_, "", static_cast<int64_t>(added.size())));
    return 0;
  }

  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  const bool haveDates = !options_.selection.issued.from.empty() || !options_.selection.issued.to.empty();
  RemittanceAsk ask;
  ask.root = root_;
  ask.chain = &chain;
  ask.selects = [&](const RegisterEntry& e) {
    if (!o.run.empty()) return e.archive == o.run;
    return !haveDates || ((options_.selection.issued.from.empty() || e.date >= options_.selection.issued.from) &&
                          (options_.selection.issued.to.empty() || e.date <= options_.selection.issued.to));
  };
  ask.collectionDate = o.collectionDate;
  ask.output = o.output;
  ask.again = o.again;
  ask.language = language_;
  const RemittanceDone done = WriteRemittance(ask);
  if (!done.problem.empty()) {
    Say(stderr, done.problem);
    return kExitTrouble;
  }
  for (const std::string& line : done.lines) Say(stdout, line);
  if (done.debits == 0 || o.output != "-") Say(stdout, done.Summary(language_));
  return 0;
}
