#include "tests/invoicing/office.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formatting/dates.h"
#include "formatting/picture.h"
#include "invoicing/production.h"
#include "recman/recman.h"
#include "records/dictionaries.h"
#include "records/layouts.h"
#include "records/records.h"
#include "records/report.h"
#include "printing/spool.h"
#include "session/session.h"

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Inserts fixed-length records into a data file through a handle of our own.
bool InsertAll(const std::string& hostPath, const std::vector<std::string>& records) {
  std::array<uint8_t, 128> block{};
  std::string owner = RecordFileOwnerName();
  uint32_t len = static_cast<uint32_t>(owner.size());
  std::array<char, 256> key{};
  std::copy(hostPath.begin(), hostPath.end(), key.begin());
  int16_t st = RecordManagerCall(RmOpen, block.data(), owner.data(), &len, key.data(),
                                 static_cast<uint8_t>(hostPath.size()), 0);
  EXPECT_EQ(st, 0) << "open " << hostPath;
  if (st != 0) return false;
  for (const std::string& rec : records) {
    std::string data = rec;
    uint32_t dataLen = static_cast<uint32_t>(data.size());
    std::array<char, 256> keyBuffer{};
    st = RecordManagerCall(RmInsert, block.data(), data.data(), &dataLen, keyBuffer.data(), 255, 0);
    EXPECT_EQ(st, 0) << "insert into " << hostPath;
    if (st != 0) break;
  }
  uint32_t zero = 0;
  RecordManagerCall(RmClose, block.data(), nullptr, &zero, nullptr, 0, 0);
  return st == 0;
}

std::string Blank(uint32_t size) { return std::string(size, ' '); }

uint8_t* Area(std::string& rec) { return reinterpret_cast<uint8_t*>(rec.data()); }

std::string StoredOrEmpty(const std::string& digits) {
  return digits.empty() ? EmptyDate : CodeFromText(digits);
}

}  // namespace

std::string PropertyKey(const std::string& threeDigits) { return CodeFromText("0" + threeDigits); }

