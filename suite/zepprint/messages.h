// The print program's messages, in code page 850, in the session's language
// ("SPA", "GLG", "OCI", anything else Catalan).
#pragma once

#include <string>

#include "suite/zepprint/spool_reader.h"

enum class PrintMessage {
  WrittenTo,        // pages into a file: count, path
  SentTo,           // pages to a printer: count, printer
  CannotRead,       // the spool file: path
  CannotWrite,      // an output file: path
  CannotSend,       // a printer: name
  UnknownDevice,    // a device text that is not understood: text
  NoDevice,         // the spool file has no DEVICE line
  Skipped,          // lines not understood: count
  Cut,              // items cut at the right edge: count
};

// The message with {n} replaced by number and {s} by text.
std::string MessageText(const std::string& language, PrintMessage message, long number,
                        const std::string& text);

// The one closing line: where the output went and what could not be used.
// deviceNote is empty, or the UnknownDevice or NoDevice text.
std::string SummaryLine(const std::string& language, bool toPrinter, const std::string& target,
                        const SpoolTotals& totals, const std::string& deviceNote);
