#!/usr/bin/env bash
# Installs everything Quarn's build and tests need on a Debian 12 machine.
# Idempotent: a second run installs nothing new. Must run as root (or via sudo).
#
# What the 64-bit path needs (the builds of both architectures, 64-bit Wine,
# the peers and fixture makers) must install, or the run fails with apt's
# reason. The 32-bit Wine set is installed on its own afterwards. When apt
# refuses it (on a day when the mirror's i386 security index is missing, say),
# it is tried once more preferring the main archive's versions; when that fails
# too, one line says why, the reason is kept in /var/lib/quarn/wine32-missing.txt
# for the probe in cmake/wine.sh, and the run goes on: the 32-bit Windows programs then
# take the path of a host that cannot run them.
#
# An `apt-get update` that fails on some index is tried again a few times and
# then does not stop the run by itself: what decides is whether the packages
# install.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive
apt_dir=${QUARN_APT_DIR:-/etc/apt}
why32_file=${QUARN_STATE_DIR:-/var/lib/quarn}/wine32-missing.txt
update_tries=${QUARN_APT_UPDATE_TRIES:-3}
update_pause=${QUARN_APT_UPDATE_PAUSE:-5}

PACKAGES=(
  cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev googletest
  wine wine64 xvfb imagemagick python3-xlib
  # The Russian locale below (Wine reads the OEM code page from it).
  locales
  p7zip-full 7zip rar zip unzip python3
  zlib1g-dev clang libclang-rt-14-dev
  dpkg-dev file
  # Keeps the compilers' output between builds and clones.
  ccache
  nsis
  # Makers of the archives of every other kind the tests extract.
  tar gzip bzip2 xz-utils zstd ncompress xorriso gcab cpio rpm wimtools jlha-utils arj
)
PACKAGES32=(
  wine32:i386
  # Wine's bcrypt makes AES keys through GnuTLS (PBKDF2 and HMAC-SHA1 work
  # without it); wine32 only recommends it.
  libgnutls30:i386
)

need_update=0

# The UnRAR library, the rar tool and the engine source packages live in non-free
# and deb-src. Add one sources entry for them, reusing the mirror and keyring of
# the machine's own Debian entry.
extra=$apt_dir/sources.list.d/quarn-nonfree.sources
if [ ! -f "$extra" ]; then
  base=$apt_dir/sources.list.d/debian.sources
  uri=$(awk '/^URIs:/ {print $2; exit}' "$base")
  keyring=$(awk '/^Signed-By:/ {print $2; exit}' "$base")
  [ -n "$uri" ] || { echo "install-deps: no URIs line in $base" >&2; exit 1; }
  # Binary packages: only non-free (main is already listed by the machine).
  # Sources: main (7zip) and non-free (unrar-nonfree).
  {
    echo "Types: deb"
    echo "URIs: $uri"
    echo "Suites: bookworm bookworm-updates"
    echo "Components: non-free"
    [ -n "$keyring" ] && echo "Signed-By: $keyring"
    echo
    echo "Types: deb-src"
    echo "URIs: $uri"
    echo "Suites: bookworm bookworm-updates"
    echo "Components: main non-free"
    [ -n "$keyring" ] && echo "Signed-By: $keyring"
  } > "$extra"
  need_update=1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing_of() {  # package... -> the ones not installed, one a line
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${PACKAGES[@]}")
mapfile -t missing32 < <(missing_of "${PACKAGES32[@]}")

# apt-get update, tried again while some index fails; its last failure is
# only said, the installs below decide.
apt_update() {
  local try out
  for ((try = 1; try <= update_tries; try++)); do
    if out=$(apt-get update -q 2>&1); then return 0; fi
    [ "$try" -lt "$update_tries" ] && sleep "$update_pause"
  done
  echo "install-deps: apt-get update failed $update_tries times; going on with the indexes there are:" >&2
  grep -E '^(E|W|Err):' <<<"$out" | head -n 3 | sed 's/^/  /' >&2
}

if [ ${#missing[@]} -gt 0 ] || [ ${#missing32[@]} -gt 0 ] || [ "$need_update" -eq 1 ]; then
  apt_update
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    echo "install-deps: the packages the build and the 64-bit tests need could not be installed (apt's reason above)" >&2
    exit 1
  fi
fi

# The 32-bit set on its own: without it the 64-bit path runs in full.
install32() {  # [apt-get option...]: installs the 32-bit set, apt's output in $out
  out=$(apt-get install -y -q --no-install-recommends "$@" "${missing32[@]}" 2>&1)
}
# apt's verdict (its last "E:" line, else its last line) and the first
# dependency it could not meet, if it named one. sed, not grep: a refusal
# without such a line must not end the script under pipefail.
refusal() {
  local verdict unmet
  verdict=$(sed -n 's/^E: //p' <<<"$out" | tail -n 1)
  unmet=$(sed -nE '/ : Depends: /{s/^ +//; s/ +/ /g; p; q}' <<<"$out")
  [ -n "$verdict" ] || verdict=$(tail -n 1 <<<"$out")
  printf '%s' "$verdict${unmet:+ (first unmet: $unmet)}"
}
if [ ${#missing32[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing32[*]}"
  installed32=0
  if install32; then
    installed32=1
  else
    # Multi-arch libraries must have the same version on both architectures.
    # When the mirror's i386 security index is missing, the i386 libraries
    # exist only at the main archive's versions while amd64 resolves to the
    # security archive's, and apt refuses. For this one install, the main
    # archive is preferred (a few amd64 libraries move to its versions, one
    # may go back a version); the machine's own preferences are left out.
    echo "install-deps: apt refused ${missing32[*]} ($(refusal)); trying again preferring the main archive's versions"
    prefs=$(mktemp)
    printf '%s\n' 'Package: *' 'Pin: release n=bookworm,l=Debian' 'Pin-Priority: 1001' '' \
      'Package: *' 'Pin: release l=Debian-Security' 'Pin-Priority: 100' >"$prefs"
    install32 -o Dir::Etc::preferences="$prefs" -o Dir::Etc::preferencesparts=/nonexistent --allow-downgrades &&
      installed32=1
    rm -f "$prefs"
  fi
  if [ "$installed32" -eq 1 ]; then
    rm -f "$why32_file"
  else
    why="apt cannot install ${missing32[*]}: $(refusal)"
    echo "install-deps: $why; the 32-bit Windows programs will not run here"
    mkdir -p "$(dirname "$why32_file")"
    printf '%s\n' "$why" >"$why32_file"
  fi
else
  rm -f "$why32_file"
fi

# The zip name tests run a test program with the Russian locale, where Wine's
# OEM code page is 866. Without the locale in the C library Wine still picks
# 866 but reads Unix file names wrongly, so the locale is generated here.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "install-deps: generating the ru_RU.UTF-8 locale"
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
