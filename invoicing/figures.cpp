#include "invoicing/figures.h"

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/iban.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "collection/mandates.h"
#include "formatting/dates.h"
#include "formatting/picture.h"
#include "invoicing/messages.h"
#include "records/layouts.h"
#include "register/agency.h"
#include "session/session.h"

namespace {

const char* const AmountSpec = "Z,ZZZ,ZZZ,ZZ9-";
const char* const RatePicture = "Z9.99 %";

std::string Amount(double cents, const std::string& currency) {
  return Trim(FormatAmount(AmountSpec, cents, currency));
}

std::string Rate(float rate) { return TrimLeft(FormatPicture(RatePicture, rate)); }

std::string Digits(int value, size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

// The stored date of the first day of a month counted year * 12 + month - 1.
std::string FirstOfMonth(int32_t month) {
  return CodeFromText(Digits(month / 12, 4) + Digits(month % 12 + 1, 2) + "01");
}

// A stored date moved on by days; the stored date itself when it is not a
// date.
std::string DaysLater(const std::string& storedDate, int32_t days) {
  const std::string iso = FormatDate(storedDate, -1, "DMA");  // YYYY-MM-DD
  const std::string later =
      iso.size() == 10 ? DaysAfter(iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2), days) : std::string();
  return later.empty() ? storedDate : CodeFromText(later);
}

std::string RunText(RunMessage id) { return kRunTexts.Text(id, LanguageFromCode(Session.Language)); }

}  // namespace

PaymentTerms LoadPaymentTerms(const std::string& rootDir) {
  PaymentTerms terms;
  std::map<std::string, Mandate> mandates;
  if (ReadMandates(HostPath(rootDir + MandateFileName), mandates) == 0)
    for (const auto& [owner, mandate] : mandates)
      if (mandate.fault == MandateFault::None)
        terms.directDebits[owner] =
            MaskedIban(mandate.iban) + "  " + RunText(RunMessage::MandateLabel) + " " + mandate.reference;
  const std::string tarn = HostPath(rootDir + "Tarn.ini");
  const std::string iban = Trim(IniRead(tarn, "Emissor", "IBAN"));
  if (!iban.empty() && !IsValidIban(iban)) {
    terms.problem = RunText(RunMessage::IbanInvalid) + iban;
    return terms;
  }
  const std::string days = Trim(IniRead(tarn, "Emissor", "Venciment"));
  if (days.empty()) return terms;
  if (days.size() > 3 || days.find_first_not_of("0123456789") != std::string::npos) {
    terms.problem = RunText(RunMessage::DueDaysInvalid) + days;
    return terms;
  }
  terms.hasDueDays = true;
  terms.dueDays = std::stoi(days);
  return terms;
}

std::string PeriodText(int32_t first, int32_t last) {
  const auto monthName = [](int32_t month) { return FormatDate(FirstOfMonth(month), 2, "M"); };
  const std::string lastYear = std::to_string(last / 12);
  if (first >= last) return monthName(last) + " " + lastYear;
  if (first / 12 == last / 12) return monthName(first) + " - " + monthName(last) + " " + lastYear;
  return monthName(first) + " " + std::to_string(first / 12) + " - " + monthName(last) + " " + lastYear;
}

std::string InvoiceFigures(const std::vector<IssuedInvoice>& issued, const PaymentTerms& terms,
                           const std::string& currency) {
  const std::string label = CurrencyOf("") == "E" ? " EUR" : " ESP";
  std::string out;
  for (const IssuedInvoice& invoice : issued) {
    const std::string page = std::to_string(invoice.page);
    auto add = [&](const char* key, const std::string& cp850) {
      out.append(page).append(1, '\t').append(key).append(1, '\t').append(Utf8FromCp858(cp850)).append(1, '\n');
    };
    add("Numero", PrintedInvoiceNumber(invoice.series, invoice.number));
    add("Data", FormatDate(invoice.invoiceDate, 2, "DMA"));
    if (terms.hasDueDays) add("Venciment", FormatDate(DaysLater(invoice.invoiceDate, terms.dueDays), 2, "DMA"));
    if (invoice.periodLast > 0) add("Periode", PeriodText(invoice.periodFirst, invoice.periodLast));
    add("Base", Amount(invoice.base, currency));
    add("TipusIva", Rate(invoice.vatRate));
    add("Iva", Amount(invoice.vat, currency));
    if (invoice.withholding != 0) {
      add("TipusRetencio", Rate(invoice.withholdingRate));
      add("Retencio", Amount(-invoice.withholding, currency));
      add("TotalFactura", Amount(invoice.base + invoice.vat, currency) + label);
    }
    if (invoice.fees != 0) {
      add("PercentHonoraris", Rate(invoice.feePercent));
      add("BaseCobrada", Amount(invoice.collectedBase, currency));
      add("HonorariFix", Amount(invoice.fixedFee, currency));
      add("Honoraris", Amount(invoice.fees, currency));
    }
    if (invoice.expenses != 0) add("Suplerts", Amount(invoice.expenses, currency));
    add("Total", Amount(invoice.total, currency) + label);
    add("Idioma", std::string(LanguageCode(LanguageFromCode(Session.Language))));
    // Collected by direct debit: the payment box names the account charged.
    if (const auto debit = terms.directDebits.find(invoice.ownerCode); debit != terms.directDebits.end()) {
      add("FormaPagament", RunText(RunMessage::DirectDebit));
      add("IBAN", debit->second);
    }
  }
  return out;
}
