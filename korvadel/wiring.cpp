// The hooks through which lower layers reach the screen and the module's
// rules, all connected here, once, at start-up. One line each:
//
//   hook                          set by          connects
//   RecordHooks()                 record layer    its messages, beep, key wait
//                                                 and end of the program to the
//                                                 console and the start-up's
//                                                 shutdown
//   Hooks() (HubHooks)            form runner,    the module's rules of the
//                                 pick list       parameter form and of the
//                                                 owner and property lists
//                                                 (invoicing/form_rules)
//   SetCalculatorHook,            keyboard        Alt+X and Alt+C to the
//   SetCalendarHook                               calculator and calendar
//                                                 (tools/setup)
//   SetIdleHook                   keyboard        before a long key wait, the
//                                                 record manager lets go of its
//                                                 read snapshots, so other
//                                                 programs' write-ahead logs can
//                                                 be emptied while the user
//                                                 thinks
//   FeeInvoiceRunHooks()          the run         form and print program: the
//                                                 run's own defaults, replaced
//                                                 only by tests; F7 on the form
//                                                 to the register screen, which
//                                                 prints through the run's print
//                                                 program
#include "korvadel/wiring.h"

#include <string>

#include "console/keyboard.h"
#include "console/screen.h"
#include "console/tell.h"
#include "invoicing/form_rules.h"
#include "invoicing/register_screen.h"
#include "invoicing/run.h"
#include "recman/recman.h"
#include "records/report.h"
#include "screens/hub.h"
#include "tools/setup.h"

namespace {

// Whether the record layer's message window is open (it may not fit), and
// the message it shows.
bool RecordMessageOpen = false;
int RecordMessageRow = 12;
std::string RecordMessageText;

// The record layer's messages and its end of the program, on the console.
void ConnectRecordHooks(const std::function<void()>& endProgram) {
  RecordFileHooks& h = RecordHooks();
  h.ShowMessage = [](int row, const std::string& text) {
    std::string shown = text;
    RecordMessageOpen = ShowMessageWindow(row, shown) == 0;
    RecordMessageRow = row;
    RecordMessageText = text;
  };
  h.CloseMessage = [] {
    if (RecordMessageOpen) PopWindow();
    RecordMessageOpen = false;
    RecordMessageText.clear();
  };
  h.Beep = [] { Beep(); };
  h.DiscardKeys = [] { DiscardPendingKeys(); };
  // A message that could not have its window is told the one way every
  // layer tells the user, straight on the screen, while the key is awaited.
  h.WaitKey = [] {
    if (!RecordMessageOpen && !RecordMessageText.empty()) {
      TellUserAndWait(RecordMessageRow, RecordMessageText);
    } else {
      WaitForKey();
    }
    RecordMessageText.clear();
  };
  // The module keeps no ordinary file open between operations.
  h.CloseFiles = [] {};
  // The layer has already reset the record manager when it ends the program.
  h.EndProgram = endProgram;
}

}  // namespace

void WireHooks(const std::function<void()>& endProgram) {
  ConnectRecordHooks(endProgram);
  ConnectFormRules(Hooks());
  FeeInvoiceRunHooks().openRegister = [] { RegisterScreen(FeeInvoiceRunHooks().runPrintProgram); };
  InstallHotKeyTools();
  SetIdleHook(RecordManagerIdle);
}
