// Reading whole regular files and running child programs: the two places
// where base/ meets the operating system.
#include "base/child.h"
#include "base/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/temp_root.h"

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
