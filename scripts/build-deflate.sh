#!/usr/bin/env bash
# Builds libdeflate (the fast deflate/inflate/CRC-32 library the zip engine
# uses) from Debian's source package, as a static library for one build kind:
#   scripts/build-deflate.sh i686|x86_64|native
#
# The source (apt-get source libdeflate, MIT licence) and the builds live in
# ${QUARN_DEFLATE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarn-deflate}, never
# in the source tree: <cache>/<kind>/ holds lib/libdeflate.a, include/libdeflate.h
# and COPYING. A stamp of the source version, the compiler and this script
# skips the build when nothing changed. Progress goes to stderr; the last line
# on stdout is the output folder.
set -euo pipefail
exec 3>&1 1>&2
die() { echo "build-deflate: error: $*" >&2; exit 1; }

kind=${1:-}
case "$kind" in
  i686|x86_64) cc=$kind-w64-mingw32-gcc; ar=$kind-w64-mingw32-ar ;;
  native) cc=${CC:-cc}; ar=ar ;;
  *) die "usage: $0 i686|x86_64|native" ;;
esac
command -v "$cc" >/dev/null || die "'$cc' not found; run scripts/install-deps.sh"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
repo=$(cd "$here/.." && pwd -P)
cache=${QUARN_DEFLATE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarn-deflate}
cache=$(realpath -m -- "$cache")
case "$cache/" in "$repo"/*) die "the cache ($cache) must be outside the source tree" ;; esac
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

# The source package, fetched once (apt-get source needs the deb-src entry
# that scripts/install-deps.sh adds).
src=$(ls -d "$cache"/src/libdeflate-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  rm -rf "$cache/src.new" && mkdir -p "$cache/src.new"
  (cd "$cache/src.new" && apt-get source --only-source libdeflate >"$cache/apt.log" 2>&1) ||
    die "apt-get source libdeflate failed (see $cache/apt.log)"
  rm -rf "$cache/src" && mv "$cache/src.new" "$cache/src"
  src=$(ls -d "$cache"/src/libdeflate-*/ | head -n 1)
fi
src=${src%/}

out=$cache/$kind
stamp="$(basename "$src") $("$cc" --version | head -n 1) $(sha256sum <"$here/build-deflate.sh" | cut -c1-16)"
if [ -f "$out/lib/libdeflate.a" ] && [ "$(cat "$out/stamp" 2>/dev/null)" = "$stamp" ]; then
  echo "$out" >&3
  exit 0
fi

echo "build-deflate: building $(basename "$src") for $kind"
work=$cache/build-$kind
rm -rf "$work" "$out" && mkdir -p "$work" "$out/lib" "$out/include"
flags=(-O2 -fno-strict-aliasing -I"$src")
[ "$kind" = native ] && flags+=(-fPIC)
pids=()
for f in "$src"/lib/*.c "$src"/lib/x86/*.c; do
  "$cc" "${flags[@]}" -c "$f" -o "$work/$(basename "$f" .c).o" &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
for p in "${pids[@]}"; do wait "$p"; done
"$ar" rcs "$out/lib/libdeflate.a" "$work"/*.o
cp "$src/libdeflate.h" "$out/include/"
cp "$src/COPYING" "$out/COPYING"
rm -rf "$work"
echo "$stamp" >"$out/stamp"
echo "$out" >&3
