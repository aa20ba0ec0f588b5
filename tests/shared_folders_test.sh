#!/usr/bin/env bash
# Attacks on the shared folders, each tried for real: two throw-away operator accounts in the
# group dialout, a copy of the installed layout (SYSINI and DATA root:dialout 2775), the attacker
# plants files, then the victim runs the real program (on a virtual X server, connected to the
# simulated controller). Nothing of the victim's may be written, truncated, read into the shared
# folders or re-moded; the program must not hang; the planted port map must be ignored.
#   shared_folders_test.sh BUILD_DIR
# Needs root (to make the accounts), Xvfb and xdotool; exits 77 (skipped) without them.
set -uo pipefail
# The victim's program runs on the virtual X server, whatever the test run chose for itself.
unset QT_QPA_PLATFORM
build="$1"
program="$build/app/orvandel"
sim="$build/sim/orvandel-sim"
writer="$build/tests/orv_ini_writer"
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
for tool in Xvfb xdotool useradd userdel su; do
  command -v "$tool" > /dev/null || { echo "skipped: needs $tool"; exit 77; }
done

base="$(mktemp -d /tmp/orv-shared.XXXXXX)"
chmod 755 "$base"
attacker="orvatk$$"
victim="orvvic$$"
display=""
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  wait 2> /dev/null
  for user in "$attacker" "$victim"; do
    pkill -KILL -u "$user" 2> /dev/null
    for _ in $(seq 20); do pgrep -u "$user" > /dev/null || break; sleep 0.1; done
    userdel -f "$user" 2> /dev/null
  done
  rm -rf "$base"
  rm -f /run/lock/LCK..*"${base//\//_}"* 2> /dev/null
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # through the EXIT trap: the accounts never outlive the test

fails=0
passes=0
check() {  # check NAME COMMAND...
  local name="$1"
  shift
  if "$@"; then
    passes=$((passes + 1))
    echo "ok   - $name"
  else
    fails=$((fails + 1))
    echo "FAIL - $name"
  fi
}

# Accounts left by an earlier run that was killed before its clean-up (a timeout, an interrupt
# through ctest): each is named after the run's process, which is gone.
for stale in $(getent passwd | cut -d: -f1 | grep -E '^orv(atk|vic)[0-9]+$'); do
  kill -0 "${stale:6}" 2> /dev/null || userdel -f "$stale" 2> /dev/null
done
for user in "$attacker" "$victim"; do
  useradd -M -N -g users -G dialout -d "$base/home/$user" -s /bin/bash "$user" || exit 1
  mkdir -p "$base/home/$user"
  chown "$user:users" "$base/home/$user"
  chmod 755 "$base/home/$user"
done
as() {  # as USER COMMAND: runs a shell command as that user, with the program's usual umask
  local user="$1"
  shift
  su -s /bin/bash "$user" -c "umask 022; $*"
}

folder="$base/opt/orvandel"
mkdir -p "$folder"
cp "$program" "$folder/orvandel"
chmod 755 "$base/opt" "$folder" "$folder/orvandel"
site="$base/site.ini"
port="$base/controller-port"

# The victim's own files, as an attacker would aim at them.
vhome="$base/home/$victim"
victim_files=("$vhome/.bashrc" "$vhome/secret.txt")
fingerprint() {  # content, mode, owner, group, size and change time of the victim's files
  for f in "${victim_files[@]}"; do
    stat -c '%n %a %U %G %s %Z' "$f"
    sha256sum < "$f"
  done
}
fresh_layout() {
  rm -rf "$folder/SYSINI" "$folder/DATA"
  mkdir -m 2775 "$folder/SYSINI" "$folder/DATA"
  chown root:dialout "$folder/SYSINI" "$folder/DATA"
  chmod 2775 "$folder/SYSINI" "$folder/DATA"
  as "$victim" "printf 'export PS1=victim\n' > '$vhome/.bashrc'; printf 'the victim private text\n' > '$vhome/secret.txt'; chmod 600 '$vhome/secret.txt'"
  before="$(fingerprint)"
}
victim_untouched() { [ "$(fingerprint)" = "$before" ]; }
no_victim_text_in_folders() { ! grep -rqs 'victim private text\|PS1=victim' "$folder/SYSINI" "$folder/DATA"; }

# The controller: the simulator on a pseudo-terminal owned by root, mapped where the site's own
# settings say (a root-owned file that no operator can change).
"$sim" --link "$port" --report-interval 0.3 > "$base/sim.log" 2>&1 < /dev/null &
pids+=($!)
printf '[SerialPorts]\r\nCOM1=%s\r\n' "$port" > "$site"
chmod 644 "$site"
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
# As a serial device is: root's, usable by the group dialout.
chgrp dialout "$(readlink -f "$port")"
chmod 660 "$(readlink -f "$port")"

