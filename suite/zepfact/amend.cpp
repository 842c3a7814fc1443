// zepfact's amendments of an issued invoice:
//
// cancel NUMBER registers the cancellation of an invoice issued by mistake
// and never delivered, and gives the receipts it settled back to P (paid,
// not billed), both or neither (register/amend.h).
//
// correct NUMBER --cause R1..R4 --by S|I --fee AMOUNT [--expenses AMOUNT]
// [--output FILE] registers a corrective invoice of the invoice: the next
// number of the series [Registre] SerieRectificativa of Tarn.ini (RE),
// dated today, cause R1-R4, by substitution (S: the whole corrected
// invoice) or by differences (I: only the change), with the corrected fee
// and expenses (AMOUNT: euros, "." or "," before at most two decimals;
// expenses 0 when not given). Its page is the corrected invoice's page made
// the corrective's, archived as its own run (ARXIU\) and printed as reprint
// prints.
//
// Both refuse, writing and printing nothing: an unknown number, a cancelled
// invoice, (cancel) an invoice a corrective invoice names, (correct)
// amounts that change nothing, and a register another process holds. With
// [VeriFactu] Mode=conserva they sign their records as the module's runs do
// (signing/keeping.h) and log the register's new tail; a certificate that
// cannot sign, or a register shorter or older than the log says, refuses
// them before anything is written or printed. Exit codes: 0 done; 1 a
// refusal, a record that cannot be signed, or a cause, form or amount that
// cannot be taken.
#include <cstdio>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "printing/pages.h"
#include "records/layouts.h"
#include "recman/recman.h"
#include "register/amend.h"
#include "register/register.h"
#include "register/taxid.h"
#include "register/xml.h"
#include "session/session.h"
#include "signing/keeping.h"
#include "suite/zepfact/keeping.h"
#include "suite/zepfact/program.h"

namespace {

// YYYYMMDD as printed on a page: DD/MM/YYYY.
std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

// The longest series whose number, as printed, fits the page's number
// field before the next text on its line (as the module's runs allow).
constexpr size_t kPrintableSeriesWidth = 5;

}  // namespace

// What a record made now needs: the issuer's name, the software and the
// installation; false after saying why not.
bool Program::RecordMaker(RecordXmlMaker& makerOut) {
  SoftwareIdentity software;
  if (!Software(software)) return false;
  std::string installation;
  const int error = InstallationNumber(root_, installation);
  if (error != 0) {
    Error(FactMessage::NoInstallationNumber, Cp858ForDisplay(TidyHostPath(HostPath(root_ + InstallationFileName))),
          error);
    return false;
  }
  const std::string issuerName = Trim(IniRead(root_ + "Tarn.ini", "Emissor", "Nom"));
  makerOut = [=](const RegisterEntry& entry, const RegisterEntry* previous) {
    return RecordXml(entry, previous, issuerName, software, installation);
  };
  return true;
}

// Says why the register refused a record, or could not write it
// (signError: why it could not be signed, when that was why).
void Program::RegisterTrouble(int16_t status, const RegisterRefusal& refusal, const std::string& signError) const {
  using Rule = RegisterRefusal::Rule;
  if (status == RmFileLocked) {
    Error(FactMessage::RegisterLocked);
  } else if (status == RegisterRefused && refusal.rule == Rule::DateBeforeLast) {
    Error(FactMessage::SeriesDateLater, refusal.series);
  } else if (status == RegisterRefused && refusal.rule == Rule::NoLongerAllowed) {
    Error(FactMessage::ChangedMeanwhile, Cp858ForDisplay(options_.number));
  } else if (status == RegisterRefused &&
             (refusal.rule == Rule::LastRecordBroken || refusal.rule == Rule::LastRecordLater)) {
    Error(FactMessage::LastRecordWrong, PrintedInvoiceNumber(refusal.series, refusal.number));
  } else if (!signError.empty()) {
    Error(FactMessage::RecordNotSigned, Cp858ForDisplay(signError));
  } else {
    Error(FactMessage::CannotRegister, "", status);
  }
}

