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
#include <memory>
#include <string>
#include <vector>

#include "register/register.h"
#include "signing/xades.h"

// Why records cannot be signed now.
struct KeepingProblem {
  enum class Kind {
    None,
    Key,      // the certificate cannot sign: key says why, detail names the file or date at fault
    Files,    // the signed records, the event log or the register cannot be read: status
    TailCut,  // the register is shorter or other than the log says: tailSequence is the log's
  };
  Kind kind = Kind::None;
  CertificateProblem key = CertificateProblem::None;
  std::string detail;  // host path of the file at fault, or the date of a validity
  int16_t status = 0;
  int32_t tailSequence = 0;
};

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
