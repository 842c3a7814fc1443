// What several of zepfact's commands use: the register read, an invoice
// found by its number as typed, the producer's file, and a page printed
// through the print program.
#include "issuing/context.h"
#include "issuing/print_job.h"
#include "suite/zepfact/program.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/child.h"
#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "printing/pages.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "register/register.h"
#include "register/software.h"
#include "session/session.h"

namespace {

bool EndsWithNoCase(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[text.size() - n + i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != tail[i]) return false;
  }
  return true;
}

// The folder of our own executable, ending in "/"; empty when unknown.
std::string OwnDirectory() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  const std::string own(path, static_cast<size_t>(n));
  const size_t slash = own.find_last_of('/');
  return slash == std::string::npos ? std::string() : own.substr(0, slash + 1);
}

}  // namespace

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void Say(std::FILE* stream, const std::string& cp850) {
  std::fprintf(stream, "%s\n", Utf8FromCp858(cp850).c_str());
  // Flushed, so that a detached sender's log keeps its lines in order.
  std::fflush(stream);
}

std::string AbsoluteHostPath(const std::string& path) {
  std::error_code ignored;
  std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
  if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

bool IsOutputFileName(const std::string& path) {
  for (const unsigned char c : path) {
    if (c < 32 || c == 127 || c == '\\') return false;
  }
  return path.size() > 4 && (EndsWithNoCase(path, ".pdf") || EndsWithNoCase(path, ".txt"));
}

void Program::Error(FactMessage message, const std::string& cp850, int64_t number) const {
  Say(stderr, FactText(message, language_, cp850, number));
}

bool Program::Read(std::vector<RegisterEntry>& entriesOut, bool byDate, bool writable) {
  const std::string path = HostPath(root_ + RegisterFileName) + ".dat";
  const std::string earlier = HostPath(root_ + EarlierRegisterFileName) + ".dat";
  const std::string shown = Cp858ForDisplay(path);
  if (!IsRegularFile(path) && !IsRegularFile(earlier)) {
    Error(FactMessage::NoRegister, Cp858ForDisplay(AbsoluteHostPath(root_.empty() ? "." : HostPath(root_)) + "/"));
    return false;
  }
  const int16_t opened =
      register_.Open(path, writable ? HostPath(root_ + "ddf\\" + RegisterDictionaryBaseName + ".xdf") : std::string(),
                     !writable, earlier);
  if (opened != 0) {
    Error(FactMessage::CannotOpen, shown, opened);
    return false;
  }
  const int16_t read = register_.ReadAll(entriesOut, byDate);
  if (read != 0) {
    Error(FactMessage::CannotRead, shown, read);
    return false;
  }
  return true;
}

bool Program::Software(SoftwareIdentity& identityOut, std::string* installationOut) const {
  const IssuingProblem problem = LoadSoftware(root_, identityOut, installationOut);
  if (!problem.None()) Told(problem);
  return problem.None();
}

std::string ProgramFolder() {
  const std::string exeDir = Environment("ZEPEXE");
  return exeDir.empty() ? OwnDirectory() : HostDirectory(exeDir);
}

std::string Program::PrintProgram() { return TidyHostPath(ProgramFolder() + "ZEPPRINT"); }

const RegisterEntry* Program::FindInvoice(const std::vector<RegisterEntry>& chain) const {
  // The number as printed names one invoice; the number alone names the
  // one invoice of any series that has it.
  const size_t slash = options_.number.find_last_of('/');
  const bool withSeries = slash != std::string::npos;
  std::string series;
  if (withSeries && !Cp858FromUtf8(options_.number.substr(0, slash), series)) series = options_.number.substr(0, slash);
  const int32_t number = static_cast<int32_t>(std::atol(options_.number.c_str() + (withSeries ? slash + 1 : 0)));
  const RegisterEntry* entry = nullptr;
  size_t matches = 0;
  for (const RegisterEntry& e : chain) {
    // A correction record names its invoice again, with the same page.
    if (e.IsCancellation() || e.kind == RegisterKindCorrection || e.number != number ||
        (withSeries && e.series != series))
      continue;
    entry = &e;
    ++matches;
  }
  if (matches != 1) {
    Error(matches == 0 ? FactMessage::NotInRegister : FactMessage::AmbiguousNumber, Cp858ForDisplay(options_.number));
    return nullptr;
  }
  return entry;
}

int Program::Print(const PrintablePage& page, const std::string& device) {
  const std::string base = Environment("TMPDIR").empty() ? "/tmp" : Environment("TMPDIR");
  std::string folder = base + "/zepfact-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    Error(FactMessage::CannotWrite, Cp858ForDisplay(folder));
    return kExitTrouble;
  }
  folder += "/";
  // The page goes to this print's device, not to the archived run's, on
  // the stationery of the language its lines were printed in.
  const std::string printedIn = FigureOfPage(page.figures, 1, "Idioma");
  const std::string code3(LanguageCode(printedIn.empty() ? language_ : LanguageFromCode(printedIn)));
  std::string failed;
  if (WritePrintJob(folder, page, device, failed) != 0 ||
      WriteWholeFile(folder + "TarnTerm.ini",
                     "[Sistema]\r\nIdioma=" + std::string(LanguageCode(language_)) + "\r\n") != 0) {
    Error(FactMessage::CannotWrite, Cp858ForDisplay(folder));
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return kExitTrouble;
  }

  ChildSpec spec;
  spec.program = PrintProgram();
  const std::vector<std::string> variables = PrintProgramEnvironment(
      folder, InvoiceStationeryHostPath(root_, code3), root_.empty() ? std::string() : HostDirectory(root_));
  spec.environment = &variables;
  std::fflush(stdout);
  const ChildEnd end = RunChild(spec);
  // The folder holds only copies (and the print program's result file).
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!end.started) {
    Error(FactMessage::CannotStartPrint, Cp858ForDisplay(spec.program));
    return kExitTrouble;
  }
  return end.exited ? end.exitCode : kExitTrouble;
}

std::string Program::Device(const RegisterEntry& entry, const std::string& runName) const {
  if (!options_.output.empty()) return AbsoluteHostPath(options_.output);
  const std::string session = Environment("ZEPTMP");
  if (!session.empty()) {
    const std::string device = IniReadTrimmed(SuiteDirectory(session) + "TarnTerm.ini", "Sistema", "Sortida");
    std::string prefix = device.substr(0, 3);
    for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if ((prefix == "LP:" && device.size() > 3) || IsOutputFileName(device)) return device;
  }
  if (!runName.empty()) return AbsoluteHostPath(runName.substr(0, runName.size() - 4) + ".pdf");
  std::string name = Utf8FromCp858(PrintedInvoiceNumber(entry.series, entry.number));
  for (char& c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '-';
  }
  return AbsoluteHostPath(name + ".pdf");
}
