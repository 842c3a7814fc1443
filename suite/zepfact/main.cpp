// zepfact: the invoice register's tool for the administrator and the
// accountant. Opens <root>DADES\RegFactV read-only. The root is --root DIR,
// else the environment's ZEPROOT, else the current folder, as for zepmenu:
// the suite has no root of its own installation, and the folder zepfact's
// program lives in holds programs, not a suite root.
//
//   zepfact [--root DIR] list [DATES]
//   zepfact [--root DIR] export-csv [DATES] FILE
//   zepfact [--root DIR] export-totals [DATES] FILE
//   zepfact [--root DIR] export-xml [DATES] [--requerimiento REF] FILE
//   zepfact [--root DIR] verify [NUMBER]
//   zepfact [--root DIR] events list|restored|export FOLDER
//   zepfact [--root DIR] reprint NUMBER [--output FILE]
//   zepfact [--root DIR] cancel NUMBER
//   zepfact [--root DIR] correct NUMBER --cause R1..R4 --by S|I --fee AMOUNT [--expenses AMOUNT]
//                        [--output FILE]
//   zepfact [--root DIR] reprint --run ARCHIVE [--output FILE]
//   zepfact [--root DIR] declaration
//   zepfact [--root DIR] mail [--run ARCHIVE | DATES] [--dry-run] [--again] [--status]
//   zepfact [--root DIR] send [--until-empty] [--retry SECONDS] [--background]
//   zepfact [--root DIR] resend NUMBER
//   zepfact --help
//
// DATES: [--from DATE] [--to DATE] select by the invoice's date,
// [--generated-from DATE] [--generated-to DATE] by the local date of the
// record's generation time; both ends are included, and an invoice must
// lie in every range given. DATE is DD-MM-YYYY, DD/MM/YYYY or YYYY-MM-DD.
// list (a header line, one line per invoice, the count), export-csv (one
// row per invoice) and export-totals (one row per series and quarter) go
// in date-and-number order, export-xml and verify in chain order.
// export-xml writes at most 1000 records to a file: more make FILE-1.xml,
// FILE-2.xml, ... With --requerimiento the documents answer the tax
// agency's request REF (1 to 18 letters or digits): each header names it,
// and the last one says the answer ends there. Files are written whole or
// not at all, the parts of an export together; FILE "-" is standard output
// (for one document), an existing file keeps its permissions, a symbolic
// link is written through to the regular file it names, and a folder, pipe
// or device is refused.
// NUMBER is the invoice number as printed ("R/00000005", "A/7"), or the
// number alone when only one series has it.
// reprint takes the invoice's page out of the spool file archived by its run
// (<root>ARXIU\<archive>, with the codes of <archive>.qr), writes it as
// zepprint.tmp (and zepprint.qr and zepprint.fig from <archive>.qr and .fig,
// the page as page 1) in a new folder under
// TMPDIR (else /tmp), and runs ZEPPRINT from ZEPEXE (else the folder of
// zepfact itself) with ZEPTMP naming that folder, ZEPROOT the root and
// ZEPPAPER the stationery the module uses (IMPRES\FACTHON_<language>.svg,
// else IMPRES\FACTHON.svg). The page goes where its DEVICE line says, which
// is never the archived run's: --output FILE (.pdf or .txt), else the
// session's output device (<ZEPTMP>TarnTerm.ini [Sistema] Sortida) when it
// names a file or a printer, else <SERIES>-<NUMBER>.pdf in the current
// folder. The folder is removed afterwards; the exit code is the print
// program's.
// The page a reprint prints carries the copy mark in the session's
// language (DUPLICAT, DUPLICADO, DUPLICATA) across it.
// cancel registers the cancellation of an invoice issued by mistake and
// never delivered, and gives the receipts it settled back to P (paid, not
// billed), both or neither (register/amend.h). correct registers a
// corrective invoice of the invoice: the next number of the series
// [Registre] SerieRectificativa of Tarn.ini (RE), dated today, cause R1-R4,
// by substitution (S: the whole corrected invoice) or by differences (I:
// only the change), with the corrected fee and expenses (AMOUNT: euros,
// "." or "," before at most two decimals; expenses 0 when not given). Its
// page is the corrected invoice's page made the corrective's, archived as
// its own run (ARXIU\) and printed as reprint prints. Both refuse, writing
// and printing nothing: an unknown number, a cancelled invoice, (cancel) an
// invoice a corrective invoice names, (correct) amounts that change
// nothing, and a register another process holds.
// reprint --run prints a whole run again the same way from its archived
// spool file ARCHIVE (its name in ARXIU, as the register's records of the
// run hold it, ".zsp" optional), every page with its code: for a run whose
// printing failed after its invoices were registered. Its output defaults
// to <ARCHIVE>.pdf in the current folder.
// With [VeriFactu] Mode=conserva (suite/zepfact/keeping.h) verify also
// checks the signed records and the event log and logs the check, NUMBER
// checking one record; export-xml writes the signed records and logs the
// export; events lists the event log, writes each event into a new FOLDER,
// or notes that the register was restored from a copy. cancel and correct
// sign their records as the module's runs do (signing/keeping.h) and log
// the register's new tail; a certificate that cannot sign, or a register
// shorter or older than the log says, refuses them before anything is
// written or printed. resend is refused: nothing is sent in that mode.
// declaration prints the producer's responsible declaration (in Spanish,
// UTF-8) from the root's Productor.ini; export-xml names the software by
// that file too, and the installation by <root>DADES\Instalacio.id (made
// on first use).
//
// mail sends the register's invoices by e-mail (mail_command.h).
//
// send posts every record not yet answered to the tax agency and keeps the
// answers (suite/zepfact/send.h has its exit codes; --retry is the first
// back-off of --until-empty, --background detaches it); resend appends a
// correction record of a rejected or accepted-with-errors invoice.
//
// Exit codes: 0 done (verify: the chain is sound; --help: the usage on
// stdout); 1 no register (the message names the root), a register that
// cannot be read, a file that cannot be written, an issuer tax number in
// Tarn.ini that the agency cannot take, a Productor.ini that cannot be used,
// no installation number, a record whose recipient cannot be identified, or
// (verify) a broken chain, (cancel, correct) a refusal, a record that
// cannot be signed, or a cause, form or amount that cannot be taken; 2 a
// usage error (the usage on stderr). Messages go in the session's language: the terminal settings <ZEPTMP>TarnTerm.ini
// [Sistema] Idioma, else the suite's Tarn.ini [Usuari] Idioma, else Catalan.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/child.h"
#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/language.h"
#include "base/paths.h"
#include "base/text.h"
#include "printing/pages.h"
#include "printing/spool.h"
#include "records/layouts.h"
#include "recman/recman.h"
#include "register/amend.h"
#include "recman/maintenance.h"
#include "recman/recman.h"
#include "register/register.h"
#include "register/taxid.h"
#include "register/xml.h"
#include "session/session.h"
#include "register/software.h"
#include "signing/keeping.h"
#include "issuing/issuer.h"
#include "issuing/words.h"
#include "suite/zepfact/declaration.h"
#include "suite/zepfact/exports.h"
#include "suite/zepfact/mail_command.h"
#include "suite/zepfact/keeping.h"
#include "suite/zepfact/messages.h"
#include "suite/zepfact/send.h"

