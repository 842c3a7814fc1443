// The three outputs of the print program: a PDF file, a UTF-8 text file and
// the lp spooler. Each consumes pages one at a time, so a spool file of any
// length is printed in memory of one page.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

#include "suite/zepprint/spool_reader.h"

// Releases the font caches that cairo and fontconfig keep for the life of
// the process, so that leak checkers see a clean exit. Call once, after
// every output has ended.
void ReleaseFontCaches();

// The text form of a page: each row converted to UTF-8 with its trailing
// blanks removed and ended by "\n", rows after the last non-blank one left
// out. Pages are separated by a form feed "\f" (see TextOutput).
std::string PageText(const GridPage& page);

// Where the pages go. Begin opens the target, Page adds one, End completes
// it; each returns false on failure, after which error() says what failed
// in the caller's terms (a path or a printer name).
class PageOutput {
 public:
  virtual ~PageOutput() = default;
  virtual bool Begin() = 0;
  virtual bool Page(const GridPage& page) = 0;
  virtual bool End(int pageCount) = 0;
};

// Plain pages in UTF-8, "\f" between pages, into the host file path.
class TextOutput : public PageOutput {
 public:
  explicit TextOutput(std::string path);
  ~TextOutput() override;
  bool Begin() override;
  bool Page(const GridPage& page) override;
  bool End(int pageCount) override;

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool first_ = true;
  bool failed_ = false;
};

// A4 pages in DejaVu Sans Mono on the 96-column grid (see output.cpp for the
// page geometry), into the host file path.
class PdfOutput : public PageOutput {
 public:
  explicit PdfOutput(std::string path);
  ~PdfOutput() override;
  bool Begin() override;
  bool Page(const GridPage& page) override;
  bool End(int pageCount) override;

 private:
  struct Cairo;
  std::string path_;
  std::unique_ptr<Cairo> cairo_;
};

// The text pages piped to "lp -d printer" (found through PATH); End waits
// for lp and fails when it could not be started or did not exit with 0.
class LpOutput : public PageOutput {
 public:
  explicit LpOutput(std::string printer);
  ~LpOutput() override;
  bool Begin() override;
  bool Page(const GridPage& page) override;
  bool End(int pageCount) override;

 private:
  bool Write(const std::string& bytes);
  std::string printer_;
  int pipe_ = -1;
  pid_t child_ = -1;
  bool first_ = true;
  bool failed_ = false;
};
