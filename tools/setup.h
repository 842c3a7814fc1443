// The console's start-up wiring from the session: the screen settings the
// session loaded, and the calculator and calendar behind the hot keys. The
// program calls these once the session is set up; tests call them after
// changing the session values they stand for.
#pragma once

#include "console/screen.h"

// The screen settings of the session: its colour table, the window-stack
// file in its temporary directory (as a host path) and its language. Reads
// Session only.
[[nodiscard]] ScreenSettings ScreenSettingsFromSession();

// SetScreenSettings(ScreenSettingsFromSession()).
void ApplySessionScreenSettings();

// Puts Calculator behind Alt+X and ShowCalendar behind Alt+C.
void InstallHotKeyTools();
