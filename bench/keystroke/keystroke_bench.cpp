// Keystroke to screen: the real korvadel in a pseudo-terminal of 80x25
// (TERM=tmux-256color, UTF-8, as the end-to-end tests run it), on the suite
// root of the environment (ZEPROOT, ZEPEXE, ZEPTMP: run.sh sets them). Target:
// 1 ms from a key written to the last byte of the screen update it causes.
//
// It waits for form 1 (its text, then a quiet pause), moves to the invoice
// number field and times keys there: digits typed, Backspace taking them out
// again, and every so often Up and Down (to the field above and back). Each
// key is written at once and its update read until the terminal stays quiet
// for the quiet window; the latency is the time to the last byte read, the
// window is not part of it. Then Esc twice ends the program.
//
// Prints: the start-up to form 1 seen through the terminal (from the fork to
// the first byte of the form's text and to the last byte of its drawing, and
// the CPU time the program used until it waited for a key), then per kind of
// key and over all keys the median, 90th and 99th percentile and the bytes
// written per key, the CPU time the program used per key (from
// /proc/<pid>/schedstat) and its RssAnon at the end.
//   keystroke_bench KORVADEL [KEYS] [QUIET_MS]     (defaults 300, 20)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/support/memory.h"

namespace {

using Clock = std::chrono::steady_clock;

// Form 1's text as the terminal shows it (UTF-8), in the Catalan of run.sh's
// root; and the bytes of the keys (xterm's sequences, which tmux-256color's
// description also gives).
constexpr const char* kFormOneText = "Data de les factures";
constexpr const char* kDown = "\x1b[B";
constexpr const char* kUp = "\x1b[A";
constexpr const char* kBackspace = "\x7f";
constexpr const char* kEsc = "\x1b";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Nanoseconds of CPU the process pid has run (first field of schedstat);
// -1 when unreadable.
long long CpuNs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = -1;
  in >> ns;
  return in ? ns : -1;
}

// Reads what the program writes: Drain reads until nothing comes for the
// quiet window and returns the time of the last byte read.
class Terminal {
 public:
  explicit Terminal(int fd) : fd_(fd) {}

  // Waits up to timeoutMs for output; appends it; false on timeout or end.
  bool ReadSome(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[65536];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen_.append(buffer, static_cast<size_t>(n));
    last_ = Clock::now();
    bytes_ += static_cast<size_t>(n);
    return true;
  }
  // Reads until the quiet window passes without output. False when nothing
  // came at all.
  bool Drain(int quietMs) {
    bool any = false;
    while (ReadSome(quietMs)) any = true;
    return any;
  }
  // Reads until text has been seen or timeoutMs pass.
  bool WaitFor(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen_.find(text) == std::string::npos) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0 || !ReadSome(left)) return false;
    }
    return true;
  }
  void Write(const char* bytes) { [[maybe_unused]] ssize_t n = write(fd_, bytes, std::strlen(bytes)); }
  void Forget() {
    seen_.clear();
    bytes_ = 0;
  }
  Clock::time_point Last() const { return last_; }
  size_t Bytes() const { return bytes_; }

 private:
  int fd_;
  std::string seen_;
  Clock::time_point last_{};
  size_t bytes_ = 0;
};

struct Sample {
  double ms;
  size_t bytes;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5));
  return values[at];
}