# A virtual X server on the first free display (it writes the number it took). It must not reset
# when its last client goes: a victim started during the reset finds no display.
start_display() {
  local number="$base/display.$RANDOM"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3> "$number" > /dev/null 2>&1 &
  display_pid=$!
  pids+=("$display_pid")
  for _ in $(seq 50); do [ -s "$number" ] && break; sleep 0.1; done
  display=":$(head -n1 "$number")"
}
start_display

victim_pid=""
# Starts the victim's program, waits for its window and clicks Connection. Returns 1 when the
# window did not appear within five seconds (a hang).
start_victim() {
  as "$victim" "cd '$vhome' && DISPLAY=$display QT_QPA_PLATFORM=xcb exec '$folder/orvandel' --site-settings '$site'" \
    > "$base/victim.log" 2>&1 &
  victim_pid=$!
  local window=""
  for _ in $(seq 50); do
    window="$(DISPLAY=$display xdotool search --name 'Orvandel Program' 2> /dev/null | head -n1)"
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || return 1
  sleep 0.3
  # "Connection" sits at 3480,6000 twips, 2655 x 975: its middle at 96 dpi (15 twips a pixel).
  DISPLAY=$display xdotool mousemove --window "$window" 318 432 click 1
}
show_victim_output() {  # the end of what the victim's program said, under a failed check
  echo "  (the victim's program said:)"
  sed "s/^/  | /" "$base/victim.log" | tail -n 12
}
# True when the victim's program sent at least two polls within eight seconds from now; it runs
# for at least two.
polls_continue() {
  local from
  from="$(wc -l < "$base/sim.log")"
  sleep 2.2
  # A machine busy with other tests may be slow to start the polls: a hang never starts them.
  for _ in $(seq 60); do
    [ "$(tail -n +"$((from + 1))" "$base/sim.log" | grep -c ' RX ')" -ge 2 ] && return 0
    sleep 0.1
  done
  show_victim_output
  return 1
}
victim_said() {  # victim_said PATTERN: true when the victim's program's output holds it
  grep -q "$1" "$base/victim.log" && return 0
  show_victim_output
  return 1
}
stop_victim() {
  [ -n "$victim_pid" ] || return 0
  pkill -TERM -u "$victim" -f "$folder/orvandel" 2> /dev/null
  for _ in $(seq 30); do pgrep -u "$victim" -f "$folder/orvandel" > /dev/null || break; sleep 0.1; done
  pkill -KILL -u "$victim" -f "$folder/orvandel" 2> /dev/null
  wait "$victim_pid" 2> /dev/null
  victim_pid=""
}
# One attack: the attacker's plant, then a victim's run of a few seconds.
attack() {  # attack NAME PLANT_COMMAND
  local name="$1"
  fresh_layout
  as "$attacker" "$2"
  if start_victim; then
    check "$name: the window appears and polls go on" polls_continue
  else
    check "$name: the window appears" false
  fi
  stop_victim
  [ -n "${ORV_DEBUG:-}" ] && ls -la "$folder/SYSINI" "$folder/DATA" && cat "$base/victim.log"
  check "$name: no victim file written, truncated or re-moded" victim_untouched
  check "$name: nothing of the victim's read into the shared folders" no_victim_text_in_folders
}

echo "# the baseline: no attack"
attack "baseline" "true"
check "baseline: events reach EventLog.txt" test -s "$folder/DATA/EventLog.txt"

echo "# links planted for the victim's writes"
attack "MainForm.INI.tmp is a link" \
  "printf '[RS232Configure]\r\nComPort=99\r\n' > '$folder/SYSINI/MainForm.INI'; ln -s '$vhome/.bashrc' '$folder/SYSINI/MainForm.INI.tmp'"
attack "EventLog.txt is a link" "ln -s '$vhome/.bashrc' '$folder/DATA/EventLog.txt'"
attack "MainForm.INI is a link to a private file" \
  "ln -s '$vhome/secret.txt' '$folder/SYSINI/MainForm.INI'"
attack "TestFile.txt is a link" "ln -s '$vhome/.bashrc' '$folder/DATA/TestFile.txt'"
# The race: the link comes back again and again while the victim starts.
fresh_layout
as "$attacker" "for i in \$(seq 3000); do ln -sfn '$vhome/.bashrc' '$folder/DATA/TestFile.txt' 2>/dev/null; done" &
racer=$!
start_victim > /dev/null
wait "$racer"
stop_victim
check "TestFile.txt re-linked during start-up: no victim file written" victim_untouched

