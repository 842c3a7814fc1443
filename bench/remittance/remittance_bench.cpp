// A SEPA direct-debit remittance of 10,000 invoices (1,000 owners with a
// CORE mandate, ten invoices each): PlanRemittance, then WritePain008
// through the durable writer to a file in a temporary folder, as zepfact
// remittance writes it. Prints the time of each step, the file's size and
// the memory this process owns (RssAnon) with the invoices in memory,
// after planning and at its highest while the message was written: the
// writing adds a bounded buffer, not the size of the message.
//   remittance_bench [INVOICES]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/durable.h"
#include "bench/support/memory.h"
#include "collection/remittance.h"

namespace {

std::string Code(int n) {
  std::string code;
  code += static_cast<char>(128 + n / 100);
  code += static_cast<char>(128 + n % 100);
  return code;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int invoices = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int owners = 1000;
  std::vector<RegisterEntry> chain;
  chain.reserve(static_cast<size_t>(invoices));
  for (int n = 1; n <= invoices; ++n) {
    RegisterEntry e;
    e.series = "A";
    e.number = n;
    e.date = "20261201";
    e.ownerCode = Code(n % owners + 1);
    e.recipientName = "Propietari n\xa3mero " + std::to_string(n % owners + 1);
    e.base = 10000 + n;
    e.vat = e.base * 21 / 100;
    e.total = e.base + e.vat;
    chain.push_back(e);
  }
  std::map<std::string, Mandate> mandates;
  for (int o = 1; o <= owners; ++o) {
    Mandate m;
    m.ownerCode = Code(o);
    m.reference = "KV-" + std::to_string(o) + "-2024";
    m.iban = "ES9121000418450200051332";
    m.signedOn = "20240115";
    mandates[m.ownerCode] = m;
  }
  std::vector<const RegisterEntry*> selected;
  for (const RegisterEntry& e : chain) selected.push_back(&e);
  const std::map<InvoiceKey, CollectionLine> none;
  const long before = RssAnonKiB();

  auto start = std::chrono::steady_clock::now();
  PlanInput input;
  input.chain = &chain;
  input.selected = &selected;
  input.mandates = &mandates;
  input.collected = &none;
  input.collectionDate = "20261210";
  RemittancePlan plan;
  std::string bad;
  if (!PlanRemittance(input, plan, bad)) return 1;
  const double planned = Seconds(start);
  const long afterPlan = RssAnonKiB();

  char pattern[] = "/tmp/remittance-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string path = std::string(pattern) + "/remesa.xml";
  RemittanceHeader header{"REM20261209-1", "2026-12-09T10:00:00", "20261210",
                          {"Jordi Vilaro i Puigdevall", "ES58ZZZ12345678Z", "ES9121000418450200051332", ""}};
  long highest = afterPlan;
  size_t pieces = 0;
  start = std::chrono::steady_clock::now();
  DurableFile file(path);
  const bool written = file.Open(Placement::Replace) && WritePain008(plan, header, [&](std::string_view bytes) {
                         if (++pieces % 500 == 0) highest = std::max(highest, RssAnonKiB());
                         return file.Write(bytes);
                       }) && file.Commit(Placement::Replace);
  const double wrote = Seconds(start);
  highest = std::max(highest, RssAnonKiB());
  std::error_code ignored;
  const auto size = std::filesystem::file_size(path, ignored);
  std::filesystem::remove_all(pattern, ignored);
  if (!written) {
    std::fprintf(stderr, "remittance_bench: the file could not be written\n");
    return 1;
  }
  std::printf("debits %zu, file %.1f MiB\n", plan.debits.size(), static_cast<double>(size) / (1 << 20));
  std::printf("plan %.3f s, write %.3f s\n", planned, wrote);
  std::printf("RssAnon: invoices in memory %ld KiB, after planning %ld KiB, highest while writing %ld KiB "
              "(+%ld KiB for a message of %ld KiB)\n",
              before, afterPlan, highest, highest - afterPlan, static_cast<long>(size / 1024));
  return 0;
}
