// The not-sending mode: the issuer's key and why it is refused, XAdES
// signatures that xmlsec1 accepts against the test authority, a register
// whose records are signed as they are appended, the event log, and the
// checks that find a changed, removed or reordered record or event, a
// signature of another certificate and a register cut short.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <libxml/c14n.h>
#include <libxml/parser.h>

#include "agency/certificate.h"
#include "base/files.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/register.h"
#include "register/xml.h"
#include "signing/canonical.h"
#include "signing/check.h"
#include "signing/events.h"
#include "signing/xades.h"
#include "tests/support/certificates.h"
#include "tests/support/damage.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

const std::string kSchemaDir = std::string(KORVADEL_SOURCE_DIR) + "/tests/data/aeat/";
constexpr const char* kIssuerNif = "B12345678";

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// The test authority's files, and settings naming them.
struct Certificates {
  bool Ok() const { return TestCertificates::Get().Ok(); }
  std::string Path(const std::string& name) const { return TestCertificates::Get().Path(name); }
  // A password file of dir_ is named by its full path.
  VeriFactuSettings Settings(const std::string& cert, const std::string& pw = "pw") const {
    VeriFactuSettings s;
    s.mode = AgencyMode::Keeping;
    s.certificate = cert.empty() ? "" : Path(cert);
    s.passwordFile = pw.empty() ? "" : pw[0] == '/' ? pw : Path(pw);
    s.signingAuthorities = Path("ca.pem");
    return s;
  }
};

const Certificates& Certs() {
  static Certificates certs;
  return certs;
}

RegisterEntry Invoice(int32_t number) {
  RegisterEntry e = FeeInvoiceEntry("A", number, "20270115", 10000 + number);
  e.issuerTaxId = kIssuerNif;
  e.recipientTaxId = "ES12345678Z";
  e.vat = 2100;
  e.total = 12100 + number;
  return e;
}

EventIdentity Identity() {
  EventIdentity id;
  id.software.producerName = "Programari de proves SL";
  id.software.producerNif = "A58818501";
  id.software.systemName = "Korvadel";
  id.software.systemId = "KV";
  id.software.version = "1.1.0";
  id.installation = "0123456789ABCDEF";
  id.issuerNif = kIssuerNif;
  id.issuerName = "Administracions Proves SL";
  return id;
}

std::string RecordXml(const RegisterEntry& e, const RegisterEntry* previous) {
  return RegistroAltaXml(e, previous, "Administracions Proves SL", Identity().software, "0123456789ABCDEF");
}

// What xmlsec1 says of a signed document, checked against the test authority.
bool XmlsecVerifies(const std::string& path) {
  return Shell("xmlsec1 --verify --trusted-pem " + Certs().Path("ca.pem") +
               " --id-attr:Id 'http://uri.etsi.org/01903/v1.3.2#:SignedProperties' " + path) == 0;
}

class SigningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Certs().Ok()) << "openssl could not make the test certificates";
    ASSERT_EQ(key_.Load(Certs().Settings("issuer.p12"), kIssuerNif, std::time(nullptr)), CertificateProblem::None);
  }
  SigningKey key_;
  SignatureVerifier verifier_{Certs().Path("ca.pem")};
  TempRoot dir_;
};

