// The session launcher: its options, and a real run of zepmenu against a
// stand-in korvadel that records what the session gave it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>


#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/ini.h"
#include "suite/zepmenu/launcher.h"

#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory under the test's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() : path_(root_.Dir().substr(0, root_.Dir().size() - 1)) {}
  const std::string& path() const { return path_; }

 private:
  TempRoot root_;
  std::string path_;  // the root's folder without the final "/"
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct OptionCase {
  std::vector<std::string> args;
  int rc;
  std::string language, device, date, title;  // checked when rc is 0
};

TEST(ZepmenuOptions, AcceptsGoodOptionsAndRefusesBadOnes) {
  ScratchDir work, self;
  fs::create_directory(work.path() + "/root");
  LauncherContext ctx{work.path(), self.path(), "20261208"};
  const std::string cwd = work.path();
  const OptionCase cases[] = {
      {{}, 0, "", "PDF", "20261208", "Factures d'honoraris"},
      {{"--lang", "spa"}, 0, "SPA", "PDF", "20261208", "Facturas de honorarios"},
      {{"--lang", "OCI", "--date", "20240229"}, 0, "OCI", "PDF", "20240229", "Factures d'onoraris"},
      {{"--device", "out/../f.pdf"}, 0, "", cwd + "/f.pdf", "20261208", "Factures d'honoraris"},
      {{"--device", "LP:oficina"}, 0, "", "LP:oficina", "20261208", "Factures d'honoraris"},
      {{"--device", "f\xc3\xa8.txt"}, 0, "", cwd + "/f\xc3\xa8.txt", "20261208", "Factures d'honoraris"},
      {{"--device", "/abs/nowhere/f.pdf"}, 2, "", "", "", ""},
      {{"--device", "a;b.txt"}, 2, "", "", "", ""},
      {{"--device", ""}, 2, "", "", "", ""},
      {{"--title", "Gestió 2026 \xe2\x82\xac"}, 0, "", "PDF", "20261208", "Gesti\xa2 2026 \xd5"},
      {{"--title", " \"cometes\" "}, 0, "", "PDF", "20261208", " \"cometes\" "},
      {{"--title", "dos;punts"}, 2, "", "", "", ""},
      {{"--title", "salt\nde l\xc3\xadnia"}, 2, "", "", "", ""},
      {{"--title", "\xe6\x97\xa5\xe6\x9c\xac"}, 2, "", "", "", ""},
      {{"--title", "\xff\xfe"}, 2, "", "", "", ""},
      {{"--lang", "ENG"}, 2, "", "", "", ""},
      {{"--date", "20260229"}, 2, "", "", "", ""},
      {{"--date", "20261301"}, 2, "", "", "", ""},
      {{"--date", "2026120"}, 2, "", "", "", ""},
      {{"--date", "2026120a"}, 2, "", "", "", ""},
      {{"--date", "15821010"}, 2, "", "", "", ""},
      {{"--date"}, 2, "", "", "", ""},
      {{"--root", "missing"}, 2, "", "", "", ""},
      {{"--root", "C:\\ZEP"}, 2, "", "", "", ""},
      {{"--exe", "missing"}, 2, "", "", "", ""},
      {{"--bogus"}, 2, "", "", "", ""},
      {{"root"}, 2, "", "", "", ""},
  };
  for (const OptionCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    LauncherOptions o;
    std::string error;
    ASSERT_EQ(ParseLauncherOptions(c.args, ctx, "CAT", o, error), c.rc) << error;
    if (c.rc != 0) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(o.language, c.language);
    EXPECT_EQ(o.device, c.device);
    EXPECT_EQ(o.date, c.date);
    EXPECT_EQ(o.title, c.title);
    EXPECT_EQ(o.root, cwd + "/");
    EXPECT_EQ(o.exe, self.path() + "/");
  }
}

TEST(ZepmenuOptions, MessagesFollowTheChosenLanguage) {
  const struct {
    std::vector<std::string> args;
    std::string langEnv, language, word;
  } cases[] = {
      {{}, "", "CAT", "desconeguda"},
      {{"--lang", "spa"}, "", "SPA", "desconocida"},
      {{"--lang", "GLG"}, "es_ES.UTF-8", "GLG", "descoñecida"},
      {{}, "oc_FR.UTF-8", "OCI", "desconeguda"},
      {{"--lang", "xx"}, "es_ES", "SPA", "desconocida"},
      {{}, "C.UTF-8", "CAT", "desconeguda"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.langEnv + "/" + c.language);
    EXPECT_EQ(MessageLanguage(c.args, c.langEnv), c.language);
    EXPECT_NE(LauncherText(LauncherMessage::UnknownOption, c.language).find(c.word),
              std::string::npos);
  }
}

