// SEPA direct debits: account and creditor checks, the EPC's characters,
// TARGET2 business days and lead times, the collection log, which invoices
// a remittance takes, and the bank's status files read back.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/iban.h"
#include "collection/ledger.h"
#include "collection/mandates.h"
#include "collection/remittance.h"
#include "collection/returns.h"
#include "collection/sepa.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"

namespace {

TEST(SepaRules, AccountsCreditorIdentifiersCharactersAndReferences) {
  struct IbanCase {
    const char* text;
    bool good;
  };
  const IbanCase ibans[] = {
      {"ES91 2100 0418 4502 0005 1332", true}, {"es9121000418450200051332", true},
      {"ES91 2100 0418 4502 0005 1333", false},  // check digits
      {"ES912100041845020005133", false},        // Spain has 24
      {"DE89 3704 0044 0532 0130 00", true},    {"DE89370400440532013000 0", false},
      {"FR14 2004 1010 0505 0001 3M02 606", true}, {"FR1420041010050500013M0260", false},
      {"NO93 8601 1117 947", true},              {"ES91 2100 0418 4502 0005 13#2", false},
  };
  ForEachRow(ibans, [](const IbanCase& c) { EXPECT_EQ(IsValidIban(c.text), c.good) << c.text; });

  // The check digits of AT-02 leave the business code out.
  EXPECT_EQ(CreditorIdentifier("ES", "ZZZ", "12345678Z"), "ES58ZZZ12345678Z");
  EXPECT_EQ(CreditorIdentifier("ES", "000", "12345678Z"), "ES5800012345678Z");
  EXPECT_EQ(CreditorIdentifier("DE", "ZZZ", "09999999999"), "DE98ZZZ09999999999");
  EXPECT_EQ(CreditorIdentifier("ES", "ZZ", "12345678Z"), "");
  EXPECT_EQ(CreditorIdentifier("ES", "ZZZ", "1234-5678Z"), "");
  struct IdCase {
    const char* text;
    bool good;
  };
  const IdCase ids[] = {{"ES58ZZZ12345678Z", true}, {"es58 abc 12345678z", true}, {"ES59ZZZ12345678Z", false},
                        {"ES58ZZZ12345678Y", false}, {"ES58ZZZ", false},          {"E558ZZZ12345678Z", false}};
  ForEachRow(ids, [](const IdCase& c) { EXPECT_EQ(IsCreditorIdentifier(c.text), c.good) << c.text; });

  struct TextCase {
    const char* cp850;
    const char* epc;
    char bad;
  };
  const TextCase texts[] = {
      {"N\xa3ria Roca Bosch", "Nuria Roca Bosch", 0},
      {"Vil\x85 Grau*Francesc", "Vila Grau", '*'},
      {"Col\xfalegi d'Arquitectes", "Col.legi d'Arquitectes", 0},
      {"Ferrer & Fills; S\xa0nchez", "Ferrer + Fills. Sanchez", 0},
      {"Stra\xe1" "e \x99sterreich \x80" "a\x91", "Strasse Osterreich Caae", 0},
      {"Pe\xa4" "a_Garc\xa1" "a \"Can\"", "Pena-Garcia 'Can'", 0},
      {"Inversions 1\xa6", "Inversions 1", '\xa6'},
      {"Preu 5\xd5", "Preu 5", '\xd5'},
      {"a@b", "a", '@'},
      {"tab\there", "tab here", 0},
  };
  ForEachRow(texts, [](const TextCase& c) {
    char bad = 1;
    EXPECT_EQ(EpcText(c.cp850, bad), c.epc);
    EXPECT_EQ(bad, c.bad);
  });
  EXPECT_EQ(EpcTextLoose("Factura A/1 #3"), "Factura A/1  3");

  struct ReferenceCase {
    const char* text;
    bool good;
  };
  const ReferenceCase references[] = {{"KV-0001-2024", true},  {"", false},          {"KV 0001", false},
                                      {"/KV1", false},          {"KV1/", false},      {"KV//1", false},
                                      {"A/B?C:(1).2,'3'+4", true}, {"KV\xa4", false},
                                      {"12345678901234567890123456789012345", true},
                                      {"123456789012345678901234567890123456", false}};
  ForEachRow(references, [](const ReferenceCase& c) { EXPECT_EQ(IsMandateReference(c.text), c.good) << c.text; });
}

TEST(SepaRules, BusinessDaysAndLeadTimes) {
  struct DayCase {
    const char* date;
    bool business;
  };
  const DayCase days[] = {
      {"20261208", true},  {"20261212", false}, {"20261213", false}, {"20261225", false}, {"20261226", false},
      {"20270101", false}, {"20270326", false}, {"20270329", false}, {"20270325", true},  {"20270501", false},
      {"20260403", false}, {"20260406", false}, {"20260407", true},  {"20240229", true},
  };
  ForEachRow(days, [](const DayCase& c) { EXPECT_EQ(IsTargetBusinessDay(c.date), c.business) << c.date; });

  struct LeadCase {
    const char* today;
    const char* earliest;
  };
  const LeadCase leads[] = {
      {"20261208", "20261209"},  // Tuesday: Wednesday
      {"20261211", "20261214"},  // Friday: Monday
      {"20261224", "20261228"},  // Christmas, St Stephen's day and a Sunday between
      {"20270325", "20270330"},  // Good Friday to Easter Monday
      {"20261231", "20270104"},  // New Year's Day, then a weekend
      {"20261212", "20261215"},  // sent on a Saturday: one business day after Monday's
  };
  ForEachRow(leads, [](const LeadCase& c) {
    for (const Scheme scheme : {Scheme::Core, Scheme::B2b}) {
      EXPECT_EQ(EarliestCollectionDate(c.today, scheme), c.earliest);
      EXPECT_TRUE(CollectionDateAllowed(c.today, c.earliest, scheme));
      EXPECT_FALSE(CollectionDateAllowed(c.today, c.today, scheme));
      EXPECT_FALSE(CollectionDateAllowed(c.today, DateOfDayNumber(DayNumber(c.earliest) - 1), scheme));
    }
  });
  EXPECT_FALSE(CollectionDateAllowed("20261208", "20261219", Scheme::Core)) << "a Saturday";
  EXPECT_FALSE(CollectionDateAllowed("20261208", "20261231x", Scheme::Core));
  EXPECT_FALSE(CollectionDateAllowed("20261208", "20260230", Scheme::Core));
}

// A chain of fee invoices of owners 1 to 8 (7 is owner 1's second), each owner's mandate as its
// row says, and what a remittance makes of them.
TEST(SepaRemittance, WhichInvoicesGoInAndUnderWhichSequence) {
  const auto owner = [](int n) { return std::string("\x80", 1) + static_cast<char>(128 + n); };
  std::vector<RegisterEntry> chain;
  for (int n = 1; n <= 8; ++n) {
    RegisterEntry e = FeeInvoiceEntry("A", n, "20261205", 10000);
    e.ownerCode = owner(n == 7 ? 1 : n);
    e.recipientName = n == 6 ? "Caf\x82 #6" : "Propietari " + std::to_string(n);
    chain.push_back(e);
  }
  RegisterEntry corrective = FeeInvoiceEntry("RE", 1, "20261206", -2000);
  corrective.invoiceType = "R1";
  corrective.correctionForm = 'I';
  corrective.refSeries = "A";
  corrective.refNumber = 1;
  corrective.refDate = "20261205";
  chain.push_back(corrective);
  RegisterEntry cancellation;
  cancellation.kind = RegisterKindCancellation;
  cancellation.refSeries = "A";
  cancellation.refNumber = 5;
  cancellation.refDate = "20261205";
  chain.push_back(cancellation);

  std::map<std::string, Mandate> mandates;
  const auto mandate = [&](int n, const char* iban, const char* reference, bool firstDone = false) {
    Mandate m;
    m.ownerCode = owner(n);
    m.reference = reference;
    m.iban = iban;
    m.signedOn = "20240101";
    m.firstDone = firstDone;
    if (!IsValidIban(iban)) m.fault = MandateFault::BadIban;
    mandates[m.ownerCode] = m;
  };
  mandate(1, "ES9121000418450200051332", "M-1");
  mandate(2, "ES9121000418450200051332", "M-2", true);
  mandate(3, "ES9121000418450200051333", "M-3");  // account does not check
  mandate(5, "ES9121000418450200051332", "M-5");
  mandate(6, "ES9121000418450200051332", "M-6");
  std::vector<const RegisterEntry*> selected;
  for (const RegisterEntry& e : chain) selected.push_back(&e);
  std::vector<CollectionLine> log = ParseCollectionLog(
      "t\tA\t4\tremitted\tREM1\tM-4\tFRST\t12100\t20261201\t-\n"
      "t\tA\t9\tremitted\tREM1\tM-9\tFRST\t12100\t20261201\t-\n"
      "t\tA\t9\trejected\tREM1\tM-9\tFRST\t12100\t20261201\tAM04\n"
      "t\tA\t8\tremitted\tREM1\tM-2");  // torn
  ASSERT_EQ(log.size(), 3u);
  std::map<InvoiceKey, CollectionLine> last = LastCollectionStates(log);
  EXPECT_EQ(last.at({"A", 9}).state, CollectionState::Rejected);

  PlanInput input;
  input.chain = &chain;
  input.selected = &selected;
  input.mandates = &mandates;
  input.collected = &last;
  input.collectionDate = "20261210";
  input.periodOf = [](const RegisterEntry& e) { return e.number == 1 ? std::string("desembre 2026") : std::string(); };
  RemittancePlan plan;
  std::string badName;
  // Owner 6's name has a character SEPA has no place for: nothing planned.
  ASSERT_FALSE(PlanRemittance(input, plan, badName));
  EXPECT_EQ(badName, "Caf\x82 #6");
  EXPECT_TRUE(plan.debits.empty());

  chain[5].recipientName = "Caf\x82 6";
  ASSERT_TRUE(PlanRemittance(input, plan, badName));
  struct DebitRow {
    int32_t number;
    int64_t amount;
    bool first;
    const char* information;
  };
  const DebitRow debits[] = {
      {1, 12100 - 2420, true, "Factura A/00000001 Periode desembre 2026"},  // corrective netted
      {2, 12100, false, "Factura A/00000002 Periode 12/2026"},                // first made before the log
      {6, 12100, true, "Factura A/00000006 Periode 12/2026"},
      {7, 12100, true, "Factura A/00000007 Periode 12/2026"},                 // owner 1's second: FRST too
  };
  ASSERT_EQ(plan.debits.size(), std::size(debits));
  for (size_t i = 0; i < plan.debits.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(plan.debits[i].entry->number, debits[i].number);
    EXPECT_EQ(plan.debits[i].amount, debits[i].amount);
    EXPECT_EQ(plan.debits[i].first, debits[i].first);
    EXPECT_EQ(plan.debits[i].information, debits[i].information);
    EXPECT_EQ(plan.debits[i].endToEndId, "A/0000000" + std::to_string(debits[i].number));
  }
  std::map<int32_t, LeftOutReason> left;
  for (const LeftOut& l : plan.leftOut) left[l.entry->number] = l.reason;
  const std::map<int32_t, LeftOutReason> expected = {{3, LeftOutReason::BadIban},
                                                     {4, LeftOutReason::AlreadyRemitted},
                                                     {5, LeftOutReason::Cancelled},
                                                     {8, LeftOutReason::NoMandate}};
  EXPECT_EQ(left, expected);

  // --again takes an invoice remitted already; a collection date before
  // the signature leaves the mandate out.
  input.again = true;
  mandate(4, "ES9121000418450200051332", "M-4");
  ASSERT_TRUE(PlanRemittance(input, plan, badName));
  EXPECT_EQ(plan.debits.size(), 5u);
  EXPECT_FALSE(plan.debits[2].first) << "M-4 had its first collection in the log";
  input.collectionDate = "20231231";
  ASSERT_TRUE(PlanRemittance(input, plan, badName));
  EXPECT_TRUE(plan.debits.empty());
  EXPECT_EQ(plan.leftOut.front().reason, LeftOutReason::SignedAfter);

  // Control sums of the message: the group's and each block's.
  input.collectionDate = "20261210";
  input.again = false;
  ASSERT_TRUE(PlanRemittance(input, plan, badName));
  RemittanceHeader header{"REM2-2", "2026-12-08T10:00:00", "20261210", {"Jordi Vilaro", "ES58ZZZ12345678Z", "ES9121000418450200051332", ""}};
  std::string xml;
  ASSERT_TRUE(WritePain008(plan, header, [&](std::string_view bytes) { xml.append(bytes); return true; }));
  for (const char* part : {"<NbOfTxs>4</NbOfTxs><CtrlSum>459.80</CtrlSum>", "<PmtInfId>REM2-2-FRST-CORE</PmtInfId>",
                           "<NbOfTxs>3</NbOfTxs><CtrlSum>338.80</CtrlSum>", "<NbOfTxs>1</NbOfTxs><CtrlSum>121.00</CtrlSum>",
                           "<SeqTp>FRST</SeqTp>", "<SeqTp>RCUR</SeqTp>", "<ReqdColltnDt>2026-12-10</ReqdColltnDt>"})
    EXPECT_NE(xml.find(part), std::string::npos) << part;
  EXPECT_LT(xml.find("<SeqTp>FRST</SeqTp>"), xml.find("<SeqTp>RCUR</SeqTp>"));
  size_t calls = 0;
  EXPECT_FALSE(WritePain008(plan, header, [&](std::string_view) { return ++calls < 3; }));
  EXPECT_EQ(calls, 3u) << "stops at the first failed write";
  EXPECT_EQ(SepaAmount(5), "0.05");
}

TEST(SepaReturns, StatusReportsAndNotificationsRead) {
  struct Case {
    const char* name;
    std::string xml;
    StatusReading::Fault fault;
    std::vector<std::string> items;  // "msg|block|e2e|state|reason"
  };
  const std::string pain002 = "<Document xmlns=\"urn:iso:std:iso:20022:tech:xsd:pain.002.001.03\"><CstmrPmtStsRpt>";
  const std::string camt = "<Document xmlns=\"urn:iso:std:iso:20022:tech:xsd:camt.054.001.02\"><BkToCstmrDbtCdtNtfctn>";
  const Case cases[] = {
      {"one rejected, one accepted",
       pain002 + "<GrpHdr><MsgId>X</MsgId></GrpHdr><OrgnlGrpInfAndSts><OrgnlMsgId>REM1</OrgnlMsgId>"
                 "<OrgnlMsgNmId>pain.008.001.02</OrgnlMsgNmId><GrpSts>PART</GrpSts></OrgnlGrpInfAndSts>"
                 "<OrgnlPmtInfAndSts><OrgnlPmtInfId>REM1-FRST-CORE</OrgnlPmtInfId>"
                 "<TxInfAndSts><OrgnlEndToEndId>A/00000001</OrgnlEndToEndId><TxSts>RJCT</TxSts>"
                 "<StsRsnInf><Rsn><Cd>AM04</Cd></Rsn></StsRsnInf><Extra/></TxInfAndSts>"
                 "<TxInfAndSts><OrgnlEndToEndId>A/00000002</OrgnlEndToEndId><TxSts>ACCP</TxSts></TxInfAndSts>"
                 "<TxInfAndSts><OrgnlEndToEndId>A/00000003</OrgnlEndToEndId><TxSts>PDNG</TxSts></TxInfAndSts>"
                 "</OrgnlPmtInfAndSts></CstmrPmtStsRpt></Document>",
       StatusReading::Fault::None,
       {"REM1||A/00000001|rejected|AM04", "REM1||A/00000002|collected|"}},
      {"a whole group rejected",
       pain002 + "<OrgnlGrpInfAndSts><OrgnlMsgId>REM2</OrgnlMsgId><GrpSts>RJCT</GrpSts>"
                 "<StsRsnInf><Rsn><Cd>FF01</Cd></Rsn></StsRsnInf></OrgnlGrpInfAndSts></CstmrPmtStsRpt></Document>",
       StatusReading::Fault::None, {"REM2|||rejected|FF01"}},
      {"a block rejected",
       pain002 + "<OrgnlGrpInfAndSts><OrgnlMsgId>REM2</OrgnlMsgId><GrpSts>PART</GrpSts></OrgnlGrpInfAndSts>"
                 "<OrgnlPmtInfAndSts><OrgnlPmtInfId>REM2-RCUR-CORE</OrgnlPmtInfId><PmtInfSts>RJCT</PmtInfSts>"
                 "<StsRsnInf><Rsn><Cd>DT01</Cd></Rsn></StsRsnInf></OrgnlPmtInfAndSts></CstmrPmtStsRpt></Document>",
       StatusReading::Fault::None, {"REM2|REM2-RCUR-CORE||rejected|DT01"}},
      {"a return and a collection notified",
       camt + "<GrpHdr/><Ntfctn><Ntry><Amt>1</Amt><RvslInd>false</RvslInd><NtryDtls><TxDtls><Refs><MsgId>REM1</MsgId>"
              "<EndToEndId>A/00000002</EndToEndId></Refs><RtrInf><Rsn><Cd>MD06</Cd></Rsn></RtrInf></TxDtls>"
              "<TxDtls><Refs><EndToEndId>A/00000004</EndToEndId></Refs></TxDtls>"
              "<TxDtls><Refs><EndToEndId>NOTPROVIDED</EndToEndId></Refs></TxDtls></NtryDtls></Ntry>"
              "<Ntry><RvslInd>true</RvslInd><NtryDtls><TxDtls><Refs><EndToEndId>A/00000005</EndToEndId></Refs></TxDtls>"
              "</NtryDtls></Ntry></Ntfctn></BkToCstmrDbtCdtNtfctn></Document>",
       StatusReading::Fault::None,
       {"REM1||A/00000002|returned|MD06", "||A/00000004|collected|", "||A/00000005|returned|"}},
      {"not XML", "<Document><CstmrPmtStsRpt>", StatusReading::Fault::NotXml, {}},
      {"another message", "<Document><CstmrDrctDbtInitn/></Document>", StatusReading::Fault::Foreign, {}},
      {"another root", "<html/>", StatusReading::Fault::Foreign, {}},
      {"nothing final", pain002 + "<OrgnlGrpInfAndSts><OrgnlMsgId>R</OrgnlMsgId><GrpSts>PDNG</GrpSts>"
                                  "</OrgnlGrpInfAndSts></CstmrPmtStsRpt></Document>",
       StatusReading::Fault::Empty, {}},
      {"an entity", "<!DOCTYPE d [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><Document><CstmrPmtStsRpt>"
                    "<OrgnlGrpInfAndSts><OrgnlMsgId>&e;</OrgnlMsgId><GrpSts>RJCT</GrpSts></OrgnlGrpInfAndSts>"
                    "</CstmrPmtStsRpt></Document>",
       StatusReading::Fault::Empty, {}},
  };
  ForEachRow(cases, [](const Case& c) {
    const StatusReading r = ReadStatusFile(c.xml);
    EXPECT_EQ(r.fault, c.fault) << r.detail;
    std::vector<std::string> items;
    for (const StatusItem& i : r.items)
      items.push_back(i.messageId + "|" + i.blockId + "|" + i.endToEndId + "|" + CollectionStateName(i.state) + "|" + i.reason);
    EXPECT_EQ(items, c.items);
  });
}

}  // namespace
