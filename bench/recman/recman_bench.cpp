// Speed of the record manager on a collection file like CobramV: 3,000,000
// receipts of 44 bytes over 60,000 units (KORVADEL_BENCH_RECORDS gives
// another count, 50 receipts a unit; each count has its own cached file), key 0 = unit key (4 bytes) + date
// (4 bytes) with duplicates, inserted in random order. Each figure has a
// plain-SQLite twin (one prepared statement on the same index, stepped: the
// covering index of key 0 when the file has one, returning the same columns)
// so the engine's overhead shows as a ratio; the twin's connection gets the
// engine's page cache and memory mapping and, like an engine handle, reads
// in one read transaction kept open between calls.
// At the end it prints the memory the process owns (RssAnon, the highest
// value sampled after setting up and after each benchmark), which must stay
// small and flat whatever the file size, and its peak resident memory, which
// also counts the file's pages mapped from the system's cache.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/support/memory.h"
#include "recman/recman.h"

namespace {

constexpr uint32_t kDefaultRecords = 3000000;
constexpr uint32_t kReceiptsPerUnit = 50;
constexpr uint16_t kLength = 44;

uint32_t RecordCount() {
  static const uint32_t count = [] {
    const char* env = std::getenv("KORVADEL_BENCH_RECORDS");
    const long n = env ? std::atol(env) : 0;
    return n >= static_cast<long>(kReceiptsPerUnit) && n <= 50000000 ? static_cast<uint32_t>(n) : kDefaultRecords;
  }();
  return count;
}

uint32_t UnitCount() { return RecordCount() / kReceiptsPerUnit; }

std::string CachePath() {
  const char* env = std::getenv("KORVADEL_BENCH_CACHE");
  const std::string name =
      RecordCount() == kDefaultRecords ? "CobramV.dat" : "CobramV-" + std::to_string(RecordCount()) + ".dat";
  return std::string(env ? env : KORVADEL_BENCH_CACHE) + "/" + name;
}

void PackNumber(uint32_t n, int digits, char* out) {
  for (int i = digits / 2 - 1; i >= 0; --i) {
    out[i] = static_cast<char>(128 + n % 100);
    n /= 100;
  }
}

std::string UnitKey(uint32_t unit) {
  std::string k(4, '\0');
  PackNumber((unit / 40 + 1) * 100 + unit % 40 + 1, 8, k.data());  // property, then unit in it
  return k;
}

std::string Date(uint32_t y, uint32_t m, uint32_t d) {
  std::string k(4, '\0');
  PackNumber(y * 10000 + m * 100 + d, 8, k.data());
  return k;
}

std::string Receipt(uint32_t unit, uint32_t i, std::mt19937& rng) {
  std::string r(kLength, ' ');
  const std::string key = UnitKey(unit) + Date(2020 + i / 12, i % 12 + 1, 1 + rng() % 28);
  std::memcpy(r.data(), key.data(), 8);
  const int32_t amount = static_cast<int32_t>(rng() % 100000);
  std::memcpy(r.data() + 13, &amount, 4);
  r[17] = "CI"[rng() % 2];
  r[38] = 'P';
  return r;
}

RssAnonPeak& Memory() {
  static RssAnonPeak peak;
  return peak;
}

void SampleMemory() { Memory().Sample(); }

int16_t Call(uint16_t op, uint8_t* block, void* data, uint32_t len, void* key, int8_t keyNum) {
  return RecordManagerCall(op, block, data, &len, key, 8, keyNum);
}

// Makes the cache file when it is missing.
bool EnsureFile() {
  const std::string path = CachePath();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return true;
  ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
  const uint32_t records = UnitCount() * kReceiptsPerUnit;
  std::fprintf(stderr, "generating %u receipts into %s ...\n", records, path.c_str());
  std::string block;
  auto put16 = [&](uint16_t v) {
    block.push_back(static_cast<char>(v & 0xFF));
    block.push_back(static_cast<char>(v >> 8));
  };
  put16(kLength);
  put16(4096);
  put16(1);
  block.append(10, '\0');
  for (auto [pos, flags] : {std::pair<uint16_t, uint16_t>{1, 0x11}, {5, 0x01}}) {
    put16(pos);
    put16(4);
    put16(flags);
    block.append(10, '\0');
  }
  const std::string temp = path + ".part";
  std::string key = temp + '\0';
  uint8_t pos[128] = {};
  ::unlink(temp.c_str());
  if (Call(RmCreate, pos, block.data(), static_cast<uint32_t>(block.size()), key.data(), -1) != 0) return false;
  std::string owner(1, '\0');
  if (Call(RmOpen, pos, owner.data(), 1, key.data(), 0) != 0) return false;
  std::mt19937 rng(20240531);
  std::vector<std::string> all;
  all.reserve(records);
  for (uint32_t u = 0; u < UnitCount(); ++u) {
    for (uint32_t i = 0; i < kReceiptsPerUnit; ++i) all.push_back(Receipt(u, i, rng));
  }
  std::shuffle(all.begin(), all.end(), rng);
  for (uint32_t start = 0; start < records; start += 100000) {
    if (Call(RmBeginTransaction, pos, nullptr, 0, nullptr, 0) != 0) return false;
    for (uint32_t i = start; i < std::min(records, start + 100000); ++i) {
      if (Call(RmInsert, pos, all[i].data(), kLength, nullptr, -1) != 0) return false;
    }
    if (Call(RmEndTransaction, pos, nullptr, 0, nullptr, 0) != 0) return false;
  }
  Call(RmClose, pos, nullptr, 0, nullptr, 0);
  ::unlink((temp + "-lck").c_str());
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

// One open handle for the engine runs, one plain connection for the twins.
struct Fixture {
  uint8_t pos[128] = {};
  sqlite3* db = nullptr;
  std::vector<std::array<char, 8>> keys;  // random search keys
  std::vector<uint32_t> positions;   // random record positions
  std::string walkIndex;
  bool ok = false;

  Fixture() {
    if (!EnsureFile()) return;
    std::string key = CachePath() + '\0';
    std::string owner(1, '\0');
    if (Call(RmOpen, pos, owner.data(), 1, key.data(), -2) != 0) return;
    if (sqlite3_open_v2(CachePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return;
    // The same page cache and mapping as the engine gives each open file.
    struct stat st {};
    ::stat(CachePath().c_str(), &st);
    const std::string pragmas =
        "PRAGMA cache_size = -2048; PRAGMA mmap_size = " + std::to_string(st.st_size + (64 << 20));
    sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
    // Reads in one read transaction kept open from call to call, as an
    // engine handle keeps its snapshot: without it each seek of the twins
    // would pay the start of a read transaction that the engine does not.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    // The index the engine walks key 0 along: the covering one when the file
    // has it.
    sqlite3_stmt* probe = nullptr;
    sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE name = 'cover0'", -1, &probe, nullptr);
    walkIndex = sqlite3_step(probe) == SQLITE_ROW ? "cover0" : "key0";
    sqlite3_finalize(probe);
    std::mt19937 rng(7);
    for (int i = 0; i < 1 << 18; ++i) {
      const std::string k = UnitKey(rng() % UnitCount()) + Date(2020 + rng() % 5, rng() % 12 + 1, rng() % 28 + 1);
      std::array<char, 8> packed;
      std::memcpy(packed.data(), k.data(), 8);
      keys.push_back(packed);
      positions.push_back(1 + rng() % (UnitCount() * kReceiptsPerUnit));
    }
    // Warm the cache and both mappings of the file: one walk along the key
    // through each connection.
    sqlite3_exec(db, ("SELECT sum(length(data)) FROM records INDEXED BY " + walkIndex + " WHERE k0 > x''").c_str(),
                 nullptr, nullptr, nullptr);
    char rec[64], k[256];
    for (int16_t s = Call(RmGetFirst, pos, rec, sizeof rec, k, 0); s == 0;
         s = Call(RmGetNext, pos, rec, sizeof rec, k, 0)) {
    }
    ok = true;
    SampleMemory();
  }
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void RecmanGetNext(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) return state.SkipWithError("no data file");
  char rec[64], key[256];
  Call(RmGetFirst, f.pos, rec, sizeof rec, key, 0);
  for (auto _ : state) {
    if (Call(RmGetNext, f.pos, rec, sizeof rec, key, 0) != 0) Call(RmGetFirst, f.pos, rec, sizeof rec, key, 0);
    benchmark::DoNotOptimize(rec);
  }
  state.SetItemsProcessed(state.iterations());
  SampleMemory();
}

void SqliteStepNext(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) return state.SkipWithError("no data file");
  sqlite3_stmt* s = nullptr;
  const std::string sql =
      "SELECT id, data, k0 FROM records INDEXED BY " + f.walkIndex + " WHERE k0 > ?1 ORDER BY k0, id";
  sqlite3_prepare_v2(f.db, sql.c_str(), -1, &s, nullptr);
  sqlite3_bind_zeroblob(s, 1, 0);
  char rec[64], key[256];
  for (auto _ : state) {
    if (sqlite3_step(s) != SQLITE_ROW) {
      sqlite3_reset(s);
      sqlite3_step(s);
    }
    // The same columns the engine returns: the record's position too.
    const int64_t id = sqlite3_column_int64(s, 0);
    std::memcpy(rec, sqlite3_column_blob(s, 1), kLength);
    std::memcpy(key, sqlite3_column_blob(s, 2), 8);
    benchmark::DoNotOptimize(id);
    benchmark::DoNotOptimize(rec);
    benchmark::DoNotOptimize(key);
  }
  sqlite3_finalize(s);
  state.SetItemsProcessed(state.iterations());
  SampleMemory();
}

void RecmanGetGreaterOrEqual(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) return state.SkipWithError("no data file");
  char rec[64], key[256];
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(key, f.keys[i++ & (f.keys.size() - 1)].data(), 8);
    Call(RmGetGreaterOrEqual, f.pos, rec, sizeof rec, key, 0);
    benchmark::DoNotOptimize(rec);
  }
  state.SetItemsProcessed(state.iterations());
  SampleMemory();
}

void SqliteGreaterOrEqual(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) return state.SkipWithError("no data file");
  sqlite3_stmt* s = nullptr;
  const std::string sql =
      "SELECT id, data, k0 FROM records INDEXED BY " + f.walkIndex + " WHERE k0 >= ?1 ORDER BY k0, id";
  sqlite3_prepare_v2(f.db, sql.c_str(), -1, &s, nullptr);
  char rec[64], key[256];
  size_t i = 0;
  for (auto _ : state) {
    const std::array<char, 8>& k = f.keys[i++ & (f.keys.size() - 1)];
    sqlite3_bind_blob(s, 1, k.data(), 8, SQLITE_TRANSIENT);
    int64_t id = 0;
    if (sqlite3_step(s) == SQLITE_ROW) {
      id = sqlite3_column_int64(s, 0);
      std::memcpy(rec, sqlite3_column_blob(s, 1), kLength);
      std::memcpy(key, sqlite3_column_blob(s, 2), 8);
    }
    sqlite3_reset(s);
    benchmark::DoNotOptimize(id);
    benchmark::DoNotOptimize(rec);
  }
  sqlite3_finalize(s);
  state.SetItemsProcessed(state.iterations());
  SampleMemory();
}

