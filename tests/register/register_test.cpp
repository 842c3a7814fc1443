// The invoice register: fingerprints by the agency's rules, the code's
// address, the chain and its seals, and appends that are all or nothing,
// also when two processes append at once.
#include "register/register.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "recman/recman.h"
#include "tests/support/fork_gate.h"
#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

const std::string kDictionary = std::string(KORVADEL_SOURCE_DIR) + "/install/ddf/RegFactV.xdf";

RegisterEntry Invoice(int32_t number, int32_t total = 12100) {
  RegisterEntry e;
  e.number = number;
  e.series = "A";
  e.date = "20270115";
  e.ownerCode = "\x80\x81";
  e.propertyCode = "\x80\x83";
  e.issuerTaxId = "B12345678";
  e.recipientTaxId = "ES40312876T";
  e.recipientName = "Montserrat Puig Serrat";
  e.base = 10000;
  e.vatRate = 2100;
  e.vat = 2100;
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

  struct Case {
    const char* name;
    std::string series;
    int32_t base, vat;
    bool test;
    std::string url;
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
  };
  ForEachRow(cases, [&](const Case& c) {
    RegisterEntry q = Invoice(7);
    q.series = c.series;
    q.base = c.base;
    q.vat = c.vat;
    EXPECT_EQ(TaxQrUrl(q, c.test), c.url);
  });
}

class RegisterFile : public ::testing::Test {
 protected:
  std::string Path() const { return root_.Dir() + "RegFactV"; }

  std::vector<RegisterEntry> ReadBack() {
    InvoiceRegister reg;
    EXPECT_EQ(reg.Open(Path(), kDictionary, true), 0);
    std::vector<RegisterEntry> entries;
    EXPECT_EQ(reg.ReadAll(entries), 0);
    return entries;
  }

  TempRoot root_;
};

TEST_F(RegisterFile, AppendsChainAndRefusesIssuedNumbers) {
  InvoiceRegister reg;
  ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  int32_t highest = -1;
  ASSERT_EQ(reg.HighestNumber(highest), 0);
  EXPECT_EQ(highest, 0);

  int32_t issued = 0;
  std::vector<RegisterEntry> first = Invoices(1, 3);
  ASSERT_EQ(reg.Append(first, "2027-01-15T10:00:00+01:00", issued), 0);
  std::vector<RegisterEntry> second = Invoices(10, 2);
  ASSERT_EQ(reg.Append(second, "2027-01-16T10:00:00+01:00", issued), 0);
  EXPECT_EQ(second[0].previousFingerprint, first[2].fingerprint);
  ASSERT_EQ(reg.HighestNumber(highest), 0);
  EXPECT_EQ(highest, 11);

  // A run that holds one number already issued writes nothing at all.
  std::vector<RegisterEntry> clash = Invoices(11, 3);
  EXPECT_EQ(reg.Append(clash, "2027-01-17T10:00:00+01:00", issued), RegisterNumberIssued);
  EXPECT_EQ(issued, 11);

  const std::vector<RegisterEntry> stored = ReadBack();
  ASSERT_EQ(stored.size(), 5u);
  EXPECT_EQ(FirstBrokenLink(stored), -1);
  EXPECT_EQ(stored[3].number, 10);
  EXPECT_EQ(stored[3].recipientName, "Montserrat Puig Serrat");
  RegisterEntry found;
  EXPECT_EQ(reg.Find(2, found), 0);
  EXPECT_EQ(found.fingerprint, first[1].fingerprint);
  EXPECT_EQ(reg.Find(5, found), RmKeyNotFound);
}

TEST_F(RegisterFile, ChangingAnyStoredFieldBreaksTheChain) {
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
    std::vector<RegisterEntry> entries = Invoices(1, 3);
    int32_t issued = 0;
    ASSERT_EQ(reg.Append(entries, "2027-01-15T10:00:00+01:00", issued), 0);
  }
  const std::vector<RegisterEntry> stored = ReadBack();
  ASSERT_EQ(FirstBrokenLink(stored), -1);

  // Every byte of the record but the seal counts; changing one byte of the
  // middle record at each field's start is found at that record.
  for (uint16_t offset : {0, 4, 8, 12, 16, 18, 20, 22, 31, 48, 108, 112, 116, 120, 124, 128, 132, 157, 221, 285, 309, 313}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    std::string bytes = EncodeRegisterRecord(stored[1]);
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
    std::vector<RegisterEntry> tampered = stored;
    tampered[1] = DecodeRegisterRecord(reinterpret_cast<const uint8_t*>(bytes.data()));
    EXPECT_EQ(FirstBrokenLink(tampered), 1);
  }
  std::vector<RegisterEntry> removed = stored;
  removed.erase(removed.begin() + 1);
  EXPECT_EQ(FirstBrokenLink(removed), 1);
}

TEST_F(RegisterFile, TwoProcessesNeverIssueOneNumberTwice) {
  {
    InvoiceRegister reg;
    ASSERT_EQ(reg.Open(Path(), kDictionary, false), 0);
  }
  struct Case {
    const char* name;
    int32_t firstA, firstB;  // where each process's numbers start
    size_t expected;         // records at the end
  };
  const Case cases[] = {
      {"the same numbers: one process gets each run", 1000, 1000, 100},
      {"different numbers: both succeed", 2000, 3000, 300},
  };
  ForEachRow(cases, [&](const Case& c) {
    // Each process appends 20 runs of 5 numbers from `first`.
    const auto appender = [&](int32_t first) {
      return [&, first](ForkGate&) -> int {
        InvoiceRegister reg;
        if (reg.Open(Path(), kDictionary, false) != 0) return 2;
        for (int32_t run = 0; run < 20; ++run) {
          std::vector<RegisterEntry> entries = Invoices(first + run * 5, 5);
          int32_t issued = 0;
          const int16_t status = reg.Append(entries, GenerationTimeNow(), issued, [] {
            ::usleep(1000);
            return true;
          });
          if (status != 0 && status != RegisterNumberIssued) return 3;
        }
        return 0;
      };
    };
    ForkGate a(appender(c.firstA)), b(appender(c.firstB));
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    const std::vector<RegisterEntry> stored = ReadBack();
    EXPECT_EQ(stored.size(), c.expected);
    EXPECT_EQ(FirstBrokenLink(stored), -1);
  });
}

}  // namespace
