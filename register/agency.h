// The tax agency's rules for an invoice record: the invoice number as
// printed (the page, the fingerprint and the code all use this one routine),
// the agency's forms of amounts and dates, the text whose SHA-256 is the
// record's fingerprint, the URL of the code printed on the invoice and the
// record's generation time.
#pragma once

#include <cstdint>
#include <string>

#include "register/record.h"

// The invoice number as printed: the series, "/", eight digits; without a
// series only the digits.
[[nodiscard]] std::string PrintedInvoiceNumber(const std::string& series, int32_t number);

// Cents as the agency writes amounts: "-12.35", "0.00".
[[nodiscard]] std::string AgencyAmount(int64_t cents);

// YYYYMMDD as DD-MM-YYYY.
[[nodiscard]] std::string AgencyDate(const std::string& yyyymmdd);

// The invoice total the agency's records and code carry: the tax base plus
// VAT, withholding not deducted.
[[nodiscard]] int64_t AgencyInvoiceTotal(const RegisterEntry& entry);

// The text hashed for an entry's fingerprint (UTF-8), and the fingerprint:
// eight pairs for an invoice (F1 or corrective), five for a cancellation.
[[nodiscard]] std::string FingerprintText(const RegisterEntry& entry);
[[nodiscard]] std::string Sha256Hex(const std::string& bytes);
[[nodiscard]] std::string ComputeFingerprint(const RegisterEntry& entry);

// Where the agency checks an invoice, with the four parameters URL-encoded:
// ValidarQR for a record sent to it (sending mode), ValidarQRNoVerifactu
// otherwise; every caller says which mode it is in. testEnvironment picks
// the agency's test host.
[[nodiscard]] std::string TaxQrUrl(const RegisterEntry& entry, bool testEnvironment, bool sending);

// The local time now as ISO 8601 with its offset, "2026-12-08T10:03:09+01:00".
[[nodiscard]] std::string GenerationTimeNow();

// A generation time in that form as seconds since 1970-01-01 UTC. False for
// any other text.
[[nodiscard]] bool GenerationTimeSeconds(const std::string& iso, int64_t& seconds);

