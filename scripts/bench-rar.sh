#!/usr/bin/env bash
# Extraction of a ~200 MB RAR archive: TUnRar (under Wine, with the project's
# unrar.dll of the same architecture) against the Linux `rar x`. Prints both
# times and the ratio.
#   scripts/bench-rar.sh [i686|x86_64]     (see bench-arch.sh for the default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source "$root/scripts/bench-arch.sh"
work=${QUARN_BENCH_DIR:-$root/build/bench-rar}
cmake --build "$build" --target quarn_rar >/dev/null
mkdir -p "$work"
# With the program's code page (UTF-8) in its manifest, as quarn.exe has it.
"$bench_triplet-windres" -I"$root/tests/res" "$root/tests/res/utf8.rc" -O coff -o "$work/utf8.res"
"$bench_triplet-g++-posix" -std=c++17 -O2 -DWIN32_LEAN_AND_MEAN -I"$root/rar" -I"$root/common" \
  "$root/bench/RarBench.cpp" "$build/rar/libquarn_rar.a" "$build/common/libquarn_common.a" \
  "$work/utf8.res" -luser32 -lgdi32 -static -static-libgcc -static-libstdc++ -o "$build/bin/rar_bench.exe"

# Source data: half compressible text, half pseudo-random bytes.
if [ ! -f "$work/bench.rar" ]; then
  rm -rf "$work/src" && mkdir -p "$work/src"
  python3 - "$work/src" <<'PY'
import os, sys, random
d = sys.argv[1]
rnd = random.Random(1)
with open(os.path.join(d, "random.bin"), "wb") as f:
    for _ in range(100):
        f.write(rnd.randbytes(1 << 20))
line = b"Quarn extrait des archives RAR pour mesurer la vitesse. 0123456789\n"
with open(os.path.join(d, "text.txt"), "wb") as f:
    for i in range(100):
        f.write(line * ((1 << 20) // len(line)))
PY
  (cd "$work/src" && rar a -m3 -idq "$work/bench.rar" random.bin text.txt)
fi

rm -rf "$work/native" && mkdir -p "$work/native"
start=$(date +%s.%N)
(cd "$work/native" && rar x -idq -o+ "$work/bench.rar")
native=$(echo "$(date +%s.%N) - $start" | bc)

rm -rf "$work/wine" && mkdir -p "$work/wine"
quarn=$("$root/cmake/wine-run.sh" "$build/bin/rar_bench.exe" "Z:$work/bench.rar" "Z:$work/wine" | tr -d '\r')
cmp "$work/native/random.bin" "$work/wine/random.bin"
cmp "$work/native/text.txt" "$work/wine/text.txt"

printf 'archive: %s (%s bytes)\n' "$work/bench.rar" "$(stat -c %s "$work/bench.rar")"
printf 'rar x (Linux):          %.3f s\n' "$native"
printf 'TUnRar (Wine, %s):  %.3f s\n' "$bench_arch" "$quarn"
printf 'ratio TUnRar / rar x:   %.2f\n' "$(echo "$quarn / $native" | bc -l)"
