#!/usr/bin/env bash
# Makes the 7z archives the sevenzip tests read, with the Linux 7-Zip tools,
# into the folder given as $1. QUARN_7Z_LARGE=1 also makes an archive larger
# than 4 GiB (needs ~9 GiB of free disk and a few minutes).
set -euo pipefail
out=$1
src_dir=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
cd "$out"
stamp=.fixtures-v8
if [ -f "$stamp" ] && { [ "${QUARN_7Z_LARGE:-0}" != 1 ] || [ -f large.7z ]; }; then
  exit 0
fi
find . -mindepth 1 -maxdepth 1 ! -name large.7z ! -name 'large-src' -exec rm -rf {} +

7zq() { 7zz "$@" -bso0 -bsp0 >/dev/null; }

# --- a tree with folders, non-ASCII names, an empty and a read-only file.
mkdir -p tree/dir/sub "tree/Ünïcødé 文件" tree/emptydir
printf 'alpha\n' > tree/dir/a.txt
printf 'beta beta\n' > tree/dir/sub/b.txt
printf 'non-ascii content \xe2\x9c\x93\n' > "tree/Ünïcødé 文件/файл.txt"
: > tree/empty.txt
printf 'read only\n' > tree/ro.txt
chmod 444 tree/ro.txt
find tree -exec touch -h -d '2020-05-06 07:08:10 UTC' {} +
(cd tree && 7zq a ../basic.7z dir "Ünïcødé 文件" emptydir empty.txt ro.txt)

# --- one data set packed with each method.
mkdir -p methods
python3 - <<'PY'
import random
r = random.Random(7)
words = [''.join(r.choice('abcdefghij') for _ in range(r.randint(2, 8))) for _ in range(300)]
for i in range(4):
    with open(f'methods/text{i}.txt', 'w') as f:
        f.write(' '.join(r.choice(words) for _ in range(20000 + i * 1000)))
with open('methods/random.bin', 'wb') as f:
    f.write(bytes(r.getrandbits(8) for _ in range(50000)))
PY
(cd methods &&
  7zq a ../m-lzma.7z -m0=LZMA -ms=off . &&
  7zq a ../m-lzma2.7z -m0=LZMA2 . &&
  7zq a ../m-ppmd.7z -m0=PPMd . &&
  7zq a ../m-bzip2.7z -m0=BZip2 . &&
  7zq a ../m-bcj.7z -m0=BCJ -m1=LZMA . &&
  7zq a ../m-solid.7z -ms=on -m0=LZMA2 . &&
  7zq a ../m-store.7z -mx0 .)

# --- encrypted: data only, and names too.
(cd methods && 7zq a ../enc.7z -pSecret1 text0.txt text1.txt && 7zq a ../enc-names.7z -pSecret1 -mhe=on text0.txt)
# A zip of a method Quarn's own zip engine leaves to the 7-Zip engine, under WinZip AES.
(cd methods && 7zq a -tzip -mm=BZip2 -mem=AES256 -pSecret1 ../enc-bzip2.zip text0.txt)

# --- damage: stored items (CRC error) and LZMA items (data error), not solid.
mkdir -p damage
python3 - <<'PY'
import random
r = random.Random(11)
open('damage/first.bin', 'wb').write(bytes(r.getrandbits(8) for _ in range(20000)))
open('damage/second.txt', 'w').write('second file is fine\n' * 100)
PY
(cd damage && 7zq a ../crc.7z -mx0 -ms=off first.bin second.txt &&
  7zq a ../data.7z -m0=LZMA -ms=off -mhc=off first.bin second.txt)
python3 - <<'PY'
def flip(name, offset):
    b = bytearray(open(name, 'rb').read())
    b[offset] ^= 0x55
    open(name, 'wb').write(b)
flip('crc.7z', 32 + 5000)   # inside first.bin's stored data
flip('data.7z', 32 + 7)     # near the start of first.bin's LZMA stream
PY

# --- collisions for ExtractNoPath, a 5-item selection set.
mkdir -p nopath/dir nopath/other sel
printf 'from dir\n' > nopath/dir/a.txt
printf 'from other\n' > nopath/other/a.txt
(cd nopath && 7zq a ../nopath.7z dir/a.txt other/a.txt)
for i in 0 1 2 3 4; do printf 'file %s\n' $i > sel/f$i.txt; done
(cd sel && 7zq a ../sel.7z -ms=off f0.txt f1.txt f2.txt f3.txt f4.txt)

# --- numbered volumes (incompressible data so that several parts are made),
# and a copy with its middle part moved away.
python3 -c "
import random; r = random.Random(3)
open('volume-data.bin','wb').write(bytes(r.getrandbits(8) for _ in range(100000)))"
7zq a vol.7z -mx0 -v30k volume-data.bin
mkdir -p gap moved
cp vol.7z.* gap/
mv gap/vol.7z.002 moved/vol.7z.002
# The same data in an Info-ZIP spanned zip: spanned.z01 and spanned.zip.
zip -q -s 64k spanned.zip volume-data.bin

