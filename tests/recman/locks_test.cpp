// Record locks across handles and processes, and walking while another
// process writes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <utility>

#include "recman/fault.h"
#include "recman/locks.h"
#include "recman/pagecheck.h"
#include "support.h"
#include "tests/support/fork_gate.h"

namespace {

constexpr uint16_t kLength = 16;

std::string MakeLockFile(const TempDir& dir) {
  const std::string path = dir.File("locks.dat");
  if (CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})) != RmSuccess) return std::string();
  Handle h;
  if (h.Open(path) != RmSuccess) return std::string();
  for (const char* r : {"0001", "0002", "0003"}) {
    if (h.Insert(Record(r, kLength)) != RmSuccess) return std::string();
  }
  return path;
}

// A child process holding a handle on `path`: it runs `hold` on the handle,
// reports the status, then waits for the word to go and either closes its
// handle or dies without closing it. With otherUser it runs as another user
// (see BecomeOtherUser) and reports 5 when it cannot.
class Holder {
 public:
  template <typename Hold>
  Holder(const std::string& path, Hold hold, bool otherUser = false)
      : child_([&](ForkGate& gate) -> int {
          if (otherUser && !BecomeOtherUser()) return gate.Send(5) ? 5 : 3;
          Handle h;
          int16_t status = h.Open(path);
          if (status == RmSuccess) status = hold(h);
          if (!gate.Send(static_cast<char>(status))) ::_exit(3);
          const int word = gate.Receive();
          if (word < 0) ::_exit(4);
          if (word == 'c') h.Close();
          ::_exit(0);  // dying with the handle open drops its locks too
        }) {
    const int report = child_.Receive();
    if (report >= 0) status_ = static_cast<signed char>(report);
  }
  ~Holder() { Finish('d'); }
  // 'c': close the handle and exit; 'd': exit without closing. The child's
  // exit status, -1 when it is gone already.
  int Finish(char word) { return child_.Send(word) ? child_.Wait() : -1; }
  int16_t status() const { return status_; }

 private:
  ForkGate child_;
  int16_t status_ = -1;
};

// What lets another process's lock go, run the first time a request of
// this process waits for the record (and never when none waits), so that a
// test of waiting knows that the request waited.
std::function<void()> g_letGo;
class LetGoOnWait {
 public:
  explicit LetGoOnWait(std::function<void()> letGo) {
    g_letGo = std::move(letGo);
    g_lockWaitObserver = [] {
      if (g_letGo) std::exchange(g_letGo, nullptr)();
    };
  }
  ~LetGoOnWait() {
    g_lockWaitObserver = nullptr;
    g_letGo = nullptr;
  }
  LetGoOnWait(const LetGoOnWait&) = delete;
  LetGoOnWait& operator=(const LetGoOnWait&) = delete;
  bool waited() const { return !g_letGo; }
};

struct ConflictCase {
  const char* name;
  bool holderInChild;
  uint16_t holderOp;    // read by the holder, lock bias included
  uint16_t contendOp;   // read of the same file by the contender
  int16_t status;
  // The contender opened the file first, then its side file was deleted or
  // replaced, before the holder opened and locked.
  const char* sideFile = nullptr;  // "deleted", "replaced"
};

