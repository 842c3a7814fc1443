#include "signing/xades.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/tree.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/openssl/evp.h>
#include <xmlsec/openssl/x509.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "signing/canonical.h"

namespace {

// Owning handles of the libraries' objects, each freed once by its own
// function.
struct XmlDocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct DsigCtxFree {
  void operator()(xmlSecDSigCtx* c) const { xmlSecDSigCtxDestroy(c); }
};
struct KeyFree {
  void operator()(xmlSecKey* k) const { xmlSecKeyDestroy(k); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct Pkcs12Free {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;
using DsigCtx = std::unique_ptr<xmlSecDSigCtx, DsigCtxFree>;
using XmlSecKey = std::unique_ptr<xmlSecKey, KeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

constexpr const char* kSha256Uri = "http://www.w3.org/2001/04/xmlenc#sha256";
constexpr const char* kXadesNs = "http://uri.etsi.org/01903/v1.3.2#";
constexpr const char* kDsNs = "http://www.w3.org/2000/09/xmldsig#";
constexpr const char* kC14nUri = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";

// The last text xmlsec reported; its own printing to stderr is replaced.
std::string& LastLibraryError() {
  static std::string text;
  return text;
}

void KeepLibraryError(const char* /*file*/, int /*line*/, const char* func, const char* /*errorObject*/,
                      const char* errorSubject, int /*reason*/, const char* msg) {
  std::string text = func != nullptr ? func : "";
  if (errorSubject != nullptr) text += std::string(text.empty() ? "" : ": ") + errorSubject;
  if (msg != nullptr) text += std::string(text.empty() ? "" : ": ") + msg;
  LastLibraryError() = text;
}

// libxml2's own messages (a canonicalisation that fails on a damaged
// record) would reach the terminal: the check reports the record instead.
void QuietXmlError(void* /*context*/, const char* /*format*/, ...) {}

// The libraries' global state, set up by the first user and released by the
// last one.
int g_users = 0;
bool g_ready = false;

bool AcquireLibraries() {
  if (g_users++ > 0) return g_ready;
  xmlInitParser();
  xmlSetGenericErrorFunc(nullptr, QuietXmlError);
  xmlSecErrorsSetCallback(KeepLibraryError);
  g_ready = xmlSecInit() >= 0 && xmlSecCheckVersion() == 1 && xmlSecCryptoAppInit(nullptr) >= 0 &&
            xmlSecCryptoInit() >= 0;
  return g_ready;
}

void ReleaseLibraries() {
  if (--g_users > 0) return;
  if (g_ready) {
    xmlSecCryptoShutdown();
    xmlSecCryptoAppShutdown();
    xmlSecShutdown();
  }
  g_ready = false;
  xmlSetGenericErrorFunc(nullptr, nullptr);
}

std::string Base64(const unsigned char* bytes, size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes, static_cast<int>(size));
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

// Base64 text (blanks and line ends anywhere) as bytes; false when it is not.
bool FromBase64(const std::string& text, std::string& out) {
  std::string clean;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) clean += c;
  if (clean.empty() || clean.size() % 4 != 0) return false;
  out.assign(clean.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(clean.data()), static_cast<int>(clean.size()));
  if (n < 0) return false;
  size_t size = static_cast<size_t>(n);
  for (size_t i = clean.size(); i > 0 && clean[i - 1] == '='; --i) --size;
  out.resize(size);
  return true;
}

std::string DerOf(X509* cert) {
  unsigned char* der = nullptr;
  const int n = i2d_X509(cert, &der);
  if (n <= 0) return std::string();
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(n));
  OPENSSL_free(der);
  return out;
}

std::string DigestBase64(const EVP_MD* md, const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, md, nullptr) != 1) return std::string();
  return Base64(digest, size);
}

