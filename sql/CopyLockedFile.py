"""Readable copy of a file that another program keeps open.

Mode "copy": payload "sourcePath", "destinationPath"; result "backupFilePath".
The copy is written under a temporary name beside the destination and
renamed when complete. A source that changes while it is read is read
again, so the copy is one consistent state of the file or no copy at all.
"""

import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # the program folder is not ours to write
from ScriptProtocol import ScriptError, main, text

ATTEMPTS = 3
CHUNK = 1024 * 1024


def signature(path):
    st = os.stat(path)
    return (st.st_size, st.st_mtime_ns, st.st_ino)


def copy_once(source, destination):
    folder = os.path.dirname(os.path.abspath(destination))
    fd, tmp = tempfile.mkstemp(prefix=".copy-", dir=folder)
    try:
        before = signature(source)
        with open(source, "rb") as src, os.fdopen(fd, "wb") as dst:
            shutil.copyfileobj(src, dst, CHUNK)
            dst.flush()
            os.fsync(dst.fileno())
        if signature(source) != before:
            os.unlink(tmp)
            return False
        shutil.copystat(source, tmp)
        os.replace(tmp, destination)
        return True
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def handle(mode, config, payload):
    if mode.lower() != "copy":
        raise ScriptError("Bilinmeyen mod: " + mode)
    source = text(payload, "sourcePath").strip()
    destination = text(payload, "destinationPath").strip()
    if not source:
        raise ScriptError("Kaynak dosya yolu bos.")
    if not destination:
        raise ScriptError("Hedef dosya yolu bos.")
    if not os.path.isfile(source):
        raise ScriptError("Kaynak dosya bulunamadi: " + source)
    try:
        folder = os.path.dirname(os.path.abspath(destination))
        os.makedirs(folder, exist_ok=True)
        for _ in range(ATTEMPTS):
            if copy_once(source, destination):
                return "Dosya kopyalandi: " + destination, {"backupFilePath": destination}
    except OSError as e:
        raise ScriptError("Dosya kopyalanamadi: %s (%s)" % (source, e.strerror or e))
    raise ScriptError("Dosya kopyalama sirasinda surekli degisti, tutarli kopya alinamadi: " + source)


if __name__ == "__main__":
    sys.exit(main(handle))
