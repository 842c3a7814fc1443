// Print spool writer. Process-wide state: one spool file at a time.
#include "printing/spool.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <string_view>
#include <vector>

#include "base/child.h"
#include "base/codepage.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "printing/messages.h"

extern char** environ;

namespace {

struct SpoolState {
  std::FILE* file = nullptr;
  std::string path;  // host path of the current or last file
  int16_t status = PrintFileOk;
  int16_t pageLength = 0;
  int16_t printLine = 0;
  int16_t printColumn = 0;
};

SpoolState spool;

SpoolSettings Settings;
// Settings.tempDir in the one host form: where the spool file goes, and the
// print program's ZEPTMP, so that "${ZEPTMP}zepprint.tmp" names the file.
std::string HostTempDir;

int16_t Saturate(long value) {
  if (value > INT16_MAX) return INT16_MAX;
  if (value < INT16_MIN) return INT16_MIN;
  return static_cast<int16_t>(value);
}

// Characters that would break the one-line format or mean nothing on paper.
bool IsControl(unsigned char c) { return c < 32 || c == 127 || c == 255; }

// text with every control character a blank, appended to out.
void AppendBlanked(std::string& out, std::string_view text) {
  const size_t start = out.size();
  out.append(text);
  for (size_t i = start; i < out.size(); ++i)
    if (IsControl(static_cast<unsigned char>(out[i]))) out[i] = ' ';
}

std::string Blanked(std::string_view text) {
  std::string out;
  AppendBlanked(out, text);
  return out;
}

// Appends " 9 " or "-9 ": sign position, digits, trailing blank.
void AppendSpoolNumber(std::string& out, long value) {
  const unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  out += value < 0 ? '-' : ' ';
  out.append(digits, static_cast<size_t>(end - digits));
  out += ' ';
}

void Fail(int16_t status) {
  if (spool.status == PrintFileOk) spool.status = status;
}

// The line being built, kept between lines so that its storage is reused.
std::string LineBuffer;

// LineBuffer emptied, to build the next line in.
std::string& NewLine() {
  LineBuffer.clear();
  return LineBuffer;
}

// Writes one command line with its CR LF (the line is changed: CR LF is
// appended). Pre: line holds no CR or LF.
int16_t WriteLine(std::string& line) {
  if (spool.file == nullptr) {
    Fail(PrintFileNotOpen);
    return spool.status;
  }
  if (spool.status != PrintFileOk) return spool.status;
  line += "\r\n";
  if (std::fwrite(line.data(), 1, line.size(), spool.file) != line.size()) Fail(PrintFileWriteError);
  return spool.status;
}

// The "N" mode: "N", the whole absolute value of the number after the letter
// with a leading blank, a blank, and the first "\...\" part of the mode.
std::string NumberedMode(const std::string& trimmed) {
  double value = std::fabs(NumericValue(std::string_view(trimmed).substr(1)));
  // The number is a count of characters or lines; beyond 15 digits it means
  // nothing and would no longer be an exact whole number.
  if (!(value < 1e15)) value = 999999999999999.0;
  std::string mode = "N " + std::to_string(static_cast<long long>(value)) + " ";
  size_t open = trimmed.find('\\');
  if (open != std::string::npos) {
    size_t close = trimmed.find('\\', open + 1);
    mode += trimmed.substr(open, close == std::string::npos ? std::string::npos
                                                             : close - open + 1);
  }
  return mode;
}

}  // namespace

void SetSpoolSettings(const SpoolSettings& settings) {
  Settings = settings;
  HostTempDir = HostDirectory(settings.tempDir);
}

int16_t OpenPrintFile(const std::string& device) {
  if (spool.file != nullptr) {
    std::fclose(spool.file);
    spool.file = nullptr;
  }
  spool.status = PrintFileOk;
  spool.pageLength = spool.printLine = spool.printColumn = 0;
  spool.path = HostTempDir + "zepprint.tmp";
  // The temporary folder is the session's, but what stands at the name is
  // checked: a pipe there would stop the module for good, a link to a
  // device would be written into.
  int fd = -1;
  const ReadResult opened = OpenOwnFileForWriting(spool.path, true, fd);
  if (opened == ReadResult::Ok) {
    spool.file = fdopen(fd, "wb");
    if (spool.file == nullptr) ::close(fd);
  }
  if (spool.file == nullptr) {
    spool.status = opened == ReadResult::NotRegular ? PrintFileNotRegular : PrintFileNotCreated;
    return spool.status;
  }
  std::string& line = NewLine();
  line += "DEVICE";
  AppendBlanked(line, device);
  return WriteLine(line);
}

