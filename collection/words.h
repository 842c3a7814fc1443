// The words of collecting the fees by direct debit, in code page 850, the
// four languages side by side. Texts may hold "{s}" (a text) and "{n}" (a
// number), each at most once.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

enum class CollectionText {
  CreditorMissing,  // the setting
  CreditorInvalid,  // the setting and its value
  NoMandateFile,  // the mandates file
  MandateFileUnreadable,  // the file; number: record manager status
  LogUnreadable,  // the collection log
  LogUnwritable,  // the collection log
  DateTooSoon,  // the date asked for
  EarliestDate,  // the earliest date allowed
  BadDebtorName,  // the name
  NothingToCollect,
  Written,  // the file; number: debits in it
  CannotWrite,  // the file
  LeftCancelled,
  LeftNoMandate,
  LeftBadIban,
  LeftBadMandate,  // what is wrong (a Mandate... word)
  MandateReference,
  MandateScheme,
  MandateSignature,
  LeftSignedAfter,
  LeftAlready,
  LeftNothing,
  LeftCorrective,
  PeriodWord,
  StateRemitted,
  StateCollected,
  StateRejected,
  StateReturned,
  ListCollection,  // a state, then its date or reason
  StatusUnreadable,  // the file
  StatusNotXml,  // the file and the parser's message
  StatusForeign,  // the root element found
  StatusEmpty,  // the file
  StatusUnknown,  // the end-to-end id
  StatusMarked,  // number: invoices marked
  AnotherRemittance,  // another process writes a remittance or a bank's report of this root
  LockUnusable,  // the lock file; number: errno
};

// The text in language with {s} replaced by text and {n} by number.
[[nodiscard]] std::string CollectionWords(CollectionText id, Language language, const std::string& text = "",
                                          int64_t number = 0);
