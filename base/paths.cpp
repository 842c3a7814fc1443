#include "base/paths.h"

std::string HostPath(std::string_view suitePath) {
  std::string path(suitePath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string TidyHostPath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

std::string HostDirectory(std::string_view dir) {
  std::string out = TidyHostPath(dir);
  if (!out.empty() && out.back() != '/' && out.back() != ':') out += '/';
  return out;
}

std::string SuiteDirectory(std::string_view dir) {
  std::string out(dir);
  if (!out.empty() && out.back() != ':' && out.back() != '\\' && out.back() != '/') out += '\\';
  return out;
}
