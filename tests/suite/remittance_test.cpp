// zepfact remittance against a register in a temporary suite root: the
// creditor's settings and the collection date checked first, every file
// written valid against the pain.008.001.02 schema (xmllint), FRST then
// RCUR across two remittances, no invoice remitted twice, and a
// hand-written pain.002 with one rejected and one accepted debit read back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "collection/collect.h"
#include "collection/sepa.h"
#include "recman/recman.h"
#include "records/dictionaries.h"
#include "records/layouts.h"
#include "register/register.h"
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

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string OwnerCode(int n) { return std::string("\x80", 1) + static_cast<char>(128 + n); }

// Owners 1 (a CORE mandate), 2 (a B2B mandate), 3 (no mandate), 4 (an IBAN
// that does not check). Run 1 bills invoices 1-4 (owners 1-4) and 5 (owner
// 2, cancelled since); run 2 bills owner 1 again (invoice 6). Invoice n
// amounts to 121.00 * n.
class RemittanceProgram : public ::testing::Test {
 protected:
  static constexpr const char* kRun1 = "F00000001-261201100000.zsp";
  static constexpr const char* kRun2 = "F00000006-261202100000.zsp";

  void SetUp() override {
    dir_ = root_.Dir();
    fs::create_directories(dir_ + "DADES");
    root_.Write("Tarn.ini", Settings("ES58ZZZ12345678Z"));
    MakeRegister();
    MakeMandates();
    date_ = EarliestCollectionDate(TodayDigits(), Scheme::Core);
  }

  static std::string Settings(const std::string& creditor) {
    return "[Usuari]\r\nIdioma=CAT\r\n[Emissor]\r\nNom=Jordi Vilar\xa2 i Puigdevall\r\nNIF=12345678Z\r\n"
           "IBAN=ES91 2100 0418 4502 0005 1332\r\n[SEPA]\r\nIdentificadorCreditor=" + creditor + "\r\n";
  }

  void MakeRegister() {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(dir_ + "DADES/RegFact2.dat", std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/RegFact2.xdf", false), 0);
    std::vector<RegisterEntry> entries;
    const int owners[] = {1, 2, 3, 4, 2, 1};
    for (int n = 1; n <= 6; ++n) {
      RegisterEntry e = FeeInvoiceEntry("A", n, "20261201", 10000 * n);
      e.ownerCode = OwnerCode(owners[n - 1]);
      e.recipientName = n == 1 ? "N\xa3ria Roca Bosch" : "Propietari " + std::to_string(owners[n - 1]);
      e.archive = n == 6 ? kRun2 : kRun1;
      e.page = n;
      entries.push_back(e);
    }
    RegisterEntry cancellation;
    cancellation.kind = RegisterKindCancellation;
    cancellation.refSeries = "A";
    cancellation.refNumber = 5;
    cancellation.refDate = "20261201";
    cancellation.issuerTaxId = "12345678Z";
    cancellation.date = "20261201";
    entries.push_back(cancellation);
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, [] { return std::string("2026-12-01T10:00:00+01:00"); }, refusal), 0);
  }

  void MakeMandates() {
    const std::string file = dir_ + "DADES/MandatV.dat";
    uint8_t block[128] = {};
    char key[256] = {};
    file.copy(key, file.size());
    std::string data = CreationSpecification(MandateDictionaryBaseName);
    uint32_t length = static_cast<uint32_t>(data.size());
    ASSERT_EQ(RecordManagerCall(RmCreate, block, data.data(), &length, key, 255, -1), 0);
    length = 0;
    ASSERT_EQ(RecordManagerCall(RmOpen, block, nullptr, &length, key, 255, 0), 0);
    struct Row {
      int owner;
      const char* reference;
      const char* iban;
      const char* scheme;
    };
    const Row rows[] = {{1, "KV-0001", "ES44 0081 1037 0700 2000 7919", "CORE"},
                        {2, "KV-0002", "ES9121000418450200051332", "B2B"},
                        {4, "KV-0004", "ES9121000418450200051333", "CORE"}};
    for (const Row& r : rows) {
      uint8_t record[MandateRecordSize];
      std::memset(record, ' ', sizeof record);
      PutFieldBytes(record, MandateFields::OwnerCode, OwnerCode(r.owner));
      PutFieldText(record, MandateFields::Reference, r.reference);
      PutFieldText(record, MandateFields::Iban, r.iban);
      PutFieldBytes(record, MandateFields::Signed, "\x94\x98\x81\x8f");  // 2024-01-15
      PutFieldText(record, MandateFields::Scheme, r.scheme);
      record[MandateFields::FirstDone.offset] = 'N';
      length = sizeof record;
      ASSERT_EQ(RecordManagerCall(RmInsert, block, record, &length, key, 255, 0), 0);
    }
    length = 0;
    ASSERT_EQ(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0), 0);
  }

  int Run(const std::string& args) {
    const std::string command = "cd '" + dir_ + "' && ZEPROOT='" + dir_ + "' '" ZEPFACT_PROGRAM "' " + args +
                                " > run.out 2> run.err";
    const int status = std::system(command.c_str());
    out_ = ReadText(dir_ + "run.out") + ReadText(dir_ + "run.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // xmllint's verdict on a written file against the schema.
  bool Valid(const std::string& name) {
    const std::string command = "xmllint --noout --schema '" SEPA_SCHEMA "' '" + dir_ + name + "' > '" + dir_ +
                                "lint.out' 2>&1";
    const bool valid = std::system(command.c_str()) == 0;
    if (!valid) ADD_FAILURE() << ReadText(dir_ + "lint.out");
    return valid;
  }

  static std::string Iso(const std::string& d) { return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2); }

  TempRoot root_;
  std::string dir_;
  std::string out_;
  std::string date_;
};

