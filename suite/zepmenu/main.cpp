// zepmenu: opens a session of the fee-invoice module in the current terminal.
// Makes the session's temporary directory with its two settings files, sets
// ZEPROOT, ZEPEXE and ZEPTMP, runs korvadel, waits for it, keeps the PDFs
// the print program left in the temporary directory, removes the directory and
// ends with korvadel's exit code. Bad options: a message and exit code 2.
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/child.h"
#include "base/clock.h"
#include "base/durable.h"
#include "base/paths.h"
#include "suite/zepmenu/launcher.h"

namespace {

namespace fs = std::filesystem;

// Exit codes of the launcher's own failures (korvadel's code otherwise).
constexpr int kExitBadOptions = 2;
constexpr int kExitSessionFailed = 1;
constexpr int kExitStartFailed = 127;

volatile sig_atomic_t childPid = 0;

// SIGTERM and SIGHUP reach the module (it restores the terminal on them);
// the launcher keeps waiting so that it can still clean up.
void ForwardSignal(int signal) {
  if (childPid > 0) kill(static_cast<pid_t>(childPid), signal);
}

std::string Getenv(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

std::string SelfDir() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return self.parent_path().string();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

// A directory for the session under TMPDIR (else /tmp); empty on failure.
// A TMPDIR the module could not use (a "\" or ";" in it) is passed over.
std::string MakeSessionDir() {
  std::string base = Getenv("TMPDIR");
  if (base.empty() || base.find_first_of("\\;") != std::string::npos) base = "/tmp";
  // One form for every path built on it (ZEPTMP, messages): no doubled "/".
  base = HostDirectory(base);
  std::string pattern = base + "zepmenu.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return {};
  return buffer.data();
}

// A name in |dir| that does not exist yet: zepprint.pdf, zepprint-1.pdf, ...
fs::path FreeName(const fs::path& dir) {
  std::error_code ec;
  fs::path candidate = dir / "zepprint.pdf";
  for (int i = 1; fs::exists(candidate, ec) && i < 1000; ++i) {
    candidate = dir / ("zepprint-" + std::to_string(i) + ".pdf");
  }
  return candidate;
}

// The terminal as it was before the module started.
struct SavedTerminal {
  bool saved = false;
  termios settings{};
};

SavedTerminal SaveTerminal() {
  SavedTerminal terminal;
  terminal.saved = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &terminal.settings) == 0;
  return terminal;
}

// Gives the terminal back after a module that could not: the modes a
// full-screen program turns on are switched off, the saved settings (echo,
// line editing, signals) put back once that output has gone out.
void RestoreTerminal(const SavedTerminal& terminal) {
  if (isatty(STDOUT_FILENO)) {
    static_cast<void>(WriteAll(STDOUT_FILENO, TerminalModesOff));
  }
  if (terminal.saved) tcsetattr(STDIN_FILENO, TCSADRAIN, &terminal.settings);
}

// "SIGKILL" for 9; the number when the signal has no name.
std::string SignalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation : std::to_string(signal);
}

