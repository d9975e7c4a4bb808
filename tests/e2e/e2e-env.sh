# The setting in which quarn_e2e_driver.exe works a Quarn program: a fresh Wine
# prefix of its own on a private X server (Xvfb), the fixtures, and the host
# helper (e2e_host.py). Sourced by run-e2e.sh and by the package tests
# (tests/package/run-package-tests.sh), which drive an installed Quarn.
#
#   e2e_setup <run-folder> <win32|win64>   everything lives in <run-folder>, made
#                                          anew, the prefix of the given
#                                          architecture; ends the script when it fails
#   e2e_drive <exe> <cases> <log>          runs the driver on <exe> (a Windows
#                                          path), only <cases> when not empty
#
# e2e_give_up <message> ends the script with the message, labelled with
# $e2e_label, and a closing count line. e2e_drive needs e2e_driver, the
# driver's path. QUARN_E2E_KINDS: archive kinds the build
# extracts (default zip,7z,rar).

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# wine, wineboot and wineserver with the loader each program needs.
# shellcheck source=../../cmake/wine.sh
source "$e2e_here/../../cmake/wine.sh"
# Debian's python, which has python3-xlib (a python earlier on PATH may not).
e2e_py=/usr/bin/python3

e2e_give_up() {
  echo "${e2e_label:-e2e}: $1" >&2
  echo "0 passed, 1 failed"
  exit 1
}

# A Windows path of the prefix's Z: drive (the whole Unix file system).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

e2e_xvfb_pid=
e2e_host_pid=
e2e_driver_pid=
e2e_cleanup() {
  [ -n "$e2e_driver_pid" ] && kill "$e2e_driver_pid" 2>/dev/null
  [ -n "$e2e_host_pid" ] && kill "$e2e_host_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  [ -n "$e2e_xvfb_pid" ] && kill "$e2e_xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}

e2e_setup() {
  e2e=$1
  local arch=$2 started=$SECONDS display tool
  for tool in "$quarn_wine64" Xvfb import zip unzip "$e2e_py"; do
    command -v "$tool" >/dev/null 2>&1 || e2e_give_up "$tool is not installed"
  done
  "$e2e_py" -c 'import Xlib' 2>/dev/null || e2e_give_up "python3-xlib is not installed"

  # A Wine server left from an earlier run of this prefix goes before its files.
  [ -d "$e2e/prefix" ] && WINEPREFIX=$e2e/prefix wineserver -k >/dev/null 2>&1
  rm -rf "$e2e"
  mkdir -p "$e2e/scratch" "$e2e/exchange" "$e2e/screenshots" "$e2e/home/Desktop"

  # Wine links the prefix's desktop folder to $HOME/Desktop: keep it in the run's folder.
  export HOME=$e2e/home XDG_CONFIG_HOME=$e2e/home/.config
  export WINEPREFIX=$e2e/prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset WINESERVER WINELOADER
  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM

  "$e2e_py" "$e2e_here/e2e_host.py" fixtures "$e2e/scratch" >"$e2e/fixtures.log" 2>&1 ||
    { cat "$e2e/fixtures.log" >&2; e2e_give_up "cannot make the fixtures"; }

  # The X server tells its display number on the descriptor once it is ready.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$e2e/display" >"$e2e/xvfb.log" 2>&1 &
  e2e_xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$e2e/display" ] && break
    kill -0 "$e2e_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  display=$(head -n 1 "$e2e/display" 2>/dev/null)
  [ -n "$display" ] || { cat "$e2e/xvfb.log" >&2; e2e_give_up "Xvfb did not start"; }
  export DISPLAY=:$display

  # A fresh prefix (clean HKCU). Without a window manager Wine would wait on every
  # window close unless its windows are unmanaged.
  timeout 120 "$quarn_wine_self" wineboot.exe -i >"$e2e/wineboot.log" 2>&1 ||
    e2e_give_up "wineboot failed (see $e2e/wineboot.log)"
  timeout 60 "$quarn_wine_self" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$e2e/wineboot.log" 2>&1 ||
    e2e_give_up "cannot set up the Wine prefix (see $e2e/wineboot.log)"
  echo "e2e: $arch prefix ready on display :$display after $((SECONDS - started)) s"

  "$e2e_py" "$e2e_here/e2e_host.py" serve --exchange "$e2e/exchange" --shots "$e2e/screenshots" \
    --prefix "$WINEPREFIX" --xdnd "$e2e_here/xdnd_drop.py" >"$e2e/host.log" 2>&1 &
  e2e_host_pid=$!
}

# Runs the driver and shows its case lines as they come. Sets drive_passed and
# drive_failed; a driver that did not finish (crash, or stopped after 170 s)
# counts one failure more. Returns non-zero when anything failed.
e2e_drive() {
  local exe=$1 cases=$2 log=$3 rc last
  local args=("$exe" "$(winpath "$e2e/scratch")" "--exchange=$(winpath "$e2e/exchange")"
    "--kinds=${QUARN_E2E_KINDS:-zip,7z,rar}")
  [ -n "$cases" ] && args+=("--only=$cases")
  # The driver's output goes through a file: Wine's server would otherwise keep a
  # pipe open after the driver ended.
  : >"$log"
  timeout 170 "$quarn_wine_self" "$e2e_driver" "${args[@]}" >"$log" 2>"$log.err" </dev/null &
  e2e_driver_pid=$!
  # Live case lines; the closing count is read from the log afterwards.
  tail -n +1 -f --pid="$e2e_driver_pid" "$log" | grep --line-buffered -Ev '^[0-9]+ passed, [0-9]+ failed$'
  wait "$e2e_driver_pid"
  rc=$?
  e2e_driver_pid=
  last=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    drive_passed=${BASH_REMATCH[1]}
    drive_failed=${BASH_REMATCH[2]}
  else
    [ "$rc" -eq 124 ] && echo "e2e: the driver was stopped after 170 s"
    tail -n 20 "$log.err" >&2
    echo "e2e: the driver ended early (exit $rc)"
    drive_passed=$(grep -c '^PASS ' "$log")
    drive_failed=$(($(grep -c '^FAIL ' "$log") + 1))
  fi
  [ "$rc" -eq 0 ] && [ "$drive_failed" -eq 0 ]
}
