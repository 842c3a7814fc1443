#include "mail/sending.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>
#include <set>

#include "base/codepage.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "mail/address.h"
#include "mail/message.h"
#include "mail/settings.h"
#include "mail/smtp.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "register/agency.h"
#include "register/amend.h"

namespace {

std::string ShownDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

// One message to be made: an owner's invoices for the same addresses.
struct Message {
  std::vector<const RegisterEntry*> invoices;
  std::vector<std::string> addresses;
};

MailLogLine LineOf(const RegisterEntry& e, const std::string& address, MailState state, const std::string& id,
                   const std::string& answer) {
  MailLogLine line;
  line.time = GenerationTimeNow();
  line.series = e.series;
  line.number = e.number;
  line.address = address.empty() ? "-" : address;
  line.state = state;
  line.messageId = id.empty() ? "-" : id;
  line.answer = answer;
  return line;
}

std::string Problem(MailText id, const MailRun& run, const std::string& text = "", int64_t number = 0) {
  return MailTextOf(id, run.language, text, number);
}

// What the user is told of settings that cannot work with the server: the
// server, and the setting to change.
std::string SettingsProblem(SmtpResult::Fault fault, const MailRun& run, const MailSettings& settings) {
  const std::string server = Cp858ForDisplay(settings.server);
  switch (fault) {
    case SmtpResult::Fault::NoStartTls: return Problem(MailText::ProblemNoStartTls, run, server, settings.port);
    case SmtpResult::Fault::LoginRefused: return Problem(MailText::ProblemLoginRefused, run, server);
    case SmtpResult::Fault::Untrusted:
    case SmtpResult::Fault::None: break;
  }
  return Problem(MailText::ProblemUntrusted, run, server);
}

// The message's text (UTF-8) for an owner's invoices.
MailMessage Compose(const MailRun& run, const std::string& sender, const Message& m) {
  const Language lang = run.language;
  std::string numbers;
  int64_t total = 0;
  std::string lines;
  for (const RegisterEntry* e : m.invoices) {
    const std::string number = PrintedInvoiceNumber(e->series, e->number);
    numbers += (numbers.empty() ? "" : ", ") + number;
    total += e->total;
    lines += "  " + number + "  " + ShownDate(e->date) + "  " + MailAmount(e->total, run.decimal, run.thousands) + "\n";
  }
  const bool one = m.invoices.size() == 1;
  std::string text = Trim(m.invoices.front()->recipientName) + ":\n\n";
  text += one ? MailTextOf(MailText::BodyOne, lang)
              : MailTextOf(MailText::BodyMany, lang, "", static_cast<int64_t>(m.invoices.size()));
  text.append("\n\n").append(lines);
  if (!one)
    text.append("\n").append(MailTextOf(MailText::BodyTotal, lang, MailAmount(total, run.decimal, run.thousands))).append("\n");
  text.append("\n").append(MailTextOf(MailText::BodyClosing, lang)).append("\n").append(Trim(run.issuerName)).append("\n");
  MailMessage message;
  message.fromName = Utf8FromCp858(Trim(run.issuerName));
  message.fromAddress = sender;
  message.to = m.addresses;
  message.subject = Utf8FromCp858(MailTextOf(one ? MailText::SubjectOne : MailText::SubjectMany, lang, numbers));
  message.text = Utf8FromCp858(text);
  message.date = std::time(nullptr);
  message.messageId = NewMessageId(sender, message.date);
  return message;
}

}  // namespace

std::string MailAmount(int64_t cents, char decimal, char thousands) {
  const bool negative = cents < 0;
  const uint64_t magnitude = negative ? static_cast<uint64_t>(-cents) : static_cast<uint64_t>(cents);
  std::string whole = std::to_string(magnitude / 100);
  for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) whole.insert(static_cast<size_t>(at), 1, thousands);
  const uint64_t fraction = magnitude % 100;
  return std::string(negative ? "-" : "") + whole + decimal + static_cast<char>('0' + fraction / 10) +
         static_cast<char>('0' + fraction % 10) + " \xd5";
}

std::string InvoicePdfHostPath(const std::string& rootDir, const RegisterEntry& entry) {
  return HostPath(rootDir + "ARXIU\\") + InvoicePdfFileName(entry.series, entry.number);
}

