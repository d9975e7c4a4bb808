#!/usr/bin/env python3
"""Cross-checks Quarn's zip engine against independent zip implementations.

zip_interop_tool (ZipInteropTool.cpp) wraps the engine. This script
  - extracts with it archives written by Info-ZIP zip, 7-Zip and Python's
    zipfile module, and compares every member with the file it came from;
  - feeds it archives it cannot handle (other methods, encryption, damage,
    truncation) and checks that it reports a clear error instead of crashing or
    quietly producing wrong data;
  - has it write an archive and checks that unzip, 7z and zipfile accept it.

All fixtures are generated in the work folder at run time.

Usage:
  interop_test.py --tool <zip_interop_tool> [--runner=<cmd>] --work <folder> [TestClass ...]

With a runner (the Wine wrapper of the Windows build) the tool is started as
"<runner> <tool> ..." and receives paths in Windows form (Z:\\...).
"""

import argparse
import io
import os
import random
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

# Set by main().
TOOL = None
WORK = None

TOOL_TIMEOUT = int(os.environ.get("QUARN_INTEROP_TIMEOUT", "120"))
ALLOWED_EXIT_CODES = (0, 1, 2)  # anything else is a crash or an abort
# What Wine, the C++ runtime and the sanitizers print when the process dies of
# a fault (the sanitizers exit with code 1, so the code alone does not tell).
CRASH_MARKERS = ("Unhandled", "terminate called", "Sanitizer", "runtime error:")

LOCAL_HEADER = b"PK\x03\x04"
DATA_DESCRIPTOR = b"PK\x07\x08"
FLAG_ENCRYPTED = 0x1
FLAG_DATA_DESCRIPTOR = 0x8
FLAG_UTF8 = 0x800


# ---------------------------------------------------------------------------
# Running the tool and the reference programs

class ExtractResult:
    """What zip_interop_tool extract printed, split by kind of line."""

    def __init__(self, rc, stdout, stderr):
        self.rc = rc
        self.stdout = stdout
        self.stderr = stderr
        self.files = []      # (size, name)
        self.dirs = []       # names
        self.errors = []     # (class name, message)
        self.missing = []    # names the directory lists whose data were cut away
        self.comment = None  # bytes
        self.other = []
        for line in stdout.splitlines():
            if line.startswith("FILE "):
                size, _, name = line[5:].partition(" ")
                self.files.append((int(size), name))
            elif line.startswith("DIR "):
                self.dirs.append(line[4:])
            elif line.startswith("ERROR "):
                cls, _, message = line[6:].partition(": ")
                self.errors.append((cls, message))
            elif line.startswith("MISSING "):
                self.missing.append(line[8:])
            elif line.startswith("COMMENT "):
                self.comment = bytes.fromhex(line[8:])
            else:
                self.other.append(line)

    def file_names(self):
        return [name for _, name in self.files]

    def describe(self):
        return "exit code %r\nstdout:\n%s\nstderr:\n%s" % (self.rc, self.stdout, self.stderr)


class Tool:
    def __init__(self, exe, runner):
        self.exe = os.path.abspath(exe)
        self.runner = shlex.split(runner) if runner else []

    def path(self, p):
        """p as the tool must receive it: a Windows path when it runs under Wine."""
        p = os.path.abspath(p)
        if self.runner:
            return "Z:" + p.replace("/", "\\")
        return p

    def run(self, *args):
        # Output goes to files, not pipes: the wineserver that Wine starts
        # inherits the tool's handles and lingers for seconds after the tool
        # exits, so reading a pipe to its end would wait for it every time.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run(self.runner + [self.exe] + list(args), stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=TOOL_TIMEOUT)
            out.seek(0)
            err.seek(0)
            return (proc.returncode, out.read().decode("utf-8", "surrogateescape"),
                    err.read().decode("utf-8", "replace"))

    def extract(self, archive, outdir, command="extract"):
        """Extracts with the in-memory model (extract) or the streamed reader (unzip)."""
        if os.path.exists(outdir):
            shutil.rmtree(outdir)
        return ExtractResult(*self.run(command, self.path(archive), self.path(outdir)))

    def create(self, archive, files):
        return self.run("create", self.path(archive), *[self.path(f) for f in files])


def run(cmd, cwd=None, stdin=None):
    """Runs a reference program; returns (exit code, stdout bytes, stderr text)."""
    proc = subprocess.run(cmd, cwd=cwd, input=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=TOOL_TIMEOUT)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def checked_run(cmd, cwd=None, stdin=None):
    rc, out, err = run(cmd, cwd, stdin)
    if rc != 0:
        raise AssertionError("%s failed (%d): %s" % (" ".join(cmd), rc, err))
    return out


def seven_zip_programs():
    """The 7-Zip command-line programs present: p7zip's 7z, and 7zz when installed."""
    programs = [p for p in ("7z", "7zz") if shutil.which(p)]
    if "7z" not in programs:
        raise AssertionError("7z (p7zip-full) is not installed")
    return programs


# ---------------------------------------------------------------------------
# Source files

def _text(rng, size):
    words = ["archive", "member", "deflate", "header", "folder", "quarn", "zip", "data",
             "central", "directory", "stream", "window", "block", "crc"]
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + "\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode("ascii")[:size]


def _mixed(rng, size):
    """Alternating compressible and random stretches, so that deflate switches
    between block kinds."""
    out = bytearray()
    while len(out) < size:
        out += _text(rng, 96 * 1024)
        out += rng.randbytes(48 * 1024)
    return bytes(out[:size])


def make_sources(root):
    """Writes the source files under root; returns {relative '/' path: content}."""
    rng = random.Random(20240607)
    files = {
        "text.txt": _text(rng, 40000),
        "empty.txt": b"",
        "random.bin": rng.randbytes(65536 + 123),
        "big.bin": _mixed(rng, 3 * 1024 * 1024 + 77),
        "name with spaces.txt": b"spaces in the name\r\n" * 50,
        "tree/top.txt": _text(rng, 3000),
        "tree/a/sibling.txt": _text(rng, 700),
        "tree/a/b/deep.txt": _text(rng, 12000),
        "tree/a/b/deep.bin": bytes(range(256)) * 40,
    }
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


TREE_FILES = ["tree/top.txt", "tree/a/sibling.txt", "tree/a/b/deep.txt", "tree/a/b/deep.bin"]
TREE_DIRS = ["tree/", "tree/a/", "tree/a/b/"]


