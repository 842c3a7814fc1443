// The record layouts: field placement and byte order, agreement with the
// field layouts that the recman tool imports through, and records written
// with the setters read back through the engine and the layer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "recman/recman.h"
#include "records/dictionaries.h"
#include "records/layouts.h"
#include "records/records.h"
#include "records/report.h"
#include "startup/session.h"
#include "tests/records/scripted_recman.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(RecordLayouts, SettersWriteTheirOwnBytesLittleEndian) {
  struct Row {
    const char* what;
    uint32_t size;
    std::function<void(uint8_t*)> set;
    size_t offset;
    std::string bytes;
  };
  const Row rows[] = {
      {"owner code", OwnerRecordSize, [](uint8_t* r) { SetOwnerCode(r, Bytes({128, 133})); }, 0, Bytes({128, 133})},
      {"owner name short", OwnerRecordSize, [](uint8_t* r) { SetOwnerName(r, "Puig*Anna"); }, 2,
       "Puig*Anna" + std::string(21, ' ')},
      {"owner name long", OwnerRecordSize, [](uint8_t* r) { SetOwnerName(r, std::string(40, 'x')); }, 2,
       std::string(30, 'x')},
      {"address 1", OwnerRecordSize, [](uint8_t* r) { SetOwnerAddress1(r, "C/ Major 1"); }, 52,
       "C/ Major 1" + std::string(20, ' ')},
      {"address 3", OwnerRecordSize, [](uint8_t* r) { SetOwnerAddress3(r, ""); }, 112, std::string(30, ' ')},
      {"link 1 class", OwnerRecordSize, [](uint8_t* r) { SetLinkTaxClass(r, 1, 1); }, 186, Bytes({1, 0})},
      {"link 7 property", OwnerRecordSize, [](uint8_t* r) { SetLinkPropertyCode(r, 7, Bytes({129, 227})); }, 208,
       Bytes({129, 227})},
      {"link 20 class", OwnerRecordSize, [](uint8_t* r) { SetLinkTaxClass(r, 20, -2); }, 262, Bytes({0xFE, 0xFF})},
      {"tax id", OwnerRecordSize, [](uint8_t* r) { SetOwnerTaxId(r, "ESB12345678"); }, 264,
       "ESB12345678" + std::string(6, ' ')},
      {"fee percent", PropertyRecordSize, [](uint8_t* r) { SetFeePercent(r, 12.5f); }, 101, Bytes({0, 0, 0x48, 0x41})},
      {"expense amount", PropertyRecordSize, [](uint8_t* r) { SetExpenseAmount(r, -2); }, 105,
       Bytes({0xFE, 0xFF, 0xFF, 0xFF})},
      {"billing period", PropertyRecordSize, [](uint8_t* r) { SetBillingPeriodMonths(r, 258); }, 139, Bytes({2, 1})},
      {"property name", PropertyRecordSize, [](uint8_t* r) { SetPropertyName(r, std::string(50, 'n')); }, 142,
       std::string(50, 'n')},
      {"cut-off date", PropertyRecordSize, [](uint8_t* r) { SetCutoffDate(r, Bytes({148, 152, 133, 159})); }, 192,
       Bytes({148, 152, 133, 159})},
      {"fixed fee", PropertyRecordSize, [](uint8_t* r) { SetFixedFee(r, 0x01020304); }, 200, Bytes({4, 3, 2, 1})},
      {"unit key", UnitRecordSize, [](uint8_t* r) { SetUnitKey(r, Bytes({128, 131, 128, 129})); }, 0,
       Bytes({128, 131, 128, 129})},
      {"receipt date", CollectionRecordSize, [](uint8_t* r) { SetReceiptDate(r, Bytes({148, 152, 133, 159})); }, 4,
       Bytes({148, 152, 133, 159})},
      {"receipt amount", CollectionRecordSize, [](uint8_t* r) { SetReceiptAmount(r, INT32_MIN); }, 13,
       Bytes({0, 0, 0, 0x80})},
      {"receipt type", CollectionRecordSize, [](uint8_t* r) { SetReceiptType(r, 'C'); }, 17, "C"},
      {"base deduction", CollectionRecordSize, [](uint8_t* r) { SetBaseDeduction(r, 100); }, 24, Bytes({100, 0, 0, 0})},
      {"receipt state", CollectionRecordSize, [](uint8_t* r) { SetReceiptState(r, 'P'); }, 38, "P"},
      {"base addition", CollectionRecordSize, [](uint8_t* r) { SetBaseAddition(r, INT32_MAX); }, 40,
       Bytes({0xFF, 0xFF, 0xFF, 0x7F})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string rec(row.size, '~');
    row.set(reinterpret_cast<uint8_t*>(rec.data()));
    std::string expected(row.size, '~');
    expected.replace(row.offset, row.bytes.size(), row.bytes);
    EXPECT_EQ(rec, expected);
  }
}

