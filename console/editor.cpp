#include "console/editor.h"

#include <algorithm>
#include <vector>

#include "console/console.h"
#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/folding.h"
#include "base/text.h"

std::string ChoiceList;
std::string Clipboard;

void SetChoiceList(const std::string& list) { ChoiceList = list; }

namespace {

struct ChoiceItem {
  std::string value, description;
};

std::vector<ChoiceItem> ParseChoices(const std::string& list) {
  std::vector<ChoiceItem> items;
  size_t at = list.find('|');
  while (at != std::string::npos) {
    size_t next = list.find('|', at + 1);
    std::string item = list.substr(at + 1, next == std::string::npos ? std::string::npos
                                                                     : next - at - 1);
    size_t comma = item.find(',');
    if (comma == std::string::npos) items.push_back({item, ""});
    else items.push_back({item.substr(0, comma), item.substr(comma + 1)});
    at = next;
  }
  return items;
}

bool IsDelimiter(char c) {
  return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':';
}

// First character of a description against a typed key, both folded with
// the strict table, which the editor turns on only for this comparison.
bool StartsWithFolded(const std::string& description, unsigned char typed) {
  if (description.empty()) return false;
  const ScopedFoldMode strict(-1);
  return FoldText(std::string(1, description[0])) == FoldText(std::string(1, static_cast<char>(typed)));
}

}  // namespace

