#!/usr/bin/env bash
# The small drive of the shell tests: a 1 MiB tmpfs mounted under the build
# folder and seen by the test programs as a drive letter of their Wine prefix
# (its dosdevices), so that an archive too big for it, and a disk that fills
# up, can be tried for real. Setup writes the letter ("Q:") into the info
# file, or, where no tmpfs can be mounted (not root, no permission), a line
# "skip: <reason>" with which the tests that need the drive skip; cleanup
# unmounts it and removes the letter.
#
#   small-drive.sh setup|cleanup <build folder> <prefix architecture: win64|win32>
set -u
action=$1
build=$2
arch=$3
mnt=$build/tests/app/small-drive
info=$build/tests/app/small-drive.txt
devices=$build/wineprefix-$arch/dosdevices

case "$action" in
  setup)
    mkdir -p "$mnt"
    if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null; fi
    if ! err=$(mount -t tmpfs -o size=1m tmpfs "$mnt" 2>&1); then
      echo "skip: no small drive: a tmpfs cannot be mounted here ($(head -n 1 <<<"$err"))" >"$info"
      exit 0
    fi
    if [ ! -d "$devices" ]; then
      umount "$mnt"
      echo "skip: no small drive: the Wine prefix ($devices) is not made yet" >"$info"
      exit 0
    fi
    for letter in q r s t u v w x y; do
      link=$devices/$letter:
      if [ ! -e "$link" ] && [ ! -L "$link" ] || [ "$(readlink "$link")" = "$mnt" ]; then
        ln -sfn "$mnt" "$link"
        echo "${letter^^}:" >"$info"
        exit 0
      fi
    done
    umount "$mnt"
    echo "skip: no small drive: no free drive letter in $devices" >"$info"
    ;;
  cleanup)
    if grep -q '^[A-Z]:$' "$info" 2>/dev/null; then
      link=$devices/$(head -c 1 "$info" | tr A-Z a-z):
      [ "$(readlink "$link")" = "$mnt" ] && rm -f "$link"
    fi
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    rm -f "$info"
    ;;
  *) echo "usage: $0 setup|cleanup <build folder> <win64|win32>" >&2; exit 2 ;;
esac
