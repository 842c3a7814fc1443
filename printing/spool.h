// The print spool writer: everything the module prints goes, as one-line
// commands, into the spool file tempDir + "zepprint.tmp", which the suite's
// print program reads once the file is closed and the program is started
// with RunPrintProgram.
//
// Spool file format (code page 850, every line ended by CR LF):
//   "DEVICE" + device text         first line, written by OpenPrintFile
//   "PAGE" + number                start of a page of that many lines
//   "*" + text                     a directive for the print program
//   "JUS" + mode                   justification of the next text item
//   number "," text "," number     a text item: column, text, line advances
// A number is written as a blank (or "-" when negative), its decimal
// digits and one trailing blank: 9 gives " 9 ", -9 gives "-9 ".
//
// One spool file at a time per process. The writer never throws. A spool
// file that cannot be created or written is never silent: the first failure
// is kept (PrintFileStatus, PrintFileFailed) until the next OpenPrintFile,
// every later write of that file is dropped, and ClosePrintFile reports it
// too, so the caller can stop the pass, show PrintFileFailureMessage and
// not start the print program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/child.h"
#include "base/language.h"

// What the writer takes from the session, handed down once at start-up by
// the main flow (tests set it directly). Directories as the session keeps
// them: empty, or ending in a separator ("\", "/" or ":").
struct SpoolSettings {
  std::string tempDir;  // where the spool file is written; the print program's ZEPTMP
  std::string exeDir;   // where the print program ZEPPRINT is
  Language language = Language::Catalan;  // of the failure messages
};

// Replaces the settings in force; until the first call both directories are
// empty (the working directory) and messages are Catalan.
void SetSpoolSettings(const SpoolSettings& settings);

// Status numbers of the writer.
inline constexpr int16_t PrintFileOk = 0;
inline constexpr int16_t PrintFileNotCreated = 1;  // the file could not be created
inline constexpr int16_t PrintFileWriteError = 2;  // a write or the close failed
inline constexpr int16_t PrintFileNotOpen = 3;     // a write without an open file
inline constexpr int16_t PrintFileNotRegular = 4;  // a link, folder, pipe or device stands at its name

// Creates tempDir + "zepprint.tmp" anew (previous content is
// discarded; only a regular file is taken: a symbolic link, folder, pipe or
// device at the name is left alone and gives PrintFileNotRegular, without
// waiting on it) and writes "DEVICE" + device. Resets PageLength, PrintLine and
// PrintColumn to 0 and forgets the failure of an earlier file. Returns the
// status of the file after these steps. Closes a file still open first.
int16_t OpenPrintFile(const std::string& device);

// Writes "PAGE" + lines; PageLength := lines, PrintLine := 0,
// PrintColumn := 0. Returns PrintFileStatus().
int16_t StartPage(int16_t lines);

// Writes "*" + text (a directive for the print program; "@e" starts an
// invoice). Control characters in text are written as blanks.
int16_t PrintCommand(const std::string& text);

// Normalises mode in place and writes "JUS" + the normalised mode. The mode
// is trimmed of blanks, its first character upper-cased, and then:
//   "C" -> "C";  "D" or "R" -> "D";  "A" or "B" -> "A";
//   "N..." -> "N" + number + " " + "\...\" where number is the absolute
//     value of the number after the letter, fraction dropped, written with
//     a leading blank (" 5"), and "\...\" is the part of the trimmed mode
//     from its first "\" up to and including the next one (to the end when
//     there is no second one; empty when there is none at all);
//   anything else, or empty -> "E".
int16_t SetJustification(std::string& mode);

// Writes one text item: column (0 = continue after the previous item), the
// text with every character 0-31, 127 and 255 replaced by a blank (the
// caller's text is not changed), and the number of line advances after it
// (0 = stay on the line). When PageLength > 0 and PrintLine >= PageLength a
// page break, StartPage(PageLength), is written first. Afterwards: advance
// != 0 adds advance to PrintLine and sets PrintColumn to 0; advance == 0 sets
// PrintColumn to column when column != 0 and then adds the text's length.
// Bookkeeping saturates at the 16-bit limits and is kept up even when the
// file has failed, so a caller's layout stays consistent.
int16_t PrintAt(int16_t column, const std::string& text, int16_t advance);

// Closes the spool file. Returns PrintFileStatus() including a failure of
// the final flush or close; PrintFileNotOpen when no file was open.
int16_t ClosePrintFile();

