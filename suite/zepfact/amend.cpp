// zepfact's amendments of an issued invoice:
//
// cancel NUMBER registers the cancellation of an invoice issued by mistake
// and never delivered, and gives the receipts it settled back to P (paid,
// not billed), both or neither (register/amend.h).
//
// correct NUMBER --type R1..R4 --by S|I --fee AMOUNT [--expenses AMOUNT]
// [--cause TEXT] [--output FILE] registers a corrective invoice of the
// invoice: the next number of the series [Registre] SerieRectificativa of
// Tarn.ini (RE), dated today, cause R1-R4 (as before, "--cause R1..R4"
// alone also names it), by substitution (S: the whole corrected invoice)
// or by differences (I: only the change), with the corrected fee and
// expenses (AMOUNT: euros, "." or "," before at most two decimals; expenses
// 0 when not given), and the cause described in TEXT (at most 500
// characters: the record's description of the operation, and on the page).
// Its page is the corrected invoice's page made the corrective's, archived
// as its own run (ARXIU\) and printed as reprint
// prints.
//
// Both are the register's own actions (issuing/actions.h), as the module's
// register screen makes them; here only their words. Both refuse, writing
// and printing nothing: an unknown number, a cancelled invoice, (cancel) an
// invoice a corrective invoice names, (correct) amounts that change
// nothing, and a register another process holds. With [VeriFactu]
// Mode=conserva they sign their records as the module's runs do and log the
// register's new tail; a certificate that cannot sign, or a register
// shorter or older than the log says, refuses them before anything is
// written or printed. Exit codes: 0 done; 1 a
// refusal, a record that cannot be signed, or a cause, form or amount that
// cannot be taken.
#include <string>
#include <vector>

#include "issuing/actions.h"
#include "issuing/context.h"
#include "issuing/words.h"
#include "register/agency.h"
#include "suite/zepfact/program.h"

void Program::Told(const IssuingProblem& problem) const { Say(stderr, IssuingProblemText(problem, language_)); }

// The register, open for writing, and the invoice the command names in it;
// false after saying why not.
bool Program::Amendable(std::vector<RegisterEntry>& chainOut, RegisterEntry& targetOut) {
  if (!Read(chainOut, false, true)) return false;
  const RegisterEntry* found = FindInvoice(chainOut);
  if (found != nullptr) targetOut = *found;
  return found != nullptr;
}

int Program::Cancel() {
  std::vector<RegisterEntry> chain;
  RegisterEntry target;
  if (!Amendable(chain, target)) return kExitTrouble;
  IssuingContext context(root_, ProgramFolder());
  const CancelResult done = ::Cancel(context, register_, chain, target);
  if (!done.problem.None()) {
    Told(done.problem);
    return kExitTrouble;
  }
  Say(stdout, FactText(FactMessage::Cancelled, language_, PrintedInvoiceNumber(target.series, target.number),
                       done.givenBack));
  if (!done.sending.None()) Told(done.sending);
  return 0;
}

int Program::Correct() {
  std::vector<RegisterEntry> chain;
  RegisterEntry target;
  if (!Amendable(chain, target)) return kExitTrouble;
  IssuingContext context(root_, ProgramFolder());
  const CorrectResult done = ::Correct(context, register_, chain, target, options_.correction, language_);
  if (done.problem.None()) {
    Say(stdout, FactText(FactMessage::CorrectiveRegistered, language_,
                         PrintedInvoiceNumber(done.corrective.series, done.corrective.number)));
    if (!done.sending.None()) Told(done.sending);
    return Print(done.print, Device(done.corrective));
  }
  Told(done.problem);
  return kExitTrouble;
}
