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

bool StoredRecordSealed(const std::string& stored, int layout, const std::string& previousSeal) {
  const bool earlier = layout == EarlierRegisterFields::kLayout;
  const RecordField seal = earlier ? EarlierRegisterFields::Seal : RegisterFields::Seal;
  const size_t size = earlier ? EarlierRegisterRecordSize : RegisterRecordSize;
  if (stored.size() != size) return false;
  if (stored.compare(seal.offset, seal.width, SealOfRecord(stored, layout, previousSeal)) != 0) return false;
  return stored.find_first_not_of(' ', seal.offset + seal.width) == std::string::npos;
}

bool ChainFollower::Accept(const RegisterEntry& e, const std::string* stored) {
  if (e.sequence != count_ + 1 || e.previousFingerprint != previous_ || e.fingerprint != ComputeFingerprint(e)) {
    return false;
  }
  if (stored != nullptr ? !StoredRecordSealed(*stored, e.layout, previousSeal_)
                        : e.seal != ComputeSeal(e, previousSeal_)) {
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
