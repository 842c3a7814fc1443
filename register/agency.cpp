#include "register/agency.h"

#include <nettle/sha2.h>

#include <ctime>

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
  return "IDEmisorFactura=" + Trim(e.issuerTaxId) +
         "&NumSerieFactura=" + Trim(Utf8FromCp858(PrintedInvoiceNumber(e.series, e.number))) +
         "&FechaExpedicionFactura=" + AgencyDate(e.date) + "&TipoFactura=F1" +
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

std::string TaxQrUrl(const RegisterEntry& e, bool testEnvironment) {
  const std::string host = testEnvironment ? "https://prewww2.aeat.es" : "https://www2.agenciatributaria.gob.es";
  return host + "/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=" + UrlEncode(Trim(e.issuerTaxId)) +
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

