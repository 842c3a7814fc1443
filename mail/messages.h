// The texts of invoices by e-mail, in code page 850, the four languages
// side by side: the message an owner receives and the report of a sending.
// "{s}" a text and "{n}" a number, each at most once.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

enum class MailText {
  SubjectOne,      // s: the invoice number
  SubjectMany,     // s: the invoice numbers
  BodyOne,         // the line before the invoice's line
  BodyMany,        // n: invoices
  BodyTotal,       // s: the total of the invoices
  BodyClosing,     // the line before the issuer's name
  StateSent,       // states of an invoice and address in reports
  StateTemporary,
  StatePermanent,
  StateNoAddress,
  StateBadAddress,
  StateAlreadySent,
  StateUncertain,
  StateRefusedBefore,
  StateNoPdf,
  StateWouldSend,
  StateUnsent,
  StateTrying,
  ProblemNoServer,        // settings: [Correu] Servidor=
  ProblemBadPort,
  ProblemBadSender,
  ProblemPasswordMissing, // s: the file
  ProblemPasswordNotOneLine, // s: the file
  ProblemPasswordExposed, // s: the file
  ProblemLogBusy,         // another sending holds the log
  ProblemLogUnwritable,   // s: the log; n: errno
  ProblemLogDamaged,      // s: the log; n: its first line that does not read
  ProblemAddressFile,     // s: the address file; n: record manager status
  SummarySent,            // n: invoices
  SummaryFailed,          // n: invoices
  SummaryNoAddress,       // n: invoices
  NothingToSend,          // the selection takes no invoice
  SummaryUnsent,          // n: invoices not sent yet (--status)
  StateCancelled,         // a cancelled invoice, never sent (--status)
  // Settings that cannot work with the server (s: the server): the
  // sending stops, the setting to change is named.
  ProblemNoStartTls,      // n: the port
  ProblemLoginRefused,
  ProblemUntrusted,
};

[[nodiscard]] std::string MailTextOf(MailText id, Language language, const std::string& text = "", int64_t number = 0);
