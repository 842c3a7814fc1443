// Invoices by e-mail: addresses, names, amounts and header words in tables,
// then zepfact mail against a real SMTP server (tests/suite/smtp_server.py,
// aiosmtpd) with STARTTLS on certificates made here by openssl and a login,
// its PDFs made from an archived run by the real print program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mail/address.h"
#include "mail/log.h"
#include "mail/message.h"
#include "mail/sending.h"
#include "mail/settings.h"
#include "recman/recman.h"
#include "records/dictionaries.h"
#include "records/layouts.h"
#include "register/amend.h"
#include "register/register.h"
#include "tests/support/ready_pipe.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(MailParts, AddressesNamesAmountsAndHeaderWords) {
  struct AddressCase {
    const char* text;
    bool good;
  };
  const AddressCase addresses[] = {
      {"anna.sala@example.net", true},   {"o'neil+factures@a-b.example.com", true},
      {"x@example", false},              {"@example.com", false},
      {"anna@", false},                  {"anna sala@example.com", false},
      {".anna@example.com", false},      {"an..na@example.com", false},
      {"anna@-example.com", false},      {"anna@example..com", false},
      {"n\x81ria@example.com", false},   {"a@b@example.com", false},
      {"anna@example.com\r\nBcc: x@y.z", false},
  };
  ForEachRow(addresses, [](const AddressCase& c) { EXPECT_EQ(IsMailAddress(c.text), c.good) << c.text; });

  // Each series its own file name, the number's eight digits.
  EXPECT_EQ(InvoicePdfFileName("A", 7), "A-00000007.pdf");
  EXPECT_EQ(InvoicePdfFileName("R-2", 12345678), "R-2-12345678.pdf");
  EXPECT_EQ(InvoicePdfFileName("A/B", 1), "A_2FB-00000001.pdf");
  EXPECT_NE(InvoicePdfFileName("A B", 1), InvoicePdfFileName("A_20B", 1));

  EXPECT_EQ(MailAmount(123456789, ',', '.'), "1.234.567,89 \xd5");
  EXPECT_EQ(MailAmount(-5, ',', '.'), "-0,05 \xd5");
  EXPECT_EQ(MailAmount(100000, '.', ' '), "1 000.00 \xd5");

  // Encoded words hold whole UTF-8 characters and stay within 75 characters.
  EXPECT_EQ(EncodedHeaderValue("Factura A/00000001"), "Factura A/00000001");
  const std::string long_text = "Factures de Jordi Vilar\xc3\xb3 i Puigdevall: A/00000001, A/00000002, A/00000003";
  const std::string encoded = EncodedHeaderValue(long_text);
  std::istringstream lines(encoded);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 77u) << line;
  EXPECT_EQ(encoded.find("=?UTF-8?B?"), 0u);

  // A torn last line and a line of another shape are not read; only the
  // second is damage, named by its number.
  size_t damaged = 0;
  const std::vector<MailLogLine> read = ParseMailLog(
      "t\tA\t00000001\ta@b.cd\ttrying\t<m>\t-\nt\tA\t00000001\ta@b.cd\tsent\t<m>\t250 OK\nbroken line\n"
      "t\tA\t00000002\ta@b.cd\tsent\t<m>\t250",
      &damaged);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(LastMailStates(read).at(MailKey{"A", 1, "a@b.cd"}).state, MailState::Sent);
  EXPECT_EQ(damaged, 3u);
  static_cast<void>(ParseMailLog("t\tA\t00000001\ta@b.cd\tsent\t<m>\t250 OK\nt\tA\t0000", &damaged));
  EXPECT_EQ(damaged, 0u);
}

// A suite root with a register of one archived run: owners 1 (two
// invoices, one address), 2 (two addresses, the second deferred once),
// 3 (an address the server rejects), 4 (no record of addresses), 5 (an
// address that does not parse, and one whose connection is dropped).
class MailProgram : public ::testing::Test {
 protected:
  static constexpr const char* kArchive = "F00000006-270501100000.zsp";

