#include "register/register.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "recman/recman.h"

InvoiceRegister::~InvoiceRegister() {
  Close(current_);
  Close(earlier_);
}

void InvoiceRegister::Close(Handle& h) {
  if (!h.open) return;
  uint32_t len = 0;
  uint8_t key[256] = {};
  (void)Call(h, RmClose, nullptr, &len, key, 0);
  h.open = false;
}

int16_t InvoiceRegister::Call(Handle& h, uint16_t op, void* data, uint32_t* dataLen, void* key, int8_t keyNum) {
  return RecordManagerCall(op, h.position, data, dataLen, key, 255, keyNum);
}

int16_t InvoiceRegister::OpenHandle(Handle& h, const std::string& path, bool readOnly) {
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t key[256] = {};
  path.copy(reinterpret_cast<char*>(key), path.size());
  char owner[8] = {};
  uint32_t len = 0;
  const int16_t status = Call(h, RmOpen, owner, &len, key, readOnly ? -2 : 0);
  h.open = status == RmSuccess;
  return status;
}

int16_t InvoiceRegister::Open(const std::string& hostPath, const std::string& dictionaryHostPath, bool readOnly,
                              const std::string& earlierHostPath) {
  Close(current_);
  Close(earlier_);
  earlierEntries_.clear();
  earlierStored_.clear();
  if (!earlierHostPath.empty()) {
    const std::string earlier = WithDataExtension(earlierHostPath);
    if (IsRegularFile(earlier)) {
      earlier_.layout = EarlierRegisterFields::kLayout;
      int16_t status = OpenHandle(earlier_, earlier, true);
      if (status == RmSuccess) status = ReadFile(earlier_, earlierEntries_, &earlierStored_);
      if (status != RmSuccess) return status;
    }
  }

  const std::string path = WithDataExtension(hostPath);
  if (path.size() > 254) return RmInvalidFileName;
  tail_ = RegisterTail{};
  if (!IsRegularFile(path)) {
    // A register is made only where none ever was: an anchor or archived
    // runs say that one was, and is lost.
    if (!anchorPath_.empty()) {
      RegisterAnchor anchor;
      const AnchorRead read = ReadRegisterAnchor(anchorPath_, anchor);
      // Archived runs beside a register of the first layout are its own.
      if (read != AnchorRead::Absent || (!earlier_.open && ArchivedRunsBeside(anchorPath_))) {
        return LostTail(RegisterTail::Problem::RegisterMissing, anchor.sequence);
      }
    }
    // Read only, the first layout's file alone is the whole register.
    if (readOnly) return earlier_.open ? static_cast<int16_t>(RmSuccess) : static_cast<int16_t>(RmFileNotFound);
    std::string dictionary;
    std::string spec;
    if (ReadRegularFile(dictionaryHostPath, dictionary, 4096) == ReadResult::Ok && dictionary.size() >= 2) {
      const size_t n = static_cast<uint8_t>(dictionary[0]) | (static_cast<uint8_t>(dictionary[1]) << 8);
      if (n > 0 && dictionary.size() - 2 >= n) spec = dictionary.substr(2, n);
    }
    // A root installed before this layout existed has no dictionary of it:
    // the register's own specification stands in.
    if (spec.empty() && !IsRegularFile(dictionaryHostPath)) spec = RegisterCreationSpecification();
    if (spec.empty()) return RmInvalidOperation;
    uint8_t key[256] = {};
    path.copy(reinterpret_cast<char*>(key), path.size());
    uint32_t len = static_cast<uint32_t>(spec.size());
    const int16_t created = Call(current_, RmCreate, spec.data(), &len, key, -1);
    // Another process may have made it in the meantime: open it then.
    if (created != RmSuccess && created != RmFileExists) return created;
  }
  current_.layout = RegisterFields::kLayout;
  return OpenHandle(current_, path, readOnly);
}

int16_t InvoiceRegister::LostTail(RegisterTail::Problem problem, int32_t anchored, int32_t last, int16_t status) {
  tail_.problem = problem;
  tail_.anchored = anchored;
  tail_.lastSequence = last;
  tail_.status = status;
  return RegisterTailLost;
}

