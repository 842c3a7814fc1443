// The browse list over a real owner file: scripted keys on a memory console,
// the record picked, the lines shown, and what the list leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "invoicing/form_rules.h"
#include "invoicing/production.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"
#include "screens/browse.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"
#include "tools/setup.h"
#include "base/paths.h"

#include "tests/support/session_fixture.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

// Form 1: one owner field that opens list 1 with F4. List 3 has no data
// file: it shows the lines already in the list file.
const char* const kLists =
    "1, 1\r\n"
    "\"d,1b,3e00\", 1, 0, 0, 0, 0, 0\r\n"
    "5, 2, \"Propietari: \", 4, 0, 0, 0, 0, 1, \"\"\r\n"
    "3\r\n"
    "505, 0, 3, 10, 20, 70, 0, \"Propietaris\", 0\r\n"
    "506, 0, 3, 10, 20, 70, 0, \"Finques\", 0\r\n"
    "0, 0, 3, 10, 20, 70, 0, \"Llista\", 0\r\n";

std::string Code(int n) {
  std::string code(2, '\0');
  code[0] = static_cast<char>(128 + n / 100);
  code[1] = static_cast<char>(128 + n % 100);
  return code;
}

// A user who types no faster than the screen answers: a key is pressed only
// while the program waits for one after the screen changed, that is, it is
// handed out only to a read that follows a read, never to the first read
// after a change, and it is never seen waiting before that. Every read that
// finds nothing stands for a wait (up to 20 ms on a terminal): the one just
// before each key is the user's turn, every other one is time lost.
class PacedConsole : public MemoryConsole {
 public:
  void PutCell(int row, int col, uint8_t ch, uint8_t attr) override {
    changed_ = true;
    MemoryConsole::PutCell(row, col, ch, attr);
  }
  bool NextEvent(InputEvent& ev) override {
    if (changed_) {
      changed_ = false;
      ++emptyReads_;
      return false;
    }
    const bool got = MemoryConsole::NextEvent(ev);
    if (got) {
      ++keys_;
      firstListLine = RowText(4);
      OnKey();
    } else {
      ++emptyReads_;
    }
    return got;
  }
  bool InputWaiting() override { return !changed_ && MemoryConsole::InputWaiting(); }
  virtual void OnKey() {}
  // The owner list's first line (row 4) as it stood when the latest key was taken.
  std::string firstListLine;
  // Reads that found nothing and were not the user's turn before a key.
  int LostWaits() const { return emptyReads_ - keys_; }

 private:
  bool changed_ = false;
  int emptyReads_ = 0;
  int keys_ = 0;
};

class BrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    root_.emplace();
    dir_ = root_->Dir();
    fs::create_directories(dir_ / "ddf");
    fs::create_directories(dir_ / "DADES");
    fs::create_directories(dir_ / "LOCALE");
    fs::copy_file(fs::path(KORVADEL_SOURCE_DIR) / "install" / "ddf" / "PropietV.xdf", dir_ / "ddf" / "PropietV.xdf");
    Session.RootDir = root_->Dir();
    Session.TempDir = root_->Dir();
    Session.Language = "CAT";
    SetRecordSettings({Session.RootDir, Language::Catalan});
    ApplySessionScreenSettings();
    const std::string forms = (dir_ / "LISTS.ZPN").string();
    std::ofstream(forms, std::ios::binary) << kLists;
    int groups = 0;
    ASSERT_EQ(LoadFormDefinitions(forms, groups), FormsLoaded);
    console_.SetMouseButtons(3);
    SetConsole(&console_);
    ResetScreenState();
    ResetKeyboardState();
    ConnectFormRules(Hooks());
  }

  void TearDown() override {
    int16_t status = 0;
    ResetRecordFiles(status);
    SetConsole(nullptr);
    ClearFormDefinitions();
    root_.reset();
    ResetProcessState();
  }

  // Creates the owner file with owners 1..count and opens it as the module does.
  void OpenOwners(int count) {
    int16_t status = 0;
    OpenRecordFile(OwnerFileId, Session.RootDir + "DADES\\PropietV", area_, status, OwnerRecordSize);
    ASSERT_EQ(status, 0);
    uint8_t block[128] = {};
    std::string path = HostPath(Session.RootDir + "DADES\\PropietV.dat");
    std::vector<char> key(path.begin(), path.end());
    key.push_back('\0');
    char owner[5] = {};
    uint32_t length = sizeof owner;
    ASSERT_EQ(RecordManagerCall(RmOpen, block, owner, &length, key.data(),
                                static_cast<uint8_t>(path.size()), 0), 0);
    for (int n = 1; n <= count; ++n) {
      uint8_t record[OwnerRecordSize];
      std::memset(record, ' ', sizeof record);
      SetOwnerCode(record, Code(n));
      SetOwnerName(record, "Owner number " + std::to_string(n) + " with a long name");
      uint32_t size = sizeof record;
      char keyBuffer[256] = {};
      ASSERT_EQ(RecordManagerCall(RmInsert, block, record, &size, keyBuffer, 255, 0), 0);
    }
    uint32_t none = 0;
    RecordManagerCall(RmClose, block, nullptr, &none, nullptr, 0, 0);
    std::memset(area_, 0, OwnerRecordSize);
  }

  PacedConsole console_;
  std::optional<TempRoot> root_;
  fs::path dir_;
  uint8_t* area_ = ModuleRecordArea(OwnerFileId);  // the module's owner record area
};

