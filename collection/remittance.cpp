#include "collection/remittance.h"

#include <algorithm>
#include <tuple>

#include "base/iban.h"
#include "base/ini.h"
#include "base/text.h"
#include "register/agency.h"
#include "register/amend.h"

namespace {

// The EPC's widths of the names and texts the message carries.
constexpr size_t kNameWidth = 70;
constexpr size_t kInformationWidth = 140;

std::string IsoDate(const std::string& yyyymmdd) {
  return yyyymmdd.substr(0, 4) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(6, 2);
}

// A payment block: the debits of one scheme and sequence type.
struct Block {
  Scheme scheme;
  bool first;
  std::vector<const Debit*> debits;
  int64_t sum = 0;
};

std::string Element(const char* name, const std::string& text) {
  return std::string("<") + name + ">" + XmlEscaped(text) + "</" + name + ">";
}

std::string Agent(const std::string& bic) {
  return bic.empty() ? "<FinInstnId><Othr><Id>NOTPROVIDED</Id></Othr></FinInstnId>"
                     : "<FinInstnId>" + Element("BIC", bic) + "</FinInstnId>";
}

}  // namespace

CreditorProblem LoadCreditor(const std::string& iniPath, Creditor& out) {
  out = Creditor();
  CreditorProblem problem;
  const auto fail = [&](CreditorProblem::Kind kind, const char* setting, const std::string& value) {
    problem.kind = kind;
    problem.setting = setting;
    problem.value = value;
    return problem;
  };
  const std::string name = IniReadTrimmed(iniPath, "Emissor", "Nom");
  if (name.empty()) return fail(CreditorProblem::Kind::Missing, "[Emissor] Nom", "");
  char bad = 0;
  out.name = EpcCut(EpcText(name, bad), kNameWidth);
  if (bad != 0 || out.name.empty()) return fail(CreditorProblem::Kind::Invalid, "[Emissor] Nom", name);

  std::string identifier = IniReadTrimmed(iniPath, "SEPA", "IdentificadorCreditor");
  if (identifier.empty()) {
    const std::string nif = IniReadTrimmed(iniPath, "Emissor", "NIF");
    if (nif.empty()) return fail(CreditorProblem::Kind::Missing, "[SEPA] IdentificadorCreditor", "");
    std::string code = IniReadTrimmed(iniPath, "SEPA", "CodiNegoci");
    if (code.empty()) code = "000";
    identifier = CreditorIdentifier("ES", code, nif.compare(0, 2, "ES") == 0 ? nif.substr(2) : nif);
    if (identifier.empty()) {
      const bool codeBad = CreditorIdentifier("ES", "000", nif.compare(0, 2, "ES") == 0 ? nif.substr(2) : nif) != "";
      return codeBad ? fail(CreditorProblem::Kind::Invalid, "[SEPA] CodiNegoci", code)
                     : fail(CreditorProblem::Kind::Invalid, "[Emissor] NIF", nif);
    }
  } else if (!IsCreditorIdentifier(identifier)) {
    return fail(CreditorProblem::Kind::Invalid, "[SEPA] IdentificadorCreditor", identifier);
  }
  out.identifier = CompactCreditorIdentifier(identifier);

  const char* accountSetting = "[SEPA] Compte";
  std::string account = IniReadTrimmed(iniPath, "SEPA", "Compte");
  if (account.empty()) {
    accountSetting = "[Emissor] IBAN";
    account = IniReadTrimmed(iniPath, "Emissor", "IBAN");
  }
  if (account.empty()) return fail(CreditorProblem::Kind::Missing, "[SEPA] Compte", "");
  out.iban = CompactIban(account);
  if (!IsValidIban(out.iban) || IbanLength(out.iban.substr(0, 2)) == 0)
    return fail(CreditorProblem::Kind::Invalid, accountSetting, account);

  const std::string bic = CompactCreditorIdentifier(IniReadTrimmed(iniPath, "SEPA", "BIC"));
  if (!bic.empty()) {
    bool good = bic.size() == 8 || bic.size() == 11;
    for (size_t i = 0; good && i < bic.size(); ++i) {
      const char c = bic[i];
      good = i < 6 ? (c >= 'A' && c <= 'Z') : ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    }
    if (!good) return fail(CreditorProblem::Kind::Invalid, "[SEPA] BIC", bic);
    out.bic = bic;
  }
  return problem;
}

