// The print program's input for one page printed outside a run (a copy, a
// corrective invoice, a reprint), written in one place for the module's
// register screen and zepfact.
#pragma once

#include <string>

#include "issuing/actions.h"

// Writes into folder (a host path ending in "/") the page as zepprint.tmp,
// its DEVICE line replaced by device, its code line as zepprint.qr and its
// figures as zepprint.fig. A side file with nothing to say is removed, so
// that an earlier print's (a run's, in the session's folder) never shows on
// this page; so is the print program's last result (zepprint.out). 0, or
// the errno of the write that failed, with failedOut naming its file.
[[nodiscard]] int WritePrintJob(const std::string& folder, const PrintablePage& page, const std::string& device,
                                std::string& failedOut);
