#include "suite/zepprint/output.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "base/child.h"
#include "base/codepage.h"
#include "base/text.h"
#include "suite/zepprint/taxqr.h"

namespace {

// Control bytes never reach a page (the writer blanks them), but a damaged
// spool file may hold them; on paper they are blanks.
std::string Printable(const std::string& row) {
  std::string out = row;
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || u == 255) c = ' ';
  }
  return out;
}

}  // namespace

std::string PageText(const GridPage& page) {
  size_t used = 0;
  for (size_t r = 0; r < page.rows.size(); ++r)
    if (!TrimRight(Printable(page.rows[r])).empty()) used = r + 1;
  std::string text;
  for (size_t r = 0; r < used; ++r)
    text += Utf8FromCp858(TrimRight(Printable(page.rows[r]))) + "\n";
  return text;
}

// ---- text file

TextOutput::TextOutput(std::string path, Placement mode)
    : file_(path), mode_(mode), where_(std::move(path)) {}

bool TextOutput::Begin() { return file_.Open(mode_); }

bool TextOutput::Page(const GridPage& page) {
  std::string bytes(first_ ? "" : "\f");
  const auto code = extras_.codes.find(++pageNumber_);
  if (code != extras_.codes.end()) bytes += "QR tributario: " + code->second + "\n\n";
  bytes += PageText(page);
  first_ = false;
  return file_.Write(bytes.data(), bytes.size());
}

bool TextOutput::End() {
  if (!file_.Commit(mode_)) return false;
  where_ = file_.path();
  return true;
}

// ---- PDF
//
// Page geometry: A4 portrait, a margin of 15 mm on every side. The 96
// columns fill the printable width exactly; the font size is chosen so that
// one DejaVu Sans Mono advance is one column. Rows are spaced to fill the
// printable height, but never more than twice the font size apart, so a
// short invoice page (24 lines) reads as a page of normal spacing that
// starts at the top, and a long page shrinks the font until its rows fit.
// A page with a tax code and no stationery QR area has the code at its top
// (an area of QrBoxMinWidthMm x QrBoxMinHeightMm, centred) and, on plain
// paper, its printable area starts 3 mm below that.
//
// On stationery with a grid rectangle the columns fill its width and the
// page's lines its height exactly, each line's text centred in its band, so
// the text lands in the boxes drawn for it.

namespace {
constexpr double Margin = 42.52;  // 15 mm
}  // namespace

class PdfPages {
 public:
  using Sink = std::function<bool(const unsigned char*, unsigned int)>;
  PdfPages(const Stationery* stationery, Sink sink) : stationery_(stationery), sink_(std::move(sink)) {}
  ~PdfPages() {
    if (cr_ != nullptr) cairo_destroy(cr_);
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
  }
  PdfPages(const PdfPages&) = delete;
  PdfPages& operator=(const PdfPages&) = delete;

