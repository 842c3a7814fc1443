// The sending mode's settings (Tarn.ini [VeriFactu]) and the issuer's
// certificate: where records go, with which certificate, and why a
// certificate cannot be used.
#pragma once

#include <cstdint>
#include <string>

// [VeriFactu] as the sender reads it. Paths are host paths as written.
struct SendingSettings {
  bool sending = false;         // Mode=envia
  bool keeping = false;         // Mode=conserva (the not-sending mode)
  bool production = false;      // Entorn=produccio; anything else is the test environment
  std::string certificate;      // Certificat=: PKCS#12 with the key
  std::string passwordFile;     // ClauCertificat=: its first line is the password
  std::string service;          // Servei=: an endpoint replacing the agency's
  std::string serviceAuthorities;  // CAServei=: PEM authorities trusted for Servei
};

// Reads [VeriFactu] of the settings file (host path of Tarn.ini).
[[nodiscard]] SendingSettings ReadSendingSettings(const std::string& tarnIniHostPath);

// The agency's endpoint of the records service: production or test, the
// company-seal host for a seal certificate. Servei= replaces it.
[[nodiscard]] std::string ServiceEndpoint(const SendingSettings& settings, bool sealCertificate);

// Why the certificate cannot be used; each names the file concerned.
enum class CertificateProblem {
  None,
  NotSet,               // Certificat= empty
  Missing,              // the certificate file does not exist
  Unreadable,           // it exists but cannot be read (detail: the system's reason)
  PasswordNotSet,       // ClauCertificat= empty
  PasswordMissing,      // the password file does not exist
  PasswordUnreadable,   // it cannot be read
  PasswordExposed,      // group or other users may read the password file
  NotPkcs12,            // the certificate file is not PKCS#12
  WrongPassword,        // the password does not open it
  NoKey,                // it holds no certificate with its private key
  Expired,              // detail: the end of its validity
  NotYetValid,          // detail: the start of its validity
};

// The certificate as the sender uses it.
struct IssuerCertificate {
  std::string path;      // host path of the PKCS#12 file
  std::string password;  // the first line of the password file
  bool seal = false;     // a company seal (the agency's seal hosts take it)
  std::string subject;   // one line, for messages
  std::string validTo;   // "YYYY-MM-DD HH:MM:SS UTC"
};

// Opens the certificate of settings and checks it at now (seconds since
// 1970 UTC). detailOut: the file concerned, or the date, or the system's
// reason, as the problem says.
[[nodiscard]] CertificateProblem LoadIssuerCertificate(const SendingSettings& settings, int64_t now,
                                                       IssuerCertificate& out, std::string& detailOut);
