// The not-sending mode (Tarn.ini [VeriFactu] Mode=conserva with the register
// on) for every program that appends records: the module's runs and its
// register screen, zepfact's cancel and correct. The issuer's key is loaded
// once per start, each record signed in the step that appends it, and the
// event log kept: the mode's start, the register's tail after every record
// made, an anomaly found at start (a register cut short or replaced by an
// older copy), and a summary every six hours of work and when the module
// ends. The callers word the problems in their own messages.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "register/register.h"
#include "signing/events.h"
#include "signing/kept.h"
#include "signing/xades.h"

// The register's last record against the one the log's last event names.
struct LogTail {
  enum class State {
    Follows,   // the register holds that record as the log names it (or the log names none)
    Cut,       // the register has no record of that sequence: cut short
    Replaced,  // its record of that sequence is another: an older copy put back
  };
  State state = State::Follows;
  // The tail every event names from now on: the register's last record
  // while it follows, else the log's, so that appending to a register cut
  // short never makes it look whole.
  int32_t sequence = 0;
  std::string fingerprint;
  int32_t noted = 0;  // the sequence the log names, 0 for none
};
[[nodiscard]] LogTail TailRule(const std::vector<RegisterEntry>& chain, const std::vector<EventEntry>& events);

// The agency's identity of a record as events name it: an invoice record
// by its invoice, a cancellation by the invoice it cancels.
[[nodiscard]] RecordId IdOf(const RegisterEntry& entry);

// The not-sending mode's two kept files of a root (kept.h), open for the
// life of the object, with who the events name, the issuer's key when one
// is loaded, the authorities its certificates must chain to, and the tail
// the events name. Every program that reads or writes the kept files goes
// through one of these.
class KeptFiles {
 public:
  enum class Fault { None, Software, Installation, Files };

  // Opens root's signed records and event log (made unless readOnly) and
  // loads who the events name (the issuer as given; the software and its
  // installation from root). Both files are tried whatever fails; the
  // first fault is returned (Files: FileStatus says the status).
  Fault Open(const std::string& root, const std::string& issuerNif, const std::string& issuerName, bool readOnly);
  [[nodiscard]] int16_t FileStatus() const { return fileStatus_; }
  [[nodiscard]] bool EventsOpen() const { return log_.IsOpen(); }
  [[nodiscard]] bool SignedOpen() const { return signed_.IsOpen(); }

  // Loads the issuer's key of settings, valid at now and chaining to the
  // settings' authorities for signing.
  [[nodiscard]] CertificateProblem LoadKey(const VeriFactuSettings& settings, std::time_t now,
                                           std::string* detailOut = nullptr);
  [[nodiscard]] bool CanSign() const { return key_.Loaded(); }
  [[nodiscard]] const SigningKey& Key() const { return key_; }
  [[nodiscard]] const EventIdentity& Identity() const { return identity_; }
  [[nodiscard]] KeptFile& SignedRecords() { return signed_; }
  // The checker of signatures against the settings' authorities.
  [[nodiscard]] const SignatureVerifier& Verifier(const VeriFactuSettings& settings);

  [[nodiscard]] int16_t ReadEvents(std::vector<EventEntry>& out);
  [[nodiscard]] int16_t ReadSigned(std::map<int32_t, KeptRecord>& out);
  // What a damaged file still gives after its walk stopped: each record of
  // the register's chain (each event up to upTo) that the walk did not
  // give, read on its own. Returns the sequences that could not be read
  // (ones that are not there are not counted: they keep their own verdict).
  std::vector<int32_t> SalvageSigned(std::map<int32_t, KeptRecord>& out, const std::vector<RegisterEntry>& chain);
  std::vector<int32_t> SalvageEvents(std::vector<EventEntry>& out, int32_t upTo);

  // The tail events name from now: TailRule's.
  LogTail FollowTail(const std::vector<RegisterEntry>& chain, const std::vector<EventEntry>& events);
  void NameTail(int32_t sequence, const std::string& fingerprint);
  [[nodiscard]] int32_t TailSequence() const { return tail_; }

  // Appends an event naming the tail, signed with the key: 0, the record
  // manager's status, or EventNotSigned when no key is loaded or it fails.
  // Every event's signature names the certificate that made it; the first
  // event of a key whose certificate is not the one that signed the log's
  // last event is preceded by an event of its own (90), so that a change
  // of certificate is logged where it was made; a start of the mode names
  // its certificate in its own signature instead.
  [[nodiscard]] int16_t Log(EventType type, const std::string& ownData);
  // Logs that event now when the certificate changed (0 when it did not).
  [[nodiscard]] int16_t NoteCertificate();

 private:
  KeptFile signed_;
  EventLog log_;
  EventIdentity identity_;
  SigningKey key_;
  std::unique_ptr<SignatureVerifier> verifier_;
  int16_t fileStatus_ = 0;
  int32_t tail_ = 0;
  std::string tailFingerprint_;
  bool certificateNoted_ = false;
};

// Why records cannot be signed now.
struct KeepingProblem {
  enum class Kind {
    None,
    Key,      // the certificate cannot sign: key says why, detail names the file or date at fault
    Files,    // the signed records, the event log or the register cannot be read: status
    TailCut,  // the register is shorter or other than the log says: tailSequence is the log's
    EndUnsigned,  // the mode was left but its end cannot be signed: key says why (NotSet: no certificate)
  };
  Kind kind = Kind::None;
  CertificateProblem key = CertificateProblem::None;
  std::string detail;  // host path of the file at fault, or the date of a validity
  int16_t status = 0;
  int32_t tailSequence = 0;
};

// The clock the six-hourly summaries are timed by: the system's unless a
// test sets another (empty: the system's again).
void SetSummaryClock(std::function<std::time_t()> clock);

class KeepingMode {
 public:
  KeepingMode();
  ~KeepingMode();
  KeepingMode(const KeepingMode&) = delete;
  KeepingMode& operator=(const KeepingMode&) = delete;

  // Out of the mode (settings of root's [VeriFactu]), a log whose mode was
  // started gets its end (02) when the certificate is still there to sign
  // it. In the mode, loads the key for the issuer (issuerNif: the 9
  // characters, checked; issuerName as the records carry it), opens the
  // kept files and logs the mode's start (when the log has no start since
  // its last end) and a tail that does not match reg. Problem() then says
  // when records cannot be signed.
  void Start(const std::string& root, const VeriFactuSettings& settings, const std::string& issuerNif,
             const std::string& issuerName, InvoiceRegister& reg);
  [[nodiscard]] bool Active() const { return active_; }
  [[nodiscard]] const KeepingProblem& Problem() const { return problem_; }
  // Whether records may be made: out of the mode, or in it with no problem.
  [[nodiscard]] bool Ready() const { return problem_.kind == KeepingProblem::Kind::None; }

  // For Append: signs and keeps the records written (out of the mode,
  // nothing); errorOut says why not.
  [[nodiscard]] BeforeCommit Signer(std::string& errorOut);
  // After the Append that Signer served was committed: the register's new
  // tail in the log.
  void Registered();
  // Logs a summary when six hours have passed since the last one, or always
  // with atEnd.
  void Summarise(InvoiceRegister& reg, bool atEnd);
  // Whether the log says an anomaly stands.
  [[nodiscard]] bool AnomalyStands();

 private:
  void EndMode(const std::string& root, const std::string& issuerNif, const std::string& issuerName,
               InvoiceRegister& reg, const VeriFactuSettings& settings);
  struct State;
  std::unique_ptr<State> state_;
  bool active_ = false;
  KeepingProblem problem_;
  std::time_t lastSummary_ = 0;
};
