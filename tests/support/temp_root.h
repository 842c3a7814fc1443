// A fresh temporary directory for tests that need files, removed with all its
// content when the test ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempRoot {
 public:
  TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvadel-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) {
      // Without a folder of its own a test would write elsewhere: stop.
      std::fprintf(stderr, "cannot create a temporary folder from %s\n", pattern.c_str());
      std::abort();
    }
    dir_ = made;
  }
  ~TempRoot() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  // The directory with a trailing "/", ready for names to be appended.
  std::string Dir() const { return dir_ + "/"; }

  // Writes bytes exactly as given, creating parent folders.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path path = std::filesystem::path(dir_) / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return path.string();
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(std::filesystem::path(dir_) / name); }

 private:
  std::string dir_;
};
