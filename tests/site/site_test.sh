#!/usr/bin/env bash
# The site as a building runs it: the package built from this tree installed with apt in a
# Debian 12 booted with systemd as its init (systemd-nspawn, an ephemeral copy of a cached root),
# the simulator on a pseudo-terminal of the service's user, and real accounts: an operator in
# orvandel-operators, a dialout-only user, a user in no group. Each case says PASS or FAIL; the
# last line counts them. Skipped (77) only where it cannot run: not root, or no systemd-nspawn.
#   site_test.sh BUILD_DIR WINDOW_PROBE [CACHE]
set -uo pipefail
build="$1"
probe="$2"
cache="${3:-${ORV_SITE_ROOT_CACHE:-/var/cache/orvandel-tests/site-root}}"
here="$(cd "$(dirname "$0")" && pwd)"
[ "$(id -u)" -eq 0 ] ||
  { echo "SKIP: the installed-site test boots a container: run as root"; exit 77; }
command -v systemd-nspawn > /dev/null ||
  { echo "SKIP: no systemd-nspawn (apt-get install systemd-container)"; exit 77; }
started=$SECONDS
work="$(mktemp -d /var/tmp/orv-site-test.XXXXXX)"
nspawn_pid=""
init=""
teardown() {
  # Powered off at once from inside (the container's init ends), so that systemd-nspawn removes
  # its copy; killed only when it does not end.
  if [ -n "$init" ]; then
    timeout 10 nsenter -t "$init" -a systemctl poweroff --force --force > /dev/null 2>&1
  fi
  if [ -n "$nspawn_pid" ]; then
    kill "$nspawn_pid" 2> /dev/null
    for _ in $(seq 150); do kill -0 "$nspawn_pid" 2> /dev/null || break; sleep 0.2; done
    kill -KILL "$nspawn_pid" 2> /dev/null
  fi
  # What ran inside from here (the simulator, a window) ended with the container; its waiting
  # here ends too.
  local job
  for job in $(jobs -p); do kill "$job" 2> /dev/null; done
  rm -rf "$work"
}
trap teardown EXIT
trap 'exit 130' INT TERM
# The whole test is bounded: after six and a half minutes it ends (each step it may be in is
# bounded too) and tears the container down, before ctest's own limit would kill it without.
# Said on the test's own output, also from inside a case whose output goes to its log.
exec 3>&1
trap 'echo "FAIL: the test ran out of its time ($pass passed, $failed failed by then)" >&3
  exit 1' USR1
mkfifo "$work/never"
(read -rt 390 <> "$work/never"; kill -USR1 $$) &

pass=0
failed=0
# run_case NAME FUNCTION: one case, its PASS or FAIL line; a failure shows what the case saw.
run_case() {
  local name="$1" log="$work/case.log"
  shift
  if (( SECONDS - started > 360 )); then
    echo "FAIL: $name (not run: the test's time is up)"
    failed=$((failed + 1))
    return
  fi
  if "$@" > "$log" 2>&1; then
    echo "PASS: $name"
    # ORV_SITE_VERBOSE=1: what a passing case saw too.
    [ -z "${ORV_SITE_VERBOSE:-}" ] || sed 's/^/    /' "$log" | tail -40
    pass=$((pass + 1))
  else
    echo "FAIL: $name"
    sed 's/^/    /' "$log" | tail -40
    # What systemd last did to the services (a watchdog's kill, a crash's signal, an exit's
    # status): a case that fails because a service died says so.
    inside journalctl --no-pager -o short-precise _PID=1 2> /dev/null |
      grep -E 'orvandel[^ ]*\.service: (Main process exited|Watchdog timeout|Failed with|Killing)' |
      tail -6 | sed 's/^/    systemd: /'
    failed=$((failed + 1))
  fi
}
# want WHAT COMMAND...: the command succeeds, or the case says what was not so.
want() {
  local what="$1"
  shift
  "$@" || { echo "not so: $what"; return 1; }
}

# Inside the booted system: as root (inside), as a user with their groups (as USER), each bounded.
inside() {
  timeout -k 2 "${limit:-30}" nsenter -t "$init" -a env -i \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}