// The certificate's problems are the same whichever mode loads it: the
// not-sending mode's key and the sender's certificate go through one loader.
TEST_F(SigningTest, KeyProblemsNamedAlikeInBothModes) {
  std::string password;
  ASSERT_EQ(ReadRegularFile(Certs().Path("pw"), password), ReadResult::Ok);
  password = password.substr(0, password.find('\n'));
  const auto secret = [&](const char* name, const std::string& text, fs::perms perms) {
    const std::string path = dir_.Write(name, text);
    fs::permissions(path, perms);
    return path;
  };
  const fs::perms own = fs::perms::owner_read | fs::perms::owner_write;
  const std::string groupWrites = secret("pw0620", password + "\n", own | fs::perms::group_write);
  const std::string twoLines = secret("pw2", password + "\nsecond\n", own);
  const std::string crlf = secret("pwcrlf", password + "\r\n", own);
  struct Case {
    const char* name;
    std::string cert, pw, nif;
    std::time_t shift;
    CertificateProblem expected;
    bool sendable = false;  // the sender takes it all the same
  };
  const Case cases[] = {
      {"no certificate set", "", "pw", kIssuerNif, 0, CertificateProblem::NotSet},
      {"certificate file missing", "none.p12", "pw", kIssuerNif, 0, CertificateProblem::Missing},
      {"not a PKCS#12 file", "garbage.p12", "pw", kIssuerNif, 0, CertificateProblem::NotPkcs12},
      {"no password file set", "issuer.p12", "", kIssuerNif, 0, CertificateProblem::PasswordNotSet},
      {"password file missing", "issuer.p12", "nopw", kIssuerNif, 0, CertificateProblem::PasswordMissing},
      {"password readable by others", "issuer.p12", "openpw", kIssuerNif, 0, CertificateProblem::PasswordExposed},
      {"password writable by the group (0620)", "issuer.p12", groupWrites, kIssuerNif, 0,
       CertificateProblem::PasswordExposed},
      {"password file of two lines", "issuer.p12", twoLines, kIssuerNif, 0, CertificateProblem::PasswordNotOneLine},
      {"password ended by CR LF", "issuer.p12", crlf, kIssuerNif, 0, CertificateProblem::None},
      {"wrong password", "issuer.p12", "wrongpw", kIssuerNif, 0, CertificateProblem::WrongPassword},
      {"expired at the run's time", "issuer.p12", "pw", kIssuerNif, 40 * 86400, CertificateProblem::Expired},
      {"not valid yet", "issuer.p12", "pw", kIssuerNif, -2 * 86400, CertificateProblem::NotYetValid},
      {"another NIF's certificate: a proxy may send, only the issuer signs", "other.p12", "pw", kIssuerNif, 0,
       CertificateProblem::NotIssuer, true},
      {"the issuer's NIF from an authority CAFirma= does not name: nothing signed", "stranger.p12", "pw", kIssuerNif,
       0, CertificateProblem::Untrusted, true},
      {"the issuer's", "issuer.p12", "pw", kIssuerNif, 0, CertificateProblem::None},
  };
  ForEachRow(cases, [](const Case& c) {
    SigningKey key;
    const VeriFactuSettings settings = Certs().Settings(c.cert, c.pw);
    EXPECT_EQ(key.Load(settings, c.nif, std::time(nullptr) + c.shift), c.expected) << "not-sending mode";
    EXPECT_EQ(key.Loaded(), c.expected == CertificateProblem::None);
    IssuerCertificate sent;
    std::string detail;
    EXPECT_EQ(LoadIssuerCertificate(settings, "", std::time(nullptr) + c.shift, sent, detail),
              c.sendable ? CertificateProblem::None : c.expected)
        << "sending mode";
  });
}

// A relative Certificat= and ClauCertificat= are the suite root's in either
// mode, wherever the program runs from.
TEST_F(SigningTest, RelativeCertificatePathsAreTheRootsInBothModes) {
  fs::create_directories(fs::path(dir_.Dir()) / "cert");
  fs::copy_file(Certs().Path("issuer.p12"), fs::path(dir_.Dir()) / "cert" / "issuer.p12");
  fs::copy_file(Certs().Path("pw"), fs::path(dir_.Dir()) / "cert" / "pw");
  for (const char* mode : {"envia", "conserva"}) {
    SCOPED_TRACE(mode);
    dir_.Write("Tarn.ini", std::string("[VeriFactu]\r\nMode=") + mode +
                               "\r\nCertificat= cert/issuer.p12 \r\nClauCertificat=cert/pw\r\n");
    const VeriFactuSettings settings = LoadVeriFactuSettings(dir_.Dir());
    EXPECT_EQ(settings.certificate, (fs::path(dir_.Dir()) / "cert" / "issuer.p12").string());
    IssuerCertificate loaded;
    std::string detail;
    EXPECT_EQ(LoadIssuerCertificate(settings, kIssuerNif, std::time(nullptr), loaded, detail), CertificateProblem::None)
        << detail;
  }
}

