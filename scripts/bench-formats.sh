#!/usr/bin/env bash
# Compressed tarballs extracted by Quarn against 7-Zip's console program on the
# same Wine and against native GNU tar (the floor): a benchmark, not a test.
#
#   scripts/bench-formats.sh [i686|x86_64]     (see bench-arch.sh for the default)
#
# Makes the benchmarks' set of 2,000 files / 200,000,000 bytes (bench/make_set.py)
# and its .tar.gz, .tar.xz and .tar.zst with GNU tar, builds 7z.exe (UI/Console
# of Debian's 7zip source, for the architecture timed, with the build's own
# 7z.dll beside it; cached outside the tree), then times, median of BENCH_RUNS
# (default 3) wall-clock runs with process start included:
#   - Quarn: unzip_tool (the Unzip walk, the tarball in one step) into a folder
#   - 7-Zip: 7z x -so archive | 7z x -si -ttar (its one-step form: the console
#     extracts a compressed tarball to the .tar otherwise)
#   - GNU tar -xf natively
# and prints the times, the ratios to 7-Zip and Quarn's peak working set.
# BENCH_LARGE=1 adds one run of Quarn on a .tar.zst holding 5 GiB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/bench-arch.sh"
# unzip_tool, and 7z.exe from the 7zip source package.
bench_unzip_setup bench-formats

# --- the set and its tarballs -------------------------------------------------
if [ ! -f "$work/set.done" ]; then
  rm -rf "$work/set" && mkdir -p "$work/set"
  python3 "$root/bench/make_set.py" "$work/set"
  (cd "$work/set" && tar -cf - d*) >"$work/set.tar"
  gzip -6 -c "$work/set.tar" >"$work/set.tar.gz"
  xz -6 -T1 -c "$work/set.tar" >"$work/set.tar.xz"
  zstd -q -3 -c "$work/set.tar" >"$work/set.tar.zst"
  rm -f "$work/set.tar"
  touch "$work/set.done"
fi

# --- timing --------------------------------------------------------------------
bench_wine_start

bench_reset() { rm -rf "$work/out" && mkdir -p "$work/out"; }
quarn() { wine "$tool" "$(winpath "$work/out")" "$(winpath "$1")"; }
sevenzip() {
  wine "$seven" x -so -bso0 -bsp0 "$(winpath "$1")" | wine "$seven" x -si -ttar -bso0 -bsp0 -y -o"$(winpath "$work/out")"
}
gnutar() { tar -xf "$1" -C "$work/out"; }
quarn "$work/set.tar.gz" >/dev/null 2>&1 || true  # Wine's services up

printf '%-22s %9s %9s %9s %12s %12s %12s\n' archive "Quarn s" "7z s" "tar s" "Quarn/7z" "Quarn/tar" "peak WS"
for ext in gz xz zst; do
  archive=$work/set.tar.$ext
  q=$(bench_median quarn "$archive")
  peak=$(sed -nE 's/^PEAK ([0-9]+).*/\1/p' "$work/last.txt" | tr -d '\r')
  # Quarn's output is the set itself, byte for byte.
  diff -rq "$work/set" "$work/out/set" >/dev/null || echo "Quarn's output of set.tar.$ext differs from the set" >&2
  p=$(bench_median sevenzip "$archive")
  t=$(bench_median gnutar "$archive")
  printf '%-22s %9s %9s %9s %12s %12s %8s MiB\n' "set.tar.$ext ($(( $(stat -c %s "$archive") / 1000000 )) MB)" \
    "$q" "$p" "$t" "$(python3 -c "print(f'{$q/$p:.2f}')")" "$(python3 -c "print(f'{$q/$t:.2f}')")" \
    "$(( peak / 1048576 ))"
done

# BENCH_LARGE=1: a .tar.zst of 5 GiB (a file mostly of zeros, with data at both
# ends) once, to show that Quarn's memory does not grow with the size.
if [ "${BENCH_LARGE:-0}" = 1 ]; then
  if [ ! -f "$work/big.tar.zst" ]; then
    rm -rf "$work/big" && mkdir -p "$work/big"
    head -c 1000000 /dev/urandom >"$work/big/big.bin"
    truncate -s $((5 << 30)) "$work/big/big.bin"
    head -c 1000000 /dev/urandom >>"$work/big/big.bin"
    tar --zstd -cf "$work/big.tar.zst" -C "$work/big" big.bin
  fi
  runs=1
  q=$(bench_median quarn "$work/big.tar.zst")
  peak=$(sed -nE 's/^PEAK ([0-9]+).*/\1/p' "$work/last.txt" | tr -d '\r')
  cmp -s "$work/big/big.bin" "$work/out/big/big.bin" || echo "Quarn's output of big.tar.zst differs" >&2
  printf '%-22s %9s %9s %9s %12s %12s %8s MiB\n' "big.tar.zst (5 GiB in)" "$q" - - - - "$(( peak / 1048576 ))"
fi
rm -rf "$work/out"
