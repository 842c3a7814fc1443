// The invoice register: fingerprints by the agency's rules, the code's
// address, the chain and its seals, appends that are all or nothing, also
// when two processes append at once, and the software's identity and
// installation number.
#include "register/register.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "recman/recman.h"
#include "register/amend.h"
#include "register/software.h"
#include "register/xml.h"
#include "tests/support/fork_gate.h"
#include "tests/support/damage.h"
#include "tests/support/register_entry.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

const std::string kDictionary = std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/RegFact2.xdf";

RegisterEntry Invoice(int32_t number, int32_t total = 12100) {
  RegisterEntry e = FeeInvoiceEntry("A", number, "20270115", 10000);
  e.issuerTaxId = "B12345678";
  e.total = total;
  return e;
}

std::vector<RegisterEntry> Invoices(int32_t first, int32_t count) {
  std::vector<RegisterEntry> out;
  for (int32_t n = first; n < first + count; ++n) out.push_back(Invoice(n, 12100 + n));
  return out;
}

TEST(RegisterFingerprint, AgencyRulesAndCode) {
  // The agency's worked example, hashed as given.
  EXPECT_EQ(Sha256Hex("IDEmisorFactura=89890001K&NumSerieFactura=12345678/G33&FechaExpedicionFactura=01-01-2024"
                      "&TipoFactura=F1&CuotaTotal=12.35&ImporteTotal=123.45&Huella="
                      "&FechaHoraHusoGenRegistro=2024-01-01T19:20:30+01:00"),
            "3C464DAF61ACB827C65FDA19F352A4E3BDC2C640E9E9FC4CC058073F38F12F60");

  RegisterEntry e = Invoice(7);
  e.generatedAt = "2027-01-15T10:00:00+01:00";
  e.previousFingerprint = std::string(64, 'A');
  e.withholding = 1500;  // withholding is not deducted from the agency's total
  EXPECT_EQ(FingerprintText(e),
            "IDEmisorFactura=B12345678&NumSerieFactura=A/00000007&FechaExpedicionFactura=15-01-2027"
            "&TipoFactura=F1&CuotaTotal=21.00&ImporteTotal=121.00&Huella=" + std::string(64, 'A') +
                "&FechaHoraHusoGenRegistro=2027-01-15T10:00:00+01:00");
  // The VAT amount, not the rate (the invoices above have both at 2100).
  e.vat = 1250;
  e.total = 11250;
  EXPECT_NE(FingerprintText(e).find("&CuotaTotal=12.50&ImporteTotal=112.50&"), std::string::npos)
      << FingerprintText(e);

  struct Case {
    const char* name;
    std::string series;
    int32_t base, vat;
    bool test;
    std::string url;
    bool sending = false;
  };
  const Case cases[] = {
      {"production host, series with a slash encoded", "A", 10000, 2100, false,
       "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=B12345678"
       "&numserie=A%2F00000007&fecha=15-01-2027&importe=121.00"},
      {"test host, no series, a negative amount", "", -5000, -1050, true,
       "https://prewww2.aeat.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=B12345678"
       "&numserie=00000007&fecha=15-01-2027&importe=-60.50"},
      {"an ampersand and an accented letter in the series", "R&\xA2", 1, 0, false,
       "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=B12345678"
       "&numserie=R%26%C3%B3%2F00000007&fecha=15-01-2027&importe=0.01"},
      {"sending mode, test host", "A", 10000, 2100, true,
       "https://prewww2.aeat.es/wlpl/TIKE-CONT/ValidarQR?nif=B12345678"
       "&numserie=A%2F00000007&fecha=15-01-2027&importe=121.00", true},
  };
  ForEachRow(cases, [&](const Case& c) {
    RegisterEntry q = Invoice(7);
    q.series = c.series;
    q.base = c.base;
    q.vat = c.vat;
    EXPECT_EQ(TaxQrUrl(q, c.test, c.sending), c.url);
  });
}

class RegisterFile : public ::testing::Test {
 protected:
  std::string Path() const { return root_.Dir() + "RegFact2"; }

  std::vector<RegisterEntry> ReadBack(const std::string& earlier = {}) {
    InvoiceRegister reg;
    EXPECT_EQ(reg.Open(Path(), kDictionary, true, earlier), 0);
    std::vector<RegisterEntry> entries;
    EXPECT_EQ(reg.ReadAll(entries), 0);
    return entries;
  }

  TempRoot root_;
};

// A clock that always says t.
std::function<std::string()> At(const std::string& t) {
  return [t] { return t; };
}