  void SetUp() override {
    dir_ = root_.Dir();
    root_.Write("Tarn.ini", Settings());
    root_.Write("pw", "secret-pass-91\n");
    ::chmod((dir_ + "pw").c_str(), 0600);
    fs::create_directories(dir_ + "DADES");
    fs::create_directories(dir_ + "out");
    MakeCertificates();
    MakeRegister();
    MakeAddresses();
  }

  void TearDown() override { StopServer(); }

  // trustTestCa: CAServidor names the authority of the test's server;
  // otherwise the system's authorities are the only ones trusted.
  std::string Settings(bool trustTestCa = true) {
    return "[Usuari]\r\nIdioma=CAT\r\n[Emissor]\r\nNom=Jordi Vilar\xa2 i Puigdevall\r\nNIF=12345678Z\r\n"
           "[Correu]\r\nActiu=S\r\nServidor=" + std::string(implicit_ ? "smtps://" : "") + "localhost\r\nPort=" +
           std::to_string(port_) + "\r\nUsuari=gestoria\r\nClauUsuari=" + dir_ +
           "pw\r\nRemitent=factures@gestoria.example.com\r\n" + (trustTestCa ? "CAServidor=" + dir_ + "ca.pem\r\n" : "");
  }

  void MakeCertificates() {
    const std::string script =
        "cd '" + dir_ + "' && (openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout ca.key -out ca.pem -subj /CN=Test-CA -days 2 && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout srv.key -out srv.csr "
        "-subj /CN=localhost && printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\\n' > san && "
        "openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out srv.pem -days 2 -extfile san)";
    ASSERT_EQ(std::system((script + " > openssl.log 2>&1").c_str()), 0) << ReadText(dir_ + "openssl.log");
  }

  RegisterEntry Invoice(int32_t number, int owner, int32_t total) {
    RegisterEntry e = FeeInvoiceEntry("A", number, "20270501", total);
    e.ownerCode = std::string("\x80", 1) + static_cast<char>(128 + owner);
    e.recipientName = "Propietari " + std::to_string(owner);
    e.vatRate = e.vat = 0;
    e.total = total;
    e.archive = kArchive;
    e.page = number - 5;
    return e;
  }

