// The collection log: DADES\Remeses.log beside the register, one UTF-8 line
// per invoice and step, only ever added to:
//
//   <time YYYY-MM-DDTHH:MM:SS> TAB <series> TAB <number> TAB <state>
//     TAB <message id> TAB <mandate reference> TAB <sequence FRST|RCUR>
//     TAB <amount, cents> TAB <collection date YYYYMMDD> TAB <reason or "-">
//
// States: "remitted" (the invoice went into the remittance of that message
// id), then what the bank's status report or notification said of it:
// "collected", "rejected" (refused before the debit) or "returned" (given
// back to the debtor after it), each with the bank's reason code. The last
// line of an invoice is its collection state. A remitted or collected
// invoice is never put in a remittance again unless asked for; a rejected
// or returned one may go in the next.
//
// A mandate has had its first collection when its record says so or when
// some invoice's last line under it is remitted or collected: the next
// collection under it is then RCUR, else FRST (a first collection that came
// back leaves the mandate at FRST).
//
// The file is replaced whole through the durable writer (base/durable.h), so
// a remittance's lines are all there or none; a line that does not read
// whole is not read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "register/amend.h"

inline constexpr const char* CollectionLogFileName = "DADES\\Remeses.log";

enum class CollectionState { None, Remitted, Collected, Rejected, Returned };

// "remitted", "collected", "rejected", "returned" ("" for None).
[[nodiscard]] const char* CollectionStateName(CollectionState state);

struct CollectionLine {
  std::string time;
  std::string series;
  int32_t number = 0;
  CollectionState state = CollectionState::None;
  std::string messageId;
  std::string mandate;
  std::string sequence;   // "FRST" or "RCUR"
  int64_t amount = 0;     // cents
  std::string collectionDate;
  std::string reason;     // the bank's code, "-" for none
};

[[nodiscard]] std::vector<CollectionLine> ParseCollectionLog(const std::string& text);
[[nodiscard]] std::string CollectionLogLine(const CollectionLine& line);

// The last line of each invoice.
[[nodiscard]] std::map<InvoiceKey, CollectionLine> LastCollectionStates(const std::vector<CollectionLine>& lines);

// Whether the state keeps an invoice out of a remittance not asked --again.
[[nodiscard]] inline bool HoldsInvoice(CollectionState state) {
  return state == CollectionState::Remitted || state == CollectionState::Collected;
}

// The mandate references that have had a first collection by the log.
[[nodiscard]] std::map<std::string, bool> MandatesCollected(const std::map<InvoiceKey, CollectionLine>& last);

// Reads the log at hostPath (no file: no lines). False when it exists but
// cannot be read.
[[nodiscard]] bool ReadCollectionLog(const std::string& hostPath, std::vector<CollectionLine>& linesOut,
                                     std::string& textOut);
