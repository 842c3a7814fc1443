// ddfgen DIRECTORY: writes the dictionary files of the four data files
// (PropietV.xdf, FinquesV.xdf, DepartaV.xdf, CobramV.xdf), of the owners'
// e-mail addresses (CorreuV.xdf), of their direct-debit mandates
// (MandatV.xdf) and of the invoice
// register (RegFact2.xdf, and RegFactV.xdf of its first layout) into DIRECTORY. Exit 0 when all were written; a
// message and exit 1 otherwise.
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "records/dictionaries.h"
#include "register/register.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ddfgen DIRECTORY\n");
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : DictionaryBaseNames()) files.emplace_back(name, DictionaryFileBytes(name));
  files.emplace_back(MailAddressDictionaryBaseName, DictionaryFileBytes(MailAddressDictionaryBaseName));
  files.emplace_back(MandateDictionaryBaseName, DictionaryFileBytes(MandateDictionaryBaseName));
  files.emplace_back(RegisterDictionaryBaseName, RegisterDictionaryBytes());
  files.emplace_back(EarlierRegisterDictionaryBaseName, EarlierRegisterDictionaryBytes());
  for (const auto& [name, bytes] : files) {
    std::string path = std::string(argv[1]) + "/" + name + ".xdf";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "ddfgen: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
