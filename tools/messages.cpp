#include "tools/messages.h"

#include "session/session.h"

Language SessionLanguage() { return LanguageFromCode(Session.Language); }

const char* ToolText(ToolMessage id) { return kToolTexts.Text(id, SessionLanguage()); }
