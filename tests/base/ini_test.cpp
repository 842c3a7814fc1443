#include "base/ini.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "tests/support/temp_root.h"

namespace {

struct IniCase {
  std::string content;
  std::string section;
  std::string key;
  std::string expected;
};

TEST(IniRead, LineRules) {
  const IniCase cases[] = {
      {"[Iva0]\r\nHonoraris = 16 ; IVA\r\n", "Iva0", "Honoraris", " 16 "},
      {"[ iva0 ]\r\nhonoraris=21\r\n", "Iva0", "Honoraris", "21"},
      {"[Iva0]\r\nNom=\"I.V.A.\"\r\n", "Iva0", "Nom", "I.V.A."},
      {"[Iva0]\r\nNom=\"\r\n", "Iva0", "Nom", "\""},
      {"[Iva0]\r\nNom=\"\"\r\n", "Iva0", "Nom", ""},
      {"[Iva0]\r\nNom= \"x\"\r\n", "Iva0", "Nom", " \"x\""},
      {"[Iva0]\r\n=5\r\n", "Iva0", "Honoraris", ""},
      {"[Iva0]\r\nA=1\r\n[Iva1]\r\nA=2\r\n[Iva0]\r\nA=3\r\nB=4\r\n", "Iva0", "B", ""},
      {"[Iva0]\r\nA=1\r\n[Iva1]\r\nA=2\r\n[Iva0]\r\nA=3\r\n", "Iva0", "A", "1"},
      {"[Iva0]\r\nA=1\r\nA=2\r\n", "Iva0", "A", "1"},
      {"A=1\r\n[Iva0]\r\n", "Iva0", "A", ""},          // before the first header
      {"[Iva0]\r\nA=1\r\n", "Iva1", "A", ""},
      {"[Iva0\r\nA=1\r\n", "Iva0", "A", "1"},          // header without "]"
      {"  [Iva0]  \r\n  A  =x=y\r\n", "Iva0", "A", "x=y"},
      {"[Iva0]\r\n;A=1\r\nA=2\r\n", "Iva0", "A", "2"},
      {"[Iva0] ; note\r\nA=1;2\r\n", "Iva0", "A", "1"},
      {";[Iva0]\r\n[Iva0]\r\nA=3\r\n", "Iva0", "A", "3"},
      {"[Iva0]\r\nA\r\nA=4\r\n", "Iva0", "A", "4"},    // a line without "=" is ignored
      {"[Iva0]\nA=5\n", "Iva0", "A", "5"},             // line feed alone
      {"[Iva0]\r\nA=6", "Iva0", "A", "6"},             // no final line end
      {"[Iva0]\r\nA=\r\n", "Iva0", "A", ""},
      {"[Iva0]\r\n[Iva1]\r\nA=1\r\n", "Iva0", "A", ""},
      {"[Iva0]\r\nA=1\r\n", " Iva0 ", " a ", "1"},
      {"[Pa\x87]\r\nA=\x80\x87\r\n", "PA\x80", "A", "\x80\x87"},  // cp850 letters fold
      {"[\xa4]\r\nA=1\r\n", "\xa5", "A", "1"},
      {"[]\r\nA=1\r\n", "", "A", "1"},
      {std::string("[Iva0]\r\nA=1\0 2\r\nB=3\r\n", 22), "Iva0", "B", "3"},
      {std::string("[Iva0]\r\nA=1\0 2\r\n", 15), "Iva0", "A", std::string("1\0 2", 4)},
      {"[Iva0]\r\nX=" + std::string(1000000, 'x') + "\r\nA=7\r\n", "Iva0", "A", "7"},
      {"[Iva0]\r\n" + std::string(300000, ' ') + "A=8\r\n", "Iva0", "A", "8"},
      {"\xef\xbb\xbf[Iva0]\r\nA=9\r\n", "Iva0", "A", ""},  // a byte-order mark hides the header
      {"", "Iva0", "A", ""},
  };
  for (const IniCase& c : cases) {
    TempRoot root;
    root.Write("Tarn.ini", c.content);
    EXPECT_EQ(IniRead(root.Dir() + "Tarn.ini", c.section, c.key), c.expected)
        << "file \"" << c.content.substr(0, 60) << "\" section \"" << c.section << "\" key \"" << c.key << "\"";
  }
}

TEST(IniReadTrimmed, BlanksAroundTheValue) {
  const IniCase cases[] = {
      {"[S]\r\nK = B12345678 \r\n", "S", "K", "B12345678"},
      {"[S]\r\nK=\t v w\t\r\n", "S", "K", "v w"},
      {"[S]\r\nK = \"  Puig \" ; note\r\n", "S", "K", "  Puig "},  // quotes keep their blanks
      {"[S]\r\nK= \"x\"\r\n", "S", "K", "x"},
      {"[S]\r\nK = \"\"\r\n", "S", "K", ""},
      {"[S]\r\nK = \" \r\n", "S", "K", "\""},
      {"[S]\r\nK = \"a\" b\r\n", "S", "K", "\"a\" b"},
      {"[S]\r\nK =   \r\n", "S", "K", ""},
      {"[S]\r\nK = v\r\n", "S", "X", ""},
  };
  for (const IniCase& c : cases) {
    TempRoot root;
    root.Write("Tarn.ini", c.content);
    EXPECT_EQ(IniReadTrimmed(root.Dir() + "Tarn.ini", c.section, c.key), c.expected) << c.content;
  }
}

TEST(IniRead, FilesThatCannotBeRead) {
  TempRoot root;
  root.Write("dir/Tarn.ini/inner", "x");  // Tarn.ini is a directory
  const std::string fifo = root.Dir() + "pipe.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Far beyond the size a settings file may have: refused by its size.
  const std::string huge = root.Write("huge.ini", "[Iva0]\r\nA=1\r\n");
  ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(MostSettingsFileBytes) + 1), 0);
  const std::string paths[] = {
      huge,
      root.Dir() + "missing.ini",
      root.Dir() + "dir\\Tarn.ini",  // suite separators are turned into host ones
      fifo,                          // opening a pipe would block
      "",
  };
  for (const std::string& path : paths) {
    EXPECT_EQ(IniRead(path, "Iva0", "A"), "") << path;
  }
  root.Write("sub/Tarn.ini", "[S]\r\nK=v\r\n");
  EXPECT_EQ(IniRead(root.Dir() + "sub\\Tarn.ini", "S", "K"), "v");
}

}  // namespace
