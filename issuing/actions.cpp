#include "issuing/actions.h"

#include <cstdio>

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "formatting/dates.h"
#include "formatting/folding.h"
#include "formatting/settings.h"
#include "printing/pages.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/journal.h"
#include "register/taxid.h"
#include "sending/sender.h"

namespace {

// The longest series whose number, as printed, fits the page's number
// field before the next text on its line (as a run's series).
constexpr size_t kPrintableSeriesWidth = 5;

std::string Number(const RegisterEntry& e) { return PrintedInvoiceNumber(e.series, e.number); }

// YYYYMMDD as the invoice's page prints its date ("1 D'ABRIL DEL 2027").
std::string PageDate(const std::string& yyyymmdd) { return FoldText(FormatDate(CodeFromText(yyyymmdd), 2, "dma")); }

// Today's date (local), YYYYMMDD.
std::string Today() {
  const std::string now = GenerationTimeNow();
  return now.size() >= 10 ? now.substr(0, 4) + now.substr(5, 2) + now.substr(8, 2) : std::string();
}


IssuingProblem AmendProblem(AmendRefusal refusal, const RegisterEntry& e, int64_t amount) {
  switch (refusal) {
    case AmendRefusal::None: break;
    case AmendRefusal::NotInRegister: return Refused(Refusal::NotInRegister, Number(e));
    case AmendRefusal::Cancelled: return Refused(Refusal::Cancelled, Number(e));
    case AmendRefusal::Corrected: return Refused(Refusal::Corrected, Number(e));
    case AmendRefusal::NothingChanges: return Refused(Refusal::NothingChanges, Number(e));
    case AmendRefusal::AmountOutOfRange: return Refused(Refusal::AmountOutOfRange, AgencyAmount(amount));
    case AmendRefusal::BadCause: return Refused(Refusal::BadCause);
  }
  return {};
}

// Why the register did not take a record (signError: why it could not be
// signed, when that was why).
IssuingProblem RegisterProblem(int16_t status, const RegisterRefusal& refusal, const std::string& signError,
                               const RegisterEntry& target) {
  using Rule = RegisterRefusal::Rule;
  if (status == RmFileLocked) return Refused(Refusal::Locked);
  if (status == RegisterRefused && refusal.rule == Rule::DateBeforeLast) {
    IssuingProblem p = Refused(Refusal::DateBeforeLast, refusal.series);
    p.date = refusal.expectedDate;
    return p;
  }
  if (status == RegisterRefused && refusal.rule == Rule::NoLongerAllowed)
    return Refused(Refusal::ChangedMeanwhile, Number(target));
  if (status == RegisterRefused && (refusal.rule == Rule::LastRecordBroken || refusal.rule == Rule::LastRecordLater))
    return Refused(Refusal::LastRecordWrong, PrintedInvoiceNumber(refusal.series, refusal.number));
  if (!signError.empty()) return Refused(Refusal::NotSigned, Cp858ForDisplay(signError));
  return Refused(Refusal::NotWritten, "", status);
}

// The settings, then the not-sending mode; None when records can be made.
IssuingProblem Ready(IssuingContext& context, InvoiceRegister& reg) {
  if (!context.Problem().None()) return context.Problem();
  return context.StartKeeping(reg);
}

// An amount as the page's lines print it: thousands grouped, the session's
// decimal character, a negative amount ending in "-".
std::string PageAmount(int64_t cents, const FormatSettings& format) {
  const bool negative = cents < 0;
  const uint64_t magnitude = negative ? static_cast<uint64_t>(-cents) : static_cast<uint64_t>(cents);
  std::string whole = std::to_string(magnitude / 100);
  for (size_t at = whole.size(); at > 3; at -= 3) whole.insert(at - 3, 1, format.thousandsChar);
  char decimals[4];
  std::snprintf(decimals, sizeof decimals, "%02u", static_cast<unsigned>(magnitude % 100));
  return whole + format.decimalChar + decimals + (negative ? "-" : "");
}

// The days from an invoice's date to its due date, Tarn.ini [Emissor]
// Venciment of root; false when it is not set or not whole days.
bool DueDays(const std::string& root, int32_t& days) {
  const std::string text = IniReadTrimmed(root + "Tarn.ini", "Emissor", "Venciment");
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  days = std::stoi(text);
  return true;
}

// A YYYYMMDD date in words, as the run's figures write dates.
std::string DateInWords(const std::string& yyyymmdd) { return FormatDate(CodeFromText(yyyymmdd), 2, "DMA"); }

// The corrective's figures: the corrected page's period and rates, its own
// number, date, due date (from its own date) and amounts; dueDays < 0 when
// the issuer sets none.
std::string CorrectiveFigures(const std::string& corrected, const RegisterEntry& c, const FormatSettings& format,
                              int32_t dueDays) {
  std::string kept;
  std::string currency;
  size_t at = 0;
  while (at < corrected.size()) {
    size_t end = corrected.find('\n', at);
    if (end == std::string::npos) end = corrected.size();
    const std::string line = corrected.substr(at, end - at);
    at = end + 1;
    const size_t tab = line.find('\t', 2);
    const std::string name = tab == std::string::npos ? std::string() : line.substr(2, tab - 2);
    if (name == "Total") {
      const size_t blank = line.find_last_of(' ');
      if (blank != std::string::npos && blank > tab) currency = line.substr(blank);
    }
    if (name == "Periode" || name == "TipusIva" || (name == "TipusRetencio" && c.withholding != 0))
      kept += line + "\n";
  }
  const auto line = [](const char* name, const std::string& cp850) {
    return std::string("1\t") + name + "\t" + Utf8FromCp858(cp850) + "\n";
  };
  std::string out = line("Numero", Number(c)) + line("Data", DateInWords(c.date));
  if (dueDays >= 0) {
    const std::string due = DaysAfter(c.date, dueDays);
    if (!due.empty()) out += line("Venciment", DateInWords(due));
  }
  out += kept + line("Base", PageAmount(c.base, format)) + line("Iva", PageAmount(c.vat, format));
  if (c.withholding != 0) {
    out += line("Retencio", PageAmount(-c.withholding, format)) +
           line("TotalFactura", PageAmount(static_cast<int64_t>(c.base) + c.vat, format) + currency);
  }
  return out + line("Total", PageAmount(c.total, format) + currency);
}

}  // namespace

