#include "invoicing/run_numbering.h"

#include "base/clock.h"
#include "base/text.h"
#include "issuing/context.h"
#include "issuing/words.h"
#include "register/agency.h"
#include "session/session.h"

namespace {

// The longest series whose number, as printed ("/" and eight digits), fits
// the page's number field before the next text on its line.
constexpr size_t kPrintableSeriesWidth = 5;

// Each series' state in the register, or the status of the read that failed.
int16_t ReadSeries(RunRegister& reg, std::array<SeriesState, 2>& series) {
  int16_t status = reg.Ready();
  for (size_t c = 0; c < 2 && status == 0; ++c) status = reg.Get().StateOf(ClassSeries(c), series[c]);
  return status;
}

// The first number of tax class c's series, or the refusal in plan.problem.
void PlanSeries(size_t c, const SeriesState& state, const std::string& dateDigits, int32_t formNumber, bool named,
                RunNumbering& plan) {
  if (state.highest != 0) {
    if (dateDigits < state.lastDate) {
      plan.problem = RunText(RunMessage::DateBeforeLast) + ClassSeries(c) + RunText(RunMessage::FirstDateAllowed) +
                     ShownDate(state.lastDate);
      return;
    }
    plan.first[c] = state.highest + 1;
  } else {
    plan.first[c] = formNumber;
  }
  if (plan.first[c] < 1 || plan.first[c] > RegisterHighestNumber) {
    plan.problem = RunText(RunMessage::NumberOutOfRange);
    return;
  }
  if (named) plan.note += (plan.note.empty() ? "" : "  ") + PrintedInvoiceNumber(ClassSeries(c), plan.first[c]);
}

}  // namespace

std::string RegisterSettingsProblem() {
  // The issuer, the mode, the software and the installation, as every
  // program that makes records reads them.
  const IssuingContext context(Session.RootDir, Session.ExeDir);
  if (!context.Problem().None())
    return IssuingProblemText(context.Problem(), LanguageFromCode(Session.Language), true);
  for (size_t c = 0; c < 2; ++c) {
    const std::string series = ClassSeries(c);
    if (!SeriesFitsRegister(series) || series.size() > kPrintableSeriesWidth)
      return RunText(RunMessage::SeriesNotPrintable) + (c == 0 ? "[Iva0] Serie" : "[Iva1] Serie") +
             RunText(RunMessage::SeriesText) + series;
  }
  return std::string();
}

RunNumbering PlanNumbering(RunRegister& reg, const std::string& dateDigits, int32_t formNumber,
                           const std::array<bool, 2>& used) {
  RunNumbering plan;
  plan.problem = RegisterSettingsProblem();
  if (!plan.problem.empty()) return plan;
  std::array<SeriesState, 2> series;
  const int16_t status = ReadSeries(reg, series);
  if (status != 0) {
    plan.problem = RegisterProblemText(reg, status);
    return plan;
  }
  const std::string today = TodayDigits();
  if (dateDigits > today) {
    plan.problem = RunText(RunMessage::DateAfterToday) + ShownDate(today);
    return plan;
  }
  if (ClassSeries(1) == ClassSeries(0)) plan.slotOfClass[1] = 0;
  // A slot two classes share is named when either is used.
  const std::array<bool, 2> named{used[0] || (plan.slotOfClass[1] == 0 && used[1]), used[1] && plan.slotOfClass[1] == 1};
  for (size_t c = 0; c < 2 && plan.problem.empty(); ++c) {
    if (plan.slotOfClass[c] == static_cast<int>(c)) PlanSeries(c, series[c], dateDigits, formNumber, named[c], plan);
  }
  if (!plan.note.empty()) plan.note = RunText(RunMessage::FirstNumbers) + plan.note;
  return plan;
}
