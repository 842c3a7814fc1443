// What the end-to-end tests share: shell commands and their output, whole
// files, and a tmux pane of 80x25 on a socket of its own, killed with the
// object.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// s as one shell word.
inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Runs a shell command; returns its standard output, status in *status.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Pane {
 public:
  // joinWrapped: screens are captured with wrapped lines joined into one.
  explicit Pane(bool joinWrapped = false) : joinWrapped_(joinWrapped) {
    static int counter = 0;
    socket_ = "korvadel-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  }
  // tmux leaves its socket file behind when its server is killed.
  ~Pane() {
    Shell("tmux -L " + socket_ + " kill-server");
    const char* dir = std::getenv("TMUX_TMPDIR");
    std::error_code ignored;
    fs::remove(fs::path(dir != nullptr && *dir != '\0' ? dir : "/tmp") / ("tmux-" + std::to_string(getuid())) / socket_,
               ignored);
  }

  // The pane is a UTF-8 xterm-like terminal whatever the environment the
  // tests run in (CI may have no locale and no TERM at all).
  bool Start(const std::string& command) {
    int status = 0;
    Shell("LANG=C.UTF-8 LC_ALL=C.UTF-8 tmux -u -L " + socket_ + " -f /dev/null new-session -d -x 80 -y 25 " +
              Quote("export LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM=tmux-256color; " + command),
          &status);
    return status == 0;
  }

  std::string Screen() const { return Shell("tmux -L " + socket_ + " capture-pane -p" + (joinWrapped_ ? " -J" : "")); }

  // A pane variable such as "#{alternate_on}".
  std::string Display(const std::string& format) const {
    std::string out = Shell("tmux -L " + socket_ + " display-message -p " + Quote(format));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  // Named keys (Enter, Escape, BSpace ...), one at a time: each is sent
  // once the program has answered the one before (see Send).
  void Keys(const std::vector<std::string>& keys) {
    for (const std::string& k : keys) Send("send-keys " + k);
  }
  // Text typed character by character.
  void Type(const std::string& text) { Send("send-keys -l " + Quote(text)); }

  // Polls the screen until |seen| holds (with |seconds| not negative, or
  // until they pass); the screen last captured is kept for messages. The
  // tests wait for what the screen must show, however loaded the machine:
  // a program that never shows it is ended by ctest's own limit.
  bool WaitFor(const std::function<bool(const std::string&)>& seen, double seconds = -1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds < 0 ? 0 : seconds);
    for (;;) {
      last_ = Screen();
      if (seen(last_)) return true;
      if (seconds >= 0 && std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  bool WaitForText(const std::string& text, double seconds = -1) {
    return WaitFor([&](const std::string& s) { return s.find(text) != std::string::npos; }, seconds);
  }
  const std::string& Last() const { return last_; }

 private:
  // The screen with the cursor's place: what a key the program has read
  // changes (a key in a field moves the cursor at least).
  std::string State() const { return Screen() + Display("#{cursor_x},#{cursor_y}"); }
  // Sends a key and waits until the screen or the cursor changes, so that
  // the next key is not read together with this one (Escape followed by a
  // letter would be one key). A key that changes nothing (the program
  // ignores it) lets the next go after a few seconds.
  void Send(const std::string& command) {
    const std::string before = State();
    Shell("tmux -L " + socket_ + " " + command);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (State() == before && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string socket_;
  std::string last_;
  bool joinWrapped_ = false;
};

}  // namespace e2e
