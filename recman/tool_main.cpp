#include <iostream>
#include <string>
#include <vector>

#include "recman/recman.h"
#include "recman/tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const int code = RunRecmanTool(args, std::cout, std::cerr);
  uint8_t block[128] = {};
  uint32_t len = 0;
  RecordManagerCall(RmReset, block, nullptr, &len, nullptr, 0, 0);
  std::cout.flush();
  return code;
}
