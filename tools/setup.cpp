#include "tools/setup.h"

#include "base/paths.h"
#include "console/keyboard.h"
#include "session/session.h"
#include "tools/calculator.h"
#include "tools/calendar.h"

ScreenSettings ScreenSettingsFromSession() {
  ScreenSettings settings;
  for (int mode = 0; mode < 5; ++mode)
    for (int k = 0; k < 2; ++k) settings.colourTable[mode][k] = Session.ColourTable[mode][k];
  settings.windowStackPath = HostPath(Session.TempDir + "WinPush.tmp");
  settings.language = LanguageFromCode(Session.Language);
  return settings;
}

void ApplySessionScreenSettings() { SetScreenSettings(ScreenSettingsFromSession()); }

void InstallHotKeyTools() {
  SetCalculatorHook(Calculator);
  SetCalendarHook(ShowCalendar);
}
