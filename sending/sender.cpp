#include "sending/sender.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>
#include <vector>

#include "agency/facts.h"
#include "base/codepage.h"
#include "base/text.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/record.h"

namespace {

// The register, read along the chain (key 3) from a sequence on.
class RegisterReader {
 public:
  ~RegisterReader() {
    if (!open_) return;
    uint32_t len = 0;
    uint8_t key[256] = {};
    (void)RecordManagerCall(RmClose, position_, nullptr, &len, key, 255, 0);
  }
  [[nodiscard]] int16_t Open(const std::string& path) {
    if (path.size() > 254) return RmInvalidFileName;
    uint8_t key[256] = {};
    path.copy(reinterpret_cast<char*>(key), path.size());
    char owner[8] = {};
    uint32_t len = 0;
    const int16_t status = RecordManagerCall(RmOpen, position_, owner, &len, key, 255, -2);
    open_ = status == RmSuccess;
    return status;
  }
  // The first record after sequence, then the ones after it: 0, or
  // RmEndOfFile when there are no more.
  [[nodiscard]] int16_t After(int32_t sequence, RegisterEntry& out) {
    uint8_t key[256] = {};
    Int32Key(sequence).copy(reinterpret_cast<char*>(key), 4);
    return Read(RmGetGreater, key, out);
  }
  [[nodiscard]] int16_t Next(RegisterEntry& out) {
    uint8_t key[256] = {};
    return Read(RmGetNext, key, out);
  }
  [[nodiscard]] int16_t Last(int32_t& sequence) {
    uint8_t key[256] = {};
    RegisterEntry e;
    const int16_t status = Read(RmGetLast, key, e);
    sequence = status == RmSuccess ? e.sequence : 0;
    return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
  }
  // Records in the file (the stat reply's record count).
  [[nodiscard]] int16_t Count(int64_t& count) {
    std::vector<uint8_t> stat(4096);
    uint32_t len = static_cast<uint32_t>(stat.size());
    uint8_t key[256] = {};
    const int16_t status = RecordManagerCall(RmStat, position_, stat.data(), &len, key, 255, 0);
    count = static_cast<int64_t>(stat[6]) | (static_cast<int64_t>(stat[7]) << 8) |
            (static_cast<int64_t>(stat[8]) << 16) | (static_cast<int64_t>(stat[9]) << 24);
    return status;
  }

 private:
  int16_t Read(uint16_t op, uint8_t* key, RegisterEntry& out) {
    uint32_t len = static_cast<uint32_t>(record_.size());
    const int16_t status = RecordManagerCall(op, position_, record_.data(), &len, key, 255, 3);
    if (status == RmSuccess) out = DecodeRegisterRecord(record_.data());
    return status == RmKeyNotFound ? static_cast<int16_t>(RmEndOfFile) : status;
  }
  uint8_t position_[128] = {};
  bool open_ = false;
  std::vector<uint8_t> record_ = std::vector<uint8_t>(RegisterRecordSize);
};

// One record on its way.
struct Outgoing {
  int32_t sequence = 0;
  std::string series;
  int32_t number = 0;
  RecordIdentity id;
  std::string xml;
  bool correction = false;  // a Subsanacion: it settles earlier rejections of its invoice
};

RecordIdentity IdentityOf(const RegisterEntry& e) {
  return {Trim(e.issuerTaxId), Utf8FromCp858(PrintedInvoiceNumber(e.series, e.number)), AgencyDate(e.date)};
}

bool IsCorrection(const std::string& xml) { return xml.find("<sf:Subsanacion>S</sf:Subsanacion>") != std::string::npos; }

// The next message's records, and how far every record is answered.
struct Batch {
  std::vector<Outgoing> records;
  bool incident = false;
  int32_t answeredThrough = 0;
};

int16_t NextBatch(RegisterReader& reader, SendingState& state, const SendControl& control, SendListener& listener,
                  std::set<int32_t>& toldUnsendable, Batch& batch) {
  batch = Batch{};
  batch.answeredThrough = control.answeredThrough;
  bool gap = false;
  RegisterEntry e;
  int16_t status = reader.After(control.answeredThrough, e);
  std::set<std::pair<std::string, int32_t>> invoices;
  for (; status == RmSuccess; status = reader.Next(e)) {
    SendAnswer answer;
    bool found = false;
    status = state.Find(e.sequence, answer, found);
    if (status != RmSuccess) return status;
    if (found) {
      if (!gap) batch.answeredThrough = e.sequence;
      continue;
    }
    gap = true;
    if (e.xml.empty()) {
      if (toldUnsendable.insert(e.sequence).second) listener.Unsendable(e.series, e.number);
      continue;
    }
    const bool incident = e.sequence <= control.outageThrough;
    // One message holds one kind of header, and each invoice once, so that
    // every answer line names one record.
    if (!batch.records.empty() && (incident != batch.incident || invoices.count({e.series, e.number}) != 0)) break;
    if (batch.records.size() == kRecordsPerMessage) break;
    batch.incident = incident;
    invoices.insert({e.series, e.number});
    Outgoing o;
    o.sequence = e.sequence;
    o.series = e.series;
    o.number = e.number;
    o.id = IdentityOf(e);
    o.correction = IsCorrection(e.xml);
    o.xml = std::move(e.xml);
    batch.records.push_back(std::move(o));
  }
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}

// The answers of a message, one per record, in the records' order; false
// (detail says why) when the answer does not match the request.
bool MatchAnswer(const Batch& batch, const SubmissionAnswer& answer, std::vector<const LineAnswer*>& out,
                 std::string& detail) {
  out.assign(batch.records.size(), nullptr);
  for (const LineAnswer& line : answer.lines) {
    auto it = std::find_if(batch.records.begin(), batch.records.end(),
                           [&](const Outgoing& o) { return o.id == line.id; });
    if (it == batch.records.end()) {
      detail = line.id.number + " " + line.id.date;
      return false;
    }
    const size_t i = static_cast<size_t>(it - batch.records.begin());
    if (out[i] != nullptr) {
      detail = line.id.number;
      return false;
    }
    out[i] = &line;
  }
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == nullptr) {
      detail = batch.records[i].id.number;
      return false;
    }
  }
  return true;
}