int16_t InvoiceRegister::EntryAtSequence(int32_t sequence, RegisterEntry& entry, bool& found) {
  found = false;
  for (const RegisterEntry& e : earlierEntries_) {
    if (e.sequence == sequence) {
      entry = e;
      found = true;
      return RmSuccess;
    }
  }
  if (!current_.open) return RmSuccess;
  std::vector<uint8_t> rec(RegisterRecordSize);
  uint32_t len = static_cast<uint32_t>(rec.size());
  uint8_t key[256] = {};
  Int32Key(sequence).copy(reinterpret_cast<char*>(key), 4);
  const int16_t status = Call(current_, RmGetEqual, rec.data(), &len, key, 3);
  if (status == RmKeyNotFound) return RmSuccess;
  if (status != RmSuccess) return status;
  entry = DecodeRegisterRecord(rec.data());
  found = true;
  return RmSuccess;
}

int16_t InvoiceRegister::CheckTail(bool adopt) {
  tail_ = RegisterTail{};
  if (anchorPath_.empty()) return RmSuccess;
  RegisterAnchor anchor;
  const AnchorRead read = ReadRegisterAnchor(anchorPath_, anchor);
  if (read == AnchorRead::Damaged) return LostTail(RegisterTail::Problem::AnchorDamaged);
  std::vector<RegisterEntry> lastTwo;
  int16_t status = current_.open || earlier_.open ? LastTwo(lastTwo) : static_cast<int16_t>(RmFileNotOpen);
  if (status != RmSuccess) return LostTail(RegisterTail::Problem::Unreadable, anchor.sequence, 0, status);
  const int32_t last = lastTwo.empty() ? 0 : lastTwo.back().sequence;
  if (read == AnchorRead::Absent) {
    if (adopt && !lastTwo.empty()) {
      static_cast<void>(WriteRegisterAnchor(anchorPath_, {last, lastTwo.back().fingerprint}));
    }
    return RmSuccess;
  }
  if (last < anchor.sequence) return LostTail(RegisterTail::Problem::Shorter, anchor.sequence, last);
  RegisterEntry anchored;
  bool found = false;
  status = EntryAtSequence(anchor.sequence, anchored, found);
  if (status != RmSuccess) return LostTail(RegisterTail::Problem::Unreadable, anchor.sequence, last, status);
  if (!found) return LostTail(RegisterTail::Problem::Shorter, anchor.sequence, last);
  if (anchored.fingerprint != anchor.fingerprint) return LostTail(RegisterTail::Problem::Differs, anchor.sequence, last);
  return RmSuccess;
}

int16_t InvoiceRegister::ReadFile(Handle& h, std::vector<RegisterEntry>& entries, std::vector<std::string>* stored) {
  if (!h.open) return RmSuccess;
  std::vector<uint8_t> rec(RegisterRecordSize);
  uint8_t key[256] = {};
  uint32_t len = static_cast<uint32_t>(rec.size());
  int16_t status = Call(h, RmGetFirst, rec.data(), &len, key, 3);
  while (status == RmSuccess) {
    entries.push_back(DecodeRegisterRecord(rec.data(), h.layout));
    if (stored != nullptr) stored->emplace_back(reinterpret_cast<const char*>(rec.data()), len);
    len = static_cast<uint32_t>(rec.size());
    status = Call(h, RmGetNext, rec.data(), &len, key, 3);
  }
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}

int16_t InvoiceRegister::ReadAll(std::vector<RegisterEntry>& entries, bool byDate) {
  entries = earlierEntries_;
  const int16_t status = ReadFile(current_, entries);
  if (status != RmSuccess) return status;
  if (byDate) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const RegisterEntry& a, const RegisterEntry& b) { return a.date < b.date; });
  }
  return RmSuccess;
}

int16_t InvoiceRegister::StateOf(const std::string& series, SeriesState& state) {
  state = SeriesState{};
  for (const RegisterEntry& e : earlierEntries_) {
    if (e.series != series) continue;
    state.highest = std::max(state.highest, e.number);
    state.lastDate = std::max(state.lastDate, e.date);
  }
  if (!current_.open) return RmSuccess;
  // The series' highest number is the last key 0 value at or below the
  // series with the largest number; its date is the series' latest, since
  // dates never go back within a series.
  std::vector<uint8_t> rec(RegisterRecordSize);
  uint32_t len = static_cast<uint32_t>(rec.size());
  uint8_t key[256] = {};
  std::string value = series.substr(0, RegisterSeriesWidth);
  value.resize(RegisterSeriesWidth, ' ');
  value += Int32Key(INT32_MAX);
  value.copy(reinterpret_cast<char*>(key), value.size());
  const int16_t status = Call(current_, RmGetLessOrEqual, rec.data(), &len, key, 0);
  if (status == RmKeyNotFound || status == RmEndOfFile) return RmSuccess;
  if (status != RmSuccess) return status;
  const RegisterEntry last = DecodeRegisterRecord(rec.data());
  if (last.series != series) return RmSuccess;
  state.highest = std::max(state.highest, last.number);
  state.lastDate = std::max(state.lastDate, last.date);
  return RmSuccess;
}