TEST_F(SigningTest, RecordSignatureAcceptedByXmlsecAndTamperingFound) {
  RegisterEntry e = Invoice(1);
  e.generatedAt = GenerationTimeNow();
  e.fingerprint = ComputeFingerprint(e);
  const std::string xml = RecordXml(e, nullptr);
  std::string signedXml;
  std::string error;
  ASSERT_TRUE(key_.Sign(xml, "", e.generatedAt, e.fingerprint, signedXml, error)) << error;
  for (const std::string& part : std::vector<std::string>{"<xades:SigningTime>" + e.generatedAt + "</xades:SigningTime>",
                           "<xades:Identifier>urn:oid:2.16.724.1.3.1.1.2.1.9</xades:Identifier>",
                           "G7roucf600+f03r/o0bAOQ6WAs0=", "xmldsig-more#rsa-sha256", "<xades:MimeType>text/xml",
                           "<ds:X509Certificate>\nMII"})
    EXPECT_NE(signedXml.find(part), std::string::npos) << part;
  EXPECT_EQ(signedXml.rfind("</ds:Signature>\n</sf:RegistroAlta>"), signedXml.size() - 35);
  EXPECT_TRUE(XmlsecVerifies(dir_.Write("signed.xml", signedXml)));
  const int64_t at = std::time(nullptr);
  EXPECT_EQ(verifier_.Check(signedXml, kIssuerNif, at), SignatureStatus::Valid);
  EXPECT_EQ(verifier_.Check(signedXml, "12345678Z", at), SignatureStatus::NotIssuer);
  EXPECT_EQ(verifier_.Check(signedXml, kIssuerNif, at + 60 * 86400), SignatureStatus::OutsideValidity);
  EXPECT_EQ(verifier_.Check(xml, kIssuerNif, at), SignatureStatus::Missing);

  // One byte of the signed data, of the signed properties, of the value.
  struct Case {
    const char* name;
    std::string from, to;
    SignatureStatus expected;  // which part: the data, or the signed properties
  };
  const Case cases[] = {
      {"a digit of the total", "<sf:ImporteTotal>121.01", "<sf:ImporteTotal>121.02", SignatureStatus::Broken},
      {"the signing time", "</xades:SigningTime>", "Z</xades:SigningTime>", SignatureStatus::WrongProperties},
      {"the policy", "2.1.9</xades:Identifier>", "2.1.8</xades:Identifier>", SignatureStatus::WrongProperties},
  };
  ForEachRow(cases, [&](const Case& c) {
    std::string changed = signedXml;
    const size_t where = changed.find(c.from);
    ASSERT_NE(where, std::string::npos);
    changed.replace(where, c.from.size(), c.to);
    EXPECT_FALSE(XmlsecVerifies(dir_.Write("changed.xml", changed)));
    EXPECT_EQ(verifier_.Check(changed, kIssuerNif, at), c.expected);
  });

  // Signed again by another certificate of the same authority: sound for
  // xmlsec1, refused as not the issuer's.
  SigningKey other;
  ASSERT_EQ(other.Load(Certs().Settings("other.p12"), "12345678Z", at), CertificateProblem::None);
  std::string forged;
  ASSERT_TRUE(other.Sign(xml, "", e.generatedAt, e.fingerprint, forged, error));
  EXPECT_TRUE(XmlsecVerifies(dir_.Write("forged.xml", forged)));
  EXPECT_EQ(verifier_.Check(forged, kIssuerNif, at), SignatureStatus::NotIssuer);

  // Signed by a certificate for the issuer's NIF from another authority:
  // refused as not of an authority the settings trust.
  SigningKey stranger;
  VeriFactuSettings strangers = Certs().Settings("stranger.p12");
  strangers.signingAuthorities = Certs().Path("ca2.pem");
  ASSERT_EQ(stranger.Load(strangers, kIssuerNif, at), CertificateProblem::None);
  ASSERT_TRUE(stranger.Sign(xml, "", e.generatedAt, e.fingerprint, forged, error));
  EXPECT_FALSE(XmlsecVerifies(dir_.Write("stranger.xml", forged)));
  EXPECT_EQ(verifier_.Check(forged, kIssuerNif, at), SignatureStatus::Untrusted);
}

