// The register's chain: each record carries the fingerprint of the one
// before it, and a seal over the previous seal and every byte of itself
// before the seal, so that a record changed, removed or inserted afterwards
// breaks the chain from that record on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "register/record.h"

// The seal of an entry whose other fields (fingerprint included) are set,
// after the record whose seal is previousSeal (empty for the first).
[[nodiscard]] std::string ComputeSeal(const RegisterEntry& entry, const std::string& previousSeal);

// The same from the entry's encoded record (EncodeRegisterRecord) in its
// layout, for a writer that has the bytes already.
[[nodiscard]] std::string SealOfRecord(const std::string& record, int layout, const std::string& previousSeal);

// Whether a record as stored (its whole bytes, in its layout) carries the
// seal its bytes give after previousSeal: the seal field holds exactly the
// seal, and whatever lies after it (the first layout's last bytes, which
// its seal never covered) is the blank filler every record was written
// with. So every stored byte counts, as stored: a blank turned into a tab
// that reading would trim away breaks the seal too.
[[nodiscard]] bool StoredRecordSealed(const std::string& stored, int layout, const std::string& previousSeal);

// Follows a chain record by record, from its first: Accept is false at the
// first record whose sequence, previous fingerprint, fingerprint or seal
// does not match what the records before it give. Given the record's
// stored bytes, the seal is checked over them (StoredRecordSealed) rather
// than over the entry encoded again.
class ChainFollower {
 public:
  [[nodiscard]] bool Accept(const RegisterEntry& entry, const std::string* stored = nullptr);
  // Records accepted so far.
  [[nodiscard]] int64_t Count() const { return count_; }

 private:
  std::string previous_;
  std::string previousSeal_;
  int64_t count_ = 0;
};

// Recomputes the chain of entries given in chain order: the index of the
// first entry whose sequence, previous fingerprint, fingerprint or seal does
// not match, or -1 when all do.
[[nodiscard]] int64_t FirstBrokenLink(const std::vector<RegisterEntry>& entries);

