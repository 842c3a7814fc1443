#include "suite/zepprint/stationery.h"

#include <gio/gio.h>
#include <librsvg/rsvg.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/codepage.h"
#include "base/files.h"
#include "base/iban.h"
#include "base/ini.h"
#include "base/text.h"
#include "session/session.h"

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


// ---- the drawing's text, set with Pango

// Attribute values as their text nodes hold them: entity references are
// never expanded here (an entity is nothing this program reads).
std::optional<std::string> Attribute(xmlNode* node, const char* name) {
  xmlAttr* attribute = xmlHasProp(node, reinterpret_cast<const xmlChar*>(name));
  if (attribute == nullptr || attribute->type != XML_ATTRIBUTE_NODE) return std::nullopt;
  std::string value;
  for (xmlNode* part = attribute->children; part != nullptr; part = part->next)
    if (part->type == XML_TEXT_NODE && part->content != nullptr) value += reinterpret_cast<const char*>(part->content);
  return value;
}

// A presentation property of node: its declaration in style="" when there
// is one, else its attribute; "inherit" counts as not given.
std::optional<std::string> Property(xmlNode* node, const std::string& name) {
  std::optional<std::string> value = Attribute(node, name.c_str());
  if (value) value = Trim(*value);
  if (const std::optional<std::string> style = Attribute(node, "style")) {
    size_t at = 0;
    while (at < style->size()) {
      size_t end = style->find(';', at);
      if (end == std::string::npos) end = style->size();
      const std::string declaration = style->substr(at, end - at);
      at = end + 1;
      const size_t colon = declaration.find(':');
      if (colon == std::string::npos || Trim(declaration.substr(0, colon)) != name) continue;
      std::string text = Trim(declaration.substr(colon + 1));
      const size_t important = text.find("!important");
      if (important != std::string::npos) text = Trim(text.substr(0, important));
      value = text;
    }
  }
  if (value && (*value == "inherit" || value->empty())) value.reset();
  return value;
}

// A length in user units: a number with an optional unit (px, pt, pc, mm,
// cm, in at 96 to the inch; em and % of fontSize); NaN when unreadable.
// Of a list ("10 20"), the first.
double Length(const std::string& text, double fontSize) {
  const std::string first = text.substr(0, text.find_first_of(" ,\t\r\n"));
  const char* start = first.c_str();
  char* end = nullptr;
  const double value = std::strtod(start, &end);
  if (end == start || !std::isfinite(value)) return NAN;
  const std::string unit(end);
  if (unit.empty() || unit == "px") return value;
  if (unit == "pt") return value * 96 / 72;
  if (unit == "pc") return value * 16;
  if (unit == "mm") return value * 96 / 25.4;
  if (unit == "cm") return value * 96 / 2.54;
  if (unit == "in") return value * 96;
  if (unit == "em") return value * fontSize;
  if (unit == "%") return value * fontSize / 100;
  return NAN;
}

