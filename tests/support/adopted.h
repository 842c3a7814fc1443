// The programs a command leaves running on their own (a sender detached in
// the background), waited for by the test instead of for a time: while an
// AdoptedChildren lives this process is a subreaper, so an orphan of its
// descendants becomes its child, and Wait reaps every child but those the
// test keeps.
#pragma once

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

class AdoptedChildren {
 public:
  AdoptedChildren() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
  ~AdoptedChildren() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
  AdoptedChildren(const AdoptedChildren&) = delete;
  AdoptedChildren& operator=(const AdoptedChildren&) = delete;

  // Waits for each child of this process but keep (its own servers): their
  // exit codes (-1 for one ended by a signal), in the order they ended;
  // empty when the command left nothing running.
  static std::vector<int> Wait(pid_t keep) {
    std::vector<int> codes;
    for (std::vector<pid_t> left = Children(keep); !left.empty(); left = Children(keep)) {
      for (const pid_t child : left) {
        int status = 0;
        if (::waitpid(child, &status, 0) == child) codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      }
    }
    return codes;
  }

 private:
  // Every thread's children, as the kernel lists them.
  static std::vector<pid_t> Children(pid_t keep) {
    std::vector<pid_t> out;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return out;
    while (const dirent* task = ::readdir(tasks)) {
      if (task->d_name[0] == '.') continue;
      std::ifstream list(std::string("/proc/self/task/") + task->d_name + "/children");
      for (pid_t pid = 0; list >> pid;)
        if (pid != keep && std::find(out.begin(), out.end(), pid) == out.end()) out.push_back(pid);
    }
    ::closedir(tasks);
    return out;
  }
};
