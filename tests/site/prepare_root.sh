#!/usr/bin/env bash
# Makes the Debian 12 root the installed-site test boots, once per machine: a minimal system with
# systemd as its init and the Qt 6 runtime the package pulls in, so that the package installs in
# the booted copy without the network. Kept outside the clone, so that another clone on the same
# machine (CI's) finds it; a key file says what it holds, and a root made for another key is made
# again. Two runs at once: the second waits for the first and then finds it made.
#   prepare_root.sh [CACHE]    (default /var/cache/orvandel-tests/site-root)
set -euo pipefail
cache="${1:-/var/cache/orvandel-tests/site-root}"
suite=bookworm
# A superset of what the package depends on (dpkg-deb -f orvandel_*.deb Depends) and of what the
# test runs inside: sqlite3 for the attacks on the journal, python3 for the false listener,
# adduser for the accounts, mosquitto for the broker the overview reads the instances from.
packages=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6serialport6 libqt6dbus6
  libqt6multimedia6 libqt6websockets6 libqt6httpserver6 libqt6printsupport6 qt6-qpa-plugins
  fonts-liberation2 libmosquitto1 libsqlite3-0 libasound2 libsystemd0 libudev1 sqlite3 adduser
  passwd procps mosquitto)
# The mirror the host's apt uses.
mirror="$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2> /dev/null |
  head -1)"
[ -n "$mirror" ] ||
  mirror="$(awk '$1 == "deb" && $2 !~ /^\[/ {print $2; exit}' /etc/apt/sources.list 2> /dev/null)"
mirror="${mirror:-http://deb.debian.org/debian}"
key="debian $suite minbase systemd systemd-sysv dbus python3 + ${packages[*]}"

mkdir -p "$(dirname "$cache")"
made() { [ -f "$cache/key" ] && [ "$(cat "$cache/key")" = "$key" ]; }
# Shared while it is only looked at, as the tests that boot it hold it; exclusive to make it,
# which waits for them.
exec 9>> "$cache.lock"
flock -s 9
made && { echo "site root: cached in $cache/root"; exit 0; }
flock 9
made && { echo "site root: made meanwhile in $cache/root"; exit 0; }
started=$SECONDS
new="$cache.new"
rm -rf "$new" "$cache"
mkdir -p "$new"
debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,python3 "$suite" "$new/root" \
  "$mirror" > "$new/debootstrap.log" 2>&1 || {
  tail -20 "$new/debootstrap.log"
  echo "site root: debootstrap failed"
  exit 1
}
# No daemon starts in the chroot while packages install there.
printf '#!/bin/sh\nexit 101\n' > "$new/root/usr/sbin/policy-rc.d"
chmod 755 "$new/root/usr/sbin/policy-rc.d"
for fs in proc sys dev; do mount --bind "/$fs" "$new/root/$fs"; done
installed=0
DEBIAN_FRONTEND=noninteractive chroot "$new/root" apt-get install -y --no-install-recommends \
  "${packages[@]}" > "$new/install.log" 2>&1 && installed=1
for fs in dev sys proc; do umount "$new/root/$fs"; done
[ "$installed" -eq 1 ] || {
  tail -20 "$new/install.log"
  echo "site root: installing the runtime failed"
  exit 1
}
rm -f "$new/root/usr/sbin/policy-rc.d"
chroot "$new/root" apt-get clean
# A machine id of its own; the booted copies share it, which nothing here minds.
chroot "$new/root" systemd-machine-id-setup > /dev/null 2>&1 || true
echo "$key" > "$new/key"
mv "$new" "$cache"
echo "site root: made in $cache/root in $((SECONDS - started)) s"
