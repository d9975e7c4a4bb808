#!/usr/bin/env bash
# Installs everything Quarn's build and tests need on a Debian 12 machine.
# Idempotent: a second run installs nothing new. Must run as root (or via sudo).
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev googletest
  wine wine32:i386 wine64 xvfb imagemagick python3-xlib
  # Wine's bcrypt makes AES keys through GnuTLS (PBKDF2 and HMAC-SHA1 work
  # without it); wine32 only recommends it.
  libgnutls30:i386
  # The Russian locale below (Wine reads the OEM code page from it).
  locales
  p7zip-full 7zip rar zip unzip python3
  zlib1g-dev clang libclang-rt-14-dev
  dpkg-dev file
  nsis
  # Makers of the archives of every other kind the tests extract.
  tar gzip bzip2 xz-utils zstd ncompress xorriso gcab cpio rpm wimtools jlha-utils arj
)

need_update=0

# The UnRAR library, the rar tool and the engine source packages live in non-free
# and deb-src. Add one sources entry for them, reusing the mirror and keyring of
# the machine's own Debian entry.
extra=/etc/apt/sources.list.d/quarn-nonfree.sources
if [ ! -f "$extra" ]; then
  base=/etc/apt/sources.list.d/debian.sources
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

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ "$need_update" -eq 1 ]; then
  apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The zip name tests run a test program with the Russian locale, where Wine's
# OEM code page is 866. Without the locale in the C library Wine still picks
# 866 but reads Unix file names wrongly, so the locale is generated here.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "install-deps: generating the ru_RU.UTF-8 locale"
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
