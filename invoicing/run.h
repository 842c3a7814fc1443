// The fee-invoice run: the parameter form, one production pass per accepted
// form into the print spool file, and the hand-over to the print program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/child.h"

// Runs until the user leaves the parameter form (form 1) with Esc.
// Per accepted form: opens the spool file on Session.OutputDevice, switches
// to the alternate currency context, builds the parameters from the six
// values of form 1 and runs ProduceInvoices, switches the currency back and
// closes the spool file. When the spool file could not be created or
// written, the pass stops, a message window in the session language names
// the file and waits for a key, and the print program is not started. When
// the pass wrote no page (no link of the ranges gives an invoice), a message
// window says so and waits for a key, and the print program is not started
// either. Otherwise the print program runs (terminal handed back meanwhile)
// and is waited for; when it could not start, ended with a status other
// than 0 or was ended by a signal, a message window in the session language
// names the program and how it ended, and waits for a key. The form then comes back with the values it last held.
// Pre: the form tables, tax classes, issuer details and the four data files
// are loaded/open as the main flow leaves them.
void FeeInvoiceRun();

// The seams FeeInvoiceRun goes through; tests replace them.
struct RunHooks {
  // Shows form 1 and returns the key that ended it (RunForm by default).
  std::function<int16_t()> runForm;
  // Starts the print program and waits for it; how it ended (by default
  // RunPrintProgram, with the terminal handed back meanwhile).
  std::function<ChildEnd()> runPrintProgram;
};
RunHooks& FeeInvoiceRunHooks();
