// One process of the load test (bench/load/run.sh): production passes,
// imports of receipts, or locked updates of owners, over the same office for
// a given number of seconds.
//
//   load_test pass   OFFICE SECONDS OUT   runs passes; per pass one line "batch hash" in OUT
//   load_test import OFFICE SECONDS OUT   imports batches of receipts, each in one transaction
//   load_test update OFFICE SECONDS OUT   updates owners under record locks
//   load_test count  OFFICE               counts the receipts and the batches' markers
//   load_test trials OFFICE COUNT DATE    damages the receipts file COUNT times
//                                         and runs a pass over each (see RunTrials)
//
// Every import batch adds 50 paid receipts to units of the office and, in the
// same transaction, a marker receipt of the unit 9999 9999 dated with the
// batch's number, which no pass bills. A pass holds a read snapshot of each
// data file for the whole pass and reads the newest marker inside it, so it
// knows which batch it saw; two passes that saw the same batch must print
// the same spool, byte for byte, or one of them was torn.
// Each process ends with one summary line on standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/language.h"
#include "base/text.h"
#include "formatting/dates.h"
#include "formatting/picture.h"
#include "invoicing/production.h"
#include "printing/spool.h"
#include "recman/pagecheck.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"
#include "session/session.h"
#include "bench/support/memory.h"
#include "bench/support/office.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInvoiceDate = "20241231";
constexpr int kBatchReceipts = 50;
const std::string kMarkerUnit(4, static_cast<char>(128 + 99));
// Owner bytes between the address and the property links: read by nothing.
constexpr RecordField kUpdateCounter{150, 10};

// The highest anonymous resident memory seen (RssAnon).
RssAnonPeak& Memory() {
  static RssAnonPeak peak;
  return peak;
}
void SampleMemory() { Memory().Sample(); }

std::string Packed(const std::string& digits) { return CodeFromText(digits); }

struct Statuses {
  std::map<int, long> counts;
  void Add(int status) { ++counts[status]; }
  std::string Text() const {
    std::string out;
    for (const auto& [status, n] : counts) {
      out += ' ';
      out += std::to_string(status);
      out += ':';
      out += std::to_string(n);
    }
    return out.empty() ? " none" : out;
  }
};

uint64_t Fnv(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// ---- passes

int RunPasses(const std::string& office, int seconds, const std::string& out) {
  const std::string temp = out + ".d/";
  ::mkdir(temp.c_str(), 0700);
  if (!OpenBenchOffice(office, temp)) {
    std::printf("pass: cannot open the office's data files\n");
    return 1;
  }
  const int16_t ids[] = {OwnerFileId, PropertyFileId, UnitFileId, CollectionFileId};
  Statuses statuses;
  std::ofstream log(out);
  long passes = 0;
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    int16_t status = 0;
    for (int16_t id : ids) HoldReadSnapshot(id, true, status);
    // The newest batch marker inside the held snapshot.
    long batch = 0;
    std::string newest = kMarkerUnit;
    newest.append(4, static_cast<char>(255));
    SeekRecord(CollectionFileId, 0, newest, -1, status);
    if (status == 0 && std::memcmp(ModuleRecordArea(CollectionFileId), kMarkerUnit.data(), 4) == 0) {
      batch = std::atol(KeyDigits(std::string(reinterpret_cast<const char*>(ModuleRecordArea(CollectionFileId)) + 4, 4)).c_str());
    }
    int32_t pages = 0;
    const int16_t produced = RunWholeOfficePass(kInvoiceDate, pages);
    for (int16_t id : ids) HoldReadSnapshot(id, false, status);
    statuses.Add(produced);
    std::ifstream spool(temp + "zepprint.tmp", std::ios::binary);
    std::stringstream bytes;
    bytes << spool.rdbuf();
    // A stopped pass printed nothing: only whole passes are compared.
    if (produced == 0) log << batch << " " << std::hex << Fnv(bytes.str()) << std::dec << "\n";
    ++passes;
    SampleMemory();
  }
  int16_t status = 0;
  ResetRecordFiles(status);
  std::printf("pass: %ld passes, pass statuses%s, peak RssAnon %ld KiB\n", passes, statuses.Text().c_str(),
              Memory().Highest());
  return 0;
}

