#include "agency/certificate.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstring>
#include <ctime>

#include "base/files.h"
#include "base/secret.h"

void CertificateFree::operator()(X509* x) const { X509_free(x); }
void PrivateKeyFree::operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }

namespace {

// Certificate policies that make a certificate a company seal: the Spanish
// administration's seal profiles and the EU policies for legal persons.
constexpr const char* kSealPolicies[] = {"2.16.724.1.3.5.6.1", "2.16.724.1.3.5.6.2", "0.4.0.194112.1.1",
                                         "0.4.0.194112.1.3"};

struct Pkcs12Free {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct ChainFree {
  void operator()(STACK_OF(X509)* s) const { sk_X509_pop_free(s, X509_free); }
};
struct PoliciesFree {
  void operator()(CERTIFICATEPOLICIES* p) const { CERTIFICATEPOLICIES_free(p); }
};

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

// Whether nif stands in value as a token of its own ("IDCES-89890001K",
// "VATES-B12345678", "NOMBRE APELLIDO - 12345678Z").
bool HoldsNif(const std::string& value, const std::string& nif) {
  for (size_t at = value.find(nif); at != std::string::npos; at = value.find(nif, at + 1)) {
    const bool before = at == 0 || !std::isalnum(static_cast<unsigned char>(value[at - 1]));
    const size_t end = at + nif.size();
    const bool after = end == value.size() || !std::isalnum(static_cast<unsigned char>(value[end]));
    if (before && after) return true;
  }
  return false;
}

CertificateProblem PasswordProblem(SecretProblem problem) {
  switch (problem) {
    case SecretProblem::None: break;
    case SecretProblem::NotSet: return CertificateProblem::PasswordNotSet;
    case SecretProblem::Missing: return CertificateProblem::PasswordMissing;
    case SecretProblem::Unreadable: return CertificateProblem::PasswordUnreadable;
    case SecretProblem::Exposed: return CertificateProblem::PasswordExposed;
    case SecretProblem::NotOneLine: return CertificateProblem::PasswordNotOneLine;
  }
  return CertificateProblem::None;
}

}  // namespace

bool AboutPassword(CertificateProblem problem) {
  switch (problem) {
    case CertificateProblem::PasswordNotSet:
    case CertificateProblem::PasswordMissing:
    case CertificateProblem::PasswordUnreadable:
    case CertificateProblem::PasswordExposed:
    case CertificateProblem::PasswordNotOneLine:
      return true;
    default:
      return false;
  }
}

bool CertificateNamesNif(X509* cert, const std::string& nif) {
  if (nif.empty()) return false;
  X509_NAME* subject = X509_get_subject_name(cert);
  for (int nid : {NID_serialNumber, NID_commonName, NID_organizationIdentifier}) {
    for (int i = X509_NAME_get_index_by_NID(subject, nid, -1); i >= 0; i = X509_NAME_get_index_by_NID(subject, nid, i)) {
      unsigned char* utf8 = nullptr;
      const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i)));
      if (n < 0) continue;
      std::string value(reinterpret_cast<char*>(utf8), static_cast<size_t>(n));
      OPENSSL_free(utf8);
      for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (HoldsNif(value, nif)) return true;
    }
  }
  return false;
}

CertificateProblem LoadIssuerCertificate(const VeriFactuSettings& settings, const std::string& signerNif, int64_t now,
                                         IssuerCertificate& out, std::string& detailOut) {
  out = IssuerCertificate{};
  detailOut = settings.certificate;
  if (settings.certificate.empty()) return CertificateProblem::NotSet;
  out.path = settings.certificate;
  const ReadResult read = ReadRegularFile(settings.certificate, out.pkcs12, 1u << 20);
  if (read == ReadResult::Missing || read == ReadResult::NotRegular) return CertificateProblem::Missing;
  if (read != ReadResult::Ok) return CertificateProblem::Unreadable;

  detailOut = settings.passwordFile;
  const CertificateProblem password = PasswordProblem(ReadSecretFile(settings.passwordFile, out.password));
  if (password != CertificateProblem::None) return password;

  detailOut = settings.certificate;
  const unsigned char* at = reinterpret_cast<const unsigned char*>(out.pkcs12.data());
  std::unique_ptr<PKCS12, Pkcs12Free> p12(d2i_PKCS12(nullptr, &at, static_cast<long>(out.pkcs12.size())));
  if (!p12) return CertificateProblem::NotPkcs12;
  if (PKCS12_mac_present(p12.get()) &&
      PKCS12_verify_mac(p12.get(), out.password.c_str(), static_cast<int>(out.password.size())) != 1)
    return CertificateProblem::WrongPassword;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  const int parsed = PKCS12_parse(p12.get(), out.password.c_str(), &key, &cert, &chain);
  out.key.reset(key);
  out.certificate.reset(cert);
  std::unique_ptr<STACK_OF(X509), ChainFree> chainOwner(chain);
  if (parsed != 1) return CertificateProblem::WrongPassword;
  if (key == nullptr || cert == nullptr || X509_check_private_key(cert, key) != 1) return CertificateProblem::NoKey;

  char subject[256];
  X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
  out.subject = subject;
  out.validFrom = TimeText(X509_get0_notBefore(cert));
  out.validTo = TimeText(X509_get0_notAfter(cert));
  out.seal = IsSeal(cert);
  time_t when = static_cast<time_t>(now);
  if (X509_cmp_time(X509_get0_notBefore(cert), &when) > 0) {
    detailOut = out.validFrom;
    return CertificateProblem::NotYetValid;
  }
  if (X509_cmp_time(X509_get0_notAfter(cert), &when) < 0) {
    detailOut = out.validTo;
    return CertificateProblem::Expired;
  }
  if (!signerNif.empty() && !CertificateNamesNif(cert, signerNif)) return CertificateProblem::NotIssuer;
  detailOut.clear();
  return CertificateProblem::None;
}

void AuthorityStoreFree::operator()(X509_STORE* s) const { X509_STORE_free(s); }

bool SigningAuthorities::Load(const std::string& hostPath) {
  store_.reset(X509_STORE_new());
  if (!store_) return false;
  const int loaded = hostPath.empty() ? X509_STORE_set_default_paths(store_.get())
                                      : X509_STORE_load_file(store_.get(), hostPath.c_str());
  if (loaded != 1 || (!hostPath.empty() && sk_X509_OBJECT_num(X509_STORE_get0_objects(store_.get())) == 0)) {
    store_.reset();
    return false;
  }
  return true;
}

bool SigningAuthorities::Trust(X509* cert, int64_t at) const {
  if (!store_ || cert == nullptr) return false;
  std::unique_ptr<X509_STORE_CTX, void (*)(X509_STORE_CTX*)> ctx(X509_STORE_CTX_new(), X509_STORE_CTX_free);
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store_.get(), cert, nullptr) != 1) return false;
  X509_STORE_CTX_set_time(ctx.get(), 0, static_cast<time_t>(at));
  // An intermediate authority named in the file is trusted as given.
  X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_PARTIAL_CHAIN);
  return X509_verify_cert(ctx.get()) == 1;
}

std::string IssuerLine(X509* cert) {
  char issuer[256];
  X509_NAME_oneline(X509_get_issuer_name(cert), issuer, sizeof issuer);
  return issuer;
}

std::string CertificateFingerprint(X509* cert) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (cert == nullptr || X509_digest(cert, EVP_sha256(), md, &size) != 1) return std::string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[md[i] >> 4];
    out += kHex[md[i] & 15];
  }
  return out;
}
