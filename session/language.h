// Language resources: the module's Catalan texts in the session language.
#pragma once

#include <string>

// The name of the module: it names the form definition file and the
// language file.
inline constexpr const char* ModuleName = "KORVADEL";

// text in Session.Language, looked up in RootDir + "LOCALE\KORVADEL.LNG":
// the text itself for Catalan, for a language other than SPA, GLG or OCI,
// or when no record has that key. No cache: the file is read on every call;
// a missing file is created empty. Only a regular file of at most
// MostItemFileBytes (session/items.h) is read; a pipe, device or folder in
// its place is neither read nor replaced.
std::string Translate(const std::string& text);
