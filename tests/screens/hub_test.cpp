// The screen hub on a memory console: forms drawn from a form file written
// here, driven by scripted keys and clicks, checked by cells and by the
// values left in the form tables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/dates.h"
#include "invoicing/form_rules.h"
#include "invoicing/production.h"
#include "screens/formfile.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"
#include "tools/setup.h"
#include "base/clock.h"

#include "tests/support/session_fixture.h"
#include "tests/support/temp_root.h"

namespace {

// Forms of the tests:
//  1 parameters (date, owner range, property range, first number)
//  2 confirmation, in a window
//  3 navigation: five fields, the third display only, the fourth with a
//    trailing area, the fifth offered blank
//  4 two fields with follow-on form 5; 5 two fields in a window
//  6 drawing: two-line field, choice field, masked field, integer, date,
//    masked field with a trailing area
//  7 "End" in its key list
const char* const kFormFile =
    "' Forms of the screen tests\r\n"
    "7, 6\r\n"
    "' parameters\r\n"
    "\"d,1b,4800,5000,4900,5100,3e00\", 6, 0, 0, 0, 0, 0\r\n"
    "3, 2, \"Data: \", 10, 0, 0, 0, 1, 0, \"\"\r\n"
    "5, 2, \"Propietari des de: \", 4, 0, 0, 0, 0, 1, \"\"\r\n"
    "6, 2, \"Propietari fins a: \", 4, 0, 0, 0, 0, 1, \"\"\r\n"
    "8, 2, \"Finca des de: \", 3, 0, 0, 0, 0, 2, \"\"\r\n"
    "9, 2, \"Finca fins a: \", 3, 0, 0, 0, 0, 2, \"\"\r\n"
    "11, 2, \"Primer numero: \", 8, 0, 0, 1, 2, 0, \"\"\r\n"
    "' confirmation\r\n"
    "\"d,1b\", 1, 0, 10, 20, 14, 60\r\n"
    "2, 3, \"Conforme (S/N): \", 1, 0, 0, 0, 0, 0, \"\"\r\n"
    "' navigation\r\n"
    "\"d,1b,4800,5000,4900,5100,3e00,3c00\", 5, 0, 0, 0, 0, 0\r\n"
    "2, 2, \"Un: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "3, 2, \"Dos: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "4, 2, \"Tres: \", 5, 0, 0, 4, 0, 0, \"\"\r\n"
    "5, 2, \"Quatre: \", 5, 0, 10, 0, 0, 0, \"\"\r\n"
    "6, 2, \"Cinc: \", 5, 0, 0, 1, 0, 0, \"\"\r\n"
    "' follow-on pair\r\n"
    "\"d,1b,4800,5000,4900,5100\", 2, 5, 0, 0, 0, 0\r\n"
    "2, 2, \"A: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "3, 2, \"B: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "\"d,1b,4800,5000,4900,5100\", 2, 0, 12, 10, 16, 50\r\n"
    "1, 2, \"C: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "2, 2, \"D: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "' drawing\r\n"
    "\"d,1b\", 6, 0, 0, 0, 0, 0\r\n"
    "3, 1, \"Nom: \", 20, 10, 0, 0, 0, 0, \"\"\r\n"
    "6, 1, \"Tipus: \", 1, 0, 3, 0, 0, 0, \"|S,Si|N,No\"\r\n"
    "7, 1, \"Clau: \", 4, 0, 0, 2, 0, 0, \"\"\r\n"
    "8, 1, \"Import: \", 8, 0, 0, 0, 3, 0, \"\"\r\n"
    "9, 1, \"Data: \", 10, 0, 0, 0, 1, 0, \"\"\r\n"
    "10, 1, \"Pin: \", 4, 0, 6, 2, 0, 0, \"\"\r\n"
    "' End leaves\r\n"
    "\"d,1b,4f00\", 2, 0, 0, 0, 0, 0\r\n"
    "2, 2, \"E: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "3, 2, \"F: \", 5, 0, 0, 0, 0, 0, \"\"\r\n"
    "' lists\r\n"
    "2\r\n"
    "505, 0, 3, 10, 20, 70, 0, \"Propietaris\", 0\r\n"
    "506, 0, 3, 10, 20, 70, 0, \"Finques\", 0\r\n";

// A scripted input item: a key code, a text typed byte by byte, or a click.
struct Input {
  int key = 0;
  std::string text;
  int clickRow = 0;
  int clickCol = 0;
};
Input K(int key) { return Input{key, "", 0, 0}; }
Input T(const std::string& text) { return Input{0, text, 0, 0}; }
Input Click(int row, int col) { return Input{0, "", row, col}; }

std::string Describe(const std::vector<Input>& script) {
  std::string out;
  for (const Input& in : script) {
    if (!out.empty()) out += ' ';
    if (!in.text.empty())
      out += "'" + in.text + "'";
    else if (in.clickRow != 0)
      out += "click(" + std::to_string(in.clickRow) + "," + std::to_string(in.clickCol) + ")";
    else
      out += "key:" + std::to_string(in.key);
  }
  return out;
}

// A memory console on which keys pushed stand for keys the user types when
// asked (a discard of keys typed ahead leaves them), and which keeps every
// screen it showed when input was asked for, so a told message can be read.
class AnsweringConsole : public MemoryConsole {
 public:
  bool NextEvent(InputEvent& ev) override {
    Snapshot();
    return MemoryConsole::NextEvent(ev);
  }
  void DiscardInput() override {}
  [[nodiscard]] const std::string& Seen() const { return seen_; }

