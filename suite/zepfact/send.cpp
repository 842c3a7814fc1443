#include "suite/zepfact/send.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/ini.h"
#include "base/paths.h"
#include "base/text.h"
#include "formatting/picture.h"
#include "recman/recman.h"
#include "records/records.h"
#include "register/register.h"
#include "register/software.h"
#include "register/taxid.h"
#include "register/xml.h"
#include "sending/sender.h"
#include "agency/certificate.h"
#include "agency/facts.h"
#include "issuing/context.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "suite/zepfact/messages.h"
#include "suite/zepfact/program.h"

namespace {

// The sending mode's own words, beside the command's (messages.h).
enum class SendWord {
  CancelledAtAgency,   // text: printed invoice number
  StateCancelledAtAgency,
  NotReaching,         // number: printed invoices whose record cannot go
};

constexpr MessageTable<SendWord, 3> kSendWords{{{
    {SendWord::CancelledAtAgency,
     {"L'Ag\x8ancia ja la t\x82 anul\xfalada {s}", "La Agencia ya la tiene anulada {s}",
      "A Axencia xa a ten anulada {s}", "L'Ag\x82ncia l'a ja anullada {s}"}},
    {SendWord::StateCancelledAtAgency,
     {"anul\xfalada a l'Ag\x8ancia", "anulada en la Agencia", "anulada na Axencia", "anullada a l'Ag\x82ncia"}},
    {SendWord::NotReaching,
     {"{n} factures impreses no tenen registre per enviar i no arriben a l'Ag\x8ancia",
      "{n} facturas impresas no tienen registro que enviar y no llegan a la Agencia",
      "{n} facturas impresas non te\xa4" "en rexistro que enviar e non chegan \xa0 Axencia",
      "{n} facturas imprimidas an pas de registre de mandar e arriban pas a l'Ag\x82ncia"}},
}}};

std::string Word(SendWord word, Language language, const std::string& text = "", int64_t number = 0) {
  std::string out = kSendWords.Text(word, language);
  if (const size_t at = out.find("{s}"); at != std::string::npos) out.replace(at, 3, text);
  if (const size_t at = out.find("{n}"); at != std::string::npos) out.replace(at, 3, std::to_string(number));
  return out;
}

// What both commands need of the root.
struct Root {
  std::string settingsPath;  // host path of Tarn.ini
  VeriFactuSettings settings;
  Filer filer;
  std::string registerPath;  // host paths
  std::string statePath;
  std::string lockPath;
};

class Commands {
 public:
  Commands(const std::string& root, Language language) : root_(root), language_(language) {}

  void Error(FactMessage message, const std::string& cp850 = "", int64_t number = 0) const {
    Say(stderr, FactText(message, language_, cp850, number));
  }

  // The settings, the issuer and the paths; false after saying what is
  // wrong.
  bool Prepare(Root& r) const {
    r.settingsPath = HostPath(root_ + "Tarn.ini");
    r.settings = LoadVeriFactuSettings(root_);
    if (!r.settings.Sending()) {
      Error(FactMessage::SendNotOn, Cp858ForDisplay(TidyHostPath(r.settingsPath)));
      return false;
    }
    Issuer issuer;
    const IssuerProblem problem = ReadIssuer(root_, issuer);
    if (problem != IssuerProblem::None) {
      Say(stderr, IssuerProblemText(problem, issuer, language_));
      return false;
    }
    r.filer.taxId = issuer.nif;
    r.filer.name = issuer.name;
    r.registerPath = HostPath(root_ + RegisterFileName) + ".dat";
    r.statePath = HostPath(root_ + SendingStateFileName) + ".dat";
    r.lockPath = HostPath(root_ + SendingStateFileName) + ".lck";
    return true;
  }

