#include "register/chain.h"

#include "register/agency.h"

std::string SealOfRecord(const std::string& record, int layout, const std::string& previousSeal) {
  const uint16_t sealOffset =
      layout == EarlierRegisterFields::kLayout ? EarlierRegisterFields::Seal.offset : RegisterFields::Seal.offset;
  return Sha256Hex(previousSeal + record.substr(0, sealOffset));
}

std::string ComputeSeal(const RegisterEntry& entry, const std::string& previousSeal) {
  return SealOfRecord(EncodeRegisterRecord(entry), entry.layout, previousSeal);
}

bool ChainFollower::Accept(const RegisterEntry& e) {
  if (e.sequence != count_ + 1 || e.previousFingerprint != previous_ || e.fingerprint != ComputeFingerprint(e) ||
      e.seal != ComputeSeal(e, previousSeal_)) {
    return false;
  }
  previous_ = e.fingerprint;
  previousSeal_ = e.seal;
  ++count_;
  return true;
}

int64_t FirstBrokenLink(const std::vector<RegisterEntry>& entries) {
  ChainFollower chain;
  for (const RegisterEntry& e : entries)
    if (!chain.Accept(e)) return chain.Count();
  return -1;
}
