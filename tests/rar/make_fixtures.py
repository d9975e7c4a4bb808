#!/usr/bin/env python3
"""Makes the RAR archives the rar_tests executable reads, with the Linux `rar`
tool, into the folder given as the only argument.

Archives whose names the tool cannot store (paths that climb out of the
output folder, absolute and drive paths) are made by storing harmless names of
the same length and patching the names inside the RAR5 file headers, with the
header CRC32 recomputed.
"""
import os
import random
import shutil
import subprocess
import sys
import zlib


UNICODE_NAMES = ["caf\u00e9.txt", "\u0424\u043e\u0442\u043e/\u0441\u043d\u0438\u043c\u043e\u043a.txt",
                 "\u65e5\u672c\u8a9e.txt", "\u4e2d\u6587.txt", "\u05e2\u05d1\u05e8\u05d9\u05ea.txt",
                 "emoji_\U0001f600.txt", "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt",
                 "e\u0301cole.txt", "long/" + "d" * 120 + "/" + "f" * 120 + ".txt"]
UNICODE_FOLDER = "names-\u00e9t\u00e9 \u65e5\u672c \U0001f600"
UNICODE_ARCHIVE = "\u0430\u0440\u0445\u0438\u0432 \u4e2d\u6587"
UNICODE_SPARE = "\u0437\u0430\u043f\u0430\u0441 \U0001f600.rar"