IssuingProblem ReadArchivedPage(const std::string& root, const RegisterEntry& entry, PrintablePage& out) {
  out = PrintablePage{};
  const std::string archive = HostPath(root + "ARXIU\\") + entry.archive;
  std::string spool;
  if (entry.archive.empty() || ReadRegularFile(archive, spool, 256u << 20) != ReadResult::Ok ||
      !SpoolOfPage(spool, entry.page, out.page))
    return Refused(Refusal::NoArchive, Cp858ForDisplay(archive));
  const std::string stem = archive.substr(0, archive.find_last_of('.'));
  std::string side;
  static_cast<void>(ReadRegularFile(stem + ".qr", side, 1u << 20));
  out.codes = CodeLineOfPage(side, entry.page);
  side.clear();
  static_cast<void>(ReadRegularFile(stem + ".fig", side, 64u << 20));
  out.figures = FigureLinesOfPage(side, entry.page);
  return {};
}

IssuingProblem CopyOf(const std::string& root, const RegisterEntry& entry, Language language, PrintablePage& out) {
  IssuingProblem p = ReadArchivedPage(root, entry, out);
  if (p.None()) out.page = MarkedCopyPage(out.page, kPageTexts.Text(PageText::CopyMark, language));
  return p;
}

IssuingProblem CheckCancel(IssuingContext& context, InvoiceRegister& reg, const std::vector<RegisterEntry>& chain,
                           const RegisterEntry& target) {
  const IssuingProblem refused = AmendProblem(CheckCancellation(chain, target), target, 0);
  if (!refused.None()) return refused;
  return Ready(context, reg);
}

CancelResult Cancel(IssuingContext& context, InvoiceRegister& reg, const std::vector<RegisterEntry>& chain,
                    const RegisterEntry& target) {
  CancelResult result;
  result.problem = CheckCancel(context, reg, chain, target);
  if (!result.problem.None()) return result;
  // Settlings and cancellations stopped part-way are ended first (CancelInvoice).
  RegisterRefusal refusal;
  std::string signError;
  std::string sideFile;
  // Sent, it says SinRegistroPrevio when the agency holds no issue record
  // of the invoice and none is on its way.
  bool reaches = true;
  const std::string answers = HostPath(context.Root() + SendingStateFileName) + ".dat";
  const int16_t reached = context.Agency().Sending()
                              ? InvoiceReachesAgency(answers, chain, target.series, target.number, reaches)
                              : int16_t{0};
  // Answers of another register would word the cancellation wrongly.
  if (reached == RegisterSideFileDamaged) {
    result.problem = Refused(Refusal::SideFileDamaged, Cp858ForDisplay(answers));
    return result;
  }
  if (reached != 0) reaches = true;
  const RecordXmlMaker maker = context.Agency().Sending() ? context.CancellationMaker(!reaches, false) : context.Maker();
  const int16_t status =
      CancelInvoice(reg, target, context.Places(), GenerationTimeNow, refusal, {}, maker, result.givenBack,
                    result.registered, context.Keeping().Signer(signError), &sideFile);
  if (!result.registered) {
    result.problem = RegisterProblem(status, refusal, signError, target);
    if (status == RegisterSideFileDamaged) result.problem = Refused(Refusal::SideFileDamaged, Cp858ForDisplay(sideFile));
    return result;
  }
  context.Keeping().Registered();
  if (status != 0) result.problem = Refused(Refusal::ReceiptsNotGivenBack, "", status);
  result.sending = context.SendNow();
  return result;
}

