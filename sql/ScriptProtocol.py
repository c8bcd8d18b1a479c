"""The file protocol shared by the backup scripts.

The programs start a script as
    python3 <script> -Mode <mode> -ConfigPath <file> -PayloadPath <file> -ResultPath <file>
and read back one JSON object with at least "success" and "message".
Config and payload arrive as UTF-8 (with or without byte-order mark).
"""

import json
import os
import subprocess
import sys
import tempfile

SWITCHES = ("mode", "configpath", "payloadpath", "resultpath")


class ScriptError(Exception):
    """A failure whose text is meant for the user; `extra` members go into
    the failure's result beside "success" and "message"."""

    def __init__(self, message, extra=None):
        super().__init__(message)
        self.extra = dict(extra or {})


def parse_switches(argv):
    """-Name value pairs, names case-insensitive like the programs expect."""
    values = {}
    i = 0
    while i < len(argv):
        arg = argv[i]
        if arg.startswith("-") and arg[1:].lower() in SWITCHES:
            if i + 1 >= len(argv):
                raise ScriptError("Parametre degeri eksik: " + arg)
            values[arg[1:].lower()] = argv[i + 1]
            i += 2
        else:
            raise ScriptError("Bilinmeyen parametre: " + arg)
    return values


def read_json_object(path, what):
    if not path:
        return {}
    try:
        with open(path, "r", encoding="utf-8-sig") as f:
            text = f.read()
    except OSError as e:
        raise ScriptError("%s dosyasi okunamadi: %s" % (what, e.strerror or e))
    if not text.strip():
        return {}
    try:
        value = json.loads(text)
    except ValueError:
        raise ScriptError("%s dosyasi gecerli JSON degil: %s" % (what, path))
    if not isinstance(value, dict):
        raise ScriptError("%s dosyasi bir JSON nesnesi degil: %s" % (what, path))
    return value


def text(obj, key):
    """A member as text; missing or null reads as empty."""
    value = obj.get(key)
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def flag(obj, key):
    """True for JSON true or the text "true" in any letter case."""
    return text(obj, key).strip().lower() == "true"


def number(obj, key, default=0):
    value = obj.get(key)
    if isinstance(value, bool) or value is None:
        return default
    try:
        return int(str(value).strip())
    except ValueError:
        return default


def write_json_atomically(path, value):
    """Readers never see half a result: temporary file beside it, then rename."""
    data = json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".result-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def run_tool(argv, extra_env=None):
    """Runs a command line tool; secrets travel in extra_env, never in argv.
    A None value in extra_env removes an inherited variable. Returns
    (exit code, stdout, stderr) as text; a missing program raises ScriptError."""
    env = dict(os.environ)
    for key, value in (extra_env or {}).items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value
    try:
        proc = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as e:
        raise ScriptError("%s calistirilamadi: %s" % (argv[0], e.strerror or e))
    return (proc.returncode,
            proc.stdout.decode("utf-8", errors="replace"),
            proc.stderr.decode("utf-8", errors="replace"))


def main(handler, argv=None):
    """Parses the switches, runs handler(mode, config, payload) and writes
    its result. The handler returns the result object without "success" and
    "message" when it succeeds with the given message; failures raise."""
    argv = sys.argv[1:] if argv is None else argv
    result_path = ""
    try:
        switches = parse_switches(argv)
        result_path = switches.get("resultpath", "")
        if not result_path:
            raise ScriptError("ResultPath parametresi eksik.")
        config = read_json_object(switches.get("configpath", ""), "Ayar")
        payload = read_json_object(switches.get("payloadpath", ""), "Istek")
        mode = switches.get("mode", "").strip()
        message, extra = handler(mode, config, payload)
        result = {"success": True, "message": message}
        result.update(extra)
        code = 0
    except ScriptError as e:
        result, code = {"success": False, "message": str(e)}, 1
        result.update(e.extra)
    except Exception as e:  # every failure must still produce a result file
        result, code = {"success": False, "message": "Beklenmeyen hata: %s: %s" % (type(e).__name__, e)}, 1
    if not result_path:
        sys.stderr.write(result["message"] + "\n")
        return 2
    try:
        write_json_atomically(result_path, result)
    except OSError as e:
        sys.stderr.write("Sonuc dosyasi yazilamadi: %s\n" % e)
        return 3
    return code