// A colour as red, green and blue from 0 to 1: "#rgb", "#rrggbb",
// "rgb(r, g, b)" and the basic names; false for anything else.
bool ParseColour(const std::string& text, double rgb[3]) {
  static const std::pair<const char*, unsigned> kNames[] = {
      {"black", 0x000000}, {"white", 0xffffff}, {"gray", 0x808080}, {"grey", 0x808080}, {"silver", 0xc0c0c0},
      {"red", 0xff0000},   {"green", 0x008000}, {"blue", 0x0000ff}, {"navy", 0x000080}, {"maroon", 0x800000},
      {"currentColor", 0x000000}};
  unsigned value = 0;
  bool known = false;
  for (const auto& [name, colour] : kNames)
    if (text == name) value = colour, known = true;
  if (!known && !text.empty() && text[0] == '#') {
    const std::string hex = text.substr(1);
    if ((hex.size() != 3 && hex.size() != 6) || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    value = static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16));
    if (hex.size() == 3)
      value = ((value & 0xf00) << 12 | (value & 0xf00) << 8) | ((value & 0x0f0) << 8 | (value & 0x0f0) << 4) |
              ((value & 0x00f) << 4 | (value & 0x00f));
    known = true;
  }
  if (!known && text.rfind("rgb(", 0) == 0 && text.back() == ')') {
    double parts[3];
    const char* at = text.c_str() + 4;
    for (double& part : parts) {
      char* end = nullptr;
      part = std::strtod(at, &end);
      if (end == at) return false;
      if (*end == '%') part = part * 255 / 100, ++end;
      while (*end == ' ' || *end == ',') ++end;
      at = end;
    }
    for (int i = 0; i < 3; ++i) rgb[i] = std::clamp(parts[i], 0.0, 255.0) / 255;
    return true;
  }
  if (!known) return false;
  rgb[0] = ((value >> 16) & 0xff) / 255.0;
  rgb[1] = ((value >> 8) & 0xff) / 255.0;
  rgb[2] = (value & 0xff) / 255.0;
  return true;
}

// An SVG transform list as a cairo matrix; false when it cannot be read
// (then, as SVG says, the element has no transform).
bool ParseTransform(const std::string& text, cairo_matrix_t& out) {
  cairo_matrix_init_identity(&out);
  size_t at = 0;
  auto skip = [&]() {
    while (at < text.size() && (text[at] == ' ' || text[at] == ',' || text[at] == '\t' || text[at] == '\n' ||
                                text[at] == '\r'))
      ++at;
  };
  for (skip(); at < text.size(); skip()) {
    const size_t nameStart = at;
    while (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at]))) ++at;
    const std::string name = text.substr(nameStart, at - nameStart);
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size() || text[at] != '(') return false;
    const size_t close = text.find(')', at);
    if (close == std::string::npos) return false;
    std::vector<double> args;
    const std::string inside = text.substr(at + 1, close - at - 1);
    const char* p = inside.c_str();
    for (;;) {
      while (*p == ' ' || *p == ',' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
      if (*p == '\0') break;
      char* end = nullptr;
      const double v = std::strtod(p, &end);
      if (end == p || !std::isfinite(v) || args.size() == 6) return false;
      args.push_back(v);
      p = end;
    }
    at = close + 1;
    cairo_matrix_t m;
    const size_t n = args.size();
    if (name == "matrix" && n == 6) {
      cairo_matrix_init(&m, args[0], args[1], args[2], args[3], args[4], args[5]);
    } else if (name == "translate" && (n == 1 || n == 2)) {
      cairo_matrix_init_translate(&m, args[0], n == 2 ? args[1] : 0);
    } else if (name == "scale" && (n == 1 || n == 2)) {
      cairo_matrix_init_scale(&m, args[0], n == 2 ? args[1] : args[0]);
    } else if (name == "rotate" && (n == 1 || n == 3)) {
      const double cx = n == 3 ? args[1] : 0;
      const double cy = n == 3 ? args[2] : 0;
      cairo_matrix_init_translate(&m, cx, cy);
      cairo_matrix_rotate(&m, args[0] * M_PI / 180);
      cairo_matrix_translate(&m, -cx, -cy);
    } else if (name == "skewX" && n == 1) {
      cairo_matrix_init(&m, 1, 0, std::tan(args[0] * M_PI / 180), 1, 0, 0);
    } else if (name == "skewY" && n == 1) {
      cairo_matrix_init(&m, 1, std::tan(args[0] * M_PI / 180), 0, 1, 0, 0);
    } else {
      return false;
    }
    // "A B" draws B's space inside A's: B applies first.
    cairo_matrix_multiply(&out, &m, &out);
  }
  return true;
}

}  // namespace