std::string EndToEndId(const std::string& series, int32_t number) {
  std::string id = EpcTextLoose(PrintedInvoiceNumber(series, number));
  std::replace(id.begin(), id.end(), ' ', '-');
  return id.substr(0, 35);
}

std::string SepaAmount(int64_t cents) {
  const std::string whole = std::to_string(cents / 100);
  return whole + "." + ZeroPad(cents % 100, 2);
}

bool PlanRemittance(const PlanInput& in, RemittancePlan& plan, std::string& badNameOut) {
  plan = RemittancePlan();
  badNameOut.clear();
  const std::map<InvoiceKey, InvoiceState> states = InvoiceStates(*in.chain);
  const std::map<std::string, bool> mandateUsed = MandatesCollected(*in.collected);
  const auto held = [&](const std::string& series, int32_t number) {
    const auto found = in.collected->find(InvoiceKey{series, number});
    return found != in.collected->end() && HoldsInvoice(found->second.state);
  };
  for (const RegisterEntry* entry : *in.selected) {
    if (entry->IsCancellation()) continue;
    const auto leave = [&](LeftOutReason reason, MandateFault fault = MandateFault::None) {
      plan.leftOut.push_back(LeftOut{entry, reason, fault});
    };
    if (entry->IsCorrective()) {
      // Netted with its invoice when that is collected now or later; once
      // the invoice has gone to the bank, the difference is settled apart.
      if (held(entry->refSeries, entry->refNumber)) leave(LeftOutReason::CorrectiveApart);
      continue;
    }
    const auto state = states.find(InvoiceKey{entry->series, entry->number});
    if (state != states.end() && state->second.kind == InvoiceState::Kind::Cancelled) {
      leave(LeftOutReason::Cancelled);
      continue;
    }
    if (!in.again && held(entry->series, entry->number)) {
      leave(LeftOutReason::AlreadyRemitted);
      continue;
    }
    const auto mandate = in.mandates->find(entry->ownerCode);
    if (mandate == in.mandates->end()) {
      leave(LeftOutReason::NoMandate);
      continue;
    }
    const Mandate& m = mandate->second;
    if (m.fault == MandateFault::BadIban) {
      leave(LeftOutReason::BadIban);
      continue;
    }
    if (m.fault != MandateFault::None) {
      leave(LeftOutReason::BadMandate, m.fault);
      continue;
    }
    if (m.signedOn > in.collectionDate) {
      leave(LeftOutReason::SignedAfter);
      continue;
    }
    const int64_t amount = state != states.end() ? state->second.total : entry->total;
    if (amount <= 0) {
      leave(LeftOutReason::NothingPayable);
      continue;
    }
    char bad = 0;
    const std::string name = EpcCut(EpcText(entry->recipientName, bad), kNameWidth);
    if (bad != 0 || name.empty()) {
      plan = RemittancePlan();
      badNameOut = entry->recipientName;
      return false;
    }
    Debit debit;
    debit.entry = entry;
    debit.mandate = &m;
    debit.amount = amount;
    debit.first = !m.firstDone && mandateUsed.find(m.reference) == mandateUsed.end();
    debit.endToEndId = EndToEndId(entry->series, entry->number);
    debit.debtorName = name;
    std::string information = "Factura " + PrintedInvoiceNumber(entry->series, entry->number);
    const std::string period = in.periodOf ? in.periodOf(*entry) : std::string();
    information += " " + in.periodWord + " " +
                   (period.empty() ? entry->date.substr(4, 2) + "/" + entry->date.substr(0, 4) : period);
    debit.information = EpcCut(EpcTextLoose(information), kInformationWidth);
    plan.debits.push_back(std::move(debit));
  }
  return true;
}

