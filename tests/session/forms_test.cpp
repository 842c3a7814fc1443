#include "session/forms.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "session/items.h"
#include "session/session.h"
#include "tests/support/temp_root.h"

namespace {

TEST(ItemReader, ItemSyntax) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"a,b,c", {"a", "b", "c"}},
      {"  a  ,  b  \r\n", {"a", "b"}},
      {"\"  a, b \",c", {"  a, b ", "c"}},
      {"\"q\" junk,c", {"q", "c"}},
      {"a,,c", {"a", "", "c"}},
      {"a,\r\nb", {"a", "b"}},  // a line end between items is no item
      {"3, 9,\r\n\"P\", 10", {"3", "9", "P", "10"}},
      {"a,\"\",\r\nb", {"a", "", "b"}},
      {"a,,\r\nb", {"a", "", "", "b"}},  // a line ending in ",," ends with an empty item
      {"a, , \r\nb", {"a", "", "", "b"}},
      {"a,\"\"\r\nb", {"a", "", "b"}},
      {"a\r\n,b", {"a", "", "b"}},  // a comma first on a line follows an empty item
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\r\n\r\n   \r\nb", {"a", "b"}},
      {"\"open\r\nb", {"open", "b"}},  // an unclosed quote ends with its line
      {"a,b\x1a,c", {"a", "b"}},       // Ctrl+Z ends the text
      {"", {}},
      {"  \r\n  ", {}},
      {"\"\"", {""}},
      {"x,", {"x"}},
  };
  for (const Case& c : cases) {
    ItemReader reader(c.text);
    std::vector<std::string> got;
    std::string item;
    while (reader.Next(item) && got.size() < 20) got.push_back(item);
    EXPECT_EQ(got, c.items) << "\"" << c.text << "\"";
  }
}

TEST(ItemReader, Numbers) {
  struct Case {
    std::string text;
    std::vector<int16_t> numbers;
  };
  const Case cases[] = {
      {"1,2,3", {1, 2, 3}},
      {"1,\r\n2", {1, 2}},  // line ends before a number are skipped
      {" -5 , 2.5 , 3.5, abc", {-5, 2, 4, 0}},
      {"99999,-99999", {32767, -32768}},
      {"\"7\",x", {7, 0}},
  };
  for (const Case& c : cases) {
    ItemReader reader(c.text);
    std::vector<int16_t> got;
    int16_t n = 0;
    while (reader.NextNumber(n) && got.size() < 20) got.push_back(n);
    EXPECT_EQ(got, c.numbers) << "\"" << c.text << "\"";
  }
}

// The tables as one text, for whole comparisons:
// header; per form keys/count/next/window; per used field its attributes,
// prompt, choices and value; per list its attributes and text.
std::string Dump() {
  std::string out = "F" + std::to_string(FormCount) + " N" + std::to_string(FieldCapacity) +
                    " C" + std::to_string(ListCount);
  for (size_t f = 1; f < FormKeys.size(); ++f) {
    out += " |" + FormKeys[f] + "," + std::to_string(FormFieldCount[f]) + "," + std::to_string(NextForm[f]);
    for (size_t w = 0; w <= 4; ++w) out += "," + std::to_string(FormWindow[f][w]);
    for (size_t k = 1; k < FieldAttr[f].size(); ++k) {
      if (k > static_cast<size_t>(FormFieldCount[f])) {
        // Unused slots must stay empty.
        for (int16_t a : FieldAttr[f][k]) {
          if (a != 0) out += " !slot";
        }
        if (!FieldPrompt[f][k].empty() || !FieldValue[f][k].empty()) out += " !slot";
        continue;
      }
      out += " (";
      for (int16_t a : FieldAttr[f][k]) out += std::to_string(a) + ",";
      out += FieldPrompt[f][k] + "," + FieldChoices[f][k] + ",[" + FieldValue[f][k] + "])";
    }
  }
  for (size_t c = 1; c < ListText.size(); ++c) {
    out += " L(";
    for (int16_t a : ListAttr[c]) out += std::to_string(a) + ",";
    out += ListText[c] + ")";
  }
  return out;
}

struct FormsCase {
  std::string name;
  std::string content;  // "" with missing = true: no file
  bool missing;
  int16_t status;
  int groups;
  std::string tables;
};

const std::string kTwoForms =
    "' Module forms\r\n"
    "2,2\r\n"
    "' Parameters\r\n"
    "\"KEYS1\",2,2,3,5,20,75\r\n"
    "2,3,\"Data\",8,8,0,1,0,0,\"\"\r\n"
    "3,3,Propietari,4,4,0,2,1,0,\"S\xa1,No\"\r\n"
    "   ' Confirmation\r\n"
    "K2,1,0,0,0,0,0\r\n"
    "1,1,\"  Conforme \",1,1,0,0,0,0,SN\r\n"
    "' Lists\r\n"
    "2\r\n"
    "' owners\r\n"
    "1,2,3,4,5,6,7,Propietaris,8\r\n"
    "10,20,30,40,50,60,70,\"Finques, totes\",80\r\n";

