"""A local SMTP server for tests (run with /usr/bin/python3: needs aiosmtpd).

    smtp_server.py --dir <capture folder> --port-file <file>
                   [--user U --password P] [--tls-cert C --tls-key K]
                   [--reject-data "554 text"] [--login-only] [--pid-file <file>]

Listens on 127.0.0.1 on a free port, written to --port-file once it
accepts connections (--pid-file: removed again once it has stopped).
Every accepted message is stored as <n>.eml with
<n>.json beside it ({"from", "to", "login", "subject", "body"}, subject and
body decoded, body the HTML part if any); the .json appears last, so a
reader that sees it also finds the message. With --user, AUTH PLAIN and
LOGIN are offered (also without TLS on loopback) and checked against the
given credentials (--login-only: LOGIN alone); with --tls-cert, STARTTLS
is offered. SIGTERM stops it.
"""

import argparse
import asyncio
import email
import email.policy
import itertools
import json
import os
import signal
import ssl

from aiosmtpd.smtp import SMTP, AuthResult


def write_atomically(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


class CaptureHandler:
    def __init__(self, folder, reject):
        self.folder = folder
        self.reject = reject
        # Numbering goes on after the messages already in the folder.
        taken = [int(name[:-5]) for name in os.listdir(folder)
                 if name.endswith(".json") and name[:-5].isdigit()]
        self.counter = itertools.count(max(taken, default=0) + 1)

    async def handle_DATA(self, server, session, envelope):
        if self.reject:
            return self.reject
        n = next(self.counter)
        base = os.path.join(self.folder, "%d" % n)
        raw = envelope.original_content or envelope.content
        write_atomically(base + ".eml", raw)
        message = email.message_from_bytes(raw, policy=email.policy.default)
        body = message.get_body(("html", "plain"))
        meta = {"from": envelope.mail_from, "to": envelope.rcpt_tos,
                "login": getattr(session, "calvora_login", None),
                "subject": str(message["Subject"]),
                "body": body.get_content() if body is not None else ""}
        write_atomically(base + ".json", json.dumps(meta).encode("utf-8"))
        return "250 OK"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        login = auth_data.login.decode("utf-8", errors="replace")
        given = auth_data.password.decode("utf-8", errors="replace")
        ok = login == user and given == password
        if ok:
            session.calvora_login = login
        return AuthResult(success=ok, handled=False)
    return authenticate


async def serve(args):
    os.makedirs(args.dir, exist_ok=True)
    handler = CaptureHandler(args.dir, args.reject_data)
    tls = None
    if args.tls_cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
    options = {"tls_context": tls, "require_starttls": False}
    if args.user is not None:
        options.update(authenticator=make_authenticator(args.user, args.password or ""),
                       auth_require_tls=False, auth_required=True,
                       auth_exclude_mechanism=["PLAIN"] if args.login_only else [])
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(handler, hostname="calvora-test", **options),
                                      host="127.0.0.1", port=0)
    port = server.sockets[0].getsockname()[1]
    if args.pid_file:
        write_atomically(args.pid_file, str(os.getpid()).encode())
    write_atomically(args.port_file, str(port).encode())
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    await stop.wait()
    server.close()
    await server.wait_closed()
    # Gone pid file = stopped; the process itself may linger unreaped.
    if args.pid_file:
        os.unlink(args.pid_file)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--reject-data")
    parser.add_argument("--login-only", action="store_true")
    parser.add_argument("--pid-file")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