def run_rar(args, cwd):
    subprocess.run(["rar"] + args, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def pattern(size, seed):
    """Deterministic bytes that do not compress much."""
    out = bytearray()
    x = seed
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out += (x >> 8).to_bytes(3, "little")
    return bytes(out[:size])


def read_vint(buf, pos):
    value = shift = 0
    while True:
        b = buf[pos]
        pos += 1
        value |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            return value, pos


def rar5_blocks(buf):
    """Yields (start, header_end, type, name_pos, name_len) for each block."""
    assert buf[:8] == b"Rar!\x1a\x07\x01\x00", "not a RAR5 archive"
    pos = 8
    while pos + 4 < len(buf):
        start = pos
        size, p = read_vint(buf, pos + 4)
        header_end = p + size
        htype, p = read_vint(buf, p)
        hflags, p = read_vint(buf, p)
        data_size = 0
        if hflags & 1:
            _, p = read_vint(buf, p)
        if hflags & 2:
            data_size, p = read_vint(buf, p)
        name_pos = name_len = None
        if htype in (2, 3):
            fflags, p = read_vint(buf, p)
            _, p = read_vint(buf, p)  # unpacked size
            _, p = read_vint(buf, p)  # attributes
            if fflags & 2:
                p += 4
            if fflags & 4:
                p += 4
            _, p = read_vint(buf, p)  # compression
            _, p = read_vint(buf, p)  # host OS
            name_len, p = read_vint(buf, p)
            name_pos = p
        yield start, header_end, htype, name_pos, name_len
        if htype == 5:  # end of archive
            return
        pos = header_end + data_size


def patch_names(path, renames):
    buf = bytearray(open(path, "rb").read())
    done = set()
    for start, header_end, htype, name_pos, name_len in list(rar5_blocks(bytes(buf))):
        if htype != 2:
            continue
        name = bytes(buf[name_pos:name_pos + name_len])
        if name in renames:
            new = renames[name]
            assert len(new) == len(name)
            buf[name_pos:name_pos + name_len] = new
            crc = zlib.crc32(bytes(buf[start + 4:header_end])) & 0xFFFFFFFF
            buf[start:start + 4] = crc.to_bytes(4, "little")
            done.add(name)
    assert done == set(renames), "names not found: %r" % (set(renames) - done)
    open(path, "wb").write(bytes(buf))


def main():
    out = os.path.abspath(sys.argv[1])
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    stage = os.path.join(out, "stage")

    # Files, folders (one empty), a non-ASCII name, and a comment.
    src = os.path.join(stage, "basic")
    write(os.path.join(src, "hello.txt"), b"Hello from Quarn\r\n")
    write(os.path.join(src, "dir", "sub", "nested.bin"), pattern(100000, 7))
    write(os.path.join(src, "caf\u00e9 \u00e0 l'\u00e9t\u00e9.txt"), b"accents\r\n")
    os.makedirs(os.path.join(src, "emptydir"))
    run_rar(["a", "-r", "-m3", "-idq", os.path.join(out, "basic.rar"), "."], src)

    with open(os.path.join(stage, "comment.txt"), "wb") as f:
        f.write(b"Commentaire de test\nligne deux")
    shutil.copy(os.path.join(out, "basic.rar"), os.path.join(out, "comment.rar"))
    run_rar(["c", "-idq", "-z" + os.path.join(stage, "comment.txt"), os.path.join(out, "comment.rar")], stage)

    # Stored (not compressed) copy, so a flipped byte lands in file data.
    run_rar(["a", "-r", "-m0", "-idq", os.path.join(out, "stored.rar"), "."], src)
    buf = bytearray(open(os.path.join(out, "stored.rar"), "rb").read())
    start, header_end, _, _, _ = [b for b in rar5_blocks(bytes(buf)) if b[2] == 2 and
                                  buf[b[3]:b[3] + b[4]] == b"dir/sub/nested.bin"][0]
    buf[header_end + 5000] ^= 0xFF
    open(os.path.join(out, "damaged.rar"), "wb").write(bytes(buf))
    # A broken file header: the second file block's size reads as 0, so the
    # library stops reading headers there with a header error. Made without
    # the quick-open record, whose copies of the headers would stand in for it.
    run_rar(["a", "-r", "-m0", "-qo-", "-idq", os.path.join(out, "noqo.rar"), "."], src)
    buf = bytearray(open(os.path.join(out, "noqo.rar"), "rb").read())
    os.remove(os.path.join(out, "noqo.rar"))
    start = [b for b in rar5_blocks(bytes(buf)) if b[2] == 2][1][0]
    buf[start + 4] = 0
    open(os.path.join(out, "badheader.rar"), "wb").write(bytes(buf))
    # A compressible file packed with the best method.
    write(os.path.join(stage, "best", "text.txt"), b"Quarn compresse ce texte. " * 4000)
    run_rar(["a", "-m5", "-idq", os.path.join(out, "best.rar"), "text.txt"], os.path.join(stage, "best"))

    # Password on the file data.
    pw = os.path.join(stage, "pw")
    write(os.path.join(pw, "secret.txt"), b"top secret\r\n")
    run_rar(["a", "-pSecret123", "-idq", os.path.join(out, "password.rar"), "secret.txt"], pw)

    # The same with the headers encrypted too: nothing opens without it.
    run_rar(["a", "-hpSecret123", "-idq", os.path.join(out, "password-hp.rar"), "secret.txt"], pw)

    # A small file, then a big one (32 MiB) whose extraction can be stopped half-way.
    big = os.path.join(stage, "big")
    write(os.path.join(big, "a-first.txt"), b"finished before the big one\r\n")
    write(os.path.join(big, "big.bin"), random.Random(5).randbytes(65536) * 512)
    run_rar(["a", "-m1", "-idq", os.path.join(out, "big.rar"), "a-first.txt", "big.bin"], big)

    # Names from many scripts (one with a combining accent) and a member whose
    # output path is longer than 260 characters, in a two-volume set whose
    # own names hold such characters too; its second volume is kept only
    # under another such name.
    uni = os.path.join(stage, "unicode")
    for name in UNICODE_NAMES:
        write(os.path.join(uni, name), ("content of " + name + "\n").encode())
    write(os.path.join(uni, "filler.bin"), pattern(150000, 9))
    folder = os.path.join(out, UNICODE_FOLDER)
    os.makedirs(folder)
    run_rar(["a", "-r", "-m0", "-v100k", "-idq", os.path.join(folder, UNICODE_ARCHIVE + ".rar"), "."], uni)
    os.rename(os.path.join(folder, UNICODE_ARCHIVE + ".part2.rar"), os.path.join(folder, UNICODE_SPARE))

    # A two-volume set; the second volume is also kept under another name.
    vol = os.path.join(stage, "vol")
    write(os.path.join(vol, "big.bin"), pattern(100000, 3))
    run_rar(["a", "-m0", "-v60k", "-idq", os.path.join(out, "vol.rar"), "big.bin"], vol)
    shutil.copy(os.path.join(out, "vol.part2.rar"), os.path.join(out, "spare-volume.rar"))
    os.makedirs(os.path.join(out, "missing"))
    shutil.copy(os.path.join(out, "vol.part1.rar"), os.path.join(out, "missing", "vol.part1.rar"))

    # Hostile names, made from harmless ones of the same length.
    hostile = {
        b"aa/quarn-evil1.txt": b"../quarn-evil1.txt",
        b"a/bb/cc/quarn-evil2.txt": b"a/../../quarn-evil2.txt",
        b"Xtmp/quarn-evil3.txt": b"/tmp/quarn-evil3.txt",
        b"Cx/quarn-evil4.txt": b"C:/quarn-evil4.txt",
        b"abcquarn-evil5.txt": b"..\\quarn-evil5.txt",
        b"xyquarn-evil6.txt": b"\\\\quarn-evil6.txt",
    }
    hs = os.path.join(stage, "hostile")
    for name in hostile:
        write(os.path.join(hs, name.decode()), b"payload " + name + b"\r\n")
    run_rar(["a", "-idq", os.path.join(out, "hostile.rar")] + [n.decode() for n in hostile], hs)
    patch_names(os.path.join(out, "hostile.rar"), hostile)
    subprocess.run(["rar", "t", "-idq", os.path.join(out, "hostile.rar")], check=True, stdout=subprocess.DEVNULL)

    # Names Windows reserves for devices or does not allow, as Unix tools store them.
    names = ["aux.txt", "sub/COM1.log", "NUL", "what?.txt", "ok.txt"]
    ns = os.path.join(stage, "names")
    for name in names:
        write(os.path.join(ns, name), name.encode() + b"\n")
    run_rar(["a", "-idq", os.path.join(out, "names.rar")] + names, ns)

    shutil.rmtree(stage)


if __name__ == "__main__":
    main()