// One text element of the drawing: where it stands on the page and its
// runs of text, each in its style.
struct StationeryText {
  struct Style {
    std::string family = "serif";
    double size = 12;  // user units
    PangoWeight weight = PANGO_WEIGHT_NORMAL;
    PangoStyle slant = PANGO_STYLE_NORMAL;
    double rgb[3] = {0, 0, 0};
    bool filled = true;
    double fillOpacity = 1;
    double opacity = 1;   // the product of the groups' opacities
    char anchor = 's';    // start, middle or end
    bool visible = true;  // visibility
  };
  struct Run {
    std::string text;  // UTF-8, blanks collapsed; may hold "{Key}"
    Style style;
    double x = NAN;  // an absolute position starts a chunk (either given)
    double y = NAN;
    double dx = 0;
    double dy = 0;
  };
  cairo_matrix_t matrix;  // the text's user space on the page
  std::vector<Run> runs;
};

namespace {

using TextStyle = StationeryText::Style;
using TextRun = StationeryText::Run;

// The style of node given its parent's.
TextStyle StyleOf(xmlNode* node, const TextStyle& parent, bool& displayed) {
  TextStyle style = parent;
  if (auto v = Property(node, "font-family")) {
    std::string family;
    for (char c : *v)
      if (c != '"' && c != '\'') family += c;
    style.family = family;
  }
  if (auto v = Property(node, "font-size")) {
    static const std::pair<const char*, double> kSizes[] = {
        {"xx-small", 9}, {"x-small", 10}, {"small", 13}, {"medium", 16}, {"large", 18}, {"x-large", 24},
        {"xx-large", 32}};
    double size = Length(*v, parent.size);
    for (const auto& [name, value] : kSizes)
      if (*v == name) size = value;
    if (std::isfinite(size) && size >= 0) style.size = std::min(size, 10000.0);
  }
  if (auto v = Property(node, "font-weight")) {
    if (*v == "bold" || *v == "bolder") {
      style.weight = PANGO_WEIGHT_BOLD;
    } else if (*v == "normal" || *v == "lighter") {
      style.weight = PANGO_WEIGHT_NORMAL;
    } else {
      const int weight = std::atoi(v->c_str());
      if (weight >= 100 && weight <= 1000) style.weight = static_cast<PangoWeight>(weight);
    }
  }
  if (auto v = Property(node, "font-style"))
    style.slant = *v == "italic" ? PANGO_STYLE_ITALIC : *v == "oblique" ? PANGO_STYLE_OBLIQUE : PANGO_STYLE_NORMAL;
  if (auto v = Property(node, "fill")) {
    if (*v == "none") {
      style.filled = false;
    } else if (ParseColour(*v, style.rgb)) {
      style.filled = true;
    }
  }
  if (auto v = Property(node, "fill-opacity")) style.fillOpacity = std::clamp(std::atof(v->c_str()), 0.0, 1.0);
  if (auto v = Property(node, "opacity")) style.opacity *= std::clamp(std::atof(v->c_str()), 0.0, 1.0);
  if (auto v = Property(node, "text-anchor")) style.anchor = *v == "middle" ? 'm' : *v == "end" ? 'e' : 's';
  if (auto v = Property(node, "visibility")) style.visible = *v == "visible";
  displayed = Property(node, "display").value_or("") != "none";
  return style;
}

bool Named(xmlNode* node, const char* name) {
  return node->name != nullptr && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The runs of a text or tspan element, in document order.
void CollectRuns(xmlNode* element, const TextStyle& style, TextRun position, bool& positionUsed,
                 std::vector<TextRun>& runs) {
  for (xmlNode* child = element->children; child != nullptr; child = child->next) {
    if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
      TextRun run = positionUsed ? TextRun{} : position;
      positionUsed = true;
      run.text = child->content != nullptr ? reinterpret_cast<const char*>(child->content) : "";
      run.style = style;
      runs.push_back(std::move(run));
    } else if (child->type == XML_ELEMENT_NODE && (Named(child, "tspan") || Named(child, "a"))) {
      bool displayed = true;
      const TextStyle inner = StyleOf(child, style, displayed);
      if (!displayed) continue;
      TextRun at;
      at.x = Length(Attribute(child, "x").value_or(""), inner.size);
      at.y = Length(Attribute(child, "y").value_or(""), inner.size);
      at.dx = Length(Attribute(child, "dx").value_or(""), inner.size);
      at.dy = Length(Attribute(child, "dy").value_or(""), inner.size);
      if (!std::isfinite(at.dx)) at.dx = 0;
      if (!std::isfinite(at.dy)) at.dy = 0;
      const bool given = std::isfinite(at.x) || std::isfinite(at.y) || at.dx != 0 || at.dy != 0;
      // A tspan without a position of its own continues the text (and the
      // text's position waits for the first run); one with a position
      // starts where it says.
      if (given) {
        bool used = false;
        CollectRuns(child, inner, at, used, runs);
        positionUsed = true;
      } else {
        CollectRuns(child, inner, position, positionUsed, runs);
      }
    }
    // Anything else (an entity, an included file) adds nothing.
  }
}

// Blanks as SVG text shows them: line ends dropped, tabs as blanks, runs of
// blanks as one, none at either end of the text; then neighbouring runs of
// one style with nothing between them joined.
void NormaliseBlanks(std::vector<TextRun>& runs) {
  bool lastBlank = true;
  for (TextRun& run : runs) {
    std::string out;
    for (char c : run.text) {
      if (c == '\n' || c == '\r') continue;
      if (c == '\t') c = ' ';
      if (c == ' ' && lastBlank) continue;
      lastBlank = c == ' ';
      out += c;
    }
    run.text = out;
  }
  for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
    if (run->text.empty()) continue;
    if (run->text.back() == ' ') run->text.pop_back();
    break;
  }
  auto sameStyle = [](const TextStyle& a, const TextStyle& b) {
    return a.family == b.family && a.size == b.size && a.weight == b.weight && a.slant == b.slant &&
           a.rgb[0] == b.rgb[0] && a.rgb[1] == b.rgb[1] && a.rgb[2] == b.rgb[2] && a.filled == b.filled &&
           a.fillOpacity == b.fillOpacity && a.opacity == b.opacity && a.anchor == b.anchor && a.visible == b.visible;
  };
  std::vector<TextRun> joined;
  for (TextRun& run : runs) {
    const bool continues = !std::isfinite(run.x) && !std::isfinite(run.y) && run.dx == 0 && run.dy == 0;
    if (!joined.empty() && continues && sameStyle(joined.back().style, run.style)) {
      joined.back().text += run.text;
    } else {
      joined.push_back(std::move(run));
    }
  }
  runs = std::move(joined);
}

