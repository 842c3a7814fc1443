// zepfact's command line, read by its table of commands (commands.cpp):
// the commands, what each takes, and the usage that lists them.
#pragma once

#include <string>

#include "base/language.h"
#include "suite/zepfact/program.h"

// The command line: the command and its arguments, or the first usage
// error found (Options::bad), the root still read for the language.
[[nodiscard]] Options ParseOptions(int argc, char** argv);

// The usage in language: the frame of FactMessage::Usage with every form of
// every command once, in code page 850.
[[nodiscard]] std::string UsageText(Language language);
