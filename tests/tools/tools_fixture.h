// The console fixture with the session pointed at its private directory:
// suite root, temporary and terminal directories, Catalan, a text session.
#pragma once

#include <string>

#include "session/session.h"
#include "tests/support/console_fixture.h"

class ToolTest : public ConsoleTest {
 protected:
  void InstalledIn(const std::string& dir) override {
    Session.TempDir = dir + "\\";
    Session.RootDir = dir + "\\";
    Session.TerminalDir = dir + "\\";
    Session.Language = "CAT";
    Session.EnvironmentKind = "DOS";
  }
};
