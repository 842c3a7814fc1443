// Output files that appear whole or not at all.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Writes each (host path, bytes) pair: every file first to a temporary file
// beside its target (same folder, so the rename stays on one file system),
// flushed to disk, then all renamed into place. When any temporary file
// cannot be made or written, every temporary file is removed, no target is
// touched, failedPathOut names the file that failed and the result is false.
// A rename that fails part-way leaves the files renamed before it in place
// (each of them whole) and names the one that failed. New files get the
// permissions of the process's umask, as an ordinary created file would.
[[nodiscard]] bool WriteWholeFiles(const std::vector<std::pair<std::string, std::string>>& files,
                                   std::string& failedPathOut);
