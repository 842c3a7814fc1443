// The owner pick list (F4 on an owner field) over 9,999 owners, on the memory
// console with the module's list rules: the first page, and twenty pages
// down with PgDn. Targets: first page under 20 ms, twenty pages under 100 ms.
//
// The register screen's detail over a register of 5,000 invoices: opened on
// the newest and left, and the same with 200 steps back through the chain
// (PgUp), each step checking the record shown. Target: the 200 steps add
// under 100 ms to the opening, so stepping costs the same on any register.
//
// The memory console never waits, so the terminal's waits are charged: a
// user presses a key only while the program waits for one after the screen
// changed, and every read of the console that finds no key stands for a wait
// of up to 20 ms on the terminal. The one such read just before each key is
// the user's turn and costs the program nothing; every other one is charged
// 20 ms on top of the measured time (counter lost_waits).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "invoicing/form_rules.h"
#include "invoicing/production.h"
#include "invoicing/register_screen.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"
#include "register/register.h"
#include "screens/browse.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"
#include "base/paths.h"

namespace {

namespace fs = std::filesystem;

constexpr int kOwners = 9999;
constexpr double kTerminalWaitSeconds = 0.020;

// List 1: the owner list in the window the module's form file gives it.
const char* const kForms =
    "1, 0\r\n"
    "\"d,1b\", 0, 0, 0, 0, 0, 0\r\n"
    "1\r\n"
    "505, 0, 3, 10, 20, 70, 0, \"Propietaris\", 0\r\n";

// See the head of the file: keys handed out only to a read that follows a
// read that found nothing after the screen changed.
class UserAtTheKeys : public MemoryConsole {
 public:
  void PutCell(int row, int col, uint8_t ch, uint8_t attr) override {
    changed_ = true;
    MemoryConsole::PutCell(row, col, ch, attr);
  }
  bool NextEvent(InputEvent& ev) override {
    const bool got = !changed_ && MemoryConsole::NextEvent(ev);
    changed_ = false;
    (got ? keys_ : emptyReads_) += 1;
    return got;
  }
  bool InputWaiting() override { return !changed_ && MemoryConsole::InputWaiting(); }
  int LostWaits() const { return emptyReads_ - keys_; }