// Elements whose content is drawn only where something refers to it, or
// never.
bool HoldsNothingDrawn(xmlNode* node) {
  for (const char* name : {"defs", "symbol", "clipPath", "mask", "pattern", "marker", "title", "desc", "metadata",
                           "style", "script", "foreignObject"})
    if (Named(node, name)) return true;
  return false;
}

// Walks the drawing: every text element is taken out of it, and those that
// show are kept with their place and runs.
void TakeTexts(xmlNode* parent, const TextStyle& parentStyle, const cairo_matrix_t& parentMatrix, bool shown,
               std::vector<StationeryText>& texts, std::vector<xmlNode*>& taken) {
  for (xmlNode* node = parent->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    bool displayed = true;
    const TextStyle style = StyleOf(node, parentStyle, displayed);
    cairo_matrix_t own;
    if (!ParseTransform(Attribute(node, "transform").value_or(""), own)) cairo_matrix_init_identity(&own);
    cairo_matrix_t matrix;
    cairo_matrix_multiply(&matrix, &own, &parentMatrix);
    if (Named(node, "text")) {
      taken.push_back(node);
      if (!shown || !displayed) continue;
      StationeryText text;
      text.matrix = matrix;
      TextRun position;
      position.x = Length(Attribute(node, "x").value_or("0"), style.size);
      position.y = Length(Attribute(node, "y").value_or("0"), style.size);
      if (!std::isfinite(position.x)) position.x = 0;
      if (!std::isfinite(position.y)) position.y = 0;
      position.dx = Length(Attribute(node, "dx").value_or("0"), style.size);
      position.dy = Length(Attribute(node, "dy").value_or("0"), style.size);
      if (!std::isfinite(position.dx)) position.dx = 0;
      if (!std::isfinite(position.dy)) position.dy = 0;
      bool used = false;
      CollectRuns(node, style, position, used, text.runs);
      NormaliseBlanks(text.runs);
      if (!text.runs.empty()) {
        // The text's position belongs to its first run whatever it holds.
        if (!std::isfinite(text.runs.front().x)) text.runs.front().x = position.x;
        if (!std::isfinite(text.runs.front().y)) text.runs.front().y = position.y;
        texts.push_back(std::move(text));
      }
      continue;
    }
    TakeTexts(node, style, matrix, shown && displayed && !HoldsNothingDrawn(node), texts, taken);
  }
}

