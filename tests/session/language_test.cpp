#include "session/language.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "session/session.h"
#include "tests/support/temp_root.h"

namespace {

const std::string kLanguageFile =
    "FACTURA,FACTURA GL,FACTURA OC,FACTURA ES\r\n"
    "\"RETENCI\xe0 HONORARIS \",RET GL,RET OC,RETENCI\xe0N HONORARIOS\r\n"
    "DATA,\"DATA, GL\",  DATA OC  ,FECHA\r\n"
    "BUIT,,,\r\n"
    "DOBLE,PRIMER GL,PRIMER OC,PRIMER ES\r\n"
    "DOBLE,SEGON GL,SEGON OC,SEGON ES\r\n"
    "PARTIT\r\nPARTIT GL\r\n  PARTIT OC,PARTIT ES\r\n"
    "TRENCAT,\r\nTRENCAT GL,\r\nTRENCAT OC,\r\nTRENCAT ES\r\n"
    "SEGUENT,SEGUENT GL,SEGUENT OC,SEGUENT ES\r\n"
    "TALLAT,T GL\r\n";

TEST(Translate, FourLanguages) {
  struct Case {
    std::string language;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"SPA", "FACTURA", "FACTURA ES"},
      {"GLG", "FACTURA", "FACTURA GL"},
      {"OCI", "FACTURA", "FACTURA OC"},
      {"CAT", "FACTURA", "FACTURA"},
      {"SPA", "FINCA", "FINCA"},
      {"SPA", "RETENCI\xe0 HONORARIS ", "RETENCI\xe0N HONORARIOS"},
      {"SPA", "RETENCI\xe0 HONORARIS", "RETENCI\xe0 HONORARIS"},  // the blank belongs to the key
      {"GLG", "DATA", "DATA, GL"},
      {"OCI", "DATA", "DATA OC"},
      {"SPA", "data", "data"},  // exact bytes: letter case counts
      {"SPA", "BUIT", ""},      // an empty translation is given as it is
      {"SPA", "DOBLE", "PRIMER ES"},
      {"OCI", "PARTIT", "PARTIT OC"},  // a record may span lines
      {"SPA", "TRENCAT", "TRENCAT ES"},  // also broken after its commas
      {"GLG", "SEGUENT", "SEGUENT GL"},
      {"GLG", "TALLAT", "TALLAT"},     // cut short at the end: ignored
      {"   ", "FACTURA", "FACTURA"},
      {"ENG", "FACTURA", "FACTURA"},
      {"spa", "FACTURA", "FACTURA"},
  };
  TempRoot root;
  root.Write("LOCALE/KORVADEL.LNG", kLanguageFile);
  Session.RootDir = root.Dir();
  for (const Case& c : cases) {
    Session.Language = c.language;
    EXPECT_EQ(Translate(c.text), c.expected) << c.language << " \"" << c.text << "\"";
  }
  Session = SessionValues{};
}

TEST(Translate, MissingFile) {
  struct Case {
    std::string language;
    bool created;
  };
  const Case cases[] = {{"CAT", false}, {"SPA", true}, {"   ", true}, {"GLG", true}};
  for (const Case& c : cases) {
    TempRoot root;
    root.Write("LOCALE/.keep", "");
    Session.RootDir = root.Dir();
    Session.Language = c.language;
    EXPECT_EQ(Translate("FACTURA"), "FACTURA") << c.language;
    EXPECT_EQ(root.Exists("LOCALE/KORVADEL.LNG"), c.created) << c.language;
    // A file created empty stays a valid empty file.
    EXPECT_EQ(Translate("FACTURA"), "FACTURA") << c.language;
  }
  // A pipe or a folder where the file should be: neither read nor replaced,
  // and nothing waits for a writer of the pipe.
  for (const bool pipe : {true, false}) {
    TempRoot root;
    root.Write("LOCALE/.keep", "");
    const std::string path = root.Dir() + "LOCALE/KORVADEL.LNG";
    if (pipe) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else {
      root.Write("LOCALE/KORVADEL.LNG/inner", "FACTURA,A,B,C\r\n");
    }
    Session.RootDir = root.Dir();
    Session.Language = "SPA";
    EXPECT_EQ(Translate("FACTURA"), "FACTURA") << (pipe ? "pipe" : "folder");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(S_ISFIFO(info.st_mode), pipe);
  }
  // No LOCALE folder at all: nothing can be created, the text stays.
  TempRoot bare;
  Session.RootDir = bare.Dir();
  Session.Language = "SPA";
  EXPECT_EQ(Translate("FACTURA"), "FACTURA");
  Session = SessionValues{};
}

}  // namespace
