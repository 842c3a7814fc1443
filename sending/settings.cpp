#include "sending/settings.h"

#include <openssl/asn1.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "base/files.h"
#include "base/ini.h"
#include "base/text.h"

namespace {

// The agency's records service, by environment and kind of certificate.
constexpr const char* kServicePath = "/wlpl/TIKE-CONT/ws/SistemaFacturacion/VerifactuSOAP";
constexpr const char* kProductionHost = "https://www1.agenciatributaria.gob.es";
constexpr const char* kProductionSealHost = "https://www10.agenciatributaria.gob.es";
constexpr const char* kTestHost = "https://prewww1.aeat.es";
constexpr const char* kTestSealHost = "https://prewww10.aeat.es";

// Certificate policies and statements that make a certificate a company
// seal: the Spanish administration's seal profiles, the EU policies for
// legal persons, and the qualified statement type "eseal".
constexpr const char* kSealPolicies[] = {"2.16.724.1.3.5.6.1", "2.16.724.1.3.5.6.2", "0.4.0.194112.1.1",
                                         "0.4.0.194112.1.3"};

struct Pkcs12Free {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct ChainFree {
  void operator()(STACK_OF(X509)* s) const { sk_X509_pop_free(s, X509_free); }
};
struct PoliciesFree {
  void operator()(CERTIFICATEPOLICIES* p) const { CERTIFICATEPOLICIES_free(p); }
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string TimeText(const ASN1_TIME* t) {
  struct tm parts = {};
  if (t == nullptr || ASN1_TIME_to_tm(t, &parts) != 1) return "?";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

bool IsSeal(X509* cert) {
  std::unique_ptr<CERTIFICATEPOLICIES, PoliciesFree> policies(
      static_cast<CERTIFICATEPOLICIES*>(X509_get_ext_d2i(cert, NID_certificate_policies, nullptr, nullptr)));
  if (!policies) return false;
  for (int i = 0; i < sk_POLICYINFO_num(policies.get()); ++i) {
    char oid[80];
    if (OBJ_obj2txt(oid, sizeof oid, sk_POLICYINFO_value(policies.get(), i)->policyid, 1) <= 0) continue;
    for (const char* seal : kSealPolicies)
      if (std::strcmp(oid, seal) == 0) return true;
  }
  return false;
}

// The first line of a file, without its line end.
bool FirstLine(const std::string& path, std::string& out) {
  std::string content;
  if (ReadRegularFile(path, content, 64 * 1024) != ReadResult::Ok) return false;
  const size_t end = content.find_first_of("\r\n");
  out = content.substr(0, end);
  return true;
}

}  // namespace

SendingSettings ReadSendingSettings(const std::string& tarnIniHostPath) {
  SendingSettings s;
  const auto value = [&](const char* key) { return IniReadTrimmed(tarnIniHostPath, "VeriFactu", key); };
  const std::string mode = Lower(value("Mode"));
  s.sending = mode == "envia";
  s.keeping = mode == "conserva";
  s.production = Lower(value("Entorn")) == "produccio";
  s.certificate = value("Certificat");
  s.passwordFile = value("ClauCertificat");
  s.service = value("Servei");
  s.serviceAuthorities = value("CAServei");
  return s;
}

std::string ServiceEndpoint(const SendingSettings& settings, bool sealCertificate) {
  if (!settings.service.empty()) return settings.service;
  const char* host = settings.production ? (sealCertificate ? kProductionSealHost : kProductionHost)
                                         : (sealCertificate ? kTestSealHost : kTestHost);
  return std::string(host) + kServicePath;
}

CertificateProblem LoadIssuerCertificate(const SendingSettings& settings, int64_t now, IssuerCertificate& out,
                                         std::string& detailOut) {
  out = IssuerCertificate{};
  detailOut.clear();
  if (settings.certificate.empty()) return CertificateProblem::NotSet;
  out.path = settings.certificate;
  detailOut = settings.certificate;
  std::string bytes;
  const ReadResult read = ReadRegularFile(settings.certificate, bytes, 1 << 20);
  if (read == ReadResult::Missing) return CertificateProblem::Missing;
  if (read != ReadResult::Ok) return CertificateProblem::Unreadable;

  if (settings.passwordFile.empty()) return CertificateProblem::PasswordNotSet;
  detailOut = settings.passwordFile;
  struct stat st = {};
  if (::stat(settings.passwordFile.c_str(), &st) != 0)
    return errno == ENOENT ? CertificateProblem::PasswordMissing : CertificateProblem::PasswordUnreadable;
  if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) return CertificateProblem::PasswordExposed;
  if (!FirstLine(settings.passwordFile, out.password)) return CertificateProblem::PasswordUnreadable;

  detailOut = settings.certificate;
  const unsigned char* at = reinterpret_cast<const unsigned char*>(bytes.data());
  std::unique_ptr<PKCS12, Pkcs12Free> p12(d2i_PKCS12(nullptr, &at, static_cast<long>(bytes.size())));
  if (!p12) return CertificateProblem::NotPkcs12;
  if (PKCS12_mac_present(p12.get()) &&
      PKCS12_verify_mac(p12.get(), out.password.c_str(), static_cast<int>(out.password.size())) != 1)
    return CertificateProblem::WrongPassword;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  const int parsed = PKCS12_parse(p12.get(), out.password.c_str(), &key, &cert, &chain);
  std::unique_ptr<EVP_PKEY, KeyFree> keyOwner(key);
  std::unique_ptr<X509, X509Free> certOwner(cert);
  std::unique_ptr<STACK_OF(X509), ChainFree> chainOwner(chain);
  if (parsed != 1) return CertificateProblem::WrongPassword;
  if (key == nullptr || cert == nullptr) return CertificateProblem::NoKey;

  char subject[256];
  X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
  out.subject = subject;
  out.validTo = TimeText(X509_get0_notAfter(cert));
  out.seal = IsSeal(cert);
  time_t when = static_cast<time_t>(now);
  if (X509_cmp_time(X509_get0_notAfter(cert), &when) < 0) {
    detailOut = out.validTo;
    return CertificateProblem::Expired;
  }
  if (X509_cmp_time(X509_get0_notBefore(cert), &when) > 0) {
    detailOut = TimeText(X509_get0_notBefore(cert));
    return CertificateProblem::NotYetValid;
  }
  detailOut.clear();
  return CertificateProblem::None;
}
