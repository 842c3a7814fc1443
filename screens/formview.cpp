// Bounds-checked access to the form definition tables.
#include "screens/formview.h"

#include "console/screen.h"
#include "console/guards.h"
#include "session/forms.h"

namespace {

// True when the tables hold form f with field slot k (any k up to the
// capacity, whether the form uses it or not).
bool SlotExists(int16_t f, int16_t k) {
  if (f < 1 || f > FormCount) return false;
  const size_t fi = static_cast<size_t>(f);
  if (fi >= FieldAttr.size() || fi >= FieldPrompt.size() || fi >= FieldChoices.size() ||
      fi >= FieldValue.size())
    return false;
  const size_t ki = static_cast<size_t>(k);
  return k >= 1 && ki < FieldAttr[fi].size() && ki < FieldPrompt[fi].size() &&
         ki < FieldChoices[fi].size() && ki < FieldValue[fi].size();
}

}  // namespace

int16_t FormCountOf() { return FormCount; }

bool FormExists(int16_t form) {
  const size_t fi = static_cast<size_t>(form);
  return form >= 1 && form <= FormCount && fi < FormKeys.size() && fi < FormFieldCount.size() &&
         fi < NextForm.size() && fi < FormWindow.size();
}

int16_t FormFieldCountOf(int16_t form) {
  if (!FormExists(form)) return 0;
  int16_t count = FormFieldCount[static_cast<size_t>(form)];
  // Never more fields than the tables really hold.
  while (count > 0 && !SlotExists(form, count)) --count;
  return count;
}

std::string FormKeysOf(int16_t form) {
  return FormExists(form) ? FormKeys[static_cast<size_t>(form)] : std::string();
}

int16_t NextFormOf(int16_t form) {
  if (!FormExists(form)) return 0;
  int16_t next = NextForm[static_cast<size_t>(form)];
  return FormExists(next) ? next : 0;
}

int16_t FormWindowOf(int16_t form, int element) {
  if (!FormExists(form) || element < static_cast<int>(FormWindowSlot::Top) ||
      element > static_cast<int>(FormWindowSlot::Right))
    return 0;
  return FormWindow[static_cast<size_t>(form)][static_cast<size_t>(element)];
}

bool FieldExists(int16_t form, int16_t field) {
  return FormExists(form) && field >= 1 && field <= FormFieldCountOf(form);
}

FieldView FieldOf(int16_t form, int16_t field) {
  FieldView v;
  if (!FieldExists(form, field)) return v;
  const size_t fi = static_cast<size_t>(form);
  const size_t ki = static_cast<size_t>(field);
  const auto& a = FieldAttr[fi][ki];
  using namespace FieldAttrSlot;
  v.row = a[Row];
  v.col = a[Column];
  v.length = a[Length] < 0 ? int16_t{0} : a[Length];
  v.lineWidth = a[LineWidth] < 0 ? int16_t{0} : a[LineWidth];
  v.trailing = a[Trailing] < 0 ? int16_t{0} : a[Trailing];
  v.flags = a[Flags];
  v.type = a[Type];
  v.list = a[List];
  v.prompt = FieldPrompt[fi][ki];
  v.choices = FieldChoices[fi][ki];
  return v;
}

std::string FieldValueOf(int16_t form, int16_t field) {
  if (!FieldExists(form, field)) return std::string();
  return FieldValue[static_cast<size_t>(form)][static_cast<size_t>(field)];
}

void SetFieldValueOf(int16_t form, int16_t field, const std::string& value) {
  if (FieldExists(form, field)) SetFieldValue(form, field, value);
}

void WriteAbsolute(int row, int col, const std::string& text) {
  ScopedCursorPosition cursor;
  LocateAbsolute(row, col);
  WriteText(text);
}
