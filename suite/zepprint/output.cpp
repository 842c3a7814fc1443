#include "suite/zepprint/output.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>

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

void ReleaseFontCaches() {
  // The stationery's text layout holds cairo fonts: released first.
  ReleaseStationeryFonts();
  cairo_debug_reset_static_data();
  FcFini();
}

// ---- text file

TextOutput::TextOutput(std::string path, Placement mode)
    : file_(path), mode_(mode), where_(std::move(path)) {}

bool TextOutput::Begin() { return file_.Open(mode_); }

bool TextOutput::Page(const GridPage& page) {
  std::string bytes(first_ ? "" : "\f");
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
//
// On stationery with a grid rectangle the columns fill its width and the
// page's lines its height exactly, each line's text centred in its band, so
// the text lands in the boxes drawn for it.

namespace {
constexpr double Margin = 42.52;  // 15 mm
}  // namespace

struct PdfOutput::Cairo {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  ~Cairo() {
    if (cr != nullptr) cairo_destroy(cr);
    if (surface != nullptr) cairo_surface_destroy(surface);
  }
};

PdfOutput::PdfOutput(std::string path, Placement mode, const Stationery* stationery)
    : file_(path), mode_(mode), where_(std::move(path)), stationery_(stationery) {}

PdfOutput::~PdfOutput() = default;

namespace {

// cairo's PDF stream goes to the output file; a failed write (disk full,
// file size limit) puts the surface into an error state that End sees.
cairo_status_t WritePdfBytes(void* closure, const unsigned char* data, unsigned int length) {
  return static_cast<DurableFile*>(closure)->Write(data, length) ? CAIRO_STATUS_SUCCESS
                                                                 : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

bool PdfOutput::Begin() {
  if (!file_.Open(mode_)) return false;
  cairo_ = std::make_unique<Cairo>();
  cairo_->surface = cairo_pdf_surface_create_for_stream(WritePdfBytes, &file_, PageWidth, PageHeight);
  if (cairo_surface_status(cairo_->surface) != CAIRO_STATUS_SUCCESS) return false;
  cairo_->cr = cairo_create(cairo_->surface);
  cairo_select_font_face(cairo_->cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL,
                         CAIRO_FONT_WEIGHT_NORMAL);
  return cairo_status(cairo_->cr) == CAIRO_STATUS_SUCCESS;
}

bool PdfOutput::Page(const GridPage& page) {
  cairo_t* cr = cairo_->cr;
  if (stationery_ != nullptr) stationery_->DrawUnder(cr);
  const bool onGrid = stationery_ != nullptr && stationery_->grid().has_value();
  const PageRect area = onGrid ? *stationery_->grid()
                               : PageRect{Margin, Margin, PageWidth - 2 * Margin, PageHeight - 2 * Margin};
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
  ++pageNumber_;
  const auto code = codes_.find(pageNumber_);
  QrMatrix matrix;
  if (code != codes_.end() && EncodeQr(code->second, matrix)) {
    QrPlacement where;
    if (stationery_ != nullptr && stationery_->qrArea().has_value()) {
      const PageRect& qr = *stationery_->qrArea();
      where = PlaceQrInArea(qr.x, qr.y, qr.width, qr.height);
    } else {
      // Under the page's last line, down to the bottom margin.
      const double rows = static_cast<double>(std::max<size_t>(page.rows.size(), static_cast<size_t>(lines)));
      const double top = firstBaseline + (rows - 1) * pitch + font.descent + MillimetresToPoints(4);
      where = PlaceQrInArea(Margin, top, PageWidth - 2 * Margin, PageHeight - Margin - top);
    }
    DrawTaxQr(cr, matrix, where, "DejaVu Sans Mono", fontSize, TaxQrFooter(code->second));
    cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  }
  cairo_show_page(cr);
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS &&
         cairo_surface_status(cairo_->surface) == CAIRO_STATUS_SUCCESS;
}

bool PdfOutput::End() {
  // The trailer is written by finish; only then has every byte been handed
  // to the file.
  cairo_surface_finish(cairo_->surface);
  const bool good = cairo_surface_status(cairo_->surface) == CAIRO_STATUS_SUCCESS &&
                    cairo_status(cairo_->cr) == CAIRO_STATUS_SUCCESS;
  cairo_.reset();
  if (!good || !file_.Commit(mode_)) return false;
  where_ = file_.path();
  return true;
}

// ---- lp

LpOutput::LpOutput(std::string printer) : printer_(std::move(printer)) {}

LpOutput::~LpOutput() {
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
  return true;
}

bool LpOutput::Write(const std::string& bytes) {
  if (WriteAll(pipe_, bytes) == 0) return true;
  failed_ = true;
  return false;
}

bool LpOutput::Page(const GridPage& page) {
  if (failed_) return false;
  std::string bytes(first_ ? "" : "\f");
  bytes += PageText(page);
  first_ = false;
  return Write(bytes);
}

bool LpOutput::End() {
  close(pipe_);
  pipe_ = -1;
  const ChildEnd end = WaitChild(child_);
  child_ = -1;
  return !failed_ && end.Succeeded();
}