// A drawing parsed with nothing outside it read: the network is off and
// every external entity or DTD resolves to nothing.
xmlParserInputPtr NoExternalEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

struct XmlDocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::unique_ptr<xmlDoc, XmlDocFree> ParseDrawing(const std::string& svg) {
  const xmlExternalEntityLoader earlier = xmlGetExternalEntityLoader();
  xmlSetExternalEntityLoader(NoExternalEntity);
  std::unique_ptr<xmlDoc, XmlDocFree> doc(xmlReadMemory(svg.data(), static_cast<int>(svg.size()), nullptr, nullptr,
                                                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  xmlSetExternalEntityLoader(earlier);
  return doc;
}

// The text with every invoice placeholder replaced by its value; anyFilled
// tells whether one of them had a value (it stays false when the text holds
// none).
std::string FillInvoiceKeys(const std::string& text, const Placeholders& invoice, bool& anyFilled) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find('{', at);
    if (open == std::string::npos) break;
    out.append(text, at, open - at);
    const size_t close = text.find('}', open + 1);
    const std::string key = close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
    bool isKey = false;
    for (const char* name : InvoicePlaceholderKeys) isKey = isKey || key == name;
    if (!isKey) {
      out += '{';
      at = open + 1;
      continue;
    }
    for (const auto& [name, value] : invoice) {
      if (name != key) continue;
      for (char c : value) out += (static_cast<unsigned char>(c) < 32 || c == 127) ? ' ' : c;
      if (!value.empty()) anyFilled = true;
    }
    at = close + 1;
  }
  out.append(text, std::min(at, text.size()), std::string::npos);
  return out;
}

bool HoldsInvoiceKey(const StationeryText& text) {
  // Built by appending: GCC 12 misreads "{" + text as an overlapping copy.
  for (const char* name : InvoicePlaceholderKeys) {
    std::string mark(1, '{');
    mark.append(name).append(1, '}');
    for (const TextRun& run : text.runs)
      if (run.text.find(mark) != std::string::npos) return true;
  }
  return false;
}

struct PangoObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};

// The texts of a text's runs, its invoice placeholders filled from invoice
// (null: the text holds none); false when every invoice placeholder it
// holds is empty (then it is not drawn).
bool FillRuns(const StationeryText& text, const Placeholders* invoice, std::vector<std::string>& shown) {
  bool anyFilled = invoice == nullptr;
  shown.clear();
  for (const TextRun& run : text.runs)
    shown.push_back(invoice != nullptr ? FillInvoiceKeys(run.text, *invoice, anyFilled) : run.text);
  return anyFilled;
}

