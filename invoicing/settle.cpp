#include "invoicing/settle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

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
  const int fd = ::open((folderHostPath + "Factura.lck").c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return EINVAL;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  fd_ = fd;
  return 0;
}

void BillingLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
