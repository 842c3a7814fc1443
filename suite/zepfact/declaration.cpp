#include "suite/zepfact/declaration.h"

#include "base/codepage.h"

namespace {

const char* YesNo(bool yes) { return yes ? "S\xc3\xad" : "No"; }

}  // namespace

std::string DeclarationText(const SoftwareIdentity& s) {
  const auto text = [](const std::string& cp850) { return Utf8FromCp858(cp850); };
  std::string out;
  out += "DECLARACI\xc3\x93N RESPONSABLE DEL SISTEMA INFORM\xc3\x81TICO DE FACTURACI\xc3\x93N\n\n";
  out += "a) Nombre del sistema inform\xc3\xa1tico: " + text(s.systemName) + "\n";
  out += "b) C\xc3\xb3" "digo identificador del sistema inform\xc3\xa1tico: " + text(s.systemId) + "\n";
  out += "c) Versi\xc3\xb3n completa: " + text(s.version) + "\n";
  out +=
      "d) Componentes y descripci\xc3\xb3n:\n"
      "   Hace las facturas de honorarios de un administrador de fincas, guarda de cada\n"
      "   factura emitida un registro de facturaci\xc3\xb3n encadenado por su huella\n"
      "   (SHA-256) en el registro de facturas, imprime en cada factura el c\xc3\xb3" "digo QR de\n"
      "   la Agencia Tributaria y exporta los registros en el formato de la Agencia.\n"
      "   Funciones:\n"
      "     emisi\xc3\xb3n de facturas, facturas rectificativas (por sustituci\xc3\xb3n o por\n"
      "     diferencias) y anulaciones, cada una con su registro encadenado;\n"
      "     remisi\xc3\xb3n de los registros a la Agencia (VERI*FACTU: servicio web SOAP\n"
      "     sobre TLS con el certificado del obligado tributario), con reintentos;\n"
      "     conservaci\xc3\xb3n sin remisi\xc3\xb3n: firma XAdES de cada registro y registro de\n"
      "     eventos firmado y encadenado, con su comprobaci\xc3\xb3n;\n"
      "     comprobaci\xc3\xb3n de la cadena, exportaciones (CSV, totales por serie y\n"
      "     trimestre, XML de la Agencia), reimpresi\xc3\xb3n de copias y env\xc3\xado de las\n"
      "     facturas por correo electr\xc3\xb3nico (SMTP con TLS).\n"
      "   Programas:\n"
      "     korvadel  m\xc3\xb3" "dulo de facturaci\xc3\xb3n de honorarios: emite las facturas y\n"
      "               a\xc3\xb1" "ade sus registros al registro de facturas\n"
      "     zepfact   herramienta del registro: lista, comprueba la cadena, exporta,\n"
      "               reimprime, rectifica, anula, remite, env\xc3\xad" "a por correo y\n"
      "               muestra esta declaraci\xc3\xb3n\n"
      "     zepprint  programa de impresi\xc3\xb3n: PDF, texto o impresora\n"
      "     zepmenu   lanzador de la sesi\xc3\xb3n del m\xc3\xb3" "dulo\n"
      "     brovex    visor de las p\xc3\xa1ginas de ayuda\n"
      "     recman    gestor de los ficheros de datos y su herramienta\n"
      "   Bibliotecas: nettle (SHA-256), SQLite (almacenamiento de los ficheros),\n"
      "   OpenSSL (TLS y certificados), libxml2 (XML), libxmlsec1 (firmas XAdES),\n"
      "   libcurl (servicio web de la Agencia y correo), libqrencode (c\xc3\xb3" "digo QR),\n"
      "   cairo (PDF), Pango (texto de las p\xc3\xa1ginas), librsvg (papel de las\n"
      "   facturas), ncursesw (pantalla de texto), biblioteca de C de GNU.\n"
      "   Equipo: un ordenador con Linux y un terminal de texto.\n";
  out += std::string("e) Funciona exclusivamente como VERI*FACTU: ") + YesNo(s.sendingOnly) + "\n";
  out += std::string("f) Permite dar soporte a la facturaci\xc3\xb3n de varios obligados tributarios: ") +
         YesNo(s.multipleIssuers) + "\n";
  out +=
      "g) Tipos de firma de los registros de facturaci\xc3\xb3n y de evento: XAdES Enveloped\n"
      "   para los registros que se conservan sin remitirlos a la Agencia; en la\n"
      "   modalidad VERI*FACTU los registros no se firman.\n";
  out += "h) Raz\xc3\xb3n social de la entidad productora: " + text(s.producerName) + "\n";
  out += "i) NIF de la entidad productora: " + text(s.producerNif) + "\n";
  out += "j) Direcci\xc3\xb3n postal completa de contacto: " + text(s.producerAddress) + "\n";
  out += "k) " + text(s.producerName) + " declara que el sistema inform\xc3\xa1tico\n   " + text(s.systemName) +
         ", en su versi\xc3\xb3n " + text(s.version) +
         ", cumple lo dispuesto en:\n"
         "   el art\xc3\xad" "culo 29.2.j) de la Ley 58/2003, de 17 de diciembre, General\n"
         "   Tributaria; el Reglamento aprobado por el Real Decreto 1007/2023, de 5 de\n"
         "   diciembre; la Orden HAC/1177/2024, de 17 de octubre, y las especificaciones\n"
         "   que la sede electr\xc3\xb3nica de la Agencia Estatal de Administraci\xc3\xb3n\n"
         "   Tributaria publica para completarla.\n";
  out += "l) Fecha y lugar de suscripci\xc3\xb3n: " + text(s.declarationDate) + ", " + text(s.declarationPlace) + "\n";
  return out;
}
