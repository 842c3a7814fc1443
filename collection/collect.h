// The remittance of a root's invoices as one workflow, for zepfact
// remittance and the module's offer after a registered run: the creditor
// from Tarn.ini, the mandates of DADES\MandatV, the collection log, the
// collection date checked against the schemes' lead time, the plan, and
// the pain.008 file written whole with its invoices noted in the log as one
// step (both or neither). Remittances of one root exclude each other for
// the whole step (DADES\Remeses.lck): a second one is refused, never
// overlaps, so that no invoice is remitted twice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/language.h"
#include "collection/ledger.h"
#include "register/record.h"

inline constexpr const char* CollectionLockFileName = "DADES\\Remeses.lck";

struct RemittanceAsk {
  std::string root;                               // suite path
  const std::vector<RegisterEntry>* chain = nullptr;  // the whole register, in chain order
  std::function<bool(const RegisterEntry&)> selects;  // the invoices asked for
  std::string collectionDate;  // YYYYMMDD; empty: the earliest the schemes allow
  std::string output;          // host path of the file ("-": standard output)
  bool again = false;          // include invoices remitted already
  Language language = Language::Catalan;
};

struct RemittanceDone {
  std::string problem;              // empty, or why nothing was written or noted (worded)
  std::vector<std::string> lines;   // each invoice left out, then each debit (code page 850)
  int64_t debits = 0;               // 0: nothing to collect (lines say why)
  int64_t total = 0;                // cents
  std::string path;                 // the file written
  std::string collectionDate;       // YYYYMMDD

  // "Remesa escrita a FILE: n rebuts  Total 12.34 EUR", or "Cap factura per cobrar".
  [[nodiscard]] std::string Summary(Language language) const;
};

[[nodiscard]] RemittanceDone WriteRemittance(const RemittanceAsk& ask);

// A date as the collection's messages show it, "09-12-2026" (YYYYMMDD given).
[[nodiscard]] std::string CollectionDateText(const std::string& yyyymmdd);
// This moment in local time, as the collection log writes it.
[[nodiscard]] std::string CollectionTimeNow();
// A collection state in language ("remesada", "cobrada", ...); empty for None.
[[nodiscard]] std::string CollectionStateWord(CollectionState state, Language language);

// The first collection date the schemes allow from today (YYYYMMDD).
[[nodiscard]] std::string EarliestRemittanceDate();

// The lock of a root's remittances and status reports, held for the life
// of the object (flock, not waiting).
class CollectionLock {
 public:
  explicit CollectionLock(const std::string& root);
  ~CollectionLock();
  CollectionLock(const CollectionLock&) = delete;
  CollectionLock& operator=(const CollectionLock&) = delete;
  // Empty when held, else the worded reason (another remittance is being
  // written, or the lock file cannot be made).
  [[nodiscard]] std::string Problem(Language language) const;

 private:
  int fd_ = -1;
  int error_ = 0;
  std::string path_;
};
