// The field editor: edits one fixed-length text field in place and returns
// the key that ended the edit. Ordinary, multi-line (width < length), masked
// (MaskCharacter set) and choice fields (ChoiceList set).
#pragma once

#include <string>

// The choice list of the next edits: "|" value "," description, repeated
// ("|S,Si|N,No"); empty for ordinary fields. The caller empties it after.
extern std::string ChoiceList;
void SetChoiceList(const std::string& list);

// The process clipboard (code page 850) used by Ctrl+C and Ctrl+V.
extern std::string Clipboard;

// Edits text at window-relative (row, col); row or col 0 is the cursor's
// row or column, width 0 the text length + 1. The text keeps its length.
// pos (1..length+1) is clamped on entry and returned updated. key receives
// the code that ended the edit after Tab/Shift+Tab/Enter/Ctrl+F4/Alt+F4
// translation and exit-key lookup; a click outside the field comes back as
// -(column*100 + row), absolute. Leaves the display mode at "h".
void EditField(int row, int col, int width, std::string& text, int& pos, int& key);