def read_tree(root):
    """{relative '/' path: content} of the files under root, and the set of folders."""
    files, dirs = {}, set()
    for folder, subdirs, names in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        for d in subdirs:
            dirs.add(prefix + d + "/")
        for n in names:
            with open(os.path.join(folder, n), "rb") as f:
                files[prefix + n] = f.read()
    return files, dirs


# ---------------------------------------------------------------------------
# Archive inspection and manipulation

def member_data_range(archive_bytes, info):
    """(start, end) of a member's stored data, from its local header."""
    start = info.header_offset
    if archive_bytes[start:start + 4] != LOCAL_HEADER:
        raise AssertionError("no local header for %s" % info.filename)
    name_len, extra_len = struct.unpack_from("<HH", archive_bytes, start + 26)
    data = start + 30 + name_len + extra_len
    return data, data + info.compress_size


def end_record_offset(archive_bytes):
    at = archive_bytes.rfind(b"PK\x05\x06")
    if at < 0:
        raise AssertionError("no end of central directory record")
    return at


def strip_descriptor_signatures(archive_bytes):
    """Rewrites an archive whose members all have signed data descriptors into
    one whose descriptors have no signature (the older form, which readers
    must also accept), fixing the central directory's offsets."""
    zf = zipfile.ZipFile(io.BytesIO(archive_bytes))
    infos = sorted(zf.infolist(), key=lambda i: i.header_offset)
    out = bytearray()
    moved = {}
    pos = 0
    for info in infos:
        if not info.flag_bits & FLAG_DATA_DESCRIPTOR:
            raise AssertionError("%s has no data descriptor" % info.filename)
        _, data_end = member_data_range(archive_bytes, info)
        if archive_bytes[data_end:data_end + 4] != DATA_DESCRIPTOR:
            raise AssertionError("%s: descriptor without signature already" % info.filename)
        moved[info.header_offset] = len(out)
        out += archive_bytes[info.header_offset:data_end]
        out += archive_bytes[data_end + 4:data_end + 16]  # CRC, sizes
        pos = data_end + 16
    end = end_record_offset(archive_bytes)
    central_start = struct.unpack_from("<I", archive_bytes, end + 16)[0]
    if central_start != pos:
        raise AssertionError("unexpected bytes between the members and the central directory")
    central = bytearray(archive_bytes[central_start:end])
    at = 0
    while at < len(central):
        if central[at:at + 4] != b"PK\x01\x02":
            raise AssertionError("bad central directory")
        old = struct.unpack_from("<I", central, at + 42)[0]
        struct.pack_into("<I", central, at + 42, moved[old])
        n, e, c = struct.unpack_from("<HHH", central, at + 28)
        at += 46 + n + e + c
    record = bytearray(archive_bytes[end:])
    struct.pack_into("<I", record, 16, len(out))
    return bytes(out + central + record)


class Unseekable(io.RawIOBase):
    """A write-only stream that cannot seek, like a pipe: zipfile then writes
    data descriptors after the members."""

    def __init__(self):
        self.buffer = bytearray()

    def writable(self):
        return True

    def seekable(self):
        return False

    def write(self, b):
        self.buffer += b
        return len(b)


def local_flags(archive_bytes, info):
    return struct.unpack_from("<H", archive_bytes, info.header_offset + 6)[0]


# ---------------------------------------------------------------------------
# Shared test machinery

class InteropCase(unittest.TestCase):
    """Each test class works in its own folder under the work folder, with its
    own copy of the source files in <folder>/src."""

    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(WORK, cls.__name__)
        if os.path.exists(cls.dir):
            shutil.rmtree(cls.dir)
        cls.src = os.path.join(cls.dir, "src")
        os.makedirs(cls.src)
        cls.sources = make_sources(cls.src)

    READER = "extract"  # the tool command that extracts: the model, or the streamed reader

    def extract(self, archive, outdir):
        return TOOL.extract(archive, outdir, self.READER)

    def scratch(self, name):
        """A path in the class folder for this test's files."""
        return os.path.join(self.dir, self.id().rsplit(".", 1)[-1] + "-" + name)

    def subset(self, names):
        return {n: self.sources[n] for n in names}

    def assertNoCrash(self, result):
        self.assertIn(result.rc, ALLOWED_EXIT_CODES, "the tool crashed\n" + result.describe())
        for marker in CRASH_MARKERS:
            self.assertNotIn(marker, result.stderr, "the tool crashed\n" + result.describe())
        self.assertEqual(result.other, [], "unexpected output\n" + result.describe())

    def assertSameBytes(self, actual, expected, what):
        if actual == expected:
            return
        first = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b),
                     min(len(actual), len(expected)))
        self.fail("%s differs: %d bytes instead of %d, first difference at offset %d"
                  % (what, len(actual), len(expected), first))

    def assertReportedFilesIntact(self, result, outdir, expected):
        """Every file the tool says it wrote holds exactly its source's bytes."""
        for size, name in result.files:
            self.assertIn(name, expected, "unexpected member\n" + result.describe())
            self.assertEqual(size, len(expected[name]), name)
            with open(os.path.join(outdir, *name.split("/")), "rb") as f:
                self.assertSameBytes(f.read(), expected[name], name)

    def assertExtractedExactly(self, result, outdir, expected, dirs=()):
        """The tool succeeded and outdir holds exactly the expected files
        (byte-identical) and folders."""
        self.assertNoCrash(result)
        self.assertEqual(result.rc, 0, result.describe())
        self.assertEqual(result.errors, [], result.describe())
        self.assertEqual(sorted(result.file_names()), sorted(expected), result.describe())
        self.assertEqual(sorted(result.dirs), sorted(dirs), result.describe())
        files, folders = read_tree(outdir)
        self.assertEqual(sorted(files), sorted(expected))
        implied = {n[:i + 1] for n in list(expected) + list(dirs) for i, c in enumerate(n) if c == "/"}
        self.assertEqual(folders, implied)
        for name, data in expected.items():
            self.assertSameBytes(files[name], data, name)

    def assertMethods(self, archive, methods):
        """Guards a fixture: the writer used the expected compression methods."""
        with zipfile.ZipFile(archive) as zf:
            actual = {i.filename: i.compress_type for i in zf.infolist() if i.filename in methods}
        self.assertEqual(actual, methods, "fixture %s" % archive)

    def assertErrorNames(self, result, member, classes):
        """Exactly one ERROR line concerns member, of one of classes, and the
        member was not reported as written."""
        quoted = '"%s"' % member
        mentioning = [(c, m) for c, m in result.errors if quoted in m]
        self.assertEqual(len(mentioning), 1, "no single error naming %s\n%s" % (quoted, result.describe()))
        self.assertIn(mentioning[0][0], classes, result.describe())
        self.assertNotIn(member, result.file_names(), result.describe())
        return mentioning[0][1]


