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

std::string WithDataExtension(const std::string& hostPath) {
  const size_t slash = hostPath.find_last_of('/');
  if (hostPath.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos) return hostPath;
  return hostPath + ".dat";
}
