// Records signed per second (XAdES-EPES, as the not-sending mode signs each
// register record) beside a plain RSA-SHA256 signing loop over the same
// record's bytes with the same key, in the same run. Target: the XAdES rate
// at least 80 % of the plain one. The key is a 2048-bit RSA key in a PKCS#12
// file made with the openssl command in a temporary folder at start-up.
//   sign_bench [--benchmark_... options]
// Each benchmark reports records per second; XadesRecord also reports
// share_of_plain, its rate over the plain one's, both measured in its own
// loop (a plain signature after each record's).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "register/agency.h"
#include "register/software.h"
#include "register/xml.h"
#include "signing/xades.h"

namespace {

struct Fixture {
  std::string dir;
  SigningKey key;
  std::string xml;
  std::string generatedAt;
  bool ready = false;

  Fixture() {
    char pattern[] = "/tmp/sign-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    dir = pattern;
    const std::string make =
        "cd " + dir + " && openssl req -x509 -newkey rsa:2048 -nodes -days 30"
        " -subj '/CN=BANC DE PROVES - B12345678/serialNumber=VATES-B12345678' -keyout k.pem -out c.pem"
        " >/dev/null 2>&1 && openssl pkcs12 -export -inkey k.pem -in c.pem -passout pass:x -out c.p12 >/dev/null 2>&1"
        " && printf x > pw && chmod 600 pw";
    if (std::system(make.c_str()) != 0) return;
    VeriFactuSettings settings;
    settings.mode = AgencyMode::Keeping;
    settings.certificate = dir + "/c.p12";
    settings.passwordFile = dir + "/pw";
    // The test certificate is its own authority: trusted as such.
    settings.signingAuthorities = dir + "/c.pem";
    if (key.Load(settings, "B12345678", std::time(nullptr)) != CertificateProblem::None) return;
    RegisterEntry e;
    e.sequence = 1;
    e.number = 1;
    e.series = "A";
    e.date = "20261201";
    e.ownerCode = "\x80\x81";
    e.propertyCode = "\x80\x83";
    e.issuerTaxId = "B12345678";
    e.recipientTaxId = "ES12345678Z";
    e.recipientName = "MONTSERRAT PUIG SERRAT";
    e.base = 10000;
    e.vatRate = 2100;
    e.vat = 2100;
    e.total = 12100;
    e.generatedAt = GenerationTimeNow();
    e.fingerprint = ComputeFingerprint(e);
    SoftwareIdentity software;
    software.producerName = "Programari de proves SL";
    software.producerNif = "A58818501";
    software.systemName = "Korvadel";
    software.systemId = "KV";
    software.version = SoftwareVersion();
    xml = RegistroAltaXml(e, nullptr, "ADMINISTRACIONS PROVES SL", software, "0123456789ABCDEF");
    generatedAt = e.generatedAt;
    ready = !xml.empty();
  }
  ~Fixture() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
};

Fixture& Get() {
  static Fixture fixture;
  return fixture;
}

// This process's CPU time, in seconds.
double CpuNow() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void PlainRsa(benchmark::State& state) {
  Fixture& f = Get();
  if (!f.ready) {
    state.SkipWithError("no key (openssl?)");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(f.key.SignBytes(f.xml));
  state.SetItemsProcessed(state.iterations());
}

void XadesRecord(benchmark::State& state) {
  Fixture& f = Get();
  if (!f.ready) {
    state.SkipWithError("no key (openssl?)");
    return;
  }
  // Both rates from the same loop: a plain signature of the record's bytes
  // after each record's, each timed on its own, so that whatever else the
  // machine does weighs on both alike. The loop's time is the records'.
  std::string out;
  std::string error;
  double xades = 0, plain = 0;
  for (auto _ : state) {
    const double start = CpuNow();
    if (!f.key.Sign(f.xml, "", f.generatedAt, "0123456789ABCDEF", out, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(out);
    const double signedAt = CpuNow();
    benchmark::DoNotOptimize(f.key.SignBytes(f.xml));
    const double end = CpuNow();
    xades += signedAt - start;
    plain += end - signedAt;
    state.SetIterationTime(signedAt - start);
  }
  state.SetItemsProcessed(state.iterations());
  if (xades > 0) state.counters["share_of_plain"] = plain / xades;
}

BENCHMARK(PlainRsa)->Unit(benchmark::kMicrosecond);
BENCHMARK(XadesRecord)->Unit(benchmark::kMicrosecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
