#include "sending/sender.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "agency/facts.h"
#include "base/codepage.h"
#include "base/files.h"
#include "base/text.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/record.h"
#include "register/register.h"

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
  std::string series;  // the invoice it is about (a cancellation: the invoice cancelled)
  int32_t number = 0;
  RecordIdentity id;   // as the agency names it in its answer
  bool cancellation = false;
  std::string xml;
  // It settles earlier rejections of its invoice: a correction (Subsanacion)
  // those of its issue records, an accepted cancellation every one.
  bool correction = false;
};

RecordIdentity IdentityOf(const RegisterEntry& e) {
  return {Trim(e.issuerTaxId), Utf8FromCp858(PrintedInvoiceNumber(e.IdentitySeries(), e.IdentityNumber())),
          AgencyDate(e.IdentityDate())};
}

bool IsCorrection(const std::string& xml) { return xml.find("<sf:Subsanacion>S</sf:Subsanacion>") != std::string::npos; }

// The next message's records, and how far every record is answered.
struct Batch {
  std::vector<Outgoing> records;
  bool incident = false;
  int32_t answeredThrough = 0;
};

// The next message's records; a failure is the register's, or the answers
// file's when answersFailedOut.
int16_t NextBatch(RegisterReader& reader, SendingState& state, const SendControl& control, SendListener& listener,
                  std::set<int32_t>& toldUnsendable, Batch& batch, bool& answersFailedOut) {
  batch = Batch{};
  answersFailedOut = false;
  batch.answeredThrough = control.answeredThrough;
  bool gap = false;
  RegisterEntry e;
  int16_t status = RmSuccess;
  // The last record answered in full is this register's and has its
  // answer, naming its own invoice: answers of another register, or of an
  // older copy put back, are not taken for these records.
  if (control.answeredThrough > 0) {
    SendAnswer answer;
    bool found = false;
    status = reader.After(control.answeredThrough - 1, e);
    if (status == RmSuccess && e.sequence == control.answeredThrough) {
      status = state.FindFor(e, answer, found);
    } else if (status == RmSuccess || status == RmEndOfFile) {
      status = RegisterSideFileDamaged;  // the answers reach past the register, or skip a record
    } else {
      return status;  // the register's own failure
    }
    if (status == RmSuccess && !found) status = RegisterSideFileDamaged;
    answersFailedOut = status != RmSuccess;
    if (status != RmSuccess) return status;
  }
  status = reader.After(control.answeredThrough, e);
  std::set<std::pair<std::string, int32_t>> invoices;
  for (; status == RmSuccess; status = reader.Next(e)) {
    SendAnswer answer;
    bool found = false;
    status = state.FindFor(e, answer, found);
    answersFailedOut = status != RmSuccess;
    if (status != RmSuccess) return status;
    if (found) {
      if (!gap) batch.answeredThrough = e.sequence;
      continue;
    }
    gap = true;
    if (e.xml.empty()) {
      if (toldUnsendable.insert(e.sequence).second) listener.Unsendable(e.IdentitySeries(), e.IdentityNumber());
      continue;
    }
    const bool incident = e.sequence <= control.outageThrough;
    // One message holds one kind of header, and each invoice once (its
    // issue or its cancellation), so that every answer line names one
    // record and the agency takes them in the order made.
    const std::pair<std::string, int32_t> invoice{e.IdentitySeries(), e.IdentityNumber()};
    if (!batch.records.empty() && (incident != batch.incident || invoices.count(invoice) != 0)) break;
    if (batch.records.size() == kRecordsPerMessage) break;
    batch.incident = incident;
    invoices.insert(invoice);
    Outgoing o;
    o.sequence = e.sequence;
    o.series = e.IdentitySeries();
    o.number = e.IdentityNumber();
    o.id = IdentityOf(e);
    o.cancellation = e.IsCancellation();
    o.correction = IsCorrection(e.xml);
    o.xml = std::move(e.xml);
    batch.records.push_back(std::move(o));
  }
  return status == RmEndOfFile ? static_cast<int16_t>(RmSuccess) : status;
}

// A line is about a record when it names the record's invoice and, when it
// says, the record's operation.
bool LineIsAbout(const LineAnswer& line, const Outgoing& o) {
  if (!(o.id == line.id)) return false;
  if (line.operation.empty()) return true;
  return line.operation == (o.cancellation ? kOperationCancellation : kOperationIssue);
}

