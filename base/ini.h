// Settings files: INI-style text files of the suite, read only.
#pragma once

#include <string>

// The value of key in section of the settings file at the suite path file,
// or the empty text when the file cannot be opened, the section is missing
// or the key is missing from it. Opens, scans and closes the file on every
// call; never fails. Section and key are compared trimmed and without regard
// to letter case (code page 850 letters included). Only the first block of a
// section counts, and the first of two equal keys wins. The value is not
// trimmed; a value at least two characters long enclosed in double quotes is
// returned without them.
std::string IniRead(const std::string& file, const std::string& section,
                    const std::string& key);