TEST_F(RemittanceProgram, SettingsAndDatesRefusedFirstNothingWritten) {
  struct Case {
    const char* name;
    std::string settings;
    std::string args;
    const char* said;
    int exit = 1;
  };
  const Case cases[] = {
      {"creditor id that does not check", Settings("ES59ZZZ12345678Z"), "", "[SEPA] IdentificadorCreditor=ES59ZZZ12345678Z"},
      {"creditor account that does not check",
       Settings("ES58ZZZ12345678Z") + "Compte=ES91 2100 0418 4502 0005 1333\r\n", "", "[SEPA] Compte"},
      {"collection date today", Settings("ES58ZZZ12345678Z"), " --collection-date " + Iso(TodayDigits()),
       "massa propera"},
      {"a Sunday", Settings("ES58ZZZ12345678Z"), " --collection-date 2030-01-06", "no h\xc3\xa0" "bil"},
      {"a date that is none", Settings("ES58ZZZ12345678Z"), " --collection-date 31-02-2030", "31-02-2030", 2},
  };
  ForEachRow(cases, [&](const Case& c) {
    root_.Write("Tarn.ini", c.settings);
    EXPECT_EQ(Run(std::string("remittance --output out.xml") + c.args), c.exit) << out_;
    EXPECT_NE(out_.find(c.said), std::string::npos) << out_;
    EXPECT_FALSE(fs::exists(dir_ + "out.xml"));
    EXPECT_FALSE(fs::exists(dir_ + "DADES/Remeses.log"));
  });
  // Without the identifier, the one of the issuer's NIF.
  root_.Write("Tarn.ini", "[Emissor]\r\nNom=Jordi\r\nNIF=12345678Z\r\nIBAN=ES9121000418450200051332\r\n");
  ASSERT_EQ(Run("remittance --run " + std::string(kRun2) + " --output out.xml"), 0) << out_;
  EXPECT_NE(ReadText(dir_ + "out.xml").find("<Id>ES5800012345678Z</Id>"), std::string::npos);
  EXPECT_EQ(Run("remittance --output out.xml --from 01-12-2026 --run x.zsp"), 2) << out_;
  EXPECT_EQ(Run("remittance returns"), 2) << out_;
}