// Sets one text, its runs showing the texts shown, on cr with the
// context's fonts.
void SetText(cairo_t* cr, PangoContext* context, const StationeryText& text, const std::vector<std::string>& shown) {
  cairo_save(cr);
  cairo_transform(cr, &text.matrix);
  pango_cairo_update_context(cr, context);
  std::vector<std::unique_ptr<PangoLayout, PangoObjectUnref>> layouts;
  std::vector<double> widths;
  std::vector<double> baselines;
  for (size_t i = 0; i < text.runs.size(); ++i) {
    const TextStyle& style = text.runs[i].style;
    std::unique_ptr<PangoLayout, PangoObjectUnref> layout(pango_layout_new(context));
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, style.family.c_str());
    pango_font_description_set_weight(font, style.weight);
    pango_font_description_set_style(font, style.slant);
    pango_font_description_set_absolute_size(font, std::max(style.size, 0.01) * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font);
    pango_font_description_free(font);
    gchar* valid = g_utf8_make_valid(shown[i].data(), static_cast<gssize>(shown[i].size()));
    pango_layout_set_text(layout.get(), valid, -1);
    g_free(valid);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    widths.push_back(static_cast<double>(logical.x + logical.width) / PANGO_SCALE);
    baselines.push_back(static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE);
    layouts.push_back(std::move(layout));
  }
  double penX = 0;
  double penY = 0;
  for (size_t first = 0; first < text.runs.size();) {
    // A chunk: from a run with a position of its own to the next one.
    size_t end = first + 1;
    while (end < text.runs.size() && !std::isfinite(text.runs[end].x) && !std::isfinite(text.runs[end].y)) ++end;
    if (std::isfinite(text.runs[first].x)) penX = text.runs[first].x;
    if (std::isfinite(text.runs[first].y)) penY = text.runs[first].y;
    double width = 0;
    for (size_t i = first; i < end; ++i) width += widths[i] + (i > first ? text.runs[i].dx : 0);
    const char anchor = text.runs[first].style.anchor;
    penX -= anchor == 'e' ? width : anchor == 'm' ? width / 2 : 0;
    for (size_t i = first; i < end; ++i) {
      const TextRun& run = text.runs[i];
      penX += run.dx;
      penY += run.dy;
      const TextStyle& style = run.style;
      if (style.filled && style.visible && style.size > 0) {
        cairo_set_source_rgba(cr, style.rgb[0], style.rgb[1], style.rgb[2], style.fillOpacity * style.opacity);
        cairo_move_to(cr, penX, penY - baselines[i]);
        pango_cairo_show_layout(cr, layouts[i].get());
      }
      penX += widths[i];
    }
    first = end;
  }
  cairo_restore(cr);
}

}  // namespace

std::map<int32_t, Placeholders> ParseFiguresFile(const std::string& content) {
  std::map<int32_t, Placeholders> pages;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    const size_t second = tab == std::string::npos ? tab : line.find('\t', tab + 1);
    if (second == std::string::npos || tab == 0 || second == tab + 1) continue;
    int32_t page = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, page);
    if (ec != std::errc() || ptr != line.data() + tab || page < 1) continue;
    // A value is a line of an invoice: one longer than that is cut, so a
    // damaged file cannot make a page's layout run away.
    std::string value = line.substr(second + 1, MaxFigureBytes);
    pages[page].emplace_back(line.substr(tab + 1, second - tab - 1), std::move(value));
  }
  return pages;
}