// name -> (offset, width) from an install/ddf field layout.
std::map<std::string, RecordField> ReadLayout(const std::string& base) {
  std::map<std::string, RecordField> fields;
  std::ifstream in(fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf" / (base + ".layout"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream parts(line);
    std::string name, offset, width;
    std::getline(parts, name, ',');
    std::getline(parts, offset, ',');
    std::getline(parts, width, ',');
    fields[name] = RecordField{static_cast<uint16_t>(std::stoi(offset)), static_cast<uint16_t>(std::stoi(width))};
  }
  return fields;
}

TEST(RecordLayouts, FieldLayoutFilesAgreeWithTheAccessors) {
  struct Row {
    const char* base;
    std::map<std::string, RecordField> fields;
  };
  std::vector<Row> rows = {
      {"PropietV",
       {{"OwnerCode", OwnerFields::Code},
        {"OwnerName", OwnerFields::Name},
        {"OwnerAddress1", OwnerFields::Address1},
        {"OwnerAddress2", OwnerFields::Address2},
        {"OwnerAddress3", OwnerFields::Address3},
        {"OwnerTaxId", OwnerFields::TaxId}}},
      {"FinquesV",
       {{"PropertyCode", PropertyFields::Code},
        {"PropertyListName", PropertyFields::ListName},
        {"FeePercent", PropertyFields::FeePercent},
        {"ExpenseAmount", PropertyFields::ExpenseAmount},
        {"BillingPeriodMonths", PropertyFields::BillingPeriodMonths},
        {"PropertyName", PropertyFields::Name},
        {"CutoffDate", PropertyFields::CutoffDate},
        {"FixedFee", PropertyFields::FixedFee}}},
      {"DepartaV", {{"UnitKey", UnitFields::Key}}},
      {"CobramV",
       {{"ReceiptUnitKey", CollectionFields::UnitKey},
        {"ReceiptDate", CollectionFields::Date},
        {"ReceiptAmount", CollectionFields::Amount},
        {"ReceiptType", CollectionFields::Type},
        {"BaseDeduction", CollectionFields::BaseDeduction},
        {"ReceiptState", CollectionFields::State},
        {"BaseAddition", CollectionFields::BaseAddition}}},
  };
  for (int i = 1; i <= OwnerLinkCount; ++i) {
    rows[0].fields["Link" + std::to_string(i) + "Property"] = OwnerLinkPropertyField(i);
    rows[0].fields["Link" + std::to_string(i) + "Class"] = OwnerLinkTaxClassField(i);
  }
  for (const Row& row : rows) {
    std::map<std::string, RecordField> file = ReadLayout(row.base);
    EXPECT_EQ(file.size(), row.fields.size()) << row.base;
    for (const auto& [name, field] : row.fields) {
      SCOPED_TRACE(std::string(row.base) + " " + name);
      ASSERT_TRUE(file.count(name));
      EXPECT_EQ(file[name].offset, field.offset);
      EXPECT_EQ(file[name].width, field.width);
    }
  }
}