TEST(RecmanRecordLocks, ConflictsBetweenHandlesAndProcesses) {
  const ConflictCase cases[] = {
      {"same process, single no-wait", false, RmGetFirst + 200, RmGetFirst + 200, RmRecordLocked},
      {"same process, multiple holder", false, RmGetFirst + 400, RmGetFirst + 200, RmRecordLocked},
      {"same process, wait bias does not hang", false, RmGetFirst + 200, RmGetFirst + 100, RmRecordLocked},
      {"same process, plain read passes", false, RmGetFirst + 200, RmGetFirst, RmSuccess},
      {"same process, another record", false, RmGetLast + 200, RmGetFirst + 200, RmSuccess},
      {"same process, unlocked read, no conflict", false, RmGetFirst, RmGetFirst + 200, RmSuccess},
      {"other process, single", true, RmGetFirst + 200, RmGetFirst + 200, RmRecordLocked},
      {"other process, multiple", true, RmGetFirst + 400, RmGetFirst + 400, RmRecordLocked},
      {"other process, plain read passes", true, RmGetFirst + 200, RmGetFirst, RmSuccess},
      {"other process, another record", true, RmGetLast + 400, RmGetFirst + 200, RmSuccess},
      {"other process, equal read of the locked record", true, RmGetFirst + 200, RmGetEqual + 200, RmRecordLocked},
      {"other process, greater-or-equal lands on it", true, RmGetFirst + 200, RmGetGreaterOrEqual + 400,
       RmRecordLocked},
      {"other process, the side file deleted under the contender", true, RmGetFirst + 200, RmGetFirst + 200,
       RmRecordLocked, "deleted"},
      {"other process, the side file replaced under the contender", true, RmGetFirst + 200, RmGetFirst + 200,
       RmRecordLocked, "replaced"},
  };
  for (const ConflictCase& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    ASSERT_FALSE(path.empty());
    Handle early;
    if (c.sideFile != nullptr) {
      ASSERT_EQ(early.Open(path), RmSuccess);
      ::unlink((path + "-lck").c_str());
      if (std::string(c.sideFile) == "replaced") {
        const int fd = ::open((path + "-lck").c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
      }
    }
    Handle local;
    std::unique_ptr<Holder> child;
    if (c.holderInChild) {
      child = std::make_unique<Holder>(path, [&](Handle& h) { return h.Get(c.holderOp, "0001"); });
      ASSERT_EQ(child->status(), RmSuccess) << c.name;
    } else {
      ASSERT_EQ(local.Open(path), RmSuccess);
      ASSERT_EQ(local.Get(c.holderOp, "0001"), RmSuccess) << c.name;
    }
    Handle h;
    if (c.sideFile == nullptr) {
      ASSERT_EQ(h.Open(path), RmSuccess);
    }
    EXPECT_EQ((c.sideFile == nullptr ? h : early).Get(c.contendOp, "0001"), c.status) << c.name;
  }
}

// Two users of the suite, each may write the data file, lock the same record.
struct SideFileCase {
  const char* name;
  // Runs before the two users open the file, as root, in the test's folder.
  void (*setup)(const std::string& path);
  int16_t first;   // the first user's lock-read
  int16_t second;  // the second's, while the first holds its lock
  mode_t mode;     // of the side file afterwards (0: not looked at)
};

TEST(RecmanRecordLocks, EveryUserWhoMayWriteTheFileLocksForReal) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
  const SideFileCase cases[] = {
      {"side file made by an opener with umask 022",
       [](const std::string& path) {
         ::unlink((path + "-lck").c_str());
         const mode_t old = ::umask(022);
         Handle h;
         h.Open(path);
         ::umask(old);
       },
       RmSuccess, RmRecordLocked, 0666},
      {"side file another user left read-only",
       [](const std::string& path) {
         const std::string side = path + "-lck";
         ::unlink(side.c_str());
         const int fd = ::open(side.c_str(), O_RDWR | O_CREAT, 0644);
         if (fd >= 0) ::close(fd);
         if (::chown(side.c_str(), 1, 1) != 0) ::unlink(side.c_str());
       },
       RmFileLocked, RmFileLocked, 0644},
      {"side file is a symbolic link",
       [](const std::string& path) {
         ::unlink((path + "-lck").c_str());
         if (::symlink((path + "-elsewhere").c_str(), (path + "-lck").c_str()) != 0) ::unlink(path.c_str());
       },
       RmFileLocked, RmFileLocked, 0},
  };
  for (const SideFileCase& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    c.setup(path);
    Holder first(path, [](Handle& h) { return h.Get(RmGetEqual + 200, "0001"); }, true);
    ASSERT_NE(first.status(), 5) << c.name << ": cannot act as another user";
    EXPECT_EQ(first.status(), c.first) << c.name;
    Holder second(path, [](Handle& h) { return h.Get(RmGetEqual + 200, "0001"); }, true);
    EXPECT_EQ(second.status(), c.second) << c.name;
    struct stat st {};
    if (c.mode != 0) {
      ASSERT_EQ(::stat((path + "-lck").c_str(), &st), 0) << c.name;
      EXPECT_EQ(st.st_mode & 07777, c.mode) << c.name;
    }
    EXPECT_NE(::lstat((path + "-elsewhere").c_str(), &st), 0) << c.name << ": a link was followed";
  }
}

