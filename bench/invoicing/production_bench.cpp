// One production pass over a large office, and beside it one plain SQL
// query over the same SQLite files that computes every link's collected
// base. The office lives in KORVADEL_BENCH_OFFICE (a suite root holding
// DADES/*.dat, made by run.sh). Each reports the memory the process owns
// (RssAnon, highest sample) and its peak resident memory (getrusage, which
// also counts mapped file pages); run each benchmark in its own process
// (run.sh does) so the figures stay apart.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>

#include "formatting/dates.h"
#include "formatting/picture.h"
#include "invoicing/production.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "records/records.h"
#include "session/session.h"
#include "bench/support/memory.h"
#include "bench/support/office.h"

namespace {

std::string OfficeRoot() {
  const char* root = std::getenv("KORVADEL_BENCH_OFFICE");
  return root ? std::string(root) + "/" : std::string();
}

// The memory the process owns (RssAnon), highest of the samples taken after
// each pass or query.
RssAnonPeak& Owned() {
  static RssAnonPeak peak;
  return peak;
}

// Resident memory at its highest, which also counts the data files' pages
// mapped from the system's cache.
double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

// Size and 64-bit FNV-1a of a file ("<bytes> bytes fnv1a <16 hex digits>"),
// so that a change meant only to make the pass faster shows at once whether
// it left the spool file byte for byte as it was.
std::string FileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "no spool file";
  uint64_t hash = 0xcbf29ce484222325ull;
  uint64_t size = 0;
  for (std::istreambuf_iterator<char> it(in), end; it != end; ++it) {
    hash = (hash ^ static_cast<uint8_t>(*it)) * 0x100000001b3ull;
    ++size;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%llu bytes fnv1a %016llx", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(hash));
  return text;
}

// The invoice date of the runs: the last day of the generated receipts, in
// December, so every billing period is due and every receipt counts.
constexpr const char* InvoiceDate = "20241231";

bool OpenOffice(benchmark::State& state) {
  const std::string root = OfficeRoot();
  if (root.empty() || !std::filesystem::exists(root + "DADES/CobramV.dat")) {
    state.SkipWithError("KORVADEL_BENCH_OFFICE does not name a generated office (use run.sh)");
    return false;
  }
  if (!OpenBenchOffice(root, root)) {
    state.SkipWithError("cannot open the office's data files");
    return false;
  }
  return true;
}

void BM_ProduceInvoices(benchmark::State& state) {
  if (!OpenOffice(state)) return;
  int64_t pages = 0;
  bool warm = false;
  for (auto _ : state) {
    if (!warm) {
      // One untimed pass first, so the figures are those of a warm cache.
      state.PauseTiming();
      int32_t ignored = 0;
      if (RunWholeOfficePass(InvoiceDate, ignored) != ProductionDone) state.SkipWithError("the spool writer failed");
      warm = true;
      state.ResumeTiming();
    }
    int32_t passPages = 0;
    if (RunWholeOfficePass(InvoiceDate, passPages) != ProductionDone) state.SkipWithError("the spool writer failed");
    pages = passPages;
    Owned().Sample();
  }
  state.counters["pages"] = static_cast<double>(pages);
  state.counters["private_MiB"] = Owned().MiB();
  state.counters["resident_MiB"] = PeakMiB();
  state.SetLabel("spool " + FileDigest(PrintFilePath()));
  int16_t status = 0;
  ResetRecordFiles(status);
}

// Little-endian signed 32-bit integer of a 4-byte blob.
void Le32(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* b = static_cast<const unsigned char*>(sqlite3_value_blob(argv[0]));
  if (b == nullptr || sqlite3_value_bytes(argv[0]) < 4) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  uint32_t v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  sqlite3_result_int(ctx, static_cast<int32_t>(v));
}

// Every link's collected base: the owners' twenty link slots, joined with
// the per-property sum of the paid "C"/"I" receipts of existing units up to
// the invoice date. Files are tables `records(id, data, k0, ...)`; k0 is key
// 0 in collation form, here the raw packed bytes.
const char* LinkBaseQuery = R"sql(
WITH slots(i) AS (VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9),(10),(11),(12),(13),(14),(15),(16),(17),(18),(19)),
links AS (
  SELECT o.k0 AS owner, slots.i AS slot, substr(o.data, 185 + 4 * slots.i, 2) AS property
  FROM owners.records AS o, slots
  WHERE substr(o.data, 185 + 4 * slots.i, 2) <> x'0000'),
bases AS (
  SELECT substr(c.k0, 1, 2) AS property,
         sum(le32(substr(c.data, 14, 4)) - le32(substr(c.data, 25, 4)) + le32(substr(c.data, 41, 4))) AS base
  FROM receipts.records AS c
  WHERE substr(c.data, 39, 1) = x'50' AND substr(c.data, 18, 1) IN (x'43', x'49')
    AND substr(c.k0, 5, 4) <= ?1
    AND substr(c.k0, 1, 4) IN (SELECT k0 FROM units.records)
  GROUP BY substr(c.k0, 1, 2))
SELECT links.owner, links.slot, coalesce(bases.base, 0)
FROM links JOIN properties.records AS p ON p.k0 = links.property
LEFT JOIN bases ON bases.property = links.property
)sql";

void BM_PlainSqlLinkBases(benchmark::State& state) {
  const std::string root = OfficeRoot();
  if (root.empty() || !std::filesystem::exists(root + "DADES/CobramV.dat")) {
    state.SkipWithError("KORVADEL_BENCH_OFFICE does not name a generated office (use run.sh)");
    return;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_create_function(db, "le32", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, Le32, nullptr, nullptr);
  // Each file attached with the page cache and memory map the record
  // manager gives an open file: 2 MiB of cache, a map sized to the file.
  std::string attach;
  for (const auto& [file, schema] : {std::pair<const char*, const char*>{"PropietV", "owners"},
                                     {"FinquesV", "properties"},
                                     {"DepartaV", "units"},
                                     {"CobramV", "receipts"}}) {
    const std::string path = root + "DADES/" + file + ".dat";
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path, ignored);
    attach += "ATTACH '" + path + "' AS " + schema + "; PRAGMA " + schema + ".cache_size = -2048; PRAGMA " +
              schema + ".mmap_size = " + std::to_string(size + (64u << 20)) + ";";
  }
  if (sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_close(db);
    return;
  }
  sqlite3_stmt* query = nullptr;
  if (sqlite3_prepare_v2(db, LinkBaseQuery, -1, &query, nullptr) != SQLITE_OK) {
    state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_close(db);
    return;
  }
  const std::string date = CodeFromText(InvoiceDate);
  int64_t links = 0;
  double total = 0;
  for (auto _ : state) {
    sqlite3_reset(query);
    sqlite3_bind_blob(query, 1, date.data(), static_cast<int>(date.size()), SQLITE_TRANSIENT);
    links = 0;
    total = 0;
    while (sqlite3_step(query) == SQLITE_ROW) {
      ++links;
      total += sqlite3_column_double(query, 2);
    }
    Owned().Sample();
  }
  state.counters["links"] = static_cast<double>(links);
  state.counters["base_sum"] = total;
  state.counters["private_MiB"] = Owned().MiB();
  state.counters["resident_MiB"] = PeakMiB();
  sqlite3_finalize(query);
  sqlite3_close(db);
}

}  // namespace

BENCHMARK(BM_ProduceInvoices)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainSqlLinkBases)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
