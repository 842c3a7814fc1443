// The module's side of the sending mode: whether the root sends its records
// to the agency and the line that says how many wait or were rejected.
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
