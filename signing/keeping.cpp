#include "signing/keeping.h"

#include <algorithm>
#include <map>

#include "base/paths.h"
#include "base/text.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/software.h"
#include "signing/check.h"
#include "signing/events.h"
#include "signing/kept.h"

namespace {

constexpr std::time_t kSummaryEvery = 6 * 3600;

std::function<std::time_t()> summaryClock;

std::time_t SummaryClock() { return summaryClock ? summaryClock() : std::time(nullptr); }

// Whether the log's last start (01) of the mode came after its last end (02).
bool ModeStarted(const std::vector<EventEntry>& events) {
  bool started = false;
  for (const EventEntry& e : events) {
    if (e.Is(EventType::ModeStart)) started = true;
    if (e.Is(EventType::ModeEnd)) started = false;
  }
  return started;
}

// Logs the summary of the records and events since the last summary (or
// the mode's start).
int16_t LogSummary(KeptFiles& files, const std::vector<EventEntry>& events, const std::vector<RegisterEntry>& chain) {
  size_t from = 0;
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i].Is(EventType::Summary) || events[i].Is(EventType::ModeStart)) from = i;
  const int32_t firstRecord = events.empty() ? 1 : events[from].tailSequence + 1;
  std::map<std::string, int64_t> byType;
  for (size_t i = events.empty() || !events[from].Is(EventType::Summary) ? from : from + 1; i < events.size(); ++i)
    ++byType[events[i].type];
  SummaryCounts counts;
  counts.eventsByType.assign(byType.begin(), byType.end());
  for (const RegisterEntry& e : chain) {
    if (e.sequence < firstRecord) continue;
    if (!counts.haveRecords) counts.first = IdOf(e);
    counts.haveRecords = true;
    counts.last = IdOf(e);
    if (e.IsCancellation()) {
      ++counts.cancelled;
    } else {
      ++counts.issued;
      counts.vatCents += e.vat;
      counts.totalCents += AgencyInvoiceTotal(e);
    }
  }
  return files.Log(EventType::Summary, SummaryXml(counts));
}

}  // namespace

void SetSummaryClock(std::function<std::time_t()> clock) { summaryClock = std::move(clock); }

RecordId IdOf(const RegisterEntry& e) {
  return {e.issuerTaxId, PrintedInvoiceNumber(e.IdentitySeries(), e.IdentityNumber()), AgencyDate(e.IdentityDate()),
          e.fingerprint};
}

LogTail TailRule(const std::vector<RegisterEntry>& chain, const std::vector<EventEntry>& events) {
  LogTail t;
  if (!chain.empty()) {
    t.sequence = chain.back().sequence;
    t.fingerprint = chain.back().fingerprint;
  }
  if (events.empty() || events.back().tailSequence <= 0) return t;
  const EventEntry& last = events.back();
  t.noted = last.tailSequence;
  const RegisterEntry* held = nullptr;
  for (const RegisterEntry& e : chain)
    if (e.sequence == last.tailSequence) held = &e;
  if (held != nullptr && held->fingerprint == last.tailFingerprint) return t;
  t.state = held == nullptr ? LogTail::State::Cut : LogTail::State::Replaced;
  t.sequence = last.tailSequence;
  t.fingerprint = last.tailFingerprint;
  return t;
}

KeptFiles::Fault KeptFiles::Open(const std::string& root, const std::string& issuerNif, const std::string& issuerName,
                                 bool readOnly) {
  identity_.issuerNif = issuerNif;
  identity_.issuerName = issuerName;
  std::string field;
  Fault fault = Fault::None;
  if (LoadSoftwareIdentity(root, identity_.software, field) != SoftwareProblem::None) fault = Fault::Software;
  else if (InstallationNumber(root, identity_.installation) != 0) fault = Fault::Installation;
  if (!signed_.IsOpen()) fileStatus_ = signed_.Open(HostPath(root + SignedRecordFileName), readOnly);
  if (!log_.IsOpen()) {
    const int16_t status = log_.Open(root, readOnly);
    if (fileStatus_ == 0) fileStatus_ = status;
  }
  return fault != Fault::None ? fault : fileStatus_ != 0 ? Fault::Files : Fault::None;
}

CertificateProblem KeptFiles::LoadKey(const VeriFactuSettings& settings, std::time_t now, std::string* detailOut) {
  certificateNoted_ = false;
  return key_.Load(settings, identity_.issuerNif, now, detailOut);
}

const SignatureVerifier& KeptFiles::Verifier(const VeriFactuSettings& settings) {
  if (!verifier_) verifier_ = std::make_unique<SignatureVerifier>(settings.signingAuthorities);
  return *verifier_;
}

int16_t KeptFiles::ReadEvents(std::vector<EventEntry>& out) {
  out.clear();
  return log_.IsOpen() ? log_.ReadAll(out) : static_cast<int16_t>(RmFileNotOpen);
}

