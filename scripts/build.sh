#!/usr/bin/env bash
# Configures and builds one of Quarn's build trees under build/:
#   scripts/build.sh i686     Windows 32-bit, engine DLLs beside the exes
#   scripts/build.sh x86_64   Windows 64-bit, its own (64-bit) engine DLLs beside the exes
#   scripts/build.sh native   Linux build of the zip engine with ASan+UBSan and the fuzz target
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-i686}
jobs=$(nproc 2>/dev/null || echo 2)
case "$kind" in
  i686|x86_64)
    args=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$kind.cmake")
    engines=$(scripts/build-engines.sh "$kind" | tail -n 1)
    args+=(-DQUARN_ENGINE_DIR="$engines")
    ;;
  native)
    args=(-DQUARN_NATIVE=ON -DQUARN_SANITIZE=ON -DQUARN_FUZZ=ON
          -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug)
    ;;
  *) echo "usage: $0 i686|x86_64|native" >&2; exit 2 ;;
esac
# The compilers' output is kept between builds and between clones of the
# tree (ccache, paths taken relative to the tree): a new clone of a tree built
# before compiles only what changed.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
fi
cmake -S . -B "build/$kind" "${args[@]}" >/dev/null
cmake --build "build/$kind" -j"$jobs"
