#include "tests/support/fork_gate.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {
// How long the parent waits for a byte or for the end of a child that is
// stuck: far beyond any test's need, short of hanging a test run.
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
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (fd_ >= 0) ::close(fd_);
}

bool ForkGate::Send(char byte) {
  if (fd_ < 0) return false;
  ssize_t n;
  while ((n = ::send(fd_, &byte, 1, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  return n == 1;
}

int ForkGate::Receive() {
  if (fd_ < 0) return -1;
  if (!child_) {
    pollfd readable{fd_, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&readable, 1, kByteLimitMs)) < 0 && errno == EINTR) {
    }
    if (ready != 1) return -1;
  }
  char byte = 0;
  ssize_t n;
  while ((n = ::recv(fd_, &byte, 1, 0)) < 0 && errno == EINTR) {
  }
  return n == 1 ? static_cast<unsigned char>(byte) : -1;
}

void ForkGate::Reaped(int status) {
  pid_ = -1;
  exit_ = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ForkGate::Ended() {
  if (pid_ <= 0) return true;
  int status = 0;
  const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
  if (reaped == 0 || (reaped < 0 && errno == EINTR)) return false;
  Reaped(reaped == pid_ ? status : -1);  // -1: not a child of ours after all
  return true;
}

int ForkGate::Wait() {
  const auto limit = std::chrono::steady_clock::now() + kEndLimit;
  while (!Ended()) {
    if (std::chrono::steady_clock::now() > limit) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      Reaped(status);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return exit_;
}
