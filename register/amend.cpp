#include "register/amend.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/text.h"
#include "records/layouts.h"
#include "records/records.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/journal.h"

namespace {

constexpr const char* kJournalSuffix = ".jnl";

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

int64_t Percent(int64_t cents, int32_t hundredths) {
  return static_cast<int64_t>(std::nearbyint(static_cast<double>(cents) * hundredths / 10000.0));
}

std::string JoinPositions(const std::vector<int32_t>& positions) {
  std::string text;
  for (int32_t p : positions) {
    if (!text.empty()) text += ',';
    text += std::to_string(p);
  }
  return text;
}

}  // namespace

bool ParsePositions(const std::string& text, std::vector<int32_t>& out) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(at, end - at);
    if (item.empty() || item.size() > 10 || item.find_first_not_of("0123456789") != std::string::npos) return false;
    const long long value = std::atoll(item.c_str());
    if (value < 1 || value > INT32_MAX) return false;
    out.push_back(static_cast<int32_t>(value));
    at = end + 1;
  }
  return true;
}


bool ParseEuros(const std::string& text, int64_t& centsOut) {
  const size_t point = text.find_first_of(".,");
  const std::string whole = text.substr(0, point);
  const std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (whole.empty() || whole.size() > 9 || whole.find_first_not_of("0123456789") != std::string::npos ||
      (point != std::string::npos && (fraction.empty() || fraction.size() > 2)) ||
      fraction.find_first_not_of("0123456789") != std::string::npos)
    return false;
  centsOut = std::atoll(whole.c_str()) * 100 +
             (fraction.empty() ? 0 : std::atoll(fraction.c_str()) * (fraction.size() == 1 ? 10 : 1));
  return true;
}

std::string ArchiveStem(char letter, int32_t number) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // Built by appending: GCC 12 at -O3 misreads "F" + text as an
  // overlapping copy.
  std::string stem(1, letter);
  stem.append(ZeroPad(number, 8)).append("-");
  for (int part : {local.tm_year % 100, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec})
    stem.append(ZeroPad(part, 2));
  return stem;
}

std::vector<std::string> JournalsIn(const std::string& folderHostPath, const std::string& prefix) {
  std::vector<std::string> journals;
  if (DIR* folder = ::opendir(folderHostPath.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name.rfind(prefix, 0) == 0 && name.size() > std::strlen(kJournalSuffix) &&
          name.compare(name.size() - std::strlen(kJournalSuffix), std::string::npos, kJournalSuffix) == 0)
        journals.push_back(folderHostPath + name);
    }
    ::closedir(folder);
  }
  return journals;
}

bool IsCorrectionType(const std::string& text) {
  return text.size() == 2 && text[0] == 'R' && text[1] >= '1' && text[1] <= '4';
}

bool IsCorrectionCause(const std::string& text) {
  std::string cp850;
  if (!Cp858FromUtf8(text, cp850) || cp850.size() > kCorrectionCauseLength) return false;
  return std::none_of(cp850.begin(), cp850.end(), [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; });
}

std::map<InvoiceKey, InvoiceState> InvoiceStates(const std::vector<RegisterEntry>& chain) {
  std::map<InvoiceKey, InvoiceState> states;
  for (const RegisterEntry& e : chain) {
    if (e.IsCancellation()) {
      auto found = states.find({e.refSeries, e.refNumber});
      if (found != states.end()) found->second.kind = InvoiceState::Kind::Cancelled;
      continue;
    }
    InvoiceState& own = states[{e.series, e.number}];
    own.base = e.base;
    own.vat = e.vat;
    own.withholding = e.withholding;
    own.total = e.total;
    if (!e.IsCorrective()) continue;
    auto corrected = states.find({e.refSeries, e.refNumber});
    if (corrected == states.end()) continue;
    InvoiceState& s = corrected->second;
    if (s.kind != InvoiceState::Kind::Cancelled) s.kind = InvoiceState::Kind::Corrected;
    ++s.corrections;
    s.lastCorrection = PrintedInvoiceNumber(e.series, e.number);
    if (e.correctionForm == 'S') {
      s.base = e.base;
      s.vat = e.vat;
      s.withholding = e.withholding;
      s.total = e.total;
    } else {
      s.base += e.base;
      s.vat += e.vat;
      s.withholding += e.withholding;
      s.total += e.total;
    }
  }
  return states;
}

