// Stationery: a drawing (an SVG file) put under every PDF page, like the
// pre-printed paper the invoices were once printed on.
//
// The SVG is fitted to the A4 page (proportionally, as librsvg fits a
// document to a viewport). Its text may hold placeholders "{Key}": the
// issuer's are filled before it is read (see FillPlaceholders), an
// invoice's (InvoicePlaceholderKeys) on each page. Two rectangles, found by
// their id, have a meaning of their own:
//   id="grid"  where the spool's character grid goes: the 96 columns and the
//              page's lines are spread evenly over it (without it, the grid
//              is placed as on plain paper);
//   id="qr"    an area kept empty for the tax QR code, drawn by whoever
//              prints that code; at least QrBoxMinWidthMm x QrBoxMinHeightMm
//              (a smaller one is refused when the file is loaded).
// The drawing is made once per run: librsvg draws everything but the text
// elements, and this file sets those with Pango (real text in the PDF, its
// fonts embedded), into a recording that every page replays. Text elements
// that hold an invoice's placeholders are set anew on each page instead.
// Text properties are read from the attributes and style="" declarations of
// the text, its tspans and their groups (font-family, font-size,
// font-weight, font-style, fill, fill-opacity, opacity, text-anchor,
// display, visibility, transform); style sheets do not reach the text.
// The file is read whole (at most MaxStationeryBytes) and parsed from
// memory with no base file, so nothing outside it is ever loaded: external
// images, other SVG files and external entities fail to resolve and draw
// nothing. librsvg's own limits on size and nesting apply (the "unlimited"
// flag is not set).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <map>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

inline constexpr size_t MaxStationeryBytes = 4u << 20;

// A rectangle on the page in PDF points, from the page's top left corner.
struct PageRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// Placeholder names (without braces) and their values, UTF-8, not escaped.
using Placeholders = std::vector<std::pair<std::string, std::string>>;

// The smallest QR area a stationery may reserve, in millimetres: a 30 mm
// code, 2 mm of quiet margin on each side, and the legend's line above.
inline constexpr double QrBoxMinWidthMm = 34;
inline constexpr double QrBoxMinHeightMm = 39;

// The placeholders of one invoice, filled on each page from the figures the
// module writes beside the spool file (see figures.h).
inline constexpr const char* InvoicePlaceholderKeys[] = {
    "Numero", "Data", "Venciment", "Periode", "Base", "TipusIva", "Iva", "TipusRetencio", "Retencio",
    "TotalFactura", "Suplerts", "Total", "PercentHonoraris", "BaseCobrada", "HonorariFix", "Honoraris",
    "FormaPagament", "IBAN"};

// The issuer's placeholders a page's figures may replace: its way of
// paying and its account, which a page collected by direct debit gives as
// the debtor's. A page without them shows the issuer's.
inline constexpr const char* PagePaymentKeys[] = {"FormaPagament", "IBAN"};

// The figures file's content ("zepprint.fig" beside the spool file, written
// by the module's run: UTF-8, one line per value: page number from 1, tab,
// placeholder name, tab, text) as each page's placeholders. Lines that do
// not read as that are ignored; a value is cut at MaxFigureBytes.
inline constexpr size_t MaxFigureBytes = 200;
[[nodiscard]] std::map<int32_t, Placeholders> ParseFiguresFile(const std::string& content);

// The issuer's details as placeholders: the keys Nom, Linia2 ... Linia5,
// NomAlternatiu, NIF, Poblacio, FormaPagament and IBAN of section [Emissor]
// of the settings file at the suite path tarnIni (code page 850), each
// trimmed at both ends and converted to UTF-8 (the NIF in the form the
// module prints it on the invoice's lines, "ES" and its letters and digits), and DiesVenciment (its
// Venciment, the days to pay). IBAN is printed in groups of four; one that
// fails its check digits gives an empty value and ibanRefused (when given)
// is set. Missing keys or file give empty values.
[[nodiscard]] Placeholders IssuerPlaceholders(const std::string& tarnIni, bool* ibanRefused = nullptr);

// The SVG text with every "{Key}" of values replaced by its value escaped
// for XML ("&", "<", ">", quotes; control characters become blanks), so a
// value prints as written and cannot change the document's structure.
// Other braces are left as they are; values are not scanned again.
[[nodiscard]] std::string FillPlaceholders(std::string_view svg, const Placeholders& values);

// FillPlaceholders within a bound: false (out emptied) as soon as the text
// grows beyond maxBytes, so that many placeholders or long values cannot
// make it larger than the file itself may be.
[[nodiscard]] bool FillPlaceholdersWithin(std::string_view svg, const Placeholders& values, size_t maxBytes,
                                          std::string& out);

enum class StationeryLoad {
  Ok,
  Unreadable,  // missing, not a regular file, or not readable
  TooLarge,    // larger than MaxStationeryBytes, read or with its placeholders filled
  NotSvg,      // librsvg could not read or draw it
  QrBoxTooSmall,  // its "qr" area is smaller than QrBoxMinWidthMm x QrBoxMinHeightMm
};

struct StationeryText;
struct _PangoContext;

class Stationery {
 public:
  ~Stationery();
  Stationery(const Stationery&) = delete;
  Stationery& operator=(const Stationery&) = delete;

  // Reads the SVG file at hostPath, fills its placeholders from values and
  // draws it once, fitted to a page of pageWidth x pageHeight points, into
  // a recording that every page then repeats. stationeryOut is set on Ok
  // only.
  [[nodiscard]] static StationeryLoad Load(const std::string& hostPath, const Placeholders& values,
                                           double pageWidth, double pageHeight,
                                           std::unique_ptr<Stationery>& stationeryOut);

  // Paints the drawing on the current page of cr (its state is kept).
  void DrawUnder(cairo_t* cr) const;
  // Sets the texts that hold an invoice's placeholders, filled from
  // invoice (keys of InvoicePlaceholderKeys; a key it lacks is empty). A
  // text whose invoice placeholders are all empty is left out, so a label
  // written in the same text as its value ("Retenció {TipusRetencio}")
  // goes with it.
  void DrawInvoiceTexts(cairo_t* cr, const Placeholders& invoice) const;

  // The rectangles of id "grid" and "qr" on the page, when the SVG has them
  // with a width and height of at least one point.
  [[nodiscard]] const std::optional<PageRect>& grid() const { return grid_; }
  [[nodiscard]] const std::optional<PageRect>& qrArea() const { return qr_; }

 private:
  Stationery() = default;
  cairo_surface_t* recording_ = nullptr;
  std::vector<StationeryText> invoiceTexts_;
  Placeholders paymentDefaults_;  // the issuer's values of PagePaymentKeys
  _PangoContext* pango_ = nullptr;
  double pageWidth_ = 0;
  double pageHeight_ = 0;
  // Invoice texts by what they show: how often seen, and once seen twice
  // their drawing.
  struct CachedText {
    int seen = 0;
    cairo_surface_t* drawing = nullptr;
  };
  mutable std::unordered_map<std::string, CachedText> cachedTexts_;
  std::optional<PageRect> grid_;
  std::optional<PageRect> qr_;
};