int16_t KeptFiles::ReadSigned(std::map<int32_t, KeptRecord>& out) {
  out.clear();
  std::vector<KeptRecord> records;
  const int16_t status = signed_.ReadAll(records);
  for (KeptRecord& r : records) out[r.sequence] = std::move(r);
  return status;
}

std::vector<int32_t> KeptFiles::SalvageSigned(std::map<int32_t, KeptRecord>& out,
                                              const std::vector<RegisterEntry>& chain) {
  std::vector<int32_t> unread;
  for (const RegisterEntry& e : chain) {
    if (out.count(e.sequence) != 0) continue;
    KeptRecord record;
    const int16_t status = signed_.Get(e.sequence, record);
    if (status == RmSuccess) out[e.sequence] = std::move(record);
    else if (status != RmKeyNotFound) unread.push_back(e.sequence);
  }
  return unread;
}

std::vector<int32_t> KeptFiles::SalvageEvents(std::vector<EventEntry>& out, int32_t upTo) {
  std::map<int32_t, EventEntry> bySequence;
  for (EventEntry& e : out) bySequence[e.sequence] = std::move(e);
  std::vector<int32_t> unread;
  // A log holds some thousands of events a year; a sequence past this is
  // no event's, and the log's tail against its anchor names what is short.
  constexpr int32_t kMostEvents = 1000000;
  for (int32_t sequence = 1; sequence <= std::min(upTo, kMostEvents); ++sequence) {
    if (bySequence.count(sequence) != 0) continue;
    EventEntry event;
    const int16_t status = log_.Get(sequence, event);
    if (status == RmSuccess) bySequence[sequence] = std::move(event);
    else if (status != RmKeyNotFound) unread.push_back(sequence);
  }
  out.clear();
  for (auto& [sequence, e] : bySequence) out.push_back(std::move(e));
  return unread;
}

LogTail KeptFiles::FollowTail(const std::vector<RegisterEntry>& chain, const std::vector<EventEntry>& events) {
  const LogTail t = TailRule(chain, events);
  NameTail(t.sequence, t.fingerprint);
  return t;
}

void KeptFiles::NameTail(int32_t sequence, const std::string& fingerprint) {
  tail_ = sequence;
  tailFingerprint_ = sequence != 0 ? fingerprint : std::string();
}

int16_t KeptFiles::NoteCertificate() {
  if (!key_.Loaded()) return EventNotSigned;
  if (certificateNoted_) return 0;
  EventEntry last;
  if (log_.Last(last) == RmSuccess && SigningCertificateFingerprint(last.xml) != key_.CertificateFingerprint()) {
    const int16_t status = log_.Append(EventType::Other, "", tail_, tailFingerprint_, identity_, key_, GenerationTimeNow);
    if (status != 0) return status;
  }
  certificateNoted_ = true;
  return 0;
}

int16_t KeptFiles::Log(EventType type, const std::string& ownData) {
  if (!key_.Loaded()) return EventNotSigned;
  // The mode's start names its certificate itself.
  if (type == EventType::ModeStart) certificateNoted_ = true;
  const int16_t noted = NoteCertificate();
  if (noted != 0) return noted;
  return log_.Append(type, ownData, tail_, tailFingerprint_, identity_, key_, GenerationTimeNow);
}

struct KeepingMode::State {
  KeptFiles files;
  RegisterEntry signed_;  // the last record Signer signed, sequence 0 for none
};

KeepingMode::KeepingMode() = default;
KeepingMode::~KeepingMode() = default;

