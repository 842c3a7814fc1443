// The pop-up calendar of the Alt+C hot key: a quarter of a year at the right
// edge of the screen, a highlighted day moved with the cursor keys, quarters
// paged with PgUp/PgDn, and the chosen date handed back as text.
#pragma once

#include <cstdint>
#include <string>

// Shows the calendar at rows 1..24, columns 59..80, starting on
// Session.SessionDate (today when the session has no valid date), and runs
// it until Enter/"F"/"f"/Alt+F (the chosen date through FormatDate, style 0,
// fields "dma": the user's numeric form) or Esc (the empty text).
// Its keys are shown on row 25 below it, ending at column 80, when the
// screen has that row. On a screen of fewer than 24 rows or 80 columns it
// beeps and gives the empty text without drawing anything.
// Restores the display mode, the exit-key set, the cursor size and the
// screen under it before it returns.
std::string ShowCalendar();