echo "# FIFOs that would stop the victim's program"
attack "EventLog.txt is a FIFO" "mkfifo '$folder/DATA/EventLog.txt'"
attack "MainForm.INI is a FIFO" "mkfifo '$folder/SYSINI/MainForm.INI'"

echo "# a port map that sends the victim's keys to the attacker"
fresh_layout
apty="$base/home/$attacker/port"
as "$attacker" "printf '[SerialPorts]\r\nCOM1=$apty\r\n' > '$folder/SYSINI/MainForm.INI'"
as "$attacker" "exec '$sim' --link '$apty' --quiet-reports" \
  > "$base/attacker-sim.log" 2>&1 < /dev/null &
pids+=($!)
sleep 0.5
start_victim > /dev/null
check "planted port map: the victim's program still polls the site's controller" polls_continue
stop_victim
check "planted port map: the attacker's controller heard nothing" \
  bash -c "! grep -q ' RX ' '$base/attacker-sim.log'"
check "planted port map: a notice says it was ignored" \
  grep -q 'SerialPorts.*ignored' "$base/victim.log"

echo "# a planted MainForm.INI that the victim's own save makes the victim's"
# The attacker's file (0644) names the attacker's controller (a network address: those have no
# owner to check) and a baud rate the program corrects at start and saves at exit: the rewrite
# gives the victim a file of the victim's own, in a folder the whole group may write. It must
# stay untrusted at the next start.
fresh_layout
fake="tcp://127.0.0.1:9"
as "$attacker" "printf '[RS232Configure]\r\nBaudRate=12345\r\n[SerialPorts]\r\nCOM1=$fake\r\n' > '$folder/SYSINI/MainForm.INI'; chmod 644 '$folder/SYSINI/MainForm.INI'"
start_victim > /dev/null
polls_continue > /dev/null
stop_victim
check "planted INI: the victim's save made it the victim's (the attack's first step)" \
  test "$(stat -c '%U %a' "$folder/SYSINI/MainForm.INI")" = "$victim 644"
start_victim > /dev/null
check "planted INI after the victim's rewrite: the victim's program still polls the site's controller" \
  polls_continue
stop_victim
check "planted INI after the victim's rewrite: the attacker's address was never tried" \
  bash -c "! grep -q '$fake' '$base/victim.log'"
check "planted INI after the victim's rewrite: a notice names the folder others can change" \
  grep -q "SerialPorts.*ignored: other users can change the folder $folder/SYSINI" "$base/victim.log"

echo "# another operator reads the controller's port"
# Whoever reads first takes each byte: the victim's program must say so, not "device lost". The
# attacker opens the line before the victim does (the victim's open then shuts out later ones),
# and once the victim is connected makes reads wait for a byte again and reads everything.
fresh_layout
reader_pid="$base/home/$attacker/reader.pid"
as "$attacker" "exec 3< '$port'; sleep 2.5; stty min 1 time 0 <&3; cat <&3 > /dev/null & echo \$! > '$reader_pid'; wait" &
sleep 0.3
start_victim > /dev/null
sleep 4
stop_victim
kill "$(cat "$reader_pid")" 2> /dev/null
rm -f "$reader_pid"
check "another reader: the victim's program says another program is reading COM1" \
  victim_said 'another program is reading COM1'
check "another reader: not said as a lost device" bash -c "! grep -q 'device lost' '$base/victim.log'"
# The forged MQTT state and the hostile RFC 2217 server are tried by the broker and network
# port tests (orv_mqtt_broker_tests, orv_netport_qt_tests), which start their own broker and server.

echo "# objects planted in the shared journal"
# The victim's program makes the journal; the attacker adds an object to it; the victim's next
# run finds it, moves the file aside with a notice, and its tick goes on.
journal_made() {  # the victim's journal has its table (a slow first commit is tried again)
  as "$victim" "sqlite3 -readonly '$folder/DATA/Journal.sqlite' 'SELECT count(*) FROM journal'" \
    > /dev/null 2>&1
}
journal_attack() {  # journal_attack NAME SQL
  fresh_layout
  start_victim > /dev/null
  polls_continue > /dev/null
  # A loaded machine can take long over the first commit: the plant must find the table there.
  for _ in $(seq 600); do journal_made && break; sleep 0.1; done
  stop_victim
  check "$1: the victim's program made its journal first" journal_made
  as "$attacker" "sqlite3 '$folder/DATA/Journal.sqlite' \"$2\""
  if start_victim; then
    check "$1: polls go on" polls_continue
  else
    check "$1: the window appears" false
  fi
  stop_victim
  check "$1: the journal was moved aside as damaged" \
    bash -c "ls '$folder/DATA' | grep -q '^Journal.sqlite.damaged-'"
  check "$1: the program said so" victim_said 'was damaged'
}
journal_attack "a looping BEFORE INSERT trigger" \
  "CREATE TRIGGER spin BEFORE INSERT ON journal BEGIN SELECT count(*) FROM journal a, journal b, journal c, journal d, journal e, journal f; END;"
