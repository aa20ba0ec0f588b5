# shellcheck shell=bash
# The installed-site test's cases, sourced by site_test.sh in the booted system's context
# (inside, as, want, run_case, $work). Each case leaves the site as it found it for the next.
state=/var/lib/orvandel
sock=/run/orvandel/panel.sock
link=/run/orvandel-sim/ttyS0
pin=2468

# The simulator's console: a line typed, and its log from a mark on.
sim_type() { echo "$*" > "$work/sim.in"; }
sim_mark() { stat -c %s "$work/sim.log"; }
sim_since() { tail -c +"$(($1 + 1))" "$work/sim.log"; }
# wait_for SECONDS COMMAND...: true as soon as the command is, false after the time.
wait_for() {
  local until=$((SECONDS + $1))
  shift
  until "$@" > /dev/null 2>&1; do
    ((SECONDS < until)) || return 1
    sleep 0.3
  done
}
active() { [ "$(inside systemctl is-active orvandel)" = active ]; }
connected() { inside journalctl -u orvandel --no-pager -o cat | grep -q 'link Connected'; }
probe() {
  local user="$1" seconds="$2"
  shift 2
  limit=$((seconds + 10)) as "$user" /mnt/in/window-probe "$sock" "$seconds" "$@"
}

install_package() {
  limit=180 inside env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    /mnt/in/orvandel.deb || return 1
  local unit
  for unit in orvandel.service orvandel.socket; do
    want "$unit is loaded" [ "$(inside systemctl show -P LoadState "$unit")" = loaded ] || return 1
  done
}

# The accounts, the simulator on a pty of the service's user mapped to COM1, an operator of
# level 3, and the service enabled as docs/installing.md says.
set_up_site() {
  inside useradd -m -G orvandel-operators op &&
    inside useradd -m -G dialout dial &&
    inside useradd -m loner &&
    inside install -d -o orvandel -m 0755 /run/orvandel-sim || return 1
  mkfifo "$work/sim.in"
  exec 7<> "$work/sim.in"
  limit=600 as orvandel orvandel-sim --link "$link" --report-interval 0 \
    < "$work/sim.in" > "$work/sim.log" 2>&1 &
  want "the simulator's pty appears" wait_for 10 inside test -L "$link" || return 1
  inside sed -i "/^\[SerialPorts\]/a COM1=$link" /etc/orvandel/orvandel.ini || return 1
  echo "$pin" | inside orvandel --user-add opb --level 3 || return 1
  limit=60 inside systemctl enable --now orvandel || return 1
  want "the service is active" wait_for 15 active || return 1
  want "the service connects to the simulator" wait_for 15 connected ||
    { inside journalctl -u orvandel --no-pager | tail -20; return 1; }
  want "the simulator saw the connect" wait_for 5 grep -q 'supervision time' "$work/sim.log" ||
    return 1
  # The service's settings file in the folder it made, as the service keeps it (COM1, as now):
  # something to attack and to keep over an upgrade.
  want "the service made its settings folder" wait_for 10 inside test -d "$state/SYSINI" &&
    printf '[RS232Configure]\r\nComPort=1\r\n' | inside install -o orvandel -g orvandel \
      -m 0640 /dev/stdin "$state/SYSINI/MainForm.INI"
}

operator_window() {
  local mark out
  mark="$(sim_mark)"
  sim_type "fault 4 on"
  out="$(probe op 15 --lamp 4 --key --log-in opb "$pin" 2>&1)"
  echo "$out"
  want "the window attaches" grep -qx 'status: attached' <<< "$out" || return 1
  want "the window shows the lamp the simulator lit" grep -qx 'lamp 4: lit' <<< "$out" || return 1
  want "the operator logged in" grep -q '^access: .*opb' <<< "$out" || return 1
  want "the key was pressed" grep -qx 'key: EMG Ack pressed' <<< "$out" || return 1
  sleep 1
  sim_since "$mark" | grep 'operator key'
  want "the key went out once" [ "$(sim_since "$mark" | grep -c 'operator key EMG Ack')" -eq 1 ]
}

