// The module's side of the not-sending mode (signing/keeping.h): started
// for the session's root and issuer, its problems told in the session's
// language.
#pragma once

#include <string>

#include "register/register.h"
#include "signing/keeping.h"

// keeping.Start for Session.RootDir and the issuer of IssuerDetails.
void StartKeeping(KeepingMode& keeping, InvoiceRegister& reg);

// Why records cannot be signed (code page 850, the session's language),
// a certificate that cannot sign after keyRefused; empty when they can.
[[nodiscard]] std::string KeepingProblemText(const KeepingMode& keeping, const std::string& keyRefused);