int16_t StartPage(int16_t lines) {
  spool.pageLength = lines;
  spool.printLine = 0;
  spool.printColumn = 0;
  std::string& line = NewLine();
  line += "PAGE";
  AppendSpoolNumber(line, lines);
  return WriteLine(line);
}

int16_t PrintCommand(const std::string& text) {
  std::string& line = NewLine();
  line += '*';
  AppendBlanked(line, text);
  return WriteLine(line);
}

int16_t SetJustification(std::string& mode) {
  std::string trimmed = TrimSpaces(mode);
  char first = trimmed.empty() ? ' ' : trimmed[0];
  if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
  std::string normalised;
  switch (first) {
    case 'C': normalised.assign(1, 'C'); break;
    case 'D': case 'R': normalised.assign(1, 'D'); break;
    case 'A': case 'B': normalised.assign(1, 'A'); break;
    case 'N': normalised = Blanked(NumberedMode(trimmed)); break;
    default: normalised.assign(1, 'E'); break;
  }
  mode.swap(normalised);
  std::string& line = NewLine();
  line += "JUS";
  line += mode;
  return WriteLine(line);
}

int16_t PrintAt(int16_t column, const std::string& text, int16_t advance) {
  // A page length of 0 or less (no page started) never breaks: every item
  // would otherwise start a page of its own.
  if (spool.pageLength > 0 && spool.printLine >= spool.pageLength)
    StartPage(spool.pageLength);
  std::string& line = NewLine();
  AppendSpoolNumber(line, column);
  line += ',';
  AppendBlanked(line, text);
  line += ',';
  AppendSpoolNumber(line, advance);
  WriteLine(line);
  if (advance != 0) {
    spool.printLine = Saturate(static_cast<long>(spool.printLine) + advance);
    spool.printColumn = 0;
  } else {
    if (column != 0) spool.printColumn = column;
    long length = text.size() > static_cast<size_t>(INT16_MAX) ? INT16_MAX
                                                               : static_cast<long>(text.size());
    spool.printColumn = Saturate(spool.printColumn + length);
  }
  return spool.status;
}

int16_t ClosePrintFile() {
  if (spool.file == nullptr) {
    Fail(PrintFileNotOpen);
    return spool.status;
  }
  // fclose flushes: a full disk often shows only here.
  if (std::fflush(spool.file) != 0) Fail(PrintFileWriteError);
  if (std::fclose(spool.file) != 0) Fail(PrintFileWriteError);
  spool.file = nullptr;
  return spool.status;
}

int16_t PageLength() { return spool.pageLength; }
int16_t PrintLine() { return spool.printLine; }
int16_t PrintColumn() { return spool.printColumn; }
int16_t PrintFileStatus() { return spool.status; }
bool PrintFileFailed() { return spool.status != PrintFileOk; }
std::string PrintFilePath() { return spool.path; }

std::string PrintFileFailureMessage(const std::string& path) {
  return kSpoolTexts.Text(SpoolMessage::FileNotWritten, Settings.language) + TidyHostPath(path) +
         PrintFileFailureReason();
}

std::string PrintFileFailureReason() {
  return spool.status == PrintFileNotRegular ? kSpoolTexts.Text(SpoolMessage::NotRegular, Settings.language)
                                             : std::string();
}

std::string PrintProgramFailureMessage(const std::string& path) {
  return kSpoolTexts.Text(SpoolMessage::ProgramNotRun, Settings.language) + TidyHostPath(path);
}

std::string PrintProgramPath() { return TidyHostPath(Settings.exeDir + "ZEPPRINT"); }

std::vector<std::string> PrintProgramEnvironment(const std::string& tempHostDir, const std::string& paperHostPath,
                                                 const std::string& rootHostDir) {
  const std::pair<const char*, const std::string*> replaced[] = {
      {"ZEPTMP=", &tempHostDir}, {"ZEPPAPER=", &paperHostPath}, {"ZEPROOT=", &rootHostDir}};
  std::vector<std::string> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    bool kept = true;
    for (const auto& [name, value] : replaced)
      if (!value->empty() && std::strncmp(*entry, name, std::strlen(name)) == 0) kept = false;
    if (kept) variables.emplace_back(*entry);
  }
  for (const auto& [name, value] : replaced)
    if (!value->empty()) variables.push_back(name + *value);
  return variables;
}

std::string InvoiceStationeryHostPath(const std::string& rootDir, const std::string& languageCode) {
  for (const std::string& name : {"IMPRES\\FACTHON_" + languageCode + ".svg", std::string("IMPRES\\FACTHON.svg")}) {
    const std::string path = HostPath(rootDir + name);
    if (IsRegularFile(path)) return path;
  }
  return std::string();
}

