#include "invoicing/print_program.h"

#include "base/text.h"
#include "invoicing/print_window.h"
#include "printing/spool.h"
#include "session/session.h"

std::string RunStationeryHostPath() {
  return InvoiceStationeryHostPath(Session.RootDir, TrimRight(Session.Language));
}

ChildEnd StartPrintProgram() { return RunPrintProgramInWindow(RunStationeryHostPath()); }
