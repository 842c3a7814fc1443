#include "formatting/settings.h"

namespace {

// Made on first use, so that formatting during another file's static
// initialisation still finds the defaults.
FormatSettings& InForce() {
  static FormatSettings settings;
  return settings;
}

}  // namespace

void SetFormatSettings(const FormatSettings& settings) { InForce() = settings; }

const FormatSettings& CurrentFormatSettings() { return InForce(); }
