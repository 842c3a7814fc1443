// The module's side of the sending mode: whether the root sends its records
// to the agency, the line that says how many wait or were rejected, and the
// sender started in the background after a registered run.
#pragma once

#include <string>

#include "base/language.h"

// Tarn.ini [VeriFactu] Mode=envia of the root (a suite path).
[[nodiscard]] bool SendingModeOn(const std::string& rootDir);

// How many records of the root's register wait to be sent and how many
// rejections stand; both 0 when the files cannot be read.
void SendingBacklog(const std::string& rootDir, int64_t& pending, int64_t& rejected);

// "RECORDS TO SEND TO THE AGENCY: n[, REJECTED: m]" in language, or the
// empty text when nothing waits and nothing was rejected.
[[nodiscard]] std::string SendingBacklogLine(const std::string& rootDir, Language language);

// Starts <exeDir>zepfact send --until-empty --background for the root; it
// detaches and outlives the module (one sender per root: a second one
// leaves at once). 0, or the errno of a start that failed (with the
// program's path in programOut).
[[nodiscard]] int StartBackgroundSender(const std::string& rootDir, const std::string& exeDir,
                                        std::string& programOut);