void KeepingMode::Start(const std::string& root, const VeriFactuSettings& settings, const std::string& issuerNif,
                        const std::string& issuerName, InvoiceRegister& reg) {
  state_.reset();
  problem_ = KeepingProblem{};
  active_ = settings.Keeping();
  if (!active_) {
    EndMode(root, issuerNif, issuerName, reg, settings);
    return;
  }
  state_ = std::make_unique<State>();
  KeptFiles& files = state_->files;
  const KeptFiles::Fault fault = files.Open(root, issuerNif, issuerName, false);
  // A Productor.ini or installation number at fault is told by the
  // register's own checks; the mode waits for them.
  if (fault == KeptFiles::Fault::Software || fault == KeptFiles::Fault::Installation) return;
  const CertificateProblem problem = files.LoadKey(settings, std::time(nullptr), &problem_.detail);
  if (problem != CertificateProblem::None) {
    problem_.kind = KeepingProblem::Kind::Key;
    problem_.key = problem;
    return;
  }
  problem_.detail.clear();
  int16_t status = files.FileStatus();
  std::vector<RegisterEntry> chain;
  if (status == 0) status = reg.ReadAll(chain);
  std::vector<EventEntry> events;
  if (status == 0) status = files.ReadEvents(events);
  if (status != 0) {
    problem_.kind = KeepingProblem::Kind::Files;
    problem_.status = status;
    return;
  }
  const LogTail tail = files.FollowTail(chain, events);
  if (!ModeStarted(events)) (void)files.Log(EventType::ModeStart, "");
  (void)files.NoteCertificate();
  if (tail.state != LogTail::State::Follows) {
    // Records wait for the user's answer (zepfact verify, or zepfact
    // events restored for a copy put back).
    (void)files.Log(EventType::RecordCheck, CheckLaunchedXml(false, static_cast<int64_t>(chain.size())));
    problem_.kind = KeepingProblem::Kind::TailCut;
    problem_.tailSequence = tail.noted;
    const bool cut = tail.state == LogTail::State::Cut;
    const std::string detail = cut ? "registre escurcat: el log anota " + std::to_string(tail.noted)
                                   : "el registre no es el que el log anota (copia antiga?)";
    const RecordId id = chain.empty() ? RecordId{} : IdOf(chain.back());
    (void)files.Log(EventType::RecordAnomaly, AnomalyXml(false, cut ? AnomalyType::NextMissing : AnomalyType::ChainOther,
                                                         detail, chain.empty() ? nullptr : &id, nullptr));
  }
  lastSummary_ = SummaryClock();
}

void KeepingMode::EndMode(const std::string& root, const std::string& issuerNif, const std::string& issuerName,
                          InvoiceRegister& reg, const VeriFactuSettings& settings) {
  // Only a log whose mode was started is ended, and only with the key that
  // signs it: until then records are refused, so that the log never stops
  // without its end.
  KeptFiles files;
  std::vector<EventEntry> events;
  std::vector<RegisterEntry> chain;
  const KeptFiles::Fault fault = files.Open(root, issuerNif, issuerName, true);
  if (fault == KeptFiles::Fault::Software || fault == KeptFiles::Fault::Installation || files.ReadEvents(events) != 0 ||
      !ModeStarted(events))
    return;
  problem_.kind = KeepingProblem::Kind::EndUnsigned;
  problem_.key = CertificateProblem::NotSet;
  if (settings.certificate.empty()) return;
  KeptFiles writer;
  problem_.key = CertificateProblem::None;
  problem_.kind = KeepingProblem::Kind::Files;
  problem_.status = static_cast<int16_t>(writer.Open(root, issuerNif, issuerName, false) != KeptFiles::Fault::None
                                             ? writer.FileStatus()
                                             : reg.ReadAll(chain));
  if (problem_.status != 0) return;
  problem_.key = writer.LoadKey(settings, std::time(nullptr), &problem_.detail);
  if (problem_.key != CertificateProblem::None) {
    problem_.kind = KeepingProblem::Kind::EndUnsigned;
    return;
  }
  (void)writer.FollowTail(chain, {});
  // The events since the last summary (zepfact's too) are summed up first.
  problem_.status = LogSummary(writer, events, chain);
  if (problem_.status == 0) problem_.status = writer.Log(EventType::ModeEnd, "");
  if (problem_.status == 0) problem_ = KeepingProblem{};
}

BeforeCommit KeepingMode::Signer(std::string& errorOut) {
  if (!active_ || !state_) return {};
  return [this, &errorOut](const std::vector<RegisterEntry>& written) {
    const int16_t status = SignAndKeep(written, state_->files.Key(), state_->files.SignedRecords(), errorOut);
    state_->signed_ = status == 0 && !written.empty() ? written.back() : RegisterEntry{};
    return status;
  };
}

void KeepingMode::Registered() {
  if (!active_ || !state_ || !Ready() || state_->signed_.sequence == 0) return;
  state_->files.NameTail(state_->signed_.sequence, state_->signed_.fingerprint);
  state_->signed_ = RegisterEntry{};
  (void)state_->files.Log(EventType::Other, "");
}

void KeepingMode::Summarise(InvoiceRegister& reg, bool atEnd) {
  if (!active_ || !state_ || !Ready() || !state_->files.CanSign()) return;
  const std::time_t now = SummaryClock();
  if (!atEnd && now - lastSummary_ < kSummaryEvery) return;
  lastSummary_ = now;
  KeptFiles& files = state_->files;
  std::vector<EventEntry> events;
  std::vector<RegisterEntry> chain;
  if (files.ReadEvents(events) != 0 || reg.ReadAll(chain) != 0) return;
  (void)files.FollowTail(chain, events);
  (void)LogSummary(files, events, chain);
}

bool KeepingMode::AnomalyStands() {
  if (!active_ || !state_ || !state_->files.EventsOpen()) return false;
  std::vector<EventEntry> events;
  return state_->files.ReadEvents(events) == 0 && ::AnomalyStands(events);
}
