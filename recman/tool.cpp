#include "recman/tool.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <new>

#include "recman/definition.h"
#include "recman/layout.h"
#include "recman/maintenance.h"
#include "recman/recman.h"
#include "base/csv.h"
#include "base/files.h"

namespace {

constexpr char kUsage[] =
    "usage: recman create FILE DICTIONARY\n"
    "       recman load FILE RAWFILE [--owner NAME]\n"
    "       recman dump FILE [--key N] [--layout LAYOUT] [--owner NAME]\n"
    "       recman import FILE CSV LAYOUT [--owner NAME]\n"
    "       recman stat FILE [--owner NAME]\n"
    "       recman set-owner FILE NAME [--owner CURRENT]\n"
    "       recman clear-owner FILE NAME\n"
    "       recman check FILE\n"
    "       recman upgrade FILE [--owner NAME]\n";

struct Context {
  std::ostream& out;
  std::ostream& err;
};

// Largest input files the tool reads whole. A dictionary holds at most a
// 2-byte length and 32,767 bytes of creation block; a layout is a few lines a
// field; raw records and CSV rows are held in memory for one transaction.
constexpr size_t kMaxDictionaryBytes = 64u << 10;
constexpr size_t kMaxLayoutBytes = 1u << 20;
constexpr size_t kMaxLoadBytes = 512u << 20;

// Reads a whole input file: only a regular file of at most maxBytes, so that
// a directory, a device such as /dev/zero or a pipe is refused at once.
bool ReadInput(const std::string& path, size_t maxBytes, std::string& content, std::string& error) {
  switch (ReadRegularFile(path, content, maxBytes)) {
    case ReadResult::Ok:
      return true;
    case ReadResult::Missing:
      error = "cannot read " + path + ": no such file";
      return false;
    case ReadResult::NotRegular:
      error = "cannot read " + path + ": not a regular file (a directory or a device)";
      return false;
    case ReadResult::TooLarge:
      error = "cannot read " + path + ": larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    case ReadResult::Unreadable:
      break;
  }
  error = "cannot read " + path + ": permission denied or read error";
  return false;
}

// What the message of a failed open adds when the path names something that
// is no file at all.
std::string OpenFailure(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return "cannot open " + path + " (not a regular file: a directory or a device)";
  }
  return "cannot open " + path;
}

int Fail(Context& c, const std::string& what, int16_t status) {
  c.err << "recman: " << what << ": status " << status << " (" << RecordManagerStatusText(status) << ")\n";
  return 1;
}

// A failed open of a data file. A file with an owner name opens only under
// that name, which the tool never shows: the message says how to give it.
// how: the way the command takes the name.
int OpenFailed(Context& c, const std::string& path, int16_t status, const std::string& owner,
               const std::string& how = "--owner NAME") {
  Fail(c, OpenFailure(path), status);
  if (status == RmWrongOwner) {
    c.err << "recman: " << path << " has an owner name"
          << (owner.empty() ? "; give it with " + how : ", not the one given with " + how) << "\n";
  }
  return 1;
}

int Refuse(Context& c, const std::string& message) {
  c.err << "recman: " << message << "\n";
  return 1;
}

// An open data file, closed when it goes out of scope.
class DataFile {
 public:
  ~DataFile() {
    if (open_) {
      uint32_t len = 0;
      RecordManagerCall(RmClose, block_, nullptr, &len, nullptr, 0, 0);
    }
  }
  int16_t Open(const std::string& path, const std::string& owner) {
    std::string name = owner;
    name.push_back('\0');
    std::string key = path;
    key.push_back('\0');
    uint32_t len = static_cast<uint32_t>(name.size());
    const uint8_t keyLen = static_cast<uint8_t>(path.size() > 255 ? 255 : path.size());
    int16_t s = RecordManagerCall(RmOpen, block_, name.data(), &len, key.data(), keyLen, 0);
    open_ = s == RmSuccess;
    if (open_) s = Stat();
    return s;
  }
  int16_t Call(uint16_t op, void* data, uint32_t* len, int8_t keyNum) {
    return RecordManagerCall(op, block_, data, len, key_, 0, keyNum);
  }
  const FileDefinition& Definition() const { return def_; }
  uint32_t RecordCount() const { return count_; }