 private:
  void Snapshot() {
    std::string screen;
    for (int row = 1; row <= Rows(); ++row) screen += RowText(row) + "\n";
    if (seen_.find(screen) == std::string::npos) seen_ += screen;
  }
  std::string seen_;
};

class HubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    dir_ = root_.Dir();
    dir_.pop_back();
    std::filesystem::create_directories(dir_ + "/LOCALE");
    std::filesystem::create_directories(dir_ + "/FORMS");
    SetClockForTesting("20240301");
    Session.RootDir = dir_ + "/";
    Session.TempDir = dir_ + "/";
    Session.SessionTitle = " PROVES ";
    Session.Language = "CAT";
    Session.SessionDate = CodeFromText("20240105");
    const int colours[5][2] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};
    for (int m = 0; m < 5; ++m)
      for (int c = 0; c < 2; ++c) Session.ColourTable[m][c] = static_cast<int16_t>(colours[m][c]);
    ApplySessionScreenSettings();
    SetConsole(&console_);
    NewScreen();
    ResumeForm = 0;
    Hooks().browse = [](int16_t, int16_t& result) { result = -1; };
    Hooks().help = [this](const std::string& key) { helpKeys_.push_back(key); };
    ConnectFormRules(Hooks());

    const std::string file = dir_ + "/FORMS/TESTS.ZPN";
    std::ofstream(file, std::ios::binary) << kFormFile;
    int groups = 0;
    ASSERT_EQ(LoadFormDefinitions(file, groups), FormsLoaded);
  }

  void TearDown() override {
    SetConsole(nullptr);
    ClearFormDefinitions();
    ResetProcessState();
  }

  // A blank screen with a mouse, no window open, no keys pending.
  void NewScreen() {
    console_ = AnsweringConsole();
    console_.SetMouseButtons(3);
    ResetScreenState();
    ResetKeyboardState();
  }

  void Script(const std::vector<Input>& script) {
    for (const Input& in : script) {
      if (!in.text.empty())
        console_.PushText(in.text);
      else if (in.clickRow != 0)
        console_.PushClick(in.clickRow, in.clickCol);
      else
        console_.PushKey(static_cast<uint16_t>(in.key));
    }
  }

  int16_t Run(int16_t form, int16_t upLeaves = 0, int16_t downLeaves = 0) {
    int16_t key = 0;
    RunForm(form, upLeaves, downLeaves, key);
    return key;
  }

  void Fill(int16_t form, const std::vector<std::string>& values) {
    for (size_t k = 0; k < values.size(); ++k)
      SetFieldValue(form, static_cast<int16_t>(k + 1), values[k]);
  }

  std::vector<std::string> Values(int16_t form, int16_t count) {
    std::vector<std::string> out;
    for (int16_t k = 1; k <= count; ++k) out.push_back(FieldValue[form][k]);
    return out;
  }

  bool WindowFileExists() const {
    return std::filesystem::exists(dir_ + "/WinPush.tmp");
  }

  TempRoot root_;
  std::string dir_;  // root_'s folder without the final "/"
  AnsweringConsole console_;
  std::vector<std::string> helpKeys_;
};

// ---------------------------------------------------------------------------

