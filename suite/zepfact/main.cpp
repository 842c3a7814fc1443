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
//   zepfact [--root DIR] declaration
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
// not at all.
// NUMBER is the invoice number as printed ("R/00000005", "A/7"), or the
// number alone when only one series has it.
// reprint takes the invoice's page out of the spool file archived by its run
// (<root>ARXIU\<archive>, with the codes of <archive>.qr), writes it as
// zepprint.tmp (and zepprint.qr, the page as page 1) in a new folder under
// TMPDIR (else /tmp), and runs ZEPPRINT from ZEPEXE (else the folder of
// zepfact itself) with ZEPTMP naming that folder, ZEPROOT the root and
// ZEPPAPER the stationery the module uses (IMPRES\FACTHON_<language>.svg,
// else IMPRES\FACTHON.svg). The page goes where its DEVICE line says, which
// is never the archived run's: --output FILE (.pdf or .txt), else the
// session's output device (<ZEPTMP>TarnTerm.ini [Sistema] Sortida) when it
// names a file or a printer, else <SERIES>-<NUMBER>.pdf in the current
// folder. The folder is removed afterwards; the exit code is the print
// program's.
// With [VeriFactu] Mode=conserva (suite/zepfact/keeping.h) verify also
// checks the signed records and the event log and logs the check, NUMBER
// checking one record; export-xml writes the signed records and logs the
// export; events lists the event log, writes each event into a new FOLDER,
// or notes that the register was restored from a copy.
// declaration prints the producer's responsible declaration (in Spanish,
// UTF-8) from the root's Productor.ini; export-xml names the software by
// that file too, and the installation by <root>DADES\Instalacio.id (made
// on first use).
//
// Exit codes: 0 done (verify: the chain is sound; --help: the usage on
// stdout); 1 no register (the message names the root), a register that
// cannot be read, a file that cannot be written, an issuer tax number in
// Tarn.ini that the agency cannot take, a Productor.ini that cannot be used,
// no installation number, a record whose recipient cannot be identified, or
// (verify) a broken chain; 2 a usage error (the usage on stderr). Messages
// go in the session's language: the terminal settings <ZEPTMP>TarnTerm.ini
// [Sistema] Idioma, else the suite's Tarn.ini [Usuari] Idioma, else Catalan.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
#include "printing/spool.h"
#include "register/register.h"
#include "register/taxid.h"
#include "register/software.h"
#include "suite/zepfact/declaration.h"
#include "suite/zepfact/exports.h"
#include "suite/zepfact/keeping.h"
#include "suite/zepfact/messages.h"

namespace {

constexpr int kExitTrouble = 1;
constexpr int kExitUsage = 2;

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
  std::string number;  // reprint's invoice number as typed: as printed ("A/00000007"), or the number alone
  std::string output;  // reprint's --output, host path as given; empty for none
  bool help = false;   // --help: the usage on stdout, nothing else
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

bool TakesDates(const std::string& command) {
  return command != "verify" && command != "reprint" && command != "declaration" && command != "events";
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
    } else if (arg == "--root" || arg == "--requerimiento" || arg == "--output" || date != nullptr) {
      if (i + 1 >= argc) {
        Fail(options, FactMessage::MissingValue, arg);
        break;
      }
      const std::string value = argv[++i];
      if (arg == "--root") {
        options.root = value;
        options.haveRoot = true;
      } else if (arg == "--output") {
        options.output = value;
        if (!IsOutputFileName(value)) Fail(options, FactMessage::BadOutput, value);
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
    } else if (options.command == "reprint" && !haveNumber) {
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
  } else if (c != "list" && c != "verify" && c != "reprint" && c != "declaration" && c != "events" && !TakesFile(c)) {
    // Said first: what else was wrong depends on the command meant.
    options.bad = false;
    Fail(options, FactMessage::UnknownCommand, c);
  } else if (!TakesDates(c) && !dateOption.empty()) {
    Fail(options, FactMessage::BadArgument, dateOption);
  } else if (c != "export-xml" && haveRequirement) {
    Fail(options, FactMessage::BadArgument, "--requerimiento");
  } else if (c != "reprint" && !options.output.empty()) {
    Fail(options, FactMessage::BadArgument, "--output");
  } else if (TakesFile(c) && options.file.empty()) {
    Fail(options, FactMessage::MissingFile, "");
  } else if (c == "reprint" && !haveNumber) {
    Fail(options, FactMessage::MissingValue, c);
  } else if (c == "events" && options.number != "list" && options.number != "restored" &&
             !(options.number == "export" && !options.file.empty())) {
    Fail(options, FactMessage::BadArgument, options.number.empty() ? c : options.number);
  } else if (Reversed(options.selection.issued) || Reversed(options.selection.generated)) {
    Fail(options, FactMessage::DatesReversed, "");
  }
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
    if (c == "declaration") return Declaration();
    if (c == "events") return Events();
    return Verify();
  }

 private:
  void Error(FactMessage message, const std::string& cp850 = "", int64_t number = 0) const {
    Say(stderr, FactText(message, language_, cp850, number));
  }

