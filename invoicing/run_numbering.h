// How a registered fee-invoice run numbers its invoices: each tax class's
// series continues from the register (a series not yet in it starts from
// the form's number), planned before anything is made, and the settings a
// registered run takes its identity from.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "invoicing/run_shared.h"

// What is wrong with the settings a registered run takes its identity from
// (the issuer's NIF, the software's identity, the two series); empty when
// nothing is.
[[nodiscard]] std::string RegisterSettingsProblem();

// How a registered run numbers its invoices, planned from the register and
// the form before anything is made.
struct RunNumbering {
  std::string problem;  // why the run cannot go ahead, for the user; empty when it can
  std::string note;     // the first number of each series, for the confirmation
  std::array<int32_t, 2> first{1, 1};       // the first number of each slot
  std::array<int, 2> slotOfClass{0, 1};     // tax class 1 shares slot 0 when its series is class 0's
};

// The plan for invoices dated dateDigits (YYYYMMDD) with formNumber the
// form's number; the note names the series of the tax classes used marks
// (those the pass's links have, TaxClassesInRange), none when it marks none. Refused (problem set) when the settings are wrong, the
// register cannot be read, the date is after today or before a series'
// last date, or a first number falls outside 1..RegisterHighestNumber.
[[nodiscard]] RunNumbering PlanNumbering(RunRegister& reg, const std::string& dateDigits, int32_t formNumber,
                                         const std::array<bool, 2>& used = {true, true});
