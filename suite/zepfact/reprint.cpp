// zepfact's reprints, each marked as a copy:
//
// reprint NUMBER [--output FILE] takes the invoice's page out of the spool
// file archived by its run (<root>ARXIU\<archive>, with the codes of
// <archive>.qr), writes it as zepprint.tmp (and zepprint.qr and
// zepprint.fig from <archive>.qr and .fig, the page as page 1) in a new
// folder under TMPDIR (else /tmp), and runs ZEPPRINT from ZEPEXE (else the
// folder of zepfact itself) with ZEPTMP naming that folder, ZEPROOT the
// root and ZEPPAPER the stationery the module uses
// (IMPRES\FACTHON_<language>.svg, else IMPRES\FACTHON.svg). The page goes
// where its DEVICE line says, which is never the archived run's: --output
// FILE (.pdf or .txt), else the session's output device
// (<ZEPTMP>TarnTerm.ini [Sistema] Sortida) when it names a file or a
// printer, else <SERIES>-<NUMBER>.pdf in the current folder. The folder is
// removed afterwards; the exit code is the print program's. The page
// carries the copy mark in the session's language (DUPLICAT, DUPLICADO,
// DUPLICATA) across it.
//
// reprint --run ARCHIVE [--output FILE] prints a whole run again the same
// way from its archived spool file ARCHIVE (its name in ARXIU, as the
// register's records of the run hold it, ".zsp" optional), every page with
// its code: for a run whose printing failed after its invoices were
// registered. Its output defaults to <ARCHIVE>.pdf in the current folder.
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/files.h"
#include "base/paths.h"
#include "printing/pages.h"
#include "suite/zepfact/program.h"

int Program::Reprint() {
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  if (!options_.run.empty()) return ReprintRun(chain);
  const RegisterEntry* entry = FindInvoice(chain);
  if (entry == nullptr) return kExitTrouble;
  PrintablePage copy;
  const IssuingProblem problem = CopyOf(root_, *entry, language_, copy);
  if (!problem.None()) {
    Told(problem);
    return kExitTrouble;
  }
  return Print(copy, Device(*entry));
}

// Prints a whole registered run again from its archived spool file, every
// page with its code, as the run printed it (a run whose printing failed
// after its invoices were registered).
int Program::ReprintRun(const std::vector<RegisterEntry>& chain) {
  std::string name = options_.run;
  if (name.size() < 4 || name.compare(name.size() - 4, 4, ".zsp") != 0) name += ".zsp";
  const RegisterEntry* first = nullptr;
  for (const RegisterEntry& e : chain) {
    if (e.archive == name && (first == nullptr || e.page < first->page)) first = &e;
  }
  if (first == nullptr) {
    Error(FactMessage::NotInRegister, Cp858ForDisplay(name));
    return kExitTrouble;
  }
  const std::string archive = HostPath(root_ + "ARXIU\\") + name;
  std::string spool;
  if (ReadRegularFile(archive, spool, 256u << 20) != ReadResult::Ok) {
    Error(FactMessage::NoArchive, Cp858ForDisplay(archive));
    return kExitTrouble;
  }
  PrintablePage run{spool, {}, {}};
  static_cast<void>(ReadRegularFile(archive.substr(0, archive.size() - 4) + ".qr", run.codes, 1u << 20));
  static_cast<void>(ReadRegularFile(archive.substr(0, archive.size() - 4) + ".fig", run.figures, 64u << 20));
  return Print(run, Device(*first, name));
}
