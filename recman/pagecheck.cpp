#include "recman/pagecheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <mutex>
#include <new>

namespace pagecheck {

namespace {

constexpr uint8_t kMark[4] = {'K', 'V', 'C', '1'};
constexpr int kWalHeaderBytes = 32;
constexpr int kFrameHeaderBytes = 24;

// ---- CRC-32C -------------------------------------------------------------------

std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
    t[i] = c;
  }
  return t;
}

uint32_t Crc32cTable(uint32_t crc, const uint8_t* p, size_t n) {
  static const std::array<uint32_t, 256> table = MakeTable();
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(__x86_64__)
// Pages are hashed in blocks of three lanes run side by side, which keeps
// the instruction's pipeline full; the lanes are joined by moving a lane's
// sum past the bytes after it (feeding it zero bytes), a linear map done by
// four tables of 256 entries made once.
constexpr size_t kLane = 1360;  // bytes per lane (a multiple of 8): 3 lanes fit a 4 KiB page

struct LaneShift {
  std::array<std::array<uint32_t, 256>, 4> t{};
  LaneShift() {
    const std::array<uint32_t, 256> table = MakeTable();
    for (int j = 0; j < 4; ++j) {
      for (uint32_t v = 0; v < 256; ++v) {
        uint32_t c = v << (8 * j);
        for (size_t i = 0; i < kLane; ++i) c = table[c & 0xFF] ^ (c >> 8);
        t[static_cast<size_t>(j)][v] = c;
      }
    }
  }
  uint32_t operator()(uint32_t c) const {
    return t[0][c & 0xFF] ^ t[1][(c >> 8) & 0xFF] ^ t[2][(c >> 16) & 0xFF] ^ t[3][c >> 24];
  }
};

__attribute__((target("sse4.2"))) uint32_t Crc32cHardware(uint32_t crc, const uint8_t* p, size_t n) {
  uint64_t c = crc;
  while (n > 0 && (reinterpret_cast<uintptr_t>(p) & 7) != 0) {
    c = __builtin_ia32_crc32qi(static_cast<uint32_t>(c), *p++);
    --n;
  }
  static const LaneShift shift;
  while (n >= 3 * kLane) {
    uint64_t c1 = 0, c2 = 0;
    const uint8_t* a = p;
    const uint8_t* b = p + kLane;
    const uint8_t* d = p + 2 * kLane;
    for (size_t i = 0; i < kLane; i += 8) {
      uint64_t wa, wb, wd;
      std::memcpy(&wa, a + i, 8);
      std::memcpy(&wb, b + i, 8);
      std::memcpy(&wd, d + i, 8);
      c = __builtin_ia32_crc32di(c, wa);
      c1 = __builtin_ia32_crc32di(c1, wb);
      c2 = __builtin_ia32_crc32di(c2, wd);
    }
    c = shift(static_cast<uint32_t>(c)) ^ static_cast<uint32_t>(c1);
    c = shift(static_cast<uint32_t>(c)) ^ static_cast<uint32_t>(c2);
    p += 3 * kLane;
    n -= 3 * kLane;
  }
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    c = __builtin_ia32_crc32di(c, w);
    p += 8;
    n -= 8;
  }
  while (n > 0) {
    c = __builtin_ia32_crc32qi(static_cast<uint32_t>(c), *p++);
    --n;
  }
  return static_cast<uint32_t>(c);
}

bool HasHardwareCrc() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}
#endif

}  // namespace

uint32_t Crc32c(uint32_t crc, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
#if defined(__x86_64__)
  if (HasHardwareCrc()) return ~Crc32cHardware(crc, p, n);
#endif
  return ~Crc32cTable(crc, p, n);
}

namespace {

uint32_t PageSum(const uint8_t* page, size_t size, uint32_t pageNumber) {
  const uint8_t number[4] = {static_cast<uint8_t>(pageNumber), static_cast<uint8_t>(pageNumber >> 8),
                             static_cast<uint8_t>(pageNumber >> 16), static_cast<uint8_t>(pageNumber >> 24)};
  return Crc32c(Crc32c(0, number, 4), page, size - kReserveBytes);
}

}  // namespace

void Seal(uint8_t* page, size_t size, uint32_t pageNumber) {
  const uint32_t sum = PageSum(page, size, pageNumber);
  uint8_t* tail = page + size - kReserveBytes;
  for (int i = 0; i < 4; ++i) tail[i] = static_cast<uint8_t>(sum >> (8 * i));
  std::memcpy(tail + 4, kMark, 4);
}

bool Sound(const uint8_t* page, size_t size, uint32_t pageNumber) {
  const uint8_t* tail = page + size - kReserveBytes;
  if (std::memcmp(tail + 4, kMark, 4) != 0) return false;
  const uint32_t stored = static_cast<uint32_t>(tail[0]) | (static_cast<uint32_t>(tail[1]) << 8) |
                          (static_cast<uint32_t>(tail[2]) << 16) | (static_cast<uint32_t>(tail[3]) << 24);
  return stored == PageSum(page, size, pageNumber);
}

