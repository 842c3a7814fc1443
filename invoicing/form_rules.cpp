// The module's rules of the parameter form and of its pick lists.
#include "invoicing/form_rules.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "console/screen.h"
#include "console/keyboard.h"
#include "formatting/dates.h"
#include "invoicing/form_texts.h"
#include "invoicing/production.h"
#include "console/tell.h"
#include "session/session.h"
#include "records/layouts.h"
#include "screens/formview.h"
#include "screens/hub.h"
#include "session/forms.h"

namespace {

// Packed code comparison, byte by byte as unsigned bytes.
bool CodeGreater(const std::string& a, const std::string& b) {
  return a.compare(b) > 0;  // char_traits<char> compares as unsigned char
}

// The last three digits of a property code's digits.
std::string LastThree(const std::string& digits) {
  return digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
}

std::function<bool(std::string&)>& ConfirmationNote() {
  static std::function<bool(std::string&)> note;
  return note;
}

}  // namespace

int16_t FormExitCheck(int16_t form, int16_t key) {
  // F7 leaves the form for the register screen, without confirming a run.
  if (key == KeyEsc || key == KeyF7 || form != 1) return 0;
  if (FormFieldCountOf(1) < 5) return 0;
  const std::string fromOwner = CodeFromText(FieldValueOf(1, 2));
  const std::string toOwner = CodeFromText(FieldValueOf(1, 3));
  // "0" is put before by appending: GCC 12 at -O3 misreads "0" + text as
  // an overlapping copy.
  const std::string fromProperty = CodeFromText(std::string("0").append(FieldValueOf(1, 4)));
  const std::string toProperty = CodeFromText(std::string("0").append(FieldValueOf(1, 5)));
  // A reversed range is told, naming the codes as typed; the form keeps them.
  const bool owners = CodeGreater(fromOwner, toOwner);
  if (owners || CodeGreater(fromProperty, toProperty)) {
    const int16_t first = owners ? 2 : 4;
    TellUserAndWait(ScreenRows() - 2,
                    form_texts::Filled(owners ? form_texts::Say::OwnersReversed : form_texts::Say::PropertiesReversed,
                                       LanguageFromCode(Session.Language), Trim(FieldValueOf(1, first)),
                                       Trim(FieldValueOf(1, static_cast<int16_t>(first + 1)))));
    return 1;
  }
  std::string note;
  if (ConfirmationNote() && !ConfirmationNote()(note)) return 1;
  if (note.empty()) return ConfirmParameters(key);
  // The note stands beside the confirmation while it is answered.
  const bool shown = ShowBesideConfirmation(note) == 0;
  const int16_t answer = ConfirmParameters(key);
  if (shown) PopWindow();
  return answer;
}

bool HasConfirmationForm() { return FieldExists(2, 1); }

int16_t ShowBesideConfirmation(std::string& text) {
  const int rows = ScreenRows();
  // As ShowMessageWindow lays the text out: its lines, a frame line above
  // and below.
  const int textWidth = ScreenColumns() >= 80 ? 76 : std::max(1, ScreenColumns() - 4);
  const int height = static_cast<int>(FormatTextLineList(text, 0, textWidth, "i").size()) + 2;
  const int formTop = FormWindowOf(2, FormWindowSlot::Top);
  const int formBottom = FormWindowOf(2, FormWindowSlot::Bottom);
  // ShowMessageWindow's top is anchor - (lines + 1) / 2 - 2: the anchor
  // that puts the window's top on row top.
  const auto anchorFor = [height](int top) { return top + (height - 1) / 2 + 2; };
  int anchor = rows;
  if (formTop > 0 && formBottom + height <= rows) anchor = anchorFor(formBottom + 1);
  else if (formTop > 0 && height < formTop) anchor = anchorFor(formTop - height);
  return ShowMessageWindow(anchor, text);
}

int16_t ConfirmParameters(int16_t key) {
  // Without a confirmation form nothing can be confirmed.
  if (!HasConfirmationForm()) return 1;
  SetFieldValueOf(2, 1, std::string(static_cast<size_t>(FieldOf(2, 1).length), ' '));
  int16_t confirmForm = 2;
  int16_t confirmKey = key;
  RunForm(confirmForm, 0, 0, confirmKey);
  return TrimRight(FieldValueOf(2, 1)) == "S" ? 0 : 1;
}

void SetConfirmationNote(std::function<bool(std::string& note)> note) { ConfirmationNote() = std::move(note); }

void TakeListSelection(int16_t list, int16_t form, int16_t field) {
  std::string digits;
  if (list == 1) {
    digits = KeyDigits(OwnerCode(ModuleRecordArea(OwnerFileId)));
  } else if (list == 2) {
    digits = LastThree(KeyDigits(PropertyCode(ModuleRecordArea(PropertyFileId))));
  } else {
    return;
  }
  // A refused value leaves the field as it was, which is all a pick can do.
  static_cast<void>(StoreFieldValue(form, digits, field, 0));
}

int16_t ListRange(int16_t list, std::string& startKeyOut, std::string& endKeyOut) {
  (void)list;
  startKeyOut.clear();
  endKeyOut.clear();
  return 0;
}

std::string ListLine(int16_t list) {
  if (list == 1) {
    const uint8_t* owner = ModuleRecordArea(OwnerFileId);
    return KeyDigits(OwnerCode(owner)) + " " + OwnerName(owner);
  }
  if (list == 2) {
    const uint8_t* property = ModuleRecordArea(PropertyFileId);
    return LastThree(KeyDigits(PropertyCode(property))) + " " + PropertyListName(property);
  }
  return std::string();
}

void ConnectFormRules(HubHooks& hooks) {
  hooks.exitCheck = FormExitCheck;
  hooks.takeSelection = TakeListSelection;
  hooks.listRange = ListRange;
  hooks.listLine = ListLine;
}
