// Loading the form definition file into the process-wide form tables.
#include "session/forms.h"

#include <algorithm>

#include "session/items.h"
#include "session/language.h"
#include "session/session.h"
#include "base/files.h"
#include "base/paths.h"

int16_t FormCount = 0;
int16_t FieldCapacity = 0;
int16_t ListCount = 0;
std::vector<std::string> FormKeys;
std::vector<int16_t> FormFieldCount;
std::vector<int16_t> NextForm;
std::vector<FormWindowSlots> FormWindow;
std::vector<std::vector<FieldAttrSlots>> FieldAttr;
std::vector<std::vector<std::string>> FieldPrompt;
std::vector<std::vector<std::string>> FieldChoices;
std::vector<std::vector<std::string>> FieldValue;
std::vector<ListAttrSlots> ListAttr;
std::vector<std::string> ListText;

namespace {

// Guards memory against a damaged header: real files hold a few forms of a
// few dozen fields.
constexpr long kMostFieldSlots = 65536;

void SizeFormTables(int16_t forms, int16_t capacity) {
  const size_t f = static_cast<size_t>(forms) + 1;
  const size_t n = static_cast<size_t>(capacity) + 1;
  FormCount = forms;
  FieldCapacity = capacity;
  FormKeys.assign(f, std::string());
  FormFieldCount.assign(f, 0);
  NextForm.assign(f, 0);
  FormWindow.assign(f, FormWindowSlots{});
  FieldAttr.assign(f, std::vector<FieldAttrSlots>(n, FieldAttrSlots{}));
  FieldPrompt.assign(f, std::vector<std::string>(n));
  FieldChoices.assign(f, std::vector<std::string>(n));
  FieldValue.assign(f, std::vector<std::string>(n));
}

void SizeListTables(int16_t lists) {
  ListCount = lists;
  ListAttr.assign(static_cast<size_t>(lists) + 1, ListAttrSlots{});
  ListText.assign(static_cast<size_t>(lists) + 1, std::string());
}

// One field record into a scratch copy; false when the file ends first.
struct FieldRecord {
  FieldAttrSlots attr{};
  std::string prompt;
  std::string choices;
};

bool ReadField(ItemReader& reader, FieldRecord& field) {
  using namespace FieldAttrSlot;
  return reader.NextNumber(field.attr[Row]) && reader.NextNumber(field.attr[Column]) &&
         reader.Next(field.prompt) && reader.NextNumber(field.attr[Length]) &&
         reader.NextNumber(field.attr[LineWidth]) && reader.NextNumber(field.attr[Trailing]) &&
         reader.NextNumber(field.attr[Flags]) && reader.NextNumber(field.attr[Type]) &&
         reader.NextNumber(field.attr[List]) && reader.Next(field.choices);
}

}  // namespace

std::string FormDefinitionPath() {
  return Session.RootDir + "FORMS\\" + ModuleName + ".ZPN";
}

void ClearFormDefinitions() {
  FormCount = 0;
  FieldCapacity = 0;
  FormKeys.assign(1, std::string());
  FormFieldCount.assign(1, 0);
  NextForm.assign(1, 0);
  FormWindow.assign(1, FormWindowSlots{});
  FieldAttr.assign(1, std::vector<FieldAttrSlots>(1, FieldAttrSlots{}));
  FieldPrompt.assign(1, std::vector<std::string>(1));
  FieldChoices.assign(1, std::vector<std::string>(1));
  FieldValue.assign(1, std::vector<std::string>(1));
  SizeListTables(0);
}

int16_t LoadFormDefinitions(const std::string& file, int& groupsRead) {
  groupsRead = 0;
  ClearFormDefinitions();
  std::string content;
  if (ReadRegularFile(HostPath(file), content, MostItemFileBytes) != ReadResult::Ok) return FormsFileMissing;
  ItemReader reader(std::move(content));

  reader.SkipComments();
  int16_t forms = 0;
  int16_t capacity = 0;
  if (!reader.NextNumber(forms) || !reader.NextNumber(capacity)) return FormsFileShort;
  if (forms < 1 || capacity < 0 || (forms + 1L) * (capacity + 1L) > kMostFieldSlots) {
    return FormsBadHeader;
  }
  SizeFormTables(forms, capacity);
  ++groupsRead;

  for (size_t f = 1; f <= static_cast<size_t>(forms); ++f) {
    reader.SkipComments();
    std::string keys;
    int16_t fieldCount = 0;
    int16_t next = 0;
    FormWindowSlots window{};
    if (!reader.Next(keys) || !reader.NextNumber(fieldCount) || !reader.NextNumber(next) ||
        !reader.NextNumber(window[FormWindowSlot::Top]) || !reader.NextNumber(window[FormWindowSlot::Left]) ||
        !reader.NextNumber(window[FormWindowSlot::Bottom]) || !reader.NextNumber(window[FormWindowSlot::Right])) {
      return FormsFileShort;
    }
    if (fieldCount < 0 || fieldCount > capacity) return FormsBadFieldCount;
    std::vector<FieldRecord> fields(static_cast<size_t>(fieldCount));
    for (FieldRecord& field : fields) {
      if (!ReadField(reader, field)) return FormsFileShort;
    }
    // The form is whole: into the tables, texts translated.
    FormKeys[f] = keys;
    FormFieldCount[f] = fieldCount;
    NextForm[f] = next;
    FormWindow[f] = window;
    for (size_t k = 1; k <= fields.size(); ++k) {
      const FieldRecord& field = fields[k - 1];
      FieldAttr[f][k] = field.attr;
      FieldPrompt[f][k] = Translate(field.prompt);
      FieldChoices[f][k] = Translate(field.choices);
      FieldValue[f][k] = std::string(static_cast<size_t>(std::max<int16_t>(field.attr[FieldAttrSlot::Length], 0)), ' ');
    }
    ++groupsRead;
  }

  reader.SkipComments();
  int16_t lists = 0;
  if (!reader.NextNumber(lists)) return FormsFileShort;
  if (lists < 0) lists = 0;
  ++groupsRead;
  SizeListTables(lists);
  for (size_t c = 1; c <= static_cast<size_t>(lists); ++c) {
    reader.SkipComments();
    // The slots before the text in file order, FileId to FilterForm.
    ListAttrSlots attr{};
    std::string text;
    bool whole = true;
    for (size_t i = ListAttrSlot::FileId; i <= ListAttrSlot::FilterForm && whole; ++i) {
      whole = reader.NextNumber(attr[i]);
    }
    whole = whole && reader.Next(text) && reader.NextNumber(attr[ListAttrSlot::ChainedList]);
    if (!whole) {
      ListCount = static_cast<int16_t>(c - 1);
      ListAttr.resize(c);
      ListText.resize(c);
      return FormsFileShort;
    }
    ListAttr[c] = attr;
    ListText[c] = Translate(text);
    ++groupsRead;
  }
  return FormsLoaded;
}

void SetFieldValue(int16_t f, int16_t k, const std::string& text) {
  if (f < 1 || f > FormCount || k < 1 || k > FieldCapacity) return;
  const size_t fi = static_cast<size_t>(f);
  const size_t ki = static_cast<size_t>(k);
  if (fi >= FieldValue.size() || ki >= FieldValue[fi].size()) return;
  std::string value = text;
  value.resize(FieldValue[fi][ki].size(), ' ');
  FieldValue[fi][ki] = value;
}