// The answer of each record of a message, in the records' order (null
// where no line answers it). False (detail names the lines and records
// concerned) when some line matches no record, answers one a second time,
// or some record has no line; the lines that matched still count.
bool MatchAnswer(const Batch& batch, const SubmissionAnswer& answer, std::vector<const LineAnswer*>& out,
                 std::string& detail) {
  out.assign(batch.records.size(), nullptr);
  detail.clear();
  const auto name = [&detail](const std::string& what) {
    if (detail.size() > 400) return;
    if (!detail.empty()) detail += "; ";
    detail += what;
  };
  for (const LineAnswer& line : answer.lines) {
    size_t i = 0;
    while (i < batch.records.size() && (out[i] != nullptr || !LineIsAbout(line, batch.records[i]))) ++i;
    if (i == batch.records.size()) {
      name(line.id.number + " " + line.id.date + (line.operation.empty() ? "" : " " + line.operation));
      continue;
    }
    out[i] = &line;
  }
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == nullptr) name("- " + batch.records[i].id.number);
  }
  return detail.empty();
}

// The duplicate's state as the agency holds the record already.
constexpr const char* kDuplicateCorrect = "Correcta";
constexpr const char* kDuplicateWithErrors = "AceptadaConErrores";
constexpr const char* kDuplicateCancelled = "Anulada";
// A cancellation the agency holds already (RegistroDuplicado is given for
// issue records only).
constexpr int32_t kAlreadyCancelled = 3001;

char StateOf(const LineAnswer& line, bool cancellation) {
  if (line.duplicate) {
    if (line.duplicateState == kDuplicateCorrect) return 'D';
    if (line.duplicateState == kDuplicateCancelled) return 'A';
    // AceptadaConErrores, or a state the agency does not list: held there,
    // not as correct.
    (void)kDuplicateWithErrors;
    return 'E';
  }
  if (line.state == agency::kStateAccepted) return 'C';
  if (line.state == agency::kStateAcceptedWithErrors) return 'E';
  if (cancellation && line.errorCode == kAlreadyCancelled) return 'D';
  return 'I';
}

// Keeps the answers of the records a line answered (lines[i] for record
// i, null for none), with the agency's flow control, in one transaction.
int16_t KeepAnswers(SendingState& state, const Batch& batch, const SubmissionAnswer& answer,
                    const std::vector<const LineAnswer*>& lines, SendControl& control, int64_t answeredAt,
                    const SenderSetup& setup, SendListener& listener, size_t& matched) {
  matched = 0;
  std::vector<SendAnswer> standing;
  int16_t status = state.Standing(standing);
  if (status != RmSuccess) return status;
  std::vector<SendAnswer> answers;
  std::vector<int32_t> settled;
  size_t counts[4] = {};  // accepted, with errors, rejected, duplicates
  const std::string when = setup.timestamp();
  bool allAnswered = true;
  for (size_t i = 0; i < batch.records.size(); ++i) {
    if (lines[i] == nullptr) {
      allAnswered = false;
      continue;
    }
    const Outgoing& o = batch.records[i];
    const LineAnswer& line = *lines[i];
    SendAnswer a;
    a.sequence = o.sequence;
    a.state = StateOf(line, o.cancellation);
    a.standing = a.state == 'I';
    a.incident = batch.incident;
    a.cancellation = o.cancellation;
    a.series = o.series;
    a.number = o.number;
    a.errorCode = line.errorCode;
    a.csv = answer.csv;
    a.answeredAt = when;
    a.errorText = line.errorText;
    ++counts[a.state == 'C' ? 0 : a.state == 'E' ? 1 : a.state == 'I' ? 2 : 3];
    if ((o.correction || o.cancellation) && a.state != 'I') {
      for (const SendAnswer& s : standing)
        if (s.series == o.series && s.number == o.number && s.sequence < o.sequence &&
            (o.cancellation || !s.cancellation))
          settled.push_back(s.sequence);
    }
    answers.push_back(std::move(a));
  }
  control.wait = answer.wait;
  control.notBefore = answeredAt + int64_t{answer.wait} * 1000;
  // Records left without a line stay pending, and so does everything after.
  if (allAnswered) control.answeredThrough = batch.answeredThrough;
  status = state.Store(answers, settled, control);
  if (status != RmSuccess) return status;
  matched = answers.size();
  listener.Answered(answers.size(), batch.incident, answer.csv, counts[0], counts[1], counts[2], counts[3]);
  for (const SendAnswer& a : answers)
    if (a.state == 'E' || a.state == 'I' || a.state == 'A') listener.RecordProblem(a);
  return RmSuccess;
}

}  // namespace

std::string RequestedRenunciation(const std::string& hostPath) {
  std::string text;
  if (hostPath.empty() || ReadRegularFile(hostPath, text, 64) != ReadResult::Ok) return std::string();
  text = Trim(text.substr(0, text.find_first_of("\r\n")));
  const bool shaped = text.size() == 10 && text.rfind("31-12-", 0) == 0 &&
                      text.find_first_not_of("0123456789", 6) == std::string::npos;
  return shaped ? text : std::string();
}