// The canonical form read from the text is libxml2's canonical form of the
// parsed document, or is declined (and libxmlsec1 signs instead).
// Whether the text is read into canonical form or signed by libxmlsec1, the
// signature is sound and the document is kept as given, the signature
// placed before the end tag named.
TEST_F(SigningTest, DocumentsSignedAsGiven) {
  RegisterEntry e = Invoice(2);
  e.recipientName = "L'Estel d'en Puig \"SA\" & <Fills>";
  e.generatedAt = GenerationTimeNow();
  e.fingerprint = ComputeFingerprint(e);
  struct Case {
    const char* name;
    std::string xml, closingTag;
  };
  const Case cases[] = {
      {"record whose name has quotes", RecordXml(e, nullptr), ""},
      {"element inside, default and nested namespaces",
       "<a:r xmlns:a=\"urn:a\" xmlns=\"urn:d\"><x>1</x><e xmlns:b=\"urn:b\"><b:y>2</b:y>\n</e></a:r>", "</e>"},
      {"declaration and comment (libxmlsec1)",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r><!-- n --><x a=\"1\"/>\n</r>\n", ""},
  };
  ForEachRow(cases, [&](const Case& c) {
    std::string signedXml;
    std::string error;
    ASSERT_TRUE(key_.Sign(c.xml, c.closingTag, e.generatedAt, e.fingerprint, signedXml, error)) << error;
    EXPECT_EQ(verifier_.Check(signedXml, kIssuerNif, std::time(nullptr)), SignatureStatus::Valid);
    EXPECT_TRUE(XmlsecVerifies(dir_.Write("signed.xml", signedXml)));
    const size_t at = c.closingTag.empty() ? c.xml.rfind("</") : c.xml.rfind(c.closingTag);
    const size_t start = c.xml.find('<');
    const size_t signature = signedXml.find("<ds:Signature");
    const size_t after = signedXml.find("</ds:Signature>\n") + 16;
    EXPECT_EQ(signedXml.substr(0, signature), c.xml.substr(start, at - start));
    EXPECT_EQ(signedXml.substr(after), c.xml.substr(at, c.xml.find_last_not_of('\n') + 1 - at) + "\n");
  });
}