struct PickCase {
  const char* name;
  int owners;
  std::vector<int> keys;
  int16_t result;
  int picked;  // owner code in the record area after a pick
  int top = 0;  // when not 0: the owner on the list's first line as the last key is taken
};

TEST_F(BrowseTest, KeysMoveThroughTheListAndEnterPicks) {
  const PickCase cases[] = {
      {"Enter on the first line", 40, {KeyEnter}, 0, 1},
      {"two lines down", 40, {KeyDown, KeyDown, KeyEnter}, 0, 3},
      {"Up on the first line stays", 40, {KeyUp, KeyEnter}, 0, 1},
      {"Down past the page scrolls one line", 40, std::vector<int>(20, KeyDown), 0, 0},
      {"PgDn shows the next page on the same row", 40, {KeyDown, KeyDown, KeyDown, KeyPgDn, KeyEnter}, 0, 20},
      {"PgDn twice then PgUp", 40, {KeyPgDn, KeyPgDn, KeyPgUp, KeyEnter}, 0, 17, 17},
      {"PgUp near the top keeps the bar on the current line", 40,
       {KeyDown, KeyDown, KeyPgDn, KeyUp, KeyUp, KeyUp, KeyUp, KeyPgUp, KeyEnter}, 0, 1},
      {"PgDn on the last page does nothing", 20, {KeyPgDn, KeyPgDn, KeyEnter}, 0, 17},
      {"Down on the last line does nothing", 3, {KeyDown, KeyDown, KeyDown, KeyDown, KeyEnter}, 0, 3},
      {"Esc leaves without a pick", 40, {KeyDown, KeyEsc}, -1, 0},
      {"an empty file has nothing to pick", 0, {KeyDown, KeyPgDn, KeyUp, KeyPgUp, KeyEnter}, -1, 0},
  };
  for (const PickCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    OpenOwners(c.owners);
    for (int key : c.keys) console_.PushKey(static_cast<uint16_t>(key));
    if (c.keys.size() == 20) console_.PushKey(KeyEnter);
    int16_t list = 1;
    int16_t result = 99;
    Browse(list, result);
    const int expectedPick = c.keys.size() == 20 ? 21 : c.picked;
    EXPECT_EQ(result, c.result);
    if (c.result == 0) {
      EXPECT_EQ(OwnerCode(area_), Code(expectedPick));
    }
    if (c.top != 0) {
      char code[8];
      std::snprintf(code, sizeof code, "%04d", c.top % 10000);
      EXPECT_NE(console_.firstListLine.find(std::string(code) + " Owner number"), std::string::npos)
          << console_.firstListLine;
    }
    EXPECT_EQ(console_.PendingEvents(), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "Browse.tmp"));
    EXPECT_FALSE(fs::exists(dir_ / "WinPush.tmp"));
    for (int r = 1; r <= 25; ++r) EXPECT_EQ(console_.RowText(r), std::string(80, ' ')) << "row " << r;
  }
}

