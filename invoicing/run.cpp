#include "invoicing/run.h"

#include <vector>

#include "base/codepage.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/picture.h"
#include "invoicing/messages.h"
#include "invoicing/production.h"
#include "printing/spool.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"

namespace {

constexpr int16_t ParameterForm = 1;
constexpr int16_t KeyEscape = 27;
constexpr int MessageRow = 12;

int16_t RunParameterForm() {
  int16_t form = ParameterForm;
  int16_t key = 0;
  RunForm(form, 0, 0, key);
  return key;
}

// How the print program ended: not started (errno), exited with a status,
// or ended by a signal.
ChildEnd StartPrintProgram() { return RunPrintProgram(SuspendTerminal, ResumeTerminal); }

// Value k of form 1, or the empty text when the tables lack it.
std::string FormValue(int16_t k) {
  if (ParameterForm >= static_cast<int16_t>(FieldValue.size())) return "";
  const std::vector<std::string>& values = FieldValue[ParameterForm];
  return k < static_cast<int16_t>(values.size()) ? values[static_cast<size_t>(k)] : std::string();
}

// The run's text |id| in the session language.
std::string RunText(RunMessage id) { return kRunTexts.Text(id, LanguageFromCode(Session.Language)); }

// What the user is told about the print program |program| (a code page
// path) that ended as |end|; empty when it ran and ended with status 0.
std::string PrintProgramTrouble(const ChildEnd& end, const std::string& program) {
  if (end.Succeeded()) return std::string();
  if (!end.started) return RunText(RunMessage::PrintProgramNotStarted) + program;
  const std::string failed = RunText(RunMessage::PrintProgramFailed) + program;
  if (end.exited) return failed + RunText(RunMessage::ExitStatus) + std::to_string(end.exitCode);
  return failed + RunText(RunMessage::EndedBySignal) + std::to_string(end.signal);
}

void AwaitKey() {
  Beep();
  DiscardPendingKeys();
  int key = 0;
  ReadKeyOrClick(key);
}

// A framed message the user acknowledges with one key. The window stack
// keeps its file in the temporary directory, the very place a spool failure
// may come from; when no window can be opened there, the message is written
// straight onto the screen and the cells under it are put back afterwards,
// so the user is told in any case.
// tell-and-wait
void TellUser(const std::string& message) {
  std::string text = message;
  if (ShowMessageWindow(MessageRow, text) == 0) {
    AwaitKey();
    PopWindow();
    return;
  }
  Console& console = CurrentConsole();
  const int rows = console.Rows();
  const int columns = console.Columns();
  const int width = columns >= 80 ? 76 : columns - 4;
  if (rows < 1 || width < 1) {
    AwaitKey();
    return;
  }
  std::vector<std::string> lines = FormatTextLineList(message, 0, width, "i");
  int top = MessageRow - static_cast<int>(lines.size()) / 2;
  if (top + static_cast<int>(lines.size()) - 1 > rows) top = rows - static_cast<int>(lines.size()) + 1;
  if (top < 1) top = 1;
  const int left = (columns - width) / 2 + 1;

  struct Cell {
    int row, col;
    uint8_t ch, attr;
  };
  std::vector<Cell> saved;
  constexpr uint8_t ReverseVideo = 0x70;
  for (size_t i = 0; i < lines.size() && top + static_cast<int>(i) <= rows; ++i) {
    const int row = top + static_cast<int>(i);
    for (int c = 0; c < width; ++c) {
      Cell cell{row, left + c, 0, 0};
      console.GetCell(cell.row, cell.col, cell.ch, cell.attr);
      saved.push_back(cell);
      const std::string& line = lines[i];
      uint8_t ch = c < static_cast<int>(line.size()) ? static_cast<uint8_t>(line[static_cast<size_t>(c)]) : ' ';
      console.PutCell(row, left + c, ch, ReverseVideo);
    }
  }
  console.Flush();
  AwaitKey();
  for (const Cell& cell : saved) console.PutCell(cell.row, cell.col, cell.ch, cell.attr);
  console.Flush();
}

void ClearScreen() {
  ScrollRegion(0, 0, ScreenRows() - 1, ScreenColumns() - 1, ScreenRows());
  LocateAbsolute(1, 1);
}

}  // namespace

RunHooks& FeeInvoiceRunHooks() {
  static RunHooks hooks{RunParameterForm, StartPrintProgram};
  return hooks;
}

void FeeInvoiceRun() {
  SetDisplayMode("n");
  ClearScreen();
  for (;;) {
    RunHooks& hooks = FeeInvoiceRunHooks();
    if (hooks.runForm() == KeyEscape) return;

    OpenPrintFile(Session.OutputDevice);
    SetCurrency("p");
    // The parameters are built anew from the form at every pass, so the
    // numbering restarts from the number the user typed.
    InvoiceParameters parameters =
        InvoiceParametersFromTexts(FormValue(1), FormValue(2), FormValue(3), FormValue(4), FormValue(5), FormValue(6));
    const int32_t firstNumber = parameters.NextInvoiceNumber;
    const int16_t produced = ProduceInvoices(parameters);
    SetCurrency("");
    ClosePrintFile();

    if (produced != ProductionDone || PrintFileFailed()) {
      // A spool file that is missing or cut short must not reach the printer.
      // The path is the host's (UTF-8); the message is in the code page.
      TellUser(RunText(RunMessage::SpoolNotWritten) + Cp858ForDisplay(PrintFilePath()));
      continue;
    }
    // The number goes up by one per page: unchanged, no page was written. A
    // spool without pages would print as a blank page that looks like a
    // result, so the user is told instead.
    if (parameters.NextInvoiceNumber == firstNumber) {
      TellUser(RunText(RunMessage::NothingToPrint));
      continue;
    }
    // The path is the host's (UTF-8); the message is in the code page.
    const std::string trouble = PrintProgramTrouble(hooks.runPrintProgram(), Cp858ForDisplay(PrintProgramPath()));
    if (!trouble.empty()) TellUser(trouble);
  }
}