TEST(RecordLayouts, RecordsBuiltWithSettersReadBackThroughTheLayer) {
  fs::path root = fs::temp_directory_path() / ("records-lay-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "DADES");
  fs::copy(fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf", root / "ddf");
  Session.RootDir = root.string() + "\\";
  RecordedHooks hooks;
  hooks.Install();

  struct Check {
    const char* field;
    std::function<std::string(const uint8_t*)> get;
    std::string expected;
  };
  struct Row {
    int16_t id;
    const char* base;
    uint32_t size;
    std::function<void(uint8_t*)> build;
    std::string key;
    std::vector<Check> checks;
  };
  const std::string code = Bytes({128, 142});
  const std::string unit = Bytes({128, 142, 128, 131});
  const std::string date = Bytes({148, 152, 133, 159});
  const std::vector<Row> rows = {
      {OwnerFileId, "PropietV", OwnerRecordSize,
       [&](uint8_t* r) {
         SetOwnerCode(r, code);
         SetOwnerName(r, "Ferr\x82*Pau");
         SetOwnerAddress1(r, "Pla\x87" "a Major, 3");
         SetOwnerAddress2(r, "08001 Barcelona");
         SetOwnerAddress3(r, "Barcelona");
         for (int i = 1; i <= 20; ++i) {
           SetLinkPropertyCode(r, i, Bytes({128, 128 + i}));
           SetLinkTaxClass(r, i, static_cast<int16_t>(i % 2));
         }
         SetOwnerTaxId(r, "ES12345678Z");
       },
       code,
       {{"name", [](const uint8_t* r) { return OwnerName(r); }, "Ferr\x82*Pau" + std::string(21, ' ')},
        {"link 20", [](const uint8_t* r) { return LinkPropertyCode(r, 20) + std::to_string(LinkTaxClass(r, 20)); },
         Bytes({128, 148}) + "0"},
        {"tax id", [](const uint8_t* r) { return OwnerTaxId(r); }, "ES12345678Z" + std::string(6, ' ')},
        {"list text", [](const uint8_t* r) { return OwnerLinkListText(r).substr(264); },
         "ES12345678Z" + std::string(46, ' ')}}},
      {PropertyFileId, "FinquesV", PropertyRecordSize,
       [&](uint8_t* r) {
         SetPropertyCode(r, code);
         SetPropertyListName(r, "Casa Nova");
         SetFeePercent(r, 4.75f);
         SetExpenseAmount(r, -123456);
         SetBillingPeriodMonths(r, -3);
         SetPropertyName(r, "Comunitat Casa Nova");
         SetCutoffDate(r, date);
         SetFixedFee(r, 2500);
       },
       code,
       {{"fee", [](const uint8_t* r) { return std::to_string(FeePercent(r)); }, std::to_string(4.75f)},
        {"expenses", [](const uint8_t* r) { return std::to_string(ExpenseAmount(r)); }, "-123456"},
        {"period", [](const uint8_t* r) { return std::to_string(BillingPeriodMonths(r)); }, "-3"},
        {"cut-off", [](const uint8_t* r) { return CutoffDate(r); }, date}}},
      {UnitFileId, "DepartaV", UnitRecordSize, [&](uint8_t* r) { SetUnitKey(r, unit); }, unit,
       {{"unit key", [](const uint8_t* r) { return UnitKey(r); }, unit}}},
      {CollectionFileId, "CobramV", CollectionRecordSize,
       [&](uint8_t* r) {
         SetReceiptUnitKey(r, unit);
         SetReceiptDate(r, date);
         SetReceiptAmount(r, 98765);
         SetReceiptType(r, 'I');
         SetBaseDeduction(r, -50);
         SetReceiptState(r, 'P');
         SetBaseAddition(r, 70000);
       },
       unit + date,
       {{"date", [](const uint8_t* r) { return ReceiptDate(r); }, date},
        {"amount", [](const uint8_t* r) { return std::to_string(ReceiptAmount(r)); }, "98765"},
        {"type and state", [](const uint8_t* r) { return std::string{ReceiptType(r), ReceiptState(r)}; }, "IP"},
        {"deduction", [](const uint8_t* r) { return std::to_string(BaseDeduction(r)); }, "-50"},
        {"addition", [](const uint8_t* r) { return std::to_string(BaseAddition(r)); }, "70000"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.base);
    std::vector<uint8_t> area(row.size, ' ');
    int16_t st = -1;
    OpenRecordFile(row.id, Session.RootDir + "DADES\\" + row.base, area.data(), st);
    ASSERT_EQ(st, 0);
    std::vector<uint8_t> rec(row.size, ' ');
    row.build(rec.data());
    // Written through a handle of its own, read through the layer.
    uint8_t block[128] = {};
    std::string path = (root / "DADES" / (std::string(row.base) + ".dat")).string();
    std::string owner = RecordFileOwnerName();
    uint32_t len = static_cast<uint32_t>(owner.size());
    ASSERT_EQ(RecordManagerCall(RmOpen, block, owner.data(), &len, path.data(), static_cast<uint8_t>(path.size()), 0),
              0);
    uint8_t key[256] = {};
    len = row.size;
    ASSERT_EQ(RecordManagerCall(RmInsert, block, rec.data(), &len, key, 255, 0), 0);
    SeekRecord(row.id, 0, row.key, 0, st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(area, rec);
    for (const Check& c : row.checks) EXPECT_EQ(c.get(area.data()), c.expected) << c.field;
    len = 0;
    RecordManagerCall(RmClose, block, nullptr, &len, key, 0, 0);
  }
  int16_t st = 0;
  ResetRecordFiles(st);
  RecordHooks() = DefaultRecordFileHooks();
  Session.RootDir.clear();
  fs::remove_all(root);
}

}  // namespace
