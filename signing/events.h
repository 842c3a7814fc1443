// The event log of the not-sending mode (DADES\RegEvent, see kept.h): one
// RegistroEvento of the agency's EventosSIF.xsd per event, chained by the
// previous event's fingerprint and signed like the register's records.
//
// Every event also keeps the register's last record at the time (sequence
// and fingerprint, in the record and, signed, in OtrosDatosEvento), so that a
// register cut short or replaced by an older copy is found: its last record
// is then older than the log says, or not the one the log names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "agency/facts.h"
#include "register/software.h"
#include "signing/kept.h"
#include "signing/xades.h"

// The agency's event types (TipoEvento) and anomaly types (TipoAnomalia).
using EventType = agency::EventType;
using AnomalyType = agency::AnomalyType;

// The two digits the agency writes for a type.
[[nodiscard]] std::string EventTypeCode(EventType type);

// Who every event names: the software, its installation and the issuer.
struct EventIdentity {
  SoftwareIdentity software;
  std::string installation;
  std::string issuerNif;   // 9 characters
  std::string issuerName;  // code page 850
};

// One event as the log keeps it.
struct EventEntry {
  int32_t sequence = 0;
  std::string type;  // "01" .. "90"
  std::string generatedAt;
  std::string previousFingerprint;
  std::string fingerprint;
  int32_t tailSequence = 0;
  std::string tailFingerprint;
  std::string xml;  // the signed RegistroEvento, UTF-8

  [[nodiscard]] bool Is(EventType t) const { return type == EventTypeCode(t); }
};

[[nodiscard]] EventEntry DecodeEvent(const KeptRecord& record);

// The text whose SHA-256 is an event's fingerprint.
[[nodiscard]] std::string EventFingerprintText(const EventIdentity& identity, const std::string& type,
                                               const std::string& previousFingerprint, const std::string& generatedAt);

// OtrosDatosEvento: the register's last record at the event.
[[nodiscard]] std::string TailText(int32_t sequence, const std::string& fingerprint);

// Pieces of DatosPropiosEvento (UTF-8 XML, "sf" prefix).
struct RecordId {
  std::string nif;          // 9 characters
  std::string number;       // as printed, code page 850
  std::string date;         // DD-MM-YYYY
  std::string fingerprint;  // for the forms that carry it
};
[[nodiscard]] std::string CheckLaunchedXml(bool onEvents, int64_t count);
[[nodiscard]] std::string AnomalyXml(bool onEvents, AnomalyType type, const std::string& detail,
                                     const RecordId* record, const EventEntry* event);
[[nodiscard]] std::string RecordsExportedXml(const std::string& from, const std::string& to, const RecordId& first,
                                             const RecordId& last, int64_t issued, int64_t vatCents,
                                             int64_t totalCents, int64_t cancelled);
[[nodiscard]] std::string EventsExportedXml(const std::string& from, const std::string& to, const EventEntry& first,
                                            const EventEntry& last, int64_t count);
// The summary: events counted by type (type code to count), the first and
// last record made in the period (nullptr when none), the issue records'
// count and sums, the cancellations' count.
struct SummaryCounts {
  std::vector<std::pair<std::string, int64_t>> eventsByType;
  bool haveRecords = false;
  RecordId first;
  RecordId last;
  int64_t issued = 0;
  int64_t vatCents = 0;
  int64_t totalCents = 0;
  int64_t cancelled = 0;
};
[[nodiscard]] std::string SummaryXml(const SummaryCounts& counts);

// The log's tail anchor, as the register's (register/anchor.h): the last
// event's sequence and fingerprint, written after every event outside the
// log, beside the archived runs. A log that falls short of it lost its
// newest events; one whose event of that sequence has another fingerprint
// was replaced.
inline constexpr const char* EventAnchorFileName = "ARXIU\\RegEvent.ancora";

// The log, open for the life of the object.
class EventLog {
 public:
  // Opens <root>DADES\RegEvent (made when missing unless readOnly).
  [[nodiscard]] int16_t Open(const std::string& root, bool readOnly);
  [[nodiscard]] bool IsOpen() const { return file_.IsOpen(); }

  // Adds one event after the last one, under the file's transaction: its
  // XML with ownData (DatosPropiosEvento's content, may be empty), the
  // register's tail, chained, fingerprinted and signed with key. The time
  // comes from clock. 0, or the record manager's status; 2002 when it
  // could not be signed (errorOut says why). The anchor follows the event
  // (a failure to write it leaves the earlier one, which the log still
  // reaches).
  [[nodiscard]] int16_t Append(EventType type, const std::string& ownData, int32_t tailSequence,
                               const std::string& tailFingerprint, const EventIdentity& identity,
                               const SigningKey& key, const std::function<std::string()>& clock,
                               EventEntry* written = nullptr, std::string* errorOut = nullptr);

  [[nodiscard]] int16_t ReadAll(std::vector<EventEntry>& out);
  // The last event: 0, or 9 when there is none.
  [[nodiscard]] int16_t Last(EventEntry& out);
  // The event of this sequence: 0, or 4 when there is none.
  [[nodiscard]] int16_t Get(int32_t sequence, EventEntry& out);

 private:
  KeptFile file_;
  std::string anchorPath_;
};

// The not-sending mode's statuses, in its range 3000-3999.
inline constexpr int16_t EventNotSigned = 3001;  // an event could not be signed

// Builds the unsigned RegistroEvento of an event whose fields are set
// (previous: the event before it, nullptr for the first).
[[nodiscard]] std::string EventXml(const EventEntry& event, const EventEntry* previous, const std::string& ownData,
                                   const EventIdentity& identity);
