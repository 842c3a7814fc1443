#include "invoicing/production.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "formatting/dates.h"
#include "formatting/folding.h"
#include "formatting/picture.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "records/records.h"
#include "register/agency.h"
#include "register/taxid.h"
#include "session/language.h"
#include "session/session.h"
#include "base/text.h"

namespace {

// The record areas of the four data files, one each for the whole process.
uint8_t OwnerArea[OwnerRecordSize];
uint8_t PropertyArea[PropertyRecordSize];
uint8_t UnitArea[UnitRecordSize];
uint8_t CollectionArea[CollectionRecordSize];

const char* const AmountSpec = "Z,ZZZ,ZZZ,ZZ9-";
const char* const TotalSpec = "**,***,***";
const char* const RatePicture = "Z9.99 %";

std::string_view Bytes(const uint8_t* rec, RecordField f) {
  return std::string_view(reinterpret_cast<const char*>(rec) + f.offset, f.width);
}

// Byte-wise order of texts, a prefix being the smaller (char_traits<char>
// compares as unsigned char).
int CompareBytes(std::string_view a, std::string_view b) { return a.compare(b); }

// The spool writer keeps its first failure; checked after every page.
bool SpoolFailed() { return PrintFileFailed(); }

// The next text item right-aligned in its own width.
void JustifyRight() {
  std::string mode(1, 'D');
  SetJustification(mode);
}

void PrintAmountRight(int16_t column, double amount, const std::string& currency, int16_t advance) {
  JustifyRight();
  PrintAt(column, FormatAmount(AmountSpec, amount, currency), advance);
}

// The values one invoice page shows beside the owner record.
struct PageData {
  int16_t taxClass;          // 0 or 1
  std::string propertyCode;  // 2 packed bytes as stored
  std::string propertyName;  // 50 characters as stored
  InvoiceAmounts amounts;
};

// The texts that every page of a pass shows alike, made when the pass
// prints its first page (a pass without pages translates nothing, as
// before): the translations (each of which reads the language file), the
// issuer's details, the invoice date and the currency; per tax class,
// made at its first page, its series and rate labels.
class PassTexts {
 public:
  struct ClassTexts {
    std::string series;       // trimmed
    std::string vatLabel;     // class name and VAT rate
    std::string withholding;  // withholding label and rate
  };

  explicit PassTexts(const InvoiceParameters& p) : parameters_(p) {}

  const PassTexts& Common() {
    if (!made_) {
      invoice = Translate("FACTURA");
      property = Translate("FINCA");
      fees = Translate("HONORARIS ADMINISTRACI\xe0");
      expenses = Translate("SUPLERTS");
      withholding = Translate("RETENCI\xe0 HONORARIS ");
      place = TrimRight(FoldText(IssuerDetails[IssuerItem::Place]));
      currency = CurrencyOf("") == "E" ? " EUR" : " ESP";
      date = FoldText(FormatDate(parameters_.InvoiceDate, 2, "dma"));
      issuerName = IsAllChar(IssuerDetails[IssuerItem::AlternativeName], ' ') ? IssuerDetails[IssuerItem::Name]
                                                                               : IssuerDetails[IssuerItem::AlternativeName];
      issuerTaxNumber = "N.I.F. " + TrimRight(IssuerDetails[IssuerItem::TaxNumber]);
      made_ = true;
    }
    return *this;
  }

  // Pre: Common() has been called; taxClass is 0 or 1.
  const ClassTexts& Class(int16_t taxClass) {
    const size_t i = static_cast<size_t>(taxClass);
    if (!classMade_[i]) {
      const TaxClass& cls = TaxClasses[i];
      classes_[i].series = TrimRight(cls.Series);
      classes_[i].vatLabel = TrimRight(cls.ClassName) + " " + TrimLeft(FormatPicture(RatePicture, cls.FeeVatRate));
      classes_[i].withholding = withholding + TrimLeft(FormatPicture(RatePicture, cls.WithholdingRate));
      classMade_[i] = true;
    }
    return classes_[i];
  }

  std::string invoice, property, fees, expenses, withholding;
  std::string place, currency, date;
  std::string issuerName, issuerTaxNumber;

