"""SQL Server backups and checks through sqlcmd.

Config: "server", "userName", "password", "backupOutputDir".
Modes:
  backup        payload "databaseName", "backupDirectory", "backupFileName",
                "useCompression", "backupType" ("Full" or "Diff"); result
                "backupFilePath", "bakTdeThumbprint", "bakTdeCheckError",
                "bakFileList" [{"logicalName","physicalName","type"}],
                "bakFileListError"
  tdeStatus     payload "databaseName"; result "tdeSupported",
                "tdeIsEncrypted", "tdeDetailAvailable", "tdeThumbprint",
                "tdeCertName", "tdeError"
  restore       payload "databaseName", "backupFiles" (a full backup, then
                optionally its differential), "moves" [{"logicalName",
                "physicalName"}], "replace"; RESTORE DATABASE ... WITH MOVE
                for every file, NORECOVERY for all but the last, RECOVERY
                for the last. An existing database is refused (result
                "exists": true) unless "replace" is true; a file that
                belongs to another database is always refused. A database
                the restore made is dropped again when the restore fails.
  test          a trivial query
  listDatabases result "databases" (user databases)

The password reaches sqlcmd through SQLCMDPASSWORD, never on its command
line. Text from users (database names, paths) enters the T-SQL only as N''
literals bound to variables; scripting variables are switched off (-x), so
no user text can change the statements. Names and messages come back as
hexadecimal UTF-16, so any character (separators, line breaks, letters
outside the client's code page) survives the trip through sqlcmd's output.
"""

import os
import re
import shutil
import sys

sys.dont_write_bytecode = True  # the program folder is not ours to write
from ScriptProtocol import ScriptError, flag, main, run_tool, text

# Column separator for sqlcmd output; it cannot occur in our hexadecimal
# cells and is most unlikely in the file lists of backup headers.
SEP = "\x1f"
EXTRA_SQLCMD_LOCATIONS = ("/opt/mssql-tools18/bin/sqlcmd", "/opt/mssql-tools/bin/sqlcmd")


class SqlError(ScriptError):
    pass


def find_sqlcmd():
    found = shutil.which("sqlcmd")
    if found:
        return found
    for candidate in EXTRA_SQLCMD_LOCATIONS:
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    raise ScriptError("sqlcmd bulunamadi. SQL Server komut satiri araclari kurulu olmali ve PATH uzerinde bulunmali.")


def sql_literal(value):
    """N'' literal with doubled quotes; control characters become NCHAR(n), so
    user text never breaks the statement onto a new line."""
    parts, run = [], []

    def flush():
        parts.append("N'" + "".join(run).replace("'", "''") + "'")
        run.clear()

    for ch in value:
        if ord(ch) < 32 or ord(ch) == 127 or ch in "\x85\u2028\u2029":
            if run:
                flush()
            parts.append("NCHAR(%d)" % ord(ch))
        else:
            run.append(ch)
    if run or not parts:
        flush()
    return " + ".join(parts)


def hex_column(expression, chars=256):
    """An nvarchar expression as hexadecimal UTF-16LE text ('' for NULL)."""
    return ("ISNULL(CONVERT(varchar(%d), CONVERT(varbinary(%d), CAST(%s AS nvarchar(%d))), 2), '')"
            % (chars * 4, chars * 2, expression, chars))


def unhex(cell):
    cell = cell.strip()
    if not cell or cell.upper() == "NULL":
        return ""
    if cell[:2].lower() == "0x":
        cell = cell[2:]
    try:
        return bytes.fromhex(cell).decode("utf-16-le", errors="replace")
    except ValueError:
        return ""


def normalize_thumbprint(cell):
    cell = (cell or "").strip()
    if not cell or cell.upper() == "NULL":
        return ""
    if cell[:2].lower() == "0x":
        cell = cell[2:]
    return cell.upper()


