#include "invoicing/register_screen.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "collection/collect.h"
#include "collection/ledger.h"
#include "collection/words.h"
#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "console/tell.h"
#include "formatting/dates.h"
#include "formatting/picture.h"
#include "formatting/settings.h"
#include "invoicing/correction_window.h"
#include "invoicing/messages.h"
#include "invoicing/print_program.h"
#include "invoicing/register_texts.h"
#include "issuing/actions.h"
#include "issuing/print_job.h"
#include "issuing/words.h"
#include "printing/pages.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "recman/recman.h"
#include "register/amend.h"
#include "register/register.h"
#include "register/software.h"
#include "register/taxid.h"
#include "register/xml.h"
#include "screens/formview.h"
#include "screens/hub.h"
#include "session/forms.h"
#include "session/session.h"
#include "signing/check.h"
#include "signing/keeping.h"

namespace register_screen {

Language SessionLanguage() { return LanguageFromCode(Session.Language); }
std::string Text(Say id) { return kTexts.Text(id, SessionLanguage()); }
void Tell(const std::string& text) { TellUserAndWait(kMessageRow, text); }

std::string Number(const RegisterEntry& e) { return PrintedInvoiceNumber(e.series, e.number); }

// Amounts and dates as the rest of the session shows them: its decimal and
// thousands characters ("1.119,48"), its date order and separator
// ("9/12/2026").
std::string Amount(int64_t cents) { return Trim(FormatAmount("Z,ZZZ,ZZZ,ZZ9-", static_cast<double>(cents), "E")); }
std::string ShownDate(const std::string& yyyymmdd) {
  return yyyymmdd.empty() ? std::string() : TrimRight(FormatDate(CodeFromText(yyyymmdd), 0, "dma"));
}

// Asks a yes-or-no question in a window: true for S.
bool Confirmed(const std::string& question) {
  std::string text = question;
  const bool shown = ShowMessageWindow(kMessageRow, text, Text(Say::YesNoKeys)) == 0;
  const int key = WaitForKey();
  if (shown) PopWindow();
  return key == 'S' || key == 's';
}

}  // namespace register_screen

namespace {

using namespace register_screen;

constexpr int16_t kCorrectionForm = 3;
// The list's window: the whole screen below the session title.
constexpr int kTop = 2, kLeft = 1, kBottom = 24, kRight = 80;
constexpr int kRows = kBottom - kTop - 2;  // the header's line, then the invoices
constexpr size_t kWidth = kRight - kLeft - 1;

// A key that types a number or a code to jump to.
bool Typing(int key) {
  return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= 'a' && key <= 'z') || key == '/' ||
         key == '*';
}

std::string RunText(RunMessage id) { return kRunTexts.Text(id, SessionLanguage()); }
std::string Rate(int32_t hundredths) { return TrimLeft(FormatPicture("Z9.99", hundredths / 100.0)); }

// A record's generation time ("2026-12-09T10:15:00+01:00", or "Z") as the
// local time of this machine, in the session's date form; the text as it
// is when it cannot be read.
std::string LocalTime(const std::string& generatedAt) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, oh = 0, om = 0;
  char sign = 0;
  const int read = std::sscanf(generatedAt.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &sec, &sign,
                               &oh, &om);
  if (read < 7 || (sign != 'Z' && read < 9) || (sign != 'Z' && sign != '+' && sign != '-')) return generatedAt;
  std::tm utc{};
  utc.tm_year = y - 1900;
  utc.tm_mon = mo - 1;
  utc.tm_mday = d;
  utc.tm_hour = h;
  utc.tm_min = mi;
  utc.tm_sec = sec;
  std::time_t at = timegm(&utc);
  if (sign != 'Z') at -= (sign == '-' ? -1 : 1) * (oh * 3600 + om * 60);
  std::tm local{};
  if (localtime_r(&at, &local) == nullptr) return generatedAt;
  char digits[48];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  char clock[48];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return ShownDate(digits) + " " + clock;
}


