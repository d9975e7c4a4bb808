#!/usr/bin/env bash
# Extraction speed of TSevenZip under Wine against the native `7z x`, on a
# ~200 MB 7z archive made here. Needs a Windows build with its 7za.dll:
#   scripts/bench-7z.sh [i686|x86_64]     (see bench-arch.sh for the default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/bench-arch.sh"
work=${BENCH_DIR:-$build/bench-7z}
mkdir -p "$work"
cd "$work"
# With the program's code page (UTF-8) in its manifest, as quarn.exe has it.
"$bench_triplet-windres" -I"$root/tests/res" "$root/tests/res/utf8.rc" -O coff -o "$work/utf8.res"
"$bench_triplet-g++-posix" -std=c++17 -O2 -municode -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
  -I"$root/sevenzip" -I"$root/common" "$root/bench/SevenZipBench.cpp" \
  "$build/sevenzip/libquarn_sevenzip.a" "$build/common/libquarn_common.a" \
  "$work/utf8.res" -static -static-libgcc -static-libstdc++ -lcomdlg32 -lole32 -loleaut32 -luuid -o "$build/bin/SevenZipBench.exe"
if [ ! -f bench.7z ]; then
  rm -rf data && mkdir data
  # ~200 MB of moderately compressible data in 20 files.
  python3 - <<'PY'
import random
r = random.Random(1)
words = [bytes(r.choice(b'abcdefghijklmnop') for _ in range(r.randint(3, 9))) for _ in range(5000)]
for i in range(20):
    with open(f'data/part{i:02}.txt', 'wb') as f:
        n = 0
        while n < 10_000_000:
            chunk = b' '.join(r.choice(words) for _ in range(2000)) + bytes(r.getrandbits(8) for _ in range(2000))
            f.write(chunk); n += len(chunk)
PY
  7zz a -bso0 -bsp0 -mx1 bench.7z data >/dev/null
  rm -rf data
fi
ls -l bench.7z
rm -rf out-native out-wine
s=$(date +%s%N); 7z x -bso0 -bsp0 -oout-native bench.7z >/dev/null; e=$(date +%s%N)
native=$(( (e - s) / 1000000 ))
"$root/cmake/wine-run.sh" "$build/bin/SevenZipBench.exe" 'Z:'"$work"'/bench.7z' 'Z:'"$work"'/out-wine' > wine.txt
wine_ms=$(tr -d '\r' < wine.txt)
diff -r out-native out-wine >/dev/null && echo "outputs identical" || echo "OUTPUTS DIFFER"
echo "native 7z x: ${native} ms"
echo "TSevenZip under Wine ($bench_arch): ${wine_ms} ms"
python3 -c "print(f'ratio (Wine/native): {${wine_ms}/max(${native},1):.2f}')"
rm -rf out-native out-wine
