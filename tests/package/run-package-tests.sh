#!/usr/bin/env bash
# The release packages that scripts/package.sh made, for one architecture,
# tried under Wine as a user would meet them, in a fresh prefix of their own (of
# that architecture) on a private X server:
#  - the installer (Quarn-<version>-setup.exe for i686, -setup-x64.exe for
#    x86_64), silent, for this user and then for everyone: the files, shortcuts
#    and registry entries where they belong (the Explorer verbs for every kind
#    of packaging/kinds.txt among them); the installed quarn.exe extracting
#    archives of every kind, taking a later start's paths and running the
#    verbs' commands as Explorer does (cases of the end-to-end driver of the
#    same build); the silent uninstall, after which the
#    prefix's drive and registry are as they were before the install (listings
#    compared);
#  - the portable zip of the architecture, unpacked and run;
#  - i686: the 64-bit installer refuses to start on 32-bit Windows;
#    x86_64: the 64-bit zip holds the same files as the 32-bit one, built for
#    x86-64;
#  - one version everywhere: VERSION, the program, the installer, the packages.
#
#   tests/package/run-package-tests.sh <build-dir> <dist-dir>   (build/i686 or build/x86_64)
#
# Prints one line per check and ends with "N passed, N failed"; exits non-zero
# when one failed. Its files are in <build-dir>/package-tests (made anew).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=../e2e/e2e-env.sh
source "$top/tests/e2e/e2e-env.sh"
e2e_label="package tests"
[ $# -eq 2 ] || { echo "usage: $0 <build-dir> <dist-dir>" >&2; exit 2; }
build=$(cd "$1" 2>/dev/null && pwd) || e2e_give_up "no build folder $1"
dist=$(cd "$2" 2>/dev/null && pwd) || e2e_give_up "no folder $2"
version=$(head -n 1 "$top/VERSION")
# The kinds the installer registers "Open with" and the Explorer verbs for.
mapfile -t kinds < <(tr -d '\r' <"$top/packaging/kinds.txt" | grep -v '^$')
name=Quarn-$version
zip32=$dist/$name-win32.zip
zip64=$dist/$name-win64.zip
setup32=$dist/$name-setup.exe
setup64=$dist/$name-setup-x64.exe
e2e_driver=$build/bin/quarn_e2e_driver.exe
arch=$(quarn_pe_arch "$e2e_driver")
case "$arch" in
  win32) setup=$setup32 zip=$zip32 ;;
  win64) setup=$setup64 zip=$zip64 ;;
  *) e2e_give_up "no driver program in $build/bin" ;;
esac
e2e_label="package tests ($arch)"
for f in "$setup" "$zip32" "$zip64" "$setup64"; do [ -f "$f" ] || e2e_give_up "no $f"; done
[ "$arch" = win64 ] || quarn_win32_runs || e2e_give_up "cannot run the 32-bit installer: $(quarn_win32_why)"

