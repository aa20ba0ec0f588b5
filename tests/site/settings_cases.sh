# shellcheck shell=bash
# The site's settings under systemd: a wrong value keeps the service from starting, with its line
# in `systemctl status` and no restart loop; `systemctl reload` reads the file again without
# dropping the line. Sourced by site_test.sh after the attack cases (restart_service, log_mark,
# said_since, main_pid, want).

silent_since() { ! said_since "$@"; }

settings_at_site() {
  local ini=/etc/orvandel/orvandel.ini out line mark pid broke=0
  local refusal
  inside cp "$ini" /var/tmp/orvandel.ini.settings || return 1
  inside sed -i "/^\[LinkWatch\]/a NoReplySeconds=abc" "$ini" || return 1
  line="$(inside grep -n '^NoReplySeconds=abc' "$ini" | cut -d: -f1)"
  refusal="$ini:$line: [LinkWatch] NoReplySeconds=abc is not a number from 2 to 100 (or 0)"
  out="$(inside orvandel --check-settings 2>&1)"
  want "--check-settings exits 1" [ $? -eq 1 ] || broke=1
  want "--check-settings names the line" grep -qF "$refusal" <<< "$out" || broke=1
  inside systemctl reset-failed orvandel
  limit=60 inside systemctl restart orvandel
  want "the unit fails" wait_for 15 [ "$(inside systemctl is-failed orvandel)" = failed ] ||
    broke=1
  # Three times RestartSec: a restart loop would have started it again by now.
  sleep 10
  out="$(inside systemctl status orvandel --no-pager -n 20 2>&1)"
  echo "$out" | tail -6
  want "systemctl status shows the line" grep -qF "$refusal" <<< "$out" || broke=1
  want "and the status 78" grep -q 'status=78' <<< "$out" || broke=1
  want "no restart" [ "$(inside systemctl show -P NRestarts orvandel)" = 0 ] || broke=1
  want "still failed" [ "$(inside systemctl is-failed orvandel)" = failed ] || broke=1

  inside sed -i 's/^NoReplySeconds=abc$/NoReplySeconds=100/' "$ini" && restart_service || return 1
  pid="$(main_pid)"
  mark="$(log_mark)"
  inside sed -i 's/^NoReplySeconds=100$/NoReplySeconds=7/' "$ini" &&
    inside sed -i "/^\[Journal\]/a MaxMegabytes=64" "$ini" &&
    limit=30 inside systemctl reload orvandel || broke=1
  want "the reload takes the new value" \
    wait_for 10 said_since "$mark" 'settings \[LinkWatch\] NoReplySeconds=7 from now on' || broke=1
  want "and the journal's budget" \
    said_since "$mark" 'settings \[Journal\] MaxMegabytes=64 from now on' || broke=1
  want "the same process" [ "$(main_pid)" = "$pid" ] || broke=1
  want "the line stays up" silent_since "$mark" 'link (Disconnected|Connected)' || broke=1
  log_since "$mark" | tail -4
  inside cp /var/tmp/orvandel.ini.settings "$ini"
  restart_service || broke=1
  [ "$broke" -eq 0 ]
}

run_case "settings: a wrong value stops the start with its line and no restart loop; reload" \
  settings_at_site
