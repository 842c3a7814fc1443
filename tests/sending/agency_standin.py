#!/usr/bin/env python3
"""A stand-in for the tax agency's records service, for tests.

HTTPS on 127.0.0.1 with a client certificate required (signed by the test's
own authority). Each request body is checked against the agency's schemas
(SuministroLR.xsd inside a SOAP envelope) and each record's fingerprint and
chain link are recomputed. The answer follows RespuestaSuministro.xsd.

What it does with each request comes from WORK/plan, one word a line, one
line per request (then "ok" for every later one):
  ok        every record Correcto (one the agency has already: duplicate)
  partial   the first record Incorrecto (1110), the rest Correcto
  errors    the first record AceptadoConErrores (2001), the rest Correcto
  wait2     as ok, with TiempoEsperaEnvio 2
  fault     a SOAP fault "Server" (HTTP 500), nothing kept
  client    a SOAP fault "Client" (HTTP 500), nothing kept
  drop      the connection closed without an answer, nothing kept
  slow      as ok, answered after 3 s
  hold      the records kept as received, the answer after 30 s
  notxml    an answer that is not XML, nothing kept
  mismatch  an answer naming another invoice, nothing kept
  mismatch1 as ok, but the first line names another invoice (that record not kept)
  header    the header refused (SOAP fault "Client", Codigo[4104]), nothing kept
  huge      a 200 MB answer, sent in chunks without a length, nothing kept
Records are judged as the agency's documents say (operativa of alta and
anulacion): a second alta of an invoice it holds is a duplicate (3000) with
EstadoRegistroDuplicado Correcta, AceptadaConErrores or Anulada; a
cancellation names the cancelled invoice in its answer line with
TipoOperacion Anulacion, needs the invoice held (else 3002) unless
SinRegistroPrevio=S (then the invoice must not be held), and is refused
with 3001 when the invoice is cancelled already; a header's FechaFinVeriFactu
must be 31-12 of this year or the last (else Codigo[4120]).
Every request is logged to WORK/log.jsonl (its time on this clock, records,
Incidencia, plan word, schema and chain findings) and kept as WORK/req-N.xml.
The port is written to WORK/port once listening, and also, as a line, to the
file descriptor given as the fourth argument, so that a test waits for it
through a pipe; a "hold" request writes the line "held" there once its
records are kept.
"""
import hashlib
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time

from lxml import etree

SOAP = "http://schemas.xmlsoap.org/soap/envelope/"
BASE = "https://www2.agenciatributaria.gob.es/static_files/common/internet/dep/aplicaciones/es/aeat/tike/cont/ws/"
SF = BASE + "SuministroInformacion.xsd"
LR = BASE + "SuministroLR.xsd"
R = BASE + "RespuestaSuministro.xsd"
NS = {"s": SOAP, "sf": SF, "sfLR": LR}

CODES = {1110: "El NIF no está identificado en el censo de la AEAT.",
         2001: "El NIF del bloque Destinatarios no está identificado en el censo de la AEAT.",
         3000: "Registro de facturación duplicado.",
         3001: "El registro de facturación ya ha sido dado de baja.",
         3002: "No existe el registro de facturación."}
HUGE = 200 * 1024 * 1024


