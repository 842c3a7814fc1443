// Translation of the module's Catalan texts through the language file.
#include "session/language.h"

#include <cstdio>

#include "session/items.h"
#include "session/session.h"
#include "base/files.h"
#include "base/paths.h"

std::string Translate(const std::string& text) {
  if (Session.Language == "CAT") return text;

  const std::string path = HostPath(Session.RootDir + "LOCALE\\" + ModuleName + ".LNG");
  std::string content;
  if (ReadRegularFile(path, content, MostItemFileBytes) != ReadResult::Ok) {
    // A missing file is created empty, so that the translator finds where
    // to write; texts stay in Catalan meanwhile.
    if (std::FILE* created = std::fopen(path.c_str(), "ab")) std::fclose(created);
    return text;
  }

  // Items 2, 3, 4 of a record: Galician, Occitan, Spanish.
  int column = 0;
  if (Session.Language == "GLG") column = 1;
  if (Session.Language == "OCI") column = 2;
  if (Session.Language == "SPA") column = 3;

  ItemReader reader(std::move(content));
  std::string key;
  std::string items[3];
  while (reader.Next(key)) {
    if (!reader.Next(items[0]) || !reader.Next(items[1]) || !reader.Next(items[2])) break;
    if (key == text) return column == 0 ? text : items[column - 1];
  }
  return text;
}
