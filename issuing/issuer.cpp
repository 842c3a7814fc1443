#include "issuing/issuer.h"

#include "agency/facts.h"
#include "base/ini.h"

IssuerProblem ReadIssuer(const std::string& rootDir, Issuer& out) {
  const std::string file = rootDir + "Tarn.ini";
  out = Issuer{};
  out.written = IniReadTrimmed(file, "Emissor", "NIF");
  out.name = IniReadTrimmed(file, "Emissor", "Nom");
  const NifCheck nif = CheckNif(out.written);
  if (!nif.Valid()) return IssuerProblem::BadNif;
  out.nif = nif.nif;
  if (out.name.empty()) return IssuerProblem::NoName;
  if (out.name.size() > agency::kLongestName) return IssuerProblem::NameTooLong;
  return IssuerProblem::None;
}
