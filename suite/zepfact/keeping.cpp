#include "suite/zepfact/keeping.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <utility>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "recman/maintenance.h"
#include "register/agency.h"
#include "register/anchor.h"
#include "register/software.h"
#include "register/taxid.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "signing/check.h"
#include "signing/keeping.h"
#include "signing/kept.h"
#include "suite/zepfact/messages.h"
#include "suite/zepfact/program.h"

namespace {

// Sequences as ranges: "3, 7-9".
std::string SequenceRanges(const std::vector<int32_t>& sequences) {
  std::string out;
  for (size_t i = 0; i < sequences.size();) {
    size_t j = i;
    while (j + 1 < sequences.size() && sequences[j + 1] == sequences[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(sequences[i]);
    if (j > i) out.append(1, '-').append(std::to_string(sequences[j]));
    i = j + 1;
  }
  return out;
}

// The kept files as zepfact uses them: problem names why events cannot be
// logged (the file at fault, or the certificate's problem).
struct Logger {
  KeptFiles files;
  std::string problem;

  void Load(const std::string& root, bool needKey, Language language) {
    Issuer issuer;
    static_cast<void>(ReadIssuer(root, issuer));
    const KeptFiles::Fault fault = files.Open(root, issuer.nif, issuer.name, !needKey);
    if (fault == KeptFiles::Fault::Software) problem = SoftwareFileName;
    if (fault == KeptFiles::Fault::Installation) problem = InstallationFileName;
    if (!files.EventsOpen() && problem.empty()) problem = EventLogFileName;
    if (!needKey || !problem.empty()) return;
    std::string detail;
    const CertificateProblem refused = files.LoadKey(LoadVeriFactuSettings(root), std::time(nullptr), &detail);
    if (refused != CertificateProblem::None)
      problem = CertificateProblemText(refused, detail, HostPath(root + "Tarn.ini"), language);
  }
  void Append(EventType type, const std::string& data) {
    if (problem.empty()) (void)files.Log(type, data);
  }
};

}  // namespace


bool KeepingModeOn(const std::string& root) { return LoadVeriFactuSettings(root).Keeping(); }

int VerifyKept(const std::string& root, const std::vector<RegisterEntry>& chain, int64_t onlyIndex, Language language) {
  Logger logger;
  logger.Load(root, true, language);
  CheckInput input;
  input.chain = chain;
  input.identity = logger.files.Identity();
  input.now = std::time(nullptr);
  input.anchored = ReadRegisterAnchor(HostPath(root + EventAnchorFileName), input.eventAnchor) == AnchorRead::Read;
  // A kept file that does not read whole is named once as damaged, with
  // the records it could not give by their sequence; the rest it gives,
  // read one by one past the damage, keep their own verdicts. One that
  // cannot be opened while records or events should be in it is named too.
  std::vector<Finding> damages;
  std::set<int32_t> unreadSigned;
  for (const auto& [name, events] : {std::pair<const char*, bool>{SignedRecordFileName, false}, {EventLogFileName, true}}) {
    const std::string file = HostPath(root + name) + ".dat";
    const std::string shown = Cp858ForDisplay(TidyHostPath(file));
    const bool open = events ? logger.files.EventsOpen() : logger.files.SignedOpen();
    const RecordFileCheck check = open && IsRegularFile(file) ? CheckRecordFile(file) : RecordFileCheck{};
    // Both are made when the mode starts: the log's anchor, or the log
    // itself, says the mode has run.
    const bool expected =
        ::access(file.c_str(), F_OK) == 0 || (events ? input.anchored : logger.files.EventsOpen() || input.anchored);
    Finding damage;
    damage.onEvents = events;
    damage.type = AnomalyType::IntegrityOther;
    if (!open) {
      if (!expected) continue;
      Say(stdout, FactText(FactMessage::FileUnreadable, language, shown, logger.files.FileStatus()));
      damage.detail = std::string("fitxer ") + (name + 6) + ".dat: no es pot obrir, estat " +
                      std::to_string(logger.files.FileStatus());
      damages.push_back(damage);
      continue;
    }
    const bool sound = check.status == 0 && check.problems.empty();
    if (!sound) {
      Say(stdout, FactText(FactMessage::FileDamaged, language, shown,
                           static_cast<int64_t>(std::max<size_t>(1, check.problems.size()))));
      for (const std::string& problem : check.problems) Say(stdout, "  " + problem);
      damage.detail = std::string("fitxer malmes ") + (name + 6) + ".dat: " +
                      (check.problems.empty() ? "estat " + std::to_string(check.status) : check.problems.front());
      damages.push_back(damage);
    }
    std::vector<int32_t> unread;
    if (!events && (logger.files.ReadSigned(input.signedRecords) != 0 || !sound)) {
      unread = logger.files.SalvageSigned(input.signedRecords, chain);
      unreadSigned.insert(unread.begin(), unread.end());
    } else if (events && (logger.files.ReadEvents(input.events) != 0 || !sound)) {
      const int32_t upTo = std::max(input.anchored ? input.eventAnchor.sequence : 0,
                                    input.events.empty() ? 0 : input.events.back().sequence);
      unread = logger.files.SalvageEvents(input.events, upTo);
    }
    if (!unread.empty())
      Say(stdout, FactText(events ? FactMessage::UnreadEvents : FactMessage::UnreadRecords, language,
                           SequenceRanges(unread)));
  }
  const SignatureVerifier& verifier = logger.files.Verifier(LoadVeriFactuSettings(root));
  CheckReport report = onlyIndex >= 0 ? CheckRecord(input, static_cast<size_t>(onlyIndex), verifier)
                                      : CheckEverything(input, verifier);
  if (!unreadSigned.empty()) {
    // A record the damage hides is not called unsigned: the damage names
    // it. Its other findings (fingerprint, chain, tail) stand.
    std::vector<Finding> kept;
    for (Finding& f : report.findings)
      if (f.onEvents || f.type != AnomalyType::Signature || unreadSigned.count(f.sequence) == 0)
        kept.push_back(std::move(f));
    report.findings = std::move(kept);
  }
  report.findings.insert(report.findings.begin(), damages.begin(), damages.end());
  (void)logger.files.FollowTail(chain, input.events);
  // The check and what it found go to the log: records first, then events.
  logger.Append(EventType::RecordCheck, CheckLaunchedXml(false, report.records));
  size_t logged = 0;
  for (const Finding& f : report.findings) {
    if (f.onEvents || ++logged > 50) continue;
    const RecordId id = IdOf(f.record);
    logger.Append(EventType::RecordAnomaly, AnomalyXml(false, f.type, f.detail, f.record.sequence != 0 ? &id : nullptr, nullptr));
  }
  if (onlyIndex < 0) {
    logger.Append(EventType::EventCheck, CheckLaunchedXml(true, report.events));
    for (const Finding& f : report.findings)
      if (f.onEvents && ++logged <= 50)
        logger.Append(EventType::EventAnomaly,
                      AnomalyXml(true, f.type, f.detail, nullptr, f.event.fingerprint.empty() ? nullptr : &f.event));
  }
  if (!logger.problem.empty()) Say(stderr, FactText(FactMessage::NotLogged, language, logger.problem));
  if (report.findings.empty()) {
    Say(stdout, FactText(FactMessage::KeepingSound, language, "", report.records + report.events));
    return 0;
  }
  for (const Finding& f : report.findings) {
    // A damage of a whole file names no record or event of its own.
    const bool whole = f.onEvents ? f.event.fingerprint.empty() : f.record.sequence == 0;
    std::string what = whole ? "" : f.onEvents ? "event " + f.event.type + ": " : IdOf(f.record).number + ": ";
    Say(stdout, FactText(FactMessage::Anomaly, language, what + f.detail, f.sequence));
  }
  return 1;
}

void LogRecordsExported(const std::string& root, const std::vector<RegisterEntry>& exported,
                        const std::vector<RegisterEntry>& chain, Language language) {
  if (exported.empty()) return;
  Logger logger;
  logger.Load(root, true, language);
  logger.files.NameTail(chain.empty() ? 0 : chain.back().sequence, chain.empty() ? "" : chain.back().fingerprint);
  int64_t issued = 0, vat = 0, total = 0, cancelled = 0;
  for (const RegisterEntry& e : exported) {
    if (e.IsCancellation()) {
      ++cancelled;
      continue;
    }
    ++issued;
    vat += e.vat;
    total += AgencyInvoiceTotal(e);
  }
  logger.Append(EventType::RecordsExported,
                RecordsExportedXml(exported.front().generatedAt, exported.back().generatedAt, IdOf(exported.front()),
                                   IdOf(exported.back()), issued, vat, total, cancelled));
  if (!logger.problem.empty()) Say(stderr, FactText(FactMessage::NotLogged, language, logger.problem));
}

void UseSignedXml(const std::string& root, std::vector<RegisterEntry>& chain) {
  KeptFiles files;
  (void)files.Open(root, "", "", true);
  if (!files.SignedOpen()) return;
  for (RegisterEntry& e : chain) {
    KeptRecord r;
    if (files.SignedRecords().Get(e.sequence, r) != 0) continue;
    const std::string signedXml = SignedXmlOf(r, e);
    if (!signedXml.empty()) e.xml = signedXml;
  }
}

int EventsCommand(const std::string& root, const std::vector<RegisterEntry>& chain, const std::string& what,
                  const std::string& folder, Language language) {
  Logger logger;
  logger.Load(root, what != "list", language);
  std::vector<EventEntry> events;
  if (logger.files.ReadEvents(events) != 0) {
    Say(stderr, FactText(FactMessage::CannotRead, language, Cp858ForDisplay(HostPath(root + EventLogFileName)), 0));
    return 1;
  }
  if (!events.empty()) logger.files.NameTail(events.back().tailSequence, events.back().tailFingerprint);
  if (what == "restored") {
    // The user confirms the register was restored from a copy: its last
    // record becomes the one the log names.
    logger.files.NameTail(chain.empty() ? 0 : chain.back().sequence, chain.empty() ? "" : chain.back().fingerprint);
    logger.Append(EventType::Restored, "");
    if (!logger.problem.empty()) {
      Say(stderr, FactText(FactMessage::NotLogged, language, logger.problem));
      return 1;
    }
    Say(stdout, FactText(FactMessage::RestoredNoted, language, "", logger.files.TailSequence()));
    return 0;
  }
  if (what == "list") {
    for (const EventEntry& e : events)
      Say(stdout, std::to_string(e.sequence) + "\t" + e.type + "\t" + e.generatedAt + "\t" + TailText(e.tailSequence, e.tailFingerprint) +
                      "\t" + e.fingerprint + "\t" + SigningCertificateFingerprint(e.xml));
    Say(stdout, FactText(FactMessage::EventCount, language, "", static_cast<int64_t>(events.size())));
    return 0;
  }
  if (::mkdir(folder.c_str(), 0755) != 0) {
    Say(stderr, FactText(FactMessage::CannotWrite, language, Cp858ForDisplay(folder)));
    return 1;
  }
  for (const EventEntry& e : events) {
    char name[16];
    std::snprintf(name, sizeof name, "/%06d.xml", static_cast<int>(e.sequence % 1000000));
    if (WriteWholeFile(folder + name, e.xml) != 0) {
      Say(stderr, FactText(FactMessage::CannotWrite, language, Cp858ForDisplay(folder + name)));
      return 1;
    }
  }
  if (!events.empty()) {
    logger.Append(EventType::EventsExported,
                  EventsExportedXml(events.front().generatedAt, events.back().generatedAt, events.front(), events.back(),
                                    static_cast<int64_t>(events.size())));
  }
  if (!logger.problem.empty()) Say(stderr, FactText(FactMessage::NotLogged, language, logger.problem));
  Say(stdout, FactText(FactMessage::EventsWritten, language, Cp858ForDisplay(folder), static_cast<int64_t>(events.size())));
  return 0;
}
