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

// The signature policy every signature names, as the agency gives it.
struct SignaturePolicyTable {
  static constexpr const char* Identifier = "urn:oid:2.16.724.1.3.1.1.2.1.9";
  static constexpr const char* DigestMethod = "http://www.w3.org/2000/09/xmldsig#sha1";
  static constexpr const char* DigestValue = "G7roucf600+f03r/o0bAOQ6WAs0=";
  static constexpr const char* Uri = "https://sede.administracion.gob.es/politica_de_firma_anexo_1.pdf";
};

// Why the issuer's certificate cannot sign; the callers word the messages.
enum class KeyProblem {
  None,
  CertificateMissing,   // Certificat= empty, or no regular file there
  CertificateUnreadable,  // not readable, or not a PKCS#12 file
  PasswordMissing,      // ClauCertificat= empty, or no regular file there
  PasswordExposed,      // the password file can be read or written by group or others
  WrongPassword,        // the password does not open the PKCS#12 file
  NoKey,                // the file holds no RSA key with its certificate
  NotYetValid,          // the certificate's validity starts after now
  Expired,              // the certificate's validity ended before now
  NotIssuer,            // the certificate's subject does not name the issuer's NIF
};

// The settings of the register's mode, from Tarn.ini [VeriFactu].
struct SigningSettings {
  bool keep = false;             // Mode=conserva: records kept here, signed, with the event log
  std::string certificatePath;   // host path of the PKCS#12 file (Certificat=)
  std::string passwordPath;      // host path of the file holding its password (ClauCertificat=)
};

// Reads rootDir + "Tarn.ini" [VeriFactu] Mode, Certificat, ClauCertificat
// (trimmed; Mode compared without regard to case). A relative path is taken
// from the suite root's folder. Reads only.
[[nodiscard]] SigningSettings LoadSigningSettings(const std::string& rootDir);

// The issuer's key and certificate, loaded once per run.
class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // Reads the PKCS#12 file and its password file, and checks that the
  // certificate is valid at now and names issuerNif (9 characters) in its
  // subject's serial number, common name or organisation identifier. On a
  // problem nothing is kept and the key cannot sign.
  [[nodiscard]] KeyProblem Load(const SigningSettings& settings, const std::string& issuerNif, std::time_t now);

  [[nodiscard]] bool Loaded() const;

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

// What a signature check found.
enum class SignatureStatus {
  Valid,
  Missing,            // no ds:Signature, or no certificate in it
  Unreadable,         // the text is not XML, or the certificate cannot be read
  Broken,             // a digest or the signature value does not match the signed data
  WrongProperties,    // SignedProperties missing, or SigningCertificate not the certificate in KeyInfo
  NotIssuer,          // the certificate does not name the issuer's NIF
  OutsideValidity,    // the record's time lies outside the certificate's validity
};

// Checks signatures with the certificate each one carries.
class SignatureVerifier {
 public:
  SignatureVerifier();
  ~SignatureVerifier();
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;

  // Checks the signature of signedXml (as Sign makes it): the digests and
  // the signature value against the certificate in KeyInfo, the
  // SigningCertificate digest against that certificate, the certificate's
  // subject against issuerNif and its validity at madeAt (seconds since
  // 1970, UTC).
  [[nodiscard]] SignatureStatus Check(const std::string& signedXml, const std::string& issuerNif,
                                      int64_t madeAt) const;

 private:
  bool ready_ = false;
};
