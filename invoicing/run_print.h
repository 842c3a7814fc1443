// The end of a fee-invoice pass: its spool file handed to the print
// program (a registered run's again from its archive when that failed and
// the user asks), what the user is told of how it went, the summary of the
// run, and the offer to send a registered run's invoices by e-mail.
#pragma once

#include <string>
#include <vector>

#include "invoicing/issued.h"
#include "invoicing/print_program.h"
#include "register/register.h"

// What a pass made, for its printing and summary.
struct PrintedPass {
  const RunTotals& totals;
  const std::vector<IssuedInvoice>& issued;
  const std::vector<RegisterEntry>& registered;  // empty when the register is off
  std::string archiveName;                       // of a registered pass; empty otherwise
  bool registerActive = false;
  std::string currency;  // the currency letter the pages' amounts are in (CurrencyOf)
};

// Runs the print program through runPrintProgram and tells the user how it
// went: stopped with Esc or failed (a registered run's invoices are issued
// all the same: the user may print the whole run again from its archive,
// now, as often as it fails or is stopped, or later with zepfact reprint
// --run, which the message names); or, when it ended well, the
// summary: the count, each series' first and last number on a line of its
// own, the sums with their amounts right-aligned in one column, the sending
// mode's backlog, and where the output went (the file zepprint.out beside
// the spool names, else the session's output device); before it, the
// e-mail offer's outcome of a registered run with e-mail on, and, with the
// register on and a .txt output device, that a text file cannot carry the
// tax code's picture.
void PrintPass(const PrintProgramStarter& runPrintProgram, const PrintedPass& pass);