class Agency:
    def __init__(self, work, schemas):
        self.work = work
        self.schema = etree.XMLSchema(etree.parse(os.path.join(schemas, "SuministroLR.xsd")))
        self.lock = threading.Lock()
        self.count = 0
        self.registered = {}   # (issuer, number, date) -> state of the invoice at the agency
        self.fingerprints = set()
        self.csv = 0

    def plan_word(self):
        path = os.path.join(self.work, "plan")
        try:
            with open(path) as f:
                words = f.read().split()
        except OSError:
            words = []
        word = words[self.count - 1] if self.count - 1 < len(words) else "ok"
        return word

    def text(self, node, path):
        found = node.find(path, NS)
        return (found.text or "").strip() if found is not None else ""

    def fingerprint_ok(self, rec):
        if rec.tag == "{%s}RegistroAlta" % SF:
            pairs = [("IDEmisorFactura", "sf:IDFactura/sf:IDEmisorFactura"),
                     ("NumSerieFactura", "sf:IDFactura/sf:NumSerieFactura"),
                     ("FechaExpedicionFactura", "sf:IDFactura/sf:FechaExpedicionFactura"),
                     ("TipoFactura", "sf:TipoFactura"), ("CuotaTotal", "sf:CuotaTotal"),
                     ("ImporteTotal", "sf:ImporteTotal")]
        else:
            pairs = [("IDEmisorFacturaAnulada", "sf:IDFactura/sf:IDEmisorFacturaAnulada"),
                     ("NumSerieFacturaAnulada", "sf:IDFactura/sf:NumSerieFacturaAnulada"),
                     ("FechaExpedicionFacturaAnulada", "sf:IDFactura/sf:FechaExpedicionFacturaAnulada")]
        previous = self.text(rec, "sf:Encadenamiento/sf:RegistroAnterior/sf:Huella")
        values = [(n, self.text(rec, p)) for n, p in pairs]
        values += [("Huella", previous), ("FechaHoraHusoGenRegistro", self.text(rec, "sf:FechaHoraHusoGenRegistro"))]
        text = "&".join("%s=%s" % nv for nv in values)
        computed = hashlib.sha256(text.encode("utf-8")).hexdigest().upper()
        own = self.text(rec, "sf:Huella")
        first = self.text(rec, "sf:Encadenamiento/sf:PrimerRegistro") == "S"
        linked = first or previous in self.fingerprints
        return computed == own and linked, own

    def handle(self, body):
        with self.lock:
            self.count += 1
            n = self.count
            received = time.time()
            with open(os.path.join(self.work, "req-%d.xml" % n), "wb") as f:
                f.write(body)
            word = self.plan_word()
            entry = {"n": n, "t": received, "word": word}
            try:
                doc = etree.fromstring(body)
                message = doc.find("s:Body/sfLR:RegFactuSistemaFacturacion", NS)
                entry["valid"] = message is not None and self.schema.validate(etree.ElementTree(message))
                if not entry["valid"]:
                    entry["errors"] = [str(e) for e in self.schema.error_log][:5]
            except etree.XMLSyntaxError as e:
                message = None
                entry["valid"] = False
                entry["errors"] = [str(e)]
            records = [] if message is None else message.findall("sfLR:RegistroFactura/*", NS)
            entry["records"] = len(records)
            entry["incidencia"] = message is not None and self.text(
                message, "sfLR:Cabecera/sf:RemisionVoluntaria/sf:Incidencia") == "S"
            entry["numbers"] = [self.text(r, "sf:IDFactura/sf:NumSerieFactura") for r in records]
            entry["subsanacion"] = [self.text(r, "sf:Subsanacion") for r in records]
            entry["rechazo"] = [self.text(r, "sf:RechazoPrevio") for r in records]
            entry["sinregistro"] = [self.text(r, "sf:SinRegistroPrevio") for r in records]
            entry["fin"] = "" if message is None else self.text(
                message, "sfLR:Cabecera/sf:RemisionVoluntaria/sf:FechaFinVeriFactu")
            chain = True
            for r in records:
                ok, own = self.fingerprint_ok(r)
                chain = chain and ok
                self.fingerprints.add(own)
            entry["chain"] = chain
            answer, status = self.answer(word, message, records, entry)
            entry["status"] = status
            with open(os.path.join(self.work, "log.jsonl"), "a") as f:
                f.write(json.dumps(entry) + "\n")
            return word, answer, status

    def fault(self, code, text):
        return ('<?xml version="1.0" encoding="UTF-8"?>\n<env:Envelope xmlns:env="%s"><env:Body><env:Fault>'
                '<faultcode>env:%s</faultcode><faultstring>%s</faultstring></env:Fault></env:Body></env:Envelope>'
                % (SOAP, code, text)).encode()

    def judge(self, i, word, r, cancellation, key):
        """The state, error code and duplicate's state of one record."""
        if cancellation:
            held = self.registered.get(key)
            if self.text(r, "sf:SinRegistroPrevio") == "S":
                if held is not None:
                    return "Incorrecto", 3000, None
            elif held is None:
                return "Incorrecto", 3002, None
            elif held == "Anulada":
                return "Incorrecto", 3001, None
            if i == 0 and word == "partial":
                return "Incorrecto", 1110, None
            self.registered[key] = "Anulada"
            return "Correcto", 0, None
        correction = self.text(r, "sf:Subsanacion") == "S"
        previous = self.text(r, "sf:RechazoPrevio")
        held = self.registered.get(key)
        if held is not None and (not correction or previous == "X"):
            return "Incorrecto", 3000, held
        if held is None and correction and previous != "X":
            return "Incorrecto", 3002, None
        if i == 0 and word == "partial":
            return "Incorrecto", 1110, None
        if i == 0 and word == "errors":
            state, code = "AceptadoConErrores", 2001
        else:
            state, code = "Correcto", 0
        self.registered[key] = "Correcta" if state == "Correcto" else "AceptadaConErrores"
        return state, code, None

    def header_fault(self, word, entry):
        if word == "header":
            return "Codigo[4104].Error en la cabecera: el valor del campo NIF del bloque ObligadoEmision no está identificado."
        end = entry["fin"]
        year = time.localtime().tm_year
        if end and end not in ("31-12-%d" % year, "31-12-%d" % (year - 1)):
            return ("Codigo[4120].Error en la cabecera: el valor del campo FechaFinVeriFactu es incorrecto, debe ser "
                    "31-12-20XX, donde XX corresponde con el año actual o el anterior.")
        return None

    def answer(self, word, message, records, entry):
        if word in ("fault", "drop", "notxml", "huge"):
            return self.fault("Server", "Servicio no disponible temporalmente"), 500
        if word == "client" or not entry["valid"]:
            return self.fault("Client", "; ".join(entry.get("errors", ["Codigo[4102]"]))[:300]), 500
        refused = self.header_fault(word, entry)
        if refused is not None:
            return self.fault("Client", refused), 500
        wait = 2 if word == "wait2" else 0
        self.csv += 1
        header = etree.tostring(message.find("sfLR:Cabecera", NS)).decode()
        header = header.replace("<sfLR:Cabecera", "<sfR:Cabecera").replace("</sfLR:Cabecera>", "</sfR:Cabecera>")
        lines = []
        states = []
        answered = []
        for i, r in enumerate(records):
            cancellation = r.tag == "{%s}RegistroAnulacion" % SF
            suffix = "Anulada" if cancellation else ""
            issuer = self.text(r, "sf:IDFactura/sf:IDEmisorFactura" + suffix)
            number = self.text(r, "sf:IDFactura/sf:NumSerieFactura" + suffix)
            date = self.text(r, "sf:IDFactura/sf:FechaExpedicionFactura" + suffix)
            key = (issuer, number, date)
            if word == "mismatch" or (word == "mismatch1" and i == 0):
                state, code, duplicate = "Correcto", 0, None
                number = number + "X"
            else:
                state, code, duplicate = self.judge(i, word, r, cancellation, key)
            states.append("Duplicado" if duplicate is not None else state)
            answered.append(state)
            error = ("<sfR:CodigoErrorRegistro>%d</sfR:CodigoErrorRegistro>"
                     "<sfR:DescripcionErrorRegistro>%s</sfR:DescripcionErrorRegistro>" % (code, CODES[code])) if code else ""
            extra = ("<sfR:RegistroDuplicado><sf:IdPeticionRegistroDuplicado>%d</sf:IdPeticionRegistroDuplicado>"
                     "<sf:EstadoRegistroDuplicado>%s</sf:EstadoRegistroDuplicado></sfR:RegistroDuplicado>"
                     % (self.csv, duplicate)) if duplicate is not None else ""
            operation = "<sf:TipoOperacion>%s</sf:TipoOperacion>" % ("Anulacion" if cancellation else "Alta")
            for flag in ("Subsanacion", "RechazoPrevio", "SinRegistroPrevio"):
                value = self.text(r, "sf:" + flag)
                if value:
                    operation += "<sf:%s>%s</sf:%s>" % (flag, value, flag)
            lines.append("<sfR:RespuestaLinea><sfR:IDFactura><sf:IDEmisorFactura>%s</sf:IDEmisorFactura>"
                         "<sf:NumSerieFactura>%s</sf:NumSerieFactura><sf:FechaExpedicionFactura>%s"
                         "</sf:FechaExpedicionFactura></sfR:IDFactura><sfR:Operacion>%s"
                         "</sfR:Operacion><sfR:EstadoRegistro>%s</sfR:EstadoRegistro>%s%s"
                         "</sfR:RespuestaLinea>" % (issuer, number, date, operation, state, error, extra))
        entry["states"] = states
        if all(s == "Incorrecto" for s in answered):
            overall = "Incorrecto"
        elif any(s != "Correcto" for s in answered):
            overall = "ParcialmenteCorrecto"
        else:
            overall = "Correcto"
        body = ('<?xml version="1.0" encoding="UTF-8"?>\n<env:Envelope xmlns:env="%s"><env:Body>'
                '<sfR:RespuestaRegFactuSistemaFacturacion xmlns:sfR="%s" xmlns:sf="%s">'
                '<sfR:CSV>A-STANDIN%06d</sfR:CSV>%s<sfR:TiempoEsperaEnvio>%d</sfR:TiempoEsperaEnvio>'
                '<sfR:EstadoEnvio>%s</sfR:EstadoEnvio>%s</sfR:RespuestaRegFactuSistemaFacturacion>'
                '</env:Body></env:Envelope>' % (SOAP, R, SF, self.csv, header, wait, overall, "".join(lines)))
        return body.encode("utf-8"), 200


