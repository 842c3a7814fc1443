// A whole registered run beside the production pass alone, on a large
// office (made by bench/invoicing/run.sh):
//   run_bench OFFICE INSTALL WORK [REPEATS [conserva|first|race]]
// OFFICE holds DADES/*.dat; INSTALL is the source tree's install/ folder;
// WORK is a scratch folder this program fills: a suite root (WORK/root/)
// with the installed Tarn.ini ([Registre] Actiu=S, Liquidar=S),
// Productor.ini, the dictionaries, the form file and its translations, and
// the session's temporary folder (WORK/tmp/).
//
// Each repetition copies the office's four data files into a fresh DADES
// folder (not timed: a registered run writes the register and the archive
// and settles receipts), opens them, makes one untimed pass to warm the
// caches, then times in CPU time (getrusage: the process's user + system):
//   pass  ProduceInvoices into the spool file with the parameters the run's
//         form gives, as the run makes it without the register;
//   run   FeeInvoiceRun() with [Registre] on: the same pass numbering by
//         series and collecting the billed receipts, the confirmation of the
//         invoices without a recipient NIF (answered "S" on the memory
//         console), the archive copy, the register records with their XML,
//         the settling journal and the settling; the print program is not
//         started (its hook reports a clean end).
// The form's property range holds three digits (000 to 999), so a run can
// reach only the office's properties 1 to 999; both figures are over that
// range. The whole office's pass (properties up to 9999, what
// production_bench times) is printed beside them for scale.
//
// Without "conserva" the root works in the sending mode ([VeriFactu]
// Mode=envia: a register has a mode); the sender the run starts after it
// is a stand-in that leaves at once (WORK/bin/zepfact), and the run's
// summary counts the records that wait, as the sending mode's does.
// With "conserva" the root works in the not-sending mode ([VeriFactu]
// Mode=conserva, a certificate of the installed issuer made with openssl in
// WORK/root/cert/): the timed run also signs every record as it appends it
// and logs the run in the event log, and the closing summary is logged.
//
// With "first" no run comes before the timed one: it settles every receipt
// the office's ten years hold, the first settling of an office that never
// settled.
//
// With "race" nothing is timed: each repetition, on a fresh copy of the
// office, starts two sessions (two processes, each with its own temporary
// folder, as at two terminals) that run the same month at the same moment,
// released together by one gate. Afterwards every receipt of every
// registered invoice's page (the receipts file beside its archived run) is
// counted: a receipt billed by both runs is a failure (exit 1), and so is
// a count of receipts settled by the race other than the count it billed.
// bench/load/run.sh runs it.
//
// Beside them, in the same repetition, two plain-SQLite twins of the run's
// own storage work, each timed in CPU time on a copy of its file as the
// timed run found it (its write-ahead log emptied into it, untimed, before
// both; the copy read whole and opened before the clock starts), through
// the same page checksum layer and with the engine's settings:
//   settling  the run's settling (from its journal being written to the
//             receipts settled): the twin reads each receipt of the journal
//             by position and writes the ones still P as L, in one
//             transaction, in position order as the engine does;
//   append    the register's append (from the journal to the records
//             registered: the records' fingerprints, XML and seals too):
//             the twin inserts the same record bytes with their key columns
//             in one transaction.
// Each is printed as the engine's time over its twin's.
//
// Every repetition checks that the run registered as many invoices as the
// pass wrote pages and settled receipts, so a refused run never passes for a
// fast one. Each ratio is taken within a repetition (its parts run one
// after the other, so that a slower stretch of a shared machine weighs on
// both sides); the median of the repetitions' ratios is printed with their
// range. The register's share is also split, over the pass, into the
// settling, the append and the rest (the chain's check at the start, the
// archive copy and its side files, the journal, the questions), beside the
// twins' storage work alone over the pass: the share cannot fall below that
// while the run writes what it writes.
//
// PERF_CTL_FIFO names the control fifo of perf record (perf record -D -1
// --control fifo:PATH ...): the profile then covers the timed runs alone,
// or with PERF_PASS set the timed passes alone.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <iterator>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <sqlite3.h>

#include "base/child.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "invoicing/production.h"
#include "invoicing/run.h"
#include "invoicing/settle.h"
#include "recman/definition.h"
#include "recman/pagecheck.h"
#include "printing/spool.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"
#include "register/amend.h"
#include "register/register.h"
#include "register/taxid.h"
#include "session/forms.h"
#include "session/session.h"
#include "tools/setup.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "signing/kept.h"
#include "signing/xades.h"
#include "bench/support/memory.h"
#include "bench/support/office.h"

namespace fs = std::filesystem;

