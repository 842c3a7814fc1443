#include "invoicing/register_screen.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "console/tell.h"
#include "invoicing/keeping.h"
#include "invoicing/messages.h"
#include "invoicing/run.h"
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

namespace {

enum class Say {
  Title, ColumnNumber, ColumnDate, ColumnCodes, ColumnName, ColumnTotal, ColumnState,
  ListKeys, DetailKeys, YesNoKeys, Help, Empty, CannotRead,
  Issued, Cancelled, CorrectedShort, CorrectedBy,
  LabelType, LabelOwner, LabelRecipient, LabelIssuer, LabelBase, LabelVat, LabelWithholding, LabelTotal,
  LabelGenerated, LabelFingerprint, LabelPrevious, LabelArchive, LabelPage, LabelCorrects,
  NeverDelivered, CannotUndo, CancelledDone, ReceiptsBack, ReceiptsNotBack,
  AlreadyCancelled, CorrectedNoCancel, NothingChanges, BadCorrection, RegisterLocked, CorrectiveDone, Printed,
  NoArchive, ChangedMeanwhile, NotSigned,
};

constexpr MessageTable<Say, 46> kTexts{{{
    {Say::Title, {"REGISTRE DE FACTURES", "REGISTRO DE FACTURAS", "REXISTRO DE FACTURAS", "REGISTRE DE FACTURAS"}},
    {Say::ColumnNumber, {"Factura", "Factura", "Factura", "Factura"}},
    {Say::ColumnDate, {"Data", "Fecha", "Data", "Data"}},
    {Say::ColumnCodes, {"Prop/Fin", "Prop/Fin", "Prop/Fin", "Prop/Fin"}},
    {Say::ColumnName, {"Destinatari", "Destinatario", "Destinatario", "Destinatari"}},
    {Say::ColumnTotal, {"Total", "Total", "Total", "Total"}},
    {Say::ColumnState, {"Estat", "Estado", "Estado", "Estat"}},
    {Say::ListKeys,
     {"Intro Detall  F1 Ajuda  Esc Sortir", "Intro Detalle  F1 Ayuda  Esc Salir", "Intro Detalle  F1 Axuda  Esc Sa\xa1r",
      "Intro Detalh  F1 Ajuda  Esc Sortir"}},
    {Say::DetailKeys,
     {"C C\x95pia  R Rectificar  A Anul\xfalar  Esc Tornar", "C Copia  R Rectificar  A Anular  Esc Volver",
      "C Copia  R Rectificar  A Anular  Esc Volver", "C C\x95pia  R Rectificar  A Anullar  Esc Tornar"}},
    {Say::YesNoKeys, {"S S\xa1  N No", "S S\xa1  N No", "S Si  N Non", "S \xe3" "c  N Non"}},
    {Say::Help,
     {"REGISTRE DE FACTURES: les factures emeses, de la m\x82s nova a la m\x82s antiga, amb el seu estat. Les fletxes, "
      "RePag, AvPag, Inici i Fi la recorren; escriviu un n\xa3mero de factura (A/00000007 o 7) o un codi de propietari "
      "per anar-hi. Intro obre el detall de la factura: C n'imprimeix una c\x95pia marcada DUPLICAT, R en fa una "
      "factura rectificativa i A l'anul\xfala si es va emetre per error i no s'ha lliurat mai. Esc torna al formulari.",
      "REGISTRO DE FACTURAS: las facturas emitidas, de la m\xa0s nueva a la m\xa0s antigua, con su estado. Las flechas, "
      "RePag, AvPag, Inicio y Fin la recorren; escriba un n\xa3mero de factura (A/00000007 o 7) o un c\xa2" "digo de "
      "propietario para ir a ella. Intro abre el detalle de la factura: C imprime una copia marcada DUPLICADO, R hace "
      "una factura rectificativa y A la anula si se emiti\xa2 por error y nunca se entreg\xa2. Esc vuelve al formulario.",
      "REXISTRO DE FACTURAS: as facturas emitidas, da m\xa0is nova \xa0 m\xa0is antiga, co seu estado. As frechas, "
      "RePax, AvPax, Inicio e Fin perc\xa3rrena; escriba un n\xa3mero de factura (A/00000007 ou 7) ou un c\xa2" "digo de "
      "propietario para ir a ela. Intro abre o detalle da factura: C imprime unha copia marcada DUPLICADO, R fai unha "
      "factura rectificativa e A an\xa3lraa se se emitiu por erro e nunca se entregou. Esc volve ao formulario.",
      "REGISTRE DE FACTURAS: las facturas emesas, de la mai nov\x85 a la mai vi\x8alha, amb lor estat. Las sagetas, "
      "RePag, AvPag, Inici e Fin la percorron; escriv\x8atz un num\x8aro de factura (A/00000007 o 7) o un c\x95" "di de "
      "proprietari per i anar. Intro dobr\xa1s lo detalh de la factura: C n'imprim\xa1s una c\x95pia marcada DUPLICATA, "
      "R ne fa una factura rectificativa e A l'anulla se fogu\x8at emesa per error e es pas jamai estada liurada. Esc "
      "torna al formulari."}},
    {Say::Empty,
     {"NO HI HA CAP FACTURA AL REGISTRE", "NO HAY NINGUNA FACTURA EN EL REGISTRO", "NON HAI NINGUNHA FACTURA NO REXISTRO",
      "I A PAS CAP DE FACTURA AL REGISTRE"}},
    {Say::CannotRead,
     {"NO ES POT LLEGIR EL REGISTRE DE FACTURES, ESTAT ", "NO SE PUEDE LEER EL REGISTRO DE FACTURAS, ESTADO ",
      "NON SE PODE LER O REXISTRO DE FACTURAS, ESTADO ", "SE P\xe3T PAS LEGIR LO REGISTRE DE FACTURAS, ESTAT "}},
    {Say::Issued, {"emesa", "emitida", "emitida", "emesa"}},
    {Say::Cancelled, {"anul\xfalada", "anulada", "anulada", "anullada"}},
    {Say::CorrectedShort, {"rect. ", "rect. ", "rect. ", "rect. "}},
    {Say::CorrectedBy, {"rectificada per ", "rectificada por ", "rectificada por ", "rectificada per "}},
    {Say::LabelType, {"Tipus", "Tipo", "Tipo", "Tipe"}},
    {Say::LabelOwner, {"Propietari / finca", "Propietario / finca", "Propietario / finca", "Proprietari / finca"}},
    {Say::LabelRecipient, {"Destinatari", "Destinatario", "Destinatario", "Destinatari"}},
    {Say::LabelIssuer, {"NIF emissor", "NIF emisor", "NIF emisor", "NIF emissor"}},
    {Say::LabelBase, {"Base imposable", "Base imponible", "Base impo\xa4ible", "Basa imposabla"}},
    {Say::LabelVat, {"IVA", "IVA", "IVE", "TVA"}},
    {Say::LabelWithholding, {"Retenci\xa2", "Retenci\xa2n", "Retenci\xa2n", "Retencion"}},
    {Say::LabelTotal, {"Total", "Total", "Total", "Total"}},
    {Say::LabelGenerated, {"Registrada", "Registrada", "Rexistrada", "Registrada"}},
    {Say::LabelFingerprint, {"Empremta", "Huella", "Pegada", "Emprenta"}},
    {Say::LabelPrevious, {"Anterior", "Anterior", "Anterior", "Anterior"}},
    {Say::LabelArchive, {"Arxiu", "Archivo", "Arquivo", "Archiu"}},
    {Say::LabelPage, {" p\x85gina ", " p\xa0gina ", " p\xa0xina ", " pagina "}},
    {Say::LabelCorrects, {"Rectifica", "Rectifica", "Rectifica", "Rectifica"}},
    {Say::NeverDelivered,
     {"NOM\x90S ES POT ANUL\xfaLAR UNA FACTURA EMESA PER ERROR, QUE NO S'HA LLIURAT MAI. NO S'HA LLIURAT MAI LA FACTURA ",
      "S\xe0LO SE PUEDE ANULAR UNA FACTURA EMITIDA POR ERROR, QUE NUNCA SE ENTREG\xe0. \xa8NUNCA SE ENTREG\xe0 LA FACTURA ",
      "S\xe0 SE PODE ANULAR UNHA FACTURA EMITIDA POR ERRO, QUE NUNCA SE ENTREGOU. NUNCA SE ENTREGOU A FACTURA ",
      "SONQUE SE P\xe3T ANULLAR UNA FACTURA EMESA PER ERROR, JAMAI LIURADA. ES PAS JAMAI ESTADA LIURADA LA FACTURA "}},
    {Say::CannotUndo,
     {"L'ANUL\xfaLACI\xe0 NO ES POT DESFER. ANUL\xfaLEU LA FACTURA ", "LA ANULACI\xe0N NO SE PUEDE DESHACER. \xa8" "ANULA LA FACTURA ",
      "A ANULACI\xe0N NON SE PODE DESFACER. ANULA A FACTURA ", "L'ANULLACION SE P\xe3T PAS DESFAR. ANULLATZ LA FACTURA "}},
    {Say::CancelledDone, {"FACTURA ANUL\xfaLADA: ", "FACTURA ANULADA: ", "FACTURA ANULADA: ", "FACTURA ANULLADA: "}},
    {Say::ReceiptsBack,
     {". REBUTS TORNATS A PENDENTS DE FACTURAR: ", ". RECIBOS DEVUELTOS A PENDIENTES DE FACTURAR: ",
      ". RECIBOS DEVOLTOS A PENDENTES DE FACTURAR: ", ". RECEPISSES TORNATS A PAS FACTURATS: "}},
    {Say::ReceiptsNotBack,
     {"LA FACTURA EST\xb7 ANUL\xfaLADA, PER\xe3 ELS REBUTS ES TORNARAN EN LA PROPERA OBERTURA, ESTAT ",
      "LA FACTURA EST\xb5 ANULADA, PERO LOS RECIBOS SE DEVOLVER\xb5N EN LA PR\xe0XIMA APERTURA, ESTADO ",
      "A FACTURA EST\xb5 ANULADA, PERO OS RECIBOS DEVOLVERANSE NA PR\xe0XIMA APERTURA, ESTADO ",
      "LA FACTURA ES ANULLADA, MAS LOS RECEPISSES SE TORNAR\xb5N A LA PROPDANA DOBERTURA, ESTAT "}},
    {Say::AlreadyCancelled,
     {"LA FACTURA JA EST\xb7 ANUL\xfaLADA: ", "LA FACTURA YA EST\xb5 ANULADA: ", "A FACTURA XA EST\xb5 ANULADA: ",
      "LA FACTURA ES JA ANULLADA: "}},
    {Say::CorrectedNoCancel,
     {"AQUESTA FACTURA T\x90 FACTURES RECTIFICATIVES: NO ES POT ANUL\xfaLAR, RECTIFIQUEU-LA: ",
      "ESTA FACTURA TIENE FACTURAS RECTIFICATIVAS: NO SE PUEDE ANULAR, RECTIF\xd6QUELA: ",
      "ESTA FACTURA TEN FACTURAS RECTIFICATIVAS: NON SE PODE ANULAR, RECTIF\xd6QUEA: ",
      "AQUESTA FACTURA A DE FACTURAS RECTIFICATIVAS: SE P\xe3T PAS ANULLAR, RECTIFICATZ-LA: "}},
    {Say::NothingChanges,
     {"ELS IMPORTS NO CANVIEN LA FACTURA: NO HI HA RES A RECTIFICAR",
      "LOS IMPORTES NO CAMBIAN LA FACTURA: NO HAY NADA QUE RECTIFICAR",
      "OS IMPORTES NON CAMBIAN A FACTURA: NON HAI NADA QUE RECTIFICAR",
      "LOS IMPORTS CAMBIAN PAS LA FACTURA: I A PAS RES A RECTIFICAR"}},
    {Say::BadCorrection,
     {"CAUSA (R1 A R4), FORMA (S O I) O IMPORT NO V\xb7LID: ", "CAUSA (R1 A R4), FORMA (S O I) O IMPORTE NO V\xb5LIDO: ",
      "CAUSA (R1 A R4), FORMA (S OU I) OU IMPORTE NON V\xb5LIDO: ", "CAUSA (R1 A R4), F\xe3RMA (S O I) O IMPORT PAS VALID: "}},
    {Say::RegisterLocked,
     {"EL REGISTRE EST\xb7 OCUPAT PER UNA ALTRA FACTURACI\xe0; TORNEU-HO A PROVAR",
      "EL REGISTRO EST\xb5 OCUPADO POR OTRA FACTURACI\xe0N; VUELVA A INTENTARLO",
      "O REXISTRO EST\xb5 OCUPADO POR OUTRA FACTURACI\xe0N; T\x90NTEO DE NOVO",
      "LO REGISTRE ES OCUPAT PER UNA AUTRA FACTURACION; TORNATZ ENSAJAR"}},
    {Say::CorrectiveDone,
     {"FACTURA RECTIFICATIVA REGISTRADA: ", "FACTURA RECTIFICATIVA REGISTRADA: ", "FACTURA RECTIFICATIVA REXISTRADA: ",
      "FACTURA RECTIFICATIVA REGISTRADA: "}},
    {Say::Printed, {". IMPRESA A: ", ". IMPRESA EN: ", ". IMPRESA EN: ", ". IMPRIMIDA A: "}},
    {Say::NoArchive,
     {"NO ES POT LLEGIR LA C\xe3PIA ARXIVADA ", "NO SE PUEDE LEER LA COPIA ARCHIVADA ", "NON SE PODE LER A COPIA ARQUIVADA ",
      "SE P\xe3T PAS LEGIR LA C\xe3PIA ARCHIVADA "}},
    {Say::ChangedMeanwhile,
     {"UN ALTRE PROC\x90S ACABA DE RECTIFICAR O ANUL\xfaLAR AQUESTA FACTURA: NO S'HA ESCRIT RES",
      "OTRO PROCESO ACABA DE RECTIFICAR O ANULAR ESTA FACTURA: NO SE HA ESCRITO NADA",
      "OUTRO PROCESO ACABA DE RECTIFICAR OU ANULAR ESTA FACTURA: NON SE ESCRIBIU NADA",
      "UN AUTRE PROC\x90S VEN DE RECTIFICAR O ANULLAR AQUESTA FACTURA: S'ES PAS RES ESCRICH"}},
    {Say::NotSigned,
     {"NO ES POT SIGNAR EL REGISTRE; NO S'HA FET RES: ", "NO SE PUEDE FIRMAR EL REGISTRO; NO SE HA HECHO NADA: ",
      "NON SE PODE ASINAR O REXISTRO; NON SE FIXO NADA: ", "SE P\xe3T PAS SIGNAR LO REGISTRE; ES PAS RES ESTAT FACH: "}},
}}};

constexpr int16_t kCorrectionForm = 3;
constexpr int kMessageRow = 12;
// The list's window: the whole screen below the session title.
constexpr int kTop = 2, kLeft = 1, kBottom = 24, kRight = 80;
constexpr int kRows = kBottom - kTop - 2;  // the header's line, then the invoices
constexpr size_t kWidth = kRight - kLeft - 1;

// A key that types a number or a code to jump to.
bool Typing(int key) {
  return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= 'a' && key <= 'z') || key == '/';
}

