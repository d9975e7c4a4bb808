#!/usr/bin/env bash
# Makes Quarn's release packages in dist/:
#   Quarn-<version>-win32.zip   the portable 32-bit program (folder Quarn-<version>/)
#   Quarn-<version>-win64.zip   the same for 64-bit Windows
#   Quarn-<version>-setup.exe   the installer of the 32-bit program (NSIS, packaging/quarn.nsi)
#   Quarn-<version>-setup-x64.exe  the 64-bit installer of the 64-bit program
# Each holds quarn.exe, 7za.dll, 7z.dll, unrar.dll, README.txt (packaging/README.txt)
# and licences/ with the licence texts of Quarn and of everything built into it
# or shipped beside it. The version comes from the VERSION file.
#
# Builds what is missing first (scripts/build.sh, scripts/build-engines.sh);
# the tools come from scripts/install-deps.sh. Staging folders live in
# build/package/. Prints the packages with their sizes in bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

die() {
  echo "package: $*" >&2
  exit 1
}

for tool in makensis zip i686-w64-mingw32-strip x86_64-w64-mingw32-strip; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done
version=$(head -n 1 VERSION)
[[ $version =~ ^([0-9]+)\.([0-9]+)$ ]] || die "VERSION holds \"$version\"; expected MAJOR.MINOR"
# The four numbers of Windows version resources: 1.00 -> 1.0.0.0
quad="$((10#${BASH_REMATCH[1]})).$((10#${BASH_REMATCH[2]})).0.0"
name=Quarn-$version
dist=$top/dist
work=$top/build/package
logs=$top/build/package-logs
mkdir -p "$dist" "$logs"

# Runs a step with its output in a log, shown only when the step fails.
quietly() {  # log command...
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; die "failed: $* (log: $log)"; }
}

# A text file for Windows: CR LF line ends.
dos_text() {  # source target
  sed -e 's/\r$//' -e 's/$/\r/' "$1" >"$2"
}

# Fills stage/<name>/ with the program for one architecture.
stage() {  # arch mingw-triplet debian-arch-name
  local arch=$1 triplet=$2 debarch=$3 engines folder f deflate
  quietly "$logs/engines-$arch.log" scripts/build-engines.sh "$arch"
  engines=$(tail -n 1 "$logs/engines-$arch.log")
  [ -f "$engines/7za.dll" ] && [ -f "$engines/7z.dll" ] && [ -f "$engines/unrar.dll" ] || die "no engine DLLs in $engines"
  quietly "$logs/build-$arch.log" scripts/build.sh "$arch"
  folder=$work/$arch/$name
  rm -rf "$work/$arch"
  mkdir -p "$folder/licences"
  "$triplet-strip" -o "$folder/quarn.exe" "build/$arch/bin/quarn.exe"
  cp "$engines/7za.dll" "$engines/7z.dll" "$engines/unrar.dll" "$folder/"
  sed "s/@VERSION@/$version/g" packaging/README.txt >"$work/README.txt"
  dos_text "$work/README.txt" "$folder/README.txt"
  dos_text app/res/license.txt "$folder/licences/Quarn-License.txt"
  for f in "$engines"/licences/*.txt; do dos_text "$f" "$folder/licences/${f##*/}"; done
  # 7-Zip's licence names the GNU LGPL 2.1, whose full text goes with it.
  dos_text /usr/share/common-licenses/LGPL-2.1 "$folder/licences/LGPL-2.1.txt"
  dos_text /usr/share/doc/libz-mingw-w64/copyright "$folder/licences/zlib-copyright.txt"
  # libdeflate (MIT), built into quarn.exe: the build script prints its folder.
  deflate=$(scripts/build-deflate.sh "$arch" 2>/dev/null)
  [ -f "$deflate/COPYING" ] || die "no libdeflate licence in $deflate"
  dos_text "$deflate/COPYING" "$folder/licences/libdeflate-COPYING.txt"
  # winpthreads and the start-up code of the MinGW-w64 runtime are in quarn.exe.
  dos_text "/usr/share/doc/mingw-w64-$debarch-dev/copyright" "$folder/licences/MinGW-w64-runtime-copyright.txt"
}

