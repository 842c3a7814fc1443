// The keystroke benchmark's twin: the least a curses program can do for the
// same keys. It shows form 1's title and six one-line fields, and on each key
// changes what that key changes on the real form (a digit appended to the
// field, Backspace taking the last one out, Up and Down to the field above
// or below) and refreshes; Esc ends it. No windows, colours, frames or
// validation: what it costs is the terminal's and curses' part of a key.
#include <curses.h>

#include <clocale>
#include <string>

namespace {

constexpr int kFields = 6;
constexpr int kFieldWidth = 10;

void DrawField(int index, const std::string& value) {
  const int row = 6 + 2 * index;
  move(row, 40);
  addstr(value.c_str());
  for (int i = static_cast<int>(value.size()); i < kFieldWidth; ++i) addch('_');
  move(row, 40 + static_cast<int>(value.size()));
}

}  // namespace

int main() {
  std::setlocale(LC_ALL, "");
  initscr();
  cbreak();
  noecho();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  // The arrows as the benchmark types them (a terminal's normal cursor
  // mode), besides the application mode that keypad mode announces.
  define_key("\x1b[A", KEY_UP);
  define_key("\x1b[B", KEY_DOWN);
  mvaddstr(2, 20, "Data de les factures");
  std::string values[kFields];
  for (int i = 0; i < kFields; ++i) {
    mvprintw(6 + 2 * i, 20, "Camp %d", i + 1);
    DrawField(i, values[i]);
  }
  int current = 0;
  DrawField(current, values[current]);
  refresh();
  for (;;) {
    const int key = getch();
    if (key == 27 || key == ERR) break;
    std::string& value = values[current];
    if (key >= '0' && key <= '9') {
      if (static_cast<int>(value.size()) < kFieldWidth) value.push_back(static_cast<char>(key));
    } else if (key == KEY_BACKSPACE || key == 127) {
      if (!value.empty()) value.pop_back();
    } else if (key == KEY_UP) {
      current = (current + kFields - 1) % kFields;
    } else if (key == KEY_DOWN) {
      current = (current + 1) % kFields;
    }
    DrawField(current, values[current]);
    refresh();
  }
  endwin();
  return 0;
}
