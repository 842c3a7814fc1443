// The three outputs of the print program: a PDF file, a UTF-8 text file and
// the lp spooler. Each consumes pages one at a time, so a spool file of any
// length is printed in memory of one page. Files are written through
// DurableFile: complete, or not at all.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/durable.h"
#include "suite/zepprint/spool_reader.h"
#include "suite/zepprint/stationery.h"

// The text form of a page: each row converted to UTF-8 with its trailing
// blanks removed and ended by "\n", rows after the last non-blank one left
// out. Pages are separated by a form feed "\f" (see TextOutput).
std::string PageText(const GridPage& page);

// What the module names beside the spool file for the invoices' pages, by
// page number from 1: the tax agency's codes (zepprint.qr, see taxqr.h)
// and each invoice's figures (zepprint.fig, see ParseFiguresFile).
struct InvoiceExtras {
  std::map<int32_t, std::string> codes;
  std::map<int32_t, Placeholders> figures;
};

// Where the pages go. Begin opens the target, Page adds one, End completes
// it; each returns false on failure. A file output that fails, or is
// destroyed without End, leaves the earlier file of its name as it was.
class PageOutput {
 public:
  virtual ~PageOutput() = default;
  [[nodiscard]] virtual bool Begin() = 0;
  [[nodiscard]] virtual bool Page(const GridPage& page) = 0;
  [[nodiscard]] virtual bool End() = 0;
  // After a successful End: the host path written, or the printer name.
  // Before: the target asked for.
  [[nodiscard]] virtual const std::string& where() const = 0;
  // The codes and figures of the pages to come.
  void SetExtras(InvoiceExtras extras) { extras_ = std::move(extras); }

 protected:
  InvoiceExtras extras_;
};

// Plain pages in UTF-8, "\f" between pages, into the host file path. A
// page that carries a tax code starts with a line "QR tributario: " and the
// code's text (its address), and a blank line: text has no picture of it.
class TextOutput : public PageOutput {
 public:
  TextOutput(std::string path, Placement mode);
  bool Begin() override;
  bool Page(const GridPage& page) override;
  bool End() override;
  const std::string& where() const override { return where_; }

 private:
  DurableFile file_;
  Placement mode_;
  std::string where_;
  bool first_ = true;
  int32_t pageNumber_ = 0;
};

inline constexpr double PageWidth = 595.276;  // A4 in points
inline constexpr double PageHeight = 841.890;

// The drawing of PDF pages both PDF outputs share (output.cpp).
class PdfPages;

// Draws one page on cr (in points, A4): the stationery (null: plain paper)
// with its invoice placeholders filled from figures, the grid's text, and
// the tax code of taxCode (empty: none). See PdfOutput.
void DrawPage(cairo_t* cr, const Stationery* stationery, const GridPage& page, const Placeholders& figures,
              const std::string& taxCode);

// The figures of the sample invoice (every invoice placeholder filled).
[[nodiscard]] Placeholders SampleInvoiceFigures();

// A sample fee invoice drawn on the stationery, with its figures and a tax
// code, as a PNG of the A4 page at 150 dots per inch into the host path
// pngPath (written whole or not at all). False when it could not be made.
[[nodiscard]] bool WriteSamplePng(const Stationery& stationery, const std::string& pngPath);

// A4 pages in DejaVu Sans Mono on the 96-column grid (see output.cpp for the
// page geometry), into the host file path; with stationery (not null, it
// must outlive the output), its drawing is under every page, its invoice
// placeholders are filled from the page's figures, and its grid rectangle,
// if any, places the grid. A page's tax code goes into the stationery's QR
// area; on plain paper (or a stationery without that area) at the top of
// the page, centred, the page's text moved down below it.
class PdfOutput : public PageOutput {
 public:
  PdfOutput(std::string path, Placement mode, const Stationery* stationery = nullptr);
  ~PdfOutput() override;
  bool Begin() override;
  bool Page(const GridPage& page) override;
  bool End() override;
  const std::string& where() const override { return where_; }

 private:
  DurableFile file_;  // outlives pages_, which writes into it until destroyed
  Placement mode_;
  std::string where_;
  std::unique_ptr<PdfPages> pages_;
};

// The PDF pages (as PdfOutput draws them) piped to "lp -d printer" (found
// through PATH); End waits for lp and fails when it could not be started
// or did not exit with 0.
class LpOutput : public PageOutput {
 public:
  explicit LpOutput(std::string printer, const Stationery* stationery = nullptr);
  ~LpOutput() override;
  bool Begin() override;
  bool Page(const GridPage& page) override;
  bool End() override;
  const std::string& where() const override { return printer_; }

 private:
  [[nodiscard]] bool Write(const unsigned char* data, size_t length);
  std::string printer_;
  std::unique_ptr<PdfPages> pages_;
  int pipe_ = -1;
  pid_t child_ = -1;
  bool failed_ = false;
};
