// What the user sees when the form definition file cannot be used: the
// module cannot show a single screen without it, so the start-up stops
// after this message.
#pragma once

#include <string>

#include "base/language.h"

// The message in |language|, code page 850, naming |file| as the caller
// passes it.
[[nodiscard]] std::string FormFileFailureText(Language language, const std::string& file);

// Shows that message in a framed window near the middle of the screen,
// sounds the beep, drops keys typed ahead, waits for one key and closes the
// window again. Uses Session.Language.
void ReportFormFileFailure(const std::string& file);
