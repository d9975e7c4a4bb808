#!/usr/bin/env bash
# Installs what is missing, builds Quarn for 32-bit Windows and starts it under Wine.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
scripts/build.sh i686
exe=build/i686/bin/quarn.exe
if [ ! -f "$exe" ]; then
  echo "Built the zip engine, its tests and the engine DLLs (build/i686/bin)."
  echo "The Quarn window comes with the application shell, which is not built yet; run ./test.sh for the tests."
  exit 0
fi
export WINEPREFIX="${WINEPREFIX:-$PWD/build/i686/wineprefix-run}" WINEARCH=win32 WINEDEBUG=-all
exec wine "$exe"
