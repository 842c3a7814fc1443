// zepfact mail: the register's invoices by e-mail (mail/sending.h).
//
//   zepfact mail [--run ARCHIVE | DATES] [--dry-run] [--again]
//   zepfact mail --status [--run ARCHIVE | DATES]
//
// --run ARCHIVE takes the invoices of one run (its archived spool file's
// name under ARXIU, "F00000001-261208193000.zsp"), DATES those of the
// invoice dates (--from, --to); without either, the invoices the send log
// holds as failed for a while are tried again. An invoice whose own PDF
// (ARXIU\<series>-<number>.pdf) is missing has it made first from its run's
// archived spool file by the print program. --dry-run tells what would be
// sent and sends and notes nothing; --again also sends to addresses that
// have had the invoice, or refused it, or whose sending is uncertain.
// --status lists each invoice's state at each address (all the register's
// invoices without a selection). Exit 0 when nothing failed; 1 when the
// sending could not start or some invoice failed.
#pragma once

#include <string>
#include <vector>

#include "base/language.h"
#include "register/record.h"
#include "suite/zepfact/exports.h"

struct MailCommandOptions {
  std::string run;       // --run: the archive's file name; empty for none
  Selection selection;   // --from/--to
  bool haveDates = false;
  bool dryRun = false;
  bool again = false;
  bool status = false;
};

// chain: the whole register in chain order. root: the suite's root (suite
// form, empty or ending in a separator). printProgram: the host path of
// ZEPPRINT, for invoices whose PDF is missing.
[[nodiscard]] int MailCommand(const MailCommandOptions& options, const std::vector<RegisterEntry>& chain,
                              const std::string& root, Language language, const std::string& printProgram);
