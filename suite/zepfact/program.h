// What zepfact's commands share: the command line as read (commands.h reads
// it by the table of commands), and Program, which runs one command against
// the root's register. Each command group defines its members in a file of
// its own (reads.cpp, reprint.cpp, amend.cpp, commands.cpp); program.cpp
// holds what several use: reading the register, finding an invoice, the
// producer's file, and printing a page through the print program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/language.h"
#include "issuing/actions.h"
#include "issuing/problem.h"
#include "register/amend.h"
#include "register/record.h"
#include "register/register.h"
#include "register/software.h"
#include "signing/keeping.h"
#include "suite/zepfact/exports.h"
#include "suite/zepfact/mail_command.h"
#include "suite/zepfact/messages.h"
#include "suite/zepfact/remittance.h"
#include "suite/zepfact/send.h"

inline constexpr int kExitTrouble = 1;
inline constexpr int kExitUsage = 2;

struct Options {
  std::string command;
  std::string root;  // suite path, as given
  bool haveRoot = false;
  Selection selection;
  std::string requirement;  // export-xml's request reference; empty for none
  std::string file;  // host path
  std::string number;  // reprint's, cancel's, correct's invoice number as typed: as printed ("A/00000007"), or the number alone
  std::string output;  // reprint's and correct's --output, host path as given; empty for none
  std::string language;  // --lang: CAT, SPA, GLG or OCI; empty for the session's
  Correction correction;  // correct's --type, --cause, --by, --fee, --expenses
  bool haveType = false, haveCause = false, haveForm = false, haveFee = false, haveAmounts = false;
  std::string run;     // reprint's --run: an archived run's spool file, as named in ARXIU
  bool help = false;   // --help: the usage on stdout, nothing else
  MailCommandOptions mail;  // mail's options
  SendCommandOptions send;  // send's options
  RemittanceOptions remittance;  // remittance's options
  // The first usage error, if any (the rest of the line is still read for
  // the root, which decides the language of the message).
  bool bad = false;
  FactMessage error = FactMessage::Usage;
  std::string errorText;  // code page 850
};

// The environment variable's value; empty when unset.
[[nodiscard]] std::string Environment(const char* name);

// The folder of the suite's programs (ending in "/"): ZEPEXE, else the one
// this program runs from.
[[nodiscard]] std::string ProgramFolder();

// Code page 850 text out as UTF-8, one line.
void Say(std::FILE* stream, const std::string& cp850);

// A host path made absolute against the current folder, without "." and
// ".." steps or a final "/".
[[nodiscard]] std::string AbsoluteHostPath(const std::string& path);

// An output the print program takes as a file: a name ending in ".pdf" or
// ".txt", without "\" (the print program reads it as a suite path) or a
// control character (it travels in the spool file's first line).
[[nodiscard]] bool IsOutputFileName(const std::string& path);

class Program {
 public:
  Program(const Options& options, std::string root, Language language)
      : options_(options), root_(std::move(root)), language_(language) {}

  // Runs options.command by the table of commands: its exit code.
  int Run();

  // The commands (their documentation is beside each).
  int List();          // reads.cpp
  int ExportCsv();
  int ExportTotals();
  int ExportXml();
  int Verify();
  int Reprint();       // reprint.cpp
  int Cancel();        // amend.cpp
  int Correct();
  int Events();        // commands.cpp: the work is in keeping.h,
  int Declaration();   // declaration.h,
  int Mail();          // mail_command.h
  int Send();          // and send.h
  int Resend();
  int Renounce();
  int Remittance();    // remittance.cpp

 private:
  // program.cpp
  void Error(FactMessage message, const std::string& cp850 = "", int64_t number = 0) const;
  // Opens the register and reads it in chain order, or in date-and-number
  // order with byDate; false after saying why not.
  bool Read(std::vector<RegisterEntry>& entriesOut, bool byDate, bool writable = false);
  // The software's identity from <root>Productor.ini and, when asked, the
  // installation's number; false after saying why they cannot be had.
  bool Software(SoftwareIdentity& identityOut, std::string* installationOut = nullptr) const;
  // The print program: ZEPPRINT in ZEPEXE, else beside zepfact itself.
  static std::string PrintProgram();
  // The invoice options_.number names in chain (a cancellation record
  // names none); nullptr after saying why there is none.
  const RegisterEntry* FindInvoice(const std::vector<RegisterEntry>& chain) const;
  // Says a problem of the register's actions.
  void Told(const IssuingProblem& problem) const;
  // Hands a spool (its DEVICE line replaced by device), its codes and its
  // figures to the print program in a folder of its own, removed
  // afterwards: the print program's exit code.
  int Print(const PrintablePage& page, const std::string& device);
  // Where a reprint goes (a host path or "LP:name"): --output, else the
  // session's output device when it names a file or a printer, else
  // <SERIES>-<NUMBER>.pdf in the current folder (a whole run: the archive's
  // name, .pdf for .zsp). A session's "PDF" is not taken: it means the
  // session's own temporary folder.
  std::string Device(const RegisterEntry& entry, const std::string& runName = {}) const;

  // reads.cpp
  std::string StateText(const InvoiceState& state) const;
  int Write(const std::vector<std::pair<std::string, std::string>>& files, const std::vector<size_t>& counts,
            FactMessage message = FactMessage::Written);

  // reprint.cpp
  int ReprintRun(const std::vector<RegisterEntry>& chain);

  // amend.cpp
  bool Amendable(std::vector<RegisterEntry>& chainOut, RegisterEntry& targetOut);

  const Options& options_;
  const std::string root_;  // suite path, empty or ending in a separator
  const Language language_;
  InvoiceRegister register_;
};
