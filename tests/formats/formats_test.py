#!/usr/bin/env python3
"""The archive kinds beyond zip, 7z and RAR, zips of every method, split sets
and RAR links, extracted by the Unzip command.

Archives are made here at run time by Debian's own tools (tar with every
compressor, gzip, bzip2, xz, zstd, compress, xorriso, gcab, wimcapture, cpio,
dpkg-deb, rpmbuild, lha, arj, 7zz, zip, rar) and, for the hostile and damaged
ones, by Python's tarfile, zipfile and struct modules. unzip_tool
(UnzipTool.cpp) runs the Unzip walk over them; the folders it makes are
compared with the sources byte for byte, name for name, with their times, and
the report must name every archive that could not be taken whole, with the
reason.

Usage:
  formats_test.py --tool <unzip_tool> [--runner=<cmd>] --work <folder> [TestClass ...]
"""

import argparse
import bz2
import gzip
import io
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import warnings
import zipfile
import zlib

TOOL = None
WORK = None
SFX_MODULE = None  # 7-Zip's console self-extractor module, built with the engines
HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT = 300
# A time far from now, so that a kept time cannot be the time of extraction.
STAMP = 981173106  # 2001-02-03 04:05:06 UTC

UNICODE_NAME = "Überprüfung – ñ 日本語.txt"
LONG_NAME = "long/" + "a-folder-name-that-goes-on-" * 4 + "/" + "and-a-file-name-beyond-100-bytes-" * 2 + ".txt"


class Tool:
    def __init__(self, exe, runner):
        self.exe = os.path.abspath(exe)
        self.runner = shlex.split(runner) if runner else []

    def path(self, p):
        p = os.path.abspath(p)
        return "Z:" + p.replace("/", "\\") if self.runner else p

    def unzip(self, destination, archives, password=None, at_once=None):
        """Runs the Unzip walk (at_once: how many archives at a time; the walk's own choice when None); returns its
        problems and its notes, each {archive file name: [lines]}."""
        args = ([] if password is None else ["--password=" + password]) + [self.path(destination)]
        args += [self.path(a) for a in archives]
        # Output through files: Wine's server would keep a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            env = dict(os.environ, **({"QUARN_AT_ONCE": at_once} if at_once else {}))
            proc = subprocess.run(self.runner + [self.exe] + args, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=TIMEOUT, env=env)
            out.seek(0)
            err.seek(0)
            text = out.read().decode("utf-8", "replace")
            errors = err.read().decode("utf-8", "replace")
        if proc.returncode != 0 or "PEAK " not in text:
            raise AssertionError("unzip_tool failed (%d):\n%s\n%s" % (proc.returncode, text, errors))
        found = {"REPORT": {}, "NOTE": {}}
        for line in text.replace("\r", "").splitlines():
            kind, _, rest = line.partition(" ")
            if kind in found:
                archive, _, what = rest.partition(": ")
                found[kind].setdefault(archive.rsplit("\\", 1)[-1], []).append(what)
        return found["REPORT"], found["NOTE"]


def run(cmd, cwd=None, **kw):
    proc = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT, **kw)
    if proc.returncode != 0:
        raise AssertionError("%s failed (%d): %s" % (" ".join(cmd), proc.returncode, proc.stderr.decode(errors="replace")))
    return proc.stdout


def tree(root):
    """{relative '/' path: bytes} of the files below root, and the set of folders."""
    files, folders = {}, set()
    for folder, dirs, names in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        if rel != ".":
            folders.add(rel)
        for n in names:
            with open(os.path.join(folder, n), "rb") as f:
                files[(n if rel == "." else rel + "/" + n)] = f.read()
    return files, folders


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (STAMP, STAMP))


def rar4(files, main_crc_flip=0):
    """A RAR 4 archive of stored files [(name, bytes[, header flags])] (rar here writes RAR 5 only); main_crc_flip
    damages its main header."""
    def block(kind, flags, fields, data=b""):
        head = struct.pack("<BHH", kind, flags, 7 + len(fields)) + fields
        return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head + data
    main = bytearray(block(0x73, 0, struct.pack("<HI", 0, 0)))
    main[0] ^= main_crc_flip
    out = b"Rar!\x1a\x07\x00" + bytes(main)
    for name, data, *flags in files:
        fields = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data), 0x21A40000, 20, 0x30,
                             len(name), 0x20) + name.encode()
        out += block(0x74, 0x8000 | sum(flags), fields, data)
    return out + block(0x7B, 0x4000, b"")


class FormatCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(WORK, cls.__name__)
        shutil.rmtree(cls.dir, ignore_errors=True)
        os.makedirs(cls.dir)

    def scratch(self, *parts):
        return os.path.join(self.dir, *parts)