 private:
  const InvoiceParameters& parameters_;
  bool made_ = false;
  ClassTexts classes_[2];
  bool classMade_[2] = {false, false};
};

// The number the next page of tax class taxClass (0 or 1) prints.
int32_t PageNumber(const InvoiceParameters& p, int16_t taxClass) {
  if (!p.NumberBySeries) return p.NextInvoiceNumber;
  return p.SeriesNumbers[static_cast<size_t>(p.SeriesOfClass[static_cast<size_t>(taxClass)])];
}

void PrintInvoicePage(const InvoiceParameters& p, const PageData& page, const uint8_t* owner, PassTexts& passTexts) {
  const PassTexts& texts = passTexts.Common();
  const PassTexts::ClassTexts& classTexts = passTexts.Class(page.taxClass);
  const TaxClass& cls = TaxClasses[static_cast<size_t>(page.taxClass)];
  const InvoiceAmounts& a = page.amounts;

  StartPage(24);
  PrintCommand("@e");
  PrintAt(9, texts.invoice, 0);

  PrintAt(17, PrintedInvoiceNumber(classTexts.series, PageNumber(p, page.taxClass)), 0);

  PrintAt(32, texts.place, 0);
  JustifyRight();
  PrintAt(67, FormatAmount(TotalSpec, a.Total, p.Currency) + texts.currency, 0);
  PrintAt(91, texts.property, 1);

  std::string digits = KeyDigits(page.propertyCode);
  std::string lastThree = digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
  PrintAt(92, lastThree + "V", 1);
  PrintAt(17, texts.date, 3);

  if (a.Fees != 0) {
    PrintAt(22, texts.fees, 0);
    PrintAmountRight(66, a.Fees, p.Currency, 1);
  }
  if (a.Expenses != 0 && cls.ExpenseVatRate != 0) {
    PrintAt(22, texts.expenses, 0);
    PrintAmountRight(66, a.Expenses, p.Currency, 1);
  }
  std::string onBase = " s/" + TrimLeft(FormatAmount(AmountSpec, a.TaxableBase, p.Currency));
  PrintAt(22, classTexts.vatLabel + onBase, 0);
  PrintAt(66, FormatAmount(AmountSpec, a.Vat, p.Currency), 1);
  if (a.Withholding != 0) {
    PrintAt(22, classTexts.withholding + onBase, 0);
    PrintAmountRight(66, a.Withholding, p.Currency, 1);
  }

  PrintAt(0, "", static_cast<int16_t>(11 - PrintLine()));
  PrintAt(17, page.propertyName, 2);
  JustifyRight();
  PrintAt(32, "N.I.F. " + std::string(Bytes(owner, OwnerFields::TaxId)), 1);
  PrintAt(17, FormatPersonName(std::string(Bytes(owner, OwnerFields::Name))), 1);
  PrintAt(17, std::string(Bytes(owner, OwnerFields::Address1)), 1);
  PrintAt(17, std::string(Bytes(owner, OwnerFields::Address2)), 1);
  PrintAt(17, std::string(Bytes(owner, OwnerFields::Address3)), 0);
  PrintAt(61, texts.issuerName, 1);
  PrintAt(61, texts.issuerTaxNumber, 1);
}

// The end of a file's data for a read: not found or end of file.
bool EndOfData(int16_t status) { return status == 4 || status == 9; }

// A read status that must stop the pass: anything but success and the end
// of the data. Fills failure when it is one.
bool ReadFailed(int16_t status, int16_t fileId, const char* fileName, RecordFailure& failure) {
  if (status == 0 || EndOfData(status)) return false;
  failure = RecordFailure{fileId, fileName, status};
  return true;
}

// The first 8 or 4 bytes at p as one unsigned number, the first byte the
// most significant: numbers so made compare as the bytes do.
uint64_t Leading8(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
  return value;
}
uint64_t Leading4(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
  return value;
}

// Sum of ReceiptAmount - BaseDeduction + BaseAddition over the paid ("P")
// receipts of type "C" or "I" of the property's units dated up to the
// invoice date. The end of the data ends a loop; any other read status
// returns false with failure filled.
// Pre: propertyCode is 2 bytes, invoiceDate 4 bytes; key 0 of the receipts
// is unit key + date in plain bytes, so that byte order is key order (the
// module's dictionary).
// earliestOut, when given, gets the date of the earliest receipt counted
// (left as it is when none is).
bool CollectedBaseOf(std::string_view propertyCode, std::string_view invoiceDate, double& baseOut,
                     RecordFailure& failure, std::vector<int32_t>* counted, std::string* earliestOut) {
  static_assert(CollectionFields::UnitKey.offset == 0 && CollectionFields::Date.offset == 4 &&
                UnitFields::Key.offset == 0 && UnitFields::Key.width == 4);
  double base = 0;
  int16_t unitStatus = 0;
  SeekRecord(UnitFileId, 0, std::string(propertyCode), 1, unitStatus);
  const auto* property = reinterpret_cast<const uint8_t*>(propertyCode.data());
  const uint64_t date = Leading4(reinterpret_cast<const uint8_t*>(invoiceDate.data()));
  int16_t receiptStatus = 0;
  // Set once a unit's scan has ended on a receipt: every receipt before the
  // one the file stands on is keyed at most previousUnit + invoice date, and
  // that receipt beyond it.
  bool scanned = false;
  uint64_t previousUnit = 0;
  while (unitStatus == 0 && UnitArea[0] == property[0] && UnitArea[1] == property[1]) {
    const uint64_t unit = Leading4(UnitArea);
    // The scan of one unit's receipts ends past unit key + invoice date.
    const uint64_t limit = (unit << 32) | date;
    // A later unit whose receipts the file already stands on, or has
    // passed over to those of a unit after it, starts where a seek of its
    // key would land; every other unit seeks.
    if (!(scanned && receiptStatus == 0 && unit > previousUnit && Leading4(CollectionArea) >= unit)) {
      receiptStatus = 0;
      SeekRecord(CollectionFileId, 0, std::string(reinterpret_cast<const char*>(UnitArea), 4), 1, receiptStatus);
    }
    while (receiptStatus == 0 && Leading8(CollectionArea) <= limit) {
      const uint8_t* r = CollectionArea;
      char state = static_cast<char>(r[CollectionFields::State.offset]);
      char type = static_cast<char>(r[CollectionFields::Type.offset]);
      if (state == 'P' && (type == 'C' || type == 'I')) {
        base += static_cast<double>(FieldInt32(r, CollectionFields::Amount)) -
                static_cast<double>(FieldInt32(r, CollectionFields::BaseDeduction)) +
                static_cast<double>(FieldInt32(r, CollectionFields::BaseAddition));
        if (counted != nullptr) counted->push_back(RecordPosition(CollectionFileId, 0));
        if (earliestOut != nullptr) {
          const std::string_view receiptDate = Bytes(r, CollectionFields::Date);
          if (earliestOut->empty() || receiptDate < std::string_view(*earliestOut)) earliestOut->assign(receiptDate);
        }
      }
      MoveRecord(CollectionFileId, 1, receiptStatus);
    }
    if (ReadFailed(receiptStatus, CollectionFileId, CollectionFileName, failure)) return false;
    scanned = true;
    previousUnit = unit;
    MoveRecord(UnitFileId, 1, unitStatus);
  }
  if (ReadFailed(unitStatus, UnitFileId, UnitFileName, failure)) return false;
  baseOut = base;
  return true;
}

// text blank-padded to width characters, as the form keeps its fields; a
// shorter text would otherwise pack into fewer bytes than a code has.
std::string AtLeast(const std::string& text, size_t width) {
  std::string out = text;
  if (out.size() < width) out.resize(width, ' ');
  return out;
}

// The value of a packed byte's two decimal digits (the byte with its top bit
// cleared, its last two digits, as KeyDigits reads it): 1 to 12 for the
// month of a valid date.
int PackedValue(uint8_t byte) { return (byte & 127) % 100; }

// The month of a stored date counted as year * 12 + month - 1.
int32_t MonthIndex(std::string_view storedDate) {
  if (storedDate.size() < 3) return 0;
  const auto byte = [&](size_t i) { return PackedValue(static_cast<uint8_t>(storedDate[i])); };
  const int month = std::max(1, byte(2));
  return (byte(0) * 100 + byte(1)) * 12 + month - 1;
}

}  // namespace

