// Reading whole regular files, writing durable files and running child
// programs: the places where base/ meets the operating system.
#include "base/child.h"
#include "base/durable.h"
#include "base/files.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

// The calls that make a file durable, in the order the durable writes make
// them, while recording: "sync <path>" for each fsync, "place <path>" for
// each name given to a file (rename, renameat2, link).
bool g_recording = false;
std::vector<std::string> g_calls;

std::string PathOfDescriptor(int fd) {
  char path[4096];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}
void RecordPlacing(const char* from) {
  if (!g_recording) return;
  std::error_code ignored;
  g_calls.push_back("place " + std::filesystem::weakly_canonical(from, ignored).string());
}
template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd) {
  if (g_recording) g_calls.push_back("sync " + PathOfDescriptor(fd));
  static const auto real = Next<int (*)(int)>("fsync");
  return real(fd);
}
extern "C" int rename(const char* from, const char* to) noexcept {
  RecordPlacing(from);
  static const auto real = Next<int (*)(const char*, const char*)>("rename");
  return real(from, to);
}
extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) noexcept {
  RecordPlacing(from);
  static const auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(fromDir, from, toDir, to, flags);
}
extern "C" int link(const char* from, const char* to) noexcept {
  RecordPlacing(from);
  static const auto real = Next<int (*)(const char*, const char*)>("link");
  return real(from, to);
}

namespace {

TEST(ReadRegularFile, OnlyRegularFilesWithinTheLimit) {
  TempRoot root;
  root.Write("small", "ab\r\ncd");
  root.Write("empty", "");
  root.Write("dir/inner", "x");
  const std::string fifo = root.Dir() + "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A sparse file far beyond the limit: refused by its size, never read.
  const std::string huge = root.Dir() + "huge";
  {
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0);
    ::close(fd);
  }
  struct Case {
    std::string path;
    size_t limit;
    ReadResult result;
    std::string content;
  };
  const Case cases[] = {
      {root.Dir() + "small", 100, ReadResult::Ok, "ab\r\ncd"},
      {root.Dir() + "small", 6, ReadResult::Ok, "ab\r\ncd"},  // exactly at the limit
      {root.Dir() + "small", 5, ReadResult::TooLarge, ""},
      {root.Dir() + "empty", 0, ReadResult::Ok, ""},
      {huge, 64u << 20, ReadResult::TooLarge, ""},
      {fifo, 100, ReadResult::NotRegular, ""},  // no writer: must not wait for one
      {root.Dir() + "dir", 100, ReadResult::NotRegular, ""},
      {"/dev/null", 100, ReadResult::NotRegular, ""},
      {root.Dir() + "missing", 100, ReadResult::Missing, ""},
      {root.Dir() + "small/below", 100, ReadResult::Missing, ""},  // a file on the way
      {"", 100, ReadResult::Missing, ""},
  };
  for (const Case& c : cases) {
    std::string content = "previous";
    EXPECT_EQ(ReadRegularFile(c.path, content, c.limit), c.result) << c.path << " limit " << c.limit;
    EXPECT_EQ(content, c.content) << c.path << " limit " << c.limit;
    EXPECT_EQ(IsRegularFile(c.path), c.result == ReadResult::Ok || c.result == ReadResult::TooLarge) << c.path;
  }
  if (::geteuid() != 0) {  // root reads whatever the mode says
    const std::string locked = root.Write("locked", "x");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    std::string content;
    EXPECT_EQ(ReadRegularFile(locked, content), ReadResult::Unreadable);
  }
}

// The names in folder, sorted, each with its content: a temporary file left
// behind shows up here.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ostringstream content;
    content << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    names.push_back(entry.path().filename().string() + "=" + content.str());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DurableFile, PlacedWholeOrNotAtAll) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> before;  // in the folder "d"
    std::string target;                                      // under the root
    Placement placement;
    int error;
    std::string placedAs;                // the path() after success, under the root
    std::vector<std::string> after;      // Listing of "d"
  };
  const Case cases[] = {
      {"replaces whole", {{"f.txt", "older and longer"}}, "d/f.txt", Placement::Replace, 0, "d/f.txt",
       {"f.txt=new"}},
      {"creates", {}, "d/f.txt", Placement::Replace, 0, "d/f.txt", {"f.txt=new"}},
      {"never overwrites", {{"f.txt", "old"}}, "d/f.txt", Placement::NeverOverwrite, EEXIST, "d/f.txt",
       {"f.txt=old"}},
      {"takes a free name", {{"g.txt", "old"}}, "d/f.txt", Placement::NeverOverwrite, 0, "d/f.txt",
       {"f.txt=new", "g.txt=old"}},
      {"next free name", {{"f.pdf", "1"}, {"f-2.pdf", "2"}}, "d/f.pdf", Placement::NextFree, 0, "d/f-3.pdf",
       {"f-2.pdf=2", "f-3.pdf=new", "f.pdf=1"}},
      {"folder missing", {{"f.txt", "old"}}, "d/none/f.txt", Placement::Replace, ENOENT, "d/none/f.txt",
       {"f.txt=old"}},
      {"a folder in the way", {{"f.txt/x", "old"}}, "d/f.txt", Placement::Replace, EISDIR, "d/f.txt",
       {"f.txt="}},
  };
  ForEachRow(cases, [](const Case& c) {
    TempRoot root;
    std::filesystem::create_directory(root.Dir() + "d");
    for (const auto& [name, bytes] : c.before) root.Write("d/" + name, bytes);
    DurableFile file(root.Dir() + c.target);
    const bool written = file.Open() && file.Write("new") && file.Commit(c.placement);
    EXPECT_EQ(written, c.error == 0);
    EXPECT_EQ(file.error(), c.error);
    EXPECT_EQ(file.path(), root.Dir() + c.placedAs);
    EXPECT_EQ(Listing(root.Dir() + "d"), c.after);
  });
}

