// What the files of the fee-invoice run share (run_form, run_numbering,
// run_register, run_print and run.cpp): the run's texts and messages in the
// session language, the spool file's folder, the register of the run and
// what the user is told when it cannot be used. Only the run's own files
// include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "invoicing/messages.h"
#include "register/register.h"

// The row the run's message windows stand on.
inline constexpr int kRunMessageRow = 12;

// The run's text |id| in the session language.
[[nodiscard]] std::string RunText(RunMessage id);

// Shows message in a window and waits for a key.
void TellUser(const std::string& message);

// The host directory of the spool file, ending in "/": where the print
// program's side files (zepprint.qr, zepprint.out, zepprint.fig,
// zepprint.pag) are.
[[nodiscard]] std::string SpoolDirectory();

// YYYYMMDD as the form shows dates, DD/MM/YYYY.
[[nodiscard]] std::string ShownDate(const std::string& yyyymmdd);

// The series of tax class c (0 or 1) as the register keeps it.
[[nodiscard]] std::string ClassSeries(size_t c);

// The suite's data folder and the collection file, as host paths.
[[nodiscard]] std::string DataFolder();
[[nodiscard]] std::string CollectionHostPath();

// The register for the whole run, opened at its first use.
class RunRegister {
 public:
  // 0, or the record manager's status of the open (or of its tail's check).
  [[nodiscard]] int16_t Ready();
  // A read of the register failed: registered runs stop for the rest of
  // the module's run.
  void Stop(int16_t status) { status_ = status; }
  InvoiceRegister& Get() { return register_; }

 private:
  InvoiceRegister register_;
  int16_t status_ = -1;
};

// What the user is told when the register cannot be used (status of its
// open, its tail's check, a read or an append).
[[nodiscard]] std::string RegisterProblemText(RunRegister& reg, int16_t status);
