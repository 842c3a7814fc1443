#include "signing/events.h"

#include <cstdio>

#include "base/codepage.h"
#include "base/paths.h"
#include "base/text.h"
#include "agency/facts.h"
#include "recman/recman.h"
#include "register/agency.h"
#include "register/anchor.h"

namespace {

constexpr const char* kEventsNamespace = agency::kNamespaceEvents;

using F = EventFields;

// UTF-8 text for element content.
std::string Escaped(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (u < 32 && c != '\n') out += ' ';
    else out += c;
  }
  return out;
}

std::string Element(const std::string& name, const std::string& utf8) {
  return "<sf:" + name + ">" + Escaped(utf8) + "</sf:" + name + ">";
}

// Code page 850 text, at most max characters.
std::string Cp(const std::string& cp850, size_t max) { return Utf8FromCp858(cp850.substr(0, max)); }

std::string RecordIdXml(const RecordId& id, bool withFingerprint) {
  std::string out = Element("IDEmisorFactura", id.nif) + Element("NumSerieFactura", Cp(id.number, 60)) +
                    Element("FechaExpedicionFactura", id.date);
  if (withFingerprint) out += Element("Huella", id.fingerprint);
  return out;
}

std::string Count(int64_t n) { return std::to_string(n < 0 ? 0 : n); }

}  // namespace

std::string EventTypeCode(EventType type) {
  char code[4];
  std::snprintf(code, sizeof code, "%02d", static_cast<int>(type) % 100);
  return code;
}

EventEntry DecodeEvent(const KeptRecord& record) {
  EventEntry e;
  const std::string& r = record.bytes;
  e.sequence = KeptInt(r, F::Sequence);
  e.type = KeptText(r, F::Type);
  e.generatedAt = KeptText(r, F::GeneratedAt);
  e.previousFingerprint = KeptText(r, F::PreviousFingerprint);
  e.fingerprint = KeptText(r, F::Fingerprint);
  e.tailSequence = KeptInt(r, F::TailSequence);
  e.tailFingerprint = KeptText(r, F::TailFingerprint);
  e.xml = KeptXml(r, F::XmlLength, F::Xml);
  return e;
}

std::string EventFingerprintText(const EventIdentity& identity, const std::string& type,
                                 const std::string& previousFingerprint, const std::string& generatedAt) {
  const SoftwareIdentity& s = identity.software;
  return "NIF=" + Trim(s.producerNif) + "&ID=&IdSistemaInformatico=" + Trim(s.systemId) +
         "&Version=" + Trim(Cp(s.version, 50)) + "&NumeroInstalacion=" + Trim(identity.installation) +
         "&NIF=" + Trim(identity.issuerNif) + "&TipoEvento=" + Trim(type) + "&HuellaEvento=" +
         Trim(previousFingerprint) + "&FechaHoraHusoGenEvento=" + Trim(generatedAt);
}

std::string TailText(int32_t sequence, const std::string& fingerprint) {
  return "Registre " + std::to_string(sequence) + (fingerprint.empty() ? "" : " " + fingerprint);
}

std::string CheckLaunchedXml(bool onEvents, int64_t count) {
  const std::string what = onEvents ? "RegEvento" : "RegFacturacion";
  const std::string prefix = onEvents ? "NumeroDeRegistrosEventoProcesadosSobre" : "NumeroDeRegistrosFacturacionProcesadosSobre";
  std::string out = "<sf:LanzamientoProcesoDeteccionAnomalias" + what + ">";
  for (const char* part : {"IntegridadHuellas", "IntegridadFirmas", "TrazabilidadCadena", "TrazabilidadFechas"}) {
    out += Element(std::string("RealizadoProcesoSobre") + part + what, "S");
    out += Element(prefix + part, Count(count));
  }
  return out + "</sf:LanzamientoProcesoDeteccionAnomalias" + what + ">";
}

std::string AnomalyXml(bool onEvents, AnomalyType type, const std::string& detail, const RecordId* record,
                       const EventEntry* event) {
  const std::string what = onEvents ? "RegEvento" : "RegFacturacion";
  char code[4];
  std::snprintf(code, sizeof code, "%02d", static_cast<int>(type));
  std::string out = "<sf:DeteccionAnomalias" + what + ">" + Element("TipoAnomalia", code);
  if (!detail.empty()) out += Element("OtrosDatosAnomalia", Cp(detail, 100));
  if (!onEvents && record != nullptr) out += "<sf:RegistroFacturacionAnomalo>" + RecordIdXml(*record, false) + "</sf:RegistroFacturacionAnomalo>";
  if (onEvents && event != nullptr)
    out += "<sf:RegEventoAnomalo>" + Element("TipoEvento", event->type) + Element("FechaHoraHusoEvento", event->generatedAt) +
           Element("HuellaEvento", event->fingerprint) + "</sf:RegEventoAnomalo>";
  return out + "</sf:DeteccionAnomalias" + what + ">";
}

