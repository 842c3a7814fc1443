// The invoice register file: opened (and made from its dictionary when
// missing), read in chain or date order, and appended to by whole runs in one
// transaction.
//
// Where each rule lives in this folder:
//   record.h   the record layouts (the register's and the first version's),
//              their keys, encoding and the files' creation specifications;
//              what series a record can hold
//   agency.h   the agency's rules: printed number, amounts, dates,
//              fingerprint text, the code's URL, the generation time
//   taxid.h    tax numbers: the NIF and its control character, how a
//              recipient is identified
//   xml.h      one record's XML (RegistroAlta), made when the record is
//   software.h the software's identity and the installation number
//   chain.h    the chain of fingerprints and seals, and its check
//   register.h the file itself: open, read, find, and append under the
//              register's rules (numbers per series, dates in order, the
//              chain's last record checked)
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "register/agency.h"
#include "register/anchor.h"
#include "register/chain.h"
#include "register/record.h"

// Statuses of the register's own, in its range 2000-2999, beside the record
// manager's (recman.h, below 1000) and the record layer's (records.h,
// 1000-1999); the not-sending mode's are 3000-3999 (signing/events.h).
inline constexpr int16_t RegisterRefused = 2001;  // the run breaks a rule of the register (RegisterRefusal)
inline constexpr int16_t RegisterTailLost = 2002;  // the register does not reach its anchor (Tail() says how)
// A side file of the register's (a run's receipts file, a journal) is not
// what it must be: a folder, pipe, device or link in its place, empty,
// altered. The caller names the file.
inline constexpr int16_t RegisterSideFileDamaged = 2003;
// A give-back journal could not be written: this plus the system's errno.
inline constexpr int16_t RegisterJournalErrno = 2100;
[[nodiscard]] inline int16_t RegisterJournalStatus(int error) {
  return static_cast<int16_t>(RegisterJournalErrno + (error > 0 && error < 900 ? error : 899));
}

// Why the register refuses a run; each names what the user must change.
struct RegisterRefusal {
  enum class Rule {
    None,
    NumberIssued,       // series/number is in the register already
    NumberNotNext,      // series continues from expected, not from number
    NumberOutOfRange,   // number is not from 1 to RegisterHighestNumber
    SeriesNotStorable,  // series is not ASCII 32-126 or longer than RegisterSeriesWidth
    DateBeforeLast,     // date is before the last invoice of series (expectedDate)
    LastRecordBroken,   // the chain's last record does not match its fingerprint or seal
    LastRecordLater,    // the chain's last record was made after now plus a minute
    NoLongerAllowed,    // the caller's check, made again under the lock, failed (another process amended the invoice)
  };
  Rule rule = Rule::None;
  std::string series;
  int32_t number = 0;
  int32_t expected = 0;       // NumberNotNext: the number the series continues with
  std::string date;           // the run's date (YYYYMMDD), or the last record's time
  std::string expectedDate;   // DateBeforeLast: the earliest date allowed
};

// What the register holds of one series.
struct SeriesState {
  int32_t highest = 0;   // its highest number, 0 when none
  std::string lastDate;  // YYYYMMDD of its latest invoice, empty when none
};

// Makes the agency's XML of an entry whose fingerprint is set, given the
// record before it in the chain (nullptr for the first).
using RecordXmlMaker = std::function<std::string(const RegisterEntry& entry, const RegisterEntry* previous)>;

// Called by Append with the entries written, inside the register's
// transaction just before it commits: a status other than 0 aborts it, so
// nothing is kept unless this step (signing and keeping the signed records
// in a file of their own) was done.
using BeforeCommit = std::function<int16_t(const std::vector<RegisterEntry>& written)>;

// The register file, open for the life of the object. It reads the first
// layout's file, when there is one, as the start of the chain.
class InvoiceRegister {
 public:
  InvoiceRegister() = default;
  ~InvoiceRegister();
  InvoiceRegister(const InvoiceRegister&) = delete;
  InvoiceRegister& operator=(const InvoiceRegister&) = delete;

  // Opens the register at hostPath (".dat" added when the last component has
  // no extension); a missing file is created first from the dictionary at
  // dictionaryHostPath, unless readOnly. When earlierHostPath names a file
  // of the first layout, it is opened read-only as the chain's beginning.
  // Status 0 or the record manager's (RmFileNotFound when readOnly and
  // neither file exists).
  [[nodiscard]] int16_t Open(const std::string& hostPath, const std::string& dictionaryHostPath, bool readOnly,
                             const std::string& earlierHostPath = {});

  // Keeps the register's tail anchored at anchorHostPath (register/anchor.h),
  // from the next Open on: a missing register file is then made only when
  // neither the anchor nor archived runs beside it exist (archived runs
  // beside a first layout's file are its own) (else Open gives
  // RegisterTailLost), Append checks the tail under the register's lock
  // before it writes and anchors its last record after the commit.
  void AnchorTail(const std::string& anchorHostPath) { anchorPath_ = anchorHostPath; }

  // Checks that the register reaches its anchor: 0, or RegisterTailLost
  // with Tail() saying what is wrong. A register without an anchor yet (made
  // before anchors, or never appended to) is anchored at its last record
  // when adopt is set.
  [[nodiscard]] int16_t CheckTail(bool adopt);
  [[nodiscard]] const RegisterTail& Tail() const { return tail_; }

