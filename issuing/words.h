// The words of the issuing layer's problems, in the four languages (code
// page 850), for every program that makes records: one sentence a problem,
// its values put in. capitals: the sentence in capitals, as the module's
// windows write their messages (the values put in are left as they are).
#pragma once

#include <cstdint>
#include <string>

#include "agency/certificate.h"
#include "base/language.h"
#include "issuing/issuer.h"
#include "issuing/problem.h"

[[nodiscard]] std::string IssuingProblemText(const IssuingProblem& problem, Language language, bool capitals = false);

// Why the issuer's certificate cannot be used: detail is the file or the
// date concerned (as LoadIssuerCertificate gives it), settingsFile the host
// path of Tarn.ini, named for a setting left empty.
[[nodiscard]] std::string CertificateProblemText(CertificateProblem problem, const std::string& detail,
                                                 const std::string& settingsFile, Language language,
                                                 bool capitals = false);

// Any status of the layers below (the record manager's, the record
// layer's, the register's, the not-sending mode's) as "N: what it means".
[[nodiscard]] std::string StatusText(int16_t status, Language language);

[[nodiscard]] std::string IssuerProblemText(IssuerProblem problem, const Issuer& issuer, Language language,
                                            bool capitals = false);
