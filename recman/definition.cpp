#include "recman/definition.h"

#include <cstring>

#include "recman/recman.h"

namespace {

constexpr size_t kFilePart = 16;
constexpr size_t kSegmentPart = 16;
constexpr size_t kCollatingPart = 1 + 8 + 256;
constexpr uint8_t kCollatingSignature = 0xAC;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

int16_t ParseFileDefinition(const uint8_t* block, size_t size, FileDefinition& out) {
  out = FileDefinition{};
  if (block == nullptr || size < kFilePart) return RmInvalidOperation;
  out.recordLength = Get16(block);
  out.pageSize = Get16(block + 2);
  const uint16_t keyCount = Get16(block + 4);
  out.fileFlags = Get16(block + 10);
  if (out.recordLength == 0) return RmRecordLengthMismatch;
  if (keyCount == 0 || keyCount > kMaxKeys) return RmInvalidOperation;

  size_t offset = kFilePart;
  bool wantsCollating = false;
  bool outsideRecord = false;
  for (uint16_t k = 0; k < keyCount; ++k) {
    KeyDefinition key;
    bool more = true;
    while (more) {
      if (offset + kSegmentPart > size) return RmInvalidOperation;
      const uint8_t* s = block + offset;
      SegmentDefinition seg;
      seg.position = Get16(s);
      seg.length = Get16(s + 2);
      seg.flags = Get16(s + 4);
      seg.extendedType = s[10];
      seg.nullValue = s[11];
      seg.manualKeyNumber = s[14];
      seg.collatingNumber = s[15];
      offset += kSegmentPart;
      if (seg.length == 0) return RmInvalidOperation;
      if (seg.position == 0 ||
          static_cast<size_t>(seg.position) - 1 + seg.length > out.recordLength) {
        outsideRecord = true;  // reported after the block is known to be whole
      }
      if (key.segments.empty()) {
        key.duplicates = (seg.flags & RmDuplicates) != 0;
        key.modifiable = (seg.flags & RmModifiable) != 0;
      }
      if ((seg.flags & RmAlternateCollation) && !(seg.flags & RmBinary)) wantsCollating = true;
      key.length += seg.length;
      key.segments.push_back(seg);
      more = (seg.flags & RmSegmented) != 0;
    }
    if (key.length > 255) return RmInvalidOperation;
    out.keys.push_back(std::move(key));
  }
  if (outsideRecord) return RmRecordLengthMismatch;
  if (wantsCollating) {
    if (offset + kCollatingPart > size || block[offset] != kCollatingSignature) {
      return RmInvalidOperation;
    }
    out.hasCollatingSequence = true;
    for (size_t i = 0; i < 8; ++i) out.collatingName[i] = block[offset + 1 + i];
    for (size_t i = 0; i < 256; ++i) out.collatingTable[i] = block[offset + 9 + i];
  }
  return RmSuccess;
}

std::string EncodeFileDefinition(const FileDefinition& def, uint32_t recordCount) {
  std::string out;
  Put16(out, def.recordLength);
  Put16(out, def.pageSize);
  Put16(out, static_cast<uint16_t>(def.keys.size()));
  Put32(out, recordCount);
  Put16(out, def.fileFlags);
  out.append(4, '\0');
  for (const KeyDefinition& key : def.keys) {
    for (const SegmentDefinition& seg : key.segments) {
      Put16(out, seg.position);
      Put16(out, seg.length);
      Put16(out, seg.flags);
      out.append(4, '\0');
      out.push_back(static_cast<char>(seg.extendedType));
      out.push_back(static_cast<char>(seg.nullValue));
      out.append(2, '\0');
      out.push_back(static_cast<char>(seg.manualKeyNumber));
      out.push_back(static_cast<char>(seg.collatingNumber));
    }
  }
  if (def.hasCollatingSequence) {
    out.push_back(static_cast<char>(kCollatingSignature));
    out.append(reinterpret_cast<const char*>(def.collatingName.data()), 8);
    out.append(reinterpret_cast<const char*>(def.collatingTable.data()), 256);
  }
  return out;
}

std::string KeyValueOf(const FileDefinition& def, size_t keyNum, const uint8_t* record) {
  std::string value;
  KeyValueInto(def, keyNum, record, value);
  return value;
}

void KeyValueInto(const FileDefinition& def, size_t keyNum, const uint8_t* record, std::string& out) {
  const KeyDefinition& key = def.keys[keyNum];
  out.clear();
  out.reserve(key.length);
  for (const SegmentDefinition& seg : key.segments) {
    out.append(reinterpret_cast<const char*>(record) + seg.position - 1, seg.length);
  }
}

std::string CollationFormOf(const FileDefinition& def, size_t keyNum, std::string_view keyValue) {
  std::string form(keyValue.substr(0, def.keys[keyNum].length));
  ToCollationForm(def, keyNum, form);
  return form;
}

void ToCollationForm(const FileDefinition& def, size_t keyNum, std::string& form) {
  const KeyDefinition& key = def.keys[keyNum];
  form.resize(key.length, '\0');
  size_t p = 0;
  for (const SegmentDefinition& seg : key.segments) {
    char* s = form.data() + p;
    if (seg.flags & RmBinary) {
      for (size_t i = 0, j = seg.length - 1; i < j; ++i, --j) std::swap(s[i], s[j]);
    } else if ((seg.flags & RmAlternateCollation) && def.hasCollatingSequence) {
      for (size_t i = 0; i < seg.length; ++i) {
        s[i] = static_cast<char>(def.collatingTable[static_cast<uint8_t>(s[i])]);
      }
    }
    if (seg.flags & RmDescending) {
      for (size_t i = 0; i < seg.length; ++i) s[i] = static_cast<char>(~static_cast<uint8_t>(s[i]));
    }
    p += seg.length;
  }
}

bool CollationFormMatches(const FileDefinition& def, size_t keyNum, const uint8_t* record, std::string_view form) {
  const KeyDefinition& key = def.keys[keyNum];
  if (form.size() != key.length) return false;
  const auto* out = reinterpret_cast<const uint8_t*>(form.data());
  for (const SegmentDefinition& seg : key.segments) {
    const uint8_t* src = record + seg.position - 1;
    const bool binary = (seg.flags & RmBinary) != 0;
    const bool translated = !binary && (seg.flags & RmAlternateCollation) && def.hasCollatingSequence;
    const uint8_t complement = (seg.flags & RmDescending) ? 0xFF : 0x00;
    if (!binary && !translated && complement == 0) {
      if (std::memcmp(src, out, seg.length) != 0) return false;
    } else {
      for (size_t i = 0; i < seg.length; ++i) {
        uint8_t b = binary ? src[seg.length - 1 - i] : src[i];
        if (translated) b = def.collatingTable[b];
        if (static_cast<uint8_t>(b ^ complement) != out[i]) return false;
      }
    }
    out += seg.length;
  }
  return true;
}
