// zepprint: the suite's print program. Reads the spool file
// <ZEPTMP>zepprint.tmp and renders it on the device its DEVICE line names:
//   a path ending in ".pdf"  -> that PDF file; when a file of that name
//                               exists, "name-2.pdf", "name-3.pdf", ...
//                               (the first free one; nothing is overwritten)
//   "PDF"                    -> <ZEPTMP>zepprint.pdf, or the next free
//                               numbered name (zepprint-2.pdf, ...): every
//                               print of a session keeps its own file
//   a path ending in ".txt"  -> that text file (UTF-8, form feeds between pages)
//   "LP:name"                -> the PDF pages piped to "lp -d name"
//   anything else, or no DEVICE line -> <ZEPTMP>zepprint.pdf, with a note
// With <ZEPTMP>zepprint.pag (page_files.h), the pages it names are also
// written each as a PDF of its own.
// PDF pages (also those sent to a printer) are drawn on the stationery that ZEPPAPER names (a host path to
// an SVG file, see stationery.h), its placeholders filled from ZEPROOT +
// "Tarn.ini" [Emissor]; a stationery that cannot be used gives plain pages
// and a note in the closing line. A stationery that takes longer to draw
// than ZEPPAPERMAX seconds (default 20) ends the run with a message naming
// it and exit code 1, before any output is begun. With ZEPPROGRESS naming
// an open descriptor, the count of pages done is written there, one number
// a line, after each page. Temporary files that a killed run left beside
// the output are removed first.
// Takes no arguments: --help prints the usage (exit 0), anything else
// prints it as an error (exit 2).
// Letter case of ".pdf", ".txt", "PDF" and "LP:" does not matter. Prints one
// line saying where the output went (the file actually written) and exits 0;
// the path of a file written also goes, as one UTF-8 line, into the result
// file <ZEPTMP>zepprint.out (removed at the start of every run, so it is
// there only after a run that wrote a file); a spool file that cannot be
// read, or an output that cannot be made, gives a message and exit code 1.
// A file output is complete or not made at all: a failure part way (a full
// disk, the spool file unreadable half way) keeps the earlier file.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/codepage.h"
#include "base/durable.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/language.h"
#include "base/paths.h"
#include "base/text.h"
#include "suite/zepprint/messages.h"
#include "suite/zepprint/output.h"
#include "suite/zepprint/page_files.h"
#include "suite/zepprint/spool_reader.h"
#include "suite/zepprint/stationery.h"
#include "suite/zepprint/taxqr.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The session language as the module finds it: the terminal settings in the
// temporary directory first, then the suite's own settings.
Language SessionLanguage(const std::string& tempDir) {
  std::string language = Trim(IniRead(tempDir + "TarnTerm.ini", "Sistema", "Idioma"));
  if (language.empty()) language = Trim(IniRead(Environment("ZEPROOT") + "Tarn.ini", "Usuari", "Idioma"));
  return LanguageFromCode(Upper(language));
}

// Messages are built in the code page; the paths and names put into them
// are host text (UTF-8) and go through Cp858ForDisplay first.
void Say(std::FILE* stream, const std::string& cp850) {
  std::fprintf(stream, "%s\n", Utf8FromCp858(cp850).c_str());
}

struct Target {
  enum class Kind { Pdf, Text, Printer };
  Kind kind = Kind::Pdf;
  std::string where;     // host path or printer name, for the messages
  Placement mode = Placement::Replace;
  std::vector<std::string> notes;  // why the output is not what was asked
};

Target ChooseTarget(Language language, bool haveDevice, const std::string& deviceLine,
                    const std::string& tempDir) {
  const std::string device = Trim(deviceLine);
  const std::string upper = Upper(device);
  Target target;
  if (EndsWith(upper, ".PDF") && upper.size() > 4) {
    // A PDF the user named holds invoices already sent or filed: it is
    // never overwritten; the next free numbered name is taken instead.
    target.where = HostPath(device);
    target.mode = Placement::NextFree;
  } else if (EndsWith(upper, ".TXT") && upper.size() > 4) {
    target.kind = Target::Kind::Text;
    target.where = HostPath(device);
  } else if (upper.rfind("LP:", 0) == 0) {
    target.kind = Target::Kind::Printer;
    target.where = Trim(device.substr(3));
  } else {
    if (!haveDevice)
      target.notes.push_back(MessageText(language, PrintMessage::NoDevice, 0, ""));
    else if (upper != "PDF")
      target.notes.push_back(MessageText(language, PrintMessage::UnknownDevice, 0, Cp858ForDisplay(device)));
    // The session's own PDFs: each print keeps its own (zepprint.pdf,
    // zepprint-2.pdf, ...), all kept when the session ends (zepmenu).
    target.where = HostPath(tempDir + "zepprint.pdf");
    target.mode = Placement::NextFree;
  }
  return target;
}