// Says why an amendment of entry is refused; false when it is not.
bool Program::Refused(AmendRefusal refusal, const RegisterEntry& entry) const {
  const std::string number = PrintedInvoiceNumber(entry.series, entry.number);
  switch (refusal) {
    case AmendRefusal::None:
      return false;
    case AmendRefusal::NotInRegister:
      Error(FactMessage::NotInRegister, number);
      break;
    case AmendRefusal::Cancelled:
      Error(FactMessage::AlreadyCancelled, number);
      break;
    case AmendRefusal::Corrected:
      Error(FactMessage::CorrectedNoCancel, number);
      break;
    case AmendRefusal::NothingChanges:
      Error(FactMessage::NothingChanges, number);
      break;
    case AmendRefusal::AmountOutOfRange:
      Error(FactMessage::BadAmount, AgencyAmount(options_.correction.fees + options_.correction.expenses));
      break;
  }
  return true;
}

// The not-sending mode for a record made here (out of the mode, nothing
// to do): started, or false after saying why records cannot be signed.
bool Program::KeepingReady(KeepingMode& keeping) {
  const std::string settings = root_ + "Tarn.ini";
  keeping.Start(root_, IniRead(settings, "Emissor", "NIF"), IniRead(settings, "Emissor", "Nom"), register_);
  const KeepingProblem& p = keeping.Problem();
  switch (p.kind) {
    case KeepingProblem::Kind::None:
      return true;
    case KeepingProblem::Kind::Files:
      Error(FactMessage::CannotRegister, "", p.status);
      return false;
    case KeepingProblem::Kind::TailCut:
      Error(FactMessage::TailCut, "", p.tailSequence);
      return false;
    case KeepingProblem::Kind::Key:
      break;
  }
  Error(FactMessage::KeyRefused, KeyCauseText(p.key, p.file, settings, language_));
  return false;
}

AmendPlaces Program::Places() const {
  return {HostPath(root_ + "DADES\\"), HostPath(root_ + CollectionFileName) + ".dat", HostPath(root_ + "ARXIU\\")};
}

int Program::Cancel() {
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false, true)) return kExitTrouble;
  const RegisterEntry* found = FindInvoice(chain);
  if (found == nullptr) return kExitTrouble;
  const RegisterEntry target = *found;
  RecordXmlMaker makeXml;
  KeepingMode keeping;
  if (Refused(CheckCancellation(chain, target), target) || !RecordMaker(makeXml) || !KeepingReady(keeping))
    return kExitTrouble;
  // A cancellation stopped part-way is ended before another begins.
  static_cast<void>(RecoverGiveBacks(Places(), register_));
  RegisterRefusal refusal;
  int32_t givenBack = 0;
  bool registered = false;
  std::string signError;
  const int16_t status = CancelInvoice(register_, target, Places(), GenerationTimeNow, refusal, {}, makeXml,
                                       givenBack, registered, keeping.Signer(signError));
  if (!registered) {
    RegisterTrouble(status, refusal, signError);
    return kExitTrouble;
  }
  keeping.Registered();
  if (status != 0) {
    Error(FactMessage::ReceiptsNotGivenBack, "", status);
    return kExitTrouble;
  }
  Say(stdout, FactText(FactMessage::Cancelled, language_, PrintedInvoiceNumber(target.series, target.number),
                       givenBack));
  return 0;
}

