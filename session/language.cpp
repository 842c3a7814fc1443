// Translation of the module's Catalan texts through the language file.
#include "session/language.h"

#include <fcntl.h>
#include <unistd.h>

#include "session/items.h"
#include "session/session.h"
#include "base/files.h"
#include "base/paths.h"

std::string Translate(const std::string& text) {
  if (Session.Language == "CAT") return text;

  const std::string path = HostPath(Session.RootDir + "LOCALE\\" + ModuleName + ".LNG");
  std::string content;
  const ReadResult read = ReadRegularFile(path, content, MostItemFileBytes);
  if (read == ReadResult::Missing) {
    // A missing file is created empty, so that the translator finds where
    // to write; texts stay in Catalan meanwhile. O_EXCL: whatever has taken
    // the name since (a pipe, say) is never opened.
    const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
    if (created >= 0) ::close(created);
    return text;
  }
  // Anything but a readable regular file within the size limit is left as
  // it is, and the texts stay in Catalan.
  if (read != ReadResult::Ok) return text;

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
