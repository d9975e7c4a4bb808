#!/usr/bin/env bash
# scripts/install-deps.sh on a day when one apt index cannot be fetched and apt
# refuses the i386 packages as it resolves by default (in each of the ways apt
# words a refusal), then either refuses them again or accepts them when the
# main archive is preferred. apt-get, dpkg, dpkg-query, locale and id are
# stand-ins first on PATH, the apt folder and the state folder are temporary:
# nothing on this machine is touched and no root is needed. Prints one line per
# case and ends with "N passed, N failed".
set -uo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tries=3
# The two package sets, as the script names them.
PACKAGES=() PACKAGES32=()
eval "$(sed -n '/^PACKAGES=(/,/^)/p; /^PACKAGES32=(/,/^)/p' "$script")"
[ ${#PACKAGES[@]} -gt 0 ] && [ ${#PACKAGES32[@]} -gt 0 ] || { echo "FAIL no package sets in $script"; echo "0 passed, 1 failed"; exit 1; }

mkdir "$work/bin"
stand_in() { printf '#!/bin/bash\ns=$FAKE_STATE\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stand_in id 'echo 0'
stand_in locale 'printf "C.utf8\nru_RU.utf8\n"'
stand_in dpkg 'case $1 in --print-foreign-architectures) cat "$s/arches";; --add-architecture) echo "$2" >>"$s/arches";; *) exit 2;; esac'
stand_in dpkg-query 'grep -qxF -- "${!#}" "$s/installed" && printf "install ok installed" ||
  { echo "dpkg-query: no packages found matching ${!#}" >&2; exit 1; }'
stand_in apt-get 'if [ "$1" = update ]; then
  echo update >>"$s/calls"
  echo "Err:7 http://mirror.example/debian-security bookworm-security/main i386 Packages"
  echo "E: Failed to fetch http://mirror.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (61016 != 60960). Mirror sync in progress?" >&2
  exit 100
fi
shift; pkgs=() prefs= downgrades=0
for ((i = 1; i <= $#; i++)); do
  a=${!i}
  if [ "$a" = -o ]; then i=$((i + 1)); b=${!i}; [[ $b == Dir::Etc::preferences=* ]] && prefs=${b#*=}
  elif [ "$a" = --allow-downgrades ]; then downgrades=1
  elif [[ $a != -* ]]; then pkgs+=("$a"); fi
done
# The main archive preferred over the security archive, downgrades allowed: the
# i386 set resolves then (when FAKE_MAIN_OK is set).
main_first=
[ -n "$prefs" ] && [ "$downgrades" = 1 ] && grep -qx "Pin: release n=bookworm,l=Debian" "$prefs" && main_first=" preferring main"
echo "install ${pkgs[*]}$main_first" >>"$s/calls"
for p in "${pkgs[@]}"; do
  if [[ $p == *:i386 ]]; then [ -n "$FAKE_MAIN_OK" ] && [ -n "$main_first" ] && continue
  elif [ "$p" != "$FAKE_REFUSE" ]; then continue; fi
  printf "%s\n" "${FAKE_REFUSAL//@/$p}" | grep -v "^E:"
  printf "%s\n" "${FAKE_REFUSAL//@/$p}" | grep "^E:" >&2
  exit 100
done
printf "%s\n" "${pkgs[@]}" >>"$s/installed"'

machine() {  # name: a fresh machine with one Debian sources entry
  s=$work/$1; rm -rf "$s"
  mkdir -p "$s/apt/sources.list.d" "$s/state"
  : >"$s/installed"; : >"$s/arches"
  printf 'Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    >"$s/apt/sources.list.d/debian.sources"
}
# The ways apt words its refusal of a package (@): with the dependency it
# cannot meet, or with its verdict alone.
refusals=(
  $'Some packages could not be installed. This may mean that you have requested an impossible situation.\nThe following packages have unmet dependencies:\n @ : Depends: libssl3 (= 3.0.11-1~deb12u2) but it is not going to be installed\nE: Unable to correct problems, you have held broken packages.'
  'E: Unable to locate package @'
  "E: Package '@' has no installation candidate"
  'E: Unable to correct problems, you have held broken packages.'
)
refusal=${refusals[0]} main_ok=
install_deps() {  # [package apt refuses]: the script on machine $s; sets rc
  : >"$s/calls"
  PATH=$work/bin:$PATH FAKE_STATE=$s FAKE_REFUSE=${1:-} FAKE_REFUSAL=$refusal FAKE_MAIN_OK=$main_ok \
    QUARN_APT_DIR=$s/apt QUARN_STATE_DIR=$s/state \
    QUARN_APT_UPDATE_TRIES=$tries QUARN_APT_UPDATE_PAUSE=0 bash "$script" >"$s/out" 2>&1
  rc=$?
}
passed=0 failed=0
verdict() {  # name: PASS when no check complained
  if [ ${#bad[@]} -eq 0 ]; then echo "PASS $1"; passed=$((passed + 1)); return; fi
  echo "FAIL $1: $(IFS=';'; echo "${bad[*]}")"; sed 's/^/  | /' "$s/out"; failed=$((failed + 1))
}
no() { bad+=("$1"); }
retried() {  # the 32-bit set was asked for once more, preferring the main archive, and said so
  [ "$(grep -cxF "install ${PACKAGES32[*]} preferring main" "$s/calls")" -eq 1 ] || no "no retry preferring the main archive"
  [ "$(grep -c '^install-deps: .*trying again' "$s/out")" -eq 1 ] || no "the retry not said in one line"
}

for refusal in "${refusals[@]}"; do
  bad=(); machine i386; install_deps
  why=$(cat "$s/state/wine32-missing.txt" 2>/dev/null)
  said=${refusal//@/${PACKAGES32[0]}}
  [ "$rc" -eq 0 ] || no "exit $rc"
  missing=(); for p in "${PACKAGES[@]}"; do grep -qxF "$p" "$s/installed" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] || no "not installed: ${missing[*]}"
  ! grep -q ':i386$' "$s/installed" || no "an i386 package was installed"
  grep -qx i386 "$s/arches" || no "the i386 architecture was not added"
  [ "$(grep -cx update "$s/calls")" -eq "$tries" ] || no "apt-get update run $(grep -cx update "$s/calls") times, not $tries"
  retried
  [[ $why == "apt cannot install ${PACKAGES32[*]}: $(sed -n 's/^E: //p' <<<"$said")"* ]] || no "kept reason: '$why'"
  [[ $said != *Depends:* || $why == *"${PACKAGES32[0]} : Depends: libssl3"* ]] || no "no unmet dependency in '$why'"
  [ "$(grep -c '^install-deps: apt cannot install' "$s/out")" -eq 1 ] &&
    grep -qxF "install-deps: $why; the 32-bit Windows programs will not run here" "$s/out" || no "the one line"
  verdict "installs_the_64bit_set_when_apt_refuses_i386 ($(grep -m 1 -o '[^ ].* : Depends: [^ ]*' <<<"$said" || tail -n 1 <<<"$said"))"
done

bad=(); install_deps
[ "$rc" -eq 0 ] || no "exit $rc"
! grep '^install ' "$s/calls" | grep -vxE "install ${PACKAGES32[*]}( preferring main)?" >/dev/null ||
  no "installed again: $(grep '^install ' "$s/calls" | tr '\n' ' ')"
[ "$(cat "$s/state/wine32-missing.txt" 2>/dev/null)" = "$why" ] || no "the reason was not kept"
verdict a_second_run_installs_nothing_new

bad=(); machine main; echo "an earlier day's reason" >"$s/state/wine32-missing.txt"; main_ok=1; install_deps
[ "$rc" -eq 0 ] || no "exit $rc"
retried
for p in "${PACKAGES32[@]}"; do grep -qxF "$p" "$s/installed" || no "$p not installed"; done
[ ! -e "$s/state/wine32-missing.txt" ] && ! grep -q 'apt cannot install' "$s/out" || no "a reason was kept"
install_deps; main_ok=
! grep -q '^install ' "$s/calls" || no "a second run installed $(grep '^install ' "$s/calls" | tr '\n' ' ')"
verdict installs_i386_preferring_the_main_archive_when_refused_otherwise

bad=(); machine refused; refused=${PACKAGES[-1]}; refusal=${refusals[0]}; install_deps "$refused"
[ "$rc" -ne 0 ] || no "exit 0"
grep -qF " $refused : Depends: libssl3" "$s/out" && grep -qF "E: Unable to correct problems" "$s/out" || no "apt's reason not shown"
! grep -q ':i386' "$s/calls" || no "went on to the i386 set"
verdict fails_when_apt_refuses_a_64bit_package

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
