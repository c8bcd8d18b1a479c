"""Stand-in for sqlcmd: models a SQL Server from a scenario file and records
every call.

Environment:
  FAKE_SQLCMD_SCENARIO  JSON scenario (see test_backup_database.py)
  FAKE_SQLCMD_LOG       JSON lines, one per call: argv, the password
                        variable, the decoded N'' variables and the query
                        with those literals replaced by "?"
                        (a restore also logs {"restoreOf": the backup it read})
It answers in sqlcmd's output format for the flags it is given (-s, -h -1,
-r 1 sending messages to stderr, -b turning errors into exit code 1).
"""

import json
import os
import re
import sys


def hexu(value):
    return (value or "").encode("utf-16-le").hex().upper()


def parse_literals(query):
    """Replaces every N'..' (+ NCHAR(n) ...) expression with '?' and returns
    (skeleton, {variable: value}) for DECLARE @v type = <expression>."""
    out, values, i = [], [], 0
    while i < len(query):
        if query.startswith("N'", i) or query.startswith("NCHAR(", i):
            value = ""
            while True:
                if query.startswith("N'", i):
                    j = i + 2
                    buf = []
                    while True:
                        if query[j] == "'" and query[j + 1:j + 2] == "'":
                            buf.append("'")
                            j += 2
                        elif query[j] == "'":
                            j += 1
                            break
                        else:
                            buf.append(query[j])
                            j += 1
                    value += "".join(buf)
                    i = j
                else:
                    m = re.match(r"NCHAR\((\d+)\)", query[i:])
                    value += chr(int(m.group(1)))
                    i += m.end()
                m = re.match(r"\s*\+\s*(?=N'|NCHAR\()", query[i:])
                if not m:
                    break
                i += m.end()
            out.append("?")
            values.append(value)
        else:
            out.append(query[i])
            i += 1
    skeleton = "".join(out)
    variables = {}
    k = 0
    for m in re.finditer(r"\?|DECLARE (@\w+) [\w()]+ = \?", skeleton):
        if m.group(1):
            variables[m.group(1)] = values[k]
        if m.group(0).endswith("?"):
            k += 1
    return skeleton, variables