const std::string kTwoFormsTables =
    "F2 N2 C2 |KEYS1,2,2,0,3,5,20,75 (2,3,8,8,0,1,0,0,Data,,[        ])"
    " (3,3,4,4,0,2,1,0,Propietari,S\xa1,No,[    ])"
    " |K2,1,0,0,0,0,0,0 (1,1,1,1,0,0,0,0,  Conforme ,SN,[ ]) L(1,2,3,4,5,6,7,8,Propietaris)"
    " L(10,20,30,40,50,60,70,80,Finques, totes)";

TEST(LoadFormDefinitions, Groups) {
  const FormsCase cases[] = {
      {"two forms, two lists, comments", kTwoForms, false, FormsLoaded, 6, kTwoFormsTables},
      {"items spread over lines",
       "1,1\r\nK,\r\n1,0,0,0,0,0\r\n1,2\r\nP,3,0,0\r\n0,0,0,,\r\n\r\n1\r\n1,2,3,4,5,6,7\r\nT\r\n8",
       false, FormsLoaded, 4, "F1 N1 C1 |K,1,0,0,0,0,0,0 (1,2,3,0,0,0,0,0,P,,[   ]) L(1,2,3,4,5,6,7,8,T)"},
      {"records broken after a comma",
       "1,1\r\n\"A\", 1, 0,\r\n0, 0, 0, 0\r\n3, 9,\r\n\"Data\", 10, 0, 0, 0,\r\n1, 0,\r\n\"\"\r\n1\r\n1,1,1,1,1,1,1,\r\nL,\r\n1",
       false, FormsLoaded, 4,
       "F1 N1 C1 |A,1,0,0,0,0,0,0 (3,9,10,0,0,0,1,0,Data,,[          ]) L(1,1,1,1,1,1,1,1,L)"},
      {"an empty last item written \"\" or ,,",
       "1,2\r\nA,2,0,0,0,0,0\r\n1,1,P,2,0,0,0,0,0,\"\"\r\n2,1,Q,2,0,0,0,0,0,,\r\n0", false, FormsLoaded, 3,
       "F1 N2 C0 |A,2,0,0,0,0,0,0 (1,1,2,0,0,0,0,0,P,,[  ]) (2,1,2,0,0,0,0,0,Q,,[  ])"},
      {"form without fields, list count last",
       "2,1\r\nA,0,2,0,0,0,0\r\n' between forms\r\nB,1,0,1,1,5,40\r\n4,5,X,2,2,0,0,0,0,\"\"\r\n0",
       false, FormsLoaded, 4, "F2 N1 C0 |A,0,2,0,0,0,0,0 |B,1,0,0,1,1,5,40 (4,5,2,2,0,0,0,0,X,,[  ])"},
      {"anything after the last list is ignored",
       "1,0\r\nA,0,0,0,0,0,0\r\n1\r\n1,1,1,1,1,1,1,L,1\r\ngarbage,\"x\r\n", false, FormsLoaded, 4,
       "F1 N0 C1 |A,0,0,0,0,0,0,0 L(1,1,1,1,1,1,1,1,L)"},
      {"missing file", "", true, FormsFileMissing, 0, "F0 N0 C0"},
      {"empty file", "", false, FormsFileShort, 0, "F0 N0 C0"},
      {"only comments", "' nothing\r\n  ' here\r\n", false, FormsFileShort, 0, "F0 N0 C0"},
      {"ends inside a field record", "1,2\r\nA,2,0,0,0,0,0\r\n1,1,P,3,0,0,0,0,0,\"\"\r\n2,2,Q,3", false,
       FormsFileShort, 1, "F1 N2 C0 |,0,0,0,0,0,0,0"},
      {"ends before the list count", "1,1\r\nA,1,0,0,0,0,0\r\n1,1,P,2,0,0,0,0,0,C\r\n", false,
       FormsFileShort, 2, "F1 N1 C0 |A,1,0,0,0,0,0,0 (1,1,2,0,0,0,0,0,P,C,[  ])"},
      {"ends inside the second list", "1,0\r\nA,0,0,0,0,0,0\r\n2\r\n1,1,1,1,1,1,1,L,1\r\n2,2,2", false,
       FormsFileShort, 4, "F1 N0 C1 |A,0,0,0,0,0,0,0 L(1,1,1,1,1,1,1,1,L)"},
      {"no forms", "0,5\r\n0", false, FormsBadHeader, 0, "F0 N0 C0"},
      {"negative capacity", "1,-1\r\n", false, FormsBadHeader, 0, "F0 N0 C0"},
      {"tables too large", "30000,30000\r\n", false, FormsBadHeader, 0, "F0 N0 C0"},
      {"more fields than the capacity", "1,1\r\nA,2,0,0,0,0,0\r\n", false, FormsBadFieldCount, 1,
       "F1 N1 C0 |,0,0,0,0,0,0,0"},
      {"negative field count", "1,1\r\nA,-1,0,0,0,0,0\r\n", false, FormsBadFieldCount, 1,
       "F1 N1 C0 |,0,0,0,0,0,0,0"},
      {"negative value length gives an empty value",
       "1,1\r\nA,1,0,0,0,0,0\r\n1,1,P,-4,0,0,0,0,0,\"\"\r\n0", false, FormsLoaded, 3,
       "F1 N1 C0 |A,1,0,0,0,0,0,0 (1,1,-4,0,0,0,0,0,P,,[])"},
  };
  for (const FormsCase& c : cases) {
    TempRoot root;
    if (!c.missing) root.Write("FORMS/KORVADEL.ZPN", c.content);
    Session.RootDir = root.Dir();
    Session.Language = "CAT";
    int groups = -1;
    EXPECT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), c.status) << c.name;
    EXPECT_EQ(groups, c.groups) << c.name;
    EXPECT_EQ(Dump(), c.tables) << c.name;
  }
  Session = SessionValues{};
  ClearFormDefinitions();
}

