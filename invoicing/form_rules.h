// The module's own rules of its screens, handed to the generic form runner
// and pick list (screens/) through their hooks: the acceptance check of the
// parameter form, the code a pick puts into a field, and the lines and range
// of the owner and property lists. Reads the form tables and the module's
// record areas (ModuleRecordArea).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct HubHooks;

// The acceptance rule when form |form| is left with |key|: 0 lets it go,
// nonzero sends the user back to the first editable field. Only form 1 is
// checked, and not when it is left with Esc: the owner range (fields 2, 3)
// and the property range (fields 4, 5) must not be reversed, and the
// confirmation form 2, shown with its field blanked, must be answered "S".
// A form 1 of fewer than five fields is let go; without a confirmation form
// nothing can be confirmed (nonzero).
// With a confirmation note set (SetConfirmationNote), it is asked first: false
// sends the user back (it has told why), and the text it gives stands above
// the confirmation form while it is answered.
[[nodiscard]] int16_t FormExitCheck(int16_t form, int16_t key);

// Shows confirmation form 2 with its field blanked: 0 when it is answered
// "S", nonzero otherwise or when there is no confirmation form.
[[nodiscard]] int16_t ConfirmParameters(int16_t key);
[[nodiscard]] bool HasConfirmationForm();

// Opens a message window (ShowMessageWindow) holding text where it leaves
// the confirmation form's window uncovered: below it, or above it when
// the text needs more rows than there are below; where neither has room,
// at the screen's foot. 0 when opened (the caller closes it with
// PopWindow), as ShowMessageWindow.
[[nodiscard]] int16_t ShowBesideConfirmation(std::string& text);

// The check a registered run makes before its confirmation, or none (an
// empty function).
void SetConfirmationNote(std::function<bool(std::string& note)> note);

// Puts the code of the record just picked in list |list| (in its file's
// record area) into |field| of |form| through StoreFieldValue. List 1: the
// owner code's four digits; list 2: the last three digits of the property
// code; any other list changes nothing.
void TakeListSelection(int16_t list, int16_t form, int16_t field);

// The range of list |list|: both keys empty (every record, from the first).
// Returns 0: the list opens.
[[nodiscard]] int16_t ListRange(int16_t list, std::string& startKeyOut, std::string& endKeyOut);

// The line of the record now in the record area: list 1 the owner's four
// code digits, a blank and the name; list 2 the last three digits of the
// property code, a blank and the list name; other lists the empty text
// (the record is not listed).
[[nodiscard]] std::string ListLine(int16_t list);

// Sets exitCheck, takeSelection, listRange and listLine of |hooks| to the
// rules above; the other hooks are left as they are.
void ConnectFormRules(HubHooks& hooks);