# ---------------------------------------------------------------------------

class ReadsArchivesOfOtherTools(InteropCase):
    """Archives written by Info-ZIP, zipfile and 7-Zip extract byte-identically."""

    FLAT = ["text.txt", "empty.txt", "random.bin", "big.bin", "name with spaces.txt"]

    def info_zip(self, name, options, members):
        archive = self.scratch(name)
        checked_run(["zip", "-q"] + options + [archive] + members, cwd=self.src)
        return archive

    def test_info_zip_deflated(self):
        # The random file stays deflated (as stored deflate blocks, a little
        # larger than the file); only the empty file is stored.
        archive = self.info_zip("deflated.zip", [], self.FLAT)
        self.assertMethods(archive, {"text.txt": 8, "big.bin": 8, "random.bin": 8, "empty.txt": 0})
        out = self.scratch("deflated")
        self.assertExtractedExactly(self.extract(archive, out), out, self.subset(self.FLAT))

    def test_info_zip_stored_only(self):
        archive = self.info_zip("stored.zip", ["-0"], self.FLAT)
        self.assertMethods(archive, {n: 0 for n in self.FLAT})
        out = self.scratch("stored")
        self.assertExtractedExactly(self.extract(archive, out), out, self.subset(self.FLAT))

    def test_info_zip_nested_folders_with_folder_entries(self):
        archive = self.info_zip("tree.zip", ["-r"], ["tree"])
        with zipfile.ZipFile(archive) as zf:
            self.assertEqual(sorted(n for n in zf.namelist() if n.endswith("/")), sorted(TREE_DIRS))
        out = self.scratch("tree")
        self.assertExtractedExactly(self.extract(archive, out), out, self.subset(TREE_FILES), TREE_DIRS)

    def test_info_zip_archive_comment(self):
        archive = self.scratch("comment.zip")
        checked_run(["zip", "-q", "-z", archive, "text.txt", "tree/top.txt"], cwd=self.src,
                    stdin=b"Made by Info-ZIP for the interop test\nsecond line\n")
        with zipfile.ZipFile(archive) as zf:
            comment = zf.comment
        self.assertIn(b"second line", comment)
        out = self.scratch("comment")
        result = self.extract(archive, out)
        self.assertExtractedExactly(result, out, self.subset(["text.txt", "tree/top.txt"]))
        self.assertEqual(result.comment, comment)

    def test_info_zip_written_to_a_pipe(self):
        # zip cannot seek back in a pipe, so every file member gets a data
        # descriptor (with signature) after its data.
        members = ["text.txt", "random.bin", "big.bin", "name with spaces.txt"]
        zip_proc = subprocess.Popen(["zip", "-q", "-r", "-"] + members + ["tree"], cwd=self.src,
                                    stdout=subprocess.PIPE)
        cat = subprocess.run(["cat"], stdin=zip_proc.stdout, stdout=subprocess.PIPE, check=True)
        zip_proc.stdout.close()
        self.assertEqual(zip_proc.wait(), 0)
        archive = self.scratch("pipe.zip")
        with open(archive, "wb") as f:
            f.write(cat.stdout)
        with zipfile.ZipFile(archive) as zf:
            infos = [i for i in zf.infolist() if not i.filename.endswith("/")]
            self.assertTrue(all(local_flags(cat.stdout, i) & FLAG_DATA_DESCRIPTOR for i in infos))
            self.assertTrue(all(i.compress_type == 8 for i in infos))
        out = self.scratch("pipe")
        self.assertExtractedExactly(self.extract(archive, out), out,
                                    self.subset(members + TREE_FILES), TREE_DIRS)

    def python_zip(self, archive, compression, names, comments=False, folder=False):
        with zipfile.ZipFile(archive, "w", compression) as zf:
            if folder:
                zf.writestr(zipfile.ZipInfo("tree/"), b"")
            for name in names:
                info = zipfile.ZipInfo(name, (2020, 2, 29, 12, 30, 58))
                info.compress_type = compression
                if comments:
                    info.comment = ("comment of %s, " % name).encode() * 3
                zf.writestr(info, self.sources[name])
            if comments:
                zf.comment = b"archive comment after commented members"

    def test_python_deflated_with_member_comments(self):
        # Member comments sit in the central directory between the records; the
        # archive comment after them is only found when the records were
        # walked correctly.
        names = self.FLAT + ["tree/top.txt"]
        archive = self.scratch("py-deflated.zip")
        self.python_zip(archive, zipfile.ZIP_DEFLATED, names, comments=True, folder=True)
        self.assertMethods(archive, {"text.txt": 8, "random.bin": 8, "empty.txt": 8})
        out = self.scratch("py-deflated")
        result = self.extract(archive, out)
        self.assertExtractedExactly(result, out, self.subset(names), ["tree/"])
        self.assertEqual(result.comment, b"archive comment after commented members")

    def test_python_stored(self):
        names = self.FLAT + ["tree/a/b/deep.bin"]
        archive = self.scratch("py-stored.zip")
        self.python_zip(archive, zipfile.ZIP_STORED, names)
        self.assertMethods(archive, {"text.txt": 0, "big.bin": 0})
        out = self.scratch("py-stored")
        self.assertExtractedExactly(self.extract(archive, out), out, self.subset(names))

    def unseekable_python_zip(self, names):
        stream = Unseekable()
        with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as zf:
            for name in names:
                zf.writestr(name, self.sources[name])
        return bytes(stream.buffer)

    def test_python_unseekable_stream_signed_descriptors(self):
        names = self.FLAT + ["tree/a/b/deep.txt"]
        data = self.unseekable_python_zip(names)
        for info in zipfile.ZipFile(io.BytesIO(data)).infolist():
            self.assertTrue(local_flags(data, info) & FLAG_DATA_DESCRIPTOR)
            _, end = member_data_range(data, info)
            self.assertEqual(data[end:end + 4], DATA_DESCRIPTOR)
        archive = self.scratch("py-unseekable.zip")
        with open(archive, "wb") as f:
            f.write(data)
        out = self.scratch("py-unseekable")
        self.assertExtractedExactly(self.extract(archive, out), out, self.subset(names))

    def test_descriptors_without_signature(self):
        names = ["text.txt", "random.bin", "empty.txt", "tree/a/sibling.txt"]
        data = strip_descriptor_signatures(self.unseekable_python_zip(names))
        with zipfile.ZipFile(io.BytesIO(data)) as zf:
            self.assertIsNone(zf.testzip())
            for info in zf.infolist():
                _, end = member_data_range(data, info)
                self.assertNotEqual(data[end:end + 4], DATA_DESCRIPTOR)
        archive = self.scratch("unsigned-descriptors.zip")
        with open(archive, "wb") as f:
            f.write(data)
        out = self.scratch("unsigned-descriptors")
        self.assertExtractedExactly(self.extract(archive, out), out, self.subset(names))

    def test_seven_zip_deflate_and_stored(self):
        members = self.FLAT + ["tree"]
        expected = self.subset(self.FLAT + TREE_FILES)
        for program in seven_zip_programs():
            for options, methods in (([], {"text.txt": 8, "big.bin": 8, "tree/a/b/deep.txt": 8}),
                                     (["-mx0"], {n: 0 for n in expected})):
                with self.subTest(program=program, options=options):
                    archive = self.scratch("%s%s.zip" % (program, "".join(options)))
                    if os.path.exists(archive):
                        os.remove(archive)
                    checked_run([program, "a", "-tzip", "-bd"] + options + [archive] + members,
                                cwd=self.src)
                    self.assertMethods(archive, methods)
                    out = self.scratch("%s%s" % (program, "".join(options)))
                    self.assertExtractedExactly(self.extract(archive, out), out, expected, TREE_DIRS)