namespace {

constexpr int kExitTrouble = 1;
constexpr int kExitUsage = 2;
// The longest first back-off send --retry takes, seconds (an hour).
constexpr int32_t kLongestRetry = 3600;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Code page 850 text out as UTF-8, one line.
void Say(std::FILE* stream, const std::string& cp850) { std::fprintf(stream, "%s\n", Utf8FromCp858(cp850).c_str()); }

struct Options {
  std::string command;
  std::string root;  // suite path, as given
  bool haveRoot = false;
  Selection selection;
  std::string requirement;  // export-xml's request reference; empty for none
  std::string file;  // host path
  std::string number;  // reprint's, cancel's, correct's invoice number as typed: as printed ("A/00000007"), or the number alone
  std::string output;  // reprint's and correct's --output, host path as given; empty for none
  Correction correction;  // correct's --cause, --by, --fee, --expenses
  bool haveCause = false, haveForm = false, haveFee = false, haveAmounts = false;
  std::string run;     // reprint's --run: an archived run's spool file, as named in ARXIU
  bool help = false;   // --help: the usage on stdout, nothing else
  MailCommandOptions mail;  // mail's options
  SendCommandOptions send;  // send's options
  // The first usage error, if any (the rest of the line is still read for
  // the root, which decides the language of the message).
  bool bad = false;
  FactMessage error = FactMessage::Usage;
  std::string errorText;  // code page 850
};

void Fail(Options& options, FactMessage message, const std::string& hostText) {
  if (options.bad) return;
  options.bad = true;
  options.error = message;
  options.errorText = Cp858ForDisplay(hostText);
}

bool TakesFile(const std::string& command) {
  return command == "export-csv" || command == "export-totals" || command == "export-xml";
}

// The commands that name one invoice.
bool TakesNumber(const std::string& command) {
  return command == "reprint" || command == "cancel" || command == "correct" || command == "resend";
}

bool TakesDates(const std::string& command) {
  return command != "verify" && command != "declaration" && command != "send" && command != "events" &&
         !TakesNumber(command);
}

// The date a date option sets; null for any other argument.
std::string* DateOfOption(Options& options, const std::string& arg) {
  if (arg == "--from") return &options.selection.issued.from;
  if (arg == "--to") return &options.selection.issued.to;
  if (arg == "--generated-from") return &options.selection.generated.from;
  if (arg == "--generated-to") return &options.selection.generated.to;
  return nullptr;
}

bool EndsWithNoCase(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[text.size() - n + i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != tail[i]) return false;
  }
  return true;
}

// An output the print program takes as a file: a name ending in ".pdf" or
// ".txt", without "\" (the print program reads it as a suite path) or a
// control character (it travels in the spool file's first line).
bool IsOutputFileName(const std::string& path) {
  for (const unsigned char c : path) {
    if (c < 32 || c == 127 || c == '\\') return false;
  }
  return path.size() > 4 && (EndsWithNoCase(path, ".pdf") || EndsWithNoCase(path, ".txt"));
}

bool Reversed(const DateRange& range) { return !range.from.empty() && !range.to.empty() && range.from > range.to; }