def sqlcmd_error(out, err, code):
    """The server's and the client's error texts, without the informational
    messages that -r 1 sends along."""
    messages = []
    expect_text = False
    for raw in (err + "\n" + out).splitlines():
        line = raw.strip()
        if not line:
            expect_text = False
            continue
        header = re.match(r"^(Msg \d+|HResult 0x[0-9A-Fa-f]+), Level (\d+), State \d+", line)
        if header:
            expect_text = int(header.group(2)) >= 11
            continue
        if line.startswith("Sqlcmd:"):
            line = re.sub(r"^Sqlcmd:\s*(Error:\s*)?", "", line)
        elif expect_text:
            expect_text = False
        elif not line.startswith("mssql:"):
            continue
        if line and line not in messages:
            messages.append(line)
    if messages:
        return " ".join(messages)
    tail = (err.strip() or out.strip()).splitlines()
    return " ".join(l.strip() for l in tail[-3:] if l.strip()) or ("sqlcmd cikis kodu: %d" % code)


class Server:
    def __init__(self, config):
        self.server = text(config, "server").strip()
        self.user = text(config, "userName").strip()
        self.password = text(config, "password")

    def run(self, query, headers=False):
        argv = [find_sqlcmd()]
        if self.server:
            argv += ["-S", self.server]
        argv += ["-U", self.user] if self.user else ["-E"]
        argv += ["-d", "master", "-b", "-r", "1", "-x", "-f", "65001", "-l", "30", "-C", "-W", "-s", SEP]
        if not headers:
            argv += ["-h", "-1"]
        argv += ["-Q", query]
        env = {"SQLCMDPASSWORD": self.password if self.user and self.password else None}
        code, out, err = run_tool(argv, env)
        if code != 0:
            raise SqlError(sqlcmd_error(out, err, code))
        return out

    def rows(self, query):
        """Rows of a query whose first column is the marker 'ROW'."""
        result = []
        for line in self.run(query).splitlines():
            cells = line.split(SEP)
            if cells[0].strip() == "ROW":
                result.append([c.strip() for c in cells[1:]])
        return result

    def table(self, query):
        """The first result set of a statement whose columns we do not
        choose (RESTORE ... ONLY), as dictionaries keyed by column name."""
        lines = self.run(query, headers=True).splitlines()
        i = 0
        while i < len(lines) and not lines[i].strip():
            i += 1
        if i >= len(lines):
            return []
        names = [c.strip() for c in lines[i].split(SEP)]
        i += 1
        if i < len(lines) and set(lines[i].strip()) <= set("-" + SEP + " "):
            i += 1
        rows = []
        while i < len(lines) and lines[i].strip():
            cells = [c.strip() for c in lines[i].split(SEP)]
            rows.append(dict(zip(names, cells)))
            i += 1
        return rows

    def server_info(self):
        rows = self.rows("SET NOCOUNT ON; SELECT 'ROW', %s, %s;"
                         % (hex_column("@@SERVERNAME"), hex_column("SERVERPROPERTY('ProductVersion')")))
        if not rows:
            raise SqlError("SQL Server sorgu sonucu okunamadi.")
        cells = rows[0] + ["", ""]
        return unhex(cells[0]), unhex(cells[1])


def database_name(payload):
    name = text(payload, "databaseName").strip()
    if not name:
        raise ScriptError("Veritabani adi bos.")
    return name


def join_server_path(directory, name):
    """The backup path as the server sees it; Windows-style folders keep
    their separator."""
    if directory.endswith(("\\", "/")):
        return directory + name
    windows = "\\" in directory or re.match(r"^[A-Za-z]:", directory)
    return directory + ("\\" if windows else "/") + name


def mode_test(server):
    name, version = server.server_info()
    details = ", ".join(p for p in (("sunucu: " + name) if name else "", ("surum: " + version) if version else "") if p)
    return "SQL Server baglantisi basarili" + (" (%s)." % details if details else "."), {}


def mode_list(server):
    rows = server.rows("SET NOCOUNT ON; SELECT 'ROW', %s FROM sys.databases "
                       "WHERE database_id > 4 AND source_database_id IS NULL ORDER BY name;"
                       % hex_column("name", 128))
    names = [unhex(r[0]) for r in rows if r]
    return "%d veritabani bulundu." % len(names), {"databases": names}


