// zepfact's side of the not-sending mode ([VeriFactu] Mode=conserva): the
// checks of records, signatures and events with their entries in the event
// log, the signed records in exports, and the event log's list and export.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "register/record.h"
#include "signing/xades.h"

// Whether the root's settings choose the not-sending mode.
[[nodiscard]] bool KeepingModeOn(const std::string& root);

// Checks chain (all of it, or the record at onlyIndex with its link) with
// the signed records and the event log; says the first anomaly found, or
// that all is sound; logs the check and each anomaly (event types 03-06)
// when the issuer's key can sign, else says why not. Reads the register
// only. 0 when sound, 1 otherwise.
[[nodiscard]] int VerifyKept(const std::string& root, const std::vector<RegisterEntry>& chain, int64_t onlyIndex,
                             Language language);

// Logs the export of records (08): the first and last exported and their
// times, the issue records' count and sums, the cancellations' count;
// chain is the whole register, for the tail the event names. Says on
// stderr when it cannot be logged.
void LogRecordsExported(const std::string& root, const std::vector<RegisterEntry>& exported,
                        const std::vector<RegisterEntry>& chain, Language language);

// Puts each entry's signed XML, as kept, in place of its unsigned one.
void UseSignedXml(const std::string& root, std::vector<RegisterEntry>& chain);

// zepfact events list: one line per event (sequence, type, time, the
// register's last record then, fingerprint). events export FOLDER: a new
// folder with one file per event, NNNNNN.xml, the signed RegistroEvento as
// kept (each a document of EventosSIF.xsd), and the export logged (09).
// events restored: the user confirms the register was restored from a
// copy (07): its last record is then the tail the log names.
[[nodiscard]] int EventsCommand(const std::string& root, const std::vector<RegisterEntry>& chain, const std::string& what,
                                const std::string& folder, Language language);