TEST_F(RegisterFile, NumbersEachSeriesOnItsOwnAndRefusesBrokenRules) {
  using Rule = RegisterRefusal::Rule;
  InvoiceRegister reg;
  ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  const std::string longest(RegisterSeriesWidth, 'Z');
  struct Run {
    const char* name;
    std::string series;
    int32_t first, count;
    std::string date;
    std::string clock;
    Rule refused;
    int32_t expected;  // NumberNotNext and NumberIssued: the number the series goes on with
    int32_t named = 0;  // the number the refusal names (the first of the run that breaks the rule)
  };
  const std::string t = "2027-01-15T10:00:00+01:00";
  const Run runs[] = {
      {"a new series starts where asked", "A", 4, 3, "20270115", t, Rule::None, 0},
      {"another series has its own numbers", "B", 1, 2, "20270115", t, Rule::None, 0},
      {"a series goes on from its highest", "A", 7, 2, "20270116", t, Rule::None, 0},
      {"a number issued again", "A", 8, 2, "20270116", t, Rule::NumberIssued, 9, 8},
      {"a gap", "A", 10, 1, "20270116", t, Rule::NumberNotNext, 9, 10},
      {"a date before the series' last", "A", 9, 1, "20270115", t, Rule::DateBeforeLast, 0},
      {"another series keeps its own dates", "C", 1, 1, "20270101", t, Rule::None, 0},
      {"number zero", "D", 0, 1, "20270116", t, Rule::NumberOutOfRange, 0},
      {"nine digits", "D", 100000000, 1, "20270116", t, Rule::NumberOutOfRange, 0},
      {"a series one character too long", longest + "Z", 1, 1, "20270116", t, Rule::SeriesNotStorable, 0},
      {"a series of a character outside ASCII", "\xa2", 1, 1, "20270116", t, Rule::SeriesNotStorable, 0},
      {"the longest series is kept whole", longest, 99999998, 2, "20270116", t, Rule::None, 0},
      {"no series at all", "", 1, 1, "20270116", t, Rule::None, 0},
      {"the clock went back more than a minute", "A", 9, 1, "20270116", "2027-01-15T09:58:59+01:00",
       Rule::LastRecordLater, 0},
      {"the clock went back less than a minute", "A", 9, 1, "20270116", "2027-01-15T09:59:01+01:00", Rule::None, 0},
  };
  size_t kept = 0;
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    std::vector<RegisterEntry> entries;
    for (int32_t n = run.first; n < run.first + run.count; ++n) {
      RegisterEntry e = Invoice(n);
      e.series = run.series;
      e.date = run.date;
      entries.push_back(e);
    }
    RegisterRefusal refusal;
    const int16_t status = reg.Append(entries, At(run.clock), refusal);
    EXPECT_EQ(status, run.refused == Rule::None ? 0 : RegisterRefused);
    EXPECT_EQ(refusal.rule, run.refused);
    if (run.refused == Rule::NumberNotNext || run.refused == Rule::NumberIssued) {
      EXPECT_EQ(refusal.expected, run.expected);
    }
    if (run.named != 0) {
      EXPECT_EQ(refusal.number, run.named);
    }
    if (run.refused == Rule::None) kept += entries.size();
  }

  // What was kept reads back whole: every record's fingerprint is the one
  // its own fields give, and the chain holds.
  const std::vector<RegisterEntry> stored = ReadBack();
  ASSERT_EQ(stored.size(), kept);
  EXPECT_EQ(FirstBrokenLink(stored), -1);
  for (const RegisterEntry& e : stored) EXPECT_EQ(e.fingerprint, ComputeFingerprint(e)) << e.series << e.number;
  struct StateCase {
    std::string series;
    int32_t highest;
    std::string lastDate;
  };
  const StateCase states[] = {
      {"A", 9, "20270116"}, {"B", 2, "20270115"}, {longest, 99999999, "20270116"}, {"", 1, "20270116"}, {"D", 0, ""},
  };
  for (const StateCase& c : states) {
    SeriesState state;
    ASSERT_EQ(reg.StateOf(c.series, state), 0);
    EXPECT_EQ(state.highest, c.highest) << c.series;
    EXPECT_EQ(state.lastDate, c.lastDate) << c.series;
  }
  int64_t broken = 0;
  RegisterEntry brokenEntry;
  ASSERT_EQ(reg.CheckChain(broken, brokenEntry), 0);
  EXPECT_EQ(broken, -1);
  RegisterEntry found;
  ASSERT_EQ(reg.Find(longest, 99999999, found), 0);
  EXPECT_EQ(found.series, longest);
  EXPECT_EQ(reg.Find("B", 3, found), RmKeyNotFound);
}

TEST_F(RegisterFile, ChangingAnyStoredFieldBreaksTheChain) {
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
    std::vector<RegisterEntry> entries = Invoices(1, 3);
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal,
                         {}, [](const RegisterEntry& e, const RegisterEntry*) { return "<r n=\"" + std::to_string(e.number) + "\"/>"; }),
              0);
  }
  const std::vector<RegisterEntry> stored = ReadBack();
  ASSERT_EQ(FirstBrokenLink(stored), -1);
  EXPECT_EQ(stored[1].xml, "<r n=\"2\"/>");

  // Every byte of the record but the seal counts; changing one byte of the
  // middle record at each field's start, and in the kept XML, is found at
  // that record.
  using F = RegisterFields;
  for (RecordField field : {F::Sequence, F::Kind, F::Series, F::Number, F::Date, F::OwnerCode, F::PropertyCode,
                            F::TaxClass, F::IssuerTaxId, F::RecipientTaxId, F::RecipientName, F::Base, F::VatRate,
                            F::Vat, F::WithholdingRate, F::Withholding, F::Total, F::GeneratedAt,
                            F::PreviousFingerprint, F::Fingerprint, F::Archive, F::Page, F::XmlLength, F::Xml,
                            F::InvoiceType, F::CorrectionForm, F::RefSeries, F::RefNumber, F::RefDate, F::RefBase,
                            F::RefVat, F::Seal}) {
    SCOPED_TRACE("offset " + std::to_string(field.offset));
    std::string bytes = EncodeRegisterRecord(stored[1]);
    bytes[field.offset] = static_cast<char>(bytes[field.offset] ^ 0x01);
    std::vector<RegisterEntry> tampered = stored;
    tampered[1] = DecodeRegisterRecord(reinterpret_cast<const uint8_t*>(bytes.data()));
    EXPECT_EQ(FirstBrokenLink(tampered), 1);
  }
  std::vector<RegisterEntry> removed = stored;
  removed.erase(removed.begin() + 1);
  EXPECT_EQ(FirstBrokenLink(removed), 1);
}

