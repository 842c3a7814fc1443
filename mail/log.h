// The send log: DADES\CorreuFact.log beside the register, one UTF-8 line
// per invoice and address and step, only ever appended to:
//
//   <local time ISO 8601> TAB <series, empty for none> TAB <number> TAB <address or "-">
//     TAB <state> TAB <Message-ID or "-"> TAB <the server's answer or a note>
//
// States: "trying" is written (and flushed to disk) before a message goes
// to an address; its result follows: "sent", "temporary" (a 4xx answer, or
// the server could not be reached, refused the login or the connection
// broke: the next sending tries again) or "permanent" (a 5xx answer: not
// tried again). "noaddress" and "badaddress" note an owner without a usable
// address. An invoice whose last line for an address is "trying" may have
// gone out (the program stopped before the answer was noted): it is never
// sent again by itself.
//
// Why a text file and not a record file: every attempt stays as it was
// written (when, to whom, the answer), which is what an administrator asks
// when an owner says no invoice came; answers have no fixed width; a torn
// last line (power cut) is simply not read; and the register's own files
// are not touched. One sending at a time holds the file's lock (flock).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

enum class MailState { None, Trying, Sent, Temporary, Permanent, NoAddress, BadAddress };

[[nodiscard]] const char* MailStateName(MailState state);

struct MailLogLine {
  std::string time;
  std::string series;
  int32_t number = 0;
  std::string address;  // "-" for none
  MailState state = MailState::None;
  std::string messageId;
  std::string answer;
};

// An invoice and address: (series, number, address).
using MailKey = std::tuple<std::string, int32_t, std::string>;

// The lines of a log's text; lines that do not read whole are left out,
// and damagedOut (when given) is the number of the first of them (from 1),
// or 0. A last line without its "\n", torn by a write that did not finish,
// is no damage.
[[nodiscard]] std::vector<MailLogLine> ParseMailLog(const std::string& text, size_t* damagedOut = nullptr);

// The last line of each invoice and address.
[[nodiscard]] std::map<MailKey, MailLogLine> LastMailStates(const std::vector<MailLogLine>& lines);

// The text of a line, ended by "\n". Tabs, line ends and other control
// characters of the answer become blanks.
[[nodiscard]] std::string MailLogText(const MailLogLine& line);

// The log file, open for appending under its lock for the life of the
// object.
class MailLog {
 public:
  MailLog() = default;
  ~MailLog();
  MailLog(const MailLog&) = delete;
  MailLog& operator=(const MailLog&) = delete;

  // Opens (creating, 0640) the log at hostPath, takes its lock without
  // waiting and reads it. 0; EWOULDBLOCK when another sending holds it; or
  // the errno of the failure.
  [[nodiscard]] int Open(const std::string& hostPath);
  [[nodiscard]] const std::vector<MailLogLine>& lines() const { return lines_; }
  // The first line that does not read (from 1), or 0 (ParseMailLog).
  [[nodiscard]] size_t DamagedLine() const { return damaged_; }
  // Appends lines in one write and flushes them to disk: 0 or the errno.
  [[nodiscard]] int Append(const std::vector<MailLogLine>& lines);

 private:
  int fd_ = -1;
  std::vector<MailLogLine> lines_;
  size_t damaged_ = 0;
  bool torn_ = false;  // the text ends in a line without its "\n"
};

// The log's lines at hostPath, without taking the lock (for a listing):
// 0, ENOENT when there is none, or the errno.
[[nodiscard]] int ReadMailLog(const std::string& hostPath, std::vector<MailLogLine>& linesOut,
                              size_t* damagedOut = nullptr, bool* tornOut = nullptr);
