#include "agency/settings.h"

#include "agency/facts.h"
#include "base/ini.h"
#include "base/paths.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// A host path from the settings: a relative one is the suite root's.
std::string RootPath(const std::string& rootDir, const std::string& value) {
  if (value.empty() || value[0] == '/') return value;
  return HostPath(rootDir) + value;
}

}  // namespace

VeriFactuSettings LoadVeriFactuSettings(const std::string& rootDir) {
  const std::string file = rootDir + "Tarn.ini";
  const auto value = [&](const char* key) { return IniReadTrimmed(file, "VeriFactu", key); };
  VeriFactuSettings s;
  s.modeText = value("Mode");
  const std::string mode = Lower(s.modeText);
  s.mode = mode.empty()          ? AgencyMode::Off
           : mode == "envia"     ? AgencyMode::Sending
           : mode == "conserva"  ? AgencyMode::Keeping
                                 : AgencyMode::Unknown;
  s.production = Lower(value("Entorn")) != "proves";
  s.certificate = RootPath(rootDir, value("Certificat"));
  s.passwordFile = RootPath(rootDir, value("ClauCertificat"));
  s.service = value("Servei");
  s.serviceAuthorities = RootPath(rootDir, value("CAServei"));
  s.signingAuthorities = RootPath(rootDir, value("CAFirma"));
  return s;
}

std::string ServiceEndpoint(const VeriFactuSettings& settings, bool sealCertificate) {
  if (!settings.service.empty()) return settings.service;
  const std::string_view host = settings.production ? (sealCertificate ? agency::kProductionSealHost : agency::kProductionHost)
                                                    : (sealCertificate ? agency::kTestSealHost : agency::kTestHost);
  return std::string(host) + std::string(agency::kRecordsServicePath);
}

std::string QrCheckPrefix(bool production, bool sent) {
  return std::string(production ? agency::kQrProductionHost : agency::kQrTestHost) +
         std::string(sent ? agency::kQrSentPath : agency::kQrKeptPath);
}
