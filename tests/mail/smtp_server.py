#!/usr/bin/python3
"""Loopback SMTP server for the mail tests.

Prints "PORT <n>" once it listens on 127.0.0.1, then serves until its standard input closes.
Modes: normal (aiosmtpd; optional STARTTLS, AUTH, refused recipients), drop (closes the connection in
the middle of DATA), silent (accepts connections and never answers).
Accepted messages go into the Maildir given, and their envelopes into envelopes.txt beside it
("<key> <mail from> <rcpt>,<rcpt>...").
"""
import argparse
import asyncio
import mailbox
import os
import ssl
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult


class Handler:
    def __init__(self, maildir, refuse, refuse_data):
        self.box = mailbox.Maildir(maildir, create=True)
        self.envelopes = os.path.join(os.path.dirname(os.path.abspath(maildir)), "envelopes.txt")
        self.refuse = refuse
        self.refuse_data = refuse_data

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refuse:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.refuse_data:
            return "554 5.6.0 Message refused"
        key = self.box.add(mailbox.MaildirMessage(envelope.original_content))
        with open(self.envelopes, "a") as out:
            out.write("%s %s %s\n" % (key, envelope.mail_from, ",".join(envelope.rcpt_tos)))
        return "250 Message accepted for delivery"


class Dropper(asyncio.Protocol):
    """Speaks just enough SMTP to reach DATA, then hangs up after the first bytes of the message."""

    def connection_made(self, transport):
        self.transport = transport
        self.in_data = False
        self.buffer = b""
        transport.write(b"220 dropper ESMTP\r\n")

    def data_received(self, data):
        if self.in_data:
            self.transport.close()
            return
        self.buffer += data
        while b"\r\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                self.transport.write(b"250 dropper\r\n")
            elif verb == b"DATA":
                self.in_data = True
                self.transport.write(b"354 go ahead\r\n")
                if self.buffer:
                    self.transport.close()
                return
            elif verb == b"QUIT":
                self.transport.write(b"221 bye\r\n")
                self.transport.close()
                return
            else:
                self.transport.write(b"250 OK\r\n")


class Silent(asyncio.Protocol):
    def connection_made(self, transport):
        self.transport = transport

    def data_received(self, data):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--maildir", required=True)
    parser.add_argument("--mode", default="normal", choices=["normal", "drop", "silent"])
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--implicit-tls", action="store_true", help="TLS from the first byte (smtps)")
    parser.add_argument("--auth", help="user:password")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--refuse-data", action="store_true")
    args = parser.parse_args()

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    if args.mode == "normal":
        handler = Handler(args.maildir, set(args.refuse), args.refuse_data)
        options = {}
        if args.tls_cert and not args.implicit_tls:
            context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            context.load_cert_chain(args.tls_cert, args.tls_key)
            options.update(tls_context=context, require_starttls=True)
        if args.auth:
            user, password = args.auth.split(":", 1)

            def check(server, session, envelope, mechanism, auth_data):
                ok = auth_data.login == user.encode() and auth_data.password == password.encode()
                return AuthResult(success=ok, handled=False)

            options.update(authenticator=check, auth_required=True,
                           auth_require_tls=bool(args.tls_cert) and not args.implicit_tls)
        factory = lambda: SMTP(handler, hostname="m3test", **options)
    elif args.mode == "drop":
        factory = Dropper
    else:
        factory = Silent
    listen_ssl = None
    if args.implicit_tls:
        listen_ssl = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        listen_ssl.load_cert_chain(args.tls_cert, args.tls_key)
    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0, ssl=listen_ssl))
    port = server.sockets[0].getsockname()[1]
    print("PORT %d" % port, flush=True)

    def wait_for_eof():
        sys.stdin.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=wait_for_eof, daemon=True).start()
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
