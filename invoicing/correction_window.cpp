#include "invoicing/correction_window.h"

#include <cstdio>
#include <string>

#include "base/codepage.h"
#include "base/text.h"
#include "console/keyboard.h"
#include "console/tell.h"
#include "formatting/settings.h"
#include "invoicing/register_texts.h"
#include "issuing/print_job.h"
#include "printing/pages.h"
#include "register/amend.h"
#include "screens/formview.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"

using namespace register_screen;

namespace {

constexpr int16_t kCorrectionForm = 3;
// The correction window's field that names the invoice (display only).
constexpr int16_t kInvoiceField = 6;

// text with "{t}" replaced by typed.
std::string WithTyped(std::string text, const std::string& typed) {
  const size_t at = text.find("{t}");
  if (at != std::string::npos) text.replace(at, 3, typed);
  return text;
}

// Euros as typed in the correction window: as ParseEuros takes them, or
// with the session's thousands characters before its decimal character
// ("1.119,48").
bool ParseTypedEuros(const std::string& typed, int64_t& centsOut) {
  const std::string text = Trim(typed);
  if (ParseEuros(text, centsOut)) return true;
  const FormatSettings& format = CurrentFormatSettings();
  const size_t decimal = text.rfind(format.decimalChar);
  const size_t thousands = text.rfind(format.thousandsChar);
  if (format.thousandsChar == format.decimalChar || thousands == std::string::npos ||
      (decimal != std::string::npos && decimal < thousands))
    return false;
  // Thousands characters only between groups of three digits.
  const std::string whole = text.substr(0, decimal == std::string::npos ? text.size() : decimal);
  for (size_t at = whole.find(format.thousandsChar); at != std::string::npos;
       at = whole.find(format.thousandsChar, at + 1)) {
    const size_t next = whole.find(format.thousandsChar, at + 1);
    if ((next == std::string::npos ? whole.size() : next) - at - 1 != 3 || at == 0) return false;
  }
  std::string plain;
  for (char c : text)
    if (c != format.thousandsChar) plain += c == format.decimalChar ? ',' : c;
  return ParseEuros(plain, centsOut);
}

// Cents as the correction window offers them: no thousands characters, the
// session's decimal comma or point, so that ParseEuros reads them back.
std::string TypedEuros(int64_t cents) {
  const char decimal = CurrentFormatSettings().decimalChar == '.' ? '.' : ',';
  char text[32];
  std::snprintf(text, sizeof text, "%lld%c%02lld", static_cast<long long>(cents / 100), decimal,
                static_cast<long long>(cents % 100));
  return text;
}

// The fee and expenses of e as they stand: its present base (after any
// corrective, presentBase) less the expenses its page billed, read from the figures
// archived with its run (none there: the whole base is fee).
void PresentAmounts(const RegisterEntry& e, int64_t base, int64_t& fees, int64_t& expenses) {
  expenses = 0;
  PrintablePage page;
  if (ReadArchivedPage(Session.RootDir, e, page).None()) {
    const size_t at = page.figures.find("\tSuplerts\t");
    if (at != std::string::npos) {
      const std::string value = page.figures.substr(at + 10, page.figures.find('\n', at) - at - 10);
      for (char c : value)
        if (c >= '0' && c <= '9') expenses = expenses * 10 + (c - '0');
      if (value.find('-') != std::string::npos || expenses > base) expenses = 0;
    }
  }
  fees = base - expenses;
}

// The correction window's check of a field as it is left: the message
// naming the field, or empty when it takes what was typed.
std::string CheckCorrectionField(int16_t field, const std::string& typed) {
  std::string text = Trim(typed);
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  int64_t cents = 0;
  switch (field) {
    case 1: return IsCorrectionType(text) ? std::string() : WithTyped(Text(Say::CorrectionTypeBad), Trim(typed));
    case 2: return text == "I" || text == "S" ? std::string() : WithTyped(Text(Say::CorrectionFormBad), Trim(typed));
    case 3:
    case 4:
      if (ParseTypedEuros(typed, cents) || (field == 4 && text.empty())) return std::string();
      return Text(field == 3 ? Say::FeeField : Say::ExpensesField) + WithTyped(Text(Say::NotAmount), Trim(typed));
    default: return std::string();
  }
}

}  // namespace

