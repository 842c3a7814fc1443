// The form-file failure message.
#include "screens/formfile.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "base/codepage.h"
#include "screens/formview.h"
#include "console/tell.h"
#include "screens/messages.h"
#include "session/session.h"

std::string FormFileFailureText(Language language, const std::string& file) {
  return kScreenTexts.Text(ScreenMessage::FormFileUnreadable, language) + file;
}

void ReportFormFileFailure(const std::string& file) {
  // The file name holds the host's root (UTF-8); the message is in the code page.
  std::string text = FormFileFailureText(LanguageFromCode(Session.Language), Cp858ForDisplay(file));
  TellUserAndWait(12, text);
}

namespace {

constexpr int kLayoutRows = 25;
constexpr int kLayoutColumns = 80;
constexpr int16_t kDisplayOnlyFlag = 4;

// Whether one of the exit keys (the form file's list, as SetExitKeys takes
// it: "code" or "code=value", hexadecimal) reports a key that ends the form.
bool HasLeavingKey(const std::string& keys) {
  std::stringstream entries(keys);
  std::string entry;
  while (std::getline(entries, entry, ',')) {
    const size_t equals = entry.find('=');
    const std::string reported = equals == std::string::npos ? entry : entry.substr(equals + 1);
    char* end = nullptr;
    const long value = std::strtol(reported.c_str(), &end, 16);
    if (value == 0x1b || value == 0x0d || value == 0x4f00 || value == 2) return true;
  }
  return false;
}

enum class Trap { None, NoExit, OffScreen, Circle };

Trap TrapOf(int16_t form) {
  const int16_t count = FormFieldCountOf(form);
  bool editable = false;
  for (int16_t k = 1; k <= count && !editable; ++k) editable = (FieldOf(form, k).flags & kDisplayOnlyFlag) == 0;
  if (!editable) return Trap::None;  // left at once
  const int top = FormWindowOf(form, 1), left = FormWindowOf(form, 2);
  const int bottom = FormWindowOf(form, 3), right = FormWindowOf(form, 4);
  if (top != 0 && (top < 1 || left < 1 || bottom > kLayoutRows || right > kLayoutColumns || bottom < top ||
                   right < left))
    return Trap::OffScreen;
  for (int16_t k = 1; k <= count; ++k) {
    const FieldView f = FieldOf(form, k);
    if ((f.flags & kDisplayOnlyFlag) != 0) continue;
    const int width = f.lineWidth != 0 ? f.lineWidth : f.length;
    const int lines = f.lineWidth != 0 && f.length > f.lineWidth ? (f.length + f.lineWidth - 1) / f.lineWidth : 1;
    const int row = top + f.row;
    const int column = left + f.col + static_cast<int>(f.prompt.size());
    const int lastColumn = column + (width > 0 ? width : 1) - 1;
    if (f.row < 1 || f.col < 1 || row + lines - 1 > kLayoutRows || lastColumn > kLayoutColumns) return Trap::OffScreen;
  }
  if (!HasLeavingKey(FormKeysOf(form))) return Trap::NoExit;
  std::vector<bool> seen(static_cast<size_t>(FormCountOf()) + 1, false);
  for (int16_t next = NextFormOf(form); next != 0; next = NextFormOf(next)) {
    if (next == form || seen[static_cast<size_t>(next)]) return Trap::Circle;
    seen[static_cast<size_t>(next)] = true;
  }
  return Trap::None;
}

}  // namespace

std::string TrappingFormText(Language language, const std::string& file) {
  for (int16_t form = 1; form <= FormCountOf(); ++form) {
    ScreenMessage reason;
    switch (TrapOf(form)) {
      case Trap::None: continue;
      case Trap::NoExit: reason = ScreenMessage::FormWithoutExit; break;
      case Trap::OffScreen: reason = ScreenMessage::FormOffScreen; break;
      case Trap::Circle: reason = ScreenMessage::FormInACircle; break;
    }
    return kScreenTexts.Text(ScreenMessage::Form, language) + std::to_string(form) +
           kScreenTexts.Text(reason, language) + file;
  }
  return std::string();
}
