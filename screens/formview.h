// The screens' view of the form tables and of the console: one place that
// knows how the form definition tables are stored, bounds-checked, so that a
// form number or field number out of range reads as "nothing there" instead
// of touching memory that is not ours.
#pragma once

#include <cstdint>
#include <string>

// One field's definition, decoded from FieldAttr 0..7 and its texts.
struct FieldView {
  int16_t row = 0;        // prompt row, window-relative
  int16_t col = 0;        // prompt column, window-relative
  std::string prompt;     // translated prompt
  int16_t length = 0;     // characters of the value
  int16_t lineWidth = 0;  // 0 = one line; else characters per line
  int16_t trailing = 0;   // width of the area right after the value
  int16_t flags = 0;      // 1 offer blank, 2 masked, 4 display only, 8 cursor at end
  int16_t type = 0;       // 1 date, 2 number, 3 integer of 8 positions, else text
  int16_t list = 0;       // list opened by F4, 0 = none
  std::string choices;    // "|" value "," description ..., empty for a free field
};

int16_t FormCountOf();
bool FormExists(int16_t form);
int16_t FormFieldCountOf(int16_t form);
std::string FormKeysOf(int16_t form);
int16_t NextFormOf(int16_t form);
// Element FormWindowSlot::Top..Right of the form's window; 0 outside.
int16_t FormWindowOf(int16_t form, int element);
bool FieldExists(int16_t form, int16_t field);
FieldView FieldOf(int16_t form, int16_t field);
std::string FieldValueOf(int16_t form, int16_t field);
void SetFieldValueOf(int16_t form, int16_t field, const std::string& value);

// Writes text at an absolute screen position, whatever window is open; the
// text is cut at the right edge of the screen.
void WriteAbsolute(int row, int col, const std::string& text);