TEST_F(RegisterFile, CorrectiveAndCancellationRecordsJoinTheChain) {
  InvoiceRegister reg;
  ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  const auto clock = At("2027-02-01T09:00:00+01:00");
  RegisterRefusal refusal;
  std::vector<RegisterEntry> invoices = Invoices(1, 3);
  invoices[0].withholdingRate = 1500;
  invoices[0].withholding = 1500;
  invoices[0].total = 10600;
  ASSERT_EQ(reg.Append(invoices, clock, refusal), 0);
  std::vector<RegisterEntry> chain = ReadBack();

  // Invoice 1 corrected by substitution, then by differences; invoice 2
  // cancelled; invoice 3 left as issued.
  RegisterEntry substitution;
  ASSERT_EQ(MakeCorrective(chain, chain[0], {"R1", 'S', 9000, 2000, ""}, "RE", 1, "20270201", substitution),
            AmendRefusal::None);
  EXPECT_EQ(substitution.base, 11000);
  EXPECT_EQ(substitution.vat, 2310);
  EXPECT_EQ(substitution.withholding, 1650);
  EXPECT_EQ(substitution.total, 11660);
  EXPECT_EQ(substitution.refBase, 10000);
  EXPECT_EQ(substitution.refVat, 2100);
  // What the agency is sent: the corrected invoice as issued (its own date)
  // and, for a substitution, the base and VAT it replaces.
  const std::string sent = RegistroAltaXml(substitution, &chain.back(), "Administrador", {}, "1");
  ASSERT_FALSE(sent.empty());
  const auto element = [&](const std::string& name) {
    const size_t from = sent.find("<sf:" + name + ">"), to = sent.find("</sf:" + name + ">");
    return from == std::string::npos || to == std::string::npos ? std::string() : sent.substr(from, to - from);
  };
  EXPECT_NE(element("IDFacturaRectificada").find("<sf:FechaExpedicionFactura>15-01-2027<"), std::string::npos)
      << sent;
  EXPECT_NE(element("ImporteRectificacion").find("<sf:BaseRectificada>100.00<"), std::string::npos) << sent;
  EXPECT_NE(element("ImporteRectificacion").find("<sf:CuotaRectificada>21.00<"), std::string::npos) << sent;
  std::vector<RegisterEntry> batch{substitution};
  ASSERT_EQ(reg.Append(batch, clock, refusal), 0);
  chain = ReadBack();
  RegisterEntry differences;
  ASSERT_EQ(MakeCorrective(chain, chain[0], {"R4", 'I', 8000, 2000, ""}, "RE", 2, "20270201", differences),
            AmendRefusal::None);
  EXPECT_EQ(differences.base, -1000);  // 10000 now against 11000 after the substitution
  EXPECT_EQ(differences.vat, -210);
  EXPECT_EQ(differences.total, -1060);
  ASSERT_EQ(CheckCancellation(chain, chain[1]), AmendRefusal::None);
  batch = {differences, CancellationOf(chain[1])};
  ASSERT_EQ(reg.Append(batch, clock, refusal), 0);
  chain = ReadBack();
  ASSERT_EQ(chain.size(), 6u);
  EXPECT_EQ(FirstBrokenLink(chain), -1);

  // The cancellation hashes its five pairs; both correctives their type.
  const RegisterEntry& cancellation = chain[5];
  EXPECT_EQ(FingerprintText(cancellation),
            "IDEmisorFacturaAnulada=B12345678&NumSerieFacturaAnulada=A/00000002"
            "&FechaExpedicionFacturaAnulada=15-01-2027&Huella=" + chain[4].fingerprint +
                "&FechaHoraHusoGenRegistro=2027-02-01T09:00:00+01:00");
  EXPECT_NE(FingerprintText(chain[3]).find("&NumSerieFactura=RE/00000001&FechaExpedicionFactura=01-02-2027"
                                           "&TipoFactura=R1&CuotaTotal=23.10&ImporteTotal=133.10&"),
            std::string::npos);
  EXPECT_NE(FingerprintText(chain[4]).find("&TipoFactura=R4&CuotaTotal=-2.10&ImporteTotal=-12.10&"),
            std::string::npos);
  // A cancellation takes no number of the invoice's series.
  SeriesState a;
  ASSERT_EQ(reg.StateOf("A", a), 0);
  EXPECT_EQ(a.highest, 3);

  // The rule is checked again under the lock: cancelling an invoice that
  // another process cancelled meanwhile writes nothing.
  int32_t givenBack = 0;
  bool registered = true;
  EXPECT_EQ(CancelInvoice(reg, chain[1], {root_.Dir(), root_.Dir() + "none.dat", root_.Dir()}, clock, refusal, {}, {},
                          givenBack, registered),
            RegisterRefused);
  EXPECT_EQ(refusal.rule, RegisterRefusal::Rule::NoLongerAllowed);
  EXPECT_FALSE(registered);
  EXPECT_EQ(ReadBack().size(), 6u);

  const auto states = InvoiceStates(chain);
  using Kind = InvoiceState::Kind;
  EXPECT_EQ(states.at({"A", 1}).kind, Kind::Corrected);
  EXPECT_EQ(states.at({"A", 1}).corrections, 2);
  EXPECT_EQ(states.at({"A", 1}).lastCorrection, "RE/00000002");
  EXPECT_EQ(states.at({"A", 1}).base, 10000);
  EXPECT_EQ(states.at({"A", 2}).kind, Kind::Cancelled);
  EXPECT_EQ(states.at({"A", 3}).kind, Kind::Issued);

  struct Refused {
    const char* name;
    size_t target;
    bool cancel;
    Correction correction;
    AmendRefusal refusal;
  };
  const Refused refused[] = {
      {"cancelling twice", 1, true, {}, AmendRefusal::Cancelled},
      {"correcting a cancelled invoice", 1, false, {"R1", 'I', 1, 0, ""}, AmendRefusal::Cancelled},
      {"cancelling an invoice a corrective names", 0, true, {}, AmendRefusal::Corrected},
      {"a correction that changes nothing", 0, false, {"R1", 'S', 8000, 2000, ""}, AmendRefusal::NothingChanges},
      {"amounts beyond the register's", 2, false, {"R1", 'I', 3000000000LL, 0, ""}, AmendRefusal::AmountOutOfRange},
      {"a cancellation record is no invoice", 5, true, {}, AmendRefusal::NotInRegister},
  };
  ForEachRow(refused, [&](const Refused& r) {
    RegisterEntry out;
    EXPECT_EQ(r.cancel ? CheckCancellation(chain, chain[r.target])
                       : MakeCorrective(chain, chain[r.target], r.correction, "RE", 3, "20270201", out),
              r.refusal);
  });
}

