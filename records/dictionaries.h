// The creation specifications of the module's four data files, as their
// dictionary files in "ddf\" hold them. The dictionaries shipped in
// install/ddf are made from these by the ddfgen program, so the record
// lengths and keys here and the record areas of layouts.h stay one.
//
// Specification layout (integers little-endian): a 16-byte file part
// (record length, page size, number of keys, record count 0, file flags, 6
// reserved), one 16-byte specification per key segment (position 1-based,
// length, flags, 4 reserved, extended type, null value, 2 reserved, key
// number, collating sequence number), then, when a segment uses it, the
// alternate collating sequence (0xAC, 8 name bytes, 256 translation bytes).
#pragma once

#include <string>
#include <vector>

// Base names of the four data files, in the order the program opens them.
const std::vector<std::string>& DictionaryBaseNames();

// The creation specification for a base name ("PropietV", ..., and the
// invoice register's "RegFactV"); empty for any other name.
std::string CreationSpecification(const std::string& baseName);

// The dictionary file's bytes: the creation block's length N as 2 bytes
// little-endian, then the N bytes. Empty for an unknown base name.
std::string DictionaryFileBytes(const std::string& baseName);

// The owner-name collating sequence: 256 entries, entry c the collating
// value of code page 850 byte c. Letters fold to their unaccented capitals
// (a and á to A, ç to C, ñ to N, ß to S ...); every other byte keeps its
// own value.
std::string OwnerNameCollatingSequence();