uint8_t* ModuleRecordArea(int16_t fileId) {
  switch (fileId) {
    case OwnerFileId: return OwnerArea;
    case PropertyFileId: return PropertyArea;
    case UnitFileId: return UnitArea;
    case CollectionFileId: return CollectionArea;
    default: return nullptr;
  }
}

double RoundHalfEven(double value) {
  // nearbyint follows the current rounding mode; the module never changes
  // it from the default, round to nearest with ties to even.
  return std::nearbyint(value);
}

InvoiceAmounts ComputeInvoiceAmounts(double collectedBase, float feePercent, int32_t fixedFee,
                                     int32_t expenseAmount, float feeVatRate, float expenseVatRate,
                                     float withholdingRate, bool applyWithholding) {
  InvoiceAmounts a;
  a.Fees = RoundHalfEven(static_cast<double>(feePercent) * collectedBase / 100.0) + fixedFee;
  a.Expenses = a.Fees != 0 ? expenseAmount : 0;
  a.TaxableBase = a.Fees + (expenseVatRate != 0 ? a.Expenses : 0);
  a.Vat = RoundHalfEven(static_cast<double>(feeVatRate) * a.TaxableBase / 100.0);
  a.Withholding = applyWithholding ? RoundHalfEven(static_cast<double>(withholdingRate) * a.TaxableBase / 100.0) : 0;
  a.Total = a.Vat + a.TaxableBase - a.Withholding;
  return a;
}