char StateOf(const LineAnswer& line) {
  if (line.duplicate) return 'D';
  if (line.state == agency::kStateAccepted) return 'C';
  if (line.state == agency::kStateAcceptedWithErrors) return 'E';
  return 'I';
}

}  // namespace

SendResult RunSender(const SenderSetup& setup, SendListener& listener) {
  SendResult result;
  const auto fail = [&](int16_t status) {
    result.end = SendEnd::Register;
    result.status = status;
    return result;
  };
  RegisterReader reader;
  int16_t status = reader.Open(setup.registerPath);
  if (status != RmSuccess) return fail(status);
  SendingState state;
  status = state.Open(setup.statePath, false);
  if (status != RmSuccess) return fail(status);

  std::set<int32_t> toldUnsendable;
  int64_t backOff = std::max<int64_t>(1, setup.firstBackOff);
  for (;;) {
    SendControl control;
    status = state.Control(control);
    Batch batch;
    if (status == RmSuccess) status = NextBatch(reader, state, control, listener, toldUnsendable, batch);
    if (status != RmSuccess) return fail(status);
    if (batch.records.empty()) {
      if (batch.answeredThrough != control.answeredThrough) {
        control.answeredThrough = batch.answeredThrough;
        status = state.SaveControl(control);
        if (status != RmSuccess) return fail(status);
      }
      break;
    }
    // A full message goes at once; a smaller one waits out the agency's time.
    const int64_t now = setup.now();
    if (batch.records.size() < kRecordsPerMessage && control.notBefore > now) {
      listener.Waiting((control.notBefore - now + 999) / 1000, false);
      setup.sleep(control.notBefore - now);
    }

    std::vector<std::string_view> xml;
    xml.reserve(batch.records.size());
    for (const Outgoing& o : batch.records) xml.emplace_back(o.xml);
    const PostResult posted = setup.post(SubmissionEnvelope(setup.filer, batch.incident, xml));
    const int64_t answeredAt = setup.now();

    SendEnd trouble = SendEnd::Empty;
    std::string detail;
    SubmissionAnswer answer;
    std::vector<const LineAnswer*> lines;
    switch (posted.failure) {
      case PostResult::Failure::None:
        answer = ReadSubmissionAnswer(posted.body);
        detail = answer.detail;
        if (answer.kind == SubmissionAnswer::Kind::ServerFault) {
          trouble = SendEnd::ServerFault;
        } else if (answer.kind == SubmissionAnswer::Kind::ClientFault) {
          trouble = SendEnd::ClientFault;
        } else if (answer.kind != SubmissionAnswer::Kind::Answer) {
          // A gateway's error page is an outage, not a wrong answer.
          trouble = posted.httpStatus >= 500 ? SendEnd::Unreachable : SendEnd::BadAnswer;
          detail = "HTTP " + std::to_string(posted.httpStatus) + ": " + detail;
        } else if (!MatchAnswer(batch, answer, lines, detail)) {
          trouble = SendEnd::BadAnswer;
        }
        break;
      case PostResult::Failure::ServerCertificate:
        trouble = SendEnd::ServerCertificate;
        detail = posted.error;
        break;
      case PostResult::Failure::ClientCertificate:
        trouble = SendEnd::ClientCertificate;
        detail = posted.error;
        break;
      default:
        trouble = SendEnd::Unreachable;
        detail = posted.error;
        break;
    }

    if (trouble != SendEnd::Empty) {
      result.end = trouble;
      result.detail = detail;
      if (trouble == SendEnd::Unreachable || trouble == SendEnd::ServerFault) {
        // Everything made so far has waited through the outage.
        int32_t last = 0;
        status = reader.Last(last);
        if (status != RmSuccess) return fail(status);
        control.outageThrough = std::max(control.outageThrough, last);
        status = state.SaveControl(control);
        if (status != RmSuccess) return fail(status);
      }
      const bool retry = trouble == SendEnd::Unreachable || trouble == SendEnd::ServerFault ||
                         trouble == SendEnd::BadAnswer;
      if (!setup.untilEmpty || !retry) break;
      listener.Waiting(backOff, true);
      setup.sleep(backOff * 1000);
      backOff = std::min(backOff * 2, kLongestBackOff);
      continue;
    }
    backOff = std::max<int64_t>(1, setup.firstBackOff);

    std::vector<SendAnswer> standing;
    status = state.Standing(standing);
    if (status != RmSuccess) return fail(status);
    std::vector<SendAnswer> answers;
    std::vector<int32_t> settled;
    size_t counts[4] = {};  // accepted, with errors, rejected, duplicates
    const std::string when = setup.timestamp();
    for (size_t i = 0; i < batch.records.size(); ++i) {
      const Outgoing& o = batch.records[i];
      const LineAnswer& line = *lines[i];
      SendAnswer a;
      a.sequence = o.sequence;
      a.state = StateOf(line);
      a.standing = a.state == 'I';
      a.incident = batch.incident;
      a.series = o.series;
      a.number = o.number;
      a.errorCode = line.errorCode;
      a.csv = answer.csv;
      a.answeredAt = when;
      a.errorText = line.errorText;
      ++counts[a.state == 'C' ? 0 : a.state == 'E' ? 1 : a.state == 'I' ? 2 : 3];
      if (o.correction && a.state != 'I') {
        for (const SendAnswer& s : standing)
          if (s.series == o.series && s.number == o.number && s.sequence < o.sequence) settled.push_back(s.sequence);
      }
      answers.push_back(std::move(a));
    }
    control.wait = answer.wait;
    control.notBefore = answeredAt + int64_t{answer.wait} * 1000;
    control.answeredThrough = batch.answeredThrough;
    status = state.Store(answers, settled, control);
    if (status != RmSuccess) return fail(status);
    result.sent += static_cast<int64_t>(answers.size());
    listener.Answered(answers.size(), batch.incident, answer.csv, counts[0], counts[1], counts[2], counts[3]);
    for (const SendAnswer& a : answers)
      if (a.state == 'E' || a.state == 'I') listener.RecordProblem(a);
    result.end = SendEnd::Empty;
    result.detail.clear();
  }
  int64_t answered = 0;
  status = state.Counts(answered, result.standing);
  if (status != RmSuccess) return fail(status);
  return result;
}

SenderLock::SenderLock(const std::string& hostPath) {
  const int fd = ::open(hostPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error_ = errno == EWOULDBLOCK ? 0 : errno;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

SenderLock::~SenderLock() {
  if (fd_ >= 0) ::close(fd_);
}

int16_t SendingCounts(const std::string& registerPath, const std::string& statePath, int64_t& pending,
                      int64_t& rejected) {
  pending = 0;
  rejected = 0;
  RegisterReader reader;
  int16_t status = reader.Open(registerPath);
  if (status == RmFileNotFound) return RmSuccess;
  int64_t records = 0;
  if (status == RmSuccess) status = reader.Count(records);
  if (status != RmSuccess) return status;
  int64_t answered = 0;
  SendingState state;
  status = state.Open(statePath, true);
  if (status == RmSuccess) status = state.Counts(answered, rejected);
  else if (status == RmFileNotFound) status = RmSuccess;
  pending = std::max<int64_t>(0, records - answered);
  return status;
}
