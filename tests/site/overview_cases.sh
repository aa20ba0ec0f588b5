# shellcheck shell=bash
# The site's overview as installed: the three instances (a, b, c, on their simulators, still
# running from the instances' cases) publish to the site's mosquitto, and orvandel-overview.service
# serves their tiles on loopback. A fault on one simulator shows on its tile alone; an instance
# killed goes stale while the others stay live; the overview restarts after a crash, cannot write
# where the services keep their records, and refuses to start without a Listen (78).
# Sourced by site_test.sh after the instances' cases (inside, as, want, wait_for, inst_type).

ov_url=http://127.0.0.1:8480/api/overview
ov_saved=/var/tmp/overview-saved
ov_pass=/etc/orvandel/mqtt.pass
# The tiles, one line each: base topic, live or stale, the worst, the web address (- for none).
ov_tiles() {
  inside python3 -c 'import json, sys, urllib.request
for t in json.load(urllib.request.urlopen(sys.argv[1], timeout=5))["tiles"]:
    print(t["base"], "stale" if t["stale"] else "live", t["worst"], t["web"] or "-")' "$ov_url"
}
# ov_tile NAME: the line of instance NAME's tile.
ov_tile() { ov_tiles | grep "^orvandel/$ov_host/$1 "; }
ov_worst() { ov_tile "$1" | cut -d' ' -f3; }
# The three tiles as they should stand: live, with their web addresses (each instance has a web
# panel of its own: b's opens where its Address says, the others' where they listen).
ov_expected() {
  printf 'orvandel/%s/a live http://127.0.0.1:%s/\n' "$ov_host" "$(inst_web_port a)"
  printf 'orvandel/%s/b live https://hall-b.example.org/\n' "$ov_host"
  printf 'orvandel/%s/c live http://127.0.0.1:%s/\n' "$ov_host" "$(inst_web_port c)"
}
ov_all_live() { [ "$(ov_tiles | cut -d' ' -f1,2,4)" = "$(ov_expected)" ]; }
ov_show() { inside systemctl show -P "$1" orvandel-overview; }

overview_up() {
  ov_host="$(inside hostname)"
  inside mkdir -p "$ov_saved" &&
    inside cp /etc/orvandel/orvandel.ini /etc/orvandel/b.ini "$ov_saved/" ||
    return 1
  ov_broker_was="$(inside systemctl is-active mosquitto)"
  limit=30 inside systemctl start mosquitto || return 1
  # The shared file: the broker for the instances and the overview, with a password file as
  # the services take it (root's, group orvandel: why the overview runs as their user), and the
  # overview's page.
  want "the shipped settings have an [Overview] section" \
    inside grep -qx '\[Overview\]' /etc/orvandel/orvandel.ini || return 1
  inside sh -c "printf secret > $ov_pass && chown root:orvandel $ov_pass && chmod 0640 $ov_pass" &&
    inside sed -i \
      -e "/^\[MQTT\]/a Broker=mqtt://127.0.0.1:1883\nUser=overview\nPasswordFile=$ov_pass" \
      -e '/^\[Overview\]/a Listen=127.0.0.1:8480' /etc/orvandel/orvandel.ini || return 1
  inside sed -i '/^\[WebPanel\]/a Address=https://hall-b.example.org/' /etc/orvandel/b.ini ||
    return 1
  # The instances read the settings at their start.
  limit=60 inside systemctl restart orvandel@a orvandel@b orvandel@c orvandel-overview || return 1
  want "the overview shows the three instances live, each with its web address" \
    wait_for 30 ov_all_live || {
    ov_tiles
    inside journalctl -u orvandel-overview --no-pager -o cat | tail -10
    return 1
  }
  ov_tiles
}

# A lamp no other case lights, on c's simulator alone.
overview_fault() {
  local broke=0
  want "no tile shows a fault before it" eval '! ov_tiles | grep -qE " (fault|alarm) "' || return 1
  inst_type c "fault 7 on"
  want "c's tile turns to fault" wait_for 15 eval '[ "$(ov_worst c)" = fault ]' || broke=1
  ov_tiles
  want "and no other tile does" [ "$(ov_tiles | grep -c " fault ")" = 1 ] || broke=1
  inst_type c "fault 7 off"
  [ "$broke" -eq 0 ]
}

