// zepfact's table of commands: what each takes, its usage, and the member
// of Program that runs it. The command line is read, checked and run by
// this table, and the usage printed from it.
#include "suite/zepfact/commands.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/language.h"
#include "register/amend.h"
#include "suite/zepfact/declaration.h"
#include "suite/zepfact/exports.h"
#include "suite/zepfact/keeping.h"
#include "suite/zepfact/mail_command.h"
#include "suite/zepfact/messages.h"
#include "suite/zepfact/send.h"

namespace {

// What a command takes beside its name, one bit each.
enum Takes : unsigned {
  kDates = 1u << 0,         // --from, --to, --generated-from, --generated-to DATE
  kFile = 1u << 1,          // FILE, the output (required)
  kInvoice = 1u << 2,       // NUMBER, one invoice (required, unless kWholeRun's --run is given)
  kRecord = 1u << 3,        // NUMBER, one record to check (optional, taken as typed)
  kEventsWhat = 1u << 4,    // list, restored, or export FOLDER
  kRequirement = 1u << 5,   // --requerimiento REF
  kOutput = 1u << 6,        // --output FILE, .pdf or .txt
  kWholeRun = 1u << 7,      // --run ARCHIVE instead of NUMBER
  kMailOptions = 1u << 8,   // --run ARCHIVE (instead of DATES), --dry-run, --again, --status
  kCorrection = 1u << 9,    // --type, --by and --fee (required), --expenses, --cause
  kSendOptions = 1u << 10,  // --until-empty, --retry SECONDS, --background
  kRemittance = 1u << 11,   // --run ARCHIVE, --collection-date DATE, --output FILE, --again; or returns FILE
};

struct CommandSpec {
  const char* name;
  unsigned takes;  // Takes
  int (Program::*run)();
  // What follows the name in the usage, a "\n" between two forms of the
  // command; {WORD} is one of kUsageWords in the session's language.
  const char* usage;
};

// In the order the usage lists them.
constexpr CommandSpec kCommands[] = {
    {"list", kDates, &Program::List, "[{DATES}]"},
    {"export-csv", kDates | kFile, &Program::ExportCsv, "[{DATES}] {FILE}"},
    {"export-totals", kDates | kFile, &Program::ExportTotals, "[{DATES}] {FILE}"},
    {"export-xml", kDates | kFile | kRequirement, &Program::ExportXml, "[{DATES}] [--requerimiento REF] {FILE}"},
    {"verify", kRecord, &Program::Verify, "[NUM]"},
    {"events", kEventsWhat, &Program::Events, "list|restored|export {FOLDER}"},
    {"reprint", kInvoice | kOutput | kWholeRun, &Program::Reprint,
     "NUM [--output {FILE}]\n--run {ARCHIVE} [--output {FILE}]"},
    {"cancel", kInvoice, &Program::Cancel, "NUM"},
    {"correct", kInvoice | kOutput | kCorrection, &Program::Correct,
     "NUM --type R1..R4 --by S|I --fee {AMOUNT} [--expenses {AMOUNT}] [--cause {TEXT}] [--output {FILE}]"},
    {"declaration", 0, &Program::Declaration, ""},
    {"mail", kDates | kMailOptions, &Program::Mail, "[--run {ARCHIVE} | {DATES}] [--dry-run] [--again] [--status]"},
    {"send", kSendOptions, &Program::Send, "[--until-empty] [--retry {SECONDS}] [--background]"},
    {"resend", kInvoice, &Program::Resend, "NUM"},
    {"renounce", 0, &Program::Renounce, ""},
    {"remittance", kDates | kRemittance, &Program::Remittance,
     "[--run {ARCHIVE} | {DATES}] [--collection-date {DATE}] --output {FILE} [--again]\nreturns {FILE}"},
};

// The words of the usage that are read in the session's language (code
// page 850: Catalan, Spanish, Galician, Occitan).
struct UsageWord {
  const char* mark;
  std::array<const char*, kLanguageCount> words;
};
constexpr UsageWord kUsageWords[] = {
    {"{DATES}", {"DATES", "FECHAS", "DATAS", "DATAS"}},
    {"{DATE}", {"DATA", "FECHA", "DATA", "DATA"}},
    {"{FILE}", {"FITXER", "FICHERO", "FICHEIRO", "FICHI\xd4R"}},
    {"{ARCHIVE}", {"ARXIU", "ARCHIVO", "ARQUIVO", "ARCHIU"}},
    {"{SECONDS}", {"SEGONS", "SEGUNDOS", "SEGUNDOS", "SEGONDAS"}},
    {"{AMOUNT}", {"IMPORT", "IMPORTE", "IMPORTE", "IMP\xe3RT"}},
    {"{FOLDER}", {"CARPETA", "CARPETA", "CARTAFOL", "DORSI\xd4R"}},
    {"{TEXT}", {"TEXT", "TEXTO", "TEXTO", "T\xd4XTE"}},
};

// The longest first back-off send --retry takes, seconds (an hour).
constexpr int32_t kLongestRetry = 3600;

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

void Fail(Options& options, FactMessage message, const std::string& hostText) {
  if (options.bad) return;
  options.bad = true;
  options.error = message;
  options.errorText = Cp858ForDisplay(hostText);
}

// The date a date option sets; null for any other argument.
std::string* DateOfOption(Options& options, const std::string& arg) {
  if (arg == "--from") return &options.selection.issued.from;
  if (arg == "--to") return &options.selection.issued.to;
  if (arg == "--generated-from") return &options.selection.generated.from;
  if (arg == "--generated-to") return &options.selection.generated.to;
  return nullptr;
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

// The usage's lines of the commands, each form of each command once, in
// language.
std::string CommandLines(Language language) {
  std::string lines;
  for (const CommandSpec& command : kCommands) {
    std::string usage = command.usage;
    for (const UsageWord& word : kUsageWords) {
      const std::string mark = word.mark;
      const char* const text = word.words[static_cast<size_t>(language)];
      for (size_t at = usage.find(mark); at != std::string::npos; at = usage.find(mark, at))
        usage.replace(at, mark.size(), text);
    }
    size_t start = 0;
    do {
      const size_t end = usage.find('\n', start);
      const std::string form = usage.substr(start, end == std::string::npos ? std::string::npos : end - start);
      lines += "  " + std::string(command.name) + (form.empty() ? "" : " " + form) + "\n";
      start = end == std::string::npos ? usage.size() + 1 : end + 1;
    } while (start <= usage.size());
  }
  return lines;
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options options;
  unsigned takes = 0;  // the command's, once it is named
  std::string dateOption;  // the first date option given
  bool haveRequirement = false;
  bool haveNumber = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string* const date = DateOfOption(options, arg);
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if ((takes & kRemittance) != 0 &&
               (arg == "--again" || arg == "--run" || arg == "--output" || arg == "--collection-date")) {
      RemittanceOptions& r = options.remittance;
      if (arg == "--again") {
        r.again = true;
        continue;
      }
      if (i + 1 >= argc) {
        Fail(options, FactMessage::MissingValue, arg);
        break;
      }
      const std::string value = argv[++i];
      if (arg == "--run") {
        r.run = value.substr(value.find_last_of("/\\") == std::string::npos ? 0 : value.find_last_of("/\\") + 1);
        if (r.run.empty() || r.run[0] == '.') Fail(options, FactMessage::BadArgument, value);
      } else if (arg == "--output") {
        r.output = value;
        if (value.empty()) Fail(options, FactMessage::BadArgument, arg);
      } else if (!ParseCommandDate(value, r.collectionDate)) {
        Fail(options, FactMessage::BadDate, value);
      }
    } else if (arg == "--dry-run" || arg == "--again" || arg == "--status") {
      (arg == "--dry-run" ? options.mail.dryRun : arg == "--again" ? options.mail.again : options.mail.status) = true;
    } else if ((arg == "--until-empty" || arg == "--background") && (takes & kSendOptions) != 0) {
      (arg == "--until-empty" ? options.send.untilEmpty : options.send.background) = true;
    } else if (arg == "--retry" && (takes & kSendOptions) != 0) {
      // A bad value is passed over as any other option's: the rest of the
      // line is still read.
      int32_t seconds = 0;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], seconds) || seconds < 1 || seconds > kLongestRetry) {
        Fail(options, i + 1 >= argc ? FactMessage::MissingValue : FactMessage::BadArgument,
             i + 1 >= argc ? arg : argv[i + 1]);
      } else {
        options.send.firstRetry = seconds;
      }
      ++i;
    } else if (arg == "--root" || arg == "--lang" || arg == "--requerimiento" || arg == "--output" || arg == "--run" ||
               arg == "--type" || arg == "--cause" || arg == "--by" || arg == "--fee" || arg == "--expenses" ||
               date != nullptr) {
      if (i + 1 >= argc) {
        Fail(options, FactMessage::MissingValue, arg);
        break;
      }
      const std::string value = argv[++i];
      if (arg == "--root") {
        options.root = value;
        options.haveRoot = true;
      } else if (arg == "--run" && (takes & kMailOptions) != 0) {
        options.mail.run = value;
      } else if (arg == "--run") {
        // The archive's name as the register keeps it; a path to it in
        // ARXIU is taken by its last part.
        options.run = value.substr(value.find_last_of("/\\") == std::string::npos ? 0 : value.find_last_of("/\\") + 1);
        if (options.run.empty() || options.run[0] == '.') Fail(options, FactMessage::BadArgument, value);
      } else if (arg == "--output") {
        options.output = value;
        if (!IsOutputFileName(value)) Fail(options, FactMessage::BadOutput, value);
      } else if (arg == "--lang") {
        std::string code = value;
        for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        options.language = code;
        if (code != "CAT" && code != "SPA" && code != "GLG" && code != "OCI") Fail(options, FactMessage::BadArgument, value);
      } else if (arg == "--type" || (arg == "--cause" && !options.haveType && IsCorrectionType(value))) {
        // The cause's type; "--cause R1..R4" alone still names it, as it
        // did before causes were described.
        options.haveType = true;
        options.correction.type = value;
        if (!IsCorrectionType(value)) Fail(options, FactMessage::BadCause, value);
      } else if (arg == "--cause") {
        options.haveCause = true;
        options.correction.cause = value;
        if (!IsCorrectionCause(value)) Fail(options, FactMessage::BadDescribedCause, "");
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
      const CommandSpec* const command = FindCommand(arg);
      takes = command != nullptr ? command->takes : 0;
    } else if ((takes & kRemittance) != 0) {
      // remittance returns FILE
      if (arg == "returns" && !options.remittance.returns) {
        options.remittance.returns = true;
      } else if (options.remittance.returns && options.remittance.file.empty()) {
        options.remittance.file = arg;
      } else {
        Fail(options, FactMessage::BadArgument, arg);
      }
    } else if ((takes & kFile) != 0 && options.file.empty()) {
      options.file = arg;
    } else if ((takes & (kRecord | kEventsWhat)) != 0 && !haveNumber) {
      // verify's invoice number; events' list, export or restored.
      haveNumber = true;
      options.number = arg;
    } else if ((takes & kEventsWhat) != 0 && options.file.empty()) {
      options.file = arg;
    } else if ((takes & kInvoice) != 0 && !haveNumber) {
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
  } else if (FindCommand(c) == nullptr) {
    // Said first: what else was wrong depends on the command meant.
    options.bad = false;
    Fail(options, FactMessage::UnknownCommand, c);
  } else if ((takes & kRemittance) != 0 && options.remittance.returns && options.remittance.file.empty()) {
    Fail(options, FactMessage::MissingFile, "");
  } else if ((takes & kRemittance) != 0 && options.remittance.returns &&
             (!dateOption.empty() || !options.remittance.run.empty() || !options.remittance.output.empty() ||
              !options.remittance.collectionDate.empty() || options.remittance.again)) {
    Fail(options, FactMessage::BadArgument, !dateOption.empty() ? dateOption : "returns");
  } else if ((takes & kRemittance) != 0 && !options.remittance.returns && options.remittance.output.empty()) {
    Fail(options, FactMessage::MissingValue, "--output");
  } else if (!options.remittance.run.empty() && !dateOption.empty()) {
    Fail(options, FactMessage::BadArgument, dateOption);
  } else if ((takes & kDates) == 0 && !dateOption.empty()) {
    Fail(options, FactMessage::BadArgument, dateOption);
  } else if ((takes & kRequirement) == 0 && haveRequirement) {
    Fail(options, FactMessage::BadArgument, "--requerimiento");
  } else if ((takes & kMailOptions) == 0 &&
             (options.mail.dryRun || options.mail.again || options.mail.status || !options.mail.run.empty())) {
    Fail(options, FactMessage::BadArgument, options.mail.run.empty() ? "--dry-run/--again/--status" : "--run");
  } else if (!options.mail.run.empty() && !dateOption.empty()) {
    Fail(options, FactMessage::BadArgument, dateOption);
  } else if ((takes & kOutput) == 0 && !options.output.empty()) {
    Fail(options, FactMessage::BadArgument, "--output");
  } else if ((takes & kCorrection) == 0 &&
             (options.haveType || options.haveCause || options.haveForm || options.haveAmounts)) {
    Fail(options, FactMessage::BadArgument,
         options.haveType ? "--type" : options.haveCause ? "--cause" : options.haveForm ? "--by" : "--fee");
  } else if ((takes & kCorrection) != 0 && (!options.haveType || !options.haveForm || !options.haveFee)) {
    Fail(options, FactMessage::MissingValue, !options.haveType ? "--type" : !options.haveForm ? "--by" : "--fee");
  } else if (((takes & kWholeRun) == 0 || haveNumber) && !options.run.empty()) {
    Fail(options, FactMessage::BadArgument, "--run");
  } else if ((takes & kFile) != 0 && options.file.empty()) {
    Fail(options, FactMessage::MissingFile, "");
  } else if ((takes & kInvoice) != 0 && !haveNumber && ((takes & kWholeRun) == 0 || options.run.empty())) {
    Fail(options, FactMessage::MissingValue, c);
  } else if ((takes & kEventsWhat) != 0 && options.number != "list" && options.number != "restored" &&
             !(options.number == "export" && !options.file.empty())) {
    Fail(options, FactMessage::BadArgument, options.number.empty() ? c : options.number);
  } else if (Reversed(options.selection.issued) || Reversed(options.selection.generated)) {
    Fail(options, FactMessage::DatesReversed, "");
  }
  options.mail.selection = options.selection;
  options.mail.haveDates = !dateOption.empty();
  return options;
}