  // The certificate, checked now; false after naming the cause.
  bool Certificate(const Root& r, IssuerCertificate& out) const {
    std::string detail;
    // The issuer's own, its proxy's or a social collaborator's: any NIF.
    const CertificateProblem problem = LoadIssuerCertificate(r.settings, "", std::time(nullptr), out, detail);
    if (problem == CertificateProblem::None) return true;
    Say(stderr, CertificateProblemText(problem, detail, r.settingsPath, language_));
    return false;
  }

  const std::string& RootPath() const { return root_; }
  Language Lang() const { return language_; }

 private:
  const std::string root_;
  const Language language_;
};

// The sender's progress as lines on standard output.
class Printer : public SendListener {
 public:
  explicit Printer(Language language) : language_(language) {}
  void Answered(size_t records, bool incident, const std::string& csv, size_t accepted, size_t withErrors,
                size_t rejected, size_t duplicates) override {
    std::string line = FactText(FactMessage::SendAnswered, language_, Cp858ForDisplay(csv.empty() ? "-" : csv),
                                static_cast<int64_t>(records));
    const auto part = [&](FactMessage m, size_t n, bool always = false) {
      if (n == 0 && !always) return;
      line += ' ';
      line += FactText(m, language_, "", static_cast<int64_t>(n));
      line += ',';
    };
    part(FactMessage::SendAccepted, accepted, true);
    part(FactMessage::SendWithErrors, withErrors);
    part(FactMessage::SendRejectedCount, rejected);
    part(FactMessage::SendDuplicates, duplicates);
    line.pop_back();
    if (incident) {
      line += ' ';
      line += FactText(FactMessage::SendIncident, language_);
    }
    Say(stdout, line);
  }
  void RecordProblem(const SendAnswer& a) override {
    const std::string what = PrintedInvoiceNumber(a.series, a.number) + ": " + std::to_string(a.errorCode) + " " +
                             Cp858ForDisplay(a.errorText);
    if (a.state == 'A') {
      Say(stdout, Word(SendWord::CancelledAtAgency, language_, PrintedInvoiceNumber(a.series, a.number)));
      return;
    }
    Say(stdout, FactText(a.state == 'I' ? FactMessage::RecordRejected : FactMessage::RecordWithErrors, language_, what));
  }
  void Waiting(int64_t seconds, bool backOff) override {
    Say(stdout, FactText(backOff ? FactMessage::SendBackOff : FactMessage::SendWaiting, language_, "", seconds));
  }
  void Unsendable(const std::string& series, int32_t number) override {
    ++unsendable;
    Say(stdout, FactText(FactMessage::Unsendable, language_, PrintedInvoiceNumber(series, number)));
  }
  void Renounced(const std::string& endDate) override {
    Say(stdout, FactText(FactMessage::RenounceSent, language_, endDate));
  }
  int64_t unsendable = 0;  // records told that cannot go

 private:
  const Language language_;
};

// Runs on in a session of its own, its output appended to the log beside
// the register. The parent returns at once.
bool Detach(const std::string& logPath, bool& parent) {
  parent = false;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid > 0) {
    parent = true;
    return true;
  }
  ::setsid();
  std::signal(SIGHUP, SIG_IGN);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (in >= 0) ::dup2(in, 0);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  if (in > 2) ::close(in);
  if (out > 2) ::close(out);
  return true;
}

std::string Timestamp() { return GenerationTimeNow(); }

}  // namespace

