// The register's tail anchor: the sequence and fingerprint of the chain's
// last record, written durably after every commit to a small file outside
// the register, beside the archived runs (<root>ARXIU\RegFact2.ancora).
// The register must always reach its anchor: a register whose newest
// records vanished (deleted, or lost with its write-ahead log after a
// crash) is shorter than its anchor, and a register file that is missing
// while an anchor or archived runs exist was lost, not never made. Either
// stops registered runs, so that no number is issued twice.
//
// The file is text, one item a line: "korvadel register anchor 1", the
// sequence, the fingerprint, and the SHA-256 of the lines before it, so that
// a damaged anchor is told from a register that fell short of it.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* RegisterAnchorFileName = "ARXIU\\RegFact2.ancora";

struct RegisterAnchor {
  int32_t sequence = 0;
  std::string fingerprint;
};

enum class AnchorRead { Absent, Read, Damaged };

// Reads the anchor file at hostPath.
[[nodiscard]] AnchorRead ReadRegisterAnchor(const std::string& hostPath, RegisterAnchor& out);

// Writes the anchor file whole and flushed to disk (its folder made when
// missing): 0, or the errno of the failure, the earlier anchor untouched.
[[nodiscard]] int WriteRegisterAnchor(const std::string& hostPath, const RegisterAnchor& anchor);

// True when the folder of the anchor at hostPath holds archived runs (.zsp).
[[nodiscard]] bool ArchivedRunsBeside(const std::string& anchorHostPath);

// What keeps the register's tail from being trusted.
struct RegisterTail {
  enum class Problem {
    None,
    RegisterMissing,  // no register file, but an anchor or archived runs
    Shorter,          // the chain ends before the anchored record (lastSequence < anchored)
    Differs,          // the anchored record's fingerprint is not the anchor's
    Unreadable,       // the register cannot be opened or read (status)
    AnchorDamaged,    // the anchor file cannot be read or fails its check
  };
  Problem problem = Problem::None;
  int32_t anchored = 0;      // the anchor's sequence
  int32_t lastSequence = 0;  // the chain's last sequence (0: no record)
  int16_t status = 0;        // Unreadable: the record manager's status
};
