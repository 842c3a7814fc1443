#include "invoicing/settle.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/files.h"
#include "register/amend.h"
#include "recman/recman.h"

namespace {

SettleStepHook& StepHook() {
  static SettleStepHook hook;
  return hook;
}

void Reached(SettleStep step) {
  if (StepHook()) StepHook()(step);
}

}  // namespace

void SetSettleStepHook(SettleStepHook hook) { StepHook() = std::move(hook); }

int SettleJournal::Write(const std::string& folderHostPath, const std::string& archive,
                         const std::vector<int32_t>& receipts) {
  const int error = journal_.Write(folderHostPath, archive, receipts);
  if (error == 0) Reached(SettleStep::JournalWritten);
  return error;
}

void SettleJournal::Registered() { Reached(SettleStep::Registered); }

int16_t SettleJournal::Settle(const std::string& collectionHostPath, int32_t& settledOut) {
  const int16_t status = journal_.Apply(collectionHostPath, settledOut);
  if (status == RmSuccess) Reached(SettleStep::ReceiptsSettled);
  return status;
}

int16_t SettleReceipts(const std::string& hostPath, const std::vector<int32_t>& positions, int32_t& settledOut) {
  return SetReceiptsState(hostPath, positions, kSettling.from, kSettling.to, settledOut);
}

int16_t RecoverSettlements(const std::string& folderHostPath, const std::string& collectionHostPath,
                           InvoiceRegister& reg, std::string* damagedOut) {
  return RecoverReceiptJournals(folderHostPath, collectionHostPath, reg, damagedOut);
}

int BillingLock::Take(const std::string& folderHostPath) {
  Release();
  return TakeFileLock(folderHostPath + "Factura.lck", 0644, fd_);
}

void BillingLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