 private:
  int16_t Stat() {
    std::string reply(4096, '\0');
    uint32_t len = static_cast<uint32_t>(reply.size());
    int16_t s = Call(RmStat, reply.data(), &len, 0);
    if (s != RmSuccess) return s;
    const auto* b = reinterpret_cast<const uint8_t*>(reply.data());
    count_ = b[6] | (b[7] << 8) | (b[8] << 16) | (static_cast<uint32_t>(b[9]) << 24);
    return ParseFileDefinition(b, len, def_) == RmSuccess ? RmSuccess : RmIoError;
  }

  uint8_t block_[128] = {};
  uint8_t key_[256] = {};
  bool open_ = false;
  FileDefinition def_;
  uint32_t count_ = 0;
};

// Inserts `count` records of the file's record length in one transaction;
// on any failure nothing stays. `record(i)` gives record i's bytes, `where(i)`
// names it for the message.
template <typename Record, typename Where>
int InsertAll(Context& c, DataFile& file, const std::string& path, size_t count, Record record, Where where) {
  uint32_t len = 0;
  int16_t s = file.Call(RmBeginTransaction, nullptr, &len, 0);
  if (s != RmSuccess) return Fail(c, "cannot begin a transaction on " + path, s);
  for (size_t i = 0; i < count; ++i) {
    len = file.Definition().recordLength;
    s = file.Call(RmInsert, record(i), &len, -1);
    if (s != RmSuccess) {
      file.Call(RmAbortTransaction, nullptr, &len, 0);
      return Fail(c, "cannot insert " + where(i) + " into " + path + "; nothing was inserted", s);
    }
  }
  s = file.Call(RmEndTransaction, nullptr, &len, 0);
  if (s != RmSuccess) return Fail(c, "cannot commit the records to " + path + "; nothing was inserted", s);
  c.out << "inserted " << count << " records into " << path << "\n";
  return 0;
}

int Create(Context& c, const std::string& path, const std::string& dictionary) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return Refuse(c, "cannot create " + path + ": a directory or a device is there");
  }
  std::string content, error;
  if (!ReadInput(dictionary, kMaxDictionaryBytes, content, error)) return Refuse(c, error);
  if (content.size() < 2) return Refuse(c, "dictionary " + dictionary + " is too short to hold a length");
  const int16_t n = static_cast<int16_t>(static_cast<uint8_t>(content[0]) | (static_cast<uint8_t>(content[1]) << 8));
  if (n <= 0 || static_cast<size_t>(n) > content.size() - 2) {
    return Refuse(c, "dictionary " + dictionary + " declares " + std::to_string(n) + " bytes but holds " +
                         std::to_string(content.size() - 2));
  }
  std::string block = content.substr(2, static_cast<size_t>(n));
  std::string key = path;
  key.push_back('\0');
  uint8_t pos[128] = {};
  uint32_t len = static_cast<uint32_t>(block.size());
  const int16_t s = RecordManagerCall(RmCreate, pos, block.data(), &len, key.data(),
                                      static_cast<uint8_t>(path.size() > 255 ? 255 : path.size()), -1);
  if (s != RmSuccess) return Fail(c, "cannot create " + path, s);
  c.out << "created " << path << "\n";
  return 0;
}

int Load(Context& c, const std::string& path, const std::string& raw, const std::string& owner) {
  DataFile file;
  int16_t s = file.Open(path, owner);
  if (s != RmSuccess) return OpenFailed(c, path, s, owner);
  std::string content, error;
  if (!ReadInput(raw, kMaxLoadBytes, content, error)) return Refuse(c, error);
  const size_t length = file.Definition().recordLength;
  if (content.size() % length != 0) {
    return Refuse(c, raw + " holds " + std::to_string(content.size()) + " bytes, not a whole number of " +
                         std::to_string(length) + "-byte records; nothing was inserted");
  }
  return InsertAll(
      c, file, path, content.size() / length, [&](size_t i) { return content.data() + i * length; },
      [](size_t i) { return "record " + std::to_string(i + 1); });
}