// Page bookkeeping as kept by StartPage and PrintAt.
int16_t PageLength();
int16_t PrintLine();
int16_t PrintColumn();

// The first failure of the current (or last) spool file, PrintFileOk if none.
int16_t PrintFileStatus();
// True when the current (or last) spool file could not be created or written.
bool PrintFileFailed();
// The host path of the current (or last) spool file, as it was opened:
// HostDirectory(tempDir) + "zepprint.tmp".
std::string PrintFilePath();

// "Cannot write the print file " + path in the settings' language. path is
// the caller's display text of the path (code page 850); it is shown in the
// one form of paths in messages, TidyHostPath (no "\", no doubled "/").
std::string PrintFileFailureMessage(const std::string& path);
// The reason the current (or last) spool file was refused, to follow its
// path in a message: ": not a regular file" for PrintFileNotRegular, else
// empty. PrintFileFailureMessage includes it.
std::string PrintFileFailureReason();
// "Cannot start the print program " + path, likewise.
std::string PrintProgramFailureMessage(const std::string& path);

// Hands the closed spool file to the print program: runs PrintProgramPath()
// without arguments (base/child.h RunChild) and waits for it. The child gets
// the module's environment with ZEPTMP set to HostDirectory(tempDir) (when
// tempDir is not empty): the host directory the spool file was written to,
// ending in "/", so that "${ZEPTMP}zepprint.tmp" names the spool file.
// beforeStart runs just before the child starts (the caller hands the
// terminal back there), afterEnd after it has ended or failed to start (the
// caller takes the terminal again); either may be empty. paperHostPath,
// when not empty, is passed as ZEPPAPER (the stationery the print program
// draws under the pages), replacing an inherited one.
// Returns how the program ended:
//   !started                 it did not start; startError is the errno
//                            (show PrintProgramFailureMessage(PrintProgramPath()))
//   started && exited        it exited with status exitCode (0: success)
//   started && !exited       it was killed by signal `signal`
[[nodiscard]] ChildEnd RunPrintProgram(const std::function<void()>& beforeStart = {},
                                       const std::function<void()>& afterEnd = {},
                                       const std::string& paperHostPath = {});

// What the caller of RunPrintProgramWatched sees of the running print
// program, and how it asks it to stop. Either may be empty.
struct PrintWatch {
  // Called with the count of pages done, each time the program reports it.
  std::function<void(long pages)> pagesDone;
  // Asked about every 50 ms while the program runs; true stops it.
  std::function<bool()> stopWanted;
};

// Hands the closed spool file to the print program as RunPrintProgram does,
// but the caller keeps the terminal and may stop the program: its output
// (standard output and error) goes to tempDir + "zepprint.msg" (the last
// line is PrintProgramNote()), it reports the pages it has done over a pipe
// (ZEPPROGRESS names the pipe's descriptor in the program), and once
// watch.stopWanted() says so it gets SIGTERM (and SIGKILL when it has not
// ended 3 s later); the returned end then has stopped set. A stopped
// program leaves the earlier output as it was: it writes its output whole
// or not at all and removes its temporary file on SIGTERM.
[[nodiscard]] ChildEnd RunPrintProgramWatched(const PrintWatch& watch, const std::string& paperHostPath = {});

// The last line the print program of the last watched run wrote, in code
// page 850 (UTF-8 converted, control characters as blanks, at most 200
// characters); empty when it wrote none.
[[nodiscard]] std::string PrintProgramNote();

// The host path RunPrintProgram starts: TidyHostPath(exeDir + "ZEPPRINT").
std::string PrintProgramPath();

// The print program's environment: this process's, with ZEPTMP set to
// tempHostDir, ZEPPAPER to paperHostPath and ZEPROOT to rootHostDir, each
// only when not empty; a value given replaces the inherited one, an empty
// one leaves the inherited one as it is. The module and zepfact's reprint
// both start the print program with this.
[[nodiscard]] std::vector<std::string> PrintProgramEnvironment(const std::string& tempHostDir,
                                                               const std::string& paperHostPath,
                                                               const std::string& rootHostDir = {});

// The stationery the print program draws under the fee invoice's pages
// (ZEPPAPER): the host path of rootDir + "IMPRES\\FACTHON_" + languageCode +
// ".svg", else of rootDir + "IMPRES\\FACTHON.svg", whichever is a regular file
// first; empty when neither is. rootDir is in the suite's form.
[[nodiscard]] std::string InvoiceStationeryHostPath(const std::string& rootDir, const std::string& languageCode);
