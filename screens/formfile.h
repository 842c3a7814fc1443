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

// The first form of the loaded tables that would trap the user, as a
// message in language naming it and file (code page 850, as the caller
// passes it); empty when every form can be left. A form with an editable
// field traps the user when none of its exit keys reports Esc, Enter, End
// or the end code 2, when its window or one of its editable fields lies
// outside the 80 x 25 screen the forms are laid out for, or when its
// follow-on forms lead back to it.
[[nodiscard]] std::string TrappingFormText(Language language, const std::string& file);
