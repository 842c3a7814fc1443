// The screen hub: form runner, field display and storage.
#include "screens/hub.h"

#include <algorithm>
#include <cmath>

#include "console/console.h"
#include "console/editor.h"
#include "tools/help.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/dates.h"
#include "formatting/picture.h"
#include "screens/browse.h"
#include "screens/formview.h"
#include "session/forms.h"
#include "console/guards.h"
#include "console/tell.h"
#include "screens/messages.h"
#include "session/session.h"
#include "base/text.h"

int16_t ResumeForm = 0;

namespace {

// The one key of the dispatch that has no name among the console's codes.
constexpr int kCode2 = 2;

// Field flags (FieldAttr slot FieldAttrSlot::Flags).
constexpr int16_t kOfferBlank = 1;
constexpr int16_t kMasked = 2;
constexpr int16_t kDisplayOnly = 4;
constexpr int16_t kCursorAtEnd = 8;

// Field types (FieldAttr slot FieldAttrSlot::Type).
constexpr int16_t kTypeDate = 1;
constexpr int16_t kTypeNumber = 2;
constexpr int16_t kTypeInteger = 3;

// Where the value of a field starts: right after its prompt.
int16_t ValueColumn(const FieldView& f) {
  return static_cast<int16_t>(f.col + static_cast<int>(f.prompt.size()));
}

// The number of screen columns the value takes on its first line.
int ValueWidth(const FieldView& f) { return f.lineWidth != 0 ? f.lineWidth : f.length; }

// The description of the choice item whose value equals |value| exactly
// (trailing blanks included); found is false when no item matches.
std::string ChoiceDescription(const std::string& choices, const std::string& value, bool& found) {
  found = false;
  size_t at = 0;
  while (at < choices.size()) {
    size_t bar = choices.find('|', at);
    if (bar == std::string::npos) break;
    size_t next = choices.find('|', bar + 1);
    std::string item = choices.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    size_t comma = item.find(',');
    std::string itemValue = comma == std::string::npos ? item : item.substr(0, comma);
    if (itemValue == value) {
      found = true;
      return comma == std::string::npos ? std::string() : item.substr(comma + 1);
    }
    if (next == std::string::npos) break;
    at = next;
  }
  return std::string();
}

// Lowest and highest field that can be edited (not display-only); first is
// count + 1 and last 0 when there is none.
void EditableRange(int16_t form, int16_t& first, int16_t& last) {
  int16_t count = FormFieldCountOf(form);
  first = static_cast<int16_t>(count + 1);
  last = 0;
  for (int16_t k = 1; k <= count; ++k) {
    if ((FieldOf(form, k).flags & kDisplayOnly) != 0) continue;
    if (first > count) first = k;
    last = k;
  }
}

// Keys with which a follow-on form hands the end of its parent on.
bool EndsParent(int key) {
  return key == KeyPgUp || key == KeyPgDn || key == KeyEnd || key == kCode2 || key == KeyEnter ||
         key == KeyDown || key == KeyUp;
}

// The first editable field whose click area holds the window-relative
// point (row, col); 0 when none does.
int16_t FieldAt(int16_t form, int row, int col) {
  int16_t count = FormFieldCountOf(form);
  for (int16_t k = 1; k <= count; ++k) {
    FieldView f = FieldOf(form, k);
    if ((f.flags & kDisplayOnly) != 0) continue;
    int lines = f.lineWidth != 0 ? f.length / f.lineWidth : 1;
    if (lines < 1) lines = 1;
    int right = f.col + static_cast<int>(f.prompt.size()) + ValueWidth(f) + f.trailing;
    if (row >= f.row && row < f.row + lines && col >= f.col && col < right) return k;
  }
  return 0;
}

void BlankTrailingArea(const FieldView& f) {
  LocateInWindow(f.row, static_cast<int16_t>(ValueColumn(f) + ValueWidth(f)));
  WriteText(std::string(static_cast<size_t>(f.trailing), ' '));
}

// Tells text below the form's window (or near the screen's foot for a
// form without one), so the field it is about stays in view where it can.
void TellAboutForm(int16_t form, const std::string& text) {
  const int bottom = FormWindowOf(form, FormWindowSlot::Bottom);
  TellUserAndWait(bottom > 0 ? std::min(bottom + 5, ScreenRows() - 2) : ScreenRows() - 2, text);
}

// Why a date field refused text: the text as typed and the forms it takes.
std::string BadDateText(const std::string& text) {
  const Language language = LanguageFromCode(Session.Language);
  return kScreenTexts.Text(ScreenMessage::BadDate, language) + TrimRight(text) +
         kScreenTexts.Text(ScreenMessage::DateForms, language) + DateFormsText(language);
}

// One field edit with the checks that follow it (steps of the field loop).
// Returns with key holding the key to dispatch.
void EditOneField(int16_t form, int16_t current, int& key) {
  FieldView f = FieldOf(form, current);
  const bool displayOnly = (f.flags & kDisplayOnly) != 0;
  ScopedExitKeys callerKeys;
  SetExitKeys("ea", FormKeysOf(form) + ",3b00");
  std::string text;
  if ((f.flags & (kOfferBlank | kMasked)) != 0) {
    text.assign(static_cast<size_t>(f.length), ' ');
    if ((f.flags & kMasked) != 0) SetExitKeys("h", "");
  } else {
    text = FieldValueOf(form, current);
  }
  if (f.trailing > 0 && !displayOnly) BlankTrailingArea(f);

  if (displayOnly) {
    // The move that reached the field carries on past it; a key that would
    // keep the cursor here would never end, so it moves on instead.
    if (key == 0 || key < 0) key = KeyDown;
  } else {
    for (;;) {
      SetChoiceList(f.choices);
      int pos = 1;
      if ((f.flags & kCursorAtEnd) != 0) pos = static_cast<int>(TrimRight(text).size()) + 1;
      EditField(f.row, ValueColumn(f), f.lineWidth, text, pos, key);
      SetChoiceList("");

      bool rejected = false;
      bool told = false;  // the user has been told why (no beep of its own then)
      if (key == KeyF1) {
        const std::string menu = TrimRight(Session.MenuName);
        const bool ownHelp = Hooks().formHelp && Hooks().formHelp(form);
        if (!ownHelp && !menu.empty() && Hooks().help) Hooks().help(menu);
        key = 0;
      } else if (key == KeyF4) {
        key = 0;
        if (f.list != 0) {
          int16_t result = -1;
          if (Hooks().browse) Hooks().browse(f.list, result);
          if (result == 0) {
            if (Hooks().takeSelection) Hooks().takeSelection(f.list, form, current);
            key = (current == FormFieldCountOf(form) && NextFormOf(form) == 0) ? KeyEnter : KeyDown;
          } else {
            rejected = true;
          }
        }
      } else {
        if (f.trailing > 0) {
          LocateInWindow(f.row, ValueColumn(f));
          // A masked value is never shown, not even for a moment.
          std::string shown = (f.flags & kMasked) != 0 ? std::string(text.size(), ' ') : text;
          if (f.lineWidth != 0) shown = shown.substr(0, static_cast<size_t>(f.lineWidth));
          WriteText(shown + std::string(static_cast<size_t>(f.trailing), ' '));
        }
        if (key != KeyEsc) {
          if ((f.flags & (kOfferBlank | kMasked)) != 0 && IsAllChar(text, ' '))
            text = FieldValueOf(form, current);
          const std::string why = Hooks().fieldCheck ? Hooks().fieldCheck(form, current, text) : std::string();
          if (!why.empty()) {
            TellAboutForm(form, why);
            told = true;
          } else if (StoreFieldValue(form, text, current, static_cast<int16_t>(key)) != 0) {
            rejected = true;
            if (f.type == kTypeDate) {
              TellAboutForm(form, BadDateText(text));
              told = true;
            }
          }
          rejected = rejected || told;
        } else {
          ShowFieldValue(form, current);
        }
      }
      if (!rejected) break;
      if (!told) Beep();
    }
  }
  if ((f.flags & kMasked) != 0) SetExitKeys("v", "");
}

}  // namespace

