#include "register/chain.h"

#include "register/agency.h"

std::string ComputeSeal(const RegisterEntry& entry, const std::string& previousSeal) {
  const std::string record = EncodeRegisterRecord(entry);
  const uint16_t sealOffset = entry.layout == EarlierRegisterFields::kLayout ? EarlierRegisterFields::Seal.offset
                                                                             : RegisterFields::Seal.offset;
  return Sha256Hex(previousSeal + record.substr(0, sealOffset));
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