// A whole decimal number in the 32-bit range.
bool ParseNumber(const std::string& text, int32_t& out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const long long value = std::atoll(text.c_str());
  if (value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  std::string dateOption;  // the first date option given
  bool haveRequirement = false;
  bool haveNumber = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string* const date = DateOfOption(options, arg);
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--dry-run" || arg == "--again" || arg == "--status") {
      (arg == "--dry-run" ? options.mail.dryRun : arg == "--again" ? options.mail.again : options.mail.status) = true;
    } else if ((arg == "--until-empty" || arg == "--background") && options.command == "send") {
      (arg == "--until-empty" ? options.send.untilEmpty : options.send.background) = true;
    } else if (arg == "--retry" && options.command == "send") {
      int32_t seconds = 0;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], seconds) || seconds < 1 || seconds > kLongestRetry) {
        Fail(options, i + 1 >= argc ? FactMessage::MissingValue : FactMessage::BadArgument, i + 1 >= argc ? arg : argv[i + 1]);
        break;
      }
      options.send.firstRetry = seconds;
      ++i;
    } else if (arg == "--root" || arg == "--requerimiento" || arg == "--output" || arg == "--run" || arg == "--cause" ||
               arg == "--by" || arg == "--fee" || arg == "--expenses" || date != nullptr) {
      if (i + 1 >= argc) {
        Fail(options, FactMessage::MissingValue, arg);
        break;
      }
      const std::string value = argv[++i];
      if (arg == "--root") {
        options.root = value;
        options.haveRoot = true;
      } else if (arg == "--run" && options.command == "mail") {
        options.mail.run = value;
      } else if (arg == "--run") {
        // The archive's name as the register keeps it; a path to it in
        // ARXIU is taken by its last part.
        options.run = value.substr(value.find_last_of("/\\") == std::string::npos ? 0 : value.find_last_of("/\\") + 1);
        if (options.run.empty() || options.run[0] == '.') Fail(options, FactMessage::BadArgument, value);
      } else if (arg == "--output") {
        options.output = value;
        if (!IsOutputFileName(value)) Fail(options, FactMessage::BadOutput, value);
      } else if (arg == "--cause") {
        options.haveCause = true;
        options.correction.type = value;
        if (!IsCorrectionType(value)) Fail(options, FactMessage::BadCause, value);
      } else if (arg == "--by") {
        options.haveForm = true;
        options.correction.form = value == "S" || value == "s" ? 'S' : 'I';
        if (value != "S" && value != "s" && value != "I" && value != "i") Fail(options, FactMessage::BadForm, value);
      } else if (arg == "--fee" || arg == "--expenses") {
        options.haveFee = options.haveFee || arg == "--fee";
        options.haveAmounts = true;
        if (!ParseEuros(value, arg == "--fee" ? options.correction.fees : options.correction.expenses))
          Fail(options, FactMessage::BadAmount, value);
      } else if (arg == "--requerimiento") {
        haveRequirement = true;
        options.requirement = value;
        if (!IsRequirementReference(value)) Fail(options, FactMessage::BadRequirement, value);
      } else {
        if (dateOption.empty()) dateOption = arg;
        if (!ParseCommandDate(value, *date)) Fail(options, FactMessage::BadDate, value);
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      Fail(options, FactMessage::BadArgument, arg);
    } else if (options.command.empty()) {
      options.command = arg;
    } else if (TakesFile(options.command) && options.file.empty()) {
      options.file = arg;
    } else if ((options.command == "verify" || options.command == "events") && !haveNumber) {
      // verify's invoice number; events' list, export or restored.
      haveNumber = true;
      options.number = arg;
    } else if (options.command == "events" && options.file.empty()) {
      options.file = arg;
    } else if (TakesNumber(options.command) && !haveNumber) {
      haveNumber = true;
      int32_t number = 0;
      if (!ParseNumber(arg.substr(arg.find_last_of('/') + 1), number)) Fail(options, FactMessage::BadArgument, arg);
      options.number = arg;
    } else {
      Fail(options, FactMessage::BadArgument, arg);
    }
  }
  const std::string& c = options.command;
  if (c.empty()) {
    Fail(options, FactMessage::Usage, "");
  } else if (c != "list" && c != "verify" && c != "declaration" && c != "mail" && c != "send" && c != "events" &&
             !TakesNumber(c) && !TakesFile(c)) {
    // Said first: what else was wrong depends on the command meant.
    options.bad = false;
    Fail(options, FactMessage::UnknownCommand, c);
  } else if (!TakesDates(c) && !dateOption.empty()) {
    Fail(options, FactMessage::BadArgument, dateOption);
  } else if (c != "export-xml" && haveRequirement) {
    Fail(options, FactMessage::BadArgument, "--requerimiento");
  } else if (c != "mail" && (options.mail.dryRun || options.mail.again || options.mail.status || !options.mail.run.empty())) {
    Fail(options, FactMessage::BadArgument, options.mail.run.empty() ? "--dry-run/--again/--status" : "--run");
  } else if (c == "mail" && !options.mail.run.empty() && !dateOption.empty()) {
    Fail(options, FactMessage::BadArgument, dateOption);
  } else if (c != "reprint" && c != "correct" && !options.output.empty()) {
    Fail(options, FactMessage::BadArgument, "--output");
  } else if (c != "correct" && (options.haveCause || options.haveForm || options.haveAmounts)) {
    Fail(options, FactMessage::BadArgument, options.haveCause ? "--cause" : options.haveForm ? "--by" : "--fee");
  } else if (c == "correct" && (!options.haveCause || !options.haveForm || !options.haveFee)) {
    Fail(options, FactMessage::MissingValue, !options.haveCause ? "--cause" : !options.haveForm ? "--by" : "--fee");
  } else if ((c != "reprint" || haveNumber) && !options.run.empty()) {
    Fail(options, FactMessage::BadArgument, "--run");
  } else if (TakesFile(c) && options.file.empty()) {
    Fail(options, FactMessage::MissingFile, "");
  } else if (TakesNumber(c) && !haveNumber && (c != "reprint" || options.run.empty())) {
    Fail(options, FactMessage::MissingValue, c);
  } else if (c == "events" && options.number != "list" && options.number != "restored" &&
             !(options.number == "export" && !options.file.empty())) {
    Fail(options, FactMessage::BadArgument, options.number.empty() ? c : options.number);
  } else if (Reversed(options.selection.issued) || Reversed(options.selection.generated)) {
    Fail(options, FactMessage::DatesReversed, "");
  }
  options.mail.selection = options.selection;
  options.mail.haveDates = !dateOption.empty();
  return options;
}

