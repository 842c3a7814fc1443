#include "invoicing/run_form.h"

#include <array>
#include <map>
#include <set>

#include "base/text.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/picture.h"
#include "invoicing/form_rules.h"
#include "invoicing/run_numbering.h"
#include "invoicing/sendmode.h"

#include "register/agency.h"
#include "register/amend.h"
#include "register/taxid.h"
#include "screens/formview.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"

namespace {

constexpr int16_t ParameterForm = 1;
// The form's field that holds the first invoice number.
constexpr int16_t NumberField = 6;

// The backlog's line under the parameter form, drawn each time the form is
// shown.
constexpr int kSendingBacklogRow = 24;

void ShowSendingBacklog() {
  if (!SendingModeOn(Session.RootDir)) return;
  WriteAbsolute(kSendingBacklogRow, 1, FixedWidth(SendingBacklogText(), 79));
}

// Value k of form 1, or the empty text when the tables lack it.
std::string FormValue(int16_t k) {
  if (ParameterForm >= static_cast<int16_t>(FieldValue.size())) return "";
  const std::vector<std::string>& values = FieldValue[ParameterForm];
  return k < static_cast<int16_t>(values.size()) ? values[static_cast<size_t>(k)] : std::string();
}

// The first items of a list, and how many more there are: a window above
// the confirmation must leave it room.
class ShortList {
 public:
  void Add(const std::string& item) {
    if (++count_ <= kShown) text_ += (text_.empty() ? "" : ", ") + item;
  }
  [[nodiscard]] std::string Text() const {
    return count_ <= kShown ? text_ : text_ + " (+" + std::to_string(count_ - kShown) + ")";
  }

 private:
  static constexpr size_t kShown = 6;
  std::string text_;
  size_t count_ = 0;
};

// The links of the pass (packed owner and property codes) the register
// has billed for the billing period that ends in the pass's month, whatever
// the date: an invoice of that month of the same owner and property that no
// cancellation or corrective invoice has released. Each shown with the
// register's invoice: number, date and total.
void LinksBilledForPeriod(RunRegister& reg, const std::vector<IssuedInvoice>& issued, std::set<std::string>& linksOut,
                          std::string& shownOut) {
  std::vector<RegisterEntry> chain;
  if (issued.empty() || reg.Ready() != 0 || reg.Get().ReadAll(chain) != 0) return;
  const std::map<InvoiceKey, InvoiceState> states = InvoiceStates(chain);
  const std::string month = KeyDigits(issued.front().invoiceDate).substr(0, 6);
  // The month's standing invoices by link, the first in the register's
  // order: one walk of the register, whatever the pass's size.
  std::map<std::string, const RegisterEntry*> billed;
  for (const RegisterEntry& e : chain) {
    if (e.IsCancellation() || e.IsCorrective() || e.date.compare(0, 6, month) != 0) continue;
    const auto state = states.find({e.series, e.number});
    if (state == states.end() || state->second.kind != InvoiceState::Kind::Issued || state->second.corrections != 0)
      continue;
    billed.emplace(e.ownerCode + e.propertyCode, &e);
  }
  ShortList list;
  for (const IssuedInvoice& invoice : issued) {
    const std::string link = invoice.ownerCode + invoice.propertyCode;
    const auto found = billed.find(link);
    if (found == billed.end() || !linksOut.insert(link).second) continue;
    const RegisterEntry& e = *found->second;
    // Owner and property as the form takes them: four digits and three.
    const std::string property = KeyDigits(invoice.propertyCode);
    list.Add(KeyDigits(invoice.ownerCode) + "/" + property.substr(property.size() > 3 ? property.size() - 3 : 0) +
             " " + PrintedInvoiceNumber(e.series, e.number) + " " + ShownDate(e.date) + " " +
             Trim(FormatAmount("Z,ZZZ,ZZZ,ZZ9-", static_cast<double>(e.total), "E")));
  }
  shownOut = list.Text();
}

// The invoices of the pass whose recipient's NIF fails its control
// character (registered as written if the user goes on), as printed with
// the owner's name. Those naming no recipient at all were left out.
std::string InvoicesWithoutRecipientId(const std::vector<IssuedInvoice>& issued) {
  ShortList list;
  for (const IssuedInvoice& invoice : issued) {
    if (ClassifyRecipientTaxId(invoice.recipientTaxId).Usable() &&
        ClassifyRecipientTaxId(invoice.recipientTaxId).kind != RecipientIdKind::NifAsWritten)
      continue;
    list.Add(PrintedInvoiceNumber(invoice.series, invoice.number) + " " + Trim(invoice.recipientName));
  }
  return list.Text();
}

}  // namespace