// --- zepmenu run as a program --------------------------------------------

// A korvadel that records its environment and the two settings files of the
// session, optionally leaves a PDF behind, and ends with a chosen code, or
// puts its terminal into raw mode with the modes of a full-screen program on
// and then dies by a chosen signal (no core file).
const char* kFakeModule =
    "#!/bin/sh\n"
    "env > \"$ZEPMENU_TEST_OUT/env.txt\"\n"
    "pwd > \"$ZEPMENU_TEST_OUT/pwd.txt\"\n"
    "cp \"${ZEPTMP}Sessio.ini\" \"${ZEPTMP}TarnTerm.ini\" \"$ZEPMENU_TEST_OUT/\"\n"
    "if [ -n \"$ZEPMENU_TEST_PDF\" ]; then echo '%PDF-1.4' > \"${ZEPTMP}zepprint.pdf\";"
    " echo '%PDF-1.5' > \"${ZEPTMP}zepprint-2.pdf\"; fi\n"
    "if [ -n \"$ZEPMENU_TEST_WAIT\" ]; then echo started > \"$ZEPMENU_TEST_OUT/waiting\"; exec sleep 30; fi\n"
    "if [ -n \"$ZEPMENU_TEST_KILL\" ]; then\n"
    "  stty raw -echo; printf '\\033[?1049h\\033[?1000h\\033[?2004h\\033[?1h\\033='\n"
    "  ulimit -c 0; kill -$ZEPMENU_TEST_KILL $$\n"
    "fi\n"
    "exit ${ZEPMENU_TEST_EXIT:-0}\n";

