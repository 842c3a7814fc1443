// The register's side of a registered fee-invoice run: what is left of runs
// stopped part-way is ended when a run starts and before each pass, the
// chain is checked once, and each pass's invoices are archived and added to
// the register, all or nothing, before its pages may be printed.
#pragma once

#include <string>
#include <vector>

#include "invoicing/issued.h"
#include "invoicing/run_shared.h"
#include "session/session.h"
#include "signing/keeping.h"

// Ends what runs stopped part-way left: the archive copies of a run whose
// process no longer runs and that the register does not hold are removed
// (with their side files), and the settling of the receipts such runs
// billed is ended (invoicing/settle.h); the user is told when it cannot be
// ended now.
// A run marks the copies it archives before the register takes them with a
// marker file ".<archive name>-<pid>.pending" in ARXIU, removed once the
// register has them or the copies are gone. Copies without a marker
// (registered, or of another version) are never touched, nor those of a run
// still going. False when a journal of receipts is damaged (the user has
// been told it): no run may count receipts until it is looked into.
bool RecoverStoppedRuns(RunRegister& reg);

// Warns when the register's chain is broken (once per run of the module).
// A register that cannot be opened or read, or that falls short of its
// anchor, is told too, and stops registered runs.
void CheckRegisterChain(RunRegister& reg);

// Archives the closed spool file with the codes of the pass beside it and
// adds the pass's invoices (issued, not empty) to the register, all or
// nothing. True when the pages may be printed: registeredOut then holds the
// register's entries and archiveNameOut the archive copy's name. Otherwise
// the user has been told why, and nothing is left behind (no archive copy,
// no side file, no register record).
// Pre: the spool file and zepprint.fig beside it are closed and complete.
[[nodiscard]] bool RegisterPass(RunRegister& reg, const std::vector<IssuedInvoice>& issued,
                                const RegisterSettings& settings, std::vector<RegisterEntry>& registeredOut,
                                std::string& archiveNameOut, KeepingMode& keeping);