// A host path made absolute against the current folder, without "." and
// ".." steps or a final "/".
std::string AbsoluteHostPath(const std::string& path) {
  std::error_code ignored;
  std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
  if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

// The folder of our own executable, ending in "/"; empty when unknown.
std::string OwnDirectory() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  const std::string own(path, static_cast<size_t>(n));
  const size_t slash = own.find_last_of('/');
  return slash == std::string::npos ? std::string() : own.substr(0, slash + 1);
}

Language SessionLanguage(const std::string& root) {
  std::string code = Trim(IniRead(SuiteDirectory(Environment("ZEPTMP")) + "TarnTerm.ini", "Sistema", "Idioma"));
  if (code.empty()) code = Trim(IniRead(root + "Tarn.ini", "Usuari", "Idioma"));
  return LanguageFromCode(code);
}

// YYYYMMDD as printed on a page: DD/MM/YYYY.
std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

// The longest series whose number, as printed, fits the page's number
// field before the next text on its line (as the module's runs allow).
constexpr size_t kPrintableSeriesWidth = 5;

class Program {
 public:
  Program(const Options& options, std::string root, Language language)
      : options_(options), root_(std::move(root)), language_(language) {}

  int Run() {
    const std::string& c = options_.command;
    if (c == "list") return List();
    if (c == "export-csv") return ExportCsv();
    if (c == "export-totals") return ExportTotals();
    if (c == "export-xml") return ExportXml();
    if (c == "reprint") return Reprint();
    // The not-sending mode sends nothing, so nothing is resent.
    if (c == "resend" && KeepingModeOn(root_)) {
      Error(FactMessage::ResendNotKept);
      return kExitTrouble;
    }
    if (c == "cancel") return Cancel();
    if (c == "correct") return Correct();
    if (c == "declaration") return Declaration();
    if (c == "mail") return Mail();
    if (c == "send") return SendRecords(root_, language_, options_.send);
    if (c == "resend") return ResendRecord(root_, language_, options_.number);
    if (c == "events") return Events();
    return Verify();
  }

 private:
  void Error(FactMessage message, const std::string& cp850 = "", int64_t number = 0) const {
    Say(stderr, FactText(message, language_, cp850, number));
  }

  // Opens the register and reads it in chain order, or in date-and-number
  // order with byDate; false after saying why not.
  bool Read(std::vector<RegisterEntry>& entriesOut, bool byDate, bool writable = false) {
    const std::string path = HostPath(root_ + RegisterFileName) + ".dat";
    const std::string earlier = HostPath(root_ + EarlierRegisterFileName) + ".dat";
    const std::string shown = Cp858ForDisplay(path);
    if (!IsRegularFile(path) && !IsRegularFile(earlier)) {
      Error(FactMessage::NoRegister, Cp858ForDisplay(AbsoluteHostPath(root_.empty() ? "." : HostPath(root_)) + "/"));
      return false;
    }
    const int16_t opened =
        register_.Open(path, writable ? HostPath(root_ + "ddf\\" + RegisterDictionaryBaseName + ".xdf") : std::string(),
                       !writable, earlier);
    if (opened != 0) {
      Error(FactMessage::CannotOpen, shown, opened);
      return false;
    }
    const int16_t read = register_.ReadAll(entriesOut, byDate);
    if (read != 0) {
      Error(FactMessage::CannotRead, shown, read);
      return false;
    }
    return true;
  }

  // An invoice's state as the list shows it.
  std::string StateText(const InvoiceState& state) const {
    switch (state.kind) {
      case InvoiceState::Kind::Issued:
        return FactText(FactMessage::StateIssued, language_);
      case InvoiceState::Kind::Cancelled:
        return FactText(FactMessage::StateCancelled, language_);
      case InvoiceState::Kind::Corrected:
        break;
    }
    return FactText(FactMessage::StateCorrected, language_, state.lastCorrection) +
           (state.corrections > 1 ? " (" + std::to_string(state.corrections) + ")" : std::string());
  }