# --- self-extracting: a small stub (7z data within the searched window), a
# big one (found through the section table), and an .exe without 7z data.
cc=i686-w64-mingw32-gcc
$cc -O1 -s -DSTUB_PAD=70000 -o stub-small.exe "$src_dir/SfxStub.c"
$cc -O1 -s -DSTUB_PAD=200000 -o stub-big.exe "$src_dir/SfxStub.c"
cat stub-small.exe basic.7z > sfx-small.exe
cat stub-big.exe basic.7z > sfx-big.exe
cp stub-small.exe plain.exe

# --- a few bytes whose header asks for a 512 MiB dictionary: what decoding
# them takes of the address space is told by the header alone.
printf 'a few bytes behind a big dictionary\n' | xz --lzma2=dict=512MiB > dict512.xz

# --- hostile item names: "..", absolute and drive paths.
mkdir -p hostile/a/b hostile/evil
printf 'evil\n' > hostile/evil/e.txt
printf 'drive\n' > hostile/evil/XXXXXXXXXXXX
(cd hostile/a/b && 7zq a -spf -mhc=off ../../../hostile.7z ../../evil/e.txt "$PWD/../../evil/e.txt" ../../evil/XXXXXXXXXXXX)
python3 - <<'PY'
# Renames ../../evil/XXXXXXXXXXXX (in the uncompressed header) to a drive path,
# then fixes the header checksums.
import struct, zlib
b = bytearray(open('hostile.7z', 'rb').read())
old = '../../evil/XXXXXXXXXXXX'.encode('utf-16-le')
new = 'C:/x/../../evil/dr.tttt'.encode('utf-16-le')
i = b.index(old)
b[i:i + len(old)] = new
off, size = struct.unpack_from('<QQ', b, 12)
hdr = b[32 + off:32 + off + size]
struct.pack_into('<I', b, 28, zlib.crc32(hdr))
struct.pack_into('<I', b, 8, zlib.crc32(b[12:32]))
open('hostile.7z', 'wb').write(b)
PY

# --- names Windows reserves for devices or does not allow, as Unix tools store them.
mkdir -p names/sub
for n in aux.txt sub/COM1.log NUL 'what?.txt' ok.txt; do printf '%s\n' "$n" > "names/$n"; done
(cd names && 7zq a ../names.7z aux.txt sub/COM1.log NUL 'what?.txt' ok.txt)

# --- a small item, then a big one (32 MiB) whose extraction can be stopped half-way.
mkdir -p big
printf 'finished before the big one\n' > big/a-first.txt
python3 -c "
import random; block = random.Random(5).randbytes(65536)
open('big/big.bin', 'wb').write(block * 512)"
(cd big && 7zq a ../big.7z -mx1 -ms=off a-first.txt big.bin)

# --- names from many scripts (one with a combining accent), and a member
# whose output path is longer than 260 characters, in an archive whose own
# path holds such names too.
python3 - <<'PY'
import os, subprocess
names = ['caf\u00e9.txt', '\u0424\u043e\u0442\u043e/\u0441\u043d\u0438\u043c\u043e\u043a.txt',
         '\u65e5\u672c\u8a9e.txt', '\u4e2d\u6587.txt', '\u05e2\u05d1\u05e8\u05d9\u05ea.txt',
         'emoji_\U0001f600.txt', '\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt',
         'e\u0301cole.txt', 'long/' + 'd' * 120 + '/' + 'f' * 120 + '.txt']
for n in names:
    path = os.path.join('unicode', n)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'w', encoding='utf-8').write('content of ' + n + '\n')
folder = 'names-\u00e9t\u00e9 \u65e5\u672c \U0001f600'
os.makedirs(folder, exist_ok=True)
subprocess.run(['7zz', 'a', '-bso0', '-bsp0', os.path.join('..', folder, '\u0430\u0440\u0445\u0438\u0432 \u4e2d\u6587.7z'), '.'],
               cwd='unicode', check=True, stdout=subprocess.DEVNULL)
PY

# --- an archive larger than 4 GiB: a 4.1 GiB zero file, stored, then a small file.
if [ "${QUARN_7Z_LARGE:-0}" = 1 ] && [ ! -f large.7z ]; then
  avail=$(df -Pk . | awk 'NR==2 {print $4}')
  if [ "$avail" -gt $((10 * 1024 * 1024)) ]; then
    mkdir -p large-src
    truncate -s 4400000000 large-src/zero.bin
    printf 'after the 4 GiB mark\n' > large-src/tail.txt
    (cd large-src && 7zq a ../large.7z -mx0 -ms=off zero.bin tail.txt)
    rm -rf large-src
  else
    echo "not enough disk for large.7z" >&2
  fi
fi
touch "$stamp"
