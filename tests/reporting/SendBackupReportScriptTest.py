"""SendBackupReport.py against local SMTP and POP3 servers
(tests/support/smtp_server.py, tests/support/pop3_server.py)."""

import email
import email.policy
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", ".."))
SUPPORT = os.path.join(SOURCE_DIR, "tests", "support")
SQL_DIR = os.environ.get("CALVORA_SQL_DIR") or os.path.join(SOURCE_DIR, "sql")
FIXTURE_PYTHON = "/usr/bin/python3"  # aiosmtpd is a Debian module

USER = "rapor@bayi.example"
PASSWORD = "\u015eifre \"gizli\" \u00e7"
SUBJECT = "[BA\u015eARILI] Brimora - Muhasebe \u015eube"
BODY = "<!doctype html><html><body><p>G\u00f6rev \u00e7al\u0131\u015ft\u0131 &amp; bitti</p></body></html>"


def wait_for_file(path, process, seconds=15):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path):
            with open(path) as f:
                return f.read().strip()
        if process.poll() is not None:
            raise RuntimeError("fixture ended early: " + process.stderr.read().decode())
        time.sleep(0.05)
    raise RuntimeError("fixture did not start")


class Fixture:
    def __init__(self, test, script, *args):
        self.folder = tempfile.mkdtemp(prefix="calvora-mailfix-")
        port_file = os.path.join(self.folder, "port")
        self.process = subprocess.Popen([FIXTURE_PYTHON, os.path.join(SUPPORT, script), "--port-file", port_file]
                                        + [a.replace("{dir}", self.folder) for a in args],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        test.addCleanup(self.stop)
        self.port = int(wait_for_file(port_file, self.process))

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        self.process.stderr.close()
        subprocess.run(["rm", "-rf", self.folder])

    def messages(self):
        found = []
        for name in sorted(os.listdir(os.path.join(self.folder, "mail"))):
            if name.endswith(".json"):
                with open(os.path.join(self.folder, "mail", name)) as f:
                    meta = json.load(f)
                with open(os.path.join(self.folder, "mail", name[:-5] + ".eml"), "rb") as f:
                    meta["message"] = email.message_from_bytes(f.read(), policy=email.policy.default)
                found.append(meta)
        return found

    def lines(self):
        path = os.path.join(self.folder, "pop3.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()


class SendBackupReportScriptTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="calvora-mail-")
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name

    def smtp(self, *extra):
        return Fixture(self, "smtp_server.py", "--dir", "{dir}/mail", *extra)

    def pop3(self, *extra):
        return Fixture(self, "pop3_server.py", "--log", "{dir}/pop3.log", "--user", USER, "--password", PASSWORD,
                       *extra)

    def send(self, port, env=None, **overrides):
        config = {"host": "127.0.0.1", "port": port, "useSSL": False, "userName": USER, "password": PASSWORD,
                  "fromAddress": "yedek@bayi.example", "fromName": "Brimora",
                  "toAddresses": "a@musteri.example; b@musteri.example,, C@musteri.example ;",
                  "popBeforeSmtp": False, "pop3Host": "", "pop3Port": 110}
        config.update(overrides)
        paths = [os.path.join(self.tmp, n) for n in ("smtp_x.json", "payload_x.json", "result_x.json")]
        for path, value in zip(paths, (config, {"subject": SUBJECT, "body": BODY, "isHtml": True})):
            with open(path, "wb") as f:
                f.write(b"\xef\xbb\xbf" + json.dumps(value, separators=(",", ":")).encode("ascii"))
        if os.path.exists(paths[2]):
            os.unlink(paths[2])
        proc = subprocess.run([sys.executable, os.path.join(SQL_DIR, "SendBackupReport.py"), "-ConfigPath", paths[0],
                               "-PayloadPath", paths[1], "-ResultPath", paths[2]],
                              env=dict(os.environ, **(env or {})), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        with open(paths[2], "rb") as f:
            return proc.returncode, f.read().decode("utf-8")

    def assert_delivered(self, server, login=USER):
        (received,) = server.messages()
        self.assertEqual("yedek@bayi.example", received["from"])
        self.assertEqual(["a@musteri.example", "b@musteri.example", "C@musteri.example"], received["to"])
        self.assertEqual(login, received["login"])
        message = received["message"]
        self.assertEqual(SUBJECT, message["Subject"])
        self.assertEqual('Brimora <yedek@bayi.example>', str(message["From"]))
        self.assertEqual("text/html", message.get_content_type())
        self.assertEqual(BODY, message.get_content().rstrip("\n"))

    def test_delivers_the_utf8_html_report_with_authentication(self):
        for mechanisms in ([], ["--login-only"]):
            with self.subTest(mechanisms=mechanisms):
                server = self.smtp("--user", USER, "--password", PASSWORD, *mechanisms)
                code, result = self.send(server.port)
                self.assertEqual((0, '{"success":true,"message":"Mail gonderildi."}'), (code, result))
                self.assert_delivered(server)

    def test_without_user_name_no_authentication_is_attempted(self):
        server = self.smtp()
        code, result = self.send(server.port, userName="  ")
        self.assertEqual(0, code, result)
        self.assert_delivered(server, login=None)

    def test_starttls_with_a_verified_certificate(self):
        cert, key = os.path.join(self.tmp, "cert.pem"), os.path.join(self.tmp, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        server = self.smtp("--user", USER, "--password", PASSWORD, "--tls-cert", cert, "--tls-key", key)
        code, result = self.send(server.port, env={"SSL_CERT_FILE": cert}, useSSL=True)
        self.assertEqual(0, code, result)
        self.assert_delivered(server)
        # Without trusting the certificate the send fails: it is verified.
        code, result = self.send(server.port, env={"SSL_CERT_FILE": os.path.join(self.tmp, "none.pem")},
                                 useSSL=True)
        self.assertEqual(1, code)
        self.assertIn("SMTP TLS hatasi: CERTIFICATE_VERIFY_FAILED", result)

    def test_smtp_failures(self):
        plain = self.smtp("--user", USER, "--password", PASSWORD)
        rejecting = self.smtp("--reject-data", '554 5.7.1 Message "rejected" by policy')
        closed = self.smtp()
        closed_port = closed.port
        closed.stop()
        cases = [
            ("wrong password", plain.port, {"password": "yanlis"},
             "SMTP kimlik dogrulama basarisiz: 535 5.7.8 Authentication credentials invalid"),
            ("TLS wanted, not offered", plain.port, {"useSSL": True},
             "SMTP sunucusu TLS (STARTTLS) desteklemiyor: 127.0.0.1:%d" % plain.port),
            ("message refused", rejecting.port, {"userName": ""},
             "SMTP hatasi: 554 5.7.1 Message 'rejected' by policy"),
            ("server down", closed_port, {}, "SMTP sunucusuna baglanilamadi (127.0.0.1:%d): " % closed_port),
            ("no recipients", plain.port, {"toAddresses": " ; , "}, "Alici mail adresi yok."),
        ]
        for name, port, overrides, message in cases:
            with self.subTest(name):
                code, result = self.send(port, **overrides)
                self.assertEqual(1, code)
                value = json.loads(result)
                self.assertFalse(value["success"])
                self.assertTrue(value["message"].startswith(message), value["message"])
                self.assertNotIn("gizli", result)
        self.assertEqual([], plain.messages())

    def test_pop_before_smtp(self):
        server = self.smtp()
        pop = self.pop3()
        code, result = self.send(server.port, popBeforeSmtp=True, pop3Host="127.0.0.1", pop3Port=pop.port)
        self.assertEqual(0, code, result)
        self.assertEqual(["USER " + USER, "PASS " + PASSWORD, "QUIT"], pop.lines())
        # The relay trusts the address after the POP3 login and offers no AUTH.
        self.assert_delivered(server, login=None)

    def test_pop_before_smtp_failures_stop_the_send(self):
        server = self.smtp()
        busy = self.pop3("--greeting", "-ERR sunucu mesgul")
        silent = self.pop3("--silent")
        strict = self.pop3()
        cases = [
            ("bad greeting", busy.port, {}, "POP3 giris yaniti basarisiz: -ERR sunucu mesgul"),
            ("wrong login", strict.port, {"password": "yanlis"}, "POP3 yaniti basarisiz: -ERR [AUTH] invalid login"),
            ("no answer", silent.port, {}, "POP3 sunucusu yanit vermedi."),
        ]
        for name, port, overrides, message in cases:
            with self.subTest(name):
                code, result = self.send(server.port, popBeforeSmtp=True, pop3Host="127.0.0.1", pop3Port=port,
                                         **overrides)
                self.assertEqual((1, {"success": False, "message": message}), (code, json.loads(result)))
        self.assertEqual([], server.messages())


if __name__ == "__main__":
    unittest.main()