// The stand-in korvadel in work's folder exe; that folder's path.
std::string InstallFakeModule(const ScratchDir& work) {
  const std::string exe = work.path() + "/exe";
  fs::create_directories(exe);
  std::ofstream(exe + "/korvadel") << kFakeModule;
  fs::permissions(exe + "/korvadel", fs::perms::owner_all);
  return exe;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs zepmenu in |dir| with |args| and extra environment; the exit code.
int RunZepmenu(const std::string& dir, const std::vector<std::string>& args,
               const std::string& env, std::string& errors) {
  std::string command = "cd " + Quote(dir) + " && " + env + " " + Quote(ZEPMENU_PROGRAM);
  for (const std::string& a : args) {
    command += ' ';
    command += Quote(a);
  }
  command += " >" + Quote(dir + "/stdout.txt") + " 2>" + Quote(dir + "/stderr.txt") + " </dev/null";
  int status = std::system(command.c_str());
  errors = ReadFile(dir + "/stderr.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> ReadEnvironment(const std::string& file) {
  std::map<std::string, std::string> values;
  std::istringstream in(ReadFile(file));
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

struct RunCase {
  std::vector<std::string> args;
  std::string env;
  int rc;
  std::string title, language, date, device;
};

TEST(ZepmenuRun, WritesTheSessionFilesSetsTheEnvironmentAndCleansUp) {
  ScratchDir work;
  const std::string exe = InstallFakeModule(work), out = work.path() + "/out";
  fs::create_directories(work.path() + "/root");
  fs::create_directories(out);
  fs::create_directories(work.path() + "/tmp");
  const std::string base = "ZEPMENU_TEST_OUT=" + Quote(out);
  const RunCase cases[] = {
      {{"--root", "./root/../root/", "--exe", exe, "--date", "20261130", "--lang", "spa", "--title",
        "Oficina \xc3\x80"},
       base, 0, "Oficina \xb7", "SPA", "20261130", "PDF"},
      {{"--root", "root", "--exe", exe, "--device", "f.pdf", "--date", "20250101"},
       base + " ZEPMENU_TEST_EXIT=7", 7, "Factures d'honoraris", "", "20250101",
       work.path() + "/f.pdf"},
      {{"--root", "root", "--exe", exe, "--device", "LP:oficina", "--title", ""},
       base + " ZEPMENU_TEST_EXIT=3", 3, "", "", "", "LP:oficina"},
      {{"--root", "root", "--exe", exe}, base + " TMPDIR=" + Quote(work.path() + "//tmp//"), 0,
       "Factures d'honoraris", "", "", "PDF"},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.env + " " + c.args.back());
    std::error_code ec;
    for (const char* f : {"env.txt", "Sessio.ini", "TarnTerm.ini"}) fs::remove(out + "/" + f, ec);
    std::string errors;
    ASSERT_EQ(RunZepmenu(work.path(), c.args, c.env, errors), c.rc) << errors;
    std::map<std::string, std::string> env = ReadEnvironment(out + "/env.txt");
    EXPECT_EQ(env["ZEPROOT"], work.path() + "/root/");
    EXPECT_EQ(env["ZEPEXE"], exe + "/");
    const std::string temp = env["ZEPTMP"];
    ASSERT_GE(temp.size(), 2u);
    EXPECT_EQ(temp.back(), '/');
    EXPECT_EQ(temp.find("//"), std::string::npos) << "one form of path: " << temp;
    EXPECT_FALSE(fs::exists(temp, ec)) << "session directory left behind: " << temp;

    const std::string session = out + "/Sessio.ini", terminal = out + "/TarnTerm.ini";
    EXPECT_EQ(IniRead(session, "Menu", "Titol"), c.title);
    EXPECT_EQ(IniRead(session, "Menu", "NomMenu"), SessionMenuName);
    EXPECT_EQ(IniRead(session, "Terminal", "Dir") + "/", temp);
    EXPECT_EQ(IniRead(terminal, "Sistema", "Idioma"), c.language);
    EXPECT_EQ(IniRead(terminal, "Sistema", "Sortida"), c.device);
    if (!c.date.empty()) {
      EXPECT_EQ(IniRead(terminal, "Sistema", "Data"), c.date);
    }
    EXPECT_EQ(IniRead(terminal, "Sistema", "Data").size(), 8u);
    const std::string scheme = IniRead(terminal, "Pantalla",
                                       "Col" + IniRead(terminal, "Pantalla", "Seleccio"));
    EXPECT_EQ(scheme.size(), 20u);
    for (const std::string& file : {session, terminal}) {
      const std::string text = ReadFile(file);
      EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1) << file << ": lines end in CR LF";
    }
  }
}

TEST(ZepmenuRun, KeepsThePdfsLeftInTheSessionDirectory) {
  ScratchDir work;
  const std::string exe = InstallFakeModule(work);
  std::ofstream(work.path() + "/zepprint.pdf") << "older document";
  std::string errors;
  ASSERT_EQ(RunZepmenu(work.path(), {"--exe", exe},
                       "ZEPMENU_TEST_OUT=" + Quote(work.path()) + " ZEPMENU_TEST_PDF=1", errors),
            0)
      << errors;
  EXPECT_EQ(ReadFile(work.path() + "/zepprint.pdf"), "older document");
  EXPECT_EQ(ReadFile(work.path() + "/zepprint-1.pdf"), "%PDF-1.4\n");
  EXPECT_NE(ReadFile(work.path() + "/stdout.txt").find("zepprint-1.pdf"), std::string::npos);
  // Each print of the session kept its own file; every one is kept.
  EXPECT_EQ(ReadFile(work.path() + "/zepprint-2.pdf"), "%PDF-1.5\n");
}

// A session ended from outside: the module gets the signal, the launcher
// still cleans up and reports how the module ended.
TEST(ZepmenuRun, TerminationReachesTheModuleAndTheSessionIsStillRemoved) {
  ScratchDir work;
  const std::string exe = InstallFakeModule(work);
  for (int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    std::error_code ec;
    fs::remove(work.path() + "/waiting", ec);
    // The module says it runs through a pipe, which the test reads.
    ASSERT_EQ(::mkfifo((work.path() + "/waiting").c_str(), 0600), 0);
    setenv("ZEPMENU_TEST_OUT", work.path().c_str(), 1);
    setenv("ZEPMENU_TEST_WAIT", "1", 1);
    std::string program = ZEPMENU_PROGRAM, exeOption = "--exe", root = "--root";
    std::string rootDir = work.path();
    char* argv[] = {program.data(), exeOption.data(), const_cast<char*>(exe.c_str()),
                    root.data(), rootDir.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    unsetenv("ZEPMENU_TEST_WAIT");
    ASSERT_EQ(ReadFile(work.path() + "/waiting"), "started\n") << "the module never started";
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    const std::string temp = ReadEnvironment(work.path() + "/env.txt")["ZEPTMP"];
    ASSERT_FALSE(temp.empty());
    EXPECT_FALSE(fs::exists(temp, ec)) << temp;
  }
}

// A module that dies by a signal cannot give the terminal back: zepmenu puts
// back the settings it saved and switches the full-screen modes off, and
// says so in the session's language. Run on a pseudo-terminal.
TEST(ZepmenuRun, AModuleKilledBySignalLeavesTheTerminalAsItWas) {
  ScratchDir work;
  const std::string exe = InstallFakeModule(work);
  const struct {
    const char* kill;           // the signal the module dies by; "" ends it with 0
    int signal;
    std::vector<std::string> args;
    const char* userLanguage;   // Tarn.ini [Usuari] Idioma, "" without Tarn.ini
    std::string said;           // the message, "" for none
  } cases[] = {
      {"KILL", SIGKILL, {"--lang", "CAT"}, "",
       "el m\xc3\xb2""dul ha acabat per un senyal i s'ha restablert el terminal: SIGKILL"},
      {"QUIT", SIGQUIT, {}, "GLG", "o m\xc3\xb3""dulo rematou por un sinal e restableceuse o terminal: SIGQUIT"},
      {"ABRT", SIGABRT, {"--lang", "SPA"}, "OCI",
       "el m\xc3\xb3""dulo ha terminado por una se\xc3\xb1""al y se ha restablecido el terminal: SIGABRT"},
      {"", 0, {"--lang", "CAT"}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kill);
    std::error_code ec;
    fs::remove(work.path() + "/Tarn.ini", ec);
    if (*c.userLanguage != '\0') {
      std::ofstream(work.path() + "/Tarn.ini", std::ios::binary) << "[Usuari]\r\nIdioma=" << c.userLanguage << "\r\n";
    }
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);

    std::vector<std::string> args = {ZEPMENU_PROGRAM, "--exe", exe, "--root", work.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2}) posix_spawn_file_actions_adddup2(&actions, slave, fd);
    posix_spawn_file_actions_addclose(&actions, master);
    setenv("ZEPMENU_TEST_OUT", work.path().c_str(), 1);
    setenv("ZEPMENU_TEST_KILL", c.kill, 1);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    unsetenv("ZEPMENU_TEST_KILL");
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);

    // Everything written to the terminal, read while zepmenu runs.
    std::string output;
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 1000; ++i) {
      pollfd readable{master, POLLIN, 0};
      while (poll(&readable, 1, ended ? 0 : 10) > 0) {
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
      }
      if (ended) break;
      ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    close(master);
    close(slave);
    ASSERT_TRUE(ended) << output;

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.signal == 0 ? 0 : 128 + c.signal);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "echo, line editing and signals back";
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    const size_t entered = output.find("\x1b[?1049h");
    const size_t left = output.find("\x1b[?1049l");
    if (c.signal == 0) {
      EXPECT_EQ(left, std::string::npos) << "nothing to restore after a normal end";
      EXPECT_EQ(output.find("zepmenu:"), std::string::npos) << output;
      continue;
    }
    ASSERT_NE(entered, std::string::npos) << output;
    EXPECT_NE(left, std::string::npos) << "alternate screen left";
    EXPECT_GT(left, entered);
    for (const char* off : {"\x1b[?1000l", "\x1b[?2004l", "\x1b[?1l", "\x1b>"}) {
      EXPECT_NE(output.find(off, entered), std::string::npos) << "mode still on: " << off + 1;
    }
    EXPECT_NE(output.find("zepmenu: " + c.said), std::string::npos) << output;
  }
}