def mode_tde(server, payload):
    name = database_name(payload)
    query = (
        "SET NOCOUNT ON; "
        "DECLARE @db nvarchar(128) = %s; "
        "DECLARE @enc int, @state int, @thumb varchar(64), @cert nvarchar(128), @err nvarchar(2000); "
        "SELECT @enc = CAST(is_encrypted AS int) FROM sys.databases WHERE name = @db; "
        "BEGIN TRY "
        "SELECT @state = k.encryption_state, @thumb = CONVERT(varchar(64), k.encryptor_thumbprint, 2), "
        "@cert = COALESCE(c.name, a.name) "
        "FROM sys.dm_database_encryption_keys k "
        "LEFT JOIN master.sys.certificates c ON c.thumbprint = k.encryptor_thumbprint "
        "LEFT JOIN master.sys.asymmetric_keys a ON a.thumbprint = k.encryptor_thumbprint "
        "WHERE k.database_id = DB_ID(@db); "
        "END TRY BEGIN CATCH SET @err = LEFT(ERROR_MESSAGE(), 2000); END CATCH; "
        "SELECT 'ROW', ISNULL(CAST(@enc AS varchar(4)), 'NODB'), ISNULL(CAST(@state AS varchar(4)), ''), "
        "ISNULL(@thumb, ''), %s, %s;"
        % (sql_literal(name), hex_column("@cert", 128), hex_column("@err", 2000)))
    try:
        rows = server.rows(query)
    except SqlError as e:
        # The connection works but the server cannot answer the question
        # (old version, missing permission): not supported, not a failure.
        server.server_info()
        return "TDE durumu okunamadi.", {
            "tdeSupported": False, "tdeIsEncrypted": False, "tdeDetailAvailable": False,
            "tdeThumbprint": "", "tdeCertName": "", "tdeError": str(e)}
    if not rows or len(rows[0]) < 5:
        raise SqlError("TDE sorgu sonucu okunamadi.")
    enc, state, thumb, cert, err = rows[0][:5]
    if enc == "NODB":
        raise ScriptError("Veritabani bulunamadi: " + name)
    state_code = int(state) if state.isdigit() else 0
    # 2 encrypting, 3 encrypted, 4 key change, 5 decrypting, 6 protection
    # change: each leaves backups that need the certificate.
    encrypted = enc == "1" or state_code in (2, 3, 4, 5, 6)
    thumbprint = normalize_thumbprint(thumb) if encrypted else ""
    detail = encrypted and bool(thumbprint)
    error = unhex(err)
    if encrypted and not detail and not error:
        error = "Sifreleme anahtari bilgisi okunamadi (VIEW SERVER STATE yetkisi gerekebilir)."
    return ("TDE durumu okundu: " + ("sifreli." if encrypted else "sifreli degil."), {
        "tdeSupported": True, "tdeIsEncrypted": encrypted, "tdeDetailAvailable": detail,
        "tdeThumbprint": thumbprint, "tdeCertName": unhex(cert) if encrypted else "",
        "tdeError": error})


def inspect_backup(server, path):
    """Thumbprint and file list from the new backup's header."""
    declare = "SET NOCOUNT ON; DECLARE @path nvarchar(4000) = %s; " % sql_literal(path)
    thumbprint, checked, errors = "", False, []
    files, files_error = [], ""
    try:
        rows = server.table(declare + "RESTORE FILELISTONLY FROM DISK = @path;")
        for row in rows:
            files.append({"logicalName": row.get("LogicalName", ""),
                          "physicalName": row.get("PhysicalName", ""),
                          "type": row.get("Type", "")})
            if "TDEThumbprint" in row:
                checked = True
                thumbprint = thumbprint or normalize_thumbprint(row["TDEThumbprint"])
        if not rows:
            files_error = "Yedek dosya listesi bos dondu."
    except SqlError as e:
        files_error = str(e)
        errors.append(files_error)
    try:
        rows = server.table(declare + "RESTORE HEADERONLY FROM DISK = @path;")
        if rows and "EncryptorThumbprint" in rows[0]:
            checked = True
            thumbprint = thumbprint or normalize_thumbprint(rows[0]["EncryptorThumbprint"])
    except SqlError as e:
        errors.append(str(e))
    check_error = ""
    if not checked:
        check_error = " | ".join(errors) or "Yedek basliginda sifreleme bilgisi bulunamadi."
    return thumbprint, check_error, files, files_error


