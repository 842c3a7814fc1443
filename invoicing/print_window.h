// The window the run shows while the print program works: what it is
// doing, the pages it has done so far, and Esc to stop it.
#pragma once

#include <string>

#include "base/child.h"

// Runs the print program (RunPrintProgramWatched) on the spool file just
// closed, with paperHostPath as its stationery, while a window near the
// middle of the screen says the invoices are being printed, with the count
// of pages done as the program reports them. Esc stops the program (the
// end then has stopped set); other keys are dropped. The window is closed
// again before returning, whatever the end.
[[nodiscard]] ChildEnd RunPrintProgramInWindow(const std::string& paperHostPath);
