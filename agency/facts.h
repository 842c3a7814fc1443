// The tax agency's facts the system acts on, in one place and named as the
// agency names them: its hosts and services, the namespaces of its schemas,
// its limits, the event and anomaly types of the not-sending mode, and the
// codes of its answers the program reads.
#pragma once

#include <cstddef>
#include <string_view>

namespace agency {

// Hosts of the records service (SistemaFacturacion), by environment and by
// kind of certificate (a company seal goes to its own hosts).
inline constexpr std::string_view kProductionHost = "https://www1.agenciatributaria.gob.es";
inline constexpr std::string_view kProductionSealHost = "https://www10.agenciatributaria.gob.es";
inline constexpr std::string_view kTestHost = "https://prewww1.aeat.es";
inline constexpr std::string_view kTestSealHost = "https://prewww10.aeat.es";
inline constexpr std::string_view kRecordsServicePath = "/wlpl/TIKE-CONT/ws/SistemaFacturacion/VerifactuSOAP";

// Hosts and paths of the invoice check the printed code points at.
inline constexpr std::string_view kQrProductionHost = "https://www2.agenciatributaria.gob.es";
inline constexpr std::string_view kQrTestHost = "https://prewww2.aeat.es";
inline constexpr std::string_view kQrSentPath = "/wlpl/TIKE-CONT/ValidarQR?nif=";            // VERI*FACTU
inline constexpr std::string_view kQrKeptPath = "/wlpl/TIKE-CONT/ValidarQRNoVerifactu?nif=";  // not sent

// Namespaces of the agency's schemas.
#define KORVADEL_AGENCY_SCHEMAS \
  "https://www2.agenciatributaria.gob.es/static_files/common/internet/dep/aplicaciones/es/aeat/tike/cont/ws/"
inline constexpr const char* kNamespaceLR = KORVADEL_AGENCY_SCHEMAS "SuministroLR.xsd";
inline constexpr const char* kNamespaceSF = KORVADEL_AGENCY_SCHEMAS "SuministroInformacion.xsd";
inline constexpr const char* kNamespaceAnswer = KORVADEL_AGENCY_SCHEMAS "RespuestaSuministro.xsd";
inline constexpr const char* kNamespaceEvents = KORVADEL_AGENCY_SCHEMAS "EventosSIF.xsd";
inline constexpr const char* kNamespaceSoap = "http://schemas.xmlsoap.org/soap/envelope/";
#undef KORVADEL_AGENCY_SCHEMAS

// Limits.
inline constexpr size_t kRecordsPerMessage = 1000;   // records in one message, and in one exported document
inline constexpr size_t kLongestName = 120;          // NombreRazon
inline constexpr size_t kLongestRequirement = 18;    // RefRequerimiento

// TipoEvento of the event log.
enum class EventType {
  ModeStart = 1,        // the system starts working in the not-sending mode
  ModeEnd = 2,          // and stops
  RecordCheck = 3,      // a check of the invoice records was run
  RecordAnomaly = 4,    // it found an anomaly in the invoice records
  EventCheck = 5,       // a check of the event log was run
  EventAnomaly = 6,     // it found an anomaly in the events
  Restored = 7,         // the register was restored from a copy
  RecordsExported = 8,
  EventsExported = 9,
  Summary = 10,         // every six hours of work and at the end
  Other = 90,
};

// TipoAnomalia the checks report.
enum class AnomalyType {
  Fingerprint = 1,       // Integridad-huella
  Signature = 2,         // Integridad-firma
  IntegrityOther = 3,    // Integridad - Otros (a record changed outside its fingerprint)
  PreviousMissing = 4,   // not the first, and the one before it is missing
  NextMissing = 5,       // not the last, and the one after it is missing (a cut tail)
  ChainOther = 6,
  PreviousFingerprint = 8,  // its previous fingerprint is not the previous record's
  TimeBeforePrevious = 11,
  TimeInFuture = 13,
};

// EstadoRegistro and EstadoEnvio of an answer.
inline constexpr std::string_view kStateAccepted = "Correcto";
inline constexpr std::string_view kStateAcceptedWithErrors = "AceptadoConErrores";
inline constexpr std::string_view kStateRejected = "Incorrecto";
inline constexpr std::string_view kStatePartlyAccepted = "ParcialmenteCorrecto";  // EstadoEnvio only
// The error code of a record the agency already holds.
inline constexpr std::string_view kErrorDuplicate = "3000";

}  // namespace agency
