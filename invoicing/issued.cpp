#include "invoicing/issued.h"

#include <cmath>
#include <limits>

#include "base/text.h"

namespace {

// A whole number of cents (or hundredths of a percent) as int32, when it is one.
bool ToInt32(double value, int32_t& out) {
  if (!std::isfinite(value) || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  out = static_cast<int32_t>(std::nearbyint(value));
  return true;
}

}  // namespace

void RunTotals::Add(const IssuedInvoice& invoice) {
  if (count == 0) firstNumber = invoice.number;
  lastNumber = invoice.number;
  ++count;
  base += invoice.base;
  vat += invoice.vat;
  withholding += invoice.withholding;
  total += invoice.total;
}

std::string RegisterIssuerTaxId(const std::string& issuerItem7) {
  std::string id = Trim(issuerItem7);
  if (id.rfind("ES", 0) == 0) id = id.substr(2);
  std::string compact;
  for (char c : id) {
    if (c != ' ') compact += c;
  }
  return compact;
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
