// zepfact remittance: the register's invoices collected by SEPA direct
// debit (collection/remittance.h), and what the bank answers.
//
//   zepfact remittance [--run ARCHIVE | DATES] [--collection-date DATE]
//                      --output FILE [--again]
//   zepfact remittance returns FILE
//
// The first form writes one pain.008.001.02 file of the invoices of one run
// (--run: its archived spool file's name under ARXIU) or of the invoice
// dates (--from, --to), without either of every invoice not yet remitted,
// for the owners with a mandate in DADES\MandatV. The collection date is
// the earliest the schemes' lead time allows unless given; a date sooner
// than that, or not a TARGET2 business day, is refused. The invoices left
// out are listed with the reason. The file goes through the durable writer
// and its invoices are noted in DADES\Remeses.log as one step (both or
// neither), so that no invoice is remitted twice unless --again asks for
// it.
//
// returns FILE reads the bank's pain.002 status report or camt.054
// notification and notes each invoice it names as collected, rejected or
// returned (with the bank's reason); a rejected or returned invoice goes in
// the next remittance. A file that is no such report, or that names a debit
// no remittance holds, marks nothing.
//
// Exit codes: 0 done (also when nothing was to be collected); 1 a setting,
// date, file or name that cannot be used, or a write that failed: then
// nothing was written or marked.
#pragma once

#include <map>
#include <string>

#include "base/language.h"
#include "register/amend.h"
#include "suite/zepfact/exports.h"

struct RemittanceOptions {
  bool returns = false;        // remittance returns FILE
  std::string file;            // returns' FILE, host path
  std::string run;             // --run: the archive's file name
  std::string output;          // --output, host path as given
  std::string collectionDate;  // --collection-date, YYYYMMDD; empty: the earliest allowed
  bool again = false;
};

// The list's line under each invoice that has a collection state: its
// state and date or the bank's reason, by invoice (root: suite form).
[[nodiscard]] std::map<InvoiceKey, std::string> CollectionListLines(const std::string& root, Language language);
