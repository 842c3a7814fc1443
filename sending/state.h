// What the agency answered for each record of the register, kept in its own
// record file beside the register (DADES\EnviFact), so that the register's
// records stay as they were made.
//
// Why a record file of the record manager rather than a log: an answer is
// found by the record's sequence without reading the rest (the list, the
// module's count and the sender look records up one by one), a rejection
// that a correction settles changes in place, and the answers of one
// message go in with one transaction, so that a kill leaves each record
// either pending or answered, never half.
//
// One record per answered record, keyed by the register's sequence:
//   key 0  Sequence   unique
//   key 1  Standing   duplicates: 'R' for a rejection nothing has settled yet
// Sequence 0 is the sender's own record (SendControl): the flow control
// and the outage mark, which outlive the process.
// A record without an answer here is pending. Integers are little-endian,
// texts blank-padded; the agency's texts are kept in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/layouts.h"
#include "register/record.h"

inline constexpr const char* SendingStateFileName = "DADES\\EnviFact";
inline constexpr uint32_t SendingStateRecordSize = 768;

struct SendingStateFields {
  static constexpr RecordField Sequence{0, 4};     // int32, key 0
  static constexpr RecordField State{4, 1};        // SendState
  static constexpr RecordField Standing{5, 1};     // 'R' or blank, key 1
  static constexpr RecordField Incident{6, 1};     // 'S' sent with Incidencia=S
  static constexpr RecordField Series{7, 51};      // the record's series and number, for messages
  static constexpr RecordField Number{58, 4};
  static constexpr RecordField ErrorCode{62, 4};   // int32
  static constexpr RecordField Csv{66, 64};        // the agency's code of the submission
  static constexpr RecordField AnsweredAt{130, 25};  // ISO 8601 with offset
  static constexpr RecordField ErrorText{155, 600};  // UTF-8
  static constexpr RecordField Operation{755, 1};  // 'N' a cancellation (series and number: the invoice cancelled)
};

// The sender's own record (sequence 0).
struct SendingControlFields {
  static constexpr RecordField Sequence{0, 4};
  static constexpr RecordField State{4, 1};         // 'K'
  static constexpr RecordField Standing{5, 1};      // blank
  static constexpr RecordField Wait{8, 4};          // int32: the last TiempoEsperaEnvio
  static constexpr RecordField NotBefore{12, 20};   // decimal milliseconds since 1970 UTC
  static constexpr RecordField OutageThrough{32, 4};  // int32
  static constexpr RecordField AnsweredThrough{36, 4};  // int32
  static constexpr RecordField WorkedYear{40, 4};   // "2026": the last year the sender ran (blank: never)
  static constexpr RecordField EndDate{44, 10};     // the renunciation's FechaFinVeriFactu, "31-12-2026"
  static constexpr RecordField EndSentAt{54, 25};   // ISO 8601: when a message carrying it was answered
};

// A record's answer as kept. 'C' Correcto, 'E' AceptadoConErrores (also a
// duplicate the agency holds with errors: correctable), 'I' Incorrecto
// (rejected), 'D' the agency had it already as correct (a duplicate, taken
// as accepted; for a cancellation: the invoice was cancelled there
// already), 'A' a duplicate of an invoice the agency holds as cancelled.
struct SendAnswer {
  int32_t sequence = 0;
  char state = ' ';
  bool standing = false;  // a rejection not yet settled by a correction
  bool incident = false;
  bool cancellation = false;  // a RegistroAnulacion: series and number are the cancelled invoice's
  std::string series;     // code page 850
  int32_t number = 0;
  int32_t errorCode = 0;
  std::string csv;
  std::string answeredAt;
  std::string errorText;  // UTF-8
};

// The flow control and the outage, across runs of the sender.
struct SendControl {
  int32_t wait = 60;            // seconds to wait after a message (the agency's last word)
  int64_t notBefore = 0;        // no message before this time (ms since 1970 UTC), unless a full one waits
  int32_t outageThrough = 0;    // records up to this sequence waited through an outage
  int32_t answeredThrough = 0;  // every record up to this sequence is answered
  // The mode kept for the year: the last year the root worked as
  // VERI*FACTU (its sender ran), and the renunciation (zepfact renounce):
  // its last day in the mode, and when the agency answered the message
  // that carried it (empty while it waits for a message).
  int32_t workedYear = 0;
  std::string endDate;    // "31-12-2026", or empty
  std::string endSentAt;
};

// The first day (YYYYMMDD) the root may leave the sending mode, or empty
// when it may now (this year: today's): once it has worked as VERI*FACTU
// in a year it stays in the mode to the year's end, and it leaves only
// after a renunciation the agency has had for that year or a later one.
// renouncedOut: whether such a renunciation has gone.
[[nodiscard]] std::string SendingModeLeavableFrom(const SendControl& control, int32_t thisYear, bool& renouncedOut);

[[nodiscard]] std::string SendingStateCreationSpecification();

// The answers file, open for the life of the object.
class SendingState {
 public:
  SendingState() = default;
  ~SendingState();
  SendingState(const SendingState&) = delete;
  SendingState& operator=(const SendingState&) = delete;

  // Opens the file at hostPath (".dat" added); a missing file is made
  // unless readOnly (then RmFileNotFound). Status of the record manager.
  [[nodiscard]] int16_t Open(const std::string& hostPath, bool readOnly);

  // The answer for sequence: 0 with found, or found false when pending.
  [[nodiscard]] int16_t Find(int32_t sequence, SendAnswer& out, bool& found);
  // The answer for the register's record as Find gives it, or
  // RegisterSideFileDamaged when the answer of its sequence names another
  // invoice: the answers of another register, or an older copy put back,
  // whose states would be taken for this register's.
  [[nodiscard]] int16_t FindFor(const RegisterEntry& record, SendAnswer& out, bool& found);

  // The control record (defaults when there is none yet).
  [[nodiscard]] int16_t Control(SendControl& out);

  // In one transaction: the answers (new or replacing), the rejections of
  // settled cleared from standing, and control.
  [[nodiscard]] int16_t Store(const std::vector<SendAnswer>& answers, const std::vector<int32_t>& settled,
                              const SendControl& control);

  // Only control.
  [[nodiscard]] int16_t SaveControl(const SendControl& control);

  // How many records hold an answer, and how many rejections stand.
  [[nodiscard]] int16_t Counts(int64_t& answered, int64_t& standing);

  // The standing rejections, in sequence order.
  [[nodiscard]] int16_t Standing(std::vector<SendAnswer>& out);

 private:
  [[nodiscard]] int16_t Call(uint16_t op, void* data, uint32_t* len, void* key, int8_t keyNum);
  [[nodiscard]] int16_t Put(const std::string& bytes, int32_t sequence);
  uint8_t position_[128] = {};
  bool open_ = false;
};

[[nodiscard]] std::string EncodeSendAnswer(const SendAnswer& a);
[[nodiscard]] SendAnswer DecodeSendAnswer(const uint8_t* record);
