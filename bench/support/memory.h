// The memory a process owns, as the benchmarks report it: RssAnon of
// /proc/<pid>/status (anonymous resident memory: what the process itself
// allocated, without the files it maps), sampled at chosen moments, the
// highest value kept.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <string>

// RssAnon of the process pid (0: this process) in KiB; -1 when unreadable
// (the process is gone).
inline long RssAnonKiB(pid_t pid = 0) {
  const std::string file = pid == 0 ? "/proc/self/status" : "/proc/" + std::to_string(pid) + "/status";
  std::FILE* f = std::fopen(file.c_str(), "r");
  if (f == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "RssAnon: %ld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib;
}

// The highest RssAnon sampled so far.
class RssAnonPeak {
 public:
  void Sample(pid_t pid = 0) { highest_ = std::max(highest_, RssAnonKiB(pid)); }
  double MiB() const { return static_cast<double>(highest_) / 1024.0; }
  long Highest() const { return highest_; }  // KiB

 private:
  long highest_ = 0;
};