// The certificate's issuer as RFC 2253 text in UTF-8.
std::string IssuerText(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return std::string();
  X509_NAME_print_ex(bio, X509_get_issuer_name(cert), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  std::string out(data != nullptr && n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string());
  BIO_free(bio);
  return out;
}

std::string SerialText(X509* cert) {
  BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
  if (bn == nullptr) return std::string();
  char* dec = BN_bn2dec(bn);
  std::string out(dec != nullptr ? dec : "");
  OPENSSL_free(dec);
  BN_free(bn);
  return out;
}

// -1 when t lies before the certificate's validity, 1 after it, 0 inside.
int ValidityAt(X509* cert, std::time_t t) {
  if (X509_cmp_time(X509_get0_notBefore(cert), &t) > 0) return -1;
  if (X509_cmp_time(X509_get0_notAfter(cert), &t) < 0) return 1;
  return 0;
}

XmlDoc ParseXml(const std::string& text) {
  return XmlDoc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

// Registers the Id attributes, so that "#id" references find their nodes.
void AddIds(xmlDoc* doc) {
  static const xmlChar* ids[] = {BAD_CAST "Id", nullptr};
  xmlSecAddIDs(doc, xmlDocGetRootElement(doc), ids);
}

// The text content of the first descendant of node named name in ns.
std::string ChildText(xmlNode* node, const char* name, const char* ns) {
  xmlNode* found = xmlSecFindNode(node, BAD_CAST name, BAD_CAST ns);
  if (found == nullptr) return std::string();
  xmlChar* content = xmlNodeGetContent(found);
  std::string out(content != nullptr ? reinterpret_cast<char*>(content) : "");
  xmlFree(content);
  return out;
}

// Base64 in lines of 64, each ended, after a first line end.
std::string Base64Lines(const unsigned char* bytes, size_t size) {
  const std::string b64 = Base64(bytes, size);
  // Built by appending: GCC 12 at -O3 misreads text + "\n" as an
  // overlapping copy.
  std::string out(1, '\n');
  for (size_t i = 0; i < b64.size(); i += 64) out.append(b64, i, 64).push_back('\n');
  return out;
}

// The signature's parts, written as the canonical form writes them, so that
// the text kept is the text signed. s: the signature's Id.
std::string SignedInfoText(const std::string& s, const std::string& documentDigest,
                           const std::string& propertiesDigest) {
  std::string out;
  out.reserve(1200);
  out.append("\n<ds:CanonicalizationMethod Algorithm=\"").append(kC14nUri).append("\"></ds:CanonicalizationMethod>\n");
  out.append("<ds:SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"></ds:SignatureMethod>\n");
  out.append("<ds:Reference Id=\"").append(s).append("-ref0\" URI=\"\">\n<ds:Transforms>\n");
  out.append("<ds:Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"></ds:Transform>\n");
  out.append("</ds:Transforms>\n<ds:DigestMethod Algorithm=\"").append(kSha256Uri).append("\"></ds:DigestMethod>\n");
  out.append("<ds:DigestValue>").append(documentDigest).append("</ds:DigestValue>\n</ds:Reference>\n");
  out.append("<ds:Reference Type=\"http://uri.etsi.org/01903#SignedProperties\" URI=\"#").append(s).append(
      "-signedprops\">\n");
  out.append("<ds:Transforms>\n<ds:Transform Algorithm=\"").append(kC14nUri).append("\"></ds:Transform>\n");
  out.append("</ds:Transforms>\n<ds:DigestMethod Algorithm=\"").append(kSha256Uri).append("\"></ds:DigestMethod>\n");
  out.append("<ds:DigestValue>").append(propertiesDigest).append("</ds:DigestValue>\n</ds:Reference>\n");
  return out;
}

// What SignedProperties holds: the signing time, the certificate, the
// policy and the signed data's format.
template <typename KeyState>
std::string PropertiesText(const std::string& s, const std::string& signingTime, const KeyState& key) {
  std::string out;
  out.reserve(1500);
  out.append("<xades:SignedSignatureProperties><xades:SigningTime>").append(CanonicalText(signingTime));
  out.append("</xades:SigningTime><xades:SigningCertificate><xades:Cert><xades:CertDigest><ds:DigestMethod Algorithm=\"");
  out.append(kSha256Uri).append("\"></ds:DigestMethod><ds:DigestValue>").append(key.certDigest);
  out.append("</ds:DigestValue></xades:CertDigest><xades:IssuerSerial><ds:X509IssuerName>").append(key.issuer);
  out.append("</ds:X509IssuerName><ds:X509SerialNumber>").append(key.serial);
  out.append("</ds:X509SerialNumber></xades:IssuerSerial></xades:Cert></xades:SigningCertificate>");
  out.append("<xades:SignaturePolicyIdentifier><xades:SignaturePolicyId><xades:SigPolicyId><xades:Identifier>");
  out.append(SignaturePolicyTable::Identifier);
  out.append("</xades:Identifier></xades:SigPolicyId><xades:SigPolicyHash><ds:DigestMethod Algorithm=\"");
  out.append(SignaturePolicyTable::DigestMethod).append("\"></ds:DigestMethod><ds:DigestValue>");
  out.append(SignaturePolicyTable::DigestValue);
  out.append("</ds:DigestValue></xades:SigPolicyHash><xades:SigPolicyQualifiers><xades:SigPolicyQualifier><xades:SPURI>");
  out.append(SignaturePolicyTable::Uri);
  out.append("</xades:SPURI></xades:SigPolicyQualifier></xades:SigPolicyQualifiers></xades:SignaturePolicyId>"
             "</xades:SignaturePolicyIdentifier></xades:SignedSignatureProperties>");
  out.append("<xades:SignedDataObjectProperties><xades:DataObjectFormat ObjectReference=\"#").append(s);
  out.append("-ref0\"><xades:MimeType>text/xml</xades:MimeType><xades:Encoding>UTF-8</xades:Encoding>"
             "</xades:DataObjectFormat></xades:SignedDataObjectProperties>");
  return out;
}

std::string SignatureText(const std::string& s, const std::string& info, const std::string& value,
                          const std::string& properties, const std::string& certText) {
  std::string out;
  out.reserve(info.size() + value.size() + properties.size() + certText.size() + 600);
  out.append("<ds:Signature xmlns:ds=\"").append(kDsNs).append("\" Id=\"").append(s).append("\">\n<ds:SignedInfo>");
  out.append(info).append("</ds:SignedInfo>\n<ds:SignatureValue Id=\"").append(s).append("-sigvalue\">");
  out.append(value).append("</ds:SignatureValue>\n");
  if (!certText.empty())
    out.append("<ds:KeyInfo>\n<ds:X509Data>\n<ds:X509Certificate>")
        .append(certText)
        .append("</ds:X509Certificate>\n</ds:X509Data>\n</ds:KeyInfo>\n");
  out.append("<ds:Object><xades:QualifyingProperties xmlns:xades=\"").append(kXadesNs).append("\" Target=\"#");
  out.append(s).append("\"><xades:SignedProperties Id=\"").append(s).append("-signedprops\">");
  out.append(properties).append("</xades:SignedProperties></xades:QualifyingProperties></ds:Object>\n</ds:Signature>");
  return out;
}

}  // namespace

struct SigningKey::State {
  bool libraries = false;
  PkeyPtr pkey;
  X509Ptr cert;
  XmlSecKey key;
  std::string certDigest;  // SHA-256 of the certificate, base64
  std::string issuer;      // RFC 2253, UTF-8, escaped as canonical text
  std::string serial;      // decimal
  std::string certText;    // the certificate's DER in base64, lines of 64
};

SigningKey::SigningKey() : state_(std::make_unique<State>()) { state_->libraries = AcquireLibraries(); }

SigningKey::~SigningKey() {
  state_->key.reset();
  state_->cert.reset();
  state_->pkey.reset();
  ReleaseLibraries();
}

bool SigningKey::Loaded() const { return state_->key != nullptr; }

namespace {

std::string HexOfBase64(const std::string& base64) {
  std::string bytes;
  if (!FromBase64(base64, bytes)) return std::string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace

std::string SigningKey::CertificateFingerprint() const { return Loaded() ? HexOfBase64(state_->certDigest) : std::string(); }

std::string SigningCertificateFingerprint(const std::string& signedXml) {
  static const std::string kDigest = "<ds:DigestValue>";
  const size_t cert = signedXml.find("<xades:CertDigest>");
  const size_t from = cert == std::string::npos ? cert : signedXml.find(kDigest, cert);
  const size_t to = from == std::string::npos ? from : signedXml.find("</ds:DigestValue>", from);
  return to == std::string::npos ? std::string() : HexOfBase64(signedXml.substr(from + kDigest.size(), to - from - kDigest.size()));
}

CertificateProblem SigningKey::Load(const VeriFactuSettings& settings, const std::string& issuerNif, std::time_t now,
                                    std::string* detailOut) {
  state_->key.reset();
  state_->cert.reset();
  state_->pkey.reset();
  IssuerCertificate loaded;
  std::string detail;
  CertificateProblem problem = LoadIssuerCertificate(settings, issuerNif, static_cast<int64_t>(now), loaded, detail);
  XmlSecKey signing;
  if (problem == CertificateProblem::None && (!state_->libraries || EVP_PKEY_get_base_id(loaded.key.get()) != EVP_PKEY_RSA))
    problem = CertificateProblem::NoKey;
  if (problem == CertificateProblem::None) {
    // A document CanonicalXml does not read is signed by libxmlsec1, with
    // its own form of the key read from the same bytes (a third faster
    // there than OpenSSL's, as bench/sign measured).
    signing.reset(xmlSecOpenSSLAppPkcs12LoadMemory(reinterpret_cast<const xmlSecByte*>(loaded.pkcs12.data()),
                                                   static_cast<xmlSecSize>(loaded.pkcs12.size()),
                                                   loaded.password.c_str(), nullptr, nullptr));
    if (!signing) problem = CertificateProblem::NoKey;
  }
  // Only a certificate of an authority the settings trust may sign.
  if (problem == CertificateProblem::None) {
    SigningAuthorities authorities;
    if (!authorities.Load(settings.signingAuthorities)) {
      problem = CertificateProblem::AuthoritiesUnreadable;
      detail = settings.signingAuthorities.empty() ? X509_get_default_cert_dir() : settings.signingAuthorities;
    } else if (!authorities.Trust(loaded.certificate.get(), static_cast<int64_t>(now))) {
      problem = CertificateProblem::Untrusted;
      detail = settings.certificate;
    }
  }
  if (detailOut != nullptr) *detailOut = problem == CertificateProblem::NoKey ? settings.certificate : detail;
  if (problem != CertificateProblem::None) return problem;
  PkeyPtr key(loaded.key.release());
  X509Ptr certificate(loaded.certificate.release());

  const std::string der = DerOf(certificate.get());
  state_->certDigest = DigestBase64(EVP_sha256(), der);
  state_->certText = Base64Lines(reinterpret_cast<const unsigned char*>(der.data()), der.size());
  state_->issuer = CanonicalText(IssuerText(certificate.get()));
  state_->serial = SerialText(certificate.get());
  state_->pkey = std::move(key);
  state_->cert = std::move(certificate);
  state_->key = std::move(signing);
  return CertificateProblem::None;
}

bool SigningKey::Sign(const std::string& xml, const std::string& closingTag, const std::string& signingTime,
                      const std::string& id, std::string& signedOut, std::string& errorOut) const {
  signedOut.clear();
  errorOut.clear();
  if (!Loaded()) {
    errorOut = "no key";
    return false;
  }
  const size_t at = closingTag.empty() ? xml.rfind("</") : xml.rfind(closingTag);
  if (at == std::string::npos) {
    errorOut = "no end tag";
    return false;
  }
  if (id.empty() || !std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
      })) {
    errorOut = "bad id";
    return false;
  }
  const std::string s = "Firma-" + id;
  const std::string properties = PropertiesText(s, signingTime, *state_);
  std::string info;
  std::string value;

  // The document as the enveloped transform sees it: the signature taken
  // out, the line end written after it left in place.
  std::string unsignedDoc;
  unsignedDoc.reserve(xml.size() + 1);
  unsignedDoc.append(xml, 0, at).append(1, '\n').append(xml, at, std::string::npos);
  std::string canonical;
  NamespaceList inScope;
  if (CanonicalXml(unsignedDoc, at + 1, canonical, inScope)) {
    const NamespaceList withDs = WithNamespace(inScope, "ds", kDsNs);
    const NamespaceList withXades = WithNamespace(withDs, "xades", kXadesNs);
    const std::string propsDigest =
        DigestBase64(EVP_sha256(), CanonicalApexTag("xades:SignedProperties", withXades, " Id=\"" + s + "-signedprops\"") +
                                       properties + "</xades:SignedProperties>");
    info = SignedInfoText(s, DigestBase64(EVP_sha256(), canonical), propsDigest);
    const std::string bytes = SignBytes(CanonicalApexTag("ds:SignedInfo", withDs, "") + info + "</ds:SignedInfo>");
    value = Base64Lines(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (bytes.empty() || value.empty()) {
      errorOut = "signature failed";
      return false;
    }
  } else if (!SignWithXmlsec(xml, at, s, properties, info, value, errorOut)) {
    return false;
  }

  size_t start = 0;
  while (start < at && std::isspace(static_cast<unsigned char>(xml[start]))) ++start;
  size_t end = xml.size();
  while (end > at && std::isspace(static_cast<unsigned char>(xml[end - 1]))) --end;
  signedOut.reserve(end - start + 4096);
  signedOut.append(xml, start, at - start)
      .append(SignatureText(s, info, value, properties, state_->certText))
      .append(1, '\n')
      .append(xml, at, end - at)
      .append(1, '\n');
  return true;
}

// Digests and signature value by libxmlsec1, for a document outside what
// CanonicalXml reads: the signature without KeyInfo is placed at `at`,
// the document parsed and signed, and the values it wrote read back as
// they stand.
bool SigningKey::SignWithXmlsec(const std::string& xml, size_t at, const std::string& s,
                                const std::string& properties, std::string& infoOut, std::string& valueOut,
                                std::string& errorOut) const {
  std::string text = xml;
  text.insert(at, SignatureText(s, SignedInfoText(s, "", ""), "", properties, "") + "\n");
  XmlDoc doc = ParseXml(text);
  if (!doc || xmlDocGetRootElement(doc.get()) == nullptr) {
    errorOut = "not XML";
    return false;
  }
  AddIds(doc.get());
  xmlNode* node = xmlSecFindNode(xmlDocGetRootElement(doc.get()), xmlSecNodeSignature, xmlSecDSigNs);
  DsigCtx ctx(xmlSecDSigCtxCreate(nullptr));
  if (node == nullptr || !ctx) {
    errorOut = "no signature context";
    return false;
  }
  // The key is lent to the context for this signature only.
  LastLibraryError().clear();
  ctx->signKey = state_->key.get();
  const int signedStatus = xmlSecDSigCtxSign(ctx.get(), node);
  ctx->signKey = nullptr;
  if (signedStatus < 0) {
    errorOut = LastLibraryError().empty() ? "signature failed" : LastLibraryError();
    return false;
  }
  std::vector<std::string> digests;
  xmlNode* info = xmlSecFindChild(node, xmlSecNodeSignedInfo, xmlSecDSigNs);
  for (xmlNode* ref = info != nullptr ? info->children : nullptr; ref != nullptr; ref = ref->next)
    if (ref->type == XML_ELEMENT_NODE && xmlSecCheckNodeName(ref, xmlSecNodeReference, xmlSecDSigNs))
      digests.push_back(ChildText(ref, reinterpret_cast<const char*>(xmlSecNodeDigestValue),
                                  reinterpret_cast<const char*>(xmlSecDSigNs)));
  valueOut = ChildText(node, reinterpret_cast<const char*>(xmlSecNodeSignatureValue),
                       reinterpret_cast<const char*>(xmlSecDSigNs));
  if (digests.size() != 2 || valueOut.empty()) {
    errorOut = "signature not written";
    return false;
  }
  infoOut = SignedInfoText(s, CanonicalText(digests[0]), CanonicalText(digests[1]));
  valueOut = CanonicalText(valueOut);
  return true;
}

std::string SigningKey::SignBytes(const std::string& bytes) const {
  if (!state_->pkey) return std::string();
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  size_t size = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, state_->pkey.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
    return std::string();
  std::string out(size, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &size,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
    return std::string();
  out.resize(size);
  return out;
}

SignatureVerifier::SignatureVerifier(const std::string& authorities) : authorities_(std::make_unique<SigningAuthorities>()) {
  ready_ = AcquireLibraries();
  trusting_ = authorities_->Load(authorities);
}

SignatureVerifier::~SignatureVerifier() { ReleaseLibraries(); }

SignatureStatus SignatureVerifier::Check(const std::string& signedXml, const std::string& issuerNif,
                                         int64_t madeAt) const {
  if (!ready_) return SignatureStatus::Unreadable;
  XmlDoc doc = ParseXml(signedXml);
  if (!doc || xmlDocGetRootElement(doc.get()) == nullptr) return SignatureStatus::Unreadable;
  AddIds(doc.get());
  xmlNode* root = xmlDocGetRootElement(doc.get());
  xmlNode* node = xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs);
  if (node == nullptr) return SignatureStatus::Missing;
  const std::string certText = ChildText(node, reinterpret_cast<const char*>(xmlSecNodeX509Certificate),
                                         reinterpret_cast<const char*>(xmlSecDSigNs));
  if (certText.empty()) return SignatureStatus::Missing;
  std::string der;
  if (!FromBase64(certText, der)) return SignatureStatus::Unreadable;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) return SignatureStatus::Unreadable;

  // The signature value and both digests, with the certificate's key.
  EVP_PKEY* pub = X509_get_pubkey(cert.get());
  if (pub == nullptr) return SignatureStatus::Unreadable;
  XmlSecKey key(xmlSecKeyCreate());
  xmlSecKeyDataPtr value = xmlSecOpenSSLEvpKeyAdopt(pub);
  if (value == nullptr) EVP_PKEY_free(pub);
  if (!key || value == nullptr || xmlSecKeySetValue(key.get(), value) < 0) {
    if (value != nullptr && key) xmlSecKeyDataDestroy(value);
    return SignatureStatus::Unreadable;
  }
  DsigCtx ctx(xmlSecDSigCtxCreate(nullptr));
  if (!ctx) return SignatureStatus::Unreadable;
  ctx->signKey = key.release();
  if (xmlSecDSigCtxVerify(ctx.get(), node) < 0 || ctx->status != xmlSecDSigStatusSucceeded) {
    // Which part no longer matches: a reference's digest (the record's
    // data, or the signed properties such as SigningTime), else the
    // signature value itself.
    for (xmlSecSize i = 0; i < xmlSecPtrListGetSize(&ctx->signedInfoReferences); ++i) {
      const auto* ref = static_cast<xmlSecDSigReferenceCtx*>(xmlSecPtrListGetItem(&ctx->signedInfoReferences, i));
      if (ref == nullptr || ref->status == xmlSecDSigStatusSucceeded) continue;
      const bool whole = ref->uri != nullptr && ref->uri[0] == '\0';
      return whole ? SignatureStatus::Broken : SignatureStatus::WrongProperties;
    }
    return SignatureStatus::Broken;
  }

  // Both references must be there: the whole record, and the properties.
  bool wholeRecord = false;
  bool properties = false;
  xmlNode* signedInfo = xmlSecFindChild(node, xmlSecNodeSignedInfo, xmlSecDSigNs);
  for (xmlNode* ref = signedInfo != nullptr ? signedInfo->children : nullptr; ref != nullptr; ref = ref->next) {
    if (ref->type != XML_ELEMENT_NODE || !xmlSecCheckNodeName(ref, xmlSecNodeReference, xmlSecDSigNs)) continue;
    xmlChar* uri = xmlGetProp(ref, BAD_CAST "URI");
    xmlChar* type = xmlGetProp(ref, BAD_CAST "Type");
    if (uri != nullptr && uri[0] == '\0') wholeRecord = true;
    if (type != nullptr && std::strcmp(reinterpret_cast<char*>(type), "http://uri.etsi.org/01903#SignedProperties") == 0)
      properties = true;
    xmlFree(uri);
    xmlFree(type);
  }
  xmlNode* props = xmlSecFindNode(node, BAD_CAST "SignedProperties", BAD_CAST kXadesNs);
  xmlNode* certDigest = props != nullptr ? xmlSecFindNode(props, BAD_CAST "CertDigest", BAD_CAST kXadesNs) : nullptr;
  if (!wholeRecord || !properties || certDigest == nullptr) return SignatureStatus::WrongProperties;
  xmlNode* method = xmlSecFindNode(certDigest, xmlSecNodeDigestMethod, xmlSecDSigNs);
  xmlChar* algorithm = method != nullptr ? xmlGetProp(method, BAD_CAST "Algorithm") : nullptr;
  const std::string algo = algorithm != nullptr ? reinterpret_cast<char*>(algorithm) : "";
  xmlFree(algorithm);
  const EVP_MD* md = algo == kSha256Uri                                   ? EVP_sha256()
                     : algo == "http://www.w3.org/2000/09/xmldsig#sha1"   ? EVP_sha1()
                     : algo == "http://www.w3.org/2001/04/xmlenc#sha512" ? EVP_sha512()
                                                                          : nullptr;
  const std::string digest = Trim(ChildText(certDigest, reinterpret_cast<const char*>(xmlSecNodeDigestValue),
                                            reinterpret_cast<const char*>(xmlSecDSigNs)));
  if (md == nullptr || digest != DigestBase64(md, der)) return SignatureStatus::WrongProperties;

  if (!CertificateNamesNif(cert.get(), issuerNif)) return SignatureStatus::NotIssuer;
  if (ValidityAt(cert.get(), static_cast<std::time_t>(madeAt)) != 0) return SignatureStatus::OutsideValidity;
  if (!trusting_ || !authorities_->Trust(cert.get(), madeAt)) return SignatureStatus::Untrusted;
  return SignatureStatus::Valid;
}
