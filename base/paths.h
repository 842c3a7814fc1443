// Paths. The suite builds its paths with "\" as separator
// (RootDir + "FORMS\KORVADEL.ZPN"); HostPath turns such a text into the
// path the operating system takes at the moment a file is opened, created,
// deleted or executed. Nothing else converts paths.
#pragma once

#include <string>
#include <string_view>

// "\" becomes "/"; everything else is kept.
[[nodiscard]] std::string HostPath(std::string_view suitePath);

// The one form in which a path is handed to another program (argument,
// environment) or shown in a message: the host form with every run of
// separators reduced to one ("/srv/zep//tmp\\x" gives "/srv/zep/tmp/x").
// Bytes are kept as they are: no code-page conversion.
[[nodiscard]] std::string TidyHostPath(std::string_view path);

// A directory in that form, ending in "/": empty stays empty, a directory
// ending in ":" is kept as it is (names are appended to it directly), and
// "/srv/zep/tmp/\" (a host directory the suite ended with its own
// separator) gives "/srv/zep/tmp/".
[[nodiscard]] std::string HostDirectory(std::string_view dir);

// A directory as the suite keeps it: empty, or ending in "\" or ":"; a
// directory that already ends in "/" or "\" gets nothing appended.
[[nodiscard]] std::string SuiteDirectory(std::string_view dir);

// The path with ".dat" when its last component has no extension (a data
// file named as the suite names it).
[[nodiscard]] std::string WithDataExtension(const std::string& hostPath);
