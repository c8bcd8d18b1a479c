"""Sends one backup report mail.

    python3 SendBackupReport.py -ConfigPath <smtp.json> -PayloadPath <payload.json> -ResultPath <result.json>

smtp.json: "host", "port", "useSSL", "userName", "password", "fromAddress",
"fromName", "toAddresses" (separated by ";" or ","), "popBeforeSmtp",
"pop3Host", "pop3Port". payload.json: "subject", "body", "isHtml".
Writes {"success":true,"message":"Mail gonderildi."} and exits 0, or
{"success":false,"message":"..."} and exits 1.

TLS: with "useSSL" the connection is upgraded with STARTTLS (the usual
submission port 587); on port 465, which speaks TLS from the first byte,
the connection is TLS from the start. Server certificates are verified.
The script stands alone (standard library only): the programs may run a
copy of it from a temporary folder.
"""

import base64
import json
import os
import re
import smtplib
import socket
import ssl
import sys
import tempfile
from email.headerregistry import Address
from email.message import EmailMessage
from email.utils import formatdate, make_msgid

POP3_TIMEOUT = 60
SMTP_TIMEOUT = 100
IMPLICIT_TLS_PORT = 465


class MailError(Exception):
    pass


def parse_switches(argv):
    known = {"configpath": "", "payloadpath": "", "resultpath": "", "mode": ""}
    i = 0
    while i < len(argv):
        name = argv[i][1:].lower() if argv[i].startswith("-") else ""
        if name not in known or i + 1 >= len(argv):
            raise MailError("Gecersiz parametre: " + argv[i])
        known[name] = argv[i + 1]
        i += 2
    return known


def read_json(path):
    try:
        with open(path, "r", encoding="utf-8-sig") as f:
            value = json.load(f)
    except OSError as e:
        raise MailError("Dosya okunamadi: %s (%s)" % (path, e.strerror or e))
    except ValueError:
        raise MailError("Dosya gecerli JSON degil: " + path)
    if not isinstance(value, dict):
        raise MailError("Dosya bir JSON nesnesi degil: " + path)
    return value


def text(obj, key):
    value = obj.get(key)
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def flag(obj, key):
    return text(obj, key).strip().lower() == "true"


def port(obj, key, default):
    try:
        return int(text(obj, key).strip())
    except ValueError:
        return default


def split_addresses(value):
    return [p.strip() for p in re.split(r"[;,]", value or "") if p.strip()]


class Pop3Line:
    """Line reader for the POP3 exchange; closed connection = no answer."""

    def __init__(self, sock):
        self.file = sock.makefile("rb")

    def read(self):
        line = self.file.readline(4096)
        if not line:
            raise MailError("POP3 sunucusu yanit vermedi.")
        return line.decode("ascii", errors="replace").rstrip("\r\n")


def pop_before_smtp(config):
    host = text(config, "pop3Host").strip()
    pop_port = port(config, "pop3Port", 110)
    try:
        sock = socket.create_connection((host, pop_port), timeout=POP3_TIMEOUT)
    except OSError as e:
        raise MailError("POP3 sunucusuna baglanilamadi (%s:%d): %s" % (host, pop_port, e.strerror or e))
    try:
        reader = Pop3Line(sock)
        try:
            greeting = reader.read()
            if not greeting.startswith("+OK"):
                raise MailError("POP3 giris yaniti basarisiz: " + greeting)
            for command in ("USER " + text(config, "userName"), "PASS " + text(config, "password"), "QUIT"):
                sock.sendall((command + "\r\n").encode("utf-8"))
                reply = reader.read()
                if not reply.startswith("+OK"):
                    raise MailError("POP3 yaniti basarisiz: " + reply)
        except OSError:  # time-out or a connection dropped mid-exchange
            raise MailError("POP3 sunucusu yanit vermedi.")
    finally:
        sock.close()


def build_message(config, payload, recipients):
    message = EmailMessage()
    sender = text(config, "fromAddress").strip()
    display = text(config, "fromName").strip()
    try:
        message["From"] = Address(display_name=display, addr_spec=sender) if display else sender
        message["To"] = ", ".join(recipients)
    except Exception as e:  # the email package raises several kinds here
        raise MailError("Gecersiz mail adresi: %s" % e)
    message["Subject"] = text(payload, "subject")
    message["Date"] = formatdate(localtime=True)
    domain = sender.rsplit("@", 1)[-1] if "@" in sender else None
    message["Message-ID"] = make_msgid(domain=domain)
    subtype = "html" if flag(payload, "isHtml") else "plain"
    # Base64 keeps the body 7-bit clean for servers without 8BITMIME.
    message.set_content(text(payload, "body"), subtype=subtype, charset="utf-8", cte="base64")
    return message


