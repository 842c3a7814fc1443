#include "tools/help.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "console/console.h"
#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "console/tell.h"
#include "session/session.h"
#include "tools/messages.h"
#include "base/child.h"
#include "base/files.h"
#include "base/text.h"
#include "base/language.h"
#include "base/paths.h"

namespace {

constexpr unsigned char kHighlight = 0x1E;
constexpr unsigned char kUnderline = 0x1F;
constexpr unsigned char kReverse = 0x10;
constexpr int kShownCharacters = 76;

std::string ShellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// One open help page: its records and the window position.
class HelpPage {
 public:
  HelpPage(std::string content, int recordLength)
      : content_(std::move(content)), recLen_(recordLength) {
    lines_ = static_cast<int>(std::nearbyint(static_cast<double>(content_.size()) / recLen_));
  }

  int Lines() const { return lines_; }

  // Record n (1-based), blanks beyond the end of the file.
  std::string Record(int n) const {
    std::string rec;
    const size_t at = static_cast<size_t>(n - 1) * static_cast<size_t>(recLen_);
    if (n >= 1 && at < content_.size()) rec = content_.substr(at, static_cast<size_t>(recLen_));
    rec.resize(static_cast<size_t>(recLen_), ' ');
    return rec;
  }

  // Line n at window row r: control bytes switch the display mode and take
  // no room; at most 76 characters (fewer on a narrow screen) are shown.
  void Show(int n, int r) const {
    SetDisplayMode("n");
    LocateInWindow(r, 2);
    int limit = std::min(kShownCharacters, ScreenColumns() - 4);
    const std::string rec = Record(n);
    bool high = false, under = false, rev = false;
    int count = 0;
    for (unsigned char c : rec) {
      if (c == kHighlight) {
        high = !high;
        if (!under) SetDisplayMode(high ? "h" : "n");
      } else if (c == kUnderline) {
        under = !under;
        SetDisplayMode(under ? "u" : "n");
      } else if (c == kReverse) {
        rev = !rev;
        SetDisplayMode(rev ? "r" : "n");
      } else if (++count <= limit) {
        WriteText(std::string(1, static_cast<char>(c)));
      }
    }
    SetDisplayMode("n");
  }

 private:
  std::string content_;
  int recLen_;
  int lines_ = 0;
};

// A key straight from the console, without hot keys or type-ahead; Esc once
// input has ended for good.
int ReadHelpKey() {
  Console& con = CurrentConsole();
  KeyWait wait;
  for (;;) {
    InputEvent ev;
    if (con.NextEvent(ev)) {
      if (ev.kind == InputEvent::Kind::Key && ev.mods == 0) return ev.code;
      continue;
    }
    if (con.InputClosed()) return KeyEsc;
    wait.NothingYet();
  }
}

void ShowMissing(const std::string& key) {
  TellUserAndWait(ScreenRows() / 2, std::string(ToolText(ToolMessage::NoHelpPage)) + " (" + key + ")");
}

void RunLauncher(const std::string& key) {
  std::vector<std::string> args = HelpLauncherCommand(
      Session.CommandShell, Session.ExeDir, Session.RootDir,
      LocalisedHelpKey(Session.RootDir, Session.Language, key, ".HTM"));
  ChildSpec spec;
  spec.program = args[0];
  spec.args.assign(args.begin() + 1, args.end());
  SuspendTerminal();
  // A launcher that cannot start or fails leaves the user where he was.
  (void)RunChild(spec);
  ResumeTerminal();
}

}  // namespace

std::string LocalisedHelpKey(const std::string& rootDir, const std::string& languageCode,
                             const std::string& key, const std::string& extension) {
  const Language language = LanguageFromCode(Trim(languageCode));
  if (language == Language::Catalan) return key;
  const std::string localised = std::string(LanguageCode(language)) + "\\" + key;
  return IsRegularFile(HostPath(rootDir + "AJUDA\\" + localised + extension)) ? localised : key;
}

std::vector<std::string> HelpLauncherCommand(const std::string& comspec, const std::string& exeDir,
                                             const std::string& rootDir, const std::string& key) {
  if (!comspec.empty()) return {comspec, "/C", "BROVEX", "AJUDA\\" + key + ".HTM"};
  const std::string line = ShellQuoted(HostPath(exeDir + "brovex")) + " " +
                           ShellQuoted(HostPath(rootDir + "AJUDA\\" + key + ".HTM"));
  return {"/bin/sh", "-c", line};
}

void ShowHelp(const std::string& keyIn) {
  const std::string key = TrimRight(keyIn);
  if (TrimRight(Session.EnvironmentKind) == "WIN") {
    RunLauncher(key);
    return;
  }
  const int cols = ScreenColumns(), rows = ScreenRows();
  // Only a regular file is a help page: a pipe or device put in its place
  // is neither waited on nor shown.
  std::string content;
  const std::string pageKey = LocalisedHelpKey(Session.RootDir, Session.Language, key, ".HLP");
  if (ReadRegularFile(HostPath(Session.RootDir + "AJUDA\\" + pageKey + ".HLP"), content) != ReadResult::Ok) {
    ShowMissing(key);
    return;
  }
  const HelpPage page(std::move(content), cols);
  const int total = page.Lines();
  const int height = rows - 8;
  const ScopedDisplayMode mode("h");
  if (height < 1 || PushWindow(4, 1, rows - 3, cols) != 0) return;
  DrawWindowFrame(2);
  SetDisplayMode("n");
  auto clear = [&](int n) { ScrollRegion(4, 1, rows - 5, cols - 2, n); };
  auto showRange = [&](int from, int to) {
    for (int n = from; n <= to; ++n) page.Show(n, n - from + 1);
  };
  showRange(1, height);
  int below = height + 1;  // the first line below the window
  for (;;) {
    const int k = ReadHelpKey();
    if (k == KeyF1) {
      if (key != GeneralHelpKey) ShowHelp(GeneralHelpKey);
    } else if (k == KeyDown) {
      if (total >= below) {
        clear(1);
        page.Show(below, height);
        ++below;
      }
    } else if (k == KeyUp) {
      if (below - height > 1) {
        --below;
        clear(-1);
        page.Show(below - height, 1);
      }
    } else if (k == KeyPgDn) {
      if (total >= below) {
        clear(height);
        if (below + height - 1 > total) below = total - height + 1;
        showRange(below, below + height - 1);
        below += height;
      }
    } else if (k == KeyPgUp) {
      if (below > height + 1) {
        clear(-height);
        if (below - 2 * height < 1) below = 2 * height;
        showRange(below - 2 * height + 1, below - height);
        below = below - height + 1;
      }
    } else if (k == KeyHome) {
      if (below > height + 1) {
        clear(height);
        showRange(1, height);
        below = height + 1;
      }
    } else if (k == KeyEnd) {
      if (total >= below) {
        clear(height);
        showRange(total - height + 1, total);
        below = total + 1;
      }
    } else if (k == KeyEsc) {
      break;
    }
  }
  PopWindow();
}
