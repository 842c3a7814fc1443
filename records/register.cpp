#include "records/register.h"

#include <nettle/sha2.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "base/codepage.h"
#include "base/files.h"
#include "base/text.h"
#include "recman/recman.h"

namespace {

namespace F = RegisterFields;

constexpr uint16_t kPageSize = 1024;

std::string PackedDate(const std::string& yyyymmdd) {
  std::string packed(4, static_cast<char>(128));
  if (yyyymmdd.size() != 8) return packed;
  for (size_t i = 0; i < 4; ++i) {
    const int hi = yyyymmdd[2 * i] - '0';
    const int lo = yyyymmdd[2 * i + 1] - '0';
    if (hi < 0 || hi > 9 || lo < 0 || lo > 9) return std::string(4, static_cast<char>(128));
    packed[i] = static_cast<char>(128 + hi * 10 + lo);
  }
  return packed;
}

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

struct Segment {
  RecordField field;
  uint16_t flags;
  uint8_t key;
};

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

std::string UrlEncode(const std::string& utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string Int32Key(int32_t v) {
  std::string key(4, '\0');
  for (int i = 0; i < 4; ++i) key[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return key;
}

}  // namespace

std::string EncodeRegisterRecord(const RegisterEntry& e) {
  std::vector<uint8_t> rec(RegisterRecordSize, ' ');
  uint8_t* r = rec.data();
  PutFieldInt32(r, F::Sequence, e.sequence);
  PutFieldInt32(r, F::Number, e.number);
  PutFieldText(r, F::Series, e.series);
  PutFieldBytes(r, F::Date, PackedDate(e.date));
  PutFieldBytes(r, F::OwnerCode, e.ownerCode);
  PutFieldBytes(r, F::PropertyCode, e.propertyCode);
  PutFieldInt16(r, F::TaxClass, e.taxClass);
  PutFieldText(r, F::IssuerTaxId, e.issuerTaxId);
  PutFieldText(r, F::RecipientTaxId, e.recipientTaxId);
  PutFieldText(r, F::RecipientName, e.recipientName);
  PutFieldInt32(r, F::Base, e.base);
  PutFieldInt32(r, F::VatRate, e.vatRate);
  PutFieldInt32(r, F::Vat, e.vat);
  PutFieldInt32(r, F::WithholdingRate, e.withholdingRate);
  PutFieldInt32(r, F::Withholding, e.withholding);
  PutFieldInt32(r, F::Total, e.total);
  PutFieldText(r, F::GeneratedAt, e.generatedAt);
  PutFieldText(r, F::PreviousFingerprint, e.previousFingerprint);
  PutFieldText(r, F::Fingerprint, e.fingerprint);
  PutFieldText(r, F::Archive, e.archive);
  PutFieldInt32(r, F::Page, e.page);
  PutFieldText(r, F::Seal, e.seal);
  return std::string(rec.begin(), rec.end());
}

RegisterEntry DecodeRegisterRecord(const uint8_t* r) {
  RegisterEntry e;
  e.sequence = FieldInt32(r, F::Sequence);
  e.number = FieldInt32(r, F::Number);
  e.series = TrimRight(FieldBytes(r, F::Series));
  e.date = KeyDigits(FieldBytes(r, F::Date));
  e.ownerCode = FieldBytes(r, F::OwnerCode);
  e.propertyCode = FieldBytes(r, F::PropertyCode);
  e.taxClass = FieldInt16(r, F::TaxClass);
  e.issuerTaxId = TrimRight(FieldBytes(r, F::IssuerTaxId));
  e.recipientTaxId = TrimRight(FieldBytes(r, F::RecipientTaxId));
  e.recipientName = TrimRight(FieldBytes(r, F::RecipientName));
  e.base = FieldInt32(r, F::Base);
  e.vatRate = FieldInt32(r, F::VatRate);
  e.vat = FieldInt32(r, F::Vat);
  e.withholdingRate = FieldInt32(r, F::WithholdingRate);
  e.withholding = FieldInt32(r, F::Withholding);
  e.total = FieldInt32(r, F::Total);
  e.generatedAt = TrimRight(FieldBytes(r, F::GeneratedAt));
  e.previousFingerprint = TrimRight(FieldBytes(r, F::PreviousFingerprint));
  e.fingerprint = TrimRight(FieldBytes(r, F::Fingerprint));
  e.archive = TrimRight(FieldBytes(r, F::Archive));
  e.page = FieldInt32(r, F::Page);
  e.seal = TrimRight(FieldBytes(r, F::Seal));
  return e;
}

std::string RegisterCreationSpecification() {
  const Segment segments[] = {
      {F::Number, RmBinary, 0},
      {F::Date, RmSegmented, 1},
      {F::Number, RmBinary, 1},
      {F::OwnerCode, RmDuplicates | RmSegmented, 2},
      {F::Date, RmDuplicates, 2},
      {F::Sequence, RmBinary, 3},
  };
  std::string out;
  Put16(out, static_cast<uint16_t>(RegisterRecordSize));
  Put16(out, kPageSize);
  Put16(out, 4);
  out.append(4, '\0');  // record count: stat only
  Put16(out, 0);        // file flags
  out.append(4, '\0');
  for (const Segment& s : segments) {
    Put16(out, static_cast<uint16_t>(s.field.offset + 1));
    Put16(out, s.field.width);
    Put16(out, s.flags);
    out.append(4, '\0');
    out += '\0';  // extended type
    out += '\0';  // null value
    out.append(2, '\0');
    out += static_cast<char>(s.key);
    out += '\0';
  }
  return out;
}

std::string PrintedInvoiceNumber(const std::string& series, int32_t number) {
  const std::string trimmed = TrimRight(series);
  return (trimmed.empty() ? std::string() : trimmed + "/") + ZeroPad(number, 8);
}

std::string AgencyAmount(int64_t cents) {
  const bool negative = cents < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / 100);
  out += '.';
  out += ZeroPad(static_cast<int64_t>(magnitude % 100), 2);
  return out;
}

std::string AgencyDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(0, 4);
}

