// The figures of a pass's invoices for the print program: the file
// "zepprint.fig" beside the spool file, from which the stationery's invoice
// placeholders are filled on each page (the totals block, the period billed,
// the due date). The spool file itself stays as the module has always
// written it.
//
// File: UTF-8, one line per value: the page number (from 1), a tab, the
// placeholder's name, a tab, its text. A value that does not apply to an
// invoice (no withholding, no expenses line, no due date) is left out.
// Names and texts:
//   Numero         the invoice number as printed ("A/00000012")
//   Idioma         the language the page is printed in (CAT, SPA, GLG, OCI),
//                  for its stationery when it is printed again
//   Data           the date of issue, in words ("31 de maig de 2024")
//   Venciment      the due date (date of issue + Tarn.ini [Emissor] Venciment days)
//   Periode        the months billed ("octubre - desembre 2026")
//   Base           the taxable base
//   TipusIva, Iva  the VAT rate ("21,00 %") and amount
//   TipusRetencio, Retencio  the withholding rate and amount, the amount as
//                  a deduction (negated, as Base + Iva + Retencio = Total)
//   TotalFactura   with a withholding: the invoice's total before it (Base
//                  + Iva, the amount the agency's record has), with the currency
//   Suplerts       the expenses billed in the base
//   PercentHonoraris, BaseCobrada, HonorariFix, Honoraris  the fee's working:
//                  the percentage of the collected base plus the fixed part
//                  gives the fees (left out when the invoice bills no fee)
//   Total          the amount payable with the currency ("121,14 EUR")
// Amounts as the invoice's lines print them (the session's decimal and
// thousands characters; a negative amount ends in "-").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "invoicing/issued.h"

// The days from the date of issue to the due date, from Tarn.ini [Emissor]
// of the suite root rootDir (the suite's path form).
struct PaymentTerms {
  bool hasDueDays = false;  // Venciment= is set
  int32_t dueDays = 0;
  std::string problem;      // what is wrong with IBAN= or Venciment=, for the user; empty when nothing
  // The owners whose fees are collected by direct debit (a sound mandate
  // in DADES\MandatV): by packed owner code, the account charged, masked,
  // and the mandate's reference, as the payment box shows them.
  std::map<std::string, std::string> directDebits;
};

// Reads IBAN= (checked by its control digits) and Venciment= (whole days,
// 0 to 999) of [Emissor], an empty key not set, and the owners' mandates.
[[nodiscard]] PaymentTerms LoadPaymentTerms(const std::string& rootDir);

// The months first..last (year * 12 + month - 1) in words in the session's
// language: "octubre 2026", "octubre - desembre 2026", "novembre 2025 -
// gener 2026". Code page 850.
[[nodiscard]] std::string PeriodText(int32_t first, int32_t last);

// The figures file's content for the invoices of one pass, the amounts in
// currency, the letter the pass printed in (InvoiceParameters::Currency;
// empty: the active currency context's).
[[nodiscard]] std::string InvoiceFigures(const std::vector<IssuedInvoice>& issued, const PaymentTerms& terms,
                                         const std::string& currency = std::string());