TEST_F(BrowseTest, KeysTypedWhileTheListIsBuiltAreKeptButEscStopsTheReading) {
  struct Case {
    const char* name;
    std::vector<int> keys;  // all waiting before the list opens
    int16_t result;
    int picked;
  } cases[] = {
      {"moves typed ahead still move", {KeyDown, KeyDown, KeyEnter}, 0, 3},
      {"Esc typed ahead stops after the first line", {KeyEsc, KeyDown, KeyEnter}, 0, 1},
      {"a later Esc still leaves", {KeyDown, KeyEsc}, -1, 0},
  };
  OpenOwners(40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryConsole eager;
    SetConsole(&eager);
    for (int key : c.keys) eager.PushKey(static_cast<uint16_t>(key));
    int16_t list = 1;
    int16_t result = 99;
    Browse(list, result);
    EXPECT_EQ(result, c.result);
    if (c.result == 0) {
      EXPECT_EQ(OwnerCode(area_), Code(c.picked));
    }
    EXPECT_EQ(eager.PendingEvents(), 0u);
  }
}

TEST_F(BrowseTest, LeavingTheListGivesTheFieldItsExitKeysBack) {
  // F4 on the owner field, Esc in the list: the field is edited again with
  // the form's exit keys, so F5 (not one of them) does not leave the form.
  OpenOwners(40);
  Hooks().browse = [](int16_t list, int16_t& result) { Browse(list, result); };
  SetExitKeys("ea", "3f00");  // the caller's set, from before the form: F5
  const std::string callerCodes = ExitKeyCodes;
  for (int key : {KeyF4, KeyEsc, KeyF5, KeyEsc}) console_.PushKey(static_cast<uint16_t>(key));
  int16_t form = 1, noLeave = 0, noLeave2 = 0, key = 0;
  RunForm(form, noLeave, noLeave2, key);
  EXPECT_EQ(key, KeyEsc);
  EXPECT_EQ(console_.PendingEvents(), 0u);
  EXPECT_EQ(ExitKeyCodes, callerCodes);
  SetExitKeys("-", "");  // nothing may be left in the save slot
  EXPECT_EQ(ExitKeyCodes, callerCodes);
}

TEST_F(BrowseTest, BuildingLinesNeverWaitsForAKey) {
  // Pages of 16 lines over 200 owners: every key costs the user's turn and
  // nothing else, however many records the pages read.
  struct Case {
    const char* name;
    std::vector<int> keys;
  } cases[] = {
      {"the first page", {KeyEsc}},
      {"five pages down and one back", {KeyPgDn, KeyPgDn, KeyPgDn, KeyPgDn, KeyPgDn, KeyPgUp, KeyEsc}},
  };
  OpenOwners(200);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PacedConsole paced;
    SetConsole(&paced);
    for (int key : c.keys) paced.PushKey(static_cast<uint16_t>(key));
    int16_t result = 0;
    Browse(1, result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(paced.PendingEvents(), 0u);
    EXPECT_EQ(paced.LostWaits(), 0);
  }
}

