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

#include <cstdint>
#include <string>
#include <vector>

#include "records/layouts.h"

// One key segment of a creation specification.
struct SegmentSpec {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags;     // the record manager's key flags (recman.h)
  uint8_t keyNumber;
};

// The creation specification of a file of fixed-length records with these
// key segments, in the layout above.
std::string EncodeCreationSpecification(uint32_t recordLength, uint16_t keys, const std::vector<SegmentSpec>& segments,
                                        uint16_t fileFlags = 0);

// The 1-based position of a field, as a segment names it.
uint16_t FieldPosition(RecordField field);

// Base names of the four data files, in the order the program opens them.
const std::vector<std::string>& DictionaryBaseNames();

// The creation specification for a base name ("PropietV", ..., and
// "CorreuV" and "MandatV", which DictionaryBaseNames does not list); empty for any other
// name. The invoice register's lives with the register.
std::string CreationSpecification(const std::string& baseName);

// The dictionary file's bytes: the creation block's length N as 2 bytes
// little-endian, then the N bytes. Empty for an unknown base name.
std::string DictionaryFileBytes(const std::string& baseName);
std::string DictionaryFileBytesOf(const std::string& creation);

// The owner-name collating sequence: 256 entries, entry c the collating
// value of code page 850 byte c. Letters fold to their unaccented capitals
// (a and á to A, ç to C, ñ to N, ß to S ...); every other byte keeps its
// own value.
std::string OwnerNameCollatingSequence();