TEST(RecmanRecordLocks, AFailedLockLeavesThePositionAlone) {
  TempDir dir;
  const std::string path = MakeLockFile(dir);
  Holder child(path, [](Handle& h) { return h.Get(RmGetEqual + 200, "0002"); });
  ASSERT_EQ(child.status(), RmSuccess);
  Handle h;
  ASSERT_EQ(h.Open(path), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst + 200), RmSuccess);
  EXPECT_EQ(h.Get(RmGetNext + 200), RmRecordLocked);
  EXPECT_EQ(h.data.size(), 0u);
  ASSERT_EQ(h.Get(RmGetNext), RmSuccess) << "a retry without lock reads the locked record";
  EXPECT_EQ(h.data.substr(0, 4), "0002");
}

TEST(RecmanRecordLocks, WritesToARecordLockedElsewhereAreRefused) {
  TempDir dir;
  const std::string path = MakeLockFile(dir);
  Holder child(path, [](Handle& h) { return h.Get(RmGetFirst + 200); });
  ASSERT_EQ(child.status(), RmSuccess);
  Handle h;
  ASSERT_EQ(h.Open(path), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.Update(Record("0001changed", kLength)), RmRecordLocked);
  EXPECT_EQ(h.Delete(), RmRecordLocked);
  EXPECT_EQ(h.RecordCount(), 3u);
  // A whole transaction looks at the locks at its end, and keeps nothing
  // when a record it updated is locked elsewhere.
  uint32_t len = 0;
  ASSERT_EQ(h.Raw(RmBeginTransaction, nullptr, &len, RmWholeTransaction), RmSuccess);
  ASSERT_EQ(h.Get(RmGetLast), RmSuccess);
  EXPECT_EQ(h.Update(Record("0003changed", kLength)), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.Update(Record("0001changed", kLength)), RmSuccess);
  EXPECT_EQ(h.Raw(RmEndTransaction, nullptr, &len, 0), RmRecordLocked);
  ASSERT_EQ(h.Get(RmGetLast), RmSuccess);
  EXPECT_EQ(h.data.find("changed"), std::string::npos);
  // Without the lock the same transaction is kept.
  child.Finish('c');
  ASSERT_EQ(h.Raw(RmBeginTransaction, nullptr, &len, RmWholeTransaction), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.Update(Record("0001changed", kLength)), RmSuccess);
  EXPECT_EQ(h.Raw(RmEndTransaction, nullptr, &len, 0), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  EXPECT_EQ(h.data.substr(0, 11), "0001changed");
}

struct ReleaseCase {
  const char* name;
  int16_t (*release)(Handle& h);  // run by the holder after locking the first record
  char finish;                    // how the holder process ends: 'c' close, 'd' die, 0 stays alive
};

TEST(RecmanRecordLocks, LocksVanishWithTheirHolder) {
  const ReleaseCase cases[] = {
      {"holder closes", [](Handle&) { return int16_t{0}; }, 'c'},
      {"holder dies", [](Handle&) { return int16_t{0}; }, 'd'},
      {"holder resets",
       [](Handle& h) {
         uint32_t len = 0;
         int16_t s = RecordManagerCall(RmReset, h.block, nullptr, &len, nullptr, 0, 0);
         h.open = false;
         return s;
       },
       0},
      {"holder unlocks", [](Handle& h) {
         uint32_t len = 0;
         return h.Raw(RmUnlock, nullptr, &len, 0);
       }, 0},
      {"holder locks another record with a single lock", [](Handle& h) { return h.Get(RmGetLast + 200); }, 0},
      {"holder updates the record", [](Handle& h) { return h.Update(Record("0001new", kLength)); }, 0},
      {"holder unlocks one multiple lock by position", [](Handle& h) {
         uint32_t position = 0;
         h.Get(RmGetFirst + 400);
         int16_t s = h.Position(position);
         uint8_t p[4];
         std::memcpy(p, &position, 4);
         uint32_t len = 4;
         return s != 0 ? s : h.Raw(RmUnlock, p, &len, -1);
       }, 0},
  };
  for (const ReleaseCase& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    Holder child(path, [&](Handle& h) {
      int16_t s = h.Get(RmGetFirst + 200);
      return s != RmSuccess ? s : c.release(h);
    });
    ASSERT_EQ(child.status(), RmSuccess) << c.name;
    if (c.finish != 0) {
      ASSERT_EQ(child.Finish(c.finish), 0) << c.name;
    }
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    EXPECT_EQ(h.Get(RmGetFirst + 200), RmSuccess) << c.name;
  }
}

// A process may end with files open and records locked: the engine closes
// them on the way out without touching what is already gone.
TEST(RecmanRecordLocks, AProcessEndingWithLocksHeldEndsCleanly) {
  TempDir dir;
  const std::string path = MakeLockFile(dir);
  ASSERT_FALSE(path.empty());
  ForkGate child([&](ForkGate&) -> int {
    static Handle h;  // left open, as a program that returns from main leaves it
    if (h.Open(path) != RmSuccess || h.Get(RmGetEqual + 200, "0001") != RmSuccess) return 3;
    std::exit(0);
  });
  EXPECT_EQ(child.Wait(), 0);
}

TEST(RecmanRecordLocks, WaitBiasWaitsForTheHolderToLetGo) {
  // Each lock bias meets a record another process holds; that process lets
  // go once the request waits, and only then.
  const struct {
    uint16_t bias;
    int16_t status;
  } cases[] = {
      {200, RmRecordLocked},  // single, no wait
      {400, RmRecordLocked},  // multiple, no wait
      {100, RmSuccess},       // single, wait: the record once the holder is gone
      {300, RmSuccess},       // multiple, wait
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    Holder child(path, [](Handle& h) { return h.Get(RmGetFirst + 200); });
    ASSERT_EQ(child.status(), RmSuccess);
    int exited = -1;
    LetGoOnWait letGo([&] { exited = child.Finish('d'); });  // dies holding the lock
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    EXPECT_EQ(h.Get(static_cast<uint16_t>(RmGetFirst + c.bias)), c.status) << c.bias;
    EXPECT_EQ(letGo.waited(), c.status == RmSuccess) << c.bias;
    if (c.status == RmSuccess) {
      EXPECT_EQ(h.data.substr(0, 4), "0001") << c.bias;
      EXPECT_EQ(exited, 0) << c.bias;
    }
  }
}

TEST(RecmanFileLocks, AnotherProcessWritingHoldsOffWritesWith85) {
  TempDir dir;
  const std::string path = MakeLockFile(dir);
  Holder child(path, [](Handle& h) {
    uint32_t len = 0;
    int16_t s = h.Raw(RmBeginTransaction, nullptr, &len, 0);
    return s != RmSuccess ? s : h.Insert(Record("0009", kLength));
  });
  ASSERT_EQ(child.status(), RmSuccess);
  Handle h;
  ASSERT_EQ(h.Open(path), RmSuccess);
  EXPECT_EQ(h.Insert(Record("0004", kLength)), RmFileLocked);
  ASSERT_EQ(h.Get(RmGetLast), RmSuccess) << "readers are not held off";
  EXPECT_EQ(h.data.substr(0, 4), "0003") << "the other process has not committed";
  EXPECT_EQ(h.Delete(), RmFileLocked);
  ASSERT_EQ(child.Finish('d'), 0);  // dies: its transaction is rolled back
  EXPECT_EQ(h.Insert(Record("0004", kLength)), RmSuccess);
  EXPECT_EQ(h.RecordCount(), 4u);
}

// ---- walking while another process inserts ---------------------------------

// Record: 4-byte big-endian number (the key), 4 copies of its low byte
// pattern, and a check byte, so that a torn record shows.
std::string Numbered(uint32_t n) {
  std::string r(kLength, ' ');
  for (int i = 0; i < 4; ++i) r[static_cast<size_t>(i)] = static_cast<char>(n >> (24 - 8 * i));
  for (int i = 4; i < 15; ++i) r[static_cast<size_t>(i)] = static_cast<char>((n * 7 + static_cast<uint32_t>(i)) & 0xFF);
  uint8_t sum = 0;
  for (int i = 0; i < 15; ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(r[static_cast<size_t>(i)]));
  r[15] = static_cast<char>(sum);
  return r;
}

bool Whole(const std::string& r, uint32_t& n) {
  if (r.size() != kLength) return false;
  n = 0;
  for (int i = 0; i < 4; ++i) n = (n << 8) | static_cast<uint8_t>(r[static_cast<size_t>(i)]);
  return r == Numbered(n);
}

TEST(RecmanConcurrentWalk, AWalkerSeesWholeRecordsInOrderWhileAnotherProcessInserts) {
  TempDir dir;
  const std::string path = dir.File("walk.dat");
  ASSERT_EQ(CreateFile(path, CreationBlock(kLength, {{{1, 4, 0}}})), RmSuccess);
  constexpr uint32_t kEach = 1500;
  {
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    uint32_t len = 0;
    ASSERT_EQ(h.Raw(RmBeginTransaction, nullptr, &len, 0), RmSuccess);
    for (uint32_t i = 0; i < kEach; ++i) ASSERT_EQ(h.Insert(Numbered(2 * i)), RmSuccess);
    ASSERT_EQ(h.Raw(RmEndTransaction, nullptr, &len, 0), RmSuccess);
  }
  ForkGate child([&](ForkGate&) -> int {
    Handle h;
    if (h.Open(path) != RmSuccess) ::_exit(1);
    for (uint32_t i = 0; i < kEach; ++i) {
      int16_t s;
      while ((s = h.Insert(Numbered(2 * i + 1))) == RmFileLocked) {
      }
      if (s != RmSuccess) ::_exit(2);
    }
    ::_exit(0);
  });
  Handle h;
  ASSERT_EQ(h.Open(path, "", -2), RmSuccess);
  int passes = 0;
  bool childDone = false;
  while (!childDone || passes < 2) {
    if (!childDone && child.Ended()) childDone = true;
    uint32_t count = 0;
    int64_t last = -1;
    int16_t s = h.Get(RmGetFirst);
    for (; s == RmSuccess; s = h.Get(RmGetNext)) {
      uint32_t n = 0;
      ASSERT_TRUE(Whole(h.data, n)) << "torn record in pass " << passes;
      ASSERT_GT(static_cast<int64_t>(n), last) << "out of order in pass " << passes;
      last = n;
      ++count;
    }
    ASSERT_EQ(s, RmEndOfFile) << "pass " << passes;
    ASSERT_GE(count, kEach);
    if (childDone) {
      ++passes;
      if (passes == 2) {
        EXPECT_EQ(count, 2 * kEach);
      }
    }
  }
  EXPECT_EQ(child.Wait(), 0);
}

// ---- what a reader sees of commits made elsewhere -----------------------------

// Runs `change` on a handle of its own, in a child process or in this one,
// and gives its status once the change is committed.
int16_t ChangeElsewhere(const std::string& path, bool inChild, int16_t (*change)(Handle& h)) {
  if (!inChild) {
    Handle h;
    const int16_t s = h.Open(path);
    return s != RmSuccess ? s : change(h);
  }
  ForkGate child([&](ForkGate&) -> int {
    Handle h;
    int16_t s = h.Open(path);
    if (s == RmSuccess) s = change(h);
    ::_exit(s == RmSuccess ? 0 : 1);  // the handle stays open, as a process that dies leaves it
  });
  return child.Wait() == 0 ? int16_t{RmSuccess} : int16_t{-1};
}

int16_t InsertFour(Handle& h) { return h.Insert(Record("0004new", kLength)); }
int16_t UpdateTwo(Handle& h) {
  const int16_t s = h.Get(RmGetEqual, "0002");
  return s != RmSuccess ? s : h.Update(Record("0002new", kLength));
}
int16_t DeleteOne(Handle& h) {
  const int16_t s = h.Get(RmGetEqual, "0001");
  return s != RmSuccess ? s : h.Delete();
}

// What a positioning read shows: status and the record's first 7 bytes.
std::string Shown(Handle& h, int16_t status) {
  return std::to_string(status) + " " + h.data.substr(0, 7);
}

struct SeenCase {
  const char* name;
  bool writerInChild;
  int16_t (*change)(Handle& h);
  std::string (*look)(Handle& h, uint32_t positionOfTwo);
  const char* expected;
};

TEST(RecmanSnapshots, APositioningReadSeesWhatOthersCommittedBeforeIt) {
  const SeenCase cases[] = {
      {"insert elsewhere, last", true, InsertFour, [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetLast)); },
       "0 0004new"},
      {"insert by another handle, last", false, InsertFour,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetLast)); }, "0 0004new"},
      {"insert elsewhere, less or equal", true, InsertFour,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetLessOrEqual, "9999")); }, "0 0004new"},
      {"insert elsewhere, greater", true, InsertFour,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetGreater, "0003")); }, "0 0004new"},
      {"insert elsewhere, record count", true, InsertFour,
       [](Handle& h, uint32_t) { return std::to_string(h.RecordCount()); }, "4"},
      {"update elsewhere, equal", true, UpdateTwo,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetEqual, "0002")); }, "0 0002new"},
      {"update elsewhere, direct", true, UpdateTwo,
       [](Handle& h, uint32_t two) { return Shown(h, h.Direct(two)); }, "0 0002new"},
      {"update by another handle, direct", false, UpdateTwo,
       [](Handle& h, uint32_t two) { return Shown(h, h.Direct(two)); }, "0 0002new"},
      {"update elsewhere, a new walk steps onto it", true, UpdateTwo,
       [](Handle& h, uint32_t) {
         h.Get(RmGetEqual, "0001");
         return Shown(h, h.Get(RmGetNext));
       },
       "0 0002new"},
      {"update elsewhere, greater or equal", true, UpdateTwo,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetGreaterOrEqual, "0002")); }, "0 0002new"},
      {"delete elsewhere, first", true, DeleteOne, [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetFirst)); },
       "0 0002   "},
      {"delete by another handle, equal", false, DeleteOne,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetEqual, "0001")); }, "4 "},
      {"delete elsewhere, less", true, DeleteOne,
       [](Handle& h, uint32_t) { return Shown(h, h.Get(RmGetLess, "0002")); }, "9 "},
  };
  for (const SeenCase& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    ASSERT_FALSE(path.empty());
    Handle reader;
    ASSERT_EQ(reader.Open(path, "", -2), RmSuccess);
    uint32_t two = 0;
    ASSERT_EQ(reader.Get(RmGetEqual, "0002"), RmSuccess);
    ASSERT_EQ(reader.Position(two), RmSuccess);
    // Direct reads (the second one leaves the means of direct reading open).
    ASSERT_EQ(reader.Direct(two), RmSuccess);
    ASSERT_EQ(reader.Direct(two), RmSuccess);
    // The reader is in the middle of a walk, its snapshot taken.
    ASSERT_EQ(reader.Get(RmGetGreaterOrEqual, "0001"), RmSuccess);
    ASSERT_EQ(reader.Get(RmGetNext), RmSuccess);
    ASSERT_EQ(ChangeElsewhere(path, c.writerInChild, c.change), RmSuccess) << c.name;
    EXPECT_EQ(c.look(reader, two), c.expected) << c.name;
  }
}

