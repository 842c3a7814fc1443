// Upper-case folding over code page 850.
#pragma once

#include <cstdint>
#include <string>

// -1 selects the strict table (every letter to its plain capital A-Z, other
// characters 64..237 to blanks); any other value the plain table (capitals,
// accents kept). Starts at 0. The field editor turns it on only while it
// matches a typed key against choice letters, and off again afterwards.
extern int16_t FoldStrict;

// text with every character 64..237 replaced through the table FoldStrict
// selects; other characters unchanged. Same length as text.
std::string FoldText(const std::string& text);
