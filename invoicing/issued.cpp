#include "invoicing/issued.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/text.h"

namespace {

// A number of cents (or hundredths of a percent), rounded to the nearest
// whole one, as int32 when the rounded value fits.
bool ToInt32(double value, int32_t& out) {
  const double rounded = std::nearbyint(value);
  if (!std::isfinite(rounded) || rounded < std::numeric_limits<int32_t>::min() ||
      rounded > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  out = static_cast<int32_t>(rounded);
  return true;
}

}  // namespace

void RunTotals::Add(const IssuedInvoice& invoice) {
  const std::string series = TrimRight(invoice.series);
  auto range = std::find_if(ranges.begin(), ranges.end(), [&](const SeriesRange& r) { return r.series == series; });
  if (range == ranges.end()) {
    ranges.push_back({series, invoice.number, invoice.number});
  } else {
    range->last = invoice.number;
  }
  ++count;
  base += invoice.base;
  vat += invoice.vat;
  withholding += invoice.withholding;
  total += invoice.total;
}

bool RegisterEntryOf(const IssuedInvoice& invoice, const std::string& issuerTaxId, RegisterEntry& entry) {
  entry = RegisterEntry{};
  entry.number = invoice.number;
  entry.series = TrimRight(invoice.series);
  entry.date = KeyDigits(invoice.invoiceDate);
  entry.ownerCode = invoice.ownerCode;
  entry.propertyCode = invoice.propertyCode;
  entry.taxClass = invoice.taxClass;
  entry.issuerTaxId = issuerTaxId;
  entry.recipientTaxId = Trim(invoice.recipientTaxId);
  entry.recipientName = Trim(invoice.recipientName);
  entry.page = invoice.page;
  return ToInt32(invoice.base, entry.base) && ToInt32(invoice.vat, entry.vat) &&
         ToInt32(invoice.withholding, entry.withholding) && ToInt32(invoice.total, entry.total) &&
         ToInt32(static_cast<double>(invoice.vatRate) * 100, entry.vatRate) &&
         ToInt32(static_cast<double>(invoice.withholdingRate) * 100, entry.withholdingRate);
}