TEST(CanonicalXml, SameAsLibxml2OrDeclined) {
  struct Case {
    const char* name;
    std::string xml;
    bool read;
  };
  const Case cases[] = {
      {"plain record", "<sf:R xmlns:sf=\"urn:sf\">\n  <sf:N>L&apos;Estel &amp; &quot;Fills&quot; a&gt;b</sf:N>\n</sf:R>\n", true},
      {"empty elements, attributes and declarations out of order",
       "<r xmlns:b=\"urn:b\" z=\"1\" a=\"&lt;&amp;>\" xmlns=\"urn:d\"><b:c y=\"a&#x9;b\" x='&quot;'/>t</r>", true},
      {"a declaration an ancestor made", "<r xmlns:a=\"urn:a\"><a:x xmlns:a=\"urn:a\" xmlns:c=\"urn:c\">y</a:x></r>", true},
      {"the default undone", "<r xmlns=\"urn:d\"><x xmlns=\"\"><y xmlns=\"\">z</y></x></r>", true},
      {"blanks in tags, line ends in values", "<r\n  b=\"1\"\n  a=\"x\ny\" ><s/></r >", true},
      {"references and UTF-8", "<r a=\"&#10;\">&#65;&#x20AC;&#13;Pe\xc3\xb1" "a \xf0\x9f\x98\x80</r>", true},
      {"XML declaration", "<?xml version=\"1.0\"?>\n<r></r>", false},
      {"comment", "<r><!-- x --></r>", false},
      {"CDATA", "<r><![CDATA[x]]></r>", false},
      {"prefixed attribute", "<r xmlns:a=\"urn:a\" a:b=\"1\"></r>", false},
      {"carriage return", "<r>a\r\nb</r>", false},
      {"broken UTF-8", "<r>\xc3(</r>", false},
      {"overlong UTF-8", "<r>\xc0\xaf</r>", false},
      {"control character", "<r>\x01</r>", false},
      {"undeclared prefix", "<a:r></a:r>", false},
      {"end tag of another element", "<r><s></r></s>", false},
      {"text after the root", "<r></r>x", false},
      {"unknown entity", "<r>&nbsp;</r>", false},
      {"two attributes of one name", "<r a=\"1\" a=\"2\"></r>", false},
  };
  ForEachRow(cases, [](const Case& c) {
    std::string canonical;
    NamespaceList inScope;
    const bool read = CanonicalXml(c.xml, c.xml.rfind("</"), canonical, inScope);
    ASSERT_EQ(read, c.read);
    if (!read) return;
    xmlDoc* doc = xmlReadMemory(c.xml.data(), static_cast<int>(c.xml.size()), nullptr, "UTF-8", XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr);
    xmlChar* expected = nullptr;
    const int size = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 0, &expected);
    xmlFreeDoc(doc);
    ASSERT_GE(size, 0);
    EXPECT_EQ(canonical, std::string(reinterpret_cast<char*>(expected), static_cast<size_t>(size)));
    xmlFree(expected);
  });
}

TEST(MustBeSigned, RecordsMadeWhileTheModeWasOn) {
  auto event = [](const char* type, int32_t tail) {
    EventEntry e;
    e.type = type;
    e.tailSequence = tail;
    return e;
  };
  // On after record 3, off after 7 (records sent meanwhile), on again after 9.
  const std::vector<EventEntry> events = {event("01", 3), event("90", 5), event("02", 7), event("01", 9),
                                          event("10", 12)};
  struct Case {
    int32_t sequence;
    bool expected;
  };
  const Case cases[] = {{1, false}, {3, false}, {4, true}, {7, true}, {8, false}, {9, false}, {10, true}, {99, true}};
  ForEachRow(cases, [&](const Case& c) { EXPECT_EQ(MustBeSigned(events, c.sequence), c.expected) << c.sequence; });
  EXPECT_FALSE(MustBeSigned({}, 1));
}

