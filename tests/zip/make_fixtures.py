#!/usr/bin/env python3
"""Makes the archives that the zip engine's name and encryption tests read,
with Info-ZIP zip, 7-Zip (7zz) and Python's zipfile, into the folder given.

Names (each archive holds the files of one list, content = the name in UTF-8):
  names-utf8-flag.zip      zipfile: non-ASCII names as UTF-8 with flag bit 11
  names-7zip.zip           7zz: the same through 7-Zip
  names-infozip.zip        Info-ZIP zip on Linux: the same as UTF-8 bytes, no flag
  names-unicode-path.zip   names stored in GB18030 bytes with an Info-ZIP
                           Unicode Path field (0x7075) holding the UTF-8 name,
                           as Info-ZIP writes for names in a legacy code page
                           (Debian's zip writes no such field itself)
  names-cp437.zip          Info-ZIP zip of files whose names are code page 437
  names-cp866.zip          Info-ZIP zip of files whose names are code page 866

Encryption (each holds text.txt, random.bin and small.txt from crypto-src/):
  crypto-infozip.zip       zip -P (traditional; sizes after the data, so the
                           check byte comes from the time)
  crypto-7z-zipcrypto.zip  7zz -mem=ZipCrypto (traditional, CRC check byte)
  crypto-7z-aes128.zip, crypto-7z-aes192.zip, crypto-7z-aes256.zip
                           7zz -mem=AES128/192/256 (WinZip AES)
The password of all of them is "secret".

Usage: make_fixtures.py <folder>
"""

import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

# Made anew whenever this script changes.
with open(__file__, "rb") as _self:
    STAMP = ".fixtures-" + hashlib.sha1(_self.read()).hexdigest()[:12]
PASSWORD = "secret"

UNICODE_NAMES = ["café.txt", "Фото/снимок.txt", "日本語.txt", "中文.txt", "עברית.txt", "emoji_😀.txt",
                 "Ελληνικά.txt", "e\u0301cole.txt", "plain.txt"]
CP437_NAMES = ["café.txt", "Ñandú/año.txt", "naïve ½.txt", "plain.txt"]
CP866_NAMES = ["Фото/снимок.txt", "Привет.txt", "plain.txt"]


def run(cmd, cwd, **env):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, env=dict(os.environ, **env))


def write_tree(root, names, encoding):
    """Files named by the bytes of each name in encoding; returns those paths."""
    paths = []
    for name in names:
        path = name.encode(encoding)
        full = os.path.join(os.fsencode(root), path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(name.encode("utf-8"))
        paths.append(path)
    return paths


class LegacyNameInfo(zipfile.ZipInfo):
    """A member whose name zipfile stores in a legacy code page, with a
    Unicode Path field carrying the UTF-8 name and the CRC of those bytes."""

    def __init__(self, name):
        super().__init__(name)
        raw = name.encode("gb18030")
        if not name.isascii():
            data = struct.pack("<BI", 1, zlib.crc32(raw)) + name.encode("utf-8")
            self.extra = struct.pack("<HH", 0x7075, len(data)) + data

    def _encodeFilenameFlags(self):
        return self.filename.encode("gb18030"), self.flag_bits


def make_names(out):
    with zipfile.ZipFile(os.path.join(out, "names-utf8-flag.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for name in UNICODE_NAMES:
            z.writestr(name, name.encode("utf-8"))
    with zipfile.ZipFile(os.path.join(out, "names-unicode-path.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for name in UNICODE_NAMES:
            z.writestr(LegacyNameInfo(name), name.encode("utf-8"))

    src = os.path.join(out, "names-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    paths = write_tree(src, UNICODE_NAMES, "utf-8")
    run(["7zz", "a", "-tzip", "-bso0", "-bsp0", os.path.join(out, "names-7zip.zip")] + [p.decode() for p in paths],
        cwd=src)
    # Info-ZIP on Linux under a UTF-8 locale: the UTF-8 bytes, no flag, no field.
    run(["zip", "-q", "-D", os.path.join(out, "names-infozip.zip")] + [p.decode() for p in paths], cwd=src,
        LC_ALL="C.UTF-8")

    # Info-ZIP stores the bytes of the file names as they are (in the C locale
    # it knows no better), which makes archives in a legacy code page.
    for page, names in (("cp437", CP437_NAMES), ("cp866", CP866_NAMES)):
        tree = os.path.join(out, page + "-src")
        shutil.rmtree(tree, ignore_errors=True)
        os.makedirs(tree)
        paths = write_tree(tree, names, page)
        archive = os.path.join(out, "names-%s.zip" % page)
        run([b"zip", b"-q", b"-D", os.fsencode(archive)] + paths, cwd=tree, LC_ALL="C")


def make_crypto(out):
    src = os.path.join(out, "crypto-src")
    os.makedirs(src, exist_ok=True)
    rng = random.Random(11)
    words = ["alpha", "beta", "gamma", "delta", "zip", "quarn", "crypto"]
    with open(os.path.join(src, "text.txt"), "w") as f:
        f.write(" ".join(rng.choice(words) for _ in range(30000)))
    with open(os.path.join(src, "random.bin"), "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(70000)))
    with open(os.path.join(src, "small.txt"), "w") as f:
        f.write("tiny\n")
    files = ["text.txt", "random.bin", "small.txt"]
    # -n .bin: random.bin is stored, so both stored and deflated data are encrypted.
    run(["zip", "-q", "-P", PASSWORD, "-n", ".bin", os.path.join(out, "crypto-infozip.zip")] + files, cwd=src)
    for method, name in (("ZipCrypto", "zipcrypto"), ("AES128", "aes128"), ("AES192", "aes192"),
                         ("AES256", "aes256")):
        archive = os.path.join(out, "crypto-7z-%s.zip" % name)
        run(["7zz", "a", "-tzip", "-bso0", "-bsp0", "-p" + PASSWORD, "-mem=" + method, archive] + files, cwd=src)


def main():
    out = os.path.abspath(sys.argv[1])
    if os.path.exists(os.path.join(out, STAMP)):
        return
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    make_names(out)
    make_crypto(out)
    open(os.path.join(out, STAMP), "w").close()


if __name__ == "__main__":
    main()
