// The screen hub: runs one form of the form definition file as a data-entry
// screen, field by field, with its key dispatch, follow-on forms and the
// module's acceptance check. Works on the process-wide form tables
// (session/forms.h) and draws through the console layer (console/).
//
// Key codes are those of console/keyboard.h; a mouse click that ends a field
// edit arrives as -(column * 100 + row) in absolute screen coordinates.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The form the user last left with PgUp or PgDn, so that re-entering its
// parent brings the user back into it; 0 = none.
extern int16_t ResumeForm;

// Runs form |form|. A negative number enters the form as the follow-on of
// another form; its magnitude is written back. pageUpLeaves/pageDownLeaves
// nonzero let PgUp on the first editable field, PgDn on the last, leave the
// form. key: in, passed on to a resumed follow-on form and to FormExitCheck
// when the form has no editable field; out, the key that ended the form.
// The values stay in FieldValue for the caller. Re-entrant.
// Pre: the form tables are loaded and |form| names a form of them; an
// unknown form number is returned at once with key Esc.
void RunForm(int16_t& form, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key);

// Draws the session title on row 1, every prompt and every value of |form|.
void DrawForm(int16_t form);

// Writes the stored value of one field at its place, by the field's type.
void ShowFieldValue(int16_t form, int16_t field);

// Checks |text| by the field's type (dates, numbers) and, when accepted,
// stores it left-aligned and blank-padded in FieldValue and shows it.
// A blank date becomes the session date. Returns 0 when stored, nonzero when
// refused (nothing is changed then).
int16_t StoreFieldValue(int16_t form, std::string text, int16_t& field, int16_t& key);

// The module's acceptance rule when a form is left: 0 lets it go, nonzero
// sends the user back to the first editable field. Only form 1 is checked:
// the owner and property ranges must not be reversed, and the confirmation
// form 2 must be answered "S".
int16_t FormExitCheck(int16_t form, int16_t key);

// Puts the code of the record just picked in list |list| (its file's record
// area) into |field| of |form| through StoreFieldValue. List 1: the owner
// code's four digits; list 2: the last three digits of the property code.
void TakeListSelection(int16_t list, int16_t form, int16_t field);

// Seams the hub calls out through, replaceable by tests and by later pieces.
struct HubHooks {
  // Opens pick list |list|; result 0 when a record was picked (it is then in
  // the list file's record area), anything else when nothing was picked.
  std::function<void(int16_t list, int16_t& result)> browse;
  // Shows the help page named |key| (trailing blanks already removed).
  std::function<void(std::string& key)> help;
  // The record area of the data file with this id, or nullptr.
  std::function<const uint8_t*(int16_t fileId)> recordArea;
};

// The hooks in force. Defaults: browse opens the pick list (screens/browse.h),
// help uses the console's help viewer, recordArea knows no file.
HubHooks& Hooks();
