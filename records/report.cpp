// Default hooks of the record-file layer: no console needed.
#include "records/report.h"

#include <iconv.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace {

// Code page 850 to UTF-8 for the terminal; bytes that do not convert are
// shown as "?".
std::string ToTerminal(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "CP858");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out;
  for (char c : text) {
    char in[1] = {c};
    char buf[8];
    char* inp = in;
    size_t inLeft = 1;
    char* outp = buf;
    size_t outLeft = sizeof buf;
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
      out += '?';
    } else {
      out.append(buf, static_cast<size_t>(outp - buf));
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

RecordFileHooks DefaultRecordFileHooks() {
  RecordFileHooks h;
  h.ShowMessage = [](int, const std::string& text) {
    std::string line = ToTerminal(text) + "\n";
    std::fputs(line.c_str(), stderr);
  };
  h.CloseMessage = [] {};
  h.Beep = [] {};
  h.DiscardKeys = [] {};
  h.WaitKey = [] {};
  h.CloseFiles = [] {};
  // exit flushes and closes every stdio stream.
  h.EndProgram = [] { std::exit(0); };
  h.Sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  h.RandomFraction = [] {
    static std::mt19937 engine{std::random_device{}()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
  };
  return h;
}

RecordFileHooks& RecordHooks() {
  static RecordFileHooks hooks = DefaultRecordFileHooks();
  return hooks;
}
