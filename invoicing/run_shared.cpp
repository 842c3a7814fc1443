#include "invoicing/run_shared.h"

#include "base/codepage.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/tell.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "register/register.h"
#include "session/session.h"

std::string RunText(RunMessage id) { return kRunTexts.Text(id, LanguageFromCode(Session.Language)); }

void TellUser(const std::string& message) { TellUserAndWait(kRunMessageRow, message); }

std::string SpoolDirectory() {
  const std::string spool = PrintFilePath();
  const size_t slash = spool.find_last_of('/');
  return slash == std::string::npos ? std::string() : spool.substr(0, slash + 1);
}

std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

std::string ClassSeries(size_t c) { return TrimRight(TaxClasses[c].Series); }

std::string DataFolder() { return HostPath(Session.RootDir + "DADES\\"); }
std::string CollectionHostPath() { return HostPath(Session.RootDir + CollectionFileName) + ".dat"; }

int16_t RunRegister::Ready() {
  if (status_ < 0) {
    // The register's tail is anchored beside the archives: a register
    // that does not reach its anchor stops every registered run.
    register_.AnchorTail(HostPath(Session.RootDir + RegisterAnchorFileName));
    status_ = register_.Open(HostPath(Session.RootDir + RegisterFileName),
                             HostPath(Session.RootDir + "ddf\\" + RegisterDictionaryBaseName + ".xdf"), false,
                             HostPath(Session.RootDir + EarlierRegisterFileName));
    if (status_ == 0) status_ = register_.CheckTail(true);
  }
  return status_;
}

std::string RegisterProblemText(RunRegister& reg, int16_t status) {
  const std::string path = Cp858ForDisplay(TidyHostPath(HostPath(Session.RootDir + RegisterFileName) + ".dat"));
  if (status != RegisterTailLost) {
    return RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(status);
  }
  const RegisterTail& tail = reg.Get().Tail();
  const std::string anchor = Cp858ForDisplay(TidyHostPath(HostPath(Session.RootDir + RegisterAnchorFileName)));
  switch (tail.problem) {
    case RegisterTail::Problem::RegisterMissing:
      return RunText(RunMessage::RegisterMissing) + path;
    case RegisterTail::Problem::Shorter:
      return RunText(RunMessage::RegisterShorter) + path + RunText(RunMessage::RegisterEndsAt) +
             std::to_string(tail.lastSequence) + RunText(RunMessage::RegisterShouldReach) +
             std::to_string(tail.anchored) + ")";
    case RegisterTail::Problem::Differs:
      return RunText(RunMessage::RegisterDiffers) + anchor;
    case RegisterTail::Problem::AnchorDamaged:
      return RunText(RunMessage::AnchorDamaged) + anchor;
    case RegisterTail::Problem::Unreadable:
      return RunText(RunMessage::RegisterUnreadable) + path + RunText(RunMessage::Status) +
             std::to_string(tail.status);
    case RegisterTail::Problem::None:
      break;
  }
  return RunText(RunMessage::RegisterNotWritten);
}
