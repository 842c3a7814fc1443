#include "issuing/context.h"

#include <utility>

#include "base/codepage.h"
#include "base/paths.h"
#include "register/agency.h"
#include "register/xml.h"

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

IssuingContext::IssuingContext(std::string root) : root_(std::move(root)) {
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
  } else {
    problem_ = LoadSoftware(root_, software_, &installation_);
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
    case KeepingProblem::Kind::Key:
      p.what = Refusal::Certificate;
      p.certificate = k.key;
      p.detail = k.detail;
      break;
  }
  return p;
}