Language SessionLanguage() { return LanguageFromCode(Session.Language); }
std::string Text(Say id) { return kTexts.Text(id, SessionLanguage()); }
std::string RunText(RunMessage id) { return kRunTexts.Text(id, SessionLanguage()); }
void Tell(const std::string& text) { TellUserAndWait(kMessageRow, text); }

std::string Number(const RegisterEntry& e) { return PrintedInvoiceNumber(e.series, e.number); }

std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

// The owner's four digits and the property's last three, as the form takes them.
std::string Codes(const RegisterEntry& e) {
  const std::string property = KeyDigits(e.propertyCode);
  return KeyDigits(e.ownerCode) + "/" + property.substr(property.size() > 3 ? property.size() - 3 : 0);
}

std::string Columns(const std::string& number, const std::string& date, const std::string& codes,
                    const std::string& name, const std::string& total, const std::string& state) {
  return FixedWidth(FixedWidth(number, 12) + " " + FixedWidth(date, 10) + " " + FixedWidth(codes, 8) + " " +
                        FixedWidth(name, 16) + " " + FixedWidthRight(total, 10) + " " + state,
                    kWidth);
}

std::string StripZeros(const std::string& digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string() : digits.substr(first);
}

// Whether what the user typed names the invoice: its number as printed,
// its series and number without the zeros, its number alone, or its
// owner's code.
bool Names(const RegisterEntry& e, std::string typed) {
  for (char& c : typed) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (typed == Number(e)) return true;
  const size_t slash = typed.rfind('/');
  const std::string digits = typed.substr(slash == std::string::npos ? 0 : slash + 1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  if (slash != std::string::npos) return typed.substr(0, slash) == e.series && StripZeros(digits) == std::to_string(e.number);
  return StripZeros(digits) == std::to_string(e.number) || StripZeros(digits) == StripZeros(KeyDigits(e.ownerCode));
}

// Today as YYYYMMDD, from the register's clock.
std::string Today() {
  const std::string now = GenerationTimeNow();
  return now.size() >= 10 ? now.substr(0, 4) + now.substr(5, 2) + now.substr(8, 2) : std::string();
}

// The session's spool file, which the print program prints, and its
// folder (ending in "/"), where its side files are.
std::string SpoolDirectory() { return HostDirectory(Session.TempDir); }
std::string SpoolFile() { return SpoolDirectory() + "zepprint.tmp"; }

// Prints an archived invoice page (its DEVICE line replaced by the
// session's output device) with its code through the print program, and
// tells the user where it went or how it failed.
void PrintPage(std::string page, const std::string& code, const std::string& done) {
  if (page.compare(0, 6, "DEVICE") == 0) page.erase(0, std::min(page.size(), page.find('\n') + 1));
  const std::string spoolDir = SpoolDirectory();
  std::remove((spoolDir + "zepprint.out").c_str());
  std::remove((spoolDir + "zepprint.qr").c_str());
  if (WriteWholeFile(SpoolFile(), "DEVICE" + Session.OutputDevice + "\r\n" + page) != 0 ||
      (!code.empty() && WriteWholeFile(spoolDir + "zepprint.qr", code) != 0)) {
    Tell(done + ". " + RunText(RunMessage::SpoolNotWritten) + SpoolFile());
    return;
  }
  const ChildEnd end = FeeInvoiceRunHooks().runPrintProgram();
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

// Asks a yes-or-no question in a window: true for S.
bool Confirmed(const std::string& question) {
  std::string text = question;
  const bool shown = ShowMessageWindow(kMessageRow, text, Text(Say::YesNoKeys)) == 0;
  const int key = WaitForKey();
  if (shown) PopWindow();
  return key == 'S' || key == 's';
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
    return Columns(Number(e), AgencyDate(e.date), Codes(e), e.recipientName, AgencyAmount(e.total), StateText(e, true));
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

  const RegisterEntry& Current() const { return chain_[rows_[static_cast<size_t>(current_)]]; }

  void Detail() {
    for (;;) {
      const RegisterEntry e = Current();
      ScopedDisplayMode mode("n");
      if (PushWindow(kTop + 1, kLeft, kBottom - 1, kRight) != 0) return;
      DrawWindowFrame(2);
      WriteFrameKeys(Text(Say::DetailKeys), 2);
      SetDisplayMode("h");
      const std::vector<std::pair<std::string, std::string>> lines = {
          {Text(Say::ColumnNumber), Number(e) + "   " + AgencyDate(e.date)},
          {Text(Say::LabelType), e.AgencyInvoiceType() +
                                     (e.IsCorrective() ? std::string{' ', e.correctionForm} : std::string())},
          {Text(Say::LabelCorrects),
           e.IsCorrective() ? PrintedInvoiceNumber(e.refSeries, e.refNumber) + "   " + AgencyDate(e.refDate) : ""},
          {Text(Say::LabelOwner), Codes(e)},
          {Text(Say::LabelRecipient), Trim(e.recipientTaxId) + "   " + e.recipientName},
          {Text(Say::LabelIssuer), e.issuerTaxId},
          {Text(Say::LabelBase), AgencyAmount(e.base)},
          {Text(Say::LabelVat), AgencyAmount(e.vatRate) + " %   " + AgencyAmount(e.vat)},
          {Text(Say::LabelWithholding), AgencyAmount(e.withholdingRate) + " %   " + AgencyAmount(e.withholding)},
          {Text(Say::LabelTotal), AgencyAmount(e.total)},
          {Text(Say::LabelGenerated), e.generatedAt + "   #" + std::to_string(e.sequence)},
          {Text(Say::LabelFingerprint), e.fingerprint},
          {Text(Say::LabelPrevious), e.previousFingerprint},
          {Text(Say::LabelArchive), e.archive + Text(Say::LabelPage) + std::to_string(e.page)},
          {Text(Say::ColumnState), StateText(e, false)},
      };
      // A value too long for its line (a fingerprint) goes on the next one.
      int row = 2;
      for (const auto& [label, value] : lines) {
        if (value.empty()) continue;
        LocateInWindow(row++, 2);
        const bool fits = 21 + value.size() <= kWidth - 2;
        WriteText(FixedWidth(label, 20) + (fits ? value : std::string()));
        if (fits) continue;
        LocateInWindow(row++, 4);
        WriteText(value);
      }
      const int key = WaitForKey();
      PopWindow();
      if (key == 'C' || key == 'c') Copy(e);
      else if (key == 'R' || key == 'r') Correct(e);
      else if (key == 'A' || key == 'a') Cancel(e);
      else if (key == KeyEsc) return;
      else Beep();
      if (key == 'R' || key == 'r' || key == 'A' || key == 'a') {
        // Read again, and stay on the same invoice: a corrective invoice
        // comes in above it.
        if (!Load() || rows_.empty()) return;
        for (size_t i = 0; i < rows_.size(); ++i)
          if (chain_[rows_[i]].series == e.series && chain_[rows_[i]].number == e.number) current_ = static_cast<int>(i);
      }
    }
  }

  // The invoice's archived page and its code line; false after telling why not.
  bool ArchivedPage(const RegisterEntry& e, std::string& page, std::string& code) const {
    const std::string archive = HostPath(Session.RootDir + "ARXIU\\") + e.archive;
    std::string spool;
    if (e.archive.empty() || ReadRegularFile(archive, spool, 256u << 20) != ReadResult::Ok ||
        !SpoolOfPage(spool, e.page, page)) {
      Tell(Text(Say::NoArchive) + archive);
      return false;
    }
    std::string codes;
    static_cast<void>(ReadRegularFile(archive.substr(0, archive.find_last_of('.')) + ".qr", codes, 1u << 20));
    code = CodeLineOfPage(codes, e.page);
    return true;
  }

  void Copy(const RegisterEntry& e) {
    std::string page;
    std::string code;
    if (!ArchivedPage(e, page, code)) return;
    PrintPage(MarkedCopyPage(page, kPageTexts.Text(PageText::CopyMark, SessionLanguage())), code, Number(e));
  }

  // How records made now get their XML; false after telling why not.
  bool RecordMaker(RecordXmlMaker& makerOut) const {
    SoftwareIdentity software;
    std::string field;
    std::string installation;
    const int made = InstallationNumber(Session.RootDir, installation);
    if (LoadSoftwareIdentity(Session.RootDir, software, field) != SoftwareProblem::None || made != 0) {
      Tell(made != 0 ? RunText(RunMessage::NoInstallationNumber) + std::to_string(made)
                     : RunText(RunMessage::SoftwareIdentityInvalid) + SoftwareFileName + " " + field);
      return false;
    }
    const std::string issuerName = Trim(IssuerDetails[IssuerItem::Name]);
    makerOut = [=](const RegisterEntry& entry, const RegisterEntry* previous) {
      return RecordXml(entry, previous, issuerName, software, installation);
    };
    return true;
  }

  // In the not-sending mode, the key and the kept files for a record made
  // here; false after telling why records cannot be signed.
  bool KeepingReady(KeepingMode& keeping) {
    StartKeeping(keeping, reg_);
    const std::string problem = KeepingProblemText(keeping, Text(Say::NotSigned));
    if (!problem.empty()) Tell(problem);
    return problem.empty();
  }

  // Tells why the register did not take a record (signError: why it could
  // not be signed, when that was why).
  void TellTrouble(int16_t status, const RegisterRefusal& refusal, const std::string& signError) const {
    using Rule = RegisterRefusal::Rule;
    if (status == RmFileLocked) Tell(Text(Say::RegisterLocked));
    else if (status == RegisterRefused && refusal.rule == Rule::DateBeforeLast)
      Tell(RunText(RunMessage::DateBeforeLast) + refusal.series + RunText(RunMessage::FirstDateAllowed) +
           ShownDate(refusal.expectedDate));
    else if (status == RegisterRefused && refusal.rule == Rule::NoLongerAllowed)
      Tell(Text(Say::ChangedMeanwhile));
    else if (status == RegisterRefused && (refusal.rule == Rule::LastRecordBroken || refusal.rule == Rule::LastRecordLater))
      Tell(RunText(RunMessage::LastRecordBroken) + PrintedInvoiceNumber(refusal.series, refusal.number));
    else if (!signError.empty()) Tell(Text(Say::NotSigned) + Cp858ForDisplay(signError));
    else Tell(RunText(RunMessage::RegisterNotWritten) + RunText(RunMessage::Status) + std::to_string(status));
  }

  // Tells a refusal; false when there is none.
  bool Refused(AmendRefusal refusal, const RegisterEntry& e) const {
    switch (refusal) {
      case AmendRefusal::None:
        return false;
      case AmendRefusal::NotInRegister:
      case AmendRefusal::Cancelled:
        Tell(Text(Say::AlreadyCancelled) + Number(e));
        break;
      case AmendRefusal::Corrected:
        Tell(Text(Say::CorrectedNoCancel) + Number(e));
        break;
      case AmendRefusal::NothingChanges:
        Tell(Text(Say::NothingChanges));
        break;
      case AmendRefusal::AmountOutOfRange:
        Tell(Text(Say::BadCorrection));
        break;
    }
    return true;
  }

  void Cancel(const RegisterEntry& e) {
    RecordXmlMaker makeXml;
    if (Refused(CheckCancellation(chain_, e), e)) return;
    KeepingMode keeping;
    if (!KeepingReady(keeping)) return;
    if (!Confirmed(Text(Say::NeverDelivered) + Number(e) + "?") || !Confirmed(Text(Say::CannotUndo) + Number(e) + "?"))
      return;
    if (!RecordMaker(makeXml)) return;
    const AmendPlaces places{HostPath(Session.RootDir + "DADES\\"),
                             HostPath(Session.RootDir + CollectionFileName) + ".dat",
                             HostPath(Session.RootDir + "ARXIU\\")};
    RegisterRefusal refusal;
    int32_t givenBack = 0;
    bool registered = false;
    std::string signError;
    const int16_t status = CancelInvoice(reg_, e, places, GenerationTimeNow, refusal, {}, makeXml, givenBack,
                                         registered, keeping.Signer(signError));
    if (registered) keeping.Registered();
    if (!registered) TellTrouble(status, refusal, signError);
    else if (status != 0) Tell(Text(Say::ReceiptsNotBack) + std::to_string(status));
    else Tell(Text(Say::CancelledDone) + Number(e) + Text(Say::ReceiptsBack) + std::to_string(givenBack));
  }

  void Correct(const RegisterEntry& e) {
    const RegisterSettings settings = LoadRegisterSettings(Session.RootDir);
    const std::string series = settings.correctiveSeries;
    if (!SeriesFitsRegister(series) || series.size() > 5) {
      Tell(RunText(RunMessage::SeriesNotPrintable) + "[Registre] SerieRectificativa" + RunText(RunMessage::SeriesText) +
           series);
      return;
    }
    if (!FieldExists(kCorrectionForm, 4)) return;
    const auto found = states_.find({e.series, e.number});
    if (found != states_.end() && found->second.kind == InvoiceState::Kind::Cancelled) {
      Tell(Text(Say::AlreadyCancelled) + Number(e));
      return;
    }
    KeepingMode keeping;
    if (!KeepingReady(keeping)) return;
    // A record that names no recipient the agency takes cannot be made, so
    // cannot be signed either.
    if (keeping.Active() && ClassifyRecipientTaxId(e.recipientTaxId).kind == RecipientIdKind::NotIdentifiable) {
      Tell(RunText(RunMessage::RecipientsNotSignable) + Number(e));
      return;
    }
    SetFieldValueOf(kCorrectionForm, 1, "R1");
    SetFieldValueOf(kCorrectionForm, 2, "I");
    // The amounts are typed whole: the invoice's own are in its detail.
    SetFieldValueOf(kCorrectionForm, 3, std::string());
    SetFieldValueOf(kCorrectionForm, 4, std::string());
    int16_t form = kCorrectionForm;
    int16_t key = 0;
    RunForm(form, 0, 0, key);
    if (key == KeyEsc) return;
    Correction correction;
    correction.type = Trim(FieldValueOf(kCorrectionForm, 1));
    for (char& c : correction.type) c = static_cast<char>(c == 'r' ? 'R' : c);
    const std::string how = Trim(FieldValueOf(kCorrectionForm, 2));
    correction.form = how == "S" || how == "s" ? 'S' : 'I';
    const std::string fees = Trim(FieldValueOf(kCorrectionForm, 3));
    const std::string expenses = Trim(FieldValueOf(kCorrectionForm, 4));
    if (!IsCorrectionType(correction.type) || (how != "S" && how != "s" && how != "I" && how != "i") ||
        !ParseEuros(fees, correction.fees) || !ParseEuros(expenses.empty() ? "0" : expenses, correction.expenses)) {
      Tell(Text(Say::BadCorrection) + correction.type + " " + how + " " + fees + " " + expenses);
      return;
    }
    SeriesState state;
    int16_t status = reg_.StateOf(series, state);
    if (status != RmSuccess) {
      Tell(Text(Say::CannotRead) + std::to_string(status));
      return;
    }
    RegisterEntry corrective;
    const std::string today = Today();
    if (Refused(MakeCorrective(chain_, e, correction, series, state.highest + 1, today, corrective), e)) return;
    RecordXmlMaker makeXml;
    std::string page;
    std::string code;
    if (!RecordMaker(makeXml) || !ArchivedPage(e, page, code)) return;

    const Language language = SessionLanguage();
    auto text = [language](PageText id) { return std::string(kPageTexts.Text(id, language)); };
    const PageText causes[] = {PageText::CauseR1, PageText::CauseR2, PageText::CauseR3, PageText::CauseR4};
    CorrectivePageTexts texts;
    texts.number = Number(corrective);
    texts.date = ShownDate(today);
    texts.differences = corrective.correctionForm != 'S';
    texts.title = text(PageText::CorrectiveTitle) + text(texts.differences ? PageText::ByDifferences : PageText::BySubstitution);
    texts.corrects = text(PageText::CorrectsInvoice) + Number(e) + " " + ShownDate(e.date);
    texts.cause = text(causes[corrective.invoiceType[1] - '1']);
    texts.feesLabel = text(PageText::FeesLabel);
    texts.expensesLabel = text(PageText::ExpensesLabel);
    texts.baseLabel = text(PageText::BaseDifference);
    texts.fees = correction.fees;
    texts.expenses = correction.expenses;
    texts.base = corrective.base;
    texts.vat = corrective.vat;
    texts.withholding = corrective.withholding;
    texts.total = corrective.total;
    const std::string correctivePage = CorrectivePage(page, texts);

    // Archived as a run of its own, with its code, before it is registered.
    const std::string name = ArchiveStem('R', corrective.number) + ".zsp";
    const std::string archived = HostPath(Session.RootDir + "ARXIU\\") + name;
    const std::string archivedCodes = archived.substr(0, archived.size() - 4) + ".qr";
    const std::string codes = "1\t" + TaxQrUrl(corrective, settings.testEnvironment) + "\n";
    if (WriteWholeFile(archived, correctivePage, Placement::NeverOverwrite, 0644) != 0) {
      Tell(RunText(RunMessage::SpoolNotArchived) + archived);
      return;
    }
    if (WriteWholeFile(archivedCodes, codes, Placement::NeverOverwrite, 0644) != 0) {
      std::remove(archived.c_str());
      Tell(RunText(RunMessage::SpoolNotArchived) + archivedCodes);
      return;
    }
    corrective.archive = name;
    corrective.page = 1;
    std::vector<RegisterEntry> entries{corrective};
    RegisterRefusal refusal;
    // Made again under the lock: another process may have cancelled the
    // invoice meanwhile.
    std::string signError;
    status = reg_.Append(
        entries, GenerationTimeNow, refusal, {}, makeXml,
        [&](const std::vector<RegisterEntry>& now) {
          RegisterEntry again;
          return MakeCorrective(now, e, correction, series, corrective.number, today, again) == AmendRefusal::None;
        },
        keeping.Signer(signError));
    if (status != RmSuccess) {
      std::remove(archived.c_str());
      std::remove(archivedCodes.c_str());
      TellTrouble(status, refusal, signError);
      return;
    }
    keeping.Registered();
    PrintPage(correctivePage, codes, Text(Say::CorrectiveDone) + Number(corrective));
  }

  InvoiceRegister reg_;
  std::vector<RegisterEntry> chain_;
  std::map<InvoiceKey, InvoiceState> states_;
  std::vector<size_t> rows_;  // positions in chain_ of the invoices, newest first
  int current_ = 0;
  int top_ = 0;
  std::string typed_;
};

}  // namespace

void RegisterScreen() {
  RegisterView view;
  if (view.Load()) view.Run();
}
