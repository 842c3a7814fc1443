// The built program asked for its usage, or given an argument it does not
// take, with no terminal: standard input from /dev/null, output to files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(KorvadelProgram, HelpComesBeforeTheTerminalAndArgumentsAreRefused) {
  TempRoot root;
  root.Write("session/TarnTerm.ini", "[Sistema]\r\nIdioma=SPA\r\n");
  struct Case {
    const char* name;
    std::string args, environment;
    int exitCode;
    std::string out, err;  // what each stream begins with; err "" is empty
  };
  const Case cases[] = {
      {"help, in Catalan outside a session", "--help", "", 0, "\xc3\x9as: korvadel\n", ""},
      {"help in the session's language", "-h", "ZEPTMP=" + root.Dir() + "session/", 0, "Uso: korvadel\n", ""},
      {"an option it does not take", "--root x", "", 2, "",
       "korvadel: argument no v\xc3\xa0lid: --root\n\xc3\x9as: korvadel\n"},
  };
  ForEachRow(cases, [&](const Case& c) {
    const std::string command = "cd '" + root.Dir() + "' && env -u ZEPTMP -u ZEPROOT " + c.environment + " '" +
                                KORVADEL_PROGRAM + "' " + c.args + " < /dev/null > out 2> err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exitCode);
    const std::string out = ReadAll(root.Dir() + "out");
    const std::string err = ReadAll(root.Dir() + "err");
    EXPECT_EQ(out.rfind(c.out, 0), 0u) << out;
    EXPECT_EQ(err.rfind(c.err, 0), 0u) << err;
    if (c.err.empty()) { EXPECT_EQ(err, ""); }
    // The usage names how the module is started and what it reads.
    for (const char* word : {"zepmenu --root", "ZEPROOT", "ZEPEXE", "ZEPTMP"})
      EXPECT_NE((out + err).find(word), std::string::npos) << word;
  });
}

}  // namespace