TEST_F(RegisterFile, ARegisterOfTheFirstLayoutOpensAndKeepsItsChain) {
  // The first version's file, written as that version wrote it: one counter
  // for every series.
  const std::string earlier = root_.Dir() + "RegFactV";
  std::vector<RegisterEntry> old;
  for (int32_t n = 1; n <= 3; ++n) {
    old.push_back(Invoice(n));
    old.back().series = n == 2 ? "B" : "A";
    old.back().generatedAt = "2026-12-01T10:00:00+01:00";
  }
  ASSERT_EQ(WriteEarlierRegister(earlier, old), 0);
  InvoiceRegister reg;
  ASSERT_EQ(reg.Open(Path(), kDictionary, false, earlier), 0);
  SeriesState a, b;
  ASSERT_EQ(reg.StateOf("A", a), 0);
  ASSERT_EQ(reg.StateOf("B", b), 0);
  EXPECT_EQ(a.highest, 3);
  EXPECT_EQ(b.highest, 2);

  std::vector<RegisterEntry> entries = {Invoice(4)};
  RegisterRefusal refusal;
  ASSERT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal), 0) << static_cast<int>(refusal.rule);
  EXPECT_EQ(entries[0].sequence, 4);
  EXPECT_EQ(entries[0].previousFingerprint, old.back().fingerprint);
  const std::vector<RegisterEntry> stored = ReadBack(earlier);
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[0].layout, EarlierRegisterFields::kLayout);
  EXPECT_EQ(FirstBrokenLink(stored), -1);

  // A changed record of the first file is found there, and the register
  // refuses to go on from a last record that does not match itself.
  const std::string changed = root_.Dir() + "Changed";
  ASSERT_EQ(WriteEarlierRegister(changed, old), 0);
  ASSERT_EQ(ChangeStoredRecord(changed + ".dat", NumberKey(3),
                               [](std::string& record) { record[EarlierRegisterFields::RecipientName.offset] ^= 1; }),
            0);
  InvoiceRegister again;
  ASSERT_EQ(again.Open(root_.Dir() + "Other", kDictionary, false, changed), 0);
  int64_t broken = -1;
  RegisterEntry brokenEntry;
  ASSERT_EQ(again.CheckChain(broken, brokenEntry), 0);
  EXPECT_EQ(broken, 2);
  EXPECT_EQ(brokenEntry.number, 3);
  entries = {Invoice(4)};
  EXPECT_EQ(again.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal), RegisterRefused);
  EXPECT_EQ(refusal.rule, RegisterRefusal::Rule::LastRecordBroken);

  // A first file whose chain is out of number order: a series goes on from
  // its highest number, not from its last in the chain.
  const std::string unordered = root_.Dir() + "Unordered";
  std::vector<RegisterEntry> shuffled = {Invoice(1), Invoice(3), Invoice(2)};
  for (RegisterEntry& e : shuffled) e.generatedAt = "2026-12-01T10:00:00+01:00";
  ASSERT_EQ(WriteEarlierRegister(unordered, shuffled), 0);
  InvoiceRegister third;
  ASSERT_EQ(third.Open(root_.Dir() + "Third", kDictionary, false, unordered), 0);
  SeriesState state;
  ASSERT_EQ(third.StateOf("A", state), 0);
  EXPECT_EQ(state.highest, 3);
  entries = {Invoice(3)};
  EXPECT_EQ(third.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal), RegisterRefused);
  EXPECT_EQ(refusal.rule, RegisterRefusal::Rule::NumberIssued);
}