lone_user_refused() {
  local err mark
  mark="$(sim_mark)"
  limit=20 as loner timeout -s TERM 6 orvandel > "$work/loner.out" 2> "$work/loner.err"
  err="$(cat "$work/loner.err")"
  echo "stderr: $err"
  want "it says the user is not in the group" grep -q 'not in the group orvandel-operators' \
    <<< "$err" || return 1
  want "it says what to do" grep -q 'adduser' <<< "$err" || return 1
  want "no standalone window's port failure" eval '! grep -q "Com Port Fail" "$work"/loner.*' ||
    return 1
  # A window that opened the line would connect as the service did: the supervision settings.
  want "the simulator saw no connect" eval '! sim_since "$mark" | grep -q "supervision time"' ||
    return 1
  local left
  left="$(inside find /run/lock /opt/orvandel /var/lib/orvandel -user loner -print)"
  want "no lock, no file of the user's where a standalone window keeps them: $left" [ -z "$left" ]
}

dialout_user_locked_out() {
  local broke=0 attempt
  local attempts=(
    "ls $state"
    "ls $state/DATA"
    "cat $state/DATA/EventLog.txt"
    "echo forged >> $state/DATA/EventLog.txt"
    "sqlite3 $state/DATA/Journal.sqlite 'DELETE FROM journal WHERE seq > 1'"
    "printf '[RS232Configure]\r\nComPort=3\r\n' > $state/SYSINI/MainForm.INI"
    "printf '[RS232Configure]\r\nComPort=3\r\n' > /var/tmp/x.INI &&
     mv -f /var/tmp/x.INI $state/SYSINI/MainForm.INI"
  )
  for attempt in "${attempts[@]}"; do
    if as dial sh -c "$attempt" > /dev/null 2>&1; then
      echo "the dialout user could: $attempt"
      broke=1
    fi
  done
  [ "$broke" -eq 0 ] || return 1
  want "the event log is the service's own" \
    eval '! inside grep -q forged $state/DATA/EventLog.txt' || return 1
  local out
  out="$(inside orvandel --journal-verify 2>&1)" ||
    { echo "$out"; echo "--journal-verify failed"; return 1; }
  echo "$out"
  want "the verify reads the service's journal" grep -q "$state/DATA/Journal.sqlite" <<< "$out"
}

state_modes() {
  local loose
  loose="$(inside find "$state" \( ! -user orvandel -o -perm /g+w,o+rwx \) \
    -printf '%M %u:%g %p\n')"
  want "everything under $state is orvandel's, no group write, nothing for others: $loose" \
    [ -z "$loose" ] || return 1
  inside stat -c '%U:%G %a %F' "$sock"
  want "the socket is root:orvandel-operators 0660" \
    [ "$(inside stat -c '%U:%G %a %F' "$sock")" = "root:orvandel-operators 660 socket" ]
}

socket_swap() {
  local out capture=/var/tmp/captured swapped=0
  # What the service says on attach, replayed by the false listener.
  inside python3 -c "import socket,sys; s=socket.socket(socket.AF_UNIX); s.connect('$sock');
sys.stdout.write(s.makefile().readline())" > "$work/in-snapshot" || return 1
  inside install -m 0644 /dev/stdin /var/tmp/snapshot < "$work/in-snapshot"
  # The administrator's mistake; then any user can put their own socket in the service's place.
  inside chmod 0777 /run/orvandel
  if as dial mv "$sock" /run/orvandel/moved; then
    limit=60 as dial python3 /mnt/in/false_listener.py "$sock" /var/tmp/snapshot "$capture" &
    wait_for 5 inside test -S "$sock" && swapped=1
  fi
  [ "$swapped" -eq 0 ] || out="$(probe op 6 --log-in opb "$pin" 2>&1)"
  echo "$out"
  echo "captured: $(inside cat "$capture" 2> /dev/null)"
  inside sh -c "[ ! -f $capture.pid ] || kill \$(cat $capture.pid)"
  inside sh -c "[ ! -S $sock ] || [ ! -S /run/orvandel/moved ] || rm $sock"
  inside sh -c "[ ! -S /run/orvandel/moved ] || mv /run/orvandel/moved $sock"
  inside chmod 0755 /run/orvandel
  want "the user's listener took the service's place" [ "$swapped" -eq 1 ] || return 1
  want "the window sent no log-in" eval '! inside grep -qi pin "$capture"' || return 1
  want "the window says it does not trust the socket" grep -qi 'trust' <<< "$out"
}