// Runs |program| in the current terminal and waits for it. SIGINT and
// SIGQUIT are ignored meanwhile (they are the module's keys or its own
// business); SIGTERM and SIGHUP are passed on to it.
ChildEnd RunModule(const std::string& program) {
  struct sigaction ignore{};
  ignore.sa_handler = SIG_IGN;
  struct sigaction forward{};
  forward.sa_handler = ForwardSignal;
  struct sigaction oldInt{}, oldQuit{}, oldTerm{}, oldHup{};
  sigaction(SIGINT, &ignore, &oldInt);
  sigaction(SIGQUIT, &ignore, &oldQuit);
  sigaction(SIGTERM, &forward, &oldTerm);
  sigaction(SIGHUP, &forward, &oldHup);

  ChildSpec spec;
  spec.program = program;
  spec.argv0 = "korvadel";
  // The module gets the end signals at their defaults, not our ignoring.
  spec.defaultSignals = true;
  pid_t pid = 0;
  ChildEnd end;
  end.startError = StartChild(spec, pid);
  if (end.startError == 0) {
    childPid = pid;
    end = WaitChild(pid);
    childPid = 0;
  }
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGQUIT, &oldQuit, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);
  return end;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string langEnv = Getenv("LC_ALL");
  if (langEnv.empty()) langEnv = Getenv("LC_MESSAGES");
  if (langEnv.empty()) langEnv = Getenv("LANG");
  const std::string language = MessageLanguage(args, langEnv);

  std::error_code ec;
  LauncherContext context;
  context.workingDir = fs::current_path(ec).string();
  context.selfDir = SelfDir();
  context.today = TodayDigits();

  LauncherOptions options;
  std::string error;
  if (ParseLauncherOptions(args, context, language, options, error) != 0) {
    std::cerr << "zepmenu: " << error << "\n\n" << LauncherText(LauncherMessage::Usage, language);
    return kExitBadOptions;
  }
  if (options.usage) {
    std::cout << LauncherText(LauncherMessage::Usage, language);
    return 0;
  }

  const std::string sessionDir = MakeSessionDir();
  if (sessionDir.empty()) {
    std::cerr << "zepmenu: " << LauncherText(LauncherMessage::TempDirFailed, language) << "\n";
    return kExitSessionFailed;
  }
  const std::string sessionFile = sessionDir + "/Sessio.ini";
  const std::string terminalFile = sessionDir + "/TarnTerm.ini";
  for (const auto& [path, text] : {std::pair{sessionFile, SessionFileText(options, sessionDir)},
                                   std::pair{terminalFile, TerminalFileText(options)}}) {
    if (!WriteFile(path, text)) {
      std::cerr << "zepmenu: " << LauncherText(LauncherMessage::WriteFailed, language) << ": "
                << path << "\n";
      fs::remove_all(sessionDir, ec);
      return kExitSessionFailed;
    }
  }

  setenv("ZEPROOT", options.root.c_str(), 1);
  setenv("ZEPEXE", options.exe.c_str(), 1);
  setenv("ZEPTMP", (sessionDir + "/").c_str(), 1);

  const std::string program = options.exe + "korvadel";
  const SavedTerminal terminal = SaveTerminal();
  const ChildEnd end = RunModule(program);
  int code = 0;
  if (!end.started || (end.exited && end.exitCode < 0)) {
    std::cerr << "zepmenu: " << LauncherText(LauncherMessage::StartFailed, language) << ": "
              << program << "\n";
    code = kExitStartFailed;
  } else if (end.exited) {
    code = end.exitCode;
  } else {
    // Killed (SIGKILL, SIGQUIT, an abort): the module could not give the
    // terminal back, so it is done here, and the user is told why.
    RestoreTerminal(terminal);
    std::cerr << "zepmenu: " << LauncherText(LauncherMessage::ModuleKilled, SessionLanguage(options)) << ": "
              << SignalName(end.signal) << "\n";
    code = 128 + end.signal;
  }

  // With the device "PDF" the print program writes each print into the
  // session's directory (zepprint.pdf, zepprint-2.pdf, ...), which goes away
  // now: keep every document in the caller's folder.
  for (int n = 1; n < 10000; ++n) {
    const fs::path leftPdf = NumberedName((fs::path(sessionDir) / "zepprint.pdf").string(), n);
    if (!fs::exists(leftPdf, ec)) break;
    fs::path target = FreeName(context.workingDir);
    // Made whole and on disk before the session's copy goes; never over a
    // file that appeared under the free name meanwhile.
    if (CopyFileExclusively(leftPdf.string(), target.string()) == 0) {
      std::cout << "zepmenu: " << LauncherText(LauncherMessage::PdfSaved, language) << " "
                << target.string() << "\n";
    } else {
      // Nothing is lost: the session directory stays with the documents in it.
      std::cerr << "zepmenu: " << LauncherText(LauncherMessage::WriteFailed, language) << ": "
                << target.string() << "\n"
                << "zepmenu: " << LauncherText(LauncherMessage::PdfSaved, language) << " "
                << leftPdf.string() << "\n";
      return code;
    }
  }
  fs::remove_all(sessionDir, ec);
  return code;
}