class Kinds(FormatCase):
    """Every kind extracts byte for byte with its names, folders and times; a
    tarball inside a compressor in one step; a compressed file as its one
    file; content that is another kind than the name says is extracted as
    what it is, and the report says so."""

    @staticmethod
    def sources(root, names=True):
        rng = __import__("random").Random(17)
        files = {
            "readme.txt": b"Quarn reads this.\n" * 40,
            "empty.txt": b"",
            "data/random.bin": rng.randbytes(300000),
            "data/deep/text.txt": b"".join(b"line %d\n" % i for i in range(5000)),
        }
        if names:
            files["data/" + UNICODE_NAME] = "ünïcödé\n".encode() * 20
        for name, data in files.items():
            write(os.path.join(root, *name.split("/")), data)
        for folder in ("data/deep", "data", ""):
            os.utime(os.path.join(root, folder), (STAMP, STAMP))
        return files

    def test_every_kind_extracts_exactly(self):
        src = self.scratch("src")
        files = self.sources(src)
        plain = self.scratch("plain")  # ASCII names for the formats that keep legacy names only
        plain_files = self.sources(plain, names=False)
        long_src = self.scratch("long")
        long_files = dict(files)
        shutil.copytree(src, long_src)
        write(os.path.join(long_src, *LONG_NAME.split("/")), b"a long name\n")
        long_files[LONG_NAME] = b"a long name\n"
        top = sorted(os.listdir(src))
        arc = self.scratch("archives")
        os.makedirs(arc)

        def a(name):
            return os.path.join(arc, name)

        # kind, archive name, maker, expected files (relative to the archive's folder)
        made = []

        def tar(name, *flags, source=src, expected=files):
            run(["tar", *flags, "-cf", a(name), "-C", source] + sorted(os.listdir(source)))
            made.append((name, expected))

        tar("gnu.tar")
        tar("pax.tar", "--format=pax", source=long_src, expected=long_files)
        tar("gnu-long.tar", "--format=gnu", source=long_src, expected=long_files)
        tar("src.tar.gz", "-z")
        tar("src2.tgz", "-z")
        tar("src.tar.bz2", "-j")
        tar("src2.tbz2", "-j")
        tar("src.tar.xz", "-J")
        tar("src2.txz", "-J")
        tar("src.tar.zst", "--zstd")
        tar("src2.tzst", "--zstd")
        # Debian's tar --lzma writes xz: the old LZMA format comes from xz itself.
        run(["sh", "-c", 'tar -cf - -C "$1" data empty.txt readme.txt | xz --format=lzma -c > "$2"', "sh", src,
             a("src.tar.lzma")])
        made.append(("src.tar.lzma", files))
        # compress refuses to grow a file unless forced, as tar -Z does not.
        run(["sh", "-c", 'tar -cf - -C "$1" data empty.txt readme.txt | compress -f -c > "$2"', "sh", src,
             a("src.tar.Z")])
        made.append(("src.tar.Z", files))
        run(["xorriso", "-as", "mkisofs", "-quiet", "-J", "-joliet-long", "-R", "-o", a("disk.iso"), src])
        made.append(("disk.iso", files))
        run(["gcab", "-c", a("driver.cab")] + [n for n in sorted(files)], cwd=src)
        made.append(("driver.cab", files))
        run(["wimcapture", src, a("install.wim")], stdin=subprocess.DEVNULL)
        made.append(("install.wim", files))
        listing = "\n".join(sorted(files) + ["data", "data/deep"]) + "\n"
        with open(a("newc.cpio"), "wb") as f:
            f.write(subprocess.run(["cpio", "--quiet", "-o", "-H", "newc"], cwd=src, input=listing.encode(),
                                   stdout=subprocess.PIPE, check=True).stdout)
        made.append(("newc.cpio", files))
        run(["lha", "a", a("legacy-lzh.lzh")] + sorted(os.listdir(plain)), cwd=plain)
        made.append(("legacy-lzh.lzh", plain_files))
        run(["arj", "a", "-r", "-y", a("legacy-arj.arj"), "*"], cwd=plain)
        made.append(("legacy-arj.arj", plain_files))

        # Packages: a deb holds its control and data tarballs, an RPM its payload.
        pkg = self.scratch("pkg")
        shutil.copytree(src, os.path.join(pkg, "opt", "q"))
        os.makedirs(os.path.join(pkg, "DEBIAN"))
        with open(os.path.join(pkg, "DEBIAN", "control"), "w") as f:
            f.write("Package: quarntest\nVersion: 1.0\nArchitecture: all\nMaintainer: Quarn <q@example.org>\n"
                    "Description: test\n")
        run(["dpkg-deb", "-Zxz", "--root-owner-group", "--build", pkg, a("debian-package.deb")])
        # The engine shows a deb as its control and data tarballs (the format
        # marker "debian-binary" is not among its items).
        deb_parts = [n for n in run(["ar", "t", a("debian-package.deb")]).decode().split() if n != "debian-binary"]
        made.append(("debian-package.deb", {n: run(["ar", "p", a("debian-package.deb"), n]) for n in deb_parts}))
        recipe = self.scratch("quarntest.rpmbuild")
        with open(recipe, "w") as f:
            f.write("Name: quarntest\nVersion: 1.0\nRelease: 1\nSummary: test\nLicense: none\nBuildArch: noarch\n"
                    "%description\ntest\n%install\nmkdir -p %{buildroot}/opt/q\ncp -r %{_sourcedir}/* "
                    "%{buildroot}/opt/q/\n%files\n/opt/q\n")
        top_rpm = self.scratch("rpmtop")
        run(["rpmbuild", "--quiet", "--define", "_topdir " + top_rpm, "--define", "_sourcedir " + src,
             "--define", "__os_install_post %{nil}", "--define", "_binary_payload w9.gzdio", "-bb", recipe])
        built = os.path.join(top_rpm, "RPMS", "noarch", "quarntest-1.0-1.noarch.rpm")
        shutil.copy(built, a("redhat-package.rpm"))
        # Its payload as the package keeps it (gzip-compressed cpio): what
        # rpm2cpio gives once unpacked.
        made.append(("redhat-package.rpm", {"quarntest-1.0-1.noarch.cpio.gz": run(["rpm2cpio", a("redhat-package.rpm")])}))

        # Compressed single files: with the name gzip keeps, and without one.
        notes = b"notes, compressed on their own\n" * 300
        write(self.scratch("one", "notes.txt"), notes)
        write(self.scratch("one", "kept name.txt"), notes)
        run(["sh", "-c", 'gzip -c "kept name.txt" > "%s"' % a("notes.txt.gz")], cwd=self.scratch("one"))
        made.append(("notes.txt.gz", {"kept name.txt": notes}))
        for suffix, command in ((".bz2", "bzip2"), (".xz", "xz"), (".zst", "zstd -q"), (".lzma", "xz --format=lzma")):
            name = "notes" + suffix.replace(".", "-") + ".txt" + suffix
            run(["sh", "-c", '%s -c notes.txt > "%s"' % (command, a(name))], cwd=self.scratch("one"))
            made.append((name, {name[: -len(suffix)]: notes}))

        # Content that is another kind than the name says.
        run(["7zz", "a", "-t7z", "-bso0", "-bsp0", a("really-7z.zip"), "readme.txt"], cwd=src)
        made.append(("really-7z.zip", {"readme.txt": files["readme.txt"]}))
        shutil.copy(a("gnu.tar"), a("plain-tar.tgz"))
        made.append(("plain-tar.tgz", files))

        out = self.scratch("out")
        reports, notes = TOOL.unzip(out, [a(n) for n, _ in made])
        self.assertEqual(reports, {})
        self.assertEqual(notes, {
            "really-7z.zip": ["it is a 7z archive, though its name says zip; extracted as 7z."],
            "plain-tar.tgz": ["it is a tar archive, though its name says gzip; extracted as tar."],
        })
        folder_of = {"src.tar.gz": "src", "src2.tgz": "src2", "src.tar.Z": "src", "notes.txt.gz": "notes.txt"}
        table = []
        for name, expected in made:
            with self.subTest(name):
                folder = os.path.join(out, folder_of.get(name, self.folder_name(name)))
                got, _ = tree(folder)
                if name == "redhat-package.rpm":
                    got = {n: gzip.decompress(d) for n, d in got.items()}
                self.assertEqual(sorted(got), sorted(expected), name)
                for n, data in expected.items():
                    self.assertEqual(got[n], data, "%s: %s differs" % (name, n))
                # arj on Unix stores Unix times, which the engine reads as DOS
                # times: its times are the engine's, not checked here.
                untimed = ("debian-package.deb", "redhat-package.rpm", "legacy-arj.arj")
                if name not in untimed and not name.startswith("notes"):
                    # Times kept (two seconds, as the coarsest format keeps them).
                    mtime = os.path.getmtime(os.path.join(folder, "readme.txt"))
                    self.assertLessEqual(abs(mtime - STAMP), 2, "%s: the time of readme.txt" % name)
                table.append(name)
        print("\nextracted byte for byte, names exact:", ", ".join(table))

    @staticmethod
    def folder_name(archive):
        stem, ext = os.path.splitext(archive)
        return stem[:-4] if stem.endswith(".tar") else stem


