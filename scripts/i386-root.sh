#!/usr/bin/env bash
# A pure i386 Debian 12 userland with 32-bit Wine, for running the i686
# build where the distribution's multiarch packages cannot be installed
# (the i386 index of the security suite lags behind its amd64 twin, and the
# i386 libraries then cannot match their security-updated amd64 versions).
# A userland of one architecture has no such skew. It is made once and kept
# outside the tree (NUVA_I386_ROOT, default /var/cache/nuva/i386), and the
# programs in it run natively on a kernel that runs 32-bit programs.
#
#   scripts/i386-root.sh path              prints the folder
#   scripts/i386-root.sh ensure            makes it when missing (about 1.5 min)
#   scripts/i386-root.sh mount DIR...      binds /proc, /sys, /dev, /tmp and
#                                          each DIR at the same path inside
#   scripts/i386-root.sh umount            undoes every mount under the folder
#   scripts/i386-root.sh run CMD ARG...    runs CMD inside, in the current
#                                          directory (which must be mounted)
#
# Needs root. The mounts are the caller's to undo: scripts/test.sh does it on
# every way out, an interrupted run included.
set -euo pipefail

root=${NUVA_I386_ROOT:-/var/cache/nuva/i386}

# The Debian mirror the host's own apt uses, so that the userland comes
# from wherever this machine is allowed to fetch packages.
mirror() {
  local uri
  uri=$(grep -hsE '^\s*URIs:\s*\S+/debian/?\s*$' /etc/apt/sources.list.d/*.sources | head -1 | awk '{print $2}')
  [ -n "$uri" ] || uri=$(grep -hsE '^\s*deb\s+\S+/debian/?\s+bookworm\s' /etc/apt/sources.list | head -1 | awk '{print $2}')
  echo "${uri:-http://deb.debian.org/debian}"
}

ensure() {
  [ -f "$root/.complete" ] && return 0
  command -v debootstrap >/dev/null || {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  }
  mkdir -p "$(dirname "$root")"
  # One maker at a time; a second run waits and then finds it made.
  exec 9>"$root.lock"
  flock 9
  [ -f "$root/.complete" ] && return 0
  undo_mounts
  rm -rf "$root"
  local m
  m=$(mirror)
  echo "i386 userland: debootstrap from $m into $root"
  debootstrap --arch=i386 --variant=minbase bookworm "$root" "$m" >"$root.log" 2>&1 ||
    { echo "debootstrap failed: see $root.log"; tail -5 "$root.log"; return 1; }
  # bookworm and bookworm-updates only: the security suite's i386 index is
  # the part that goes missing, and nothing here faces the network.
  printf 'deb %s bookworm main\ndeb %s bookworm-updates main\n' "$m" "$m" >"$root/etc/apt/sources.list"
  mount_system
  local rc=0
  chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive sh -c \
    'apt-get update -qq && apt-get install -y -qq --no-install-recommends wine wine32 libwine' \
    >>"$root.log" 2>&1 || rc=$?
  undo_mounts
  if [ $rc != 0 ] || [ ! -x "$root/usr/lib/wine/wine" ]; then
    echo "installing 32-bit Wine in the i386 userland failed (exit $rc): see $root.log"
    tail -5 "$root.log"
    return 1
  fi
  chroot "$root" apt-get clean >/dev/null 2>&1 || true
  touch "$root/.complete"
}

bind() {  # bind SRC: SRC at the same path inside, as spelt and as resolved
  local src target
  src=$(cd "$1" && pwd -P) || return 1
  for target in "$src" "$(realpath -s "$1")"; do
    mkdir -p "$root$target"
    mountpoint -q "$root$target" || mount --bind "$src" "$root$target"
  done
}

mount_system() {
  mkdir -p "$root/proc" "$root/sys" "$root/dev"
  mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
  mountpoint -q "$root/sys" || mount --rbind /sys "$root/sys"
  if ! mountpoint -q "$root/dev"; then
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
  fi
  # Name resolution is not needed for the tests, but apt inside wants it.
  cp -f /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

undo_mounts() {
  [ -d "$root" ] || return 0
  # Deepest first; lazily, so that a process still holding a file cannot
  # keep a mount behind.
  local m
  for m in $(awk -v r="$root" '$2 == r || index($2, r "/") == 1 {print $2}' /proc/self/mounts | sort -r); do
    umount -l "$m" 2>/dev/null || true
  done
}

case "${1:-}" in
  path) echo "$root" ;;
  ensure) ensure ;;
  mount)
    shift
    [ -f "$root/.complete" ] || { echo "no i386 userland at $root"; exit 1; }
    mount_system
    bind /tmp
    for d in "$@"; do bind "$d"; done
    ;;
  umount) undo_mounts ;;
  run)
    shift
    exec chroot "$root" /bin/sh -c 'cd "$0" && exec "$@"' "$(pwd -P)" "$@"
    ;;
  *) sed -n '2,20p' "$0"; exit 2 ;;
esac