  // What the register holds of one series (highest number and last date;
  // zero and empty when none), read through key 0 without reading the rest.
  [[nodiscard]] int16_t StateOf(const std::string& series, SeriesState& state);

  // Every entry, in chain order, or by date (then chain order) with byDate.
  // Reads the whole register into memory: for tools and exports; the run
  // uses the reads below.
  [[nodiscard]] int16_t ReadAll(std::vector<RegisterEntry>& entries, bool byDate = false);

  // Recomputes the chain record by record (FirstBrokenLink, without holding
  // the register in memory), each seal over the record's bytes as stored:
  // brokenIndex -1 when it is sound, else the position in the chain (from 0)
  // of the first record that does not match, with broken its entry. When a
  // record cannot be read the status is the read's, and brokenIndex the
  // position of that record.
  [[nodiscard]] int16_t CheckChain(int64_t& brokenIndex, RegisterEntry& broken);

  // Whether the register holds an invoice of this owner and property (packed
  // codes) dated date (YYYYMMDD), read through key 2.
  [[nodiscard]] int16_t HoldsInvoiceOf(const std::string& ownerCode, const std::string& propertyCode,
                                       const std::string& date, bool& held);

  // The entry with this series and number: 0, or 4 when there is none.
  [[nodiscard]] int16_t Find(const std::string& series, int32_t number, RegisterEntry& entry);

  // Adds entries (in the order given) in one transaction. Under the
  // register's lock it takes the generation time from clock, checks the
  // chain's last record (its fingerprint, its seal, and a time not later
  // than the generation time plus a minute) and each entry against the
  // register: per series, numbers follow on from the series' highest (a
  // series not yet in the register starts anywhere from 1), without a gap
  // or a repeat, and dates do not go back. Each entry then gets the next
  // sequence, the previous record's fingerprint, the generation time, its
  // fingerprint, its XML (makeXml, when given) and its seal. A cancellation
  // takes no number: its key is CancellationKeySeries and its sequence. Nothing is
  // written when a rule is broken (RegisterRefused, refusal says which) or
  // when any write fails (the record manager's status). While another
  // process holds the register (85), waitLocked is called and the
  // transaction tried again as long as it returns true.
  // stillAllowed, when given, is called under the lock before anything is
  // written, with the register's records in chain order: false refuses
  // (Rule::NoLongerAllowed), for a rule that another process may have
  // broken since the caller checked it (a cancellation of an invoice
  // cancelled meanwhile).
  // beforeCommit, when given, is the last step before the commit.
  [[nodiscard]] int16_t Append(std::vector<RegisterEntry>& entries, const std::function<std::string()>& clock,
                               RegisterRefusal& refusal, const std::function<bool()>& waitLocked = {},
                               const RecordXmlMaker& makeXml = {},
                               const std::function<bool(const std::vector<RegisterEntry>& chain)>& stillAllowed = {},
                               const BeforeCommit& beforeCommit = {});

  // The state of every series entries name.
  [[nodiscard]] int16_t StatesOf(const std::vector<RegisterEntry>& entries, std::map<std::string, SeriesState>& out);

  // Checks entries for a run against series (the register's state of the
  // series they name): the rules Append applies, without the chain's last
  // record. True when they hold; otherwise refusal says which is broken
  // first.
  [[nodiscard]] static bool CheckRun(const std::vector<RegisterEntry>& entries,
                                     const std::map<std::string, SeriesState>& series, RegisterRefusal& refusal);

 private:
  struct Handle {
    uint8_t position[128] = {};
    bool open = false;
    int layout = 2;
  };
  [[nodiscard]] static int16_t Call(Handle& h, uint16_t op, void* data, uint32_t* dataLen, void* key, int8_t keyNum);
  [[nodiscard]] static int16_t OpenHandle(Handle& h, const std::string& path, bool readOnly);
  [[nodiscard]] static int16_t ReadFile(Handle& h, std::vector<RegisterEntry>& entries,
                                        std::vector<std::string>* stored = nullptr);
  [[nodiscard]] int16_t LastTwo(std::vector<RegisterEntry>& lastTwo);
  [[nodiscard]] int16_t TryAppend(std::vector<RegisterEntry>& entries, const std::function<std::string()>& clock,
                                  RegisterRefusal& refusal, const RecordXmlMaker& makeXml,
                                  const std::function<bool(const std::vector<RegisterEntry>&)>& stillAllowed,
                                  const BeforeCommit& beforeCommit);
  static void Close(Handle& h);

  [[nodiscard]] int16_t EntryAtSequence(int32_t sequence, RegisterEntry& entry, bool& found);
  [[nodiscard]] int16_t LostTail(RegisterTail::Problem problem, int32_t anchored = 0, int32_t last = 0,
                                 int16_t status = 0);

  Handle current_;
  Handle earlier_;
  std::string anchorPath_;
  RegisterTail tail_;
  // The first layout's file never changes: its entries are read once.
  std::vector<RegisterEntry> earlierEntries_;
  std::vector<std::string> earlierStored_;  // their records as stored, for the seal check
};