// How long the stationery may take to draw, in seconds: ZEPPAPERMAX when
// it holds a whole number from 1 to 3600, else DefaultPaperSeconds. A
// drawing beyond it (a small SVG can ask for filters that take minutes)
// ends the run with a message naming it, before any output is begun.
constexpr unsigned DefaultPaperSeconds = 20;

unsigned PaperSeconds() {
  const std::string text = Environment("ZEPPAPERMAX");
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > 3600) return DefaultPaperSeconds;
  return static_cast<unsigned>(value);
}

// The message the alarm writes, made before the drawing starts: a signal
// handler may only write what is ready.
char PaperTooSlowText[2048];
size_t PaperTooSlowLength = 0;

void OnPaperTooSlow(int) {
  static_cast<void>(write(STDERR_FILENO, PaperTooSlowText, PaperTooSlowLength));
  _exit(1);
}

// The stationery the run names in ZEPPAPER (a host path) for PDF pages,
// its placeholders filled from the suite's settings; null when none is
// named, or when it cannot be used, and then a note says why.
// The note for a stationery that could not be used; false when it could.
bool LoadStationeryNote(Language language, StationeryLoad loaded, const std::string& paper,
                        std::vector<std::string>& notesOut) {
  const std::string shown = Cp858ForDisplay(paper);
  switch (loaded) {
    case StationeryLoad::Ok: return false;
    case StationeryLoad::Unreadable:
      notesOut.push_back(MessageText(language, PrintMessage::PaperUnreadable, 0, shown));
      break;
    case StationeryLoad::TooLarge:
      notesOut.push_back(MessageText(language, PrintMessage::PaperTooLarge, 0, shown));
      break;
    case StationeryLoad::NotSvg:
      notesOut.push_back(MessageText(language, PrintMessage::PaperNotSvg, 0, shown));
      break;
    case StationeryLoad::QrBoxTooSmall:
      notesOut.push_back(MessageText(language, PrintMessage::PaperQrTooSmall, 0, shown));
      break;
  }
  return true;
}

std::unique_ptr<Stationery> LoadStationery(Language language, std::vector<std::string>& notesOut) {
  const std::string paper = Environment("ZEPPAPER");
  std::unique_ptr<Stationery> stationery;
  if (paper.empty()) return stationery;
  const unsigned seconds = PaperSeconds();
  const std::string slow = Utf8FromCp858(MessageText(language, PrintMessage::PaperTooSlow, static_cast<long>(seconds),
                                                     Cp858ForDisplay(paper))) +
                           "\n";
  PaperTooSlowLength = std::min(slow.size(), sizeof PaperTooSlowText);
  std::memcpy(PaperTooSlowText, slow.data(), PaperTooSlowLength);
  signal(SIGALRM, OnPaperTooSlow);
  alarm(seconds);
  bool ibanRefused = false;
  const StationeryLoad loaded = Stationery::Load(
      paper, IssuerPlaceholders(Environment("ZEPROOT") + "Tarn.ini", &ibanRefused), PageWidth, PageHeight,
      stationery);
  alarm(0);
  signal(SIGALRM, SIG_DFL);
  static_cast<void>(LoadStationeryNote(language, loaded, paper, notesOut));
  // An account that fails its check digits is left off the page.
  if (ibanRefused) notesOut.push_back(MessageText(language, PrintMessage::IbanRefused, 0, ""));
  return stationery;
}

// The result file: one line naming the file the last run wrote, for the
// module's run summary. A hint: failing to write it fails nothing.
void WriteResult(const std::string& resultPath, const std::string& written) {
  static_cast<void>(WriteWholeFile(resultPath, written + "\n"));
}

