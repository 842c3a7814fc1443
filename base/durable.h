// Files that are either whole or not there. The bytes go to a temporary
// file beside the target (same folder, so that putting it in place stays
// on one file system); only when every write, the flush to disk and the
// close have succeeded is the file given the target's name, and then the
// folder is flushed too. Until then, and after any failure, the earlier
// file of that name is untouched and the temporary file is removed.
//
// Temporary files are named ".<target's file name>-<pid>-<n>.tmp" and made
// with O_EXCL | O_NOFOLLOW | O_CLOEXEC. A SIGKILL may leave one behind,
// never a damaged target. Failures are reported as errno values.
//
// What is already at the target decides, when a file to replace it
// (Placement::Replace) is opened:
//   nothing             a new file, with the caller's mode less the umask
//   a regular file      replaced; the new file keeps its permissions, and
//                       its owner and group as far as the system lets this
//                       process give them (root, or a group it belongs to)
//   a symbolic link     written through: the regular file it finally names
//                       is replaced as above, the link stays; a link that
//                       names nothing or no regular file is refused (EINVAL)
//   a folder            refused (EISDIR)
//   a pipe, device or socket   refused (EINVAL): never opened, never replaced
// The target "-" is standard output: the bytes are written there when the
// file is placed, and nothing is made on disk.
//
// Also here: the one loop that writes a whole buffer to a descriptor.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Writes all size bytes at data to fd, resuming after a signal (EINTR) and
// after a short write. 0 when everything was written, else the errno of the
// failing write (ENOSPC for a write that took nothing); how much was written
// before a failure is not told.
[[nodiscard]] int WriteAll(int fd, const void* data, size_t size);
[[nodiscard]] inline int WriteAll(int fd, std::string_view bytes) { return WriteAll(fd, bytes.data(), bytes.size()); }

// How a finished file takes its name.
enum class Placement {
  Replace,         // over an existing file of the target's name
  NeverOverwrite,  // only when the name is free; EEXIST otherwise
  NextFree,        // under the first free name of NumberedName(target, 1, 2, ... 9999)
};

// The n-th name tried for target under Placement::NextFree: n = 1 is the
// target itself, n >= 2 puts "-n" before the last extension of the file
// name ("factures.pdf" -> "factures-2.pdf"; "factures" -> "factures-2").
[[nodiscard]] std::string NumberedName(const std::string& target, int n);

class DurableFile {
 public:
  // targetPath: the host path the file is to have. mode: its permissions,
  // less the process's umask, as an ordinary created file gets them.
  explicit DurableFile(std::string targetPath, mode_t mode = 0666);
  // Discards the temporary file unless the file was put in place.
  ~DurableFile();
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  // Creates the temporary file, for the placement the file is to have.
  // For Placement::Replace an existing target is looked at first, as the
  // table above says (the other placements never touch an existing name).
  // False when the target is refused or the file cannot be created.
  [[nodiscard]] bool Open(Placement placement = Placement::Replace);

  // Adds bytes (buffered). False once anything has failed (disk full, file
  // size limit, I/O error); later calls do nothing and stay false.
  [[nodiscard]] bool Write(const void* data, size_t size);
  [[nodiscard]] bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }

  // Writes what is buffered, flushes the file to disk and closes it. False
  // on any failure, after which the temporary file is gone.
  [[nodiscard]] bool Finish();

  // Gives the finished file its name by placement, then flushes the folder
  // (a failure of that flush is not reported: the file is in place and
  // whole). False on failure, after which the temporary file is gone and
  // the target is as it was.
  [[nodiscard]] bool Place(Placement placement);

  // Finish, then Place.
  [[nodiscard]] bool Commit(Placement placement) { return Finish() && Place(placement); }

  // Removes the temporary file, if any; the target is left as it was.
  void Discard();

  // Before a successful Place: the target. After: the host path the file
  // now has (under NextFree, the name taken).
  [[nodiscard]] const std::string& path() const { return target_; }

  // After a successful Open: the host path Placement::Replace gives the
  // file (the target, or the regular file a symbolic link target names);
  // "-" for standard output.
  [[nodiscard]] const std::string& destination() const { return destination_; }

  // True after a successful Open when destination() is a file there already.
  [[nodiscard]] bool replacesFile() const { return replaces_; }

  // The errno of the first failure, 0 when none.
  [[nodiscard]] int error() const { return error_; }

 private:
  [[nodiscard]] bool Flush();
  [[nodiscard]] bool Fail(int error);
  [[nodiscard]] int PlaceUnder(const std::string& name, bool replace);
  [[nodiscard]] int CheckTarget(struct stat& existing);

  std::string target_;
  std::string destination_;
  bool toStandardOutput_ = false;
  bool replaces_ = false;
  std::string temporary_;
  std::string buffer_;
  mode_t mode_;
  int fd_ = -1;
  int slot_ = -1;  // in the table the signal handlers clean up
  int error_ = 0;
};

// Writes each (host path, bytes) pair as one step, all or nothing: every
// file first to its temporary file, flushed to disk, then all put in place
// (Replace). When a target is refused or a temporary file cannot be made or
// written, every temporary file is removed, no target is touched,
// failedPathOut names the file that failed and the result is false. A
// placing that fails part-way puts back the files placed before it (the
// earlier file of each name, or none), then fails the same way. failedError
// (when not null) gets the errno of the failure.
[[nodiscard]] bool WriteWholeFiles(const std::vector<std::pair<std::string, std::string>>& files,
                                   std::string& failedPathOut, int* failedError = nullptr);

// Writes one file whole: 0, or the errno of the failure.
[[nodiscard]] int WriteWholeFile(const std::string& path, std::string_view bytes,
                                 Placement placement = Placement::Replace, mode_t mode = 0666);

// Copies the regular file at from to a new file at to (an existing file is
// never overwritten: EEXIST), with permissions mode less the umask. 0, or
// the errno of the failure (ENOENT: from is missing; EINVAL: it is not a
// regular file), and then nothing is left at to.
[[nodiscard]] int CopyFileExclusively(const std::string& from, const std::string& to, mode_t mode = 0666);

// Puts in place a file that another writer (a database library) has made
// whole at temporary, beside target: flushes it to disk, gives it target's
// name by placement (Replace or NeverOverwrite) and flushes the folder. 0,
// or the errno of the failure, after which temporary is removed and target
// is as it was.
[[nodiscard]] int PlaceMadeFile(const std::string& temporary, const std::string& target, Placement placement);

// Removes from the folder of target (a host path) the temporary files that
// durable files of target's name left there when their process was killed:
// ".<target's file name>-<pid>-<n>.tmp" (and the "-k<n>" copies kept while
// several files are placed) whose pid is no running process. Files of a
// process still running, and every other file, are left alone. How many
// were removed.
size_t RemoveLeftTemporaries(const std::string& target);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the
// temporary files of the durable files open at that moment and then end
// the program by the same signal. Call once at start-up.
void RemoveTemporaryFilesOnSignals();