// An append that meets the register held by another process's transaction
// waits it out (waitLocked is asked) and then goes through.
TEST_F(RegisterFile, AnAppendWaitsOutARegisterHeldElsewhere) {
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  }
  ForkGate holder([&](ForkGate& gate) -> int {
    uint8_t block[128] = {};
    char key[256] = {};
    (Path() + ".dat").copy(key, 250);
    char owner[8] = {};
    uint32_t len = 0;
    if (RecordManagerCall(RmOpen, block, owner, &len, key, 255, 0) != 0) return 2;
    std::string record = EncodeRegisterRecord(Invoice(99));
    len = 0;
    if (RecordManagerCall(RmBeginTransaction, block, nullptr, &len, key, 255, 0) != 0) return 3;
    len = static_cast<uint32_t>(record.size());
    if (RecordManagerCall(RmInsert, block, record.data(), &len, key, 255, 0) != 0) return 4;
    if (!gate.Send('h') || gate.Receive() != 'g') return 5;  // held until the append has waited
    len = 0;
    return RecordManagerCall(RmAbortTransaction, block, nullptr, &len, key, 255, 0) == 0 ? 0 : 6;
  });
  ASSERT_EQ(holder.Receive(), 'h');
  InvoiceRegister reg;
  ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  std::vector<RegisterEntry> entries = Invoices(1, 2);
  RegisterRefusal refusal;
  int waits = 0;
  EXPECT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal, [&] {
    if (++waits == 1) holder.Send('g');
    return true;
  }),
            0);
  EXPECT_GT(waits, 0) << "the register was held: the append waited";
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(ReadBack().size(), 2u);
}

// The seal is checked over each record's bytes as stored: a byte that
// reading trims away (a trailing blank turned into a tab) or that lies
// after the first layout's seal breaks the chain at its record.
TEST_F(RegisterFile, EveryStoredByteCountsAsStored) {
  struct Case {
    const char* name;
    bool earlier;  // in the first layout's file (invoice 2), else in the register (invoice 5)
    uint16_t offset;
    char byte;
    int64_t broken;  // chain position found, -1 for none
  };
  const size_t name = Invoice(1).recipientName.size();
  const Case cases[] = {
      {"nothing changed", false, 0, 0, -1},
      {"a trailing blank of the name turned into a tab", false,
       static_cast<uint16_t>(RegisterFields::RecipientName.offset + name), '\t', 4},
      {"a blank after the kept XML turned into a tab", false, RegisterFields::Xml.offset + 100, '\t', 4},
      {"a blank after the seal of the first layout", true, EarlierRegisterFields::Seal.offset + 64, 'x', 1},
      {"the last byte of the first layout", true, EarlierRegisterRecordSize - 1, '\t', 1},
      {"a trailing blank of the name in the first layout", true,
       static_cast<uint16_t>(EarlierRegisterFields::RecipientName.offset + name), '\t', 1},
  };
  ForEachRow(cases, [&](const Case& c) {
    TempRoot root;
    const std::string earlier = root.Dir() + "RegFactV";
    std::vector<RegisterEntry> old = Invoices(1, 3);
    for (RegisterEntry& e : old) e.generatedAt = "2026-12-01T10:00:00+01:00";
    ASSERT_EQ(WriteEarlierRegister(earlier, old), 0);
    {
      InvoiceRegister reg;
      ASSERT_EQ(reg.Open(root.Dir() + "RegFact2", kDictionary, false, earlier), 0);
      std::vector<RegisterEntry> entries = Invoices(4, 3);
      RegisterRefusal refusal;
      ASSERT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal), 0);
    }
    if (c.byte != 0) {
      ASSERT_EQ(ChangeStoredRecord(c.earlier ? earlier + ".dat" : root.Dir() + "RegFact2.dat",
                                   c.earlier ? NumberKey(2) : SeriesNumberKey("A", 5),
                                   [&](std::string& record) { record[c.offset] = c.byte; }),
                0);
    }
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(root.Dir() + "RegFact2", kDictionary, true, earlier), 0);
    int64_t broken = 0;
    RegisterEntry entry;
    ASSERT_EQ(reg.CheckChain(broken, entry), 0);
    EXPECT_EQ(broken, c.broken);
  });
}

