// The session launcher: the part of the suite's menu program that prepares a
// session for the fee-invoice module and starts it. This header holds the
// pieces that need no process: reading the options, the session and terminal
// settings files it writes, and its messages in the four languages.
#pragma once

#include <string>
#include <vector>

// What the caller's process knows and the options may refer to; passed in so
// that tests can fix it.
struct LauncherContext {
  std::string workingDir;  // absolute host path of the current directory
  std::string selfDir;     // absolute host path of the folder of zepmenu
  std::string today;       // YYYYMMDD
};

// A session as the options describe it. Directories are absolute host paths
// ending in "/"; texts that go into the settings files are code page 850.
struct LauncherOptions {
  std::string root;
  std::string exe;
  std::string language;  // "", "CAT", "SPA", "GLG" or "OCI"
  std::string device;    // as given (a host path, "PDF", "LP:name"); "PDF" by default
  std::string date;      // YYYYMMDD
  std::string title;     // code page 850
  bool usage = false;    // --help: print the usage and do nothing else
};

// The language of zepmenu's own messages: the --lang value when valid, else
// that of |langEnv|, the first set of LC_ALL, LC_MESSAGES, LANG ("es_ES.UTF-8"
// gives "SPA"; ca, gl, oc likewise), else "CAT".
std::string MessageLanguage(const std::vector<std::string>& args, const std::string& langEnv);

// Reads the options (without the program name). Returns 0 and fills |out|,
// or returns 2 with a one-line message in |error| (UTF-8, in |language|).
// Checks: known options with their values, language one of the four, a real
// calendar date, root and exe existing directories, no "\" in directories
// (the module joins its paths with it), no ";" or control characters in the
// texts that go into the settings files, a title representable in code page
// 850. The device keeps its bytes: the print program opens it as a host path.
// A relative device path ending in ".pdf" or ".txt" is made absolute against
// the working directory, because the module runs in the suite root.
int ParseLauncherOptions(const std::vector<std::string>& args, const LauncherContext& ctx,
                         const std::string& language, LauncherOptions& out, std::string& error);

// The name of the help page the session's menu stands for.
inline constexpr const char* SessionMenuName = "FACTHON";

// Contents of "Sessio.ini" and "TarnTerm.ini" (code page 850, CR LF) for a
// session whose temporary directory is |tempDir| (host path without the
// final "/": the module adds its own separator).
std::string SessionFileText(const LauncherOptions& options, const std::string& tempDir);
std::string TerminalFileText(const LauncherOptions& options);

// True when |yyyymmdd| is 8 digits naming a real Gregorian date from 1583 on.
bool IsCalendarDate(const std::string& yyyymmdd);

enum class LauncherMessage {
  Usage,
  UnknownOption,
  MissingValue,
  BadLanguage,
  BadDate,
  NotDirectory,
  Backslash,
  BadText,
  TempDirFailed,
  WriteFailed,
  StartFailed,
  PdfSaved,
  NoParentDir,
  DefaultTitle,  // the session title when --title is not given
  ModuleKilled,  // the module died by a signal; the terminal was restored
};

// The language the session speaks, as the module works it out: --lang,
// else Idioma of [Usuari] in the root's Tarn.ini; "CAT", "SPA", "GLG" or
// "OCI" (anything else is Catalan).
std::string SessionLanguage(const LauncherOptions& options);

// What zepmenu writes to the terminal after a module that died without
// giving it back: mouse reports, bracketed paste, application cursor keys
// and keypad switched off, the alternate screen left (last, so that what
// follows is on the normal screen), the cursor shown, attributes reset.
inline constexpr const char* TerminalModesOff =
    "\x1b[?1000l\x1b[?1002l\x1b[?1003l\x1b[?1006l\x1b[?2004l\x1b[?1l\x1b>"
    "\x1b[?1049l\x1b[?25h\x1b[0m";

// The message text in |language| (UTF-8, for the terminal).
std::string LauncherText(LauncherMessage id, const std::string& language);
