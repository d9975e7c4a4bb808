#!/usr/bin/env bash
# Quarn's end-to-end run: the real quarn.exe under Wine on a private X server
# (Xvfb), in a fresh Wine prefix of its own, worked from a second Win32 process
# (quarn_e2e_driver.exe) as a user would.
#
#   tests/e2e/run-e2e.sh <build-dir>          e.g. tests/e2e/run-e2e.sh build/i686
#
# Prints one line per case and ends with "N passed, N failed"; exits non-zero
# when a case failed. Everything the run makes is in <build-dir>/e2e (made anew
# each run): the prefix, the scratch files, logs, and screenshots of failed
# cases in screenshots/<case>.png.
#
# QUARN_E2E_KINDS   archive kinds this build extracts (default "zip"; "zip,7z,rar"
#                   turns on the 7z and RAR cases)
# QUARN_E2E_ONLY    comma-separated case names: run only those
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ]; then
  echo "usage: $0 <build-dir>" >&2
  exit 2
fi
build=$(cd "$1" 2>/dev/null && pwd) || { echo "e2e: no build folder $1" >&2; echo "0 passed, 1 failed"; exit 1; }
exe=$build/bin/quarn.exe
driver=$build/bin/quarn_e2e_driver.exe
e2e=$build/e2e
# Debian's python, which has python3-xlib (a python earlier on PATH may not).
py=/usr/bin/python3
kinds=${QUARN_E2E_KINDS:-zip,7z,rar}
only=${QUARN_E2E_ONLY:-}

give_up() {
  echo "e2e: $1" >&2
  echo "0 passed, 1 failed"
  exit 1
}

[ -f "$exe" ] || give_up "no $exe"
[ -f "$driver" ] || give_up "no $driver (build the quarn_e2e_driver target)"
for tool in wine wineboot wineserver Xvfb import zip unzip "$py"; do
  command -v "$tool" >/dev/null 2>&1 || give_up "$tool is not installed"
done
"$py" -c 'import Xlib' 2>/dev/null || give_up "python3-xlib is not installed"

# A Windows path of the prefix's Z: drive (the whole Unix file system).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

started=$SECONDS
# A Wine server left from an earlier run of this prefix goes before its files.
[ -d "$e2e/prefix" ] && WINEPREFIX=$e2e/prefix wineserver -k >/dev/null 2>&1
rm -rf "$e2e"
mkdir -p "$e2e/scratch" "$e2e/exchange" "$e2e/screenshots" "$e2e/home/Desktop"

# Wine links the prefix's desktop folder to $HOME/Desktop: keep it in the run's folder.
export HOME=$e2e/home XDG_CONFIG_HOME=$e2e/home/.config
export WINEPREFIX=$e2e/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINESERVER WINELOADER

xvfb_pid=
host_pid=
driver_pid=
cleanup() {
  [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$py" "$here/e2e_host.py" fixtures "$e2e/scratch" >"$e2e/fixtures.log" 2>&1 ||
  { cat "$e2e/fixtures.log" >&2; give_up "cannot make the fixtures"; }

# The X server tells its display number on the descriptor once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$e2e/display" >"$e2e/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$e2e/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
display=$(head -n 1 "$e2e/display" 2>/dev/null)
[ -n "$display" ] || { cat "$e2e/xvfb.log" >&2; give_up "Xvfb did not start"; }
export DISPLAY=:$display

# A fresh prefix (clean HKCU). Without a window manager Wine would wait on every
# window close unless its windows are unmanaged.
timeout 120 wineboot -i >"$e2e/wineboot.log" 2>&1 || give_up "wineboot failed (see $e2e/wineboot.log)"
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$e2e/wineboot.log" 2>&1 ||
  give_up "cannot set up the Wine prefix (see $e2e/wineboot.log)"
echo "e2e: prefix ready on display :$display after $((SECONDS - started)) s"

"$py" "$here/e2e_host.py" serve --exchange "$e2e/exchange" --shots "$e2e/screenshots" \
  --prefix "$WINEPREFIX" --xdnd "$here/xdnd_drop.py" >"$e2e/host.log" 2>&1 &
host_pid=$!

args=("$(winpath "$exe")" "$(winpath "$e2e/scratch")" "--exchange=$(winpath "$e2e/exchange")" "--kinds=$kinds")
[ -n "$only" ] && args+=("--only=$only")
# The driver's output goes through a file: Wine's server would otherwise keep a
# pipe open after the driver ended.
: >"$e2e/driver.log"
timeout 170 wine "$driver" "${args[@]}" >"$e2e/driver.log" 2>"$e2e/driver.err" </dev/null &
driver_pid=$!
# Live case lines; the closing count comes last, after the run's own notes.
tail -n +1 -f --pid="$driver_pid" "$e2e/driver.log" | grep --line-buffered -Ev '^[0-9]+ passed, [0-9]+ failed$'
wait "$driver_pid"
rc=$?
driver_pid=

last=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$e2e/driver.log" | tail -n 1)
if ! [[ $last =~ ^[0-9]+\ passed,\ [0-9]+\ failed$ ]]; then
  # The driver did not finish (crash or overall timeout): count what it reported.
  [ "$rc" -eq 124 ] && echo "e2e: the driver was stopped after 170 s"
  tail -n 20 "$e2e/driver.err" >&2
  p=$(grep -c '^PASS ' "$e2e/driver.log")
  f=$(grep -c '^FAIL ' "$e2e/driver.log")
  echo "e2e: the driver ended early (exit $rc)"
  echo "$p passed, $((f + 1)) failed"
  exit 1
fi
shots=$(find "$e2e/screenshots" -name '*.png' | wc -l)
if [ "$shots" -gt 0 ]; then echo "e2e: $shots screenshot(s) of failures in $e2e/screenshots"; fi
echo "e2e: total $((SECONDS - started)) s"
echo "$last"
failed=$(sed -E 's/^[0-9]+ passed, ([0-9]+) failed$/\1/' <<<"$last")
[ "$rc" -eq 0 ] && [ "$failed" -eq 0 ]
