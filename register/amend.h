// Changing an issued invoice the only lawful ways: a corrective invoice (a
// new invoice of its own series that names the one it corrects) or, for an
// invoice issued by mistake and never delivered, a cancellation record.
// Both join the chain like any record; what an invoice has become is read
// from the records that name it (InvoiceStates).
//
// A cancellation also gives back the receipts the cancelled invoice settled
// (L to P), which live in another file: the step goes through a journal
// as the run's settling does (DADES\Retorn-<token>.jnl):
//   1. the journal is written: the cancellation record's token (its Archive
//      field) and the receipts' positions;
//   2. the cancellation record is appended (one transaction);
//   3. the receipts still L go back to P (one transaction);
//   4. the journal is removed.
// RecoverGiveBacks ends a journal left by a stopped process: step 3 again
// when the register holds the record of its token, else nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "register/register.h"

// What an invoice has become.
struct InvoiceState {
  enum class Kind { Issued, Cancelled, Corrected };
  Kind kind = Kind::Issued;
  int corrections = 0;         // corrective invoices that name it
  std::string lastCorrection;  // the last one's number as printed
  // Its amounts now: the invoice's, replaced by a substitution, moved by a
  // correction by differences. Cents.
  int32_t base = 0;
  int32_t vat = 0;
  int32_t withholding = 0;
  int32_t total = 0;
};

// An invoice's key: series and number.
using InvoiceKey = std::pair<std::string, int32_t>;

// The state of every invoice of a chain (given in chain order).
[[nodiscard]] std::map<InvoiceKey, InvoiceState> InvoiceStates(const std::vector<RegisterEntry>& chain);

// Why a correction or cancellation is refused.
enum class AmendRefusal {
  None,
  NotInRegister,      // no invoice of that number
  Cancelled,          // the invoice is cancelled already
  Corrected,          // cancel: a corrective invoice names it (correct it again instead)
  NothingChanges,     // correct: the amounts are the invoice's own now
  AmountOutOfRange,   // correct: an amount does not fit the register
  BadCause,           // correct: the described cause is longer than the agency takes or cannot be printed
};

// The rules for cancelling target (an invoice of chain, in chain order).
[[nodiscard]] AmendRefusal CheckCancellation(const std::vector<RegisterEntry>& chain, const RegisterEntry& target);

// The corrective invoice's cause (R1-R4) and form.
struct Correction {
  std::string type;   // "R1".."R4"
  char form = 'I';    // 'S' substitution, 'I' differences
  int64_t fees = 0;       // the corrected fee, cents
  int64_t expenses = 0;   // the corrected expenses, cents
  std::string cause;      // the cause as the user described it (UTF-8, at most 500 characters)
};

// "<letter><eight digits of number>-<YYMMDDhhmmss local now>": the stem
// of an archived run's files ('F', its first number), of a corrective
// invoice's ('R', its number: a run's first number may be the same in
// another series, in the same second) and a cancellation's token ('N', the
// cancelled number).
[[nodiscard]] std::string ArchiveStem(char letter, int32_t number);

// The journals (files "<prefix>*.jnl") of a folder (a host path ending in
// "/"), as host paths.
[[nodiscard]] std::vector<std::string> JournalsIn(const std::string& folderHostPath, const std::string& prefix);

// Euros as typed ("12", "12.5", "1234,56") in cents; false for anything
// else (a sign, thousands separators, more than two decimals, more than
// nine whole digits).
[[nodiscard]] bool ParseEuros(const std::string& text, int64_t& centsOut);

// Whether text is one of R1-R4.
[[nodiscard]] bool IsCorrectionType(const std::string& text);

// The longest cause a corrective's record takes, in characters (the
// agency's DescripcionOperacion).
inline constexpr size_t kCorrectionCauseLength = 500;

// Whether text (UTF-8) can be a correction's described cause: empty, or at
// most kCorrectionCauseLength characters, none a control character, each
// one the page can print (code page 850).
[[nodiscard]] bool IsCorrectionCause(const std::string& text);

