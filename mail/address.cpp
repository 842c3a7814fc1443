#include "mail/address.h"

#include <cstring>

#include "base/text.h"
#include "recman/recman.h"
#include "records/layouts.h"
#include "records/records.h"

namespace {

bool IsAtomChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("!#$%&'*+/=?^_`{|}~-", c) != nullptr;
}

bool IsDomain(const std::string& domain) {
  if (domain.empty() || domain.size() > 253) return false;
  size_t labels = 0;
  size_t start = 0;
  while (start <= domain.size()) {
    size_t end = domain.find('.', start);
    if (end == std::string::npos) end = domain.size();
    const std::string label = domain.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (const unsigned char c : label) {
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    }
    ++labels;
    start = end + 1;
  }
  return labels >= 2;
}

}  // namespace

bool IsMailAddress(const std::string& text) {
  if (text.size() > 254) return false;
  const size_t at = text.rfind('@');
  if (at == std::string::npos || at == 0 || at > 64) return false;
  const std::string local = text.substr(0, at);
  if (local.front() == '.' || local.back() == '.' || local.find("..") != std::string::npos) return false;
  for (const unsigned char c : local) {
    if (c != '.' && !IsAtomChar(c)) return false;
  }
  return IsDomain(text.substr(at + 1));
}

int16_t ReadAddressBook(const std::string& hostPath, std::map<std::string, OwnerAddresses>& bookOut) {
  bookOut.clear();
  const int16_t status = ReadEveryRecord(hostPath, MailAddressRecordSize, [&](const uint8_t* record) {
    OwnerAddresses entry;
    for (int i = 1; i <= MailAddressCount; ++i) {
      const std::string address = Trim(MailAddress(record, i));
      if (!address.empty()) entry.addresses.push_back(address);
    }
    entry.paper = MailWantsPaper(record);
    bookOut[MailOwnerCode(record)] = entry;
  });
  if (status != RmSuccess) bookOut.clear();
  return status;
}
