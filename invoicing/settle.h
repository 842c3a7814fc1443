// Settling the receipts a registered run billed: their state goes from P
// (paid, not yet billed) to L (settled), so that no later run bills them
// again, through the journal register/journal.h describes (kSettling), with
// a hook after each step for the tests that stop a process there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/journal.h"
#include "register/register.h"

// The steps, for tests that stop a process after each one.
enum class SettleStep { JournalWritten, Registered, ReceiptsSettled };
using SettleStepHook = std::function<void(SettleStep step)>;
void SetSettleStepHook(SettleStepHook hook);

// The journal of one run, held (locked) from Write to Remove or to the
// end of the process.
class SettleJournal {
 public:
  // Writes the journal of the run archived as archive (the register's
  // Archive field) into folderHostPath (ending in "/"). 0, or an errno.
  [[nodiscard]] int Write(const std::string& folderHostPath, const std::string& archive,
                          const std::vector<int32_t>& receipts);
  // The run's records are in the register (step 2 done).
  void Registered();
  // Step 3 for the journal's receipts, then step 4. On a failure the
  // journal stays, no longer held, for RecoverSettlements.
  [[nodiscard]] int16_t Settle(const std::string& collectionHostPath, int32_t& settledOut);
  // Removes the journal: its run was not registered.
  void Remove() { journal_.Remove(); }

 private:
  ReceiptJournal journal_{kSettling};
};

// Ends every journal of folderHostPath that no living process holds:
// completes step 3 for a run the register holds (reg, open) and drops the
// others; then the cancellations' journals. 0, or the status of the first
// that failed (that journal is kept for the next start).
[[nodiscard]] int16_t RecoverSettlements(const std::string& folderHostPath, const std::string& collectionHostPath,
                                         InvoiceRegister& reg, std::string* damagedOut = nullptr);

// Runs of one data folder exclude each other from counting the receipts
// to the end of settling them: each holds the lock of the folder's file
// Factura.lck (folderHostPath ending in "/") meanwhile. A second run does
// not wait for a user who may be answering a question: it is refused.
class BillingLock {
 public:
  BillingLock() = default;
  ~BillingLock() { Release(); }
  BillingLock(const BillingLock&) = delete;
  BillingLock& operator=(const BillingLock&) = delete;
  // 0; EWOULDBLOCK while another run holds it; or the errno of the open
  // (ELOOP/ENXIO/EISDIR-like for something other than a regular file).
  [[nodiscard]] int Take(const std::string& folderHostPath);
  void Release();

 private:
  int fd_ = -1;
};