int Program::Correct() {
  const RegisterSettings settings = LoadRegisterSettings(root_);
  const std::string series = settings.correctiveSeries;
  if (!SeriesFitsRegister(series) || series.size() > kPrintableSeriesWidth) {
    Error(FactMessage::CorrectiveSeriesBad, series);
    return kExitTrouble;
  }
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false, true)) return kExitTrouble;
  const RegisterEntry* found = FindInvoice(chain);
  if (found == nullptr) return kExitTrouble;
  const RegisterEntry target = *found;
  SeriesState state;
  const int16_t read = register_.StateOf(series, state);
  if (read != 0) {
    Error(FactMessage::CannotRead, Cp858ForDisplay(HostPath(root_ + RegisterFileName) + ".dat"), read);
    return kExitTrouble;
  }
  const std::string today = GenerationDate(GenerationTimeNow());
  RegisterEntry corrective;
  if (Refused(MakeCorrective(chain, target, options_.correction, series, state.highest + 1, today, corrective),
              target))
    return kExitTrouble;
  RecordXmlMaker makeXml;
  std::string page;
  std::string code;
  std::string figures;  // a corrective invoice has figures of its own, not the corrected one's
  KeepingMode keeping;
  if (!RecordMaker(makeXml) || !ArchivedPage(target, page, code, figures) || !KeepingReady(keeping))
    return kExitTrouble;
  // A record that names no recipient the agency takes cannot be made, so
  // cannot be signed either.
  if (keeping.Active() && ClassifyRecipientTaxId(target.recipientTaxId).kind == RecipientIdKind::NotIdentifiable) {
    Error(FactMessage::RecipientNotSignable, PrintedInvoiceNumber(target.series, target.number));
    return kExitTrouble;
  }

  // The corrective's page, archived as a run of its own with its code.
  const std::string number = PrintedInvoiceNumber(corrective.series, corrective.number);
  const bool differences = corrective.correctionForm != 'S';
  const PageText causes[] = {PageText::CauseR1, PageText::CauseR2, PageText::CauseR3, PageText::CauseR4};
  auto text = [this](PageText id) { return std::string(kPageTexts.Text(id, language_)); };
  CorrectivePageTexts texts;
  texts.number = number;
  texts.date = ShownDate(today);
  texts.title = text(PageText::CorrectiveTitle) + text(differences ? PageText::ByDifferences : PageText::BySubstitution);
  texts.corrects =
      text(PageText::CorrectsInvoice) + PrintedInvoiceNumber(target.series, target.number) + " " + ShownDate(target.date);
  texts.cause = text(causes[corrective.invoiceType[1] - '1']);
  texts.feesLabel = text(PageText::FeesLabel);
  texts.expensesLabel = text(PageText::ExpensesLabel);
  texts.baseLabel = text(PageText::BaseDifference);
  texts.differences = differences;
  texts.fees = options_.correction.fees;
  texts.expenses = options_.correction.expenses;
  texts.base = corrective.base;
  texts.vat = corrective.vat;
  texts.withholding = corrective.withholding;
  texts.total = corrective.total;
  const std::string correctivePage = CorrectivePage(page, texts);
  const std::string name = ArchiveStem('R', corrective.number) + ".zsp";
  const std::string codes = "1\t" + TaxQrUrl(corrective, settings.testEnvironment) + "\n";
  corrective.archive = name;
  corrective.page = 1;
  const std::string archived = HostPath(root_ + "ARXIU\\") + name;
  const std::string archivedCodes = archived.substr(0, archived.size() - 4) + ".qr";
  if (WriteWholeFile(archived, correctivePage, Placement::NeverOverwrite, 0644) != 0) {
    Error(FactMessage::CannotWrite, Cp858ForDisplay(archived));
    return kExitTrouble;
  }
  if (WriteWholeFile(archivedCodes, codes, Placement::NeverOverwrite, 0644) != 0) {
    std::remove(archived.c_str());
    Error(FactMessage::CannotWrite, Cp858ForDisplay(archivedCodes));
    return kExitTrouble;
  }
  std::vector<RegisterEntry> entries{corrective};
  RegisterRefusal refusal;
  // The correction is made again under the lock: another process may
  // have cancelled the invoice meanwhile.
  const Correction& correction = options_.correction;
  std::string signError;
  const int16_t status = register_.Append(
      entries, GenerationTimeNow, refusal, {}, makeXml,
      [&](const std::vector<RegisterEntry>& now) {
        RegisterEntry again;
        return MakeCorrective(now, target, correction, series, corrective.number, today, again) == AmendRefusal::None;
      },
      keeping.Signer(signError));
  if (status != 0) {
    std::remove(archived.c_str());
    std::remove(archivedCodes.c_str());
    RegisterTrouble(status, refusal, signError);
    return kExitTrouble;
  }
  keeping.Registered();
  Say(stdout, FactText(FactMessage::CorrectiveRegistered, language_, number));
  return Print(correctivePage, codes, Device(entries[0]));
}