int16_t InvoiceRegister::StatesOf(const std::vector<RegisterEntry>& entries,
                                  std::map<std::string, SeriesState>& out) {
  out.clear();
  for (const RegisterEntry& e : entries) {
    if (e.IsCancellation() || out.count(e.series) != 0) continue;
    const int16_t status = StateOf(e.series, out[e.series]);
    if (status != RmSuccess) return status;
  }
  return RmSuccess;
}

int16_t InvoiceRegister::CheckChain(int64_t& brokenIndex, RegisterEntry& broken) {
  brokenIndex = -1;
  ChainFollower chain;
  auto sound = [&](const RegisterEntry& e, const std::string& stored) {
    if (chain.Accept(e, &stored)) return true;
    brokenIndex = chain.Count();
    broken = e;
    return false;
  };
  for (size_t i = 0; i < earlierEntries_.size(); ++i)
    if (!sound(earlierEntries_[i], earlierStored_[i])) return RmSuccess;
  if (!current_.open) return RmSuccess;
  std::vector<uint8_t> rec(RegisterRecordSize);
  uint8_t key[256] = {};
  uint32_t len = static_cast<uint32_t>(rec.size());
  int16_t status = Call(current_, RmGetFirst, rec.data(), &len, key, 3);
  while (status == RmSuccess) {
    if (!sound(DecodeRegisterRecord(rec.data()), std::string(reinterpret_cast<const char*>(rec.data()), len))) {
      return RmSuccess;
    }
    len = static_cast<uint32_t>(rec.size());
    status = Call(current_, RmGetNext, rec.data(), &len, key, 3);
  }
  if (status == RmEndOfFile) return RmSuccess;
  brokenIndex = chain.Count();
  return status;
}

int16_t InvoiceRegister::HoldsInvoiceOf(const std::string& ownerCode, const std::string& propertyCode,
                                        const std::string& date, bool& held) {
  held = false;
  for (const RegisterEntry& e : earlierEntries_)
    held = held || (e.ownerCode == ownerCode && e.propertyCode == propertyCode && e.date == date);
  if (held || !current_.open) return RmSuccess;
  RegisterEntry probe;
  probe.ownerCode = ownerCode;
  probe.date = date;
  const std::string encoded = EncodeRegisterRecord(probe);
  const std::string wanted = encoded.substr(RegisterFields::OwnerCode.offset, RegisterFields::OwnerCode.width) +
                             encoded.substr(RegisterFields::Date.offset, RegisterFields::Date.width);
  std::vector<uint8_t> rec(RegisterRecordSize);
  uint32_t len = static_cast<uint32_t>(rec.size());
  uint8_t key[256] = {};
  wanted.copy(reinterpret_cast<char*>(key), wanted.size());
  int16_t status = Call(current_, RmGetEqual, rec.data(), &len, key, 2);
  while (status == RmSuccess) {
    const RegisterEntry e = DecodeRegisterRecord(rec.data());
    if (e.ownerCode != ownerCode || e.date != date) break;
    if (e.propertyCode == propertyCode) {
      held = true;
      break;
    }
    len = static_cast<uint32_t>(rec.size());
    status = Call(current_, RmGetNext, rec.data(), &len, key, 2);
  }
  return status == RmSuccess || status == RmEndOfFile || status == RmKeyNotFound ? static_cast<int16_t>(RmSuccess)
                                                                                  : status;
}

int16_t InvoiceRegister::Find(const std::string& series, int32_t number, RegisterEntry& entry) {
  if (current_.open) {
    std::vector<uint8_t> rec(RegisterRecordSize);
    uint32_t len = static_cast<uint32_t>(rec.size());
    uint8_t key[256] = {};
    std::string value = series.substr(0, RegisterSeriesWidth);
    value.resize(RegisterSeriesWidth, ' ');
    value += Int32Key(number);
    value.copy(reinterpret_cast<char*>(key), value.size());
    const int16_t status = Call(current_, RmGetEqual, rec.data(), &len, key, 0);
    if (status == RmSuccess) entry = DecodeRegisterRecord(rec.data());
    if (status != RmKeyNotFound) return status;
  }
  for (const RegisterEntry& e : earlierEntries_) {
    if (e.series == series && e.number == number) {
      entry = e;
      return RmSuccess;
    }
  }
  return RmKeyNotFound;
}

