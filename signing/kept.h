// The two files the not-sending mode keeps beside the register, both data
// files of the record manager with one unique key, the sequence:
//
//   DADES\RegSigna  the signed XML of each register record, keyed by the
//                   register's sequence (the register's own record keeps
//                   the unsigned XML as made, in an area too small for a
//                   signature and its certificate);
//   DADES\RegEvent  the event log: RegistroEvento records, chained and
//                   signed, keyed by their own sequence.
//
// A record file rather than a plain append-only file: the record manager
// gives each write a transaction (all of a run's signed records or none),
// crash safety through SQLite's journal, and reads by sequence for one
// record's check.
//
// Records are 16384 bytes: integers little-endian, texts blank-padded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "records/layouts.h"

inline constexpr const char* SignedRecordFileName = "DADES\\RegSigna";
inline constexpr const char* EventLogFileName = "DADES\\RegEvent";
inline constexpr uint32_t KeptRecordSize = 16384;

struct SignedRecordFields {
  static constexpr RecordField Sequence{0, 4};       // int32: the register record's sequence; key 0
  static constexpr RecordField Fingerprint{4, 64};   // the register record's fingerprint
  static constexpr RecordField XmlLength{68, 4};     // int32
  static constexpr RecordField Xml{72, 16312};       // UTF-8: the signed RegistroAlta or RegistroAnulacion
};

struct EventFields {
  static constexpr RecordField Sequence{0, 4};             // int32, from 1; key 0
  static constexpr RecordField Type{4, 2};                 // TipoEvento, "01" .. "90"
  static constexpr RecordField GeneratedAt{6, 25};         // ISO 8601 with offset
  static constexpr RecordField PreviousFingerprint{31, 64};
  static constexpr RecordField Fingerprint{95, 64};
  static constexpr RecordField TailSequence{159, 4};       // int32: the register's last record then, 0 for none
  static constexpr RecordField TailFingerprint{163, 64};   // its fingerprint
  static constexpr RecordField XmlLength{227, 4};          // int32
  static constexpr RecordField Xml{231, 16153};            // UTF-8: the signed RegistroEvento
};

// One record of either file, as the file holds it.
struct KeptRecord {
  int32_t sequence = 0;
  std::string bytes;  // the whole record
};

// A kept file, open for the life of the object.
class KeptFile {
 public:
  KeptFile() = default;
  ~KeptFile();
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;

  // Opens hostPath (".dat" added), creating it first unless readOnly.
  // 0, or the record manager's status (12 when readOnly and missing).
  [[nodiscard]] int16_t Open(const std::string& hostPath, bool readOnly);
  [[nodiscard]] bool IsOpen() const { return open_; }

  // Every record in sequence order.
  [[nodiscard]] int16_t ReadAll(std::vector<KeptRecord>& out);
  // The record with this sequence: 0, or 4 when there is none.
  [[nodiscard]] int16_t Get(int32_t sequence, KeptRecord& out);
  // The last record: 0, or 9 when the file is empty.
  [[nodiscard]] int16_t Last(KeptRecord& out);
  // In one transaction: removes every record from sequence
  // records.front().sequence on (left by a run that stopped before its
  // register committed), then inserts records. All or nothing.
  [[nodiscard]] int16_t Replace(const std::vector<KeptRecord>& records);
  // In one transaction: reads the last record and inserts the one make
  // gives after it (make's status other than 0 writes nothing and is
  // returned). Another process appending at the same time waits or makes
  // the insert fail (5): nothing is overwritten.
  [[nodiscard]] int16_t AppendNext(const std::function<int16_t(const KeptRecord* last, std::string& next)>& make);

 private:
  [[nodiscard]] int16_t Call(uint16_t op, void* data, uint32_t* len, void* key, int8_t keyNum);
  uint8_t position_[128] = {};
  bool open_ = false;
};

// The creation specification of both files.
[[nodiscard]] std::string KeptFileCreationSpecification();

// Field helpers over a whole record's bytes.
[[nodiscard]] std::string KeptText(const std::string& record, RecordField field);
[[nodiscard]] int32_t KeptInt(const std::string& record, RecordField field);
// The XML area, its length taken from lengthField.
[[nodiscard]] std::string KeptXml(const std::string& record, RecordField lengthField, RecordField xmlField);
