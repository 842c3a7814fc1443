// The issuer's electronic signature of the register's records and events:
// XAdES enveloped at the EPES level, as the tax agency asks of invoicing
// systems that keep their records instead of sending them.
//
// A signature is a ds:Signature element placed as the last child of the
// signed element (RegistroAlta, RegistroAnulacion, or RegistroEvento's
// Evento) with:
//   - canonical XML 1.0 (without comments), RSA-SHA256;
//   - one reference URI="" (the whole document, the signature taken out by
//     the enveloped transform) and one to the SignedProperties, both with
//     SHA-256 digests;
//   - KeyInfo with the signing certificate;
//   - the XAdES 1.3.2 SignedProperties: SigningTime, SigningCertificate
//     (SHA-256 of the certificate, its issuer and serial number), the
//     signature policy of the Spanish administration (SignaturePolicyTable)
//     and the DataObjectFormat of the signed data (text/xml, UTF-8).
//
// The documents this system writes are put in canonical form from their text
// (signing/canonical.h) and signed with OpenSSL; any other document is signed
// by libxmlsec1 with its OpenSSL back end, which also checks every signature.
// Either way the text kept is the document as given, the signature placed
// in it. OpenSSL reads the PKCS#12 file. The libraries' global state is set up by the first
// SigningKey or SignatureVerifier made and released with the last one.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "agency/certificate.h"

// The signature policy every signature names, as the agency gives it.
struct SignaturePolicyTable {
  static constexpr const char* Identifier = "urn:oid:2.16.724.1.3.1.1.2.1.9";
  static constexpr const char* DigestMethod = "http://www.w3.org/2000/09/xmldsig#sha1";
  static constexpr const char* DigestValue = "G7roucf600+f03r/o0bAOQ6WAs0=";
  static constexpr const char* Uri = "https://sede.administracion.gob.es/politica_de_firma_anexo_1.pdf";
};

// The issuer's key and certificate, loaded once per run.
class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // Loads the issuer's certificate of settings (agency/certificate.h: valid
  // at now, naming issuerNif) and its key, which must be RSA. On a problem
  // nothing is kept and the key cannot sign; detailOut, when given, names
  // the file or the date concerned.
  [[nodiscard]] CertificateProblem Load(const VeriFactuSettings& settings, const std::string& issuerNif,
                                        std::time_t now, std::string* detailOut = nullptr);

  [[nodiscard]] bool Loaded() const;
  // The SHA-256 fingerprint of the loaded certificate, in hex capitals
  // (as openssl x509 -fingerprint -sha256 shows it, without the colons);
  // empty when none is loaded.
  [[nodiscard]] std::string CertificateFingerprint() const;

  // signedOut: xml (UTF-8, one element) with the signature inserted just
  // before its last occurrence of closingTag (the signed element's end tag;
  // empty: the last end tag of the text). signingTime: ISO 8601 with offset.
  // id: letters, digits, '-' only, unique to this signature (the record's
  // fingerprint does). False, with errorOut the library's text, when the
  // text cannot be parsed or signed.
  [[nodiscard]] bool Sign(const std::string& xml, const std::string& closingTag, const std::string& signingTime,
                          const std::string& id, std::string& signedOut, std::string& errorOut) const;

  // The plain RSA-SHA256 signature of bytes with the same key, for the
  // benchmark that compares the two; empty when it fails.
  [[nodiscard]] std::string SignBytes(const std::string& bytes) const;

 private:
  [[nodiscard]] bool SignWithXmlsec(const std::string& xml, size_t at, const std::string& s,
                                    const std::string& properties, std::string& infoOut, std::string& valueOut,
                                    std::string& errorOut) const;
  struct State;
  std::unique_ptr<State> state_;
};

// The fingerprint of the certificate that signed signedXml, as its signed
// properties name it (SigningCertificate), in the form above; empty when
// it names none.
[[nodiscard]] std::string SigningCertificateFingerprint(const std::string& signedXml);

// What a signature check found.
enum class SignatureStatus {
  Valid,
  Missing,            // no ds:Signature, or no certificate in it
  Unreadable,         // the text is not XML, or the certificate cannot be read
  Broken,             // a digest or the signature value does not match the signed data
  WrongProperties,    // SignedProperties missing, or SigningCertificate not the certificate in KeyInfo
  NotIssuer,          // the certificate does not name the issuer's NIF
  OutsideValidity,    // the record's time lies outside the certificate's validity
  Untrusted,          // the certificate does not chain to a trusted authority
};

// Checks signatures with the certificate each one carries.
class SignatureVerifier {
 public:
  // authorities: the PEM file of those whose certificates may sign
  // (CAFirma=), empty for the system's trusted authorities.
  explicit SignatureVerifier(const std::string& authorities);
  ~SignatureVerifier();
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;

  // Checks the signature of signedXml (as Sign makes it): the digests and
  // the signature value against the certificate in KeyInfo, the
  // SigningCertificate digest against that certificate, the certificate's
  // subject against issuerNif, its validity at madeAt (seconds since
  // 1970, UTC) and its chain to one of the authorities.
  [[nodiscard]] SignatureStatus Check(const std::string& signedXml, const std::string& issuerNif,
                                      int64_t madeAt) const;

 private:
  bool ready_ = false;
  bool trusting_ = false;
  std::unique_ptr<SigningAuthorities> authorities_;
};
