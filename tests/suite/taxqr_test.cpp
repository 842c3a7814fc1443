// The tax QR code: what a phone reads from the drawn code is the URL, the
// code keeps its size and quiet zone, and the side file is read leniently.
#include "suite/zepprint/taxqr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <cstdio>
#include <string>

#include "tests/support/table.h"
#include "tests/support/temp_root.h"

namespace {

// What zbarimg decodes from a PNG file, without its trailing line end.
std::string Decode(const std::string& png) {
  std::string out;
  FILE* pipe = ::popen(("zbarimg --quiet --raw '" + png + "' 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[512];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  ::pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(TaxQr, DrawnCodeDecodesToItsUrl) {
  struct Case {
    const char* name;
    std::string url;
    double areaWidthMm, areaHeightMm;
    double expectedSideMm;
  };
  const Case cases[] = {
      {"a roomy area gives the largest code", "https://www2.agenciatributaria.gob.es/wlpl/TIKE-CONT/"
                                               "ValidarQRNoVerifactu?nif=B12345678&numserie=A%2F00000007"
                                               "&fecha=15-01-2027&importe=121.00",
       60, 60, 40},
      {"the smallest area a stationery may have gives 30 mm",
       "https://prewww2.aeat.es/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif="
       "B12345678&numserie=00000001&fecha=01-01-2027&importe=-60.50",
       34, 39, 30},
  };
  TempRoot root;
  ForEachRow(cases, [&](const Case& c) {
    QrMatrix code;
    ASSERT_TRUE(EncodeQr(c.url, code));
    const QrPlacement at =
        PlaceQrInArea(40, 40, MillimetresToPoints(c.areaWidthMm), MillimetresToPoints(c.areaHeightMm));
    EXPECT_NEAR(at.side, MillimetresToPoints(c.expectedSideMm), 0.01);
    // Rendered at 200 dpi, as a scan of the printed page would be.
    const double scale = 200.0 / 72.0;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 600, 600);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);  // a grey page shows whether the quiet zone is white
    cairo_paint(cr);
    cairo_scale(cr, scale, scale);
    DrawTaxQr(cr, code, at, "DejaVu Sans Mono", 9);
    cairo_destroy(cr);
    const std::string png = root.Dir() + "code.png";
    ASSERT_EQ(cairo_surface_write_to_png(surface, png.c_str()), CAIRO_STATUS_SUCCESS);
    // The quiet zone, in pixels: along the row through the middle of the
    // top left finder pattern, the white run between the grey page and the
    // code's first dark pixel spans four modules, or all the area leaves
    // beside the code when that is less (never under 2 mm).
    cairo_surface_flush(surface);
    const unsigned char* pixels = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const double module = at.side / code.size;
    const int y = static_cast<int>((at.y + 3.5 * module) * scale);
    int white = 0;
    for (int x = 0; x < 600; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, pixels + y * stride + x * 4, 4);
      pixel &= 0xFFFFFF;
      if (pixel == 0xFFFFFF) ++white;
      if ((pixel & 0xFF) < 0x40) break;  // the first dark module
    }
    const double room = std::max(MillimetresToPoints(2), (MillimetresToPoints(c.areaWidthMm) - at.side) / 2);
    EXPECT_GE(white, static_cast<int>(std::min(4 * module, room) * scale) - 1) << "module " << module * scale << " pixels";
    cairo_surface_destroy(surface);
    EXPECT_EQ(Decode(png), c.url);
  });
}

TEST(TaxQr, SideFileLines) {
  const std::map<int32_t, std::string> codes =
      ParseQrSideFile("1\thttps://a\r\n3\thttps://c\nx\tbad\n0\tzero\n\t\n4\n2\thttps://b");
  const std::map<int32_t, std::string> expected{{1, "https://a"}, {2, "https://b"}, {3, "https://c"}};
  EXPECT_EQ(codes, expected);
  QrMatrix code;
  EXPECT_FALSE(EncodeQr("", code));
  EXPECT_FALSE(EncodeQr(std::string(5000, 'a'), code));
}

}  // namespace