std::string RecordsExportedXml(const std::string& from, const std::string& to, const RecordId& first,
                               const RecordId& last, int64_t issued, int64_t vatCents, int64_t totalCents,
                               int64_t cancelled) {
  return "<sf:ExportacionRegFacturacionPeriodo>" + Element("FechaHoraHusoInicioPeriodoExport", from) +
         Element("FechaHoraHusoFinPeriodoExport", to) + "<sf:RegistroFacturacionInicialPeriodo>" +
         RecordIdXml(first, true) + "</sf:RegistroFacturacionInicialPeriodo><sf:RegistroFacturacionFinalPeriodo>" +
         RecordIdXml(last, true) + "</sf:RegistroFacturacionFinalPeriodo>" +
         Element("NumeroDeRegistrosFacturacionAltaExportados", Count(issued)) +
         Element("SumaCuotaTotalAlta", AgencyAmount(vatCents)) + Element("SumaImporteTotalAlta", AgencyAmount(totalCents)) +
         Element("NumeroDeRegistrosFacturacionAnulacionExportados", Count(cancelled)) +
         Element("RegistrosFacturacionExportadosDejanDeConservarse", "N") + "</sf:ExportacionRegFacturacionPeriodo>";
}

std::string EventsExportedXml(const std::string& from, const std::string& to, const EventEntry& first,
                              const EventEntry& last, int64_t count) {
  auto id = [](const EventEntry& e) {
    return Element("TipoEvento", e.type) + Element("FechaHoraHusoEvento", e.generatedAt) + Element("HuellaEvento", e.fingerprint);
  };
  return "<sf:ExportacionRegEventoPeriodo>" + Element("FechaHoraHusoInicioPeriodoExport", from) +
         Element("FechaHoraHusoFinPeriodoExport", to) + "<sf:RegistroEventoInicialPeriodo>" + id(first) +
         "</sf:RegistroEventoInicialPeriodo><sf:RegistroEventoFinalPeriodo>" + id(last) +
         "</sf:RegistroEventoFinalPeriodo>" + Element("NumeroDeRegEventoExportados", Count(count)) +
         Element("RegEventoExportadosDejanDeConservarse", "N") + "</sf:ExportacionRegEventoPeriodo>";
}

std::string SummaryXml(const SummaryCounts& counts) {
  std::string out = "<sf:ResumenEventos>";
  size_t types = 0;
  for (const auto& [type, n] : counts.eventsByType) {
    if (++types > 20) break;
    out += "<sf:TipoEvento>" + Element("TipoEvento", type) + Element("NumeroDeEventos", Count(n > 9999 ? 9999 : n)) +
           "</sf:TipoEvento>";
  }
  // The schema asks for at least one count: the summary itself.
  if (types == 0) out += "<sf:TipoEvento>" + Element("TipoEvento", "10") + Element("NumeroDeEventos", "0") + "</sf:TipoEvento>";
  if (counts.haveRecords) {
    out += "<sf:RegistroFacturacionInicialPeriodo>" + RecordIdXml(counts.first, true) +
           "</sf:RegistroFacturacionInicialPeriodo><sf:RegistroFacturacionFinalPeriodo>" + RecordIdXml(counts.last, true) +
           "</sf:RegistroFacturacionFinalPeriodo>";
  }
  return out + Element("NumeroDeRegistrosFacturacionAltaGenerados", Count(counts.issued)) +
         Element("SumaCuotaTotalAlta", AgencyAmount(counts.vatCents)) +
         Element("SumaImporteTotalAlta", AgencyAmount(counts.totalCents)) +
         Element("NumeroDeRegistrosFacturacionAnulacionGenerados", Count(counts.cancelled)) + "</sf:ResumenEventos>";
}