TEST_F(RegisterFile, TwoProcessesNeverIssueOneNumberTwice) {
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  }
  struct Case {
    const char* name;
    std::string seriesA, seriesB;  // each process's series
    size_t expected;               // records at the end
  };
  const Case cases[] = {
      {"one series: one process gets each run", "A", "A", 100},
      {"two series: both succeed", "X", "Y", 300},
  };
  ForEachRow(cases, [&](const Case& c) {
    // Each process appends 20 runs of 5 numbers from 1000.
    const auto appender = [&](const std::string& name) {
      return [&, name](ForkGate&) -> int {
        InvoiceRegister reg;
        if (reg.Open(Path(), kDictionary, false) != 0) return 2;
        for (int32_t run = 0; run < 20; ++run) {
          std::vector<RegisterEntry> entries = Invoices(1000 + run * 5, 5);
          for (RegisterEntry& e : entries) e.series = name;
          RegisterRefusal refusal;
          const int16_t status = reg.Append(entries, GenerationTimeNow, refusal, [] { return true; });
          if (status != 0 && status != RegisterRefused) return 3;
        }
        return 0;
      };
    };
    ForkGate a(appender(c.seriesA)), b(appender(c.seriesB));
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    const std::vector<RegisterEntry> stored = ReadBack();
    EXPECT_EQ(stored.size(), c.expected);
    EXPECT_EQ(FirstBrokenLink(stored), -1);
  });
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The register's tail is anchored outside it: whatever takes its newest
// records away, or the file itself, stops the next append and says what.
TEST(RegisterTail, AppendsStopWhenTheRegisterFallsShortOfItsAnchor) {
  using Problem = RegisterTail::Problem;
  struct Case {
    const char* name;
    std::function<void(const std::string& dir)> damage;  // after 3 runs of 2 invoices
    int16_t openStatus;
    Problem problem;
    int32_t lastSequence;  // Shorter: where the register now ends
  };
  const auto lastRecordOp = [](const std::string& dir, uint16_t op) {
    uint8_t block[128] = {};
    char key[256] = {};
    const std::string path = dir + "RegFact2.dat";
    path.copy(key, 250);
    uint32_t len = 0;
    char owner[8] = {};
    if (RecordManagerCall(RmOpen, block, owner, &len, key, 255, 0) != 0) return;
    std::vector<uint8_t> rec(RegisterRecordSize);
    len = static_cast<uint32_t>(rec.size());
    if (RecordManagerCall(RmGetLast, block, rec.data(), &len, key, 255, 3) == 0) {
      if (op == RmUpdate) rec[RegisterFields::Fingerprint.offset] ^= 1;
      len = static_cast<uint32_t>(rec.size());
      static_cast<void>(RecordManagerCall(op, block, rec.data(), &len, key, 255, 3));
    }
    len = 0;
    static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &len, key, 255, 0));
  };
  const Case cases[] = {
      {"a sound register", [](const std::string&) {}, 0, Problem::None, 6},
      {"its last record deleted", [&](const std::string& d) { lastRecordOp(d, RmDelete); }, 0, Problem::Shorter, 5},
      {"its last record's fingerprint replaced", [&](const std::string& d) { lastRecordOp(d, RmUpdate); }, 0,
       Problem::Differs, 6},
      {"the register file deleted",
       [](const std::string& d) { std::filesystem::remove(d + "RegFact2.dat"); }, RegisterTailLost,
       Problem::RegisterMissing, 0},
      {"the register and its anchor deleted, archived runs remain",
       [](const std::string& d) {
         std::filesystem::remove(d + "RegFact2.dat");
         std::filesystem::remove(d + "ARXIU/RegFact2.ancora");
         std::ofstream(d + "ARXIU/F00000001-270115100000.zsp") << "spool";
       },
       RegisterTailLost, Problem::RegisterMissing, 0},
      {"archived runs beside a register of the first layout are its own: a register is made",
       [](const std::string& d) {
         std::filesystem::remove(d + "RegFact2.dat");
         std::filesystem::remove(d + "ARXIU/RegFact2.ancora");
         std::ofstream(d + "ARXIU/F00000001-261201100000.zsp") << "spool";
         std::vector<RegisterEntry> old = Invoices(1, 6);
         for (RegisterEntry& e : old) e.generatedAt = "2026-12-01T10:00:00+01:00";
         ASSERT_EQ(WriteEarlierRegister(d + "RegFactV", old), 0);
       },
       0, Problem::None, 6},
      {"the anchor damaged",
       [](const std::string& d) {
         std::string text = FileText(d + "ARXIU/RegFact2.ancora");
         text[text.find('\n') + 1] ^= 1;
         std::ofstream(d + "ARXIU/RegFact2.ancora", std::ios::binary | std::ios::trunc) << text;
       },
       0, Problem::AnchorDamaged, 0},
      {"the anchor with a line after its four",
       [](const std::string& d) { std::ofstream(d + "ARXIU/RegFact2.ancora", std::ios::app) << "7\n"; }, 0,
       Problem::AnchorDamaged, 0},
      {"an older register without an anchor is anchored at its end",
       [](const std::string& d) { std::filesystem::remove(d + "ARXIU/RegFact2.ancora"); }, 0, Problem::None, 6},
  };
  ForEachRow(cases, [&](const Case& c) {
    TempRoot root;
    const std::string dir = root.Dir();
    {
      InvoiceRegister reg;
      reg.AnchorTail(dir + "ARXIU/RegFact2.ancora");
      ASSERT_EQ(reg.Open(dir + "RegFact2", kDictionary, false), 0);
      for (int32_t first : {1, 3, 5}) {
        std::vector<RegisterEntry> entries = Invoices(first, 2);
        RegisterRefusal refusal;
        ASSERT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal), 0);
      }
    }
    c.damage(dir);
    InvoiceRegister reg;
    reg.AnchorTail(dir + "ARXIU/RegFact2.ancora");
    const bool earlier = std::filesystem::exists(dir + "RegFactV.dat");
    const int16_t opened = reg.Open(dir + "RegFact2", kDictionary, false, earlier ? dir + "RegFactV" : "");
    EXPECT_EQ(opened, c.openStatus);
    if (opened != 0) {
      EXPECT_EQ(reg.Tail().problem, c.problem);
      EXPECT_FALSE(std::filesystem::exists(dir + "RegFact2.dat")) << "no register is made where one was";
      return;
    }
    EXPECT_EQ(reg.CheckTail(true), c.problem == Problem::None ? 0 : RegisterTailLost);
    EXPECT_EQ(reg.Tail().problem, c.problem);
    std::vector<RegisterEntry> entries = Invoices(7, 1);
    if (c.lastSequence == 5) entries = Invoices(6, 1);  // the number after the register's end
    RegisterRefusal refusal;
    EXPECT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal),
              c.problem == Problem::None ? 0 : RegisterTailLost);
    EXPECT_EQ(reg.Tail().problem, c.problem);
    if (c.problem == Problem::Shorter) {
      EXPECT_EQ(reg.Tail().lastSequence, c.lastSequence);
      EXPECT_EQ(reg.Tail().anchored, 6);
    }
    if (c.problem == Problem::None) {
      RegisterAnchor anchor;
      ASSERT_EQ(ReadRegisterAnchor(dir + "ARXIU/RegFact2.ancora", anchor), AnchorRead::Read);
      EXPECT_EQ(anchor.sequence, 7) << "the anchor follows every commit";
      EXPECT_EQ(anchor.fingerprint, entries.back().fingerprint);
    }
  });
}

