// brovex: shows an HTML help page of the suite. The module starts it as
// "BROVEX AJUDA\<key>.HTM" in a windowed session; the page is a suite path
// ("\" separators) relative to the current directory, else to ZEPROOT.
// With a text browser installed (w3m, lynx, elinks) the page opens there;
// otherwise its text, without tags, goes through the pager ($PAGER, less,
// more) or, when the output is not a terminal, straight to the output.
// --help prints the usage. Exit codes: 0 shown (or the usage asked for),
// 1 page missing or unreadable, 2 bad arguments (with the usage).
#include <signal.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/child.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/language.h"
#include "suite/brovex/htmltext.h"

namespace {

namespace fs = std::filesystem;

std::string Getenv(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

// The full path of |program| found in PATH, or empty.
std::string FindInPath(const std::string& program) {
  std::stringstream path(Getenv("PATH"));
  std::string dir;
  while (std::getline(path, dir, ':')) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Runs program with its arguments and waits; -1 when it could not start.
int RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  ChildSpec spec;
  spec.program = program;
  spec.args = args;
  const ChildEnd end = RunChild(spec);
  if (!end.started) return -1;
  return end.exited ? end.exitCode : 1;
}

// Shows |text| through the pager, or writes it when there is no terminal
// or no pager. The pager reads it from a pipe on its standard input.
void ShowText(const std::string& text) {
  std::string pager;
  if (isatty(STDOUT_FILENO)) {
    std::string wanted = Getenv("PAGER");
    if (!wanted.empty() && wanted.find(' ') == std::string::npos) {
      pager = wanted.front() == '/' ? wanted : FindInPath(wanted);
    }
    if (pager.empty()) pager = FindInPath("less");
    if (pager.empty()) pager = FindInPath("more");
  }
  if (pager.empty()) {
    std::cout << text;
    return;
  }
  // Both ends close on exec: the pager keeps only the read end, as its
  // standard input, and sees the end of the text when we close ours.
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    std::cout << text;
    return;
  }
  ChildSpec spec;
  spec.program = pager;
  spec.stdinFd = pipeEnds[0];
  pid_t pid = 0;
  const int rc = StartChild(spec, pid);
  close(pipeEnds[0]);
  if (rc != 0) {
    close(pipeEnds[1]);
    std::cout << text;
    return;
  }
  // A failure means the pager quit early: the rest is not wanted.
  static_cast<void>(WriteAll(pipeEnds[1], text));
  close(pipeEnds[1]);
  [[maybe_unused]] const ChildEnd end = WaitChild(pid);
}

enum class BrovexMessage { Usage, NoPage, UnknownOption, Missing, NotAFile };

// brovex's messages, the four languages side by side; UTF-8, for the
// terminal.
constexpr MessageTable<BrovexMessage, 5> kMessages{{{
    {BrovexMessage::Usage,
     {"Ús: brovex AJUDA\\PAGINA.HTM\n"
      "Mostra una pàgina d'ajuda de la suite (relativa a la carpeta actual o a ZEPROOT)\n"
      "amb w3m, lynx o elinks, o el seu text a través de $PAGER.\n",
      "Uso: brovex AJUDA\\PAGINA.HTM\n"
      "Muestra una página de ayuda de la suite (relativa a la carpeta actual o a ZEPROOT)\n"
      "con w3m, lynx o elinks, o su texto a través de $PAGER.\n",
      "Uso: brovex AJUDA\\PAGINA.HTM\n"
      "Mostra unha páxina de axuda da suite (relativa ao cartafol actual ou a ZEPROOT)\n"
      "con w3m, lynx ou elinks, ou o seu texto a través de $PAGER.\n",
      "Usatge: brovex AJUDA\\PAGINA.HTM\n"
      "Mòstra ua pagina d'ajuda dera suita (relativa ara carpeta actuau o a ZEPROOT)\n"
      "damb w3m, lynx o elinks, o eth sòn tèxte a trauès de $PAGER.\n"}},
    {BrovexMessage::NoPage,
     {"cal una pàgina d'ajuda", "falta una página de ayuda", "falta unha páxina de axuda",
      "manca ua pagina d'ajuda"}},
    {BrovexMessage::UnknownOption,
     {"opció desconeguda", "opción desconocida", "opción descoñecida", "opcion desconeguda"}},
    {BrovexMessage::Missing,
     {"no es pot obrir la pàgina d'ajuda", "no se puede abrir la página de ayuda",
      "non se pode abrir a páxina de axuda", "non se pòt daurir era pagina d'ajuda"}},
    {BrovexMessage::NotAFile,
     {"la pàgina d'ajuda no és un fitxer normal", "la página de ayuda no es un fichero normal",
      "a páxina de axuda non é un ficheiro normal", "era pagina d'ajuda non ei un fichèr normau"}},
}}};

// The session's language: TarnTerm.ini [Sistema] Idioma of the session
// (ZEPTMP), else the locale (ca, es, gl, oc), else Catalan.
Language MessageLanguage() {
  std::string code;
  std::string temp = Getenv("ZEPTMP");
  if (!temp.empty()) code = IniRead(temp + "TarnTerm.ini", "Sistema", "Idioma").substr(0, 3);
  if (code.empty() || code == "   ") {
    std::string locale = Getenv("LC_ALL");
    if (locale.empty()) locale = Getenv("LANG");
    locale = locale.substr(0, 2);
    code = locale == "es" ? "SPA" : locale == "gl" ? "GLG" : locale == "oc" ? "OCI" : "CAT";
  }
  return LanguageFromCode(code);
}

const char* Text(BrovexMessage id) { return kMessages.Text(id, MessageLanguage()); }

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) {
    std::cout << Text(BrovexMessage::Usage);
    return 0;
  }
  if (argc != 2 || first.empty() || first[0] == '-') {
    std::cerr << "brovex: "
              << (argc == 2 && !first.empty() ? Text(BrovexMessage::UnknownOption) + std::string(": ") + first
                                              : std::string(Text(BrovexMessage::NoPage)))
              << "\n" << Text(BrovexMessage::Usage);
    return 2;
  }
  std::string page = argv[1];
  for (char& c : page) {
    if (c == '\\') c = '/';
  }
  std::error_code ec;
  fs::path file = page;
  if (!fs::is_regular_file(file, ec) && file.is_relative() && !Getenv("ZEPROOT").empty()) {
    fs::path root = Getenv("ZEPROOT");
    std::string rootText = root.string();
    for (char& c : rootText) {
      if (c == '\\') c = '/';
    }
    file = fs::path(rootText) / page;
  }
  // Read before anything else, without blocking: a pipe or device in the
  // page's place is refused instead of waited on.
  std::string content;
  const ReadResult read = ReadRegularFile(file.string(), content);
  if (read != ReadResult::Ok) {
    std::cerr << "brovex: " << Text(read == ReadResult::NotRegular ? BrovexMessage::NotAFile : BrovexMessage::Missing)
              << ": " << argv[1] << "\n";
    return 1;
  }

  for (const char* browser : {"w3m", "lynx", "elinks"}) {
    std::string program = FindInPath(browser);
    if (program.empty()) continue;
    if (RunAndWait(program, {file.string()}) >= 0) return 0;
  }
  ShowText(HtmlToText(content));
  return 0;
}