TEST_F(RemittanceProgram, FirstThenRecurrentNeverTwiceReturnsRead) {
  // Run 1: owner 1 FRST CORE, owner 2 FRST B2B; owner 3 without mandate,
  // owner 4's account and the cancelled invoice 5 left out.
  ASSERT_EQ(Run("remittance --run " + std::string(kRun1) + " --output r1.xml"), 0) << out_;
  ASSERT_TRUE(Valid("r1.xml"));
  const std::string r1 = ReadText(dir_ + "r1.xml");
  EXPECT_NE(r1.find("<GrpHdr><MsgId>REM"), std::string::npos);
  EXPECT_NE(r1.find("<NbOfTxs>2</NbOfTxs><CtrlSum>363.00</CtrlSum>"), std::string::npos) << r1;
  EXPECT_EQ(Count(r1, "<SeqTp>FRST</SeqTp>"), 2u);
  EXPECT_NE(r1.find("<Cd>B2B</Cd>"), std::string::npos);
  EXPECT_NE(r1.find("<ReqdColltnDt>" + Iso(date_) + "</ReqdColltnDt>"), std::string::npos);
  EXPECT_NE(r1.find("<EndToEndId>A/00000001</EndToEndId></PmtId><InstdAmt Ccy=\"EUR\">121.00</InstdAmt>"), std::string::npos) << r1;
  EXPECT_NE(r1.find("<Nm>Nuria Roca Bosch</Nm>"), std::string::npos);
  EXPECT_NE(r1.find("<Nm>Jordi Vilaro i Puigdevall</Nm>"), std::string::npos);
  EXPECT_NE(r1.find("<Ustrd>Factura A/00000002 Periode 12/2026</Ustrd>"), std::string::npos);
  EXPECT_EQ(r1.find("A/00000003"), std::string::npos);
  EXPECT_EQ(r1.find("A/00000005"), std::string::npos);
  EXPECT_NE(out_.find("A/00000003  0003"), std::string::npos) << out_;
  EXPECT_NE(out_.find("sense mandat"), std::string::npos) << out_;
  EXPECT_NE(out_.find("IBAN del mandat no v\xc3\xa0lid"), std::string::npos) << out_;
  EXPECT_NE(out_.find("anul\xc2\xb7lada"), std::string::npos) << out_;
  const std::string log1 = ReadText(dir_ + "DADES/Remeses.log");
  EXPECT_EQ(Count(log1, "\tremitted\t"), 2u) << log1;

  // Never twice: the same run again has nothing to collect, unless --again.
  EXPECT_EQ(Run("remittance --run " + std::string(kRun1) + " --output again.xml"), 0) << out_;
  EXPECT_NE(out_.find("Cap factura per cobrar"), std::string::npos) << out_;
  EXPECT_NE(out_.find("ja remesada"), std::string::npos) << out_;
  EXPECT_FALSE(fs::exists(dir_ + "again.xml"));
  EXPECT_EQ(ReadText(dir_ + "DADES/Remeses.log"), log1);
  // Another session writing a remittance of the root: refused, not waited for.
  {
    const CollectionLock held(dir_);
    ASSERT_EQ(held.Problem(Language::Catalan), "");
    EXPECT_EQ(Run("remittance --run " + std::string(kRun1) + " --output held.xml --again"), 1) << out_;
    EXPECT_NE(out_.find("Una altra sessi\xc3\xb3 est\xc3\xa0 escrivint una remesa"), std::string::npos) << out_;
    EXPECT_FALSE(fs::exists(dir_ + "held.xml"));
    EXPECT_EQ(ReadText(dir_ + "DADES/Remeses.log"), log1);
  }

  // The bank rejects owner 2's debit and accepts owner 1's.
  const std::string messageId = r1.substr(r1.find("<MsgId>") + 7, r1.find("</MsgId>") - r1.find("<MsgId>") - 7);
  const std::string report =
      "<?xml version=\"1.0\"?><Document xmlns=\"urn:iso:std:iso:20022:tech:xsd:pain.002.001.03\"><CstmrPmtStsRpt>"
      "<GrpHdr><MsgId>BANK1</MsgId><CreDtTm>2026-12-09T08:00:00</CreDtTm></GrpHdr><OrgnlGrpInfAndSts><OrgnlMsgId>" +
      messageId + "</OrgnlMsgId><OrgnlMsgNmId>pain.008.001.02</OrgnlMsgNmId><GrpSts>PART</GrpSts></OrgnlGrpInfAndSts>"
      "<OrgnlPmtInfAndSts><OrgnlPmtInfId>x</OrgnlPmtInfId><TxInfAndSts><OrgnlEndToEndId>A/00000002</OrgnlEndToEndId>"
      "<TxSts>RJCT</TxSts><StsRsnInf><Rsn><Cd>AC04</Cd></Rsn></StsRsnInf></TxInfAndSts>"
      "<TxInfAndSts><OrgnlEndToEndId>A/00000001</OrgnlEndToEndId><TxSts>ACCP</TxSts></TxInfAndSts>"
      "</OrgnlPmtInfAndSts></CstmrPmtStsRpt></Document>";
  // Bad files first: they mark nothing.
  struct BadCase {
    const char* name;
    std::string bytes;
    const char* said;
  };
  std::string unknown = report;
  unknown.replace(unknown.find("A/00000001"), 10, "A/00000009");
  const BadCase bad[] = {
      {"malformed", report.substr(0, report.size() / 2), "no \xc3\xa9s XML"},
      {"foreign", "<Document><CstmrDrctDbtInitn/></Document>", "CstmrDrctDbtInitn"},
      {"unknown invoice", unknown, "A/00000009"},
  };
  ForEachRow(bad, [&](const BadCase& c) {
    root_.Write("status.xml", c.bytes);
    EXPECT_EQ(Run("remittance returns status.xml"), 1) << out_;
    EXPECT_NE(out_.find(c.said), std::string::npos) << out_;
    EXPECT_EQ(ReadText(dir_ + "DADES/Remeses.log"), log1);
  });
  root_.Write("status.xml", report);
  ASSERT_EQ(Run("remittance returns status.xml"), 0) << out_;
  EXPECT_NE(out_.find("Factures marcades: 2"), std::string::npos) << out_;
  ASSERT_EQ(Run("list"), 0) << out_;
  EXPECT_NE(out_.find("cobrament: rebutjada pel banc " + date_.substr(6, 2) + "-" + date_.substr(4, 2) + "-" +
                      date_.substr(0, 4) + " KV-0002 (AC04)"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("cobrament: cobrada"), std::string::npos) << out_;

  // The next remittance: owner 1's new invoice is RCUR, owner 2's rejected
  // one goes again, FRST still.
  ASSERT_EQ(Run("remittance --output r2.xml --collection-date " + Iso(date_)), 0) << out_;
  ASSERT_TRUE(Valid("r2.xml"));
  const std::string r2 = ReadText(dir_ + "r2.xml");
  EXPECT_NE(r2.find("<NbOfTxs>2</NbOfTxs><CtrlSum>968.00</CtrlSum>"), std::string::npos) << r2;
  EXPECT_LT(r2.find("<SeqTp>FRST</SeqTp>"), r2.find("A/00000002"));
  EXPECT_LT(r2.find("<SeqTp>RCUR</SeqTp>"), r2.find("A/00000006"));
  EXPECT_EQ(r2.find("A/00000001"), std::string::npos) << "collected already";
}

}  // namespace