TEST(LoadFormDefinitions, OnlyARegularFileIsRead) {
  TempRoot root;
  root.Write("FORMS/.keep", "");
  const std::string fifo = root.Dir() + "FORMS/PIPE.ZPN";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  root.Write("FORMS/DIR.ZPN/inner", "1,0\r\nA,0,0,0,0,0,0\r\n0");
  // Far beyond the size a form file may have: refused by its size.
  const std::string huge = root.Write("FORMS/HUGE.ZPN", "1,0\r\nA,0,0,0,0,0,0\r\n0");
  ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(MostItemFileBytes) + 1), 0);
  for (const char* name : {"FORMS\\PIPE.ZPN", "FORMS\\DIR.ZPN", "FORMS\\HUGE.ZPN"}) {
    int groups = -1;
    EXPECT_EQ(LoadFormDefinitions(root.Dir() + name, groups), FormsFileMissing) << name;
    EXPECT_EQ(groups, 0) << name;
  }
  ClearFormDefinitions();
}

TEST(LoadFormDefinitions, TextsAreTranslatedAtLoad) {
  TempRoot root;
  root.Write("FORMS/KORVADEL.ZPN",
             "1,1\r\nA,1,0,0,0,0,0\r\n1,1,Data,8,0,0,0,0,0,\"S\xa1,No\"\r\n1\r\n1,1,1,1,1,1,1,Propietaris,1\r\n");
  root.Write("LOCALE/KORVADEL.LNG",
             "Data,Data GL,Data OC,Fecha\r\n\"S\xa1,No\",\"Si,Non\",\"\xe0" "c,Non\",\"S\xa1,No ES\"\r\n"
             "Propietaris,Propietarios GL,Proprietaris,Propietarios\r\n");
  Session.RootDir = root.Dir();
  struct Case {
    std::string language;
    std::string prompt, choices, list;
  };
  const Case cases[] = {
      {"SPA", "Fecha", "S\xa1,No ES", "Propietarios"},
      {"GLG", "Data GL", "Si,Non", "Propietarios GL"},
      {"OCI", "Data OC", "\xe0" "c,Non", "Proprietaris"},
      {"CAT", "Data", "S\xa1,No", "Propietaris"},
  };
  for (const Case& c : cases) {
    Session.Language = c.language;
    int groups = 0;
    ASSERT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), FormsLoaded) << c.language;
    EXPECT_EQ(FieldPrompt[1][1], c.prompt) << c.language;
    EXPECT_EQ(FieldChoices[1][1], c.choices) << c.language;
    EXPECT_EQ(ListText[1], c.list) << c.language;
    EXPECT_EQ(FormKeys[1], "A") << c.language;  // key lists are never translated
  }
  Session = SessionValues{};
  ClearFormDefinitions();
}

TEST(SetFieldValue, FixedWidth) {
  TempRoot root;
  root.Write("FORMS/KORVADEL.ZPN", "1,2\r\nA,2,0,0,0,0,0\r\n1,1,P,4,0,0,0,0,0,\"\"\r\n2,1,Q,2,0,0,0,0,0,\"\"\r\n0");
  Session.RootDir = root.Dir();
  Session.Language = "CAT";
  int groups = 0;
  ASSERT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), FormsLoaded);
  struct Case {
    int16_t form, field;
    std::string text;
    std::string value1, value2;
  };
  const Case cases[] = {
      {1, 1, "9999", "9999", "  "},
      {1, 1, "1", "1   ", "  "},
      {1, 2, "12345", "1   ", "12"},
      {2, 1, "x", "1   ", "12"},  // no such form
      {1, 3, "x", "1   ", "12"},  // beyond the capacity
      {0, 1, "x", "1   ", "12"},
      {-1, -1, "x", "1   ", "12"},
  };
  for (const Case& c : cases) {
    SetFieldValue(c.form, c.field, c.text);
    EXPECT_EQ(FieldValue[1][1], c.value1) << c.form << "." << c.field << " \"" << c.text << "\"";
    EXPECT_EQ(FieldValue[1][2], c.value2) << c.form << "." << c.field << " \"" << c.text << "\"";
  }
  Session = SessionValues{};
  ClearFormDefinitions();
}

}  // namespace