bool AskCorrection(const RegisterEntry& e, int64_t presentBase, Correction& correctionOut) {
  int64_t fees = 0, expenses = 0;
  PresentAmounts(e, presentBase, fees, expenses);
  SetFieldValueOf(kCorrectionForm, 1, "R1");
  SetFieldValueOf(kCorrectionForm, 2, "I");
  SetFieldValueOf(kCorrectionForm, 3, TypedEuros(fees));
  SetFieldValueOf(kCorrectionForm, 4, TypedEuros(expenses));
  SetFieldValueOf(kCorrectionForm, 5, std::string());
  if (FieldExists(kCorrectionForm, kInvoiceField))
    SetFieldValueOf(kCorrectionForm, kInvoiceField,
                    FixedWidth(Number(e) + "  " + ShownDate(e.date) + "  " + Text(Say::PresentBase) +
                                   Amount(fees + expenses) + "  " + Trim(e.recipientName),
                               static_cast<size_t>(FieldOf(kCorrectionForm, kInvoiceField).length)));
  // The window's own checks and help while it is open.
  HubHooks& hooks = Hooks();
  const HubHooks saved = hooks;
  hooks.fieldCheck = [](int16_t form, int16_t field, const std::string& typed) {
    return form == kCorrectionForm ? CheckCorrectionField(field, typed) : std::string();
  };
  hooks.formHelp = [](int16_t form) {
    if (form != kCorrectionForm) return false;
    TellUserAndWait(kMessageRow, Text(Say::CorrectionHelp));
    return true;
  };
  bool accepted = false;
  for (;;) {
    int16_t form = kCorrectionForm;
    int16_t key = 0;
    RunForm(form, 0, 0, key);
    if (key == KeyEsc) break;
    Correction c;
    c.type = Trim(FieldValueOf(kCorrectionForm, 1));
    for (char& ch : c.type) ch = static_cast<char>(ch == 'r' ? 'R' : ch);
    const std::string how = Trim(FieldValueOf(kCorrectionForm, 2));
    c.form = how == "S" || how == "s" ? 'S' : 'I';
    const std::string typedExpenses = Trim(FieldValueOf(kCorrectionForm, 4));
    // Each field was checked as it was left; one left with Esc half-way
    // is caught here, named as the window names it.
    std::string problem;
    for (int16_t field = 1; field <= 4 && problem.empty(); ++field)
      problem = CheckCorrectionField(field, FieldValueOf(kCorrectionForm, field));
    if (problem.empty() && (!ParseTypedEuros(FieldValueOf(kCorrectionForm, 3), c.fees) ||
                            !ParseTypedEuros(typedExpenses.empty() ? "0" : typedExpenses, c.expenses)))
      problem = Text(Say::BadCorrection);
    if (!problem.empty()) {
      Tell(problem);
      continue;
    }
    std::string cause;
    if (FieldExists(kCorrectionForm, 5)) cause = Utf8FromCp858(Trim(FieldValueOf(kCorrectionForm, 5)));
    c.cause = cause;
    const std::string question = Text(Say::ConfirmCorrective) + Number(e) + ": " + c.type + ", " +
                                 Text(c.form == 'S' ? Say::BySubstitution : Say::ByDifferences) + ", " +
                                 Text(Say::FeeWord) + Amount(c.fees) + ", " + Text(Say::ExpensesWord) +
                                 Amount(c.expenses) + "?";
    if (!Confirmed(question)) continue;  // back to the window, as typed
    correctionOut = c;
    accepted = true;
    break;
  }
  hooks = saved;
  return accepted;
}
