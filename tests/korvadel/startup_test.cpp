// The module's start-up routine on a memory console, over a small suite root
// made from the installation's settings, forms and translations with empty
// data files: what form 1 (or the form-file failure) shows, in the order the
// cases run in one process, each started after the last one was released.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "console/console.h"
#include "console/keyboard.h"
#include "invoicing/run.h"
#include "korvadel/startup.h"
#include "recman/recman.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

std::string Install(const std::string& name) {
  std::ifstream in(fs::path(KORVADEL_SOURCE_DIR) / "install" / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The first read of a key keeps the screen, then gives Esc (or, for the
// signal case, ends the process with SIGTERM while form 1 is up).
class UserAtFirstKey : public MemoryConsole {
 public:
  UserAtFirstKey(std::string& screenOut, bool terminate) : screen_(screenOut), terminate_(terminate) {}
  bool NextEvent(InputEvent& ev) override {
    if (asked_) return MemoryConsole::NextEvent(ev);
    asked_ = true;
    for (int row = 1; row <= Rows(); ++row) screen_ += RowText(row) + "\n";
    if (terminate_) raise(SIGTERM);
    ev = InputEvent{};
    ev.code = KeyEsc;
    return true;
  }
  bool InputWaiting() override { return asked_ && MemoryConsole::InputWaiting(); }
  bool InputClosed() const override { return asked_ && MemoryConsole::InputClosed(); }

 private:
  std::string& screen_;
  bool terminate_;
  bool asked_ = false;
};

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    root_.Write("Tarn.ini", WithMode());
    root_.Write("Productor.ini", Install("Productor.ini"));
    root_.Write("FORMS/KORVADEL.ZPN", Install("FORMS/KORVADEL.ZPN"));
    root_.Write("LOCALE/KORVADEL.LNG", Install("LOCALE/KORVADEL.LNG"));
    for (const char* base : {"PropietV", "FinquesV", "DepartaV", "CobramV"}) {
      // A dictionary is the creation specification after its 2-byte length.
      std::string spec = Install(std::string("ddf/") + base + ".xdf").substr(2);
      std::string path = root_.Dir() + "DADES/" + base + ".dat";
      fs::create_directories(root_.Dir() + "DADES");
      const auto pathLength = static_cast<uint8_t>(std::min<size_t>(path.size(), 255));
      path.push_back('\0');
      uint8_t block[128] = {};
      uint32_t length = static_cast<uint32_t>(spec.size());
      ASSERT_EQ(RecordManagerCall(RmCreate, block, spec.data(), &length, path.data(), pathLength, -1), 0) << base;
    }
    setenv("ZEPROOT", root_.Dir().c_str(), 1);
    setenv("ZEPTMP", TempDir().c_str(), 1);
    unsetenv("ZEPEXE");
  }
  void TearDown() override {
    fs::current_path(home_);
    unsetenv("ZEPROOT");
    unsetenv("ZEPTMP");
  }

  std::string TempDir() const { return root_.Dir() + "TMP/"; }
  // The installed settings with the register in the sending mode.
  static std::string WithMode() {
    std::string settings = Install("Tarn.ini");
    const size_t at = settings.find("\r\nMode=\r\n");
    return at == std::string::npos ? settings : settings.insert(at + 7, "envia");
  }
  void SetLanguage(const std::string& code) {
    root_.Write("TMP/TarnTerm.ini", "[Sistema]\r\nData=20260115\r\nIdioma=" + code + "\r\n");
  }

  // Starts the module, runs it to its first key wait and releases it; the
  // screen then, and whether the start succeeded.
  bool StartAndRelease(std::string& screenOut) {
    const bool started = StartModule(std::make_unique<UserAtFirstKey>(screenOut, false));
    if (started) FeeInvoiceRun();
    ReleaseModule();
    return started;
  }

  fs::path home_;
  TempRoot root_;
};

TEST_F(StartUp, ShowsFormOneInTheSessionLanguageAndReleasesEverything) {
  struct Case {
    const char* name;
    const char* language;
    bool withForms;
    const char* shown;  // a text of the screen at the first key wait
    std::string from = {}, to = {};  // a damage to the form file: from replaced by to
    bool installedSettings = false;  // Tarn.ini as installed: the register on, no mode chosen
  };
  const Case cases[] = {
      {"Catalan", "CAT", true, "Data de les factures ........ 150126"},
      {"Spanish", "SPA", true, "Fecha de las facturas ....... 150126"},
      {"again after a release", "CAT", true, "Primer propietari ........... 1 "},
      {"form file missing", "CAT", false, "KORVADEL.ZPN"},
      {"form file back", "OCI", true, "Data des factures ........... 150126"},
      // The register on and no mode: told at once, with what to choose.
      {"the installed settings", "CAT", true, "AMB [Registre] Actiu=S CAL TRIAR A ", {}, {}, true},
      // Forms the user could not leave are refused, named, before one shows.
      {"a form without an exit key", "CAT", true, "FORMULARI 2 SENSE TECLA DE SORTIDA: ", "\"d,1b\", 1, 0",
       "\"4800\", 1, 0"},
      {"an exit key reported as another", "SPA", true, "FORMULARIO 2 SIN TECLA DE SALIDA: ", "\"d,1b\", 1, 0",
       "\"d=4800,1b=0\", 1, 0"},
      {"a field below the screen", "CAT", true, "FORMULARI 1 FORA DE LA PANTALLA: ", "11, 9, \"Primer",
       "21, 9, \"Primer"},
      {"a field beyond the right edge", "CAT", true, "FORMULARI 2 FORA DE LA PANTALLA: ", "2, 4, \"Voleu",
       "2, 40, \"Voleu"},
      {"a form that follows itself", "CAT", true, "FORMULARI 1 ENCADENAT EN CERCLE: ", "4100\", 9, 0,",
       "4100\", 9, 1,"},
  };
  ForEachRow(cases, [&](const Case& c) {
    SetLanguage(c.language);
    const std::string forms = root_.Dir() + "FORMS/KORVADEL.ZPN";
    if (!c.withForms) fs::rename(forms, forms + ".away");
    if (!c.from.empty()) {
      std::string damaged = Install("FORMS/KORVADEL.ZPN");
      ASSERT_NE(damaged.find(c.from), std::string::npos);
      root_.Write("FORMS/KORVADEL.ZPN", damaged.replace(damaged.find(c.from), c.from.size(), c.to));
    }
    if (c.installedSettings) root_.Write("Tarn.ini", Install("Tarn.ini"));
    std::string screen;
    EXPECT_EQ(StartAndRelease(screen), c.withForms && c.from.empty());
    if (c.installedSettings) root_.Write("Tarn.ini", WithMode());
    if (!c.withForms) fs::rename(forms + ".away", forms);
    if (!c.from.empty()) root_.Write("FORMS/KORVADEL.ZPN", Install("FORMS/KORVADEL.ZPN"));
    EXPECT_NE(screen.find(c.shown), std::string::npos) << screen;
    EXPECT_FALSE(fs::exists(TempDir() + "WinPush.tmp"));
  });
}

// A second start must not chain the end-signal handler behind itself: the
// signal still removes the window stack and ends the process by itself.
TEST_F(StartUp, EndSignalAfterASecondStartRemovesTheWindowStack) {
  SetLanguage("CAT");
  EXPECT_EXIT(
      {
        std::string screen;
        if (!StartAndRelease(screen)) std::exit(1);
        if (StartModule(std::make_unique<UserAtFirstKey>(screen, true))) FeeInvoiceRun();
        std::exit(2);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(fs::exists(TempDir() + "WinPush.tmp"));
}

}  // namespace
