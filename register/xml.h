// One record as the tax agency's XML: the RegistroAlta (or RegistroAnulacion) element of
// SuministroInformacion.xsd, in UTF-8, made when the record is made so that
// it can be kept and later sent or exported byte for byte.
#pragma once

#include <string>

#include "agency/facts.h"
#include "register/record.h"
#include "register/software.h"

// The namespaces of the agency's schemas: a submission (SuministroLR.xsd,
// prefix "sfLR") and the records' types (SuministroInformacion.xsd, "sf").
inline constexpr const char* AgencyNamespaceLR = agency::kNamespaceLR;
inline constexpr const char* AgencyNamespaceSF = agency::kNamespaceSF;

// The element <sf:RegistroAlta xmlns:sf="..."> ... </sf:RegistroAlta> and
// its line end, children indented two blanks a level, for entry (an F1
// invoice of administration fees, VAT at its rate). previous: the entry
// chained before it, nullptr for the first of the chain (PrimerRegistro).
// issuerName: the issuer's name (code page 850) as the record is to carry
// it. The SistemaInformatico block names software's producer and system,
// with installationNumber (InstallationNumber); IndicadorMultiplesOT is
// "N": a suite root invoices for one issuer.
// The recipient goes as a NIF or as an EU VAT number in IDOtro (IDType 02,
// CodigoPais when the agency's list has one), by ClassifyRecipientTaxId.
// A recipient that is neither gives the empty text: an F1 invoice must name
// an identified recipient (IDType 07 is only for a valid NIF missing from
// the agency's census, and invoices without a recipient are F2, which fee
// invoices are not).
// Code page 850 texts become UTF-8; control characters, which XML cannot
// carry, become blanks; texts are cut to the schema's lengths.
// A correction record (kind RegisterKindCorrection) says Subsanacion S, and
// RechazoPrevio when rejection is not 'N': 'X' the record it corrects was
// rejected and the agency never registered the invoice, 'S' a correction
// of a registered invoice was rejected.
[[nodiscard]] std::string RegistroAltaXml(const RegisterEntry& entry, const RegisterEntry* previous,
                                          const std::string& issuerName, const SoftwareIdentity& software,
                                          const std::string& installationNumber, char rejection = 'N');

// A corrective invoice's RegistroAlta also carries TipoFactura R1-R4,
// TipoRectificativa, the invoice it corrects in FacturasRectificadas and,
// for substitution, ImporteRectificacion (the base and VAT it replaces).

// The element <sf:RegistroAnulacion ...> of a cancellation entry, in the
// same form: the cancelled invoice's identity, the chaining, the software
// and the fingerprint. withoutPrevious: SinRegistroPrevio S (the agency
// holds no issue record of the invoice); afterRejection: RechazoPrevio S
// (an earlier cancellation of it was rejected). Neither is in the
// fingerprint.
[[nodiscard]] std::string RegistroAnulacionXml(const RegisterEntry& entry, const RegisterEntry* previous,
                                               const SoftwareIdentity& software, const std::string& installationNumber,
                                               bool withoutPrevious = false, bool afterRejection = false);

// The XML of any entry: RegistroAnulacionXml for a cancellation, else
// RegistroAltaXml.
[[nodiscard]] std::string RecordXml(const RegisterEntry& entry, const RegisterEntry* previous,
                                    const std::string& issuerName, const SoftwareIdentity& software,
                                    const std::string& installationNumber);