HubHooks& Hooks() {
  static HubHooks hooks = [] {
    HubHooks h;
    h.browse = [](int16_t list, int16_t& resultOut) { Browse(list, resultOut); };
    h.help = [](const std::string& key) { ShowHelp(key); };
    h.exitCheck = [](int16_t, int16_t) -> int16_t { return 0; };
    h.takeSelection = [](int16_t, int16_t, int16_t) {};
    h.listRange = [](int16_t, std::string& startKeyOut, std::string& endKeyOut) -> int16_t {
      startKeyOut.clear();
      endKeyOut.clear();
      return 0;
    };
    h.listLine = [](int16_t) { return std::string(); };
    return h;
  }();
  return hooks;
}

// Runs the follow-on form |next| as part of |form|, handing it the key.
static void RunFollowOn(int16_t next, int16_t pageUpLeaves, int16_t pageDownLeaves, int& key) {
  int16_t followOn = static_cast<int16_t>(-next);
  int16_t k = static_cast<int16_t>(key);
  RunForm(followOn, pageUpLeaves, pageDownLeaves, k);
  key = k;
}

void RunForm(int16_t& form, int16_t pageUpLeaves, int16_t pageDownLeaves, int16_t& keyInOut) {
  int key = keyInOut;
  const bool followOn = form < 0;
  if (followOn) form = static_cast<int16_t>(-form);
  if (!FormExists(form)) {
    keyInOut = KeyEsc;
    return;
  }
  const bool hasWindow = FormWindowOf(form, FormWindowSlot::Top) != 0;
  if (hasWindow) {
    ScopedDisplayMode frameMode("n");
    PushWindow(FormWindowOf(form, FormWindowSlot::Top), FormWindowOf(form, FormWindowSlot::Left),
               FormWindowOf(form, FormWindowSlot::Bottom), FormWindowOf(form, FormWindowSlot::Right));
    DrawWindowFrame(2);
  }
  DrawForm(form);

  int16_t first = 0;
  int16_t last = 0;
  EditableRange(form, first, last);

  bool skipFields = first > last;
  if (!skipFields) {
    // Bring the user back into the follow-on form last left with PgUp/PgDn.
    int16_t reached = form;
    for (int guard = 0; guard < FormCountOf() && ResumeForm > 0 && ResumeForm != reached &&
                        NextFormOf(reached) != 0;
         ++guard)
      reached = NextFormOf(reached);
    if (ResumeForm != reached) ResumeForm = 0;
    if (ResumeForm > 0 && ResumeForm != form && NextFormOf(form) != 0) {
      RunFollowOn(NextFormOf(form), pageUpLeaves, pageDownLeaves, key);
      if (EndsParent(key)) skipFields = true;
    } else {
      ResumeForm = 0;
    }
  }

  for (;;) {
    if (!skipFields) {
      int16_t current = first;
      while (current >= first && current <= last) {
        EditOneField(form, current, key);
        EditableRange(form, first, last);
        bool leave = false;
        if (key == KeyPgUp) {
          if (current > first || pageUpLeaves == 0) {
            current = first;
            ResumeForm = 0;
          } else {
            leave = true;
            ResumeForm = form;
          }
        } else if (key == KeyPgDn) {
          if (current < last || pageDownLeaves == 0) {
            current = last;
            ResumeForm = 0;
          } else {
            leave = true;
            ResumeForm = form;
          }
        } else if (key == KeyEnd || key == kCode2) {
          leave = true;
        } else if (key == KeyEsc) {
          if (current > first)
            current = first;
          else
            leave = true;
        } else if (key == KeyEnter || key == KeyDown || key == KeyF2) {
          if ((current == last || key == KeyF2) && NextFormOf(form) != 0) {
            RunFollowOn(NextFormOf(form), pageUpLeaves, pageDownLeaves, key);
            if (EndsParent(key)) leave = true;
          } else if (key == KeyDown) {
            if (current < last) ++current;
          } else if (key == KeyEnter) {
            ++current;
          }
        } else if (key == KeyUp) {
          if (current > first)
            --current;
          else if (followOn) {
            key = KeyEsc;
            leave = true;
          }
        } else if (key < 0) {
          int click = -key;
          int row = click % 100 - (hasWindow ? FormWindowOf(form, FormWindowSlot::Top) : 0);
          int col = click / 100 - (hasWindow ? FormWindowOf(form, FormWindowSlot::Left) : 0);
          int16_t hit = FieldAt(form, row, col);
          if (hit != 0) current = hit;
        } else if (key != 0) {
          leave = true;
        }
        if (leave) break;
      }
    }
    skipFields = false;
    const auto& exitCheck = Hooks().exitCheck;
    if (!exitCheck || exitCheck(form, static_cast<int16_t>(key)) == 0) break;
    EditableRange(form, first, last);
    if (first > last) break;  // nothing to go back to
  }

  if (hasWindow) PopWindow();
  keyInOut = static_cast<int16_t>(key);
}