namespace {

bool IsPageSize(int n) { return n >= 512 && n <= 65536 && (n & (n - 1)) == 0; }

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint32_t PageSizeOf(const uint8_t* header) {
  const uint32_t size = (static_cast<uint32_t>(header[16]) << 8) | header[17];
  return size == 1 ? 65536 : size;
}

// A header (the first 100 bytes at least) of a file with checksums: 8
// reserved bytes per page.
bool HeaderSaysChecked(const uint8_t* header) { return header[20] == kReserveBytes; }

// ---- the layer -------------------------------------------------------------------

struct File {
  sqlite3_file base;  // must come first
  sqlite3_file* real;  // the system layer's file, right after this struct
  bool mainDb = false;
  bool wal = false;
  // A database file: whether it keeps checksums, its page size, the first
  // region of its shared index (for the log's committed frames), and which
  // interior pages were found sound since the last lock change (by
  // generation).
  bool checked = false;
  uint32_t pageSize = 0;
  const volatile uint8_t* shm = nullptr;
  uint32_t generation = 1;
  std::vector<uint32_t> sound;  // per page (from 1): the generation it was found sound in
  File* owner = nullptr;        // a log: its database file
};

sqlite3_vfs g_vfs;
sqlite3_vfs* g_real = nullptr;
sqlite3_io_methods g_methods;

File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

// Notes a database file's header as read or written at offset 0.
void NoteHeader(File& f, const void* data, int amount) {
  if (amount < 100) return;
  const auto* h = static_cast<const uint8_t*>(data);
  if (std::memcmp(h, "SQLite format 3", 16) != 0) return;
  const uint32_t size = PageSizeOf(h);
  if (!IsPageSize(static_cast<int>(size))) return;
  f.pageSize = size;
  if (HeaderSaysChecked(h)) f.checked = true;
  // The mark of page 1 stands for the file too: a header damaged to claim
  // no reserved bytes must not switch the checks off.
  if (static_cast<uint32_t>(amount) >= size && std::memcmp(h + size - 4, kMark, 4) == 0) f.checked = true;
}

bool MainPageCheck(File& f, const uint8_t* page, int amount, sqlite3_int64 offset) {
  if (!f.checked || static_cast<uint32_t>(amount) != f.pageSize) return true;
  const auto number = static_cast<uint32_t>(offset / amount) + 1;
  if (number < f.sound.size() && f.sound[number] == f.generation) return true;
  if (!Sound(page, static_cast<size_t>(amount), number)) return false;
  // Only interior pages of the trees (type 2 or 5), which every seek goes
  // through again, are remembered: a page that holds records is checked at
  // every fetch, so that damage done while a reader goes on is found at its
  // next visit.
  const uint8_t type = page[number == 1 ? 100 : 0];
  if (type != 2 && type != 5) return true;
  if (number >= f.sound.size()) {
    if (number > (1u << 26)) return true;  // beyond 256 GiB of 4 KiB pages: not remembered
    f.sound.resize(std::max<size_t>(number + 1, f.sound.size() * 2), 0);
  }
  f.sound[number] = f.generation;
  return true;
}

// The log's own chained checksum (two 32-bit sums over 32-bit words).
void WalSum(bool native, const uint8_t* data, size_t n, uint32_t& s1, uint32_t& s2) {
  for (size_t i = 0; i + 8 <= n; i += 8) {
    uint32_t a, b;
    std::memcpy(&a, data + i, 4);
    std::memcpy(&b, data + i + 4, 4);
    if (!native) {
      a = __builtin_bswap32(a);
      b = __builtin_bswap32(b);
    }
    s1 += a + s2;
    s2 += b + s1;
  }
}

// Checks a page read from the log at `offset` against the chained checksum
// of its frame. Only frames the shared index counts as committed are
// judged: a writer's own frames beyond them may be rewritten in place before
// its commit puts their checksums right.
int WalPageCheck(File& f, const uint8_t* page, int amount, sqlite3_int64 offset) {
  File* db = f.owner;
  if (db == nullptr || !db->checked || db->shm == nullptr || static_cast<uint32_t>(amount) != db->pageSize) {
    return SQLITE_OK;
  }
  const sqlite3_int64 frameBytes = amount + kFrameHeaderBytes;
  const sqlite3_int64 rel = offset - kWalHeaderBytes - kFrameHeaderBytes;
  if (rel < 0 || rel % frameBytes != 0) return SQLITE_OK;
  const auto frame = static_cast<uint32_t>(rel / frameBytes) + 1;
  uint32_t mxFrame;
  std::memcpy(&mxFrame, const_cast<const uint8_t*>(db->shm) + 16, 4);
  if (frame > mxFrame) return SQLITE_OK;
  // The previous checksum: the log header's for frame 1, else the previous frame's.
  uint8_t header[kWalHeaderBytes];
  if (f.real->pMethods->xRead(f.real, header, kWalHeaderBytes, 0) != SQLITE_OK) return SQLITE_OK;
  uint8_t prev[kFrameHeaderBytes], mine[kFrameHeaderBytes];
  const uint8_t* previous = header + 24;
  if (frame > 1) {
    if (f.real->pMethods->xRead(f.real, prev, kFrameHeaderBytes, offset - frameBytes - kFrameHeaderBytes) !=
        SQLITE_OK) {
      return SQLITE_OK;
    }
    previous = prev + 16;
  }
  if (f.real->pMethods->xRead(f.real, mine, kFrameHeaderBytes, offset - kFrameHeaderBytes) != SQLITE_OK) {
    return SQLITE_OK;
  }
  const bool bigEndian = (Be32(header) & 1) != 0;
  const bool native = !bigEndian;  // little-endian machines only (x86-64, arm64)
  uint32_t s1 = Be32(previous), s2 = Be32(previous + 4);
  WalSum(native, mine, 8, s1, s2);
  WalSum(native, page, static_cast<size_t>(amount), s1, s2);
  const bool salts = std::memcmp(mine + 8, header + 16, 8) == 0;
  return salts && s1 == Be32(mine + 16) && s2 == Be32(mine + 20) ? SQLITE_OK : SQLITE_IOERR_DATA;
}

int Close(sqlite3_file* file) {
  File* f = Of(file);
  const int rc = f->real->pMethods != nullptr ? f->real->pMethods->xClose(f->real) : SQLITE_OK;
  f->sound.~vector();
  return rc;
}

int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  File* f = Of(file);
  const int rc = f->real->pMethods->xRead(f->real, out, amount, offset);
  if (rc != SQLITE_OK) return rc;
  if (f->mainDb) {
    if (offset == 0) NoteHeader(*f, out, amount);
    if (!MainPageCheck(*f, static_cast<const uint8_t*>(out), amount, offset)) return SQLITE_IOERR_DATA;
  } else if (f->wal) {
    return WalPageCheck(*f, static_cast<const uint8_t*>(out), amount, offset);
  }
  return SQLITE_OK;
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  File* f = Of(file);
  if (f->mainDb) {
    if (offset == 0) NoteHeader(*f, data, amount);
    ++f->generation;
    if (f->checked && static_cast<uint32_t>(amount) == f->pageSize) {
      thread_local std::vector<uint8_t> copy;
      copy.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + amount);
      Seal(copy.data(), copy.size(), static_cast<uint32_t>(offset / amount) + 1);
      return f->real->pMethods->xWrite(f->real, copy.data(), amount, offset);
    }
  }
  return f->real->pMethods->xWrite(f->real, data, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  ++Of(file)->generation;
  return Of(file)->real->pMethods->xTruncate(Of(file)->real, size);
}
int Sync(sqlite3_file* file, int flags) { return Of(file)->real->pMethods->xSync(Of(file)->real, flags); }
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  return Of(file)->real->pMethods->xFileSize(Of(file)->real, size);
}
int Lock(sqlite3_file* file, int level) {
  ++Of(file)->generation;
  return Of(file)->real->pMethods->xLock(Of(file)->real, level);
}
int Unlock(sqlite3_file* file, int level) { return Of(file)->real->pMethods->xUnlock(Of(file)->real, level); }
int CheckReservedLock(sqlite3_file* file, int* out) {
  return Of(file)->real->pMethods->xCheckReservedLock(Of(file)->real, out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
  return Of(file)->real->pMethods->xFileControl(Of(file)->real, op, arg);
}
int SectorSize(sqlite3_file* file) { return Of(file)->real->pMethods->xSectorSize(Of(file)->real); }
int DeviceCharacteristics(sqlite3_file* file) {
  return Of(file)->real->pMethods->xDeviceCharacteristics(Of(file)->real);
}
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
  File* f = Of(file);
  const int rc = f->real->pMethods->xShmMap(f->real, region, size, extend, out);
  if (rc == SQLITE_OK && region == 0 && *out != nullptr) f->shm = static_cast<const volatile uint8_t*>(*out);
  return rc;
}
// Every lock change may start a read of another state of the file: pages
// found sound before must be checked again (another process may have
// checkpointed over them, or the file been damaged since).
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  ++Of(file)->generation;
  return Of(file)->real->pMethods->xShmLock(Of(file)->real, offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { Of(file)->real->pMethods->xShmBarrier(Of(file)->real); }
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  Of(file)->shm = nullptr;
  return Of(file)->real->pMethods->xShmUnmap(Of(file)->real, deleteFlag);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  File* f = Of(file);
  const int rc = f->real->pMethods->xFetch(f->real, offset, amount, out);
  if (rc != SQLITE_OK || *out == nullptr || !f->mainDb) return rc;
  if (!MainPageCheck(*f, static_cast<const uint8_t*>(*out), amount, offset)) {
    f->real->pMethods->xUnfetch(f->real, offset, *out);
    *out = nullptr;
    return SQLITE_IOERR_DATA;
  }
  return SQLITE_OK;
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* p) {
  return Of(file)->real->pMethods->xUnfetch(Of(file)->real, offset, p);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  File* f = new (file) File();
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->mainDb = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  f->wal = (flags & SQLITE_OPEN_WAL) != 0;
  const int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
  if (rc != SQLITE_OK) {
    f->sound.~vector();
    file->pMethods = nullptr;
    return rc;
  }
  if (f->mainDb) {
    if (name != nullptr && sqlite3_uri_boolean(name, kMakeParameter, 0)) f->checked = true;
    uint8_t h[100];
    sqlite3_int64 size = 0;
    if (f->real->pMethods->xFileSize(f->real, &size) == SQLITE_OK && size >= 100 &&
        f->real->pMethods->xRead(f->real, h, 100, 0) == SQLITE_OK) {
      NoteHeader(*f, h, 100);
      // The mark at the end of page 1, read apart.
      uint8_t mark[4];
      if (f->pageSize != 0 && size >= f->pageSize &&
          f->real->pMethods->xRead(f->real, mark, 4, f->pageSize - 4) == SQLITE_OK &&
          std::memcmp(mark, kMark, 4) == 0) {
        f->checked = true;
      }
    }
  } else if (f->wal && name != nullptr) {
    f->owner = Of(sqlite3_database_file_object(name));
    if (f->owner != nullptr && f->owner->base.pMethods != &g_methods) f->owner = nullptr;
  }
  file->pMethods = &g_methods;
  return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return g_real->xDelete(g_real, name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int n, char* out) { g_real->xDlError(g_real, n, out); }
void (*DlSym(sqlite3_vfs*, void* h, const char* sym))(void) { return g_real->xDlSym(g_real, h, sym); }
void DlClose(sqlite3_vfs*, void* h) { g_real->xDlClose(g_real, h); }
int Randomness(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int Sleep(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

}  // namespace

const char* VfsName() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_real = sqlite3_vfs_find(nullptr);
    g_methods = sqlite3_io_methods{3,        Close,      Read,      Write,  Truncate,    Sync,
                                   FileSize, Lock,       Unlock,    CheckReservedLock,   FileControl,
                                   SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier,
                                   ShmUnmap, Fetch,      Unfetch};
    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
    g_vfs.mxPathname = g_real->mxPathname;
    g_vfs.zName = "korvadel-checked";
    g_vfs.xOpen = Open;
    g_vfs.xDelete = Delete;
    g_vfs.xAccess = Access;
    g_vfs.xFullPathname = FullPathname;
    g_vfs.xDlOpen = DlOpen;
    g_vfs.xDlError = DlError;
    g_vfs.xDlSym = DlSym;
    g_vfs.xDlClose = DlClose;
    g_vfs.xRandomness = Randomness;
    g_vfs.xSleep = Sleep;
    g_vfs.xCurrentTime = CurrentTime;
    g_vfs.xGetLastError = GetLastError;
    g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    sqlite3_vfs_register(&g_vfs, 0);
  });
  return g_vfs.zName;
}

FileReport CheckPages(const std::string& path) {
  FileReport report;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return report;
  uint8_t h[100];
  struct stat st {};
  if (::fstat(fd, &st) != 0 || ::pread(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h) ||
      std::memcmp(h, "SQLite format 3", 16) != 0 || !IsPageSize(static_cast<int>(PageSizeOf(h)))) {
    ::close(fd);
    return report;
  }
  report.readable = true;
  report.pageSize = PageSizeOf(h);
  report.pages = static_cast<uint32_t>(st.st_size / report.pageSize);
  std::vector<uint8_t> page(report.pageSize);
  for (uint32_t n = 1; n <= report.pages; ++n) {
    const ssize_t got = ::pread(fd, page.data(), page.size(), static_cast<off_t>(n - 1) * report.pageSize);
    if (got != static_cast<ssize_t>(page.size())) {
      report.damaged.push_back(n);
      continue;
    }
    if (n == 1) {
      report.checked = HeaderSaysChecked(page.data()) || std::memcmp(page.data() + page.size() - 4, kMark, 4) == 0;
      if (!report.checked) break;
    }
    if (!Sound(page.data(), page.size(), n)) report.damaged.push_back(n);
  }
  ::close(fd);
  return report;
}

}  // namespace pagecheck
