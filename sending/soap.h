// The agency's records service on the wire: the SOAP message around the
// records as kept (SuministroLR.xsd inside a SOAP 1.1 envelope) and the
// reading of its answer (RespuestaSuministro.xsd, or a SOAP fault).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agency/facts.h"

// The agency takes 1 to this many records in one message.
inline constexpr size_t kRecordsPerMessage = agency::kRecordsPerMessage;

// Who files the records (the Cabecera's ObligadoEmision).
struct Filer {
  std::string name;   // code page 850
  std::string taxId;  // the NIF, 9 characters
};

// The message (UTF-8) carrying records, each the XML of one record exactly
// as the register keeps it (a RegistroAlta or RegistroAnulacion element),
// in the order given. incident: the records waited because the service
// could not be reached (RemisionVoluntaria Incidencia S); endOfMode, when
// not empty, the renunciation's last day in the mode ("31-12-2026",
// RemisionVoluntaria FechaFinVeriFactu).
[[nodiscard]] std::string SubmissionEnvelope(const Filer& filer, bool incident, const std::string& endOfMode,
                                             const std::vector<std::string_view>& records);

// The agency's words for the operation of a record (TipoOperacion).
inline constexpr const char* kOperationIssue = "Alta";
inline constexpr const char* kOperationCancellation = "Anulacion";

// How the agency identifies one record in its answer.
struct RecordIdentity {
  std::string issuer;  // IDEmisorFactura
  std::string number;  // NumSerieFactura, UTF-8
  std::string date;    // FechaExpedicionFactura, DD-MM-YYYY
  bool operator==(const RecordIdentity&) const = default;
};

// The answer to one record (RespuestaLinea).
struct LineAnswer {
  RecordIdentity id;      // a cancellation's line names the invoice it cancels
  std::string operation;  // Operacion/TipoOperacion: "Alta" or "Anulacion" (empty when not given)
  std::string state;      // EstadoRegistro: Correcto, AceptadoConErrores, Incorrecto
  int32_t errorCode = 0;  // CodigoErrorRegistro, 0 when none
  std::string errorText;  // DescripcionErrorRegistro, UTF-8
  bool duplicate = false; // RegistroDuplicado: the agency has the record already
  std::string duplicateState;  // its EstadoRegistroDuplicado
};

// What came back for a message.
struct SubmissionAnswer {
  enum class Kind {
    Answer,       // a RespuestaRegFactuSistemaFacturacion
    ServerFault,  // SOAP fault "Server": send again later
    ClientFault,  // SOAP fault "Client": the message is wrong
    NotXml,       // not XML at all (detail: the parser's words)
    Unexpected,   // XML, but not an answer of this service (detail: what is missing)
  };
  Kind kind = Kind::Unexpected;
  std::string detail;     // fault string or what is wrong, UTF-8
  std::string csv;        // CSV: the agency's code of the submission (may be empty)
  int32_t wait = -1;      // TiempoEsperaEnvio in seconds
  std::string state;      // EstadoEnvio
  std::vector<LineAnswer> lines;
};

// Reads an answer body (UTF-8 XML). Never fails: what cannot be read gives
// NotXml or Unexpected.
[[nodiscard]] SubmissionAnswer ReadSubmissionAnswer(std::string_view body);
