// The module's start and end around the fee-invoice run: the screen, the
// session and its settings, the form file, the four data files and the tax
// classes, in a fixed order; and the release of all of it.
//
// The program calls StartModule with the terminal, then FeeInvoiceRun, then
// EndModule. A benchmark or test may call StartModule with a memory console
// and ReleaseModule instead of EndModule, as often as it likes.
#pragma once

#include <memory>

#include "console/console.h"

// Installs console as the current console (and owns it until the module is
// released), hides the cursor, connects the record layer's and the screens'
// hooks, reads the session from the environment and the settings files,
// hands the settings down to the lower layers, catches SIGINT, SIGTERM and
// SIGHUP (so that the screen files go with the process), enters the suite's
// root, loads the form file and the parameter form's defaults, opens the four
// data files and reads the tax classes.
// Returns false when the form file could not be read: that has been told to
// the user already and the module is to end. A data file that cannot be
// opened is reported by the record layer, which ends the process itself.
// Precondition: console is not null.
[[nodiscard]] bool StartModule(std::unique_ptr<Console> console);

// Closes every data file, removes the screens' temporary files and gives the
// console back (the terminal restored). The session values and the form
// definitions stay as they are, to be read again by the next StartModule.
// Does nothing harmful when nothing was started.
void ReleaseModule();

// ReleaseModule, then the process ends with exit code 0.
[[noreturn]] void EndModule();