// A file's bytes reach the disk before its name is given to it: a crash
// between the two never leaves a named file short of its bytes.
TEST(DurableFile, SyncedBeforeItIsNamed) {
  struct Case {
    const char* name;
    std::function<bool(const std::string& path)> write;
  };
  const Case cases[] = {
      {"replacing", [](const std::string& p) { return WriteWholeFile(p, "new", Placement::Replace, 0644) == 0; }},
      {"never overwriting",
       [](const std::string& p) { return WriteWholeFile(p, "new", Placement::NeverOverwrite, 0644) == 0; }},
      {"the next free name",
       [](const std::string& p) { return WriteWholeFile(p, "new", Placement::NextFree, 0644) == 0; }},
      {"one of several files",
       [](const std::string& p) {
         std::string failed;
         return WriteWholeFiles({{p, "new"}}, failed);
       }},
      {"a file another program made",
       [](const std::string& p) {
         std::ofstream(p + ".part") << "new";
         return PlaceMadeFile(p + ".part", p, Placement::Replace) == 0;
       }},
  };
  ForEachRow(cases, [](const Case& c) {
    TempRoot root;
    g_calls.clear();
    g_recording = true;
    const bool written = c.write(root.Dir() + "f.txt");
    g_recording = false;
    ASSERT_TRUE(written);
    std::string calls;
    for (const std::string& call : g_calls) calls += call + "\n";
    const auto placed = std::find_if(g_calls.begin(), g_calls.end(), [](const std::string& call) {
      return call.rfind("place ", 0) == 0;
    });
    ASSERT_NE(placed, g_calls.end()) << calls;
    EXPECT_NE(std::find(g_calls.begin(), placed, "sync " + placed->substr(6)), placed) << calls;
  });
}

TEST(DurableFile, SeveralFilesAndCopies) {
  TempRoot root;
  const std::string d = root.Dir() + "d/";
  root.Write("d/a", "old a");
  root.Write("d/source", "copied");
  // One file that cannot be made: no file of the step is touched.
  std::string failed;
  EXPECT_FALSE(WriteWholeFiles({{d + "a", "new a"}, {d + "none/b", "b"}, {d + "c", "c"}}, failed));
  EXPECT_EQ(failed, d + "none/b");
  EXPECT_EQ(Listing(d), (std::vector<std::string>{"a=old a", "source=copied"}));
  EXPECT_TRUE(WriteWholeFiles({{d + "a", "new a"}, {d + "c", "c"}}, failed));
  EXPECT_EQ(Listing(d), (std::vector<std::string>{"a=new a", "c=c", "source=copied"}));
  // A pipe among the targets stops the step before any file is placed.
  ASSERT_EQ(::mkfifo((d + "pipe").c_str(), 0600), 0);
  int error = 0;
  EXPECT_FALSE(WriteWholeFiles({{d + "a", "newer a"}, {d + "pipe", "p"}}, failed, &error));
  EXPECT_EQ(failed, d + "pipe");
  EXPECT_EQ(error, EINVAL);
  ASSERT_EQ(::unlink((d + "pipe").c_str()), 0);
  EXPECT_EQ(Listing(d), (std::vector<std::string>{"a=new a", "c=c", "source=copied"}));

  struct Case {
    const char* name;
    std::string from, to;
    int error;
  };
  const Case copies[] = {
      {"copied", d + "source", d + "copy", 0},
      {"never over a file", d + "source", d + "a", EEXIST},
      {"no source", d + "missing", d + "other", ENOENT},
      {"folder as source", root.Dir() + "d", d + "other", EINVAL},
  };
  ForEachRow(copies, [](const Case& c) { EXPECT_EQ(CopyFileExclusively(c.from, c.to), c.error); });
  EXPECT_EQ(Listing(d), (std::vector<std::string>{"a=new a", "c=c", "copy=copied", "source=copied"}));

  if (::geteuid() != 0) {  // root writes whatever the mode says
    ASSERT_EQ(::chmod(d.c_str(), 0500), 0);
    EXPECT_EQ(WriteWholeFile(d + "a", "newer"), EACCES);
    ASSERT_EQ(::chmod(d.c_str(), 0700), 0);
    EXPECT_EQ(Listing(d), (std::vector<std::string>{"a=new a", "c=c", "copy=copied", "source=copied"}));
  }
}

