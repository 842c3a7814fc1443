#include "register/xml.h"

#include <string_view>
#include <utility>

#include "base/codepage.h"
#include "base/text.h"
#include "register/agency.h"
#include "register/taxid.h"

namespace {

// The fixed description of every invoice's operation (UTF-8).
constexpr std::string_view kOperationDescription = "Honorarios de administraci\xc3\xb3n de fincas";

// At most max characters of code page 850 text (one byte each).
std::string_view Cut(std::string_view cp850, size_t max) { return cp850.substr(0, max); }

// Elements of SuministroInformacion.xsd ("sf"), indented two blanks a level.
class XmlWriter {
 public:
  void Open(std::string_view name, std::string_view attributes = "") {
    Indent();
    out_ += "<sf:";
    out_ += name;
    out_ += attributes;
    out_ += ">\n";
    ++depth_;
  }
  void Close(std::string_view name) {
    --depth_;
    Indent();
    out_ += "</sf:";
    out_ += name;
    out_ += ">\n";
  }
  // An element of code page 850 text.
  void Element(std::string_view name, std::string_view cp850) { Utf8Element(name, Utf8FromCp858(cp850)); }
  void Utf8Element(std::string_view name, std::string_view utf8) {
    Indent();
    out_ += "<sf:";
    out_ += name;
    out_ += '>';
    out_ += XmlEscaped(utf8);
    out_ += "</sf:";
    out_ += name;
    out_ += ">\n";
  }
  std::string Take() { return std::move(out_); }

 private:
  void Indent() { out_.append(static_cast<size_t>(depth_) * 2, ' '); }
  std::string out_;
  int depth_ = 0;
};

const char* YesNo(bool yes) { return yes ? "S" : "N"; }

// The identification of the invoice a record is about, as IDFactura,
// RegistroAnterior and IDFacturaRectificada start it; suffix "Anulada" in
// a cancellation's IDFactura.
void InvoiceId(XmlWriter& xml, const RegisterEntry& e, std::string_view suffix = "") {
  xml.Element(std::string("IDEmisorFactura").append(suffix), Trim(e.issuerTaxId));
  xml.Element(std::string("NumSerieFactura").append(suffix),
              Trim(PrintedInvoiceNumber(e.IdentitySeries(), e.IdentityNumber())));
  xml.Element(std::string("FechaExpedicionFactura").append(suffix), AgencyDate(e.IdentityDate()));
}

// Encadenamiento: the first record, or the record before it.
void Chaining(XmlWriter& xml, const RegisterEntry& e, const RegisterEntry* previous) {
  xml.Open("Encadenamiento");
  if (previous == nullptr) {
    xml.Element("PrimerRegistro", "S");
  } else {
    xml.Open("RegistroAnterior");
    InvoiceId(xml, *previous);
    // The fingerprint this record was hashed with, which the agency
    // recomputes it from.
    xml.Element("Huella", Trim(e.previousFingerprint));
    xml.Close("RegistroAnterior");
  }
  xml.Close("Encadenamiento");
}

void SoftwareSystem(XmlWriter& xml, const SoftwareIdentity& software, const std::string& installationNumber) {
  xml.Open("SistemaInformatico");
  xml.Element("NombreRazon", Cut(software.producerName, 120));
  xml.Element("NIF", software.producerNif);
  xml.Element("NombreSistemaInformatico", Cut(software.systemName, 30));
  xml.Element("IdSistemaInformatico", software.systemId);
  xml.Element("Version", Cut(software.version, 50));
  xml.Element("NumeroInstalacion", Cut(installationNumber, 100));
  xml.Element("TipoUsoPosibleSoloVerifactu", YesNo(software.sendingOnly));
  xml.Element("TipoUsoPosibleMultiOT", YesNo(software.multipleIssuers));
  xml.Element("IndicadorMultiplesOT", "N");
  xml.Close("SistemaInformatico");
}

void Fingerprint(XmlWriter& xml, const RegisterEntry& e) {
  xml.Element("FechaHoraHusoGenRegistro", Trim(e.generatedAt));
  xml.Element("TipoHuella", "01");
  xml.Element("Huella", Trim(e.fingerprint));
}

// Pre: the recipient is identifiable.
void Recipient(XmlWriter& xml, const RegisterEntry& e, const RecipientId& id) {
  xml.Element("NombreRazon", Cut(e.recipientName, 120));
  if (id.kind == RecipientIdKind::Nif || id.kind == RecipientIdKind::NifAsWritten) {
    xml.Element("NIF", id.id);
    return;
  }
  xml.Open("IDOtro");
  if (!id.country.empty()) xml.Element("CodigoPais", id.country);
  xml.Element("IDType", kIdTypeEuVat);
  xml.Element("ID", Cut(id.id, 20));
  xml.Close("IDOtro");
}

}  // namespace