int SendRecords(const std::string& root, Language language, const SendCommandOptions& options) {
  const Commands commands(root, language);
  // Detached first: from then on every word goes to the log.
  if (options.background) {
    bool parent = false;
    if (!Detach(HostPath(root + SendingStateFileName) + ".log", parent)) {
      commands.Error(FactMessage::CannotWrite, "fork");
      return kExitTrouble;
    }
    if (parent) return 0;
    char when[64];
    const std::time_t t = std::time(nullptr);
    std::strftime(when, sizeof when, "-- %Y-%m-%d %H:%M:%S", std::localtime(&t));
    Say(stdout, when);
  }
  Root r;
  if (!commands.Prepare(r)) return kExitTrouble;
  SenderLock lock(r.lockPath);
  if (!lock.Held()) {
    if (lock.Error() != 0) {
      commands.Error(FactMessage::SendCannotWrite, Cp858ForDisplay(TidyHostPath(r.lockPath)), lock.Error());
      return kExitTrouble;
    }
    commands.Error(FactMessage::SendAnotherRuns, Cp858ForDisplay(TidyHostPath(r.lockPath)));
    return kExitUnreachable;
  }
  struct stat st = {};
  if (::stat(r.registerPath.c_str(), &st) != 0) {
    Say(stdout, FactText(FactMessage::SendNothingLeft, language));
    return 0;
  }
  IssuerCertificate certificate;
  if (!commands.Certificate(r, certificate)) return kExitTrouble;

  SenderSetup setup;
  setup.registerPath = r.registerPath;
  setup.statePath = r.statePath;
  setup.renunciationPath = HostPath(root + RenunciationFileName);
  setup.filer = r.filer;
  const std::string endpoint = ServiceEndpoint(r.settings, certificate.seal);
  const std::string authorities = r.settings.serviceAuthorities;
  setup.post = [&](const std::string& body) { return PostSoap(endpoint, certificate, authorities, body, 240); };
  setup.now = [] {
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count());
  };
  setup.sleep = [](int64_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); };
  setup.timestamp = Timestamp;
  setup.untilEmpty = options.untilEmpty;
  setup.firstBackOff = options.firstRetry;
  Printer printer(language);
  const SendResult result = RunSender(setup, printer);

  const std::string detail = Cp858ForDisplay(result.detail);
  switch (result.end) {
    case SendEnd::Empty:
      break;
    case SendEnd::Unreachable:
      commands.Error(FactMessage::SendUnreachable, detail);
      return kExitUnreachable;
    case SendEnd::ServerFault:
      commands.Error(FactMessage::SendServerFault, detail);
      return kExitUnreachable;
    case SendEnd::BadAnswer:
      commands.Error(FactMessage::SendBadAnswer, detail);
      return kExitUnreachable;
    case SendEnd::ServerCertificate:
      commands.Error(FactMessage::SendServerCertificate, detail);
      return kExitUnreachable;
    case SendEnd::ClientCertificate:
      commands.Error(FactMessage::SendClientCertificate, detail);
      return kExitUnreachable;
    case SendEnd::ClientFault:
      commands.Error(FactMessage::SendClientFault, detail);
      return kExitTrouble;
    case SendEnd::Register:
      if (result.answersFile && result.status == RegisterSideFileDamaged) {
        commands.Error(FactMessage::SideFileDamaged, Cp858ForDisplay(TidyHostPath(r.statePath)));
        return kExitTrouble;
      }
      commands.Error(FactMessage::SendCannotWrite,
                     Cp858ForDisplay(TidyHostPath(result.answersFile ? r.statePath : r.registerPath)),
                     result.status);
      return kExitTrouble;
  }
  // Never "nothing left" while a printed invoice has not reached the agency.
  if (printer.unsendable > 0) {
    Say(stderr, Word(SendWord::NotReaching, language, "", printer.unsendable));
    return kExitTrouble;
  }
  if (result.standing > 0) {
    Say(stdout, FactText(FactMessage::SendStanding, language, "", result.standing));
    return kExitTrouble;
  }
  Say(stdout, FactText(FactMessage::SendNothingLeft, language));
  return 0;
}

