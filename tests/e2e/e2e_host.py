#!/usr/bin/python3
"""Host side of Quarn's end-to-end run (Linux, beside Wine).

  e2e_host.py fixtures <scratch>
      Makes the files the driver works with: source trees, zip archives made with
      Info-ZIP zip (and 7z/rar archives when those tools are there), a zip with a
      damaged member, files to drop and to pack.

  e2e_host.py serve --exchange DIR --shots DIR --prefix WINEPREFIX --xdnd SCRIPT
      Answers the driver's requests, which arrive as files DIR/request-NNNN.req;
      each answer is written to request-NNNN.rep. Requests (first line):
        shot <case>          screenshot of the X screen to <shots>/<case>.png
        zipcheck             then the archive's path, then "member<TAB>source" lines:
                             unzip -t must pass, and Python's zipfile must find
                             exactly these members, in this order, with these bytes
        xdnd <x> <y>         then paths: drag them onto the window at (x, y)
      Paths in requests are Windows paths of the driver's Wine prefix.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- fixtures

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def text_lines(rng, count, prefix):
    words = ['archive', 'folder', 'member', 'deflate', 'window', 'quarn', 'desktop', 'extract', 'list', 'drop']
    return ''.join('%s %d: %s\r\n' % (prefix, i, ' '.join(rng.choice(words) for _ in range(rng.randint(3, 12))))
                   for i in range(count)).encode('ascii')


def run(cmd, cwd):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def damage(path):
    """Flips bytes in the middle of an archive's packed data."""
    size = os.path.getsize(path)
    with open(path, 'r+b') as f:
        for offset in (size // 2, size // 2 + 1, size // 2 + 7):
            f.seek(offset)
            b = f.read(1)[0]
            f.seek(offset)
            f.write(bytes([b ^ 0x5A]))


PASSWORD = 'Quarn-2026'
UNICODE_NAMES = ['café.txt', 'Фото/снимок.txt', '日本語.txt', '中文.txt', 'עברית.txt', 'emoji_😀.txt',
                 'Ελληνικά.txt', 'e\u0301cole.txt']


def make_fixtures(scratch):
    rng = random.Random(20240601)
    src = os.path.join(scratch, 'src')
    arch = os.path.join(scratch, 'arch')
    os.makedirs(arch, exist_ok=True)
    os.makedirs(os.path.join(scratch, 'out'), exist_ok=True)

    # nested1: folder entries in its zip (zip -r), an empty folder, a file that
    # does not compress (stored), an empty file, a name with a blank.
    n1 = os.path.join(src, 'nested1')
    write(os.path.join(n1, 'readme.txt'), text_lines(rng, 40, 'readme'))
    write(os.path.join(n1, 'docs', 'manual.txt'), text_lines(rng, 300, 'manual'))
    write(os.path.join(n1, 'docs', 'deep', 'a', 'b', 'c', 'd.txt'), b'four levels down\r\n')
    write(os.path.join(n1, 'data', 'random.bin'), bytes(rng.getrandbits(8) for _ in range(150 * 1024)))
    write(os.path.join(n1, 'data', 'empty.txt'), b'')
    write(os.path.join(n1, 'with space', 'file name.txt'), b'a name with a blank\r\n')
    os.makedirs(os.path.join(n1, 'emptydir'), exist_ok=True)
    run(['zip', '-r', '-q', '-X', os.path.join(arch, 'nested1.zip'), '.'], n1)

    # nested2: no folder entries (zip -D), so the folders come from the file names.
    n2 = os.path.join(src, 'nested2')
    write(os.path.join(n2, 'top.txt'), b'top level\r\n')
    write(os.path.join(n2, 'x', 'y', 'z', 'w.txt'), text_lines(rng, 2000, 'w'))
    write(os.path.join(n2, 'x', 'sibling.dat'), bytes(range(256)) * 64)
    run(['zip', '-r', '-q', '-D', '-X', os.path.join(arch, 'nested2.zip'), '.'], n2)
    # The same files bzip2-compressed, named as WinZip names such zips.
    run(['zip', '-r', '-q', '-D', '-X', '-Z', 'bzip2', os.path.join(arch, 'bzipped.zip'), '.'], n2)
    os.replace(os.path.join(arch, 'bzipped.zip'), os.path.join(arch, 'bzipped.zipx'))

    good = os.path.join(src, 'good')
    write(os.path.join(good, 'g1.txt'), text_lines(rng, 10, 'good'))
    write(os.path.join(good, 'sub', 'g2.txt'), b'second good file\r\n')
    run(['zip', '-r', '-q', '-X', os.path.join(arch, 'good.zip'), '.'], good)

    after = os.path.join(src, 'after')
    write(os.path.join(after, 'after.txt'), b'extracted only if the walk goes on\r\n')
    run(['zip', '-r', '-q', '-X', os.path.join(arch, 'after.zip'), '.'], after)

    # broken.zip: the second member's deflated data damaged in its middle.
    broken = os.path.join(src, 'broken')
    members = [('first.txt', text_lines(rng, 50, 'first')),
               ('second.txt', text_lines(rng, 3000, 'second')),
               ('third.txt', text_lines(rng, 50, 'third'))]
    for name, data in members:
        write(os.path.join(broken, name), data)
    broken_zip = os.path.join(arch, 'broken.zip')
    with zipfile.ZipFile(broken_zip, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            z.writestr(name, data)
    with zipfile.ZipFile(broken_zip) as z:
        info = z.getinfo('second.txt')
    with open(broken_zip, 'r+b') as f:
        f.seek(info.header_offset + 26)
        name_len = int.from_bytes(f.read(2), 'little')
        extra_len = int.from_bytes(f.read(2), 'little')
        data_start = info.header_offset + 30 + name_len + extra_len
        for offset in (info.compress_size // 3, info.compress_size // 2):
            f.seek(data_start + offset)
            b = f.read(1)[0]
            f.seek(data_start + offset)
            f.write(bytes([b ^ 0x5A]))

    if shutil.which('7z'):
        run(['7z', 'a', '-bd', '-y', os.path.join(arch, 'seven.7z'), '.'], n1)
        # A 7z whose packed data are damaged in the middle (not solid, so the
        # damage hits one item and the rest extract).
        run(['7z', 'a', '-bd', '-y', '-ms=off', os.path.join(arch, 'seven-broken.7z'), '.'], n2)
        damage(os.path.join(arch, 'seven-broken.7z'))
        # Data and names encrypted, with the password the RAR one has too.
        run(['7z', 'a', '-bd', '-y', '-p' + PASSWORD, '-mhe=on', os.path.join(arch, 'locked-7z.7z'), '.'], n2)
        # A 7z cut into numbered pieces (parted.7z.001 ...), read as one set.
        run(['7z', 'a', '-bd', '-y', '-v60k', os.path.join(arch, 'parted.7z'), '.'], n1)
    if shutil.which('rar'):
        run(['rar', 'a', '-r', '-idq', '-y', os.path.join(arch, 'rarred.rar'), '*'], n2)
        run(['rar', 'a', '-r', '-idq', '-y', '-hp' + PASSWORD, os.path.join(arch, 'locked-rar.rar'), '*'], n2)
        shutil.copy(os.path.join(arch, 'rarred.rar'), os.path.join(arch, 'rar-broken.rar'))
        damage(os.path.join(arch, 'rar-broken.rar'))
        # A volume set: only its first part is listed, the rest follows.
        vol = os.path.join(src, 'volume')
        write(os.path.join(vol, 'spread.bin'), bytes(rng.getrandbits(8) for _ in range(90 * 1024)))
        run(['rar', 'a', '-m0', '-v40k', '-idq', '-y', os.path.join(arch, 'spread.rar'), '*'], vol)

    # The kinds of the engine's all-format library, made by Debian's tools.
    run(['tar', '-czf', os.path.join(arch, 'tarred.tar.gz')] + sorted(os.listdir(n1)), n1)
    run(['tar', '-cJf', os.path.join(arch, 'tarred2.tar.xz')] + sorted(os.listdir(n2)), n2)
    run(['xorriso', '-as', 'mkisofs', '-quiet', '-J', '-R', '-o', os.path.join(arch, 'disc.iso'), n2], scratch)
    run(['gcab', '-c', os.path.join(arch, 'driver.cab'), 'top.txt', 'x/sibling.dat', 'x/y/z/w.txt'], n2)
    single = os.path.join(src, 'single')
    write(os.path.join(single, 'notes.txt'), text_lines(rng, 400, 'notes'))
    run(['gzip', '-k', '-f', 'notes.txt'], single)
    shutil.move(os.path.join(single, 'notes.txt.gz'), os.path.join(arch, 'notes.txt.gz'))

    # Fifty archives for fifty starts at once, each to be extracted beside
    # itself: zip archives of "good", and, when the tools are there, 7z and
    # RAR archives whose one top folder has the archive's own name (which is
    # not nested again), holding the same files.
    burst = os.path.join(scratch, 'burst')
    os.makedirs(burst, exist_ok=True)
    stage = os.path.join(src, 'burst-stage')
    for i in range(50):
        name = 'burst-%02d' % i
        tool = '7z' if 40 <= i < 45 and shutil.which('7z') else 'rar' if i >= 45 and shutil.which('rar') else None
        if tool is None:
            shutil.copy(os.path.join(arch, 'good.zip'), os.path.join(burst, name + '.zip'))
            continue
        shutil.copytree(good, os.path.join(stage, name))
        if tool == '7z':
            run(['7z', 'a', '-bd', '-y', os.path.join(burst, name + '.7z'), name], stage)
        else:
            run(['rar', 'a', '-r', '-idq', '-y', os.path.join(burst, name + '.rar'), name], stage)

    # Names in many scripts, in archives whose own names are Cyrillic and
    # Japanese: Python's zipfile marks them UTF-8 (flag bit 11).
    uni = os.path.join(src, 'unicode')
    for name in UNICODE_NAMES:
        write(os.path.join(uni, name), ('the file ' + name + '\r\n').encode('utf-8'))
    with zipfile.ZipFile(os.path.join(arch, 'Фото 2024.zip'), 'w', zipfile.ZIP_DEFLATED) as z:
        for name in UNICODE_NAMES:
            z.write(os.path.join(uni, name), name)
    shutil.copy(os.path.join(arch, 'Фото 2024.zip'), os.path.join(arch, '日本の写真.zip'))

    drop = os.path.join(scratch, 'drop')
    os.makedirs(drop, exist_ok=True)
    shutil.copy(os.path.join(arch, 'nested1.zip'), os.path.join(drop, 'a.zip'))
    shutil.copy(os.path.join(arch, 'good.zip'), os.path.join(drop, 'b.zip'))
    shutil.copy(os.path.join(arch, 'after.zip'), os.path.join(drop, 'c.zip'))
    shutil.copy(os.path.join(arch, 'good.zip'), os.path.join(drop, 'UPPER.ZIP'))
    write(os.path.join(drop, 'notes.txt'), text_lines(rng, 60, 'note'))
    write(os.path.join(drop, 'd.rar'), b'Rar!\x1a\x07\x00' + bytes(100))
    write(os.path.join(drop, 'e.7z'), b"7z\xbc\xaf'\x1c" + bytes(2000))

    zipin = os.path.join(scratch, 'zipin')
    write(os.path.join(zipin, 'one.txt'), text_lines(rng, 100, 'one'))
    write(os.path.join(zipin, 'two.bin'), bytes(rng.getrandbits(8) for _ in range(70000)))
    write(os.path.join(zipin, 'three 3.txt'), text_lines(rng, 5, 'three'))
    write(os.path.join(zipin, 'empty.txt'), b'')


# ---------------------------------------------------------------- requests

class Host:
    def __init__(self, args):
        self.exchange = args.exchange
        self.shots = args.shots
        self.prefix = args.prefix
        self.xdnd = args.xdnd

    def unix_path(self, win):
        m = re.match(r'^([A-Za-z]):(.*)$', win)
        if not m:
            raise ValueError('not a Windows path: %r' % win)
        root = os.path.realpath(os.path.join(self.prefix, 'dosdevices', m.group(1).lower() + ':'))
        rest = m.group(2).replace('\\', '/').lstrip('/')
        return os.path.join(root, rest)

    def shot(self, name):
        name = re.sub(r'[^A-Za-z0-9_.-]', '_', name)
        path = os.path.join(self.shots, name + '.png')
        r = subprocess.run(['import', '-window', 'root', path], capture_output=True, text=True, timeout=20)
        if r.returncode != 0:
            return 'FAIL import: %s' % r.stderr.strip()
        return 'OK %s' % path

    def zipcheck(self, lines):
        archive = self.unix_path(lines[0])
        expected = []
        for line in lines[1:]:
            if not line:
                continue
            member, source = line.split('\t', 1)
            expected.append((member, self.unix_path(source)))
        problems = []
        r = subprocess.run(['unzip', '-tq', archive], capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            problems.append('unzip -t exit %d: %s' % (r.returncode, (r.stdout + r.stderr).strip()))
        try:
            with zipfile.ZipFile(archive) as z:
                names = [i.filename for i in z.infolist()]
                want = [m for m, _ in expected]
                if names != want:
                    problems.append('members %r, expected %r' % (names, want))
                bad = z.testzip()
                if bad is not None:
                    problems.append('zipfile: bad CRC or data in %s' % bad)
                for member, source in expected:
                    if member not in names:
                        continue
                    with open(source, 'rb') as f:
                        data = f.read()
                    got = z.read(member)
                    if got != data:
                        problems.append('%s: %d bytes in the archive differ from the %d bytes of %s'
                                        % (member, len(got), len(data), source))
        except (zipfile.BadZipFile, OSError, ValueError) as e:
            problems.append('zipfile: %s' % e)
        if problems:
            return 'FAIL\n' + '\n'.join(problems)
        return 'OK %d members' % len(expected)

    def drag(self, x, y, paths):
        if not os.path.exists(self.xdnd):
            return 'SKIP no XDND helper at %s' % self.xdnd
        cmd = [sys.executable, self.xdnd, '--x', str(x), '--y', str(y)] + [self.unix_path(p) for p in paths]
        try:
            r = subprocess.run(cmd, capture_output=True, text=True, timeout=15)
        except subprocess.TimeoutExpired:
            return 'FAIL the drag did not end within 15 s'
        out = (r.stdout + r.stderr).strip()
        if r.returncode == 0:
            return 'OK ' + out
        if r.returncode == 3:
            return 'SKIP ' + out
        return 'FAIL exit %d: %s' % (r.returncode, out)

    def handle(self, body):
        lines = body.replace('\r\n', '\n').split('\n')
        words = lines[0].split()
        if not words:
            return 'FAIL empty request'
        try:
            if words[0] == 'shot' and len(words) == 2:
                return self.shot(words[1])
            if words[0] == 'zipcheck':
                return self.zipcheck(lines[1:])
            if words[0] == 'xdnd' and len(words) == 3:
                return self.drag(int(words[1]), int(words[2]), [p for p in lines[1:] if p])
        except Exception as e:  # a broken request must not stop the helper
            return 'FAIL %s: %s' % (type(e).__name__, e)
        return 'FAIL unknown request %r' % lines[0]

    def serve(self):
        while True:
            for name in sorted(os.listdir(self.exchange)):
                if not name.endswith('.req'):
                    continue
                req = os.path.join(self.exchange, name)
                try:
                    with open(req, 'rb') as f:
                        body = f.read().decode('latin-1')
                except OSError:
                    continue
                reply = self.handle(body)
                base = req[:-4]
                with open(base + '.rep.tmp', 'wb') as f:
                    f.write(reply.encode('latin-1', 'replace'))
                os.replace(base + '.rep.tmp', base + '.rep')
                os.remove(req)
                print('%s -> %s' % (body.split('\n', 1)[0], reply.split('\n', 1)[0]), flush=True)
            time.sleep(0.05)


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest='cmd', required=True)
    f = sub.add_parser('fixtures')
    f.add_argument('scratch')
    s = sub.add_parser('serve')
    s.add_argument('--exchange', required=True)
    s.add_argument('--shots', required=True)
    s.add_argument('--prefix', required=True)
    s.add_argument('--xdnd', default=os.path.join(HERE, 'xdnd_drop.py'))
    args = p.parse_args()
    if args.cmd == 'fixtures':
        make_fixtures(args.scratch)
    else:
        Host(args).serve()


if __name__ == '__main__':
    main()
