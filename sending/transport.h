// One SOAP message posted to the agency's service over TLS with the
// issuer's client certificate (libcurl). The server's certificate is always
// checked, against the system's authorities or those named for a stand-in.
#pragma once

#include <cstddef>
#include <string>

struct IssuerCertificate;

// The largest answer read. The agency's answer to a full message of 1000
// records is under a megabyte; anything past this is not its answer and is
// not read on (nor kept in memory).
inline constexpr size_t kLargestAnswer = size_t{20} * 1024 * 1024;

struct PostResult {
  enum class Failure {
    None,               // an HTTP answer came back (any status): body holds it
    Unreachable,        // no connection, a dropped connection, no answer in time
    ServerCertificate,  // the server's certificate does not verify
    ClientCertificate,  // the client certificate was not taken (by us or by the server)
    TooLarge,           // the answer went past the largest read; error says how far
    Other,
  };
  Failure failure = Failure::Other;
  long httpStatus = 0;
  std::string body;
  std::string error;  // libcurl's words for a failure
};

// Posts body (Content-Type text/xml; charset=UTF-8, empty SOAPAction) to
// endpoint. authorities: a PEM file to trust instead of the system's, or
// empty. timeoutSeconds bounds the whole exchange; an answer longer than
// largestAnswer bytes is dropped unread past it (TooLarge).
[[nodiscard]] PostResult PostSoap(const std::string& endpoint, const IssuerCertificate& certificate,
                                  const std::string& authorities, const std::string& body, long timeoutSeconds,
                                  size_t largestAnswer = kLargestAnswer);
