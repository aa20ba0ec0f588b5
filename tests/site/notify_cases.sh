# The site's notifications under the service's unit and its sandbox: a fault reaches the site's
# command as the service's user with the facts in its environment, and root's --notify-test
# goes the same way. Sourced by site_test.sh after the attack cases (restart_service, want).

notify_at_site() {
  local page=/usr/local/bin/page-duty ini=/etc/orvandel/orvandel.ini out rc broke=0
  # The command writes where the unit lets the service write: the shared lock folder.
  inside cp "$ini" /var/tmp/orvandel.ini.notify &&
    inside sh -c "printf '#!/bin/sh\n{ id -un; env | grep ^ORV_; } > /run/lock/page.\$ORV_NOTIFY_TYPE\n' \
      > $page && chmod 0755 $page" &&
    inside sed -i "/^\[Notify\]/a Rules=site\nCommand=$page" "$ini" &&
    inside sh -c "printf '[Notify site]\nConditions=fault 6\nTo=command\nInterval=1s\n' >> $ini" &&
    restart_service || return 1
  sim_type "fault 6 on"
  want "the command runs within 5 s of the lamp" wait_for 5 inside test -s /run/lock/page.problem ||
    broke=1
  out="$(inside cat /run/lock/page.problem)"
  echo "$out"
  want "as the service's user" grep -qx orvandel <<< "$out" || broke=1
  want "with the facts" grep -qx 'ORV_CONDITION=fault-6' <<< "$out" || broke=1
  out="$(inside orvandel --notify-test 2>&1)"
  rc=$?
  echo "--notify-test ($rc): $out"
  want "root's test is delivered" grep -qx 'site to command: delivered (exit 0)' <<< "$out" ||
    broke=1
  want "root's test runs as the service's user" inside grep -qx orvandel /run/lock/page.test ||
    broke=1
  sim_type "fault 6 off"
  inside cp /var/tmp/orvandel.ini.notify "$ini"
  restart_service || broke=1
  [ "$rc" -eq 0 ] && [ "$broke" -eq 0 ]
}

run_case "notify: a fault reaches the site's command as the service's user; --notify-test" \
  notify_at_site
