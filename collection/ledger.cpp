#include "collection/ledger.h"

#include <cstdlib>

#include "base/files.h"
#include "base/text.h"

namespace {

constexpr const char* kStateNames[] = {"", "remitted", "collected", "rejected", "returned"};

bool Digits(const std::string& text, bool sign = false) {
  const size_t from = sign && !text.empty() && text[0] == '-' ? 1 : 0;
  return text.size() > from && text.size() - from <= 15 && text.find_first_not_of("0123456789", from) == std::string::npos;
}

}  // namespace

const char* CollectionStateName(CollectionState state) { return kStateNames[static_cast<int>(state)]; }

std::vector<CollectionLine> ParseCollectionLog(const std::string& text) {
  std::vector<CollectionLine> lines;
  for (const std::vector<std::string>& f : WholeLineFields(text, '\t')) {
    if (f.size() != 10 || !Digits(f[2]) || f[2].size() > 9 || !Digits(f[7], true)) continue;
    CollectionLine line;
    for (int s = 1; s <= 4; ++s) {
      if (f[3] == kStateNames[s]) line.state = static_cast<CollectionState>(s);
    }
    if (line.state == CollectionState::None) continue;
    line.time = f[0];
    line.series = f[1];
    line.number = static_cast<int32_t>(std::atol(f[2].c_str()));
    line.messageId = f[4];
    line.mandate = f[5];
    line.sequence = f[6];
    line.amount = std::atoll(f[7].c_str());
    line.collectionDate = f[8];
    line.reason = f[9];
    lines.push_back(line);
  }
  return lines;
}

std::string CollectionLogLine(const CollectionLine& l) {
  return l.time + "\t" + l.series + "\t" + std::to_string(l.number) + "\t" + CollectionStateName(l.state) + "\t" +
         l.messageId + "\t" + l.mandate + "\t" + l.sequence + "\t" + std::to_string(l.amount) + "\t" +
         l.collectionDate + "\t" + (l.reason.empty() ? "-" : l.reason) + "\n";
}

std::map<InvoiceKey, CollectionLine> LastCollectionStates(const std::vector<CollectionLine>& lines) {
  std::map<InvoiceKey, CollectionLine> last;
  for (const CollectionLine& line : lines) last[InvoiceKey{line.series, line.number}] = line;
  return last;
}

std::map<std::string, bool> MandatesCollected(const std::map<InvoiceKey, CollectionLine>& last) {
  std::map<std::string, bool> collected;
  for (const auto& [key, line] : last) {
    if (HoldsInvoice(line.state)) collected[line.mandate] = true;
  }
  return collected;
}

bool ReadCollectionLog(const std::string& hostPath, std::vector<CollectionLine>& linesOut, std::string& textOut) {
  linesOut.clear();
  textOut.clear();
  const ReadResult read = ReadRegularFile(hostPath, textOut, 256u << 20);
  if (read == ReadResult::Missing) return true;
  if (read != ReadResult::Ok) return false;
  linesOut = ParseCollectionLog(textOut);
  return true;
}
