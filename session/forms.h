// The form definition tables: the module's forms (fields with positions,
// widths, prompts and choice lists) and its pick lists, read once at start-up
// from the form definition file. The screen hub and the browse list work
// from these tables; the screens edit FieldValue in place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Form count F and field capacity N (the most fields any form may have).
extern int16_t FormCount;
extern int16_t FieldCapacity;
// List count C; lists are numbered 1..C, list 0 exists and stays empty.
extern int16_t ListCount;

// The numbered slots of the tables, named once here. The file gives them by
// position (see LoadFormDefinitions); these names say which is which.
//
// A form record: keys, field count, next form, then FormWindow[f][Top..Right]
// (slot 0 exists and stays 0).
namespace FormWindowSlot {
inline constexpr size_t Top = 1;  // 0: the form has no window of its own
inline constexpr size_t Left = 2;
inline constexpr size_t Bottom = 3;
inline constexpr size_t Right = 4;
inline constexpr size_t Count = 5;
}  // namespace FormWindowSlot

// A field record: Row, Column, the prompt, Length, LineWidth, Trailing, Flags,
// Type, List, the choices. Flags and Type are the screens' to interpret.
namespace FieldAttrSlot {
inline constexpr size_t Row = 0;        // prompt row, relative to the form's window
inline constexpr size_t Column = 1;     // prompt column, relative to the form's window
inline constexpr size_t Length = 2;     // characters of the value
inline constexpr size_t LineWidth = 3;  // characters per line; 0: one line
inline constexpr size_t Trailing = 4;   // width of the area right after the value
inline constexpr size_t Flags = 5;
inline constexpr size_t Type = 6;
inline constexpr size_t List = 7;       // list opened with F4; 0: none
inline constexpr size_t Count = 8;
}  // namespace FieldAttrSlot

// A list row: FileId, KeyNumber, Top, Left, Bottom, Right, FilterForm, the
// list's text, ChainedList.
namespace ListAttrSlot {
inline constexpr size_t FileId = 0;       // data file read; 0: the lines already in the list file
inline constexpr size_t KeyNumber = 1;    // key the file is read by
inline constexpr size_t Top = 2;          // window rectangle: top, left, bottom, right
inline constexpr size_t Left = 3;
inline constexpr size_t Bottom = 4;
inline constexpr size_t Right = 5;
inline constexpr size_t FilterForm = 6;   // form run before the list opens; 0: none
inline constexpr size_t ChainedList = 7;  // list opened with F4 from this one; 0: none
inline constexpr size_t Count = 8;
}  // namespace ListAttrSlot

using FormWindowSlots = std::array<int16_t, FormWindowSlot::Count>;
using FieldAttrSlots = std::array<int16_t, FieldAttrSlot::Count>;
using ListAttrSlots = std::array<int16_t, ListAttrSlot::Count>;

// Lifetime: every table here is written only by LoadFormDefinitions (and
// ClearFormDefinitions) at start-up and only read afterwards, except
// FieldValue, which the screens edit while they run.

// Per form f = 0..F (form 0 exists and stays empty).
extern std::vector<std::string> FormKeys;   // the key list, as read
extern std::vector<int16_t> FormFieldCount;  // 0..N
extern std::vector<int16_t> NextForm;        // follow-on form, 0 for none
extern std::vector<FormWindowSlots> FormWindow;

// Per form f = 0..F and field k = 0..N (field 0 and fields beyond a form's
// FormFieldCount keep zero attributes and empty texts).
extern std::vector<std::vector<FieldAttrSlots>> FieldAttr;
extern std::vector<std::vector<std::string>> FieldPrompt;   // translated
extern std::vector<std::vector<std::string>> FieldChoices;  // translated; empty: free field
// Exactly FieldAttr[f][k][FieldAttrSlot::Length] characters, blanks when loaded.
extern std::vector<std::vector<std::string>> FieldValue;

// Per list c = 0..C.
extern std::vector<ListAttrSlots> ListAttr;
extern std::vector<std::string> ListText;  // translated

// Results of LoadFormDefinitions.
inline constexpr int16_t FormsLoaded = 0;
inline constexpr int16_t FormsFileMissing = 1;  // not there, not a regular file, unreadable or too large
inline constexpr int16_t FormsFileShort = 2;    // the file ended before all its groups
inline constexpr int16_t FormsBadHeader = 3;    // form count below 1, capacity below 0 or too large
inline constexpr int16_t FormsBadFieldCount = 4;  // a form's field count outside 0..N

// Where the module's form definitions live: RootDir + "FORMS\KORVADEL.ZPN".
std::string FormDefinitionPath();

// Fills the tables from the form definition file at the suite path |file|
// (comments skipped before each group, texts translated as they are read).
// groupsRead: how many groups were read whole (the header, each form with
// its fields, the list count, each list row). On any result other than
// FormsLoaded the tables keep what was read whole; nothing is shown: the
// caller reports. The largest F x (N + 1) accepted is 65536.
int16_t LoadFormDefinitions(const std::string& file, int& groupsRead);

// Empties every table (F, N and C become 0).
void ClearFormDefinitions();

// Puts |text| into field k of form f, cut or blank-padded to the field's
// length. Does nothing when f or k does not name a field of the tables.
void SetFieldValue(int16_t f, int16_t k, const std::string& text);
