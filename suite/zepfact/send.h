// zepfact send and resend: the sending mode's commands. The sender itself
// lives in sending/; here are the settings of the root, the messages in the
// session's language and the exit codes.
#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "base/language.h"
#include "register/record.h"
#include "suite/zepfact/exports.h"

struct SendCommandOptions {
  bool untilEmpty = false;  // keep going, backing off up to an hour, until nothing is left
  int64_t firstRetry = 60;  // the first back-off, seconds
  bool background = false;  // detach: a new session, output appended to DADES\EnviFact.log
};

// Exit codes: 0 nothing left to send; 1 rejections stand (named), the
// agency refused the message, or the settings, certificate or files cannot
// be used (named); 3 the agency could not be reached or answered with a
// server fault, or another sender runs (records kept for later).
inline constexpr int kExitUnreachable = 3;

// root: suite path, empty or ending in a separator.
[[nodiscard]] int SendRecords(const std::string& root, Language language, const SendCommandOptions& options);

// Appends a correction record (Subsanacion) for the invoice whose number
// is given as printed ("A/00000005") or alone, with the recipient's data as
// the owner file holds it now; it goes out with the next send.
[[nodiscard]] int ResendRecord(const std::string& root, Language language, const std::string& number);

// Asks the agency, in the header of the next message (and of each one after
// it until one is answered), to end the sending mode on the last day of
// this year (FechaFinVeriFactu), and starts the sender for the records that
// wait. Says so when the agency has that renunciation already.
[[nodiscard]] int RenounceSendingMode(const std::string& root, Language language);

// What the agency answered for each of entries (in their order), when the
// root is in the sending mode; false (out empty) otherwise. A record without
// an answer is Pendiente. unreadableOut: the answers file's host path when
// an answer could not be read or names another invoice (those records are
// shown as Pendiente, and the caller says so), else empty.
[[nodiscard]] bool SendingCellsOf(const std::string& root, const std::vector<RegisterEntry>& entries,
                                  std::vector<SendingCells>& out, std::string& unreadableOut);

// The list's line under an invoice in the sending mode: its state in the
// session's language, then the CSV code, or the agency's error.
[[nodiscard]] std::string SendingListLine(const SendingCells& cells, Language language);
