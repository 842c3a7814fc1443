// Settings files: INI-style text files of the suite, read only.
#pragma once

#include <cstddef>
#include <string>

// The largest settings file read; real ones hold a few kilobytes.
inline constexpr size_t MostSettingsFileBytes = 16u << 20;

// The value of key in section of the settings file at the suite path file,
// or the empty text when the file cannot be read, the section is missing or
// the key is missing from it. Only a regular file of at most
// MostSettingsFileBytes is read (base/files.h ReadRegularFile): a pipe,
// device or folder in its place is never opened for reading and never waited
// on. Reads the whole file and scans it on every call; never fails. Section and key are compared trimmed and without regard
// to letter case (code page 850 letters included). Only the first block of a
// section counts, and the first of two equal keys wins. The value is not
// trimmed; a value at least two characters long enclosed in double quotes is
// returned without them.
[[nodiscard]] std::string IniRead(const std::string& file, const std::string& section,
                                  const std::string& key);

// The same value without the blanks (spaces, tabs) written around it, as
// "NIF = B12345678" means "B12345678"; a value that is then at least two
// characters long and enclosed in double quotes loses the quotes and keeps
// what they enclose as written, blanks included ("  Puig "). For values used
// as names, codes, paths, devices, languages and printed texts.
[[nodiscard]] std::string IniReadTrimmed(const std::string& file, const std::string& section,
                                         const std::string& key);