def remove_quietly(path):
    try:
        os.unlink(path)
    except OSError:
        pass


def mode_backup(server, config, payload):
    name = database_name(payload)
    directory = text(payload, "backupDirectory").strip() or text(config, "backupOutputDir").strip()
    if not directory:
        raise ScriptError("Yedek klasoru belirtilmemis.")
    file_name = text(payload, "backupFileName").strip() or (name + ".bak")
    differential = text(payload, "backupType").strip().lower() == "diff"
    compress = flag(payload, "useCompression")
    target = join_server_path(directory, file_name)

    # When the folder is visible here, the server writes to a side name that
    # replaces the previous backup only once it is complete.
    local = os.path.isabs(directory) and "\\" not in directory
    if local:
        try:
            os.makedirs(directory, exist_ok=True)
        except OSError:
            local = False
    written = target + ".partial" if local else target
    if local:
        remove_quietly(written)

    options = "INIT, FORMAT, CHECKSUM" + (", DIFFERENTIAL" if differential else "")
    query = (
        "SET NOCOUNT ON; "
        "DECLARE @db nvarchar(128) = %s; DECLARE @path nvarchar(4000) = %s; "
        "IF DB_ID(@db) IS NULL BEGIN SELECT 'ROW', 'NODB', 0; RETURN; END; "
        # Express and Web editions cannot compress backups; they still back up.
        "DECLARE @compress bit = CASE WHEN %d = 1 AND CAST(SERVERPROPERTY('EngineEdition') AS int) <> 4 "
        "AND CAST(SERVERPROPERTY('Edition') AS nvarchar(128)) NOT LIKE N'Web%%' THEN 1 ELSE 0 END; "
        "IF @compress = 1 BEGIN BACKUP DATABASE @db TO DISK = @path WITH %s, COMPRESSION; END "
        "ELSE BEGIN BACKUP DATABASE @db TO DISK = @path WITH %s; END; "
        "SELECT 'ROW', 'OK', CAST(@compress AS int);"
        % (sql_literal(name), sql_literal(written), 1 if compress else 0, options, options))
    try:
        rows = server.rows(query)
    except SqlError as e:
        if local:
            remove_quietly(written)
        raise ScriptError("SQL Server yedegi alinamadi (%s): %s" % (name, e))
    status = rows[0] if rows else []
    if status[:1] == ["NODB"]:
        raise ScriptError("Veritabani bulunamadi: " + name)
    if status[:1] != ["OK"]:
        if local:
            remove_quietly(written)
        raise ScriptError("SQL Server yedek sonucu okunamadi (%s)." % name)
    if local:
        try:
            os.replace(written, target)
        except OSError as e:
            remove_quietly(written)
            raise ScriptError("Yedek dosyasi yerine konamadi: %s (%s)" % (target, e.strerror or e))

    thumbprint, check_error, files, files_error = inspect_backup(server, target)
    message = "SQL Server %s yedegi alindi: %s" % ("fark (DIFF)" if differential else "tam", target)
    if compress and status[1:2] == ["0"]:
        message += " (Bu SQL Server surumu yedek sikistirmayi desteklemiyor; sikistirmasiz alindi.)"
    return message, {
        "backupFilePath": target,
        "bakTdeThumbprint": thumbprint,
        "bakTdeCheckError": check_error,
        "bakFileList": files,
        "bakFileListError": files_error,
    }


