// The record layouts: field placement and byte order of every setter and
// getter, and agreement with the field layouts the recman tool imports
// through. (Records built here are read back through the engine by the
// layer's own tests.)
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "records/layouts.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

using Get = std::function<std::string(const uint8_t*)>;
template <typename T>
Get Num(T (*getter)(const uint8_t*)) {
  return [getter](const uint8_t* r) { return std::to_string(getter(r)); };
}
Get Text(std::string (*getter)(const uint8_t*)) { return getter; }

// Each row sets one field on a record of '~' bytes: exactly the field's bytes
// change, to the little-endian or blank-padded form, and the getter gives
// the value back.
TEST(RecordLayouts, EachFieldHasItsOwnBytes) {
  struct Row {
    const char* what;
    uint32_t size;
    std::function<void(uint8_t*)> set;
    size_t offset;
    std::string bytes;
    Get get;
    std::string value;
  };
  const Row rows[] = {
      {"owner code", OwnerRecordSize, [](uint8_t* r) { SetOwnerCode(r, Bytes({128, 133})); }, 0, Bytes({128, 133}),
       Text(OwnerCode), Bytes({128, 133})},
      {"owner name short", OwnerRecordSize, [](uint8_t* r) { SetOwnerName(r, "Puig*Anna"); }, 2,
       "Puig*Anna" + std::string(21, ' '), Text(OwnerName), "Puig*Anna" + std::string(21, ' ')},
      {"owner name cut", OwnerRecordSize, [](uint8_t* r) { SetOwnerName(r, std::string(40, 'x')); }, 2,
       std::string(30, 'x'), Text(OwnerName), std::string(30, 'x')},
      {"address 1", OwnerRecordSize, [](uint8_t* r) { SetOwnerAddress1(r, "Pla\x87" "a 1"); }, 52,
       "Pla\x87" "a 1" + std::string(23, ' '), Text(OwnerAddress1), "Pla\x87" "a 1" + std::string(23, ' ')},
      {"address 2", OwnerRecordSize, [](uint8_t* r) { SetOwnerAddress2(r, "08001"); }, 82,
       "08001" + std::string(25, ' '), Text(OwnerAddress2), "08001" + std::string(25, ' ')},
      {"address 3", OwnerRecordSize, [](uint8_t* r) { SetOwnerAddress3(r, ""); }, 112, std::string(30, ' '),
       Text(OwnerAddress3), std::string(30, ' ')},
      {"link 1 class", OwnerRecordSize, [](uint8_t* r) { SetLinkTaxClass(r, 1, 1); }, 186, Bytes({1, 0}),
       [](const uint8_t* r) { return std::to_string(LinkTaxClass(r, 1)); }, "1"},
      {"link 7 property", OwnerRecordSize, [](uint8_t* r) { SetLinkPropertyCode(r, 7, Bytes({129, 227})); }, 208,
       Bytes({129, 227}), [](const uint8_t* r) { return LinkPropertyCode(r, 7); }, Bytes({129, 227})},
      {"link 20 class", OwnerRecordSize, [](uint8_t* r) { SetLinkTaxClass(r, 20, -2); }, 262, Bytes({0xFE, 0xFF}),
       [](const uint8_t* r) { return std::to_string(LinkTaxClass(r, 20)); }, "-2"},
      {"links as one field", OwnerRecordSize, [](uint8_t* r) { SetLinkPropertyCode(r, 20, "ab"); }, 260, "ab",
       [](const uint8_t* r) { return PropertyLinks(r).substr(76); }, "ab~~"},
      {"tax id", OwnerRecordSize, [](uint8_t* r) { SetOwnerTaxId(r, "ESB12345678"); }, 264,
       "ESB12345678" + std::string(6, ' '), Text(OwnerTaxId), "ESB12345678" + std::string(6, ' ')},
      {"link list text", OwnerRecordSize, [](uint8_t* r) { SetOwnerTaxId(r, "ES1"); }, 264, "ES1" + std::string(14, ' '),
       [](const uint8_t* r) { return OwnerLinkListText(r).substr(262); }, "~~ES1" + std::string(14, ' ') + std::string(40, '~')},
      {"property code", PropertyRecordSize, [](uint8_t* r) { SetPropertyCode(r, Bytes({128, 131})); }, 0,
       Bytes({128, 131}), Text(PropertyCode), Bytes({128, 131})},
      {"list name", PropertyRecordSize, [](uint8_t* r) { SetPropertyListName(r, "Finca"); }, 8,
       "Finca" + std::string(25, ' '), Text(PropertyListName), "Finca" + std::string(25, ' ')},
      {"fee percent", PropertyRecordSize, [](uint8_t* r) { SetFeePercent(r, 12.5f); }, 101, Bytes({0, 0, 0x48, 0x41}),
       Num(FeePercent), std::to_string(12.5f)},
      {"expense amount", PropertyRecordSize, [](uint8_t* r) { SetExpenseAmount(r, -2); }, 105,
       Bytes({0xFE, 0xFF, 0xFF, 0xFF}), Num(ExpenseAmount), "-2"},
      {"billing period", PropertyRecordSize, [](uint8_t* r) { SetBillingPeriodMonths(r, 258); }, 139, Bytes({2, 1}),
       Num(BillingPeriodMonths), "258"},
      {"property name", PropertyRecordSize, [](uint8_t* r) { SetPropertyName(r, std::string(50, 'n')); }, 142,
       std::string(50, 'n'), Text(PropertyName), std::string(50, 'n')},
      {"cut-off date", PropertyRecordSize, [](uint8_t* r) { SetCutoffDate(r, Bytes({148, 152})); }, 192,
       Bytes({148, 152, 0, 0}), Text(CutoffDate), Bytes({148, 152, 0, 0})},
      {"fixed fee", PropertyRecordSize, [](uint8_t* r) { SetFixedFee(r, 0x01020304); }, 200, Bytes({4, 3, 2, 1}),
       Num(FixedFee), "16909060"},
      {"unit key", UnitRecordSize, [](uint8_t* r) { SetUnitKey(r, Bytes({128, 131, 128, 129})); }, 0,
       Bytes({128, 131, 128, 129}), Text(UnitKey), Bytes({128, 131, 128, 129})},
      {"receipt unit", CollectionRecordSize, [](uint8_t* r) { SetReceiptUnitKey(r, Bytes({128, 131, 128, 129})); }, 0,
       Bytes({128, 131, 128, 129}), Text(ReceiptUnitKey), Bytes({128, 131, 128, 129})},
      {"receipt date", CollectionRecordSize, [](uint8_t* r) { SetReceiptDate(r, Bytes({148, 152, 133, 159})); }, 4,
       Bytes({148, 152, 133, 159}), Text(ReceiptDate), Bytes({148, 152, 133, 159})},
      {"receipt amount", CollectionRecordSize, [](uint8_t* r) { SetReceiptAmount(r, INT32_MIN); }, 13,
       Bytes({0, 0, 0, 0x80}), Num(ReceiptAmount), std::to_string(INT32_MIN)},
      {"receipt type", CollectionRecordSize, [](uint8_t* r) { SetReceiptType(r, 'C'); }, 17, "C",
       [](const uint8_t* r) { return std::string(1, ReceiptType(r)); }, "C"},
      {"base deduction", CollectionRecordSize, [](uint8_t* r) { SetBaseDeduction(r, 100); }, 24,
       Bytes({100, 0, 0, 0}), Num(BaseDeduction), "100"},
      {"receipt state", CollectionRecordSize, [](uint8_t* r) { SetReceiptState(r, 'P'); }, 38, "P",
       [](const uint8_t* r) { return std::string(1, ReceiptState(r)); }, "P"},
      {"base addition", CollectionRecordSize, [](uint8_t* r) { SetBaseAddition(r, INT32_MAX); }, 40,
       Bytes({0xFF, 0xFF, 0xFF, 0x7F}), Num(BaseAddition), "2147483647"},
      {"mail owner", MailAddressRecordSize, [](uint8_t* r) { SetMailOwnerCode(r, Bytes({128, 133})); }, 0,
       Bytes({128, 133}), Text(MailOwnerCode), Bytes({128, 133})},
      {"mail address 3", MailAddressRecordSize, [](uint8_t* r) { SetMailAddress(r, 3, "a@b.cat"); }, 162,
       "a@b.cat" + std::string(73, ' '), [](const uint8_t* r) { return MailAddress(r, 3); },
       "a@b.cat" + std::string(73, ' ')},
      {"paper wanted", MailAddressRecordSize, [](uint8_t* r) { SetMailWantsPaper(r, true); }, 242, "S",
       [](const uint8_t* r) { return std::string(MailWantsPaper(r) ? "yes" : "no"); }, "yes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string rec(row.size, '~');
    row.set(reinterpret_cast<uint8_t*>(rec.data()));
    std::string expected(row.size, '~');
    expected.replace(row.offset, row.bytes.size(), row.bytes);
    EXPECT_EQ(rec, expected);
    EXPECT_EQ(row.get(reinterpret_cast<const uint8_t*>(rec.data())), row.value);
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
      {"CorreuV",
       {{"OwnerCode", MailAddressFields::OwnerCode},
        {"Address1", MailAddressField(1)},
        {"Address2", MailAddressField(2)},
        {"Address3", MailAddressField(3)},
        {"Paper", MailAddressFields::Paper}}},
      {"MandatV",
       {{"OwnerCode", MandateFields::OwnerCode},
        {"Reference", MandateFields::Reference},
        {"Iban", MandateFields::Iban},
        {"Signed", MandateFields::Signed},
        {"Scheme", MandateFields::Scheme},
        {"FirstDone", MandateFields::FirstDone}}},
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

}  // namespace
