// The producer's responsible declaration of the invoicing system, in
// Spanish as the tax agency reads it, with the items the ministerial order
// lists in their order, each after the words that name it.
#pragma once

#include <string>

#include "register/software.h"

// The whole declaration (UTF-8, lines ended by "\n"), titled
// "DECLARACIÓN RESPONSABLE DEL SISTEMA INFORMÁTICO DE FACTURACIÓN", for the
// system and producer software names.
[[nodiscard]] std::string DeclarationText(const SoftwareIdentity& software);