class Hostile(FormatCase):
    """Hostile and damaged archives are reported and write nothing outside
    their folder: traversal, links outward, devices, truncation, a wrong CRC,
    a bomb of nested gzip, zip bombs whichever engine reads them, paths too
    long for Windows; names as Windows writes them into 7z archives."""

    def test_hostile_archives_are_reported_and_stay_inside(self):
        arc = self.scratch("archives")
        os.makedirs(arc)

        def member(t, name, data=b"", kind=tarfile.REGTYPE, link=""):
            info = tarfile.TarInfo(name)
            info.type, info.linkname, info.size, info.mtime = kind, link, len(data), STAMP
            t.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)

        with tarfile.open(os.path.join(arc, "escape.tar"), "w", format=tarfile.GNU_FORMAT) as t:
            member(t, "ok.txt", b"ok\n")
            member(t, "../../escape.txt", b"up\n")
            member(t, "/tmp/absolute.txt", b"absolute\n")
            member(t, "etc", kind=tarfile.SYMTYPE, link="/etc")
            member(t, "etc/quarn-through-link.txt", b"through\n")
            member(t, "outside-hard", kind=tarfile.LNKTYPE, link="../../outside.txt")
            member(t, "outside-soft", kind=tarfile.SYMTYPE, link="../../../outside.txt")
            member(t, "inside-soft", kind=tarfile.SYMTYPE, link="ok.txt")
            member(t, "sub/inside-hard", kind=tarfile.LNKTYPE, link="ok.txt")
            member(t, "dev/null", kind=tarfile.CHRTYPE)
            member(t, "fifo", kind=tarfile.FIFOTYPE)
        # A tarball of several files, cut in the middle of its compressed data.
        buf = io.BytesIO()
        parts = {"part%d.bin" % i: bytes([i]) * 40000 + os.urandom(20000) for i in range(6)}
        with tarfile.open(fileobj=buf, mode="w") as t:
            for name, data in parts.items():
                member(t, name, data)
        whole = gzip.compress(buf.getvalue(), mtime=0)
        with open(os.path.join(arc, "cut.tar.gz"), "wb") as f:
            f.write(whole[: len(whole) // 2])
        # The same tarball whole, but with a CRC in the gzip trailer that is wrong.
        wrong = bytearray(whole)
        struct.pack_into("<I", wrong, len(wrong) - 8, struct.unpack_from("<I", wrong, len(wrong) - 8)[0] ^ 0xFFFF)
        with open(os.path.join(arc, "crc.tar.gz"), "wb") as f:
            f.write(wrong)
        # gzip in gzip in gzip of 200 MB of zeros: only the outer layer is unpacked.
        bomb = b"\0" * (200 << 20)
        for _ in range(3):
            bomb = gzip.compress(bomb, mtime=0)
        with open(os.path.join(arc, "bomb.gz"), "wb") as f:
            f.write(bomb)

        base = self.scratch("run")
        out = os.path.join(base, "a", "b", "out")
        os.makedirs(out)
        reports, _ = TOOL.unzip(out, [os.path.join(arc, n) for n in ("escape.tar", "cut.tar.gz", "crc.tar.gz",
                                                                    "bomb.gz")])
        # Nothing outside the output folder: the folders above it hold only it.
        for level in (base, os.path.join(base, "a"), os.path.join(base, "a", "b")):
            self.assertEqual(len(os.listdir(level)), 1, os.listdir(level))
        for path in ("/tmp/absolute.txt", "/etc/quarn-through-link.txt", self.scratch("escape.txt"),
                     self.scratch("outside.txt")):
            self.assertFalse(os.path.exists(path), path)

        got, _ = tree(os.path.join(out, "escape"))
        self.assertEqual(got, {"ok.txt": b"ok\n", "escape.txt": b"up\n", "tmp/absolute.txt": b"absolute\n",
                               "etc/quarn-through-link.txt": b"through\n", "inside-soft": b"ok\n",
                               "sub/inside-hard": b"ok\n"})
        lines = reports.get("escape.tar", [])
        for what, name in (("a link that leads outside", "etc"), ("a link that leads outside", "outside-hard"),
                           ("a link that leads outside", "outside-soft"), ("a device file", "dev\\null"),
                           ("a device file", "fifo")):
            self.assertTrue(any(what in l and l.endswith("\\" + name + ")") for l in lines), (what, name, lines))

        cut, _ = tree(os.path.join(out, "cut"))
        # What came before the cut is kept whole; nothing partial stays.
        self.assertTrue(cut, "nothing kept of the cut archive")
        self.assertEqual(cut, {n: parts[n] for n in cut})
        self.assertTrue(reports.get("cut.tar.gz"), "the cut archive is not reported")
        self.assertTrue(any("end" in l for l in reports["cut.tar.gz"]), reports["cut.tar.gz"])

        crc, _ = tree(os.path.join(out, "crc"))
        self.assertEqual(crc, parts)
        self.assertTrue(any("CRC" in l for l in reports.get("crc.tar.gz", [])), reports)

        bombed, _ = tree(os.path.join(out, "bomb"))
        self.assertEqual(list(bombed), ["bomb"])
        self.assertEqual(gzip.decompress(bombed["bomb"])[:2], b"\x1f\x8b")  # still a gzip: not unpacked further
        self.assertLess(len(bombed["bomb"]), 1 << 20)

    def test_rar_links_are_made_as_copies_or_named(self):
        src = self.scratch("linked")
        write(os.path.join(src, "dir", "a.txt"), b"alpha\n")
        write(os.path.join(src, "dir", "sub", "b.txt"), b"beta\n")
        os.link(os.path.join(src, "dir", "a.txt"), os.path.join(src, "dir", "hard-a"))
        for target, link in (("a.txt", "to-file"), ("sub", "to-folder"), ("../../../outside.txt", "up"),
                             ("/etc/passwd", "absolute"), ("nothing", "dangling"), ("to-file", "to-link"),
                             ("..", "to-parent")):
            os.symlink(target, os.path.join(src, "dir", link))
        arc = self.scratch("links.rar")
        run(["rar", "a", "-idq", "-ol", "-oh", arc, "dir"], cwd=src)
        out = self.scratch("links-out")
        reports, _ = TOOL.unzip(out, [arc])
        got, _ = tree(os.path.join(out, "links"))
        self.assertEqual(got, {"dir/a.txt": b"alpha\n", "dir/hard-a": b"alpha\n", "dir/sub/b.txt": b"beta\n",
                               "dir/to-file": b"alpha\n", "dir/to-link": b"alpha\n",
                               "dir/to-folder/b.txt": b"beta\n"})
        # Each line: the reason, and the link's path in parentheses.
        lines = sorted((l[:l.rindex(" (")], l[l.rindex("\\") + 1:-1]) for l in reports.get("links.rar", []))
        self.assertEqual(lines, sorted([
            ("Not made: a link that leads outside the folder", "absolute"),
            ("Not made: a link that leads outside the folder", "up"),
            ("Not made: a link whose target is not among the files extracted", "dangling"),
            ("Not made: a link to a folder that holds the link", "to-parent"),
        ]))
        print_table("RAR links (rar -ol -oh):", [("made as copies", ", ".join(sorted(got)))] +
                    [("reported", link + ": " + why) for why, link in lines])

    def test_small_faults_each_named_or_mended(self):
        arc = self.scratch("faults")
        os.makedirs(arc)

        def local(name, flags, method):
            n = name.encode()
            return struct.pack("<IHHHHHIIIHH", 0x04034B50, 62, flags, method, 0, 0, 0, 0, 0, len(n), 0) + n

        # A zip whose central directory is encrypted: its local headers are
        # masked (names "1" and "2", no sizes), its directory follows an
        # archive extra data record.
        body = b"".join(local(name, 0x2041, 8) + os.urandom(64) for name in ("1", "2"))
        directory = struct.pack("<II", 0x08064B50, 32) + os.urandom(128)
        with open(os.path.join(arc, "encrypted-directory.zip"), "wb") as f:
            f.write(body + directory + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, len(directory), len(body), 0))

        with open(os.path.join(arc, "rar4-main-header.rar"), "wb") as f:
            f.write(rar4([("a.txt", b"alpha\n")], main_crc_flip=0x5A))
        write(self.scratch("one", "text.txt"), b"".join(b"line %d\n" % i for i in range(2000)))
        run(["rar", "a", "-idq", self.scratch("whole.rar"), "text.txt"], cwd=self.scratch("one"))
        with open(self.scratch("whole.rar"), "rb") as f:
            whole = f.read()
        with open(os.path.join(arc, "rar5-cut-47.rar"), "wb") as f:
            f.write(whole[:47])
        with open(os.path.join(arc, "rar5-damaged.rar"), "wb") as f:
            f.write(b"Rar!\x1a\x07\x01\x00damaged")
        # A RAR 5 file header whose Unix owner record gives the owner name a
        # length beyond the header: the rest of the name ends the file, 47
        # bytes in all, too short for another header. (Every field fits in
        # one byte.)
        def rar5_header(body):
            return struct.pack("<IB", zlib.crc32(bytes([len(body)]) + body), len(body)) + body
        owner = bytes([6, 1, 64]) + b"quarn-o"  # its type, flags (a user name), the name's length, its first bytes
        # type (file), flags (an extra area), the area's size, file flags, size, attributes, compression, host (Unix),
        # name; then the extra area
        file_header = bytes([2, 1, 1 + len(owner), 0, 0, 0, 0, 1, 1]) + b"a" + bytes([len(owner)]) + owner
        with open(os.path.join(arc, "rar5-owner-past-end.rar"), "wb") as f:
            f.write(b"Rar!\x1a\x07\x01\x00" + rar5_header(bytes([1, 0, 0])) + rar5_header(file_header) + b"wner\0")
        # Identical files stored once (rar -oi), the others as references to
        # it; and an archive whose referenced file was deleted from it.
        alike = os.urandom(2048)
        for name in ("a.bin", "b.bin", "c.bin"):
            write(self.scratch("alike", "d", name), alike)
        run(["rar", "a", "-idq", "-oi:1", os.path.join(arc, "references.rar"), "d"], cwd=self.scratch("alike"))
        unsourced = os.path.join(arc, "reference-without-source.rar")
        run(["rar", "a", "-idq", "-oi:1", unsourced, "d/a.bin", "d/b.bin"], cwd=self.scratch("alike"))
        run(["rar", "d", "-idq", unsourced, "d/a.bin"])
        # Older versions of a file kept beside it (rar -ver; RAR 4's flag).
        for content in (b"first\n", b"second\n", b"latest\n"):
            write(self.scratch("versions", "a.txt"), content)
            run(["rar", "a", "-idq", "-ver", os.path.join(arc, "versions.rar"), "a.txt"], cwd=self.scratch("versions"))
        with open(os.path.join(arc, "rar4-versions.rar"), "wb") as f:
            f.write(rar4([("a.txt;1", b"older\n", 0x0800), ("a.txt", b"latest\n")]))
        # Folders marked only by the MS-DOS directory attribute.
        with zipfile.ZipFile(os.path.join(arc, "dos-folder.zip"), "w") as z:
            for name, attributes, data in (("OLD", 0x10, b""), ("OLD/README.TXT", 0x20, b"read me\r\n"),
                                           ("OLD/SUB", 0x10, b""), ("OLD/SUB/X.TXT", 0x20, b"x\r\n")):
                info = zipfile.ZipInfo(name, (1995, 5, 5, 12, 0, 0))
                info.create_system, info.external_attr = 0, attributes
                z.writestr(info, data)
        # A tar whose names and hard-link target begin with "/".
        with tarfile.open(os.path.join(arc, "absolute-hard-link.tar"), "w", format=tarfile.GNU_FORMAT) as t:
            member = tarfile.TarInfo("/data/a.txt")
            member.size = 6
            t.addfile(member, io.BytesIO(b"alpha\n"))
            link = tarfile.TarInfo("/data/hard")
            link.type, link.linkname = tarfile.LNKTYPE, "/data/a.txt"
            t.addfile(link)

        # A zip bomb of members that overlap (each one's data quote the next
        # member's local header in a stored block, then go on into one shared
        # deflate stream: 12 KB that would write 335 MB), after a small LZMA
        # member that sends the zip to the 7-Zip engine; and the same with a
        # member count that makes Quarn's reader walk the local headers while
        # the engine still reads the directory.
        small = b"a small LZMA member\n" * 10
        lzma_zip = io.BytesIO()
        with zipfile.ZipFile(lzma_zip, "w", zipfile.ZIP_LZMA) as z:
            z.writestr("small.txt", small)
        lzma_zip = lzma_zip.getvalue()
        directory_size, directory_at = struct.unpack_from("<II", lzma_zip, len(lzma_zip) - 10)
        packer = zlib.compressobj(9, zlib.DEFLATED, -15)
        kernel_size = 8 << 20
        kernel = packer.compress(b"a" * kernel_size) + packer.flush()
        headers, expands_to = [], b""  # from the last member back
        for i in reversed(range(40)):
            crc = zlib.crc32(b"a" * kernel_size, zlib.crc32(expands_to))
            name = b"bomb%02d.txt" % i
            packed = len(kernel) + sum(5 + len(h) for h in headers)
            headers.insert(0, struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, packed,
                                          len(expands_to) + kernel_size, len(name), 0) + name)
            expands_to = headers[0] + expands_to
        body, central = bytearray(lzma_zip[:directory_at]), bytearray(lzma_zip[directory_at:directory_at + directory_size])
        for i, header in enumerate(headers):
            central += struct.pack("<IHH", 0x02014B50, 20, 20) + header[6:30] + struct.pack("<HHHII", 0, 0, 0, 0,
                                                                                           len(body)) + header[30:]
            body += header
            if i + 1 < len(headers):
                body += struct.pack("<BHH", 0, len(headers[i + 1]), len(headers[i + 1]) ^ 0xFFFF)
        body += kernel
        for name, count in (("bomb-lzma.zip", 41), ("bomb-lzma-miscounted.zip", 40)):
            with open(os.path.join(arc, name), "wb") as f:
                f.write(bytes(body + central) + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central),
                                                            len(body), 0))
        # A bzip2 tar whose PAX extended header (about 1 MB) is malformed: its
        # path is given twice, each far longer than a path may be. Cut at a
        # multiple of 32768 characters, as Wine cuts a path too long, the
        # second lands on "pax-b" beside the archive's folder.
        name_length = 16 * 32768 - len("\\pax-bad-hdr-large\\") + len("\\pax-b")

        def pax_record(key, value):
            line = b" %s=%s\n" % (key, value)
            size = len(line) + len(str(len(line)))
            size += len(str(size)) - len(str(len(line)))
            return b"%d%s" % (size, line)

        records = pax_record(b"path", b"p" * name_length) + pax_record(b"path", b"q" * name_length)
        tarball = io.BytesIO()
        with tarfile.open(fileobj=tarball, mode="w", format=tarfile.USTAR_FORMAT) as t:
            extended = tarfile.TarInfo("PaxHeaders/big")
            extended.type, extended.size = tarfile.XHDTYPE, len(records)
            t.addfile(extended, io.BytesIO(records))
            t.addfile(tarfile.TarInfo("after.txt"), io.BytesIO(b""))
        with open(os.path.join(arc, "pax-bad-hdr-large.tar.bz2"), "wb") as f:
            f.write(bz2.compress(tarball.getvalue()))
        # A 7z made where "\" is a plain character of names (here 7zz's own
        # name for what it reads from its input): paths as Windows writes them,
        # one too long for a single name.
        long_part = "a-folder-name-that-goes-on-" * 4
        backslashed = {"win/%s/%s/%s/file.txt" % (long_part, long_part, long_part): b"deep\n",
                       "dir/sub/short.txt": b"short\n"}
        for name, data in backslashed.items():
            write(self.scratch("one", "content"), data)
            with open(self.scratch("one", "content"), "rb") as content:
                subprocess.run(["7zz", "a", "-bso0", "-bsp0", os.path.join(arc, "backslashes.7z"),
                                "-si" + name.replace("/", "\\")], stdin=content, check=True, timeout=TIMEOUT)

        # Names that are one name on Windows: each file is written, the later
        # ones under the next free name (with a note), whatever the threads.
        with zipfile.ZipFile(os.path.join(arc, "one-name.zip"), "w") as z:
            for name, data in (("README", b"1"), ("readme", b"2"), ("dup.txt", b"3"), ("dup.txt", b"4"),
                               ("x/Data.txt", b"5"), ("x/data.txt", b"6")):
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")  # the duplicate name
                    z.writestr(name, data)
        one_name = {"README": b"1", "readme (2)": b"2", "dup.txt": b"3", "dup (2).txt": b"4", "x/Data.txt": b"5",
                    "x/data (2).txt": b"6"}

        # archive, the files it gives, the line its report holds (None: no report)
        def rows_for(out):
            return [
                ("encrypted-directory.zip", {}, "its central directory is encrypted (PKWARE's strong encryption), which "
                                                "Quarn cannot read; nothing was extracted."),
                ("rar4-main-header.rar", None, "Main archive header is corrupt"),
                ("rar5-cut-47.rar", {}, "Unexpected end of archive"),
                ("rar5-damaged.rar", {}, "Unexpected end of archive"),
                ("rar5-owner-past-end.rar", {"a": b""}, "Unexpected end of archive"),
                ("references.rar", {"d/a.bin": alike, "d/b.bin": alike, "d/c.bin": alike}, None),
                ("reference-without-source.rar", {}, "Not made: a file reference whose source is not among the files "
                 "extracted (%s)" % TOOL.path(os.path.join(out, "reference-without-source", "d", "b.bin"))),
                ("versions.rar", {"a.txt": b"latest\n"}, None),
                ("rar4-versions.rar", {"a.txt": b"latest\n"}, None),
                ("dos-folder.zip", {"OLD/README.TXT": b"read me\r\n", "OLD/SUB/X.TXT": b"x\r\n"}, None),
                ("absolute-hard-link.tar", {"data/a.txt": b"alpha\n", "data/hard": b"alpha\n"}, None),
                ("bomb-lzma.zip", {"small.txt": small}, "its members overlap one another, as in a zip bomb: 40 members "
                                                        "were not extracted."),
                ("bomb-lzma-miscounted.zip", {"small.txt": small}, "its members overlap one another, as in a zip bomb: "
                                                                   "40 members were not extracted."),
                ("pax-bad-hdr-large.tar.bz2", {}, '"%s..." was skipped: its path would be longer than Windows allows.'
                                                  % ("q" * 60)),
                ("pax-bad-hdr-large.tar.bz2", None, "Data Error: headers error (%s)"
                                                    % TOOL.path(os.path.join(arc, "pax-bad-hdr-large.tar.bz2"))),
                ("backslashes.7z", backslashed, None),
                ("one-name.zip", one_name, None),
            ]
        # The same outcome with every archive at once and one after another.
        for at_once, out in ((None, self.scratch("faults-out")), ("1", self.scratch("faults-out-1"))):
            rows = rows_for(out)
            archives = list(dict.fromkeys(os.path.join(arc, name) for name, _, _ in rows))
            reports, notes = TOOL.unzip(out, archives, at_once=at_once)
            # Nothing beside the archives' folders.
            self.assertLessEqual(set(os.listdir(out)), {Kinds.folder_name(name) for name, _, _ in rows})
            for name, expected, line in rows:
                with self.subTest(name):
                    folder = os.path.join(out, Kinds.folder_name(name))
                    got, _ = tree(folder) if os.path.isdir(folder) else ({}, set())
                    if expected is not None:
                        self.assertEqual(sorted(got), sorted(expected))  # names first: a bomb's content is no diff
                        self.assertEqual(got, expected)
                    if line is None:
                        self.assertNotIn(name, reports)
                    else:
                        self.assertIn(line, reports.get(name, []))
            self.assertEqual(len(notes.get("one-name.zip", [])), 3)
        print_table("the small faults (archive | files | report):",
                    [(name, str(len(tree(os.path.join(out, Kinds.folder_name(name)))[0])),
                      "; ".join(reports.get(name, [])) or "no report") for name in dict.fromkeys(r[0] for r in rows)])


