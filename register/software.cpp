#include "register/software.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

#include "base/calendar.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "register/taxid.h"

#ifndef KORVADEL_VERSION
#error "KORVADEL_VERSION comes from the CMake project's VERSION (register/CMakeLists.txt)"
#endif

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpperOrDigit(char c) { return (c >= 'A' && c <= 'Z') || IsDigit(c); }

// Pre: two digits.
int TwoDigits(std::string_view text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

bool ValidDate(std::string_view text) {
  if (text.size() != 10 || text[2] != '-' || text[5] != '-') return false;
  for (size_t i : {0, 1, 3, 4, 6, 7, 8, 9})
    if (!IsDigit(text[i])) return false;
  const int year = TwoDigits(text.substr(6, 2)) * 100 + TwoDigits(text.substr(8, 2));
  const int month = TwoDigits(text.substr(3, 2));
  const int day = TwoDigits(text.substr(0, 2));
  return year >= 1 && day >= 1 && day <= DaysInMonth(year, month);
}

// Reads the keys of Productor.ini one after another, stopping at the first
// problem and naming its key.
class Reader {
 public:
  Reader(std::string file, std::string& fieldOut) : file_(std::move(file)), field_(fieldOut) {}

  // The trimmed value, at most max characters.
  std::string Text(const char* section, const char* key, size_t max) {
    if (problem_ != SoftwareProblem::None) return {};
    std::string value = IniReadTrimmed(file_, section, key);
    if (value.empty()) Fail(SoftwareProblem::MissingField, section, key);
    else if (value.size() > max) Fail(SoftwareProblem::FieldTooLong, section, key);
    return value;
  }

  bool Choice(const char* section, const char* key) {
    const std::string value = Text(section, key, 10);
    if (problem_ == SoftwareProblem::None && value != "S" && value != "N")
      Fail(SoftwareProblem::InvalidChoice, section, key);
    return value == "S";
  }

  void Fail(SoftwareProblem problem, const char* section, const char* key) {
    if (problem_ != SoftwareProblem::None) return;
    problem_ = problem;
    field_ = std::string("[") + section + "] " + key;
  }

  [[nodiscard]] SoftwareProblem problem() const { return problem_; }

 private:
  std::string file_;
  std::string& field_;
  SoftwareProblem problem_ = SoftwareProblem::None;
};

// A kept installation number: 1 to 100 letters and digits.
bool ValidInstallationNumber(std::string_view text) {
  if (text.empty() || text.size() > 100) return false;
  for (char c : text)
    if (!IsUpperOrDigit(c) && !(c >= 'a' && c <= 'z')) return false;
  return true;
}

// The kept number: its first line without the line end.
int ReadInstallationNumber(const std::string& hostPath, std::string& numberOut) {
  std::string content;
  switch (ReadRegularFile(hostPath, content, 4096)) {
    case ReadResult::Ok:
      break;
    case ReadResult::Missing:
      return ENOENT;
    case ReadResult::Unreadable:
      return EACCES;
    case ReadResult::NotRegular:
    case ReadResult::TooLarge:
      return EINVAL;
  }
  const std::string number = content.substr(0, content.find_first_of("\r\n"));
  if (!ValidInstallationNumber(number)) return EINVAL;
  numberOut = number;
  return 0;
}

int RandomBytes(uint8_t* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::getrandom(out + got, size - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    got += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

const char* SoftwareVersion() { return KORVADEL_VERSION; }

SoftwareProblem LoadSoftwareIdentity(const std::string& root, SoftwareIdentity& identityOut, std::string& fieldOut) {
  const std::string file = root + SoftwareFileName;
  fieldOut.clear();
  if (!IsRegularFile(HostPath(file))) return SoftwareProblem::MissingFile;
  Reader read(file, fieldOut);
  SoftwareIdentity id;
  id.producerName = read.Text("Productor", "Nom", 120);
  const std::string nif = read.Text("Productor", "NIF", 20);
  const NifCheck check = CheckNif(nif);
  if (read.problem() == SoftwareProblem::None && !check.Valid())
    read.Fail(SoftwareProblem::InvalidNif, "Productor", "NIF");
  id.producerNif = check.nif;
  id.producerAddress = read.Text("Productor", "Adreca", 250);
  id.systemName = read.Text("Sistema", "Nom", 30);
  id.systemId = read.Text("Sistema", "Id", 2);
  if (read.problem() == SoftwareProblem::None &&
      (id.systemId.size() != 2 || !IsUpperOrDigit(id.systemId[0]) || !IsUpperOrDigit(id.systemId[1])))
    read.Fail(SoftwareProblem::InvalidSystemId, "Sistema", "Id");
  id.sendingOnly = read.Choice("Sistema", "NomesVerifactu");
  id.multipleIssuers = read.Choice("Sistema", "MultiplesEmissors");
  id.declarationPlace = read.Text("Declaracio", "Lloc", 100);
  id.declarationDate = read.Text("Declaracio", "Data", 10);
  if (read.problem() == SoftwareProblem::None && !ValidDate(id.declarationDate))
    read.Fail(SoftwareProblem::InvalidDate, "Declaracio", "Data");
  id.version = SoftwareVersion();
  if (read.problem() == SoftwareProblem::None) identityOut = std::move(id);
  return read.problem();
}

int InstallationNumber(const std::string& root, std::string& numberOut) {
  const std::string path = HostPath(root + InstallationFileName);
  const int kept = ReadInstallationNumber(path, numberOut);
  if (kept != ENOENT) return kept;

  uint8_t bytes[8];
  if (const int error = RandomBytes(bytes, sizeof bytes); error != 0) return error;
  std::string number;
  for (uint8_t b : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    number += hex;
  }
  DurableFile file(path);
  if (!file.Open(Placement::NeverOverwrite) || !file.Write(number + "\r\n") ||
      !file.Commit(Placement::NeverOverwrite)) {
    // Another process placed its number first: that one counts.
    if (file.error() == EEXIST) return ReadInstallationNumber(path, numberOut);
    return file.error() != 0 ? file.error() : EIO;
  }
  numberOut = number;
  return 0;
}
