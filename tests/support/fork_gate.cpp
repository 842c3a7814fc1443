#include "tests/support/fork_gate.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {
// How long the parent waits for a byte, and for the end of a child: far
// beyond any test's need, short of hanging a test run.
constexpr int kByteLimitMs = 60 * 1000;
constexpr auto kEndLimit = std::chrono::minutes(2);
}  // namespace

ForkGate::ForkGate(const std::function<int(ForkGate&)>& body) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ends[0]);
    fd_ = ends[1];
    child_ = true;
    ::_exit(body(*this) & 0xFF);
  }
  ::close(ends[1]);
  fd_ = ends[0];
}

ForkGate::~ForkGate() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) ::close(fd_);
}

bool ForkGate::Send(char byte) { return fd_ >= 0 && ::send(fd_, &byte, 1, MSG_NOSIGNAL) == 1; }

int ForkGate::Receive() {
  pollfd readable{fd_, POLLIN, 0};
  char byte = 0;
  if (fd_ < 0 || ::poll(&readable, 1, child_ ? -1 : kByteLimitMs) != 1 || ::recv(fd_, &byte, 1, 0) != 1) return -1;
  return static_cast<unsigned char>(byte);
}

bool ForkGate::Ended() {
  if (pid_ <= 0) return true;
  int status = 0;
  const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
  if (reaped == 0) return false;
  pid_ = -1;
  exit_ = reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

int ForkGate::Wait() {
  for (const auto limit = std::chrono::steady_clock::now() + kEndLimit; !Ended();) {
    if (std::chrono::steady_clock::now() > limit) ::kill(pid_, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return exit_;
}