// ---- writers, straight on the record manager

struct Handle {
  uint8_t pos[128] = {};
  int16_t Call(uint16_t op, void* data, uint32_t* len, std::string key = std::string(), int8_t keyNum = 0) {
    key.resize(256, '\0');
    return RecordManagerCall(op, pos, data, len, key.data(), 255, keyNum);
  }
  int16_t Open(const std::string& path) {
    char owner[8] = "KV26";
    uint32_t len = 5;
    return Call(RmOpen, owner, &len, path + std::string(1, '\0'));
  }
};

// The number of the newest batch whose marker the receipts file holds (0
// when none), read through handle h.
long NewestBatch(Handle& h) {
  std::vector<uint8_t> r(CollectionRecordSize);
  uint32_t len = CollectionRecordSize;
  std::string key = kMarkerUnit;
  key.append(4, static_cast<char>(255));
  if (h.Call(RmGetLessOrEqual, r.data(), &len, key) != 0 || std::memcmp(r.data(), kMarkerUnit.data(), 4) != 0) return 0;
  return std::atol(KeyDigits(std::string(reinterpret_cast<const char*>(r.data()) + 4, 4)).c_str());
}

int RunImports(const std::string& office, int seconds, const std::string& out) {
  Handle units, receipts;
  if (units.Open(office + "DADES/DepartaV.dat") != 0 || receipts.Open(office + "DADES/CobramV.dat") != 0) {
    std::printf("import: cannot open the data files\n");
    return 1;
  }
  // The units that receive the batches: the first 500 of the office.
  std::vector<std::string> keys;
  std::vector<uint8_t> unit(UnitRecordSize);
  uint32_t len = UnitRecordSize;
  for (int16_t s = units.Call(RmGetFirst, unit.data(), &len); s == 0 && keys.size() < 500;
       s = units.Call(RmGetNext, unit.data(), &(len = UnitRecordSize))) {
    keys.emplace_back(reinterpret_cast<const char*>(unit.data()), 4);
  }
  Statuses statuses;
  long batches = 0;
  // Each committed batch's number, written at once: an importer killed at
  // any moment has told of every batch it saw committed.
  const int committed = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  // Batches go on from the newest in the file (an importer may be one of
  // many started one after another).
  for (long batch = NewestBatch(receipts) + 1; Clock::now() < end; ++batch) {
    uint32_t none = 0;
    int16_t status = receipts.Call(RmBeginTransaction, nullptr, &none);
    for (int i = 0; status == 0 && i <= kBatchReceipts; ++i) {
      std::vector<uint8_t> r(CollectionRecordSize, ' ');
      const bool marker = i == kBatchReceipts;
      PutFieldBytes(r.data(), CollectionFields::UnitKey,
                    marker ? kMarkerUnit : keys[static_cast<size_t>(batch * kBatchReceipts + i) % keys.size()]);
      PutFieldBytes(r.data(), CollectionFields::Date,
                    Packed(marker ? ZeroPad(batch, 8) : std::string("20241201")));
      PutFieldInt32(r.data(), CollectionFields::Amount, 1000 + i);
      PutFieldText(r.data(), CollectionFields::Type, "C");
      PutFieldInt32(r.data(), CollectionFields::BaseDeduction, 0);
      PutFieldText(r.data(), CollectionFields::State, "P");
      PutFieldInt32(r.data(), CollectionFields::BaseAddition, 0);
      uint32_t rl = CollectionRecordSize;
      status = receipts.Call(RmInsert, r.data(), &rl);
    }
    statuses.Add(status);
    if (status == 0) {
      status = receipts.Call(RmEndTransaction, nullptr, &none);
      if (status == 0) {
        ++batches;
        const std::string line = std::to_string(batch) + "\n";
        if (committed >= 0 && ::write(committed, line.data(), line.size()) < 0) std::printf("import: log not written\n");
      }
    } else {
      (void)receipts.Call(RmAbortTransaction, nullptr, &none);
      --batch;  // the number is used again by the next batch
    }
    SampleMemory();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (committed >= 0) ::close(committed);
  std::printf("import: %ld batches of %d receipts, statuses%s, peak RssAnon %ld KiB\n", batches, kBatchReceipts,
              statuses.Text().c_str(), Memory().Highest());
  return 0;
}

// Prints "receipts N markers M" and one line per marker's batch number.
int RunCount(const std::string& office) {
  Handle receipts;
  if (receipts.Open(office + "DADES/CobramV.dat") != 0) {
    std::printf("count: cannot open the receipts file\n");
    return 1;
  }
  std::vector<uint8_t> r(CollectionRecordSize);
  uint32_t len = CollectionRecordSize;
  long count = 0;
  std::vector<long> markers;
  int16_t s = receipts.Call(RmGetFirst, r.data(), &len);
  for (; s == 0; s = receipts.Call(RmGetNext, r.data(), &(len = CollectionRecordSize))) {
    ++count;
    if (std::memcmp(r.data(), kMarkerUnit.data(), 4) == 0) {
      markers.push_back(std::atol(KeyDigits(std::string(reinterpret_cast<const char*>(r.data()) + 4, 4)).c_str()));
    }
  }
  if (s != RmEndOfFile) {
    std::printf("count: status %d after %ld receipts\n", s, count);
    return 1;
  }
  std::printf("receipts %ld markers %zu\n", count, markers.size());
  for (long m : markers) std::printf("%ld\n", m);
  return 0;
}

// Damage trials: COUNT times, the receipts file (DADES/CobramV.dat, kept
// whole as CobramV.dat.whole) gets either 8 random bytes at a random place
// or 512 zero bytes on a random 512-byte boundary, and a pass over the whole
// office runs in a child process. Each trial is reported (the pass stopped,
// or the file would not open: nothing printed), printed the same as the
// whole file prints (the damage lay where the pass does not read), or
// printed something else: that must never happen.
int RunTrials(const std::string& office, int count, const std::string& date) {
  const std::string file = office + "DADES/CobramV.dat";
  const std::string whole = file + ".whole";
  std::error_code ec;
  if (!std::filesystem::exists(whole)) std::filesystem::copy_file(file, whole, ec);
  const std::string temp = office + "trials.d/";
  ::mkdir(temp.c_str(), 0700);
  // One pass in a child: "status hash" in the file result, or nothing when
  // the child ended without one (an open that ended the program).
  auto pass = [&](std::string& result) {
    std::remove((temp + "result").c_str());
    const pid_t child = ::fork();
    if (child == 0) {
      std::string line = "open";
      if (OpenBenchOffice(office, temp)) {
        int32_t pages = 0;
        const int16_t status = RunWholeOfficePass(date.c_str(), pages);
        std::ifstream spool(temp + "zepprint.tmp", std::ios::binary);
        std::stringstream bytes;
        bytes << spool.rdbuf();
        std::ostringstream text;
        text << status << " " << std::hex << Fnv(bytes.str()) << std::dec << " " << pages;
        line = text.str();
      }
      std::ofstream(temp + "result") << line;
      ::_exit(0);
    }
    int how = 0;
    ::waitpid(child, &how, 0);
    std::ifstream in(temp + "result");
    std::getline(in, result);
    return result;
  };
  std::string reference;
  std::filesystem::copy_file(whole, file, std::filesystem::copy_options::overwrite_existing, ec);
  pass(reference);
  if (reference.rfind("0 ", 0) != 0) {
    std::printf("trials: the whole file does not pass: %s\n", reference.c_str());
    return 1;
  }
  const auto size = static_cast<uint64_t>(std::filesystem::file_size(whole));
  std::mt19937_64 rng(20261208);
  long reported[2] = {0, 0}, same[2] = {0, 0}, wrong[2] = {0, 0}, checked[2] = {0, 0};
  for (int t = 0; t < count; ++t) {
    const int kind = t % 2;  // 0: 8 random bytes, 1: 512 zero bytes
    std::filesystem::copy_file(whole, file, std::filesystem::copy_options::overwrite_existing, ec);
    for (const char* side : {"-wal", "-shm"}) std::remove((file + side).c_str());
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    if (kind == 0) {
      f.seekp(static_cast<std::streamoff>(rng() % (size - 8)));
      for (int i = 0; i < 8; ++i) f.put(static_cast<char>(rng()));
    } else {
      f.seekp(static_cast<std::streamoff>((rng() % (size / 512)) * 512));
      f.write(std::string(512, '\0').data(), 512);
    }
    f.close();
    std::string result;
    pass(result);
    if (result == reference) {
      ++same[kind];
      // Damage the pass never met is still found by a walk of the whole file.
      if (!pagecheck::CheckPages(file).damaged.empty()) ++checked[kind];
    } else if (result.empty() || result == "open" || result.rfind("0 ", 0) != 0) {
      ++reported[kind];
    } else {
      ++wrong[kind];
      std::printf("trial %d: printed %s, the whole file prints %s\n", t, result.c_str(), reference.c_str());
    }
  }
  std::filesystem::copy_file(whole, file, std::filesystem::copy_options::overwrite_existing, ec);
  std::printf("trials on %s (%llu bytes), pass of the whole file: %s\n", file.c_str(),
              static_cast<unsigned long long>(size), reference.c_str());
  const char* names[2] = {"8 random bytes", "512 zero bytes"};
  for (int k = 0; k < 2; ++k) {
    std::printf("%s: %ld trials, %ld reported (nothing printed), %ld printed the same as the whole file "
                "(damage where the pass does not read; %ld of them found by recman check), %ld printed something "
                "else\n",
                names[k], reported[k] + same[k] + wrong[k], reported[k], same[k], checked[k], wrong[k]);
  }
  return wrong[0] + wrong[1] == 0 ? 0 : 1;
}

int RunUpdates(const std::string& office, int seconds) {
  Handle owners;
  if (owners.Open(office + "DADES/PropietV.dat") != 0) {
    std::printf("update: cannot open the owner file\n");
    return 1;
  }
  Statuses statuses;
  long updates = 0;
  std::vector<uint8_t> rec(OwnerRecordSize);
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    uint32_t len = OwnerRecordSize;
    int16_t s = owners.Call(static_cast<uint16_t>(RmGetFirst) + static_cast<uint16_t>(RmSingleLockNoWait), rec.data(), &len);
    while (Clock::now() < end && (s == 0 || s == RmRecordLocked)) {
      statuses.Add(s);
      if (s == 0) {
        // Bytes no invoice prints carry a counter.
        const long n = std::atol(FieldBytes(rec.data(), kUpdateCounter).c_str()) + 1;
        PutFieldText(rec.data(), kUpdateCounter, std::to_string(n));
        uint32_t ul = OwnerRecordSize;
        const int16_t u = owners.Call(RmUpdate, rec.data(), &ul);
        statuses.Add(u);
        if (u == 0) ++updates;
        uint32_t none = 0;
        (void)owners.Call(RmUnlock, nullptr, &none, std::string(), -2);
      }
      len = OwnerRecordSize;
      s = owners.Call(static_cast<uint16_t>(RmGetNext) + static_cast<uint16_t>(RmSingleLockNoWait), rec.data(), &len);
    }
    if (s != RmEndOfFile && s != 0 && s != RmRecordLocked) statuses.Add(s);
    SampleMemory();
  }
  std::printf("update: %ld owners updated, statuses%s, peak RssAnon %ld KiB\n", updates, statuses.Text().c_str(),
              Memory().Highest());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "count") {
    std::string office = argv[2];
    if (office.back() != '/') office += '/';
    return RunCount(office);
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: load_test pass|import|update OFFICE SECONDS OUT | count OFFICE | trials OFFICE COUNT DATE\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::string office = argv[2];
  if (office.empty() || office.back() != '/') office += '/';
  if (mode == "trials") return RunTrials(office, std::atoi(argv[3]), argv[4]);
  const int seconds = std::atoi(argv[3]);
  if (mode == "pass") return RunPasses(office, seconds, argv[4]);
  if (mode == "import") return RunImports(office, seconds, argv[4]);
  if (mode == "update") return RunUpdates(office, seconds);
  std::fprintf(stderr, "usage: load_test pass|import|update OFFICE SECONDS OUT\n");
  return 2;
}
