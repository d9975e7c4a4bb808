#!/usr/bin/env bash
# Builds the two engine DLLs that Quarn loads at run time, from Debian's source
# packages, with MinGW-w64:
#   7za.dll    7-Zip's Format7z bundle (the 7z format and its codecs), source package 7zip
#   7z.dll     7-Zip's Format7zF bundle (every format the engine reads: tar, gzip,
#              bzip2, xz, zstd, ISO, CAB, WIM, cpio, RPM, deb, LZH, ARJ ...), from
#              the same source; built without RAR, which Debian's source lacks
#   unrar.dll  the UnRAR library, source package unrar-nonfree
#   7zCon.sfx  7-Zip's console self-extractor module (the SFXCon bundle), from
#              the 7zip source: the tests put 7z archives behind it to make
#              real self-extracting archives; it is never shipped
#
# Usage: scripts/build-engines.sh [i686|x86_64]      (default i686)
#
# The DLLs, stripped and statically linked (they import system DLLs only), go
# to ${QUARN_ENGINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarn-engines}/<arch>-<hash>/
# with the licence texts in its licences/ folder. Sources and objects live in
# the same cache, never in the source tree. A stamp records the source package
# versions, the compiler and a hash of this script and scripts/engines/; when
# it still matches and the DLLs pass the checks, nothing is rebuilt.
#
# Progress goes to stderr. The last line on stdout is the absolute path of the
# output folder:  dir=$(scripts/build-engines.sh i686 | tail -1)
#
# The tools come from scripts/install-deps.sh, which the caller runs first.
set -euo pipefail

# Everything goes to stderr except the final path, written to fd 3.
exec 3>&1 1>&2

prog=build-engines
die() { echo "$prog: error: $*" >&2; exit 1; }
note() { echo "$prog: $*" >&2; }

arch=${1:-i686}
case "$arch" in
  i686|x86_64) ;;
  -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) die "unknown architecture '$arch' (expected i686 or x86_64)" ;;
