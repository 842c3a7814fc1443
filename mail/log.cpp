#include "mail/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "base/durable.h"
#include "base/files.h"
#include "base/text.h"

namespace {

constexpr std::array<std::pair<MailState, const char*>, 6> kStateNames{{
    {MailState::Trying, "trying"},
    {MailState::Sent, "sent"},
    {MailState::Temporary, "temporary"},
    {MailState::Permanent, "permanent"},
    {MailState::NoAddress, "noaddress"},
    {MailState::BadAddress, "badaddress"},
}};

std::string Clean(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  }
  return out.empty() ? "-" : out;
}

}  // namespace

const char* MailStateName(MailState state) {
  for (const auto& [s, name] : kStateNames) {
    if (s == state) return name;
  }
  return "unsent";
}

std::vector<MailLogLine> ParseMailLog(const std::string& text, size_t* damagedOut) {
  std::vector<MailLogLine> lines;
  if (damagedOut != nullptr) *damagedOut = 0;
  size_t number = 0;
  const auto damaged = [&] {
    if (damagedOut != nullptr && *damagedOut == 0) *damagedOut = number;
  };
  for (const std::vector<std::string>& f : WholeLineFields(text, '\t')) {
    ++number;
    if (f.size() != 7 || f[2].empty() || f[2].size() > 8 || f[2].find_first_not_of("0123456789") != std::string::npos) {
      damaged();
      continue;
    }
    MailLogLine line;
    for (const auto& [s, name] : kStateNames) {
      if (f[4] == name) line.state = s;
    }
    if (line.state == MailState::None) {
      damaged();
      continue;
    }
    line.time = f[0];
    line.series = f[1];
    line.number = static_cast<int32_t>(std::atol(f[2].c_str()));
    line.address = f[3];
    line.messageId = f[5];
    line.answer = f[6];
    lines.push_back(line);
  }
  return lines;
}

std::map<MailKey, MailLogLine> LastMailStates(const std::vector<MailLogLine>& lines) {
  std::map<MailKey, MailLogLine> last;
  for (const MailLogLine& line : lines) last[MailKey{line.series, line.number, line.address}] = line;
  return last;
}

std::string MailLogText(const MailLogLine& line) {
  std::string number = std::to_string(line.number);
  if (number.size() < 8) number.insert(0, 8 - number.size(), '0');
  // The series as it is, empty for an invoice without one: "-" is a series
  // an invoice may have.
  std::string series = Clean(line.series);
  if (line.series.empty()) series.clear();
  return Clean(line.time) + "\t" + series + "\t" + number + "\t" + Clean(line.address) + "\t" +
         MailStateName(line.state) + "\t" + Clean(line.messageId) + "\t" + Clean(line.answer) + "\n";
}

MailLog::~MailLog() {
  if (fd_ >= 0) ::close(fd_);
}

int MailLog::Open(const std::string& hostPath) {
  fd_ = ::open(hostPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
  if (fd_ < 0) return errno;
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return EINVAL;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return errno;
  const int error = ReadMailLog(hostPath, lines_, &damaged_, &torn_);
  return error == ENOENT ? 0 : error;
}

int MailLog::Append(const std::vector<MailLogLine>& lines) {
  if (fd_ < 0) return EBADF;
  // A line torn by a write that did not finish is ended first, so that it
  // never runs into the line that follows it.
  std::string text = torn_ ? "\n" : "";
  for (const MailLogLine& line : lines) text += MailLogText(line);
  const int error = WriteAll(fd_, text);
  if (error != 0) return error;
  if (::fdatasync(fd_) != 0) return errno;
  torn_ = false;
  lines_.insert(lines_.end(), lines.begin(), lines.end());
  return 0;
}

int ReadMailLog(const std::string& hostPath, std::vector<MailLogLine>& linesOut, size_t* damagedOut, bool* tornOut) {
  linesOut.clear();
  if (damagedOut != nullptr) *damagedOut = 0;
  if (tornOut != nullptr) *tornOut = false;
  std::string text;
  switch (ReadRegularFile(hostPath, text, 256u << 20)) {
    case ReadResult::Ok:
      linesOut = ParseMailLog(text, damagedOut);
      if (tornOut != nullptr) *tornOut = !text.empty() && text.back() != '\n';
      return 0;
    case ReadResult::Missing:
      return ENOENT;
    case ReadResult::NotRegular:
      return EINVAL;
    case ReadResult::TooLarge:
      return EFBIG;
    case ReadResult::Unreadable:
      return EACCES;
  }
  return EIO;
}
