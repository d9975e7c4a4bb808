#!/usr/bin/env bash
# Installs what is missing, builds Quarn and starts it under Wine, with the
# engine DLLs beside the exe: the 32-bit Quarn where this host runs 32-bit
# Windows programs, the 64-bit one where it does not (QUARN_64_ONLY=1 asks for
# the 64-bit one anywhere). Without a display, Quarn starts on a virtual one and
# a screenshot of its window is saved instead.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# shellcheck source=cmake/wine.sh
source cmake/wine.sh
if quarn_win32_runs; then
  arch=i686 winearch=win32 what="the 32-bit Quarn"
else
  arch=x86_64 winearch=win64 what="the 64-bit Quarn ($(quarn_win32_why))"
fi
scripts/build.sh "$arch"
exe=$PWD/build/$arch/bin/quarn.exe
export WINEPREFIX="${WINEPREFIX:-$PWD/build/$arch/wineprefix-run}" WINEARCH=$winearch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.quarn-run-ready" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  touch "$WINEPREFIX/.quarn-run-ready"
fi
# With a window manager (a real display) it decorates Wine's windows; on the
# virtual screen there is none, so Wine draws title bars itself.
managed() { wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$1" /f >/dev/null 2>&1 || true; }
if [ -n "${DISPLAY:-}" ]; then
  managed Y
  echo "Starting $what: $exe"
  exec "$quarn_wine_self" "$exe"
fi

# No display: a virtual one, a few seconds of Quarn, and a picture of it.
shot=$PWD/build/quarn-window.png
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$PWD/build/.xvfb-display" &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$PWD/build/.xvfb-display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$PWD/build/.xvfb-display")"
managed N
echo "Starting $what on a virtual screen: $exe"
"$quarn_wine_self" "$exe" &
# The picture is taken once the window shows (and has had a moment to paint).
/usr/bin/python3 scripts/wait-window.py "Quarn 1.00" 120
sleep 0.5
import -window root "$shot"
echo "No display here: $what ran on a virtual screen; its picture is in $shot"
