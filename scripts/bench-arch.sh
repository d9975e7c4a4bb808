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

# bench_median <command...>: wall seconds, the median of $runs runs of the
# command (process start included), each after bench_reset (the script's own:
# what a run must not find) and a sync, so that no run pays for the one before;
# the last run's output is in $work/last.txt.
bench_median() {
  local times=() t0 t1
  for _ in $(seq "$runs"); do
    bench_reset
    sync
    t0=$(date +%s%N)
    "$@" >"$work/last.txt" 2>&1 || { cat "$work/last.txt" >&2; return 1; }
    t1=$(date +%s%N)
    times+=("$(( (t1 - t0) / 1000000 ))")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "%.2f", a[int((NR + 1) / 2)] / 1000 }'
}

# For the benchmarks that drive the Unzip walk (unzip_tool) against 7-Zip's
# console: sets tool, runs (BENCH_RUNS, default 3), work (BENCH_DIR, default
# $build/<Name>), cache, and seven, 7z.exe built for the architecture timed
# with the build's own 7z.dll beside it (the same engine as Quarn's).
bench_unzip_setup() {  # name
  tool=$build/bin/unzip_tool.exe
  [ -f "$tool" ] || { echo "build the $bench_arch tree first (scripts/build.sh $bench_arch)" >&2; exit 1; }
  runs=${BENCH_RUNS:-3}
  work=${BENCH_DIR:-$build/$1}
  cache=${QUARN_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarn-bench}
  mkdir -p "$work" "$cache"
  seven=$cache/7z-$bench_arch/7z.exe
  bench_build_7zip UI/Console 7z.exe "$seven"
  cp "$build/bin/7z.dll" "$(dirname "$seven")/7z.dll"
}

# A path as the Windows programs take it.
winpath() { echo "Z:${1//\//\\}"; }

# After the archives are made: the build's Wine prefix (made on first use) and
# one Wine server for every run, as on Windows nothing starts it anew; the
# server ends with the script.
bench_wine_start() {
  export WINEPREFIX=$build/wineprefix-$bench_winearch WINEARCH=$bench_winearch WINEDEBUG=-all
  "$root/cmake/wine-run.sh" "$tool" >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
}

# Builds a program of 7-Zip (its makefile.gcc in CPP/7zip/<Folder> of Debian's
# 7zip source) for the architecture timed, into Output, unless it is there.
bench_build_7zip() {  # folder program output
  local folder=$1 program=$2 output=$3 cache src arch_flags
  [ -f "$output" ] && return 0
  cache=${QUARN_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarn-bench}
  src=$(ls -d "${QUARN_ENGINE_CACHE:-$HOME/.cache/quarn-engines}"/src/7zip_*/tree 2>/dev/null | head -n 1 || true)
  if [ -z "$src" ]; then
    rm -rf "$cache/src" && mkdir -p "$cache/src"
    (cd "$cache/src" && apt-get source --only-source 7zip >/dev/null)
    src=$(ls -d "$cache"/src/7zip-*/ | head -n 1)
  fi
  rm -rf "$cache/7zip" && cp -r "$src" "$cache/7zip"
  echo "building $program for $bench_arch (a minute or two)" >&2
  if [ "$bench_arch" = i686 ]; then arch_flags=(LDFLAGS_STATIC_3=-Wl,--enable-stdcall-fixup); else arch_flags=(IS_X64=1); fi
  make -C "$cache/7zip/CPP/7zip/$folder" -f makefile.gcc -j2 IS_MINGW=1 MSYSTEM=1 O="$cache/7zip-obj" \
    CC="$bench_triplet-gcc" CXX="$bench_triplet-g++" RC="$bench_triplet-windres" \
    "${arch_flags[@]}" >"$cache/$program-build.log" 2>&1
  mkdir -p "$(dirname "$output")"
  "$bench_triplet-strip" -o "$output" "$cache/7zip-obj/$program"
  rm -rf "$cache/7zip" "$cache/7zip-obj"
}

# Builds UnRAR's console program (the sources UnRAR.vcxproj lists in Debian's
# unrar-nonfree source, with the forwarding headers the library's build uses)
# for the architecture timed, into Output, unless it is there.
bench_build_unrar() {  # output
  local output=$1 src objs f
  [ -f "$output" ] && return 0
  src=$(ls -d "${QUARN_ENGINE_CACHE:-$HOME/.cache/quarn-engines}"/src/unrar-nonfree_*/tree 2>/dev/null | head -n 1 || true)
  [ -n "$src" ] || { echo "no UnRAR source in the engine cache: run scripts/build-engines.sh $bench_arch" >&2; return 1; }
  objs=$(mktemp -d)
  echo "building unrar.exe for $bench_arch (a minute or so)" >&2
  for f in $(grep -o 'ClCompile Include="[^"]*"' "$src/UnRAR.vcxproj" | sed 's/.*="//; s/"//' | grep -v rarpch); do
    echo "$f"
  done | xargs -P2 -I{} sh -c '"$0" -O2 -DUNRAR -I"$1" -w -c -o "$2/$(basename {} .cpp).o" "$3/{}"' \
    "$bench_triplet-g++-posix" "$(dirname "${BASH_SOURCE[0]}")/engines/unrar/include" "$objs" "$src"
  "$bench_triplet-g++-posix" -O2 -c -o "$objs/comsupp.o" "$(dirname "${BASH_SOURCE[0]}")/engines/unrar/comsupp.cpp"
  mkdir -p "$(dirname "$output")"
  "$bench_triplet-g++-posix" -static -s -o "$output" "$objs"/*.o -lshlwapi -lpowrprof -lwbemuuid -lole32 -loleaut32 \
    -luuid -ladvapi32 -luser32
  rm -rf "$objs"
}