def restore_statement(moves, recovery, replace):
    """One RESTORE of the chain; every name and path is a variable."""
    options = ["MOVE @f%d TO @t%d" % (i, i) for i in range(len(moves))]
    if replace:
        options.append("REPLACE")
    options.append("RECOVERY" if recovery else "NORECOVERY")
    return "RESTORE DATABASE @db FROM DISK = @path WITH %s;" % ", ".join(options)


def restore_declarations(name, path, moves):
    parts = ["SET NOCOUNT ON;", "DECLARE @db nvarchar(128) = %s;" % sql_literal(name)]
    if path is not None:
        parts.append("DECLARE @path nvarchar(4000) = %s;" % sql_literal(path))
    for i, move in enumerate(moves):
        parts.append("DECLARE @f%d nvarchar(128) = %s;" % (i, sql_literal(text(move, "logicalName"))))
        parts.append("DECLARE @t%d nvarchar(4000) = %s;" % (i, sql_literal(text(move, "physicalName"))))
    return " ".join(parts) + " "


def mode_restore(server, payload):
    name = database_name(payload)
    files = [str(f) for f in (payload.get("backupFiles") or []) if str(f).strip()]
    if not files:
        raise ScriptError("Geri yuklenecek yedek dosyasi belirtilmemis.")
    moves = [m for m in (payload.get("moves") or []) if isinstance(m, dict)]
    replace = flag(payload, "replace")
    targets = " OR ".join("physical_name = @t%d" % i for i in range(len(moves))) or "1 = 0"
    rows = server.rows(
        restore_declarations(name, None, moves) +
        "SELECT 'ROW', CASE WHEN DB_ID(@db) IS NULL THEN 0 ELSE 1 END, %s;"
        % hex_column("(SELECT TOP 1 physical_name FROM sys.master_files WHERE database_id <> "
                     "ISNULL(DB_ID(@db), 0) AND (%s))" % targets, 4000))
    if not rows or len(rows[0]) < 2:
        raise SqlError("SQL Server sorgu sonucu okunamadi.")
    existed = rows[0][0] == "1"
    if existed and not replace:
        raise ScriptError("Veritabani zaten var: %s. Uzerine yazmak icin onay gerekli." % name, {"exists": True})
    in_use = unhex(rows[0][1])
    if in_use:
        raise ScriptError("Hedef dosya baska bir veritabanina ait: %s" % in_use, {"fileInUse": in_use})
    for i, path in enumerate(files):
        last = i == len(files) - 1
        try:
            server.run(restore_declarations(name, path, moves) + restore_statement(moves, last, replace))
        except SqlError as e:
            if not existed:
                drop_quietly(server, name)
            raise ScriptError("SQL Server geri yukleme basarisiz (%s): %s" % (os.path.basename(path), e))
    state = server.rows(restore_declarations(name, None, []) +
                        "SELECT 'ROW', %s FROM sys.databases WHERE name = @db;" % hex_column("state_desc", 60))
    status = unhex(state[0][0]) if state and state[0] else ""
    if status and status.upper() != "ONLINE":
        raise ScriptError("Geri yuklenen veritabani acik degil (%s): %s" % (status, name))
    return "SQL Server veritabani geri yuklendi (%d yedek): %s" % (len(files), name), {"databaseName": name}


def drop_quietly(server, name):
    """Takes back a database this restore created."""
    try:
        server.run(restore_declarations(name, None, []) +
                   "IF DB_ID(@db) IS NOT NULL BEGIN DECLARE @q nvarchar(300) = 'DROP DATABASE ' + QUOTENAME(@db); "
                   "EXEC (@q); END;")
    except SqlError:
        pass


def handle(mode, config, payload):
    server = Server(config)
    m = mode.lower()
    if m == "restore":
        return mode_restore(server, payload)
    if m == "backup":
        return mode_backup(server, config, payload)
    if m == "tdestatus":
        return mode_tde(server, payload)
    if m == "test":
        return mode_test(server)
    if m == "listdatabases":
        return mode_list(server)
    raise ScriptError("Bilinmeyen mod: " + mode)


if __name__ == "__main__":
    sys.exit(main(handle))
