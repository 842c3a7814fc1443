// The messages of zepfact, in code page 850, the four languages side by side.
// Texts may hold "{s}" (a text) and "{n}" (a number), each at most once.
#pragma once

#include <cstdint>
#include <string>

#include "base/language.h"

enum class FactMessage {
  Usage,          // the commands and their options (--help, and after a usage error)
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
  BadIssuerTaxId, // text: the NIF as written in Tarn.ini
  Count,          // number: invoices listed
  Written,        // text: the file; number: invoices in it
  NothingToExport, // no invoice in the dates: no file written
  ChainSound,     // number: records checked
  ChainBroken,    // text: printed invoice number; number: its sequence
  NotInRegister,  // text: the invoice number asked for
  AmbiguousNumber, // text: the number asked for, found in more than one series
  NoArchive,      // text: the archived spool file (or its page) that cannot be had
  CannotStartPrint, // text: the print program's path
  // Productor.ini refused; text: the file, or the file and its key as
  // "Productor.ini [Sistema] Id" (a missing value says MissingValue).
  SoftwareFileMissing,
  SoftwareFieldTooLong,
  SoftwareBadNif,
  SoftwareBadId,
  SoftwareBadChoice,
  SoftwareBadDate,
  NoInstallationNumber,  // text: the file; number: errno
  UnidentifiedRecipient, // text: printed invoice number
  BadRequirement, // text: the request reference as given
  BadOutput,      // text: reprint's --output as given
  TotalsWritten,  // text: the totals file; number: invoices summed in it
  ColumnNumber,   // the list's column titles, in the order of its columns
  ColumnDate,
  ColumnTaxId,
  ColumnName,
  ColumnTotal,
  // The not-sending mode.
  Anomaly,        // text: what was found; number: the record's or event's sequence
  KeepingSound,   // number: records and events checked
  EventsWritten,  // text: the folder; number: events in it
  NotLogged,      // text: why the check could not be logged (the key's trouble)
  EventCount,     // number: events listed
  RestoredNoted,  // number: the register's last record, now the one the log names
};

// The message in language with {s} replaced by text and {n} by number.
[[nodiscard]] std::string FactText(FactMessage message, Language language, const std::string& text = "",
                                   int64_t number = 0);
