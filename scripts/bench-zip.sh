#!/usr/bin/env bash
# The zip engine against 7-Zip's console program on the same Wine: a benchmark,
# not a test. Builds 7za.exe from Debian's 7zip source (Bundles/Alone, MinGW,
# cached outside the tree), makes a set of 2,000 files / 200,000,000 bytes
# (75 % text, 25 % random) and its zip (Info-ZIP, deflate), then times, median
# of 3 wall-clock runs under Wine (process start included for both programs):
#   - the Unzip of the set's zip: ZipCommandBench unzip vs 7za x
#   - the Zip of the first 200 and of all 2,000 files: ZipCommandBench zip vs
#     7za a -tzip -mx=6 -mmt=1, and for 2,000 also 7za with all its threads
# and prints the table with the ratios, Quarn's peak working set and its bytes
# written per archive byte; then zlib against libdeflate in memory on the set.
# 7za.exe is built for the architecture of the Quarn build being timed:
#   scripts/bench-zip.sh [i686|x86_64]     (see bench-arch.sh for the default)
# BENCH_RUNS changes the number of runs (default 3).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/bench-arch.sh"
bench=$build/bin/ZipCommandBench.exe
[ -f "$bench" ] || { echo "build the $bench_arch tree first (scripts/build.sh $bench_arch)" >&2; exit 1; }
work=${BENCH_DIR:-$build/bench-zip}
runs=${BENCH_RUNS:-3}
cache=${QUARN_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarn-bench}
mkdir -p "$work" "$cache"

# --- 7za.exe from the 7zip source package ------------------------------------
sevenza=$cache/7za-$bench_arch.exe
bench_build_7zip Bundles/Alone 7za.exe "$sevenza"

# --- the set ------------------------------------------------------------------
if [ ! -f "$work/set.done" ]; then
  rm -rf "$work/set" && mkdir -p "$work/set"
  python3 "$root/bench/make_set.py" "$work/set"
  (cd "$work/set" && find . -type f | sort | sed 's|^\./||') >"$work/files.txt"
  rm -f "$work/set.zip" && (cd "$work/set" && zip -q -r ../set.zip . -i '*')
  touch "$work/set.done"
fi
BASE="$(winpath "$work/set")" awk '{ gsub("/", "\\"); print ENVIRON["BASE"] "\\" $0 }' "$work/files.txt" >"$work/list-2000.txt"
head -n 200 "$work/list-2000.txt" >"$work/list-200.txt"
set_bytes() { head -n "$1" "$work/files.txt" | (cd "$work/set" && xargs stat -c %s) | awk '{ s += $1 } END { print s }'; }

# --- timing ------------------------------------------------------------------------
export QUARN_BUILD_DIR=$build
run_wine() { "$root/cmake/wine-run.sh" "$@"; }
# One Wine server for the whole benchmark: otherwise it shuts down between two
# runs (the output's removal takes longer than its idle wait) and each run
# pays for starting it and Wine's services again, which a program on Windows
# never does. Both programs run under this same server.
run_wine "$bench" >/dev/null 2>&1 || true  # the prefix made
export WINEPREFIX=$build/wineprefix-$bench_winearch
wineserver -k 2>/dev/null || true
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
run_wine "$bench" >/dev/null 2>&1 || true  # Wine's services up

bench_reset() { rm -rf "$work/out" "$work/out.zip"; }
field() { sed -E "s/.*$1 ([0-9.]+).*/\1/" "$work/last.txt" | tr -d '\r' | tail -n 1; }

printf '%-44s %9s %9s %7s %10s %9s\n' "operation" "Quarn s" "7za s" "ratio" "peak WS" "written/size"
row() {  # name quarn-seconds peer-seconds
  local ws written size
  ws=$(( $(field peak_ws) / 1048576 )); written=$(field written); size=$(field size)
  printf '%-44s %9s %9s %7s %7s MiB %9s\n' "$1" "$2" "$3" "$(python3 -c "print(f'{$2/$3:.2f}')")" "$ws" \
    "$4"
}

zipname=$(winpath "$work/set.zip")
outname=$(winpath "$work/out")
q=$(bench_median run_wine "$bench" unzip "$zipname" "$outname")
cp "$work/last.txt" "$work/quarn-unzip.txt"
p=$(bench_median run_wine "$sevenza" x -y -bso0 -bsp0 "$zipname" -o"$outname")
cp "$work/quarn-unzip.txt" "$work/last.txt"
row "Unzip of the set's zip ($(( $(stat -c %s "$work/set.zip") / 1000000 )) MB)" "$q" "$p" "-"

for n in 200 2000; do
  list=$(winpath "$work/list-$n.txt")
  target=$(winpath "$work/out.zip")
  q=$(bench_median run_wine "$bench" zip "$target" "$list")
  cp "$work/last.txt" "$work/quarn-zip.txt"
  p=$(bench_median run_wine "$sevenza" a -tzip -mx=6 -mmt=1 -bso0 -bsp0 "$target" "@$list")
  cp "$work/quarn-zip.txt" "$work/last.txt"
  ratio=$(python3 -c "print(f'{$(field written)/$(field size):.3f}')")
  row "Zip of $n files ($(( $(set_bytes $n) / 1000000 )) MB in) vs -mmt=1" "$q" "$p" "$ratio"
  if [ "$n" = 2000 ]; then
    p=$(bench_median run_wine "$sevenza" a -tzip -mx=6 -bso0 -bsp0 "$target" "@$list")
    cp "$work/quarn-zip.txt" "$work/last.txt"
    row "Zip of $n files vs 7za with all its threads" "$q" "$p" "$ratio"
  fi
done
rm -rf "$work/out" "$work/out.zip"

echo
echo "zlib against libdeflate, in memory, on the first 1000 files of the set ($bench_arch, Wine, one thread):"
run_wine "$bench" codecs "$(winpath "$work/list-2000.txt")" 1000 | tr -d '\r'
