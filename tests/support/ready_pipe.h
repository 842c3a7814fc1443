// A pipe through which a server a test starts says that it listens: the
// server is given the number of the write end and writes its port there,
// ended by a newline, once listening (and, if it will, further lines at the
// steps a test waits for). The test waits for those lines, not for a file to
// appear or change.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

class ReadyPipe {
 public:
  // The write end is inherited by the programs the test starts; the read
  // end is not.
  ReadyPipe() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    if (fds_[0] >= 0) ::fcntl(fds_[0], F_SETFD, FD_CLOEXEC);
  }
  ~ReadyPipe() {
    CloseEnd(0);
    CloseEnd(1);
  }
  ReadyPipe(const ReadyPipe&) = delete;
  ReadyPipe& operator=(const ReadyPipe&) = delete;

  // The number to give the server.
  int WriteEnd() const { return fds_[1]; }

  // Once the server was started: the port it wrote, or -1 when it ended
  // without one (or said nothing within a minute, so that no test waits for
  // ever).
  int Port() {
    const std::string text = Line();
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(text);
  }

  // The next line the server wrote, without its newline; empty when it
  // ended without one or wrote none within a minute.
  std::string Line() {
    CloseEnd(1);  // the copies the server was given are the only writers left
    while (pending_.find('\n') == std::string::npos) {
      pollfd ready{fds_[0], POLLIN, 0};
      const int n = ::poll(&ready, 1, 60 * 1000);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::string();
      char chunk[64];
      const ssize_t got = ::read(fds_[0], chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return std::string();
      pending_.append(chunk, static_cast<size_t>(got));
    }
    const size_t end = pending_.find('\n');
    const std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
  }

 private:
  void CloseEnd(int end) {
    if (fds_[end] >= 0) ::close(fds_[end]);
    fds_[end] = -1;
  }
  int fds_[2] = {-1, -1};
  std::string pending_;  // read, not yet handed out
};