started=$SECONDS
e2e_setup "$build/package-tests" "$arch"
run=$e2e/run
mkdir -p "$run"
wine_user=$(wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
[ -n "$wine_user" ] || e2e_give_up "cannot ask Wine for the user's name"

passed=0
failed=0
# check <name> <command...>: the command prints the problems it finds, one a
# line; none means the check passed.
check() {
  local what=$1 problems
  shift
  problems=$("$@" 2>&1)
  if [ -z "$problems" ]; then
    echo "PASS  $what"
    passed=$((passed + 1))
  else
    echo "FAIL  $what"
    sed 's/^/      - /' <<<"$problems"
    failed=$((failed + 1))
  fi
}

# Adds the counts of a run of driver cases to the totals.
drive() {  # exe(Windows path) cases log-name
  e2e_drive "$1" "$2" "$run/$3.log"
  passed=$((passed + drive_passed))
  failed=$((failed + drive_failed))
}

# The Unix path of a path on the prefix's C: drive.
unixpath() {
  local p=${1#[Cc]:}
  printf '%s/drive_c%s' "$WINEPREFIX" "${p//\\//}"
}

# A registry value as "reg query" prints it (REG_SZ text, REG_DWORD 0x...), or
# nothing when it is missing.
# Wine's reg query. A start that ends with nothing said on either stream (a
# missing key or value is always named) is one Wine lost under load, and is
# made once more.
reg_query() {  # arguments of reg query
  local out rc attempt
  for attempt in 1 2; do
    rc=0
    out=$(wine reg query "$@" 2>"$run/reg-query.err") || rc=$?
    if [ "$rc" -eq 0 ] || [ -n "$out" ] || [ -s "$run/reg-query.err" ]; then break; fi
  done
  cat "$run/reg-query.err" >&2
  [ -z "$out" ] || printf '%s\n' "$out"
  return "$rc"
}

regval() {  # key value-name ("" for the default value)
  local out
  if [ -z "$2" ]; then out=$(reg_query "$1" /ve 2>/dev/null); else out=$(reg_query "$1" /v "$2" 2>/dev/null); fi
  tr -d '\r' <<<"$out" | sed -nE 's/^    .*    REG_[A-Z_]+    (.*)$/\1/p' | head -n 1
}

# Runs a Windows program, its output to the run's log; says so when it fails.
succeeds() {  # program args...
  wine "$@" >>"$run/programs.log" 2>&1 || echo "$* ended with exit code $?"
}

# Listings of the prefix's drive and registry. Key lines lose their time
# stamps, and the value "DriverDateData" goes: Wine rewrites it with the time
# whenever its desktop starts.
snapshot() {  # name
  wineserver -w
  (cd "$WINEPREFIX" && find drive_c -printf '%y %p\n' | LC_ALL=C sort) >"$run/$1.drive"
  # Left out: the keys Wine writes for itself when its crash debugger starts
  # (a crash of one of Wine's own services, such as its kernel's host, starts
  # it) and when the debugger opens its console. Crashes are shown at the end.
  local hive
  for hive in system user userdef; do
    awk '/^\[/ { skip = /^\[(Console|Software\\\\Wine\\\\WineDbg)\]/ } !skip' "$WINEPREFIX/$hive.reg" |
      sed -E -e '/^#time=/d' -e 's/^(\[.*\]) [0-9]+$/\1/' -e '/^"DriverDateData"=/d' -e "s/^/$hive: /"
  done >"$run/$1.registry"
}

# Prints the differences between two snapshots.
compare() {  # before after
  diff "$run/$1.drive" "$run/$2.drive" | grep '^[<>]'
  diff "$run/$1.registry" "$run/$2.registry" | grep '^[<>]'
}

# Waits (20 s at most) until a window titled "Quarn 1.00" is on the X server:
# by then Quarn holds its single-instance mutex.
quarn_window_shows() {
  "$e2e_py" - <<'EOF'
import sys, time
from Xlib import display, error
screen = display.Display().screen()
def titled():
    for w in screen.root.query_tree().children:
        try:
            if w.get_wm_name() == 'Quarn 1.00':
                return True
        except error.XError:
            pass  # a window that went away meanwhile
    return False
end = time.time() + 20
while not titled():
    if time.time() > end:
        sys.exit(1)
    time.sleep(0.1)
EOF
}

# What the install changed, kept for reading: run/installed-<mode>.diff.
note_install() {  # mode
  snapshot "installed-$1"
  compare "before-$1" "installed-$1" >"$run/installed-$1.diff"
  echo "      (the install changed $(wc -l <"$run/installed-$1.diff") lines of the listings: $run/installed-$1.diff)"
}

# The prefix as a Windows user's would be for an installer: Wine's menu
# integration off (it would write the Start menu into the Linux desktop and
# note that in the registry), and the two keys every Windows profile has that a
# fresh prefix lacks. Wine sets its records of the network and the display
# right at its second start, with a desktop: that start comes here too.
{
  wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d "" /f
  wine reg add 'HKCU\Software\Classes' /f
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' /f
  wineserver -w
  wine rundll32 user32.dll,MessageBeep
} >>"$e2e/wineboot.log" 2>&1 || e2e_give_up "cannot prepare the prefix (see $e2e/wineboot.log)"
unzip -q "$zip" -d "$run/portable" || e2e_give_up "cannot unpack $zip"
portable=$run/portable/$name

# ---- checks of one install ----

installed_files() {  # dir
  local d
  d=$(unixpath "$1")
  [ -f "$d/uninstall.exe" ] || echo "no uninstall.exe in $1"
  diff <(cd "$portable" && find . -type f | sort) <(cd "$d" && find . -type f ! -name uninstall.exe | sort) |
    sed -n 's/^< /missing: /p; s/^> /not in the portable package: /p'
  (cd "$portable" && find . -type f) | while IFS= read -r f; do
    [ ! -f "$d/$f" ] || cmp -s "$portable/$f" "$d/$f" || echo "$f differs from the portable package's"
  done
}

shortcuts() {  # dir start-menu-folder(Windows)
  local link target="$1\\quarn.exe"
  for link in "$2\\Quarn.lnk" "C:\\users\\$wine_user\\AppData\\Roaming\\Microsoft\\Windows\\SendTo\\Quarn.lnk"; do
    if [ ! -f "$(unixpath "$link")" ]; then
      echo "no shortcut $link"
    elif ! grep -qaF "$target" "$(unixpath "$link")"; then
      echo "the shortcut $link does not lead to $target"
    fi
  done
}

expect_value() {  # key name expected
  local got
  got=$(regval "$1" "$2")
  [ "$got" = "$3" ] || echo "$1 ${2:-(default)} is \"$got\", expected \"$3\""
}

registry() {  # dir root(HKCU|HKLM)
  local dir=$1 root=$2 ext size
  local open="\"$dir\\quarn.exe\" \"%1\"" un="$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quarn"
  expect_value "$root\\Software\\Classes\\Quarn.Archive\\shell\\open\\command" "" "$open"
  expect_value "$root\\Software\\Classes\\Applications\\quarn.exe\\shell\\open\\command" "" "$open"
  for ext in "${kinds[@]}"; do
    reg_query "$root\\Software\\Classes\\$ext\\OpenWithProgids" /v Quarn.Archive >/dev/null 2>&1 ||
      echo "$ext does not list Quarn.Archive among the programs that open it"
    reg_query "$root\\Software\\Classes\\Applications\\quarn.exe\\SupportedTypes" /v "$ext" >/dev/null 2>&1 ||
      echo "quarn.exe does not name $ext among its types"
    # Quarn never becomes the default program of a type.
    [ "$(default_of "$root" "$ext")" = "${defaults[$root$ext]}" ] ||
      echo "the default program of $ext in $root changed to \"$(default_of "$root" "$ext")\""
  done
  expect_value "$un" DisplayName Quarn
  expect_value "$un" DisplayVersion "$version"
  expect_value "$un" Publisher Quarn
  expect_value "$un" DisplayIcon "$dir\\quarn.exe,0"
  expect_value "$un" InstallLocation "$dir"
  expect_value "$un" UninstallString "\"$dir\\uninstall.exe\""
  size=$(regval "$un" EstimatedSize)
  [[ $size =~ ^0x[0-9a-f]+$ ]] && [ $((size)) -gt 1000 ] || echo "EstimatedSize is \"$size\", expected the size in KB"
}

# Runs the uninstaller silently and then restarts Wine, which, like Windows,
# removes at a restart the files that were in use (the uninstaller's own copy).
uninstall() {  # dir options...
  local dir=$1
  shift
  succeeds "$dir\\uninstall.exe" /S "$@"
  wineserver -w
  wineboot -r >>"$run/programs.log" 2>&1 || echo "Wine's restart failed"
}

# The program that opens a type by default ("reg query" shows a missing
# default value as "(value not set)").
default_of() {  # root(HKCU|HKLM) ext
  local v
  v=$(regval "$1\\Software\\Classes\\$2" "")
  [ "$v" = "(value not set)" ] || echo "$v"
}
declare -A defaults
for root in HKCU HKLM; do
  for ext in "${kinds[@]}"; do defaults[$root$ext]=$(default_of $root $ext); done
done

# Quarn's Explorer verbs in root, one "key|value name|data" a line (the key
# below SystemFileAssociations), read in one listing of the registry.
verb_values() {  # root(HKCU|HKLM)
  reg_query "$1\\Software\\Classes\\SystemFileAssociations" /s 2>/dev/null | tr -d '\r' | awk '
    /^HKEY_/ { key = $0; sub(/^.*\\SystemFileAssociations\\/, "", key); next }
    /^    / && key ~ /\\shell\\Quarn\./ {
      line = substr($0, 5); n = index(line, "    REG_"); rest = substr(line, n + 4); m = index(rest, "    ")
      print key "|" substr(line, 1, n - 1) "|" (m ? substr(rest, m + 4) : "")
    }' | LC_ALL=C sort
}

# The verbs for every kind, each kept with the type's system-wide
# associations, shown for any number of selected files ("Player": Explorer
# starts the command once for each), with the commands that run quarn.exe.
verbs() {  # dir root(HKCU|HKLM)
  local ext verb exe="$1\\quarn.exe"
  for ext in "${kinds[@]}"; do
    verb="$ext\\shell\\Quarn.ExtractHere"
    printf '%s\n' "$verb|(Default)|Extract each to its own folder (Quarn)" "$verb|MultiSelectModel|Player" \
      "$verb|Icon|$exe,0" "$verb\\command|(Default)|\"$exe\" /extract-here \"%1\""
    verb="$ext\\shell\\Quarn.AddToList"
    printf '%s\n' "$verb|(Default)|Add to Quarn's list" "$verb|MultiSelectModel|Player" "$verb|Icon|$exe,0" \
      "$verb\\command|(Default)|\"$exe\" \"%1\""
  done | LC_ALL=C sort >"$run/verbs-expected"
  verb_values "$2" | diff "$run/verbs-expected" - | sed -n 's/^< /missing: /p; s/^> /not expected: /p'
}

verbs_gone() {  # root
  verb_values "$1" | sed 's/^/left after the uninstall: /'
}

# ---- for this user: everything goes, the settings too ----
snapshot before-user
check "installer /S: exit code" succeeds "$setup" /S
dir="C:\\users\\$wine_user\\AppData\\Local\\Programs\\Quarn"
check "for this user: files in $dir" installed_files "$dir"
check "for this user: Start menu and Send to shortcuts" shortcuts "$dir" \
  "C:\\users\\$wine_user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
check "for this user: Open with and Apps & features entries (HKCU)" registry "$dir" HKCU
check "for this user: the Explorer verbs of every kind (HKCU)" verbs "$dir" HKCU
note_install user
drive "$dir\\quarn.exe" command_line_and_hand_over,unzip_all_kinds,shell_verbs driver-user
# The uninstaller refuses to run while Quarn runs (its files could not go).
# Started with _?= it runs in place and its exit code tells (the folder must
# hold no blank: Wine would put the argument in quotes, which NSIS does not read).
refuses_while_running() {
  "$quarn_wine_self" "$dir\\quarn.exe" >>"$run/programs.log" 2>&1 &
  local quarn=$! rc=0
  if quarn_window_shows; then
    wine "$dir\\uninstall.exe" /S "_?=$dir" >>"$run/programs.log" 2>&1 || rc=$?
    [ "$rc" -eq 2 ] || echo "uninstall.exe ended with exit code $rc while Quarn ran, expected 2"
    [ -f "$(unixpath "$dir")/quarn.exe" ] || echo "quarn.exe was removed while it ran"
  else
    echo "the installed quarn.exe showed no window"
  fi
  kill "$quarn" 2>/dev/null
  wait "$quarn" 2>/dev/null
  # A killed program's end reaches Wine's server after the process is gone;
  # the uninstall that follows starts once the server has settled, as a user's
  # would after closing the program.
  wineserver -w
}
check "for this user: the uninstaller refuses to remove a running Quarn" refuses_while_running
removed_all() {
  uninstall "$dir" /RemoveSettings
  verbs_gone HKCU
  snapshot after-user
  compare before-user after-user
}
check "for this user: the silent uninstall (/RemoveSettings) leaves nothing behind" removed_all

# ---- for everyone: the settings stay unless the user agrees ----
snapshot before-machine
check "installer /S /AllUsers: exit code" succeeds "$setup" /S /AllUsers
dir="C:\\Program Files\\Quarn"
check "for everyone: files in $dir" installed_files "$dir"
check "for everyone: Start menu and Send to shortcuts" shortcuts "$dir" \
  "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
check "for everyone: Open with and Apps & features entries (HKLM)" registry "$dir" HKLM
check "for everyone: the Explorer verbs of every kind (HKLM)" verbs "$dir" HKLM
note_install machine
drive "$dir\\quarn.exe" command_line_and_hand_over,shell_verbs driver-machine
kept_settings() {
  uninstall "$dir"
  verbs_gone HKLM
  reg_query 'HKCU\Software\Quarn' >/dev/null 2>&1 || echo "the settings went without the user's consent"
  wine reg delete 'HKCU\Software\Quarn' /f >/dev/null 2>&1
  snapshot after-machine
  compare before-machine after-machine
}
check "for everyone: the silent uninstall keeps the settings and leaves nothing else" kept_settings

# ---- the portable packages ----
drive "$(winpath "$portable/quarn.exe")" unzip_all_kinds driver-portable
if [ "$arch" = win64 ]; then
  same_files_64() {
    diff <(unzip -Z1 "$zip32") <(unzip -Z1 "$zip64") | sed -n 's/^[<>] /not in both zips: /p'
    unzip -q -o "$zip32" -d "$run/portable32"
    local f kind
    for f in quarn.exe 7za.dll 7z.dll unrar.dll; do
      kind=$(file -b "$portable/$f")
      [[ $kind == PE32+*x86-64* ]] || echo "$f of the 64-bit zip is a $kind"
      kind=$(file -b "$run/portable32/$name/$f")
      [[ $kind == PE32\ *Intel\ 80386* ]] || echo "$f of the 32-bit zip is a $kind"
    done
  }
  check "the 64-bit zip holds the same files as the 32-bit one, built for x86-64" same_files_64
else
  # What 32-bit Windows does with a 64-bit program: it refuses to start it.
  x64_refused() {
    snapshot before-x64
    if wine "$setup64" /S >>"$run/programs.log" 2>&1; then
      echo "the 64-bit installer ran on 32-bit Windows"
    fi
    snapshot after-x64
    # Wine rewrites its code page values with each program's locale: only
    # the files and anything of Quarn's count.
    compare before-x64 after-x64 | grep -i -e '^. [a-z] drive_c' -e quarn
  }
  check "the 64-bit installer does not start on 32-bit Windows and changes nothing" x64_refused
fi

one_version() {
  local f got
  for f in "$portable/quarn.exe" "$setup"; do
    got=$(strings -el "$f" | grep -A1 -x ProductVersion | tail -n 1)
    [ "$got" = "$version" ] || echo "$(basename "$f") says version \"$got\", VERSION \"$version\""
  done
  head -n 1 "$portable/README.txt" | tr -d '\r' | grep -qx "Quarn $version" || echo "README.txt does not begin with Quarn $version"
}
check "one version ($version) in the program, the installer and the README" one_version

# Crashes under Wine while the drivers ran (the driver, Quarn or one of Wine's
# own services): shown, and judged by the cases above.
grep -h '^wine: Unhandled' "$run"/driver-*.log.err 2>/dev/null | sed 's/^/note: /' || true
echo "package tests: total $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