def sample_files(root):
    """A few files of varied content below root: {relative '/' path: bytes}."""
    rng = __import__("random").Random(26)
    files = {
        "text.txt": b"".join(b"line %d of the text\n" % i for i in range(6000)),
        "data/random.bin": rng.randbytes(150000),
        "data/" + UNICODE_NAME: "ünïcödé\n".encode() * 20,
        "data/empty.txt": b"",
    }
    for name, data in files.items():
        write(os.path.join(root, *name.split("/")), data)
    return files


def print_table(title, rows):
    print("\n" + title)
    for row in rows:
        print("  " + " | ".join(row))


class Zips(FormatCase):
    """Zips of every compression method, by the tools that write them, come
    out byte for byte: stored and deflated ones through Quarn's own reader,
    the others (and a zip that mixes them) whole through the 7-Zip engine's
    zip handler, under WinZip AES too; a .zipx is a zip."""

    def test_every_method_of_every_maker(self):
        src = self.scratch("src")
        files = sample_files(src)
        arc = self.scratch("archives")
        os.makedirs(arc)
        names = sorted(files)
        # maker, method, archive name, password
        made = []

        def sevenzip(method, name, password=None):
            extra = ["-p" + password, "-mem=AES256"] if password else []
            run(["7zz", "a", "-tzip", "-mm=" + method, "-bso0", "-bsp0", *extra, os.path.join(arc, name)] + names,
                cwd=src)
            made.append(("7zz", method + (" + AES-256" if password else ""), name, password))

        for method in ("Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd", "XZ"):
            sevenzip(method, "7zz-%s.zip" % method.lower())
        sevenzip("PPMd", "7zz-ppmd-named.zipx")
        sevenzip("LZMA", "7zz-lzma-aes.zip", password="zip secret")
        sevenzip("BZip2", "7zz-bzip2-aes.zip", password="zip secret")
        for flag, method in (("-Z store", "stored"), ("", "deflated"), ("-Z bzip2", "bzip2")):
            run(["sh", "-c", 'zip -q -X %s "$0" "$@"' % flag, os.path.join(arc, "infozip-%s.zip" % method)] + names,
                cwd=src)
            made.append(("Info-ZIP zip", method, "infozip-%s.zip" % method, None))
        for method, code in (("stored", zipfile.ZIP_STORED), ("deflated", zipfile.ZIP_DEFLATED),
                             ("bzip2", zipfile.ZIP_BZIP2), ("lzma", zipfile.ZIP_LZMA)):
            with zipfile.ZipFile(os.path.join(arc, "python-%s.zip" % method), "w", code) as z:
                for n in names:
                    z.write(os.path.join(src, *n.split("/")), n)
            made.append(("Python zipfile", method, "python-%s.zip" % method, None))
        # zstd (method 93): each member a frame of the zstd program, the records written here.
        with open(os.path.join(arc, "zstd-members.zip"), "wb") as f:
            central = b""
            for n in names:
                data = files[n]
                packed = run(["zstd", "-q", "-c", "-"], input=data)
                header = struct.pack("<HHHHHIIIHH", 63, 0x0800, 93, 0, 0x21, zlib.crc32(data), len(packed), len(data),
                                     len(n.encode()), 0)
                central += struct.pack("<IH", 0x02014B50, 63) + header + struct.pack("<HHHII", 0, 0, 0, 0, f.tell())
                central += n.encode()
                f.write(struct.pack("<I", 0x04034B50) + header + n.encode() + packed)
            at = f.tell()
            f.write(central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(names), len(names), len(central), at, 0))
        made.append(("zstd program", "zstd", "zstd-members.zip", None))
        # Deflated and bzip2 members in one archive: it goes one way, whole.
        with zipfile.ZipFile(os.path.join(arc, "python-mixed.zip"), "w") as z:
            for i, n in enumerate(names):
                z.write(os.path.join(src, *n.split("/")), n, zipfile.ZIP_BZIP2 if i % 2 else zipfile.ZIP_DEFLATED)
        made.append(("Python zipfile", "deflated and bzip2 mixed", "python-mixed.zip", None))

        out = self.scratch("out")
        table = []
        for password in (None, "zip secret"):
            batch = [m for m in made if m[3] == password]
            reports, notes = TOOL.unzip(out, [os.path.join(arc, m[2]) for m in batch], password=password)
            self.assertEqual((reports, notes), ({}, {}))
            for maker, method, name, _ in batch:
                with self.subTest(name):
                    got, _ = tree(os.path.join(out, os.path.splitext(name)[0]))
                    self.assertEqual(got, files, name)
                    table.append((maker, method, name, "byte for byte"))
        print_table("zips by method and maker:", table)


