// The form-file failure message.
#include "screens/formfile.h"

#include "base/codepage.h"
#include "console/tell.h"
#include "screens/messages.h"
#include "session/session.h"

std::string FormFileFailureText(Language language, const std::string& file) {
  return kScreenTexts.Text(ScreenMessage::FormFileUnreadable, language) + file;
}

void ReportFormFileFailure(const std::string& file) {
  // The file name holds the host's root (UTF-8); the message is in the code page.
  std::string text = FormFileFailureText(LanguageFromCode(Session.Language), Cp858ForDisplay(file));
  TellUserAndWait(12, text);
}