// A held snapshot shows one state of the file however many commits other
// processes make, and the next state once it is released.
TEST(RecmanSnapshots, AHeldSnapshotSeesOneStateUntilReleased) {
  struct Case {
    const char* name;
    int16_t (*change)(Handle& h);
    std::string (*look)(Handle& h);
    const char* held;
    const char* released;
  };
  const Case cases[] = {
      {"insert elsewhere, last", InsertFour, [](Handle& h) { return Shown(h, h.Get(RmGetLast)); }, "0 0003   ",
       "0 0004new"},
      {"insert elsewhere, record count", InsertFour, [](Handle& h) { return std::to_string(h.RecordCount()); }, "3",
       "4"},
      {"update elsewhere, equal", UpdateTwo, [](Handle& h) { return Shown(h, h.Get(RmGetEqual, "0002")); }, "0 0002   ",
       "0 0002new"},
      // A locked read is the read before a write: it sees the latest commit,
      // held snapshot or not.
      {"update elsewhere, locked equal", UpdateTwo,
       [](Handle& h) { return Shown(h, h.Get(RmGetEqual + 200, "0002")); }, "0 0002new", "0 0002new"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    ASSERT_FALSE(path.empty());
    Handle reader;
    ASSERT_EQ(reader.Open(path, "", -2), RmSuccess);
    uint32_t none = 0;
    ASSERT_EQ(reader.Raw(RmHoldSnapshot, nullptr, &none, 0), RmSuccess);
    ASSERT_EQ(reader.Get(RmGetFirst), RmSuccess);
    ASSERT_EQ(ChangeElsewhere(path, true, c.change), RmSuccess) << c.name;
    RecordManagerIdle();  // a key wait does not let go of a held snapshot
    EXPECT_EQ(c.look(reader), c.held) << c.name;
    ASSERT_EQ(reader.Raw(RmReleaseSnapshot, nullptr, &none, 0), RmSuccess);
    EXPECT_EQ(c.look(reader), c.released) << c.name;
  }
}

TEST(RecmanSnapshots, AWaitingLockedReadGetsTheRecordAsItsHolderLeftIt) {
  TempDir dir;
  const std::string path = MakeLockFile(dir);
  ForkGate child([&](ForkGate& gate) -> int {
    Handle h;
    if (h.Open(path) != RmSuccess || h.Get(RmGetEqual + 200, "0002") != RmSuccess) ::_exit(1);
    if (!gate.Send('r') || gate.Receive() != 'u') ::_exit(2);
    ::_exit(h.Update(Record("0002new", kLength)) == RmSuccess ? 0 : 3);  // the update lets the lock go
  });
  ASSERT_EQ(child.Receive(), 'r');
  Handle h;
  ASSERT_EQ(h.Open(path), RmSuccess);
  ASSERT_EQ(h.Get(RmGetFirst), RmSuccess);
  LetGoOnWait letGo([&] { child.Send('u'); });
  ASSERT_EQ(h.Get(RmGetEqual + 100, "0002"), RmSuccess) << "found before the update, read after it";
  EXPECT_TRUE(letGo.waited());
  EXPECT_EQ(h.data.substr(0, 7), "0002new");
  EXPECT_EQ(child.Wait(), 0);
}

struct StaleWriteCase {
  const char* name;
  int16_t (*write)(Handle& h);  // made by a handle whose snapshot is older than another's commit
  uint32_t count;               // records afterwards
  const char* first;            // first record afterwards
};

TEST(RecmanSnapshots, AWriteStartsFromTheLatestCommitNotFromTheKeptSnapshot) {
  const StaleWriteCase cases[] = {
      {"insert", [](Handle& h) { return h.Insert(Record("0000new", kLength)); }, 5, "0000new"},
      {"update of the current record", [](Handle& h) { return h.Update(Record("0001upd", kLength)); }, 4,
       "0001upd"},
      {"delete of the current record", [](Handle& h) { return h.Delete(); }, 3, "0002   "},
      {"insert in a transaction",
       [](Handle& h) {
         uint32_t len = 0;
         int16_t s = h.Raw(RmBeginTransaction, nullptr, &len, 0);
         if (s == RmSuccess) s = h.Insert(Record("0000new", kLength));
         return s != RmSuccess ? s : h.Raw(RmEndTransaction, nullptr, &len, 0);
       },
       5, "0000new"},
  };
  for (const StaleWriteCase& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    ASSERT_FALSE(path.empty());
    Handle h;
    ASSERT_EQ(h.Open(path), RmSuccess);
    ASSERT_EQ(h.Get(RmGetGreaterOrEqual, "0001"), RmSuccess);
    ASSERT_EQ(ChangeElsewhere(path, true, InsertFour), RmSuccess) << c.name;
    EXPECT_EQ(c.write(h), RmSuccess) << c.name;
    EXPECT_EQ(h.RecordCount(), c.count) << c.name;
    ASSERT_EQ(h.Get(RmGetFirst), RmSuccess) << c.name;
    EXPECT_EQ(h.data.substr(0, 7), c.first) << c.name;
    ASSERT_EQ(h.Get(RmGetLast), RmSuccess) << c.name;
    EXPECT_EQ(h.data.substr(0, 7), "0004new") << c.name << ": the other commit stays";
  }
}

}  // namespace