bool WithholdingApplies(const std::string& issuerTaxNumber, const std::string& ownerTaxId) {
  if (issuerTaxNumber.size() < 3 || issuerTaxNumber.compare(0, 2, "ES") != 0) return false;
  if (ownerTaxId.size() < 3 || ownerTaxId.compare(0, 2, "ES") != 0) return false;
  unsigned char issuer = static_cast<unsigned char>(issuerTaxNumber[2]);
  unsigned char owner = static_cast<unsigned char>(ownerTaxId[2]);
  bool naturalPerson = issuer < 'A' || issuer > 'W';
  bool legalEntity = owner >= 'A' && owner <= 'W';
  return naturalPerson && legalEntity;
}

InvoiceParameters InvoiceParametersFromTexts(const std::string& dateText, const std::string& fromOwnerText,
                                             const std::string& toOwnerText,
                                             const std::string& fromPropertyText,
                                             const std::string& toPropertyText,
                                             const std::string& numberText) {
  InvoiceParameters p;
  p.InvoiceDate = StoredDateFromText(dateText);
  p.FromOwner = CodeFromText(AtLeast(fromOwnerText, 4));
  p.ToOwner = CodeFromText(AtLeast(toOwnerText, 4));
  // "0" is put before by appending: GCC 12 at -O3 misreads "0" + text as
  // an overlapping copy.
  p.FromProperty = CodeFromText(std::string("0").append(AtLeast(fromPropertyText, 3)));
  p.ToProperty = CodeFromText(std::string("0").append(AtLeast(toPropertyText, 3)));

  double number = RoundHalfEven(NumericValue(numberText));
  if (std::isnan(number)) number = 0;
  constexpr double highest = std::numeric_limits<int32_t>::max();
  constexpr double lowest = std::numeric_limits<int32_t>::min();
  if (number > highest) number = highest;
  if (number < lowest) number = lowest;
  p.NextInvoiceNumber = static_cast<int32_t>(number);
  if (p.NextInvoiceNumber == 0) p.NextInvoiceNumber = 1;
  return p;
}

namespace {

// Holds a read snapshot of the four data files for its lifetime.
class HeldSnapshots {
 public:
  HeldSnapshots() { Hold(true); }
  ~HeldSnapshots() { Hold(false); }
  HeldSnapshots(const HeldSnapshots&) = delete;
  HeldSnapshots& operator=(const HeldSnapshots&) = delete;

 private:
  static void Hold(bool hold) {
    for (int16_t id : {OwnerFileId, PropertyFileId, UnitFileId, CollectionFileId}) {
      int16_t status = 0;
      HoldReadSnapshot(id, hold, status);  // a file that is not open has nothing to hold
    }
  }
};

}  // namespace