overview_stale() {
  local broke=0 restarts pid
  ov_b_stale() {
    [ "$(ov_tiles | cut -d' ' -f1,2 | tr '\n' ' ')" = \
      "orvandel/$ov_host/a live orvandel/$ov_host/b stale orvandel/$ov_host/c live " ]
  }
  # Seen within a second of the kill: the broker sends b's will at once, and b's unit starts it
  # again 3 s later.
  limit=10 inside systemctl kill -s KILL orvandel@b
  want "b's tile goes stale while a and c stay live" wait_for 3 ov_b_stale || broke=1
  ov_tiles
  want "b's tile is live again once its unit restarted it" wait_for 20 ov_all_live || broke=1
  # The overview itself crashes: its unit starts it again, and the tiles come back.
  restarts="$(ov_show NRestarts)"
  pid="$(ov_show MainPID)"
  limit=10 inside systemctl kill -s KILL orvandel-overview
  want "the overview is started again after its crash" wait_for 15 eval \
    '[ "$(ov_show NRestarts)" -gt "$restarts" ] && [ "$(ov_show ActiveState)" = active ] &&
     [ "$(ov_show MainPID)" != "$pid" ]' || broke=1
  want "and serves the three tiles again" wait_for 15 ov_all_live || broke=1
  [ "$broke" -eq 0 ]
}

# Each attempt as the overview's user, once inside the running unit's mount namespace (must fail)
# and once in the machine's (succeeds: what the unit's sandbox takes away).
overview_sandbox() {
  local broke=0 pid uid gid path
  pid="$(ov_show MainPID)"
  uid="$(inside stat -c %u "/proc/$pid")"
  gid="$(inside stat -c %g "/proc/$pid")"
  echo "overview: process $pid, uid $uid, gid $gid"
  want "the overview runs as the services' user" [ "$uid" = "$(inside id -u orvandel)" ] ||
    return 1
  for path in /var/lib/orvandel/a/probe /var/lib/orvandel/probe /run/lock/probe /tmp/probe \
    /dev/shm/probe; do
    want "the overview cannot write $path" eval \
      '! inside nsenter -t "$pid" -m -S "$uid" -G "$gid" sh -c "echo x > $path"' || broke=1
    want "its user can, outside the unit" \
      inside nsenter -t "$pid" -S "$uid" -G "$gid" sh -c "echo x > $path" || broke=1
    inside rm -f "$path"
  done
  want "the overview cannot even list a's records" eval \
    '! inside nsenter -t "$pid" -m -S "$uid" -G "$gid" ls /var/lib/orvandel/a' || broke=1
  want "its user can, outside the unit" \
    inside nsenter -t "$pid" -S "$uid" -G "$gid" ls /var/lib/orvandel/a > /dev/null || broke=1
  [ "$broke" -eq 0 ]
}

# Without a Listen it cannot run: it says why, exits 78, and its unit does not start it again.
overview_refused() {
  local broke=0 out
  limit=30 inside systemctl stop orvandel-overview
  inside sed -i '/^Listen=127.0.0.1:8480$/d' /etc/orvandel/orvandel.ini || return 1
  limit=30 inside systemctl start orvandel-overview
  want "the unit fails with exit status 78" wait_for 10 eval \
    '[ "$(ov_show ActiveState)" = failed ] && [ "$(ov_show ExecMainStatus)" = 78 ]' || broke=1
  # Past its restart delay (3 s): no second start.
  sleep 4
  want "and is not started again ($(ov_show NRestarts) restarts)" \
    [ "$(ov_show NRestarts)" = 0 ] || broke=1
  out="$(inside systemctl status orvandel-overview --no-pager 2>&1)"
  echo "$out" | tail -4
  want "systemctl status says why" grep -qF '[Overview] Listen= names no address' <<< "$out" ||
    broke=1
  [ "$broke" -eq 0 ]
}

# The site as the instances' cases left it: the overview and the instances stopped, the files back.
overview_down() {
  limit=60 inside systemctl stop orvandel-overview orvandel@a orvandel@b orvandel@c \
    orvandel@a.socket orvandel@b.socket orvandel@c.socket
  inside systemctl reset-failed orvandel-overview
  [ "$ov_broker_was" = active ] || limit=30 inside systemctl stop mosquitto
  inside sh -c "cp $ov_saved/orvandel.ini $ov_saved/b.ini /etc/orvandel/ &&
    rm -r $ov_saved $ov_pass"
}

run_case "overview: the three instances' tiles, live, each with its web address" overview_up
run_case "overview: a fault on c's simulator turns only c's tile to fault" overview_fault
run_case "overview: its unit cannot write the records, /run/lock, /tmp or /dev/shm" \
  overview_sandbox
run_case "overview: b killed goes stale, a and c stay live; the overview restarts after a crash" \
  overview_stale
run_case "overview: no Listen, exit 78 said in systemctl status, not restarted" overview_refused
run_case "overview: stopped, the settings as they were" overview_down
