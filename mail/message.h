// One e-mail message in MIME (RFC 5322, 2045-2047): a multipart/mixed
// message of a UTF-8 text part and application/pdf attachments, all in
// base64, with lines ended by CR LF.
#pragma once

#include <ctime>
#include <string>
#include <vector>

struct MailAttachment {
  std::string fileName;  // ASCII, no quote or backslash (mail/settings.h InvoicePdfFileName)
  std::string bytes;
};

struct MailMessage {
  std::string fromName;     // UTF-8, may be empty
  std::string fromAddress;  // ASCII
  std::vector<std::string> to;  // ASCII addresses
  std::string subject;      // UTF-8
  std::string text;         // UTF-8, lines ended by "\n"
  std::vector<MailAttachment> attachments;
  std::string messageId;    // "<...@...>"
  std::time_t date = 0;     // written in the local time with its offset
};

// The whole message as it goes to the server.
[[nodiscard]] std::string ComposeMessage(const MailMessage& message);

// A new Message-ID for a sender's address: "<time.random@domain>".
[[nodiscard]] std::string NewMessageId(const std::string& senderAddress, std::time_t now);

// RFC 5322 date: "Tue, 08 Dec 2026 19:30:00 +0100", in English whatever
// the locale.
[[nodiscard]] std::string MailDate(std::time_t when);

// A header value: as it is when it is printable ASCII, otherwise UTF-8
// encoded words ("=?UTF-8?B?...?="), each within 75 characters, folded
// onto lines of their own.
[[nodiscard]] std::string EncodedHeaderValue(const std::string& utf8);

// Base64 of bytes in lines of 76 characters, each ended by CR LF.
[[nodiscard]] std::string Base64Lines(const std::string& bytes);
