#include "sending/transport.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "agency/certificate.h"

namespace {

struct EasyFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// The answer as it comes, up to its limit: past it the transfer stops.
struct Sink {
  std::string* body;
  size_t limit;
  bool over = false;
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
  Sink& sink = *static_cast<Sink*>(out);
  const size_t n = size * count;
  if (n > sink.limit - sink.body->size()) {
    sink.over = true;
    return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
  }
  sink.body->append(data, n);
  return n;
}

PostResult::Failure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return PostResult::Failure::ServerCertificate;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
      return PostResult::Failure::ClientCertificate;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_SSL_CONNECT_ERROR:
      return PostResult::Failure::Unreachable;
    default:
      return PostResult::Failure::Other;
  }
}

}  // namespace

PostResult PostSoap(const std::string& endpoint, const IssuerCertificate& certificate, const std::string& authorities,
                    const std::string& body, long timeoutSeconds, size_t largestAnswer) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  PostResult result;
  std::unique_ptr<CURL, EasyFree> curl(curl_easy_init());
  if (!curl) {
    result.error = "curl_easy_init";
    return result;
  }
  std::unique_ptr<curl_slist, ListFree> headers(curl_slist_append(nullptr, "Content-Type: text/xml; charset=UTF-8"));
  headers.reset(curl_slist_append(headers.release(), "SOAPAction: \"\""));
  headers.reset(curl_slist_append(headers.release(), "Expect:"));
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, endpoint.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  // The certificate as it was loaded and checked, not the file as it is now.
  curl_blob pkcs12{const_cast<char*>(certificate.pkcs12.data()), certificate.pkcs12.size(), CURL_BLOB_COPY};
  curl_easy_setopt(c, CURLOPT_SSLCERT_BLOB, &pkcs12);
  curl_easy_setopt(c, CURLOPT_SSLCERTTYPE, "P12");
  curl_easy_setopt(c, CURLOPT_KEYPASSWD, certificate.password.c_str());
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!authorities.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, authorities.c_str());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, timeoutSeconds);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  Sink sink{&result.body, largestAnswer};
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  // A length announced past the limit ends the transfer before the body.
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(largestAnswer));
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = curl_easy_perform(c);
  if (sink.over || code == CURLE_FILESIZE_EXCEEDED) {
    result.failure = PostResult::Failure::TooLarge;
    result.error = "> " + std::to_string(largestAnswer) + " bytes";
    result.body.clear();
    result.body.shrink_to_fit();
    return result;
  }
  if (code != CURLE_OK) {
    result.failure = FailureOf(code);
    result.error = error[0] != '\0' ? error : curl_easy_strerror(code);
    result.body.clear();
    return result;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.httpStatus);
  result.failure = PostResult::Failure::None;
  return result;
}
