// One production pass of the fee-invoice run: for every link between an
// owner of the range and a property of the range, the fee invoice (fee on
// the collected base plus fixed fee, expenses, VAT, withholding), written as
// one page of the open print spool file. Reads the four data files through
// the record-file layer; writes nothing back. No terminal code lives here.
#pragma once

#include <array>
#include <set>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "invoicing/issued.h"

// The parameters of one pass, taken from the parameter form.
struct InvoiceParameters {
  std::string InvoiceDate;    // stored date, 4 bytes; the third byte is the month
  std::string FromOwner;      // packed owner codes, 2 bytes each
  std::string ToOwner;
  std::string FromProperty;   // packed property codes, 2 bytes each
  std::string ToProperty;
  int32_t NextInvoiceNumber = 1;  // number of the next page; raised by one per page
  // With the invoice register each series is numbered on its own: a page of
  // tax class c prints SeriesNumbers[SeriesOfClass[c]] and raises it by one
  // (two classes of one series share a slot). Off, every page prints
  // NextInvoiceNumber, whatever its series.
  bool NumberBySeries = false;
  std::array<int32_t, 2> SeriesNumbers{1, 1};
  std::array<int, 2> SeriesOfClass{0, 1};
  // With it, each property's first invoice carries the positions of the
  // receipts its collected base was summed from (IssuedInvoice::receipts).
  bool CollectReceipts = false;
  // With it, an owner whose tax id names no recipient a record can take
  // (ClassifyRecipientTaxId: NotIdentifiable) gets no page and no number:
  // the owner is added to LeftOut (code and name as the form shows them)
  // once, and the pass goes on. Its receipts stay unbilled.
  bool LeaveOutUnidentified = false;
  std::vector<std::pair<std::string, std::string>> LeftOut;
  // The currency letter the pages' amounts are in ("P" pesetas, any other
  // euros; see FormatAmount); empty: the active currency context's.
  std::string Currency;
  // Links the pass leaves out: the packed owner code followed by the
  // packed property code (4 bytes), as a link already billed for the
  // period is left out of a registered run.
  std::set<std::string> LeaveOut;
};

// Builds the parameters from the six texts of the parameter form (fixed-width,
// blank-padded as the form keeps them):
//   date        StoredDateFromText (the empty date when unreadable)
//   owners      CodeFromText of the text
//   properties  CodeFromText of "0" + the text ("  5" packs as "0005")
//   (a code text shorter than its field, 4 owner digits or 3 property
//   digits, is blank-padded to it first, so "12" is owner 0012)
//   number      the decimal number at the start of the text, rounded half to
//               even and held to the 32-bit range; 0 (also an empty text)
//               becomes 1.
InvoiceParameters InvoiceParametersFromTexts(const std::string& dateText,
                                             const std::string& fromOwnerText,
                                             const std::string& toOwnerText,
                                             const std::string& fromPropertyText,
                                             const std::string& toPropertyText,
                                             const std::string& numberText);

// The four process-wide record areas (owners 324 bytes, properties 204,
// units 448, collections 44 bytes) that the data files are opened with and
// that the pass reads its fields from. They live as long as the process.
// Returns nullptr for any file id other than 505, 506, 507 and 509.
uint8_t* ModuleRecordArea(int16_t fileId);

// Status of a pass.
inline constexpr int16_t ProductionDone = 0;
// The spool writer failed (the file could not be created or written): the
// pass stopped at the page on which the failure showed. PrintFileStatus()
// and PrintFilePath() (printing/spool.h) tell what and where.
inline constexpr int16_t ProductionSpoolFailed = 1;
// A data file answered a read with a status other than the end of its data
// (4 not found, 9 end of file), e.g. a damaged file: the pass stopped at
// once, and the pages written so far must not be printed (they would bill
// from part of the data without a word). RecordFailure tells which file.
inline constexpr int16_t ProductionRecordFailed = 2;

// The read that stopped a pass with ProductionRecordFailed.
struct RecordFailure {
  int16_t fileId = 0;
  std::string fileName;  // suite path, e.g. "DADES\\CobramV"
  int16_t status = 0;
};

// Called once per page written, after the page, with its figures.
using IssuedSink = std::function<void(const IssuedInvoice&)>;

// Runs one pass over the owner range.
// Pre: the four data files are open under 505, 506, 507 and 509 with the
// record areas of ModuleRecordArea; the spool file is open; parameters.Currency
// or the active currency context says the amounts' currency; TaxClasses and
// IssuerDetails are loaded.
// Reads each owner of the range once, each linked property of the range
// once per link, and each unit's receipts from the start of its key range up
// to the invoice date. The end of the data (status 4 or 9) ends the loop it
// belongs to (owners: the pass ends; units and receipts: the invoice is
// computed from what was summed; property: the link is skipped); any other
// nonzero status stops the pass (ProductionRecordFailed, failureOut filled
// when given). A link whose tax class is neither 0 nor 1 gives no invoice.
// parameters.NextInvoiceNumber is raised by one per page written (the 32-bit
// counter wraps rather than overflows). issued, when set, gets each page's
// figures (page counted from 1 in this pass); the spool is the same with or
// without it.
// Returns ProductionDone, ProductionSpoolFailed when the spool writer
// reported a failure, or ProductionRecordFailed (the pass stops at once).
[[nodiscard]] int16_t ProduceInvoices(InvoiceParameters& parameters, const IssuedSink& issued = {},
                                      RecordFailure* failureOut = nullptr);

// Which of tax classes 0 and 1 the links of parameters' owner and property
// ranges have (usedOut[c]): the series a pass over them may number. Reads
// the owners of the range only (the properties' own rules, period and
// cut-off, are the pass's). Status 0, or the owner file's read status
// other than the end of the data.
// Pre: as for ProduceInvoices, the owner file open.
[[nodiscard]] int16_t TaxClassesInRange(const InvoiceParameters& parameters, std::array<bool, 2>& usedOut);

// The amounts of one invoice, computed from the collected base, the
// property's fee data and the tax class. Whole numbers held as doubles.
struct InvoiceAmounts {
  double Fees = 0;
  double Expenses = 0;
  double TaxableBase = 0;
  double Vat = 0;
  double Withholding = 0;
  double Total = 0;
};

// Rounds to the nearest whole number, an exact half to the even neighbour.
double RoundHalfEven(double value);

// The amounts rule: fee percentage of the collected base (rounded) plus the
// fixed fee; expenses only when there is a fee; the expenses join the taxable
// base only when expenseVatRate is not 0; VAT and, when applyWithholding,
// withholding on the taxable base (rounded); total = VAT + base - withholding.
// The products are formed in double precision from the single-precision rates.
InvoiceAmounts ComputeInvoiceAmounts(double collectedBase, float feePercent, int32_t fixedFee,
                                     int32_t expenseAmount, float feeVatRate, float expenseVatRate,
                                     float withholdingRate, bool applyWithholding);

// The withholding rule: the issuer is a natural person (its tax number
// begins "ES" and its third character is below "A" or above "W") and the
// owner is a legal entity (the owner's tax number begins "ES" and its third
// character lies from "A" to "W").
bool WithholdingApplies(const std::string& issuerTaxNumber, const std::string& ownerTaxId);
