#include "base/child.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

int StartChild(const ChildSpec& spec, pid_t& pid) {
  std::vector<std::string> argvTexts;
  argvTexts.reserve(spec.args.size() + 1);
  argvTexts.push_back(spec.argv0.empty() ? spec.program : spec.argv0);
  argvTexts.insert(argvTexts.end(), spec.args.begin(), spec.args.end());
  std::vector<char*> argv = PointersTo(argvTexts);

  std::vector<std::string> envTexts;
  std::vector<char*> envp;
  if (spec.environment != nullptr) {
    envTexts = *spec.environment;
    envp = PointersTo(envTexts);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (spec.stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, spec.stdinFd, STDIN_FILENO);
  if (spec.outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, spec.outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, spec.outputFd, STDERR_FILENO);
  }
  if (spec.extraFd >= 0) posix_spawn_file_actions_adddup2(&actions, spec.extraFd, ExtraChildFd);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (spec.defaultSignals) {
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  }

  char** environment = spec.environment != nullptr ? envp.data() : environ;
  const int rc = spec.searchPath
                     ? posix_spawnp(&pid, spec.program.c_str(), &actions, &attributes, argv.data(), environment)
                     : posix_spawn(&pid, spec.program.c_str(), &actions, &attributes, argv.data(), environment);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

namespace {

// How the child that waitpid gave status for (waited) ended.
ChildEnd EndOf(pid_t pid, pid_t waited, int status) {
  ChildEnd end;
  end.started = true;
  if (waited != pid) {
    // Not ours to wait for (already reaped elsewhere): counts as a failure.
    end.exited = true;
    end.exitCode = -1;
    return end;
  }
  if (WIFEXITED(status)) {
    end.exited = true;
    end.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    end.signal = WTERMSIG(status);
  }
  return end;
}

}  // namespace

ChildEnd WaitChild(pid_t pid) {
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return EndOf(pid, waited, status);
}

bool ChildEnded(pid_t pid, ChildEnd& endOut) {
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, WNOHANG);
  } while (waited < 0 && errno == EINTR);
  if (waited == 0) return false;
  endOut = EndOf(pid, waited, status);
  return true;
}

ChildEnd RunChild(const ChildSpec& spec) {
  pid_t pid = 0;
  const int rc = StartChild(spec, pid);
  if (rc != 0) {
    ChildEnd end;
    end.startError = rc;
    return end;
  }
  return WaitChild(pid);
}