// ---- idle readers and the write-ahead log -----------------------------------

// Another process commits `commits` inserts, one transaction each, then
// another one checkpoints the log as a writer would, truncating it. Gives the
// checkpoint's result code (-1 when a process failed).
int CommitAndCheckpointElsewhere(const std::string& path, int commits) {
  static int next = 5000;
  const int first = next;
  next += commits;
  ForkGate child([&](ForkGate&) -> int {
    {
      Handle h;
      if (h.Open(path) != RmSuccess) ::_exit(101);
      for (int i = 0; i < commits; ++i) {
        if (h.Insert(Record(std::to_string(first + i), kLength)) != RmSuccess) ::_exit(102);
      }
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, pagecheck::VfsName()) != SQLITE_OK) ::_exit(103);
    // A first read opens the log; a checkpoint before it finds none.
    if (sqlite3_exec(db, "SELECT count(*) FROM meta", nullptr, nullptr, nullptr) != SQLITE_OK) ::_exit(104);
    const int rc = sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
  });
  const int status = child.Wait();
  return status < 100 ? status : -1;
}

off_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

struct IdleCase {
  const char* name;
  void (*idle)(const std::string& path);  // what happens while the reader sits on its record
  int checkpoint;                          // result of the other process's checkpoint
};

TEST(RecmanIdleReader, AReleasedSnapshotLetsOtherProcessesCheckpointTheLog) {
  const IdleCase cases[] = {
      {"a burst keeps its snapshot", [](const std::string&) {}, SQLITE_BUSY},
      {"the program says it goes idle", [](const std::string&) { RecordManagerIdle(); }, SQLITE_OK},
      {"another handle reads after the reader stayed idle",
       [](const std::string& path) {
         AdvanceRecordManagerClock(1000);  // longer than a handle may stay idle
         Handle other;
         if (other.Open(path) == RmSuccess) other.Get(RmGetLast);
       },
       SQLITE_OK},
  };
  for (const IdleCase& c : cases) {
    TempDir dir;
    const std::string path = MakeLockFile(dir);
    ASSERT_FALSE(path.empty());
    // A commit whose pages stay in the log, so that the reader's snapshot
    // reads from the log too.
    Handle writer;
    ASSERT_EQ(writer.Open(path), RmSuccess);
    ASSERT_EQ(writer.Insert(Record("0009", kLength)), RmSuccess);
    Handle reader;
    ASSERT_EQ(reader.Open(path, "", -2), RmSuccess);
    ASSERT_EQ(reader.Get(RmGetEqual, "0001"), RmSuccess);
    uint32_t one = 0;  // read directly too: whatever reads pins the log until released
    ASSERT_EQ(reader.Position(one), RmSuccess);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(reader.Direct(one), RmSuccess) << c.name;
    ASSERT_EQ(CommitAndCheckpointElsewhere(path, 20), SQLITE_BUSY) << c.name << ": the reader pins the log";
    const off_t pinned = FileSize(path + "-wal");
    ASSERT_GT(pinned, 0) << c.name;
    c.idle(path);
    EXPECT_EQ(CommitAndCheckpointElsewhere(path, 20), c.checkpoint) << c.name;
    if (c.checkpoint == SQLITE_OK) {
      EXPECT_EQ(FileSize(path + "-wal"), 0) << c.name << ": the log is truncated";
    } else {
      EXPECT_GT(FileSize(path + "-wal"), pinned) << c.name << ": the log grows";
    }
    ASSERT_EQ(reader.Get(RmGetNext), RmSuccess) << c.name << ": the reader goes on from its record";
    EXPECT_EQ(reader.data.substr(0, 4), "0002") << c.name;
  }
}