// A register appended to with its records signed as they are made, and an
// event log beside it.
class SignedRegisterTest : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    ASSERT_EQ(::mkdir((dir_.Dir() + "DADES").c_str(), 0755), 0);
    Reopen();
    ASSERT_EQ(signed_.Open(dir_.Dir() + "DADES/RegSigna", false), 0);
    ASSERT_EQ(log_.Open(dir_.Dir(), false), 0);
    start_ = std::time(nullptr);  // not before the certificates SigningTest made
    Log(EventType::ModeStart);
  }

  void Reopen() {
    register_ = std::make_unique<InvoiceRegister>();
    ASSERT_EQ(register_->Open(dir_.Dir() + "DADES/RegFact2", "", false), 0);
  }
  // Copies the register's database (and its write-ahead log) from one
  // folder name to another while it is closed.
  void CopyRegister(const std::string& from, const std::string& to) {
    register_.reset();
    for (const char* suffix : {"", "-wal"}) {
      std::filesystem::remove(to + suffix);
      if (std::filesystem::exists(from + suffix)) std::filesystem::copy_file(from + suffix, to + suffix);
    }
    std::filesystem::remove(to + "-shm");
    Reopen();
  }

  // A clock that moves on a second at each reading, from the test's start
  // (within the minute a time may be ahead of the checks' clock): each
  // record and event has a time of its own.
  std::string Clock() {
    const std::time_t at = start_ + ticks_++;
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
    return text;
  }

  void Append(int32_t first, int32_t count) {
    std::vector<RegisterEntry> entries;
    for (int32_t n = first; n < first + count; ++n) entries.push_back(Invoice(n));
    RegisterRefusal refusal;
    std::string error;
    ASSERT_EQ(register_->Append(
                  entries, [this] { return Clock(); }, refusal, {},
                  [](const RegisterEntry& e, const RegisterEntry* previous) { return RecordXml(e, previous); },
                  {},
                  [&](const std::vector<RegisterEntry>& written) { return SignAndKeep(written, key_, signed_, error); }),
              0)
        << error;
    Log(EventType::Other);
  }

  void Log(EventType type) {
    std::vector<RegisterEntry> chain;
    ASSERT_EQ(register_->ReadAll(chain), 0);
    const int32_t tail = chain.empty() ? 0 : chain.back().sequence;
    ASSERT_EQ(log_.Append(type, "", tail, chain.empty() ? "" : chain.back().fingerprint, Identity(), key_,
                          [this] { return Clock(); }),
              0);
  }

  CheckReport Check() {
    CheckInput input;
    EXPECT_EQ(register_->ReadAll(input.chain), 0);
    std::vector<KeptRecord> records;
    EXPECT_EQ(signed_.ReadAll(records), 0);
    for (const KeptRecord& r : records) input.signedRecords[r.sequence] = r;
    EXPECT_EQ(log_.ReadAll(input.events), 0);
    input.identity = Identity();
    input.now = std::time(nullptr);
    return CheckEverything(input, verifier_);
  }

  std::string Found(const CheckReport& report) {
    std::string out;
    for (const Finding& f : report.findings)
      out += std::string(f.onEvents ? "E" : "R") + std::to_string(f.sequence) + ":" +
             std::to_string(static_cast<int>(f.type)) + " ";
    return out;
  }

  std::unique_ptr<InvoiceRegister> register_;
  KeptFile signed_;
  EventLog log_;
  std::time_t start_ = 0;
  int ticks_ = 0;
};

TEST_F(SignedRegisterTest, SoundRegisterAndLogPassAndEventsValidate) {
  Append(1, 3);
  Append(4, 2);
  const CheckReport report = Check();
  EXPECT_EQ(report.records, 5);
  EXPECT_EQ(report.events, 3);
  EXPECT_EQ(Found(report), "");

  // Records taken out of the signed file verify on their own; events
  // validate against the agency's schema and verify too.
  std::vector<KeptRecord> records;
  ASSERT_EQ(signed_.ReadAll(records), 0);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_TRUE(XmlsecVerifies(dir_.Write("r5.xml", KeptXml(records[4].bytes, SignedRecordFields::XmlLength,
                                                          SignedRecordFields::Xml))));
  std::vector<EventEntry> events;
  ASSERT_EQ(log_.ReadAll(events), 0);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2].tailSequence, 5);
  for (size_t i = 1; i < events.size(); ++i) {  // each chained to the one before, its time included
    EXPECT_NE(events[i].generatedAt, events[i - 1].generatedAt);
    EXPECT_NE(events[i].xml.find("<sf:EventoAnterior><sf:TipoEvento>" + events[i - 1].type +
                                 "</sf:TipoEvento><sf:FechaHoraHusoGenEvento>" + events[i - 1].generatedAt + "<"),
              std::string::npos)
        << events[i].xml;
  }
  for (const EventEntry& e : events) {
    const std::string path = dir_.Write("event.xml", e.xml);
    EXPECT_EQ(Shell("xmllint --noout --schema " + kSchemaDir + "EventosSIF.xsd " + path), 0) << e.xml;
    EXPECT_TRUE(XmlsecVerifies(path));
  }
  EXPECT_FALSE(AnomalyStands(events));
}