  int List() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    // States are read in chain order; the list goes by date, as ReadAll
    // sorts it. A cancellation is shown as its invoice's state.
    const std::map<InvoiceKey, InvoiceState> states = InvoiceStates(chain);
    std::vector<RegisterEntry> entries;
    for (const RegisterEntry& e : SelectedEntries(chain, options_.selection))
      if (!e.IsCancellation()) entries.push_back(e);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const RegisterEntry& a, const RegisterEntry& b) { return a.date < b.date; });
    const auto title = [&](FactMessage column) { return FactText(column, language_); };
    Say(stdout, ListHeader({title(FactMessage::ColumnNumber), title(FactMessage::ColumnDate),
                            title(FactMessage::ColumnTaxId), title(FactMessage::ColumnName),
                            title(FactMessage::ColumnTotal), title(FactMessage::ColumnState)}));
    // In the sending mode each invoice is followed by what the agency made of it.
    std::vector<SendingCells> sending;
    const bool sendingMode = SendingCellsOf(root_, entries, sending);
    for (size_t i = 0; i < entries.size(); ++i) {
      const RegisterEntry& e = entries[i];
      const auto state = states.find({e.series, e.number});
      Say(stdout, ListLine(e, state == states.end() ? std::string() : StateText(state->second)));
      if (sendingMode) Say(stdout, SendingListLine(sending[i], language_));
    }
    Say(stdout, FactText(FactMessage::Count, language_, "", static_cast<int64_t>(entries.size())));
    return 0;
  }

  int ExportCsv() {
    std::vector<RegisterEntry> entries;
    if (!Read(entries, true)) return kExitTrouble;
    entries = SelectedEntries(entries, options_.selection);
    std::vector<SendingCells> sending;
    const bool sendingMode = SendingCellsOf(root_, entries, sending);
    return Write({{options_.file, CsvText(entries, sendingMode ? &sending : nullptr)}}, {entries.size()});
  }

  // The software's identity from <root>Productor.ini; false after saying
  // why it cannot be used.
  bool Software(SoftwareIdentity& identityOut) const {
    std::string field;
    const SoftwareProblem problem = LoadSoftwareIdentity(root_, identityOut, field);
    const std::string named = std::string(SoftwareFileName) + " " + field;
    switch (problem) {
      case SoftwareProblem::None:
        return true;
      case SoftwareProblem::MissingFile:
        Error(FactMessage::SoftwareFileMissing, Cp858ForDisplay(TidyHostPath(HostPath(root_ + SoftwareFileName))));
        break;
      case SoftwareProblem::MissingField:
        Error(FactMessage::MissingValue, named);
        break;
      case SoftwareProblem::FieldTooLong:
        Error(FactMessage::SoftwareFieldTooLong, named);
        break;
      case SoftwareProblem::InvalidNif:
        Error(FactMessage::SoftwareBadNif, named);
        break;
      case SoftwareProblem::InvalidSystemId:
        Error(FactMessage::SoftwareBadId, named);
        break;
      case SoftwareProblem::InvalidChoice:
        Error(FactMessage::SoftwareBadChoice, named);
        break;
      case SoftwareProblem::InvalidDate:
        Error(FactMessage::SoftwareBadDate, named);
        break;
    }
    return false;
  }

  int Declaration() {
    SoftwareIdentity software;
    if (!Software(software)) return kExitTrouble;
    std::fputs(DeclarationText(software).c_str(), stdout);
    return 0;
  }

  int ExportTotals() {
    std::vector<RegisterEntry> entries;
    if (!Read(entries, true)) return kExitTrouble;
    entries = SelectedEntries(entries, options_.selection);
    return Write({{options_.file, CsvTotalsText(entries)}}, {entries.size()}, FactMessage::TotalsWritten);
  }

  int ExportXml() {
    const std::string settings = root_ + "Tarn.ini";
    SubmissionIssuer issuer;
    issuer.name = Trim(IniRead(settings, "Emissor", "Nom"));
    const std::string taxId = Trim(IniRead(settings, "Emissor", "NIF"));
    const NifCheck nif = CheckNif(taxId);
    issuer.taxId = nif.nif;
    if (!nif.Valid()) {
      Error(FactMessage::BadIssuerTaxId, taxId);
      return kExitTrouble;
    }
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    // In the not-sending mode each record goes as signed.
    if (KeepingModeOn(root_)) UseSignedXml(root_, chain);
    // Records kept with their XML need neither; the others are made now.
    SoftwareIdentity software;
    std::string installation;
    if (NeedsRecordXml(chain, options_.selection)) {
      if (!Software(software)) return kExitTrouble;
      const int error = InstallationNumber(root_, installation);
      if (error != 0) {
        Error(FactMessage::NoInstallationNumber,
              Cp858ForDisplay(TidyHostPath(HostPath(root_ + InstallationFileName))), error);
        return kExitTrouble;
      }
    }
    int64_t refused = -1;
    const std::vector<std::string> documents =
        SubmissionDocuments(chain, options_.selection, issuer, software, installation, options_.requirement, refused);
    if (refused >= 0) {
      const RegisterEntry& e = chain[static_cast<size_t>(refused)];
      Error(FactMessage::UnidentifiedRecipient, PrintedInvoiceNumber(e.series, e.number));
      return kExitTrouble;
    }
    if (documents.empty()) {
      Say(stdout, FactText(FactMessage::NothingToExport, language_));
      return 0;
    }
    if (options_.file == "-" && documents.size() > 1) {
      Error(FactMessage::SeveralToOutput, "", static_cast<int64_t>(documents.size()));
      return kExitTrouble;
    }
    const size_t inRange = SelectedEntries(chain, options_.selection).size();
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<size_t> counts;
    for (size_t i = 0; i < documents.size(); ++i) {
      files.emplace_back(DocumentPartPath(options_.file, i + 1, documents.size()), documents[i]);
      counts.push_back(i + 1 < documents.size() ? kRecordsPerDocument : inRange - i * kRecordsPerDocument);
    }
    const int written = Write(files, counts);
    if (written == 0 && KeepingModeOn(root_))
      LogRecordsExported(root_, SelectedEntries(chain, options_.selection), chain, language_);
    return written;
  }

  // Writes files whole, all or none, and says, for each, message with its
  // count of invoices (on the error stream for "-", standard output, so
  // that the data stays alone there).
  int Write(const std::vector<std::pair<std::string, std::string>>& files, const std::vector<size_t>& counts,
            FactMessage message = FactMessage::Written) {
    std::string failed;
    int error = 0;
    if (!WriteWholeFiles(files, failed, &error)) {
      Error(error == EISDIR || error == EINVAL ? FactMessage::NotAFile : FactMessage::CannotWrite,
            Cp858ForDisplay(failed));
      return kExitTrouble;
    }
    for (size_t i = 0; i < files.size(); ++i) {
      Say(files[i].first == "-" ? stderr : stdout,
          FactText(message, language_, Cp858ForDisplay(files[i].first), static_cast<int64_t>(counts[i])));
    }
    return 0;
  }

  // Checks every stored byte of the register: the pages and both copies of
  // each record of its files, the chain with each seal over the record as
  // stored, and that the register reaches its anchor. Says everything it
  // finds, not only the first.
  int Events() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    return EventsCommand(root_, chain, options_.number, options_.file, language_);
  }

  int Verify() {
    // NUMBER checks one record; the not-sending mode checks its signature
    // too, and logs the check.
    if (!options_.number.empty()) {
      std::vector<RegisterEntry> chain;
      if (!Read(chain, false)) return kExitTrouble;
      int64_t index = -1;
      const size_t slash = options_.number.find_last_of('/');
      std::string series;
      if (slash != std::string::npos && !Cp858FromUtf8(options_.number.substr(0, slash), series))
        series = options_.number.substr(0, slash);
      const int32_t number =
          static_cast<int32_t>(std::atol(options_.number.c_str() + (slash == std::string::npos ? 0 : slash + 1)));
      size_t matches = 0;
      for (size_t i = 0; i < chain.size(); ++i) {
        if (chain[i].number != number || (slash != std::string::npos && chain[i].series != series)) continue;
        index = static_cast<int64_t>(i);
        ++matches;
      }
      if (matches != 1) {
        Error(matches == 0 ? FactMessage::NotInRegister : FactMessage::AmbiguousNumber, Cp858ForDisplay(options_.number));
        return kExitTrouble;
      }
      if (KeepingModeOn(root_)) return VerifyKept(root_, chain, index, language_);
      // The record against its own fingerprint and seal and its link to
      // the record before it.
      const RegisterEntry& e = chain[static_cast<size_t>(index)];
      const RegisterEntry* before = index > 0 ? &chain[static_cast<size_t>(index - 1)] : nullptr;
      const bool sound = e.fingerprint == ComputeFingerprint(e) &&
                         e.previousFingerprint == (before != nullptr ? before->fingerprint : std::string()) &&
                         e.seal == ComputeSeal(e, before != nullptr ? before->seal : std::string());
      if (sound) {
        Say(stdout, FactText(FactMessage::ChainSound, language_, "", 1));
        return 0;
      }
      Say(stdout, FactText(FactMessage::ChainBroken, language_, PrintedInvoiceNumber(e.series, e.number), e.sequence));
      return kExitTrouble;
    }
    const std::string path = HostPath(root_ + RegisterFileName) + ".dat";
    const std::string earlier = HostPath(root_ + EarlierRegisterFileName) + ".dat";
    const std::string anchorPath = HostPath(root_ + RegisterAnchorFileName);
    if (!IsRegularFile(path)) {
      RegisterAnchor anchor;
      if (ReadRegisterAnchor(anchorPath, anchor) != AnchorRead::Absent ||
          (!IsRegularFile(earlier) && ArchivedRunsBeside(anchorPath))) {
        Say(stdout, FactText(FactMessage::RegisterMissing, language_, Cp858ForDisplay(path)));
        return kExitTrouble;
      }
      if (!IsRegularFile(earlier)) {
        Error(FactMessage::NoRegister, Cp858ForDisplay(AbsoluteHostPath(root_.empty() ? "." : HostPath(root_)) + "/"));
        return kExitTrouble;
      }
    }
    bool sound = true;
    for (const std::string& file : {earlier, path}) {
      if (!IsRegularFile(file)) continue;
      const RecordFileCheck check = CheckRecordFile(file);
      if (check.status != 0) {
        Error(FactMessage::CannotRead, Cp858ForDisplay(file), check.status);
        return kExitTrouble;
      }
      if (check.problems.empty()) continue;
      sound = false;
      Say(stdout, FactText(FactMessage::FileDamaged, language_, Cp858ForDisplay(file),
                           static_cast<int64_t>(check.problems.size())));
      for (const std::string& problem : check.problems) Say(stdout, "  " + problem);
    }
    const int16_t opened = register_.Open(path, "", true, earlier);
    if (opened != 0) {
      Error(FactMessage::CannotOpen, Cp858ForDisplay(path), opened);
      return kExitTrouble;
    }
    int64_t broken = -1;
    RegisterEntry e;
    const int16_t read = register_.CheckChain(broken, e);
    if (read != 0) {
      Say(stdout, FactText(FactMessage::RecordUnreadable, language_, Cp858ForDisplay(path), broken + 1));
      sound = false;
    } else if (broken >= 0) {
      Say(stdout, FactText(FactMessage::ChainBroken, language_, PrintedInvoiceNumber(e.series, e.number), e.sequence));
      sound = false;
    }
    register_.AnchorTail(anchorPath);
    if (register_.CheckTail(false) != 0) {
      sound = false;
      const RegisterTail& tail = register_.Tail();
      const std::string anchorShown = Cp858ForDisplay(anchorPath);
      switch (tail.problem) {
        case RegisterTail::Problem::Shorter:
          Say(stdout, FactText(FactMessage::RegisterShorter, language_, Cp858ForDisplay(path), tail.anchored));
          break;
        case RegisterTail::Problem::Differs:
          Say(stdout, FactText(FactMessage::RegisterDiffers, language_, anchorShown, tail.anchored));
          break;
        case RegisterTail::Problem::AnchorDamaged:
          Say(stdout, FactText(FactMessage::AnchorDamaged, language_, anchorShown));
          break;
        default:
          Say(stdout, FactText(FactMessage::CannotRead, language_, Cp858ForDisplay(path), tail.status));
          break;
      }
    }
    if (!sound) return kExitTrouble;
    std::vector<RegisterEntry> chain;
    if (register_.ReadAll(chain) != 0) {
      Error(FactMessage::CannotRead, Cp858ForDisplay(path), RmIoError);
      return kExitTrouble;
    }
    // The not-sending mode checks the signatures and the event log too, and
    // logs the check.
    if (KeepingModeOn(root_)) return VerifyKept(root_, chain, -1, language_);
    Say(stdout, FactText(FactMessage::ChainSound, language_, "", static_cast<int64_t>(chain.size())));
    return 0;
  }

  int Mail() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    return MailCommand(options_.mail, chain, root_, language_, PrintProgram());
  }

  // The print program: ZEPPRINT in ZEPEXE, else beside zepfact itself.
  static std::string PrintProgram() {
    const std::string exeDir = Environment("ZEPEXE");
    return TidyHostPath(exeDir.empty() ? OwnDirectory() + "ZEPPRINT" : HostDirectory(exeDir) + "ZEPPRINT");
  }

  // The invoice options_.number names in chain (a cancellation record
  // names none); nullptr after saying why there is none.
  const RegisterEntry* FindInvoice(const std::vector<RegisterEntry>& chain) const {
    // The number as printed names one invoice; the number alone names the
    // one invoice of any series that has it.
    const size_t slash = options_.number.find_last_of('/');
    const bool withSeries = slash != std::string::npos;
    std::string series;
    if (withSeries && !Cp858FromUtf8(options_.number.substr(0, slash), series)) series = options_.number.substr(0, slash);
    const int32_t number = static_cast<int32_t>(std::atol(options_.number.c_str() + (withSeries ? slash + 1 : 0)));
    const RegisterEntry* entry = nullptr;
    size_t matches = 0;
    for (const RegisterEntry& e : chain) {
      // A correction record names its invoice again, with the same page.
      if (e.IsCancellation() || e.kind == RegisterKindCorrection || e.number != number ||
          (withSeries && e.series != series))
        continue;
      entry = &e;
      ++matches;
    }
    if (matches != 1) {
      Error(matches == 0 ? FactMessage::NotInRegister : FactMessage::AmbiguousNumber, Cp858ForDisplay(options_.number));
      return nullptr;
    }
    return entry;
  }

  // The invoice's page out of its run's archived spool file, and its code
  // as page 1's; false after saying why not.
  bool ArchivedPage(const RegisterEntry& entry, std::string& pageOut, std::string& codeOut,
                    std::string& figuresOut) const {
    const std::string archive = HostPath(root_ + "ARXIU\\") + entry.archive;
    std::string spool;
    if (entry.archive.empty() || ReadRegularFile(archive, spool, 256u << 20) != ReadResult::Ok ||
        !SpoolOfPage(spool, entry.page, pageOut)) {
      Error(FactMessage::NoArchive, Cp858ForDisplay(archive));
      return false;
    }
    std::string codes;
    const size_t dot = archive.find_last_of('.');
    static_cast<void>(ReadRegularFile(archive.substr(0, dot) + ".qr", codes, 1u << 20));
    codeOut = CodeLineOfPage(codes, entry.page);
    std::string figures;
    static_cast<void>(ReadRegularFile(archive.substr(0, dot) + ".fig", figures, 64u << 20));
    figuresOut = FigureLinesOfPage(figures, entry.page);
    return true;
  }

  int Reprint() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    if (!options_.run.empty()) return ReprintRun(chain);
    const RegisterEntry* entry = FindInvoice(chain);
    std::string page;
    std::string code;
    std::string figures;
    if (entry == nullptr || !ArchivedPage(*entry, page, code, figures)) return kExitTrouble;
    return Print(MarkedCopyPage(page, kPageTexts.Text(PageText::CopyMark, language_)), code, Device(*entry), figures);
  }

  // Prints a whole registered run again from its archived spool file, every
  // page with its code, as the run printed it (a run whose printing failed
  // after its invoices were registered).
  int ReprintRun(const std::vector<RegisterEntry>& chain) {
    std::string name = options_.run;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".zsp") != 0) name += ".zsp";
    const RegisterEntry* first = nullptr;
    for (const RegisterEntry& e : chain) {
      if (e.archive == name && (first == nullptr || e.page < first->page)) first = &e;
    }
    if (first == nullptr) {
      Error(FactMessage::NotInRegister, Cp858ForDisplay(name));
      return kExitTrouble;
    }
    const std::string archive = HostPath(root_ + "ARXIU\\") + name;
    std::string spool;
    if (ReadRegularFile(archive, spool, 256u << 20) != ReadResult::Ok) {
      Error(FactMessage::NoArchive, Cp858ForDisplay(archive));
      return kExitTrouble;
    }
    std::string codes;
    static_cast<void>(ReadRegularFile(archive.substr(0, archive.size() - 4) + ".qr", codes, 1u << 20));
    std::string figures;
    static_cast<void>(ReadRegularFile(archive.substr(0, archive.size() - 4) + ".fig", figures, 64u << 20));
    return Print(spool, codes, Device(*first, name), figures);
  }

  // Hands a spool (its DEVICE line replaced by device), its codes and its
  // figures to the print program in a folder of its own, removed
  // afterwards: the print program's exit code.
  int Print(std::string page, const std::string& code, const std::string& device,
            const std::string& figures = std::string()) {
    const std::string base = Environment("TMPDIR").empty() ? "/tmp" : Environment("TMPDIR");
    std::string folder = base + "/zepfact-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
      Error(FactMessage::CannotWrite, Cp858ForDisplay(folder));
      return kExitTrouble;
    }
    folder += "/";
    // The page goes to this print's device, not to the archived run's.
    if (page.compare(0, 6, "DEVICE") == 0) {
      const size_t end = page.find('\n');
      page.erase(0, end == std::string::npos ? page.size() : end + 1);
    }
    page = "DEVICE" + device + "\r\n" + page;
    const std::string code3(LanguageCode(language_));
    if (WriteWholeFile(folder + "zepprint.tmp", page) != 0 ||
        (!code.empty() && WriteWholeFile(folder + "zepprint.qr", code) != 0) ||
        (!figures.empty() && WriteWholeFile(folder + "zepprint.fig", figures) != 0) ||
        WriteWholeFile(folder + "TarnTerm.ini", "[Sistema]\r\nIdioma=" + code3 + "\r\n") != 0) {
      Error(FactMessage::CannotWrite, Cp858ForDisplay(folder));
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
      return kExitTrouble;
    }

    const std::string exeDir = Environment("ZEPEXE");
    ChildSpec spec;
    spec.program = TidyHostPath(exeDir.empty() ? OwnDirectory() + "ZEPPRINT" : HostDirectory(exeDir) + "ZEPPRINT");
    const std::vector<std::string> variables = PrintProgramEnvironment(
        folder, InvoiceStationeryHostPath(root_, code3), root_.empty() ? std::string() : HostDirectory(root_));
    spec.environment = &variables;
    std::fflush(stdout);
    const ChildEnd end = RunChild(spec);
    // The folder holds only copies (and the print program's result file).
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (!end.started) {
      Error(FactMessage::CannotStartPrint, Cp858ForDisplay(spec.program));
      return kExitTrouble;
    }
    return end.exited ? end.exitCode : kExitTrouble;
  }

  // What a record made now needs: the issuer's name, the software and the
  // installation; false after saying why not.
  bool RecordMaker(RecordXmlMaker& makerOut) {
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
  void RegisterTrouble(int16_t status, const RegisterRefusal& refusal, const std::string& signError) const {
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
  bool Refused(AmendRefusal refusal, const RegisterEntry& entry) const {
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
  bool KeepingReady(KeepingMode& keeping) {
    const std::string settings = root_ + "Tarn.ini";
    Issuer issuer;
    static_cast<void>(ReadIssuer(root_, issuer));
    keeping.Start(root_, LoadVeriFactuSettings(root_), issuer.nif, issuer.name, register_);
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
    Error(FactMessage::KeyRefused, CertificateProblemText(p.key, p.detail, HostPath(settings), language_));
    return false;
  }

  AmendPlaces Places() const {
    return {HostPath(root_ + "DADES\\"), HostPath(root_ + CollectionFileName) + ".dat", HostPath(root_ + "ARXIU\\")};
  }

  int Cancel() {
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

  int Correct() {
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
    const std::string codes = "1\t" + TaxQrUrl(corrective, settings.testEnvironment, LoadVeriFactuSettings(root_).Sending()) + "\n";
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

  // Where a reprint goes (a host path or "LP:name"): --output, else the
  // session's output device when it names a file or a printer, else
  // <SERIES>-<NUMBER>.pdf in the current folder (a whole run: the archive's
  // name, .pdf for .zsp). A session's "PDF" is not taken: it means the
  // session's own temporary folder.
  std::string Device(const RegisterEntry& entry, const std::string& runName = {}) const {
    if (!options_.output.empty()) return AbsoluteHostPath(options_.output);
    const std::string session = Environment("ZEPTMP");
    if (!session.empty()) {
      const std::string device = IniReadTrimmed(SuiteDirectory(session) + "TarnTerm.ini", "Sistema", "Sortida");
      std::string prefix = device.substr(0, 3);
      for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if ((prefix == "LP:" && device.size() > 3) || IsOutputFileName(device)) return device;
    }
    if (!runName.empty()) return AbsoluteHostPath(runName.substr(0, runName.size() - 4) + ".pdf");
    std::string name = Utf8FromCp858(PrintedInvoiceNumber(entry.series, entry.number));
    for (char& c : name) {
      if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '-';
    }
    return AbsoluteHostPath(name + ".pdf");
  }

  const Options& options_;
  const std::string root_;  // suite path, empty or ending in a separator
  const Language language_;
  InvoiceRegister register_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const std::string root = SuiteDirectory(options.haveRoot ? options.root : Environment("ZEPROOT"));
  const Language language = SessionLanguage(root);
  if (options.help) {
    Say(stdout, FactText(FactMessage::Usage, language));
    return 0;
  }
  // A correction's cause, form or amount that cannot be taken is bad data,
  // not a bad command line: said alone, with the trouble's exit code.
  if (options.bad && (options.error == FactMessage::BadAmount || options.error == FactMessage::BadCause ||
                      options.error == FactMessage::BadForm)) {
    Say(stderr, FactText(options.error, language, options.errorText));
    return kExitTrouble;
  }
  if (options.bad) {
    if (options.error != FactMessage::Usage) Say(stderr, FactText(options.error, language, options.errorText));
    Say(stderr, FactText(FactMessage::Usage, language));
    return kExitUsage;
  }
  const int code = Program(options, root, language).Run();
  // Output that did not reach its file or pipe (a full disk) is a failure.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    Say(stderr, FactText(FactMessage::CannotWrite, language, "stdout"));
    return kExitTrouble;
  }
  return code;
}
