// The fee-invoice run: the parameter form, one production pass per accepted
// form into the print spool file, and the hand-over to the print program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "invoicing/print_program.h"

// Runs until the user leaves the parameter form (form 1) with Esc.
// Per accepted form: opens the spool file on Session.OutputDevice, builds
// the parameters from the six values of form 1 with the amounts in the
// alternate currency context's currency (CurrencyOf("p"), which the summary
// and the figures file use too), runs ProduceInvoices and closes the spool
// file. When the spool file could not be created or
// written, the pass stops, a message window in the session language names
// the file and waits for a key, and the print program is not started. When
// the pass wrote no page (no link of the ranges gives an invoice), a message
// window says so and waits for a key, and the print program is not started
// either. Otherwise the print program runs (terminal handed back meanwhile)
// and is waited for; when it could not start, ended with a status other
// than 0 or was ended by a signal, a message window in the session language
// names the program and how it ended, and waits for a key; when it ended
// with status 0, a summary in the session language (count, the first and
// last number of each series, sums of bases, VAT, withholding and totals
// right-aligned in one column, and where the output went: the file the
// print program named in zepprint.out beside the spool file, else the
// output device) waits for a key. A data file that fails a
// read (not the end of its data) stops the pass: a message names the file
// and the status, and nothing is printed.
//
// With the invoice register on (Tarn.ini [Registre] Actiu=S, see
// LoadRegisterSettings), also: a register whose chain is broken is reported
// once when the run starts (invoicing goes on); the form's number field is
// set to the register's highest number + 1 before each showing (when the
// register holds records); and before the print program starts, the spool
// file is copied to ARXIU\ under a new name, the agency's code of each
// invoice written as zepprint.qr beside the spool (and copied beside the
// archive copy as .qr), and the pass's invoices added to the register in
// one transaction (another process holding it is waited out with the
// record layer's lock message on the screen, up to a
// minute). When any of that fails, or a number of the pass is already in
// the register (the message names it and the next free number), nothing is
// printed and nothing is left behind. Without the register nothing of this
// happens and no file besides the spool is written.
// F7 on the form opens the register screen (RunHooks::openRegister) when the
// register is on, and says the register is off otherwise.
// The form then comes back with the values it last held.
// Pre: the form tables, tax classes, issuer details and the four data files
// are loaded/open as the main flow leaves them.
void FeeInvoiceRun();

// The seams FeeInvoiceRun goes through: tests replace the form and the
// print program, the program connects the register screen.
struct RunHooks {
  // Shows form 1 and returns the key that ended it (RunParameterForm by
  // default: RunForm with the sending mode's backlog line under it).
  std::function<int16_t()> runForm;
  // Starts the print program and waits for it; how it ended (by default
  // StartPrintProgram, with the terminal handed back meanwhile).
  PrintProgramStarter runPrintProgram;
  // The register screen F7 opens from the parameter form when the register
  // is on; the program connects it at start-up (korvadel/wiring.cpp).
  // Unset, F7 with the register on brings the form back at once.
  std::function<void()> openRegister;
};
RunHooks& FeeInvoiceRunHooks();