Placeholders IssuerPlaceholders(const std::string& tarnIni, bool* ibanRefused) {
  Placeholders values;
  for (const std::string key : {"Nom", "Linia2", "Linia3", "Linia4", "Linia5", "NomAlternatiu", "NIF", "Poblacio",
                                 "FormaPagament"}) {
    std::string value = Trim(IniRead(tarnIni, "Emissor", key));
    // The NIF in the one form the invoice's own lines print it.
    if (key == "NIF" && !value.empty()) value = Trim(NormaliseTaxNumber(value));
    values.emplace_back(key, Utf8FromCp858(value));
  }
  const std::string iban = Trim(IniRead(tarnIni, "Emissor", "IBAN"));
  const bool valid = iban.empty() || IsValidIban(iban);
  if (!valid && ibanRefused != nullptr) *ibanRefused = true;
  values.emplace_back("IBAN", valid ? PrintedIban(iban) : std::string());
  values.emplace_back("DiesVenciment", Utf8FromCp858(Trim(IniRead(tarnIni, "Emissor", "Venciment"))));
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

Stationery::~Stationery() {
  for (auto& [key, cached] : cachedTexts_)
    if (cached.drawing != nullptr) cairo_surface_destroy(cached.drawing);
  if (pango_ != nullptr) g_object_unref(pango_);
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
  // The payment box's placeholders are each page's (PagePaymentKeys), the
  // issuer's values their defaults; the rest are filled here once.
  Placeholders fixed, payment;
  for (const auto& value : values) {
    bool perPage = false;
    for (const char* key : PagePaymentKeys) perPage = perPage || value.first == key;
    (perPage ? payment : fixed).push_back(value);
  }
  std::string filled;
  if (!FillPlaceholdersWithin(content, fixed, MaxStationeryBytes, filled)) return StationeryLoad::TooLarge;
  // The text elements are taken out of the drawing before librsvg sees it
  // (it would draw their letters as outlines) and set here instead.
  const std::unique_ptr<xmlDoc, XmlDocFree> doc = ParseDrawing(filled);
  xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (root == nullptr) return StationeryLoad::NotSvg;
  std::unique_ptr<Stationery> stationery(new Stationery());
  stationery->pageWidth_ = pageWidth;
  stationery->pageHeight_ = pageHeight;
  std::vector<StationeryText> texts;
  {
    std::vector<xmlNode*> taken;
    bool displayed = true;
    const TextStyle rootStyle = StyleOf(root, TextStyle{}, displayed);
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    TakeTexts(root, rootStyle, identity, displayed, texts, taken);
    for (xmlNode* node : taken) {
      xmlUnlinkNode(node);
      xmlFreeNode(node);
    }
  }
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc.get(), &bytes, &size, "UTF-8");
  if (bytes == nullptr) return StationeryLoad::NotSvg;
  const std::string svg(reinterpret_cast<const char*>(bytes), static_cast<size_t>(std::max(size, 0)));
  xmlFree(bytes);

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

  const cairo_rectangle_t extents{0, 0, pageWidth, pageHeight};
  stationery->recording_ = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents);
  cairo_t* cr = cairo_create(stationery->recording_);
  // Every page measures each operation of the recording anew, flattening
  // its curves to this tolerance (points); the PDF itself keeps the curves.
  cairo_set_tolerance(cr, 0.5);
  const Fit fit = FitOf(handle, pageWidth, pageHeight);
  // The user space of the drawing's text: the fit to the page, then the
  // document's viewBox fitted to its size (centred, scaled alike).
  cairo_matrix_t base;
  cairo_matrix_init_translate(&base, fit.x, fit.y);
  cairo_matrix_scale(&base, fit.scale, fit.scale);
  {
    gboolean hasWidth = FALSE;
    gboolean hasHeight = FALSE;
    gboolean hasViewBox = FALSE;
    RsvgLength ignoredWidth{};
    RsvgLength ignoredHeight{};
    RsvgRectangle box{};
    rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &ignoredWidth, &hasHeight, &ignoredHeight, &hasViewBox,
                                         &box);
    if (hasViewBox && box.width > 0 && box.height > 0) {
      const double scale = std::min(fit.documentWidth / box.width, fit.documentHeight / box.height);
      cairo_matrix_translate(&base, (fit.documentWidth - scale * box.width) / 2 - scale * box.x,
                             (fit.documentHeight - scale * box.height) / 2 - scale * box.y);
      cairo_matrix_scale(&base, scale, scale);
    }
  }
  cairo_save(cr);
  cairo_translate(cr, fit.x, fit.y);
  cairo_scale(cr, fit.scale, fit.scale);
  const RsvgRectangle viewport{0, 0, fit.documentWidth, fit.documentHeight};
  bool drawn = rsvg_handle_render_document(handle, cr, &viewport, &error) && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  g_clear_error(&error);
  cairo_restore(cr);
  if (drawn) {
    stationery->grid_ = RectOf(handle, "#grid", fit);
    stationery->qr_ = RectOf(handle, "#qr", fit);
  }
  g_object_unref(handle);

  // The text is set over the drawing, as it stood in the document's order
  // after everything else there; what an invoice fills waits for its page.
  PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
  stationery->pango_ = context;
  stationery->paymentDefaults_ = std::move(payment);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
  pango_context_set_round_glyph_positions(context, FALSE);
  for (StationeryText& text : texts) {
    cairo_matrix_multiply(&text.matrix, &text.matrix, &base);
    if (HoldsInvoiceKey(text)) {
      stationery->invoiceTexts_.push_back(std::move(text));
    } else if (drawn) {
      std::vector<std::string> shown;
      FillRuns(text, nullptr, shown);
      SetText(cr, context, text, shown);
    }
  }
  drawn = drawn && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  if (!drawn || cairo_surface_status(stationery->recording_) != CAIRO_STATUS_SUCCESS) return StationeryLoad::NotSvg;
  // The tax code must fit its area with its margins and legend: a smaller
  // area would have the code paint over the drawing around it.
  constexpr double kSlack = 0.01;
  if (stationery->qr_ && (stationery->qr_->width + kSlack < QrBoxMinWidthMm * 72 / 25.4 ||
                          stationery->qr_->height + kSlack < QrBoxMinHeightMm * 72 / 25.4))
    return StationeryLoad::QrBoxTooSmall;
  stationeryOut = std::move(stationery);
  return StationeryLoad::Ok;
}

