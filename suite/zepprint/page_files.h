// Pages that the module also wants each as a PDF file of its own (the
// invoices of a registered run that go out by e-mail): the side file
// <ZEPTMP>zepprint.pag names them, one line per page,
//   <page number from 1> TAB <host path of the PDF>
// Lines that do not read so are ignored. Each such page is drawn as in the
// run's own output (same stationery, its tax code as page 1's) and its file
// replaced whole (base/durable.h), whatever device the run prints to.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "suite/zepprint/output.h"

// The pages and paths of a side file's text.
[[nodiscard]] std::map<int32_t, std::string> ParsePageFiles(const std::string& text);

// The run's output, with the named pages also written each to its own PDF.
// A page file that cannot be written does not stop the run: failed() names
// it, for a note in the closing line (its sender makes it again from the
// archived spool file when it needs it).
class PageFilesOutput : public PageOutput {
 public:
  // stationery may be null; it must outlive the output. extras: the run's
  // tax codes and figures by page (output.h), which output has as well.
  PageFilesOutput(std::unique_ptr<PageOutput> output, std::map<int32_t, std::string> files,
                  const Stationery* stationery, InvoiceExtras extras);
  bool Begin() override { return output_->Begin(); }
  bool Page(const GridPage& page) override;
  bool End() override { return output_->End(); }
  const std::string& where() const override { return output_->where(); }

  [[nodiscard]] const std::vector<std::string>& failed() const { return failed_; }

 private:
  std::unique_ptr<PageOutput> output_;
  std::map<int32_t, std::string> files_;
  const Stationery* stationery_;
  InvoiceExtras pageExtras_;
  int32_t pageNumber_ = 0;
  std::vector<std::string> failed_;
};