// The entry of a corrective invoice of target, numbered number in series
// and dated date (YYYYMMDD), with correction's amounts: the corrected base
// is fees + expenses, VAT and withholding at target's rates. Substitution
// carries the corrected amounts and the base and VAT it replaces; by
// differences, the corrected amounts less target's present ones (signed).
// Refuses (out unchanged) as CheckCancellation does for a cancelled target,
// and when the corrected amounts equal the present ones or do not fit.
[[nodiscard]] AmendRefusal MakeCorrective(const std::vector<RegisterEntry>& chain, const RegisterEntry& target,
                                          const Correction& correction, const std::string& series, int32_t number,
                                          const std::string& date, RegisterEntry& out);

// The cancellation entry of target.
[[nodiscard]] RegisterEntry CancellationOf(const RegisterEntry& target);

// A side file's text made checkable: a last line "FI <length> <digest>"
// with the length of the text before it and its SHA-256 (hex). Unsealed
// gives that text back; false when the seal is missing or does not match.
[[nodiscard]] std::string SealedText(const std::string& text);
[[nodiscard]] bool UnsealedText(const std::string& sealed, std::string& textOut);

// The receipts file beside an archived run (<archive without .zsp>.rcb):
// the head line "KORVADEL REBUTS 2", a line per invoice page that settled
// receipts, "page<TAB>position,...", sealed. Earlier versions wrote the
// page lines alone, unsealed: such a file is read when every line is one.
[[nodiscard]] std::string ReceiptsFileName(const std::string& archive);
[[nodiscard]] std::string ReceiptsFileText(const std::vector<std::pair<int32_t, std::vector<int32_t>>>& pages);
enum class ReceiptsFileRead { Ok, Missing, Damaged };
// The receipts of page in the receipts file at hostPath. Missing: there is
// none (the run settled nothing); Damaged: something else than a regular
// file of that form is there (a folder, pipe, device, a link to one, an
// empty or altered file).
[[nodiscard]] ReceiptsFileRead ReadReceiptsFile(const std::string& hostPath, int32_t page,
                                                std::vector<int32_t>& receiptsOut);
// Receipt positions written comma-separated ("12,40,41"), appended to out;
// false on anything else.
[[nodiscard]] bool ParsePositions(const std::string& text, std::vector<int32_t>& out);
// The positions of page's receipts in such a text; empty when none.
[[nodiscard]] std::vector<int32_t> ReceiptsOfPage(const std::string& text, int32_t page);

// Sets the receipts at positions of the collection file at hostPath (the
// ".dat" file) that are in state from to state to, in one transaction; a
// receipt in any other state is left as it is. changedOut counts those
// changed. Status 0, or the record manager's (nothing changed then).
[[nodiscard]] int16_t SetReceiptsState(const std::string& hostPath, const std::vector<int32_t>& positions, char from,
                                       char to, int32_t& changedOut);

// Where a cancellation works: the data folder (ending in "/", for the
// journal), the collection file (host path of the ".dat") and the archive
// folder (ending in "/", for the receipts file of the cancelled invoice's
// run).
struct AmendPlaces {
  std::string dataFolder;
  std::string collectionFile;
  std::string archiveFolder;
};

// Cancels target: unfinished settlings and give-backs ended first, in that
// order (RecoverReceiptJournals), then journal, record (clock, waitLocked,
// makeXml and beforeCommit as for Append), receipts given back, journal
// removed. Status 0; RegisterRefused with refusal; RegisterJournalStatus
// (errno) when the journal cannot be written; RmFileLocked while a living
// run still settles target's receipts; RegisterSideFileDamaged, with the
// file in sideFileOut, for a receipts file or journal that cannot be read
// (nothing written then); or the record manager's. givenBackOut counts the receipts given
// back; a give-back that fails after the record was written leaves the
// journal for RecoverGiveBacks and returns its status with
// registeredOut true.
[[nodiscard]] int16_t CancelInvoice(InvoiceRegister& reg, const RegisterEntry& target, const AmendPlaces& places,
                                    const std::function<std::string()>& clock, RegisterRefusal& refusal,
                                    const std::function<bool()>& waitLocked, const RecordXmlMaker& makeXml,
                                    int32_t& givenBackOut, bool& registeredOut,
                                    const BeforeCommit& beforeCommit = {}, std::string* sideFileOut = nullptr);

// Ends every give-back journal of places.dataFolder that no living process
// holds. 0, or the status of the give-back that failed (its journal stays).
[[nodiscard]] int16_t RecoverGiveBacks(const AmendPlaces& places, InvoiceRegister& reg);