void RecmanGetDirect(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) return state.SkipWithError("no data file");
  char rec[64], key[256];
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(rec, &f.positions[i++ & (f.positions.size() - 1)], 4);
    Call(RmGetDirect, f.pos, rec, sizeof rec, key, 0);
    benchmark::DoNotOptimize(rec);
  }
  state.SetItemsProcessed(state.iterations());
  SampleMemory();
}

void SqliteById(benchmark::State& state) {
  Fixture& f = Data();
  if (!f.ok) return state.SkipWithError("no data file");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(f.db, "SELECT id, data FROM records WHERE id = ?1", -1, &s, nullptr);
  char rec[64];
  size_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_int64(s, 1, f.positions[i++ & (f.positions.size() - 1)]);
    if (sqlite3_step(s) == SQLITE_ROW) std::memcpy(rec, sqlite3_column_blob(s, 1), kLength);
    sqlite3_reset(s);
    benchmark::DoNotOptimize(rec);
  }
  sqlite3_finalize(s);
  state.SetItemsProcessed(state.iterations());
  SampleMemory();
}

}  // namespace

BENCHMARK(RecmanGetNext);
BENCHMARK(SqliteStepNext);
BENCHMARK(RecmanGetGreaterOrEqual);
BENCHMARK(SqliteGreaterOrEqual);
BENCHMARK(RecmanGetDirect);
BENCHMARK(SqliteById);

int main(int argc, char** argv) {
  // --generate: only make the data file when it is missing.
  if (argc == 2 && std::strcmp(argv[1], "--generate") == 0) return EnsureFile() ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  SampleMemory();
  std::printf("peak memory: private (RssAnon, highest sampled) %.1f MiB, resident (max resident set) %ld MiB\n",
              Memory().MiB(), usage.ru_maxrss / 1024);
  return 0;
}