namespace {

// The recipient's tax number and name as the owner file holds them now;
// false when the owner cannot be read (the record's own are kept then).
bool CurrentRecipient(const std::string& root, const std::string& ownerCode, std::string& taxId, std::string& name) {
  uint8_t position[128] = {};
  const std::string path = HostPath(root + OwnerFileName) + ".dat";
  if (path.size() > 254) return false;
  uint8_t key[256] = {};
  path.copy(reinterpret_cast<char*>(key), path.size());
  std::string owner = RecordFileOwnerName();
  uint32_t len = static_cast<uint32_t>(owner.size());
  if (RecordManagerCall(RmOpen, position, owner.data(), &len, key, 255, -2) != RmSuccess) return false;
  std::vector<uint8_t> rec(OwnerRecordSize);
  uint8_t value[256] = {};
  ownerCode.copy(reinterpret_cast<char*>(value), 2);
  len = OwnerRecordSize;
  const int16_t status = RecordManagerCall(RmGetEqual, position, rec.data(), &len, value, 255, 0);
  uint32_t none = 0;
  (void)RecordManagerCall(RmClose, position, nullptr, &none, value, 255, 0);
  if (status != RmSuccess) return false;
  taxId = TrimRight(FieldBytes(rec.data(), OwnerFields::TaxId));
  name = FormatPersonName(FieldBytes(rec.data(), OwnerFields::Name));
  return true;
}

}  // namespace

int RenounceSendingMode(const std::string& root, Language language) {
  const Commands commands(root, language);
  Root r;
  if (!commands.Prepare(r)) return kExitTrouble;
  if (!r.settings.Sending()) {
    commands.Error(FactMessage::RenounceNotSending);
    return kExitTrouble;
  }
  SendingState state;
  SendControl control;
  int16_t status = state.Open(r.statePath, false);
  if (status == RmSuccess) status = state.Control(control);
  if (status != RmSuccess) {
    commands.Error(FactMessage::CannotOpen, Cp858ForDisplay(TidyHostPath(r.statePath)), status);
    return kExitTrouble;
  }
  // The last day in the mode is the last of this year: the mode is kept to
  // the end of a year it worked in.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string end = "31-12-" + std::to_string(local.tm_year + 1900);
  if (control.endDate == end && !control.endSentAt.empty()) {
    Say(stdout, FactText(FactMessage::RenounceSent, language, end));
    return 0;
  }
  const std::string path = HostPath(root + RenunciationFileName);
  if (WriteWholeFile(path, end + "\n") != 0) {
    commands.Error(FactMessage::SendCannotWrite, Cp858ForDisplay(TidyHostPath(path)), errno);
    return kExitTrouble;
  }
  Say(stdout, FactText(FactMessage::RenounceWaits, language, end));
  // Records that wait go now, and the renunciation with them.
  const IssuingProblem started = SendInBackground(root, ProgramFolder());
  if (!started.None()) Say(stderr, IssuingProblemText(started, language));
  return 0;
}

