// The tax agency's QR code on an invoice page: the code of a URL (error
// correction M, byte mode) drawn with cairo, with the legend "QR tributario:"
// just above it, and the side file through which the module tells the print
// program which page carries which code.
//
// Side file: "zepprint.qr" beside the spool file, UTF-8, one line per page
// that carries a code: the page number (from 1), a tab, the code's text.
// Lines that do not read as that are ignored; a missing file means no codes.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The modules of a QR code, row by row; true is dark.
struct QrMatrix {
  int size = 0;
  std::vector<bool> dark;
  [[nodiscard]] bool At(int row, int col) const { return dark[static_cast<size_t>(row * size + col)]; }
};

// Encodes text (taken as bytes) at error correction level M in the smallest
// version that holds it. False when it cannot be encoded (too long, or the
// library failed).
[[nodiscard]] bool EncodeQr(const std::string& text, QrMatrix& out);

// The page -> code text map of a side file's content.
[[nodiscard]] std::map<int32_t, std::string> ParseQrSideFile(const std::string& content);

// Where a code goes, in points: a square area for the code itself; the
// legend sits just above it and the quiet zone is drawn white around it,
// never outside the area the code was placed in (box).
struct QrPlacement {
  double x = 0;
  double y = 0;
  double side = 0;
  double boxX = 0;
  double boxY = 0;
  double boxWidth = 0;
  double boxHeight = 0;
};

// Millimetres to points.
[[nodiscard]] constexpr double MillimetresToPoints(double mm) { return mm * 72.0 / 25.4; }

// The placement in an area reserved for the code (x, y, width, height in
// points): the legend's line at the top, then a square of 30 to 40 mm with
// at least 2 mm of quiet zone on every side, centred in what is left. An
// area smaller than 34 x 39 mm (stationery refuses those) gets the 30 mm
// code all the same, centred on it.
[[nodiscard]] QrPlacement PlaceQrInArea(double x, double y, double width, double height);

// Draws the legend and the code. The quiet zone (four modules where the
// area has room, at least 2 mm) is painted white first, so nothing drawn
// before shows through it; nothing is painted outside the placement's box.
// fontFace names the legend's font, fontSize its size in points.
void DrawTaxQr(cairo_t* cr, const QrMatrix& code, const QrPlacement& where, const char* fontFace,
               double fontSize, const char* footer = nullptr);

// The line a code carries centred just below it: "VERI*FACTU" for the
// sending mode's code (the agency's path ValidarQR), nothing (nullptr) for
// any other.
[[nodiscard]] const char* TaxQrFooter(const std::string& codeText);