def serve(work, schemas, certs, ready_fd=None):
    agency = Agency(work, schemas)
    ready = os.fdopen(ready_fd, "w") if ready_fd is not None else None

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def send_huge(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/xml; charset=UTF-8")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            chunk = b"<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"%s\"><env:Body>" % SOAP.encode()
            chunk += b" " * (1024 * 1024 - len(chunk))
            try:
                for _ in range(HUGE // len(chunk)):
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                    chunk = b" " * (1024 * 1024)
                self.wfile.write(b"0\r\n\r\n")
            except OSError:
                pass  # the client stopped reading, as it should
            self.close_connection = True

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            word, answer, status = agency.handle(body)
            if word == "drop":
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            if word == "slow":
                time.sleep(3)
            if word == "hold":
                if ready is not None:
                    ready.write("held\n")
                    ready.flush()
                time.sleep(30)
            if word == "notxml":
                answer, status = b"<html>Service Unavailable", 200
            if word == "huge":
                self.send_huge()
                return
            self.send_response(status)
            self.send_header("Content-Type", "text/xml; charset=UTF-8")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(certs, "server.pem"), os.path.join(certs, "server.key"))
    context.load_verify_locations(os.path.join(certs, "ca.pem"))
    context.verify_mode = ssl.CERT_REQUIRED
    server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(os.path.join(work, "port.tmp"), "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(os.path.join(work, "port.tmp"), os.path.join(work, "port"))
    if ready is not None:
        ready.write(str(server.server_address[1]) + "\n")
        ready.flush()
    server.serve_forever()


if __name__ == "__main__":
    serve(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else None)
