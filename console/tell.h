// Telling the user something and waiting for a key: the one routine every
// layer uses for a message the user must acknowledge (a missing help page,
// a form file that cannot be read, a failed print run, ...).
#pragma once

#include <string>

// Shows text (code page 850, word-wrapped as ShowMessageWindow does) in a
// framed window centred around anchorRow, with "any key to go on" in the
// language of the screen settings in its bottom line, sounds the beep,
// drops keys typed ahead, waits for one key or click (spent on the
// acknowledgement) and closes the window, putting back what was under it.
//
// When no window can be opened (the text does not fit the screen, or the
// window-stack file cannot be written: a missing or full temporary
// directory), the lines and the key line are written straight onto the
// screen in reverse video around anchorRow instead, and the cells under
// them are put back after the key; the user is told in any case. On a
// screen with no room at all it only beeps and waits.
//
// Changes: the screen only while it waits; the display mode, the window
// stack, the cursor and the exit-key set are as they were afterwards.
void TellUserAndWait(int anchorRow, const std::string& text);
