// The register's actions outside a run, written once for the module's
// register screen and zepfact: a copy of an invoice, its cancellation and
// its corrective invoice. Each returns what happened (done, refused with a
// reason, or not written with a status) and the page to print; it never
// tells the user, whose program words the problem (issuing/words.h) and
// prints the page (issuing/print_job.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "issuing/context.h"
#include "issuing/problem.h"
#include "register/amend.h"
#include "register/register.h"

// A page to print with its side files: the spool text of one page (its
// DEVICE line as archived), its code line and its figures, both for page 1.
struct PrintablePage {
  std::string page;
  std::string codes;
  std::string figures;
};

// The archived page of entry (ARXIU\<archive>, its .qr and .fig beside it),
// made page 1 of its own.
[[nodiscard]] IssuingProblem ReadArchivedPage(const std::string& root, const RegisterEntry& entry, PrintablePage& out);

// The archived page of entry with the copy mark across it, in language.
[[nodiscard]] IssuingProblem CopyOf(const std::string& root, const RegisterEntry& entry, Language language,
                                    PrintablePage& out);

// Whether target may be cancelled now, before the user is asked.
[[nodiscard]] IssuingProblem CheckCancel(IssuingContext& context, InvoiceRegister& reg,
                                         const std::vector<RegisterEntry>& chain, const RegisterEntry& target);

struct CancelResult {
  IssuingProblem problem;   // None, or why nothing was written (ReceiptsNotGivenBack: the record was)
  bool registered = false;
  int32_t givenBack = 0;    // receipts given back to P
  IssuingProblem sending;   // None, or why the registered record did not start on its way to the agency
};

// Registers the cancellation of target (a cancellation stopped part-way is
// ended first) and gives its receipts back.
[[nodiscard]] CancelResult Cancel(IssuingContext& context, InvoiceRegister& reg,
                                  const std::vector<RegisterEntry>& chain, const RegisterEntry& target);

// Whether target may be corrected now, before the user types the correction.
// Whether the agency takes the invoice's recipient in a corrective of type
// (R1-R4): refused before anything is written, with the reason.
[[nodiscard]] IssuingProblem CheckCorrectiveRecipient(const RegisterEntry& target, const std::string& type);
[[nodiscard]] IssuingProblem CheckCorrect(IssuingContext& context, InvoiceRegister& reg,
                                          const std::vector<RegisterEntry>& chain, const RegisterEntry& target);

struct CorrectResult {
  IssuingProblem problem;
  RegisterEntry corrective;  // as registered
  PrintablePage print;       // its page, archived as a run of its own
  IssuingProblem sending;    // None, or why the registered record did not start on its way to the agency
};

// Registers the corrective invoice of target for correction (the next
// number of [Registre] SerieRectificativa, dated today), archives its page
// (texts in language) and gives it back to print.
[[nodiscard]] CorrectResult Correct(IssuingContext& context, InvoiceRegister& reg,
                                    const std::vector<RegisterEntry>& chain, const RegisterEntry& target,
                                    const Correction& correction, Language language);
