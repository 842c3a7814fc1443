// Starting a child program and waiting for it: the one place where the
// module and its companions call posix_spawn and waitpid.
// EINTR policy: a wait interrupted by a signal is always resumed, so a
// signal handler of the parent never makes a child look lost.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ChildSpec {
  std::string program;             // a host path, or a name looked up on PATH with searchPath
  std::vector<std::string> args;   // the arguments after argv[0]
  std::string argv0;               // argv[0]; empty: program
  const std::vector<std::string>* environment = nullptr;  // "NAME=value"; nullptr: ours
  bool searchPath = false;
  int stdinFd = -1;                // when >= 0, becomes the child's standard input
  int outputFd = -1;               // when >= 0, becomes its standard output and standard error
  int extraFd = -1;                // when >= 0, becomes its descriptor 3 (ExtraChildFd)
  bool defaultSignals = false;     // SIGINT, SIGQUIT, SIGTERM, SIGHUP at their defaults in the child
};

// The descriptor ChildSpec::extraFd has in the child.
inline constexpr int ExtraChildFd = 3;

struct ChildEnd {
  bool started = false;
  int startError = 0;  // errno of a failed start
  bool exited = false;  // ended by exit; exitCode holds its status
  int exitCode = 0;
  int signal = 0;      // the signal that ended it, when it did not exit
  bool stopped = false;  // the caller ended it on purpose (set by the caller)

  // Started, exited, status 0.
  [[nodiscard]] bool Succeeded() const { return started && exited && exitCode == 0; }
};

// Starts the child; 0 with pid set, or the errno of the failure.
[[nodiscard]] int StartChild(const ChildSpec& spec, pid_t& pid);

// Waits for the child to end.
[[nodiscard]] ChildEnd WaitChild(pid_t pid);

// Whether the child has ended, without waiting: true with endOut filled
// (the child is then reaped, as by WaitChild), false while it runs.
[[nodiscard]] bool ChildEnded(pid_t pid, ChildEnd& endOut);

// StartChild then WaitChild.
[[nodiscard]] ChildEnd RunChild(const ChildSpec& spec);
