// The invoice register file: opened (and made from its dictionary when
// missing), read in chain or date order, and appended to by whole runs in one
// transaction.
//
// Where each rule lives in this folder:
//   record.h   the record layout, its keys, encoding and the file's creation
//              specification
//   agency.h   the agency's rules: printed number, amounts, dates,
//              fingerprint text, the code's URL, the generation time
//   chain.h    the chain of fingerprints and seals, and its check
//   register.h the file itself: open, read, find, append
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/agency.h"
#include "register/chain.h"
#include "register/record.h"

// Statuses of the register's own, beside the record manager's (recman.h).
inline constexpr int16_t RegisterNumberIssued = 2001;  // a number of the run is in the register

// The register file, open for the life of the object.
class InvoiceRegister {
 public:
  InvoiceRegister() = default;
  ~InvoiceRegister();
  InvoiceRegister(const InvoiceRegister&) = delete;
  InvoiceRegister& operator=(const InvoiceRegister&) = delete;

  // Opens the register at hostPath (".dat" added when the last component has
  // no extension); a missing file is created first from the dictionary at
  // dictionaryHostPath, unless readOnly. Status 0 or the record manager's.
  [[nodiscard]] int16_t Open(const std::string& hostPath, const std::string& dictionaryHostPath, bool readOnly);

  // The highest number issued (0 when the register is empty).
  [[nodiscard]] int16_t HighestNumber(int32_t& number);

  // Every entry, in chain order (key 3), or in the order of key 1 (date and
  // number) with byDate.
  [[nodiscard]] int16_t ReadAll(std::vector<RegisterEntry>& entries, bool byDate = false);

  // The entry with this number: 0, or 4 when there is none.
  [[nodiscard]] int16_t Find(int32_t number, RegisterEntry& entry);

  // Adds entries (in the order given) in one transaction: each gets the next
  // sequence, the previous record's fingerprint, generatedAt and its own
  // fingerprint. Nothing is written when any number is already in the
  // register (RegisterNumberIssued, firstIssued names the first such
  // number) or when any write fails (the record manager's status). While
  // another process holds the register (85), waitLocked is called and the
  // transaction tried again as long as it returns true.
  [[nodiscard]] int16_t Append(std::vector<RegisterEntry>& entries, const std::string& generatedAt,
                               int32_t& firstIssued, const std::function<bool()>& waitLocked = {});

 private:
  [[nodiscard]] int16_t Call(uint16_t op, void* data, uint32_t* dataLen, void* key, int8_t keyNum);
  [[nodiscard]] int16_t TryAppend(std::vector<RegisterEntry>& entries, const std::string& generatedAt,
                                  int32_t& firstIssued);

  uint8_t position_[128] = {};
  bool open_ = false;
};
