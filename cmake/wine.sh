#!/usr/bin/env bash
# The one way Quarn's scripts and tests start Wine.
#
# Debian's `wine` wrapper runs the 32-bit loader whenever it is installed, so on
# a host whose kernel runs no 32-bit programs even a 64-bit program fails
# through it. Here the loader is picked by the program's machine type instead:
# a 64-bit program runs under /usr/lib/wine/wine64 in a win64 prefix, a 32-bit
# one under /usr/lib/wine/wine (in a win32 prefix everything does). Wine's own tools (reg, cmd, wineboot,
# winepath, rundll32 ...) take the loader of the prefix's architecture
# ($WINEARCH). The prefix itself comes from the caller: WINEPREFIX, WINEARCH.
#
# Run:
#   cmake/wine.sh <program> [args...]   a Windows program (Unix path, or a
#                                       Windows path on the prefix's drives) or a
#                                       Wine tool by name
#   cmake/wine.sh --server [args...]    Wine's server (wineserver -k, -w, -p)
#   cmake/wine.sh --probe               exit 0 when 32-bit Windows programs run
#                                       here, else prints the reason, exit 1
# Sourced, it defines wine, wineboot, winepath and wineserver as functions that
# go through the same choice, plus quarn_win32_runs, quarn_win32_why,
# quarn_pe_arch and quarn_wine_arch_for; $quarn_wine_self is this script, for
# a program started in the background or under timeout (its process id is then
# the program's).
#
# QUARN_64_ONLY=1 makes a host that could run 32-bit programs behave as one that
# cannot, so the 64-bit-only path can be tried anywhere.

quarn_wine_self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
quarn_wine32=/usr/lib/wine/wine
quarn_wine64=/usr/lib/wine/wine64

# Why 32-bit Windows programs cannot run here (one line), or nothing when they
# can. The answer is kept in the environment for the scripts this one starts.
quarn_win32_why() {
  if [ -z "${QUARN_WIN32_PROBED+x}" ]; then
    local out
    if [ "${QUARN_64_ONLY:-0}" = 1 ]; then
      QUARN_WIN32_PROBED="QUARN_64_ONLY=1 asks for the 64-bit-only path"
    elif [ ! -x "$quarn_wine32" ]; then
      QUARN_WIN32_PROBED="the 32-bit Wine loader ($quarn_wine32) is not installed"
      # scripts/install-deps.sh keeps apt's reason when it could not install it.
      out=${QUARN_STATE_DIR:-/var/lib/quarn}/wine32-missing.txt
      [ -s "$out" ] && QUARN_WIN32_PROBED+=": $(head -n 1 "$out")"
    elif ! out=$("$quarn_wine32" --version 2>&1); then
      QUARN_WIN32_PROBED="this host cannot run 32-bit programs ($quarn_wine32 --version: $(head -n 1 <<<"$out" | sed 's/.*: //'))"
    else
      QUARN_WIN32_PROBED=
    fi
    export QUARN_WIN32_PROBED
  fi
  printf '%s' "$QUARN_WIN32_PROBED"
}

quarn_win32_runs() { [ -z "$(quarn_win32_why)" ]; }

# The machine type of a PE file: win64 (x86-64), win32 (i386), or nothing when
# the file is not a PE program.
quarn_pe_arch() {
  local f=$1 pe machine
  [ -f "$f" ] || return 0
  [ "$(head -c 2 "$f" 2>/dev/null)" = MZ ] || return 0
  pe=$(od -An -tu4 -j60 -N4 "$f" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || return 0
  [ "$(od -An -c -j"$pe" -N2 "$f" 2>/dev/null | tr -d ' ')" = PE ] || return 0
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$f" 2>/dev/null | tr -d ' ')
  case "$machine" in
    8664) echo win64 ;;
    014c) echo win32 ;;
  esac
}

# The Unix file behind a program argument: a Unix path as it is; Z:\... is the
# whole file system, C:\... the prefix's drive_c, other letters its dosdevices.
quarn_wine_file() {
  local p=$1 drive rest
  case "$p" in
    [A-Za-z]:[\\/]*)
      drive=${p:0:1}
      rest=${p:2}
      rest=${rest//\\//}
      case "$drive" in
        Z|z) printf '%s' "$rest" ;;
        C|c) printf '%s/drive_c%s' "${WINEPREFIX:-$HOME/.wine}" "$rest" ;;
        *) printf '%s/dosdevices/%s:%s' "${WINEPREFIX:-$HOME/.wine}" "${drive,,}" "$rest" ;;
      esac
      ;;
    *) printf '%s' "$p" ;;
  esac
}

# The architecture a program needs (its machine type; Wine's tools: the
# prefix's).
quarn_wine_arch_for() {
  local arch
  arch=$(quarn_pe_arch "$(quarn_wine_file "$1")")
  if [ -z "$arch" ]; then
    arch=${WINEARCH:-}
    [ -n "$arch" ] || { quarn_win32_runs && arch=win32 || arch=win64; }
  fi
  echo "$arch"
}

quarn_wine_run() {
  local arch why
  arch=$(quarn_wine_arch_for "$1")
  # A win32 prefix is a 32-bit Windows: its loader runs every program, and
  # refuses a 64-bit one itself ("Bad EXE format"), as 32-bit Windows does.
  if [ "$arch" = win64 ] && [ "${WINEARCH:-}" != win32 ]; then
    quarn_wine_start "$quarn_wine64" "$@"
  else
    why=$(quarn_win32_why)
    if [ -n "$why" ]; then
      echo "wine.sh: $1 needs 32-bit Wine, which cannot run: $why" >&2
      return 126
    fi
    quarn_wine_start "$quarn_wine32" "$@"
  fi
}

# Run as a command, the script becomes the loader (exec), so that its process
# id is the program's: a caller that starts it in the background can stop it.
quarn_wine_start() {  # loader args...
  local loader=$1
  shift
  if [ -n "${quarn_wine_exec:-}" ]; then
    export WINELOADER=$loader
    exec "$loader" "$@"
  fi
  WINELOADER=$loader "$loader" "$@"
}

# Debian installs a 64-bit and a 32-bit server; the 64-bit one serves prefixes of
# both architectures and runs on every host that runs Wine at all.
quarn_wine_server() {
  if [ -x /usr/lib/wine/wineserver64 ]; then
    /usr/lib/wine/wineserver64 "$@"
  else
    /usr/lib/wine/wineserver32 "$@"
  fi
}

wine() { quarn_wine_run "$@"; }
wineboot() { quarn_wine_run wineboot.exe "$@"; }
winepath() { quarn_wine_run winepath.exe "$@"; }
wineserver() { quarn_wine_server "$@"; }

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    --probe)
      why=$(quarn_win32_why)
      [ -z "$why" ] || { echo "$why"; exit 1; }
      ;;
    --server) shift; quarn_wine_server "$@" ;;
    "") sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    *) quarn_wine_exec=1 quarn_wine_run "$@" ;;
  esac
fi
