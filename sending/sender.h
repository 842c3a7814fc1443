// The sender: every record of the register that has no answer yet goes to
// the agency, in generation order, up to kRecordsPerMessage a message, each
// exactly as the register keeps it; each message's answers are kept
// (SendingState) the moment they arrive, in one transaction.
//
// Flow control: after a message, the next waits the agency's
// TiempoEsperaEnvio (60 s until it has said otherwise), measured from the
// answer and kept across runs, unless a full message waits. A record
// answered is never sent again; a kill before the answer is kept leaves the
// message's records pending, and the agency then answers them as
// duplicates, which count as accepted.
// Records that waited through an outage (no connection, no answer, a
// server fault) go out with Incidencia=S.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/record.h"
#include "sending/soap.h"
#include "sending/state.h"
#include "sending/transport.h"

// What the sender tells as it goes (messages are the caller's).
class SendListener {
 public:
  virtual ~SendListener() = default;
  // A message answered: how many of its records went, with Incidencia or
  // not, and how each ended.
  virtual void Answered(size_t records, bool incident, const std::string& csv, size_t accepted, size_t withErrors,
                        size_t rejected, size_t duplicates) = 0;
  // A record accepted with errors ('E') or rejected ('I'); number as printed.
  virtual void RecordProblem(const SendAnswer& answer) = 0;
  // Waiting seconds before the next message (flow control or back-off).
  virtual void Waiting(int64_t seconds, bool backOff) = 0;
  // A record the register keeps without its XML, which cannot be sent.
  virtual void Unsendable(const std::string& series, int32_t number) = 0;
  // The renunciation (FechaFinVeriFactu endDate) went in a message the
  // agency answered.
  virtual void Renounced(const std::string& endDate) { static_cast<void>(endDate); }
};

// Why a run ended.
enum class SendEnd {
  Empty,        // nothing left to send
  Unreachable,  // the service could not be reached, dropped the connection or did not answer
  ServerFault,  // the service answered with a SOAP fault "Server"
  ClientFault,  // the service refused the message (SOAP fault "Client"); detail: its words
  BadAnswer,    // the answer is not XML, not this service's, or does not match the request
  ServerCertificate,  // the server's certificate does not verify
  ClientCertificate,  // the client certificate was refused
  Register,     // the register or the answers file cannot be read or written (status)
};

struct SendResult {
  SendEnd end = SendEnd::Empty;
  std::string detail;   // UTF-8
  int16_t status = 0;   // SendEnd::Register: the record manager's status
  bool answersFile = false;  // SendEnd::Register: the answers file failed, not the register
  int64_t sent = 0;     // records answered in this run
  int64_t standing = 0; // rejections not settled, in the whole register
};

// The sender's surroundings; everything but the files is a seam for tests
// and benchmarks.
struct SenderSetup {
  std::string registerPath;  // host path of the register (.dat)
  std::string statePath;     // host path of the answers file (.dat)
  std::string renunciationPath;  // host path of the renunciation asked for (RenunciationFile)
  Filer filer;
  // Posts a message and gives what came back.
  std::function<PostResult(const std::string& body)> post;
  std::function<int64_t()> now;                  // milliseconds since 1970 UTC
  std::function<void(int64_t milliseconds)> sleep;
  std::function<std::string()> timestamp;        // ISO 8601 with offset, for the answers
  bool untilEmpty = false;   // keep going through outages, backing off
  int64_t firstBackOff = 60; // seconds; doubled after each failure, at most an hour
};

inline constexpr int64_t kLongestBackOff = 3600;

// The renunciation of the mode zepfact renounce asks for, beside the
// answers file: one line, its FechaFinVeriFactu ("31-12-2026"). It goes in
// the header of each message until one is answered; the answers file then
// keeps it as sent (SendControl endDate, endSentAt).
inline constexpr const char* RenunciationFileName = "DADES\\EnviFact.ren";

// The date the renunciation file asks for, or empty when there is none or
// it holds no such date.
[[nodiscard]] std::string RequestedRenunciation(const std::string& hostPath);

// Sends until nothing is left, or until the first failure unless
// untilEmpty. Only one run at a time per answers file: the caller holds
// the sender's lock (SenderLock).
[[nodiscard]] SendResult RunSender(const SenderSetup& setup, SendListener& listener);

// The lock of the one sender of a suite root: a lock file held with flock
// for the life of the object.
class SenderLock {
 public:
  explicit SenderLock(const std::string& hostPath);
  ~SenderLock();
  SenderLock(const SenderLock&) = delete;
  SenderLock& operator=(const SenderLock&) = delete;
  // True when this process holds it; false when another sender does, or the
  // file cannot be made (error then holds errno).
  [[nodiscard]] bool Held() const { return fd_ >= 0; }
  [[nodiscard]] int Error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Whether the agency holds an issue record of invoice series/number of
// chain, or will (one waits to be sent before anything made now): some
// issue record of it kept with its XML is pending or was accepted (also
// with errors, or as a duplicate). A missing answers file means every
// record is pending.
[[nodiscard]] int16_t InvoiceReachesAgency(const std::string& statePath, const std::vector<RegisterEntry>& chain,
                                           const std::string& series, int32_t number, bool& reaches);

// How many records of the register wait to be sent and how many rejections
// stand, for the module's line and the summary: reads the register's and
// the answers file's record counts only. A missing answers file means
// nothing was answered yet.
[[nodiscard]] int16_t SendingCounts(const std::string& registerPath, const std::string& statePath, int64_t& pending,
                                    int64_t& rejected);