namespace {

// The invoice date of the runs, as production_bench takes it: the last day
// of the generated receipts.
constexpr const char* InvoiceDate = "20241231";
// The six values of the parameter form: that date, every owner, every
// property the form can name, numbers from 1.
const char* const FormValues[6] = {"31/12/2024", "0", "9999", "0", "999", "1"};
// The runs before the timed one, untimed: an office keeps its receipts of
// billed periods settled, so the timed run settles what December bills (the
// month's, the last quarter's, the year's), as it would in use, not the
// office's whole past. Dates in order, as the register wants them.
const char* const HistoryDates[] = {"31/12/2023", "30/09/2024", "30/11/2024"};

const char* const DataFiles[] = {"PropietV", "FinquesV", "DepartaV", "CobramV"};

bool g_first = false;  // no run before the timed one ("first")

// CPU time of the process (user + system) and wall time, in seconds.
struct Clock {
  double cpu = 0;
  double wall = 0;
  static Clock Now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    Clock c;
    c.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    c.wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return c;
  }
  Clock operator-(const Clock& o) const { return {cpu - o.cpu, wall - o.wall}; }
};

RssAnonPeak& Owned() {
  static RssAnonPeak peak;
  return peak;
}

bool Fail(const std::string& what) {
  std::fprintf(stderr, "run_bench: %s\n", what.c_str());
  return false;
}

// The suite root without its data: settings, dictionaries, forms.
bool MakeRoot(const std::string& install, const std::string& root, const std::string& tmp) {
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::remove_all(tmp, ec);
  fs::create_directories(root + "ddf", ec);
  fs::create_directories(tmp, ec);
  if (ec) return Fail("cannot make " + root);
  for (const char* file : {"Tarn.ini", "Productor.ini"})
    if (!fs::copy_file(install + file, root + file, ec)) return Fail("cannot copy " + install + file);
  for (const auto& entry : fs::directory_iterator(install + "ddf", ec))
    if (entry.path().extension() == ".xdf" && !fs::copy_file(entry.path(), root + "ddf/" + entry.path().filename().string(), ec))
      return Fail("cannot copy " + entry.path().string());
  for (const char* folder : {"FORMS", "LOCALE"}) {
    fs::copy(install + folder, root + folder, fs::copy_options::recursive, ec);
    if (ec) return Fail("cannot copy " + install + folder);
  }
  const RegisterSettings settings = LoadRegisterSettings(root);
  if (!settings.active || !settings.settle) return Fail(root + "Tarn.ini does not hold [Registre] Actiu=S and Liquidar=S");
  return true;
}

// Closes the data files and puts a fresh copy of the office's in DADES;
// the register, the archive and any journal of an earlier run go.
bool FreshData(const std::string& office, const std::string& root) {
  int16_t status = 0;
  ResetRecordFiles(status);
  std::error_code ec;
  fs::remove_all(root + "DADES", ec);
  fs::remove_all(root + "ARXIU", ec);
  fs::create_directories(root + "DADES", ec);
  for (const char* file : DataFiles) {
    const std::string name = std::string(file) + ".dat";
    if (!fs::copy_file(office + "DADES/" + name, root + "DADES/" + name, ec)) return Fail("cannot copy " + name);
  }
  return true;
}

// The pass with the form's parameters, as the run makes it without the
// register. Returns the pages written, -1 on a failed pass.
int32_t FormRangePass() {
  InvoiceParameters p = InvoiceParametersFromTexts(FormValues[0], FormValues[1], FormValues[2], FormValues[3],
                                                   FormValues[4], FormValues[5]);
  const int32_t first = p.NextInvoiceNumber;
  OpenPrintFile(Session.OutputDevice);
  SetCurrency("p");
  const int16_t status = ProduceInvoices(p);
  SetCurrency("");
  ClosePrintFile();
  return status == ProductionDone ? p.NextInvoiceNumber - first : -1;
}

// One registered run on the memory console: the form filled once and
// accepted, the invoices without a recipient NIF confirmed with "S", Esc
// at the second showing of the form.
void RegisteredRun(const char* date = FormValues[0]) {
  MemoryConsole console;
  console.PushText("S");
  console.PushKey(KeyEnter);
  SetConsole(&console);
  int shown = 0;
  RunHooks saved = FeeInvoiceRunHooks();
  FeeInvoiceRunHooks().runForm = [&shown, date]() -> int16_t {
    if (shown++ > 0) return 27;
    for (int16_t k = 1; k <= 6; ++k) SetFieldValue(1, k, k == 1 ? date : FormValues[k - 1]);
    return KeyEnter;
  };
  FeeInvoiceRunHooks().runPrintProgram = [] { return ChildEnd{true, 0, true, 0, 0}; };
  FeeInvoiceRun();
  FeeInvoiceRunHooks() = saved;
  SetConsole(nullptr);
}

