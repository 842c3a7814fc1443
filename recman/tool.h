// The recman maintenance tool's commands, callable in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Runs one command line (without the program name):
//   create FILE DICTIONARY
//   load FILE RAWFILE
//   dump FILE [--key N] [--layout LAYOUT]
//   import FILE CSV LAYOUT
//   stat FILE
//   set-owner FILE NAME
//   clear-owner FILE NAME
//   check FILE        every page and both copies of every record; exit 1
//                     when anything is damaged (listed on out)
//   upgrade FILE      gives a file made before page checksums its checksums
// Every command but create and clear-owner takes "--owner NAME" for a file
// that has an owner name (set-owner: the name it has now); a file opened
// without it, or with another, gives a message saying that it has one and
// how to give it, never the name itself. "--help" prints the usage to out.
// Output goes to `out`, messages to `err`. Returns the exit code: 0 success,
// 1 failure (a message names the record-manager status or the bad input),
// 2 bad arguments (with the usage text).
int RunRecmanTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
