// The register's mode and its certificate: Tarn.ini [VeriFactu], read in
// one place for every program.
//
//   [VeriFactu]
//   Mode=envia|conserva   envia: records sent to the agency (VERI*FACTU);
//                         conserva: kept here, signed, with the event log
//   Entorn=proves         the agency's test environment; anything else
//                         (produccio, as installed) its production one
//   Certificat=path       PKCS#12 file with the issuer's key and certificate
//   ClauCertificat=path   file holding its password (base/secret.h)
//   Servei=url            an endpoint replacing the agency's (tests)
//   CAServei=path         PEM authorities trusted for Servei
//   CAFirma=path          PEM authorities whose certificates may sign the
//                         not-sending mode's records (default: the
//                         system's trusted authorities)
// Values are trimmed, Mode and Entorn compared without regard to case. A
// relative path is taken from the suite root's folder, in every mode.
#pragma once

#include <string>

enum class AgencyMode {
  Off,       // no Mode= (or empty)
  Sending,   // envia
  Keeping,   // conserva
  Unknown,   // anything else: the text is in modeText
};

struct VeriFactuSettings {
  AgencyMode mode = AgencyMode::Off;
  std::string modeText;     // Mode= as written
  bool production = true;   // not Entorn=proves
  std::string certificate;  // host path, empty when not set
  std::string passwordFile;  // host path, empty when not set
  std::string service;       // Servei=, as written
  std::string serviceAuthorities;  // CAServei=, host path
  std::string signingAuthorities;  // CAFirma=, host path; empty: the system's

  [[nodiscard]] bool Sending() const { return mode == AgencyMode::Sending; }
  [[nodiscard]] bool Keeping() const { return mode == AgencyMode::Keeping; }
};

// [VeriFactu] of rootDir + "Tarn.ini" (rootDir in the suite's path form,
// empty or ending in a separator). Never fails: missing keys give defaults.
[[nodiscard]] VeriFactuSettings LoadVeriFactuSettings(const std::string& rootDir);

// The agency's endpoint of the records service for the settings: production
// or test, the company-seal host for a seal certificate; Servei= replaces it.
[[nodiscard]] std::string ServiceEndpoint(const VeriFactuSettings& settings, bool sealCertificate);

// Where the agency checks an invoice whose code is printed: ValidarQR for a
// record sent to it, ValidarQRNoVerifactu otherwise, on the test host
// unless production.
[[nodiscard]] std::string QrCheckPrefix(bool production, bool sent);