// Receipts of the collection file (host path) in state L.
int64_t SettledReceipts(const std::string& hostPath) {
  uint8_t block[128] = {};
  char key[256] = {};
  hostPath.copy(key, 250);
  char owner[8] = {};
  uint32_t length = 0;
  if (RecordManagerCall(RmOpen, block, owner, &length, key, 255, -2) != 0) return -1;
  int64_t settled = 0;
  uint8_t record[CollectionRecordSize];
  length = sizeof record;
  for (int16_t status = RecordManagerCall(RmGetFirst, block, record, &length, key, 255, 0); status == 0;
       status = RecordManagerCall(RmGetNext, block, record, &length, key, 255, 0)) {
    if (ReceiptState(record) == 'L') ++settled;
    length = sizeof record;
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  return settled;
}

// ---- the plain-SQLite twins -------------------------------------------------

// CPU time at the settling's steps of the timed run, and the journal's
// receipts (read before its time is taken).
struct StepTimes {
  bool timing = false;
  double journal = 0, registered = 0, settled = 0;
  std::vector<int32_t> receipts;
};

StepTimes& Steps() {
  static StepTimes steps;
  return steps;
}

std::vector<int32_t> JournalReceipts(const std::string& dataFolder) {
  std::vector<int32_t> receipts;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dataFolder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("Liquida-", 0) != 0 || entry.path().extension() != ".jnl") continue;
    std::string sealed, text;
    if (ReadRegularFile(entry.path().string(), sealed, 64u << 20) != ReadResult::Ok) continue;
    // A journal is sealed (register/amend.h): its lines without the seal.
    if (!UnsealedText(sealed, text)) text = sealed;
    size_t at = text.find('\n');
    at = at == std::string::npos ? text.size() : text.find('\n', at + 1);  // the head and the archive
    while (at != std::string::npos && at + 1 < text.size()) {
      const size_t end = text.find('\n', at + 1);
      receipts.push_back(std::atoi(text.substr(at + 1, end - at - 1).c_str()));
      at = end;
    }
  }
  return receipts;
}

void WatchSteps(const std::string& dataFolder) {
  SetSettleStepHook([dataFolder](SettleStep step) {
    StepTimes& t = Steps();
    if (!t.timing) return;
    if (step == SettleStep::JournalWritten) t.receipts = JournalReceipts(dataFolder);
    const double now = Clock::Now().cpu;
    if (step == SettleStep::JournalWritten) t.journal = now;
    if (step == SettleStep::Registered) t.registered = now;
    if (step == SettleStep::ReceiptsSettled) t.settled = now;
  });
}

// A copy of a data file as it stands between writes. The file's
// write-ahead log is emptied into it first (the process's read snapshots let
// go), so that the timed run and the twin both start from an empty log.
bool CopyWithLog(const std::string& from, const std::string& to) {
  RecordManagerIdle();
  sqlite3* db = nullptr;
  sqlite3_stmt* s = nullptr;
  bool emptied =
      sqlite3_open_v2(from.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, pagecheck::VfsName()) ==
          SQLITE_OK &&
      sqlite3_busy_timeout(db, 5000) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) == 0;  // not kept from it by a reader
  sqlite3_finalize(s);
  sqlite3_close(db);
  std::error_code ec;
  emptied = emptied && (!fs::exists(from + "-wal") || fs::file_size(from + "-wal", ec) == 0);
  if (!emptied) return Fail("cannot empty the log of " + from);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(to + suffix, ec);
  if (!fs::copy_file(from, to, ec)) return Fail("cannot copy " + from);
  if (fs::exists(from + "-wal") && !fs::copy_file(from + "-wal", to + "-wal", ec)) return Fail("cannot copy its log");
  return true;
}

// A connection to a twin's copy, with the engine's settings, read once;
// the copy read whole first, so that its pages are in the system's cache as
// the data file's are.
sqlite3* OpenTwin(const std::string& path) {
  if (FILE* in = std::fopen(path.c_str(), "rb")) {
    std::vector<char> buffer(1 << 20);
    while (std::fread(buffer.data(), 1, buffer.size(), in) == buffer.size()) {
    }
    std::fclose(in);
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, pagecheck::VfsName()) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  std::error_code ec;
  const auto size = static_cast<long long>(fs::file_size(path, ec));
  const std::string pragmas = "PRAGMA cache_size = -2048; PRAGMA mmap_size = " +
                              std::to_string(size + (64 << 20)) + "; PRAGMA synchronous = FULL;"
                              "SELECT count(*) FROM counts";
  sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
  return db;
}

