#include "issuing/context.h"

#include <ctime>
#include <utility>

#include "base/child.h"
#include "base/codepage.h"
#include "base/paths.h"
#include "register/agency.h"
#include "register/xml.h"
#include "sending/state.h"

IssuingProblem LoadSoftware(const std::string& root, SoftwareIdentity& identityOut, std::string* installationOut) {
  std::string field;
  const SoftwareProblem software = LoadSoftwareIdentity(root, identityOut, field);
  if (software != SoftwareProblem::None) {
    IssuingProblem p = Refused(Refusal::Software, software == SoftwareProblem::MissingFile
                                                      ? Cp858ForDisplay(TidyHostPath(HostPath(root + SoftwareFileName)))
                                                      : std::string(SoftwareFileName) + " " + field);
    p.software = software;
    return p;
  }
  if (installationOut == nullptr) return {};
  if (const int error = InstallationNumber(root, *installationOut); error != 0)
    return Refused(Refusal::Installation, Cp858ForDisplay(TidyHostPath(HostPath(root + InstallationFileName))), error);
  return {};
}

IssuingProblem SendInBackground(const std::string& root, const std::string& programDir) {
  ChildSpec spec;
  spec.program = TidyHostPath(HostDirectory(programDir) + "zepfact");
  spec.args = {"--root", HostDirectory(root), "send", "--until-empty", "--background"};
  // The sender detaches at once; what is waited for here is its first half.
  const ChildEnd end = RunChild(spec);
  if (end.Succeeded()) return {};
  return Refused(Refusal::SenderNotStarted, Cp858ForDisplay(spec.program),
                 !end.started && end.startError != 0 ? end.startError : -1);
}

namespace {

// SendingModeKept when the root worked as VERI*FACTU (its sender ran) and
// may not leave the mode yet; None when it never did, or may.
IssuingProblem SendingModeLeft(const std::string& root) {
  SendingState state;
  SendControl control;
  if (state.Open(HostPath(root + SendingStateFileName), true) != 0 || state.Control(control) != 0) return {};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  bool renounced = false;
  const std::string from = SendingModeLeavableFrom(control, local.tm_year + 1900, renounced);
  if (from.empty()) return {};
  return Refused(Refusal::SendingModeKept, "1/1/" + from.substr(0, 4), renounced ? 1 : 0);
}

}  // namespace

IssuingContext::IssuingContext(std::string root, std::string programDir)
    : root_(std::move(root)), programDir_(std::move(programDir)) {
  agency_ = LoadVeriFactuSettings(root_);
  register_ = LoadRegisterSettings(root_);
  const IssuerProblem issuer = ReadIssuer(root_, issuer_);
  if (issuer == IssuerProblem::BadNif) {
    problem_ = Refused(Refusal::IssuerNif, issuer_.written);
  } else if (issuer == IssuerProblem::NoName) {
    problem_.what = Refusal::IssuerName;
  } else if (issuer == IssuerProblem::NameTooLong) {
    problem_.what = Refusal::IssuerNameTooLong;
  } else if (agency_.mode == AgencyMode::Unknown) {
    problem_ = Refused(Refusal::ModeUnknown, agency_.modeText);
  } else if (agency_.mode == AgencyMode::Off && register_.active) {
    // The law knows no register whose records are neither sent nor signed.
    problem_.what = Refusal::ModeNotSet;
  } else {
    // Out of the sending mode only once the year it worked in is over.
    if (!agency_.Sending()) problem_ = SendingModeLeft(root_);
    if (problem_.None()) problem_ = LoadSoftware(root_, software_, &installation_);
  }
  problem_.settingsFile = HostPath(root_ + "Tarn.ini");
}

AmendPlaces IssuingContext::Places() const {
  return {HostPath(root_ + "DADES\\"), HostPath(root_ + CollectionFileName) + ".dat", HostPath(root_ + "ARXIU\\")};
}

RecordXmlMaker IssuingContext::Maker() const {
  return [name = issuer_.name, software = software_, installation = installation_](const RegisterEntry& entry,
                                                                                   const RegisterEntry* previous) {
    return RecordXml(entry, previous, name, software, installation);
  };
}

RecordXmlMaker IssuingContext::CancellationMaker(bool withoutPrevious, bool afterRejection) const {
  return [name = issuer_.name, software = software_, installation = installation_, withoutPrevious, afterRejection](
             const RegisterEntry& entry, const RegisterEntry* previous) {
    if (!entry.IsCancellation()) return RecordXml(entry, previous, name, software, installation);
    return RegistroAnulacionXml(entry, previous, software, installation, withoutPrevious, afterRejection);
  };
}

std::string IssuingContext::CodeUrl(const RegisterEntry& entry) const {
  return TaxQrUrl(entry, !agency_.production, agency_.Sending());
}

IssuingProblem IssuingContext::StartKeeping(InvoiceRegister& reg) {
  if (!keepingStarted_) {
    keeping_.Start(root_, agency_, issuer_.nif, issuer_.name, reg);
    keepingStarted_ = true;
  }
  IssuingProblem p;
  p.settingsFile = problem_.settingsFile;
  const KeepingProblem& k = keeping_.Problem();
  switch (k.kind) {
    case KeepingProblem::Kind::None:
      break;
    case KeepingProblem::Kind::Files:
      p.what = Refusal::KeptFiles;
      p.number = k.status;
      break;
    case KeepingProblem::Kind::TailCut:
      p.what = Refusal::TailCut;
      p.number = k.tailSequence;
      break;
    case KeepingProblem::Kind::EndUnsigned:
      p.what = Refusal::ModeEndUnsigned;
      p.certificate = k.key;
      p.detail = k.detail;
      break;
    case KeepingProblem::Kind::Key:
      p.what = Refusal::Certificate;
      p.certificate = k.key;
      p.detail = k.detail;
      break;
  }
  return p;
}

IssuingProblem IssuingContext::SendNow() const {
  return agency_.Sending() ? SendInBackground(root_, programDir_) : IssuingProblem{};
}