  // Opens the register and reads it in chain order, or in date-and-number
  // order with byDate; false after saying why not.
  bool Read(std::vector<RegisterEntry>& entriesOut, bool byDate) {
    const std::string path = HostPath(root_ + RegisterFileName) + ".dat";
    const std::string earlier = HostPath(root_ + EarlierRegisterFileName) + ".dat";
    const std::string shown = Cp858ForDisplay(path);
    if (!IsRegularFile(path) && !IsRegularFile(earlier)) {
      Error(FactMessage::NoRegister, Cp858ForDisplay(AbsoluteHostPath(root_.empty() ? "." : HostPath(root_)) + "/"));
      return false;
    }
    const int16_t opened = register_.Open(path, "", true, earlier);
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

  int List() {
    std::vector<RegisterEntry> entries;
    if (!Read(entries, true)) return kExitTrouble;
    entries = SelectedEntries(entries, options_.selection);
    const auto title = [&](FactMessage column) { return FactText(column, language_); };
    Say(stdout, ListHeader({title(FactMessage::ColumnNumber), title(FactMessage::ColumnDate),
                            title(FactMessage::ColumnTaxId), title(FactMessage::ColumnName),
                            title(FactMessage::ColumnTotal)}));
    for (const RegisterEntry& e : entries) Say(stdout, ListLine(e));
    Say(stdout, FactText(FactMessage::Count, language_, "", static_cast<int64_t>(entries.size())));
    return 0;
  }

  int ExportCsv() {
    std::vector<RegisterEntry> entries;
    if (!Read(entries, true)) return kExitTrouble;
    entries = SelectedEntries(entries, options_.selection);
    return Write({{options_.file, CsvText(entries)}}, {entries.size()});
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

  // Writes files whole and says, for each, message with its count of
  // invoices.
  int Write(const std::vector<std::pair<std::string, std::string>>& files, const std::vector<size_t>& counts,
            FactMessage message = FactMessage::Written) {
    std::string failed;
    if (!WriteWholeFiles(files, failed)) {
      Error(FactMessage::CannotWrite, Cp858ForDisplay(failed));
      return kExitTrouble;
    }
    for (size_t i = 0; i < files.size(); ++i) {
      Say(stdout, FactText(message, language_, Cp858ForDisplay(files[i].first),
                           static_cast<int64_t>(counts[i])));
    }
    return 0;
  }

  int Events() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    return EventsCommand(root_, chain, options_.number, options_.file, language_);
  }

  int Verify() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
    // NUMBER checks one record; the not-sending mode checks signatures and
    // the event log too, and logs the check.
    int64_t index = -1;
    if (!options_.number.empty()) {
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
    }
    if (KeepingModeOn(root_)) return VerifyKept(root_, chain, index, language_);
    if (index >= 0) {
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
    const int64_t broken = FirstBrokenLink(chain);
    if (broken < 0) {
      Say(stdout, FactText(FactMessage::ChainSound, language_, "", static_cast<int64_t>(chain.size())));
      return 0;
    }
    const RegisterEntry& e = chain[static_cast<size_t>(broken)];
    Say(stdout, FactText(FactMessage::ChainBroken, language_, PrintedInvoiceNumber(e.series, e.number), e.sequence));
    return kExitTrouble;
  }

  int Reprint() {
    std::vector<RegisterEntry> chain;
    if (!Read(chain, false)) return kExitTrouble;
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
      if (e.number != number || (withSeries && e.series != series)) continue;
      entry = &e;
      ++matches;
    }
    if (matches != 1) {
      Error(matches == 0 ? FactMessage::NotInRegister : FactMessage::AmbiguousNumber, Cp858ForDisplay(options_.number));
      return kExitTrouble;
    }
    const std::string archive = HostPath(root_ + "ARXIU\\") + entry->archive;
    std::string spool;
    std::string page;
    if (entry->archive.empty() || ReadRegularFile(archive, spool, 256u << 20) != ReadResult::Ok ||
        !SpoolOfPage(spool, entry->page, page)) {
      Error(FactMessage::NoArchive, Cp858ForDisplay(archive));
      return kExitTrouble;
    }
    std::string codes;
    const size_t dot = archive.find_last_of('.');
    static_cast<void>(ReadRegularFile(archive.substr(0, dot) + ".qr", codes, 1u << 20));
    const std::string code = CodeLineOfPage(codes, entry->page);

    const std::string base = Environment("TMPDIR").empty() ? "/tmp" : Environment("TMPDIR");
    std::string folder = base + "/zepfact-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
      Error(FactMessage::CannotWrite, Cp858ForDisplay(folder));
      return kExitTrouble;
    }
    folder += "/";
    // The page goes to this reprint's device, not to the archived run's.
    if (page.compare(0, 6, "DEVICE") == 0) {
      const size_t end = page.find('\n');
      page.erase(0, end == std::string::npos ? page.size() : end + 1);
    }
    page = "DEVICE" + Device(*entry) + "\r\n" + page;
    const std::string code3(LanguageCode(language_));
    if (WriteWholeFile(folder + "zepprint.tmp", page) != 0 ||
        (!code.empty() && WriteWholeFile(folder + "zepprint.qr", code) != 0) ||
        WriteWholeFile(folder + "TarnTerm.ini", "[Sistema]\r\nIdioma=" + code3 + "\r\n") != 0) {
      Error(FactMessage::CannotWrite, Cp858ForDisplay(folder));
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

  // Where a reprint goes (a host path or "LP:name"): --output, else the
  // session's output device when it names a file or a printer, else
  // <SERIES>-<NUMBER>.pdf in the current folder. A session's "PDF" is not
  // taken: it means the session's own temporary folder.
  std::string Device(const RegisterEntry& entry) const {
    if (!options_.output.empty()) return AbsoluteHostPath(options_.output);
    const std::string session = Environment("ZEPTMP");
    if (!session.empty()) {
      const std::string device = IniReadTrimmed(SuiteDirectory(session) + "TarnTerm.ini", "Sistema", "Sortida");
      std::string prefix = device.substr(0, 3);
      for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if ((prefix == "LP:" && device.size() > 3) || IsOutputFileName(device)) return device;
    }
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
