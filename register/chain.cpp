#include "register/chain.h"

#include "register/agency.h"

namespace F = RegisterFields;

std::string ComputeSeal(const RegisterEntry& entry, const std::string& previousSeal) {
  const std::string record = EncodeRegisterRecord(entry);
  return Sha256Hex(previousSeal + record.substr(0, F::Seal.offset));
}

int64_t FirstBrokenLink(const std::vector<RegisterEntry>& entries) {
  std::string previous;
  std::string previousSeal;
  for (size_t i = 0; i < entries.size(); ++i) {
    const RegisterEntry& e = entries[i];
    if (e.sequence != static_cast<int32_t>(i + 1) || e.previousFingerprint != previous ||
        e.fingerprint != ComputeFingerprint(e) || e.seal != ComputeSeal(e, previousSeal)) {
      return static_cast<int64_t>(i);
    }
    previous = e.fingerprint;
    previousSeal = e.seal;
  }
  return -1;
}

