#include "base/paths.h"

std::string HostPath(std::string_view suitePath) {
  std::string path(suitePath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string SuiteDirectory(std::string_view dir) {
  std::string out(dir);
  if (!out.empty() && out.back() != ':' && out.back() != '\\' && out.back() != '/') out += '\\';
  return out;
}
