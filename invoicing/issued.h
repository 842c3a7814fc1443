// What one production pass issued: each invoice's figures as the pass printed
// them, their sums for the summary after the run, and the register entry of
// each. The pass hands the figures over and knows nothing of the register.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "register/register.h"

struct IssuedInvoice {
  int32_t number = 0;
  std::string series;          // right-trimmed; empty prints the number alone
  std::string invoiceDate;     // stored date, 4 bytes
  std::string ownerCode;       // packed, 2 bytes
  std::string propertyCode;    // packed, 2 bytes
  int16_t taxClass = 0;
  std::string recipientTaxId;  // the owner's, right-trimmed
  std::string recipientName;   // as printed
  double base = 0;             // cents, whole numbers
  double vat = 0;
  double withholding = 0;
  double total = 0;
  float vatRate = 0;           // percent
  float withholdingRate = 0;   // percent; 0 when no withholding was made
  double expenses = 0;         // cents, as the page's expenses line shows them; 0 without one
  // The fee's working, for the owner to check it: fees = feePercent % of
  // collectedBase (rounded) + fixedFee. Cents, percent.
  double fees = 0;
  double collectedBase = 0;
  float feePercent = 0;
  double fixedFee = 0;
  // The period billed, as months counted year * 12 + month - 1: the
  // property's billing period ending in the invoice's month, reaching back
  // to the month of the earliest receipt counted when the pass collects
  // the receipts it bills (InvoiceParameters::CollectReceipts).
  int32_t periodFirst = 0;
  int32_t periodLast = 0;
  int32_t page = 0;            // the page of the spool file, from 1
  // With InvoiceParameters::CollectReceipts, on the first invoice of its
  // property: the positions in the collection file of the receipts summed
  // into the property's collected base.
  std::vector<int32_t> receipts;
};

// The first and the last number a run printed in one series.
struct SeriesRange {
  std::string series;  // right-trimmed; empty for the numbers without series
  int32_t first = 0;
  int32_t last = 0;
};

// The sums of a run, gathered as the pass prints.
struct RunTotals {
  int32_t count = 0;
  std::vector<SeriesRange> ranges;  // one per series, in the order each first came
  double base = 0;
  double vat = 0;
  double withholding = 0;
  double total = 0;

  void Add(const IssuedInvoice& invoice);
};

// The register entry of an issued invoice; issuerTaxId is the NIF as
// CheckNif makes it. False when an amount does not fit the register's 32-bit
// cents once rounded (nothing may then be registered).
[[nodiscard]] bool RegisterEntryOf(const IssuedInvoice& invoice, const std::string& issuerTaxId,
                                   RegisterEntry& entry);