void Report(const char* name, const std::vector<Sample>& samples) {
  std::vector<double> ms;
  double bytes = 0;
  for (const Sample& s : samples) {
    ms.push_back(s.ms);
    bytes += static_cast<double>(s.bytes);
  }
  std::printf("%-12s %5zu keys  median %.3f ms  p90 %.3f ms  p99 %.3f ms  %6.0f bytes/key\n", name, samples.size(),
              Percentile(ms, 0.5), Percentile(ms, 0.9), Percentile(ms, 0.99),
              samples.empty() ? 0.0 : bytes / static_cast<double>(samples.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: keystroke_bench KORVADEL [KEYS] [QUIET_MS]\n");
    return 2;
  }
  const int keys = argc > 2 ? std::max(10, std::atoi(argv[2])) : 300;
  const int quietMs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
  const char* root = std::getenv("ZEPROOT");
  if (root == nullptr) {
    std::fprintf(stderr, "keystroke_bench: ZEPROOT names no suite root (use bench/keystroke/run.sh)\n");
    return 2;
  }

  winsize size{};
  size.ws_row = 25;
  size.ws_col = 80;
  int fd = -1;
  const auto started = Clock::now();
  const pid_t pid = forkpty(&fd, nullptr, nullptr, &size);
  if (pid < 0) {
    std::perror("forkpty");
    return 1;
  }
  if (pid == 0) {
    setenv("TERM", "tmux-256color", 1);
    setenv("LANG", "C.UTF-8", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    if (chdir(root) != 0) _exit(127);
    execl(argv[1], argv[1], static_cast<char*>(nullptr));
    _exit(127);
  }

  Terminal term(fd);
  int status = 1;
  do {
    if (!term.WaitFor(kFormOneText, 10000)) {
      std::fprintf(stderr, "keystroke_bench: form 1 did not show\n");
      break;
    }
    const double textMs = Ms(term.Last() - started);
    term.Drain(200);
    const long long startCpu = CpuNs(pid);
    std::printf("start-up in the pty: form 1's text after %.1f ms, its last byte after %.1f ms (%zu bytes), "
                "program CPU to then %.1f ms\n",
                textMs, Ms(term.Last() - started), term.Bytes(), static_cast<double>(startCpu) / 1e6);

    // To the invoice number field, the sixth.
    for (int i = 0; i < 5; ++i) {
      term.Write(kDown);
      term.Drain(quietMs * 5);
    }

    std::map<std::string, std::vector<Sample>> byKind;
    std::vector<Sample> all;
    int silent = 0;
    const long long cpuBefore = CpuNs(pid);
    for (int k = 0; k < keys; ++k) {
      // A cycle of 10 keys: four digits, four Backspaces, Up, Down.
      const int step = k % 10;
      std::string kind;
      std::string bytes;
      if (step < 4) {
        kind = "digit";
        bytes = std::string(1, static_cast<char>('1' + (k / 10 + step) % 9));
      } else if (step < 8) {
        kind = "backspace";
        bytes = kBackspace;
      } else {
        kind = "field move";
        bytes = step == 8 ? kUp : kDown;
      }
      term.Forget();
      const auto sent = Clock::now();
      term.Write(bytes.c_str());
      if (!term.Drain(quietMs)) {
        ++silent;
        continue;
      }
      const Sample s{Ms(term.Last() - sent), term.Bytes()};
      byKind[kind].push_back(s);
      all.push_back(s);
    }
    const long long cpuAfter = CpuNs(pid);
    const long rssAnon = RssAnonKiB(pid);

    std::printf("keys (quiet window %d ms, not counted in the times):\n", quietMs);
    for (const auto& [kind, samples] : byKind) Report(kind.c_str(), samples);
    Report("all", all);
    if (silent > 0) std::printf("%d keys gave no output\n", silent);
    if (cpuBefore >= 0 && cpuAfter >= 0)
      std::printf("program CPU per key: %.3f ms (schedstat)\n",
                  static_cast<double>(cpuAfter - cpuBefore) / 1e6 / static_cast<double>(keys));
    std::printf("program memory: private (RssAnon) %.1f MiB\n", static_cast<double>(rssAnon) / 1024.0);
    status = 0;
  } while (false);

  // Esc to the first field, Esc to leave the form; then the program ends.
  term.Write(kEsc);
  term.Drain(100);
  term.Write(kEsc);
  term.Drain(300);
  int waited = 0;
  for (int i = 0; i < 50 && waitpid(pid, &waited, WNOHANG) == 0; ++i) usleep(20000);
  if (waitpid(pid, &waited, WNOHANG) == 0) {
    kill(pid, SIGTERM);
    waitpid(pid, &waited, 0);
    std::fprintf(stderr, "keystroke_bench: the program did not end on Esc\n");
    status = 1;
  }
  close(fd);
  return status;
}
