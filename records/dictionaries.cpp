// Creation specifications of PropietV, FinquesV, DepartaV, CobramV and
// CorreuV, MandatV, and
// the encoder every data file's specification is written with.
#include "records/dictionaries.h"

#include <cstdint>

#include "recman/recman.h"
#include "records/layouts.h"

namespace {

constexpr uint16_t PageSize = 1024;

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

}  // namespace

std::string EncodeCreationSpecification(uint32_t recordLength, uint16_t keys, const std::vector<SegmentSpec>& segments,
                                        uint16_t fileFlags) {
  std::string out;
  Put16(out, static_cast<uint16_t>(recordLength));
  Put16(out, PageSize);
  Put16(out, keys);
  out.append(4, '\0');  // record count: stat only
  Put16(out, fileFlags);
  out.append(4, '\0');  // reserved: the file part is 16 bytes
  bool alternate = false;
  for (const SegmentSpec& s : segments) {
    Put16(out, s.position);
    Put16(out, s.length);
    Put16(out, s.flags);
    out.append(4, '\0');
    out += '\0';  // extended type
    out += '\0';  // null value
    out.append(2, '\0');
    out += static_cast<char>(s.keyNumber);
    out += '\0';  // collating sequence number
    if (s.flags & RmAlternateCollation) alternate = true;
  }
  if (alternate) {
    out += static_cast<char>(0xAC);
    out += "MAJUSCUL";
    out += OwnerNameCollatingSequence();
  }
  return out;
}

uint16_t FieldPosition(RecordField f) { return static_cast<uint16_t>(f.offset + 1); }

std::string OwnerNameCollatingSequence() {
  std::string table(256, '\0');
  for (int c = 0; c < 256; ++c) table[static_cast<size_t>(c)] = static_cast<char>(c);
  for (int c = 'a'; c <= 'z'; ++c) table[static_cast<size_t>(c)] = static_cast<char>(c - 'a' + 'A');
  // Accented and special letters of code page 850 and their plain capitals.
  struct Fold {
    char to;
    std::vector<int> from;
  };
  const Fold folds[] = {
      {'A', {131, 132, 133, 134, 142, 143, 145, 146, 160, 166, 181, 182, 183, 198, 199}},
      {'C', {128, 135}},
      {'D', {208, 209}},
      {'E', {130, 136, 137, 138, 144, 210, 211, 212, 213}},
      {'I', {139, 140, 141, 161, 214, 215, 216, 222}},
      {'N', {164, 165}},
      {'O', {147, 148, 149, 153, 155, 157, 162, 167, 224, 226, 227, 228, 229}},
      {'S', {225}},
      {'T', {231, 232}},
      {'U', {129, 150, 151, 154, 163, 233, 234, 235}},
      {'Y', {152, 236, 237}},
  };
  for (const Fold& f : folds) {
    for (int c : f.from) table[static_cast<size_t>(c)] = f.to;
  }
  return table;
}

const std::vector<std::string>& DictionaryBaseNames() {
  static const std::vector<std::string> names{"PropietV", "FinquesV", "DepartaV", "CobramV"};
  return names;
}

std::string CreationSpecification(const std::string& baseName) {
  if (baseName == "PropietV") {
    return EncodeCreationSpecification(OwnerRecordSize, 2,
                         {{FieldPosition(OwnerFields::Code), OwnerFields::Code.width, 0, 0},
                          {FieldPosition(OwnerFields::Name), OwnerFields::Name.width,
                           RmDuplicates | RmModifiable | RmAlternateCollation, 1}});
  }
  if (baseName == "FinquesV") {
    return EncodeCreationSpecification(PropertyRecordSize, 1, {{FieldPosition(PropertyFields::Code), PropertyFields::Code.width, 0, 0}});
  }
  if (baseName == "DepartaV") {
    return EncodeCreationSpecification(UnitRecordSize, 1, {{FieldPosition(UnitFields::Key), UnitFields::Key.width, 0, 0}});
  }
  if (baseName == "CobramV") {
    return EncodeCreationSpecification(CollectionRecordSize, 1,
                         {{FieldPosition(CollectionFields::UnitKey), CollectionFields::UnitKey.width,
                           RmDuplicates | RmSegmented, 0},
                          {FieldPosition(CollectionFields::Date), CollectionFields::Date.width, RmDuplicates, 0}});
  }
  if (baseName == MailAddressDictionaryBaseName) {
    return EncodeCreationSpecification(MailAddressRecordSize, 1,
                                       {{FieldPosition(MailAddressFields::OwnerCode), MailAddressFields::OwnerCode.width, 0, 0}});
  }
  if (baseName == MandateDictionaryBaseName) {
    return EncodeCreationSpecification(MandateRecordSize, 2,
                                       {{FieldPosition(MandateFields::OwnerCode), MandateFields::OwnerCode.width, 0, 0},
                                        {FieldPosition(MandateFields::Reference), MandateFields::Reference.width, 0, 1}});
  }
  return std::string();
}

std::string DictionaryFileBytes(const std::string& baseName) { return DictionaryFileBytesOf(CreationSpecification(baseName)); }

std::string DictionaryFileBytesOf(const std::string& creation) {
  if (creation.empty()) return creation;
  std::string out;
  Put16(out, static_cast<uint16_t>(creation.size()));
  return out + creation;
}
