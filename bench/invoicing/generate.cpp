// Writes the raw record files of a large office, ready for `recman load`:
//   invoice_bench_generate <directory> <scale>
// At scale 1: 2,000 owners with 1 to 5 links each, 5,000 properties,
// 60,000 units (12 per property) and 3,000,000 receipts (50 per unit) dated
// from January 2015 to December 2024. Other scales multiply the counts of
// owners and properties (units and receipts follow). Records come out in key
// order, so the load appends to every index. Deterministic: a fixed seed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "formatting/dates.h"
#include "records/layouts.h"
#include "base/text.h"

namespace {

constexpr int UnitsPerProperty = 12;
constexpr int ReceiptsPerUnit = 50;

std::string Digits(int value, int width) { return ZeroPad(value, width); }

bool WriteAll(std::FILE* f, const std::string& rec) {
  return std::fwrite(rec.data(), 1, rec.size(), f) == rec.size();
}

uint8_t* Area(std::string& rec) { return reinterpret_cast<uint8_t*>(rec.data()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: invoice_bench_generate DIRECTORY SCALE\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const double scale = std::atof(argv[2]);
  if (!(scale > 0 && scale <= 1.9)) {
    std::fprintf(stderr, "invoice_bench_generate: scale must lie in (0, 1.9]: 9,999 codes at most\n");
    return 2;
  }
  const int owners = static_cast<int>(2000 * scale);
  const int properties = static_cast<int>(5000 * scale);

  std::mt19937 random(20241231u);
  auto between = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

  std::FILE* ownerFile = std::fopen((dir + "PropietV.raw").c_str(), "wb");
  std::FILE* propertyFile = std::fopen((dir + "FinquesV.raw").c_str(), "wb");
  std::FILE* unitFile = std::fopen((dir + "DepartaV.raw").c_str(), "wb");
  std::FILE* receiptFile = std::fopen((dir + "CobramV.raw").c_str(), "wb");
  if (!ownerFile || !propertyFile || !unitFile || !receiptFile) {
    std::fprintf(stderr, "invoice_bench_generate: cannot create the raw files in %s\n", dir.c_str());
    return 1;
  }
  bool ok = true;

  for (int o = 1; o <= owners; ++o) {
    std::string rec(OwnerRecordSize, ' ');
    SetOwnerCode(Area(rec), CodeFromText(Digits(o, 4)));
    SetOwnerName(Area(rec), "PROPIETARI" + Digits(o, 4) + "*NOM");
    SetOwnerAddress1(Area(rec), "CARRER " + Digits(o, 4));
    SetOwnerAddress2(Area(rec), "17001 GIRONA");
    SetOwnerAddress3(Area(rec), "GIRONA");
    for (int i = 1; i <= OwnerLinkCount; ++i) {
      SetLinkPropertyCode(Area(rec), i, std::string(2, '\0'));
      SetLinkTaxClass(Area(rec), i, 0);
    }
    const int links = between(1, 5);
    for (int i = 1; i <= links; ++i) {
      SetLinkPropertyCode(Area(rec), i, CodeFromText(Digits(between(1, properties), 4)));
      SetLinkTaxClass(Area(rec), i, static_cast<int16_t>(between(0, 1)));
    }
    SetOwnerTaxId(Area(rec), o % 2 ? "ESB" + Digits(o, 8) : "ES4" + Digits(o, 8));
    ok = ok && WriteAll(ownerFile, rec);
  }

  const int periods[] = {0, 1, 1, 3, 12};
  for (int p = 1; p <= properties && ok; ++p) {
    std::string code = CodeFromText(Digits(p, 4));
    std::string rec(PropertyRecordSize, ' ');
    SetPropertyCode(Area(rec), code);
    SetPropertyListName(Area(rec), "FINCA " + Digits(p, 4));
    SetFeePercent(Area(rec), static_cast<float>(between(30, 80)) / 10.0f);
    SetExpenseAmount(Area(rec), between(0, 5000));
    SetBillingPeriodMonths(Area(rec), static_cast<int16_t>(periods[between(0, 4)]));
    SetPropertyName(Area(rec), "EDIFICI " + Digits(p, 4));
    SetCutoffDate(Area(rec), EmptyDate);
    SetFixedFee(Area(rec), between(0, 3) * 1000);
    ok = ok && WriteAll(propertyFile, rec);

    for (int u = 1; u <= UnitsPerProperty && ok; ++u) {
      std::string unitKey = code + CodeFromText(Digits(u, 4));
      std::string unit(UnitRecordSize, ' ');
      SetUnitKey(Area(unit), unitKey);
      ok = ok && WriteAll(unitFile, unit);

      // 50 receipts spread over 120 months, in date order.
      for (int r = 0; r < ReceiptsPerUnit && ok; ++r) {
        int month = r * 120 / ReceiptsPerUnit + between(0, 1);
        int year = 2015 + month / 12;
        std::string date = Digits(year, 4) + Digits(month % 12 + 1, 2) + Digits(between(1, 28), 2);
        std::string rec2(CollectionRecordSize, ' ');
        SetReceiptUnitKey(Area(rec2), unitKey);
        SetReceiptDate(Area(rec2), CodeFromText(date));
        SetReceiptAmount(Area(rec2), between(5000, 150000));
        const char types[] = {'C', 'C', 'C', 'I', 'X'};
        SetReceiptType(Area(rec2), types[between(0, 4)]);
        SetBaseDeduction(Area(rec2), between(0, 3) == 0 ? between(0, 2000) : 0);
        SetReceiptState(Area(rec2), between(0, 9) == 0 ? 'N' : 'P');
        SetBaseAddition(Area(rec2), between(0, 5) == 0 ? between(0, 1000) : 0);
        ok = ok && WriteAll(receiptFile, rec2);
      }
    }
  }

  for (std::FILE* f : {ownerFile, propertyFile, unitFile, receiptFile}) ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::fprintf(stderr, "invoice_bench_generate: writing the raw files in %s failed\n", dir.c_str());
    return 1;
  }
  std::printf("%d owners, %d properties, %d units, %d receipts\n", owners, properties,
              properties * UnitsPerProperty, properties * UnitsPerProperty * ReceiptsPerUnit);
  return 0;
}