 private:
  bool changed_ = false;
  int emptyReads_ = 0;
  int keys_ = 0;
};

// A suite root in /tmp with the owner file of 9,999 owners, opened on the
// module's record area, and the list's form file loaded.
class OwnerOffice {
 public:
  OwnerOffice() {
    char pattern[] = "/tmp/listbenchXXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    fs::create_directories(dir_ / "ddf");
    fs::create_directories(dir_ / "DADES");
    fs::create_directories(dir_ / "LOCALE");
    fs::copy_file(fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf" / "PropietV.xdf", dir_ / "ddf" / "PropietV.xdf");
    Session = SessionValues{};
    Session.RootDir = dir_.string() + "/";
    Session.TempDir = dir_.string() + "/";
    Session.Language = "CAT";
    const std::string forms = (dir_ / "LISTS.ZPN").string();
    std::ofstream(forms, std::ios::binary) << kForms;
    int groups = 0;
    if (LoadFormDefinitions(forms, groups) != FormsLoaded) return;
    int16_t status = 0;
    OpenRecordFile(OwnerFileId, Session.RootDir + "DADES\\PropietV", ModuleRecordArea(OwnerFileId), status,
                   OwnerRecordSize);
    ready_ = status == 0 && Fill();
    ConnectFormRules(Hooks());
  }
  ~OwnerOffice() {
    int16_t status = 0;
    ResetRecordFiles(status);
    ClearFormDefinitions();
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  bool Ready() const { return ready_; }

 private:
  // Owners 1..9,999 in one transaction of a second handle on the file.
  bool Fill() {
    uint8_t block[128] = {};
    const std::string path = HostPath(Session.RootDir + "DADES\\PropietV.dat");
    std::vector<char> key(path.begin(), path.end());
    key.push_back('\0');
    char owner[5] = {};
    uint32_t length = sizeof owner;
    if (RecordManagerCall(RmOpen, block, owner, &length, key.data(), static_cast<uint8_t>(path.size()), 0) != 0)
      return false;
    uint32_t none = 0;
    bool ok = RecordManagerCall(RmBeginTransaction, block, nullptr, &none, nullptr, 0, 0) == 0;
    for (int n = 1; ok && n <= kOwners; ++n) {
      uint8_t record[OwnerRecordSize];
      std::memset(record, ' ', sizeof record);
      std::string code(2, '\0');
      code[0] = static_cast<char>(128 + n / 100);
      code[1] = static_cast<char>(128 + n % 100);
      SetOwnerCode(record, code);
      SetOwnerName(record, "PROPIETARI NUMERO " + std::to_string(n));
      uint32_t size = sizeof record;
      char keyBuffer[256] = {};
      ok = RecordManagerCall(RmInsert, block, record, &size, keyBuffer, 255, 0) == 0;
    }
    none = 0;
    ok = RecordManagerCall(RmEndTransaction, block, nullptr, &none, nullptr, 0, 0) == 0 && ok;
    RecordManagerCall(RmClose, block, nullptr, &none, nullptr, 0, 0);
    return ok;
  }

  fs::path dir_;
  bool ready_ = false;
};

OwnerOffice& Office() {
  static OwnerOffice office;
  return office;
}

// Opens the owner list, presses PgDn |pages| times and leaves with Esc.
void BM_OwnerList(benchmark::State& state) {
  if (!Office().Ready()) {
    state.SkipWithError("the owner file could not be made");
    return;
  }
  const int pages = static_cast<int>(state.range(0));
  int lostWaits = 0;
  for (auto _ : state) {
    UserAtTheKeys console;
    for (int k = 0; k < pages; ++k) console.PushKey(KeyPgDn);
    console.PushKey(KeyEsc);
    SetConsole(&console);
    ResetScreenState();
    ResetKeyboardState();
    const auto start = std::chrono::steady_clock::now();
    int16_t result = 0;
    Browse(1, result);
    const std::chrono::duration<double> measured = std::chrono::steady_clock::now() - start;
    SetConsole(nullptr);
    if (console.PendingEvents() != 0) state.SkipWithError("the list ended before its keys");
    lostWaits = console.LostWaits();
    state.SetIterationTime(measured.count() + lostWaits * kTerminalWaitSeconds);
  }
  state.counters["lost_waits"] = lostWaits;
}

constexpr int kInvoices = 5000;

// A suite root in /tmp whose register holds invoices A/1 .. A/5,000, made
// in one run.
class RegisterOffice {
 public:
  RegisterOffice() {
    char pattern[] = "/tmp/registerbenchXXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    fs::create_directories(dir_ / "ddf");
    fs::create_directories(dir_ / "DADES");
    fs::copy_file(fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf" / "RegFact2.xdf", dir_ / "ddf" / "RegFact2.xdf");
    InvoiceRegister reg;
    if (reg.Open((dir_ / "DADES" / "RegFact2").string(), (dir_ / "ddf" / "RegFact2.xdf").string(), false) != 0) return;
    RegisterEntry invoice;
    invoice.series = "A";
    invoice.date = "20260115";
    invoice.issuerTaxId = "12345678Z";
    invoice.recipientTaxId = "ES43102675P";
    invoice.recipientName = "PROPIETARI";
    invoice.base = 10000;
    invoice.vatRate = 2100;
    invoice.vat = 2100;
    invoice.total = 12100;
    invoice.archive = "F00000001-260115100000.zsp";
    std::vector<RegisterEntry> entries(kInvoices, invoice);
    for (int n = 1; n <= kInvoices; ++n) {
      entries[static_cast<size_t>(n - 1)].number = n;
      entries[static_cast<size_t>(n - 1)].page = n;
    }
    RegisterRefusal refusal;
    ready_ = reg.Append(entries, [] { return std::string("2026-01-15T10:00:00+01:00"); }, refusal) == 0;
  }
  ~RegisterOffice() {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  bool Ready() const { return ready_; }
  std::string Root() const { return dir_.string() + "/"; }

 private:
  fs::path dir_;
  bool ready_ = false;
};

// Opens the register screen, the newest invoice's detail, steps |steps|
// records back and leaves both with Esc.
void BM_RegisterDetail(benchmark::State& state) {
  static RegisterOffice office;
  if (!office.Ready()) {
    state.SkipWithError("the register could not be made");
    return;
  }
  Session = SessionValues{};
  Session.RootDir = office.Root();
  Session.TempDir = office.Root();
  Session.Language = "CAT";
  const int steps = static_cast<int>(state.range(0));
  int lostWaits = 0;
  for (auto _ : state) {
    UserAtTheKeys console;
    console.PushKey(KeyEnter);
    for (int k = 0; k < steps; ++k) console.PushKey(KeyPgUp);
    console.PushKey(KeyEsc);
    console.PushKey(KeyEsc);
    SetConsole(&console);
    ResetScreenState();
    ResetKeyboardState();
    const auto start = std::chrono::steady_clock::now();
    RegisterScreen();
    const std::chrono::duration<double> measured = std::chrono::steady_clock::now() - start;
    SetConsole(nullptr);
    if (console.PendingEvents() != 0) state.SkipWithError("the screen ended before its keys");
    lostWaits = console.LostWaits();
    state.SetIterationTime(measured.count() + lostWaits * kTerminalWaitSeconds);
  }
  state.counters["lost_waits"] = lostWaits;
}

}  // namespace

// Arg 0: the first page only; arg 20: twenty pages down.
BENCHMARK(BM_OwnerList)->Arg(0)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond);
// Arg 0: the detail opened and left; arg 200: two hundred records back.
BENCHMARK(BM_RegisterDetail)->Arg(0)->Arg(200)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
