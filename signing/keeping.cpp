#include "signing/keeping.h"

#include <map>

#include "base/paths.h"
#include "base/text.h"
#include "register/agency.h"
#include "register/software.h"
#include "signing/check.h"
#include "signing/events.h"
#include "signing/kept.h"

namespace {

constexpr std::time_t kSummaryEvery = 6 * 3600;

RecordId IdOf(const RegisterEntry& e) {
  return {e.issuerTaxId, PrintedInvoiceNumber(e.series, e.number), AgencyDate(e.date), e.fingerprint};
}

// Whether the log's last start (01) of the mode came after its last end (02).
bool ModeStarted(const std::vector<EventEntry>& events) {
  bool started = false;
  for (const EventEntry& e : events) {
    if (e.Is(EventType::ModeStart)) started = true;
    if (e.Is(EventType::ModeEnd)) started = false;
  }
  return started;
}

// Who the events name; false when Productor.ini or the installation number
// is at fault (the register's own checks tell that).
bool LoadIdentity(const std::string& root, const std::string& issuerNif, const std::string& issuerName,
                  EventIdentity& identity) {
  identity.issuerNif = issuerNif;
  identity.issuerName = issuerName;
  std::string field;
  return LoadSoftwareIdentity(root, identity.software, field) == SoftwareProblem::None &&
         InstallationNumber(root, identity.installation) == 0;
}

}  // namespace

struct KeepingMode::State {
  SigningKey key;
  KeptFile signedFile;
  EventLog log;
  EventIdentity identity;
  RegisterEntry last;    // the register's last record, sequence 0 for none
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
  State& s = *state_;
  // A Productor.ini or installation number at fault is told by the
  // register's own checks; the mode waits for them.
  if (!LoadIdentity(root, issuerNif, issuerName, s.identity)) return;
  const CertificateProblem problem = s.key.Load(settings, s.identity.issuerNif, std::time(nullptr), &problem_.detail);
  if (problem != CertificateProblem::None) {
    problem_.kind = KeepingProblem::Kind::Key;
    problem_.key = problem;
    return;
  }
  problem_.detail.clear();
  int16_t status = s.signedFile.Open(HostPath(root + SignedRecordFileName), false);
  if (status == 0) status = s.log.Open(root, false);
  std::vector<RegisterEntry> chain;
  if (status == 0) status = reg.ReadAll(chain);
  if (status != 0) {
    problem_.kind = KeepingProblem::Kind::Files;
    problem_.status = status;
    return;
  }
  if (!chain.empty()) s.last = chain.back();
  std::vector<EventEntry> events;
  if (s.log.ReadAll(events) != 0) return;
  const std::string tailFp = s.last.sequence != 0 ? s.last.fingerprint : std::string();
  if (!ModeStarted(events))
    (void)s.log.Append(EventType::ModeStart, "", s.last.sequence, tailFp, s.identity, s.key, GenerationTimeNow);
  // The register's last record must be the one the log last named, or a
  // later one that follows it.
  if (!events.empty() && events.back().tailSequence > 0) {
    const EventEntry& noted = events.back();
    const RegisterEntry* held = nullptr;
    for (const RegisterEntry& e : chain)
      if (e.sequence == noted.tailSequence) held = &e;
    if (held == nullptr || held->fingerprint != noted.tailFingerprint) {
      // The events keep naming the log's tail: appending to a register cut
      // short must not make it look whole. Records wait for the user's
      // answer (zepfact verify, or zepfact events restored for a copy put
      // back).
      (void)s.log.Append(EventType::RecordCheck, CheckLaunchedXml(false, static_cast<int64_t>(chain.size())),
                         noted.tailSequence, noted.tailFingerprint, s.identity, s.key, GenerationTimeNow);
      problem_.kind = KeepingProblem::Kind::TailCut;
      problem_.tailSequence = noted.tailSequence;
      const std::string detail = held == nullptr ? "registre escurcat: el log anota " + std::to_string(noted.tailSequence)
                                                 : "el registre no es el que el log anota (copia antiga?)";
      const RecordId id = IdOf(s.last);
      (void)s.log.Append(EventType::RecordAnomaly,
                         AnomalyXml(false, held == nullptr ? AnomalyType::NextMissing : AnomalyType::ChainOther, detail,
                                    s.last.sequence != 0 ? &id : nullptr, nullptr),
                         noted.tailSequence, noted.tailFingerprint, s.identity, s.key, GenerationTimeNow);
    }
  }
  lastSummary_ = std::time(nullptr);
}