TEST_F(SignedRegisterTest, TamperingNamed) {
  Append(1, 3);
  Append(4, 1);
  const std::string registerPath = dir_.Dir() + "DADES/RegFact2.dat";
  const std::string signedPath = dir_.Dir() + "DADES/RegSigna.dat";
  const std::string eventPath = dir_.Dir() + "DADES/RegEvent.dat";
  struct Case {
    const char* name;
    std::string path;
    std::string key;
    size_t offset;  // a byte changed there
    std::string expected;
  };
  const Case cases[] = {
      {"a record's VAT", registerPath, SeriesNumberKey("A", 2), RegisterFields::Vat.offset, "R2:1 R2:3 "},
      {"a record's recipient (outside the fingerprint)", registerPath, SeriesNumberKey("A", 2),
       RegisterFields::RecipientName.offset, "R2:3 "},
      {"a record's previous fingerprint", registerPath, SeriesNumberKey("A", 3),
       RegisterFields::PreviousFingerprint.offset, "R3:8 R3:1 R3:3 "},
      {"a record's total", registerPath, SeriesNumberKey("A", 1), RegisterFields::Total.offset, "R1:3 "},
      {"a record's generation time", registerPath, SeriesNumberKey("A", 4), RegisterFields::GeneratedAt.offset + 2,
       "R4:1 R4:3 R4:13 R4:2 "},
      {"a record's fingerprint", registerPath, SeriesNumberKey("A", 4), RegisterFields::Fingerprint.offset,
       "R4:1 R4:3 R4:2 R4:6 "},
      {"a record's kept XML", registerPath, SeriesNumberKey("A", 2), RegisterFields::Xml.offset + 50, "R2:3 R2:3 "},
      {"a record's seal", registerPath, SeriesNumberKey("A", 2), RegisterFields::Seal.offset, "R2:3 R3:3 "},
      {"a signed record's fingerprint", signedPath, NumberKey(3), SignedRecordFields::Fingerprint.offset, "R3:2 "},
      {"an event's time", eventPath, NumberKey(2), EventFields::GeneratedAt.offset + 3, "E2:1 E2:13 E2:2 E3:11 "},
      {"an event's previous fingerprint", eventPath, NumberKey(3), EventFields::PreviousFingerprint.offset,
       "E3:8 E3:1 "},
      {"an event's fingerprint", eventPath, NumberKey(1), EventFields::Fingerprint.offset, "E1:1 E1:3 E2:8 "},
      {"a signed record's XML", signedPath, NumberKey(2), SignedRecordFields::Xml.offset + 40, "R2:2 "},
      {"an event's type", eventPath, NumberKey(2), EventFields::Type.offset + 1, "E2:1 E2:3 "},
      {"an event's signed XML", eventPath, NumberKey(3), EventFields::Xml.offset + 60, "E3:2 "},
      {"an event's tail", eventPath, NumberKey(3), EventFields::TailSequence.offset, "R4:5 E3:3 "},
      {"an event's tail fingerprint", eventPath, NumberKey(3), EventFields::TailFingerprint.offset, "R4:6 E3:3 "},
      {"a signed record's XML length", signedPath, NumberKey(1), SignedRecordFields::XmlLength.offset, "R1:3 "},
      {"an event's XML length", eventPath, NumberKey(2), EventFields::XmlLength.offset, "E2:3 "},
      {"a record's withholding", registerPath, SeriesNumberKey("A", 3), RegisterFields::Withholding.offset, "R3:3 "},
  };
  ForEachRow(cases, [&](const Case& c) {
    std::string saved;
    ASSERT_EQ(ChangeStoredRecord(c.path, c.key, [&](std::string& r) {
                saved = r;
                r[c.offset] = static_cast<char>(r[c.offset] ^ 0x01);
              }),
              0);
    EXPECT_EQ(Found(Check()), c.expected);
    ASSERT_EQ(ChangeStoredRecord(c.path, c.key, [&](std::string& r) { r = saved; }), 0);
  });
  EXPECT_EQ(Found(Check()), "");
}

