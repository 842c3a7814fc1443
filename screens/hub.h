// The screen hub: runs one form of the form definition file as a data-entry
// screen, field by field, with its key dispatch, follow-on forms and, through
// a hook, the module's acceptance check. Works on the process-wide form
// tables (session/forms.h) and draws through the console layer (console/).
// The hub knows no module: its rules (acceptance, what a pick puts into a
// field, the lines of a pick list) come in through HubHooks.
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

// Runs form |form|. form: in, a negative number enters the form as the
// follow-on of another form; out, its magnitude. pageUpLeaves/pageDownLeaves
// nonzero let PgUp on the first editable field, PgDn on the last, leave the
// form. key: in, passed on to a resumed follow-on form and to the exitCheck
// hook when the form has no editable field; out, the key that ended the form.
// The values stay in FieldValue for the caller. Re-entrant.
// Pre: the form tables are loaded and |form| names a form of them; an
// unknown form number is returned at once with key Esc.
void RunForm(int16_t& form, int16_t pageUpLeaves, int16_t pageDownLeaves, int16_t& key);

// Draws the session title on row 1, every prompt and every value of |form|.
void DrawForm(int16_t form);

// Writes the stored value of one field at its place, by the field's type.
void ShowFieldValue(int16_t form, int16_t field);

// Checks |text| by the field's type (dates, numbers) and, when accepted,
// stores it left-aligned and blank-padded in FieldValue and shows it.
// A blank date becomes the session date. Returns 0 when stored, nonzero when
// refused (nothing is changed then). key is the key that ended the edit; no
// check of this hub depends on it.
[[nodiscard]] int16_t StoreFieldValue(int16_t form, std::string text, int16_t field, int16_t key);

// Seams the hub calls out through, replaceable by tests and by later pieces.
struct HubHooks {
  // Opens pick list |list|; result 0 when a record was picked (it is then in
  // the list file's record area), anything else when nothing was picked.
  std::function<void(int16_t list, int16_t& resultOut)> browse;
  // Shows the help page named |key| (trailing blanks already removed).
  std::function<void(const std::string& key)> help;
  // The module's acceptance rule when form |form| is left with |key|: 0 lets
  // the form go, nonzero sends the user back to its first editable field.
  std::function<int16_t(int16_t form, int16_t key)> exitCheck;
  // Puts the code of the record just picked in list |list| (in its file's
  // record area) into |field| of |form|, through StoreFieldValue.
  std::function<void(int16_t list, int16_t form, int16_t field)> takeSelection;
  // The key range of pick list |list|, both keys empty for every record;
  // returns 0 to open the list, nonzero to cancel it.
  std::function<int16_t(int16_t list, std::string& startKeyOut, std::string& endKeyOut)> listRange;
  // The line of pick list |list| for the record now in its file's record
  // area; a blank line leaves the record out of the list.
  std::function<std::string(int16_t list)> listLine;
  // The module's check of field |field| of |form| as the user leaves it
  // (any key but Esc) with |text| typed: empty takes it; otherwise the
  // text is told (it should name the field) and the field is edited again
  // with what was typed.
  std::function<std::string(int16_t form, int16_t field, const std::string& text)> fieldCheck;
  // Shows form |form|'s own help on F1: true when it did, false for the
  // session's help page (Session.MenuName, through help).
  std::function<bool(int16_t form)> formHelp;
};

// The hooks in force. Defaults: browse opens the pick list (screens/browse.h),
// help uses the console's help viewer, exitCheck lets every form go,
// takeSelection stores nothing, listRange gives every record, listLine the
// empty text, fieldCheck takes every field, formHelp leaves F1 to the session's page.
// A date a date field cannot take is told with the forms a date is written
// in (DateFormsText) whatever the hooks, and edited again as typed. An empty std::function counts as its default.
HubHooks& Hooks();