# ---------------------------------------------------------------------------

class ReportsArchivesItCannotRead(InteropCase):
    """Unsupported, encrypted, damaged and truncated archives give clear errors;
    never a crash, never a file with wrong content, never exit code 0 when a
    member's data could not be delivered."""

    def seven_zip_pair(self, name, first_options):
        """text.txt written with first_options, then tree/top.txt added with
        plain deflate, so that the archive mixes a member the engine cannot
        extract with one it can."""
        archive = self.scratch(name)
        checked_run(["7z", "a", "-tzip", "-bd"] + first_options + [archive, "text.txt"], cwd=self.src)
        checked_run(["7z", "a", "-tzip", "-bd", "-mm=Deflate", archive, "tree/top.txt"], cwd=self.src)
        return archive

    def assertOnlyTextFailed(self, result, out, classes):
        self.assertNoCrash(result)
        self.assertEqual(result.rc, 1, result.describe())
        message = self.assertErrorNames(result, "text.txt", classes)
        self.assertEqual(result.file_names(), ["tree/top.txt"], result.describe())
        self.assertReportedFilesIntact(result, out, self.sources)
        self.assertFalse(os.path.exists(os.path.join(out, "text.txt")))
        return message

    def test_other_compression_methods(self):
        for method, number in (("Deflate64", 9), ("BZip2", 12)):
            with self.subTest(method=method):
                archive = self.seven_zip_pair(method + ".zip", ["-mm=" + method])
                self.assertMethods(archive, {"text.txt": number, "tree/top.txt": 8})
                out = self.scratch(method)
                message = self.assertOnlyTextFailed(self.extract(archive, out), out, ["EZipFileError"])
                self.assertRegex(message, r"\b%d\b" % number)

    def test_encrypted_by_seven_zip(self):
        archive = self.seven_zip_pair("7z-encrypted.zip", ["-psecret"])
        with zipfile.ZipFile(archive) as zf:
            self.assertTrue(zf.getinfo("text.txt").flag_bits & FLAG_ENCRYPTED)
        out = self.scratch("7z-encrypted")
        # Refused for want of a password: the model's error, or the streamed reader's.
        message = self.assertOnlyTextFailed(self.extract(archive, out), out, ["EZipFileError", "EZipPasswordError"])
        self.assertIn("encrypt", message)

    def test_encrypted_by_info_zip(self):
        # zip -P also sets the data descriptor flag: each encrypted member is
        # delimited by its descriptor and refused on its own, by name.
        archive = self.scratch("zip-encrypted.zip")
        checked_run(["zip", "-q", "-P", "secret", archive, "text.txt", "random.bin"], cwd=self.src)
        with zipfile.ZipFile(archive) as zf:
            self.assertTrue(all(i.flag_bits & FLAG_ENCRYPTED for i in zf.infolist()))
        out = self.scratch("zip-encrypted")
        result = self.extract(archive, out)
        self.assertNoCrash(result)
        self.assertEqual(result.rc, 1, result.describe())
        for member in ("text.txt", "random.bin"):
            message = self.assertErrorNames(result, member, ["EZipFileError", "EZipPasswordError"])
            self.assertIn("encrypt", message)
        self.assertEqual(result.files, [], result.describe())

    def test_stored_members_with_data_descriptors(self):
        # A stored member whose sizes follow its data ends at the first signed
        # descriptor that fits it. Info-ZIP writes an empty file that way when
        # its output is a pipe; zipfile does it for every stored member on an
        # unseekable stream. Both must extract exactly, not fail.
        zip_proc = subprocess.run(["zip", "-q", "-", "text.txt", "empty.txt", "tree/top.txt"],
                                  cwd=self.src, stdout=subprocess.PIPE, check=True)
        stream = Unseekable()
        with zipfile.ZipFile(stream, "w", zipfile.ZIP_STORED) as zf:
            zf.writestr("text.txt", self.sources["text.txt"])
            zf.writestr("empty.txt", b"")
        for origin, data, first_stored, names in (
                ("Info-ZIP", zip_proc.stdout, "empty.txt", ["text.txt", "empty.txt", "tree/top.txt"]),
                ("zipfile", bytes(stream.buffer), "text.txt", ["text.txt", "empty.txt"])):
            with self.subTest(origin=origin):
                info = zipfile.ZipFile(io.BytesIO(data)).getinfo(first_stored)
                self.assertEqual(info.compress_type, 0)
                self.assertTrue(local_flags(data, info) & FLAG_DATA_DESCRIPTOR)
                archive = self.scratch(origin + ".zip")
                with open(archive, "wb") as f:
                    f.write(data)
                out = self.scratch(origin)
                self.assertExtractedExactly(self.extract(archive, out), out, self.subset(names))

    def test_corrupted_member_data(self):
        archive = self.scratch("intact.zip")
        # -n .bin: random.bin is stored, the others deflated.
        checked_run(["zip", "-q", "-n", ".bin", archive, "text.txt", "random.bin", "tree/top.txt"],
                    cwd=self.src)
        self.assertMethods(archive, {"text.txt": 8, "random.bin": 0, "tree/top.txt": 8})
        with open(archive, "rb") as f:
            intact = f.read()
        infos = {i.filename: i for i in zipfile.ZipFile(archive).infolist()}

        def damaged(changes):
            data = bytearray(intact)
            for name, flip in changes:
                start, end = member_data_range(intact, infos[name])
                middle = (start + end) // 2
                for k, mask in enumerate(flip):
                    data[middle + k] ^= mask
            return bytes(data)

        cases = (
            # A single flipped bit in stored data can only show in the CRC.
            ("stored bit", [("random.bin", b"\x10")], {"random.bin": ["EZipFileCRCError"]}),
            ("deflated bytes", [("text.txt", b"\xff" * 8)],
             {"text.txt": ["EZipFileCRCError", "EDecompressionError"]}),
            ("both", [("text.txt", b"\x01"), ("random.bin", b"\x80\x80")],
             {"text.txt": ["EZipFileCRCError", "EDecompressionError"],
              "random.bin": ["EZipFileCRCError"]}),
        )
        for label, changes, failing in cases:
            with self.subTest(damage=label):
                path = self.scratch(label.replace(" ", "-") + ".zip")
                with open(path, "wb") as f:
                    f.write(damaged(changes))
                out = self.scratch(label.replace(" ", "-"))
                result = self.extract(path, out)
                self.assertNoCrash(result)
                self.assertEqual(result.rc, 1, result.describe())
                for name, classes in failing.items():
                    message = self.assertErrorNames(result, name, classes)
                    if classes == ["EZipFileCRCError"]:
                        self.assertIn("CRC", message)
                self.assertEqual(sorted(result.file_names()),
                                 sorted(set(infos) - set(failing)), result.describe())
                self.assertReportedFilesIntact(result, out, self.sources)

    def test_corrupted_member_with_data_descriptor(self):
        stream = Unseekable()
        with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as zf:
            for name in ("text.txt", "tree/top.txt"):
                zf.writestr(name, self.sources[name])
        data = bytearray(stream.buffer)
        start, end = member_data_range(data, zipfile.ZipFile(io.BytesIO(data)).getinfo("text.txt"))
        for k in range(4):
            data[(start + end) // 2 + k] ^= 0x5A
        archive = self.scratch("descriptor.zip")
        with open(archive, "wb") as f:
            f.write(data)
        out = self.scratch("descriptor")
        result = self.extract(archive, out)
        self.assertNoCrash(result)
        self.assertIn(result.rc, (1, 2), result.describe())
        self.assertErrorNames(result, "text.txt",
                              ["EZipFileCRCError", "EDecompressionError", "EZipFileError"])
        self.assertReportedFilesIntact(result, out, self.sources)

    def test_truncated_copies(self):
        names = ["text.txt", "random.bin", "tree/top.txt"]
        archive = self.scratch("whole.zip")
        checked_run(["zip", "-q", "-n", ".bin", "-z", archive] + names, cwd=self.src, stdin=b"comment\n")
        with open(archive, "rb") as f:
            whole = f.read()
        self.assertMethods(archive, {"text.txt": 8, "random.bin": 0, "tree/top.txt": 8})
        infos = [zipfile.ZipFile(archive).getinfo(n) for n in names]
        ranges = [member_data_range(whole, i) for i in infos]
        end = end_record_offset(whole)
        central = struct.unpack_from("<I", whole, end + 16)[0]
        # (label, length kept, member whose data the cut goes through)
        cuts = [
            ("first local header", 17, None),
            ("first member's data", (ranges[0][0] + ranges[0][1]) // 2, "text.txt"),
            ("stored member's data", ranges[1][0] + 100, "random.bin"),
            ("last member's data", ranges[2][1] - 3, "tree/top.txt"),
            ("central directory start", central, None),
            ("inside central directory", central + 30, None),
            ("inside end record", end + 10, None),
        ]
        for label, length, cut_member in cuts:
            with self.subTest(cut=label):
                path = self.scratch("cut-%d.zip" % length)
                with open(path, "wb") as f:
                    f.write(whole[:length])
                out = self.scratch("cut-%d" % length)
                result = self.extract(path, out)
                self.assertNoCrash(result)
                self.assertReportedFilesIntact(result, out, self.sources)
                if cut_member is not None:
                    self.assertIn(result.rc, (1, 2), result.describe())
                    self.assertErrorNames(result, cut_member, ["EZipFileCRCError", "EDecompressionError"])

        # A member whose end is only found by inflating it, cut short.
        stream = Unseekable()
        with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as zf:
            zf.writestr("big.bin", self.sources["big.bin"])
        data = bytes(stream.buffer)
        start, stop = member_data_range(data, zipfile.ZipFile(io.BytesIO(data)).getinfo("big.bin"))
        with self.subTest(cut="member with data descriptor"):
            path = self.scratch("cut-descriptor.zip")
            with open(path, "wb") as f:
                f.write(data[:(start + stop) // 2])
            out = self.scratch("cut-descriptor")
            result = self.extract(path, out)
            self.assertNoCrash(result)
            self.assertIn(result.rc, (1, 2), result.describe())
            self.assertErrorNames(result, "big.bin",
                                  ["EZipFileError", "EZipFileCRCError", "EDecompressionError"])


# ---------------------------------------------------------------------------

class OthersReadNamesOfQuarn(InteropCase):
    """Names as the engine stores them (ASCII as it is, anything else as UTF-8
    with flag bit 11 in both headers) read back exactly in unzip, 7z and
    zipfile."""

    NAMES = ["plain.txt", "café.txt", "Фото/снимок.txt", "日本語.txt", "中文.txt", "עברית.txt",
             "emoji_😀.txt", "Ελληνικά.txt", "e\u0301cole.txt"]

    def test_names_read_back_exactly(self):
        listing = self.scratch("names.txt")
        with open(listing, "wb") as f:
            f.write("\n".join(self.NAMES).encode("utf-8"))
        archive = self.scratch("names.zip")
        rc, out, err = TOOL.run("names", TOOL.path(archive), TOOL.path(listing))
        self.assertEqual(rc, 0, out + err)
        self.assertPeersRead(archive, self.NAMES, lambda name: name.encode("utf-8"))

    def test_zip_command_packs_files_of_any_name(self):
        # Files on disk with these names, packed by the Zip command's job: each
        # member is named by its path (without the root) and holds its file.
        root = self.scratch("named-files")
        paths = []
        for name in self.NAMES:
            path = os.path.join(root, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(("file " + name).encode("utf-8"))
            paths.append(path)
        archive = self.scratch("named-files.zip")
        rc, lines, err = zip_command(archive, paths)
        self.assertEqual(rc, 0, "\n".join(lines) + err)
        members = [os.path.abspath(p).lstrip("/") for p in paths]
        prefix = os.path.abspath(root).lstrip("/") + "/"
        self.assertPeersRead(archive, members, lambda member: ("file " + member[len(prefix):]).encode("utf-8"))

    def assertPeersRead(self, archive, names, content):
        with open(archive, "rb") as f:
            data = f.read()
        with zipfile.ZipFile(archive) as zf:
            self.assertIsNone(zf.testzip())
            self.assertEqual(zf.namelist(), names)
            for info in zf.infolist():
                flag = 0 if info.filename.isascii() else FLAG_UTF8
                self.assertEqual(info.flag_bits & FLAG_UTF8, flag, info.filename)
                self.assertEqual(local_flags(data, info) & FLAG_UTF8, flag, info.filename)
                self.assertEqual(zf.read(info), content(info.filename))
        utf8 = dict(os.environ, LC_ALL="C.UTF-8")
        proc = subprocess.run(["unzip", "-l", archive], stdout=subprocess.PIPE, env=utf8, check=True)
        lines = proc.stdout.decode("utf-8").splitlines()
        # Length, date and time, then the name; between the two dashed rules.
        rules = [i for i, line in enumerate(lines) if line.startswith("---")]
        listed = [line.split(None, 3)[3] for line in lines[rules[0] + 1:rules[1]]]
        self.assertEqual(listed, names)
        for program in seven_zip_programs():
            with self.subTest(program=program):
                proc = subprocess.run([program, "l", "-slt", archive], stdout=subprocess.PIPE, env=utf8,
                                      check=True)
                paths = [line[len("Path = "):] for line in proc.stdout.decode("utf-8").splitlines()
                         if line.startswith("Path = ")]
                self.assertEqual(paths[1:], names)  # the first is the archive itself


class OthersReadArchivesOfQuarn(InteropCase):
    """An archive written by the engine (one file at a time, saved after each)
    passes the checks of unzip, 7z and zipfile and holds the exact sources."""

    FILES = ["text.txt", "empty.txt", "random.bin", "big.bin", "name with spaces.txt",
             "tree/a/b/deep.txt", "tree/a/b/deep.bin"]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.archive = os.path.join(cls.dir, "quarn.zip")
        paths = [os.path.join(cls.src, *n.split("/")) for n in cls.FILES]
        cls.create_result = TOOL.create(cls.archive, paths)
        # The engine names a member after the file's full path without its
        # drive (Z: under Wine) and leading separator.
        cls.expected = {os.path.abspath(p).lstrip("/"): cls.sources[n] for p, n in zip(paths, cls.FILES)}
        cls.expected_order = [os.path.abspath(p).lstrip("/") for p in paths]

    def setUp(self):
        rc, out, err = self.create_result
        self.assertEqual(rc, 0, "create failed\nstdout:\n%s\nstderr:\n%s" % (out, err))
        for marker in CRASH_MARKERS:
            self.assertNotIn(marker, err)

    def test_member_names(self):
        printed = self.create_result[1].splitlines()
        self.assertEqual(printed, self.expected_order)
        with zipfile.ZipFile(self.archive) as zf:
            names = zf.namelist()
        self.assertEqual(names, printed)
        for name in names:
            self.assertFalse(name.startswith("/"), name)
            self.assertNotIn("\\", name)
            self.assertIsNone(re.match(r"^[A-Za-z]:", name), name)
            self.assertNotIn("..", name.split("/"))

    def test_unzip_tests_and_extracts(self):
        rc, out, err = run(["unzip", "-t", self.archive])
        self.assertEqual(rc, 0, out.decode(errors="replace") + err)
        self.assertIn(b"No errors detected", out)
        dest = os.path.join(self.dir, "unzip-out")
        if os.path.exists(dest):
            shutil.rmtree(dest)
        checked_run(["unzip", "-q", self.archive, "-d", dest])
        files, _ = read_tree(dest)
        self.assertEqual(sorted(files), sorted(self.expected))
        for name, data in self.expected.items():
            self.assertSameBytes(files[name], data, name)

    def test_seven_zip_tests(self):
        for program in seven_zip_programs():
            with self.subTest(program=program):
                rc, out, err = run([program, "t", "-bd", self.archive])
                self.assertEqual(rc, 0, out.decode(errors="replace") + err)
                self.assertIn(b"Everything is Ok", out)
                self.assertIn(("Files: %d" % len(self.FILES)).encode(), out)

    def test_python_zipfile_reads_the_sources(self):
        with zipfile.ZipFile(self.archive) as zf:
            self.assertIsNone(zf.testzip())
            infos = zf.infolist()
            self.assertEqual(sorted(i.filename for i in infos), sorted(self.expected))
            for info in infos:
                source = self.expected[info.filename]
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, info.filename)
                self.assertEqual(info.file_size, len(source), info.filename)
                self.assertEqual(info.CRC, zlib.crc32(source), info.filename)
                self.assertSameBytes(zf.read(info), source, info.filename)


class StreamedReadsArchivesOfOtherTools(ReadsArchivesOfOtherTools):
    """The same archives through the streamed reader the Unzip command uses."""
    READER = "unzip"


class StreamedReportsArchivesItCannotRead(ReportsArchivesItCannotRead):
    READER = "unzip"


class EndRecordDamage(InteropCase):
    """Whatever is wrong with the end record, the streamed reader extracts the
    members or names what it could not take and why; never neither. Where
    Info-ZIP's unzip -t still finds members, the reader extracts at least
    those."""

    FILES = ["text.txt", "random.bin", "tree/top.txt", "tree/a/sibling.txt"]

    def test_every_damage_gives_members_or_a_report(self):
        base = self.scratch("base.zip")
        checked_run(["zip", "-q", "-D", base] + self.FILES, cwd=self.src)
        with open(base, "rb") as f:
            data = f.read()
        end = end_record_offset(data)
        second = data.find(LOCAL_HEADER, 4)
        central = struct.unpack_from("<I", data, end + 16)[0]

        def end_fields(fmt, at, *values):
            out = bytearray(data)
            struct.pack_into(fmt, out, end + at, *values)
            return bytes(out)

        # A zip64 locator before the end record whose zip64 end record is nowhere.
        locator = struct.pack("<IIQI", 0x07064B50, 0, 0x123456789, 1)
        everything, rest = self.FILES, self.FILES[1:]
        cases = [
            # what, archive, members extracted, members reported missing, error text
            ("directory offset far past the end", end_fields("<I", 16, central + 1342177280), everything, [], None),
            ("data before the archive", b"MZ" + b"\x90" * 1001 + data, everything, [], None),
            ("cut out of a bigger file", data[second:], rest, self.FILES[:1], None),
            ("directory size past the end", end_fields("<I", 12, 0x7FFFFFFF), everything, [], None),
            ("more members listed than found", end_fields("<HH", 8, 7, 7), everything, [],
             "The archive lists 7 members; 4 were found."),
            ("fewer members listed than found", end_fields("<HH", 8, 2, 2), everything, [], None),
            ("an empty directory after the members", end_fields("<HHII", 8, 0, 0, 0, end), everything, [], None),
            ("a zip64 locator pointing nowhere", data[:end] + locator + data[end:], everything, [], None),
        ]
        for what, archive_bytes, extracted, missing, error in cases:
            with self.subTest(what):
                archive = self.scratch("damaged.zip")
                with open(archive, "wb") as f:
                    f.write(archive_bytes)
                out = self.scratch("damaged")
                result = TOOL.extract(archive, out, "unzip")
                self.assertNoCrash(result)
                self.assertTrue(result.files or result.errors or result.missing, "silence\n" + result.describe())
                self.assertEqual(sorted(result.file_names()), sorted(extracted), result.describe())
                self.assertEqual(result.missing, missing, result.describe())
                self.assertEqual([error in m for _, m in result.errors], [True] if error else [], result.describe())
                self.assertEqual(result.rc, 0 if not (missing or error) else 1, result.describe())
                self.assertReportedFilesIntact(result, out, self.sources)
                rc, listing, _ = run(["unzip", "-t", archive])
                tested = re.findall(rb"testing: (.+?) +OK$", listing, re.M)
                self.assertLessEqual({t.decode() for t in tested}, set(extracted), listing.decode(errors="replace"))


def zip_command(archive, files, *options):
    """Runs the tool's zip command (the linear writer, as the Zip command
    writes): (exit code, stdout lines, stderr)."""
    rc, out, err = TOOL.run("zip", *options, TOOL.path(archive), *[TOOL.path(f) for f in files])
    return rc, out.splitlines(), err


class OthersReadArchivesOfTheLinearWriter(OthersReadArchivesOfQuarn):
    """An archive written in one pass by the linear, parallel writer passes
    the peers' checks too."""

    @classmethod
    def setUpClass(cls):
        InteropCase.setUpClass.__func__(cls)
        cls.archive = os.path.join(cls.dir, "linear.zip")
        paths = [os.path.join(cls.src, *n.split("/")) for n in cls.FILES]
        rc, lines, err = zip_command(cls.archive, paths)
        # The member names, then the bytes written and the archive's size.
        cls.create_result = (rc, "\n".join(lines[:-1]) + "\n", err)
        cls.written = lines[-1] if lines else ""
        cls.expected = {os.path.abspath(p).lstrip("/"): cls.sources[n] for p, n in zip(paths, cls.FILES)}
        cls.expected_order = [os.path.abspath(p).lstrip("/") for p in paths]

    def test_writes_each_byte_once(self):
        written, size = map(int, re.match(r"WRITTEN (\d+) SIZE (\d+)$", self.written).groups())
        self.assertEqual(size, os.path.getsize(self.archive))
        self.assertLessEqual(written, size * 1.05)


class ZipCommandJob(InteropCase):
    """The Zip command's promises: a valid archive of the files before a
    failure or a stop, nothing under the target name when killed part-way, an
    existing target never touched, the same bytes whatever the threads."""

    FILES = ["text.txt", "random.bin", "big.bin", "tree/a/b/deep.txt", "empty.txt", "tree/top.txt"]

    def paths(self, names=None):
        return [os.path.join(self.src, *n.split("/")) for n in (names or self.FILES)]

    def leftovers(self, target):
        folder, name = os.path.split(target)
        return sorted(n for n in os.listdir(folder) if n.startswith(name + "."))

    def assertArchiveOf(self, archive, names):
        with zipfile.ZipFile(archive) as zf:
            self.assertIsNone(zf.testzip())
            got = [i.filename.rsplit("/", 1)[-1] for i in zf.infolist()]
        self.assertEqual(got, [n.rsplit("/", 1)[-1] for n in names])
        rc, out, err = run(["unzip", "-t", archive])
        self.assertEqual(rc, 0, out.decode(errors="replace") + err)

    def test_failure_or_stop_part_way_keeps_the_files_before(self):
        cases = [
            ("a missing file", self.FILES[:3] + ["no such file.txt"] + self.FILES[3:], [], 3),
            ("the first file missing", ["no such file.txt"] + self.FILES, [], 0),
            ("stopped by the hook", self.FILES, ["--stop-after", "4"], 4),
        ]
        for what, names, options, kept in cases:
            with self.subTest(what):
                target = self.scratch(what.replace(" ", "-") + ".zip")
                rc, lines, err = zip_command(target, self.paths(names), *options)
                self.assertEqual(rc, 1, "\n".join(lines) + err)
                if kept == 0:
                    self.assertFalse(os.path.exists(target))
                else:
                    self.assertArchiveOf(target, names[:kept])
                self.assertEqual(self.leftovers(target), [])

    def test_killed_part_way_leaves_no_archive_under_the_target_name(self):
        target = self.scratch("killed.zip")
        rc, lines, err = zip_command(target, self.paths(), "--kill-after", "3")
        self.assertNotEqual(rc, 0, "the tool was not killed\n" + "\n".join(lines))
        self.assertFalse(os.path.exists(target))
        # What is left says what it is and whose: the target's name, then ours.
        left = self.leftovers(target)
        self.assertEqual(len(left), 1, left)
        self.assertRegex(left[0], "^" + re.escape(os.path.basename(target)) + r"\.quarn-partial-[0-9a-f]{8}$")

    def test_an_existing_target_is_never_touched(self):
        target = self.scratch("existing.zip")
        with open(target, "wb") as f:
            f.write(b"precious")
        rc, lines, err = zip_command(target, self.paths())
        self.assertEqual(rc, 1)
        self.assertIn("EFCreateError", "\n".join(lines))
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"precious")
        self.assertEqual(self.leftovers(target), [])

    def test_the_same_bytes_whatever_the_number_of_threads(self):
        archives = []
        for threads in ("1", "2", "5"):
            target = self.scratch("threads-%s.zip" % threads)
            rc, lines, err = zip_command(target, self.paths(), "--threads", threads, "--time", "0x5A8B6C4D")
            self.assertEqual(rc, 0, "\n".join(lines) + err)
            with open(target, "rb") as f:
                archives.append(f.read())
        self.assertEqual(archives[0], archives[1])
        self.assertEqual(archives[0], archives[2])


class Zip64WithPeers(InteropCase):
    """zip64 records written by Python's zipfile are read; archives beyond
    the 32-bit limits are checked in LargeArchives."""

    def test_zip64_extra_fields_and_end_records_of_python(self):
        archive = self.scratch("forced.zip")
        names = ["text.txt", "big.bin", "empty.txt"]
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as zf:
            for n in names:
                with zf.open(n, "w", force_zip64=True) as m:
                    m.write(self.sources[n])
        with open(archive, "rb") as f:
            data = bytearray(f.read())
        # Also an end record that defers to the zip64 end record, as writers
        # of more than 65535 members leave it.
        end = end_record_offset(data)
        zip64_end = len(data) - 22
        central_start = struct.unpack_from("<I", data, end + 16)[0]
        central_size = end - central_start
        record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 3, 3, central_size, central_start)
        locator = struct.pack("<IIQI", 0x07064B50, 0, end, 1)
        tail = bytearray(data[end:])
        struct.pack_into("<HHII", tail, 8, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
        data = data[:end] + record + locator + tail
        with open(archive, "wb") as f:
            f.write(data)
        with zipfile.ZipFile(archive) as zf:
            self.assertIsNone(zf.testzip())  # the fixture is sound for Python too
        out = self.scratch("forced")
        for command in ("unzip",):
            result = TOOL.extract(archive, out, command)
            self.assertExtractedExactly(result, out, self.subset(names))


def large_checks_wanted(free_needed):
    """The big checks run with QUARN_7Z_LARGE=1 when the disk has room."""
    if os.environ.get("QUARN_7Z_LARGE") != "1":
        return "QUARN_7Z_LARGE is not 1"
    free = shutil.disk_usage(WORK).free
    if free < free_needed:
        return "only %d GiB free, %d GiB needed" % (free >> 30, free_needed >> 30)
    return None


class LargeArchives(InteropCase):
    """Archives beyond the 32-bit limits, made at test time: Info-ZIP's
    zip64 archive of a 4.5 GiB member and 70,000 small ones extracts
    byte-exactly through the streamed reader, and the linear writer's zip of a
    5 GiB file passes unzip -t, 7z t and zipfile's testzip."""

    def setUp(self):
        reason = large_checks_wanted(20 << 30)
        if reason:
            self.skipTest(reason)

    def test_info_zip_zip64_archive_extracts_byte_exactly(self):
        root = self.scratch("src64")
        if os.path.exists(root):
            shutil.rmtree(root)
        small = os.path.join(root, "small")
        # 70,000 files of 23.1 kB: 1.6 GB, the rest of the 6 GiB; in folders of
        # 1,000, since Wine's file lookups slow down in very large folders.
        for i in range(70000):
            if i % 1000 == 0:
                os.makedirs(os.path.join(small, "%02d" % (i // 1000)))
            line = b"member %d\n" % i
            with open(os.path.join(small, "%02d" % (i // 1000), "%05d.txt" % i), "wb") as f:
                f.write((line * (23100 // len(line) + 1))[:23100])
        big = os.path.join(root, "big.bin")
        with open(big, "wb") as f:
            # 4.5 GiB, mostly a hole, with data near both ends and past 4 GiB.
            f.write(b"head of the big member\n" * 1000)
            f.seek((9 << 29) - 4096)
            f.write(b"tail beyond 4 GiB\n" * 200)
            f.truncate(9 << 29)
        archive = self.scratch("info-zip64.zip")
        if os.path.exists(archive):
            os.remove(archive)
        out = self.scratch("info-zip64")
        try:
            checked_run(["zip", "-q", "-0", "-r", archive, "big.bin", "small"], cwd=root)
            self.assertGreater(os.path.getsize(archive), 6 << 30)
            result = TOOL.extract(archive, out, "unzip")
            self.assertNoCrash(result)
            self.assertEqual(result.errors, [], result.describe())
            self.assertEqual(result.rc, 0)
            self.assertEqual(len(result.files), 70001)
            checked_run(["cmp", big, os.path.join(out, "big.bin")])
            checked_run(["diff", "-r", small, os.path.join(out, "small")])
        finally:
            for path in (out, root):
                shutil.rmtree(path, ignore_errors=True)
            if os.path.exists(archive):
                os.remove(archive)

    def test_quarns_zip_of_a_5_gib_file_passes_the_peers(self):
        source = self.scratch("five.bin")
        with open(source, "wb") as f:
            f.write(self.sources["big.bin"])
            f.seek(5 << 30)
            f.write(self.sources["text.txt"])
        archive = self.scratch("five.zip")
        try:
            rc, lines, err = zip_command(archive, [source])
            self.assertEqual(rc, 0, "\n".join(lines) + err)
            rc, out, err = run(["unzip", "-t", archive])
            self.assertEqual(rc, 0, out.decode(errors="replace") + err)
            for program in seven_zip_programs():
                rc, out, err = run([program, "t", "-bd", archive])
                self.assertEqual(rc, 0, out.decode(errors="replace") + err)
                self.assertIn(b"Everything is Ok", out)
            with zipfile.ZipFile(archive) as zf:
                self.assertIsNone(zf.testzip())
                self.assertEqual(zf.infolist()[0].file_size, os.path.getsize(source))
        finally:
            for path in (source, archive):
                if os.path.exists(path):
                    os.remove(path)


# ---------------------------------------------------------------------------

def main():
    global TOOL, WORK
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True, help="path of zip_interop_tool")
    parser.add_argument("--runner", default="", help="command that runs the tool (Wine wrapper)")
    parser.add_argument("--work", required=True, help="folder for fixtures and output")
    parser.add_argument("tests", nargs="*", help="test classes or methods to run (default: all)")
    args = parser.parse_args()

    TOOL = Tool(args.tool, args.runner)
    WORK = os.path.abspath(args.work)
    os.makedirs(WORK, exist_ok=True)

    module = sys.modules[__name__]
    loader = unittest.TestLoader()
    if args.tests:
        suite = loader.loadTestsFromNames(args.tests, module)
    else:
        suite = loader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(stream=sys.stdout, verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