# The kinds Quarn extracts, one extension a line in packaging/kinds.txt, as
# the macro QuarnForEachKind, which inserts a given macro once for each: the
# installer registers "Open with" and its Explorer verbs for them.
nsis_kinds() {
  local ext
  echo "; Made by scripts/package.sh from packaging/kinds.txt."
  echo "!macro QuarnForEachKind Action"
  while IFS= read -r ext || [ -n "$ext" ]; do
    ext=${ext%$'\r'}
    [ -n "$ext" ] || continue
    [[ $ext =~ ^\.[A-Za-z0-9]+$ ]] || die "packaging/kinds.txt: \"$ext\" is not an extension such as .zip"
    echo "  !insertmacro \${Action} \"$ext\""
  done <packaging/kinds.txt
  echo "!macroend"
}

# Zips a staged folder, its name as the top folder of the archive.
pack() {  # arch zip-name
  local out=$dist/$2
  rm -f "$out"
  (cd "$work/$1" && zip -q -X -9 -r "$out" "$name")
}

# A path below the install folder as NSIS writes it: "" or "\a\b".
below() { [ -z "$1" ] || printf '\\%s' "${1//\//\\}"; }

# The installer's file list, written from the staged folder: the macro
# QuarnInstallFiles installs every file, QuarnRemoveFiles removes them and then
# the folders, the deepest first.
nsis_files() {  # folder
  local folder=$1 dir file i
  local -a dirs
  mapfile -t dirs < <(cd "$folder" && find . -type d -printf '%P\n' | sort)
  files_in() { find "$folder/$1" -mindepth 1 -maxdepth 1 -type f -printf '%f\n' | sort; }
  echo "; Made by scripts/package.sh from the files of $name."
  echo "!macro QuarnInstallFiles"
  for dir in "${dirs[@]}"; do
    echo "  SetOutPath \"\$INSTDIR$(below "$dir")\""
    while IFS= read -r file; do
      echo "  File \"$folder/${dir:+$dir/}$file\""
    done < <(files_in "$dir")
  done
  echo "!macroend"
  echo "!macro QuarnRemoveFiles"
  for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do
    dir=${dirs[i]}
    while IFS= read -r file; do
      echo "  Delete \"\$INSTDIR$(below "${dir:+$dir/}$file")\""
    done < <(files_in "$dir")
    [ -z "$dir" ] || echo "  RMDir \"\$INSTDIR$(below "$dir")\""
  done
  echo "!macroend"
}

stage i686 i686-w64-mingw32 i686
stage x86_64 x86_64-w64-mingw32 x86-64
pack i686 "$name-win32.zip"
pack x86_64 "$name-win64.zip"

# One installer per architecture, each of the files staged for it.
nsis_kinds >"$work/kinds.nsh"
installer() {  # arch setup-name makensis-options...
  local arch=$1 out=$dist/$2
  shift 2
  nsis_files "$work/$arch/$name" >"$work/files-$arch.nsh"
  rm -f "$out"
  quietly "$logs/makensis-$arch.log" makensis -V2 -NOCD "$@" \
    "-DVERSION=$version" "-DVERSION_QUAD=$quad" "-DSTAGE=$work/$arch/$name" \
    "-DFILES=$work/files-$arch.nsh" "-DKINDS=$work/kinds.nsh" "-DICON=$top/build/i686/app/res/quarn.ico" \
    "-DOUTFILE=$out" packaging/quarn.nsi
}
installer i686 "$name-setup.exe"
installer x86_64 "$name-setup-x64.exe" -DX64

for f in "$name-win32.zip" "$name-win64.zip" "$name-setup.exe" "$name-setup-x64.exe"; do
  printf '%-26s %9d bytes\n' "$f" "$(stat -c %s "$dist/$f")"
done