int64_t AgencyInvoiceTotal(const RegisterEntry& e) { return static_cast<int64_t>(e.base) + e.vat; }

std::string FingerprintText(const RegisterEntry& e) {
  return "IDEmisorFactura=" + Trim(e.issuerTaxId) +
         "&NumSerieFactura=" + Trim(Utf8FromCp858(PrintedInvoiceNumber(e.series, e.number))) +
         "&FechaExpedicionFactura=" + AgencyDate(e.date) + "&TipoFactura=F1" +
         "&CuotaTotal=" + AgencyAmount(e.vat) + "&ImporteTotal=" + AgencyAmount(AgencyInvoiceTotal(e)) +
         "&Huella=" + Trim(e.previousFingerprint) + "&FechaHoraHusoGenRegistro=" + Trim(e.generatedAt);
}

std::string Sha256Hex(const std::string& bytes) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string ComputeFingerprint(const RegisterEntry& entry) { return Sha256Hex(FingerprintText(entry)); }

std::string ComputeSeal(const RegisterEntry& entry, const std::string& previousSeal) {
  const std::string record = EncodeRegisterRecord(entry);
  return Sha256Hex(previousSeal + record.substr(0, F::Seal.offset));
}

std::string TaxQrUrl(const RegisterEntry& e, bool testEnvironment) {
  const std::string host = testEnvironment ? "https://prewww2.aeat.es" : "https://www2.agenciatributaria.gob.es";
  return host + "/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=" + UrlEncode(Trim(e.issuerTaxId)) +
         "&numserie=" + UrlEncode(Utf8FromCp858(PrintedInvoiceNumber(e.series, e.number))) +
         "&fecha=" + UrlEncode(AgencyDate(e.date)) + "&importe=" + UrlEncode(AgencyAmount(AgencyInvoiceTotal(e)));
}

std::string GenerationTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  const int magnitude = static_cast<int>((offset < 0 ? -offset : offset) % (100 * 60));
  return std::string(text) + (offset < 0 ? "-" : "+") + ZeroPad(magnitude / 60, 2) + ":" + ZeroPad(magnitude % 60, 2);
}

int64_t FirstBrokenLink(const std::vector<RegisterEntry>& entries) {
  std::string previous;
  std::string previousSeal;
  for (size_t i = 0; i < entries.size(); ++i) {
    const RegisterEntry& e = entries[i];
    if (e.sequence != static_cast<int32_t>(i + 1) || e.previousFingerprint != previous ||
        e.fingerprint != ComputeFingerprint(e) || e.seal != ComputeSeal(e, previousSeal)) {
      return static_cast<int64_t>(i);
    }
    previous = e.fingerprint;
    previousSeal = e.seal;
  }
  return -1;
}

// ---------------------------------------------------------------------------

InvoiceRegister::~InvoiceRegister() {
  if (open_) {
    uint32_t len = 0;
    uint8_t key[256] = {};
    (void)Call(RmClose, nullptr, &len, key, 0);
  }
}

int16_t InvoiceRegister::Call(uint16_t op, void* data, uint32_t* dataLen, void* key, int8_t keyNum) {
  return RecordManagerCall(op, position_, data, dataLen, key, 255, keyNum);
}

int16_t InvoiceRegister::Open(const std::string& hostPath, const std::string& dictionaryHostPath, bool readOnly) {
  std::string path = hostPath;
  const size_t slash = path.find_last_of('/');
  if (path.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos) path += ".dat";
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t key[256] = {};
  path.copy(reinterpret_cast<char*>(key), path.size());

  if (!readOnly && !IsRegularFile(path)) {
    std::string dictionary;
    std::string spec;
    if (ReadRegularFile(dictionaryHostPath, dictionary, 4096) == ReadResult::Ok && dictionary.size() >= 2) {
      const size_t n = static_cast<uint8_t>(dictionary[0]) | (static_cast<uint8_t>(dictionary[1]) << 8);
      if (n > 0 && dictionary.size() - 2 >= n) spec = dictionary.substr(2, n);
    }
    if (spec.empty()) return RmInvalidOperation;
    uint32_t len = static_cast<uint32_t>(spec.size());
    const int16_t created = Call(RmCreate, spec.data(), &len, key, -1);
    // Another process may have made it in the meantime: open it then.
    if (created != RmSuccess && created != RmFileExists) return created;
  }
  char owner[8] = {};
  uint32_t len = 0;
  const int16_t status = Call(RmOpen, owner, &len, key, readOnly ? -2 : 0);
  open_ = status == RmSuccess;
  return status;
}

