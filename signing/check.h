// The not-sending mode's checks: signing a run's records as the register
// writes them, and checking the register, its signed records and the event
// log on demand. Checks read only; what they find is for the caller to
// report and to log.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "register/anchor.h"
#include "register/record.h"
#include "signing/events.h"
#include "signing/kept.h"
#include "signing/xades.h"

// Signs the XML each written entry carries (its signature time the entry's
// generation time, its id the fingerprint) and keeps the signed records in
// signedFile, in one transaction. For InvoiceRegister::Append's
// beforeCommit. 0, the record manager's status, or EventNotSigned (errorOut
// says why).
[[nodiscard]] int16_t SignAndKeep(const std::vector<RegisterEntry>& written, const SigningKey& key,
                                  KeptFile& signedFile, std::string& errorOut);

// The signed XML kept for an entry, when its fingerprint matches; empty
// otherwise.
[[nodiscard]] std::string SignedXmlOf(const KeptRecord& record, const RegisterEntry& entry);

// One anomaly a check found.
struct Finding {
  bool onEvents = false;       // an event's, else an invoice record's
  AnomalyType type = AnomalyType::ChainOther;
  int32_t sequence = 0;        // the record's or event's sequence
  RegisterEntry record;        // onEvents false: the record concerned
  EventEntry event;            // onEvents true: the event concerned
  std::string detail;          // a short text for the log (code page 850, plain ASCII)
};

struct CheckReport {
  int64_t records = 0;  // invoice records checked
  int64_t events = 0;   // events checked
  std::vector<Finding> findings;  // in the order found, records first
};

// The data a check reads, all of it loaded by the caller.
struct CheckInput {
  std::vector<RegisterEntry> chain;              // the register in chain order
  std::map<int32_t, KeptRecord> signedRecords;   // by sequence
  std::vector<EventEntry> events;                // the log in order
  EventIdentity identity;
  int64_t now = 0;                               // seconds since 1970, UTC
  // The log's tail anchor (EventAnchorFileName), when there is one: the
  // log must reach it, with the same event there.
  bool anchored = false;
  RegisterAnchor eventAnchor;
};

// Whether the record of this sequence was made while the mode was on, and
// so must be signed: after a start (01) of the mode and up to its end (02),
// by the register's last record each of those events names.
[[nodiscard]] bool MustBeSigned(const std::vector<EventEntry>& events, int32_t sequence);

// What the check of one record found, item by item, for a caller that shows
// each (the register screen's detail) rather than a list of anomalies.
struct RecordCheck {
  int32_t expectedSequence = 1;    // the previous record's sequence plus one (1 for the first)
  bool sequenceFollows = true;     // its sequence is expectedSequence
  bool linksToPrevious = true;     // its previous fingerprint is the previous record's (empty for the first)
  bool fingerprintMatches = true;  // its fingerprint is the one its data give
  bool sealMatches = true;         // its seal is the one its bytes and the previous seal give
  bool timeInOrder = true;         // made not before the previous record
  bool timeNotFuture = true;       // made not after now plus a minute
  // Whether it was made while the mode was on (MustBeSigned); the rest
  // only says something then.
  bool mustBeSigned = false;
  bool signatureKept = false;      // the signed file holds a record with its sequence and fingerprint
  SignatureStatus signature = SignatureStatus::Missing;  // signatureKept: the signature's check
  bool signedIsRecord = false;     // a valid signature signs the register's record as made

  [[nodiscard]] bool SignatureSound() const {
    return !mustBeSigned || (signatureKept && signature == SignatureStatus::Valid && signedIsRecord);
  }
};

// Checks one record against the record before it in the chain (nullptr
// for the first): its chain, fingerprint, seal and time order, and, when
// events say it must be signed, its signature as kept (kept: the signed
// file's record of its sequence, nullptr when there is none; verifier
// nullptr: signatures are not checked, mustBeSigned stays false). Reads
// nothing else: a screen may call it at every key press.
[[nodiscard]] RecordCheck CheckOneRecord(const RegisterEntry& entry, const RegisterEntry* previous,
                                         const KeptRecord* kept, const std::vector<EventEntry>& events, int64_t now,
                                         const SignatureVerifier* verifier);

// Checks every record (fingerprint, seal, chain, time order, signature and
// that the signed record is the register's) and every event (fingerprint,
// chain, time order, signature, its fields as signed), then the register's
// tail against the last event's.
[[nodiscard]] CheckReport CheckEverything(const CheckInput& input, const SignatureVerifier& verifier);

// The same for the record at index of input.chain alone (its link to the
// one before it included).
[[nodiscard]] CheckReport CheckRecord(const CheckInput& input, size_t index, const SignatureVerifier& verifier);

// Whether an anomaly stands: the log's events after its last check (03) or
// restoration (07) include an anomaly (04 or 06).
[[nodiscard]] bool AnomalyStands(const std::vector<EventEntry>& events);