// A crash leaves the newest commits in the write-ahead log; without it the
// register ends earlier than its anchor says.
TEST(RegisterTail, ARegisterThatLostItsLogAfterACrashIsStopped) {
  TempRoot root;
  const std::string dir = root.Dir();
  {
    InvoiceRegister reg;
    reg.AnchorTail(dir + "ARXIU/RegFact2.ancora");
    ASSERT_EQ(reg.Open(dir + "RegFact2", kDictionary, false), 0);
    std::vector<RegisterEntry> entries = Invoices(1, 2);
    RegisterRefusal refusal;
    ASSERT_EQ(reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal), 0);
  }
  ForkGate crash([&](ForkGate&) -> int {
    InvoiceRegister reg;
    reg.AnchorTail(dir + "ARXIU/RegFact2.ancora");
    if (reg.Open(dir + "RegFact2", kDictionary, false) != 0) return 2;
    std::vector<RegisterEntry> entries = Invoices(3, 2);
    RegisterRefusal refusal;
    if (reg.Append(entries, At("2027-01-15T10:00:00+01:00"), refusal) != 0) return 3;
    ::_exit(0);  // no close: the commit stays in the log
  });
  ASSERT_EQ(crash.Wait(), 0);
  ASSERT_TRUE(std::filesystem::exists(dir + "RegFact2.dat-wal"));
  std::filesystem::remove(dir + "RegFact2.dat-wal");
  std::filesystem::remove(dir + "RegFact2.dat-shm");
  InvoiceRegister reg;
  reg.AnchorTail(dir + "ARXIU/RegFact2.ancora");
  ASSERT_EQ(reg.Open(dir + "RegFact2", kDictionary, false), 0);
  EXPECT_EQ(reg.CheckTail(true), RegisterTailLost);
  EXPECT_EQ(reg.Tail().problem, RegisterTail::Problem::Shorter);
  EXPECT_EQ(reg.Tail().lastSequence, 2);
  EXPECT_EQ(reg.Tail().anchored, 4);
}