int16_t ProduceInvoices(InvoiceParameters& p, const IssuedSink& issued, RecordFailure* failureOut) {
  if (SpoolFailed()) return ProductionSpoolFailed;
  // The whole pass reads one state of each data file: another user's import
  // committed meanwhile is either wholly in the invoices or not at all.
  const HeldSnapshots held;
  RecordFailure failure;
  auto stopped = [&failure, failureOut]() {
    if (failureOut != nullptr) *failureOut = failure;
    return ProductionRecordFailed;
  };
  int32_t pageNumber = 0;
  // A date shorter than 4 bytes could not come from StoredDateFromText; it
  // is completed with NULs so that the comparisons below stay in bounds.
  std::string invoiceDate = p.InvoiceDate;
  invoiceDate.resize(4, '\0');
  const int month = PackedValue(static_cast<uint8_t>(invoiceDate[2]));
  // What this pass has read of each property: under the held snapshot
  // another link to the same property would read the same record, receipts
  // and amounts in the same order.
  struct KnownProperty {
    int16_t status = 0;  // of its read: 0, or the end of the data (no such property)
    uint8_t record[PropertyRecordSize];
    bool summed = false;
    double base = 0;  // the collected base, once summed
    std::vector<int32_t> receipts;  // with CollectReceipts: those summed, until an invoice takes them
    std::string earliest;  // with CollectReceipts: the date of the earliest receipt summed
  };
  std::unordered_map<std::string, KnownProperty> knownProperties;
  PassTexts texts(p);

  int16_t ownerStatus = 0;
  SeekRecord(OwnerFileId, 0, p.FromOwner, 1, ownerStatus);
  while (ownerStatus == 0 && CompareBytes(Bytes(OwnerArea, OwnerFields::Code), p.ToOwner) <= 0) {
    for (int link = 1; link <= OwnerLinkCount; ++link) {
      // Property step; any "continue" skips the link (no invoice).
      std::string code(Bytes(OwnerArea, OwnerLinkPropertyField(link)));
      int16_t taxClass = FieldInt16(OwnerArea, OwnerLinkTaxClassField(link));
      // Empty slots (zero bytes) and codes outside the range are skipped
      // before any read: they can never be invoiced.
      if (CompareBytes(code, p.FromProperty) < 0 || CompareBytes(code, p.ToProperty) > 0) continue;
      // Only classes 0 and 1 exist; any other value gives no invoice.
      if (taxClass != 0 && taxClass != 1) continue;
      if (!p.LeaveOut.empty() && p.LeaveOut.count(std::string(Bytes(OwnerArea, OwnerFields::Code)) + code) != 0)
        continue;

      auto [entry, firstLink] = knownProperties.try_emplace(code);
      KnownProperty& property = entry->second;
      if (firstLink) {
        SetPropertyCode(PropertyArea, code);
        SeekRecord(PropertyFileId, 0, code, 0, property.status);
        if (ReadFailed(property.status, PropertyFileId, PropertyFileName, failure)) return stopped();
        if (property.status == 0) std::memcpy(property.record, PropertyArea, PropertyRecordSize);
      } else if (property.status == 0) {
        std::memcpy(PropertyArea, property.record, PropertyRecordSize);
      }
      if (property.status != 0) continue;

      int period = BillingPeriodMonths(PropertyArea);
      if (period == 0) period = 1;
      if (month % period != 0) continue;
      if (std::memcmp(PropertyArea + PropertyFields::CutoffDate.offset, invoiceDate.data(), 3) >= 0) continue;

      const TaxClass& cls = TaxClasses[static_cast<size_t>(taxClass)];
      if (!property.summed) {
        if (!CollectedBaseOf(code, invoiceDate, property.base, failure,
                             p.CollectReceipts ? &property.receipts : nullptr,
                             p.CollectReceipts ? &property.earliest : nullptr))
          return stopped();
        property.summed = true;
      }
      const double base = property.base;
      bool withhold = WithholdingApplies(IssuerDetails[IssuerItem::TaxNumber],
                                         std::string(Bytes(OwnerArea, OwnerFields::TaxId)));
      PageData page{taxClass, PropertyCode(PropertyArea), PropertyName(PropertyArea),
                    ComputeInvoiceAmounts(base, FeePercent(PropertyArea), FixedFee(PropertyArea),
                                          ExpenseAmount(PropertyArea), cls.FeeVatRate, cls.ExpenseVatRate,
                                          cls.WithholdingRate, withhold)};
      if (page.amounts.Vat == 0) continue;
      if (p.LeaveOutUnidentified &&
          !ClassifyRecipientTaxId(TrimRight(std::string(Bytes(OwnerArea, OwnerFields::TaxId)))).Usable()) {
        const std::string owner(Bytes(OwnerArea, OwnerFields::Code));
        if (std::none_of(p.LeftOut.begin(), p.LeftOut.end(), [&](const auto& o) { return o.first == owner; }))
          p.LeftOut.emplace_back(owner, FormatPersonName(std::string(Bytes(OwnerArea, OwnerFields::Name))));
        // The property's receipts wait for its next invoice.
        continue;
      }

      PrintInvoicePage(p, page, OwnerArea, texts);
      ++pageNumber;
      if (issued) {
        IssuedInvoice invoice;
        invoice.number = PageNumber(p, taxClass);
        invoice.series = TrimRight(cls.Series);
        invoice.invoiceDate = invoiceDate;
        invoice.ownerCode = std::string(Bytes(OwnerArea, OwnerFields::Code));
        invoice.propertyCode = page.propertyCode;
        invoice.taxClass = taxClass;
        invoice.recipientTaxId = TrimRight(std::string(Bytes(OwnerArea, OwnerFields::TaxId)));
        invoice.recipientName = FormatPersonName(std::string(Bytes(OwnerArea, OwnerFields::Name)));
        invoice.base = page.amounts.TaxableBase;
        invoice.vat = page.amounts.Vat;
        invoice.withholding = page.amounts.Withholding;
        invoice.total = page.amounts.Total;
        invoice.vatRate = cls.FeeVatRate;
        // The rate only where the page shows a withholding line.
        invoice.withholdingRate = page.amounts.Withholding != 0 ? cls.WithholdingRate : 0.0f;
        invoice.page = pageNumber;
        invoice.expenses = page.amounts.Expenses != 0 && cls.ExpenseVatRate != 0 ? page.amounts.Expenses : 0;
        invoice.fees = page.amounts.Fees;
        invoice.collectedBase = base;
        invoice.feePercent = FeePercent(PropertyArea);
        invoice.fixedFee = FixedFee(PropertyArea);
        invoice.periodLast = MonthIndex(invoiceDate);
        invoice.periodFirst = invoice.periodLast - (std::max(period, 1) - 1);
        if (!property.earliest.empty()) invoice.periodFirst = std::min(invoice.periodFirst, MonthIndex(property.earliest));
        invoice.receipts = std::move(property.receipts);
        property.receipts.clear();
        issued(invoice);
      }
      if (p.NumberBySeries) {
        int32_t& series = p.SeriesNumbers[static_cast<size_t>(p.SeriesOfClass[static_cast<size_t>(taxClass)])];
        series = static_cast<int32_t>(static_cast<uint32_t>(series) + 1u);
      }
      p.NextInvoiceNumber = static_cast<int32_t>(static_cast<uint32_t>(p.NextInvoiceNumber) + 1u);
      if (SpoolFailed()) return ProductionSpoolFailed;
    }
    MoveRecord(OwnerFileId, 1, ownerStatus);
  }
  if (ReadFailed(ownerStatus, OwnerFileId, OwnerFileName, failure)) return stopped();
  return ProductionDone;
}

int16_t TaxClassesInRange(const InvoiceParameters& p, std::array<bool, 2>& usedOut) {
  usedOut = {false, false};
  int16_t status = 0;
  SeekRecord(OwnerFileId, 0, p.FromOwner, 1, status);
  while (status == 0 && CompareBytes(Bytes(OwnerArea, OwnerFields::Code), p.ToOwner) <= 0) {
    for (int link = 1; link <= OwnerLinkCount; ++link) {
      const std::string code(Bytes(OwnerArea, OwnerLinkPropertyField(link)));
      const int16_t taxClass = FieldInt16(OwnerArea, OwnerLinkTaxClassField(link));
      if (CompareBytes(code, p.FromProperty) < 0 || CompareBytes(code, p.ToProperty) > 0) continue;
      if (taxClass == 0 || taxClass == 1) usedOut[static_cast<size_t>(taxClass)] = true;
    }
    MoveRecord(OwnerFileId, 1, status);
  }
  return EndOfData(status) ? 0 : status;
}
