#!/usr/bin/env bash
# Checks the Windows programs of a build tree without running them, so that a
# build that this host cannot run is still looked at:
#  - every program and engine DLL in <build>/bin is a PE file for the build's
#    machine (PE32 for i386, PE32+ for x86-64);
#  - the programs import Windows system DLLs only (the engines are loaded at
#    run time; a MinGW runtime DLL would have to travel with the program);
#  - every program carries a manifest, quarn.exe also its version resource;
#  - 7za.dll, 7z.dll and unrar.dll beside them are built for the same machine and
#    export the entry points Quarn looks up.
#
#   scripts/check-programs.sh build/i686        (or build/x86_64)
#
# Prints one line per program and ends with "N passed, N failed".
set -uo pipefail
build=${1:?usage: $0 <build-dir>}
bin=$build/bin
case "$(basename "$build")" in
  i686) triplet=i686-w64-mingw32 format=pei-i386 magic='(PE32)' ;;
  x86_64) triplet=x86_64-w64-mingw32 format=pei-x86-64 magic='(PE32+)' ;;
  *) echo "check-programs: $build is neither an i686 nor an x86_64 build" >&2; exit 2 ;;
esac
objdump=$triplet-objdump
SYSTEM_DLLS=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll "
SYSTEM_DLLS+="oleaut32.dll powrprof.dll shell32.dll shlwapi.dll user32.dll "
RT_VERSION=0x000010
RT_MANIFEST=0x000018

passed=0
failed=0
report() {  # what problems
  if [ -z "$2" ]; then
    echo "PASS  $1"
    passed=$((passed + 1))
  else
    echo "FAIL  $1"
    sed 's/^/      - /' <<<"$2"
    failed=$((failed + 1))
  fi
}

# Prints what is wrong with one PE file; resources: the resource types it must hold.
problems_of() {  # file resources... 
  local f=$1 dump imp types t
  shift
  dump=$("$objdump" -p "$f" 2>/dev/null) || { echo "objdump cannot read it"; return; }
  grep -q "file format $format\$" <<<"$dump" || echo "not $format: $(grep -m1 'file format' <<<"$dump")"
  grep -qF "$magic" <<<"$dump" || echo "its optional header is not $magic"
  for imp in $(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump"); do
    [[ $SYSTEM_DLLS == *" $imp "* ]] || echo "imports $imp, which is not a Windows system DLL"
  done
  # The resource types are the entries of the first level of the directory.
  types=$(sed -n '/Resource Directory section/,$p' <<<"$dump" | sed -nE 's/^[0-9a-f]+   Entry: ID: (0x[0-9a-f]+).*/\1/p')
  for t in "$@"; do
    grep -qx "$t" <<<"$types" || echo "holds no resource of type $t"
  done
}

exports_of() { "$objdump" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && NF==0 {t=0} t {print $NF}'; }

[ -f "$bin/quarn.exe" ] || { echo "FAIL  no $bin/quarn.exe"; echo "0 passed, 1 failed"; exit 1; }
for exe in "$bin"/*.exe; do
  if [ "$(basename "$exe")" = quarn.exe ]; then
    report "quarn.exe: $format, system DLLs only, manifest and version" "$(problems_of "$exe" $RT_MANIFEST $RT_VERSION)"
  else
    report "$(basename "$exe"): $format, system DLLs only, manifest" "$(problems_of "$exe" $RT_MANIFEST)"
  fi
done
for engine in 7za.dll:CreateObject 7z.dll:CreateObject unrar.dll:RAROpenArchiveEx; do
  dll=$bin/${engine%%:*}
  if [ -f "$dll" ]; then
    p=$(problems_of "$dll")
    exports_of "$dll" | grep -qx "${engine##*:}" || p+=${p:+$'\n'}"does not export ${engine##*:}"
  else
    p="missing beside the programs"
  fi
  report "${engine%%:*}: $format, beside the programs" "$p"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
