#!/bin/sh
# How heavy the set-up is: two sides' tools/install-deps, each run as root in
# a fresh Debian 12 chroot of its own (one debootstrap --variant=minbase,
# copied), both started at once on this machine, side by side. Prints each
# side's wall time, what apt fetched and how much it installed, and the ratio.
#
#   bench/setup_time.sh OLD NEW
#
# OLD and NEW are each REV[:ARGS]: tools/install-deps as git revision REV has
# it ("." for the working tree), run with ARGS (spaces as commas), e.g.
#   bench/setup_time.sh a15ea3a .            the set before the split against building and running
#   bench/setup_time.sh .:--tests .          everything the tests need against building and running
# Needs root, debootstrap and about 8 GB under ${TMPDIR:-/var/tmp}; the chroots
# are removed at the end (their logs are printed first).
set -eu
[ $# -eq 2 ] || { echo "usage: bench/setup_time.sh OLD NEW   (each REV[:ARGS])" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "setup_time: chroots need root" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "setup_time: debootstrap is missing (apt install debootstrap)" >&2; exit 1; }
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/var/tmp}/quellora-setup-time.XXXXXX")

cleanup() {
  for side in old new; do
    for fs in sys proc; do
      if mountpoint -q "$work/$side/$fs" 2>/dev/null; then umount "$work/$side/$fs"; fi
    done
  done
  # Only once nothing is mounted below it.
  if ! grep -q " $work/" /proc/mounts; then rm -rf "$work"; fi
}
trap cleanup EXIT INT TERM

script_of() {  # REV -> the install-deps of that revision on stdout
  if [ "$1" = "." ]; then cat "$repo/tools/install-deps"; else git -C "$repo" show "$1:tools/install-deps"; fi
}

start=$(date +%s)
debootstrap --variant=minbase bookworm "$work/base" http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
echo "setup_time: one minimal Debian 12 in $(( $(date +%s) - start )) s; copying it for each side"
for side in old new; do
  cp -a "$work/base" "$work/$side"
  # No service starts inside a chroot.
  printf '#!/bin/sh\nexit 101\n' >"$work/$side/usr/sbin/policy-rc.d"
  chmod 755 "$work/$side/usr/sbin/policy-rc.d"
  mount -t proc proc "$work/$side/proc"
  mount -t sysfs sysfs "$work/$side/sys"
done
rm -rf "$work/base"

run_side() {  # side spec
  rev=${2%%:*}
  args=""
  case "$2" in *:*) args=$(echo "${2#*:}" | tr , ' ') ;; esac
  script_of "$rev" >"$work/$1/root/install-deps"
  t0=$(date +%s.%N)
  # shellcheck disable=SC2086 # ARGS are words
  if chroot "$work/$1" /bin/sh /root/install-deps $args >"$work/$1.log" 2>&1; then rc=0; else rc=$?; fi
  t1=$(date +%s.%N)
  echo "$rc $(awk "BEGIN { print $t1 - $t0 }")" >"$work/$1.result"
}

echo "setup_time: both installs start now: old = $1, new = $2"
run_side old "$1" &
run_side new "$2" &
wait

for side in old new; do
  read -r rc seconds <"$work/$side.result"
  fetched=$(grep -o 'Need to get [^ ]* [kMG]B' "$work/$side.log" | tail -n 1 | sed 's/Need to get //')
  disk=$(grep -o 'After this operation, [^ ]* [kMG]B' "$work/$side.log" | tail -n 1 | sed 's/After this operation, //')
  count=$(grep -o '[0-9]* newly installed' "$work/$side.log" | tail -n 1)
  printf 'setup_time: %-3s %7.1f s, exit %s: %s, fetched %s, %s more on disk\n' "$side" "$seconds" "$rc" \
    "${count:-?}" "${fetched:-?}" "${disk:-?}"
  if [ "$rc" -ne 0 ]; then tail -n 15 "$work/$side.log" | sed "s/^/  $side: /"; fi
  eval "seconds_$side=$seconds"
done
# shellcheck disable=SC2154 # set by the eval above
echo "setup_time: new/old = $(awk "BEGIN { printf \"%.2f\", $seconds_new / $seconds_old }")"
