// The owners' direct-debit mandates: DADES\MandatV (records/layouts.h,
// MandateFields), one record per owner who has signed one.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "collection/sepa.h"

// What keeps a mandate from being used, as the file holds it.
enum class MandateFault {
  None,
  BadIban,       // the debtor's account does not check (base/iban.h) or is not of a SEPA country
  NoReference,   // the reference is empty or holds characters a reference may not
  BadScheme,     // neither CORE nor B2B
  NoSignature,   // the date of signature is empty or no calendar date
};

struct Mandate {
  std::string ownerCode;   // packed code, 2 bytes
  std::string reference;   // blanks at its ends dropped, at most 35 characters
  std::string iban;        // compact (base/iban.h CompactIban)
  std::string signedOn;    // YYYYMMDD; empty when the record holds none
  Scheme scheme = Scheme::Core;
  bool firstDone = false;  // a first collection was made before the collection log knew it
  MandateFault fault = MandateFault::None;  // the first found
};

// Whether text may be a mandate reference: 1 to 35 characters of the EPC
// set (sepa.h) without a blank, not starting or ending with "/" and
// without "//".
[[nodiscard]] bool IsMandateReference(const std::string& text);

// The mandate a record of MandatV states, its fault found.
[[nodiscard]] Mandate MandateOfRecord(const uint8_t* record);

// Every record of the file at hostPath (".dat" added), by packed owner
// code. 0; 12 (file not found) when there is no such file (mandatesOut
// empty); or the record manager's status of the failure (mandatesOut
// empty).
[[nodiscard]] int16_t ReadMandates(const std::string& hostPath, std::map<std::string, Mandate>& mandatesOut);