TEST_F(HubTest, DrawFormWritesTitlePromptsAndValuesByType) {
  Fill(6, {"ABCDEFGHIJKLMNOPQRST", "N", "XYZW", "42", "05/01/2024", "SECRET"});
  DrawForm(6);
  struct Row {
    int row;
    std::string text;  // the row from its first column
  };
  const Row rows[] = {
      {1, std::string(36, ' ') + " PROVES " + std::string(36, ' ')},
      {3, "Nom: ABCDEFGHIJ" + std::string(25, ' ')},
      {4, "     KLMNOPQRST" + std::string(25, ' ')},
      {6, "Tipus: No  " + std::string(29, ' ')},
      {7, "Clau: " + std::string(34, ' ')},
      {8, "Import:       42" + std::string(24, ' ')},
      {9, "Data: 5/1/2024  " + std::string(24, ' ')},
      {10, "Pin: " + std::string(35, ' ')},
  };
  for (const Row& r : rows)
    EXPECT_EQ(console_.RowText(r.row, 1, static_cast<int>(r.text.size())), r.text) << "row " << r.row;
  // The title in reverse video, prompts in normal, values highlighted.
  EXPECT_EQ(console_.RowAttrs(1, 37, 8), std::string(8, '\x70'));
  EXPECT_EQ(console_.RowAttrs(3, 1, 5), std::string(5, '\x07'));
  EXPECT_EQ(console_.RowAttrs(3, 6, 10), std::string(10, '\x0F'));
}

TEST_F(HubTest, ShowFieldValueOfChoiceFieldShowsOnlyMatchingDescription) {
  struct Case {
    std::string stored;
    std::string shown;  // 4 cells: field length 1 + trailing 3
  } cases[] = {
      {"S", "Si  "},
      {"N", "No  "},
      {"X", "    "},
      {" ", "    "},
  };
  for (const Case& c : cases) {
    NewScreen();
    SetFieldValue(6, 2, c.stored);
    ShowFieldValue(6, 2);
    EXPECT_EQ(console_.RowText(6, 8, 4), c.shown) << "stored '" << c.stored << "'";
  }
}

TEST_F(HubTest, StoreFieldValueChecksByType) {
  struct Case {
    int16_t form, field;
    std::string text;
    bool accepted;
    std::string stored;  // the value afterwards
  } cases[] = {
      {1, 1, "29/02/2000", true, "29/02/2000"},
      {1, 1, "31/04/2024", false, "old date  "},
      {1, 1, "29/02/1900", false, "old date  "},
      {1, 1, "1.2.2024", true, "1.2.2024  "},
      {1, 1, "12/2024", false, "old date  "},
      {1, 1, "          ", true, "050124    "},
      {1, 1, "", true, "050124    "},
      {1, 6, "  125", true, "  125   "},
      {1, 6, "12.5", false, "77      "},
      {1, 6, "", true, "        "},
      {1, 6, "12a", false, "77      "},
      {1, 6, "-3", false, "77      "},
      {6, 4, "1x", false, "77      "},
      {6, 4, "1234567", true, "1234567 "},
      {3, 1, "abcdefg", true, "abcde"},
      {3, 1, "a", true, "a    "},
  };
  for (const Case& c : cases) {
    SetFieldValue(1, 1, "old date");
    SetFieldValue(1, 6, "77");
    SetFieldValue(6, 4, "77");
    int16_t field = c.field;
    int16_t key = 0;
    const int16_t result = StoreFieldValue(c.form, c.text, field, key);
    EXPECT_EQ(result == 0, c.accepted) << "form " << c.form << " field " << c.field << " '" << c.text << "'";
    EXPECT_EQ(FieldValue[c.form][c.field], c.stored) << "form " << c.form << " field " << c.field << " '" << c.text << "'";
  }
}

// ---------------------------------------------------------------------------
// Moving through form 3: fields 1, 2, (3 display only), 4, 5 (offered blank).

struct NavigationCase {
  const char* name;
  int16_t upLeaves, downLeaves;
  std::vector<Input> script;
  std::vector<std::string> values;  // fields 1..5 afterwards
  int16_t key;                      // the key that ended the form
  int16_t resume;                   // ResumeForm afterwards
};

