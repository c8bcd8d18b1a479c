"""Runs the backup scripts the way the programs do: JSON files written as
UTF-8 with byte-order mark and \\u escapes, the four switches, the result
file read back."""

import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
# ctest points this at the copies beside the built programs.
SQL_DIR = os.environ.get("CALVORA_SQL_DIR") or os.path.join(SOURCE_DIR, "sql")


def write_program_json(path, value):
    with open(path, "wb") as f:
        f.write(b"\xef\xbb\xbf" + json.dumps(value, ensure_ascii=True, separators=(",", ":")).encode("ascii"))


class ScriptRunner:
    """One temporary folder for the JSON files of the runs."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory(prefix="calvora-script-")
        self.folder = self._dir.name
        self.runs = 0

    def cleanup(self):
        self._dir.cleanup()

    def run(self, script, mode, config, payload, env=None):
        """Returns (exit code, result object or None, stderr text)."""
        self.runs += 1
        paths = [os.path.join(self.folder, "%s_%d.json" % (kind, self.runs))
                 for kind in ("config", "payload", "result")]
        write_program_json(paths[0], config)
        write_program_json(paths[1], payload if payload is not None else {})
        full_env = dict(os.environ)
        full_env.update(env or {})
        proc = subprocess.run(
            [sys.executable, os.path.join(SQL_DIR, script), "-Mode", mode,
             "-ConfigPath", paths[0], "-PayloadPath", paths[1], "-ResultPath", paths[2]],
            env=full_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        result = None
        if os.path.exists(paths[2]):
            with open(paths[2], "rb") as f:
                result = json.loads(f.read().decode("utf-8"))
        return proc.returncode, result, proc.stderr.decode("utf-8", errors="replace")
