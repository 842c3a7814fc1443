#include "register/agency.h"

#include <nettle/sha2.h>

#include <ctime>
#include <string_view>

#include "agency/settings.h"
#include "base/calendar.h"
#include "base/codepage.h"
#include "base/text.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

std::string UrlEncode(const std::string& utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string PrintedInvoiceNumber(const std::string& series, int32_t number) {
  const std::string trimmed = TrimRight(series);
  return (trimmed.empty() ? std::string() : trimmed + "/") + ZeroPad(number, 8);
}

std::string AgencyAmount(int64_t cents) {
  const bool negative = cents < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / 100);
  out += '.';
  out += ZeroPad(static_cast<int64_t>(magnitude % 100), 2);
  return out;
}

std::string AgencyDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(0, 4);
}

int64_t AgencyInvoiceTotal(const RegisterEntry& e) { return static_cast<int64_t>(e.base) + e.vat; }

std::string FingerprintText(const RegisterEntry& e) {
  if (e.IsCancellation()) {
    return "IDEmisorFacturaAnulada=" + Trim(e.issuerTaxId) +
           "&NumSerieFacturaAnulada=" + Trim(Utf8FromCp858(PrintedInvoiceNumber(e.refSeries, e.refNumber))) +
           "&FechaExpedicionFacturaAnulada=" + AgencyDate(e.refDate) + "&Huella=" + Trim(e.previousFingerprint) +
           "&FechaHoraHusoGenRegistro=" + Trim(e.generatedAt);
  }
  return "IDEmisorFactura=" + Trim(e.issuerTaxId) +
         "&NumSerieFactura=" + Trim(Utf8FromCp858(PrintedInvoiceNumber(e.series, e.number))) +
         "&FechaExpedicionFactura=" + AgencyDate(e.date) + "&TipoFactura=" + e.AgencyInvoiceType() +
         "&CuotaTotal=" + AgencyAmount(e.vat) + "&ImporteTotal=" + AgencyAmount(AgencyInvoiceTotal(e)) +
         "&Huella=" + Trim(e.previousFingerprint) + "&FechaHoraHusoGenRegistro=" + Trim(e.generatedAt);
}

std::string Sha256Hex(const std::string& bytes) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string ComputeFingerprint(const RegisterEntry& entry) { return Sha256Hex(FingerprintText(entry)); }

std::string TaxQrUrl(const RegisterEntry& e, bool testEnvironment, bool sending) {
  return QrCheckPrefix(!testEnvironment, sending) + UrlEncode(Trim(e.issuerTaxId)) +
         "&numserie=" + UrlEncode(Utf8FromCp858(PrintedInvoiceNumber(e.series, e.number))) +
         "&fecha=" + UrlEncode(AgencyDate(e.date)) + "&importe=" + UrlEncode(AgencyAmount(AgencyInvoiceTotal(e)));
}

std::string GenerationTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  const int magnitude = static_cast<int>((offset < 0 ? -offset : offset) % (100 * 60));
  return std::string(text) + (offset < 0 ? "-" : "+") + ZeroPad(magnitude / 60, 2) + ":" + ZeroPad(magnitude % 60, 2);
}

bool GenerationTimeSeconds(const std::string& iso, int64_t& seconds) {
  // YYYY-MM-DDThh:mm:ss+hh:mm
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd+dd:dd";
  if (iso.size() != kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    const char c = iso[i];
    const bool ok = kShape[i] == 'd' ? (c >= '0' && c <= '9') : kShape[i] == '+' ? (c == '+' || c == '-') : c == kShape[i];
    if (!ok) return false;
  }
  auto number = [&](size_t at, size_t n) { return static_cast<int64_t>(std::stoi(iso.substr(at, n))); };
  const int64_t month = number(5, 2);
  const int64_t day = number(8, 2);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(static_cast<int>(number(0, 4)), static_cast<int>(month)) ||
      number(11, 2) > 23 || number(14, 2) > 59 || number(17, 2) > 59 || number(20, 2) > 14 || number(23, 2) > 59) {
    return false;
  }
  const int64_t offset = (number(20, 2) * 60 + number(23, 2)) * 60 * (iso[19] == '-' ? -1 : 1);
  seconds = DaysFromCivil(number(0, 4), month, day) * 86400 + number(11, 2) * 3600 + number(14, 2) * 60 +
            number(17, 2) - offset;
  return true;
}
