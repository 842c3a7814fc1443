// A child process for tests that need a second process on the same files:
// the child runs a function, the two sides pass single bytes through a gate
// (a socket pair) to keep in step, and the parent collects the exit status.
// A child still running when its ForkGate goes away is killed and reaped,
// so a failed assertion in the parent never leaves a process behind and no
// test waits for ever.
#pragma once

#include <sys/types.h>

#include <functional>

class ForkGate {
 public:
  // Forks; the child runs body(*this) and ends with _exit of its result, so
  // no destructor, exit handler or test framework code runs in the child
  // after the body. A body that must end some other way (dying with files
  // still open, or through std::exit) does so itself.
  explicit ForkGate(const std::function<int(ForkGate&)>& body);
  ~ForkGate();
  ForkGate(const ForkGate&) = delete;
  ForkGate& operator=(const ForkGate&) = delete;

  // Either side: hands one byte to the other side. False when the other
  // side is gone.
  bool Send(char byte);
  // Either side: the next byte from the other side, or -1 when the other
  // side is gone (in the parent also when none comes within a minute).
  int Receive();

  // Parent: waits for the child to end and gives its exit status; -1 when it
  // was not forked or ended by a signal (a child that has not ended within
  // two minutes is killed). Asked again, gives the same answer.
  int Wait();
  // Parent: whether the child has ended, without waiting for it.
  bool Ended();

 private:
  pid_t pid_ = -1;    // the child while it has not been reaped
  int fd_ = -1;       // this side's end of the gate
  bool child_ = false;
  int exit_ = -1;     // the exit status once reaped
};