dialout_secret() {
  local since notices
  local pass_file=/etc/orvandel/mqtt.pass
  inside cp /etc/orvandel/orvandel.ini /var/tmp/orvandel.ini.saved &&
    inside sh -c "printf secret > $pass_file && chown root:dialout $pass_file &&
      chmod 0640 $pass_file" &&
    inside sed -i "/^\[MQTT\]/a Broker=mqtt://127.0.0.1:1883\nPasswordFile=$pass_file" \
      /etc/orvandel/orvandel.ini || return 1
  since="$(inside date '+%Y-%m-%d %H:%M:%S')"
  sleep 1
  limit=60 inside systemctl restart orvandel
  wait_for 15 active
  sleep 2
  inside journalctl -u orvandel --no-pager -o cat --since "$since" | grep -iE 'mqtt|pass|secret'
  notices="$(inside journalctl -u orvandel --no-pager -o cat --since "$since" | grep 'mqtt.pass')"
  echo "$notices"
  inside cp /var/tmp/orvandel.ini.saved /etc/orvandel/orvandel.ini
  inside rm -f "$pass_file"
  limit=60 inside systemctl restart orvandel
  want "the service says the file is refused" [ -n "$notices" ] || return 1
  want "the notice says which owner and mode to use" \
    grep -qE '(0600|0640).*(root|orvandel)|(root|orvandel).*(0600|0640)' <<< "$notices"
}

commissioning() {
  local out rc broke=0
  # The dialout-only user is one thing to fix (an operator left in dialout cannot attach); once
  # out of dialout, nothing.
  out="$(inside orvandel --site-check 2>&1)"
  rc=$?
  echo "site-check ($rc): $out"
  want "the site check names the user left in dialout" grep -q '^fix: .*\bdial\b' <<< "$out" ||
    broke=1
  want "the site check fails while there is something to fix" [ "$rc" -ne 0 ] || broke=1
  inside gpasswd -d dial dialout > /dev/null
  out="$(inside orvandel --site-check 2>&1)"
  rc=$?
  echo "site-check ($rc): $out"
  want "the site check finds nothing to fix" [ "$rc" -eq 0 ] || broke=1
  want "the site check says the site is in order" grep -qx 'the site is in order' <<< "$out" ||
    broke=1
  out="$(inside systemctl status orvandel --no-pager 2>&1)"
  want "systemctl status says active (running)" grep -q 'active (running)' <<< "$out" || broke=1
  want "systemctl status shows the line's state" grep -q 'Status: "COM1 ' <<< "$out" || broke=1
  want "root's journal verify passes" inside orvandel --journal-verify || broke=1
  out="$(as op orvandel --journal-verify 2>&1)"
  rc=$?
  echo "the operator's verify ($rc): $out"
  want "the operator is told to run it as root" grep -q 'permission denied: run as root' \
    <<< "$out" || broke=1
  want "the operator's verify exits 1" [ "$rc" -eq 1 ] || broke=1
  # The commands above are the ones the commissioning checklist gives.
  sed -n '/^## Commissioning/,/^## [^C]/p' "$here/../../docs/installing.md" | tr -s '\n ' '  ' \
    > "$work/commissioning"
  local command
  for command in 'orvandel --site-check' 'systemctl status orvandel' 'orvandel --journal-verify' \
    'the site is in order' 'permission denied: run as root' 'adduser NAME orvandel-operators'; do
    want "the commissioning checklist says $command" grep -q -- "$command" "$work/commissioning" ||
      broke=1
  done
  [ "$broke" -eq 0 ]
}