IssuingProblem CheckCorrectiveRecipient(const RegisterEntry& target, const std::string& type) {
  // The agency's rules for the recipient of a corrective (its errors 1189,
  // 1191 and 1192): someone it can identify, and for R3 by a Spanish NIF
  // (an EU VAT number is refused), for R2 by a NIF or an EU VAT number.
  const RecipientId recipient = ClassifyRecipientTaxId(target.recipientTaxId);
  const bool nif = recipient.kind == RecipientIdKind::Nif || recipient.kind == RecipientIdKind::NifAsWritten;
  const bool allowed = type == "R3" ? nif : recipient.Usable();
  if (allowed) return {};
  return Refused(Refusal::RecipientNotForType, Number(target) + " " + type);
}

IssuingProblem CheckCorrect(IssuingContext& context, InvoiceRegister& reg, const std::vector<RegisterEntry>& chain,
                            const RegisterEntry& target) {
  const std::string& series = context.Register().correctiveSeries;
  if (!SeriesFitsRegister(series) || series.size() > kPrintableSeriesWidth)
    return Refused(Refusal::CorrectiveSeries, series);
  const auto states = InvoiceStates(chain);
  const auto found = states.find({target.series, target.number});
  if (found == states.end()) return Refused(Refusal::NotInRegister, Number(target));
  if (found->second.kind == InvoiceState::Kind::Cancelled) return Refused(Refusal::Cancelled, Number(target));
  IssuingProblem p = Ready(context, reg);
  if (!p.None()) return p;
  // A record that names no recipient the agency takes cannot be made, so
  // cannot be signed either.
  if (context.Keeping().Active() &&
      ClassifyRecipientTaxId(target.recipientTaxId).kind == RecipientIdKind::NotIdentifiable)
    return Refused(Refusal::RecipientNotSignable, Number(target));
  return {};
}

