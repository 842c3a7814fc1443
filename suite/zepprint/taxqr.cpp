#include "suite/zepprint/taxqr.h"

#include <qrencode.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

struct QrFree {
  void operator()(QRcode* code) const { QRcode_free(code); }
};

constexpr double kQuietMm = 2.0;
constexpr double kMinSideMm = 30.0;
constexpr double kMaxSideMm = 40.0;
constexpr double kLegendMm = 5.0;  // room above the code for its legend

}  // namespace

bool EncodeQr(const std::string& text, QrMatrix& out) {
  if (text.empty() || text.size() > 2000) return false;
  std::unique_ptr<QRcode, QrFree> code(
      QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                        QR_ECLEVEL_M));
  if (!code || code->width <= 0) return false;
  out.size = code->width;
  out.dark.assign(static_cast<size_t>(code->width) * static_cast<size_t>(code->width), false);
  for (size_t i = 0; i < out.dark.size(); ++i) out.dark[i] = (code->data[i] & 1) != 0;
  return true;
}

std::map<int32_t, std::string> ParseQrSideFile(const std::string& content) {
  std::map<int32_t, std::string> codes;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab + 1 >= line.size()) continue;
    int32_t page = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, page);
    if (ec != std::errc() || ptr != line.data() + tab || page < 1) continue;
    codes[page] = line.substr(tab + 1);
  }
  return codes;
}

QrPlacement PlaceQrInArea(double x, double y, double width, double height) {
  const double quiet = MillimetresToPoints(kQuietMm);
  const double legend = MillimetresToPoints(kLegendMm);
  double side = std::min(width - 2 * quiet, height - 2 * quiet - legend);
  side = std::clamp(side, MillimetresToPoints(kMinSideMm), MillimetresToPoints(kMaxSideMm));
  QrPlacement p;
  p.side = side;
  p.x = x + (width - side) / 2;
  p.y = y + legend + quiet + std::max(0.0, (height - legend - 2 * quiet - side) / 2);
  p.boxX = x;
  p.boxY = y;
  p.boxWidth = width;
  p.boxHeight = height;
  return p;
}

const char* TaxQrFooter(const std::string& codeText) {
  return codeText.find("/wlpl/TIKE-CONT/ValidarQR?") != std::string::npos ? "VERI*FACTU" : nullptr;
}

void DrawTaxQr(cairo_t* cr, const QrMatrix& code, const QrPlacement& where, const char* fontFace,
               double fontSize, const char* footer) {
  if (code.size <= 0) return;
  // The standard's quiet zone is four modules; never less than 2 mm.
  const double quiet = std::max(MillimetresToPoints(kQuietMm), 4 * where.side / code.size);
  cairo_save(cr);
  // Nothing outside the code's own area: the drawing around it stays. The
  // sending mode's caption is the exception: it stands just under the code,
  // on white, also where the area ends close below it.
  double captionRoom = 0;
  if (footer != nullptr) {
    cairo_select_font_face(cr, fontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, fontSize);
    cairo_text_extents_t caption;
    cairo_text_extents(cr, footer, &caption);
    captionRoom = std::max(0.0, where.y + where.side + quiet + caption.height + quiet / 2 - (where.boxY + where.boxHeight));
  }
  cairo_rectangle(cr, where.boxX, where.boxY, where.boxWidth, where.boxHeight + captionRoom);
  cairo_clip(cr);
  // The quiet zone: white whatever lies under it.
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, where.x - quiet, where.y - quiet, where.side + 2 * quiet, where.side + 2 * quiet);
  cairo_fill(cr);

  // The modules as a picture of one pixel each, scaled up without
  // smoothing: one small image per page instead of a path of hundreds of
  // squares (a page's PDF stays small and quick to make).
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, code.size, code.size);
  if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int row = 0; row < code.size; ++row) {
      auto* pixel = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(row) * stride);
      for (int col = 0; col < code.size; ++col) pixel[col] = code.At(row, col) ? 0x000000u : 0xffffffu;
    }
    cairo_surface_mark_dirty(image);
    cairo_save(cr);
    cairo_translate(cr, where.x, where.y);
    cairo_scale(cr, where.side / code.size, where.side / code.size);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, code.size, code.size);
    cairo_fill(cr);
    cairo_restore(cr);
  }
  cairo_surface_destroy(image);
  cairo_set_source_rgb(cr, 0, 0, 0);

  // The legend on its line above the code, its top inside the area.
  static constexpr char kLegend[] = "QR tributario:";
  cairo_select_font_face(cr, fontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, fontSize);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, kLegend, &extents);
  const double descent = extents.height + extents.y_bearing;
  const double baseline = std::max(where.boxY - extents.y_bearing + 1, where.y - quiet - descent);
  cairo_move_to(cr, where.x + (where.side - extents.x_advance) / 2, baseline);
  cairo_show_text(cr, kLegend);
  if (footer != nullptr) {
    // Just below the quiet zone, in the legend's type, on white as the
    // code is: whatever the page has there stays under it.
    cairo_text_extents(cr, footer, &extents);
    const double left = where.x + (where.side - extents.x_advance) / 2;
    const double footerBaseline = where.y + where.side + quiet - extents.y_bearing;
    const double pad = quiet / 2;
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, left - pad, where.y + where.side + quiet, extents.x_advance + 2 * pad,
                    extents.height + pad);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, left, footerBaseline);
    cairo_show_text(cr, footer);
  }
  cairo_restore(cr);
}
