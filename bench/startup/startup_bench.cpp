// Start-up of the module on the large office (2,000 owners, 5,000
// properties, 60,000 units, 3,000,000 receipts): from the start of the
// module's work to the parameter form drawn and the first key awaited.
// Target: 30 ms.
//
// The module's own start-up routine runs on a memory console with the
// session of the environment (ZEPROOT, ZEPEXE, ZEPTMP: run.sh sets them), then
// the fee-invoice run draws form 1; the console's first key read marks the
// time, checks that the form is on the screen and hands back Esc, which ends
// the run, and the module is released for the next iteration. Left out: the
// terminal's own set-up (ncurses) and the process's start (the dynamic
// loader); bench/startup/tmux.sh measures those too.
//
// Figures: the time to form 1 (manual time), the CPU time of the same span
// (cpu_ms, the one to compare on a shared machine), and the first start of
// the process apart (nothing cached by an earlier iteration); beside it a
// plain-SQLite twin that opens the four data files and reads the first
// record of each. At the end, the memory the process owns (RssAnon) sampled at
// form 1, highest value, beside its peak resident memory.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/support/memory.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "invoicing/run.h"
#include "korvadel/startup.h"

namespace {

// A text of form 1 in the session's language (Catalan in run.sh's root).
constexpr const char* kFormOneText = "Data de les factures";

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The process's first start, nothing cached by an earlier one: wall and CPU
// seconds, negative until measured.
double FirstWall = -1, FirstCpu = -1;

RssAnonPeak& Memory() {
  static RssAnonPeak peak;
  return peak;
}

// When the first key was awaited, and whether form 1 showed then.
struct FirstKey {
  std::chrono::steady_clock::time_point wall;
  double cpu = 0;
  bool marked = false;
  bool formShown = false;
};

// A user who looks at the screen until form 1 is drawn and then presses Esc.
// Until then no key is waiting and input is not over, as on a terminal.
class UserAtFormOne : public MemoryConsole {
 public:
  explicit UserAtFormOne(FirstKey& mark) : mark_(mark) {}
  bool NextEvent(InputEvent& ev) override {
    if (mark_.marked) return MemoryConsole::NextEvent(ev);
    mark_.wall = std::chrono::steady_clock::now();
    mark_.cpu = CpuSeconds();
    mark_.marked = true;
    for (int row = 1; row <= Rows() && !mark_.formShown; ++row)
      mark_.formShown = RowText(row).find(kFormOneText) != std::string::npos;
    Memory().Sample();
    ev = InputEvent{};
    ev.code = KeyEsc;
    return true;
  }
  bool InputWaiting() override { return mark_.marked && MemoryConsole::InputWaiting(); }
  bool InputClosed() const override { return mark_.marked && MemoryConsole::InputClosed(); }

 private:
  FirstKey& mark_;
};

void BM_StartUpToFormOne(benchmark::State& state) {
  if (std::getenv("ZEPROOT") == nullptr) {
    state.SkipWithError("ZEPROOT names no suite root (use bench/startup/run.sh)");
    return;
  }
  double cpuTotal = 0;
  for (auto _ : state) {
    FirstKey mark;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    const bool started = StartModule(std::make_unique<UserAtFormOne>(mark));
    if (started) FeeInvoiceRun();
    ReleaseModule();
    if (!started || !mark.marked || !mark.formShown) {
      state.SkipWithError("form 1 was not drawn (see the suite root's settings and form file)");
      return;
    }
    const std::chrono::duration<double> wall = mark.wall - wallStart;
    const double cpu = mark.cpu - cpuStart;
    state.SetIterationTime(wall.count());
    cpuTotal += cpu;
    if (FirstWall < 0) {
      FirstWall = wall.count();
      FirstCpu = cpu;
    }
  }
  state.counters["cpu_ms"] = benchmark::Counter(cpuTotal * 1e3 / static_cast<double>(state.iterations()));
}

// The twin: the part of start-up that plain SQLite can do, the four data
// files opened as the record manager opens them (read and write, the same
// page cache, map and synchronous setting) and each one's first record read
// along key 0, then closed again.
void BM_PlainSqliteOpensTheFourFiles(benchmark::State& state) {
  const char* root = std::getenv("ZEPROOT");
  if (root == nullptr) {
    state.SkipWithError("ZEPROOT names no suite root (use bench/startup/run.sh)");
    return;
  }
  double cpuTotal = 0;
  for (auto _ : state) {
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    for (const char* name : {"PropietV", "FinquesV", "DepartaV", "CobramV"}) {
      const std::string path = std::string(root) + "DADES/" + name + ".dat";
      struct stat st {};
      sqlite3* db = nullptr;
      if (::stat(path.c_str(), &st) != 0 ||
          sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        state.SkipWithError("a data file of the suite root cannot be opened");
        return;
      }
      const std::string pragmas = "PRAGMA cache_size = -2048; PRAGMA mmap_size = " +
                                  std::to_string(st.st_size + (64 << 20)) + "; PRAGMA synchronous = FULL";
      sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
      sqlite3_stmt* first = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT id, data FROM records ORDER BY k0, id LIMIT 1", -1, &first, nullptr) ==
              SQLITE_OK &&
          sqlite3_step(first) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_blob(first, 1));
      }
      sqlite3_finalize(first);
      sqlite3_close(db);
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
    state.SetIterationTime(wall.count());
    cpuTotal += CpuSeconds() - cpuStart;
  }
  state.counters["cpu_ms"] = benchmark::Counter(cpuTotal * 1e3 / static_cast<double>(state.iterations()));
}

}  // namespace

BENCHMARK(BM_StartUpToFormOne)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSqliteOpensTheFourFiles)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (FirstWall >= 0)
    std::printf("first start of the process: %.2f ms, CPU %.2f ms\n", FirstWall * 1e3, FirstCpu * 1e3);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("memory: private at form 1 (RssAnon, highest sampled) %.1f MiB, resident (max resident set) %ld MiB\n",
              Memory().MiB(), usage.ru_maxrss / 1024);
  return 0;
}