void KeepingMode::EndMode(const std::string& root, const std::string& issuerNif, const std::string& issuerName,
                          InvoiceRegister& reg, const VeriFactuSettings& settings) {
  // Only a log whose mode was started is ended, and only with the key that
  // signs it: without a certificate the log stays as it was.
  EventLog log;
  EventEntry last;
  if (log.Open(root, true) != 0 || log.Last(last) != 0) return;
  std::vector<EventEntry> events;
  if (log.ReadAll(events) != 0 || !ModeStarted(events) || settings.certificate.empty()) return;
  EventIdentity identity;
  SigningKey key;
  std::vector<RegisterEntry> chain;
  if (!LoadIdentity(root, issuerNif, issuerName, identity) ||
      key.Load(settings, identity.issuerNif, std::time(nullptr)) != CertificateProblem::None || reg.ReadAll(chain) != 0)
    return;
  EventLog writer;
  if (writer.Open(root, false) != 0) return;
  const RegisterEntry tail = chain.empty() ? RegisterEntry{} : chain.back();
  (void)writer.Append(EventType::ModeEnd, "", tail.sequence, chain.empty() ? "" : tail.fingerprint, identity, key,
                      GenerationTimeNow);
}

BeforeCommit KeepingMode::Signer(std::string& errorOut) {
  if (!active_ || !state_) return {};
  return [this, &errorOut](const std::vector<RegisterEntry>& written) {
    const int16_t status = SignAndKeep(written, state_->key, state_->signedFile, errorOut);
    state_->signed_ = status == 0 && !written.empty() ? written.back() : RegisterEntry{};
    return status;
  };
}

void KeepingMode::Registered() {
  if (!active_ || !state_ || !Ready() || state_->signed_.sequence == 0) return;
  state_->last = state_->signed_;
  state_->signed_ = RegisterEntry{};
  (void)state_->log.Append(EventType::Other, "", state_->last.sequence, state_->last.fingerprint, state_->identity,
                           state_->key, GenerationTimeNow);
}

void KeepingMode::Summarise(InvoiceRegister& reg, bool atEnd) {
  if (!active_ || !state_ || !Ready() || !state_->key.Loaded()) return;
  const std::time_t now = std::time(nullptr);
  if (!atEnd && now - lastSummary_ < kSummaryEvery) return;
  lastSummary_ = now;
  State& s = *state_;
  std::vector<EventEntry> events;
  std::vector<RegisterEntry> chain;
  if (s.log.ReadAll(events) != 0 || reg.ReadAll(chain) != 0) return;
  // The period: since the last summary (or the mode's start).
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
    if (e.xml.find("RegistroAnulacion") != std::string::npos) {
      ++counts.cancelled;
    } else {
      ++counts.issued;
      counts.vatCents += e.vat;
      counts.totalCents += AgencyInvoiceTotal(e);
    }
  }
  const RegisterEntry last = chain.empty() ? RegisterEntry{} : chain.back();
  (void)s.log.Append(EventType::Summary, SummaryXml(counts), last.sequence, chain.empty() ? "" : last.fingerprint,
                     s.identity, s.key, GenerationTimeNow);
}

bool KeepingMode::AnomalyStands() {
  if (!active_ || !state_ || !state_->log.IsOpen()) return false;
  std::vector<EventEntry> events;
  return state_->log.ReadAll(events) == 0 && ::AnomalyStands(events);
}
