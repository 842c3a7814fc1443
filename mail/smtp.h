// Sending one message to one address over SMTP with libcurl: STARTTLS
// required on any port but 465, implicit TLS on 465 (or "smtps://"), the
// server's certificate always checked (against CAServidor= when given), a
// login when the settings name a user. One connection is kept open from
// one message to the next.
#pragma once

#include <memory>
#include <string>

#include "mail/settings.h"

struct SmtpResult {
  enum class Kind {
    Sent,       // the server took the message (2xx), or had it whole when the
                // connection broke before its answer after the data
    Temporary,  // 4xx, or the connection broke before the message was whole: try again later
    Permanent,  // 5xx for this address or message: not tried again
    Stopped,    // the server cannot be used now (unreachable, TLS failing):
                // nothing more is tried in this sending
    Settings,   // the settings cannot work with this server (fault says how):
                // nothing more is tried, and trying later cannot help until
                // Tarn.ini [Correu] is changed
  };
  // What in the settings a Settings result comes from.
  enum class Fault {
    None,
    NoStartTls,   // the server offers no STARTTLS on that port: Port=465, or another Servidor=
    LoginRefused, // the server refused Usuari= with the password of ClauUsuari=
    Untrusted,    // the server's certificate is not signed by an authority trusted (CAServidor=)
  };
  Kind kind = Kind::Temporary;
  Fault fault = Fault::None;
  long code = 0;       // the server's last reply code, 0 when none
  std::string answer;  // the server's last reply, or libcurl's text (never the password)
};

class SmtpSender {
 public:
  // password: read from the password file (mail/settings.h); kept only in
  // memory.
  SmtpSender(const MailSettings& settings, std::string password);
  ~SmtpSender();
  SmtpSender(const SmtpSender&) = delete;
  SmtpSender& operator=(const SmtpSender&) = delete;

  [[nodiscard]] SmtpResult Send(const std::string& to, const std::string& message);

 private:
  struct Curl;
  std::unique_ptr<Curl> curl_;
  MailSettings settings_;
  std::string password_;
};
