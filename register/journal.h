// Receipt states that must change with the register: settling the receipts
// a registered run billed (P, paid, to L, settled, after the run's records)
// and giving back those of a cancelled invoice (L to P, after the
// cancellation's record). The register and the collection file cannot share
// one transaction, so each change goes through a journal beside the
// register (DADES\<prefix><archive>.jnl):
//
//   1. the journal is written whole and flushed: its head line, the
//      archive the records name, a receipt's position a line, sealed
//      (register/amend.h, SealedText; earlier versions' are unsealed);
//   2. the records are appended to the register (one transaction);
//   3. the receipts still in the first state get the second (one
//      transaction of the collection file);
//   4. the journal is removed.
//
// A process stopped anywhere leaves the journal. The next start reads it:
// when the register holds the records of its archive, step 3 is done again
// (it changes only receipts still in the first state); when it holds none,
// nothing had changed. Either way the journal goes. The writer holds a lock
// on its journal while it lives, so a start never takes a living process's
// journal for a stopped one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "register/register.h"

struct ReceiptMove {
  const char* prefix;  // of the journal's file name
  const char* head;    // its first line
  char from;
  char to;
  bool byCancellation;  // the records that call for it: a cancellation's, else a run's
};

inline constexpr ReceiptMove kSettling{"Liquida-", "KORVADEL LIQUIDACIO 1", 'P', 'L', false};
inline constexpr ReceiptMove kGivingBack{"Retorn-", "KORVADEL RETORN 1", 'L', 'P', true};

class ReceiptJournal {
 public:
  explicit ReceiptJournal(const ReceiptMove& move) : move_(move) {}
  ~ReceiptJournal();
  ReceiptJournal(const ReceiptJournal&) = delete;
  ReceiptJournal& operator=(const ReceiptJournal&) = delete;

  // Step 1 for the records of archive, in folderHostPath (ending in "/"):
  // 0, or the errno of the write that failed (nothing is left then).
  [[nodiscard]] int Write(const std::string& folderHostPath, const std::string& archive,
                          const std::vector<int32_t>& receipts);
  [[nodiscard]] bool Written() const { return fd_ >= 0; }
  // Steps 3 and 4, the records being in the register. On a failure the
  // journal stays, no longer held, for RecoverJournals; the status says why.
  [[nodiscard]] int16_t Apply(const std::string& collectionHostPath, int32_t& changedOut);
  // The records were not written: the journal goes.
  void Remove();

 private:
  void Release();

  const ReceiptMove& move_;
  std::string path_;
  std::vector<int32_t> receipts_;
  int fd_ = -1;
};

// Ends every journal of move in folderHostPath that no living process
// holds, against reg. 0, or the status of the first that could not be
// ended (it stays): RegisterSideFileDamaged for one that is not a journal
// (a folder, link, pipe or device of its name, altered text), named in
// damagedOut.
[[nodiscard]] int16_t RecoverJournals(const ReceiptMove& move, const std::string& folderHostPath,
                                      const std::string& collectionHostPath, InvoiceRegister& reg,
                                      std::string* damagedOut = nullptr);

// The journals of both moves in folderHostPath that RecoverJournals would
// refuse as not journals, for a check that changes nothing (one a living
// process holds is left to it).
[[nodiscard]] std::vector<std::string> DamagedJournals(const std::string& folderHostPath);

// What every change of receipts or of the register does first: the
// settlings left unfinished are ended, then the give-backs, so that a
// receipt a run settled and a later cancellation gave back ends given
// back. 0, or the first failure's status (damagedOut as above).
[[nodiscard]] int16_t RecoverReceiptJournals(const std::string& folderHostPath, const std::string& collectionHostPath,
                                             InvoiceRegister& reg, std::string* damagedOut = nullptr);

// Whether a living process still settles the receipts of the run archived
// as archive (its journal is there and held).
[[nodiscard]] bool SettlingUnderway(const std::string& folderHostPath, const std::string& archive);