std::string EventXml(const EventEntry& event, const EventEntry* previous, const std::string& ownData,
                     const EventIdentity& identity) {
  const SoftwareIdentity& s = identity.software;
  auto yesNo = [](bool b) { return std::string(b ? "S" : "N"); };
  std::string x = "<sf:RegistroEvento xmlns:sf=\"" + std::string(kEventsNamespace) + "\">\n";
  x += "  " + Element("IDVersion", "1.0") + "\n  <sf:Evento>\n";
  x += "    <sf:SistemaInformatico>" + Element("NombreRazon", Cp(s.producerName, 120)) + Element("NIF", s.producerNif) +
       Element("NombreSistemaInformatico", Cp(s.systemName, 30)) + Element("IdSistemaInformatico", s.systemId) +
       Element("Version", Cp(s.version, 50)) + Element("NumeroInstalacion", identity.installation.substr(0, 100)) +
       Element("TipoUsoPosibleSoloVerifactu", yesNo(s.sendingOnly)) +
       Element("TipoUsoPosibleMultiOT", yesNo(s.multipleIssuers)) + Element("IndicadorMultiplesOT", "N") +
       "</sf:SistemaInformatico>\n";
  x += "    <sf:ObligadoEmision>" + Element("NombreRazon", Cp(identity.issuerName, 120)) +
       Element("NIF", identity.issuerNif) + "</sf:ObligadoEmision>\n";
  x += "    " + Element("FechaHoraHusoGenEvento", event.generatedAt) + "\n";
  x += "    " + Element("TipoEvento", event.type) + "\n";
  if (!ownData.empty()) x += "    <sf:DatosPropiosEvento>" + ownData + "</sf:DatosPropiosEvento>\n";
  x += "    " + Element("OtrosDatosEvento", TailText(event.tailSequence, event.tailFingerprint)) + "\n";
  if (previous == nullptr) {
    x += "    <sf:Encadenamiento>" + Element("PrimerEvento", "S") + "</sf:Encadenamiento>\n";
  } else {
    x += "    <sf:Encadenamiento><sf:EventoAnterior>" + Element("TipoEvento", previous->type) +
         Element("FechaHoraHusoGenEvento", previous->generatedAt) + Element("HuellaEvento", previous->fingerprint) +
         "</sf:EventoAnterior></sf:Encadenamiento>\n";
  }
  x += "    " + Element("TipoHuella", "01") + "\n";
  x += "    " + Element("HuellaEvento", event.fingerprint) + "\n";
  x += "  </sf:Evento>\n</sf:RegistroEvento>\n";
  return x;
}

int16_t EventLog::Open(const std::string& root, bool readOnly) {
  anchorPath_ = HostPath(root + EventAnchorFileName);
  return file_.Open(HostPath(root + EventLogFileName), readOnly);
}

int16_t EventLog::Append(EventType type, const std::string& ownData, int32_t tailSequence,
                         const std::string& tailFingerprint, const EventIdentity& identity, const SigningKey& key,
                         const std::function<std::string()>& clock, EventEntry* written, std::string* errorOut) {
  EventEntry made;
  const int16_t status = file_.AppendNext([&](const KeptRecord* last, std::string& next) -> int16_t {
    EventEntry previous;
    if (last != nullptr) previous = DecodeEvent(*last);
    made = EventEntry{};
    made.sequence = last != nullptr ? previous.sequence + 1 : 1;
    made.type = EventTypeCode(type);
    made.generatedAt = clock();
    made.previousFingerprint = last != nullptr ? previous.fingerprint : std::string();
    made.fingerprint = Sha256Hex(EventFingerprintText(identity, made.type, made.previousFingerprint, made.generatedAt));
    made.tailSequence = tailSequence;
    made.tailFingerprint = tailFingerprint;
    const std::string xml = EventXml(made, last != nullptr ? &previous : nullptr, ownData, identity);
    std::string error;
    if (!key.Sign(xml, "</sf:Evento>", made.generatedAt, made.fingerprint, made.xml, error) ||
        made.xml.size() > F::Xml.width) {
      if (errorOut != nullptr) *errorOut = error.empty() ? "too long" : error;
      return EventNotSigned;
    }
    std::vector<uint8_t> rec(KeptRecordSize, ' ');
    uint8_t* r = rec.data();
    PutFieldInt32(r, F::Sequence, made.sequence);
    PutFieldText(r, F::Type, made.type);
    PutFieldText(r, F::GeneratedAt, made.generatedAt);
    PutFieldText(r, F::PreviousFingerprint, made.previousFingerprint);
    PutFieldText(r, F::Fingerprint, made.fingerprint);
    PutFieldInt32(r, F::TailSequence, made.tailSequence);
    PutFieldText(r, F::TailFingerprint, made.tailFingerprint);
    PutFieldInt32(r, F::XmlLength, static_cast<int32_t>(made.xml.size()));
    PutFieldBytes(r, F::Xml, made.xml);
    next.assign(rec.begin(), rec.end());
    return 0;
  });
  if (status == RmSuccess && written != nullptr) *written = made;
  if (status == RmSuccess) static_cast<void>(WriteRegisterAnchor(anchorPath_, RegisterAnchor{made.sequence, made.fingerprint}));
  return status;
}

int16_t EventLog::ReadAll(std::vector<EventEntry>& out) {
  out.clear();
  std::vector<KeptRecord> records;
  const int16_t status = file_.ReadAll(records);
  for (const KeptRecord& r : records) out.push_back(DecodeEvent(r));
  return status;
}

int16_t EventLog::Get(int32_t sequence, EventEntry& out) {
  KeptRecord record;
  const int16_t status = file_.Get(sequence, record);
  if (status == RmSuccess) out = DecodeEvent(record);
  return status;
}

int16_t EventLog::Last(EventEntry& out) {
  KeptRecord record;
  const int16_t status = file_.Last(record);
  if (status == RmSuccess) out = DecodeEvent(record);
  return status;
}