ChildEnd RunPrintProgram(const std::function<void()>& beforeStart,
                         const std::function<void()>& afterEnd, const std::string& paperHostPath) {
  // ZEPTMP names the directory the spool file was written to, also when
  // tempDir came from the terminal directory rather than from ZEPTMP.
  const std::vector<std::string> variables = PrintProgramEnvironment(HostTempDir, paperHostPath);
  ChildSpec spec;
  spec.program = PrintProgramPath();
  spec.environment = &variables;

  if (beforeStart) beforeStart();
  const ChildEnd end = RunChild(spec);
  if (afterEnd) afterEnd();
  return end;
}

namespace {

constexpr int PollMilliseconds = 50;
constexpr int KillAfterMilliseconds = 3000;

// The count in the last whole line of what the print program reported.
long LastReportedCount(std::string& pending) {
  long count = -1;
  for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
    const std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.size() < 10 && line.find_first_not_of("0123456789") == std::string::npos)
      count = std::stol(line);
  }
  if (pending.size() > 64) pending.clear();  // not the program's reports
  return count;
}

}  // namespace

ChildEnd RunPrintProgramWatched(const PrintWatch& watch, const std::string& paperHostPath) {
  std::vector<std::string> variables = PrintProgramEnvironment(HostTempDir, paperHostPath);
  ChildSpec spec;
  spec.program = PrintProgramPath();
  spec.environment = &variables;
  spec.defaultSignals = true;

  // The program's words go to a file of the session, never onto the screen
  // the module keeps; without one, nowhere.
  int output = -1;
  if (OpenOwnFileForWriting(HostTempDir + "zepprint.msg", true, output) != ReadResult::Ok)
    output = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  spec.outputFd = output;
  int reports[2] = {-1, -1};
  if (::pipe2(reports, O_CLOEXEC) == 0) {
    spec.extraFd = reports[1];
    variables.push_back("ZEPPROGRESS=" + std::to_string(ExtraChildFd));
  }

  pid_t pid = 0;
  const int startError = StartChild(spec, pid);
  if (output >= 0) ::close(output);
  if (reports[1] >= 0) ::close(reports[1]);
  ChildEnd end;
  if (startError != 0) {
    if (reports[0] >= 0) ::close(reports[0]);
    end.startError = startError;
    return end;
  }
  std::string pending;
  bool stopping = false;
  int sinceStop = 0;
  while (!ChildEnded(pid, end)) {
    pollfd ready{reports[0], POLLIN, 0};
    if (reports[0] >= 0 && ::poll(&ready, 1, PollMilliseconds) > 0) {
      char bytes[256];
      const ssize_t got = ::read(reports[0], bytes, sizeof bytes);
      if (got > 0) {
        pending.append(bytes, static_cast<size_t>(got));
        const long pages = LastReportedCount(pending);
        if (pages >= 0 && watch.pagesDone) watch.pagesDone(pages);
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        // The program closed its end: wait for it without the pipe.
        ::close(reports[0]);
        reports[0] = -1;
      }
    } else if (reports[0] < 0) {
      ::poll(nullptr, 0, PollMilliseconds);
    }
    if (!stopping && watch.stopWanted && watch.stopWanted()) {
      stopping = true;
      ::kill(pid, SIGTERM);
    } else if (stopping) {
      sinceStop += PollMilliseconds;
      if (sinceStop >= KillAfterMilliseconds) ::kill(pid, SIGKILL);
    }
  }
  if (reports[0] >= 0) {
    // What the program reported just before it ended.
    ::fcntl(reports[0], F_SETFL, O_NONBLOCK);
    char bytes[256];
    ssize_t got;
    while ((got = ::read(reports[0], bytes, sizeof bytes)) > 0) pending.append(bytes, static_cast<size_t>(got));
    const long pages = LastReportedCount(pending);
    if (pages >= 0 && watch.pagesDone) watch.pagesDone(pages);
    ::close(reports[0]);
  }
  end.stopped = stopping;
  return end;
}

std::string PrintProgramNote() {
  std::string said;
  if (ReadRegularFile(HostTempDir + "zepprint.msg", said, 1u << 20) != ReadResult::Ok) return std::string();
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) said.pop_back();
  const size_t lineStart = said.find_last_of('\n');
  std::string note = Cp858ForDisplay(lineStart == std::string::npos ? said : said.substr(lineStart + 1));
  if (note.size() > 200) note.resize(200);
  for (char& c : note)
    if (IsControl(static_cast<unsigned char>(c))) c = ' ';
  return note;
}
