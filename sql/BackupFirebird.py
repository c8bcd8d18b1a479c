"""Firebird backups through gbak.

Config: "server", "port", "userName", "password", "gbackPath", "backupOutputDir".
Modes:
  backup  payload "databasePath", "backupDirectory", "backupFileName";
          result "backupFilePath" (the .fbk written by gbak)
  test    logs in to the server's service manager with the configured
          credentials (fbsvcmgr beside gbak, or on PATH)
The password reaches the Firebird tools through ISC_PASSWORD, never on
their command line.
"""

import os
import re
import shutil
import sys

sys.dont_write_bytecode = True  # the program folder is not ours to write
from ScriptProtocol import ScriptError, main, number, run_tool, text


def find_gbak(config):
    configured = text(config, "gbackPath").strip()
    if configured:
        candidate = os.path.join(configured, "gbak") if os.path.isdir(configured) else configured
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    # A path carried over from another machine should not stop the backup
    # when the tool is installed here.
    found = shutil.which("gbak")
    if found:
        return found
    if configured:
        raise ScriptError("gbak bulunamadi: " + configured)
    raise ScriptError("gbak bulunamadi. Firebird istemci araclari kurulu olmali "
                      "veya ayarlarda gbak yolu belirtilmeli.")


def find_fbsvcmgr(gbak):
    beside = os.path.join(os.path.dirname(gbak), "fbsvcmgr")
    if os.path.isfile(beside) and os.access(beside, os.X_OK):
        return beside
    found = shutil.which("fbsvcmgr")
    if not found:
        raise ScriptError("fbsvcmgr bulunamadi; Firebird istemci araclari eksik kurulu.")
    return found


def connection(config, target):
    """"server/port:target"; a blank server means this machine."""
    server = text(config, "server").strip() or "localhost"
    port = number(config, "port", 0)
    return "%s/%d:%s" % (server, port, target) if port > 0 else "%s:%s" % (server, target)


def credentials(config):
    user = text(config, "userName").strip()
    password = text(config, "password")
    return user, {"ISC_USER": user or None, "ISC_PASSWORD": password or None}


def tool_error(out, err):
    lines = []
    for line in (err + "\n" + out).splitlines():
        line = line.strip()
        if not line or line.startswith("gbak:Exiting before completion"):
            continue
        m = re.match(r"gbak:\s*ERROR:\s*(.*)", line)
        if m:
            line = m.group(1).strip()
        if line and line not in lines:
            lines.append(line)
    return " ".join(lines)


def remove_quietly(path):
    try:
        os.unlink(path)
    except OSError:
        pass


def backup(config, payload):
    database = text(payload, "databasePath").strip()
    if not database:
        raise ScriptError("Firebird veritabani yolu bos.")
    directory = text(payload, "backupDirectory").strip() or text(config, "backupOutputDir").strip()
    if not directory:
        raise ScriptError("Yedek klasoru belirtilmemis.")
    name = text(payload, "backupFileName").strip()
    if not name:
        name = os.path.splitext(os.path.basename(database))[0] + ".fbk"
    gbak = find_gbak(config)
    try:
        os.makedirs(directory, exist_ok=True)
    except OSError as e:
        raise ScriptError("Yedek klasoru olusturulamadi: %s (%s)" % (directory, e.strerror or e))
    target = os.path.join(directory, name)
    # gbak writes to a side name, so a failed run leaves the last good backup.
    partial = target + ".partial"
    remove_quietly(partial)
    user, env = credentials(config)
    argv = [gbak, "-b"]
    if user:
        argv += ["-user", user]
    argv += [connection(config, database), partial]
    code, out, err = run_tool(argv, env)
    if code != 0 or not os.path.isfile(partial):
        remove_quietly(partial)
        detail = tool_error(out, err) or ("gbak cikis kodu: %d" % code)
        raise ScriptError("Firebird yedegi alinamadi (%s): %s" % (database, detail))
    try:
        os.replace(partial, target)
    except OSError as e:
        remove_quietly(partial)
        raise ScriptError("Yedek dosyasi yerine konamadi: %s (%s)" % (target, e.strerror or e))
    return "Firebird yedegi alindi: " + target, {"backupFilePath": target}


def test(config):
    gbak = find_gbak(config)
    fbsvcmgr = find_fbsvcmgr(gbak)
    _, env = credentials(config)
    code, out, err = run_tool([fbsvcmgr, connection(config, "service_mgr"), "info_server_version"], env)
    if code != 0:
        detail = tool_error(out, err) or ("fbsvcmgr cikis kodu: %d" % code)
        raise ScriptError("Firebird baglantisi basarisiz: " + detail)
    version = ""
    for line in out.splitlines():
        if line.lower().startswith("server version:"):
            version = line.split(":", 1)[1].strip()
    return "Firebird baglantisi basarili" + (" (%s)." % version if version else "."), {}


def handle(mode, config, payload):
    m = mode.lower()
    if m == "backup":
        return backup(config, payload)
    if m == "test":
        return test(config)
    raise ScriptError("Bilinmeyen mod: " + mode)


if __name__ == "__main__":
    sys.exit(main(handle))