void EditField(int row, int col, int width, std::string& text, int& pos, int& key) {
  Console& con = CurrentConsole();
  const int originRow = Window.Depth != 0 ? Window.Top : 0;
  const int originCol = Window.Depth != 0 ? Window.Left : 0;
  if (row == 0 || col == 0) {
    int r = 1, c = 1;
    CursorPosition(r, c);
    if (row == 0) row = r - originRow;
    if (col == 0) col = c - originCol;
  }
  const int len = static_cast<int>(text.size());
  const int endPos = len + 1;
  if (width <= 0) width = len + 1;
  if (pos < 1) pos = 1;
  if (pos > endPos) pos = endPos;
  const int absRow = row + originRow, absCol = col + originCol;

  const std::vector<ChoiceItem> items = ParseChoices(ChoiceList);
  const bool choice = !items.empty();
  size_t current = 0;
  int descWidth = 0;
  if (choice) {
    for (size_t i = 0; i < items.size(); ++i) {
      descWidth = std::max(descWidth, static_cast<int>(items[i].description.size()));
      if (FixedWidth(items[i].value, static_cast<size_t>(len)) == text) current = i;
    }
    WriteAt(row, col - 1, "\x11");
    WriteAt(row, col + descWidth, "\x10");
  }
  SetDisplayMode("u");
  bool draw = true;

  for (;;) {
    if (draw) {
      if (choice) {
        text = FixedWidth(items[current].value, static_cast<size_t>(len));
        WriteAt(row, col, FixedWidth(items[current].description, static_cast<size_t>(descWidth)));
      } else {
        for (int k = 0; k * width < len; ++k) {
          if (MaskCharacter != 0)
            WriteAt(row + k, col, std::string(static_cast<size_t>(width - 1), MaskCharacter));
          else
            WriteAt(row + k, col, text.substr(static_cast<size_t>(k * width),
                                              static_cast<size_t>(width)));
        }
      }
      draw = false;
    }
    int line = (pos - 1) / width, offset = (pos - 1) % width;
    if (pos == endPos && offset == 0 && pos > 1) {
      --line;
      offset = width;
    }
    if (!choice) {
      LocateInWindow(row + line, col + offset);
      SetCursorSize(InsertMode() ? 50 : 100);
    }

    // Wait for a key or a click; Ins only switches the mode.
    int buttons = 0, clickRow = 0, clickCol = 0;
    KeyWait wait;
    for (;;) {
      ReadKey(key, buttons, clickRow, clickCol);
      if (key == KeyIns) {
        SetInsertMode(!InsertMode());
        if (!choice) SetCursorSize(InsertMode() ? 50 : 100);
        continue;
      }
      if (buttons != 0) {
        key = -(clickCol * 100 + clickRow);
        break;
      }
      if (key != 0) break;
      if (TypeAhead.empty() && con.InputClosed()) {
        key = KeyEsc;
        break;
      }
      wait.NothingYet();
    }
    SetCursorSize(0);

    bool ends = false;
    if (key < 0) {
      const int r = (-key) % 100, c = (-key) / 100;
      if (choice) {
        if (r != absRow) ends = true;
        else if (c == absCol - 1) key = KeyLeft;
        else if (c == absCol + descWidth) key = KeyRight;
        else if (c > absCol - 1 && c < absCol + descWidth) key = 0;
        else ends = true;
      } else {
        const int lines = std::max(1, (len + 1) / width);
        if (r >= absRow && r <= absRow + lines - 1 && c >= absCol && c <= absCol + width - 1) {
          pos = std::min((r - absRow) * width + (c - absCol) + 1, endPos);
          continue;
        }
        ends = true;
      }
    }

    if (!ends) {
      const bool printable = (key >= 32 && key <= 126) || (key >= 128 && key <= 254);
      if (choice) {
        const size_t n = items.size();
        if (key == ' ' || key == KeyRight) {
          current = (current + 1) % n;
          draw = true;
        } else if (key == KeyLeft) {
          current = (current + n - 1) % n;
          draw = true;
        } else if (printable) {
          for (size_t step = 1; step <= n; ++step) {
            size_t i = (current + step) % n;
            if (StartsWithFolded(items[i].description, static_cast<unsigned char>(key))) {
              current = i;
              draw = true;
              break;
            }
          }
        } else if (key == KeyHome) {
          pos = 1;
        } else if (key == KeyEnd) {
          pos = static_cast<int>(text.find_last_not_of(' ') + 1) + 1;
        } else if (key == KeyCtrlC) {
          Clipboard = items[current].description;
          con.OfferClipboard(Clipboard);
        } else if (key == KeyBackspace || key == KeyDel || key == KeyCtrlHome ||
                   key == KeyCtrlY || key == KeyCtrlV) {
          // nothing to do in a choice field
        } else {
          ends = true;
        }
      } else if (printable) {
        if (InsertMode()) {
          if (len > 0 && text[static_cast<size_t>(len - 1)] == ' ' && pos < endPos) {
            text.insert(static_cast<size_t>(pos - 1), 1, static_cast<char>(key));
            text.pop_back();
            draw = true;
            ++pos;
          }
        } else if (pos < endPos) {
          text[static_cast<size_t>(pos - 1)] = static_cast<char>(key);
          if (MaskCharacter == 0) WriteText(std::string(1, static_cast<char>(key)));
          ++pos;
        }
      } else if (key == KeyLeft) {
        if (pos > 1) --pos;
      } else if (key == KeyRight || key == 0) {
        if (pos < endPos) ++pos;
      } else if (key == KeyBackspace || key == KeyDel) {
        if (key == KeyBackspace ? pos > 1 : pos < endPos) {
          if (key == KeyBackspace) --pos;
          text.erase(static_cast<size_t>(pos - 1), 1);
          text += ' ';
          draw = true;
        }
      } else if (key == KeyHome) {
        pos = 1;
      } else if (key == KeyEnd) {
        size_t last = text.find_last_not_of(' ');
        pos = last == std::string::npos ? 1 : static_cast<int>(last) + 2;
      } else if (key == KeyCtrlHome || key == KeyCtrlY) {
        text.assign(static_cast<size_t>(len), ' ');
        pos = 1;
        draw = true;
      } else if (key == KeyUp || key == KeyShiftTab) {
        if (pos > width) pos -= width;
        else ends = true;
      } else if (key == KeyDown) {
        if (pos <= endPos - width) pos += width;
        else ends = true;
      } else if (key == KeyCtrlLeft) {
        if (pos > 1) {
          int i = pos - 1;  // 1-based position of the character before the cursor
          while (i > 1 && !(!IsDelimiter(text[static_cast<size_t>(i - 1)]) &&
                            IsDelimiter(text[static_cast<size_t>(i - 2)])))
            --i;
          pos = i;
        } else {
          ends = true;
        }
      } else if (key == KeyCtrlRight) {
        if (pos < endPos) {
          int i = pos + 1;
          while (i < endPos && !(!IsDelimiter(text[static_cast<size_t>(i - 2)]) &&
                                 IsDelimiter(text[static_cast<size_t>(i - 1)])))
            ++i;
          pos = i;
        } else {
          ends = true;
        }
      } else if (key == KeyCtrlC) {
        // A masked field keeps its secret: nothing is copied.
        if (MaskCharacter == 0) {
          Clipboard = Trim(text);
          con.OfferClipboard(Clipboard);
        }
      } else if (key == KeyCtrlV) {
        std::string clean;
        for (unsigned char ch : Clipboard)
          if (ch >= 32 && ch != 127 && ch != 255) clean += static_cast<char>(ch);
        clean = Trim(clean);
        if (!clean.empty()) {
          for (size_t i = 0; i < clean.size() && static_cast<int>(i) + pos - 1 < len; ++i)
            text[static_cast<size_t>(pos - 1) + i] = clean[i];
          draw = true;
        }
      } else {
        ends = true;
      }
    }
    if (!ends) continue;

    // The key that ends the edit, as the caller knows it.
    if (key == KeyShiftTab) {
      key = KeyUp;
    } else if (key == KeyTab) {
      key = KeyEnter;
    } else if (key == KeyEnter) {
      int ignored = 0;
      if (LookupExitKey(KeyEnd, ignored)) key = KeyEnd;
    } else if (key == KeyCtrlF4 || key == KeyAltF4) {
      key = KeyEsc;
    }
    if (!ExitKeyCodes.empty() && key >= 0) {
      int value = 0;
      if (!LookupExitKey(key, value)) {
        draw = true;
        continue;
      }
      key = value;
    }
    break;
  }

  SetDisplayMode("h");
  if (choice) {
    WriteAt(row, col - 1, " ");
    WriteAt(row, col + descWidth, " ");
  }
  LocateInWindow(row, col);
}