std::string UsageText(Language language) { return FactText(FactMessage::Usage, language, CommandLines(language)); }

int Program::Run() {
  const CommandSpec* const command = FindCommand(options_.command);
  if (command == nullptr) return kExitUsage;  // ParseOptions refuses it first
  return (this->*command->run)();
}

// The commands whose work lives in a file of its own.

// events list|restored|export FOLDER: the event log of [VeriFactu]
// Mode=conserva (suite/zepfact/keeping.h).
int Program::Events() {
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  return EventsCommand(root_, chain, options_.number, options_.file, language_);
}

// The producer's responsible declaration (in Spanish, UTF-8) from the
// root's Productor.ini.
int Program::Declaration() {
  SoftwareIdentity software;
  if (!Software(software)) return kExitTrouble;
  std::fputs(DeclarationText(software).c_str(), stdout);
  return 0;
}

// mail: the register's invoices by e-mail (suite/zepfact/mail_command.h).
int Program::Mail() {
  std::vector<RegisterEntry> chain;
  if (!Read(chain, false)) return kExitTrouble;
  return MailCommand(options_.mail, chain, root_, language_, PrintProgram());
}

// send posts every record not yet answered to the tax agency and keeps the
// answers; resend appends a correction record of a rejected or
// accepted-with-errors invoice, and is refused in Mode=conserva, where
// nothing is sent (suite/zepfact/send.h).
int Program::Send() { return SendRecords(root_, language_, options_.send); }

int Program::Renounce() { return RenounceSendingMode(root_, language_); }

int Program::Resend() {
  // The not-sending mode sends nothing, so nothing is resent.
  if (KeepingModeOn(root_)) {
    Error(FactMessage::ResendNotKept);
    return kExitTrouble;
  }
  return ResendRecord(root_, language_, options_.number);
}
