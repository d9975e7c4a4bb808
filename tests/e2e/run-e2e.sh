#!/usr/bin/env bash
# Quarn's end-to-end run: the real quarn.exe under Wine on a private X server
# (Xvfb), in a fresh Wine prefix of its own, worked from a second Win32 process
# (quarn_e2e_driver.exe) as a user would.
#
#   tests/e2e/run-e2e.sh <build-dir>          e.g. tests/e2e/run-e2e.sh build/x86_64
#
# The prefix's architecture is the program's (a 64-bit quarn.exe runs in a
# win64 prefix, with the 64-bit driver).
#
# Prints one line per case and ends with "N passed, N failed"; exits non-zero
# when a case failed. Everything the run makes is in <build-dir>/e2e (made anew
# each run): the prefix, the scratch files, logs, and screenshots of failed
# cases in screenshots/<case>.png.
#
# QUARN_E2E_KINDS   archive kinds this build extracts (default "zip,7z,rar";
#                   "zip" leaves out the 7z and RAR cases)
# QUARN_E2E_ONLY    comma-separated case names: run only those
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=e2e-env.sh
source "$here/e2e-env.sh"
[ $# -ge 1 ] || { echo "usage: $0 <build-dir>" >&2; exit 2; }
build=$(cd "$1" 2>/dev/null && pwd) || e2e_give_up "no build folder $1"
exe=$build/bin/quarn.exe
e2e_driver=$build/bin/quarn_e2e_driver.exe
[ -f "$exe" ] || e2e_give_up "no $exe"
[ -f "$e2e_driver" ] || e2e_give_up "no $e2e_driver (build the quarn_e2e_driver target)"

arch=$(quarn_pe_arch "$exe")
[ "$arch" = "$(quarn_pe_arch "$e2e_driver")" ] || e2e_give_up "$exe and $e2e_driver are not built for one architecture"
[ "$arch" = win64 ] || quarn_win32_runs || e2e_give_up "cannot run the 32-bit $exe: $(quarn_win32_why)"

started=$SECONDS
e2e_setup "$build/e2e" "$arch"
e2e_drive "$(winpath "$exe")" "${QUARN_E2E_ONLY:-}" "$e2e/driver.log"
rc=$?
shots=$(find "$e2e/screenshots" -name '*.png' | wc -l)
if [ "$shots" -gt 0 ]; then echo "e2e: $shots screenshot(s) in $e2e/screenshots"; fi
echo "e2e: total $((SECONDS - started)) s"
echo "$drive_passed passed, $drive_failed failed"
exit $rc