SendResult RunSender(const SenderSetup& setup, SendListener& listener) {
  SendResult result;
  const auto fail = [&](int16_t status, bool answersFile) {
    result.end = SendEnd::Register;
    result.status = status;
    result.answersFile = answersFile;
    return result;
  };
  RegisterReader reader;
  int16_t status = reader.Open(setup.registerPath);
  if (status != RmSuccess) return fail(status, false);
  SendingState state;
  status = state.Open(setup.statePath, false);
  if (status != RmSuccess) return fail(status, true);
  {
    // Sending, the root works as VERI*FACTU this year, and stays in the
    // mode to the year's end.
    SendControl control;
    status = state.Control(control);
    const int32_t year = static_cast<int32_t>(std::atol(setup.timestamp().substr(0, 4).c_str()));
    if (status == RmSuccess && control.workedYear < year) {
      control.workedYear = year;
      status = state.SaveControl(control);
    }
    if (status != RmSuccess) return fail(status, true);
  }

  std::set<int32_t> toldUnsendable;
  int64_t backOff = std::max<int64_t>(1, setup.firstBackOff);
  for (;;) {
    SendControl control;
    status = state.Control(control);
    Batch batch;
    bool answersFailed = status != RmSuccess;
    if (status == RmSuccess) status = NextBatch(reader, state, control, listener, toldUnsendable, batch, answersFailed);
    if (status != RmSuccess) return fail(status, answersFailed);
    if (batch.records.empty()) {
      if (batch.answeredThrough != control.answeredThrough) {
        control.answeredThrough = batch.answeredThrough;
        status = state.SaveControl(control);
        if (status != RmSuccess) return fail(status, true);
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
    // A renunciation goes in the header of every message until one is answered.
    const std::string requested = RequestedRenunciation(setup.renunciationPath);
    const std::string endOfMode = requested != control.endDate ? requested : std::string();
    const PostResult posted = setup.post(SubmissionEnvelope(setup.filer, batch.incident, endOfMode, xml));
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
      case PostResult::Failure::TooLarge:
        trouble = SendEnd::BadAnswer;
        detail = posted.error;
        break;
      default:
        trouble = SendEnd::Unreachable;
        detail = posted.error;
        break;
    }

    // What the agency answered is kept, record by record, even when the
    // rest of its answer does not match.
    if (std::any_of(lines.begin(), lines.end(), [](const LineAnswer* l) { return l != nullptr; })) {
      size_t matched = 0;
      if (!endOfMode.empty()) {
        control.endDate = endOfMode;
        control.endSentAt = setup.timestamp();
      }
      status = KeepAnswers(state, batch, answer, lines, control, answeredAt, setup, listener, matched);
      if (status != RmSuccess) return fail(status, true);
      result.sent += static_cast<int64_t>(matched);
      if (!endOfMode.empty()) listener.Renounced(endOfMode);
    }

    if (trouble != SendEnd::Empty) {
      result.end = trouble;
      result.detail = detail;
      if (trouble == SendEnd::Unreachable || trouble == SendEnd::ServerFault) {
        // Everything made so far has waited through the outage.
        int32_t last = 0;
        status = reader.Last(last);
        if (status != RmSuccess) return fail(status, false);
        control.outageThrough = std::max(control.outageThrough, last);
        status = state.SaveControl(control);
        if (status != RmSuccess) return fail(status, true);
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
    result.end = SendEnd::Empty;
    result.detail.clear();
  }
  int64_t answered = 0;
  status = state.Counts(answered, result.standing);
  if (status != RmSuccess) return fail(status, true);
  return result;
}

SenderLock::SenderLock(const std::string& hostPath) {
  const int error = TakeFileLock(hostPath, 0600, fd_);
  error_ = error == EWOULDBLOCK ? 0 : error;
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

int16_t InvoiceReachesAgency(const std::string& statePath, const std::vector<RegisterEntry>& chain,
                             const std::string& series, int32_t number, bool& reaches) {
  reaches = false;
  SendingState state;
  int16_t status = state.Open(statePath, true);
  const bool open = status == RmSuccess;
  if (!open && status != RmFileNotFound) return status;
  for (const RegisterEntry& e : chain) {
    if (e.IsCancellation() || e.xml.empty() || e.layout != RegisterFields::kLayout || e.series != series ||
        e.number != number)
      continue;
    SendAnswer a;
    bool found = false;
    if (open) {
      status = state.FindFor(e, a, found);
      if (status != RmSuccess) return status;
    }
    if (!found || a.state == 'C' || a.state == 'E' || a.state == 'D') {
      reaches = true;
      return RmSuccess;
    }
  }
  return RmSuccess;
}