esac
[ $# -le 1 ] || die "too many arguments (usage: $0 [i686|x86_64])"
triplet=$arch-w64-mingw32

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
support=$here/engines
repo=$(cd "$here/.." && pwd -P)
[ -f "$support/Format7z.makefile.gcc" ] && [ -f "$support/unrar.makefile" ] \
  || die "support files missing from $support"

# --- tools ------------------------------------------------------------------

need_tool() {
  command -v "$1" >/dev/null 2>&1 \
    || die "'$1' not found; install the build dependencies with scripts/install-deps.sh"
}

# Prefer the win32 thread model compilers: both engines use Win32 threads
# directly and need nothing from winpthreads.
pick_compiler() {
  if command -v "$triplet-$1-win32" >/dev/null 2>&1; then
    echo "$triplet-$1-win32"
  else
    echo "$triplet-$1"
  fi
}
CC=$(pick_compiler gcc)
CXX=$(pick_compiler g++)
RC=$triplet-windres
STRIP=$triplet-strip
OBJDUMP=$triplet-objdump
for t in "$CC" "$CXX" "$RC" "$STRIP" "$OBJDUMP" make apt-get dpkg-source sha256sum flock awk realpath; do
  need_tool "$t"
done

# --- cache folder -----------------------------------------------------------

cache=${QUARN_ENGINE_CACHE:-${XDG_CACHE_HOME:-${HOME:?HOME is not set; set QUARN_ENGINE_CACHE}/.cache}/quarn-engines}
cache=$(realpath -m -- "$cache")
case "$cache/" in
  "$repo"/*) die "the engine cache ($cache) must be outside the source tree ($repo)" ;;
esac
case "$cache" in
  *[[:space:]]*) die "the engine cache path must not contain white space: '$cache'" ;;
esac
mkdir -p "$cache"

out= stage=  # set once the inputs are known (below)
work=$cache/build/$arch
srcroot=$cache/src

# One build at a time per cache: the two architectures share the sources.
exec 9>"$cache/.lock"
if ! flock -n 9; then
  note "waiting for another build-engines run using $cache"
  flock 9
fi

cleanup() {
  rm -rf "$stage" "$cache/tmp-$arch" "$work"
}
trap cleanup EXIT

# --- source package versions ------------------------------------------------

# The version apt-get source would fetch, read from the .dsc file name it
# prints (no download). Run from an empty folder: apt-get leaves out files
# already present in the current one.
source_version() {
  local pkg=$1 tmp=$cache/tmp-$arch dsc
  rm -rf "$tmp"; mkdir -p "$tmp"
  dsc=$(cd "$tmp" && apt-get source --print-uris --only-source "$pkg" 2>/dev/null \
          | awk '$2 ~ /\.dsc$/ {print $2; exit}') || true
  rm -rf "$tmp"
  [ -n "$dsc" ] || die "apt cannot find source package '$pkg'; scripts/install-deps.sh adds the deb-src entry (then apt-get update)"
  dsc=${dsc%.dsc}
  echo "${dsc#"${pkg}"_}"
}

v7zip=$(source_version 7zip)
vunrar=$(source_version unrar-nonfree)

# Everything that decides what the DLLs are made of.
inputs_hash() {
  {
    sha256sum < "$here/build-engines.sh"
    (cd "$here" && find engines -type f -print | LC_ALL=C sort | while read -r f; do
       echo "$f"; sha256sum < "$f"
     done)
  } | sha256sum | cut -d' ' -f1
}
stamp_text() {
  echo "arch $arch"
  echo "7zip $v7zip"
  echo "unrar-nonfree $vunrar"
  echo "cc $("$CXX" --version | head -1)"
  echo "inputs $(inputs_hash)"
}
stamp=$(stamp_text)
# One folder per set of inputs, so that checkouts with other versions of this
# script (other branches) keep their own engines instead of rebuilding them
# in turn.
out=$cache/$arch-$(sha256sum <<<"$stamp" | cut -c1-12)
stage=$out.new

# --- checks on a finished folder --------------------------------------------

SEVENZIP_EXPORTS="CreateObject GetNumberOfFormats GetHandlerProperty GetHandlerProperty2
  GetIsArc GetNumberOfMethods GetMethodProperty CreateDecoder CreateEncoder GetHashers
  SetCodecs SetLargePageMode SetCaseSensitive GetModuleProp"
UNRAR_EXPORTS="RAROpenArchive RAROpenArchiveEx RARReadHeader RARReadHeaderEx RARProcessFile
  RARProcessFileW RARSetCallback RARSetChangeVolProc RARSetProcessDataProc RARSetPassword
  RARCloseArchive RARGetDllVersion"
# DLLs that ship with Windows. Anything else (libgcc_s, libstdc++,
# libwinpthread...) would have to travel with the program, so it is refused.
SYSTEM_DLLS="kernel32.dll msvcrt.dll user32.dll advapi32.dll ole32.dll oleaut32.dll
  shell32.dll shlwapi.dll powrprof.dll gdi32.dll comctl32.dll comdlg32.dll"

# Prints the reason and returns 1 when the DLL is not usable.
check_dll() {
  local dll=$1 expected=$2 dump names imports name imp
  [ -f "$dll" ] || { echo "$dll is missing"; return 1; }
  dump=$("$OBJDUMP" -p "$dll" 2>/dev/null) || { echo "$dll: objdump cannot read it"; return 1; }
  case "$arch" in
    i686)   grep -q 'file format pei-i386' <<<"$dump" || { echo "$dll is not a 32-bit x86 DLL"; return 1; } ;;
    x86_64) grep -q 'file format pei-x86-64' <<<"$dump" || { echo "$dll is not an x86-64 DLL"; return 1; } ;;
  esac
  names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && NF==0 {t=0} t {print $NF}' <<<"$dump")
  for name in $expected; do
    grep -qx "$name" <<<"$names" || { echo "$dll does not export $name"; return 1; }
  done
  if grep -q '@' <<<"$names"; then
    echo "$dll exports decorated names: $(grep '@' <<<"$names" | tr '\n' ' ')"; return 1
  fi
  imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump")
  [ -n "$imports" ] || { echo "$dll has no import table"; return 1; }
  for imp in $imports; do
    case " $(echo $SYSTEM_DLLS) " in
      *" $imp "*) ;;
      *) echo "$dll imports $imp, which is not a Windows system DLL (not statically linked?)"; return 1 ;;
    esac
  done
  if grep -q '\.debug_' <<<"$("$OBJDUMP" -h "$dll")"; then
    echo "$dll is not stripped"; return 1
  fi
}

check_folder() {
  local dir=$1 f
  check_dll "$dir/7za.dll" "$SEVENZIP_EXPORTS" || return 1
  check_dll "$dir/7z.dll" "$SEVENZIP_EXPORTS" || return 1
  check_dll "$dir/unrar.dll" "$UNRAR_EXPORTS" || return 1
  check_dll "$dir/7zCon.sfx" "" || return 1
  for f in 7-Zip-License.txt 7-Zip-debian-copyright.txt UnRAR-license.txt UnRAR-debian-copyright.txt; do
    [ -s "$dir/licences/$f" ] || { echo "licence text $dir/licences/$f is missing"; return 1; }
  done
}

if [ -f "$out/.stamp" ] && [ "$(cat "$out/.stamp")" = "$stamp" ]; then
  if why=$(check_folder "$out"); then
    note "up to date: $out (7zip $v7zip, unrar-nonfree $vunrar)"
    echo "$out" >&3
    exit 0
  fi
  note "cached engines fail the checks ($why); rebuilding"
else
  [ -d "$out" ] && note "cached engines are out of date; rebuilding"
fi

# --- sources ----------------------------------------------------------------

# Fetches and unpacks a source package into $srcroot/<pkg>_<version>/ once;
# prints the unpacked tree's path.
fetch_source() {
  local pkg=$1 version=$2 dest=$srcroot/${1}_$2 tmp=$cache/tmp-$arch tree
  if [ ! -f "$dest/.complete" ]; then
    note "fetching source package $pkg $version"
    rm -rf "$dest" "$tmp"
    mkdir -p "$tmp" "$srcroot"
    if ! (cd "$tmp" && apt-get source --only-source "$pkg") >"$cache/apt-$pkg.log" 2>&1; then
      tail -20 "$cache/apt-$pkg.log" >&2
      die "apt-get source $pkg failed (log: $cache/apt-$pkg.log)"
    fi
    [ -f "$tmp/${pkg}_$version.dsc" ] \
      || die "apt-get source $pkg fetched another version than $version"
    tree=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -1)
    [ -n "$tree" ] || die "apt-get source $pkg unpacked nothing"
    mkdir -p "$dest"
    mv "$tree" "$dest/tree"
    rm -rf "$tmp"
    touch "$dest/.complete"
    # Older versions of the same package are no longer needed.
    find "$srcroot" -mindepth 1 -maxdepth 1 -type d -name "${pkg}_*" ! -name "${pkg}_$version" \
      -exec rm -rf {} +
  fi
  echo "$dest/tree"
}

src7=$(fetch_source 7zip "$v7zip")
srcrar=$(fetch_source unrar-nonfree "$vunrar")

# --- build ------------------------------------------------------------------

jobs=$(nproc 2>/dev/null || echo 2)
rm -rf "$stage" "$work"
mkdir -p "$stage/licences" "$work"

run_logged() {
  local what=$1 log=$2; shift 2
  local start=$SECONDS
  if ! "$@" >"$log" 2>&1; then
    grep -E 'error|Error' "$log" | head -20 >&2 || true
    tail -20 "$log" >&2
    die "$what failed (full log: $log)"
  fi
  note "$what: done in $((SECONDS - start)) s"
}

# 7za.dll. 7-Zip has only an nmake makefile for this bundle; ours goes beside it.
bundle=$src7/CPP/7zip/Bundles/Format7z
[ -d "$bundle" ] || die "$bundle not found in the 7zip source package"
cmp -s "$support/Format7z.makefile.gcc" "$bundle/makefile.gcc" \
  || cp "$support/Format7z.makefile.gcc" "$bundle/makefile.gcc"
sevenzip_args=(IS_MINGW=1 MSYSTEM=1 "CC=$CC" "CXX=$CXX" "RC=$RC"
  DEB_7Z_CFLAGS= DEB_7Z_CXXFLAGS= DEB_7Z_CPPFLAGS= DEB_7Z_LDFLAGS=)
if [ "$arch" = i686 ]; then
  # The .def names the stdcall exports undecorated.
  sevenzip_args+=(LDFLAGS_STATIC_3=-Wl,--enable-stdcall-fixup)
else
  sevenzip_args+=(IS_X64=1)
fi
note "building 7za.dll ($arch, 7zip $v7zip)"
run_logged "7za.dll" "$cache/build-7za-$arch.log" \
  make -C "$bundle" -f makefile.gcc -j"$jobs" "O=$work/7zip" "${sevenzip_args[@]}"
"$STRIP" -o "$stage/7za.dll" "$work/7zip/7za.dll"

# 7z.dll: the all-format bundle has a makefile for GNU make of its own.
bundle=$src7/CPP/7zip/Bundles/Format7zF
[ -f "$bundle/makefile.gcc" ] || die "$bundle/makefile.gcc not found in the 7zip source package"
note "building 7z.dll ($arch, 7zip $v7zip)"
run_logged "7z.dll" "$cache/build-7z-$arch.log" \
  make -C "$bundle" -f makefile.gcc -j"$jobs" "O=$work/7zipf" "${sevenzip_args[@]}" DISABLE_RAR=1
"$STRIP" -o "$stage/7z.dll" "$work/7zipf/7z.dll"

# 7zCon.sfx: the console self-extractor bundle has a makefile for GNU make of
# its own; it links to 7zCon.exe.
bundle=$src7/CPP/7zip/Bundles/SFXCon
[ -f "$bundle/makefile.gcc" ] || die "$bundle/makefile.gcc not found in the 7zip source package"
note "building 7zCon.sfx ($arch, 7zip $v7zip)"
run_logged "7zCon.sfx" "$cache/build-sfx-$arch.log" \
  make -C "$bundle" -f makefile.gcc -j"$jobs" "O=$work/sfxcon" "${sevenzip_args[@]}"
"$STRIP" -o "$stage/7zCon.sfx" "$work/sfxcon/7zCon.exe"

# unrar.dll: the sources that UnRAR's own DLL project compiles (rarpch.cpp
# only makes the precompiled header).
[ -f "$srcrar/UnRARDll.vcxproj" ] || die "UnRARDll.vcxproj not found in the unrar-nonfree source package"
rar_srcs=$(grep -o 'ClCompile Include="[^"]*"' "$srcrar/UnRARDll.vcxproj" \
  | sed 's/^ClCompile Include="//; s/"$//' | grep -vx 'rarpch.cpp' | tr '\n' ' ')
[ -n "$rar_srcs" ] || die "no sources listed in UnRARDll.vcxproj"
for f in $rar_srcs; do
  [ -f "$srcrar/$f" ] || die "UnRARDll.vcxproj lists $f, which is not in the source"
done
unrar_args=("SRC=$srcrar" "O=$work/unrar" "SUPPORT=$support/unrar" "SRCS=$rar_srcs"
  "CXX=$CXX" "RC=$RC")
[ "$arch" = i686 ] && unrar_args+=(EXTRA_LDFLAGS=-Wl,--enable-stdcall-fixup)
note "building unrar.dll ($arch, unrar-nonfree $vunrar, $(wc -w <<<"$rar_srcs") sources)"
run_logged "unrar.dll" "$cache/build-unrar-$arch.log" \
  make -f "$support/unrar.makefile" -j"$jobs" "${unrar_args[@]}"
"$STRIP" -o "$stage/unrar.dll" "$work/unrar/unrar.dll"

# Licence texts travel with the DLLs.
cp "$src7/DOC/License.txt" "$stage/licences/7-Zip-License.txt"
cp "$src7/debian/copyright" "$stage/licences/7-Zip-debian-copyright.txt"
cp "$srcrar/license.txt" "$stage/licences/UnRAR-license.txt"
cp "$srcrar/debian/copyright" "$stage/licences/UnRAR-debian-copyright.txt"

why=$(check_folder "$stage") || die "$why"
printf '%s\n' "$stamp" >"$stage/.stamp"

# Swap the finished folder in.
rm -rf "$out.old"
[ -d "$out" ] && mv "$out" "$out.old"
mv "$stage" "$out"
rm -rf "$out.old" "$work"

note "7za.dll $(stat -c %s "$out/7za.dll") bytes, 7z.dll $(stat -c %s "$out/7z.dll") bytes, unrar.dll $(stat -c %s "$out/unrar.dll") bytes, 7zCon.sfx $(stat -c %s "$out/7zCon.sfx") bytes"
echo "$out" >&3