def main(argv):
    opts, i = {}, 0
    flags_without_value = {"-b", "-x", "-C", "-W", "-E"}
    while i < len(argv):
        if argv[i] in flags_without_value:
            opts[argv[i]] = True
            i += 1
        else:
            opts[argv[i]] = argv[i + 1]
            i += 2
    query = opts.get("-Q", "")
    skeleton, variables = parse_literals(query)
    with open(os.environ["FAKE_SQLCMD_SCENARIO"], encoding="utf-8") as f:
        scenario = json.load(f)
    password = os.environ.get("SQLCMDPASSWORD")
    with open(os.environ["FAKE_SQLCMD_LOG"], "a", encoding="utf-8") as f:
        f.write(json.dumps({"argv": argv, "password": password, "variables": variables,
                            "skeleton": skeleton}) + "\n")

    sep = opts.get("-s", " ")
    headers = opts.get("-h") != "-1"

    def fail(*messages, level=16):
        for n, text in enumerate(messages):
            sys.stderr.write("Msg %d, Level %d, State 1, Server FAKE, Line 1\n%s\n" % (3000 + n, level, text))
        return 1 if "-b" in opts else 0

    def rows(*cells_list):
        for cells in cells_list:
            sys.stdout.write(sep.join(str(c) for c in cells) + "\n")
        return 0

    def table(columns, records):
        if headers:
            sys.stdout.write(sep.join(columns) + "\n")
            sys.stdout.write(sep.join("-" * len(c) for c in columns) + "\n")
        for record in records:
            sys.stdout.write(sep.join(str(record.get(c, "NULL")) for c in columns) + "\n")
        return 0

    if scenario.get("password") is not None and password != scenario["password"]:
        sys.stderr.write("Sqlcmd: Error: Microsoft ODBC Driver 18 for SQL Server : "
                         "Login failed for user '%s'..\n" % opts.get("-U", ""))
        return 1

    databases = scenario.get("databases", {})
    if "BACKUP DATABASE @db" in skeleton:
        name, path = variables["@db"], variables["@path"]
        if name not in databases:
            return rows(["ROW", "NODB", 0])
        if scenario.get("backupError"):
            return fail(scenario["backupError"], "BACKUP DATABASE is terminating abnormally.")
        compress = "WHEN 1 = 1" in skeleton and scenario.get("engineEdition", 3) != 4
        with open(path, "w", encoding="utf-8") as f:
            f.write(json.dumps({"database": name, "differential": "DIFFERENTIAL" in skeleton,
                                "compressed": compress}))
            # Trailing white space keeps the file JSON and makes it as large
            # as an archive test needs.
            f.write(" " * int(scenario.get("backupPadding", 0)))
        sys.stderr.write("Processed 360 pages for database '%s', file 'x' on file 1.\n"
                         "BACKUP DATABASE successfully processed 361 pages.\n" % name)
        return rows(["ROW", "OK", 1 if compress else 0])

    if "RESTORE FILELISTONLY" in skeleton or "RESTORE HEADERONLY" in skeleton:
        path = variables["@path"]
        try:
            with open(path, encoding="utf-8") as f:
                name = json.load(f)["database"]
        except OSError:
            return fail("Cannot open backup device '%s'. Operating system error 2." % path,
                        "RESTORE is terminating abnormally.")
        db = databases[name]
        if "RESTORE FILELISTONLY" in skeleton:
            if db.get("fileListError"):
                return fail(db["fileListError"])
            thumb = db.get("headerThumbprint")
            records = [{"LogicalName": f["logicalName"], "PhysicalName": f["physicalName"],
                        "Type": f["type"], "FileGroupName": "PRIMARY", "Size": 8388608,
                        "TDEThumbprint": ("0x" + thumb) if thumb else "NULL"}
                       for f in db.get("files", [])]
            columns = ["LogicalName", "PhysicalName", "Type", "FileGroupName", "Size"]
            if not db.get("oldServer"):
                columns.append("TDEThumbprint")
            return table(columns, records)
        if db.get("headerError"):
            return fail(db["headerError"])
        columns = ["BackupName", "BackupType", "DatabaseName", "Compressed"]
        if not db.get("oldServer"):
            columns.append("EncryptorThumbprint")
        return table(columns, [{"BackupName": "NULL", "BackupType": 1, "DatabaseName": name,
                                "Compressed": 1, "EncryptorThumbprint": "NULL"}])

    if "FROM sys.master_files" in skeleton:
        name = variables["@db"]
        targets = [v for k, v in sorted(variables.items()) if re.match(r"@t\d+$", k)]
        in_use = ""
        for other, db in databases.items():
            if other == name:
                continue
            for f in db.get("files", []):
                if f["physicalName"] in targets and not in_use:
                    in_use = f["physicalName"]
        return rows(["ROW", 1 if name in databases else 0, hexu(in_use)])

    if "RESTORE DATABASE @db" in skeleton:
        path = variables["@path"]
        if not os.path.exists(path):
            return fail("Cannot open backup device '%s'. Operating system error 2." % path,
                        "RESTORE DATABASE is terminating abnormally.")
        if scenario.get("restoreError"):
            return fail(scenario["restoreError"], "RESTORE DATABASE is terminating abnormally.")
        try:
            with open(path, encoding="utf-8") as f:
                content = json.load(f)
        except (OSError, ValueError):
            return fail("The media family on device '%s' is incorrectly formed." % path,
                        "RESTORE DATABASE is terminating abnormally.")
        with open(os.environ["FAKE_SQLCMD_LOG"], "a", encoding="utf-8") as f:
            f.write(json.dumps({"restoreOf": content}) + "\n")
        sys.stderr.write("RESTORE DATABASE successfully processed 361 pages.\n")
        return 0

    if "state_desc" in skeleton:
        return rows(["ROW", hexu(scenario.get("restoredState", "ONLINE"))])

    if "DROP DATABASE" in skeleton:
        return 0

    if "sys.dm_database_encryption_keys" in skeleton:
        if scenario.get("tdeQueryError"):
            return fail(scenario["tdeQueryError"])
        name = variables["@db"]
        if name not in databases:
            return rows(["ROW", "NODB", "", "", "", ""])
        db = databases[name]
        state = db.get("state", 0)
        dmv_error = scenario.get("dmvError", "")
        thumb = "" if dmv_error else db.get("thumbprint", "")
        cert = "" if dmv_error else db.get("cert", "")
        return rows(["ROW", 1 if db.get("encrypted") else 0, "" if dmv_error else state,
                     thumb, hexu(cert), hexu(dmv_error)])

    if "FROM sys.databases WHERE database_id > 4" in skeleton:
        return rows(*[["ROW", hexu(n)] for n in sorted(databases)])

    if "@@SERVERNAME" in skeleton:
        return rows(["ROW", hexu(scenario.get("serverName", "FAKE")), hexu(scenario.get("version", "16.0.1000.6"))])

    return fail("Fake sqlcmd cannot answer: " + skeleton)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