void Stationery::DrawUnder(cairo_t* cr) const {
  cairo_save(cr);
  cairo_set_source_surface(cr, recording_, 0, 0);
  cairo_paint(cr);
  cairo_restore(cr);
}

void Stationery::DrawInvoiceTexts(cairo_t* cr, const Placeholders& pageValues) const {
  // The issuer's way of paying where the page gives none.
  Placeholders invoice = pageValues;
  for (const auto& [key, value] : paymentDefaults_)
    if (std::none_of(invoice.begin(), invoice.end(), [&key](const auto& v) { return v.first == key; }))
      invoice.emplace_back(key, value);
  std::vector<std::string> shown;
  for (size_t i = 0; i < invoiceTexts_.size(); ++i) {
    const StationeryText& text = invoiceTexts_[i];
    if (!FillRuns(text, &invoice, shown)) continue;
    // A text that shows the same as on an earlier page (the VAT rate, the
    // period, the due date of a run) is drawn once into a recording that
    // the pages repeat: the PDF holds it once, and it is laid out once.
    std::string key = std::to_string(i);
    for (const std::string& part : shown) key.append(1, '\x1f').append(part);
    CachedText& cached = cachedTexts_[key];
    if (cached.drawing == nullptr && ++cached.seen >= 2) {
      const cairo_rectangle_t extents{0, 0, pageWidth_, pageHeight_};
      cached.drawing = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents);
      cairo_t* recorder = cairo_create(cached.drawing);
      SetText(recorder, pango_, text, shown);
      cairo_destroy(recorder);
    }
    if (cached.drawing != nullptr) {
      cairo_save(cr);
      cairo_set_source_surface(cr, cached.drawing, 0, 0);
      cairo_paint(cr);
      cairo_restore(cr);
    } else {
      SetText(cr, pango_, text, shown);
    }
  }
  // Texts seen once (each invoice's amounts) are forgotten now and then;
  // the memory of a run stays small whatever its length.
  if (cachedTexts_.size() > 4096) {
    for (auto entry = cachedTexts_.begin(); entry != cachedTexts_.end();)
      entry = entry->second.drawing == nullptr ? cachedTexts_.erase(entry) : std::next(entry);
  }
}