std::string LeftOutText(const std::vector<std::pair<std::string, std::string>>& owners) {
  ShortList list;
  for (const auto& [code, name] : owners) list.Add(KeyDigits(code) + " " + Trim(name));
  return list.Text();
}

int16_t RunParameterForm() {
  ShowSendingBacklog();
  int16_t form = ParameterForm;
  int16_t key = 0;
  RunForm(form, 0, 0, key);
  return key;
}

std::string SendingBacklogText() {
  if (!SendingModeOn(Session.RootDir)) return std::string();
  return SendingBacklogLine(Session.RootDir, LanguageFromCode(Session.Language));
}

InvoiceParameters FormParameters() {
  return InvoiceParametersFromTexts(FormValue(1), FormValue(2), FormValue(3), FormValue(4), FormValue(5),
                                    FormValue(NumberField));
}

void PrepareRegisteredForm(RunRegister& reg) {
  SeriesState first;
  if (reg.Ready() == 0 && reg.Get().StateOf(ClassSeries(0), first) == 0 && first.highest != 0)
    SetFieldValue(ParameterForm, NumberField, std::to_string(first.highest + 1));
  SetConfirmationNote([&reg](std::string& note) {
    const InvoiceParameters form = FormParameters();
    // Only the series the ranges' links are billed in are named; an owner
    // file that cannot be read names both (the pass tells the failure).
    std::array<bool, 2> used{true, true};
    if (TaxClassesInRange(form, used) != 0) used = {true, true};
    const RunNumbering plan = PlanNumbering(reg, KeyDigits(form.InvoiceDate), form.NextInvoiceNumber, used);
    if (!plan.problem.empty()) {
      TellUser(plan.problem);
      return false;
    }
    note = plan.note;
    return true;
  });
}

void ClearRegisteredForm() { SetConfirmationNote({}); }

bool ConfirmAfter(const std::string& text) {
  if (!HasConfirmationForm()) {
    TellUser(text);
    return false;
  }
  std::string shown = text;
  // Beside the confirmation form, never over it: what it asks about stays in view.
  const bool windowShown = ShowBesideConfirmation(shown) == 0;
  const bool confirmed = ConfirmParameters(KeyEnter) == 0;
  if (windowShown) PopWindow();
  return confirmed;
}

bool RegisteredPassAccepted(RunRegister& reg, const std::vector<IssuedInvoice>& issued, bool /*keepingActive*/,
                            std::set<std::string>& leaveOutOut) {
  leaveOutOut.clear();
  // The same in both modes: every invoice left in the pass has a record
  // that names its recipient, so it can be signed as well as sent.
  const std::string unidentified = InvoicesWithoutRecipientId(issued);
  if (!unidentified.empty() &&
      !ConfirmAfter(RunText(RunMessage::RecipientsWithoutNif) + unidentified + RunText(RunMessage::GoOn)))
    return false;
  // Links billed for the period are left out unless the user includes
  // them, asked twice.
  std::string billed;
  LinksBilledForPeriod(reg, issued, leaveOutOut, billed);
  if (!leaveOutOut.empty() &&
      ConfirmAfter(RunText(RunMessage::AlreadyBilled) + billed + RunText(RunMessage::IncludeBilled)) &&
      ConfirmAfter(RunText(RunMessage::BilledTwice)))
    leaveOutOut.clear();
  return true;
}