int ResendRecord(const std::string& root, Language language, const std::string& number) {
  const Commands commands(root, language);
  Root r;
  if (!commands.Prepare(r)) return kExitTrouble;
  InvoiceRegister reg;
  const std::string shown = Cp858ForDisplay(TidyHostPath(r.registerPath));
  struct stat st = {};
  int16_t status = ::stat(r.registerPath.c_str(), &st) == 0
                       ? reg.Open(r.registerPath, HostPath(root + "ddf\\RegFact2.xdf"), false)
                       : static_cast<int16_t>(RmFileNotFound);
  std::vector<RegisterEntry> chain;
  if (status == RmSuccess) status = reg.ReadAll(chain);
  if (status != RmSuccess) {
    commands.Error(FactMessage::CannotOpen, shown, status);
    return kExitTrouble;
  }
  // The number as printed names one invoice; the number alone names the one
  // invoice of any series that has it.
  const size_t slash = number.find_last_of('/');
  const bool withSeries = slash != std::string::npos;
  std::string series;
  if (withSeries && !Cp858FromUtf8(number.substr(0, slash), series)) series = number.substr(0, slash);
  const int32_t wanted = static_cast<int32_t>(std::atol(number.c_str() + (withSeries ? slash + 1 : 0)));
  const RegisterEntry* latest = nullptr;
  std::vector<const RegisterEntry*> records;
  for (const RegisterEntry& e : chain) {
    // A cancellation's records are its cancelled invoice's.
    if (e.IdentityNumber() != wanted || (withSeries && e.IdentitySeries() != series) || e.xml.empty()) continue;
    if (latest != nullptr && latest->IdentitySeries() != e.IdentitySeries()) {
      commands.Error(FactMessage::AmbiguousNumber, Cp858ForDisplay(number));
      return kExitTrouble;
    }
    latest = &e;
    records.push_back(&e);
  }
  if (latest == nullptr) {
    commands.Error(FactMessage::NotInRegister, Cp858ForDisplay(number));
    return kExitTrouble;
  }
  const std::string printed = PrintedInvoiceNumber(latest->IdentitySeries(), latest->IdentityNumber());

  // What the agency made of the invoice's records decides RechazoPrevio.
  SendingState state;
  status = state.Open(r.statePath, true);
  if (status != RmSuccess && status != RmFileNotFound) {
    commands.Error(FactMessage::CannotOpen, Cp858ForDisplay(TidyHostPath(r.statePath)), status);
    return kExitTrouble;
  }
  bool registered = false;  // some record of the invoice was accepted
  bool issueHeld = false;   // some issue record of it was accepted
  SendAnswer last;
  bool lastAnswered = false;
  for (const RegisterEntry* e : records) {
    SendAnswer a;
    bool found = false;
    // Records of the first layout's file were never sent.
    const int16_t read =
        status == RmSuccess && e->layout == RegisterFields::kLayout ? state.FindFor(*e, a, found) : int16_t{0};
    if (read == RegisterSideFileDamaged) {
      commands.Error(FactMessage::SideFileDamaged, Cp858ForDisplay(TidyHostPath(r.statePath)));
      return kExitTrouble;
    }
    if (read != RmSuccess) {
      commands.Error(FactMessage::FileUnreadable, Cp858ForDisplay(TidyHostPath(r.statePath)), read);
      return kExitTrouble;
    }
    if (found && a.state != 'I') registered = true;
    if (found && !e->IsCancellation() && (a.state == 'C' || a.state == 'E' || a.state == 'D')) issueHeld = true;
    if (e == latest) {
      last = a;
      lastAnswered = found;
    }
  }
  if (!lastAnswered) {
    commands.Error(FactMessage::ResendPending, printed);
    return kExitTrouble;
  }
  if (last.state == 'C' || last.state == 'D') {
    Say(stdout, FactText(FactMessage::ResendNotNeeded, language, printed));
    return 0;
  }
  // With errors or cancelled there: the agency holds the record, which the
  // correction replaces (or brings back into force).
  const char rejection = last.state == 'E' || last.state == 'A' ? 'N' : registered ? 'S' : 'X';

  SoftwareIdentity software;
  std::string installation;
  const IssuingProblem unknown = LoadSoftware(root, software, &installation);
  if (!unknown.None()) {
    Say(stderr, IssuingProblemText(unknown, language));
    return kExitTrouble;
  }
  int waits = 0;
  const auto waitLocked = [&waits]() {
    if (++waits > 240) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    return true;
  };
  const auto append = [&](std::vector<RegisterEntry>& entries, const RecordXmlMaker& makeXml) {
    RegisterRefusal refusal;
    const int16_t appended = reg.Append(entries, GenerationTimeNow, refusal, waitLocked, makeXml);
    if (appended == RegisterRefused) {
      commands.Error(FactMessage::ResendRefused, printed);
      return kExitTrouble;
    }
    if (appended != RmSuccess) {
      commands.Error(FactMessage::SendCannotWrite, shown, appended);
      return kExitTrouble;
    }
    Say(stdout, FactText(FactMessage::ResendAppended, language, printed, entries.front().sequence));
    // The correction goes as it is made, as a run's records do.
    const IssuingProblem started =
        r.settings.Sending() ? SendInBackground(root, ProgramFolder()) : IssuingProblem{};
    if (!started.None()) Say(stderr, IssuingProblemText(started, language));
    return 0;
  };
  // A rejected cancellation goes again as a new cancellation: RechazoPrevio
  // when the agency holds the invoice, else SinRegistroPrevio.
  if (latest->IsCancellation()) {
    RegisterEntry again = *latest;
    again.xml.clear();
    again.seal.clear();
    std::vector<RegisterEntry> entries = {again};
    return append(entries, [&](const RegisterEntry& entry, const RegisterEntry* previous) {
      return RegistroAnulacionXml(entry, previous, software, installation, !issueHeld, issueHeld);
    });
  }
  RegisterEntry correction = *latest;
  correction.kind = RegisterKindCorrection;
  correction.xml.clear();
  correction.seal.clear();
  std::string taxId, name;
  if (CurrentRecipient(root, latest->ownerCode, taxId, name)) {
    correction.recipientTaxId = taxId;
    correction.recipientName = name;
  }
  if (ClassifyRecipientTaxId(correction.recipientTaxId).kind == RecipientIdKind::NotIdentifiable) {
    commands.Error(FactMessage::UnidentifiedRecipient, printed);
    return kExitTrouble;
  }
  const std::string issuerName = r.filer.name;
  const RecordXmlMaker makeXml = [&](const RegisterEntry& entry, const RegisterEntry* previous) {
    return RegistroAltaXml(entry, previous, issuerName, software, installation, rejection);
  };
  std::vector<RegisterEntry> entries = {correction};
  return append(entries, makeXml);
}

