#!/usr/bin/env bash
# Runs the zip readers' libFuzzer target for a fixed time, seeded with small
# archives made here by Info-ZIP zip and Python's zipfile (also streamed, so
# members carry data descriptors; encrypted; with UTF-8 names and a Unicode
# Path field; with zip64 records).
# Usage: run-fuzzer.sh <native-build-dir> <seconds> [more libFuzzer options]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
shift 2 || true
corpus="$build/fuzz-corpus"
seeds="$build/fuzz-seeds"
mkdir -p "$corpus" "$seeds"
if [ -z "$(ls -A "$seeds")" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/d/sub"
  printf 'hello hello hello hello\n' >"$work/d/a.txt"
  printf '' >"$work/d/empty"
  head -c 300 /dev/urandom >"$work/d/sub/r.bin"
  (cd "$work/d" && zip -qr "$seeds/infozip.zip" . && zip -qr0 "$seeds/stored.zip" . &&
     zip -qr - . | cat >"$seeds/streamed.zip" && zip -qr -P secret "$seeds/encrypted.zip" .)
  python3 - "$work/d" "$seeds" <<'PY'
import io, os, sys, zipfile, zlib
src, out = sys.argv[1], sys.argv[2]
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(os.path.join(out, "py-stream.zip"), "wb") as raw:
    with zipfile.ZipFile(Unseekable(raw), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("x.txt", "some text " * 20)
        z.writestr("y/", "")
with zipfile.ZipFile(os.path.join(out, "py.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = b"archive comment"
    z.writestr("m.txt", "member")
    z.writestr("café/ünï.txt", "utf-8 name")
    legacy = zipfile.ZipInfo("cafe.txt")  # an ASCII name with a Unicode Path field
    legacy.extra = b"\x75\x70\x0e\x00\x01" + zlib.crc32(b"cafe.txt").to_bytes(4, "little") + "café.txt".encode()
    z.writestr(legacy, "unicode path")
with zipfile.ZipFile(os.path.join(out, "py-zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("z.txt", "w", force_zip64=True) as m:
        m.write(b"zip64 member " * 10)
PY
fi
"$build/bin/zip_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 -artifact_prefix="$build/" \
  -timeout=20 -print_final_stats=1 "$@" "$corpus" "$seeds"
