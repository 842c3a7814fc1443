#include "issuing/context.h"

#include <utility>

#include "base/codepage.h"
#include "base/paths.h"
#include "register/agency.h"
#include "register/xml.h"

IssuingContext::IssuingContext(std::string root) : root_(std::move(root)) {
  agency_ = LoadVeriFactuSettings(root_);
  register_ = LoadRegisterSettings(root_);
  const IssuerProblem issuer = ReadIssuer(root_, issuer_);
  std::string field;
  const SoftwareProblem software = LoadSoftwareIdentity(root_, software_, field);
  if (issuer == IssuerProblem::BadNif) {
    problem_ = Refused(Refusal::IssuerNif, issuer_.written);
  } else if (issuer == IssuerProblem::NoName) {
    problem_.what = Refusal::IssuerName;
  } else if (issuer == IssuerProblem::NameTooLong) {
    problem_.what = Refusal::IssuerNameTooLong;
  } else if (agency_.mode == AgencyMode::Unknown) {
    problem_ = Refused(Refusal::ModeUnknown, agency_.modeText);
  } else if (software != SoftwareProblem::None) {
    problem_.what = Refusal::Software;
    problem_.software = software;
    problem_.detail = software == SoftwareProblem::MissingFile
                          ? Cp858ForDisplay(TidyHostPath(HostPath(root_ + SoftwareFileName)))
                          : std::string(SoftwareFileName) + " " + field;
  } else if (const int error = InstallationNumber(root_, installation_); error != 0) {
    problem_ = Refused(Refusal::Installation, Cp858ForDisplay(TidyHostPath(HostPath(root_ + InstallationFileName))), error);
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
