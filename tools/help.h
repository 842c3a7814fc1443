// Help pages. In a windowed session the HTML page is handed to the suite's
// help launcher; otherwise the plain help file "AJUDA\" + key + ".HLP" under
// the suite root is shown in a framed, scrollable window. F1 inside a page
// opens the general page "ZARVISEL".
#pragma once

#include <string>
#include <vector>

// The name of the general help page.
inline constexpr const char* GeneralHelpKey = "ZARVISEL";

// Shows the help page of key and returns when the user leaves it (Esc) or
// when the launcher ends. A missing help file (or something other than a
// regular file in its place) is told to the user in the session language
// (TellUserAndWait).
void ShowHelp(const std::string& key);



// The page key as AJUDA holds it for a session of this language: a page of
// that language's folder when there is one (key "SPA\FACTHON" for the page
// AJUDA\SPA\FACTHON.HLP), else the key itself (Catalan pages stand in AJUDA).
// extension is ".HLP" or ".HTM"; only a regular file counts.
[[nodiscard]] std::string LocalisedHelpKey(const std::string& rootDir, const std::string& languageCode,
                                           const std::string& key, const std::string& extension);

// The launcher's command as the arguments given to posix_spawn: through
// comspec ("/C BROVEX AJUDA\key.HTM") when it is set, else through
// /bin/sh -c running exeDir's brovex on the host path of the page.
std::vector<std::string> HelpLauncherCommand(const std::string& comspec, const std::string& exeDir,
                                             const std::string& rootDir, const std::string& key);