std::string RegistroAltaXml(const RegisterEntry& e, const RegisterEntry* previous, const std::string& issuerName,
                            const SoftwareIdentity& software, const std::string& installationNumber,
                            char rejection) {
  const RecipientId recipient = ClassifyRecipientTaxId(e.recipientTaxId);
  if (recipient.kind == RecipientIdKind::NotIdentifiable) return std::string();

  XmlWriter xml;
  xml.Open("RegistroAlta", std::string(" xmlns:sf=\"") + AgencyNamespaceSF + "\"");
  xml.Element("IDVersion", "1.0");
  xml.Open("IDFactura");
  InvoiceId(xml, e);
  xml.Close("IDFactura");
  xml.Element("NombreRazonEmisor", Cut(Trim(issuerName), 120));
  if (e.kind == RegisterKindCorrection) {
    xml.Element("Subsanacion", "S");
    if (rejection == 'X' || rejection == 'S') xml.Element("RechazoPrevio", std::string(1, rejection));
  }
  xml.Element("TipoFactura", e.AgencyInvoiceType());
  if (e.IsCorrective()) {
    xml.Element("TipoRectificativa", std::string(1, e.correctionForm == 'S' ? 'S' : 'I'));
    xml.Open("FacturasRectificadas");
    xml.Open("IDFacturaRectificada");
    xml.Element("IDEmisorFactura", Trim(e.issuerTaxId));
    xml.Element("NumSerieFactura", Trim(PrintedInvoiceNumber(e.refSeries, e.refNumber)));
    xml.Element("FechaExpedicionFactura", AgencyDate(e.refDate));
    xml.Close("IDFacturaRectificada");
    xml.Close("FacturasRectificadas");
    if (e.correctionForm == 'S') {
      xml.Open("ImporteRectificacion");
      xml.Element("BaseRectificada", AgencyAmount(e.refBase));
      xml.Element("CuotaRectificada", AgencyAmount(e.refVat));
      xml.Close("ImporteRectificacion");
    }
  }
  xml.Utf8Element("DescripcionOperacion", e.description.empty() ? kOperationDescription : std::string_view(e.description));
  xml.Open("Destinatarios");
  xml.Open("IDDestinatario");
  Recipient(xml, e, recipient);
  xml.Close("IDDestinatario");
  xml.Close("Destinatarios");
  xml.Open("Desglose");
  xml.Open("DetalleDesglose");
  xml.Element("Impuesto", "01");
  xml.Element("ClaveRegimen", "01");
  xml.Element("CalificacionOperacion", "S1");
  xml.Element("TipoImpositivo", AgencyAmount(e.vatRate));
  xml.Element("BaseImponibleOimporteNoSujeto", AgencyAmount(e.base));
  xml.Element("CuotaRepercutida", AgencyAmount(e.vat));
  xml.Close("DetalleDesglose");
  xml.Close("Desglose");
  xml.Element("CuotaTotal", AgencyAmount(e.vat));
  xml.Element("ImporteTotal", AgencyAmount(AgencyInvoiceTotal(e)));
  Chaining(xml, e, previous);
  SoftwareSystem(xml, software, installationNumber);
  Fingerprint(xml, e);
  xml.Close("RegistroAlta");
  return xml.Take();
}

std::string RegistroAnulacionXml(const RegisterEntry& e, const RegisterEntry* previous,
                                 const SoftwareIdentity& software, const std::string& installationNumber,
                                 bool withoutPrevious, bool afterRejection) {
  XmlWriter xml;
  xml.Open("RegistroAnulacion", std::string(" xmlns:sf=\"") + AgencyNamespaceSF + "\"");
  xml.Element("IDVersion", "1.0");
  xml.Open("IDFactura");
  InvoiceId(xml, e, "Anulada");
  xml.Close("IDFactura");
  if (withoutPrevious) xml.Element("SinRegistroPrevio", "S");
  if (afterRejection) xml.Element("RechazoPrevio", "S");
  Chaining(xml, e, previous);
  SoftwareSystem(xml, software, installationNumber);
  Fingerprint(xml, e);
  xml.Close("RegistroAnulacion");
  return xml.Take();
}

std::string RecordXml(const RegisterEntry& e, const RegisterEntry* previous, const std::string& issuerName,
                      const SoftwareIdentity& software, const std::string& installationNumber) {
  if (e.IsCancellation()) return RegistroAnulacionXml(e, previous, software, installationNumber);
  return RegistroAltaXml(e, previous, issuerName, software, installationNumber);
}
