#include "invoicing/print_window.h"

#include "base/language.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "invoicing/messages.h"
#include "printing/spool.h"
#include "session/session.h"

namespace {

constexpr int WindowRow = 12;

std::string Text(RunMessage id) { return kRunTexts.Text(id, LanguageFromCode(Session.Language)); }

// Opens the window for a count of pages done (none reported yet: -1).
void ShowPrinting(long pages) {
  std::string text = Text(RunMessage::Printing);
  if (pages >= 0) text += Text(RunMessage::PagesDone) + std::to_string(pages);
  SetDisplayMode("n");
  static_cast<void>(ShowMessageWindow(WindowRow, text, Text(RunMessage::EscStops)));
  CurrentConsole().Flush();
}

}  // namespace

ChildEnd RunPrintProgramInWindow(const std::string& paperHostPath) {
  ShowPrinting(-1);
  PrintWatch watch;
  watch.pagesDone = [](long pages) {
    PopWindow();
    ShowPrinting(pages);
  };
  watch.stopWanted = [] {
    int key = 0, buttons = 0, row = 0, col = 0;
    ReadKey(key, buttons, row, col);
    return key == KeyEsc;
  };
  const ChildEnd end = RunPrintProgramWatched(watch, paperHostPath);
  PopWindow();
  return end;
}
