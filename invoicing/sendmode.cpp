#include "invoicing/sendmode.h"

#include "base/paths.h"
#include "invoicing/messages.h"
#include "register/record.h"
#include "sending/sender.h"
#include "agency/settings.h"
#include "sending/state.h"

bool SendingModeOn(const std::string& rootDir) { return LoadVeriFactuSettings(rootDir).Sending(); }

void SendingBacklog(const std::string& rootDir, int64_t& pending, int64_t& rejected) {
  if (SendingCounts(HostPath(rootDir + RegisterFileName) + ".dat", HostPath(rootDir + SendingStateFileName) + ".dat",
                    pending, rejected) != 0) {
    pending = 0;
    rejected = 0;
  }
}

std::string SendingBacklogLine(const std::string& rootDir, Language language) {
  int64_t pending = 0;
  int64_t rejected = 0;
  SendingBacklog(rootDir, pending, rejected);
  if (pending == 0 && rejected == 0) return std::string();
  std::string line = kRunTexts.Text(RunMessage::SendingPending, language) + std::to_string(pending);
  if (rejected > 0) line += kRunTexts.Text(RunMessage::SendingRejected, language) + std::to_string(rejected);
  return line;
}
