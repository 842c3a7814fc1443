#!/usr/bin/python3
"""A real SMTP server for the tests of invoices by e-mail (aiosmtpd).

STARTTLS required (--implicit: TLS from the first byte), then a login (PLAIN or LOGIN) with --user/--password.
Every message taken is parsed with Python's email package and noted in
OUT/received.txt, one line per message:
  envelope recipients | Subject (decoded) | Date present (yes/no) |
  Message-ID | text part's charset | attachments as name:type, comma separated
with the text part in OUT/<n>.txt and each attachment in OUT/<n>-<name>.
RCPT answers: --reject ADDR 550; --defer-once ADDR 451 the first time;
--drop ADDR closes the connection when the message has come, unanswered.
The port is written to --port-file (and to --ready-fd) once the server listens. Stops after
--lifetime seconds at most.
"""
import argparse
import email
import email.policy
import os
import socket
import ssl
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

p = argparse.ArgumentParser()
p.add_argument("--cert", required=True)
p.add_argument("--key", required=True)
p.add_argument("--user", required=True)
p.add_argument("--password", required=True)
p.add_argument("--out", required=True)
p.add_argument("--port-file", required=True)
p.add_argument("--ready-fd", type=int, help="also written the port to, then closed")
p.add_argument("--reject", action="append", default=[])
p.add_argument("--defer-once", action="append", default=[])
p.add_argument("--drop", action="append", default=[])
p.add_argument("--lifetime", type=float, default=300)
p.add_argument("--implicit", action="store_true", help="TLS from the first byte instead of STARTTLS")
p.add_argument("--plain", action="store_true", help="no TLS at all: STARTTLS is not offered")
args = p.parse_args()

deferred = set()
lock = threading.Lock()
count = [0]


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in args.reject:
            return "550 5.1.1 No such user here"
        if address in args.defer_once and address not in deferred:
            deferred.add(address)
            return "451 4.3.0 Try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(r in args.drop for r in envelope.rcpt_tos):
            server.transport.close()
            return "421 closing"
        msg = email.message_from_bytes(envelope.original_content or envelope.content, policy=email.policy.default)
        with lock:
            count[0] += 1
            n = count[0]
        text_charset = ""
        attachments = []
        for part in msg.walk():
            if part.is_multipart():
                continue
            name = part.get_filename()
            if name:
                with open(os.path.join(args.out, "%d-%s" % (n, name)), "wb") as f:
                    f.write(part.get_payload(decode=True))
                attachments.append("%s:%s" % (name, part.get_content_type()))
            elif part.get_content_type() == "text/plain":
                text_charset = part.get_content_charset() or ""
                with open(os.path.join(args.out, "%d.txt" % n), "w", encoding="utf-8") as f:
                    f.write(part.get_content())
        line = "|".join([",".join(envelope.rcpt_tos), str(msg["Subject"]), "yes" if msg["Date"] else "no",
                         str(msg["Message-ID"]), text_charset, ",".join(attachments)])
        with lock, open(os.path.join(args.out, "received.txt"), "a", encoding="utf-8") as f:
            f.write(line + "\n")
        return "250 2.0.0 Queued as %d" % n


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == args.user
          and auth_data.password.decode() == args.password)
    return AuthResult(success=ok, handled=False)


context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(args.cert, args.key)
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
if args.plain:
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, authenticator=authenticate,
                            auth_required=True, auth_require_tls=False)
elif args.implicit:
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, ssl_context=context,
                            authenticator=authenticate, auth_required=True, auth_require_tls=False)
else:
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, tls_context=context, require_starttls=True,
                            authenticator=authenticate, auth_required=True, auth_require_tls=True)
controller.start()
with open(args.port_file + ".tmp", "w") as f:
    f.write(str(port))
os.rename(args.port_file + ".tmp", args.port_file)
if args.ready_fd is not None:
    with os.fdopen(args.ready_fd, "w") as ready:
        ready.write(str(port) + "\n")
try:
    deadline = time.time() + args.lifetime
    while time.time() < deadline and sys.stdin.read(1) != "":
        pass
finally:
    controller.stop()
