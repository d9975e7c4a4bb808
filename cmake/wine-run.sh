#!/usr/bin/env bash
# Runs a Windows test executable under Wine, in a prefix that belongs to the
# build folder (created once, on first use). Used by ctest as the cross-compiling
# emulator. The prefix's architecture follows the executable's: win64 for a
# 64-bit program, win32 for a 32-bit one (see wine.sh, which picks the loader).
set -euo pipefail
exe=$1
# shellcheck source=wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"
build_dir=${QUARN_BUILD_DIR:-}
if [ -z "$build_dir" ]; then
  # The executables live in <build>/bin.
  build_dir=$(cd "$(dirname "$exe")/.." && pwd)
fi
arch=$(quarn_pe_arch "$exe")
[ -n "$arch" ] || { echo "wine-run.sh: $exe is not a Windows program" >&2; exit 126; }
if [ "$arch" = win32 ] && ! quarn_win32_runs; then
  echo "wine-run.sh: cannot run the 32-bit $exe: $(quarn_win32_why)" >&2
  exit 126
fi
export WINEPREFIX="$build_dir/wineprefix-$arch"
export WINEARCH=$arch
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.quarn-ready-2" ]; then
  mkdir -p "$build_dir"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.quarn-ready-2" ]; then
      wineboot -i >/dev/null 2>&1 || true
      # Without a window manager Wine waits on every window close otherwise.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
      # Tests make real windows but need no screen: Wine's null display driver.
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
      wineserver -w || true
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run.sh: cannot make the prefix $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.quarn-ready-2"
    fi
  ) 9>"$build_dir/.wineprefix-$arch.lock"
fi
# Wine's server, when this call starts it, inherits our stdout and stderr and
# keeps them open for a few seconds after the program exits, so a reader of a
# pipe (ctest) would wait that long for every test. The program's output goes
# through files instead.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
# A client that connects just as an idle server shuts down fails with "wine
# client error" before the program runs at all; such a start is tried again.
# So is an exit code 1 with no word on either stream: every program run here
# prints before it ends with 1, and under a loaded run Wine has now and then
# ended one so before its first line. Each such retry is logged, and test.sh
# shows the count.
for attempt in 1 2 3; do
  rc=0
  wine "$@" >"$out" 2>"$err" </dev/null || rc=$?
  if [ "$rc" -eq 0 ]; then break; fi
  if [ "$rc" -eq 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
    echo "$(date '+%F %T') $exe ended with 1 and printed nothing; started again" >>"$build_dir/wine-run-retries.log"
  elif ! grep -q '^wine client error' "$err"; then
    break
  fi
  sleep 1
done
cat "$out"
cat "$err" >&2
exit $rc
