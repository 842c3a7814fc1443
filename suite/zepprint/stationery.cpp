#include "suite/zepprint/stationery.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>

#include "base/codepage.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/text.h"

namespace {

// How the document's own area (its width and height, in points) is fitted
// to the page: scaled alike both ways, centred.
struct Fit {
  double documentWidth;
  double documentHeight;
  double scale;
  double x;
  double y;
};

// The document's size in points: its width and height at 72 dots per inch
// when they are absolute lengths, else its viewBox, else the page. Drawing
// and measuring both work in this size and then go through the same Fit,
// so the grid and qr rectangles are where the drawing shows them (measuring
// with a viewport of another size does not fit the document to it).
Fit FitOf(RsvgHandle* handle, double pageWidth, double pageHeight) {
  rsvg_handle_set_dpi(handle, 72.0);
  double width = 0;
  double height = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height)) {
    gboolean hasWidth = FALSE;
    gboolean hasHeight = FALSE;
    gboolean hasViewBox = FALSE;
    RsvgLength ignoredWidth{};
    RsvgLength ignoredHeight{};
    RsvgRectangle viewBox{};
    rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &ignoredWidth, &hasHeight, &ignoredHeight,
                                         &hasViewBox, &viewBox);
    width = hasViewBox ? viewBox.width : pageWidth;
    height = hasViewBox ? viewBox.height : pageHeight;
  }
  if (!std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0) {
    width = pageWidth;
    height = pageHeight;
  }
  const double scale = std::min(pageWidth / width, pageHeight / height);
  return {width, height, scale, (pageWidth - scale * width) / 2, (pageHeight - scale * height) / 2};
}

// The page rectangle of the element with the given id ("#grid"); nothing
// when there is no such element or it is smaller than a point either way.
std::optional<PageRect> RectOf(RsvgHandle* handle, const char* id, const Fit& fit) {
  const RsvgRectangle viewport{0, 0, fit.documentWidth, fit.documentHeight};
  RsvgRectangle ink{};
  RsvgRectangle logical{};
  GError* error = nullptr;
  if (!rsvg_handle_get_geometry_for_layer(handle, id, &viewport, &ink, &logical, &error)) {
    g_clear_error(&error);
    return std::nullopt;
  }
  const PageRect rect{fit.x + fit.scale * logical.x, fit.y + fit.scale * logical.y, fit.scale * logical.width,
                      fit.scale * logical.height};
  if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
      !std::isfinite(rect.height) || rect.width < 1 || rect.height < 1)
    return std::nullopt;
  return rect;
}

}  // namespace

Placeholders IssuerPlaceholders(const std::string& tarnIni) {
  Placeholders values;
  for (const char* key : {"Nom", "Linia2", "Linia3", "Linia4", "Linia5", "NomAlternatiu", "NIF", "Poblacio"})
    values.emplace_back(key, Utf8FromCp858(Trim(IniRead(tarnIni, "Emissor", key))));
  return values;
}

std::string FillPlaceholders(std::string_view svg, const Placeholders& values) {
  std::string out;
  static_cast<void>(FillPlaceholdersWithin(svg, values, std::string::npos, out));
  return out;
}

bool FillPlaceholdersWithin(std::string_view svg, const Placeholders& values, size_t maxBytes, std::string& out) {
  out.clear();
  out.reserve(std::min(svg.size(), maxBytes));
  size_t at = 0;
  while (at < svg.size()) {
    const size_t open = svg.find('{', at);
    if (open == std::string_view::npos) break;
    out.append(svg.substr(at, open - at));
    const size_t close = svg.find('}', open + 1);
    const std::string_view key =
        close == std::string_view::npos ? std::string_view() : svg.substr(open + 1, close - open - 1);
    const std::string* value = nullptr;
    for (const auto& [name, text] : values)
      if (!key.empty() && key == name) value = &text;
    if (value != nullptr) {
      out += XmlEscaped(*value);
      at = close + 1;
    } else {
      out += '{';
      at = open + 1;
    }
    if (out.size() > maxBytes) {
      out.clear();
      return false;
    }
  }
  if (at < svg.size()) out.append(svg.substr(at));
  if (out.size() > maxBytes) {
    out.clear();
    return false;
  }
  return true;
}

void ReleaseStationeryFonts() {
  // Pango's default font map for cairo holds the fonts; setting it to null
  // drops it. Pango's development files are not needed for the build: the
  // function is looked up in the running program, where it is whenever
  // librsvg is.
  using SetDefaultFontMap = void (*)(void*);
  if (void* setDefault = dlsym(RTLD_DEFAULT, "pango_cairo_font_map_set_default"))
    reinterpret_cast<SetDefaultFontMap>(setDefault)(nullptr);
}

Stationery::~Stationery() {
  if (recording_ != nullptr) cairo_surface_destroy(recording_);
}

StationeryLoad Stationery::Load(const std::string& hostPath, const Placeholders& values, double pageWidth,
                                double pageHeight, std::unique_ptr<Stationery>& stationeryOut) {
  std::string content;
  switch (ReadRegularFile(hostPath, content, MaxStationeryBytes)) {
    case ReadResult::Ok: break;
    case ReadResult::TooLarge: return StationeryLoad::TooLarge;
    default: return StationeryLoad::Unreadable;
  }
  std::string svg;
  if (!FillPlaceholdersWithin(content, values, MaxStationeryBytes, svg)) return StationeryLoad::TooLarge;

  // From memory, no base file: relative and file references have nothing
  // to resolve against, so nothing but this text is read.
  GInputStream* stream = g_memory_input_stream_new_from_data(svg.data(), static_cast<gssize>(svg.size()), nullptr);
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_stream_sync(stream, nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error);
  g_object_unref(stream);
  if (handle == nullptr) {
    g_clear_error(&error);
    return StationeryLoad::NotSvg;
  }

  std::unique_ptr<Stationery> stationery(new Stationery());
  const cairo_rectangle_t extents{0, 0, pageWidth, pageHeight};
  stationery->recording_ = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents);
  cairo_t* cr = cairo_create(stationery->recording_);
  // Every page measures each operation of the recording anew, flattening
  // its curves to this tolerance (points); the PDF itself keeps the curves.
  // 0.5 measures the drawing's text as paths several times faster than the
  // default 0.1 and draws the same (down to 0.02 mm lines at 300 dpi);
  // from about 2 thin lines get lost.
  cairo_set_tolerance(cr, 0.5);
  const Fit fit = FitOf(handle, pageWidth, pageHeight);
  cairo_translate(cr, fit.x, fit.y);
  cairo_scale(cr, fit.scale, fit.scale);
  const RsvgRectangle viewport{0, 0, fit.documentWidth, fit.documentHeight};
  const bool drawn = rsvg_handle_render_document(handle, cr, &viewport, &error) &&
                     cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  g_clear_error(&error);
  cairo_destroy(cr);
  if (drawn) {
    stationery->grid_ = RectOf(handle, "#grid", fit);
    stationery->qr_ = RectOf(handle, "#qr", fit);
  }
  g_object_unref(handle);
  if (!drawn || cairo_surface_status(stationery->recording_) != CAIRO_STATUS_SUCCESS)
    return StationeryLoad::NotSvg;
  stationeryOut = std::move(stationery);
  return StationeryLoad::Ok;
}

void Stationery::DrawUnder(cairo_t* cr) const {
  cairo_save(cr);
  cairo_set_source_surface(cr, recording_, 0, 0);
  cairo_paint(cr);
  cairo_restore(cr);
}