class Sets(FormatCase):
    """Split sets (7z and zip cut into numbered pieces, an Info-ZIP spanned
    zip, a compressed tarball and a RAR archive in pieces, RAR volumes) are
    extracted once into a folder named after the set, whether their first
    part alone or all their parts are chosen; a later part alone names the
    part the set needs; a missing part is named."""

    def test_sets_however_they_are_chosen(self):
        src = self.scratch("src")
        files = sample_files(src)
        names = sorted(files)
        made = self.scratch("made")
        os.makedirs(made)

        def pieces(name, data, size=60000):
            parts = []
            for i in range(0, len(data), size):
                parts.append("%s.%03d" % (name, i // size + 1))
                with open(os.path.join(made, parts[-1]), "wb") as f:
                    f.write(data[i:i + size])
            return parts

        def made_by(pattern):
            return sorted(n for n in os.listdir(made) if n.startswith(pattern))

        run(["7zz", "a", "-t7z", "-mx1", "-v60k", "-bso0", "-bsp0", os.path.join(made, "movie.7z")] + names, cwd=src)
        run(["7zz", "a", "-tzip", "-v60k", "-bso0", "-bsp0", os.path.join(made, "data.zip")] + names, cwd=src)
        run(["zip", "-q", "-s", "64k", os.path.join(made, "span.zip")] + names, cwd=src)
        run(["rar", "a", "-idq", "-m1", "-v60k", os.path.join(made, "vol.rar")] + names, cwd=src)
        tarball = run(["sh", "-c", 'tar -cf - "$@" | gzip -c', "sh"] + names, cwd=src)
        pieces("src.tar.gz", tarball)
        run(["rar", "a", "-idq", "-m1", os.path.join(self.scratch(), "whole.rar")] + names, cwd=src)
        with open(self.scratch("whole.rar"), "rb") as f:
            pieces("pieces", f.read())
        span = [n for n in made_by("span.") if n != "span.zip"] + ["span.zip"]
        # set, its parts (the one it is extracted through first), its folder, the part taken away
        sets = [
            ("7z pieces", made_by("movie.7z."), "movie", "movie.7z.002"),
            ("zip pieces", made_by("data.zip."), "data", "data.zip.002"),
            ("Info-ZIP spanned zip", ["span.zip"] + span[:-1], "span", "span.z01"),
            ("gzip tarball pieces", made_by("src.tar.gz."), "src", "src.tar.gz.002"),
            ("RAR archive in pieces", made_by("pieces."), "pieces", "pieces.002"),
            ("RAR volumes", made_by("vol.part"), "vol", "vol.part2.rar"),
        ]
        for what, parts, _, _ in sets:
            self.assertGreaterEqual(len(parts), 2, what)

        def ways(parts, missing):
            later = parts[1:]
            return {
                "the first part": (parts, [parts[0]]),
                "all parts, a later one first": (parts, later[-1:] + [parts[0]] + later[:-1]),
                "a part missing": ([p for p in parts if p != missing], [parts[0]]),
                "a later part alone": (parts, [later[0]]),
            }

        table = []
        for way in ways(["a", "b"], "b"):
            folder = self.scratch("way-%d" % len(table))
            chosen = []
            for what, parts, _, missing in sets:
                os.makedirs(os.path.join(folder, what))
                present, picked = ways(parts, missing)[way]
                for p in present:
                    shutil.copy(os.path.join(made, p), os.path.join(folder, what, p))
                chosen += [os.path.join(folder, what, p) for p in picked]
            out = os.path.join(folder, "out")
            reports, notes = TOOL.unzip(out, chosen)
            self.assertEqual(notes, {})
            for what, parts, name, missing in sets:
                with self.subTest(way=way, set=what):
                    got, _ = tree(os.path.join(out, name)) if os.path.isdir(os.path.join(out, name)) else ({}, None)
                    present, picked = ways(parts, missing)[way]
                    lines = reports.get(picked[0], [])
                    if way == "a part missing":
                        # What came out is whole; the report names the part.
                        self.assertEqual(got, {n: files[n] for n in got})
                        self.assertIn('the part "%s" of the set is missing.' % missing, lines)
                    elif way == "a later part alone":
                        self.assertEqual(got, {})
                        self.assertEqual(lines, ['a later part of a set, which is extracted through its part "%s"; '
                                                 "that part is not in the list." % parts[0]])
                    else:
                        self.assertEqual(got, files)
                        self.assertEqual([l for p in picked for l in reports.get(p, [])], [])
                    table.append((what, way, "%d of %d files" % (len(got), len(files)),
                                  "; ".join(lines) or "no report"))
            # One folder for each set, named after it; none for a later part alone.
            folders = sorted(os.listdir(out)) if os.path.isdir(out) else []
            if way in ("the first part", "all parts, a later one first"):
                self.assertEqual(folders, sorted(name for _, _, name, _ in sets))
            elif way == "a later part alone":
                self.assertEqual(folders, [])
        print_table("sets by how they were chosen (set | way | extracted | report):", table)


class SelfExtracting(FormatCase):
    """Programs are never run: one that carries an archive behind its program
    part (a self-extracting archive, an installer) is extracted as that
    archive, into a folder named after it, passing on the mark of the web it
    has; one that carries none is named in the report, and nothing is made
    for it."""

    def test_programs_are_extracted_as_the_archive_they_carry(self):
        src = self.scratch("src")
        files = sample_files(src)
        names = sorted(files)
        arc = self.scratch("archives")
        os.makedirs(arc)

        def a(name):
            return os.path.join(arc, name)

        # A small Windows program, the program part of the archives that have no module of their own.
        stub = self.scratch("stub.exe")
        run(["x86_64-w64-mingw32-gcc", "-O1", "-s", "-DSTUB_PAD=4000", "-o", stub,
             os.path.join(HERE, "..", "sevenzip", "SfxStub.c")])

        def behind(name, archive):
            with open(stub, "rb") as f, open(archive, "rb") as g, open(a(name), "wb") as out:
                out.write(f.read() + g.read())

        # archive, how it was made, the files it gives
        made = []
        run(["7zz", "a", "-bso0", "-bsp0", "-sfx" + SFX_MODULE, a("photos.exe")] + names, cwd=src)
        made.append(("photos.exe", "7-Zip's console module (7zz -sfx)", files))
        shutil.copy(a("photos.exe"), a("photos-too.sfx"))
        made.append(("photos-too.sfx", "the same, named .sfx", files))
        # As 7-Zip's installer modules have it: a configuration block between the module and the archive.
        run(["7zz", "a", "-bso0", "-bsp0", self.scratch("p.7z")] + names, cwd=src)
        with open(SFX_MODULE, "rb") as module, open(self.scratch("p.7z"), "rb") as archive:
            write(a("install.exe"), module.read() + b';!@Install@!UTF-8!\r\nTitle="Photos"\r\n;!@InstallEnd@!\r\n' +
                  archive.read())
        made.append(("install.exe", "the same with an installer's configuration", files))
        run(["rar", "a", "-idq", "-sfx" + stub, a("drivers.exe")] + names, cwd=src)
        made.append(("drivers.exe", "RAR 5 (rar -sfx)", files))
        run(["rar", "a", "-idq", "-hp" + "sfx secret", "-sfx" + stub, a("locked.exe")] + names, cwd=src)
        made.append(("locked.exe", "RAR 5, headers encrypted (rar -sfx -hp)", files))
        run(["rar", "a", "-idq", "-m1", "-v60k", "-sfx" + stub, a("vol.exe")] + names, cwd=src)
        volumes = sorted(n for n in os.listdir(arc) if n.startswith("vol.part") and n != "vol.part1.exe")
        self.assertGreaterEqual(len(volumes), 2)
        made.append(("vol.part1.exe", "RAR 5 volumes, the first a program, all listed", files))
        ascii_files = {n: d for n, d in files.items() if n.isascii()}  # as the RAR 4 writer here names them
        write(self.scratch("old.rar"), rar4(sorted(ascii_files.items())))
        behind("old.exe", self.scratch("old.rar"))
        made.append(("old.exe", "RAR 4", ascii_files))
        run(["zip", "-q", "-X", self.scratch("z.zip")] + names, cwd=src)
        behind("zipped.exe", self.scratch("z.zip"))
        made.append(("zipped.exe", "zip, its offsets the zip's own", files))
        shutil.copy(a("zipped.exe"), a("adjusted.exe"))
        run(["zip", "-q", "-A", a("adjusted.exe")])
        made.append(("adjusted.exe", "zip, offsets adjusted (zip -A)", files))
        run(["gcab", "-c", self.scratch("c.cab")] + names, cwd=src)
        behind("cabinet.exe", self.scratch("c.cab"))
        made.append(("cabinet.exe", "cabinet (gcab)", files))
        made.append(("setup.exe", "Quarn's installer (NSIS, packaging/quarn.nsi)", self.installer(src, files, a("setup.exe"))))
        shutil.copy(stub, a("tool.exe"))
        archives = [a(n) for n in volumes] + [a(n) for n, _, _ in made] + [a("tool.exe")]
        for archive in archives:
            write(archive + ":Zone.Identifier", b"[ZoneTransfer]\r\nZoneId=3\r\n")

        out = self.scratch("out")
        reports, notes = TOOL.unzip(out, archives, password="sfx secret")
        self.assertEqual((reports, notes), ({"tool.exe": ["not an archive: a program; it was not run"]}, {}))
        # Each in a folder named after it; a set after the set.
        folder_of = {n: "vol" if n == "vol.part1.exe" else os.path.splitext(n)[0] for n, _, _ in made}
        self.assertEqual(sorted(os.listdir(out)), sorted(folder_of.values()))
        table = []
        for name, how, expected in made:
            with self.subTest(name):
                got, _ = tree(os.path.join(out, folder_of[name]))
                marks = {n[: -len(":Zone.Identifier")]: d for n, d in got.items() if n.endswith(":Zone.Identifier")}
                got = {n: d for n, d in got.items() if not n.endswith(":Zone.Identifier")}
                self.assertEqual(got, expected)
                self.assertEqual(sorted(marks), sorted(got))
                self.assertTrue(all(b"ZoneId=3" in m for m in marks.values()))
                table.append((name, how, "%d files byte for byte, marked" % len(got)))
        table.append(("tool.exe", "a program with nothing behind it", reports["tool.exe"][0]))
        print_table("self-extracting archives and installers (file | made as | outcome):", table)

    def installer(self, src, files, setup):
        """Makes Quarn's installer of files (below src) at setup; returns what it holds as the 7-Zip console
        extracts it: those files, byte for byte, with the installer's plug-ins and uninstaller."""
        licences = self.scratch("stage", "licences")
        os.makedirs(licences)
        shutil.copy(os.path.join(HERE, "..", "..", "app", "res", "license.txt"),
                    os.path.join(licences, "Quarn-License.txt"))
        lines = ["!macro QuarnInstallFiles"]
        for folder in sorted({os.path.dirname(n) for n in files}):
            lines.append('  SetOutPath "$INSTDIR%s"' % ("\\" + folder.replace("/", "\\") if folder else ""))
            lines += ['  File "%s"' % os.path.join(src, n) for n in sorted(files) if os.path.dirname(n) == folder]
        lines += ["!macroend", "!macro QuarnRemoveFiles", "!macroend"]
        macros = self.scratch("files.nsh")
        with open(macros, "w", encoding="utf-8-sig") as f:  # makensis reads UTF-8 names after a BOM
            f.write("\n".join(lines) + "\n")
        kinds = self.scratch("kinds.nsh")  # no kinds registered: the installer is not run
        with open(kinds, "w") as f:
            f.write("!macro QuarnForEachKind Action\n!macroend\n")
        run(["makensis", "-V2", "-NOCD", "-DVERSION=1.00", "-DVERSION_QUAD=1.0.0.0",
             "-DSTAGE=" + self.scratch("stage"), "-DFILES=" + macros, "-DKINDS=" + kinds,
             "-DICON=/usr/share/nsis/Contrib/Graphics/Icons/modern-install.ico", "-DOUTFILE=" + setup,
             os.path.join(HERE, "..", "..", "packaging", "quarn.nsi")])
        console = self.scratch("installer-7zz")
        run(["7zz", "x", "-bso0", "-bsp0", "-o" + console, setup])
        held, _ = tree(console)
        self.assertEqual({n: held.get(n) for n in files}, files)
        return held


def main():
    global TOOL, WORK, SFX_MODULE
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--work", required=True)
    parser.add_argument("--sfx-module", required=True)
    parser.add_argument("tests", nargs="*")
    args = parser.parse_args()
    TOOL = Tool(args.tool, args.runner)
    WORK = os.path.abspath(args.work)
    SFX_MODULE = args.sfx_module
    os.makedirs(WORK, exist_ok=True)
    module = sys.modules[__name__]
    loader = unittest.TestLoader()
    suite = loader.loadTestsFromNames(args.tests, module) if args.tests else loader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(stream=sys.stdout, verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
