#!/usr/bin/env bash
# Installs the Debian package with apt, dependencies from the archive, into a throwaway Debian 12 root
# made with mmdebstrap, and runs in_root.sh there. The root is removed on every exit; downloaded
# packages are kept in <work folder>/apt-cache so later runs fetch only what changed.
# Usage: install_test.sh <kovexfuel_*.deb> <work folder>
set -euo pipefail
deb=$(realpath "$1")
mkdir -p "$2"
work=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
root=$work/root
cache=$work/apt-cache

builder=
remove_root() {
  if [ -n "$builder" ]; then kill "$builder" 2>/dev/null || true; wait "$builder" 2>/dev/null || true; fi
  [ -e "$root" ] || return 0
  # Anything still mounted goes first, so removing files never reaches into /proc or /dev.
  findmnt -rn -o TARGET | { grep "^$root/" || true; } | sort -r | while read -r mount; do umount -l "$mount" || true; done
  rm -rf --one-file-system "$root"
}
trap remove_root EXIT
trap 'exit 1' INT TERM HUP
remove_root

command -v mmdebstrap >/dev/null || { echo "FAIL: mmdebstrap is missing, so no Debian root can be made here"; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "FAIL: making a Debian root with chroot needs root"; exit 1; }
mkdir -p "$cache"

name=$(basename "$deb")
# Other packages' documentation and translations are left out: nothing here reads them. dpkg runs
# without syncing each file (eatmydata), which the root, thrown away at the end, has no use for.
mmdebstrap --variant=apt --mode=root --skip=essential/unlink \
  --include=xvfb,xauth,xdotool,man-db \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/kovexfuel/*' \
  --dpkgopt='path-exclude=/usr/share/locale/*' \
  --setup-hook='mkdir -p "$1/var/cache/apt/archives"' \
  --setup-hook="sync-in $cache /var/cache/apt/archives/" \
  --customize-hook="copy-in $deb $here/in_root.sh $here/../find_window.sh /root" \
  --customize-hook="chroot \"\$1\" apt-get install -y -q /root/$name" \
  --customize-hook="sync-out /var/cache/apt/archives $cache" \
  --customize-hook="chroot \"\$1\" bash /root/in_root.sh /root/$name" \
  --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata \
  bookworm "$root" \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main" \
  > "$work/mmdebstrap.log" 2>&1 &
builder=$!
status=0
wait "$builder" || status=$?
builder=
# The in-root checks print their results; the rest of the log only matters when something failed.
grep -E '^(FAIL|ok|[0-9]+ passed)' "$work/mmdebstrap.log" || true
if [ "$status" -ne 0 ]; then
  if grep -q 'customize-hook.*in_root\.sh' "$work/mmdebstrap.log"; then
    echo "FAIL: the checks inside the Debian root failed (log: $work/mmdebstrap.log)"
  else
    tail -n 40 "$work/mmdebstrap.log"
    echo "FAIL: the Debian root could not be made or the package not installed (log: $work/mmdebstrap.log)"
  fi
  exit 1
fi
