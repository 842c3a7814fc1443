// Settling the receipts a registered run billed: their state goes from P
// (paid, not yet billed) to L (settled), so that no later run bills them
// again. The register and the collection file are two files that cannot
// share one transaction, so the step goes through a journal:
//
//   1. the journal is written, whole and flushed, beside the register
//      (DADES\Liquida-<archive>.jnl): the run's archive name and the
//      position of every receipt the run counted;
//   2. the run's records are appended to the register (one transaction);
//   3. the receipts still P are set to L (one transaction of the
//      collection file);
//   4. the journal is removed.
//
// A run stopped anywhere leaves a journal. The next start reads it: when
// the register holds records of its archive, step 3 is done again (it
// changes only receipts still P); when it holds none, nothing had changed.
// Either way the journal goes. The writer holds a lock on its journal while
// it lives, so a start never takes a running process's journal for a
// stopped one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/register.h"

// The steps, for tests that stop a process after each one.
enum class SettleStep { JournalWritten, Registered, ReceiptsSettled };
using SettleStepHook = std::function<void(SettleStep step)>;
void SetSettleStepHook(SettleStepHook hook);

// The journal of one run, held (locked) from Write to Remove or to the
// end of the process.
class SettleJournal {
 public:
  SettleJournal() = default;
  ~SettleJournal();
  SettleJournal(const SettleJournal&) = delete;
  SettleJournal& operator=(const SettleJournal&) = delete;

  // Writes the journal of the run archived as archive (the register's
  // Archive field) into folderHostPath (ending in "/"). 0, or an errno.
  [[nodiscard]] int Write(const std::string& folderHostPath, const std::string& archive,
                          const std::vector<int32_t>& receipts);
  // The run's records are in the register (step 2 done).
  void Registered();
  // Step 3 for the journal's receipts (SettleReceipts), then step 4. On a
  // failure the journal stays, no longer held, for RecoverSettlements.
  [[nodiscard]] int16_t Settle(const std::string& collectionHostPath, int32_t& settledOut);
  // Removes the journal: its run was not registered.
  void Remove();

 private:
  void Release();

  std::string path_;
  std::vector<int32_t> receipts_;
  int fd_ = -1;
};

// Sets the receipts at positions of the collection file at hostPath (the
// ".dat" file) that are still P to L, in one transaction; a receipt in any
// other state is left as it is. settledOut counts those changed. Status 0,
// or the record manager's (nothing changed then).
[[nodiscard]] int16_t SettleReceipts(const std::string& hostPath, const std::vector<int32_t>& positions,
                                     int32_t& settledOut);

// Ends every journal of folderHostPath that no living process holds:
// completes step 3 for a run the register holds (reg, open) and drops the
// others; then the cancellations' journals (RecoverGiveBacks). 0, or the status of the settling that failed (that journal is
// kept for the next start).
[[nodiscard]] int16_t RecoverSettlements(const std::string& folderHostPath, const std::string& collectionHostPath,
                                         InvoiceRegister& reg);
