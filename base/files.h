// Reading whole files. Only regular files are read: a directory, pipe or
// device put where a file is expected is refused without blocking on it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

enum class ReadResult {
  Ok,
  Missing,      // no such file, or a folder on the way is missing
  NotRegular,   // a directory, pipe, device or socket
  TooLarge,     // larger than the caller's limit
  Unreadable,   // permission denied or a read error
};

// Opens the regular file at hostPath for reading and puts its descriptor
// (close-on-exec, to be closed by the caller) into fdOut; fdOut is -1 on
// any other result. Opened without blocking, so a pipe or device in its
// place is refused at once; the type is checked on the open descriptor.
// Reading the descriptor then blocks as usual. TooLarge is never returned.
// followFinalLink false: a symbolic link at hostPath itself is refused
// (NotRegular) instead of followed.
[[nodiscard]] ReadResult OpenRegularFile(const std::string& hostPath, int& fdOut, bool followFinalLink = true);

// Reads the whole regular file at hostPath into content (emptied first).
// The file is opened without blocking, checked with fstat on the open
// descriptor (so nothing can be swapped in between), and refused when it is
// larger than maxBytes.
[[nodiscard]] ReadResult ReadRegularFile(const std::string& hostPath, std::string& content,
                                         size_t maxBytes = 64u << 20, bool followFinalLink = true);

// Opens the file at hostPath for reading and writing, creating it (mode
// 0666 less the umask) when missing, and puts its descriptor (close-on-exec)
// into fdOut; emptied first when truncate. For a program's own files in a
// folder others may write to (the session's temporary folder): a final
// symbolic link is not followed, the open never blocks, and only a regular
// file is taken, checked with fstat on the open descriptor before anything
// is cut. NotRegular: a link, folder, pipe, device or socket is there (and
// is left as it was); Missing: a folder on the way is missing; Unreadable:
// any other failure. TooLarge is never returned.
[[nodiscard]] ReadResult OpenOwnFileForWriting(const std::string& hostPath, bool truncate, int& fdOut);

// True when hostPath names a regular file (following symbolic links).
[[nodiscard]] bool IsRegularFile(const std::string& hostPath);

// Takes the lock of the lock file at hostPath (made with mode when
// missing; a link or anything but a regular file is refused) with flock,
// without waiting: 0 with fdOut open, held until it is closed; EWOULDBLOCK
// while another process holds it; EINVAL for something other than a
// regular file; or the errno of the open.
[[nodiscard]] int TakeFileLock(const std::string& hostPath, mode_t mode, int& fdOut);
