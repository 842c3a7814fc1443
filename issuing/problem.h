// Why a record cannot be made now, for every program that makes one (the
// module's register screen, zepfact's cancel and correct): the issuing
// layer says what, each program says it in its language through
// issuing/words.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "agency/certificate.h"
#include "register/software.h"

enum class Refusal {
  None,
  // The settings.
  IssuerNif,          // detail: [Emissor] NIF as written
  IssuerName,         // [Emissor] Nom missing
  IssuerNameTooLong,  // [Emissor] Nom longer than the agency takes
  Software,           // software says what; detail: the file or its key
  Installation,       // detail: the installation file, number: the errno
  ModeUnknown,        // detail: [VeriFactu] Mode as written
  ModeNotSet,         // [Registre] Actiu=S without [VeriFactu] Mode
  SendingModeKept,    // Mode is not envia in a year the root must keep it; detail: the first day it may (d/m/yyyy), number: 1 when renounced
  Certificate,        // certificate says what; detail: the file or the date
  ModeEndUnsigned,    // the not-sending mode was left and its end cannot be signed; certificate says why
  KeptFiles,          // the signed records or the event log cannot be read; number: status
  TailCut,            // the register is shorter or other than the log says; number: the log's tail
  CorrectiveSeries,   // detail: [Registre] SerieRectificativa
  // The invoice.
  NotInRegister,         // detail: its number as printed
  Cancelled,             // detail: the number
  Corrected,             // cancelling an invoice a corrective names; detail: the number
  NothingChanges,        // detail: the number
  AmountOutOfRange,      // detail: the amount
  RecipientNotSignable,  // detail: the number
  RecipientNotForType,   // the agency takes no such recipient in that corrective; detail: the number and the type
  NoArchive,             // detail: the archived copy that cannot be read
  CannotArchive,         // detail: the file that cannot be written
  // The register.
  Locked,             // another process holds it
  CannotRead,         // detail: the register's file, number: status
  DateBeforeLast,     // detail: the series, date: the first date allowed (YYYYMMDD)
  ChangedMeanwhile,   // detail: the number
  LastRecordWrong,    // detail: the number of the chain's last record
  NotSigned,          // detail: the signing library's text
  NotWritten,         // number: status
  ReceiptsNotGivenBack,  // the cancellation is registered, its receipts not given back; number: status
  SideFileDamaged,    // a receipts file or journal that cannot be read; detail: the file
  BadCause,           // a correction's described cause the record or the page cannot take
  // After the record.
  SenderNotStarted,   // the record waits to be sent; detail: the sender, number: the errno (-1: it ended badly)
};

struct IssuingProblem {
  Refusal what = Refusal::None;
  std::string detail;  // code page 850
  std::string date;
  int64_t number = 0;
  SoftwareProblem software = SoftwareProblem::None;
  CertificateProblem certificate = CertificateProblem::None;
  std::string settingsFile;  // host path of Tarn.ini, for settings not set

  [[nodiscard]] bool None() const { return what == Refusal::None; }
};

// The problem what, with its detail and number.
[[nodiscard]] inline IssuingProblem Refused(Refusal what, std::string detail = {}, int64_t number = 0) {
  IssuingProblem p;
  p.what = what;
  p.detail = std::move(detail);
  p.number = number;
  return p;
}