// A killed writer's temporary files go at the next start; a running
// process's, and other targets', stay.
TEST(DurableFile, LeftTemporariesOfEndedProcessesGo) {
  TempRoot root;
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  int status = 0;
  ASSERT_EQ(waitpid(ended, &status, 0), ended);
  const std::string gone = std::to_string(ended), running = std::to_string(getppid());
  for (const std::string& name : {".f.pdf-" + gone + "-0.tmp", ".f.pdf-" + gone + "-k3.tmp",
                                  ".f.pdf-" + running + "-1.tmp", ".g.pdf-" + gone + "-0.tmp",
                                  ".f.pdf-" + gone + "-x.tmp", std::string("f.pdf")})
    root.Write("d/" + name, "");
  EXPECT_EQ(RemoveLeftTemporaries(root.Dir() + "d/f.pdf"), 2u);
  std::vector<std::string> kept = {".f.pdf-" + gone + "-x.tmp=", ".f.pdf-" + running + "-1.tmp=",
                                   ".g.pdf-" + gone + "-0.tmp=", "f.pdf="};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(Listing(root.Dir() + "d"), kept);
}

TEST(DurableFile, NumberedNames) {
  struct Case {
    std::string target;
    int n;
    std::string name;
  };
  const Case cases[] = {
      {"d/factures.pdf", 1, "d/factures.pdf"},
      {"d/factures.pdf", 2, "d/factures-2.pdf"},
      {"d/arxiu.tar.gz", 12, "d/arxiu.tar-12.gz"},  // the last extension only
      {"d.x/factures", 2, "d.x/factures-2"},        // a dot in the folder is no extension
      {".factures", 3, ".factures-3"},              // nor a leading dot
  };
  ForEachRow(cases, [](const Case& c) { EXPECT_EQ(NumberedName(c.target, c.n), c.name); });
}

ChildSpec Spec(const std::string& program, const std::vector<std::string>& args, bool searchPath = false) {
  ChildSpec spec;
  spec.program = program;
  spec.args = args;
  spec.searchPath = searchPath;
  return spec;
}

TEST(RunChild, HowTheChildEnded) {
  struct Case {
    std::string name;
    ChildSpec spec;
    bool started;
    int startError;
    bool exited;
    int exitCode;
    int signal;
  };
  const Case cases[] = {
      {"success", Spec("/bin/sh", {"-c", "exit 0"}), true, 0, true, 0, 0},
      {"exit code", Spec("/bin/sh", {"-c", "exit 3"}), true, 0, true, 3, 0},
      {"ended by a signal", Spec("/bin/sh", {"-c", "kill -TERM $$"}), true, 0, false, 0, SIGTERM},
      {"no such program", Spec("/nowhere/program", {}), false, ENOENT, false, 0, 0},
      {"looked up on the path", Spec("sh", {"-c", "exit 4"}, true), true, 0, true, 4, 0},
      {"not on the path without the search", Spec("sh", {"-c", "exit 4"}), false, ENOENT, false, 0, 0},
  };
  for (const Case& c : cases) {
    const ChildEnd end = RunChild(c.spec);
    EXPECT_EQ(end.started, c.started) << c.name;
    EXPECT_EQ(end.startError, c.startError) << c.name;
    EXPECT_EQ(end.exited, c.exited) << c.name;
    EXPECT_EQ(end.exitCode, c.exitCode) << c.name;
    EXPECT_EQ(end.signal, c.signal) << c.name;
    EXPECT_EQ(end.Succeeded(), c.exited && c.exitCode == 0 && c.started) << c.name;
  }
}

TEST(RunChild, EnvironmentAndInputAsGiven) {
  TempRoot root;
  const std::string input = root.Write("input", "hello");
  const int fd = ::open(input.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::vector<std::string> environment = {"ZEPTMP=/tmp/x/"};
  ChildSpec spec =
      Spec("/bin/sh", {"-c", "read line; [ \"$line\" = hello ] && [ \"$ZEPTMP\" = /tmp/x/ ] && [ -z \"$HOME\" ]"});
  spec.environment = &environment;
  spec.stdinFd = fd;
  EXPECT_TRUE(RunChild(spec).Succeeded());
  ::close(fd);
}

}  // namespace
