#include "mail/smtp.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Upload {
  const std::string* bytes = nullptr;
  size_t at = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  Upload& upload = *static_cast<Upload*>(user);
  const size_t n = std::min(size * count, upload.bytes->size() - upload.at);
  std::memcpy(buffer, upload.bytes->data() + upload.at, n);
  upload.at += n;
  return n;
}

// The server's replies as they arrive.
int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!line.empty()) static_cast<std::vector<std::string>*>(user)->push_back(line);
  return 0;
}

// The last reply with this code (the one that decided), else the last one.
std::string ReplyOf(const std::vector<std::string>& replies, long code) {
  const std::string prefix = std::to_string(code);
  for (auto it = replies.rbegin(); it != replies.rend(); ++it) {
    if (it->compare(0, prefix.size(), prefix) == 0) return *it;
  }
  return replies.empty() ? std::string() : replies.back();
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Whether a libcurl failure means the server cannot be used at all now.
bool ServerUnusable(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return true;
    default:
      return false;
  }
}

// What in the settings a failure comes from, when it is the settings'
// doing (the server's reply 530, 534 or 535 refuses a login too).
SmtpResult::Fault SettingsFault(CURLcode code, long reply) {
  switch (code) {
    case CURLE_USE_SSL_FAILED: return SmtpResult::Fault::NoStartTls;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR: return SmtpResult::Fault::LoginRefused;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: return SmtpResult::Fault::Untrusted;
    default: break;
  }
  if (reply == 530 || reply == 534 || reply == 535) return SmtpResult::Fault::LoginRefused;
  return SmtpResult::Fault::None;
}

}  // namespace

struct SmtpSender::Curl {
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::vector<std::string> replies;
  char error[CURL_ERROR_SIZE] = {};
};

SmtpSender::SmtpSender(const MailSettings& settings, std::string password)
    : curl_(std::make_unique<Curl>()), settings_(settings), password_(std::move(password)) {
  GlobalInit();
  curl_->easy.reset(curl_easy_init());
}

SmtpSender::~SmtpSender() = default;

SmtpResult SmtpSender::Send(const std::string& to, const std::string& message) {
  SmtpResult result;
  CURL* easy = curl_->easy.get();
  if (easy == nullptr) {
    result.kind = SmtpResult::Kind::Stopped;
    result.answer = "libcurl";
    return result;
  }
  const size_t at = settings_.sender.rfind('@');
  const std::string domain = at == std::string::npos ? "localhost" : settings_.sender.substr(at + 1);
  const std::string url = std::string(settings_.implicitTls ? "smtps://" : "smtp://") + settings_.server + ":" +
                          std::to_string(settings_.port) + "/" + domain;
  const std::string from = "<" + settings_.sender + ">";
  std::unique_ptr<curl_slist, ListDeleter> recipients(curl_slist_append(nullptr, ("<" + to + ">").c_str()));
  Upload upload{&message, 0};
  curl_->replies.clear();
  curl_->error[0] = '\0';

  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings_.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, settings_.caFile.c_str());
  if (!settings_.user.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, settings_.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, password_.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(easy, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(easy, CURLOPT_READDATA, &upload);
  curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
  // A server that stops answering is given up after a minute of silence.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curl_->error);
  curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, Debug);
  curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &curl_->replies);

  const CURLcode code = curl_easy_perform(easy);
  curl_easy_setopt(easy, CURLOPT_MAIL_RCPT, nullptr);
  long reply = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply);
  result.code = reply;
  result.answer = ReplyOf(curl_->replies, reply);
  if (code == CURLE_OK) {
    result.kind = SmtpResult::Kind::Sent;
    return result;
  }
  // libcurl's own words when the server's last reply says nothing of it.
  const std::string said = curl_->error[0] != '\0' ? curl_->error : curl_easy_strerror(code);
  // The whole message went out after the server's 354 and no answer came
  // back: the server has it (it may deliver it), so it counts as sent and
  // is never sent again by itself. An answer, when one came, decides.
  const bool wholeMessageSent = upload.at == message.size() && reply == 354 && code != CURLE_SEND_ERROR &&
                                code != CURLE_READ_ERROR && code != CURLE_ABORTED_BY_CALLBACK;
  if (wholeMessageSent) {
    result.kind = SmtpResult::Kind::Sent;
    result.answer = "no answer after the whole message (" + said + ")";
    return result;
  }
  if (result.answer.empty() || reply < 400) result.answer = said;
  result.fault = SettingsFault(code, reply);
  if (result.fault != SmtpResult::Fault::None) {
    result.kind = SmtpResult::Kind::Settings;
  } else if (ServerUnusable(code)) {
    result.kind = SmtpResult::Kind::Stopped;
  } else if (reply >= 500 && reply < 600) {
    result.kind = SmtpResult::Kind::Permanent;
  } else {
    result.kind = SmtpResult::Kind::Temporary;
  }
  // Never the password, whatever a library or server puts in its text.
  if (!password_.empty()) {
    for (size_t p = result.answer.find(password_); p != std::string::npos; p = result.answer.find(password_))
      result.answer.replace(p, password_.size(), "***");
  }
  return result;
}