int Run() {
  const std::string tempDir = SuiteDirectory(Environment("ZEPTMP"));
  const Language language = SessionLanguage(tempDir);
  const std::string spoolPath = HostPath(tempDir + "zepprint.tmp");
  // A result file of an earlier run must not speak for this one.
  const std::string resultPath = HostPath(tempDir + "zepprint.out");
  unlink(resultPath.c_str());

  // Only a regular file is read: a pipe or device put in its place is
  // refused at once instead of blocking the run.
  int spoolFd = -1;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> spool(nullptr, std::fclose);
  if (OpenRegularFile(spoolPath, spoolFd) == ReadResult::Ok) {
    spool.reset(fdopen(spoolFd, "rb"));
    if (!spool) close(spoolFd);
  }
  if (!spool) {
    Say(stderr, MessageText(language, PrintMessage::CannotRead, 0, Cp858ForDisplay(spoolPath)));
    return 1;
  }
  char* buffer = nullptr;
  size_t capacity = 0;
  std::unique_ptr<char*, void (*)(char**)> bufferGuard(&buffer, [](char** b) { std::free(*b); });
  auto nextLine = [&](std::string_view& line) {
    ssize_t length = getline(&buffer, &capacity, spool.get());
    if (length < 0) return false;
    line = std::string_view(buffer, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return true;
  };

  std::string_view line;
  bool haveLine = nextLine(line);
  if (std::ferror(spool.get())) {
    Say(stderr, MessageText(language, PrintMessage::CannotRead, 0, Cp858ForDisplay(spoolPath)));
    return 1;
  }
  std::string device;
  const bool haveDevice = haveLine && DeviceOf(line, device);
  Target target = ChooseTarget(language, haveDevice, device, tempDir);
  // What a killed earlier run left beside the output goes before this run
  // adds its own temporary file.
  if (target.kind != Target::Kind::Printer) static_cast<void>(RemoveLeftTemporaries(target.where));
  std::unique_ptr<Stationery> stationery;
  std::unique_ptr<PageOutput> output;
  // The module names each invoice's tax code and figures beside the spool
  // file; a page without them prints without.
  InvoiceExtras extras;
  std::string side;
  if (ReadRegularFile(HostPath(tempDir + "zepprint.qr"), side, 1u << 20) == ReadResult::Ok)
    extras.codes = ParseQrSideFile(side);
  if (ReadRegularFile(HostPath(tempDir + "zepprint.fig"), side, 64u << 20) == ReadResult::Ok)
    extras.figures = ParseFiguresFile(side);
  switch (target.kind) {
    case Target::Kind::Pdf:
      stationery = LoadStationery(language, target.notes);
      output = std::make_unique<PdfOutput>(target.where, target.mode, stationery.get());
      break;
    case Target::Kind::Text:
      output = std::make_unique<TextOutput>(target.where, target.mode);
      // Text has no picture of the code: its pages carry the address.
      if (!extras.codes.empty())
        target.notes.push_back(MessageText(language, PrintMessage::TextWithoutCode,
                                           static_cast<long>(extras.codes.size()), ""));
      break;
    case Target::Kind::Printer:
      stationery = LoadStationery(language, target.notes);
      output = std::make_unique<LpOutput>(target.where, stationery.get());
      break;
  }
  // Pages the module wants as PDFs of their own as well (page_files.h).
  std::string pageFiles;
  PageFilesOutput* withPageFiles = nullptr;
  const bool wantPageFiles =
      ReadRegularFile(HostPath(tempDir + "zepprint.pag"), pageFiles, 16u << 20) == ReadResult::Ok;
  output->SetExtras(wantPageFiles ? extras : std::move(extras));
  if (wantPageFiles) {
    if (!stationery && target.kind != Target::Kind::Pdf) stationery = LoadStationery(language, target.notes);
    auto wrapped = std::make_unique<PageFilesOutput>(std::move(output), ParsePageFiles(pageFiles), stationery.get(),
                                                     std::move(extras));
    withPageFiles = wrapped.get();
    output = std::move(wrapped);
  }
  const bool printer = target.kind == Target::Kind::Printer;
  const PrintMessage failure = printer ? PrintMessage::CannotSend : PrintMessage::CannotWrite;
  if (!output->Begin()) {
    Say(stderr, MessageText(language, failure, 0, Cp858ForDisplay(target.where)));
    return 1;
  }
  bool outputGood = true;
  // With ZEPPROGRESS naming an open descriptor (the module's pipe), the
  // count of pages done goes there after each page, one number a line. A
  // hint: a reader that is gone changes nothing.
  const std::string progressText = Environment("ZEPPROGRESS");
  const bool progressNamed = !progressText.empty() && progressText.size() < 4 &&
                             progressText.find_first_not_of("0123456789") == std::string::npos;
  const int progressFd = progressNamed ? std::atoi(progressText.c_str()) : -1;
  long pagesDone = 0;
  SpoolReader reader([&](const GridPage& page) {
    if (outputGood) outputGood = output->Page(page);
    ++pagesDone;
    if (progressFd > STDERR_FILENO) static_cast<void>(WriteAll(progressFd, std::to_string(pagesDone) + "\n"));
  });
  if (haveLine && !haveDevice) reader.Feed(line);
  while (nextLine(line)) reader.Feed(line);
  // A spool file that cannot be read to its end is not printed in part:
  // the output is dropped (a file output keeps the earlier file).
  if (std::ferror(spool.get())) {
    Say(stderr, MessageText(language, PrintMessage::CannotRead, 0, Cp858ForDisplay(spoolPath)));
    return 1;
  }
  reader.Finish();
  if (!outputGood || !output->End()) {
    Say(stderr, MessageText(language, failure, 0, Cp858ForDisplay(target.where)));
    return 1;
  }
  if (withPageFiles != nullptr) {
    for (const std::string& failed : withPageFiles->failed())
      target.notes.push_back(MessageText(language, PrintMessage::CannotWrite, 0, Cp858ForDisplay(failed)));
  }
  if (!printer) WriteResult(resultPath, output->where());
  Say(stdout, SummaryLine(language, printer, Cp858ForDisplay(output->where()), reader.Totals(), target.notes));
  return 0;
}

// --sample FILE.svg OUT.png: a sample invoice on the stationery, for its
// designer. The issuer's placeholders come from ZEPROOT Tarn.ini [Emissor],
// sample values where it has none.
int Sample(const std::string& svg, const std::string& png) {
  const Language language = SessionLanguage(SuiteDirectory(Environment("ZEPTMP")));
  Placeholders values = IssuerPlaceholders(Environment("ZEPROOT") + "Tarn.ini");
  const Placeholders samples = {
      {"Nom", "Jordi Vilar\xc3\xb3 i Puigdevall"}, {"Linia2", "Administrador de finques col\xc2\xb7legiat"},
      {"Linia3", "Carrer de Sant Rafel, 14, 1r 2a"},   {"Linia4", "17800 Olot (la Garrotxa)"},
      {"Linia5", "Tel. 972 26 14 55"},                  {"NIF", "12345678Z"},
      {"Poblacio", "Olot"},                             {"FormaPagament", "Transfer\xc3\xa8ncia banc\xc3\xa0ria"},
      {"IBAN", "ES91 2100 0418 4502 0005 1332"},        {"DiesVenciment", "30"}};
  for (auto& [key, value] : values)
    for (const auto& [sampleKey, sample] : samples)
      if (value.empty() && key == sampleKey) value = sample;
  std::unique_ptr<Stationery> stationery;
  const StationeryLoad loaded = Stationery::Load(svg, values, PageWidth, PageHeight, stationery);
  if (loaded != StationeryLoad::Ok) {
    std::vector<std::string> notes;
    static_cast<void>(LoadStationeryNote(language, loaded, svg, notes));
    for (const std::string& note : notes) Say(stderr, note);
    return 1;
  }
  if (!WriteSamplePng(*stationery, png)) {
    Say(stderr, MessageText(language, PrintMessage::CannotWrite, 0, Cp858ForDisplay(png)));
    return 1;
  }
  Say(stdout, MessageText(language, PrintMessage::WrittenToOne, 1, Cp858ForDisplay(png)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--sample") {
    return Sample(argv[2], argv[3]);
  }
  // The program takes no arguments: --help shows what it does instead.
  if (argc > 1) {
    const Language language = SessionLanguage(SuiteDirectory(Environment("ZEPTMP")));
    const std::string argument = argv[1];
    const bool help = argc == 2 && (argument == "--help" || argument == "-h");
    if (!help) Say(stderr, MessageText(language, PrintMessage::UnknownArgument, 0, Cp858ForDisplay(argument)));
    Say(help ? stdout : stderr, MessageText(language, PrintMessage::Usage, 0, ""));
    return help ? 0 : 2;
  }
  // A printer command that quits early must give a message, not kill us.
  signal(SIGPIPE, SIG_IGN);
  RemoveTemporaryFilesOnSignals();
  return Run();
}