restart_and_watchdog() {
  local out restarts
  probe op 12 > "$work/restart.out" 2>&1 &
  local window=$!
  sleep 3
  limit=60 inside systemctl restart orvandel || return 1
  # Type=notify: active only once the service said it is ready.
  want "active again after the restart" wait_for 15 active || return 1
  inside systemctl show -p StatusText orvandel
  want "the service says it is ready" [ -n "$(inside systemctl show -P StatusText orvandel)" ] ||
    return 1
  wait "$window"
  out="$(cat "$work/restart.out")"
  echo "$out"
  want "the window attached again" grep -Eq '^attached ([2-9]|[1-9][0-9]) times' <<< "$out" ||
    return 1
  want "the window ends attached" grep -q '^label: Attached' <<< "$(grep '^label:' <<< "$out" |
    tail -1)" || return 1
  restarts="$(inside systemctl show -P NRestarts orvandel)"
  inside systemctl kill -s SIGSTOP orvandel
  restarted() { [ "$(inside systemctl show -P NRestarts orvandel)" -gt "$restarts" ]; }
  want "the watchdog restarts a hung service" wait_for 25 restarted || return 1
  want "active after the watchdog's restart" wait_for 15 active
}

upgrade() {
  local count before_users before_ini after
  count="$(inside sqlite3 -readonly "$state/DATA/Journal.sqlite" 'SELECT count(*) FROM journal')" ||
    return 1
  inside cp "$state/DATA/EventLog.txt" /var/tmp/EventLog.before
  before_users="$(inside sha256sum /etc/orvandel/users)"
  before_ini="$(inside sha256sum /etc/orvandel/orvandel.ini "$state/SYSINI/MainForm.INI")"
  limit=180 inside env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    /mnt/in/orvandel-next.deb || return 1
  inside dpkg-query -W orvandel
  want "the newer version is installed" inside sh -c 'dpkg-query -W -f "\${Version}" orvandel |
    grep -q "+site1$"' || return 1
  want "the service is running again" wait_for 15 active || return 1
  want "the journal's chain verifies" inside orvandel --journal-verify || return 1
  after="$(inside sqlite3 -readonly "$state/DATA/Journal.sqlite" 'SELECT count(*) FROM journal')"
  echo "records: $count before, $after after"
  want "the journal kept its records" [ "$after" -ge "$count" ] || return 1
  want "the event log's old lines are still first" inside sh -c \
    "head -c \$(stat -c %s /var/tmp/EventLog.before) $state/DATA/EventLog.txt |
     cmp -s - /var/tmp/EventLog.before" || return 1
  want "the users file is kept" [ "$(inside sha256sum /etc/orvandel/users)" = "$before_users" ] ||
    return 1
  want "the settings are kept" [ "$(inside sha256sum /etc/orvandel/orvandel.ini \
    "$state/SYSINI/MainForm.INI")" = "$before_ini" ]
}

purge() {
  local out
  # An instance enabled and running: the removal stops it, the purge takes its links.
  limit=60 inside systemctl enable --now orvandel@a || return 1
  out="$(limit=120 inside env DEBIAN_FRONTEND=noninteractive apt-get purge -y orvandel 2>&1)" ||
    { echo "$out"; return 1; }
  want "the running instance was stopped" eval \
    '[ "$(inside systemctl is-active orvandel@a.service orvandel@a.socket)" = "$(printf "inactive\ninactive")" ]' ||
    return 1
  want "no link to its unit is left" eval \
    '[ -z "$(inside find /etc/systemd/system -name "orvandel@*")" ]' || return 1
  echo "$out" | tail -15
  want "purge says what it keeps" grep -qiE 'keep|kept' <<< "$out" || return 1
  want "purge names the records it keeps" grep -q "$state" <<< "$out" || return 1
  want "the journal stays" inside test -f "$state/DATA/Journal.sqlite" || return 1
  want "the event log stays" inside test -f "$state/DATA/EventLog.txt"
}

run_case "install: apt installs the package on the booted system, its units load" install_package
run_case "set-up: accounts, the simulator on COM1, an operator, the service enabled" set_up_site
run_case "operator: the window attaches, shows the lit lamp, a key goes out once" operator_window
run_case "user in no group: refused with the reason and advice, no standalone" lone_user_refused
run_case "dialout user: no read or write under $state; root's verify rc 0" \
  dialout_user_locked_out
run_case "modes: the records the service's alone, the socket root:orvandel-operators 0660" \
  state_modes
run_case "socket swap: the window sends no PIN to a false listener, says it does not trust it" \
  socket_swap
run_case "secret readable by dialout: refused, the notice says which owner and mode" dialout_secret
run_case "commissioning: the checklist's commands as root and as the operator" commissioning