bool InvoiceRegister::CheckRun(const std::vector<RegisterEntry>& entries,
                               const std::map<std::string, SeriesState>& series, RegisterRefusal& refusal) {
  using Rule = RegisterRefusal::Rule;
  std::map<std::string, SeriesState> state = series;
  for (const RegisterEntry& e : entries) {
    // A cancellation takes no number of a series.
    if (e.IsCancellation()) continue;
    refusal = RegisterRefusal{};
    refusal.series = e.series;
    refusal.number = e.number;
    refusal.date = e.date;
    if (e.kind == RegisterKindCorrection) continue;
    auto found = state.find(e.series);
    const bool known = found != state.end() && found->second.highest != 0;
    if (!SeriesFitsRegister(e.series)) {
      refusal.rule = Rule::SeriesNotStorable;
    } else if (e.number < 1 || e.number > RegisterHighestNumber) {
      refusal.rule = Rule::NumberOutOfRange;
    } else if (known && e.number <= found->second.highest) {
      refusal.rule = Rule::NumberIssued;
      refusal.expected = found->second.highest + 1;
    } else if (known && e.number != found->second.highest + 1) {
      refusal.rule = Rule::NumberNotNext;
      refusal.expected = found->second.highest + 1;
    } else if (known && e.date < found->second.lastDate) {
      refusal.rule = Rule::DateBeforeLast;
      refusal.expectedDate = found->second.lastDate;
    }
    if (refusal.rule != Rule::None) return false;
    SeriesState& next = state[e.series];
    next.highest = e.number;
    next.lastDate = std::max(next.lastDate, e.date);
  }
  refusal = RegisterRefusal{};
  return true;
}

int16_t InvoiceRegister::LastTwo(std::vector<RegisterEntry>& lastTwo) {
  lastTwo.clear();
  std::vector<uint8_t> rec(RegisterRecordSize);
  uint8_t key[256] = {};
  uint32_t len = static_cast<uint32_t>(rec.size());
  // Read only, the first layout's file may be the whole register.
  int16_t status = current_.open ? Call(current_, RmGetLast, rec.data(), &len, key, 3) : int16_t{RmEndOfFile};
  while (status == RmSuccess && lastTwo.size() < 2) {
    lastTwo.insert(lastTwo.begin(), DecodeRegisterRecord(rec.data()));
    len = static_cast<uint32_t>(rec.size());
    if (lastTwo.size() < 2) status = Call(current_, RmGetPrevious, rec.data(), &len, key, 3);
  }
  if (status != RmSuccess && status != RmEndOfFile && status != RmKeyNotFound) return status;
  // The chain goes on from the first layout's file.
  for (auto e = earlierEntries_.rbegin(); lastTwo.size() < 2 && e != earlierEntries_.rend(); ++e)
    lastTwo.insert(lastTwo.begin(), *e);
  return RmSuccess;
}

