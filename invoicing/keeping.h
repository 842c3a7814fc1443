// The run's side of the not-sending mode (Tarn.ini [VeriFactu]
// Mode=conserva with the register on): the issuer's key loaded once per
// run of the module, each record signed in the step that appends it, and
// the event log: the mode's start, the register's tail after every run, an
// anomaly found at start (a register cut short or replaced by an older
// copy), and a summary every six hours of work and when the run ends.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "register/register.h"
#include "signing/xades.h"

class KeepingMode {
 public:
  KeepingMode();
  ~KeepingMode();

  // Reads the settings; out of the mode, a log whose mode was started gets
  // its end (02) when the certificate is still there to sign it. In the
  // mode, loads the key, opens the kept files
  // and logs the mode's start (when the log has no start since its last
  // end) and a tail that does not match reg. Problem() then holds the
  // user's text when records cannot be signed.
  void Start(const std::string& root, InvoiceRegister& reg);
  [[nodiscard]] bool Active() const { return active_; }
  // Why the run cannot register (code page 850, the session's language);
  // empty when it can.
  [[nodiscard]] const std::string& Problem() const { return problem_; }
  // For Append: signs and keeps the records written; errorOut says why not.
  [[nodiscard]] BeforeCommit Signer(std::string& errorOut);
  // After a run was registered: the register's new tail in the log.
  void Registered(const std::vector<RegisterEntry>& written);
  // Logs a summary when six hours have passed since the last one, or always
  // with atEnd.
  void Summarise(InvoiceRegister& reg, bool atEnd);
  // Whether the log says an anomaly stands.
  [[nodiscard]] bool AnomalyStands();

 private:
  void EndMode(const std::string& root, InvoiceRegister& reg, const SigningSettings& settings);
  struct State;
  std::unique_ptr<State> state_;
  bool active_ = false;
  std::string problem_;
  std::time_t lastSummary_ = 0;
};
