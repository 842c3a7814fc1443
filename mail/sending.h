// Sending registered invoices by e-mail: each owner one message with the
// PDFs of their invoices (ARXIU\<series>-<number>.pdf), to each of the
// owner's addresses in DADES\CorreuV, every step noted in the send log
// (mail/log.h). An invoice goes to an address at most once: one sent, one
// refused for good (5xx) and one whose sending may have gone out unnoted are
// left alone unless asked again; one that failed for a while (4xx, no
// connection, login refused) goes at the next sending.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "mail/address.h"
#include "mail/log.h"
#include "mail/messages.h"
#include "register/record.h"

struct MailRun {
  std::string rootDir;  // the suite's root, empty or ending in a separator
  Language language = Language::Catalan;
  std::string issuerName;    // code page 850: From's name and the closing
  char decimal = ',';        // amounts as the session writes them
  char thousands = '.';
  bool dryRun = false;       // decide and report, send and note nothing
  bool again = false;        // also to addresses already sent or refused
};

// What became of one invoice at one address (address empty: none).
struct MailOutcome {
  const RegisterEntry* entry = nullptr;
  std::string address;
  MailText state = MailText::StateUnsent;  // one of the State... texts
  std::string answer;                      // the server's, or a note
};

struct MailReport {
  std::vector<MailOutcome> outcomes;  // in the order of the entries given
  int sent = 0;       // invoices that went to at least one address now and failed at none
  int failed = 0;     // invoices that failed at some address now
  int noAddress = 0;  // invoices whose owner has no usable address
};

// Sends entries (the register's invoices, each at most once in the list;
// cancellation and correction records among them are passed over, and a
// cancelled invoice is the caller's to leave out: see MailableInvoices). Returns
// true when the sending could take place (each invoice's fate is in
// report); false when it could not start at all, with problemOut (code
// page 850, in the run's language) saying why: the settings, the password
// file, the address file or the log.
[[nodiscard]] bool SendInvoiceMail(const MailRun& run, const std::vector<RegisterEntry>& entries, MailReport& report,
                                   std::string& problemOut);

// The invoices of entries that may go by e-mail: neither a cancellation nor
// a correction record, nor an invoice chain (the whole register, in chain
// order) holds as cancelled.
[[nodiscard]] std::vector<RegisterEntry> MailableInvoices(const std::vector<RegisterEntry>& entries,
                                                          const std::vector<RegisterEntry>& chain);

// The entries of the register that the log holds as failed for a while at
// some address (for a sending without a selection: the retries).
[[nodiscard]] std::vector<RegisterEntry> EntriesToRetry(const std::vector<RegisterEntry>& chain,
                                                        const std::vector<MailLogLine>& log);

// The e-mail state of one invoice, for a listing or a screen.
struct InvoiceMailStatus {
  struct AtAddress {
    std::string address;  // as the owner's record or the log has it
    MailText state = MailText::StateUnsent;  // one of the State... texts
    std::string time;     // of the log's last line for it; empty when none
    std::string answer;   // the server's (code page 850); may be empty
  };
  std::vector<AtAddress> addresses;  // the owner's now, then any others the log names
  enum class Overall { Sent, Failed, Unsent, NoAddress };
  Overall overall = Overall::NoAddress;  // Sent: at every address; Failed: at some
};

// The state of entry from the log's last lines and the owners' addresses.
[[nodiscard]] InvoiceMailStatus MailStatusOf(const RegisterEntry& entry, const std::map<MailKey, MailLogLine>& last,
                                             const std::map<std::string, OwnerAddresses>& book);

// An amount of cents as the message writes it: "1.234,56 €" (code page 850).
[[nodiscard]] std::string MailAmount(int64_t cents, char decimal, char thousands);

// The host path of an invoice's own PDF under rootDir's ARXIU folder.
[[nodiscard]] std::string InvoicePdfHostPath(const std::string& rootDir, const RegisterEntry& entry);
