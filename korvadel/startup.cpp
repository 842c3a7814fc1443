// The module's start-up and shutdown (see startup.h): the order of the steps
// is the module's, and each step's failure is told where it happens.
#include "korvadel/startup.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/codepage.h"
#include "base/language.h"
#include "base/paths.h"
#include "console/screen.h"
#include "console/tell.h"
#include "formatting/dates.h"
#include "formatting/settings.h"
#include "invoicing/production.h"
#include "korvadel/wiring.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "records/records.h"
#include "screens/formfile.h"
#include "session/forms.h"
#include "session/session.h"
#include "tools/setup.h"

namespace {

// The console, owned here so that every way out can give it back.
std::unique_ptr<Console> Screen;

// Removes the temporary files that screens own, should an abnormal path
// have left one behind: the window stack and the pick-list file.
void RemoveScreenFiles() {
  if (Session.TempDir.empty()) return;
  for (const char* name : {"WinPush.tmp", "Browse.tmp"})
    std::remove(HostPath(Session.TempDir + name).c_str());
}

// The screen files as host paths, ready for the signal path (no allocation
// there), and the handlers the console installed before ours.
char WindowFileHostPath[4096] = "";
char ListFileHostPath[4096] = "";
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction ConsoleHandlers[3];
bool EndSignalsCaught = false;

void CopyPath(char* to, size_t size, const std::string& from) {
  if (from.size() >= size) {
    to[0] = '\0';  // left empty: nothing is removed then
    return;
  }
  from.copy(to, from.size());
  to[from.size()] = '\0';
}

// A signal that ends the program: the screen files go, then the console's
// own handler gives the terminal back and ends the process with the signal.
// Only async-signal-safe calls.
void OnEndSignal(int sig) {
  if (WindowFileHostPath[0] != '\0') unlink(WindowFileHostPath);
  if (ListFileHostPath[0] != '\0') unlink(ListFileHostPath);
  for (size_t i = 0; i < 3; ++i) {
    if (kEndSignals[i] != sig) continue;
    const struct sigaction& previous = ConsoleHandlers[i];
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
        previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
      previous.sa_handler(sig);
    }
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

// Chains OnEndSignal in front of the console's handlers; called once the
// temporary directory is known. A second start keeps the handlers of the
// first (chaining ours behind ours would loop) and only renews the paths.
void CatchEndSignals() {
  if (Session.TempDir.empty()) return;
  CopyPath(WindowFileHostPath, sizeof WindowFileHostPath, HostPath(Session.TempDir + "WinPush.tmp"));
  CopyPath(ListFileHostPath, sizeof ListFileHostPath, HostPath(Session.TempDir + "Browse.tmp"));
  if (EndSignalsCaught) return;
  EndSignalsCaught = true;
  struct sigaction ours {};
  ours.sa_handler = OnEndSignal;
  sigemptyset(&ours.sa_mask);
  for (size_t i = 0; i < 3; ++i) sigaction(kEndSignals[i], &ours, &ConsoleHandlers[i]);
}

// Gives the console back: for the terminal, the cursor shown again and
// ncurses ended.
void ReleaseScreen() {
  SetConsole(nullptr);
  Screen.reset();
}

void OpenDataFile(int16_t fileId, const char* name, uint32_t size) {
  int16_t status = 0;
  // Failures are reported by the record layer, which ends the program.
  OpenRecordFile(fileId, Session.RootDir + name, ModuleRecordArea(fileId), status, size);
}

}  // namespace

bool StartModule(std::unique_ptr<Console> console) {
  // 1. The screen, with the cursor hidden.
  Screen = std::move(console);
  SetConsole(Screen.get());
  ResetScreenState();
  SetCursorSize(0);
  // Every hook between the layers (korvadel/wiring.cpp lists them).
  WireHooks([] {
    RemoveScreenFiles();
    ReleaseScreen();
    std::exit(0);
  });

  // 2-3. Session values from the environment and the settings files, then the
  // issuer details (kept in the suite's settings file under the root) and the
  // formatting settings, handed to the formatting library once.
  SetUpSession();
  const Language language = LanguageFromCode(Session.Language);
  SetRecordSettings({Session.RootDir, language});
  SetSpoolSettings({Session.TempDir, Session.ExeDir, language});
  LoadIssuerDetails();
  SetFormatSettings(LoadFormatSettings(Session.RootDir, Session.Language));
  ApplySessionScreenSettings();
  CatchEndSignals();

  // 4. The suite's root becomes the working directory.
  if (!Session.RootDir.empty()) {
    // A root that cannot be entered shows up as a missing form file below.
    [[maybe_unused]] int ignored = chdir(HostPath(Session.RootDir).c_str());
  }

  // 5. Form definitions, then the parameter form's defaults.
  const std::string formFile = FormDefinitionPath();
  int groupsRead = 0;
  if (LoadFormDefinitions(formFile, groupsRead) != FormsLoaded) {
    ReportFormFileFailure(formFile);
    return false;
  }
  // A damaged form the user could not leave is refused before it is shown.
  const std::string trap = TrappingFormText(LanguageFromCode(Session.Language), Cp858ForDisplay(formFile));
  if (!trap.empty()) {
    TellUserAndWait(12, trap);
    return false;
  }
  SetFieldValue(1, 1, DateToDisplay(Session.SessionDate));
  SetFieldValue(1, 2, "1");
  SetFieldValue(1, 3, "9999");
  SetFieldValue(1, 4, "1");
  SetFieldValue(1, 5, "999");

  // 6. The four data files, each with its record area.
  OpenDataFile(OwnerFileId, OwnerFileName, OwnerRecordSize);
  OpenDataFile(PropertyFileId, PropertyFileName, PropertyRecordSize);
  OpenDataFile(UnitFileId, UnitFileName, UnitRecordSize);
  OpenDataFile(CollectionFileId, CollectionFileName, CollectionRecordSize);

  // 7. Tax classes from the system-wide settings file.
  LoadTaxClasses();
  return true;
}

void ReleaseModule() {
  int16_t status = 0;
  ResetRecordFiles(status);
  RemoveScreenFiles();
  ReleaseScreen();
}

void EndModule() {
  ReleaseModule();
  std::exit(0);
}
