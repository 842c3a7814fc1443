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

// The invoice's identification as IDFactura and RegistroAnterior start it.
void InvoiceId(XmlWriter& xml, const RegisterEntry& e) {
  xml.Element("IDEmisorFactura", Trim(e.issuerTaxId));
  xml.Element("NumSerieFactura", Trim(PrintedInvoiceNumber(e.series, e.number)));
  xml.Element("FechaExpedicionFactura", AgencyDate(e.date));
}

// Pre: the recipient is identifiable.
void Recipient(XmlWriter& xml, const RegisterEntry& e, const RecipientId& id) {
  xml.Element("NombreRazon", Cut(e.recipientName, 120));
  if (id.kind == RecipientIdKind::Nif) {
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
  xml.Element("TipoFactura", "F1");
  xml.Utf8Element("DescripcionOperacion", kOperationDescription);
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
  xml.Element("FechaHoraHusoGenRegistro", Trim(e.generatedAt));
  xml.Element("TipoHuella", "01");
  xml.Element("Huella", Trim(e.fingerprint));
  xml.Close("RegistroAlta");
  return xml.Take();
}