AmendRefusal CheckCancellation(const std::vector<RegisterEntry>& chain, const RegisterEntry& target) {
  const auto states = InvoiceStates(chain);
  const auto found = states.find({target.series, target.number});
  if (target.IsCancellation() || found == states.end()) return AmendRefusal::NotInRegister;
  if (found->second.kind == InvoiceState::Kind::Cancelled) return AmendRefusal::Cancelled;
  if (found->second.kind == InvoiceState::Kind::Corrected) return AmendRefusal::Corrected;
  return AmendRefusal::None;
}

AmendRefusal MakeCorrective(const std::vector<RegisterEntry>& chain, const RegisterEntry& target,
                            const Correction& correction, const std::string& series, int32_t number,
                            const std::string& date, RegisterEntry& out) {
  const auto states = InvoiceStates(chain);
  const auto found = states.find({target.series, target.number});
  if (target.IsCancellation() || found == states.end()) return AmendRefusal::NotInRegister;
  if (found->second.kind == InvoiceState::Kind::Cancelled) return AmendRefusal::Cancelled;
  const InvoiceState& now = found->second;
  const int64_t base = correction.fees + correction.expenses;
  const int64_t vat = Percent(base, target.vatRate);
  const int64_t withholding = target.withholdingRate != 0 ? Percent(base, target.withholdingRate) : 0;
  const int64_t total = base + vat - withholding;
  if (!FitsInt32(base) || !FitsInt32(vat) || !FitsInt32(withholding) || !FitsInt32(total) ||
      correction.fees < 0 || correction.expenses < 0)
    return AmendRefusal::AmountOutOfRange;
  if (base == now.base && vat == now.vat && withholding == now.withholding) return AmendRefusal::NothingChanges;
  if (!IsCorrectionCause(correction.cause)) return AmendRefusal::BadCause;

  RegisterEntry e;
  e.series = series;
  e.number = number;
  e.date = date;
  e.ownerCode = target.ownerCode;
  e.propertyCode = target.propertyCode;
  e.taxClass = target.taxClass;
  e.issuerTaxId = target.issuerTaxId;
  e.recipientTaxId = target.recipientTaxId;
  e.recipientName = target.recipientName;
  e.vatRate = target.vatRate;
  e.withholdingRate = target.withholdingRate;
  e.invoiceType = correction.type;
  e.correctionForm = correction.form;
  e.refSeries = target.series;
  e.refNumber = target.number;
  e.refDate = target.date;
  e.description = Trim(correction.cause);
  if (correction.form == 'S') {
    e.base = static_cast<int32_t>(base);
    e.vat = static_cast<int32_t>(vat);
    e.withholding = static_cast<int32_t>(withholding);
    e.total = static_cast<int32_t>(total);
    e.refBase = now.base;
    e.refVat = now.vat;
  } else {
    const int64_t d[] = {base - now.base, vat - now.vat, withholding - now.withholding, total - now.total};
    for (int64_t v : d)
      if (!FitsInt32(v)) return AmendRefusal::AmountOutOfRange;
    e.base = static_cast<int32_t>(d[0]);
    e.vat = static_cast<int32_t>(d[1]);
    e.withholding = static_cast<int32_t>(d[2]);
    e.total = static_cast<int32_t>(d[3]);
  }
  out = e;
  return AmendRefusal::None;
}

RegisterEntry CancellationOf(const RegisterEntry& target) {
  RegisterEntry e;
  e.kind = RegisterKindCancellation;
  e.date = target.date;
  e.taxClass = target.taxClass;
  e.issuerTaxId = target.issuerTaxId;
  e.refSeries = target.series;
  e.refNumber = target.number;
  e.refDate = target.date;
  // Its Archive field holds a token of its own, which its give-back
  // journal names: "N", the cancelled number, the time.
  e.archive = ArchiveStem('N', target.number);
  return e;
}

