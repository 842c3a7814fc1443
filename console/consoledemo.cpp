// Tries the console by hand: a framed window with two text fields and a
// choice field, and a message window. Esc leaves; the values are printed
// after the terminal has been given back, to standard output or to the file
// named by the first argument.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/codepage.h"
#include "console/console.h"
#include "console/editor.h"
#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"

namespace {

// The suite's default colour scheme, the window stack in dir.
ScreenSettings DemoSettings(const std::string& dir) {
  ScreenSettings settings;
  const int16_t scheme[5][2] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};
  for (int m = 0; m < 5; ++m)
    for (int k = 0; k < 2; ++k) settings.colourTable[m][k] = scheme[m][k];
  settings.windowStackPath = dir + "/WinPush.tmp";
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<Console> terminal = MakeTerminalConsole();
  if (!terminal) {
    std::fprintf(stderr, "consoledemo: standard input and output must be a terminal\n");
    return 1;
  }
  SetConsole(terminal.get());
  char dir[] = "/tmp/consoledemo-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    terminal.reset();
    std::fprintf(stderr, "consoledemo: cannot make a temporary directory\n");
    return 1;
  }
  SetScreenSettings(DemoSettings(dir));

  SetDisplayMode("rh");
  LocateAbsolute(1, 1);
  WriteBlanks(ScreenColumns());
  WriteAt(1, 30, Cp858ForDisplay(" Prova de la consola "));
  SetDisplayMode("n");
  WriteAt(25, 2, Cp858ForDisplay("Tab/Enter: camp següent  Ins: inserir  Esc: sortir  \xe2\x82\xac"));

  {
    const ScopedDisplayMode frame("n");
    PushWindow(4, 10, 14, 70);
    DrawWindowFrame(2);
  }
  WriteAt(1, 3, Cp858ForDisplay("Nom ......:"));
  WriteAt(3, 3, Cp858ForDisplay("Població .:"));
  WriteAt(6, 3, Cp858ForDisplay("Conforme .:"));

  std::string name = Cp858ForDisplay("Plaça d'Espanya") + std::string(15, ' ');
  std::string town(40, ' ');
  std::string agree = "S";
  struct Field {
    int row, col, width;
    std::string* text;
    const char* choices;
  };
  const std::string yesNo = Cp858ForDisplay("|S,Sí|N,No");
  Field fields[] = {{1, 15, 31, &name, ""}, {3, 15, 20, &town, ""}, {6, 16, 0, &agree, "x"}};
  SetExitKeys("+ea", "d,1b,4800,5000,9,f00");
  int current = 0;
  int key = 0;
  for (;;) {
    Field& f = fields[current];
    SetChoiceList(f.choices[0] != 0 ? yesNo : "");
    int pos = 1;
    EditField(f.row, f.col, f.width, *f.text, pos, key);
    SetChoiceList("");
    // Show the field again in the page colour.
    if (f.choices[0] == 0) {
      for (int k = 0; k * f.width < static_cast<int>(f.text->size()); ++k)
        WriteAt(f.row + k, f.col, f.text->substr(static_cast<size_t>(k * f.width),
                                                 static_cast<size_t>(f.width)));
    } else {
      WriteAt(f.row, f.col, *f.text == "S" ? Cp858ForDisplay("Sí") : "No");
    }
    if (key == KeyEsc) break;
    if (key == KeyUp) current = (current + 2) % 3;
    else if (key < 0) {
      const int r = (-key) % 100 - Window.Top, c = (-key) / 100 - Window.Left;
      for (int i = 0; i < 3; ++i)
        if (r >= fields[i].row && r <= fields[i].row + 1 && c >= 3 && c < 60) current = i;
    } else {
      current = (current + 1) % 3;
    }
  }
  SetExitKeys("-", "");
  std::string message = Cp858ForDisplay("Gràcies. Premeu una tecla per acabar.");
  ShowMessageWindow(12, message);
  WaitForKey();
  PopWindow();
  PopWindow();
  terminal.reset();
  SetConsole(nullptr);
  rmdir(dir);
  // The values go to standard output, or to the file named by the argument.
  FILE* out = argc > 1 ? std::fopen(argv[1], "w") : stdout;
  if (out == nullptr) return 1;
  std::fprintf(out, "name=[%s]\ntown=[%s]\nagree=[%s]\n", Utf8FromCp858(name).c_str(),
               Utf8FromCp858(town).c_str(), agree.c_str());
  if (out != stdout) std::fclose(out);
  return 0;
}
