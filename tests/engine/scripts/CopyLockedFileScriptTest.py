"""CopyLockedFile.py: the readable copy of a file another program keeps open."""

import importlib
import os
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ScriptHarness import SQL_DIR, ScriptRunner  # noqa: E402


class CopyLockedFileScriptTest(unittest.TestCase):
    def setUp(self):
        self.runner = ScriptRunner()
        self.addCleanup(self.runner.cleanup)
        tmp = tempfile.TemporaryDirectory(prefix="calvora-copy-")
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name
        self.source = os.path.join(self.tmp, "defter.xlsx")
        with open(self.source, "wb") as f:
            f.write(os.urandom(3 * 1024 * 1024 + 17))
        os.utime(self.source, (1700000000, 1700000000))

    def test_copy_lands_complete_under_the_destination_name(self):
        destination = os.path.join(self.tmp, "copies", "Ab12Cd34Ef5", "defter.xlsx")
        # The source stays open for writing by "another program" meanwhile.
        with open(self.source, "r+b"):
            code, result, _ = self.runner.run("CopyLockedFile.py", "copy", {},
                                              {"sourcePath": self.source, "destinationPath": destination})
        self.assertEqual(0, code, result)
        self.assertTrue(result["success"])
        self.assertEqual(destination, result["backupFilePath"])
        with open(self.source, "rb") as a, open(destination, "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assertEqual(1700000000, int(os.stat(destination).st_mtime))
        self.assertEqual(["defter.xlsx"], os.listdir(os.path.dirname(destination)))

    def test_failures(self):
        missing = os.path.join(self.tmp, "yok.txt")
        cases = [
            ({"sourcePath": missing, "destinationPath": os.path.join(self.tmp, "c")}, "copy",
             "Kaynak dosya bulunamadi: " + missing),
            ({"sourcePath": self.source, "destinationPath": ""}, "copy", "Hedef dosya yolu bos."),
            ({"sourcePath": self.source, "destinationPath": os.path.join(self.tmp, "c")}, "snapshot",
             "Bilinmeyen mod: snapshot"),
        ]
        for payload, mode, message in cases:
            with self.subTest(message):
                code, result, _ = self.runner.run("CopyLockedFile.py", mode, {}, payload)
                self.assertEqual(1, code)
                self.assertEqual({"success": False, "message": message}, result)

    def test_a_source_that_keeps_changing_gives_no_copy(self):
        sys.dont_write_bytecode = True  # keep the scripts' folder clean
        sys.path.insert(0, SQL_DIR)
        self.addCleanup(sys.path.remove, SQL_DIR)
        script = importlib.import_module("CopyLockedFile")
        destination = os.path.join(self.tmp, "out", "defter.xlsx")
        os.makedirs(os.path.dirname(destination))
        ticks = iter(range(100))
        with mock.patch.object(script, "signature", lambda path: next(ticks)):
            with self.assertRaises(script.ScriptError) as raised:
                script.handle("copy", {}, {"sourcePath": self.source, "destinationPath": destination})
        self.assertIn("tutarli kopya alinamadi", str(raised.exception))
        self.assertEqual([], os.listdir(os.path.dirname(destination)))
        # Changed once, then stable: the second reading is used.
        changes = iter([1, 2, 3, 3])
        with mock.patch.object(script, "signature", lambda path: next(changes)):
            script.handle("copy", {}, {"sourcePath": self.source, "destinationPath": destination})
        self.assertEqual(["defter.xlsx"], os.listdir(os.path.dirname(destination)))


if __name__ == "__main__":
    unittest.main()
