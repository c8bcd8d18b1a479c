"""Firebird backups through gbak.

Config: "server", "port", "userName", "password", "gbackPath", "backupOutputDir".
Modes:
  backup  payload "databasePath", "backupDirectory", "backupFileName";
          result "backupFilePath" (the .fbk written by gbak)
  test    logs in to the server's service manager with the configured
          credentials (fbsvcmgr beside gbak, or on PATH)
  restore payload "backupFilePath", "databasePath", "replace"; gbak -c into
          a side name, a query through isql-fb proves the database opens,
          then it takes the target's name. An existing target is refused
          (result "exists": true) unless "replace" is true.
The password reaches the Firebird tools through ISC_PASSWORD, never on
their command line.
"""

import os
import re
import shutil
import subprocess
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


def find_isql(gbak):
    for name in ("isql-fb", "isql"):
        beside = os.path.join(os.path.dirname(gbak), name)
        if os.path.isfile(beside) and os.access(beside, os.X_OK):
            return beside
    return shutil.which("isql-fb")


def check_opens(config, database, gbak):
    """A query on the system tables: the restored database opens."""
    isql = find_isql(gbak)
    if not isql:
        return "gbak dogrulamasi"
    user, env = credentials(config)
    argv = [isql, "-q", "-b"]
    if user:
        argv += ["-user", user]
    argv += [connection(config, database)]
    proc_input = "SELECT COUNT(*) FROM RDB$RELATIONS;\nQUIT;\n"
    code, out, err = run_tool_input(argv, env, proc_input)
    if code != 0 or "Statement failed" in out + err:
        raise ScriptError("Geri yuklenen veritabani acilamadi: " + (tool_error(out, err) or "isql cikis kodu: %d" % code))
    return "isql-fb ile acildi"


def run_tool_input(argv, env, data):
    full = dict(os.environ)
    for key, value in env.items():
        if value is None:
            full.pop(key, None)
        else:
            full[key] = value
    try:
        proc = subprocess.run(argv, env=full, input=data.encode("utf-8"),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as e:
        raise ScriptError("%s calistirilamadi: %s" % (argv[0], e.strerror or e))
    return (proc.returncode, proc.stdout.decode("utf-8", errors="replace"),
            proc.stderr.decode("utf-8", errors="replace"))


def restore(config, payload):
    source = text(payload, "backupFilePath").strip()
    target = text(payload, "databasePath").strip()
    replace = text(payload, "replace").strip().lower() == "true"
    if not source or not os.path.isfile(source):
        raise ScriptError("Geri yuklenecek .fbk dosyasi bulunamadi: " + source)
    if not target:
        raise ScriptError("Geri yuklenecek veritabani dosyasinin yolu bos.")
    gbak = find_gbak(config)
    user, env = credentials(config)
    folder = os.path.dirname(target)
    # A folder this machine sees: restore beside the target and rename, so
    # a failure leaves the target as it was. Otherwise the server's own
    # gbak -c refuses an existing database by itself.
    local = os.path.isabs(target) and os.path.isdir(folder)
    if local and os.path.lexists(target) and not replace:
        raise ScriptError("Hedef veritabani dosyasi zaten var: %s. Uzerine yazmak icin onay gerekli." % target,
                          {"exists": True})
    written = os.path.join(folder, ".%s.restoring" % os.path.basename(target)) if local else target
    if local:
        remove_quietly(written)
    argv = [gbak, "-rep" if (replace and not local) else "-c"]
    if user:
        argv += ["-user", user]
    argv += [source, connection(config, written)]
    code, out, err = run_tool(argv, env)
    if code != 0:
        if local:
            remove_quietly(written)
        detail = tool_error(out, err) or ("gbak cikis kodu: %d" % code)
        raise ScriptError("Firebird geri yukleme basarisiz (%s): %s" % (target, detail))
    try:
        how = check_opens(config, written, gbak)
    except ScriptError:
        if local:
            remove_quietly(written)
        raise
    if local:
        try:
            os.replace(written, target)
        except OSError as e:
            remove_quietly(written)
            raise ScriptError("Veritabani dosyasi yerine konamadi: %s (%s)" % (target, e.strerror or e))
    return "Firebird veritabani geri yuklendi (%s): %s" % (how, target), {"databasePath": target}


def handle(mode, config, payload):
    m = mode.lower()
    if m == "backup":
        return backup(config, payload)
    if m == "restore":
        return restore(config, payload)
    if m == "test":
        return test(config)
    raise ScriptError("Bilinmeyen mod: " + mode)


if __name__ == "__main__":
    sys.exit(main(handle))