int16_t InvoiceRegister::HighestNumber(int32_t& number) {
  number = 0;
  uint8_t rec[RegisterRecordSize];
  uint32_t len = sizeof rec;
  uint8_t key[256] = {};
  const int16_t status = Call(RmGetLast, rec, &len, key, 0);
  if (status == RmEndOfFile || status == RmKeyNotFound) return RmSuccess;
  if (status != RmSuccess) return status;
  number = FieldInt32(rec, F::Number);
  return RmSuccess;
}

int16_t InvoiceRegister::ReadAll(std::vector<RegisterEntry>& entries, bool byDate) {
  entries.clear();
  uint8_t rec[RegisterRecordSize];
  uint8_t key[256] = {};
  uint32_t len = sizeof rec;
  const int8_t keyNum = static_cast<int8_t>(byDate ? 1 : 3);
  int16_t status = Call(RmGetFirst, rec, &len, key, keyNum);
  while (status == RmSuccess) {
    entries.push_back(DecodeRegisterRecord(rec));
    len = sizeof rec;
    status = Call(RmGetNext, rec, &len, key, keyNum);
  }
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}

int16_t InvoiceRegister::Find(int32_t number, RegisterEntry& entry) {
  uint8_t rec[RegisterRecordSize];
  uint32_t len = sizeof rec;
  uint8_t key[256] = {};
  const std::string value = Int32Key(number);
  value.copy(reinterpret_cast<char*>(key), value.size());
  const int16_t status = Call(RmGetEqual, rec, &len, key, 0);
  if (status == RmSuccess) entry = DecodeRegisterRecord(rec);
  return status;
}

int16_t InvoiceRegister::TryAppend(std::vector<RegisterEntry>& entries, const std::string& generatedAt,
                                   int32_t& firstIssued) {
  uint32_t len = 0;
  uint8_t key[256] = {};
  int16_t status = Call(RmBeginTransaction, nullptr, &len, key, 0);
  if (status != RmSuccess) return status;

  // Inside the transaction nobody else writes: the last record of the chain
  // and the numbers read here stay true until the commit.
  uint8_t rec[RegisterRecordSize];
  len = sizeof rec;
  int32_t sequence = 0;
  std::string previous;
  std::string previousSeal;
  status = Call(RmGetLast, rec, &len, key, 3);
  if (status == RmSuccess) {
    sequence = FieldInt32(rec, F::Sequence);
    previous = TrimRight(FieldBytes(rec, F::Fingerprint));
    previousSeal = TrimRight(FieldBytes(rec, F::Seal));
  } else if (status == RmEndOfFile || status == RmKeyNotFound) {
    status = RmSuccess;
  }
  for (size_t i = 0; status == RmSuccess && i < entries.size(); ++i) {
    RegisterEntry found;
    const int16_t lookup = Find(entries[i].number, found);
    if (lookup == RmSuccess) {
      firstIssued = entries[i].number;
      status = RegisterNumberIssued;
    } else if (lookup != RmKeyNotFound) {
      status = lookup;
    }
  }
  for (size_t i = 0; status == RmSuccess && i < entries.size(); ++i) {
    RegisterEntry& e = entries[i];
    e.sequence = ++sequence;
    e.previousFingerprint = previous;
    e.generatedAt = generatedAt;
    e.fingerprint = ComputeFingerprint(e);
    e.seal = ComputeSeal(e, previousSeal);
    previous = e.fingerprint;
    previousSeal = e.seal;
    std::string bytes = EncodeRegisterRecord(e);
    len = static_cast<uint32_t>(bytes.size());
    status = Call(RmInsert, bytes.data(), &len, key, 0);
    if (status == RmDuplicateKey) {
      firstIssued = e.number;
      status = RegisterNumberIssued;
    }
  }
  len = 0;
  if (status != RmSuccess) {
    (void)Call(RmAbortTransaction, nullptr, &len, key, 0);
    return status;
  }
  return Call(RmEndTransaction, nullptr, &len, key, 0);
}

int16_t InvoiceRegister::Append(std::vector<RegisterEntry>& entries, const std::string& generatedAt,
                                int32_t& firstIssued, const std::function<bool()>& waitLocked) {
  firstIssued = 0;
  if (!open_) return RmFileNotOpen;
  for (;;) {
    std::vector<RegisterEntry> attempt = entries;
    const int16_t status = TryAppend(attempt, generatedAt, firstIssued);
    if (status == RmSuccess) {
      entries = std::move(attempt);
      return status;
    }
    if (status != RmFileLocked || !waitLocked || !waitLocked()) return status;
  }
}
