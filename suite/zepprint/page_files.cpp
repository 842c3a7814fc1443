#include "suite/zepprint/page_files.h"

#include <cstdlib>
#include <utility>

std::map<int32_t, std::string> ParsePageFiles(const std::string& text) {
  std::map<int32_t, std::string> files;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    if (tab == 0 || tab == std::string::npos || tab + 1 == line.size() || tab > 9) continue;
    if (line.find_first_not_of("0123456789") != tab) continue;
    const long page = std::atol(line.c_str());
    if (page < 1) continue;
    files[static_cast<int32_t>(page)] = line.substr(tab + 1);
  }
  return files;
}

PageFilesOutput::PageFilesOutput(std::unique_ptr<PageOutput> output, std::map<int32_t, std::string> files,
                                 const Stationery* stationery, InvoiceExtras extras)
    : output_(std::move(output)), files_(std::move(files)), stationery_(stationery), pageExtras_(std::move(extras)) {}

bool PageFilesOutput::Page(const GridPage& page) {
  ++pageNumber_;
  const bool good = output_->Page(page);
  const auto named = files_.find(pageNumber_);
  if (named == files_.end()) return good;
  PdfOutput alone(named->second, Placement::Replace, stationery_);
  // Its code and figures as page 1's.
  InvoiceExtras own;
  const auto code = pageExtras_.codes.find(pageNumber_);
  if (code != pageExtras_.codes.end()) own.codes[1] = code->second;
  const auto figures = pageExtras_.figures.find(pageNumber_);
  if (figures != pageExtras_.figures.end()) own.figures[1] = figures->second;
  alone.SetExtras(std::move(own));
  if (!alone.Begin() || !alone.Page(page) || !alone.End()) failed_.push_back(named->second);
  return good;
}