TEST(ZepmenuRun, BadOptionsAMissingModuleAndHelpAreReported) {
  ScratchDir work;
  const struct {
    std::vector<std::string> args;
    int rc;
    std::string message;
  } cases[] = {
      {{"--lang", "ENG"}, 2, "idioma no v\xc3\xa0lid"},
      {{"--date", "2026-12-08"}, 2, "data no v\xc3\xa0lida"},
      {{"--root"}, 2, "falta el valor"},
      {{"--whatever"}, 2, "opci\xc3\xb3 desconeguda"},
      {{"--lang", "SPA", "--root", "nowhere"}, 2, "no es una carpeta"},
      {{"--exe", "."}, 127, "no es pot iniciar"},
      {{"--help"}, 0, "\xc3\x9as: zepmenu [--root CARPETA]"},
      {{"--lang", "GLG", "-h"}, 0, "Uso: zepmenu [--root CARTAFOL]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::string errors;
    EXPECT_EQ(RunZepmenu(work.path(), c.args, "LC_ALL= LANG=", errors), c.rc);
    // The usage asked for goes to stdout and starts nothing; after a bad
    // option it goes with the message to stderr.
    const std::string said = c.rc == 0 ? ReadFile(work.path() + "/stdout.txt") : errors;
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    if (c.rc == 0) { EXPECT_EQ(errors, ""); }
    if (c.rc == 2) { EXPECT_NE(errors.find(" zepmenu [--root "), std::string::npos) << errors; }
  }
}

}  // namespace
