#include "issuing/print_job.h"

#include <cstdio>

#include "base/durable.h"

int WritePrintJob(const std::string& folder, const PrintablePage& page, const std::string& device,
                  std::string& failedOut) {
  failedOut.clear();
  std::string spool = page.page;
  if (spool.compare(0, 6, "DEVICE") == 0) spool.erase(0, std::min(spool.size(), spool.find('\n') + 1));
  std::remove((folder + "zepprint.out").c_str());
  const std::pair<std::string, std::string> files[] = {
      {folder + "zepprint.tmp", "DEVICE" + device + "\r\n" + spool},
      {folder + "zepprint.qr", page.codes},
      {folder + "zepprint.fig", page.figures},
  };
  for (const auto& [path, content] : files) {
    if (content.empty()) {
      std::remove(path.c_str());
      continue;
    }
    const int error = WriteWholeFile(path, content);
    if (error != 0) {
      failedOut = path;
      return error;
    }
  }
  return 0;
}
