// One SOAP message posted to the agency's service over TLS with the
// issuer's client certificate (libcurl). The server's certificate is always
// checked, against the system's authorities or those named for a stand-in.
#pragma once

#include <string>

struct IssuerCertificate;

struct PostResult {
  enum class Failure {
    None,               // an HTTP answer came back (any status): body holds it
    Unreachable,        // no connection, a dropped connection, no answer in time
    ServerCertificate,  // the server's certificate does not verify
    ClientCertificate,  // the client certificate was not taken (by us or by the server)
    Other,
  };
  Failure failure = Failure::Other;
  long httpStatus = 0;
  std::string body;
  std::string error;  // libcurl's words for a failure
};

// Posts body (Content-Type text/xml; charset=UTF-8, empty SOAPAction) to
// endpoint. authorities: a PEM file to trust instead of the system's, or
// empty. timeoutSeconds bounds the whole exchange.
[[nodiscard]] PostResult PostSoap(const std::string& endpoint, const IssuerCertificate& certificate,
                                  const std::string& authorities, const std::string& body, long timeoutSeconds);