  bool Begin() {
    surface_ = cairo_pdf_surface_create_for_stream(WriteBytes, this, PageWidth, PageHeight);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return false;
    cr_ = cairo_create(surface_);
    cairo_select_font_face(cr_, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    return cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
  }
  bool Page(const GridPage& page, const InvoiceExtras& extras);
  // The trailer is written by finish; only then has every byte been handed
  // to the sink.
  bool End() {
    cairo_surface_finish(surface_);
    return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS && cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
  }

 private:
  // cairo's PDF stream goes to the sink; a failed write (disk full, file
  // size limit, a printer command gone) puts the surface into an error
  // state that Page and End see.
  static cairo_status_t WriteBytes(void* closure, const unsigned char* data, unsigned int length) {
    return static_cast<PdfPages*>(closure)->sink_(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
  }
  const Stationery* stationery_;
  Sink sink_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  int32_t pageNumber_ = 0;
};

bool PdfPages::Page(const GridPage& page, const InvoiceExtras& extras) {
  ++pageNumber_;
  const auto figures = extras.figures.find(pageNumber_);
  const auto code = extras.codes.find(pageNumber_);
  DrawPage(cr_, stationery_, page, figures != extras.figures.end() ? figures->second : Placeholders{},
           code != extras.codes.end() ? code->second : std::string());
  cairo_show_page(cr_);
  return cairo_status(cr_) == CAIRO_STATUS_SUCCESS && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS;
}

void DrawPage(cairo_t* cr, const Stationery* stationery, const GridPage& page, const Placeholders& figures,
              const std::string& taxCode) {
  if (stationery != nullptr) {
    stationery->DrawUnder(cr);
    stationery->DrawInvoiceTexts(cr, figures);
  }
  const bool onGrid = stationery != nullptr && stationery->grid().has_value();
  PageRect area = onGrid ? *stationery->grid()
                         : PageRect{Margin, Margin, PageWidth - 2 * Margin, PageHeight - 2 * Margin};
  // The tax code's area: the stationery's, else the top of the page.
  QrMatrix matrix;
  const bool withCode = !taxCode.empty() && EncodeQr(taxCode, matrix);
  PageRect codeArea;
  if (withCode) {
    if (stationery != nullptr && stationery->qrArea().has_value()) {
      codeArea = *stationery->qrArea();
    } else {
      const double width = MillimetresToPoints(QrBoxMinWidthMm);
      codeArea = {(PageWidth - width) / 2, Margin, width, MillimetresToPoints(QrBoxMinHeightMm)};
      if (!onGrid) {
        // The sending mode's caption goes under the code: its line too.
        const double caption = TaxQrFooter(taxCode) != nullptr ? MillimetresToPoints(5) : 0;
        const double below = codeArea.height + caption + MillimetresToPoints(3);
        area.y += below;
        area.height -= below;
      }
    }
  }
  const double cellWidth = area.width / GridColumns;
  cairo_set_font_size(cr, 10.0);
  cairo_text_extents_t probe;
  cairo_text_extents(cr, "M", &probe);
  double fontSize = probe.x_advance > 0 ? 10.0 * cellWidth / probe.x_advance : 9.0;
  const int lines = page.lines > 0 ? page.lines : 1;
  double pitch = area.height / lines;
  if (!onGrid && pitch > 2 * fontSize) pitch = 2 * fontSize;
  if (fontSize > pitch / 1.15) fontSize = pitch / 1.15;
  cairo_set_font_size(cr, fontSize);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  // The first baseline: at the top of its band on plain paper, in the
  // middle of it on a grid.
  const double firstBaseline =
      area.y + (onGrid ? (pitch - font.ascent - font.descent) / 2 + font.ascent : font.ascent);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (size_t r = 0; r < page.rows.size(); ++r) {
    std::string text = TrimRight(Printable(page.rows[r]));
    if (text.empty()) continue;
    // One run per row: every glyph of the monospaced face advances by one
    // column, so the row's text lands on the grid.
    const double baseline = firstBaseline + static_cast<double>(r) * pitch;
    std::string utf8 = Utf8FromCp858(text);
    cairo_move_to(cr, area.x, baseline);
    cairo_show_text(cr, utf8.c_str());
  }
  if (withCode) {
    const QrPlacement where = PlaceQrInArea(codeArea.x, codeArea.y, codeArea.width, codeArea.height);
    // The legend in the page's type, never larger than its line above the code.
    DrawTaxQr(cr, matrix, where, "DejaVu Sans Mono", std::min(fontSize, 9.0),
              TaxQrFooter(taxCode));
    cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  }
}

PdfOutput::PdfOutput(std::string path, Placement mode, const Stationery* stationery)
    : file_(path),
      mode_(mode),
      where_(std::move(path)),
      pages_(std::make_unique<PdfPages>(stationery, [this](const unsigned char* data, unsigned int length) {
        return file_.Write(data, length);
      })) {}

PdfOutput::~PdfOutput() = default;

bool PdfOutput::Begin() { return file_.Open(mode_) && pages_->Begin(); }

bool PdfOutput::Page(const GridPage& page) { return pages_->Page(page, extras_); }

bool PdfOutput::End() {
  const bool good = pages_->End();
  pages_.reset();
  if (!good || !file_.Commit(mode_)) return false;
  where_ = file_.path();
  return true;
}

// ---- lp

LpOutput::LpOutput(std::string printer, const Stationery* stationery)
    : printer_(std::move(printer)),
      pages_(std::make_unique<PdfPages>(stationery, [this](const unsigned char* data, unsigned int length) {
        return Write(data, length);
      })) {}

LpOutput::~LpOutput() {
  pages_.reset();
  if (pipe_ >= 0) close(pipe_);
  if (child_ > 0) static_cast<void>(WaitChild(child_));
}

bool LpOutput::Begin() {
  if (printer_.empty()) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  ChildSpec lp;
  lp.program = "lp";
  lp.searchPath = true;
  lp.args = {"-d", printer_};
  lp.stdinFd = fds[0];
  pid_t pid = 0;
  const int started = StartChild(lp, pid);
  close(fds[0]);
  if (started != 0) {
    close(fds[1]);
    return false;
  }
  child_ = pid;
  pipe_ = fds[1];
  return pages_->Begin();
}

bool LpOutput::Write(const unsigned char* data, size_t length) {
  if (failed_) return false;
  if (WriteAll(pipe_, data, length) == 0) return true;
  failed_ = true;
  return false;
}

bool LpOutput::Page(const GridPage& page) { return !failed_ && pages_->Page(page, extras_); }

bool LpOutput::End() {
  const bool drawn = pages_->End();
  pages_.reset();
  close(pipe_);
  pipe_ = -1;
  const ChildEnd end = WaitChild(child_);
  child_ = -1;
  return drawn && !failed_ && end.Succeeded();
}

// ---- a sample page

namespace {

// A fee invoice page as the module lays it out (code page 850).
const char* const kSampleSpool[] = {
    "PAGE 24 ", "*@e", " 9 ,FACTURA, 0 ", " 17 ,A/00000012, 0 ", " 32 ,OLOT, 0 ", "JUSD",
 " 67 ,****121,14 EUR, 0 ", " 91 ,FINCA, 1 ", " 92 ,007V, 1 ", " 17 ,31 DE DESEMBRE DEL 2026, 3 ",
    " 22 ,HONORARIS ADMINISTRACI\xe0, 0 ", "JUSD", " 66 ,       114,28 , 1 ",
    " 22 ,IVA 21,00 % s/114,28, 0 ", " 66 ,        24,00 , 1 ", " 22 ,RETENCI\xe0 HONORARIS 15,00 % s/114,28, 0 ",
    "JUSD", " 66 ,        17,14 , 1 ", " 0 ,, 3 ", " 17 ,COMUNITAT DE PROPIETARIS PLA\x80" "A MAJOR 7, 2 ", "JUSD",
    " 32 ,N.I.F. ESH17000007      , 1 ", " 17 ,Pere Soler i Puig, 1 ", " 17 ,Pla\x87" "a Major, 7, 1 ",
    " 17 ,17800, 1 ", " 17 ,OLOT, 0 ", " 61 ,Jordi Vilar\xa2 i Puigdevall, 1 ", " 61 ,N.I.F. 12345678Z, 1 "};

}  // namespace

Placeholders SampleInvoiceFigures() {
  return {{"Numero", "A/00000012"},       {"Data", "31 de desembre del 2026"},
          {"Venciment", "30 de gener del 2027"}, {"Periode", "octubre - desembre 2026"},
          {"Base", "114,28"},             {"TipusIva", "21,00 %"},
          {"Iva", "24,00"},               {"TipusRetencio", "15,00 %"},
          {"Retencio", "17,14-"},         {"Suplerts", "14,28"},
          {"Total", "121,14 EUR"}};
}

bool WriteSamplePng(const Stationery& stationery, const std::string& pngPath) {
  GridPage sample;
  bool have = false;
  SpoolReader reader([&](const GridPage& page) {
    if (!have) sample = page;
    have = true;
  });
  for (const char* line : kSampleSpool) reader.Feed(line);
  reader.Finish();
  // 150 dots per inch: the page as a designer checks it on the screen.
  constexpr double kScale = 150.0 / 72.0;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(PageWidth * kScale),
                                                      static_cast<int>(PageHeight * kScale));
  cairo_t* cr = cairo_create(image);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, kScale, kScale);
  cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  DrawPage(cr, &stationery, sample, SampleInvoiceFigures(),
           "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=12345678Z"
           "&numserie=A%2F00000012&fecha=31-12-2026&importe=121.14");
  const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  // Written beside the target and moved into place: complete or not at all.
  bool written = false;
  if (drawn) {
    DurableFile file(pngPath);
    written = file.Open() &&
              cairo_surface_write_to_png_stream(
                  image,
                  [](void* closure, const unsigned char* data, unsigned int length) {
                    return static_cast<DurableFile*>(closure)->Write(data, length) ? CAIRO_STATUS_SUCCESS
                                                                                  : CAIRO_STATUS_WRITE_ERROR;
                  },
                  &file) == CAIRO_STATUS_SUCCESS &&
              file.Commit(Placement::Replace);
  }
  cairo_surface_destroy(image);
  return written;
}
