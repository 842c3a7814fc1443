#include "invoicing/settle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "base/durable.h"
#include "base/files.h"
#include "register/amend.h"
#include "recman/recman.h"

namespace {

constexpr const char* kJournalPrefix = "Liquida-";
constexpr const char* kJournalSuffix = ".jnl";
constexpr const char* kJournalHead = "KORVADEL LIQUIDACIO 1";

SettleStepHook& StepHook() {
  static SettleStepHook hook;
  return hook;
}

void Reached(SettleStep step) {
  if (StepHook()) StepHook()(step);
}

// The journal's text: its head line, the archive, a position a line.
std::string JournalText(const std::string& archive, const std::vector<int32_t>& receipts) {
  std::string text = std::string(kJournalHead) + "\n" + archive + "\n";
  for (int32_t position : receipts) text += std::to_string(position) + "\n";
  return text;
}

// The archive and positions of a journal's text; false when it is not one.
bool ParseJournal(const std::string& text, std::string& archive, std::vector<int32_t>& receipts) {
  size_t at = 0;
  auto line = [&](std::string& out) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    out = text.substr(at, end - at);
    at = end + 1;
    return true;
  };
  std::string head;
  if (!line(head) || head != kJournalHead || !line(archive) || archive.empty()) return false;
  for (std::string position; at < text.size();) {
    if (!line(position) || position.empty() || position.size() > 10 ||
        position.find_first_not_of("0123456789") != std::string::npos)
      return false;
    const long long value = std::atoll(position.c_str());
    if (value < 1 || value > INT32_MAX) return false;
    receipts.push_back(static_cast<int32_t>(value));
  }
  return true;
}

}  // namespace

void SetSettleStepHook(SettleStepHook hook) { StepHook() = std::move(hook); }

SettleJournal::~SettleJournal() {
  if (fd_ >= 0) ::close(fd_);
}

int SettleJournal::Write(const std::string& folderHostPath, const std::string& archive,
                         const std::vector<int32_t>& receipts) {
  path_ = folderHostPath + kJournalPrefix + archive + kJournalSuffix;
  receipts_ = receipts;
  const std::string temporary = path_ + "." + std::to_string(::getpid()) + ".tmp";
  // Locked before it has its name, so that no start takes it for the
  // journal of a stopped run while this process lives.
  fd_ = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd_ < 0) return errno;
  const std::string text = JournalText(archive, receipts);
  int error = ::flock(fd_, LOCK_EX) == 0 ? WriteAll(fd_, text) : errno;
  if (error == 0) error = PlaceMadeFile(temporary, path_, Placement::NeverOverwrite);
  else ::unlink(temporary.c_str());
  if (error != 0) {
    ::close(fd_);
    fd_ = -1;
    return error;
  }
  Reached(SettleStep::JournalWritten);
  return 0;
}

void SettleJournal::Registered() { Reached(SettleStep::Registered); }

int16_t SettleJournal::Settle(const std::string& collectionHostPath, int32_t& settledOut) {
  const int16_t status = SettleReceipts(collectionHostPath, receipts_, settledOut);
  if (status != RmSuccess) {
    Release();
    return status;
  }
  Reached(SettleStep::ReceiptsSettled);
  Remove();
  return RmSuccess;
}

void SettleJournal::Remove() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  const int folder = ::open(path_.substr(0, path_.find_last_of('/') + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    static_cast<void>(::fsync(folder));
    ::close(folder);
  }
  Release();
}

void SettleJournal::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int16_t SettleReceipts(const std::string& hostPath, const std::vector<int32_t>& positions, int32_t& settledOut) {
  return SetReceiptsState(hostPath, positions, 'P', 'L', settledOut);
}

int16_t RecoverSettlements(const std::string& folderHostPath, const std::string& collectionHostPath,
                           InvoiceRegister& reg) {
  int16_t result = RmSuccess;
  for (const std::string& path : JournalsIn(folderHostPath, kJournalPrefix)) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    // A journal whose writer lives is that process's business.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    std::string text;
    std::string archive;
    std::vector<int32_t> receipts;
    int16_t status = RmIoError;
    if (ReadRegularFile(path, text, 64u << 20) == ReadResult::Ok && ParseJournal(text, archive, receipts)) {
      std::vector<RegisterEntry> entries;
      status = reg.ReadAll(entries);
      bool registered = false;
      for (const RegisterEntry& e : entries) registered = registered || e.archive == archive;
      int32_t settled = 0;
      if (status == RmSuccess && registered) status = SettleReceipts(collectionHostPath, receipts, settled);
    }
    if (status == RmSuccess) ::unlink(path.c_str());
    else if (result == RmSuccess) result = status;
    ::close(fd);
  }
  // A cancellation stopped part-way gives its receipts back the same way.
  const int16_t givenBack = RecoverGiveBacks({folderHostPath, collectionHostPath, std::string()}, reg);
  return result != RmSuccess ? result : givenBack;
}
