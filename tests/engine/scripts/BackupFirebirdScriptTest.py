"""BackupFirebird.py against a real Firebird server started for this test
(tests/support/firebird_server.sh)."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ScriptHarness import SOURCE_DIR, ScriptRunner  # noqa: E402

FIXTURE = os.path.join(SOURCE_DIR, "tests", "support", "firebird_server.sh")
ROWS = [(1, "bir"), (2, "\u015eube \u00c7ar\u015f\u0131"), (3, "it's | quoted")]


def isql(connection, user, password, sql):
    env = dict(os.environ, ISC_USER=user, ISC_PASSWORD=password)
    argv = ["isql-fb", "-q", "-ch", "UTF8"] + ([connection] if connection else [])
    proc = subprocess.run(argv, input=sql.encode("utf-8"), env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    out = proc.stdout.decode("utf-8", errors="replace")
    if proc.returncode != 0 or "Statement failed" in out:
        raise AssertionError("isql failed: " + out)
    return out


class BackupFirebirdScriptTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not shutil.which("isql-fb") or not shutil.which("gbak"):
            raise unittest.SkipTest("Firebird client tools (isql-fb, gbak) are not installed")
        cls.state = tempfile.mkdtemp(prefix="calvora-fb-")
        proc = subprocess.run(["bash", FIXTURE, "start", cls.state], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        if proc.returncode == 77:
            shutil.rmtree(cls.state, ignore_errors=True)
            raise unittest.SkipTest(proc.stderr.decode().strip())
        if proc.returncode != 0:
            shutil.rmtree(cls.state, ignore_errors=True)
            raise RuntimeError("Firebird server did not start: " + proc.stderr.decode())
        env = dict(line.split("=", 1) for line in proc.stdout.decode().split())
        cls.host, cls.port = env["FIREBIRD_TEST_HOST"], int(env["FIREBIRD_TEST_PORT"])
        cls.user, cls.password = env["FIREBIRD_TEST_USER"], env["FIREBIRD_TEST_PASSWORD"]
        cls.data = env["FIREBIRD_TEST_DATA_DIR"]
        cls.database = os.path.join(cls.data, "STOK.FDB")
        inserts = "".join("INSERT INTO T VALUES (%d, '%s');\n" % (i, n.replace("'", "''")) for i, n in ROWS)
        isql(None, cls.user, cls.password,
             "CREATE DATABASE '%s/%d:%s' DEFAULT CHARACTER SET UTF8;\n"
             "CREATE TABLE T (ID INTEGER, NAME VARCHAR(40));\n%sCOMMIT;\n"
             % (cls.host, cls.port, cls.database, inserts))

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["bash", FIXTURE, "stop", cls.state], timeout=60)

    def setUp(self):
        self.runner = ScriptRunner()
        self.addCleanup(self.runner.cleanup)
        tmp = tempfile.TemporaryDirectory(prefix="calvora-fbk-")
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name
        self.work = os.path.join(self.tmp, "work")
        # A recording gbak configured as "gbackPath": proves what the real
        # tool receives on its command line and in its environment.
        self.calls = os.path.join(self.tmp, "gbak_calls.jsonl")
        self.gbak = os.path.join(self.tmp, "gbak")
        with open(self.gbak, "w") as f:
            f.write("#!%s\nimport json, os, sys\n"
                    "open(%r, 'a').write(json.dumps({'argv': sys.argv[1:], "
                    "'password': os.environ.get('ISC_PASSWORD')}) + '\\n')\n"
                    "os.execv(%r, ['gbak'] + sys.argv[1:])\n"
                    % (sys.executable, self.calls, shutil.which("gbak")))
        os.chmod(self.gbak, 0o755)

    def config(self, password=None):
        return {"server": self.host, "port": self.port, "userName": self.user,
                "password": self.password if password is None else password,
                "gbackPath": self.gbak, "backupOutputDir": ""}

    def backup(self, database=None, password=None):
        payload = {"databasePath": database or self.database, "backupDirectory": self.work,
                   "backupFileName": "STOK_.fbk"}
        return self.runner.run("BackupFirebird.py", "backup", self.config(password), payload)

    def test_backup_restores_to_the_same_rows_and_keeps_the_password_off_the_command_line(self):
        code, result, _ = self.backup()
        self.assertEqual(0, code, result)
        self.assertTrue(result["success"], result)
        fbk = os.path.join(self.work, "STOK_.fbk")
        self.assertEqual(fbk, result["backupFilePath"])
        self.assertEqual(["STOK_.fbk"], os.listdir(self.work))

        with open(self.calls) as f:
            call = json.loads(f.readline())
        self.assertEqual(self.password, call["password"])
        self.assertNotIn(self.password, call["argv"])
        self.assertIn("%s/%d:%s" % (self.host, self.port, self.database), call["argv"])

        restored = os.path.join(self.data, "RESTORED_%d.FDB" % os.getpid())
        connection = "%s/%d:%s" % (self.host, self.port, restored)
        subprocess.run(["gbak", "-c", fbk, connection], check=True, timeout=60,
                       env=dict(os.environ, ISC_USER=self.user, ISC_PASSWORD=self.password))
        out = isql(connection, self.user, self.password,
                   "SET HEADING OFF;\nSELECT ID || '#' || NAME FROM T ORDER BY ID;\n")
        got = [line.strip() for line in out.splitlines() if "#" in line]
        self.assertEqual(["%d#%s" % row for row in ROWS], got)
        isql(connection, self.user, self.password, "DROP DATABASE;\n")

    def test_failed_backup_keeps_the_previous_file(self):
        os.makedirs(self.work)
        previous = os.path.join(self.work, "STOK_.fbk")
        with open(previous, "w") as f:
            f.write("last good backup")
        cases = [
            ("wrong password", None, "wrong", "Your user name and password are not defined"),
            ("missing database", os.path.join(self.data, "YOK.FDB"), None, "YOK.FDB"),
        ]
        for name, database, password, part in cases:
            with self.subTest(name):
                code, result, _ = self.backup(database, password)
                self.assertEqual(1, code)
                self.assertFalse(result["success"])
                self.assertTrue(result["message"].startswith("Firebird yedegi alinamadi ("), result["message"])
                self.assertIn(part, result["message"])
                self.assertNotIn("Exiting before completion", result["message"])
                with open(previous) as f:
                    self.assertEqual("last good backup", f.read())
                self.assertEqual(["STOK_.fbk"], os.listdir(self.work))

    def test_connection_test_proves_the_login(self):
        code, result, _ = self.runner.run("BackupFirebird.py", "test", self.config(), {})
        self.assertEqual(0, code, result)
        self.assertTrue(result["message"].startswith("Firebird baglantisi basarili (LI-V3"), result)
        code, result, _ = self.runner.run("BackupFirebird.py", "test", self.config("wrong"), {})
        self.assertEqual(1, code)
        self.assertEqual("Firebird baglantisi basarisiz: Your user name and password are not defined. "
                         "Ask your database administrator to set up a Firebird login.", result["message"])

    def test_missing_gbak(self):
        config = dict(self.config(), gbackPath="/nonexistent/gbak")
        code, result, _ = self.runner.run("BackupFirebird.py", "backup", config,
                                          {"databasePath": self.database, "backupDirectory": self.work,
                                           "backupFileName": "STOK_.fbk"}, env={"PATH": "/nonexistent"})
        self.assertEqual(1, code)
        self.assertEqual("gbak bulunamadi: /nonexistent/gbak", result["message"])


if __name__ == "__main__":
    unittest.main()
