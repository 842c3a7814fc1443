// The messages of zepfact, in code page 850, the four languages side by side.
// Texts may hold "{s}" (a text) and "{n}" (a number), each at most once.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

enum class FactMessage {
  Usage,          // text: the commands' lines (commands.h UsageText); --help, and after a usage error
  UnknownCommand, // text: the command given
  BadArgument,    // text: the option or argument
  MissingValue,   // text: the option without its value
  MissingFile,    // an export without its output file
  BadDate,        // text: the date as given
  DatesReversed,  // --from after --to
  NoRegister,     // text: the root looked in, absolute
  CannotOpen,     // text: register path; number: record manager status
  CannotRead,     // text: register path; number: record manager status
  CannotWrite,    // text: the output file
  Count,          // number: invoices listed
  Written,        // text: the file; number: invoices in it
  NothingToExport, // no invoice in the dates: no file written
  ChainSound,     // number: records checked
  ChainBroken,    // text: printed invoice number; number: its sequence
  NotInRegister,  // text: the invoice number asked for
  AmbiguousNumber, // text: the number asked for, found in more than one series
  NoArchive,      // text: the archived spool file (or its page) that cannot be had
  CannotStartPrint, // text: the print program's path
  UnidentifiedRecipient, // text: printed invoice number
  BadRequirement, // text: the request reference as given
  BadOutput,      // text: reprint's --output as given
  TotalsWritten,  // text: the totals file; number: invoices summed in it
  ColumnNumber,   // the list's column titles, in the order of its columns
  ColumnDate,
  ColumnTaxId,
  ColumnName,
  ColumnTotal,
  // Output targets that are not files.
  NotAFile,         // text: the output that is a folder, pipe, device or link to none
  SeveralToOutput,  // number: the documents an export to "-" would make
  // The sending mode (send, resend): settings, what the agency answered, why records stay pending. {s}/{n} as each text shows.
  SendNotOn,
  SendAnswered,
  SendAccepted,
  SendWithErrors,
  SendRejectedCount,
  SendDuplicates,
  SendIncident,
  RecordRejected,
  RecordWithErrors,
  SendWaiting,
  SendBackOff,
  Unsendable,
  SendUnreachable,
  SendServerFault,
  SendClientFault,
  SendBadAnswer,
  SendServerCertificate,
  SendClientCertificate,
  SendAnotherRuns,
  SendNothingLeft,
  SendStanding,
  SendCannotWrite,
  ResendNotNeeded,
  ResendPending,
  ResendAppended,
  ResendRefused,
  // The list's line under each invoice in the sending mode ({s}: a state
  // below, then ", CSV ..." or the error).
  ListSending,
  StatePending,
  StateAccepted,
  StateWithErrors,
  StateRejected,
  StateDuplicate,
  ColumnState,
  StateIssued,
  StateCancelled,
  StateCorrected,        // text: the last corrective invoice's number
  BadAmount,             // text: the amount as given
  BadCause,              // text: the cause as given
  BadDescribedCause,     // --cause TEXT: longer than the record takes, or not printable
  BadForm,               // text: the form as given
  Cancelled,             // text: the invoice's number; number: receipts given back
  CorrectiveRegistered,  // text: the corrective's number
  // verify: the register's tail and every stored byte
  RegisterMissing,  // text: the register's path (lost: an anchor or archived runs say one was)
  RegisterShorter,  // text: the register's path; number: the anchored sequence it no longer reaches
  RegisterDiffers,  // text: the anchor's path; number: the anchored sequence
  AnchorDamaged,    // text: the anchor's path
  FileUnreadable,   // text: a file other than the register; number: the status
  SideFileDamaged,  // text: a receipts file or journal beside the register that does not read as one
  RecordUnreadable, // text: the file; number: the record's position in the chain (from 1)
  FileDamaged,      // text: the file; number: the damage found (the lines that follow say what)
  UnreadRecords,    // text: the sequences of the signed records that could not be read
  UnreadEvents,     // text: the sequences of the events that could not be read
  // The not-sending mode.
  Anomaly,        // text: what was found; number: the record's or event's sequence
  KeepingSound,   // number: records and events checked
  EventsWritten,  // text: the folder; number: events in it
  NotLogged,      // text: why the check could not be logged (the key's trouble)
  EventCount,     // number: events listed
  RestoredNoted,  // number: the register's last record, now the one the log names
  ResendNotKept,   // resend in the not-sending mode: nothing was sent, so nothing is resent
  RenounceNotSending,  // renounce out of the sending mode
  RenounceWaits,       // text: FechaFinVeriFactu; the renunciation goes with the next message
  RenounceSent,        // text: FechaFinVeriFactu and when the agency answered the message that carried it
  // cancel and correct, and the certificate's problems, are worded by the
  // issuing layer (issuing/words.h), as the module's register screen words them.
};

// The message in language with {s} replaced by text and {n} by number.
[[nodiscard]] std::string FactText(FactMessage message, Language language, const std::string& text = "",
                                   int64_t number = 0);