std::string ReceiptsFileName(const std::string& archive) {
  const size_t dot = archive.find_last_of('.');
  return (dot == std::string::npos ? archive : archive.substr(0, dot)) + ".rcb";
}

std::string SealedText(const std::string& text) {
  return text + "FI " + std::to_string(text.size()) + " " + Sha256Hex(text) + "\n";
}

bool UnsealedText(const std::string& sealed, std::string& textOut) {
  if (sealed.empty() || sealed.back() != '\n') return false;
  const size_t start = sealed.find_last_of('\n', sealed.size() - 2);
  const size_t at = start == std::string::npos ? 0 : start + 1;
  const std::string text = sealed.substr(0, at);
  if (sealed.compare(at, std::string::npos, "FI " + std::to_string(text.size()) + " " + Sha256Hex(text) + "\n") != 0)
    return false;
  textOut = text;
  return true;
}

namespace {

constexpr const char* kReceiptsHead = "KORVADEL REBUTS 2\n";

// Whether every line of text is "page<TAB>positions".
bool ArePageLines(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    const size_t tab = text.find('\t', at);
    std::vector<int32_t> positions;
    if (tab == std::string::npos || tab == at || tab > end ||
        text.find_first_not_of("0123456789", at) != tab ||
        !ParsePositions(text.substr(tab + 1, end - tab - 1), positions))
      return false;
    at = end + 1;
  }
  return true;
}

}  // namespace

std::string ReceiptsFileText(const std::vector<std::pair<int32_t, std::vector<int32_t>>>& pages) {
  std::string text = kReceiptsHead;
  for (const auto& [page, positions] : pages)
    if (!positions.empty()) text.append(std::to_string(page)).append("\t").append(JoinPositions(positions)).append("\n");
  return SealedText(text);
}

ReceiptsFileRead ReadReceiptsFile(const std::string& hostPath, int32_t page, std::vector<int32_t>& receiptsOut) {
  receiptsOut.clear();
  std::string stored;
  const ReadResult read = ReadRegularFile(hostPath, stored, 64u << 20);
  if (read == ReadResult::Missing) return ReceiptsFileRead::Missing;
  if (read != ReadResult::Ok) return ReceiptsFileRead::Damaged;
  std::string text;
  const size_t head = std::strlen(kReceiptsHead);
  if (stored.compare(0, head, kReceiptsHead) == 0) {
    if (!UnsealedText(stored, text) || !ArePageLines(text.substr(head))) return ReceiptsFileRead::Damaged;
    text.erase(0, head);
  } else {
    // An earlier version's: its page lines alone. It never wrote an
    // empty one for a run that settled receipts.
    if (stored.empty() || !ArePageLines(stored)) return ReceiptsFileRead::Damaged;
    text = stored;
  }
  receiptsOut = ReceiptsOfPage(text, page);
  return ReceiptsFileRead::Ok;
}

std::vector<int32_t> ReceiptsOfPage(const std::string& text, int32_t page) {
  std::string head = std::to_string(page);
  head += '\t';
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, head.size(), head) == 0) {
      std::vector<int32_t> positions;
      if (ParsePositions(text.substr(at + head.size(), end - at - head.size()), positions)) return positions;
      return {};
    }
    at = end + 1;
  }
  return {};
}