  void MakeRegister() {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(dir_ + "DADES/RegFact2.dat",
                       std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/RegFact2.xdf", false),
              0);
    // Owner 6 has an invoice without series, owner 7 one cancelled since.
    std::vector<RegisterEntry> entries = {Invoice(6, 1, 12100), Invoice(7, 1, 24200), Invoice(8, 2, 1000),
                                          Invoice(9, 3, 2000),  Invoice(10, 4, 3000), Invoice(11, 5, 4000),
                                          Invoice(12, 7, 5000), Invoice(13, 6, 6000)};
    entries[7].series.clear();
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, [] { return std::string("2027-05-01T10:00:00+02:00"); }, refusal), 0);
    std::vector<RegisterEntry> cancellation = {CancellationOf(entries[6])};
    ASSERT_EQ(reg.Append(cancellation, [] { return std::string("2027-05-01T10:05:00+02:00"); }, refusal), 0);
    std::string spool = "DEVICE/elsewhere/factures.pdf\r\n";
    for (int n = 6; n <= 13; ++n) spool += "PAGE 24 \r\n 10 ,FACTURA A/" + std::to_string(100000000 + n).substr(1) + ", 0 \r\n";
    root_.Write(std::string("ARXIU/") + kArchive, spool);
    // The run's figures of its first two pages, and the stationery they fill.
    root_.Write(std::string("ARXIU/F00000006-270501100000.fig"),
                "1\tNumero\tA/00000006\n1\tVenciment\t31 de maig de 2027\n1\tPeriode\tabril 2027\n"
                "1\tBase\t121,00\n1\tTotal\t121,00 EUR\n1\tIdioma\tCAT\n"
                "2\tNumero\tA/00000007\n2\tVenciment\t1 de juny de 2027\n2\tPeriode\tmar\xc3\xa7 - abril 2027\n"
                "2\tBase\t242,00\n2\tTotal\t242,00 EUR\n2\tIdioma\tCAT\n");
    fs::copy(std::string(KORVADEL_SOURCE_DIR) + "/install/IMPRES", dir_ + "IMPRES");
  }

  void MakeAddresses() {
    const std::string file = dir_ + "DADES/CorreuV.dat";
    const std::string spec = CreationSpecification(MailAddressDictionaryBaseName);
    uint8_t block[128] = {};
    char key[256] = {};
    file.copy(key, file.size());
    std::string data = spec;
    uint32_t length = static_cast<uint32_t>(data.size());
    ASSERT_EQ(RecordManagerCall(RmCreate, block, data.data(), &length, key, 255, -1), 0);
    length = 0;
    ASSERT_EQ(RecordManagerCall(RmOpen, block, nullptr, &length, key, 255, 0), 0);
    const std::vector<std::pair<int, std::vector<std::string>>> owners = {
        {1, {"anna@example.com"}},
        {2, {"pere@example.com", "later@example.com"}},
        {3, {"nobody@example.com"}},
        {5, {"not an address", "drop@example.com"}},
        {6, {"unseried@example.com"}},
        {7, {"cancelled@example.com"}},
    };
    for (const auto& [owner, addresses] : owners) {
      uint8_t record[MailAddressRecordSize];
      std::memset(record, ' ', sizeof record);
      SetMailOwnerCode(record, std::string("\x80", 1) + static_cast<char>(128 + owner));
      for (size_t i = 0; i < addresses.size(); ++i) SetMailAddress(record, static_cast<int>(i + 1), addresses[i]);
      SetMailWantsPaper(record, false);
      length = sizeof record;
      ASSERT_EQ(RecordManagerCall(RmInsert, block, record, &length, key, 255, 0), 0);
    }
    length = 0;
    ASSERT_EQ(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0), 0);
  }

  // implicit: TLS from the first byte; plain: no TLS offered at all.
  void StartServer(bool implicit = false, bool plain = false) {
    implicit_ = implicit;
    ReadyPipe ready;
    const std::string command = "/usr/bin/python3 '" KORVADEL_SOURCE_DIR "/tests/suite/smtp_server.py' " +
                                std::string(implicit ? "--implicit " : "") + (plain ? "--plain " : "") + "--cert '" +
                                dir_ + "srv.pem' --key '" + dir_ + "srv.key' --user gestoria --password secret-pass-91 --out '" +
                                dir_ + "out' --port-file '" + dir_ + "port' --ready-fd " +
                                std::to_string(ready.WriteEnd()) + " --reject nobody@example.com "
                                "--defer-once later@example.com --drop drop@example.com 2> '" + dir_ + "server.log'";
    server_ = ::popen(command.c_str(), "w");
    ASSERT_NE(server_, nullptr);
    port_ = ready.Port();
    ASSERT_GT(port_, 0) << ReadText(dir_ + "server.log");
    root_.Write("Tarn.ini", Settings());
  }

  void StopServer() {
    if (server_ != nullptr) ::pclose(server_);
    server_ = nullptr;
  }

  // text stands once in what the last run wrote, and no invoice is said to
  // be tried again.
  void ExpectToldOnce(const std::string& text) {
    const size_t at = out_.find(text);
    EXPECT_NE(at, std::string::npos) << out_;
    if (at != std::string::npos) {
      EXPECT_EQ(out_.find(text, at + 1), std::string::npos) << out_;
    }
    EXPECT_EQ(out_.find("reintent"), std::string::npos) << out_;
  }

  int Run(const std::string& args) {
    const std::string command = "cd '" + dir_ + "' && env -u ZEPTMP TMPDIR='" + dir_ + "' ZEPEXE='" ZEPPRINT_DIR
                                "' ZEPROOT='" + dir_ + "' '" ZEPFACT_PROGRAM "' " + args + " > run.out 2> run.err";
    const int status = std::system(command.c_str());
    out_ = ReadText(dir_ + "run.out") + ReadText(dir_ + "run.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The messages the server took: one line each (smtp_server.py).
  std::vector<std::string> Received() {
    std::vector<std::string> lines;
    std::istringstream in(ReadText(dir_ + "out/received.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The last state of each invoice and address in the send log.
  std::map<std::string, std::string> LogStates() {
    std::map<std::string, std::string> states;
    for (const auto& [key, line] : LastMailStates(ParseMailLog(ReadText(dir_ + "DADES/CorreuFact.log"))))
      states[std::to_string(std::get<1>(key)) + " " + std::get<2>(key)] = MailStateName(line.state);
    return states;
  }

  TempRoot root_;
  std::string dir_;
  std::string out_;
  FILE* server_ = nullptr;
  int port_ = 1;
  bool implicit_ = false;
};

TEST_F(MailProgram, EachOwnerOneMessageEachInvoiceOnceTheLogAfterFailures) {
  StartServer();
  const std::string run = std::string("mail --run ") + kArchive;

  // A run not in the register has nothing to send; a dry run sends and
  // notes nothing.
  EXPECT_EQ(Run("mail --run F00000099-270501100000.zsp"), 0);
  EXPECT_EQ(out_, "Cap factura per enviar\n");
  EXPECT_EQ(Run(run + " --dry-run"), 0) << out_;
  EXPECT_NE(out_.find("s'enviaria"), std::string::npos) << out_;
  // A cancelled invoice is never sent, a cancellation record is no invoice.
  EXPECT_EQ(Run("mail --from 01-05-2027 --dry-run"), 0) << out_;
  EXPECT_EQ(out_.find("cancelled@"), std::string::npos) << out_;
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 9) << "one line per invoice and address: " << out_;
  EXPECT_EQ(out_.find("escrites"), std::string::npos) << "the print program's own line: " << out_;
  EXPECT_TRUE(fs::exists(dir_ + "ARXIU/A-00000011.pdf")) << "PDFs made from the archived run";
  EXPECT_TRUE(Received().empty());
  EXPECT_FALSE(fs::exists(dir_ + "DADES/CorreuFact.log"));

  // A password file others may read is refused; a wrong password is a
  // login the server refuses: nothing goes, everything stays to be tried.
  ::chmod((dir_ + "pw").c_str(), 0644);
  EXPECT_EQ(Run(run), 1);
  EXPECT_NE(out_.find("chmod 600"), std::string::npos) << out_;
  // One rule for every password file: a second line is not taken as a guess.
  root_.Write("pw", "secret-pass-91\nold-pass\n");
  ::chmod((dir_ + "pw").c_str(), 0600);
  EXPECT_EQ(Run(run), 1);
  EXPECT_NE(out_.find("una sola l\xc3\xadnia"), std::string::npos) << out_;
  root_.Write("pw", "wrong-pass-37\n");
  ::chmod((dir_ + "pw").c_str(), 0600);
  EXPECT_EQ(Run(run), 1);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(LogStates()["6 anna@example.com"], "temporary");
  // A settings problem, told once with the setting to change; nothing is
  // said to be retried.
  ExpectToldOnce("no accepta l'usuari o la contrasenya: reviseu Tarn.ini [Correu] Usuari= i el fitxer de ClauUsuari=");
  const std::string log = ReadText(dir_ + "DADES/CorreuFact.log");
  EXPECT_EQ(log.find("wrong-pass-37"), std::string::npos);
  EXPECT_EQ(out_.find("wrong-pass-37"), std::string::npos);

  // The right password: each owner one message with the PDFs of their
  // invoices; the rejected, deferred and dropped ones are noted as such.
  root_.Write("pw", "secret-pass-91\n");
  EXPECT_EQ(Run(run), 1) << out_;
  std::vector<std::string> received = Received();
  ASSERT_EQ(received.size(), 3u) << out_;
  EXPECT_EQ(received[0].substr(0, received[0].find('|')), "anna@example.com");
  EXPECT_NE(received[0].find("|Factures A/00000006, A/00000007|yes|<"), std::string::npos) << received[0];
  EXPECT_NE(received[0].find("@gestoria.example.com>|utf-8|A-00000006.pdf:application/pdf,A-00000007.pdf:application/pdf"),
            std::string::npos) << received[0];
  EXPECT_EQ(received[1].substr(0, received[1].find('|')), "pere@example.com");
  const std::string text = ReadText(dir_ + "out/1.txt");
  EXPECT_NE(text.find("Propietari 1:"), std::string::npos) << text;
  EXPECT_NE(text.find("A/00000007  01/05/2027  242,00 \xe2\x82\xac"), std::string::npos) << text;
  EXPECT_NE(text.find("Total: 363,00 \xe2\x82\xac"), std::string::npos) << text;
  EXPECT_NE(text.find("Jordi Vilar\xc3\xb3 i Puigdevall"), std::string::npos) << text;
  for (const char* number : {"6", "7"}) {
    const std::string pdf = dir_ + "out/1-A-0000000" + number + ".pdf";
    ASSERT_EQ(std::system(("pdftotext '" + pdf + "' '" + pdf + ".txt'").c_str()), 0);
    const std::string pages = ReadText(pdf + ".txt");
    EXPECT_NE(pages.find(std::string("FACTURA A/0000000") + number), std::string::npos) << pages;
    EXPECT_EQ(pages.find(std::string("FACTURA A/0000000") + (number[0] == '6' ? "7" : "6")), std::string::npos);
    // Each PDF with its own figures: totals, period and due date.
    const bool sixth = number[0] == '6';
    for (const char* part : {sixth ? "121,00 EUR" : "242,00 EUR", sixth ? "abril 2027" : "mar\xc3\xa7 - abril 2027",
                             sixth ? "Venciment: 31 de maig de 2027" : "Venciment: 1 de juny de 2027"})
      EXPECT_NE(pages.find(part), std::string::npos) << part << "\n" << pages;
    EXPECT_EQ(pages.find(sixth ? "242,00" : "121,00"), std::string::npos) << pages;
  }
  const std::map<std::string, std::string> expected = {
      {"6 anna@example.com", "sent"},       {"7 anna@example.com", "sent"},
      {"8 pere@example.com", "sent"},       {"8 later@example.com", "temporary"},
      {"9 nobody@example.com", "permanent"}, {"10 -", "noaddress"},
      // The whole message went before the connection dropped: it has gone.
      {"11 not an address", "badaddress"},  {"11 drop@example.com", "sent"},
      {"13 unseried@example.com", "sent"},
  };
  EXPECT_EQ(LogStates(), expected);

  // The next sending without a selection tries the temporary failures
  // only: the deferred address takes it now; the dropped message and the
  // invoice without series are not sent again.
  EXPECT_EQ(Run("mail"), 0) << out_;
  received = Received();
  ASSERT_EQ(received.size(), 4u) << out_;
  EXPECT_EQ(received[3].substr(0, received[3].find('|')), "later@example.com");
  EXPECT_NE(received[3].find("A-00000008.pdf"), std::string::npos);
  EXPECT_EQ(LogStates()["8 later@example.com"], "sent");
  EXPECT_EQ(Run("mail"), 0) << out_;
  EXPECT_EQ(Received().size(), 4u);

  // The same run again sends nothing twice.
  EXPECT_EQ(Run(run), 0) << out_;
  EXPECT_EQ(Received().size(), 4u);
  EXPECT_NE(out_.find("ja enviada"), std::string::npos);
  EXPECT_NE(out_.find("rebutjada abans"), std::string::npos);

  EXPECT_EQ(Run("mail --status --from 01-05-2027"), 0) << out_;
  EXPECT_NE(out_.find("A/00000009  0003  nobody@example.com  rebutjada pel servidor  (550 5.1.1 No such user here)"),
            std::string::npos) << out_;
  EXPECT_NE(out_.find("A/00000010  0004  -  sense adre\xc3\xa7" "a"), std::string::npos) << out_;
  EXPECT_NE(out_.find("A/00000012  0007  -  anul\xc2\xb7lada: no s'envia\n"), std::string::npos) << out_;
  const std::string counts = "Factures enviades per correu: 4\nFactures no enviades (error): 2\nFactures per enviar: 1\n";
  EXPECT_EQ(out_.substr(out_.size() - std::min(out_.size(), counts.size())), counts) << out_;

  // A line of the log damaged: what it noted may have been sent, so
  // nothing goes and the status says so, until --again.
  const std::string sound = ReadText(dir_ + "DADES/CorreuFact.log");
  std::string damaged = sound;
  damaged[damaged.find('\t')] = ' ';
  root_.Write("DADES/CorreuFact.log", damaged);
  for (const std::string& command : {run, std::string("mail --status"), std::string("verify")}) {
    EXPECT_EQ(Run(command), 1) << out_;
    EXPECT_NE(out_.find("DADES/CorreuFact.log est\xc3\xa0 malm\xc3\xa8s a la l\xc3\xadnia 1: no s'envia res sense --again"),
              std::string::npos)
        << out_;
  }
  EXPECT_EQ(Received().size(), 4u);

  // A sending cut short after its "trying" line: the message may have gone,
  // so the address is not mailed again without --again.
  const size_t sent = sound.find("\t00000006\tanna@example.com\tsent\t");
  ASSERT_NE(sent, std::string::npos) << sound;
  const size_t from = sound.rfind('\n', sent) + 1;
  std::string trying = sound.substr(from, sound.find('\n', sent) + 1 - from);
  trying.replace(trying.find("\tsent\t"), 6, "\ttrying\t");
  root_.Write("DADES/CorreuFact.log", sound + trying);
  EXPECT_EQ(Run(run), 0) << out_;
  EXPECT_NE(out_.find("enviament incert (--again per tornar-la a enviar)"), std::string::npos) << out_;
  EXPECT_EQ(Run("mail"), 0) << out_;
  EXPECT_EQ(Received().size(), 4u);
  EXPECT_EQ(Run(run + " --again"), 1) << out_;
  received = Received();
  ASSERT_GT(received.size(), 4u);
  EXPECT_NE(received[4].find("anna@example.com|Factures A/00000006, A/00000007|"), std::string::npos) << received[4];
}

// TLS from the first byte (smtps://), and a server whose certificate no
// trusted authority signed: nothing goes to it, and the invoices are tried
// again once the server can be trusted.
TEST_F(MailProgram, ImplicitTlsAndAServerThatCannotBeTrusted) {
  StartServer(true);
  root_.Write("Tarn.ini", Settings(false));
  EXPECT_EQ(Run(std::string("mail --run ") + kArchive), 1);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(LogStates()["6 anna@example.com"], "temporary");
  EXPECT_NE(ReadText(dir_ + "DADES/CorreuFact.log").find("certificate"), std::string::npos);
  ExpectToldOnce("no \xc3\xa9s d'una autoritat de confian\xc3\xa7" "a: si el servidor \xc3\xa9s vost\xc3\xa8, "
                 "poseu la seva autoritat a Tarn.ini [Correu] CAServidor=");

  root_.Write("Tarn.ini", Settings(true));
  EXPECT_EQ(Run("mail"), 1) << out_;
  EXPECT_EQ(LogStates()["6 anna@example.com"], "sent");
  ASSERT_FALSE(Received().empty());
  EXPECT_EQ(Received()[0].substr(0, Received()[0].find('|')), "anna@example.com");
}

// A server that offers no STARTTLS: nothing goes out unencrypted, the
// port to change is told once, in the session's language.
TEST_F(MailProgram, ServerWithoutStartTlsIsASettingsProblem) {
  StartServer(false, true);
  std::string settings = Settings();
  settings.replace(settings.find("Idioma=CAT"), 10, "Idioma=SPA");
  root_.Write("Tarn.ini", settings);
  EXPECT_EQ(Run(std::string("mail --run ") + kArchive), 1);
  EXPECT_TRUE(Received().empty());
  ExpectToldOnce("no ofrece STARTTLS en el puerto " + std::to_string(port_) +
                 ", y sin cifrar no se env\xc3\xad" "a nada: ponga en Tarn.ini [Correu] Port=465");
  EXPECT_NE(out_.find("no enviada"), std::string::npos) << out_;
  EXPECT_EQ(LogStates()["6 anna@example.com"], "temporary");
}

}  // namespace