as() {
  local user="$1"
  shift
  inside setpriv --reuid "$user" --regid "$(inside id -g "$user")" --init-groups \
    env HOME=/tmp USER="$user" QT_QPA_PLATFORM=offscreen "$@"
}

echo "== the package"
# ORV_SITE_DEB=FILE: that package instead of one made from the build (a release's, say).
deb="${ORV_SITE_DEB:-}"
if [ -z "$deb" ]; then
  (cd "$build" && timeout 120 cpack -G DEB -B "$work/pkg" > "$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
  deb="$(ls "$work"/pkg/orvandel_*.deb)"
fi
# The same package with a higher version, for the upgrade, as apt would get it.
dpkg-deb -R "$deb" "$work/next"
version="$(dpkg-deb -f "$deb" Version)"
sed -i "s/^Version: .*/Version: $version+site1/" "$work/next/DEBIAN/control"
mkdir -m 0755 "$work/in"
cp "$deb" "$work/in/orvandel.deb"
dpkg-deb -b "$work/next" "$work/in/orvandel-next.deb" > /dev/null
cp "$probe" "$work/in/window-probe"
cp "$here/false_listener.py" "$here/attack.py" "$here/attack_local.py" "$work/in/"
chmod -R a+rX "$work/in"

echo "== the root"
bash "$here/prepare_root.sh" "$cache" || { echo "FAIL: the root could not be made"; exit 1; }
# Held while the copy boots from it: a preparation for another key waits.
exec 8< "$cache.lock"
flock -s 8

echo "== booting"
machine="orvsite$$"
# No network inside: the package installs from what the cached root holds, as on a closed site.
systemd-nspawn -D "$cache/root" --ephemeral --boot --register=no --keep-unit -M "$machine" \
  --console=passive --private-network --bind-ro="$work/in:/mnt/in" > "$work/nspawn.log" 2>&1 &
nspawn_pid=$!
for _ in $(seq 100); do
  init="$(cat "/proc/$nspawn_pid/task/$nspawn_pid/children" 2> /dev/null | awk '{print $1}')"
  [ -n "$init" ] && [ "$(readlink "/proc/$init/exe" 2> /dev/null)" = /usr/lib/systemd/systemd ] &&
    break
  init=""
  sleep 0.1
done
[ -n "$init" ] || { cat "$work/nspawn.log"; echo "FAIL: the container did not start"; exit 1; }
# Until its bus is up, systemctl cannot ask; then it waits for the boot's end.
state=""
for _ in $(seq 100); do
  state="$(limit=60 inside systemctl is-system-running --wait 2> /dev/null)"
  [ -n "$state" ] && break
  sleep 0.2
done
echo "booted in $((SECONDS - started)) s: $state"
case "$state" in
  running | degraded) ;;
  *) cat "$work/nspawn.log"; echo "FAIL: the container did not boot"; exit 1 ;;
esac

source "$here/site_cases.sh"
source "$here/attack_cases.sh"
source "$here/notify_cases.sh"
source "$here/ctl_cases.sh"
source "$here/instances_cases.sh"
source "$here/overview_cases.sh"
source "$here/logs_cases.sh"
source "$here/settings_cases.sh"
source "$here/handover_cases.sh"
run_case "upgrade: journal and chain, event log, users and settings kept, running again" upgrade
attack_case "the journal rechained before a stop: the stop does not anchor it" journal_rechain
attack_case "the journal's moved-aside copy deleted: seen" journal_moved_aside
attack_case "the journal unlinked: said and recorded within a minute, written on" \
  journal_unlinked
attack_case "the journal replaced: said and recorded within a minute, written on" \
  journal_replaced
# Last before the purge: a watchdog's kill leaves the simulator's pseudo-terminal exclusive (it
# holds the other side open, so the service's exclusive mode is never cleared), and the line
# cannot be opened again.
run_case "restart: ready again, the window attaches again; the watchdog restarts a hung tick" \
  restart_and_watchdog
run_case "purge: says what it removes and keeps; the records stay" purge
echo "== $pass passed, $failed failed, $not_yet_run not yet run ($((SECONDS - started)) s)"
[ "$failed" -eq 0 ]
