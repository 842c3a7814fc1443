// What the bank says of a remittance: a pain.002 payment status report
// (CstmrPmtStsRpt, any version) or a camt.054 debit/credit notification
// (BkToCstmrDbtCdtNtfctn), read for the fields that name a remitted debit
// and its fate; everything else in them is passed over.
//
//   pain.002  OrgnlGrpInfAndSts/OrgnlMsgId and GrpSts; each
//             OrgnlPmtInfAndSts (OrgnlPmtInfId, PmtInfSts) and its
//             TxInfAndSts (OrgnlEndToEndId, TxSts, StsRsnInf/Rsn/Cd). A
//             transaction RJCT is rejected with its reason; ACCP, ACSC, ACSP,
//             ACTC, ACWC collected. A group or payment block rejected
//             without transactions rejects every debit it holds.
//   camt.054  each Ntry/NtryDtls/TxDtls (Refs/EndToEndId, Refs/MsgId): with
//             RtrInf (its Rsn/Cd), or in an entry whose RvslInd is true, a
//             return; otherwise the debit was collected.
#pragma once

#include <string>
#include <vector>

#include "collection/ledger.h"

struct StatusItem {
  std::string messageId;    // the remittance's, empty when the file does not say
  std::string blockId;      // OrgnlPmtInfId of a whole block, empty otherwise
  std::string endToEndId;   // empty for a whole group or block
  CollectionState state = CollectionState::None;  // Collected, Rejected or Returned
  std::string reason;       // the bank's code; empty for none
};

enum class StatusFileKind { PaymentStatus, Notification };

struct StatusReading {
  enum class Fault { None, NotXml, Foreign, Empty } fault = Fault::None;
  std::string detail;  // NotXml: the parser's message; Foreign: the root element found
  StatusFileKind kind = StatusFileKind::PaymentStatus;
  std::vector<StatusItem> items;
};

[[nodiscard]] StatusReading ReadStatusFile(const std::string& bytes);
