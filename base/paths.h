// Paths. The suite builds its paths with "\" as separator
// (RootDir + "FORMS\KORVADEL.ZPN"); HostPath turns such a text into the
// path the operating system takes at the moment a file is opened, created,
// deleted or executed. Nothing else converts paths.
#pragma once

#include <string>
#include <string_view>

// "\" becomes "/"; everything else is kept.
[[nodiscard]] std::string HostPath(std::string_view suitePath);

// A directory as the suite keeps it: empty, or ending in "\" or ":"; a
// directory that already ends in "/" or "\" gets nothing appended.
[[nodiscard]] std::string SuiteDirectory(std::string_view dir);