TestOffice::TestOffice() {
  char pattern[] = "/tmp/korvadel-invoicing-XXXXXX";
  char* made = mkdtemp(pattern);
  if (made == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  root_ = std::string(made) + "/";
  Session = SessionValues{};
  Session.RootDir = root_;
  Session.TempDir = root_;
  Session.Language = "CAT";
  SetRecordSettings({root_, Language::Catalan});
  SetSpoolSettings({root_, "", Language::Catalan});
  ResetFormattingSettingsForTesting();
  SetCurrency("a,E");
  // An open failure must fail the test, not end the test program.
  RecordHooks() = DefaultRecordFileHooks();
  RecordHooks().ShowMessage = [](int, const std::string& text) { ADD_FAILURE() << "record layer: " << text; };
  RecordHooks().WaitKey = [] {};
  RecordHooks().EndProgram = [] {};
}

TestOffice::~TestOffice() {
  int16_t st = 0;
  ResetRecordFiles(st);
  if (!root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

bool TestOffice::Build(const std::vector<TestOwner>& owners, const std::vector<TestProperty>& properties,
                       const std::vector<TestReceipt>& receipts) {
  fs::create_directories(root_ + "ddf");
  fs::create_directories(root_ + "DADES");
  // The software's identity, which every registered record names.
  fs::copy_file(fs::path(KORVADEL_SOURCE_DIR) / "install" / "Productor.ini", root_ + "Productor.ini");
  // The installation's dictionaries when the source tree has them, else the
  // specifications they are made from.
  std::vector<std::string> bases = DictionaryBaseNames();
  bases.push_back("RegFact2");  // the invoice register's, made when the register is on
  for (const std::string& base : bases) {
    fs::path shipped = fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf" / (base + ".xdf");
    std::string bytes = fs::exists(shipped) ? ReadWhole(shipped) : DictionaryFileBytes(base);
    std::ofstream(root_ + "ddf/" + base + ".xdf", std::ios::binary) << bytes;
  }

  std::vector<std::string> ownerRecs, propertyRecs, unitRecs, receiptRecs;
  for (const TestOwner& o : owners) {
    std::string rec = Blank(OwnerRecordSize);
    SetOwnerCode(Area(rec), CodeFromText(o.code));
    SetOwnerName(Area(rec), o.name);
    SetOwnerAddress1(Area(rec), o.address1);
    SetOwnerAddress2(Area(rec), o.address2);
    SetOwnerAddress3(Area(rec), o.address3);
    for (int i = 1; i <= OwnerLinkCount; ++i) {
      SetLinkPropertyCode(Area(rec), i, std::string(2, '\0'));
      SetLinkTaxClass(Area(rec), i, 0);
    }
    for (const TestOwner::Link& l : o.links) {
      SetLinkPropertyCode(Area(rec), l.slot, PropertyKey(l.property));
      SetLinkTaxClass(Area(rec), l.slot, l.taxClass);
    }
    SetOwnerTaxId(Area(rec), o.taxId);
    ownerRecs.push_back(rec);
  }
  for (const TestProperty& p : properties) {
    std::string rec = Blank(PropertyRecordSize);
    SetPropertyCode(Area(rec), PropertyKey(p.code));
    SetPropertyListName(Area(rec), p.name);
    SetFeePercent(Area(rec), p.feePercent);
    SetExpenseAmount(Area(rec), p.expenseAmount);
    SetBillingPeriodMonths(Area(rec), p.periodMonths);
    SetPropertyName(Area(rec), p.name);
    SetCutoffDate(Area(rec), StoredOrEmpty(p.cutoff));
    SetFixedFee(Area(rec), p.fixedFee);
    propertyRecs.push_back(rec);
    for (const std::string& u : p.units) {
      std::string unit = Blank(UnitRecordSize);
      SetUnitKey(Area(unit), PropertyKey(p.code) + CodeFromText("0" + u));
      unitRecs.push_back(unit);
    }
  }
  for (const TestReceipt& r : receipts) {
    std::string rec = Blank(CollectionRecordSize);
    SetReceiptUnitKey(Area(rec), PropertyKey(r.property) + CodeFromText("0" + r.unit));
    SetReceiptDate(Area(rec), CodeFromText(r.date));
    SetReceiptType(Area(rec), r.type);
    SetReceiptState(Area(rec), r.state);
    SetReceiptAmount(Area(rec), r.amount);
    SetBaseDeduction(Area(rec), r.deduction);
    SetBaseAddition(Area(rec), r.addition);
    receiptRecs.push_back(rec);
  }

  struct FileToFill {
    int16_t id;
    const char* name;
    const char* base;
    uint32_t size;
    const std::vector<std::string>* records;
  };
  const FileToFill files[] = {{OwnerFileId, OwnerFileName, "PropietV", OwnerRecordSize, &ownerRecs},
                              {PropertyFileId, PropertyFileName, "FinquesV", PropertyRecordSize, &propertyRecs},
                              {UnitFileId, UnitFileName, "DepartaV", UnitRecordSize, &unitRecs},
                              {CollectionFileId, CollectionFileName, "CobramV", CollectionRecordSize, &receiptRecs}};
  for (const FileToFill& f : files) {
    int16_t st = 0;
    // The layer creates the missing file from its dictionary, then opens it.
    OpenRecordFile(f.id, Session.RootDir + f.name, ModuleRecordArea(f.id), st, f.size);
    EXPECT_EQ(st, 0) << "open " << f.name;
    if (st != 0) return false;
    if (!InsertAll(root_ + "DADES/" + f.base + ".dat", *f.records)) return false;
  }
  return true;
}

std::string TestOffice::SpoolText() const { return ReadWhole(root_ + "zepprint.tmp"); }

std::vector<std::string> SpoolLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "spool line without CR LF: " << text.substr(start);
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}
