#include "invoicing/keeping.h"

#include "base/codepage.h"
#include "invoicing/messages.h"
#include "session/session.h"

namespace {

std::string Text(RunMessage id) { return kRunTexts.Text(id, LanguageFromCode(Session.Language)); }

RunMessage KeyMessage(KeyProblem problem) {
  switch (problem) {
    case KeyProblem::CertificateMissing: return RunMessage::KeyCertificateMissing;
    case KeyProblem::CertificateUnreadable: return RunMessage::KeyCertificateUnreadable;
    case KeyProblem::PasswordMissing: return RunMessage::KeyPasswordMissing;
    case KeyProblem::PasswordExposed: return RunMessage::KeyPasswordExposed;
    case KeyProblem::WrongPassword: return RunMessage::KeyWrongPassword;
    case KeyProblem::NoKey: return RunMessage::KeyNoKey;
    case KeyProblem::NotYetValid: return RunMessage::KeyNotYetValid;
    case KeyProblem::Expired: return RunMessage::KeyExpired;
    case KeyProblem::NotIssuer:
    case KeyProblem::None: break;
  }
  return RunMessage::KeyNotIssuer;
}

}  // namespace

void StartKeeping(KeepingMode& keeping, InvoiceRegister& reg) {
  keeping.Start(Session.RootDir, IssuerDetails[IssuerItem::TaxNumber], IssuerDetails[IssuerItem::Name], reg);
}

std::string KeepingProblemText(const KeepingMode& keeping, const std::string& keyRefused) {
  const KeepingProblem& p = keeping.Problem();
  switch (p.kind) {
    case KeepingProblem::Kind::None: break;
    case KeepingProblem::Kind::Key: return keyRefused + Text(KeyMessage(p.key)) + Cp858ForDisplay(p.file);
    case KeepingProblem::Kind::Files: return Text(RunMessage::RegisterNotWritten) + Text(RunMessage::Status) + std::to_string(p.status);
    case KeepingProblem::Kind::TailCut: return Text(RunMessage::RegisterCut) + std::to_string(p.tailSequence);
  }
  return "";
}