int16_t SetReceiptsState(const std::string& hostPath, const std::vector<int32_t>& positions, char from, char to,
                         int32_t& changedOut) {
  changedOut = 0;
  uint8_t block[128] = {};
  char key[256] = {};
  if (hostPath.size() > 254) return RmInvalidFileName;
  hostPath.copy(key, hostPath.size());
  // The data files' owner name, as the module opens them.
  std::string owner = RecordFileOwnerName();
  uint32_t length = static_cast<uint32_t>(owner.size());
  int16_t status = RecordManagerCall(RmOpen, block, owner.data(), &length, key, 255, 0);
  if (status != RmSuccess) return status;
  // One batch, kept all or none: the receipts in position order, which is
  // the order of the pages they lie in, so that each page is written once.
  std::vector<int32_t> ordered = positions;
  std::sort(ordered.begin(), ordered.end());
  status = RecordManagerCall(RmBeginTransaction, block, nullptr, &length, key, 255, RmWholeTransaction);
  int32_t changed = 0;
  uint8_t record[CollectionRecordSize + 16];
  for (size_t i = 0; status == RmSuccess && i < ordered.size(); ++i) {
    std::memset(record, 0, sizeof record);
    std::memcpy(record, &ordered[i], sizeof ordered[i]);
    length = sizeof record;
    status = RecordManagerCall(RmGetDirect, block, record, &length, key, 255, 0);
    if (status != RmSuccess || length < CollectionRecordSize) break;
    if (record[CollectionFields::State.offset] != static_cast<uint8_t>(from)) continue;
    record[CollectionFields::State.offset] = static_cast<uint8_t>(to);
    status = RecordManagerCall(RmUpdate, block, record, &length, key, 255, 0);
    if (status == RmSuccess) ++changed;
  }
  length = 0;
  if (status == RmSuccess) {
    status = RecordManagerCall(RmEndTransaction, block, nullptr, &length, key, 255, 0);
  } else {
    static_cast<void>(RecordManagerCall(RmAbortTransaction, block, nullptr, &length, key, 255, 0));
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  if (status == RmSuccess) changedOut = changed;
  return status;
}

int16_t CancelInvoice(InvoiceRegister& reg, const RegisterEntry& target, const AmendPlaces& places,
                      const std::function<std::string()>& clock, RegisterRefusal& refusal,
                      const std::function<bool()>& waitLocked, const RecordXmlMaker& makeXml, int32_t& givenBackOut,
                      bool& registeredOut, const BeforeCommit& beforeCommit, std::string* sideFileOut) {
  givenBackOut = 0;
  registeredOut = false;
  // A settling left unfinished would otherwise settle, after this
  // cancellation, the receipts it gives back.
  std::string damaged;
  const int16_t recovered = RecoverReceiptJournals(places.dataFolder, places.collectionFile, reg, &damaged);
  if (sideFileOut != nullptr) *sideFileOut = damaged;
  if (recovered != RmSuccess) return recovered;
  if (!target.archive.empty() && SettlingUnderway(places.dataFolder, target.archive)) return RmFileLocked;
  std::vector<RegisterEntry> entries{CancellationOf(target)};
  std::vector<int32_t> receipts;
  const std::string receiptsFile = places.archiveFolder + ReceiptsFileName(target.archive);
  if (!target.archive.empty() &&
      ReadReceiptsFile(receiptsFile, target.page, receipts) == ReceiptsFileRead::Damaged) {
    if (sideFileOut != nullptr) *sideFileOut = receiptsFile;
    return RegisterSideFileDamaged;
  }

  // The journal first (register/journal.h), locked while this process lives.
  ReceiptJournal journal(kGivingBack);
  if (!receipts.empty()) {
    const int error = journal.Write(places.dataFolder, entries[0].archive, receipts);
    if (error != 0) return RegisterJournalStatus(error);
  }
  // Checked again under the lock: another process may have cancelled or
  // corrected it since.
  const int16_t status = reg.Append(
      entries, clock, refusal, waitLocked, makeXml,
      [&target](const std::vector<RegisterEntry>& chain) { return CheckCancellation(chain, target) == AmendRefusal::None; },
      beforeCommit);
  if (status != RmSuccess) {
    journal.Remove();
    return status;
  }
  registeredOut = true;
  if (!journal.Written()) return RmSuccess;
  return journal.Apply(places.collectionFile, givenBackOut);
}

int16_t RecoverGiveBacks(const AmendPlaces& places, InvoiceRegister& reg) {
  return RecoverJournals(kGivingBack, places.dataFolder, places.collectionFile, reg);
}