bool SendingCellsOf(const std::string& root, const std::vector<RegisterEntry>& entries, std::vector<SendingCells>& out,
                    std::string& unreadableOut) {
  out.clear();
  unreadableOut.clear();
  if (!LoadVeriFactuSettings(root).Sending()) return false;
  SendingState state;
  const std::string path = HostPath(root + SendingStateFileName) + ".dat";
  const int16_t opened = state.Open(path, true);
  const bool open = opened == RmSuccess;
  if (!open && opened != RmFileNotFound) unreadableOut = path;
  for (const RegisterEntry& e : entries) {
    SendingCells cells;
    SendAnswer a;
    bool found = false;
    // Records of the first layout's file were never sent.
    if (open && e.layout == RegisterFields::kLayout && state.FindFor(e, a, found) != RmSuccess) {
      found = false;
      unreadableOut = path;
    }
    cells.state = !found ? "Pendiente"
                  : a.state == 'C' ? std::string(agency::kStateAccepted)
                  : a.state == 'E' ? std::string(agency::kStateAcceptedWithErrors)
                  : a.state == 'D' ? "Duplicado"
                  : a.state == 'A' ? "Anulada"
                                   : std::string(agency::kStateRejected);
    if (found) {
      cells.csv = a.csv;
      cells.errorCode = a.errorCode;
      cells.errorText = a.errorText;
    }
    out.push_back(std::move(cells));
  }
  return true;
}

std::string SendingListLine(const SendingCells& cells, Language language) {
  const FactMessage word = cells.state == "Pendiente"            ? FactMessage::StatePending
                           : cells.state == agency::kStateAccepted           ? FactMessage::StateAccepted
                           : cells.state == agency::kStateAcceptedWithErrors ? FactMessage::StateWithErrors
                           : cells.state == "Duplicado"          ? FactMessage::StateDuplicate
                                                                 : FactMessage::StateRejected;
  std::string text = cells.state == "Anulada" ? Word(SendWord::StateCancelledAtAgency, language) : FactText(word, language);
  if (!cells.csv.empty()) text += ", CSV " + Cp858ForDisplay(cells.csv);
  if (cells.errorCode != 0) text += ", " + std::to_string(cells.errorCode) + " " + Cp858ForDisplay(cells.errorText);
  // One terminal line.
  return FactText(FactMessage::ListSending, language, text).substr(0, 79);
}
