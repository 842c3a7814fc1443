// The issuer's certificate (Tarn.ini [VeriFactu] Certificat and
// ClauCertificat), loaded by one routine for both modes: the sender presents
// it to the agency, the not-sending mode signs with its key. One list of
// problems; each program words them.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "agency/settings.h"

enum class CertificateProblem {
  None,
  NotSet,              // Certificat= empty
  Missing,             // no regular file there
  Unreadable,          // it cannot be read
  NotPkcs12,           // it is not a PKCS#12 file
  PasswordNotSet,      // ClauCertificat= empty
  PasswordMissing,     // no regular file there
  PasswordUnreadable,  // it cannot be read
  PasswordExposed,     // group or others have a permission on it
  PasswordNotOneLine,  // something follows the password's line
  WrongPassword,       // the password does not open the certificate
  NoKey,               // no certificate with its private key in it
  NotYetValid,         // detail: the start of its validity
  Expired,             // detail: the end of its validity
  NotIssuer,           // its subject does not name the NIF asked for
  AuthoritiesUnreadable,  // detail: the authorities' file (CAFirma=) cannot be read or holds none
  Untrusted,           // it does not chain to an authority of CAFirma=; detail: its issuer
};

// Whether the problem is about the password file (else the certificate).
[[nodiscard]] bool AboutPassword(CertificateProblem problem);

struct CertificateFree {
  void operator()(X509* x) const;
};
struct PrivateKeyFree {
  void operator()(EVP_PKEY* k) const;
};

struct IssuerCertificate {
  std::string path;       // host path of the PKCS#12 file
  std::string pkcs12;     // its bytes
  std::string password;   // the password file's line
  std::unique_ptr<X509, CertificateFree> certificate;
  std::unique_ptr<EVP_PKEY, PrivateKeyFree> key;
  bool seal = false;      // a company seal (the agency's seal hosts take it)
  std::string subject;    // one line, for messages
  std::string validFrom;  // "YYYY-MM-DD HH:MM:SS UTC"
  std::string validTo;
};

// Loads the certificate of settings and checks it at now (seconds since
// 1970 UTC): valid, with its key and, unless signerNif is empty, naming
// signerNif (9 characters) in its subject's serial number, common name or
// organisation identifier. The not-sending mode signs as the issuer, so it
// asks for the issuer's NIF; the sender asks for none, since the agency
// takes records sent by the issuer's proxy or a social collaborator with a
// certificate of their own. detailOut: the file concerned, or the date, as
// the problem says.
[[nodiscard]] CertificateProblem LoadIssuerCertificate(const VeriFactuSettings& settings, const std::string& signerNif,
                                                       int64_t now, IssuerCertificate& out, std::string& detailOut);

// Whether the subject of cert names nif as a token of its own in its serial
// number, common name or organisation identifier ("IDCES-12345678Z").
[[nodiscard]] bool CertificateNamesNif(X509* cert, const std::string& nif);

// The authorities whose certificates may sign (Tarn.ini [VeriFactu]
// CAFirma=), loaded once.
struct AuthorityStoreFree {
  void operator()(X509_STORE* s) const;
};
class SigningAuthorities {
 public:
  // Loads the PEM file at hostPath, or the system's trusted authorities
  // when it is empty; false when none can be loaded.
  [[nodiscard]] bool Load(const std::string& hostPath);
  // Whether cert chains to one of them, each certificate of the chain
  // valid at at (seconds since 1970, UTC).
  [[nodiscard]] bool Trust(X509* cert, int64_t at) const;

 private:
  std::unique_ptr<X509_STORE, AuthorityStoreFree> store_;
};

// The certificate's issuer, one line, for messages.
[[nodiscard]] std::string IssuerLine(X509* cert);
// The SHA-256 of the certificate's bytes, in hexadecimal (upper case).
[[nodiscard]] std::string CertificateFingerprint(X509* cert);
