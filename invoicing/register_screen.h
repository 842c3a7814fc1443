// The register screen: the issued invoices, newest first, over the whole
// screen, opened from the parameter form with F7 when the register is on.
//
// The list shows each invoice's number as printed, date, owner and property
// codes, recipient, total and state (issued, cancelled, corrected by the
// last corrective's number). Up, Down, PgUp, PgDn, Home and End move;
// typing digits, letters or "/" jumps to the first invoice whose number (as
// printed, or the number alone) or owner code is what was typed (Backspace
// takes a character back); F1 explains the screen; Enter opens the
// invoice's detail (every registered field, the fingerprints, the archive it
// was printed from), where C prints a copy marked as one, R makes a
// corrective invoice (form 3: cause, form, corrected fee and expenses) and
// A cancels it after two confirmations; Esc goes back, from the list to the
// parameter form.
//
// The detail is one record of the register's chain at a time: PgDn and
// PgUp step to the next and the previous record by sequence (cancellation
// and correction records too, which the list does not show), Home and End
// to the first and the last. Each record shows whether its time is not
// before the previous record's, whether its fingerprint (and seal) are the
// ones its data give, whether its previous fingerprint is the previous
// record's and, with Mode=conserva, whether its kept signature is valid: OK
// or a fault, the fault in the messages' colour. One record is checked per
// key (CheckOneRecord), never the whole chain.
//
// A copy and a corrective invoice are printed as a run's pages are: the
// page goes into the session's spool file with the session's output device
// and the print program runs (through runPrintProgram). Refusals (a cancelled
// invoice, one a corrective names, amounts that change nothing or do not
// parse, a register another process holds) are told, and nothing is
// written or printed.
#pragma once

#include "invoicing/print_program.h"

// Runs the screen until the user leaves it with Esc; a page it prints goes
// to the print program through runPrintProgram (the program gives the
// run's, RunHooks::runPrintProgram).
// Pre: the session and the form tables are loaded, as for FeeInvoiceRun.
void RegisterScreen(const PrintProgramStarter& runPrintProgram = StartPrintProgram);
