// What making a record now needs, loaded once for an action by every
// program that makes records outside a run (the module's register screen,
// zepfact's cancel and correct): the issuer, the software and its
// installation, Tarn.ini [VeriFactu] and [Registre], the not-sending mode,
// the record's XML and the code printed on its page in the mode in force.
#pragma once

#include <string>

#include "agency/settings.h"
#include "issuing/issuer.h"
#include "issuing/problem.h"
#include "register/amend.h"
#include "register/register.h"
#include "register/software.h"
#include "session/session.h"
#include "signing/keeping.h"

// Starts <programDir>zepfact send --until-empty --background for root: it
// detaches at once and outlives the caller (one sender per root: a second
// one leaves at once). None, or SenderNotStarted naming the program and the
// errno of the start that failed (-1: it ended badly).
[[nodiscard]] IssuingProblem SendInBackground(const std::string& root, const std::string& programDir);

// The software's identity from root's Productor.ini and, when
// installationOut is given, the installation's number (made on first use);
// the problem when either cannot be had.
[[nodiscard]] IssuingProblem LoadSoftware(const std::string& root, SoftwareIdentity& identityOut,
                                          std::string* installationOut);

class IssuingContext {
 public:
  // root: the suite path (empty or ending in a separator); programDir: the
  // folder of the suite's programs, where the sender (zepfact) is.
  IssuingContext(std::string root, std::string programDir);
  IssuingContext(const IssuingContext&) = delete;
  IssuingContext& operator=(const IssuingContext&) = delete;

  // Why records cannot be made with these settings; None when they can.
  [[nodiscard]] const IssuingProblem& Problem() const { return problem_; }

  [[nodiscard]] const std::string& Root() const { return root_; }
  [[nodiscard]] const Issuer& TheIssuer() const { return issuer_; }
  [[nodiscard]] const VeriFactuSettings& Agency() const { return agency_; }
  [[nodiscard]] const RegisterSettings& Register() const { return register_; }
  [[nodiscard]] AmendPlaces Places() const;

  // The record's XML as the register keeps it, naming this issuer,
  // software and installation.
  [[nodiscard]] RecordXmlMaker Maker() const;
  // As Maker, with a cancellation's SinRegistroPrevio and RechazoPrevio.
  [[nodiscard]] RecordXmlMaker CancellationMaker(bool withoutPrevious, bool afterRejection) const;

  // The code printed on the page of entry: the agency's check of it, sent
  // (ValidarQR) in the sending mode, otherwise not (ValidarQRNoVerifactu).
  [[nodiscard]] std::string CodeUrl(const RegisterEntry& entry) const;

  // The not-sending mode for records made now on reg, started once (out of
  // the mode it does nothing); a problem when records cannot be signed.
  [[nodiscard]] IssuingProblem StartKeeping(InvoiceRegister& reg);

  // In the sending mode, starts the sender in the background for the
  // records just made (SendInBackground); out of it, nothing.
  [[nodiscard]] IssuingProblem SendNow() const;
  [[nodiscard]] KeepingMode& Keeping() { return keeping_; }

 private:
  std::string root_;
  std::string programDir_;
  Issuer issuer_;
  VeriFactuSettings agency_;
  RegisterSettings register_;
  SoftwareIdentity software_;
  std::string installation_;
  IssuingProblem problem_;
  KeepingMode keeping_;
  bool keepingStarted_ = false;
};
