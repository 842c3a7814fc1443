#include "sending/state.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "recman/recman.h"
#include "records/dictionaries.h"
#include "register/register.h"

namespace {

using F = SendingStateFields;
using K = SendingControlFields;

std::string TextOf(const uint8_t* rec, RecordField f) { return TrimRight(FieldBytes(rec, f)); }

// At most max bytes of UTF-8 text, not cutting a character.
std::string CutUtf8(const std::string& text, size_t max) {
  if (text.size() <= max) return text;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

}  // namespace

std::string SendingStateCreationSpecification() {
  return EncodeCreationSpecification(SendingStateRecordSize, 2,
                                     {
                                         {FieldPosition(F::Sequence), F::Sequence.width, RmBinary, 0},
                                         {FieldPosition(F::Standing), F::Standing.width, RmDuplicates | RmModifiable, 1},
                                     });
}

std::string EncodeSendAnswer(const SendAnswer& a) {
  std::string bytes(SendingStateRecordSize, ' ');
  uint8_t* r = reinterpret_cast<uint8_t*>(bytes.data());
  PutFieldInt32(r, F::Sequence, a.sequence);
  PutFieldText(r, F::State, std::string(1, a.state));
  PutFieldText(r, F::Standing, a.standing ? "R" : " ");
  PutFieldText(r, F::Incident, a.incident ? "S" : "N");
  PutFieldText(r, F::Series, a.series);
  PutFieldInt32(r, F::Number, a.number);
  PutFieldInt32(r, F::ErrorCode, a.errorCode);
  PutFieldText(r, F::Csv, a.csv);
  PutFieldText(r, F::AnsweredAt, a.answeredAt);
  PutFieldText(r, F::ErrorText, CutUtf8(a.errorText, F::ErrorText.width));
  PutFieldText(r, F::Operation, a.cancellation ? "N" : " ");
  return bytes;
}

SendAnswer DecodeSendAnswer(const uint8_t* r) {
  SendAnswer a;
  a.sequence = FieldInt32(r, F::Sequence);
  a.state = static_cast<char>(r[F::State.offset]);
  a.standing = r[F::Standing.offset] == 'R';
  a.incident = r[F::Incident.offset] == 'S';
  a.series = TextOf(r, F::Series);
  a.number = FieldInt32(r, F::Number);
  a.errorCode = FieldInt32(r, F::ErrorCode);
  a.csv = TextOf(r, F::Csv);
  a.answeredAt = TextOf(r, F::AnsweredAt);
  a.errorText = TextOf(r, F::ErrorText);
  a.cancellation = r[F::Operation.offset] == 'N';
  return a;
}

SendingState::~SendingState() {
  if (!open_) return;
  uint32_t len = 0;
  uint8_t key[256] = {};
  (void)Call(RmClose, nullptr, &len, key, 0);
}

int16_t SendingState::Call(uint16_t op, void* data, uint32_t* len, void* key, int8_t keyNum) {
  return RecordManagerCall(op, position_, data, len, key, 255, keyNum);
}

int16_t SendingState::Open(const std::string& hostPath, bool readOnly) {
  const std::string path = WithDataExtension(hostPath);
  if (path.size() > 254) return RmInvalidFileName;
  uint8_t key[256] = {};
  path.copy(reinterpret_cast<char*>(key), path.size());
  uint32_t len = 0;
  char owner[8] = {};
  int16_t status = Call(RmOpen, owner, &len, key, readOnly ? -2 : 0);
  if (status == RmFileNotFound && !readOnly) {
    std::string spec = SendingStateCreationSpecification();
    len = static_cast<uint32_t>(spec.size());
    status = Call(RmCreate, spec.data(), &len, key, -1);
    // Another sender or the module may have made it meanwhile.
    if (status != RmSuccess && status != RmFileExists) return status;
    len = 0;
    status = Call(RmOpen, owner, &len, key, 0);
  }
  open_ = status == RmSuccess;
  return status;
}

int16_t SendingState::Find(int32_t sequence, SendAnswer& out, bool& found) {
  found = false;
  std::vector<uint8_t> rec(SendingStateRecordSize);
  uint32_t len = SendingStateRecordSize;
  uint8_t key[256] = {};
  Int32Key(sequence).copy(reinterpret_cast<char*>(key), 4);
  const int16_t status = Call(RmGetEqual, rec.data(), &len, key, 0);
  if (status == RmKeyNotFound) return RmSuccess;
  if (status != RmSuccess) return status;
  out = DecodeSendAnswer(rec.data());
  found = true;
  return RmSuccess;
}

int16_t SendingState::FindFor(const RegisterEntry& record, SendAnswer& out, bool& found) {
  const int16_t status = Find(record.sequence, out, found);
  if (status != RmSuccess || !found) return status;
  if (Trim(out.series) == Trim(record.IdentitySeries()) && out.number == record.IdentityNumber()) return RmSuccess;
  found = false;
  return RegisterSideFileDamaged;
}

int16_t SendingState::Control(SendControl& out) {
  out = SendControl{};
  std::vector<uint8_t> rec(SendingStateRecordSize);
  uint32_t len = SendingStateRecordSize;
  uint8_t key[256] = {};
  Int32Key(0).copy(reinterpret_cast<char*>(key), 4);
  const int16_t status = Call(RmGetEqual, rec.data(), &len, key, 0);
  if (status == RmKeyNotFound) return RmSuccess;
  if (status != RmSuccess) return status;
  out.wait = FieldInt32(rec.data(), K::Wait);
  out.notBefore = std::atoll(TextOf(rec.data(), K::NotBefore).c_str());
  out.outageThrough = FieldInt32(rec.data(), K::OutageThrough);
  out.answeredThrough = FieldInt32(rec.data(), K::AnsweredThrough);
  out.workedYear = static_cast<int32_t>(std::atol(TextOf(rec.data(), K::WorkedYear).c_str()));
  out.endDate = TextOf(rec.data(), K::EndDate);
  out.endSentAt = TextOf(rec.data(), K::EndSentAt);
  return RmSuccess;
}

// Inserts the record, or replaces the one with its sequence.
int16_t SendingState::Put(const std::string& bytes, int32_t sequence) {
  std::vector<uint8_t> rec(SendingStateRecordSize);
  uint32_t len = SendingStateRecordSize;
  uint8_t key[256] = {};
  Int32Key(sequence).copy(reinterpret_cast<char*>(key), 4);
  int16_t status = Call(RmGetEqual, rec.data(), &len, key, 0);
  std::string data = bytes;
  len = static_cast<uint32_t>(data.size());
  if (status == RmSuccess) return Call(RmUpdate, data.data(), &len, key, 0);
  if (status != RmKeyNotFound) return status;
  return Call(RmInsert, data.data(), &len, key, 0);
}

namespace {

std::string EncodeControl(const SendControl& c) {
  std::string bytes(SendingStateRecordSize, ' ');
  uint8_t* r = reinterpret_cast<uint8_t*>(bytes.data());
  PutFieldInt32(r, K::Sequence, 0);
  PutFieldText(r, K::State, "K");
  PutFieldInt32(r, K::Wait, c.wait);
  PutFieldText(r, K::NotBefore, std::to_string(c.notBefore));
  PutFieldInt32(r, K::OutageThrough, c.outageThrough);
  PutFieldInt32(r, K::AnsweredThrough, c.answeredThrough);
  if (c.workedYear > 0) PutFieldText(r, K::WorkedYear, std::to_string(c.workedYear));
  PutFieldText(r, K::EndDate, c.endDate);
  PutFieldText(r, K::EndSentAt, c.endSentAt);
  return bytes;
}

}  // namespace

int16_t SendingState::Store(const std::vector<SendAnswer>& answers, const std::vector<int32_t>& settled,
                            const SendControl& control) {
  uint32_t len = 0;
  uint8_t key[256] = {};
  int16_t status = Call(RmBeginTransaction, nullptr, &len, key, 0);
  if (status != RmSuccess) return status;
  for (const SendAnswer& a : answers) {
    if (status == RmSuccess) status = Put(EncodeSendAnswer(a), a.sequence);
  }
  for (int32_t sequence : settled) {
    if (status != RmSuccess) break;
    SendAnswer earlier;
    bool found = false;
    status = Find(sequence, earlier, found);
    if (status == RmSuccess && found && earlier.standing) {
      earlier.standing = false;
      status = Put(EncodeSendAnswer(earlier), sequence);
    }
  }
  if (status == RmSuccess) status = Put(EncodeControl(control), 0);
  len = 0;
  if (status != RmSuccess) {
    (void)Call(RmAbortTransaction, nullptr, &len, key, 0);
    return status;
  }
  return Call(RmEndTransaction, nullptr, &len, key, 0);
}

int16_t SendingState::SaveControl(const SendControl& control) { return Store({}, {}, control); }

int16_t SendingState::Counts(int64_t& answered, int64_t& standing) {
  answered = 0;
  standing = 0;
  // The stat reply: the file part's record count at bytes 6..9.
  std::vector<uint8_t> stat(4096);
  uint32_t len = static_cast<uint32_t>(stat.size());
  uint8_t key[256] = {};
  int16_t status = Call(RmStat, stat.data(), &len, key, 0);
  if (status != RmSuccess) return status;
  const int64_t records = static_cast<int64_t>(stat[6]) | (static_cast<int64_t>(stat[7]) << 8) |
                          (static_cast<int64_t>(stat[8]) << 16) | (static_cast<int64_t>(stat[9]) << 24);
  bool haveControl = false;
  {
    std::vector<uint8_t> rec(SendingStateRecordSize);
    len = SendingStateRecordSize;
    Int32Key(0).copy(reinterpret_cast<char*>(key), 4);
    status = Call(RmGetEqual, rec.data(), &len, key, 0);
    if (status != RmSuccess && status != RmKeyNotFound) return status;
    haveControl = status == RmSuccess;
  }
  answered = records - (haveControl ? 1 : 0);
  std::vector<SendAnswer> rejected;
  status = Standing(rejected);
  standing = static_cast<int64_t>(rejected.size());
  return status;
}


int16_t SendingState::Standing(std::vector<SendAnswer>& out) {
  out.clear();
  std::vector<uint8_t> rec(SendingStateRecordSize);
  uint32_t len = SendingStateRecordSize;
  uint8_t key[256] = {'R'};
  int16_t status = Call(RmGetEqual, rec.data(), &len, key, 1);
  while (status == RmSuccess && rec[F::Standing.offset] == 'R') {
    out.push_back(DecodeSendAnswer(rec.data()));
    len = SendingStateRecordSize;
    status = Call(RmGetNext, rec.data(), &len, key, 1);
  }
  std::sort(out.begin(), out.end(), [](const SendAnswer& a, const SendAnswer& b) { return a.sequence < b.sequence; });
  return status == RmSuccess || status == RmEndOfFile || status == RmKeyNotFound ? static_cast<int16_t>(RmSuccess)
                                                                                  : status;
}

std::string SendingModeLeavableFrom(const SendControl& control, int32_t thisYear, bool& renouncedOut) {
  const int32_t endYear =
      control.endDate.size() == 10 ? static_cast<int32_t>(std::atol(control.endDate.c_str() + 6)) : 0;
  renouncedOut = !control.endSentAt.empty() && endYear > 0 && endYear >= control.workedYear;
  if (control.workedYear <= 0 || (renouncedOut && thisYear > endYear)) return std::string();
  // In the mode at least to the end of this year, or of the year renounced.
  const int32_t last = std::max(renouncedOut ? endYear : thisYear, std::max(control.workedYear, thisYear));
  return std::to_string(last + 1) + "0101";
}
