// Every process-wide value a screen or run test may change, put back at its
// start: the session values, issuer details and tax classes, the clock, the
// formatting settings and currency contexts, and the keyboard and screen
// state. Tests of the layers above the console call it in SetUp and
// TearDown, so no test sees what another one left behind.
#pragma once

#include "base/clock.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/picture.h"
#include "formatting/settings.h"
#include "session/session.h"

inline void ResetProcessState() {
  Session = SessionValues{};
  IssuerDetails = {};
  TaxClasses = {};
  SetClockForTesting("");
  ResetFormattingSettingsForTesting();
  SetFormatSettings(FormatSettings{});
  ResetScreenState();
  ResetKeyboardState();
}
