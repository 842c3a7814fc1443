// The register screen's correction window (form 3): the corrective's type,
// its form (by differences or by substitution), the corrected fee and
// expenses, and its cause, each field checked as it is left.
#pragma once

#include <cstdint>

#include "register/amend.h"
#include "register/register.h"

// Runs the window over e with its present fee and expenses offered (the
// present base, presentBase, after any corrective, less the expenses its
// archived page billed), until it is left with Esc (false) or left with
// every field sound and the corrective confirmed (true, correctionOut
// filled).
bool AskCorrection(const RegisterEntry& e, int64_t presentBase, Correction& correctionOut);