bool WritePain008(const RemittancePlan& plan, const RemittanceHeader& h, const std::function<bool(std::string_view)>& write) {
  std::vector<Block> blocks;
  for (const Scheme scheme : {Scheme::Core, Scheme::B2b}) {
    for (const bool first : {true, false}) {
      Block block{scheme, first, {}, 0};
      for (const Debit& d : plan.debits) {
        if (d.mandate->scheme == scheme && d.first == first) {
          block.debits.push_back(&d);
          block.sum += d.amount;
        }
      }
      if (!block.debits.empty()) blocks.push_back(std::move(block));
    }
  }
  int64_t total = 0;
  for (const Debit& d : plan.debits) total += d.amount;
  const Creditor& c = h.creditor;
  const std::string schemeId = "<Id><PrvtId><Othr>" + Element("Id", c.identifier) +
                               "<SchmeNm><Prtry>SEPA</Prtry></SchmeNm></Othr></PrvtId></Id>";
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<Document xmlns=\"urn:iso:std:iso:20022:tech:xsd:pain.008.001.02\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<CstmrDrctDbtInitn>\n<GrpHdr>" +
      Element("MsgId", h.messageId) + Element("CreDtTm", h.createdAt) +
      Element("NbOfTxs", std::to_string(plan.debits.size())) + Element("CtrlSum", SepaAmount(total)) +
      "<InitgPty>" + Element("Nm", c.name) + schemeId + "</InitgPty></GrpHdr>\n";
  if (!write(out)) return false;
  for (const Block& b : blocks) {
    const char* const sequence = b.first ? "FRST" : "RCUR";
    out = "<PmtInf>" + Element("PmtInfId", h.messageId + "-" + sequence + "-" + SchemeCode(b.scheme)) +
          "<PmtMtd>DD</PmtMtd><BtchBookg>true</BtchBookg>" + Element("NbOfTxs", std::to_string(b.debits.size())) +
          Element("CtrlSum", SepaAmount(b.sum)) + "<PmtTpInf><SvcLvl><Cd>SEPA</Cd></SvcLvl><LclInstrm>" +
          Element("Cd", SchemeCode(b.scheme)) + "</LclInstrm>" + Element("SeqTp", sequence) + "</PmtTpInf>" +
          Element("ReqdColltnDt", IsoDate(h.collectionDate)) + "<Cdtr>" + Element("Nm", c.name) + "</Cdtr>" +
          "<CdtrAcct><Id>" + Element("IBAN", c.iban) + "</Id></CdtrAcct><CdtrAgt>" + Agent(c.bic) +
          "</CdtrAgt><ChrgBr>SLEV</ChrgBr><CdtrSchmeId>" + schemeId + "</CdtrSchmeId>\n";
    if (!write(out)) return false;
    for (const Debit* d : b.debits) {
      out = "<DrctDbtTxInf><PmtId>" + Element("EndToEndId", d->endToEndId) + "</PmtId><InstdAmt Ccy=\"EUR\">" +
            SepaAmount(d->amount) + "</InstdAmt><DrctDbtTx><MndtRltdInf>" + Element("MndtId", d->mandate->reference) +
            Element("DtOfSgntr", IsoDate(d->mandate->signedOn)) + "</MndtRltdInf></DrctDbtTx><DbtrAgt>" + Agent("") +
            "</DbtrAgt><Dbtr>" + Element("Nm", d->debtorName) + "</Dbtr><DbtrAcct><Id>" +
            Element("IBAN", d->mandate->iban) + "</Id></DbtrAcct><RmtInf>" + Element("Ustrd", d->information) +
            "</RmtInf></DrctDbtTxInf>\n";
      if (!write(out)) return false;
    }
    if (!write("</PmtInf>\n")) return false;
  }
  return write("</CstmrDrctDbtInitn>\n</Document>\n");
}
