// The print program's messages, in code page 850, in the session's language.
#pragma once

#include <string>
#include <vector>

#include "base/language.h"
#include "suite/zepprint/spool_reader.h"

enum class PrintMessage {
  WrittenTo,        // pages into a file: count, path
  WrittenToOne,     //   the same for one page
  SentTo,           // pages to a printer: count, printer
  SentToOne,        //   the same for one page
  CannotRead,       // the spool file: path
  CannotWrite,      // an output file: path
  CannotSend,       // a printer: name
  UnknownDevice,    // a device text that is not understood: text
  NoDevice,         // the spool file has no DEVICE line
  Skipped,          // lines not understood: count
  SkippedOne,       //   the same for one line
  Cut,              // items cut at the right edge: count
  CutOne,           //   the same for one item
  PaperUnreadable,  // the stationery file cannot be read: path
  PaperTooLarge,    // the stationery file is too large: path
  PaperNotSvg,      // the stationery file cannot be drawn: path
  PaperQrTooSmall,  // the stationery's QR area is too small: path
  TextWithoutCode,  // a text output of pages with tax codes: count
  TextWithoutCodeOne,  // the same for one
  IbanRefused,      // Tarn.ini [Emissor] IBAN fails its check digits
  Usage,            // what the program does and reads (--help, or with a bad argument)
  UnknownArgument,  // an argument the program does not take: the argument
  PaperTooSlow,     // the stationery took too long to draw: path, seconds allowed
};

// The message with {n} replaced by number and {s} by text (code page 850).
// For a number of exactly 1 the singular row of a counted message is used.
[[nodiscard]] std::string MessageText(Language language, PrintMessage message, long number,
                                      const std::string& text);

// The one closing line: where the output went and what could not be used.
// notes are texts of the messages UnknownDevice, NoDevice and Paper...,
// shown first, in their order.
[[nodiscard]] std::string SummaryLine(Language language, bool toPrinter, const std::string& target,
                                      const SpoolTotals& totals, const std::vector<std::string>& notes);
