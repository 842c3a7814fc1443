// File definitions of the record manager: the creation block that a create
// request carries (and a stat request returns), parsed into keys and
// segments, and the collation form of key values.
//
// Creation block layout (integers little-endian):
//   file part, 16 bytes: record length (2), page size (2), number of keys (2),
//     record count (4, stat reply only), file flags (2), 4 reserved (the
//     part is 16 bytes, so the segments begin at offset 16);
//   one 16-byte block per key segment, all segments of all keys in key order:
//     position 1-based (2), length (2), flags (2), 4 reserved, extended type
//     (1), null value (1), 2 reserved, manual key number (1), collating
//     sequence number (1);
//   when any segment has the alternate-collation flag: signature 0xAC, 8 name
//     bytes, 256 translation bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SegmentDefinition {
  uint16_t position = 1;  // 1-based offset of the segment in the record
  uint16_t length = 0;
  uint16_t flags = 0;     // RmSegmentFlag bits as given
  uint8_t extendedType = 0;
  uint8_t nullValue = 0;
  uint8_t manualKeyNumber = 0;
  uint8_t collatingNumber = 0;
};

struct KeyDefinition {
  std::vector<SegmentDefinition> segments;
  bool duplicates = false;  // taken from the key's first segment
  bool modifiable = false;  // taken from the key's first segment
  size_t length = 0;        // sum of the segment lengths, 1 to 255
};

struct FileDefinition {
  uint16_t recordLength = 0;
  uint16_t pageSize = 0;
  uint16_t fileFlags = 0;
  std::vector<KeyDefinition> keys;
  bool hasCollatingSequence = false;
  std::array<uint8_t, 8> collatingName{};
  std::array<uint8_t, 256> collatingTable{};
};

// Largest number of keys a file may have.
inline constexpr size_t kMaxKeys = 24;

// Reads a creation block of `size` bytes (a file part written 18 bytes long,
// with 6 reserved bytes, is recognised and read too). Returns 0 and fills `out`; 28 when
// the record length is 0 or a segment lies outside the record; 1 for any
// other fault (no keys, too many keys, a zero-length segment, a key longer
// than 255 bytes, a block shorter than its segments need, a missing or
// unsigned collating sequence). Never reads past `size` bytes.
int16_t ParseFileDefinition(const uint8_t* block, size_t size, FileDefinition& out);

// The creation block of `def`, with `recordCount` in the file part (the
// stat reply). ParseFileDefinition of the result gives `def` back.
std::string EncodeFileDefinition(const FileDefinition& def, uint32_t recordCount);

// The key value of key `keyNum` of a record: its segments' bytes as stored in
// the record, concatenated. Pre: the record holds def.recordLength bytes.
std::string KeyValueOf(const FileDefinition& def, size_t keyNum, const uint8_t* record);

// The collation form of a key value of key `keyNum` (exactly the key's
// length): binary segments reversed, collating-sequence segments translated,
// descending segments complemented, the rest unchanged. Plain byte order of
// the result is key order.
std::string CollationFormOf(const FileDefinition& def, size_t keyNum, std::string_view keyValue);

// CollationFormOf in place: `value` becomes the collation form of its first
// bytes (cut or padded with NULs to the key's length). Reuses its storage.
void ToCollationForm(const FileDefinition& def, size_t keyNum, std::string& value);

// KeyValueOf into `out`, reusing its storage.
void KeyValueInto(const FileDefinition& def, size_t keyNum, const uint8_t* record, std::string& out);

// True when `form` is the collation form of key `keyNum` of the record: the
// check that a record agrees with its index entry. Allocates nothing.
// Pre: the record holds def.recordLength bytes.
[[nodiscard]] bool CollationFormMatches(const FileDefinition& def, size_t keyNum, const uint8_t* record,
                                        std::string_view form);