// The settling's twin: CPU seconds, -1 on a failure; changed counts the
// receipts it settled.
double SettlingTwin(const std::string& path, std::vector<int32_t> positions, int64_t& changed) {
  sqlite3* db = OpenTwin(path);
  if (db == nullptr) return -1;
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;
  bool ok = sqlite3_prepare_v2(db, "SELECT data FROM records WHERE id = ?1", -1, &read, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "UPDATE records SET data = ?1 WHERE id = ?2", -1, &write, nullptr) == SQLITE_OK;
  changed = 0;
  const Clock start = Clock::Now();
  std::sort(positions.begin(), positions.end());
  ok = ok && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  uint8_t record[CollectionRecordSize];
  for (size_t i = 0; ok && i < positions.size(); ++i) {
    sqlite3_bind_int64(read, 1, positions[i]);
    ok = sqlite3_step(read) == SQLITE_ROW && sqlite3_column_bytes(read, 0) == static_cast<int>(sizeof record);
    if (ok) std::memcpy(record, sqlite3_column_blob(read, 0), sizeof record);
    sqlite3_reset(read);
    if (!ok || record[CollectionFields::State.offset] != 'P') continue;
    record[CollectionFields::State.offset] = 'L';
    sqlite3_bind_blob(write, 1, record, sizeof record, SQLITE_STATIC);
    sqlite3_bind_int64(write, 2, positions[i]);
    ok = sqlite3_step(write) == SQLITE_DONE;
    sqlite3_reset(write);
    ++changed;
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  const double cpu = (Clock::Now() - start).cpu;
  sqlite3_finalize(read);
  sqlite3_finalize(write);
  sqlite3_close(db);
  return ok ? cpu : -1;
}

// Every record of the register at hostPath as stored, in chain order.
std::vector<std::string> RegisterRecords(const std::string& hostPath) {
  std::vector<std::string> records;
  uint8_t block[128] = {};
  char key[256] = {};
  hostPath.copy(key, 250);
  char owner[8] = {};
  uint32_t length = 0;
  if (RecordManagerCall(RmOpen, block, owner, &length, key, 255, -2) != 0) return records;
  std::string record(RegisterRecordSize, '\0');
  length = static_cast<uint32_t>(record.size());
  for (int16_t status = RecordManagerCall(RmGetFirst, block, record.data(), &length, key, 255, 3); status == 0;
       status = RecordManagerCall(RmGetNext, block, record.data(), &length, key, 255, 3)) {
    records.push_back(record.substr(0, length));
    length = static_cast<uint32_t>(record.size());
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  return records;
}

// The append's twin: the records inserted with their key columns in one
// transaction. CPU seconds, -1 on a failure.
double AppendTwin(const std::string& path, const std::vector<std::string>& records) {
  sqlite3* db = OpenTwin(path);
  if (db == nullptr) return -1;
  FileDefinition def;
  sqlite3_stmt* meta = nullptr;
  bool ok = sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE name = 'definition'", -1, &meta, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(meta) == SQLITE_ROW &&
            ParseFileDefinition(static_cast<const uint8_t*>(sqlite3_column_blob(meta, 0)),
                                static_cast<size_t>(sqlite3_column_bytes(meta, 0)), def) == 0;
  sqlite3_finalize(meta);
  std::string cols, params;
  for (size_t k = 0; k < def.keys.size(); ++k) {
    cols += ", k" + std::to_string(k);
    params += ", ?" + std::to_string(k + 2);
  }
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, ("INSERT INTO records(data" + cols + ") VALUES(?1" + params + ")").c_str(), -1,
                                &insert, nullptr) == SQLITE_OK;
  // The key columns are worked out before the clock starts.
  std::vector<std::vector<std::string>> keys;
  for (const std::string& r : records) {
    keys.emplace_back();
    for (size_t k = 0; ok && k < def.keys.size(); ++k)
      keys.back().push_back(CollationFormOf(def, k, KeyValueOf(def, k, reinterpret_cast<const uint8_t*>(r.data()))));
  }
  const Clock start = Clock::Now();
  ok = ok && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (size_t i = 0; ok && i < records.size(); ++i) {
    sqlite3_bind_blob(insert, 1, records[i].data(), static_cast<int>(records[i].size()), SQLITE_STATIC);
    for (size_t k = 0; k < keys[i].size(); ++k)
      sqlite3_bind_blob(insert, static_cast<int>(k) + 2, keys[i][k].data(), static_cast<int>(keys[i][k].size()),
                        SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  const std::string count = "UPDATE counts SET n = n + " + std::to_string(records.size()) + "; COMMIT";
  ok = ok && sqlite3_exec(db, count.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  const double cpu = (Clock::Now() - start).cpu;
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return ok ? cpu : -1;
}

struct Repetition {
  Clock pass, run, whole;
  double settling = 0, settlingTwin = 0;
  double append = 0, appendTwin = 0;
  size_t appended = 0;
  int32_t pages = 0, wholePages = 0;
  size_t registered = 0;
  size_t withXml = 0;  // records whose recipient has a NIF: those carry the agency's XML
  int64_t settled = 0;  // by the timed run
};

// What the run left: every invoice of the pass in the register (each with
// its XML), receipts settled, no journal left behind, the archive copy.
bool CheckRun(const std::string& root, Repetition& r) {
  InvoiceRegister reg;
  std::vector<RegisterEntry> entries;
  if (reg.Open(root + "DADES/RegFact2", "", true) != 0 || reg.ReadAll(entries) != 0)
    return Fail("the run left no register (refused?)");
  r.registered = static_cast<size_t>(std::count_if(entries.begin(), entries.end(), [](const RegisterEntry& e) {
    return e.date == InvoiceDate;
  }));
  if (r.registered != static_cast<size_t>(r.pages))
    return Fail("the register holds " + std::to_string(r.registered) + " invoices, the pass wrote " +
                std::to_string(r.pages) + " pages");
  // A recipient the agency cannot identify gets no XML (register/xml.h).
  for (const RegisterEntry& e : entries) {
    if (e.date != InvoiceDate) continue;
    const bool identified = ClassifyRecipientTaxId(e.recipientTaxId).kind != RecipientIdKind::NotIdentifiable;
    if (identified && e.xml.find("<sf:Huella>" + e.fingerprint + "</sf:Huella>") == std::string::npos)
      return Fail("a register record without its XML");
    if (identified) ++r.withXml;
  }
  r.settled = SettledReceipts(root + "DADES/CobramV.dat") - r.settled;
  if (r.settled <= 0) return Fail("no receipt settled");
  std::error_code ec;
  size_t archived = 0;
  for (const auto& entry : fs::directory_iterator(root + "ARXIU", ec))
    if (entry.path().extension() == ".zsp") ++archived;
  if (archived != (g_first ? 0 : std::size(HistoryDates)) + 1)
    return Fail("the archive holds " + std::to_string(archived) + " spool copies");
  for (const auto& entry : fs::directory_iterator(root + "DADES", ec))
    if (entry.path().filename().string().rfind("Liquida-", 0) == 0) return Fail("a settling journal was left");
  return true;
}

// The not-sending mode in the root: a test certificate of the installed
// issuer (12345678Z) and its password file, named in [VeriFactu].
// Sets each key of [VeriFactu] in the root's Tarn.ini: its line replaced,
// or added under the section.
bool SetAgencyKeys(const std::string& root, const std::vector<std::pair<std::string, std::string>>& keys) {
  std::string ini;
  if (ReadRegularFile(root + "Tarn.ini", ini, 1u << 20) != ReadResult::Ok) return Fail("cannot read Tarn.ini");
  const size_t section = ini.find("[VeriFactu]");
  if (section == std::string::npos) return Fail("Tarn.ini has no [VeriFactu]");
  for (const auto& [key, value] : keys) {
    const size_t at = ini.find("\n" + key + "=", section);
    const size_t next = ini.find("\n[", section + 1);
    if (at != std::string::npos && (next == std::string::npos || at < next)) {
      ini.replace(at + 1, ini.find('\n', at + 1) - at - 1, key + "=" + value + "\r");
    } else {
      ini.insert(ini.find('\n', section) + 1, key + "=" + value + "\r\n");
    }
  }
  return WriteWholeFile(root + "Tarn.ini", ini) == 0 || Fail("cannot write Tarn.ini");
}

// The sending mode, as a registered run of the installation works when it
// does not sign: the sender it starts after each run is a stand-in that
// leaves at once (WORK/bin/zepfact), so that no record leaves the machine.
bool MakeSendingRoot(const std::string& root, const std::string& work) {
  const std::string bin = work + "bin/";
  std::error_code ec;
  fs::create_directories(bin, ec);
  if (WriteWholeFile(bin + "zepfact", "#!/bin/sh\nexit 0\n", Placement::Replace, 0755) != 0)
    return Fail("cannot write " + bin + "zepfact");
  Session.ExeDir = bin;
  return SetAgencyKeys(root, {{"Mode", "envia"}}) && (LoadVeriFactuSettings(root).Sending() || Fail("the mode is not on"));
}

bool MakeKeepingRoot(const std::string& root) {
  const std::string make =
      "mkdir -p '" + root + "cert' && cd '" + root + "cert' && openssl req -x509 -newkey rsa:2048 -nodes -days 30"
      " -subj '/CN=BANC DE PROVES - 12345678Z/serialNumber=IDCES-12345678Z' -keyout k.pem -out c.pem >/dev/null 2>&1"
      " && openssl pkcs12 -export -inkey k.pem -in c.pem -passout pass:x -out issuer.p12 >/dev/null 2>&1"
      " && printf x > pw && chmod 600 pw";
  if (std::system(make.c_str()) != 0) return Fail("openssl could not make the test certificate");
  return SetAgencyKeys(root, {{"Mode", "conserva"},
                              {"Certificat", "cert/issuer.p12"},
                              {"ClauCertificat", "cert/pw"},
                              {"CAFirma", "cert/c.pem"}}) &&
         (LoadVeriFactuSettings(root).Keeping() || Fail("the mode is not on"));
}

// In the not-sending mode an invoice needs a recipient NIF the agency takes
// (the generator's owners mostly have none): every owner gets one, before
// the runs and untimed.
bool GiveOwnersNif(const std::string& root) {
  const std::string path = root + "DADES/PropietV.dat";
  uint8_t block[128] = {};
  char key[256] = {};
  path.copy(key, 250);
  char owner[8] = {};
  uint32_t length = 0;
  if (RecordManagerCall(RmOpen, block, owner, &length, key, 255, 0) != 0) return Fail("cannot open " + path);
  uint8_t record[OwnerRecordSize];
  length = sizeof record;
  int16_t status = RecordManagerCall(RmGetFirst, block, record, &length, key, 255, 0);
  while (status == 0) {
    PutFieldText(record, OwnerFields::TaxId, "ES12345678Z");
    status = RecordManagerCall(RmUpdate, block, record, &length, key, 255, 0);
    length = sizeof record;
    if (status == 0) status = RecordManagerCall(RmGetNext, block, record, &length, key, 255, 0);
  }
  length = 0;
  static_cast<void>(RecordManagerCall(RmClose, block, nullptr, &length, key, 255, 0));
  return status == RmEndOfFile || Fail("cannot give the owners a NIF, status " + std::to_string(status));
}

bool g_keep = false;

// Signed records kept beside the register.
int64_t SignedRecords(const std::string& root) {
  KeptFile kept;
  std::vector<KeptRecord> records;
  if (kept.Open(HostPath(root + SignedRecordFileName), true) != 0) return 0;
  return kept.ReadAll(records) == 0 ? static_cast<int64_t>(records.size()) : -1;
}

// PERF_CTL_FIFO names perf record's control fifo (--control fifo:...):
// the profile then covers the timed runs alone.
void PerfControl(const char* command) {
  const char* fifo = std::getenv("PERF_CTL_FIFO");
  if (fifo == nullptr) return;
  if (FILE* out = std::fopen(fifo, "w")) {
    std::fputs(command, out);
    std::fclose(out);
  }
}

bool Repeat(const std::string& office, const std::string& root, const std::string& tmp, Repetition& r) {
  if (!FreshData(office, root)) return false;
  if (g_keep && !GiveOwnersNif(root)) return false;
  if (!OpenBenchOffice(root, tmp)) return Fail("cannot open the office's data files");
  Session.OutputDevice = "PDF";
  if (FormRangePass() < 0) return Fail("the warming pass failed");
  if (!g_first)
    for (const char* date : HistoryDates) RegisteredRun(date);
  r.settled = SettledReceipts(root + "DADES/CobramV.dat");  // before the timed run

  Clock start = Clock::Now();
  int32_t wholePages = 0;
  if (RunWholeOfficePass(InvoiceDate, wholePages) != ProductionDone) return Fail("the whole office's pass failed");
  r.whole = Clock::Now() - start;
  r.wholePages = wholePages;

  if (std::getenv("PERF_PASS")) PerfControl("enable\n");
  start = Clock::Now();
  r.pages = FormRangePass();
  r.pass = Clock::Now() - start;
  if (std::getenv("PERF_PASS")) PerfControl("disable\n");
  if (r.pages <= 0) return Fail("the pass wrote no page");
  Owned().Sample();

  // The twins' files as the timed run finds them.
  const std::string data = root + "DADES/";
  const std::string work = root + "twin/";
  std::error_code ec;
  fs::create_directories(work, ec);
  if (!CopyWithLog(data + "CobramV.dat", work + "CobramV.dat")) return false;
  const bool hadRegister = fs::exists(data + "RegFact2.dat");
  if (hadRegister && !CopyWithLog(data + "RegFact2.dat", work + "RegFact2.dat")) return false;
  const size_t registeredBefore = hadRegister ? RegisterRecords(data + "RegFact2.dat").size() : 0;

  Steps() = StepTimes{};
  Steps().timing = true;
  if (!std::getenv("PERF_PASS")) PerfControl("enable\n");
  start = Clock::Now();
  RegisteredRun();
  r.run = Clock::Now() - start;
  PerfControl("disable\n");
  Steps().timing = false;
  Owned().Sample();
  if (!CheckRun(root, r)) return false;

  const StepTimes& t = Steps();
  if (t.journal == 0 || t.registered == 0 || t.settled == 0) return Fail("the run did not pass every settling step");
  r.append = t.registered - t.journal;
  r.settling = t.settled - t.registered;
  int64_t changed = 0;
  r.settlingTwin = SettlingTwin(work + "CobramV.dat", t.receipts, changed);
  if (r.settlingTwin < 0) return Fail("the settling's twin failed");
  if (changed != r.settled) return Fail("the settling's twin settled " + std::to_string(changed) + " receipts");
  if (hadRegister) {
    std::vector<std::string> records = RegisterRecords(data + "RegFact2.dat");
    if (records.size() < registeredBefore) return Fail("the register lost records");
    records.erase(records.begin(), records.begin() + static_cast<long>(registeredBefore));
    r.appended = records.size();
    r.appendTwin = AppendTwin(work + "RegFact2.dat", records);
    if (r.appendTwin < 0) return Fail("the append's twin failed");
  }
  fs::remove_all(work, ec);
  return true;
}

// ---- two sessions running the same month at once -----------------------

// One session of the race: its own temporary folder and the office open,
// then the gate read (it returns when the parent closes it), then the
// registered run.
[[noreturn]] void RaceSession(int gate, const std::string& root, const std::string& tmp) {
  std::error_code ec;
  fs::create_directories(tmp, ec);
  if (ec || !OpenBenchOffice(root, tmp)) ::_exit(1);
  Session.OutputDevice = "PDF";
  char byte = 0;
  while (::read(gate, &byte, 1) < 0 && errno == EINTR) {
  }
  RegisteredRun();
  int16_t status = 0;
  ResetRecordFiles(status);
  ::_exit(0);
}

// How often each receipt was billed by the register's invoices (their
// pages in the receipts files beside the archived runs); false when a
// receipts file does not read.
bool BilledReceipts(const std::string& root, std::map<int32_t, int>& billed, size_t& invoices) {
  InvoiceRegister reg;
  std::vector<RegisterEntry> entries;
  if (reg.Open(root + "DADES/RegFact2", "", true) != 0 || reg.ReadAll(entries) != 0) return Fail("no register");
  invoices = 0;
  for (const RegisterEntry& e : entries) {
    if (e.IsCancellation() || e.archive.empty()) continue;
    ++invoices;
    std::vector<int32_t> positions;
    if (ReadReceiptsFile(root + "ARXIU/" + ReceiptsFileName(e.archive), e.page, positions) == ReceiptsFileRead::Damaged)
      return Fail("the receipts file of " + e.archive + " does not read");
    for (int32_t position : positions) ++billed[position];
  }
  return true;
}

int Race(const std::string& office, const std::string& root, const std::string& tmp, int repeats) {
  int twice = 0, unbilled = 0;
  for (int rep = 0; rep < repeats; ++rep) {
    if (!FreshData(office, root)) return 1;
    // The office's earlier months billed first, by one session, as in use.
    const pid_t history = ::fork();
    if (history < 0) return Fail("cannot fork"), 1;
    if (history == 0) {
      if (!OpenBenchOffice(root, tmp)) ::_exit(1);
      Session.OutputDevice = "PDF";
      for (const char* date : HistoryDates) RegisteredRun(date);
      int16_t status = 0;
      ResetRecordFiles(status);
      ::_exit(0);
    }
    int historyStatus = 0;
    if (::waitpid(history, &historyStatus, 0) != history || !WIFEXITED(historyStatus) || WEXITSTATUS(historyStatus) != 0)
      return Fail("the earlier months' runs failed"), 1;
    const auto archivedRuns = [&root] {
      std::error_code ec;
      size_t runs = 0;
      for (const auto& entry : fs::directory_iterator(root + "ARXIU", ec)) runs += entry.path().extension() == ".zsp";
      return runs;
    };
    const size_t runsBefore = archivedRuns();
    if (runsBefore != std::size(HistoryDates)) return Fail("the earlier months were not all registered"), 1;
    const int64_t settledBefore = SettledReceipts(root + "DADES/CobramV.dat");
    std::map<int32_t, int> billedBefore;
    size_t invoicesBefore = 0;
    if (!BilledReceipts(root, billedBefore, invoicesBefore)) return 1;
    int gate[2];
    if (::pipe(gate) != 0) return Fail("no pipe"), 1;
    pid_t sessions[2] = {};
    for (int i = 0; i < 2; ++i) {
      sessions[i] = ::fork();
      if (sessions[i] < 0) return Fail("cannot fork"), 1;
      if (sessions[i] == 0) {
        ::close(gate[1]);
        RaceSession(gate[0], root, tmp + (i == 0 ? "a/" : "b/"));
      }
    }
    ::close(gate[0]);
    ::close(gate[1]);  // both sessions go now
    bool ended = true;
    for (pid_t session : sessions) {
      int status = 0;
      ended = ::waitpid(session, &status, 0) == session && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ended;
    }
    if (!ended) return Fail("a session did not end cleanly"), 1;
    std::map<int32_t, int> billed;
    size_t invoices = 0;
    if (!BilledReceipts(root, billed, invoices)) return 1;
    invoices -= invoicesBefore;
    // Twice: by any two invoices of the register, the earlier months' too.
    int repTwice = 0;
    int64_t byRace = 0;
    for (const auto& [position, times] : billed) {
      repTwice += times > 1 ? 1 : 0;
      const auto before = billedBefore.find(position);
      byRace += times - (before == billedBefore.end() ? 0 : before->second) > 0 ? 1 : 0;
    }
    // The runs settled as many receipts as their invoices billed.
    const int64_t settled = SettledReceipts(root + "DADES/CobramV.dat") - settledBefore;
    if (settled != byRace) ++unbilled;
    twice += repTwice;
    const size_t runs = archivedRuns() - runsBefore;
    // A race that registered nothing proves nothing.
    if (runs == 0 || invoices == 0) return Fail("neither session registered the month"), 1;
    std::printf("race %d: %zu runs registered, %zu invoices, %lld receipts billed, %lld settled, %d billed twice\n",
                rep + 1, runs, invoices, static_cast<long long>(byRace), static_cast<long long>(settled), repTwice);
    std::fflush(stdout);  // before the next forks, and to show progress
  }
  std::printf("race: %d repetitions of two sessions running %s at once: %d receipts billed twice (must be 0), "
              "%d repetitions whose settled receipts are not the billed ones (must be 0)\n",
              repeats, FormValues[0], twice, unbilled);
  return twice == 0 && unbilled == 0 ? 0 : 1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6 ||
      (argc == 6 && std::string(argv[5]) != "conserva" && std::string(argv[5]) != "first" &&
       std::string(argv[5]) != "race")) {
    std::fprintf(stderr, "usage: run_bench OFFICE INSTALL WORK [REPEATS [conserva|first|race]]\n");
    return 2;
  }
  const bool keep = argc == 6 && std::string(argv[5]) == "conserva";
  g_keep = keep;
  g_first = argc == 6 && std::string(argv[5]) == "first";
  const std::string office = std::string(argv[1]) + "/";
  const std::string install = std::string(argv[2]) + "/";
  const std::string work = std::string(argv[3]) + "/";
  const int repeats = argc >= 5 ? std::max(1, std::atoi(argv[4])) : 3;
  if (!fs::exists(office + "DADES/CobramV.dat")) {
    std::fprintf(stderr, "run_bench: %s holds no generated office (use bench/invoicing/run.sh)\n", office.c_str());
    return 1;
  }
  const std::string root = work + "root/";
  const std::string tmp = work + "tmp/";
  if (!MakeRoot(install, root, tmp)) return 1;
  if (keep ? !MakeKeepingRoot(root) : !MakeSendingRoot(root, work)) return 1;
  Session.RootDir = root;
  Session.TempDir = tmp;
  Session.Language = "CAT";
  ApplySessionScreenSettings();
  int groups = 0;
  if (LoadFormDefinitions(FormDefinitionPath(), groups) != FormsLoaded) {
    std::fprintf(stderr, "run_bench: cannot load %s\n", FormDefinitionPath().c_str());
    return 1;
  }

  if (argc == 6 && std::string(argv[5]) == "race") return Race(office, root, tmp, repeats);

  WatchSteps(root + "DADES/");
  std::vector<Repetition> reps(static_cast<size_t>(repeats));
  for (Repetition& r : reps) {
    if (!Repeat(office, root, tmp, r)) return 1;
    // Every registered record signed: the runs before the timed one too.
    if (keep && SignedRecords(root) < static_cast<int64_t>(r.registered)) {
      Fail("records kept unsigned");
      return 1;
    }
  }
  int16_t status = 0;
  ResetRecordFiles(status);

  // Every ratio is taken within its repetition, whose parts ran one after
  // the other (pass, run, twins), so that a slower stretch of a shared
  // machine weighs on both sides of it; the median of a repetition's ratios
  // and their range are printed.
  std::vector<double> pass, run, whole, passWall, runWall, share, settling, settlingTwin, append, appendTwin;
  std::vector<double> shareRatio, settlingRatio, appendRatio, floorRatio, settlingShare, appendShare, restShare;
  for (const Repetition& r : reps) {
    settling.push_back(r.settling);
    settlingTwin.push_back(r.settlingTwin);
    append.push_back(r.append);
    appendTwin.push_back(r.appendTwin);
    pass.push_back(r.pass.cpu);
    run.push_back(r.run.cpu);
    whole.push_back(r.whole.cpu);
    passWall.push_back(r.pass.wall);
    runWall.push_back(r.run.wall);
    const double s = r.run.cpu - r.pass.cpu;
    share.push_back(s);
    shareRatio.push_back(s / r.pass.cpu);
    settlingRatio.push_back(r.settling / r.settlingTwin);
    if (r.appended > 0) appendRatio.push_back(r.append / r.appendTwin);
    // The twins' storage work alone, over the pass: the share cannot fall
    // below it while the run writes what it writes.
    floorRatio.push_back((r.settlingTwin + (r.appended > 0 ? r.appendTwin : 0)) / r.pass.cpu);
    settlingShare.push_back(r.settling / r.pass.cpu);
    appendShare.push_back(r.append / r.pass.cpu);
    restShare.push_back((s - r.settling - r.append) / r.pass.cpu);
  }
  auto ratio = [](const std::vector<double>& v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2fx (%.2f to %.2f)", Median(v), *std::min_element(v.begin(), v.end()),
                  *std::max_element(v.begin(), v.end()));
    return std::string(text);
  };
  const Repetition& last = reps.back();
  const double passCpu = Median(pass);
  const double runCpu = Median(run);
  if (keep) std::printf("mode: conserva (each record signed, XAdES, as it is appended; the event log written)\n");
  if (g_first) std::printf("mode: first (no earlier run: the timed run settles the office's ten years)\n");
  std::printf("whole office's pass: %d pages, CPU %.3f s (properties 1 to 9999, beside the run's range)\n",
              last.wholePages, Median(whole));
  std::printf("pass: %d pages, CPU %.3f s, wall %.3f s\n", last.pages, passCpu, Median(passWall));
  std::printf("registered run: %zu invoices registered (%zu with a recipient NIF and their XML, the others "
              "confirmed), %lld receipts settled, CPU %.3f s, wall %.3f s\n",
              last.registered, last.withXml, static_cast<long long>(last.settled), runCpu, Median(runWall));
  std::printf("register's share: CPU %.3f s (run - pass; per repetition %.3f to %.3f s), share/pass %s "
              "(target 1.00x at most)\n",
              Median(share), *std::min_element(share.begin(), share.end()), *std::max_element(share.begin(), share.end()),
              ratio(shareRatio).c_str());
  std::printf("  of it, over the pass: settling %s, append %s, the rest %s; the twins' storage work alone "
              "%s\n",
              ratio(settlingShare).c_str(), ratio(appendShare).c_str(), ratio(restShare).c_str(),
              ratio(floorRatio).c_str());
  std::printf("settling: %lld receipts, CPU %.3f s; plain-SQLite twin (the same updates, file and checksum layer) "
              "%.3f s; %s (target 1.20x at most)\n",
              static_cast<long long>(last.settled), Median(settling), Median(settlingTwin),
              ratio(settlingRatio).c_str());
  if (!appendRatio.empty()) {
    std::printf("append: %zu records, CPU %.3f s (fingerprints, XML and seals too); plain-SQLite twin (the same "
                "bytes) %.3f s; %s (target 1.20x at most)\n",
                last.appended, Median(append), Median(appendTwin), ratio(appendRatio).c_str());
  } else {
    std::printf("append: the register was made by the timed run; no twin\n");
  }
  std::printf("memory: private (RssAnon, highest sampled) %.1f MiB; median of %d repetitions\n", Owned().MiB(),
              repeats);
  return 0;
}
