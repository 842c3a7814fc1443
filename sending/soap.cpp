#include "sending/soap.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "agency/facts.h"
#include "base/codepage.h"
#include "base/text.h"
#include "register/xml.h"

namespace {

constexpr const char* kSoapNamespace = agency::kNamespaceSoap;
constexpr const char* kAnswerNamespace = agency::kNamespaceAnswer;

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

bool Named(const xmlNode* n, const char* name, const char* ns = nullptr) {
  if (n == nullptr || n->type != XML_ELEMENT_NODE || std::strcmp(reinterpret_cast<const char*>(n->name), name) != 0)
    return false;
  if (ns == nullptr) return true;
  return n->ns != nullptr && std::strcmp(reinterpret_cast<const char*>(n->ns->href), ns) == 0;
}

// The first child element with this local name (any namespace).
const xmlNode* Child(const xmlNode* parent, const char* name) {
  if (parent == nullptr) return nullptr;
  for (const xmlNode* n = parent->children; n != nullptr; n = n->next)
    if (Named(n, name)) return n;
  return nullptr;
}

std::string Text(const xmlNode* n) {
  if (n == nullptr) return std::string();
  xmlChar* content = xmlNodeGetContent(n);
  std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return Trim(text);
}

bool WholeNumber(const std::string& text, int32_t& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = static_cast<int32_t>(std::atol(text.c_str()));
  return true;
}

}  // namespace

std::string SubmissionEnvelope(const Filer& filer, bool incident, const std::string& endOfMode,
                               const std::vector<std::string_view>& records) {
  std::string m;
  size_t size = 1024;
  for (std::string_view r : records) size += r.size() + 64;
  m.reserve(size);
  m += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  m += std::string("<soapenv:Envelope xmlns:soapenv=\"") + kSoapNamespace + "\"\n";
  m += std::string("    xmlns:sfLR=\"") + AgencyNamespaceLR + "\"\n";
  m += std::string("    xmlns:sf=\"") + AgencyNamespaceSF + "\">\n";
  m += "<soapenv:Header/>\n<soapenv:Body>\n<sfLR:RegFactuSistemaFacturacion>\n";
  m += "  <sfLR:Cabecera>\n    <sf:ObligadoEmision>\n";
  m += "      <sf:NombreRazon>" + XmlEscaped(Utf8FromCp858(filer.name.substr(0, 120))) + "</sf:NombreRazon>\n";
  m += "      <sf:NIF>" + XmlEscaped(filer.taxId) + "</sf:NIF>\n";
  m += "    </sf:ObligadoEmision>\n";
  if (incident || !endOfMode.empty()) {
    m += "    <sf:RemisionVoluntaria>\n";
    if (!endOfMode.empty()) m += "      <sf:FechaFinVeriFactu>" + XmlEscaped(endOfMode) + "</sf:FechaFinVeriFactu>\n";
    if (incident) m += "      <sf:Incidencia>S</sf:Incidencia>\n";
    m += "    </sf:RemisionVoluntaria>\n";
  }
  m += "  </sfLR:Cabecera>\n";
  for (std::string_view r : records) {
    m += "  <sfLR:RegistroFactura>\n";
    m += r;
    if (!r.empty() && r.back() != '\n') m += '\n';
    m += "  </sfLR:RegistroFactura>\n";
  }
  m += "</sfLR:RegFactuSistemaFacturacion>\n</soapenv:Body>\n</soapenv:Envelope>\n";
  return m;
}

SubmissionAnswer ReadSubmissionAnswer(std::string_view body) {
  using Kind = SubmissionAnswer::Kind;
  SubmissionAnswer a;
  std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(body.data(), static_cast<int>(body.size()), "answer.xml", nullptr,
                                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) {
    a.kind = Kind::NotXml;
    const xmlError* e = xmlGetLastError();
    a.detail = e != nullptr && e->message != nullptr ? Trim(e->message) : "?";
    return a;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!Named(root, "Envelope", kSoapNamespace)) {
    a.detail = "soapenv:Envelope";
    return a;
  }
  const xmlNode* bodyNode = Child(root, "Body");
  const xmlNode* fault = Child(bodyNode, "Fault");
  if (fault != nullptr) {
    const std::string code = Text(Child(fault, "faultcode"));
    a.detail = Text(Child(fault, "faultstring"));
    const size_t colon = code.find(':');
    const std::string local = colon == std::string::npos ? code : code.substr(colon + 1);
    // "Server" and its subcodes ("Server.Busy") are the service's trouble.
    a.kind = local.compare(0, 6, "Server") == 0 ? Kind::ServerFault : Kind::ClientFault;
    if (a.detail.empty()) a.detail = code;
    return a;
  }
  const xmlNode* answer = Child(bodyNode, "RespuestaRegFactuSistemaFacturacion");
  if (!Named(answer, "RespuestaRegFactuSistemaFacturacion", kAnswerNamespace)) {
    a.detail = "RespuestaRegFactuSistemaFacturacion";
    return a;
  }
  a.csv = Text(Child(answer, "CSV"));
  a.state = Text(Child(answer, "EstadoEnvio"));
  if (!WholeNumber(Text(Child(answer, "TiempoEsperaEnvio")), a.wait)) {
    a.detail = "TiempoEsperaEnvio";
    return a;
  }
  if (a.state != agency::kStateAccepted && a.state != agency::kStatePartlyAccepted && a.state != agency::kStateRejected) {
    a.detail = "EstadoEnvio";
    return a;
  }
  for (const xmlNode* n = answer->children; n != nullptr; n = n->next) {
    if (!Named(n, "RespuestaLinea")) continue;
    LineAnswer line;
    const xmlNode* id = Child(n, "IDFactura");
    line.id.issuer = Text(Child(id, "IDEmisorFactura"));
    line.id.number = Text(Child(id, "NumSerieFactura"));
    line.id.date = Text(Child(id, "FechaExpedicionFactura"));
    line.operation = Text(Child(Child(n, "Operacion"), "TipoOperacion"));
    line.state = Text(Child(n, "EstadoRegistro"));
    const std::string code = Text(Child(n, "CodigoErrorRegistro"));
    if (!code.empty() && !WholeNumber(code, line.errorCode)) {
      a.detail = "CodigoErrorRegistro";
      return a;
    }
    line.errorText = Text(Child(n, "DescripcionErrorRegistro"));
    const xmlNode* duplicate = Child(n, "RegistroDuplicado");
    line.duplicate = duplicate != nullptr;
    line.duplicateState = Text(Child(duplicate, "EstadoRegistroDuplicado"));
    if (line.id.number.empty() ||
        (line.state != agency::kStateAccepted && line.state != agency::kStateAcceptedWithErrors &&
         line.state != agency::kStateRejected)) {
      a.detail = "RespuestaLinea";
      return a;
    }
    a.lines.push_back(std::move(line));
  }
  a.kind = Kind::Answer;
  return a;
}
