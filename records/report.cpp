// Default hooks of the record-file layer: no console needed.
#include "records/report.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "base/codepage.h"

RecordFileHooks DefaultRecordFileHooks() {
  RecordFileHooks h;
  h.ShowMessage = [](int, const std::string& text) {
    std::string line = Utf8FromCp858(text) + "\n";
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