// The installed Productor.ini loads; each row spoils one line of it.
TEST(RegisterSoftware, IdentityFileRefusesEachBadField) {
  const std::string installed = FileText(std::string(KORVADEL_SOURCE_DIR) + "/install/Productor.ini");
  struct Case {
    const char* name;
    std::string from, to;  // a line's text replaced; from empty: no file
    SoftwareProblem problem;
    std::string field;
  };
  const Case cases[] = {
      {"the installed file", "", "", SoftwareProblem::None, ""},
      {"no file", "", "", SoftwareProblem::MissingFile, ""},
      {"producer's name missing", "\nNom=Programari", "\nX=Programari", SoftwareProblem::MissingField,
       "[Productor] Nom"},
      {"producer's name over 120", "Nom=Programari", "Nom=" + std::string(120, 'P') + "Programari",
       SoftwareProblem::FieldTooLong, "[Productor] Nom"},
      {"NIF with a wrong control", "NIF=B65432106", "NIF=B65432107", SoftwareProblem::InvalidNif,
       "[Productor] NIF"},
      {"NIF empty", "NIF=B65432106", "NIF=  ", SoftwareProblem::MissingField, "[Productor] NIF"},
      {"address missing", "\nAdreca=", "\nX=", SoftwareProblem::MissingField, "[Productor] Adreca"},
      {"system name over 30", "Nom=korvadel", "Nom=" + std::string(31, 'k'), SoftwareProblem::FieldTooLong,
       "[Sistema] Nom"},
      {"system name of 30", "Nom=korvadel", "Nom=" + std::string(30, 'k'), SoftwareProblem::None, ""},
      {"id of one character", "Id=KV", "Id=K", SoftwareProblem::InvalidSystemId, "[Sistema] Id"},
      {"id in small letters", "Id=KV", "Id=kv", SoftwareProblem::InvalidSystemId, "[Sistema] Id"},
      {"id with a sign", "Id=KV", "Id=K-", SoftwareProblem::InvalidSystemId, "[Sistema] Id"},
      {"id of three", "Id=KV", "Id=KV2", SoftwareProblem::FieldTooLong, "[Sistema] Id"},
      {"sending mode neither S nor N", "NomesVerifactu=N", "NomesVerifactu=Si", SoftwareProblem::InvalidChoice,
       "[Sistema] NomesVerifactu"},
      {"several issuers missing", "\nMultiplesEmissors=S", "\nMultiplesEmissors=", SoftwareProblem::MissingField,
       "[Sistema] MultiplesEmissors"},
      {"place missing", "Lloc=", "X=", SoftwareProblem::MissingField, "[Declaracio] Lloc"},
      {"no such day", "Data=01-12-2026", "Data=29-02-2027", SoftwareProblem::InvalidDate, "[Declaracio] Data"},
      {"date in another form", "Data=01-12-2026", "Data=2026-12-01", SoftwareProblem::InvalidDate,
       "[Declaracio] Data"},
  };
  ForEachRow(cases, [&](const Case& c) {
    TempRoot root;
    if (c.problem != SoftwareProblem::MissingFile) {
      std::string text = installed;
      if (!c.from.empty()) {
        const size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, c.from.size(), c.to);
      }
      root.Write(SoftwareFileName, text);
    }
    SoftwareIdentity identity;
    identity.systemName = "unchanged";
    std::string field = "stale";
    EXPECT_EQ(LoadSoftwareIdentity(root.Dir(), identity, field), c.problem);
    EXPECT_EQ(field, c.field);
    if (c.problem != SoftwareProblem::None) {
      EXPECT_EQ(identity.systemName, "unchanged");
    }
  });

  TempRoot root;
  root.Write(SoftwareFileName, installed);
  SoftwareIdentity identity;
  std::string field;
  ASSERT_EQ(LoadSoftwareIdentity(root.Dir(), identity, field), SoftwareProblem::None);
  EXPECT_EQ(identity.producerNif, "B65432106");
  EXPECT_EQ(identity.systemId, "KV");
  EXPECT_EQ(identity.version, SoftwareVersion());
  EXPECT_FALSE(identity.sendingOnly);
  EXPECT_TRUE(identity.multipleIssuers);
}

TEST(RegisterSoftware, InstallationNumberIsMadeOnceAndKept) {
  TempRoot a, b;
  std::filesystem::create_directories(a.Dir() + "DADES");
  std::filesystem::create_directories(b.Dir() + "DADES");
  std::string first, again, other;
  ASSERT_EQ(InstallationNumber(a.Dir(), first), 0);
  ASSERT_EQ(InstallationNumber(a.Dir(), again), 0);
  ASSERT_EQ(InstallationNumber(b.Dir(), other), 0);
  EXPECT_EQ(first.size(), 16u);
  EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF"), std::string::npos) << first;
  EXPECT_EQ(again, first);
  EXPECT_NE(other, first);
  EXPECT_EQ(FileText(a.Dir() + "DADES/Instalacio.id"), first + "\r\n");

  struct Case {
    const char* name;
    std::string kept;  // the file's bytes; "-" no DADES folder
    int error;
    std::string number;
  };
  const Case cases[] = {
      {"no DADES folder", "-", ENOENT, ""},
      {"kept by hand, without a line end", "ABC123", 0, "ABC123"},
      {"an empty file is not replaced", "", EINVAL, ""},
      {"a number with a blank", "AB 12\r\n", EINVAL, ""},
      {"over 100 characters", std::string(101, '7'), EINVAL, ""},
  };
  ForEachRow(cases, [](const Case& c) {
    TempRoot root;
    if (c.kept != "-") root.Write("DADES/Instalacio.id", c.kept);
    std::string number = "unset";
    EXPECT_EQ(InstallationNumber(root.Dir(), number), c.error);
    if (c.error == 0) {
      EXPECT_EQ(number, c.number);
    }
    if (c.kept != "-") {
      EXPECT_EQ(FileText(root.Dir() + "DADES/Instalacio.id"), c.kept);
    }
  });

  // Two processes starting together on a new root agree on one number.
  for (int round = 0; round < 10; ++round) {
    TempRoot root;
    std::filesystem::create_directories(root.Dir() + "DADES");
    const auto maker = [&](const std::string& out) {
      return [&, out](ForkGate& gate) -> int {
        if (gate.Receive() != 'g') return 2;
        std::string number;
        if (InstallationNumber(root.Dir(), number) != 0) return 3;
        std::ofstream(out) << number;
        return 0;
      };
    };
    ForkGate one(maker(root.Dir() + "one")), two(maker(root.Dir() + "two"));
    one.Send('g');
    two.Send('g');
    ASSERT_EQ(one.Wait(), 0);
    ASSERT_EQ(two.Wait(), 0);
    EXPECT_EQ(FileText(root.Dir() + "one"), FileText(root.Dir() + "two"));
    EXPECT_EQ(FileText(root.Dir() + "one") + "\r\n", FileText(root.Dir() + "DADES/Instalacio.id"));
  }
}

}  // namespace
