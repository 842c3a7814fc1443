// The installation data of a suite root: the form file against what the
// screens and the run need of it, its texts against the language file, the
// help pages' record form, the settings and the sample data against the
// field layouts of the data files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "recman/layout.h"
#include "session/forms.h"
#include "base/ini.h"
#include "session/session.h"
#include "base/text.h"
#include "suite/zepmenu/launcher.h"

namespace {

namespace fs = std::filesystem;

const std::string kInstall = std::string(KORVADEL_SOURCE_DIR) + "/install/";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Reader of the item syntax of the form and language files, as the module
// reads it: comma-separated items across lines, texts in double quotes,
// comment lines ("'" first) only where a group starts.
class Items {
 public:
  explicit Items(const std::string& text) : lines_(Lines(text)) {}

  void StartGroup() {
    if (col_ != 0) NextLine();
    while (row_ < lines_.size()) {
      size_t first = lines_[row_].find_first_not_of(' ');
      if (first != std::string::npos && lines_[row_][first] != '\'') break;
      NextLine();
    }
  }
  bool Text(std::string& item) {
    while (row_ < lines_.size()) {
      const std::string& line = lines_[row_];
      while (col_ < line.size() && line[col_] == ' ') ++col_;
      if (col_ < line.size()) break;
      NextLine();
    }
    if (row_ >= lines_.size()) return false;
    const std::string& line = lines_[row_];
    if (line[col_] == '"') {
      size_t close = line.find('"', col_ + 1);
      if (close == std::string::npos) return false;
      item = line.substr(col_ + 1, close - col_ - 1);
      col_ = close + 1;
      while (col_ < line.size() && line[col_] == ' ') ++col_;
    } else {
      size_t end = line.find(',', col_);
      item = line.substr(col_, end == std::string::npos ? std::string::npos : end - col_);
      col_ = end == std::string::npos ? line.size() : end;
      while (!item.empty() && item.back() == ' ') item.pop_back();
    }
    if (col_ < line.size() && line[col_] == ',') ++col_;
    if (col_ >= line.size()) NextLine();
    return true;
  }
  // A whole number item; false for anything else, so that a shifted item
  // shows up at once.
  bool Number(int& value) {
    std::string item;
    if (!Text(item) || item.empty()) return false;
    size_t used = 0;
    try {
      value = std::stoi(item, &used);
    } catch (...) {
      return false;
    }
    return used == item.size();
  }
  bool AtEnd() {
    StartGroup();
    return row_ >= lines_.size();
  }