TEST_F(SignedRegisterTest, TailCutOrOlderCopyFound) {
  Append(1, 3);
  const std::string current = dir_.Dir() + "DADES/RegFact2.dat";
  const std::string older = dir_.Dir() + "older.dat";
  CopyRegister(current, older);
  Append(4, 2);
  // The last record removed by hand: the log names record 5.
  register_.reset();
  {
    uint8_t position[128] = {};
    std::string path = dir_.Dir() + "DADES/RegFact2.dat";
    std::vector<uint8_t> rec(RegisterRecordSize);
    uint8_t key[256] = {};
    path.copy(reinterpret_cast<char*>(key), path.size());
    uint32_t len = 0;
    char owner[8] = {};
    ASSERT_EQ(RecordManagerCall(RmOpen, position, owner, &len, key, 255, 0), 0);
    len = RegisterRecordSize;
    ASSERT_EQ(RecordManagerCall(RmGetLast, position, rec.data(), &len, key, 255, 3), 0);
    len = RegisterRecordSize;
    ASSERT_EQ(RecordManagerCall(RmDelete, position, rec.data(), &len, key, 255, 3), 0);
    len = 0;
    ASSERT_EQ(RecordManagerCall(RmClose, position, nullptr, &len, key, 255, 0), 0);
  }
  Reopen();
  EXPECT_EQ(Found(Check()), "R4:5 ");
  // The older copy put back: three records where the log names five.
  CopyRegister(older, current);
  EXPECT_EQ(Found(Check()), "R3:5 ");
  // The check's anomaly stands in the log until a check finds none or the
  // restoration is confirmed, whose event names the new tail.
  std::vector<EventEntry> events;
  Log(EventType::RecordCheck);
  Log(EventType::RecordAnomaly);
  Log(EventType::EventCheck);
  ASSERT_EQ(log_.ReadAll(events), 0);
  EXPECT_TRUE(AnomalyStands(events));
  Log(EventType::Restored);
  ASSERT_EQ(log_.ReadAll(events), 0);
  EXPECT_FALSE(AnomalyStands(events));
  EXPECT_EQ(Found(Check()), "");
}

// A run killed while its records are signed, or after they are kept and
// before the register commits: the register holds no record of it, and
// the next run goes on as if it had not started.
TEST_F(SignedRegisterTest, KillWhileSigningLeavesNoUnsignedRecord) {
  Append(1, 2);
  for (bool afterKeeping : {false, true}) {
    SCOPED_TRACE(afterKeeping ? "killed after keeping" : "killed while signing");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The child's own handles: the parent's cannot cross the fork.
      InvoiceRegister reg;
      KeptFile kept;
      SigningKey key;
      if (reg.Open(dir_.Dir() + "DADES/RegFact2", "", false) != 0 || kept.Open(dir_.Dir() + "DADES/RegSigna", false) != 0 ||
          key.Load(Certs().Settings("issuer.p12"), kIssuerNif, std::time(nullptr)) != CertificateProblem::None)
        ::_exit(1);
      std::vector<RegisterEntry> entries = {Invoice(3), Invoice(4)};
      RegisterRefusal refusal;
      (void)reg.Append(
          entries, GenerationTimeNow, refusal, {},
          [](const RegisterEntry& e, const RegisterEntry* previous) { return RecordXml(e, previous); },
          {},
          [&](const std::vector<RegisterEntry>& written) -> int16_t {
            std::string error;
            if (afterKeeping) (void)SignAndKeep(written, key, kept, error);
            ::_exit(9);
          });
      ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
    EXPECT_EQ(Found(Check()), "");
    std::vector<RegisterEntry> chain;
    ASSERT_EQ(register_->ReadAll(chain), 0);
    EXPECT_EQ(chain.size(), 2u);
  }
  Append(3, 2);
  EXPECT_EQ(Found(Check()), "");
  std::vector<KeptRecord> records;
  ASSERT_EQ(signed_.ReadAll(records), 0);
  EXPECT_EQ(records.size(), 4u);
}

}  // namespace