// The owner's four digits and the property's last three, as the form takes them.
std::string Codes(const RegisterEntry& e) {
  const std::string property = KeyDigits(e.propertyCode);
  return KeyDigits(e.ownerCode) + "/" + property.substr(property.size() > 3 ? property.size() - 3 : 0);
}

std::string Columns(const std::string& number, const std::string& date, const std::string& codes,
                    const std::string& name, const std::string& total, const std::string& state) {
  return FixedWidth(FixedWidth(number, 12) + " " + FixedWidth(date, 10) + " " + FixedWidth(codes, 8) + " " +
                        FixedWidth(name, 13) + " " + FixedWidthRight(total, 12) + " " + state,
                    kWidth);
}

std::string StripZeros(const std::string& digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string() : digits.substr(first);
}

// Whether what the user typed names the invoice: its number as printed,
// its series and number without the zeros, or its number alone; "*" and
// digits name its owner's code instead.
bool Names(const RegisterEntry& e, std::string typed) {
  for (char& c : typed) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (!typed.empty() && typed[0] == '*') {
    const std::string owner = typed.substr(1);
    return !owner.empty() && owner.find_first_not_of("0123456789") == std::string::npos &&
           StripZeros(owner) == StripZeros(KeyDigits(e.ownerCode));
  }
  if (typed == Number(e)) return true;
  const size_t slash = typed.rfind('/');
  const std::string digits = typed.substr(slash == std::string::npos ? 0 : slash + 1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  if (slash != std::string::npos) return typed.substr(0, slash) == e.series && StripZeros(digits) == std::to_string(e.number);
  return StripZeros(digits) == std::to_string(e.number);
}

// How the screen starts the print program: as RegisterScreen was given it.
PrintProgramStarter PrintProgram;

// The session's spool file, which the print program prints, and its
// folder (ending in "/"), where its side files are.
std::string SpoolDirectory() { return HostDirectory(Session.TempDir); }

// Prints a page outside a run (with the session's output device, its code
// and figures) through the print program, and tells the user where it went
// or how it failed.
void PrintPage(const PrintablePage& page, const std::string& done) {
  const std::string spoolDir = SpoolDirectory();
  std::string failed;
  if (WritePrintJob(spoolDir, page, Session.OutputDevice, failed) != 0) {
    Tell(done + ". " + RunText(RunMessage::SpoolNotWritten) + failed);
    return;
  }
  const ChildEnd end = PrintProgram();
  if (!end.Succeeded()) {
    std::string how = RunText(end.started ? RunMessage::PrintProgramFailed : RunMessage::PrintProgramNotStarted) +
                      PrintProgramPath();
    if (end.started) {
      how += end.exited ? RunText(RunMessage::ExitStatus) + std::to_string(end.exitCode)
                        : RunText(RunMessage::EndedBySignal) + std::to_string(end.signal);
    }
    Tell(done + how);
    return;
  }
  std::string named;
  if (ReadRegularFile(spoolDir + "zepprint.out", named, 4096) == ReadResult::Ok)
    named = Trim(named.substr(0, named.find_first_of("\r\n")));
  Tell(done + Text(Say::Printed) + (named.empty() ? Session.OutputDevice : named));
}

class RegisterView {
 public:
  // Opens the register and reads it; false after telling why not.
  bool Load() {
    int16_t status = reg_.Open(HostPath(Session.RootDir + RegisterFileName),
                               HostPath(Session.RootDir + "ddf\\" + RegisterDictionaryBaseName + ".xdf"), false,
                               HostPath(Session.RootDir + EarlierRegisterFileName));
    chain_.clear();
    if (status == RmSuccess) status = reg_.ReadAll(chain_);
    if (status != RmSuccess) {
      Tell(Text(Say::CannotRead) + std::to_string(status));
      return false;
    }
    states_ = InvoiceStates(chain_);
    rows_.clear();
    for (size_t i = 0; i < chain_.size(); ++i)
      if (!chain_[i].IsCancellation()) rows_.push_back(i);
    // Newest first: by date, then the later record first.
    std::stable_sort(rows_.begin(), rows_.end(), [&](size_t a, size_t b) {
      return chain_[a].date != chain_[b].date ? chain_[a].date > chain_[b].date : a > b;
    });
    current_ = std::min(current_, rows_.empty() ? 0 : static_cast<int>(rows_.size()) - 1);
    LoadKept();
    // What became of each invoice's direct debit (none when never remitted).
    std::vector<CollectionLine> log;
    std::string logText;
    collected_.clear();
    if (ReadCollectionLog(HostPath(Session.RootDir + CollectionLogFileName), log, logText))
      collected_ = LastCollectionStates(log);
    return true;
  }

  void Run() {
    ScopedDisplayMode frameMode("n");
    if (PushWindow(kTop, kLeft, kBottom, kRight) != 0) return;
    DrawWindowFrame(2);
    WriteFrameKeys(Text(Say::ListKeys), 2);
    std::string title(1, ' ');
    title.append(Text(Say::Title)).append(" ");
    LocateAbsolute(kTop, static_cast<int>(kLeft + (kWidth + 2 - title.size()) / 2));
    WriteText(title);
    for (;;) {
      Draw();
      const int key = WaitForKey();
      const int last = static_cast<int>(rows_.size()) - 1;
      if (key == KeyEsc) break;
      if (key == KeyUp) current_ = std::max(0, current_ - 1);
      else if (key == KeyDown) current_ = std::min(std::max(last, 0), current_ + 1);
      else if (key == KeyPgUp) current_ = std::max(0, current_ - kRows);
      else if (key == KeyPgDn) current_ = std::min(std::max(last, 0), current_ + kRows);
      else if (key == KeyHome) current_ = 0;
      else if (key == KeyEnd) current_ = std::max(last, 0);
      else if (key == KeyF1) Help();
      else if (key == KeyEnter && !rows_.empty()) Detail();
      else if (key == KeyBackspace && !typed_.empty()) typed_.pop_back();
      else if (Typing(key)) Jump(static_cast<char>(key));
      else if (key != KeyBackspace) Beep();
      // Any other key starts what is typed anew.
      if (key != KeyBackspace && !Typing(key)) typed_.clear();
    }
    PopWindow();
  }

 private:
  void Draw() {
    if (current_ < top_) top_ = current_;
    if (current_ >= top_ + kRows) top_ = current_ - kRows + 1;
    SetDisplayMode("rh");
    LocateInWindow(1, 1);
    WriteText(Columns(Text(Say::ColumnNumber), Text(Say::ColumnDate), Text(Say::ColumnCodes), Text(Say::ColumnName),
                      Text(Say::ColumnTotal), Text(Say::ColumnState)));
    for (int r = 0; r < kRows; ++r) {
      const int at = top_ + r;
      SetDisplayMode(at == current_ ? "u" : "h");
      LocateInWindow(r + 2, 1);
      if (at < static_cast<int>(rows_.size())) {
        WriteText(Row(chain_[rows_[static_cast<size_t>(at)]]));
      } else {
        SetDisplayMode("h");
        WriteText(at == 0 ? FixedWidth(Text(Say::Empty), kWidth) : std::string(kWidth, ' '));
      }
    }
    SetDisplayMode("h");
    // What was typed, in the frame's top right corner.
    LocateAbsolute(kTop, kRight - 16);
    SetDisplayMode("n");
    WriteText(typed_.empty() ? std::string(14, '\xcd') : FixedWidth(" " + typed_ + " ", 14));
    SetDisplayMode("h");
  }

  std::string StateText(const RegisterEntry& e, bool shortForm) const {
    const auto found = states_.find({e.series, e.number});
    if (found == states_.end()) return std::string();
    switch (found->second.kind) {
      case InvoiceState::Kind::Issued:
        return Text(Say::Issued);
      case InvoiceState::Kind::Cancelled:
        return Text(Say::Cancelled);
      case InvoiceState::Kind::Corrected:
        break;
    }
    return Text(shortForm ? Say::CorrectedShort : Say::CorrectedBy) + found->second.lastCorrection;
  }

  std::string Row(const RegisterEntry& e) const {
    // A corrective invoice says which invoice it corrects while it stands as issued.
    std::string state = StateText(e, true);
    if (e.IsCorrective() && state == Text(Say::Issued))
      state = Text(Say::Corrects) + PrintedInvoiceNumber(e.refSeries, e.refNumber);
    else if (state == Text(Say::Issued) && collected_.count({e.series, e.number}) != 0)
      state = CollectionStateWord(collected_.at({e.series, e.number}).state, SessionLanguage());
    return Columns(Number(e), ShownDate(e.date), Codes(e), e.recipientName, Amount(e.total), state);
  }

  void Jump(char typed) {
    const std::string wanted = typed_ + typed;
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (Names(chain_[rows_[i]], wanted)) {
        typed_ = wanted;
        current_ = static_cast<int>(i);
        return;
      }
    }
    // Still a beginning of what may name one: kept, the place unchanged.
    typed_ = wanted;
    Beep();
  }

  void Help() {
    std::string text = Text(Say::Help);
    const bool shown = ShowMessageWindow(kMessageRow, text) == 0;
    static_cast<void>(WaitForKey());
    if (shown) PopWindow();
  }

  // In the not-sending mode, what the detail's signature line needs: the
  // event log (which records must be signed) and the signed records file,
  // read again with the register; each record's signature is read by its
  // sequence when it is shown.
  void LoadKept() {
    const VeriFactuSettings settings = LoadVeriFactuSettings(Session.RootDir);
    keep_ = settings.Keeping();
    events_.clear();
    if (!keep_) return;
    (void)kept_.Open(Session.RootDir, "", "", true);
    keptStatus_ = kept_.FileStatus();
    if (keptStatus_ == 0) keptStatus_ = kept_.ReadEvents(events_);
    if (keptStatus_ == 0) verifier_ = &kept_.Verifier(settings);
  }

  // The checks of the record at chain_[at] against the one before it: one
  // record's fingerprint and seal, one signature, never the whole chain.
  RecordCheck CheckAt(size_t at) {
    const RegisterEntry& e = chain_[at];
    KeptRecord kept;
    const bool signedThere = keep_ && keptStatus_ == 0 && kept_.SignedRecords().Get(e.sequence, kept) == 0;
    return CheckOneRecord(e, at == 0 ? nullptr : &chain_[at - 1], signedThere ? &kept : nullptr, events_,
                          std::time(nullptr), keep_ && keptStatus_ == 0 ? verifier_ : nullptr);
  }

  // One line of the detail: a label, its value, and what a check says of it.
  struct DetailLine {
    DetailLine(std::string labelIn, std::string valueIn, std::string statusIn = {}, bool faultIn = false)
        : label(std::move(labelIn)), value(std::move(valueIn)), status(std::move(statusIn)), fault(faultIn) {}
    std::string label;
    std::string value;
    std::string status;  // a check's word and text, or empty
    bool fault = false;  // the check failed
  };

  static DetailLine Checked(const std::string& label, const std::string& value, bool ok, const std::string& text) {
    return {label, value, Text(ok ? Say::CheckOk : Say::CheckFault) + text, !ok};
  }

  // The chain's lines of the record at chain_[at]: its time, fingerprint,
  // previous fingerprint and, in the not-sending mode, signature.
  std::vector<DetailLine> ChainLines(size_t at) {
    const RegisterEntry& e = chain_[at];
    const RecordCheck c = CheckAt(at);
    const std::string before = at == 0 ? std::string() : std::to_string(chain_[at - 1].sequence);
    std::vector<DetailLine> lines;
    lines.push_back(Checked(Text(Say::LabelGenerated), LocalTime(e.generatedAt) + "   #" + std::to_string(e.sequence),
                            c.timeInOrder && c.timeNotFuture,
                            !c.timeInOrder ? Text(Say::TimeBefore) + before
                                           : Text(c.timeNotFuture ? Say::TimeOk : Say::TimeFuture)));
    lines.push_back(Checked(Text(Say::LabelFingerprint), e.fingerprint, c.fingerprintMatches && c.sealMatches,
                            Text(!c.fingerprintMatches ? Say::FingerprintBad
                                                       : c.sealMatches ? Say::FingerprintOk : Say::SealBad)));
    std::string link;
    if (!c.sequenceFollows) link = Text(Say::LinkGap) + std::to_string(c.expectedSequence);
    else if (at == 0) link = Text(c.linksToPrevious ? Say::LinkFirst : Say::LinkFirstBad);
    else link = Text(c.linksToPrevious ? Say::LinkOk : Say::LinkBad) + before;
    lines.push_back(Checked(Text(Say::LabelPrevious), e.previousFingerprint, c.sequenceFollows && c.linksToPrevious,
                            link));
    if (!keep_) return lines;
    const std::string signature = Text(Say::LabelSignature);
    if (keptStatus_ != 0) lines.push_back(Checked(signature, "", false, Text(Say::SignaturesUnreadable) + std::to_string(keptStatus_)));
    else if (!c.mustBeSigned) lines.push_back({signature, "", Text(Say::SignatureNotRequired), false});
    else lines.push_back(Checked(signature, "", c.SignatureSound(), SignatureText(c)));
    return lines;
  }

  static std::string SignatureText(const RecordCheck& c) {
    if (!c.signatureKept) return Text(Say::SignatureMissing);
    switch (c.signature) {
      case SignatureStatus::Valid: return Text(c.signedIsRecord ? Say::SignatureOk : Say::SignatureOtherRecord);
      case SignatureStatus::Missing: return Text(Say::SignatureMissing);
      case SignatureStatus::Unreadable: return Text(Say::SignatureUnreadable);
      case SignatureStatus::Broken: return Text(Say::SignatureBroken);
      case SignatureStatus::WrongProperties: return Text(Say::SignatureProperties);
      case SignatureStatus::NotIssuer: return Text(Say::SignatureNotIssuer);
      case SignatureStatus::OutsideValidity: return Text(Say::SignatureValidity);
      case SignatureStatus::Untrusted: return Text(Say::SignatureUntrusted);
    }
    return Text(Say::SignatureBroken);
  }

  // Every line of the record at chain_[at]'s detail. A cancellation shows
  // the invoice it cancels and the chain's lines.
  std::vector<DetailLine> DetailLines(size_t at) {
    const RegisterEntry& e = chain_[at];
    std::vector<DetailLine> lines;
    if (e.IsCancellation()) {
      lines = {{Text(Say::ColumnNumber), PrintedInvoiceNumber(e.refSeries, e.refNumber) + "   " + ShownDate(e.refDate)},
               {Text(Say::LabelType), Text(Say::CancellationType)},
               {Text(Say::LabelIssuer), e.issuerTaxId}};
      for (DetailLine& line : ChainLines(at)) lines.push_back(std::move(line));
      return lines;
    }
    lines = {
        {Text(Say::ColumnNumber), Number(e) + "   " + ShownDate(e.date)},
        {Text(Say::LabelType), e.AgencyInvoiceType() + (e.IsCorrective() ? std::string{' ', e.correctionForm} : std::string())},
        {Text(Say::LabelCorrects),
         e.IsCorrective() ? PrintedInvoiceNumber(e.refSeries, e.refNumber) + "   " + ShownDate(e.refDate) : ""},
        {Text(Say::LabelOwner), Codes(e)},
        {Text(Say::LabelRecipient), Trim(e.recipientTaxId) + "   " + e.recipientName},
        {Text(Say::LabelIssuer), e.issuerTaxId},
        {Text(Say::LabelBase), Amount(e.base)},
        {Text(Say::LabelVat), Rate(e.vatRate) + " %   " + Amount(e.vat)},
        {Text(Say::LabelWithholding), Rate(e.withholdingRate) + " %   " + Amount(e.withholding)},
        {Text(Say::LabelTotal), Amount(e.total)},
    };
    for (DetailLine& line : ChainLines(at)) lines.push_back(std::move(line));
    lines.push_back({Text(Say::LabelArchive), e.archive + Text(Say::LabelPage) + std::to_string(e.page)});
    std::string state = StateText(e, false);
    if (const auto debit = collected_.find({e.series, e.number}); debit != collected_.end()) {
      const CollectionLine& c = debit->second;
      std::string what = CollectionStateWord(c.state, SessionLanguage()) + " " + CollectionDateText(c.collectionDate) +
                         " " + c.mandate;
      if (c.reason != "-") what += " (" + c.reason + ")";
      state += "; " + CollectionWords(CollectionText::ListCollection, SessionLanguage(), what);
    }
    lines.push_back({Text(Say::ColumnState), state});
    return lines;
  }

  // Draws the lines in the open window: the label, then the value, or on
  // the next line when too long (a fingerprint); a check's word and text
  // after the value, or under it when there is no room, a fault in the
  // messages' colour. A blank line above them when they leave room for it.
  static void DrawDetail(const std::vector<DetailLine>& lines) {
    constexpr size_t kLine = kWidth - 2;  // columns from 2
    constexpr size_t kValue = 21;         // the value's column, less 1
    struct Cell {
      int row;
      int col;
      std::string text;
      bool fault;
    };
    std::vector<Cell> cells;
    int row = 0;
    for (const DetailLine& line : lines) {
      if (line.value.empty() && line.status.empty()) continue;
      const bool fits = kValue + line.value.size() <= kLine;
      cells.push_back({row, 2, FixedWidth(line.label, 20) + (fits ? line.value : std::string()), false});
      if (!line.status.empty()) {
        const size_t after = fits && !line.value.empty() ? kValue + line.value.size() + 3 : kValue;
        const std::string status = line.status.substr(0, kLine - kValue);
        if (after + status.size() <= kLine) cells.push_back({row, static_cast<int>(after) + 1, status, line.fault});
        else cells.push_back({++row, static_cast<int>(kValue) + 1, status, line.fault});
      }
      if (!fits) cells.push_back({++row, 4, line.value.substr(0, kLine - 2), false});
      ++row;
    }
    constexpr int kInside = kBottom - 1 - (kTop + 1) - 1;  // the window's rows inside its frame
    const int first = row < kInside ? 2 : 1;
    for (const Cell& cell : cells) {
      if (first + cell.row > kInside) break;
      LocateInWindow(first + cell.row, cell.col);
      SetDisplayMode(cell.fault ? "rh" : "h");
      WriteText(cell.text);
    }
    SetDisplayMode("h");
  }

  // Shows one record of the chain at a time, from the invoice chosen in the
  // list: PgDn and PgUp step to the next and the previous record of the
  // chain (cancellations and correction records too), Home and End to its
  // first and last; C, R and A act on an invoice's record; F1 explains the
  // screen. Esc goes back to the list, on the invoice last shown.
  void Detail() {
    size_t at = rows_[static_cast<size_t>(current_)];
    // The window stays open while the user steps through the chain.
    bool open = false;
    for (;;) {
      const RegisterEntry e = chain_[at];
      ScopedDisplayMode mode("n");
      if (!open && PushWindow(kTop + 1, kLeft, kBottom - 1, kRight) != 0) return;
      open = true;
      DrawWindowFrame(2);
      WriteFrameKeys(Text(e.IsCancellation() ? Say::ChainKeys : Say::DetailKeys), 2);
      SetDisplayMode("h");
      DrawDetail(DetailLines(at));
      const int key = WaitForKey();
      if (key != KeyPgDn && key != KeyPgUp && key != KeyHome && key != KeyEnd) {
        PopWindow();
        open = false;
      }
      const bool invoice = !e.IsCancellation();
      const size_t last = chain_.size() - 1;
      if (key == KeyPgDn || key == KeyPgUp) {
        if (key == KeyPgDn ? at == last : at == 0) Beep();
        else at = key == KeyPgDn ? at + 1 : at - 1;
      } else if (key == KeyHome || key == KeyEnd) {
        at = key == KeyHome ? 0 : last;
      } else if (invoice && (key == 'C' || key == 'c')) {
        Copy(e);
      } else if (invoice && (key == 'R' || key == 'r')) {
        Correct(e);
      } else if (invoice && (key == 'A' || key == 'a')) {
        Cancel(e);
      } else if (key == KeyF1) {
        Help();
      } else if (key == KeyEsc) {
        ShowInList(at);
        return;
      } else {
        Beep();
      }
      if (invoice && (key == 'R' || key == 'r' || key == 'A' || key == 'a')) {
        // Read again, and stay on the same record: a corrective invoice or
        // a cancellation comes in after it.
        if (!Load() || rows_.empty()) return;
        at = std::min(at, chain_.size() - 1);
        for (size_t i = 0; i < chain_.size(); ++i)
          if (chain_[i].sequence == e.sequence) at = i;
      }
    }
  }

  // The list's place on the invoice of chain_[at]: its own row, or, for a
  // cancellation, the invoice it cancels.
  void ShowInList(size_t at) {
    const RegisterEntry& e = chain_[at];
    for (size_t i = 0; i < rows_.size(); ++i) {
      const RegisterEntry& row = chain_[rows_[i]];
      if (rows_[i] == at || (e.IsCancellation() && row.series == e.refSeries && row.number == e.refNumber)) {
        current_ = static_cast<int>(i);
        return;
      }
    }
  }

  // Tells a problem of the register's actions; false when there is none.
  static bool Told(const IssuingProblem& problem) {
    if (problem.None()) return false;
    Tell(IssuingProblemText(problem, SessionLanguage(), true));
    return true;
  }

  void Copy(const RegisterEntry& e) {
    PrintablePage page;
    if (!Told(CopyOf(Session.RootDir, e, SessionLanguage(), page))) PrintPage(page, Number(e));
  }

  void Cancel(const RegisterEntry& e) {
    IssuingContext context(Session.RootDir, Session.ExeDir);
    if (Told(CheckCancel(context, reg_, chain_, e))) return;
    if (!Confirmed(Text(Say::NeverDelivered) + Number(e) + "?") || !Confirmed(Text(Say::CannotUndo) + Number(e) + "?"))
      return;
    const CancelResult done = ::Cancel(context, reg_, chain_, e);
    if (done.registered && done.problem.None())
      Tell(Text(Say::CancelledDone) + Number(e) + Text(Say::ReceiptsBack) + std::to_string(done.givenBack));
    else
      Told(done.problem);
    if (done.registered) Told(done.sending);
  }

  void Correct(const RegisterEntry& e) {
    if (!FieldExists(kCorrectionForm, 4)) return;
    IssuingContext context(Session.RootDir, Session.ExeDir);
    if (Told(CheckCorrect(context, reg_, chain_, e))) return;
    Correction correction;
    const auto found = states_.find({e.series, e.number});
    if (!AskCorrection(e, found == states_.end() ? e.base : found->second.base, correction)) return;
    const CorrectResult done = ::Correct(context, reg_, chain_, e, correction, SessionLanguage());
    if (Told(done.problem)) return;
    PrintPage(done.print, Text(Say::CorrectiveDone) + Number(done.corrective));
    Told(done.sending);
  }

  InvoiceRegister reg_;
  std::vector<RegisterEntry> chain_;
  std::map<InvoiceKey, InvoiceState> states_;
  std::vector<size_t> rows_;  // positions in chain_ of the invoices, newest first
  std::map<InvoiceKey, CollectionLine> collected_;  // each remitted invoice's last collection state
  // The not-sending mode's files (LoadKept), for the detail's signature line.
  bool keep_ = false;
  int16_t keptStatus_ = 0;  // 0, or the status of the read that failed
  std::vector<EventEntry> events_;
  KeptFiles kept_;
  const SignatureVerifier* verifier_ = nullptr;
  int current_ = 0;
  int top_ = 0;
  std::string typed_;
};

}  // namespace

void RegisterScreen(const PrintProgramStarter& runPrintProgram) {
  PrintProgram = runPrintProgram;
  RegisterView view;
  if (view.Load()) view.Run();
}
