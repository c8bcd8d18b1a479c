"""BackupDatabase.py against a stand-in sqlcmd first on PATH."""

import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ScriptHarness import HERE, ScriptRunner  # noqa: E402

PASSWORD = "Gizli'Sifre$(x)\"; --"
# Quote, bracket, scripting variable, line break with a batch separator and
# letters outside ASCII: none may change the statements sent to the server.
HOSTILE = "Muh'asebe]; DROP DATABASE x; --$(PATH)\nGO\n:!! id\n\u015eube"
THUMB = "a1b2c3d4e5f60718293a4b5c6d7e8f9012345678"

FILES = [{"logicalName": "Muhasebe", "physicalName": "/var/opt/mssql/data/Muhasebe.mdf", "type": "D"},
         {"logicalName": "Muhasebe_log", "physicalName": "/var/opt/mssql/data/Muhasebe_log.ldf", "type": "L"}]


class BackupDatabaseScriptTest(unittest.TestCase):
    def setUp(self):
        self.runner = ScriptRunner()
        self.addCleanup(self.runner.cleanup)
        self.tmp = tempfile.TemporaryDirectory(prefix="calvora-sqlcmd-")
        self.addCleanup(self.tmp.cleanup)
        self.bin = os.path.join(self.tmp.name, "bin")
        os.mkdir(self.bin)
        wrapper = os.path.join(self.bin, "sqlcmd")
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\nexec "%s" "%s" "$@"\n' % (sys.executable, os.path.join(HERE, "fake_sqlcmd.py")))
        os.chmod(wrapper, 0o755)
        self.log = os.path.join(self.tmp.name, "calls.jsonl")
        self.scenario_path = os.path.join(self.tmp.name, "scenario.json")
        self.backup_dir = os.path.join(self.tmp.name, "work")
        self.config = {"server": "srv\\SQL2022", "userName": "sa", "password": PASSWORD,
                       "backupOutputDir": self.backup_dir}
        self.scenario({})

    def scenario(self, value):
        value.setdefault("password", PASSWORD)
        value.setdefault("databases", {"Muhasebe": {"files": FILES}})
        with open(self.scenario_path, "w", encoding="utf-8") as f:
            json.dump(value, f)

    def run_mode(self, mode, payload=None, path=None):
        env = {"PATH": path if path is not None else self.bin + os.pathsep + os.environ.get("PATH", ""),
               "FAKE_SQLCMD_SCENARIO": self.scenario_path, "FAKE_SQLCMD_LOG": self.log}
        return self.runner.run("BackupDatabase.py", mode, self.config, payload, env)

    def calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def backup_payload(self, name="Muhasebe", kind="Full", compression=True, file_name="Muhasebe_.bak"):
        return {"databaseName": name, "backupDirectory": self.backup_dir, "backupFileName": file_name,
                "useCompression": compression, "backupType": kind}

    def test_backup_writes_file_reads_header_and_keeps_password_and_names_out_of_the_statements(self):
        self.scenario({"databases": {HOSTILE: {"files": FILES}}})
        code, result, _ = self.run_mode("backup", self.backup_payload(HOSTILE, "Full", True, "H_.bak"))
        self.assertEqual(0, code, result)
        self.assertTrue(result["success"], result)
        target = os.path.join(self.backup_dir, "H_.bak")
        self.assertEqual(target, result["backupFilePath"])
        with open(target, encoding="utf-8") as f:
            written = json.load(f)
        self.assertEqual({"database": HOSTILE, "differential": False, "compressed": True}, written)
        self.assertEqual(["H_.bak"], os.listdir(self.backup_dir))
        self.assertEqual("", result["bakTdeThumbprint"])
        self.assertEqual("", result["bakTdeCheckError"])
        self.assertEqual(FILES, result["bakFileList"])
        self.assertEqual("", result["bakFileListError"])

        calls = self.calls()
        self.assertEqual(3, len(calls))  # backup, file list, header
        for call in calls:
            self.assertTrue(all(PASSWORD not in arg for arg in call["argv"]))
            self.assertEqual(PASSWORD, call["password"])
            for flag in ("-b", "-x"):
                self.assertIn(flag, call["argv"])
            self.assertEqual(["-U", "sa"], call["argv"][call["argv"].index("-U"):][:2])
            self.assertNotIn("\n", call["skeleton"])
            for fragment in ("DROP", "$(", "GO", ":!!", "\u015e", "asebe"):
                self.assertNotIn(fragment, call["skeleton"])
        self.assertEqual(HOSTILE, calls[0]["variables"]["@db"])
        self.assertEqual(target + ".partial", calls[0]["variables"]["@path"])
        self.assertEqual(target, calls[1]["variables"]["@path"])

    def test_backup_kinds_and_compression(self):
        cases = [
            # backupType, useCompression, edition, differential, compressed, note in message
            ("Full", True, 3, False, True, False),
            ("Diff", False, 3, True, False, False),
            ("diff", True, 4, True, False, True),  # Express cannot compress
        ]
        for kind, compression, edition, differential, compressed, note in cases:
            with self.subTest(kind=kind, compression=compression, edition=edition):
                self.scenario({"engineEdition": edition})
                code, result, _ = self.run_mode("backup", self.backup_payload(kind=kind, compression=compression))
                self.assertEqual(0, code, result)
                with open(result["backupFilePath"], encoding="utf-8") as f:
                    written = json.load(f)
                self.assertEqual(differential, written["differential"])
                self.assertEqual(compressed, written["compressed"])
                self.assertEqual(note, "sikistirmayi desteklemiyor" in result["message"])
                self.assertIn("DIFF" if differential else "tam", result["message"])

    def test_failed_backup_keeps_the_previous_file_and_reports_the_server_error(self):
        os.makedirs(self.backup_dir)
        previous = os.path.join(self.backup_dir, "Muhasebe_.bak")
        with open(previous, "w") as f:
            f.write("last good backup")
        self.scenario({"backupError": "Cannot open backup device. Operating system error 5(Access is denied.)."})
        code, result, _ = self.run_mode("backup", self.backup_payload())
        self.assertEqual(1, code)
        self.assertFalse(result["success"])
        self.assertEqual("SQL Server yedegi alinamadi (Muhasebe): Cannot open backup device. Operating system "
                         "error 5(Access is denied.). BACKUP DATABASE is terminating abnormally.", result["message"])
        with open(previous) as f:
            self.assertEqual("last good backup", f.read())
        self.assertEqual(["Muhasebe_.bak"], os.listdir(self.backup_dir))

    def test_backup_header_problems_are_reported_beside_a_successful_backup(self):
        cases = [
            # database record, expected thumbprint, check error part, file list error part
            ({"files": FILES, "headerThumbprint": THUMB}, THUMB.upper(), "", ""),
            ({"files": FILES, "headerError": "Header broken.", "fileListError": "File list broken."},
             "", "File list broken. | Header broken.", "File list broken."),
            ({"files": FILES, "oldServer": True}, "", "Yedek basliginda sifreleme bilgisi bulunamadi.", ""),
        ]
        for record, thumb, check_error, list_error in cases:
            with self.subTest(record=record):
                self.scenario({"databases": {"Muhasebe": record}})
                code, result, _ = self.run_mode("backup", self.backup_payload())
                self.assertEqual(0, code, result)
                self.assertTrue(result["success"])
                self.assertEqual(thumb, result["bakTdeThumbprint"])
                self.assertEqual(check_error, result["bakTdeCheckError"])
                self.assertEqual(list_error, result["bakFileListError"])
                self.assertEqual([] if list_error else FILES, result["bakFileList"])

    def test_tde_status(self):
        cert = "TDE_Sertifika_\u015e"
        encrypted = {"encrypted": True, "state": 3, "thumbprint": THUMB.upper(), "cert": cert}
        cases = [
            # name, scenario, success, supported, encrypted, detail, thumbprint, cert, error part
            ("plain", {}, True, True, False, False, "", "", ""),
            ("encrypted", {"databases": {"Muhasebe": encrypted}}, True, True, True, True, THUMB.upper(), cert, ""),
            ("being decrypted", {"databases": {"Muhasebe": {"state": 5, "thumbprint": THUMB.upper(), "cert": cert}}},
             True, True, True, True, THUMB.upper(), cert, ""),
            ("no permission", {"databases": {"Muhasebe": encrypted}, "dmvError": "VIEW SERVER STATE denied."},
             True, True, True, False, "", "", "VIEW SERVER STATE denied."),
            ("old server", {"tdeQueryError": "Invalid column name 'is_encrypted'."},
             True, False, False, False, "", "", "Invalid column name 'is_encrypted'."),
            ("unknown database", {"databases": {}}, False, None, None, None, None, None, None),
        ]
        for name, scenario, success, supported, is_encrypted, detail, thumb, cert_name, error in cases:
            with self.subTest(name):
                self.scenario(scenario)
                code, result, _ = self.run_mode("tdeStatus", {"databaseName": "Muhasebe"})
                self.assertEqual(success, result["success"], result)
                self.assertEqual(0 if success else 1, code)
                if not success:
                    self.assertEqual("Veritabani bulunamadi: Muhasebe", result["message"])
                    continue
                self.assertEqual(supported, result["tdeSupported"])
                self.assertEqual(is_encrypted, result["tdeIsEncrypted"])
                self.assertEqual(detail, result["tdeDetailAvailable"])
                self.assertEqual(thumb, result["tdeThumbprint"])
                self.assertEqual(cert_name, result["tdeCertName"])
                self.assertIn(error, result["tdeError"])

    def test_list_databases_and_test_mode(self):
        names = ["A|B", "Line\nBreak", "\u00c7ar\u015f\u0131", "Muhasebe"]
        self.scenario({"databases": {n: {} for n in names}, "serverName": "SRV1"})
        code, result, _ = self.run_mode("listDatabases", {})
        self.assertEqual(0, code)
        self.assertEqual(sorted(names), result["databases"])
        code, result, _ = self.run_mode("test", {})
        self.assertEqual(0, code)
        self.assertTrue(result["success"])
        self.assertIn("SRV1", result["message"])

    def test_failures_before_any_statement(self):
        cases = [
            ("wrong password", {"password": "other"}, None, "test",
             "Microsoft ODBC Driver 18 for SQL Server : Login failed for user 'sa'.."),
            ("sqlcmd missing", {}, "/nonexistent", "test", "sqlcmd bulunamadi."),
            ("unknown mode", {}, None, "verify", "Bilinmeyen mod: verify"),
            ("empty database name", {}, None, "backup", "Veritabani adi bos."),
        ]
        for name, scenario, path, mode, message in cases:
            with self.subTest(name):
                self.scenario(scenario)
                code, result, _ = self.run_mode(mode, {"databaseName": " "}, path)
                self.assertEqual(1, code)
                self.assertFalse(result["success"])
                self.assertIn(message, result["message"])
                self.assertNotIn(PASSWORD, json.dumps(result))


if __name__ == "__main__":
    unittest.main()
