#!/usr/bin/env bash
# How long drops of many files take on the main window under Wine: 300
# archives, then 5,000 files. Needs the i686 build (build/i686).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$root/build/i686" --target drop_bench >/dev/null
"$root/cmake/wine-run.sh" "$root/build/i686/bin/drop_bench.exe"