InvoiceMailStatus MailStatusOf(const RegisterEntry& e, const std::map<MailKey, MailLogLine>& last,
                               const std::map<std::string, OwnerAddresses>& book) {
  InvoiceMailStatus status;
  std::vector<std::string> addresses;
  const auto found = book.find(e.ownerCode);
  if (found != book.end()) addresses = found->second.addresses;
  for (auto it = last.lower_bound(MailKey{e.series, e.number, ""});
       it != last.end() && std::get<0>(it->first) == e.series && std::get<1>(it->first) == e.number; ++it) {
    const std::string& address = std::get<2>(it->first);
    if (address != "-" && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
      addresses.push_back(address);
  }
  if (addresses.empty()) return status;
  bool allSent = true;
  bool anyFailed = false;
  for (const std::string& address : addresses) {
    InvoiceMailStatus::AtAddress at;
    at.address = address;
    const auto seen = last.find(MailKey{e.series, e.number, address});
    if (seen != last.end()) {
      at.time = seen->second.time;
      at.answer = seen->second.answer == "-" ? std::string() : Cp858ForDisplay(seen->second.answer);
      switch (seen->second.state) {
        case MailState::Sent: at.state = MailText::StateSent; break;
        case MailState::Temporary: at.state = MailText::StateTemporary; break;
        case MailState::Permanent: at.state = MailText::StatePermanent; break;
        case MailState::Trying: at.state = MailText::StateUncertain; break;
        case MailState::BadAddress: at.state = MailText::StateBadAddress; break;
        default: break;
      }
    }
    allSent = allSent && at.state == MailText::StateSent;
    anyFailed = anyFailed || (at.state != MailText::StateSent && at.state != MailText::StateUnsent);
    status.addresses.push_back(at);
  }
  using Overall = InvoiceMailStatus::Overall;
  status.overall = allSent ? Overall::Sent : anyFailed ? Overall::Failed : Overall::Unsent;
  return status;
}

std::vector<RegisterEntry> MailableInvoices(const std::vector<RegisterEntry>& entries,
                                           const std::vector<RegisterEntry>& chain) {
  const std::map<InvoiceKey, InvoiceState> states = InvoiceStates(chain);
  std::vector<RegisterEntry> out;
  for (const RegisterEntry& e : entries) {
    if (e.IsCancellation() || e.kind == RegisterKindCorrection) continue;
    const auto found = states.find({e.series, e.number});
    if (found != states.end() && found->second.kind == InvoiceState::Kind::Cancelled) continue;
    out.push_back(e);
  }
  return out;
}

std::vector<RegisterEntry> EntriesToRetry(const std::vector<RegisterEntry>& chain, const std::vector<MailLogLine>& log) {
  std::set<std::pair<std::string, int32_t>> retry;
  for (const auto& [key, line] : LastMailStates(log)) {
    if (line.state == MailState::Temporary) retry.insert({std::get<0>(key), std::get<1>(key)});
  }
  std::vector<RegisterEntry> out;
  for (const RegisterEntry& e : chain) {
    if (retry.count({e.series, e.number}) != 0) out.push_back(e);
  }
  return out;
}

bool SendInvoiceMail(const MailRun& run, const std::vector<RegisterEntry>& entries, MailReport& report,
                     std::string& problemOut) {
  report = MailReport();
  problemOut.clear();
  const MailSettings settings = LoadMailSettings(run.rootDir);
  std::string password;
  switch (CheckMailSettings(settings, password)) {
    case MailSettingsProblem::None: break;
    case MailSettingsProblem::NoServer: problemOut = Problem(MailText::ProblemNoServer, run); return false;
    case MailSettingsProblem::BadPort: problemOut = Problem(MailText::ProblemBadPort, run); return false;
    case MailSettingsProblem::BadSender: problemOut = Problem(MailText::ProblemBadSender, run); return false;
    case MailSettingsProblem::PasswordMissing:
      problemOut = Problem(MailText::ProblemPasswordMissing, run, Cp858ForDisplay(settings.passwordFile));
      return false;
    case MailSettingsProblem::PasswordNotOneLine:
      problemOut = Problem(MailText::ProblemPasswordNotOneLine, run, Cp858ForDisplay(settings.passwordFile));
      return false;
    case MailSettingsProblem::PasswordExposed:
      problemOut = Problem(MailText::ProblemPasswordExposed, run, Cp858ForDisplay(settings.passwordFile));
      return false;
  }
  std::map<std::string, OwnerAddresses> book;
  const std::string bookPath = HostPath(run.rootDir + MailAddressFileName);
  const int16_t read = ReadAddressBook(bookPath, book);
  if (read != RmSuccess && read != RmFileNotFound) {
    problemOut = Problem(MailText::ProblemAddressFile, run, Cp858ForDisplay(bookPath + ".dat"), read);
    return false;
  }
  MailLog log;
  const std::string logPath = HostPath(run.rootDir + MailLogFileName);
  std::vector<MailLogLine> dryLines;
  size_t damaged = 0;
  if (run.dryRun) {
    const int error = ReadMailLog(logPath, dryLines, &damaged);
    if (error != 0 && error != ENOENT) {
      problemOut = Problem(MailText::ProblemLogUnwritable, run, Cp858ForDisplay(logPath), error);
      return false;
    }
  } else {
    const int error = log.Open(logPath);
    if (error == EWOULDBLOCK) {
      problemOut = Problem(MailText::ProblemLogBusy, run);
      return false;
    }
    if (error != 0) {
      problemOut = Problem(MailText::ProblemLogUnwritable, run, Cp858ForDisplay(logPath), error);
      return false;
    }
  }
  // A log that does not read whole may have lost what was sent: nothing
  // goes unless the user asks for it again.
  if (!run.dryRun) damaged = log.DamagedLine();
  if (damaged != 0 && !run.again) {
    problemOut = Problem(MailText::ProblemLogDamaged, run, Cp858ForDisplay(logPath), static_cast<int64_t>(damaged));
    return false;
  }
  const std::map<MailKey, MailLogLine> last = LastMailStates(run.dryRun ? dryLines : log.lines());

  // What to do for each invoice and address; messages per owner, in the
  // order of the owners' first invoices.
  std::vector<std::string> ownerOrder;
  std::map<std::string, std::map<std::vector<std::string>, Message>> byOwner;
  std::vector<MailLogLine> notes;
  std::map<const RegisterEntry*, std::vector<size_t>> outcomeOf;
  auto outcome = [&](const RegisterEntry& e, const std::string& address, MailText state, const std::string& answer) {
    outcomeOf[&e].push_back(report.outcomes.size());
    report.outcomes.push_back(MailOutcome{&e, address, state, answer});
  };
  for (const RegisterEntry& e : entries) {
    // A cancellation or a correction record is no invoice of its own.
    if (e.IsCancellation() || e.kind == RegisterKindCorrection) continue;
    const auto found = book.find(e.ownerCode);
    std::vector<std::string> good;
    if (found != book.end()) {
      for (const std::string& address : found->second.addresses) {
        if (!IsMailAddress(address)) {
          outcome(e, address, MailText::StateBadAddress, "");
          notes.push_back(LineOf(e, Utf8FromCp858(address), MailState::BadAddress, "", ""));
        } else if (std::find(good.begin(), good.end(), address) == good.end()) {
          good.push_back(address);
        }
      }
    }
    if (good.empty()) {
      ++report.noAddress;
      if (found == book.end() || found->second.addresses.empty()) {
        outcome(e, "", MailText::StateNoAddress, "");
        notes.push_back(LineOf(e, "", MailState::NoAddress, "", ""));
      }
      continue;
    }
    std::vector<std::string> pending;
    for (const std::string& address : good) {
      const auto seen = last.find(MailKey{e.series, e.number, address});
      const MailState state = seen == last.end() ? MailState::None : seen->second.state;
      if (!run.again && (state == MailState::Sent || state == MailState::Permanent || state == MailState::Trying)) {
        outcome(e, address,
                state == MailState::Sent        ? MailText::StateAlreadySent
                : state == MailState::Permanent ? MailText::StateRefusedBefore
                                                : MailText::StateUncertain,
                seen->second.answer);
        continue;
      }
      pending.push_back(address);
    }
    if (pending.empty()) continue;
    if (byOwner.find(e.ownerCode) == byOwner.end()) ownerOrder.push_back(e.ownerCode);
    Message& m = byOwner[e.ownerCode][pending];
    m.addresses = pending;
    m.invoices.push_back(&e);
  }
  if (!run.dryRun && !notes.empty()) {
    const int error = log.Append(notes);
    if (error != 0) {
      problemOut = Problem(MailText::ProblemLogUnwritable, run, Cp858ForDisplay(logPath), error);
      return false;
    }
  }

  std::set<const RegisterEntry*> sentNow;
  std::set<const RegisterEntry*> failedNow;
  SmtpSender sender(settings, password);
  std::string stopped;  // why the server cannot be used any more in this sending
  // The settings cannot work with the server: told once (problemOut); each
  // invoice is shown unsent and noted as failed for a while, so that the
  // sending after the settings are mended takes them all.
  bool settingsFault = false;
  for (const std::string& owner : ownerOrder) {
    for (auto& [addresses, m] : byOwner[owner]) {
      // The PDFs first: an invoice without its PDF is not sent.
      MailMessage message = Compose(run, settings.sender, m);
      std::vector<const RegisterEntry*> attached;
      for (const RegisterEntry* e : m.invoices) {
        MailAttachment a;
        a.fileName = InvoicePdfFileName(e->series, e->number);
        const std::string path = InvoicePdfHostPath(run.rootDir, *e);
        if (ReadRegularFile(path, a.bytes, 64u << 20) != ReadResult::Ok || a.bytes.compare(0, 5, "%PDF-") != 0) {
          for (const std::string& address : addresses) outcome(*e, address, MailText::StateNoPdf, Cp858ForDisplay(path));
          failedNow.insert(e);
          if (!run.dryRun) {
            std::vector<MailLogLine> lines;
            for (const std::string& address : addresses)
              lines.push_back(LineOf(*e, address, MailState::Temporary, "", "PDF: " + path));
            static_cast<void>(log.Append(lines));
          }
          continue;
        }
        message.attachments.push_back(std::move(a));
        attached.push_back(e);
      }
      if (attached.empty()) continue;
      if (attached.size() != m.invoices.size()) {
        Message only{attached, addresses};
        MailMessage remade = Compose(run, settings.sender, only);
        remade.attachments = std::move(message.attachments);
        message = std::move(remade);
      }
      if (run.dryRun) {
        for (const RegisterEntry* e : attached)
          for (const std::string& address : addresses) outcome(*e, address, MailText::StateWouldSend, "");
        continue;
      }
      const std::string bytes = ComposeMessage(message);
      for (const std::string& address : addresses) {
        std::vector<MailLogLine> lines;
        if (!stopped.empty()) {
          for (const RegisterEntry* e : attached) {
            lines.push_back(LineOf(*e, address, MailState::Temporary, message.messageId, stopped));
            if (settingsFault) {
              outcome(*e, address, MailText::StateUnsent, "");
              continue;
            }
            outcome(*e, address, MailText::StateTemporary, stopped);
            failedNow.insert(e);
          }
          static_cast<void>(log.Append(lines));
          continue;
        }
        for (const RegisterEntry* e : attached)
          lines.push_back(LineOf(*e, address, MailState::Trying, message.messageId, ""));
        const int error = log.Append(lines);
        if (error != 0) {
          // Nothing goes out that the log cannot tell of.
          problemOut = Problem(MailText::ProblemLogUnwritable, run, Cp858ForDisplay(logPath), error);
          return true;
        }
        lines.clear();
        const SmtpResult result = sender.Send(address, bytes);
        MailState state = MailState::Temporary;
        MailText shown = MailText::StateTemporary;
        if (result.kind == SmtpResult::Kind::Sent) {
          state = MailState::Sent;
          shown = MailText::StateSent;
        } else if (result.kind == SmtpResult::Kind::Permanent) {
          state = MailState::Permanent;
          shown = MailText::StatePermanent;
        } else if (result.kind == SmtpResult::Kind::Stopped) {
          stopped = "not attempted: " + result.answer;
        } else if (result.kind == SmtpResult::Kind::Settings) {
          // Noted as failed for a while (the log keeps the server's words), so
          // that the sending after the settings are mended takes it again.
          settingsFault = true;
          stopped = "not attempted: " + result.answer;
          problemOut = SettingsProblem(result.fault, run, settings);
          for (const RegisterEntry* e : attached) {
            lines.push_back(LineOf(*e, address, MailState::Temporary, message.messageId, result.answer));
            outcome(*e, address, MailText::StateUnsent, "");
          }
          static_cast<void>(log.Append(lines));
          continue;
        }
        for (const RegisterEntry* e : attached) {
          lines.push_back(LineOf(*e, address, state, message.messageId, result.answer));
          outcome(*e, address, shown, Cp858ForDisplay(result.answer));
          (state == MailState::Sent ? sentNow : failedNow).insert(e);
        }
        static_cast<void>(log.Append(lines));
      }
    }
  }
  for (const RegisterEntry* e : failedNow) sentNow.erase(e);
  report.sent = static_cast<int>(sentNow.size());
  report.failed = static_cast<int>(failedNow.size());
  // Outcomes in the order of the entries given.
  std::vector<MailOutcome> ordered;
  for (const RegisterEntry& e : entries) {
    for (const size_t i : outcomeOf[&e]) ordered.push_back(report.outcomes[i]);
  }
  report.outcomes = std::move(ordered);
  return true;
}