int16_t InvoiceRegister::TryAppend(std::vector<RegisterEntry>& entries, const std::function<std::string()>& clock,
                                   RegisterRefusal& refusal, const RecordXmlMaker& makeXml,
                                   const std::function<bool(const std::vector<RegisterEntry>&)>& stillAllowed,
                                   const BeforeCommit& beforeCommit) {
  using Rule = RegisterRefusal::Rule;
  uint32_t len = 0;
  uint8_t key[256] = {};
  // One batch kept all or none: any failure below aborts it as a whole.
  int16_t status = Call(current_, RmBeginTransaction, nullptr, &len, key, RmWholeTransaction);
  if (status != RmSuccess) return status;

  // Inside the transaction nobody else writes: what is read here stays true
  // until the commit.
  const std::string generatedAt = clock();
  std::vector<RegisterEntry> lastTwo;
  std::map<std::string, SeriesState> series;
  status = LastTwo(lastTwo);
  // Nothing is appended to a register that fell short of its anchor: the
  // numbers after its end were issued already.
  if (status == RmSuccess && CheckTail(false) != RmSuccess) status = RegisterTailLost;
  if (status == RmSuccess) status = StatesOf(entries, series);
  if (status == RmSuccess && !lastTwo.empty()) {
    const RegisterEntry& last = lastTwo.back();
    const std::string previousSeal = lastTwo.size() == 2 ? lastTwo.front().seal : std::string();
    const bool linked = lastTwo.size() == 2 ? last.previousFingerprint == lastTwo.front().fingerprint
                                            : last.sequence == 1 && last.previousFingerprint.empty();
    int64_t lastTime = 0;
    int64_t now = 0;
    if (!linked || last.fingerprint != ComputeFingerprint(last) || last.seal != ComputeSeal(last, previousSeal)) {
      refusal.rule = Rule::LastRecordBroken;
      refusal.number = last.number;
      refusal.series = last.series;
      status = RegisterRefused;
    } else if (!GenerationTimeSeconds(last.generatedAt, lastTime) || !GenerationTimeSeconds(generatedAt, now) ||
               lastTime > now + 60) {
      refusal.rule = Rule::LastRecordLater;
      refusal.number = last.number;
      refusal.series = last.series;
      refusal.date = last.generatedAt;
      status = RegisterRefused;
    }
  }
  if (status == RmSuccess && !CheckRun(entries, series, refusal)) status = RegisterRefused;
  if (status == RmSuccess && stillAllowed) {
    std::vector<RegisterEntry> chain;
    status = ReadAll(chain);
    if (status == RmSuccess && !stillAllowed(chain)) {
      refusal.rule = Rule::NoLongerAllowed;
      status = RegisterRefused;
    }
  }

  const RegisterEntry* previous = lastTwo.empty() ? nullptr : &lastTwo.back();
  int32_t sequence = previous ? previous->sequence : 0;
  std::string previousSeal = previous ? previous->seal : std::string();
  for (size_t i = 0; status == RmSuccess && i < entries.size(); ++i) {
    RegisterEntry& e = entries[i];
    e.layout = RegisterFields::kLayout;
    e.sequence = ++sequence;
    if (e.IsCancellation()) {
      e.series = CancellationKeySeries;
      e.number = e.sequence;
    }
    e.previousFingerprint = previous ? previous->fingerprint : std::string();
    e.generatedAt = generatedAt;
    e.fingerprint = ComputeFingerprint(e);
    e.xml = makeXml ? makeXml(e, previous) : std::string();
    if (e.xml.size() > RegisterFields::Xml.width) {
      status = RmDataBufferTooShort;
      break;
    }
    // Encoded once: the seal covers the bytes before it, then takes its place.
    std::string bytes = EncodeRegisterRecord(e);
    e.seal = SealOfRecord(bytes, e.layout, previousSeal);
    bytes.replace(RegisterFields::Seal.offset, e.seal.size(), e.seal);
    previous = &e;
    previousSeal = e.seal;
    len = static_cast<uint32_t>(bytes.size());
    status = Call(current_, RmInsert, bytes.data(), &len, key, 0);
    if (status == RmDuplicateKey) {
      refusal.rule = Rule::NumberIssued;
      refusal.series = e.series;
      refusal.number = e.number;
      status = RegisterRefused;
    }
  }
  if (status == RmSuccess && beforeCommit) status = beforeCommit(entries);
  len = 0;
  if (status != RmSuccess) {
    (void)Call(current_, RmAbortTransaction, nullptr, &len, key, 0);
    return status;
  }
  return Call(current_, RmEndTransaction, nullptr, &len, key, 0);
}

int16_t InvoiceRegister::Append(std::vector<RegisterEntry>& entries, const std::function<std::string()>& clock,
                                RegisterRefusal& refusal, const std::function<bool()>& waitLocked,
                                const RecordXmlMaker& makeXml,
                                const std::function<bool(const std::vector<RegisterEntry>&)>& stillAllowed,
                                const BeforeCommit& beforeCommit) {
  refusal = RegisterRefusal{};
  if (!current_.open) return RmFileNotOpen;
  for (;;) {
    std::vector<RegisterEntry> attempt = entries;
    const int16_t status = TryAppend(attempt, clock, refusal, makeXml, stillAllowed, beforeCommit);
    if (status == RmSuccess) {
      entries = std::move(attempt);
      // The anchor follows the commit; a failure to write it leaves the
      // earlier anchor, which the register still reaches. An anchor another
      // process moved further meanwhile stays.
      if (!anchorPath_.empty() && !entries.empty()) {
        RegisterAnchor now;
        if (ReadRegisterAnchor(anchorPath_, now) != AnchorRead::Read || now.sequence < entries.back().sequence) {
          static_cast<void>(WriteRegisterAnchor(anchorPath_, {entries.back().sequence, entries.back().fingerprint}));
        }
      }
      return status;
    }
    if (status != RmFileLocked || !waitLocked || !waitLocked()) return status;
  }
}