def authenticate(smtp, user, password):
    """PLAIN or LOGIN with UTF-8 credentials (smtplib would insist on ASCII);
    other mechanisms through smtplib. A server that offers no
    authentication (for instance after POP-before-SMTP) is used as it is."""
    if not smtp.has_extn("auth"):
        return
    mechanisms = smtp.esmtp_features.get("auth", "").upper().split()
    b64 = lambda s: base64.b64encode(s.encode("utf-8")).decode("ascii")
    if "PLAIN" in mechanisms:
        code, reply = smtp.docmd("AUTH", "PLAIN " + b64("\0" + user + "\0" + password))
    elif "LOGIN" in mechanisms:
        code, reply = smtp.docmd("AUTH", "LOGIN " + b64(user))
        if code == 334:
            code, reply = smtp.docmd(b64(password))
    else:
        smtp.login(user, password)
        return
    if code not in (235, 503):
        raise smtplib.SMTPAuthenticationError(code, reply)


def send(config, payload):
    recipients = split_addresses(text(config, "toAddresses"))
    if not recipients:
        raise MailError("Alici mail adresi yok.")
    host = text(config, "host").strip()
    smtp_port = port(config, "port", 587)
    use_ssl = flag(config, "useSSL")
    user = text(config, "userName")
    message = build_message(config, payload, recipients)

    if flag(config, "popBeforeSmtp"):
        pop_before_smtp(config)

    context = ssl.create_default_context()
    try:
        if use_ssl and smtp_port == IMPLICIT_TLS_PORT:
            smtp = smtplib.SMTP_SSL(host, smtp_port, timeout=SMTP_TIMEOUT, context=context)
        else:
            smtp = smtplib.SMTP(host, smtp_port, timeout=SMTP_TIMEOUT)
    except (OSError, smtplib.SMTPException) as e:
        raise MailError("SMTP sunucusuna baglanilamadi (%s:%d): %s" % (host, smtp_port, getattr(e, "strerror", None) or e))
    try:
        smtp.ehlo_or_helo_if_needed()
        if use_ssl and smtp_port != IMPLICIT_TLS_PORT:
            if not smtp.has_extn("starttls"):
                raise MailError("SMTP sunucusu TLS (STARTTLS) desteklemiyor: %s:%d" % (host, smtp_port))
            smtp.starttls(context=context)
            smtp.ehlo()
        if user.strip():
            authenticate(smtp, user, text(config, "password"))
        refused = smtp.send_message(message, from_addr=text(config, "fromAddress").strip(), to_addrs=recipients)
        if refused:
            raise MailError("Bazi alicilar reddedildi: " + ", ".join(sorted(refused)))
    finally:
        try:
            smtp.quit()
        except (OSError, smtplib.SMTPException):
            smtp.close()


def smtp_error_text(e):
    if isinstance(e, smtplib.SMTPAuthenticationError):
        return "SMTP kimlik dogrulama basarisiz: %d %s" % (e.smtp_code, decode_reply(e.smtp_error))
    if isinstance(e, smtplib.SMTPRecipientsRefused):
        return "Alicilar reddedildi: " + ", ".join(sorted(e.recipients))
    if isinstance(e, smtplib.SMTPResponseException):
        return "SMTP hatasi: %d %s" % (e.smtp_code, decode_reply(e.smtp_error))
    if isinstance(e, ssl.SSLError):
        return "SMTP TLS hatasi: %s" % (e.reason or e)
    if isinstance(e, socket.timeout):
        return "SMTP sunucusu zaman asimina ugradi."
    return "SMTP hatasi: %s" % e


def decode_reply(reply):
    if isinstance(reply, bytes):
        return reply.decode("utf-8", errors="replace")
    return str(reply)


def write_result(path, success, message):
    data = json.dumps({"success": success, "message": message}, ensure_ascii=False,
                      separators=(",", ":")).encode("utf-8")
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".result-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def main(argv):
    result_path = ""
    try:
        switches = parse_switches(argv)
        result_path = switches["resultpath"]
        if not result_path:
            raise MailError("ResultPath parametresi eksik.")
        config = read_json(switches["configpath"])
        payload = read_json(switches["payloadpath"])
        send(config, payload)
        success, message = True, "Mail gonderildi."
    except MailError as e:
        success, message = False, str(e)
    except (smtplib.SMTPException, OSError) as e:
        success, message = False, smtp_error_text(e)
    except Exception as e:
        success, message = False, "Beklenmeyen hata: %s: %s" % (type(e).__name__, e)
    message = message.replace('"', "'")
    if not result_path:
        sys.stderr.write(message + "\n")
        return 2
    try:
        write_result(result_path, success, message)
    except OSError as e:
        sys.stderr.write("Sonuc dosyasi yazilamadi: %s\n" % e)
        return 3
    return 0 if success else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
