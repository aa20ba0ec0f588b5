# shellcheck shell=bash
# Several controllers at one site: three instances of the service (orvandel@a, @b, @c), each on a
# simulator of its own, beside the plain service, which goes on as before. Each instance records
# only its own controller's events in its own folder; orvandelctl and a window ask the one they
# name; a user in no group is refused at every instance's socket; two instances naming one device
# do not both hold it; with several running and none named, orvandelctl says which.
# Sourced by site_test.sh after the orvandelctl cases (inside, as, want, wait_for, probe's shape).

# inst_type NAME LINE: a line typed on instance NAME's simulator.
inst_type() { echo "${*:2}" > "$work/sim-$1.in"; }
inst_link() { echo "/run/orvandel-sim/tty-$1"; }
inst_connected() {
  inside journalctl -u "orvandel@$1" --no-pager -o cat | grep -q 'link Connected'
}
# The report of lamp 9 alone, as the journal's text and the event log have it.
inst_fault="Fault 0000000100000000"
inst_export() { inside orvandel --journal-export --instance "$1" --kind event; }
inst_has() { inst_export "$1" | grep -qF "$2"; }
# The instance's settings: its port on its own simulator and a web panel's port of its own (the
# shared file's is the plain service's), root's as the shared file.
inst_settings() {
  printf '[SerialPorts]\nCOM1=%s\n[WebPanel]\nListen=127.0.0.1:%s\n' "$2" "$3" |
    inside install -o root -g root -m 0644 /dev/stdin "/etc/orvandel/$1.ini"
}
inst_web_port() { echo "$((8090 + $(printf '%d' "'$1") - 96))"; }

instances_up() {
  local name fd
  for name in a b c; do
    mkfifo "$work/sim-$name.in"
    exec {fd}<> "$work/sim-$name.in"
    limit=600 as orvandel orvandel-sim --link "$(inst_link "$name")" --report-interval 0 \
      < "$work/sim-$name.in" > "$work/sim-$name.log" 2>&1 &
    want "simulator $name's pty appears" wait_for 10 inside test -L "$(inst_link "$name")" ||
      return 1
    inst_settings "$name" "$(inst_link "$name")" "$(inst_web_port "$name")" || return 1
  done
  limit=60 inside systemctl enable --now orvandel@a orvandel@b orvandel@c || return 1
  for name in a b c; do
    want "instance $name connects to its simulator" wait_for 20 inst_connected "$name" ||
      { inside journalctl -u "orvandel@$name" --no-pager | tail -20; return 1; }
  done
}

instances_apart() {
  local broke=0 name out rc host
  for name in a b c; do
    want "instance $name's folder is the service's: $(inside stat -c '%U:%G %a' \
      "$state/$name")" [ "$(inside stat -c '%U:%G %a' "$state/$name")" = "orvandel:orvandel 750" ] ||
      broke=1
    want "instance $name's socket is root:orvandel-operators 0660 in a folder of root's" eval \
      '[ "$(inside stat -c "%U:%G %a %F" /run/orvandel/$name/panel.sock)" = \
         "root:orvandel-operators 660 socket" ] &&
       [ "$(inside stat -c "%U:%G %a" /run/orvandel/$name)" = "root:root 755" ]' || broke=1
  done
  # Lamp 9 ("Message") is lit by no other case: typed on b's simulator alone. Its report's
  # bits are the record's text.
  inst_type b "fault 9 on"
  want "the fault shows in b's journal" wait_for 15 inst_has b "$inst_fault" || broke=1
  want "b's event log has it" inside grep -qF "$inst_fault" "$state/b/DATA/EventLog.txt" || broke=1
  for name in a c; do
    want "and not in $name's journal" eval '! inst_has $name "$inst_fault"' || broke=1
    want "nor in $name's event log (if any)" \
      eval '! inside grep -sqF "$inst_fault" "$state/$name/DATA/EventLog.txt"' || broke=1
  done
  want "nor in the plain service's" \
    eval '! inside grep -sqF "$inst_fault" "$state/DATA/EventLog.txt"' || broke=1
  host="$(inside hostname)"
  inst_export b | tail -2
  want "b's records name the instance in their host ($host/b)" \
    eval 'inst_export b | grep -F "$inst_fault" | grep -qF ",$host/b,"' || broke=1
  out="$(as op orvandelctl --instance b status --json 2>&1)"
  rc=$?
  echo "orvandelctl --instance b status ($rc): ${out:0:300}"
  want "orvandelctl --instance b shows b's lamp lit, a fault standing (1)" eval \
    '[ "$rc" -eq 1 ] && grep -qF "{\"caption\":\"Message\",\"lamp\":9,\"lit\":true}" <<< "$out"' ||
    broke=1
  out="$(as op orvandelctl --instance a status --json 2>&1)"
  want "orvandelctl --instance a shows the lamp dark" \
    grep -qF '{"caption":"Message","lamp":9,"lit":false}' <<< "$out" || broke=1
  inst_type b "fault 9 off"
  [ "$broke" -eq 0 ]
}

instances_windows() {
  local broke=0 out name rc
  inst_type b "fault 9 on"
  out="$(limit=20 as op /mnt/in/window-probe /run/orvandel/b/panel.sock 8 --lamp 9 2>&1)"
  echo "$out"
  want "a window on b's socket attaches" grep -qx 'status: attached' <<< "$out" || broke=1
  want "and shows b's lamp lit" grep -qx 'lamp 9: lit' <<< "$out" || broke=1
  out="$(limit=20 as op /mnt/in/window-probe /run/orvandel/a/panel.sock 3 --lamp 9 2>&1)"
  want "a window on a's socket attaches" grep -qx 'status: attached' <<< "$out" || broke=1
  want "and does not show it" eval '! grep -qx "lamp 9: lit" <<< "$out"' || broke=1
  inst_type b "fault 9 off"
  for name in a b c; do
    out="$(as loner orvandelctl --instance "$name" status 2>&1)"
    rc=$?
    echo "loner at $name ($rc): $out"
    want "a user in no group is refused at $name's socket (3)" [ "$rc" -eq 3 ] || broke=1
  done
  out="$(limit=20 as loner timeout -s TERM 6 orvandel --instance b 2>&1)"
  echo "loner's window --instance b: $out"
  want "the program's window --instance b is refused for the user, with the reason" \
    grep -q 'not in the group orvandel-operators' <<< "$out" || broke=1
  [ "$broke" -eq 0 ]
}

# Whether instance NAME's process may create PATH: tried in its own mount namespace, as its user.
inst_can_write() {
  local pid
  pid="$(inside systemctl show -p MainPID --value "orvandel@$1")"
  [ "${pid:-0}" -gt 0 ] || return 2
  inside nsenter -t "$pid" -m setpriv --reuid orvandel --regid orvandel --init-groups \
    sh -c ': > "$1" && rm -f "$1"' sh "$2" 2> /dev/null
}

# Instances share nothing writable: each may write its own folder, and neither another instance's
# nor the plain service's, although all run as one user who owns them all (the user alone, outside
# the units' sandbox, could).
instances_share_nothing() {
  local broke=0
  want "a may write its own folder" inst_can_write a "$state/a/probe" || broke=1
  want "a may not write b's" eval '! inst_can_write a "$state/b/probe"' || broke=1
  want "b may not write a's DATA" eval '! inst_can_write b "$state/a/DATA/probe"' || broke=1
  want "c may not write the plain service's records" eval '! inst_can_write c "$state/DATA/probe"' ||
    broke=1
  want "the same user outside the sandbox could write b's" \
    inside setpriv --reuid orvandel --regid orvandel --init-groups \
    sh -c ": > $state/b/probe && rm -f $state/b/probe" || broke=1
  [ "$broke" -eq 0 ]
}

# A fourth instance naming a's device: the line's lock keeps it off while a holds it.
instances_one_device() {
  local broke=0 mark out
  mark="$(stat -c %s "$work/sim-a.log")"
  inst_settings d "$(inst_link a)" "$(inst_web_port d)" || return 1
  limit=30 inside systemctl start orvandel@d || return 1
  want "instance d says the device is in use" wait_for 15 eval \
    'inside journalctl -u orvandel@d --no-pager -o cat | grep "Com Port Fail" | grep -q "in use"' ||
    broke=1
  inside journalctl -u orvandel@d --no-pager -o cat | grep 'Com Port Fail' | tail -1
  out="$(inside orvandel --site-check 2>&1)"
  want "the site check names d's line as a's" grep -qF \
    "fix: instance d: COM1 ($(inst_link a)) is instance a's line as well" <<< "$out" || broke=1
  want "a's simulator saw no second connect" \
    eval '! tail -c +"$((mark + 1))" "$work/sim-a.log" | grep -q "supervision time"' || broke=1
  limit=30 inside systemctl stop orvandel@d.service orvandel@d.socket
  inside rm -f /etc/orvandel/d.ini
  want "a is still connected" eval 'as op orvandelctl --instance a status > /dev/null; [ $? -le 2 ]' ||
    broke=1
  [ "$broke" -eq 0 ]
}

# With the plain service stopped, three instances run and orvandelctl is named none: it says
# which run and exits 64; then the plain service is started again, as the next cases need it.
instances_none_named() {
  local broke=0 out rc before
  before="$(inside journalctl -u orvandel --no-pager -o cat | grep -c 'link Connected')"
  limit=30 inside systemctl stop orvandel.socket orvandel.service || return 1
  out="$(as op orvandelctl status 2>&1)"
  rc=$?
  echo "orvandelctl with none named ($rc): $out"
  want "it names the instances and exits 64" eval \
    '[ "$rc" -eq 64 ] && grep -qF "several instances run here (a, b, c)" <<< "$out"' || broke=1
  limit=60 inside systemctl start orvandel.socket orvandel.service || return 1
  plain_again() {
    [ "$(inside journalctl -u orvandel --no-pager -o cat | grep -c 'link Connected')" -gt "$before" ]
  }
  want "the plain service connects again" wait_for 20 plain_again || broke=1
  out="$(as op orvandelctl status 2>&1)"
  rc=$?
  want "and orvandelctl named none asks it again (not 64: $rc)" [ "$rc" -le 2 ] || broke=1
  [ "$broke" -eq 0 ]
}

# orvandel --site-check knows the instances: nothing of a, b or c to fix while they run (d's folder,
# left by the case above without units, is named); b's settings made group-writable are named as
# b's, and restored.
instances_site_check() {
  local broke=0 out rc
  out="$(inside orvandel --site-check 2>&1)"
  rc=$?
  echo "site-check ($rc): $out"
  want "it names nothing of a, b or c" eval '! grep -qE "^fix: instance [abc]:" <<< "$out"' ||
    broke=1
  want "it names d's folder without units" grep -qF \
    "fix: instance d: $state/d is there, but no unit of the instance is enabled or running" \
    <<< "$out" || broke=1
  inside chmod g+w /etc/orvandel/b.ini
  out="$(inside orvandel --site-check 2>&1)"
  rc=$?
  inside chmod g-w /etc/orvandel/b.ini
  echo "site-check, b.ini group-writable ($rc): $(grep 'instance b' <<< "$out")"
  want "it names b's settings file, as b's, and fails" eval '[ "$rc" -eq 1 ] &&
    grep -qF "fix: instance b: /etc/orvandel/b.ini is 0664, writable by others than root" \
    <<< "$out"' || broke=1
  [ "$broke" -eq 0 ]
}

# The instances stop; their records stay for the purge to keep.
instances_down() {
  limit=60 inside systemctl disable --now orvandel@a orvandel@b orvandel@c
}

run_case "instances: three services on three simulators, each connected" instances_up
run_case "instances: each records only its own controller, in its own folder; ctl names one" \
  instances_apart
run_case "instances: a window attaches to the one it names; no group refused at every socket" \
  instances_windows
run_case "instances: each may write its own folder, no other instance's nor the plain one's" \
  instances_share_nothing
run_case "instances: two naming one device do not both hold it" instances_one_device
run_case "instances: none named of several, orvandelctl says which (64)" instances_none_named
run_case "instances: the site check names an instance's own faults, as that instance's" \
  instances_site_check
run_case "instances: stopped and disabled, their records kept" instances_down
