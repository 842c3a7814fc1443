// Upper-case folding by table lookup over code page 850.
#include "formatting/folding.h"

#include <array>
#include <initializer_list>

#include "base/text.h"

int16_t FoldStrict = 0;

namespace {

struct StrictTable {
  std::array<unsigned char, 256> map{};
  StrictTable() {
    for (int i = 0; i < 256; ++i) {
      // Outside 64..237 nothing changes; inside, whatever is not a letter
      // listed below becomes a blank.
      map[static_cast<size_t>(i)] = static_cast<unsigned char>(i < 64 || i > 237 ? i : ' ');
    }
    for (int c = 'A'; c <= 'Z'; ++c) {
      map[static_cast<size_t>(c)] = static_cast<unsigned char>(c);
      map[static_cast<size_t>(c + 32)] = static_cast<unsigned char>(c);
    }
    Set('A', {131, 132, 133, 134, 142, 143, 145, 146, 160, 166, 181, 182, 183, 198, 199});
    Set('C', {128, 135});
    Set('D', {208, 209});
    Set('E', {130, 136, 137, 138, 144, 210, 211, 212, 213});
    Set('I', {139, 140, 141, 161, 214, 215, 216, 222});
    Set('N', {164, 165});
    Set('O', {147, 148, 149, 153, 155, 157, 162, 167, 224, 226, 227, 228, 229});
    Set('S', {225});
    Set('T', {231, 232});
    Set('U', {129, 150, 151, 154, 163, 233, 234, 235});
    Set('Y', {152, 236, 237});
  }
  void Set(char to, std::initializer_list<int> from) {
    for (int code : from) map[static_cast<size_t>(code)] = static_cast<unsigned char>(to);
  }
};

const StrictTable kStrict;

}  // namespace

std::string FoldText(const std::string& text) {
  std::string folded(text);
  const bool strict = FoldStrict == -1;
  for (char& c : folded) {
    c = strict ? static_cast<char>(kStrict.map[static_cast<unsigned char>(c)]) : PlainUpper(c);
  }
  return folded;
}