void DrawForm(int16_t form) {
  if (!FormExists(form)) return;
  SetDisplayMode("rh");
  const std::string& title = Session.SessionTitle;
  int col = 41 - static_cast<int>(std::nearbyint(static_cast<double>(title.size()) / 2.0));
  if (col < 1) col = 1;
  WriteAbsolute(1, col, title);
  SetDisplayMode("n");
  int16_t count = FormFieldCountOf(form);
  for (int16_t k = 1; k <= count; ++k) {
    FieldView f = FieldOf(form, k);
    LocateInWindow(f.row, f.col);
    WriteText(f.prompt);
  }
  SetDisplayMode("h");
  for (int16_t k = 1; k <= count; ++k) ShowFieldValue(form, k);
}

void ShowFieldValue(int16_t form, int16_t field) {
  if (!FieldExists(form, field)) return;
  FieldView f = FieldOf(form, field);
  const std::string value = FieldValueOf(form, field);
  const int16_t col = ValueColumn(f);
  LocateInWindow(f.row, col);
  if ((f.flags & kMasked) != 0) return;
  if (f.type == kTypeDate) {
    WriteText(FormatDate(StoredDateFromText(value), 0, "dma"));
  } else if (f.type == kTypeInteger) {
    WriteText(FormatPicture("ZZZZZZZ9", NumericValue(value)));
  } else if (!f.choices.empty()) {
    bool found = false;
    std::string description = ChoiceDescription(f.choices, value, found);
    if (found) WriteText(FixedWidth(description, static_cast<size_t>(f.length + f.trailing)));
  } else if (f.lineWidth > 0) {
    size_t w = static_cast<size_t>(f.lineWidth);
    for (size_t k = 0; k * w < value.size(); ++k) {
      LocateInWindow(static_cast<int16_t>(f.row + k), col);
      WriteText(value.substr(k * w, w));
    }
  } else {
    WriteText(value);
  }
}

int16_t StoreFieldValue(int16_t form, std::string text, int16_t field, int16_t key) {
  (void)key;
  if (!FieldExists(form, field)) return 1;
  FieldView f = FieldOf(form, field);
  if (f.type == kTypeDate) {
    if (IsAllChar(text, ' ')) text = DateToDisplay(Session.SessionDate);
    if (IsInvalidDate(text) != 0) return 1;
  } else if (f.type == kTypeNumber || f.type == kTypeInteger) {
    if (IsInvalidNumber(text, "") != 0) return 1;
  }
  SetFieldValueOf(form, field, FixedWidth(text, static_cast<size_t>(f.length)));
  ShowFieldValue(form, field);
  return 0;
}
