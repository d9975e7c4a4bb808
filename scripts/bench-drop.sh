#!/usr/bin/env bash
# How long drops of many files take on the main window under Wine: 300
# archives, then 5,000 files.
#   scripts/bench-drop.sh [i686|x86_64]     (see bench-arch.sh for the default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/bench-arch.sh"
cmake --build "$build" --target drop_bench >/dev/null
"$root/cmake/wine-run.sh" "$build/bin/drop_bench.exe"