TEST_F(HubTest, NavigationFollowsTheKeys) {
  const std::vector<std::string> start = {"aaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"};
  const NavigationCase cases[] = {
      {"Enter walks every editable field once", 0, 0,
       {K(KeyEnter), K(KeyEnter), K(KeyEnter), K(KeyEnter)}, start, KeyEnter, 0},
      {"Tab counts as Enter", 0, 0, {K(KeyTab), K(KeyTab), K(KeyTab), K(KeyTab)}, start, KeyEnter, 0},
      {"Down skips the display-only field", 0, 0,
       {K(KeyDown), K(KeyDown), T("X"), K(KeyEnter), K(KeyEnter)},
       {"aaaaa", "bbbbb", "ccccc", "Xdddd", "eeeee"}, KeyEnter, 0},
      {"Down on the last field stays there", 0, 0,
       {K(KeyPgDn), K(KeyDown), T("Q"), K(KeyEnter)},
       {"aaaaa", "bbbbb", "ccccc", "ddddd", "Q    "}, KeyEnter, 0},
      {"Up skips the display-only field back", 0, 0,
       {K(KeyEnter), K(KeyEnter), K(KeyUp), T("Y"), K(KeyEnter), K(KeyEnter), K(KeyEnter)},
       {"aaaaa", "Ybbbb", "ccccc", "ddddd", "eeeee"}, KeyEnter, 0},
      {"Up on the first field of a top form stays", 0, 0,
       {K(KeyUp), T("Z"), K(KeyEnter), K(KeyEnter), K(KeyEnter), K(KeyEnter)},
       {"Zaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEnter, 0},
      {"Esc goes to the first field without storing", 0, 0,
       {K(KeyEnter), K(KeyEnter), T("Q"), K(KeyEsc), T("W"), K(KeyEsc)},
       {"aaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEsc, 0},
      {"Esc after a stored field keeps that field", 0, 0,
       {T("V"), K(KeyEnter), T("W"), K(KeyEsc), K(KeyEsc)},
       {"Vaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEsc, 0},
      {"PgDn goes to the last field", 0, 0, {K(KeyPgDn), T("P"), K(KeyEnter)},
       {"aaaaa", "bbbbb", "ccccc", "ddddd", "P    "}, KeyEnter, 0},
      {"PgDn on the last field stays when it may not leave", 0, 0,
       {K(KeyPgDn), K(KeyPgDn), T("P"), K(KeyEnter)},
       {"aaaaa", "bbbbb", "ccccc", "ddddd", "P    "}, KeyEnter, 0},
      {"PgDn on the last field leaves when allowed", 0, 1, {K(KeyPgDn), K(KeyPgDn)}, start, KeyPgDn, 3},
      {"PgUp on the first field stays when it may not leave", 0, 0,
       {K(KeyPgUp), T("R"), K(KeyEnter), K(KeyPgDn), K(KeyEnter)},
       {"Raaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEnter, 0},
      {"PgUp from a later field goes to the first", 1, 0,
       {K(KeyEnter), K(KeyEnter), K(KeyPgUp), T("S"), K(KeyPgDn), K(KeyEnter)},
       {"Saaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEnter, 0},
      {"PgUp on the first field leaves when allowed", 1, 0, {K(KeyPgUp)}, start, KeyPgUp, 3},
      {"a blank entry in an offered-blank field keeps the value", 0, 0,
       {K(KeyPgDn), K(KeyEnter)}, start, KeyEnter, 0},
      {"F2 without a follow-on form does nothing", 0, 0,
       {K(KeyF2), T("F"), K(KeyEnter), K(KeyEsc), K(KeyEsc)},
       {"Faaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEsc, 0},
      {"the end of the input unwinds with Esc", 0, 0, {K(KeyEnter)}, start, KeyEsc, 0},
      {"a click on a prompt makes its field current", 0, 0,
       {Click(3, 2), T("C"), K(KeyEnter), K(KeyEnter), K(KeyEnter)},
       {"aaaaa", "Cbbbb", "ccccc", "ddddd", "eeeee"}, KeyEnter, 0},
      {"a click on the trailing area selects the field", 0, 0,
       {Click(5, 24), T("T"), K(KeyEnter), K(KeyEnter)},
       {"aaaaa", "bbbbb", "ccccc", "Tdddd", "eeeee"}, KeyEnter, 0},
      {"a click past the trailing area is ignored", 0, 0,
       {Click(5, 25), T("G"), K(KeyEnter), K(KeyEsc), K(KeyEsc)},
       {"Gaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEsc, 0},
      {"a click on the display-only field is ignored", 0, 0,
       {Click(4, 9), T("H"), K(KeyEnter), K(KeyEsc), K(KeyEsc)},
       {"Haaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEsc, 0},
      {"a click outside every field is ignored", 0, 0,
       {Click(20, 70), T("J"), K(KeyEnter), K(KeyEsc), K(KeyEsc)},
       {"Jaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"}, KeyEsc, 0},
  };
  for (const NavigationCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Describe(c.script));
    NewScreen();
    ResumeForm = 0;
    Fill(3, start);
    Script(c.script);
    const int16_t key = Run(3, c.upLeaves, c.downLeaves);
    EXPECT_EQ(key, c.key);
    EXPECT_EQ(Values(3, 5), c.values);
    EXPECT_EQ(ResumeForm, c.resume);
    EXPECT_EQ(console_.PendingEvents(), 0u);
  }
}

TEST_F(HubTest, EndLeavesWhenTheFormListsIt) {
  // With End among the form's keys a pressed Enter counts as End, Tab does not.
  struct Case {
    std::vector<Input> script;
    int16_t key;
    std::string second;
  } cases[] = {
      {{K(KeyEnter)}, KeyEnd, "fffff"},
      {{K(KeyTab), T("Z"), K(KeyTab)}, KeyEnter, "Zffff"},
  };
  for (const Case& c : cases) {
    Fill(7, {"eeeee", "fffff"});
    Script(c.script);
    EXPECT_EQ(Run(7), c.key) << Describe(c.script);
    EXPECT_EQ(FieldValue[7][2], c.second) << Describe(c.script);
  }
}

TEST_F(HubTest, MaskedValueIsNeverShownAndABlankEntryKeepsIt) {
  struct Case {
    std::string typed;   // into the masked field with a trailing area
    std::string stored;  // its value afterwards
  } cases[] = {{"1234", "1234"}, {"", "9876"}, {"77", "77  "}};
  for (const Case& c : cases) {
    NewScreen();
    Fill(6, {"ABCDEFGHIJKLMNOPQRST", "N", "XYZW", "42", "05/01/2024", "9876"});
    // Enter through the five fields before it, then type and leave.
    Script({K(KeyEnter), K(KeyEnter), K(KeyEnter), K(KeyEnter), K(KeyEnter)});
    if (!c.typed.empty()) Script({T(c.typed)});
    Script({K(KeyEnter)});
    EXPECT_EQ(Run(6), KeyEnter) << "'" << c.typed << "'";
    EXPECT_EQ(FieldValue[6][6], c.stored) << "'" << c.typed << "'";
    for (const std::string& secret : {std::string("1234"), std::string("9876"), std::string("77")})
      EXPECT_EQ(console_.RowText(10).find(secret), std::string::npos) << "'" << c.typed << "'";
  }
}

TEST_F(HubTest, RefusedDateIsToldWithItsFormsAndEditedAgainAsTyped) {
  struct Case {
    const char* language;
    std::vector<Input> script;
    std::string stored;  // the date field afterwards
    std::string told;    // on the screen, or empty for nothing told
  } cases[] = {
      // "31/04/2024" is refused and told; a key, then "30" typed over the kept text.
      {"CAT", {T("31/04/2024"), K(KeyEnter), K('x'), T("30"), K(KeyEnter), K(KeyEsc)}, "30/04/2024",
       "DATA NO V\xb7LIDA: 31/04/2024. S'ESCRIU DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD"},
      {"SPA", {T("2024-02-30"), K(KeyEnter), K('x'), T("2024-02-29"), K(KeyEnter), K(KeyEsc)},
       "2024-02-29", "FECHA NO V\xb5LIDA: 2024-02-30. SE ESCRIBE DD-MM-AAAA, DD/MM/AAAA o AAAA-MM-DD"},
      {"CAT", {T("2024-04-30"), K(KeyEnter), K(KeyEsc)}, "2024-04-30", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.script));
    NewScreen();
    Session.Language = c.language;
    Fill(1, {"01/03/2024", "1", "9999", "1", "999", ""});
    Script(c.script);
    EXPECT_EQ(Run(1), KeyEsc);
    EXPECT_EQ(FieldValue[1][1], c.stored);
    if (!c.told.empty()) {
      EXPECT_NE(console_.Seen().find(c.told), std::string::npos) << console_.Seen();
    } else {
      EXPECT_EQ(console_.Seen().find("DD/MM/AAAA"), std::string::npos) << console_.Seen();
    }
    EXPECT_EQ(console_.PendingEvents(), 0u);
    EXPECT_FALSE(WindowFileExists());
  }
}

TEST_F(HubTest, HelpKeyOpensTheSessionHelpPage) {
  struct Case {
    std::string menu;
    std::vector<std::string> opened;
  } cases[] = {
      {"ZARVIS  ", {"ZARVIS"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    helpKeys_.clear();
    Session.MenuName = c.menu;
    Fill(3, {"aaaaa", "bbbbb", "ccccc", "ddddd", "eeeee"});
    // Typed text is given up by F1; the field is edited again from its value.
    Script({T("Q"), K(KeyF1), K(KeyEnter), K(KeyEnter), K(KeyEnter), K(KeyEnter)});
    EXPECT_EQ(Run(3), KeyEnter) << "menu '" << c.menu << "'";
    EXPECT_EQ(helpKeys_, c.opened) << "menu '" << c.menu << "'";
    EXPECT_EQ(FieldValue[3][1], "aaaaa") << "menu '" << c.menu << "'";
  }
}

TEST_F(HubTest, ListKeyTakesThePickedCodeOrRefusesWithoutAPick) {
  uint8_t* owner = ModuleRecordArea(505);
  uint8_t* property = ModuleRecordArea(506);
  owner[0] = 128 + 12;  // owner 1234
  owner[1] = 128 + 34;
  property[0] = 128 + 0;  // property 0042
  property[1] = 128 + 42;
  struct Case {
    const char* name;
    int16_t pickResult;
    std::vector<Input> script;
    std::vector<std::string> values;  // fields 2..4 of form 1
    int beeps;
  } cases[] = {
      {"owner picked, then Down", 0, {K(KeyF4), K(KeyEsc)}, {"1234", "9999", "1  "}, 0},
      {"nothing picked: beep, same field", -1, {K(KeyF4), T("7"), K(KeyEnter), K(KeyEsc)},
       {"7   ", "9999", "1  "}, 1},
      {"property picked from field 4", 0,
       {K(KeyEnter), K(KeyEnter), K(KeyF4), K(KeyEsc)}, {"1   ", "9999", "042"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fill(1, {"01/03/2024", "1", "9999", "1", "999", ""});
    std::vector<int16_t> opened;
    Hooks().browse = [&](int16_t list, int16_t& result) {
      opened.push_back(list);
      result = c.pickResult;
    };
    NewScreen();
    // Start on field 2: Enter from the date field.
    Script({K(KeyEnter)});
    Script(c.script);
    EXPECT_EQ(Run(1), KeyEsc);
    EXPECT_EQ(std::vector<std::string>({FieldValue[1][2], FieldValue[1][3], FieldValue[1][4]}), c.values);
    EXPECT_EQ(console_.Beeps(), c.beeps);
    ASSERT_EQ(opened.size(), 1u);
  }
}

TEST_F(HubTest, TakeListSelectionStoresTheDigitsOfTheRecordCode) {
  uint8_t* owner = ModuleRecordArea(505);
  uint8_t* property = ModuleRecordArea(506);
  struct Case {
    int16_t list;
    uint8_t b0, b1;
    int16_t field;
    std::string stored;
  } cases[] = {
      {1, 128 + 0, 128 + 5, 2, "0005"},
      {1, 128 + 99, 128 + 99, 3, "9999"},
      {2, 128 + 1, 128 + 23, 4, "123"},
      {2, 128 + 0, 128 + 7, 5, "007"},
      {3, 128 + 1, 128 + 1, 2, "keep"},
  };
  for (const Case& c : cases) {
    Fill(1, {"01/03/2024", "keep", "keep", "kep", "kep", ""});
    uint8_t* area = c.list == 1 ? owner : property;
    area[0] = c.b0;
    area[1] = c.b1;
    TakeListSelection(c.list, 1, c.field);
    EXPECT_EQ(FieldValue[1][c.field], c.stored) << "list " << c.list << " field " << c.field;
  }
}

// ---------------------------------------------------------------------------

struct ExitCheckCase {
  const char* name;
  std::string fromOwner, toOwner, fromProperty, toProperty;
  std::vector<Input> answer;  // keys typed into the confirmation form, or on the refusal
  bool accepted;
  std::string told;  // on the screen; empty: the confirmation is asked
  const char* language = "CAT";
};

TEST_F(HubTest, FormExitCheckNeedsOrderedRangesAndAnS) {
  const ExitCheckCase cases[] = {
      {"S accepts", "1", "9999", "1", "999", {T("S"), K(KeyEnter)}, true, ""},
      {"N refuses", "1", "9999", "1", "999", {T("N"), K(KeyEnter)}, false, ""},
      {"lower-case s refuses", "1", "9999", "1", "999", {T("s"), K(KeyEnter)}, false, ""},
      {"Esc refuses", "1", "9999", "1", "999", {T("S"), K(KeyEsc)}, false, ""},
      {"equal ranges are fine", "12", "12", "5", "5", {T("S"), K(KeyEnter)}, true, ""},
      {"owners compare as numbers", "9", "10", "1", "999", {T("S"), K(KeyEnter)}, true, ""},
      {"properties compare as numbers", "1", "9999", "5", "10", {T("S"), K(KeyEnter)}, true, ""},
      {"reversed owners, told", "12", "3", "1", "999", {K('x')}, false,
       "MARGE DE PROPIETARIS INVERTIT: EL PRIMER (12) VA DESPR\x90S DEL DARRER (3)"},
      {"reversed properties, told in Spanish", "1", "9999", "100", "99", {K('x')}, false,
       "MARGEN DE FINCAS INVERTIDO: LA PRIMERA (100) VA DESPU\x90S DE LA \xe9LTIMA (99)", "SPA"},
      {"reversed both: the owners told first", "2", "1", "2", "1", {K('x')}, false,
       "MARGE DE PROPIETARIS INVERTIT: EL PRIMER (2) VA DESPR\x90S DEL DARRER (1)"},
  };
  for (const ExitCheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    NewScreen();
    Session.Language = c.language;
    Fill(1, {"01/03/2024", c.fromOwner, c.toOwner, c.fromProperty, c.toProperty, ""});
    SetFieldValue(2, 1, "S");  // a stale answer must not count
    Script(c.answer);
    EXPECT_EQ(FormExitCheck(1, KeyEnter) == 0, c.accepted);
    EXPECT_EQ(console_.PendingEvents(), 0u);
    if (!c.told.empty()) {
      EXPECT_NE(console_.Seen().find(c.told), std::string::npos) << console_.Seen();
    }
    EXPECT_FALSE(WindowFileExists());
  }
}

TEST_F(HubTest, AMessageBesideTheConfirmationNeverCoversIt) {
  // The confirmation (form 2) stands on rows 10-14: below it 11 rows, room
  // for nine lines in a frame (the run's questions name six invoices at
  // most). Word-wrapped to 76 columns, each "word" fills a line.
  struct Case {
    int lines;
    int top, bottom;  // the message window's rows
  } cases[] = {{1, 15, 17}, {2, 15, 18}, {6, 15, 22}, {9, 15, 25}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    NewScreen();
    std::string text;
    for (int k = 0; k < c.lines; ++k) text += std::string(70, static_cast<char>('a' + k)) + " ";
    ASSERT_EQ(ShowBesideConfirmation(text), 0);
    EXPECT_EQ(Window.Top, c.top);
    EXPECT_EQ(Window.Bottom, c.bottom);
    PopWindow();
  }
}

TEST_F(HubTest, FormExitCheckLetsEscAndOtherFormsThrough) {
  struct Case {
    int16_t form, key;
  } cases[] = {{1, KeyEsc}, {3, KeyEnter}, {6, KeyEnd}};
  for (const Case& c : cases) {
    Fill(1, {"01/03/2024", "12", "3", "1", "999", ""});
    EXPECT_EQ(FormExitCheck(c.form, c.key), 0) << "form " << c.form << " key " << c.key;
    EXPECT_EQ(console_.PendingEvents(), 0u);
  }
}

TEST_F(HubTest, ReversedRangeSendsTheUserBackToTheFirstField) {
  // Owners 12..3 are refused without the confirmation; the user then puts 1
  // in the first owner field and confirms.
  Fill(1, {"01/03/2024", "12", "3", "1", "999", ""});
  Script({K(KeyPgDn), K(KeyEnter), K('x'),           // leave form 1: refused and told
          K(KeyEnter), T("1   "), K(KeyPgDn), K(KeyEnter),  // fix the owner, leave again
          T("S"), K(KeyEnter)});                     // confirm
  EXPECT_EQ(Run(1), KeyEnter);
  EXPECT_EQ(FieldValue[1][2], "1   ");
  EXPECT_EQ(FieldValue[2][1], "S");
  EXPECT_EQ(console_.PendingEvents(), 0u);
}

// ---------------------------------------------------------------------------
// Follow-on forms: 4 continues into 5 (in a window).

TEST_F(HubTest, FollowOnFormsAndResume) {
  struct Case {
    const char* name;
    int16_t startResume;
    std::vector<Input> script;
    int16_t key;
    std::vector<std::string> values;  // 4.1, 4.2, 5.1, 5.2
    int16_t resume;
  } cases[] = {
      {"Enter on the last field continues in the follow-on form", 0,
       {K(KeyEnter), K(KeyEnter), T("C"), K(KeyEnter), T("D"), K(KeyEnter)}, KeyEnter,
       {"aaaaa", "bbbbb", "Ccccc", "Ddddd"}, 0},
      {"Up on the first follow-on field returns to the caller's field", 0,
       {K(KeyEnter), K(KeyEnter), K(KeyUp), T("U"), K(KeyEnter)}, KeyEsc,
       {"aaaaa", "Ubbbb", "ccccc", "ddddd"}, 0},
      {"PgDn leaving the follow-on form ends the caller too", 0,
       {K(KeyEnter), K(KeyEnter), K(KeyPgDn), K(KeyPgDn)}, KeyPgDn,
       {"aaaaa", "bbbbb", "ccccc", "ddddd"}, 5},
      {"a resumed form is entered straight away", 5, {T("R"), K(KeyEnter), K(KeyEnter)}, KeyEnter,
       {"aaaaa", "bbbbb", "Rcccc", "ddddd"}, 0},
      {"a resume mark of another form is dropped", 3,
       {T("A"), K(KeyEnter), K(KeyEnter), K(KeyEnter), K(KeyEnter)}, KeyEnter,
       {"Aaaaa", "bbbbb", "ccccc", "ddddd"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Describe(c.script));
    NewScreen();
    Fill(4, {"aaaaa", "bbbbb"});
    Fill(5, {"ccccc", "ddddd"});
    ResumeForm = c.startResume;
    Script(c.script);
    EXPECT_EQ(Run(4, 1, 1), c.key);
    EXPECT_EQ(std::vector<std::string>({FieldValue[4][1], FieldValue[4][2], FieldValue[5][1], FieldValue[5][2]}),
              c.values);
    EXPECT_EQ(ResumeForm, c.resume);
    EXPECT_EQ(console_.PendingEvents(), 0u);
    EXPECT_FALSE(WindowFileExists());
  }
}

TEST_F(HubTest, FormWindowIsFramedAndTheScreenRestored) {
  // A screen full of dots; form 5 in its window (12,10)-(16,50).
  for (int r = 1; r <= 25; ++r)
    for (int col = 1; col <= 80; ++col) console_.PutCell(r, col, '.', 7);
  Fill(5, {"ccccc", "ddddd"});
  std::vector<std::string> during;
  // Capture the screen when the first key is asked for.
  class Capturing : public MemoryConsole {
   public:
    std::vector<std::string>* out = nullptr;
    bool NextEvent(InputEvent& ev) override {
      if (out->empty())
        for (int r = 12; r <= 16; ++r) out->push_back(RowText(r, 10, 41));
      return MemoryConsole::NextEvent(ev);
    }
  } capturing;
  for (int r = 1; r <= 25; ++r)
    for (int col = 1; col <= 80; ++col) capturing.PutCell(r, col, '.', 7);
  capturing.out = &during;
  SetConsole(&capturing);
  capturing.PushKey(KeyEsc);
  EXPECT_EQ(Run(5), KeyEsc);
  ASSERT_EQ(during.size(), 5u);
  EXPECT_EQ(during[0], "\xC9" + std::string(39, '\xCD') + "\xBB");
  EXPECT_EQ(during[1], "\xBA" " C: ccccc" + std::string(30, ' ') + "\xBA");
  EXPECT_EQ(during[2], "\xBA" " D: ddddd" + std::string(30, ' ') + "\xBA");
  EXPECT_EQ(during[4], "\xC8" + std::string(39, '\xCD') + "\xBC");
  for (int r = 2; r <= 25; ++r) EXPECT_EQ(capturing.RowText(r), std::string(80, '.')) << "row " << r;
  EXPECT_FALSE(WindowFileExists());
}

// ---------------------------------------------------------------------------

TEST_F(HubTest, FormFileFailureIsShownUntilAKeyIsPressed) {
  struct Case {
    std::string language;
    std::string file;
    std::string text;
  } cases[] = {
      {"CAT", "C:\\ZEP\\FORMS\\KORVADEL.ZPN", "NO ES POT LLEGIR EL FITXER DE PANTALLES C:\\ZEP\\FORMS\\KORVADEL.ZPN"},
      {"SPA", "C:\\ZEP\\FORMS\\KORVADEL.ZPN", "NO SE PUEDE LEER EL FICHERO DE PANTALLAS C:\\ZEP\\FORMS\\KORVADEL.ZPN"},
      // A root taken from the host is UTF-8; the screen shows the code page.
      {"CAT", "/srv/gesti\xc3\xb3/FORMS\\KORVADEL.ZPN",
       "NO ES POT LLEGIR EL FITXER DE PANTALLES /srv/gesti\xa2/FORMS\\KORVADEL.ZPN"},
  };
  for (const Case& c : cases) {
    Session.Language = c.language;
    class Capturing : public MemoryConsole {
     public:
      std::string seen;
      bool NextEvent(InputEvent& ev) override {
        if (seen.empty())
          for (int r = 1; r <= 25; ++r) seen += RowText(r);
        return MemoryConsole::NextEvent(ev);
      }
    } capturing;
    SetConsole(&capturing);
    capturing.PushKey('x');
    capturing.PushKey('y');  // typed ahead: dropped, not taken as the answer
    ReportFormFileFailure(c.file);
    EXPECT_NE(capturing.seen.find(c.text), std::string::npos) << c.language;
    EXPECT_EQ(capturing.Beeps(), 1) << c.language;
    for (int r = 1; r <= 25; ++r) EXPECT_EQ(capturing.RowText(r), std::string(80, ' ')) << c.language;
    EXPECT_FALSE(WindowFileExists());
  }
}

}  // namespace