CorrectResult Correct(IssuingContext& context, InvoiceRegister& reg, const std::vector<RegisterEntry>& chain,
                      const RegisterEntry& target, const Correction& correction, Language language) {
  CorrectResult result;
  result.problem = CheckCorrect(context, reg, chain, target);
  if (!result.problem.None()) return result;
  result.problem = CheckCorrectiveRecipient(target, correction.type);
  if (!result.problem.None()) return result;
  // Settlings and cancellations stopped part-way are ended before the
  // register changes again.
  const AmendPlaces places = context.Places();
  std::string sideFile;
  const int16_t recovered = RecoverReceiptJournals(places.dataFolder, places.collectionFile, reg, &sideFile);
  if (recovered != 0) {
    result.problem = recovered == RegisterSideFileDamaged ? Refused(Refusal::SideFileDamaged, Cp858ForDisplay(sideFile))
                                                          : Refused(Refusal::NotWritten, "", recovered);
    return result;
  }
  const std::string& series = context.Register().correctiveSeries;
  SeriesState state;
  const int16_t read = reg.StateOf(series, state);
  if (read != 0) {
    result.problem = Refused(Refusal::CannotRead, Cp858ForDisplay(HostPath(context.Root() + RegisterFileName) + ".dat"), read);
    return result;
  }
  const std::string today = Today();
  RegisterEntry& corrective = result.corrective;
  result.problem = AmendProblem(MakeCorrective(chain, target, correction, series, state.highest + 1, today, corrective),
                                target, correction.fees + correction.expenses);
  if (!result.problem.None()) return result;
  PrintablePage corrected;
  result.problem = ReadArchivedPage(context.Root(), target, corrected);
  if (!result.problem.None()) return result;

  // The corrective's page: the corrected invoice's made the corrective's.
  const FormatSettings format = LoadFormatSettings(context.Root(), LanguageCode(language));
  const auto text = [language](PageText id) { return std::string(kPageTexts.Text(id, language)); };
  const PageText causes[] = {PageText::CauseR1, PageText::CauseR2, PageText::CauseR3, PageText::CauseR4};
  const auto states = InvoiceStates(chain);
  const auto found = states.find({target.series, target.number});
  const InvoiceState was = found != states.end() ? found->second : InvoiceState{};
  CorrectivePageTexts texts;
  texts.number = Number(corrective);
  texts.date = PageDate(today);
  texts.differences = corrective.correctionForm != 'S';
  texts.title = text(PageText::CorrectiveTitle) + text(texts.differences ? PageText::ByDifferences : PageText::BySubstitution);
  texts.corrects = text(PageText::CorrectsInvoice) + Number(target);
  texts.correctedDate = text(PageText::IssuedOn) + PageDate(target.date);
  std::string described;
  if (!Cp858FromUtf8(Trim(correction.cause), described)) described.clear();
  texts.cause = text(causes[corrective.invoiceType[1] - '1']) + (described.empty() ? "" : ". " + described);
  texts.baseLabel = text(PageText::BaseLabel);
  texts.vatLabel = text(PageText::VatLabel);
  texts.vatRate = corrective.vatRate;
  texts.withholdingLabel = text(PageText::WithholdingLabel);
  texts.withholdingRate = corrective.withholdingRate;
  texts.totalLabel = text(PageText::TotalLabel);
  texts.originalHeading = text(PageText::OriginalHeading);
  texts.correctedHeading = text(PageText::CorrectedHeading);
  texts.differenceHeading = text(PageText::DifferenceHeading);
  texts.withholding = target.withholdingRate != 0 || was.withholding != 0;
  const CorrectiveAmounts own{corrective.base, corrective.vat, corrective.withholding, corrective.total};
  texts.original = CorrectiveAmounts{was.base, was.vat, was.withholding, was.total};
  const auto sum = [](const CorrectiveAmounts& a, const CorrectiveAmounts& b, int sign) {
    return CorrectiveAmounts{a.base + sign * b.base, a.vat + sign * b.vat, a.withholding + sign * b.withholding,
                             a.total + sign * b.total};
  };
  texts.corrected = texts.differences ? sum(texts.original, own, 1) : own;
  texts.difference = texts.differences ? own : sum(own, texts.original, -1);
  result.print.page = CorrectivePage(corrected.page, texts);
  result.print.codes = "1\t" + context.CodeUrl(corrective) + "\n";
  int32_t dueDays = -1;
  if (!DueDays(context.Root(), dueDays)) dueDays = -1;
  result.print.figures = CorrectiveFigures(corrected.figures, corrective, format, dueDays);

  // Archived as a run of its own, with its code and figures, before it is
  // registered.
  const std::string name = ArchiveStem('R', corrective.number) + ".zsp";
  const std::string archived = HostPath(context.Root() + "ARXIU\\") + name;
  const std::string stem = archived.substr(0, archived.size() - 4);
  const std::pair<std::string, const std::string*> files[] = {
      {archived, &result.print.page}, {stem + ".qr", &result.print.codes}, {stem + ".fig", &result.print.figures}};
  // Only what this correction wrote is taken back: a file already there is
  // never overwritten.
  size_t written = 0;
  const auto removeArchived = [&files, &written] {
    for (size_t i = 0; i < written; ++i) std::remove(files[i].first.c_str());
  };
  for (const auto& [path, content] : files) {
    if (WriteWholeFile(path, *content, Placement::NeverOverwrite, 0644) != 0) {
      removeArchived();
      result.problem = Refused(Refusal::CannotArchive, Cp858ForDisplay(path));
      return result;
    }
    ++written;
  }
  corrective.archive = name;
  corrective.page = 1;
  std::vector<RegisterEntry> entries{corrective};
  RegisterRefusal refusal;
  std::string signError;
  // Made again under the lock: another process may have cancelled or
  // corrected the invoice meanwhile.
  const int16_t status = reg.Append(
      entries, GenerationTimeNow, refusal, {}, context.Maker(),
      [&](const std::vector<RegisterEntry>& now) {
        RegisterEntry again;
        return MakeCorrective(now, target, correction, series, corrective.number, today, again) == AmendRefusal::None;
      },
      context.Keeping().Signer(signError));
  if (status != 0) {
    removeArchived();
    result.problem = RegisterProblem(status, refusal, signError, target);
    return result;
  }
  context.Keeping().Registered();
  corrective = entries[0];
  result.sending = context.SendNow();
  return result;
}
