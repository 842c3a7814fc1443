// An output file that is either complete or not there: the bytes go to a
// temporary file in the target's folder, and only when every write, the
// flush to disk and the close have succeeded is the file put in place under
// its name. Until then, and after any failure, the earlier file of that name
// is untouched; the temporary file is removed on failure, on destruction
// without Commit, and (after RemoveTemporaryFilesOnSignals) when the program
// is ended by SIGINT, SIGTERM or SIGHUP. A SIGKILL may leave a temporary file
// ".zepprint-<pid>-<n>.tmp" behind, never a damaged target.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How Commit puts the file in place.
enum class CommitMode {
  Replace,    // over an existing file of the target's name
  NextFree,   // under the first free name of "name.ext", "name-2.ext", "name-3.ext", ...
};

class OutputFile {
 public:
  // targetPath: the host path the file is to have.
  explicit OutputFile(std::string targetPath);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file (O_EXCL | O_NOFOLLOW, mode 0666 less the
  // umask) in the target's folder. False when it cannot be created.
  [[nodiscard]] bool Open();

  // Adds bytes (buffered). False once any write has failed (disk full, file
  // size limit, I/O error); later calls do nothing and stay false.
  [[nodiscard]] bool Write(const void* data, size_t size);

  // Writes what is buffered, flushes to disk, closes and puts the file in
  // place by mode; writtenPathOut gets the host path it now has. False on
  // any failure, after which the temporary file is gone.
  [[nodiscard]] bool Commit(CommitMode mode, std::string& writtenPathOut);

  // Removes the temporary file, if any; the target is left as it was.
  void Discard();

  // The errno of the first failure, 0 when none.
  [[nodiscard]] int error() const { return error_; }

 private:
  [[nodiscard]] bool Flush();
  [[nodiscard]] bool Fail(int error);
  [[nodiscard]] bool PlaceUnderFreeName(std::string& writtenPathOut);

  std::string target_;
  std::string temporary_;
  std::vector<char> buffer_;
  int fd_ = -1;
  int error_ = 0;
};

// The n-th name tried for target under CommitMode::NextFree: n = 1 is the
// target itself, n >= 2 puts "-n" before the last extension of the file
// name ("factures.pdf" -> "factures-2.pdf"; "factures" -> "factures-2").
[[nodiscard]] std::string NumberedName(const std::string& target, int n);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the
// temporary file of the OutputFile open at that moment and then end the
// program by the same signal. Call once at start-up.
void RemoveTemporaryFilesOnSignals();