 private:
  void NextLine() {
    ++row_;
    col_ = 0;
  }
  std::vector<std::string> lines_;
  size_t row_ = 0, col_ = 0;
};

struct Field {
  int attr[8] = {};
  std::string prompt, choices;
};
struct Form {
  std::string keys;
  int next = 0, window[4] = {};
  std::vector<Field> fields;
};
struct List {
  int attr[8] = {};
  std::string text;
};

// Reads the form file; fails the test with the place where it went wrong.
void LoadForms(std::vector<Form>& forms, std::vector<List>& lists) {
  Items in(ReadFile(kInstall + "FORMS/KORVADEL.ZPN"));
  int formCount = 0, capacity = 0;
  in.StartGroup();
  ASSERT_TRUE(in.Number(formCount) && in.Number(capacity));
  ASSERT_GE(formCount, 2);
  for (int f = 1; f <= formCount; ++f) {
    Form form;
    int count = 0;
    in.StartGroup();
    ASSERT_TRUE(in.Text(form.keys) && in.Number(count) && in.Number(form.next)) << "form " << f;
    for (int& w : form.window) ASSERT_TRUE(in.Number(w)) << "form " << f;
    ASSERT_LE(count, capacity) << "form " << f;
    for (int k = 1; k <= count; ++k) {
      Field field;
      ASSERT_TRUE(in.Number(field.attr[0]) && in.Number(field.attr[1]) && in.Text(field.prompt))
          << "form " << f << " field " << k;
      for (int a = 2; a < 8; ++a) ASSERT_TRUE(in.Number(field.attr[a])) << "form " << f << " field " << k;
      ASSERT_TRUE(in.Text(field.choices)) << "form " << f << " field " << k;
      form.fields.push_back(field);
    }
    forms.push_back(form);
  }
  int listCount = 0;
  in.StartGroup();
  ASSERT_TRUE(in.Number(listCount));
  for (int c = 1; c <= listCount; ++c) {
    List list;
    in.StartGroup();
    for (int a = 0; a < 7; ++a) ASSERT_TRUE(in.Number(list.attr[a])) << "list " << c;
    ASSERT_TRUE(in.Text(list.text) && in.Number(list.attr[7])) << "list " << c;
    lists.push_back(list);
  }
  EXPECT_TRUE(in.AtEnd()) << "items after the last list";
}

// Language file: Catalan key -> translations (Galician, Occitan, Spanish).
std::map<std::string, std::vector<std::string>> LoadLanguageFile() {
  std::map<std::string, std::vector<std::string>> records;
  Items in(ReadFile(kInstall + "LOCALE/KORVADEL.LNG"));
  std::string key;
  while (in.Text(key)) {
    std::vector<std::string> translations(3);
    for (std::string& t : translations) EXPECT_TRUE(in.Text(t)) << "record cut short: " << key;
    EXPECT_EQ(records.count(key), 0u) << "second record for " << key;
    records.emplace(key, translations);
  }
  return records;
}

// The text in each of the four languages, Catalan first.
std::vector<std::string> AllLanguages(const std::map<std::string, std::vector<std::string>>& lng,
                                      const std::string& text) {
  std::vector<std::string> all{text};
  auto it = lng.find(text);
  if (it != lng.end()) all.insert(all.end(), it->second.begin(), it->second.end());
  return all;
}

// The values of a choice list "|v,description|v,description".
std::vector<std::string> ChoiceValues(const std::string& choices) {
  std::vector<std::string> values;
  for (size_t bar = choices.find('|'); bar != std::string::npos; bar = choices.find('|', bar + 1)) {
    values.push_back(choices.substr(bar + 1, choices.find(',', bar) - bar - 1));
  }
  return values;
}

// Words the invoice prints through the language file.
const char* const kInvoiceWords[] = {"FACTURA", "FINCA", "HONORARIS ADMINISTRACI\xe0",
                                     "SUPLERTS", "RETENCI\xe0 HONORARIS "};

TEST(InstallForms, FieldsTheRunAndTheScreensNeed) {
  std::vector<Form> forms;
  std::vector<List> lists;
  ASSERT_NO_FATAL_FAILURE(LoadForms(forms, lists));
  // form, field, shortest length, type, list opened by F4
  const int cases[][5] = {
      {1, 1, 8, 1, 0}, {1, 2, 4, 2, 1}, {1, 3, 4, 2, 1}, {1, 4, 3, 2, 2},
      {1, 5, 3, 2, 2}, {1, 6, 8, 2, 0}, {2, 1, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("form " + std::to_string(c[0]) + " field " + std::to_string(c[1]));
    ASSERT_GE(forms[c[0] - 1].fields.size(), static_cast<size_t>(c[1]));
    const Field& field = forms[c[0] - 1].fields[c[1] - 1];
    EXPECT_GE(field.attr[2], c[2]);
    EXPECT_EQ(field.attr[6], c[3]);
    EXPECT_EQ(field.attr[7], c[4]);
    EXPECT_EQ(field.attr[5] & 4, 0) << "the field must be editable";
  }
  EXPECT_EQ(ChoiceValues(forms[1].fields[0].choices), (std::vector<std::string>{"N", "S"}));
  // list, file id, longest line (code, a blank, 30 characters of name)
  const int listCases[][3] = {{1, 505, 35}, {2, 506, 34}};
  for (const auto& c : listCases) {
    SCOPED_TRACE("list " + std::to_string(c[0]));
    ASSERT_GE(lists.size(), static_cast<size_t>(c[0]));
    const List& list = lists[c[0] - 1];
    EXPECT_EQ(list.attr[0], c[1]);
    EXPECT_EQ(list.attr[1], 0) << "key 0";
    EXPECT_GE(list.attr[5] - list.attr[3] - 1, c[2]) << "lines fit the window";
    EXPECT_GE(list.attr[2], 2);
    EXPECT_LE(list.attr[4], 25);
    EXPECT_LE(list.attr[5], 80);
  }
}

TEST(InstallForms, KeyListsLetTheFormsWorkAsIntended) {
  std::vector<Form> forms;
  std::vector<List> lists;
  ASSERT_NO_FATAL_FAILURE(LoadForms(forms, lists));
  // form, key code, whether it must end a field edit. Alt+X and Alt+C come
  // back from the calculator and calendar and would leave the form; End
  // would turn every Enter into leaving the form.
  const struct {
    int form;
    std::string key;
    bool present;
  } cases[] = {
      {1, "d", true},     {1, "1b", true},     {1, "3e00", true},  {1, "4800", true},
      {1, "5000", true},  {1, "2d00", false},  {1, "2e00", false}, {1, "4f00", false},
      {2, "d", true},     {2, "1b", true},     {2, "2d00", false}, {2, "2e00", false},
      {2, "4f00", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("form " + std::to_string(c.form) + " key " + c.key);
    std::set<std::string> keys;
    std::istringstream in(forms[c.form - 1].keys);
    for (std::string k; std::getline(in, k, ',');) keys.insert(k);
    EXPECT_EQ(keys.count(c.key) == 1, c.present);
  }
}

TEST(InstallForms, EveryTextHasFourTranslationsThatFitTheScreen) {
  std::vector<Form> forms;
  std::vector<List> lists;
  ASSERT_NO_FATAL_FAILURE(LoadForms(forms, lists));
  const auto lng = LoadLanguageFile();
  for (size_t f = 0; f < forms.size(); ++f) {
    const Form& form = forms[f];
    const int insideRows = form.window[2] - form.window[0] - 1;
    const int insideCols = form.window[3] - form.window[1] - 1;
    EXPECT_GE(form.window[0], 2) << "row 1 holds the session title";
    EXPECT_LE(form.window[2], 25);
    EXPECT_GE(form.window[1], 1);
    EXPECT_LE(form.window[3], 80);
    for (size_t k = 0; k < form.fields.size(); ++k) {
      const Field& field = form.fields[k];
      SCOPED_TRACE("form " + std::to_string(f + 1) + " field " + std::to_string(k + 1) + " " +
                   field.prompt);
      ASSERT_EQ(lng.count(field.prompt), 1u);
      EXPECT_GE(field.attr[0], 1);
      EXPECT_LE(field.attr[0], insideRows);
      // A date is shown as dd/mm/yyyy; a choice field as its description
      // between two markers.
      // A field of more lines than one is shown its line width wide.
      int shown = (field.attr[3] > 0 ? std::min(field.attr[2], field.attr[3]) : field.attr[2]) + field.attr[4];
      if (field.attr[6] == 1) {
        EXPECT_GE(shown, 10);
      }
      for (const std::string& prompt : AllLanguages(lng, field.prompt)) {
        EXPECT_FALSE(prompt.empty());
        EXPECT_LE(field.attr[1] + static_cast<int>(prompt.size()) + shown - 1, insideCols) << prompt;
        if (field.attr[5] & 4) continue;
        EXPECT_EQ(prompt.size(), field.prompt.size()) << "values stay aligned: " << prompt;
      }
      if (field.choices.empty()) continue;
      ASSERT_EQ(lng.count(field.choices), 1u) << field.choices;
      for (const std::string& choices : AllLanguages(lng, field.choices)) {
        EXPECT_EQ(ChoiceValues(choices), ChoiceValues(field.choices)) << choices;
        size_t longest = 0;
        for (size_t comma = choices.find(','); comma != std::string::npos;
             comma = choices.find(',', comma + 1)) {
          longest = std::max(longest, choices.find('|', comma) == std::string::npos
                                          ? choices.size() - comma - 1
                                          : choices.find('|', comma) - comma - 1);
        }
        EXPECT_LE(longest + 1, static_cast<size_t>(shown)) << choices;
      }
    }
  }
  for (const List& list : lists) {
    SCOPED_TRACE(list.text);
    ASSERT_EQ(lng.count(list.text), 1u);
    for (const std::string& title : AllLanguages(lng, list.text)) {
      EXPECT_EQ(title.find(' '), std::string::npos) << "a blank would draw as frame: " << title;
      EXPECT_LE(title.size(), static_cast<size_t>(list.attr[5] - list.attr[3] - 1)) << title;
    }
  }
  for (const char* word : kInvoiceWords) {
    SCOPED_TRACE(word);
    ASSERT_EQ(lng.count(word), 1u);
    for (const std::string& t : AllLanguages(lng, word)) {
      EXPECT_FALSE(t.empty());
      EXPECT_EQ(t.back() == ' ', std::string(word).back() == ' ') << "[" << t << "]";
    }
  }
  for (const auto& [key, translations] : lng) {
    for (const std::string& t : translations) EXPECT_FALSE(t.empty()) << key;
  }
}

// The module's own loader reads the file whole in every language, each text
// comes back translated, and the start-up defaults fit their fields.
TEST(InstallForms, TheModuleLoadsThemInEveryLanguage) {
  std::vector<Form> forms;
  std::vector<List> lists;
  ASSERT_NO_FATAL_FAILURE(LoadForms(forms, lists));
  const auto lng = LoadLanguageFile();
  const SessionValues saved = Session;
  Session.RootDir = kInstall;
  const char* const languages[] = {"CAT", "GLG", "OCI", "SPA"};  // the file's item order
  for (size_t language = 0; language < 4; ++language) {
    SCOPED_TRACE(languages[language]);
    Session.Language = languages[language];
    ClearFormDefinitions();
    int groups = 0;
    ASSERT_EQ(LoadFormDefinitions(FormDefinitionPath(), groups), FormsLoaded);
    ASSERT_EQ(FormCount, static_cast<int16_t>(forms.size()));
    ASSERT_EQ(ListCount, static_cast<int16_t>(lists.size()));
    for (size_t f = 0; f < forms.size(); ++f) {
      ASSERT_EQ(FormFieldCount[f + 1], static_cast<int16_t>(forms[f].fields.size()));
      for (size_t k = 0; k < forms[f].fields.size(); ++k) {
        EXPECT_EQ(FieldPrompt[f + 1][k + 1], AllLanguages(lng, forms[f].fields[k].prompt)[language]);
      }
    }
    for (size_t c = 0; c < lists.size(); ++c) {
      EXPECT_EQ(ListText[c + 1], AllLanguages(lng, lists[c].text)[language]);
    }
    const std::pair<int16_t, std::string> defaults[] = {
        {1, "081226"}, {2, "1"}, {3, "9999"}, {4, "1"}, {5, "999"}, {6, "12345678"}};
    for (const auto& [field, value] : defaults) {
      SetFieldValue(1, field, value);
      EXPECT_EQ(FieldValue[1][field].substr(0, value.size()), value) << "field " << field;
    }
  }
  ClearFormDefinitions();
  Session = saved;
}

// Code page 850 files must not hold UTF-8 sequences (Ã, Â followed by a
// continuation byte would be the sign of a file saved in the wrong code).
bool LooksLikeUtf8(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    unsigned char a = text[i], b = text[i + 1];
    if ((a == 0xC3 || a == 0xC2) && b >= 0x80 && b <= 0xBF) return true;
  }
  return false;
}

TEST(InstallFiles, TextFilesAreCodePage850WithCrLf) {
  for (const char* file : {"Tarn.ini", "Productor.ini", "FORMS/KORVADEL.ZPN", "LOCALE/KORVADEL.LNG"}) {
    SCOPED_TRACE(file);
    const std::string text = ReadFile(kInstall + file);
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(LooksLikeUtf8(text));
    size_t lf = 0, crlf = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\n') continue;
      ++lf;
      if (i > 0 && text[i - 1] == '\r') ++crlf;
    }
    EXPECT_EQ(lf, crlf);
  }
}

TEST(InstallFiles, HelpPagesAreFixedRecordsOfTheScreenWidth) {
  for (const char* key : {SessionMenuName, "ZARVISEL"}) {
    SCOPED_TRACE(key);
    const std::string text = ReadFile(kInstall + "AJUDA/" + std::string(key) + ".HLP");
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(LooksLikeUtf8(text));
    ASSERT_EQ(text.size() % 80, 0u);
    for (size_t start = 0; start < text.size(); start += 80) {
      const std::string record = text.substr(start, 80);
      SCOPED_TRACE("line " + std::to_string(start / 80 + 1));
      EXPECT_EQ(record.substr(78), "\r\n");
      // The viewer writes up to 76 characters that are not attribute bytes:
      // the line end must lie beyond them, and the text within them.
      size_t controls = 0, visible = 0, lastText = 0;
      for (size_t i = 0; i < 78; ++i) {
        unsigned char c = record[i];
        if (c == 0x1E || c == 0x1F || c == 0x10) {
          ++controls;
        } else {
          ++visible;
          if (c != ' ') lastText = visible;
        }
      }
      EXPECT_LE(controls, 2u);
      EXPECT_LE(lastText, 76u);
    }
    const std::string html = ReadFile(kInstall + "AJUDA/" + std::string(key) + ".HTM");
    EXPECT_NE(html.find("<title>"), std::string::npos);
    EXPECT_NE(html.find("charset=\"utf-8\""), std::string::npos);
  }
}

TEST(InstallFiles, SettingsGiveTwoTaxClassesAndANaturalPersonIssuer) {
  const std::string tarn = kInstall + "Tarn.ini";
  for (const char* section : {"Iva0", "Iva1"}) {
    EXPECT_GT(NumericValue(IniRead(tarn, section, "Honoraris")), 0.0) << section;
    EXPECT_GT(NumericValue(IniRead(tarn, section, "Suplerts")), 0.0) << section;
  }
  EXPECT_NE(IniRead(tarn, "Iva0", "Serie"), IniRead(tarn, "Iva1", "Serie"));
  for (const char* key : {"Nom", "Linia2", "Linia3", "Linia4", "Linia5", "NomAlternatiu", "NIF",
                          "Poblacio"}) {
    EXPECT_LE(IniRead(tarn, "Emissor", key).size(), 35u) << key;
  }
  // Withholding needs a natural person: eight digits and the check letter.
  const std::string nif = IniRead(tarn, "Emissor", "NIF");
  ASSERT_EQ(nif.size(), 9u);
  EXPECT_EQ(nif[8], "TRWAGMYFPDXBNJZSQVHLCKE"[std::stol(nif.substr(0, 8)) % 23]);
}

// --- Sample data against the field layouts --------------------------------

// The rows of a sample CSV file, header first, as the import tool reads them.
std::vector<std::vector<std::string>> LoadCsv(const std::string& name) {
  std::vector<CsvRow> rows;
  std::string error;
  EXPECT_TRUE(ParseCsv(ReadFile(kInstall + "data/" + name + ".csv"), rows, error)) << error;
  std::vector<std::vector<std::string>> cells;
  for (const CsvRow& row : rows) cells.push_back(row.cells);
  return cells;
}

TEST(InstallData, EveryCsvCellImportsIntoItsLayoutField) {
  for (const char* name : {"PropietV", "FinquesV", "DepartaV", "CobramV", "CorreuV", "MandatV"}) {
    SCOPED_TRACE(name);
    std::vector<LayoutField> layout;
    std::string error;
    ASSERT_TRUE(ParseFieldLayout(ReadFile(kInstall + "ddf/" + name + ".layout"), layout, error))
        << error;
    const auto rows = LoadCsv(name);
    ASSERT_GE(rows.size(), 2u);
    std::vector<const LayoutField*> columns;
    for (const std::string& column : rows[0]) {
      const LayoutField* field = nullptr;
      for (const LayoutField& f : layout) {
        if (f.name == column) field = &f;
      }
      ASSERT_NE(field, nullptr) << "no field " << column;
      columns.push_back(field);
    }
    std::vector<uint8_t> record(512);
    for (size_t r = 1; r < rows.size(); ++r) {
      ASSERT_EQ(rows[r].size(), columns.size()) << "row " << r + 1;
      for (size_t c = 0; c < columns.size(); ++c) {
        // Text cells must fit: the import would cut them silently.
        if (columns[c]->type == FieldType::Text) {
          std::string cp850;
          ASSERT_TRUE(Utf8ToCp850(rows[r][c], cp850)) << rows[r][c];
          EXPECT_LE(cp850.size(), columns[c]->width) << "row " << r + 1 << " " << rows[r][c];
        }
        EXPECT_TRUE(CellToField(*columns[c], rows[r][c], record.data(), error))
            << "row " << r + 1 << " " << columns[c]->name << " [" << rows[r][c] << "]: " << error;
      }
    }
  }
}

TEST(InstallData, LinksUnitsAndReceiptsPointAtExistingRecords) {
  std::set<std::string> properties, units, receiptKeys;
  for (size_t r = 1; const auto& row : LoadCsv("FinquesV")) {
    if (r++ > 1) properties.insert(row[0]);
  }
  std::map<std::string, int> owners;
  const auto owners_csv = LoadCsv("PropietV");
  for (size_t r = 1; r < owners_csv.size(); ++r) {
    const auto& row = owners_csv[r];
    int links = 0;
    for (size_t c = 0; c < owners_csv[0].size(); ++c) {
      const std::string& column = owners_csv[0][c];
      if (column.find("Property") == std::string::npos || std::stoi(row[c]) == 0) continue;
      EXPECT_EQ(properties.count(row[c]), 1u) << "owner " << row[0] << " links " << row[c];
      EXPECT_TRUE(row[c + 1] == "0" || row[c + 1] == "1") << "tax class of owner " << row[0];
      ++owners[row[c]];
      ++links;
    }
    EXPECT_GE(links, 1) << "owner " << row[0];
  }
  for (const std::string& p : properties) EXPECT_GE(owners[p], 1) << "property " << p << " has no owner";
  std::set<std::string> ownerCodes;
  for (size_t r = 1; r < owners_csv.size(); ++r) ownerCodes.insert(owners_csv[r][0]);
  for (size_t r = 1; const auto& row : LoadCsv("CorreuV")) {
    if (r++ > 1) {
      EXPECT_EQ(ownerCodes.count(row[0]), 1u) << "addresses of owner " << row[0];
    }
  }
  for (size_t r = 1; const auto& row : LoadCsv("MandatV")) {
    if (r++ > 1) {
      EXPECT_EQ(ownerCodes.count(row[0]), 1u) << "mandate of owner " << row[0];
    }
  }
  for (size_t r = 1; const auto& row : LoadCsv("DepartaV")) {
    if (r++ == 1) continue;
    EXPECT_EQ(properties.count(row[0].substr(0, 4)), 1u) << "unit " << row[0];
    EXPECT_TRUE(units.insert(row[0]).second) << "unit twice: " << row[0];
  }
  for (size_t r = 1; const auto& row : LoadCsv("CobramV")) {
    if (r++ == 1) continue;
    EXPECT_EQ(units.count(row[0]), 1u) << "receipt of unit " << row[0];
    EXPECT_TRUE(receiptKeys.insert(row[0] + row[1]).second) << "two receipts " << row[0] << " " << row[1];
    EXPECT_LE(row[1], std::string("20261208")) << "receipt after today";
  }
}

}  // namespace
