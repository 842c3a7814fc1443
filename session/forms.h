// The form definition tables: the module's forms (fields with positions,
// widths, prompts and choice lists) and its pick lists, read once at start-up
// from the form definition file. The screen hub and the browse list work
// from these tables; the screens edit FieldValue in place.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Form count F and field capacity N (the most fields any form may have).
extern int16_t FormCount;
extern int16_t FieldCapacity;
// List count C; lists are numbered 1..C, list 0 exists and stays empty.
extern int16_t ListCount;

// Per form f = 0..F (form 0 exists and stays empty).
extern std::vector<std::string> FormKeys;   // the key list, as read
extern std::vector<int16_t> FormFieldCount;  // 0..N
extern std::vector<int16_t> NextForm;        // follow-on form, 0 for none
// [f][1..4]: top, left, bottom, right; [f][0] stays 0. A top of 0 means the
// form has no window of its own.
extern std::vector<std::array<int16_t, 5>> FormWindow;

// Per form f = 0..F and field k = 0..N (field 0 and fields beyond a form's
// FormFieldCount keep zero attributes and empty texts).
// FieldAttr[f][k]: 0 row and 1 column of the prompt, 2 value length,
// 3 line width, 4 trailing area width, 5 flags, 6 type, 7 list number.
extern std::vector<std::vector<std::array<int16_t, 8>>> FieldAttr;
extern std::vector<std::vector<std::string>> FieldPrompt;   // translated
extern std::vector<std::vector<std::string>> FieldChoices;  // translated; empty: free field
// Exactly FieldAttr[f][k][2] characters, blanks when loaded.
extern std::vector<std::vector<std::string>> FieldValue;

// Per list c = 0..C.
extern std::vector<std::array<int16_t, 8>> ListAttr;
extern std::vector<std::string> ListText;  // translated

// Results of LoadFormDefinitions.
inline constexpr int16_t FormsLoaded = 0;
inline constexpr int16_t FormsFileMissing = 1;  // not there, or not a readable file
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
