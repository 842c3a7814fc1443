// The print program as the module's screens start it: on the session's
// spool file, with the stationery of the session's root and language, in
// the window that shows its progress. The fee-invoice run and the register
// screen both print this way; neither needs the other for it.
#pragma once

#include <functional>
#include <string>

#include "base/child.h"

// The stationery the print program draws under the pages (ZEPPAPER) for the
// session's root and language (InvoiceStationeryHostPath).
[[nodiscard]] std::string RunStationeryHostPath();

// Starts the print program on the spool file just closed and waits for it
// (RunPrintProgramInWindow with RunStationeryHostPath): how it ended.
[[nodiscard]] ChildEnd StartPrintProgram();

// What a screen calls to start the print program and wait for it; tests
// give one that records the spool instead.
using PrintProgramStarter = std::function<ChildEnd()>;
