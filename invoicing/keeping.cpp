#include "invoicing/keeping.h"

#include "base/paths.h"
#include "invoicing/messages.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "session/session.h"

namespace {

Language SessionLanguage() { return LanguageFromCode(Session.Language); }

std::string Text(RunMessage id) { return kRunTexts.Text(id, SessionLanguage()); }

}  // namespace

void StartKeeping(KeepingMode& keeping, InvoiceRegister& reg) {
  Issuer issuer;
  static_cast<void>(ReadIssuer(Session.RootDir, issuer));
  keeping.Start(Session.RootDir, LoadVeriFactuSettings(Session.RootDir), issuer.nif, issuer.name, reg);
}

std::string KeepingProblemText(const KeepingMode& keeping, const std::string& keyRefused) {
  const KeepingProblem& p = keeping.Problem();
  switch (p.kind) {
    case KeepingProblem::Kind::None: break;
    case KeepingProblem::Kind::Key:
      return keyRefused +
             CertificateProblemText(p.key, p.detail, HostPath(Session.RootDir + "Tarn.ini"), SessionLanguage(), true);
    case KeepingProblem::Kind::Files: return Text(RunMessage::RegisterNotWritten) + Text(RunMessage::Status) + std::to_string(p.status);
    case KeepingProblem::Kind::TailCut: return Text(RunMessage::RegisterCut) + std::to_string(p.tailSequence);
    case KeepingProblem::Kind::EndUnsigned: {
      IssuingProblem end = Refused(Refusal::ModeEndUnsigned, p.detail);
      end.certificate = p.key;
      end.settingsFile = HostPath(Session.RootDir + "Tarn.ini");
      return IssuingProblemText(end, SessionLanguage(), true);
    }
  }
  return "";
}