bool LoadLayout(Context& c, const std::string& layoutPath, size_t recordLength, std::vector<LayoutField>& fields) {
  std::string text, error;
  if (!ReadInput(layoutPath, kMaxLayoutBytes, text, error)) {
    Refuse(c, error);
    return false;
  }
  if (!ParseFieldLayout(text, fields, error) || !CheckLayoutFits(fields, recordLength, error)) {
    Refuse(c, "layout " + layoutPath + ": " + error);
    return false;
  }
  return true;
}

int Import(Context& c, const std::string& path, const std::string& csvPath, const std::string& layoutPath,
           const std::string& owner) {
  DataFile file;
  int16_t s = file.Open(path, owner);
  if (s != RmSuccess) return OpenFailed(c, path, s, owner);
  const size_t length = file.Definition().recordLength;
  std::vector<LayoutField> fields;
  if (!LoadLayout(c, layoutPath, length, fields)) return 1;
  std::string text, error;
  if (!ReadInput(csvPath, kMaxLoadBytes, text, error)) return Refuse(c, error);
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<CsvRow> rows;
  if (!ParseCsv(text, rows, error)) return Refuse(c, csvPath + ": " + error + "; nothing was inserted");
  if (rows.empty()) return Refuse(c, csvPath + ": no header row; nothing was inserted");

  // Which field each column fills.
  const CsvRow& header = rows[0];
  std::vector<size_t> fieldOfColumn;
  std::vector<bool> covered(fields.size(), false);
  for (size_t col = 0; col < header.cells.size(); ++col) {
    size_t f = 0;
    while (f < fields.size() && fields[f].name != header.cells[col]) ++f;
    if (f == fields.size()) {
      return Refuse(c, csvPath + ": line 1, column " + std::to_string(col + 1) + ": \"" + header.cells[col] +
                           "\" is not a field of the layout; nothing was inserted");
    }
    if (covered[f]) {
      return Refuse(c, csvPath + ": line 1, column " + std::to_string(col + 1) + ": \"" + header.cells[col] +
                           "\" appears twice; nothing was inserted");
    }
    covered[f] = true;
    fieldOfColumn.push_back(f);
  }

  std::vector<std::string> records;
  std::vector<size_t> lines;
  for (size_t r = 1; r < rows.size(); ++r) {
    const CsvRow& row = rows[r];
    if (row.cells.size() == 1 && row.cells[0].empty() && header.cells.size() != 1) continue;  // blank line
    if (row.cells.size() != header.cells.size()) {
      return Refuse(c, csvPath + ": line " + std::to_string(row.line) + ": " + std::to_string(row.cells.size()) +
                           " cells where the header has " + std::to_string(header.cells.size()) +
                           "; nothing was inserted");
    }
    std::string record(length, ' ');
    auto* bytes = reinterpret_cast<uint8_t*>(record.data());
    for (size_t f = 0; f < fields.size(); ++f) {
      if (!covered[f]) CellToField(fields[f], std::string(), bytes, error);
    }
    for (size_t col = 0; col < row.cells.size(); ++col) {
      const LayoutField& field = fields[fieldOfColumn[col]];
      if (!CellToField(field, row.cells[col], bytes, error)) {
        return Refuse(c, csvPath + ": line " + std::to_string(row.line) + ", column " + std::to_string(col + 1) +
                             " (" + field.name + "): " + error + "; nothing was inserted");
      }
    }
    records.push_back(std::move(record));
    lines.push_back(row.line);
  }
  return InsertAll(
      c, file, path, records.size(), [&](size_t i) { return records[i].data(); },
      [&](size_t i) { return "the row of line " + std::to_string(lines[i]); });
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

int Dump(Context& c, const std::string& path, int keyNum, const std::string& layoutPath, const std::string& owner) {
  DataFile file;
  int16_t s = file.Open(path, owner);
  if (s != RmSuccess) return OpenFailed(c, path, s, owner);
  const size_t length = file.Definition().recordLength;
  if (keyNum < 0 || static_cast<size_t>(keyNum) >= file.Definition().keys.size()) {
    return Refuse(c, path + " has " + std::to_string(file.Definition().keys.size()) + " keys; there is no key " +
                         std::to_string(keyNum));
  }
  std::vector<LayoutField> fields;
  const bool csv = !layoutPath.empty();
  if (csv) {
    if (!LoadLayout(c, layoutPath, length, fields)) return 1;
    std::vector<std::string> names;
    for (const LayoutField& f : fields) names.push_back(f.name);
    c.out << CsvLine(names) << "\r\n";
  }
  std::string record(length, '\0');
  uint16_t op = RmGetFirst;
  while (true) {
    uint32_t len = static_cast<uint32_t>(length);
    s = file.Call(op, record.data(), &len, static_cast<int8_t>(keyNum));
    if (s == RmEndOfFile) break;
    if (s != RmSuccess) return Fail(c, "cannot read " + path, s);
    if (csv) {
      std::vector<std::string> cells;
      for (const LayoutField& f : fields) cells.push_back(FieldToCell(f, reinterpret_cast<const uint8_t*>(record.data())));
      c.out << CsvLine(cells) << "\r\n";
    } else {
      c.out << Hex(record.substr(0, len)) << "\n";
    }
    op = RmGetNext;
  }
  return 0;
}

int Stat(Context& c, const std::string& path, const std::string& owner) {
  DataFile file;
  const int16_t s = file.Open(path, owner);
  if (s != RmSuccess) return OpenFailed(c, path, s, owner);
  const FileDefinition& def = file.Definition();
  c.out << "record length " << def.recordLength << "\n"
        << "page size " << def.pageSize << "\n"
        << "keys " << def.keys.size() << "\n";
  for (size_t k = 0; k < def.keys.size(); ++k) {
    const KeyDefinition& key = def.keys[k];
    c.out << "key " << k << ": length " << key.length << (key.duplicates ? ", duplicates" : ", unique")
          << (key.modifiable ? ", modifiable" : "") << "\n";
    for (const SegmentDefinition& seg : key.segments) {
      c.out << "  segment at " << seg.position << ", length " << seg.length;
      if (seg.flags & RmBinary) c.out << ", binary";
      if (seg.flags & RmAlternateCollation) c.out << ", alternate collation";
      if (seg.flags & RmDescending) c.out << ", descending";
      c.out << "\n";
    }
  }
  c.out << "records " << file.RecordCount() << "\n";
  return 0;
}

int Owner(Context& c, const std::string& path, const std::string& name, bool set, const std::string& current) {
  DataFile file;
  int16_t s = file.Open(path, set ? current : name);
  if (s != RmSuccess) {
    return set ? OpenFailed(c, path, s, current, "--owner CURRENT") : OpenFailed(c, path, s, name, "NAME");
  }
  std::string data = name;
  data.push_back('\0');
  uint32_t len = static_cast<uint32_t>(data.size());
  s = file.Call(set ? RmSetOwner : RmClearOwner, data.data(), &len, 0);
  if (s != RmSuccess) return Fail(c, std::string("cannot ") + (set ? "set" : "clear") + " the owner of " + path, s);
  c.out << (set ? "owner set on " : "owner cleared on ") << path << "\n";
  return 0;
}

// Walks a whole file: every page against its checksum, both copies of every
// record, every key entry against the record's bytes. Lists what is damaged;
// exit 1 when anything is.
int Check(Context& c, const std::string& path) {
  const RecordFileCheck report = CheckRecordFile(path);
  if (report.status != RmSuccess) return Fail(c, OpenFailure(path), report.status);
  for (const std::string& problem : report.problems) c.out << path << ": " << problem << "\n";
  c.out << path << ": " << report.pages << " pages, " << report.records << " records, "
        << (report.checksums ? "page checksums" : "no page checksums (recman upgrade gives them)") << ", "
        << (report.problems.empty() ? "no damage found" : std::to_string(report.problems.size()) + " damaged")
        << "\n";
  return report.problems.empty() ? 0 : 1;
}

// Gives a file made before page checksums its checksums, and drops the
// covering index of a file that asked for none.
int Upgrade(Context& c, const std::string& path, const std::string& owner) {
  {
    DataFile file;  // the owner name is asked for as by any other command that changes the file
    const int16_t s = file.Open(path, owner);
    if (s != RmSuccess) return OpenFailed(c, path, s, owner);
  }
  bool already = false;
  bool uncovered = false;
  const int16_t s = UpgradeRecordFile(path, already, &uncovered);
  if (s == RmIoError) {
    return Refuse(c, "cannot upgrade " + path + ": it is damaged or cannot be read (recman check " + path +
                         " lists what); nothing was changed");
  }
  if (s != RmSuccess) return Fail(c, "cannot upgrade " + path + "; nothing was changed", s);
  if (uncovered) c.out << path << ": covering index of key 0 dropped, as the file's creation asked\n";
  else c.out << path << (already ? ": already has page checksums\n" : ": page checksums added\n");
  return 0;
}

int Usage(Context& c, const std::string& why) {
  c.err << "recman: " << why << "\n" << kUsage;
  return 2;
}

int RunCommand(Context& c, const std::vector<std::string>& args) {
  std::vector<std::string> plain;
  std::map<std::string, std::string> options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      c.out << kUsage;
      return 0;
    }
    if (a == "--key" || a == "--layout" || a == "--owner") {
      if (i + 1 >= args.size()) return Usage(c, a + " needs a value");
      if (options.count(a) != 0) return Usage(c, a + " given twice");
      options[a] = args[++i];
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return Usage(c, "unknown option " + a);
    } else {
      plain.push_back(a);
    }
  }
  if (plain.empty()) return Usage(c, "no command");
  const std::string& cmd = plain[0];
  auto allowOnly = [&](std::initializer_list<const char*> allowed) {
    for (const auto& [name, value] : options) {
      bool ok = false;
      for (const char* a : allowed) ok = ok || name == a;
      if (!ok) return false;
    }
    return true;
  };
  const std::string owner = options.count("--owner") ? options["--owner"] : std::string();
  if (cmd == "create") {
    if (plain.size() != 3 || !allowOnly({})) return Usage(c, "create takes FILE DICTIONARY");
    return Create(c, plain[1], plain[2]);
  }
  if (cmd == "load") {
    if (plain.size() != 3 || !allowOnly({"--owner"})) return Usage(c, "load takes FILE RAWFILE");
    return Load(c, plain[1], plain[2], owner);
  }
  if (cmd == "dump") {
    if (plain.size() != 2 || !allowOnly({"--key", "--layout", "--owner"})) return Usage(c, "dump takes FILE");
    int keyNum = 0;
    if (options.count("--key")) {
      const std::string& k = options["--key"];
      if (k.empty() || k.size() > 3 || k.find_first_not_of("0123456789") != std::string::npos) {
        return Usage(c, "--key takes a key number");
      }
      keyNum = std::stoi(k);
    }
    return Dump(c, plain[1], keyNum, options.count("--layout") ? options["--layout"] : std::string(), owner);
  }
  if (cmd == "import") {
    if (plain.size() != 4 || !allowOnly({"--owner"})) return Usage(c, "import takes FILE CSV LAYOUT");
    return Import(c, plain[1], plain[2], plain[3], owner);
  }
  if (cmd == "stat") {
    if (plain.size() != 2 || !allowOnly({"--owner"})) return Usage(c, "stat takes FILE");
    return Stat(c, plain[1], owner);
  }
  if (cmd == "set-owner" || cmd == "clear-owner") {
    const bool set = cmd == "set-owner";
    if (plain.size() != 3 || !allowOnly(set ? std::initializer_list<const char*>{"--owner"}
                                             : std::initializer_list<const char*>{})) {
      return Usage(c, cmd + " takes FILE NAME");
    }
    return Owner(c, plain[1], plain[2], set, owner);
  }
  if (cmd == "check") {
    if (plain.size() != 2 || !allowOnly({})) return Usage(c, "check takes FILE");
    return Check(c, plain[1]);
  }
  if (cmd == "upgrade") {
    if (plain.size() != 2 || !allowOnly({"--owner"})) return Usage(c, "upgrade takes FILE");
    return Upgrade(c, plain[1], owner);
  }
  return Usage(c, "unknown command " + cmd);
}

}  // namespace

int RunRecmanTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Context c{out, err};
  try {
    return RunCommand(c, args);
  } catch (const std::bad_alloc&) {
    return Refuse(c, "out of memory; nothing was changed");
  } catch (const std::exception& e) {
    return Refuse(c, std::string("unexpected failure: ") + e.what());
  }
}
