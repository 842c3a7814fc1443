// A SEPA direct-debit remittance of the register's invoices: the creditor's
// settings, which invoices go in (and why the others stay out), and the
// pain.008.001.02 message, written as it is made so that its size does not
// bound what is collected.
//
// Settings (Tarn.ini):
//   [SEPA] IdentificadorCreditor  the creditor identifier (AT-02); when it
//          is missing, the one of [Emissor] NIF with country ES and the
//          business code [SEPA] CodiNegoci ("000" without it)
//   [SEPA] Compte                 the IBAN that receives the money; [Emissor]
//          IBAN without it
//   [SEPA] BIC                    the creditor bank's BIC (optional)
//   [Emissor] Nom                 the creditor's name
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "collection/ledger.h"
#include "collection/mandates.h"
#include "collection/sepa.h"
#include "register/record.h"

struct Creditor {
  std::string name;        // EPC text, at most 70
  std::string identifier;  // compact
  std::string iban;        // compact
  std::string bic;         // empty for none
};

// What is wrong with the creditor's settings: the setting ("[SEPA]
// IdentificadorCreditor") and the value found.
struct CreditorProblem {
  enum class Kind { None, Missing, Invalid } kind = Kind::None;
  std::string setting;
  std::string value;  // code page 850, as written
};

// The creditor from the settings file iniPath (a suite path, as IniRead
// takes it).
[[nodiscard]] CreditorProblem LoadCreditor(const std::string& iniPath, Creditor& out);

// Why an invoice of the selection stays out of a remittance.
enum class LeftOutReason {
  Cancelled,         // cancelled: never collected
  NoMandate,         // its owner has no mandate
  BadIban,           // the mandate's account does not check
  BadMandate,        // the mandate's reference, scheme or date of signature is wrong (detail: which)
  SignedAfter,       // the mandate was signed after the collection date
  AlreadyRemitted,   // remitted or collected already (--again to include it)
  NothingPayable,    // its amount payable, corrections netted, is not above zero
  CorrectiveApart,   // a corrective of an invoice already remitted: settled apart, not by this remittance
};

struct Debit {
  const RegisterEntry* entry = nullptr;  // the invoice (into the caller's chain)
  const Mandate* mandate = nullptr;      // into the caller's mandates
  int64_t amount = 0;                    // cents, corrections netted
  bool first = false;                    // FRST, else RCUR
  std::string endToEndId;
  std::string debtorName;                // EPC text, at most 70
  std::string information;               // EPC text, at most 140
};

struct LeftOut {
  const RegisterEntry* entry = nullptr;
  LeftOutReason reason = LeftOutReason::NoMandate;
  MandateFault fault = MandateFault::None;  // BadMandate's
};

struct RemittancePlan {
  std::vector<Debit> debits;     // in the order of the selection
  std::vector<LeftOut> leftOut;
};

// The end-to-end id of an invoice: its printed number in the EPC set.
[[nodiscard]] std::string EndToEndId(const std::string& series, int32_t number);

// What the plan is made from. chain: the whole register in chain order;
// selected: the invoices asked for (a subset of chain, its order);
// periodOf: the period an invoice bills, code page 850 ("octubre - desembre
// 2026"), empty when not known; periodWord: "Periode" in the user's
// language.
struct PlanInput {
  const std::vector<RegisterEntry>* chain = nullptr;
  const std::vector<const RegisterEntry*>* selected = nullptr;
  const std::map<std::string, Mandate>* mandates = nullptr;
  const std::map<InvoiceKey, CollectionLine>* collected = nullptr;  // LastCollectionStates
  bool again = false;
  std::string collectionDate;  // YYYYMMDD
  std::function<std::string(const RegisterEntry&)> periodOf;
  std::string periodWord = "Periode";
};

// The plan of a remittance. False when a debtor's name holds a character
// the EPC set has no place for: badNameOut is that name (code page 850) and
// the plan is empty.
[[nodiscard]] bool PlanRemittance(const PlanInput& input, RemittancePlan& planOut, std::string& badNameOut);

struct RemittanceHeader {
  std::string messageId;       // at most 35
  std::string createdAt;       // YYYY-MM-DDTHH:MM:SS
  std::string collectionDate;  // YYYYMMDD
  Creditor creditor;
};

// The pain.008.001.02 message of plan, handed to write piece by piece: one
// payment block per scheme and sequence type (FRST before RCUR), each with
// its count and control sum, and the group header's. False as soon as
// write returns false.
[[nodiscard]] bool WritePain008(const RemittancePlan& plan, const RemittanceHeader& header,
                                const std::function<bool(std::string_view)>& write);

// Cents as the message writes an amount: "1234.05".
[[nodiscard]] std::string SepaAmount(int64_t cents);