TEST_F(BrowseTest, OnlyARegularListFileIsRead) {
  // Whatever stands at Browse.tmp when a list opens: the owner list starts
  // its own file; the list without a data file shows a regular file's lines
  // and nothing of a pipe or a device. Enter picks the first line.
  const std::string entry = std::string("\0\0\0\0\0\0\0\0\4\0", 10) + "LINE";
  struct Case {
    const char* name;
    int16_t list;
    std::function<void(const fs::path&)> place;
    int16_t result;
    std::string row4;  // columns 11..14
  } cases[] = {
      {"owners over a named pipe", 1, [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, 0, "0001"},
      {"owners over a link to a device", 1, [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, 0,
       "0001"},
      {"a list file left in place", 3, [&](const fs::path& p) { std::ofstream(p, std::ios::binary) << entry; }, 0,
       "LINE"},
      {"a named pipe as the list file", 3, [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, -1,
       "    "},
      {"a link to a device as the list file", 3, [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, -1,
       "    "},
  };
  OpenOwners(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = dir_ / "Browse.tmp";
    c.place(file);
    class Capturing : public PacedConsole {
     public:
      std::string row4;
      void OnKey() override { row4 = RowText(4, 11, 4); }
    } capturing;
    SetConsole(&capturing);
    capturing.PushKey(KeyEnter);
    int16_t result = 99;
    Browse(c.list, result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(capturing.row4, c.row4);
    EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
  }
}

TEST_F(BrowseTest, LinesAreBuiltOnlyAsFarAsTheyAreShown) {
  // Four lines visible: opening builds four; PgDn builds the next four.
  OpenOwners(30);
  ListAttr[1] = {OwnerFileId, 0, 8, 10, 13, 31, 0, 0};
  class Watching : public PacedConsole {
   public:
    fs::path file;
    std::vector<uintmax_t> sizes;
    void OnKey() override { sizes.push_back(fs::exists(file) ? fs::file_size(file) : 0); }
  } watching;
  watching.file = dir_ / "Browse.tmp";
  SetConsole(&watching);
  watching.PushKey(KeyPgDn);
  watching.PushKey(KeyUp);
  watching.PushKey(KeyEsc);
  int16_t list = 1;
  int16_t result = 0;
  Browse(list, result);
  // Each entry: 10 bytes, then "0001 " and the name's 30 characters.
  auto entry = [](int n) {
    return 10 + 5 + std::string("Owner number " + std::to_string(n) + " with a long name").substr(0, 30).size();
  };
  const uintmax_t four = entry(1) + entry(2) + entry(3) + entry(4);
  const uintmax_t eight = four + entry(5) + entry(6) + entry(7) + entry(8);
  ASSERT_GE(watching.sizes.size(), 3u);
  EXPECT_EQ(watching.sizes[0], four);
  EXPECT_EQ(watching.sizes[1], eight);
  EXPECT_EQ(watching.sizes[2], eight);  // going back reads nothing new
}

TEST_F(BrowseTest, FrameNamesTheKeysInTheSessionLanguage) {
  // The owner list's window: rows 3..20, columns 10..70. F4 is named only
  // where it opens a chained list.
  struct Case {
    const char* language;
    int16_t chained;
    std::string bottom;  // row 20, columns 11..69
  } cases[] = {
      {"CAT", 0, std::string(16, '\xCD') + "\xB9 Intro Triar  Esc Sortir \xCC" + std::string(16, '\xCD')},
      {"SPA", 2, std::string(11, '\xCD') + "\xB9 Intro Elegir  F4 Lista  Esc Salir \xCC" + std::string(11, '\xCD')},
      {"GLG", 0, std::string(15, '\xCD') + "\xB9 Intro Escoller  Esc Sa\xA1r \xCC" + std::string(16, '\xCD')},
      {"OCI", 2, std::string(10, '\xCD') + "\xB9 Intro Causir  F4 Lista  Esc Sortir \xCC" + std::string(11, '\xCD')},
  };
  OpenOwners(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    Session.Language = c.language;
    ListAttr[1][ListAttrSlot::ChainedList] = c.chained;
    class Capturing : public PacedConsole {
     public:
      std::string bottom;
      void OnKey() override { bottom = RowText(20, 10, 61); }
    } capturing;
    SetConsole(&capturing);
    capturing.PushKey(KeyEsc);
    int16_t result = 0;
    Browse(1, result);
    EXPECT_EQ(capturing.bottom, "\xC8" + c.bottom + "\xBC");
  }
}

TEST_F(BrowseTest, TitleAndLinesScrollSideways) {
  OpenOwners(5);
  // The owner list in a narrow window: 4 lines of 20 characters, the title
  // longer than that, its underscores drawn as blanks.
  ListAttr[1] = {OwnerFileId, 0, 8, 10, 13, 31, 0, 0};
  ListText[1] = "Llista_de_tots_els propietaris";
  struct Case {
    std::vector<int> keys;
    std::string title;  // row 8, columns 10..31
    std::string line1;  // row 9, columns 11..30
  } cases[] = {
      {{}, "\xC9Llista de tots els\xCDp\x10", "0001 Owner number 1 "},
      {{KeyRight}, "\x11" "e tots els\xCDpropietar\x10", "er number 1 with a l"},
      {{KeyRight, KeyLeft}, "\xC9Llista de tots els\xCDp\x10", "0001 Owner number 1 "},
      {{KeyRight, KeyRight, KeyRight}, "\x11ls\xCDpropietaris\xCD\xCD\xCD\xCD\xCD\xCD\xBB",
       "r 1 with a long nam "},
  };
  for (const Case& c : cases) {
    class Capturing : public PacedConsole {
     public:
      std::string title, line;
      size_t asked = 0, at = 0;
      void OnKey() override {
        if (asked++ == at) {
          title = RowText(8, 10, 22);
          line = RowText(9, 11, 20);
        }
      }
    } capturing;
    capturing.at = c.keys.size();
    SetConsole(&capturing);
    for (int key : c.keys) capturing.PushKey(static_cast<uint16_t>(key));
    capturing.PushKey(KeyEsc);
    int16_t list = 1;
    int16_t result = 0;
    Browse(list, result);
    EXPECT_EQ(capturing.title, c.title) << c.keys.size() << " keys";
    EXPECT_EQ(capturing.line, c.line1) << c.keys.size() << " keys";
  }
}

}  // namespace