journal_attack "a RAISE(IGNORE) trigger" \
  "CREATE TRIGGER drop_all BEFORE INSERT ON journal BEGIN SELECT RAISE(IGNORE); END;"
journal_attack "a view" "CREATE VIEW v AS SELECT * FROM journal;"

echo "# the journal cut short or replaced by another operator"
fresh_layout
start_victim > /dev/null
polls_continue > /dev/null
stop_victim
# The head the victim's program anchored: its last record.
head="$(sqlite3 "$folder/DATA/Journal.sqlite" "SELECT seq || ':' || hex(chain) FROM journal ORDER BY seq DESC LIMIT 1")"
verify() { "$folder/orvandel" --journal-verify --journal-anchor "$head" > "$base/verify.log" 2>&1; }
verify_fails() { ! verify; }
check "journal untouched: it verifies against its head" verify
as "$attacker" "sqlite3 '$folder/DATA/Journal.sqlite' 'DELETE FROM journal WHERE seq = (SELECT max(seq) FROM journal)'"
check "tail deleted: --journal-verify fails" verify_fails
check "tail deleted: and says where the journal ends" grep -q 'but was anchored at' "$base/verify.log"
as "$attacker" "rm -f '$folder/DATA/Journal.sqlite'*"
check "journal removed: --journal-verify fails" verify_fails
check "journal removed: and says it is missing" grep -q 'missing but was anchored' "$base/verify.log"

echo "# two operators writing MainForm.INI at once"
fresh_layout
as "$attacker" "'$writer' '$folder/SYSINI/MainForm.INI' A 200" &
first=$!
as "$victim" "'$writer' '$folder/SYSINI/MainForm.INI' V 200" &
second=$!
wait "$first"
wait "$second"
keys="$(grep -c '^[AV][0-9]*=' "$folder/SYSINI/MainForm.INI")"
check "two writers of 200 keys each: all 400 kept (found $keys)" test "$keys" -eq 400
check "two writers: the file stays group dialout and group-writable" \
  test "$(stat -c '%G %A' "$folder/SYSINI/MainForm.INI" | cut -c1-14)" = "dialout -rw-rw"
check "two writers: no temporary file left behind" \
  bash -c "[ \$(ls -A '$folder/SYSINI' | grep -v -x -e MainForm.INI -e MainForm.INI.lock | wc -l) -eq 0 ]"

echo "# the port's lock file after a SIGTERM"
fresh_layout
start_victim > /dev/null
for _ in $(seq 100); do ls /run/lock | grep -q "${port//\//_}" && break; sleep 0.1; done
locks_before="$(ls /run/lock | grep -c "${port//\//_}")"
stop_victim
check "SIGTERM: the port was locked while connected" test "$locks_before" -ge 1
check "SIGTERM: no lock file left" bash -c "! ls /run/lock | grep -q '${port//\//_}'"

echo "# the display goes away while connected"
fresh_layout
start_victim > /dev/null
polls_continue > /dev/null
kill "$display_pid"
for _ in $(seq 30); do pgrep -u "$victim" -f "$folder/orvandel" > /dev/null || break; sleep 0.1; done
check "lost display: the program ended" bash -c "! pgrep -u '$victim' -f '$folder/orvandel'"
check "lost display: no lock file left" bash -c "! ls /run/lock | grep -q '${port//\//_}'"
stop_victim

echo "# a program folder whose name is not valid UTF-8"
odd="$base/opt/$(printf 'orv\xff\xfe')"
mkdir -p "$odd"
cp "$program" "$odd/orvandel"
chmod 755 "$odd" "$odd/orvandel"
chown "$victim" "$odd"  # a personal copy, writable by its user
start_display
as "$victim" "cd '$vhome' && DISPLAY=$display QT_QPA_PLATFORM=xcb timeout 3 '$odd/orvandel'" > "$base/odd.log" 2>&1
check "odd folder name: SYSINI and DATA are made beside the program" test -d "$odd/DATA"
check "odd folder name: nothing is made in the current folder" \
  bash -c "[ ! -e '$vhome/DATA' ] && [ ! -e '$vhome/SYSINI' ]"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
