// A fee invoice as the register keeps it, for the tests that fill a
// register or read one: issued by 12345678Z to an identified owner
// (ES40312876V, Montserrat Puig Serrat) for the first property, at 21 % VAT
// less a withholding of withholdingRate hundredths of a percent. A test
// changes the fields its case is about.
#pragma once

#include <cstdint>
#include <string>

#include "register/record.h"

inline RegisterEntry FeeInvoiceEntry(const std::string& series, int32_t number, const std::string& date, int32_t base,
                                     int32_t withholdingRate = 0) {
  RegisterEntry e;
  e.series = series;
  e.number = number;
  e.date = date;
  e.ownerCode = "\x80\x81";
  e.propertyCode = "\x80\x83";
  e.issuerTaxId = "12345678Z";
  e.recipientTaxId = "ES40312876V";
  e.recipientName = "Montserrat Puig Serrat";
  e.base = base;
  e.vatRate = 2100;
  e.vat = base * 21 / 100;
  e.withholdingRate = withholdingRate;
  e.withholding = base * withholdingRate / 10000;
  e.total = e.base + e.vat - e.withholding;
  return e;
}
