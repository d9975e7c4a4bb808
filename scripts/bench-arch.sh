# Sourced by the benchmarks that time a Windows build under Wine: which build.
#   scripts/bench-<name>.sh [i686|x86_64]
# Without an argument: i686 where this host runs 32-bit Windows programs,
# x86_64 where it does not (cmake/wine.sh decides). Sets bench_arch,
# bench_triplet (the MinGW compilers' prefix), bench_winearch and build (the
# build tree), and ends the script when the build cannot run here.
# shellcheck source=../cmake/wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/wine.sh"
bench_arch=${1:-}
if [ -z "$bench_arch" ]; then
  if quarn_win32_runs; then bench_arch=i686; else bench_arch=x86_64; fi
fi
case "$bench_arch" in
  i686) bench_triplet=i686-w64-mingw32 bench_winearch=win32 ;;
  x86_64) bench_triplet=x86_64-w64-mingw32 bench_winearch=win64 ;;
  *) echo "usage: $0 [i686|x86_64]" >&2; exit 2 ;;
esac
if [ "$bench_arch" = i686 ] && ! quarn_win32_runs; then
  echo "the i686 build cannot run here: $(quarn_win32_why)" >&2
  exit 1
fi
build=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/$bench_arch
[ -d "$build" ] || { echo "build the $bench_arch tree first (scripts/build.sh $bench_arch)" >&2; exit 1; }
echo "timing the $bench_arch build ($build)" >&2
