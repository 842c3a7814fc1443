#include "console/tell.h"

#include <cstdint>
#include <vector>

#include "console/console.h"
#include "console/keyboard.h"
#include "console/messages.h"
#include "console/screen.h"

namespace {

constexpr uint8_t kReverseVideo = 0x70;

void AwaitAcknowledgement() {
  Beep();
  DiscardPendingKeys();
  (void)WaitForKey();
}

// What the user is to do: the key line of a message that waits.
std::string KeysToGoOn() { return kConsoleTexts.Text(ConsoleMessage::AnyKey, CurrentScreenSettings().language); }

// The message written straight onto the screen, for when no window opens,
// with the key line centred under it where the screen has room.
void TellWithoutWindow(int anchorRow, const std::string& message) {
  Console& console = CurrentConsole();
  const int rows = console.Rows();
  const int columns = console.Columns();
  const int width = columns >= 80 ? 76 : columns - 4;
  if (rows < 1 || width < 1) {
    AwaitAcknowledgement();
    return;
  }
  std::vector<std::string> lines = FormatTextLineList(message, 0, width, "i");
  int top = anchorRow - static_cast<int>(lines.size()) / 2;
  if (top + static_cast<int>(lines.size()) - 1 > rows) top = rows - static_cast<int>(lines.size()) + 1;
  if (top < 1) top = 1;
  const int left = (columns - width) / 2 + 1;
  for (const std::string& line : FormatTextLineList(KeysToGoOn(), 0, width, "c")) lines.push_back(line);
  const int count = static_cast<int>(lines.size());

  struct Cell {
    int row, col;
    uint8_t ch, attr;
  };
  std::vector<Cell> saved;
  for (int i = 0; i < count && top + i <= rows; ++i) {
    const int row = top + i;
    const std::string& line = lines[static_cast<size_t>(i)];
    for (int c = 0; c < width; ++c) {
      Cell cell{row, left + c, 0, 0};
      console.GetCell(cell.row, cell.col, cell.ch, cell.attr);
      saved.push_back(cell);
      const uint8_t ch =
          c < static_cast<int>(line.size()) ? static_cast<uint8_t>(line[static_cast<size_t>(c)]) : ' ';
      console.PutCell(row, left + c, ch, kReverseVideo);
    }
  }
  console.Flush();
  AwaitAcknowledgement();
  for (const Cell& cell : saved) console.PutCell(cell.row, cell.col, cell.ch, cell.attr);
  console.Flush();
}

}  // namespace

void TellUserAndWait(int anchorRow, const std::string& text) {
  std::string shown = text;
  if (ShowMessageWindow(anchorRow, shown, KeysToGoOn()) == 0) {
    AwaitAcknowledgement();
    PopWindow();
    return;
  }
  PopWindow();  // pairs with the refused push: does nothing
  TellWithoutWindow(anchorRow, text);
}
