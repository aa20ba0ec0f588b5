# shellcheck shell=bash
# The service's output in the system journal with priorities: a warning the case provokes is
# shown by `journalctl -p warning`, the records (information) are not; and nothing of the
# libraries on its start. Sourced by site_test.sh after the attack cases (log_mark, sim_type).

# From the mark's own record on (an information line, which -p leaves out): systemd 252's
# --after-cursor with a filter skips the first record that matches as if it were the mark's
# (systemd issue 30288), which here is the very warning looked for.
warnings_since() {
  inside journalctl -u orvandel --no-pager -o cat -p warning --cursor "$1"
}

priorities_at_site() {
  local mark warnings all broke=0
  local events="$state/DATA/EventLog.txt"
  mark="$(log_mark)"
  # The events log a folder, which nobody can append to: the next event is an error notice,
  # and the event's own line.
  inside mv "$events" "$events.aside" && inside mkdir "$events" || return 1
  sim_type "event 0x12 0"
  want "the event is recorded" wait_for 5 said_since "$mark" ' event ' || broke=1
  want "a warning or worse is said" wait_for 5 eval 'warnings_since "$mark" | grep -q .' ||
    broke=1
  warnings="$(warnings_since "$mark")"
  all="$(log_since "$mark")"
  inside rmdir "$events"
  inside mv "$events.aside" "$events"
  # What journald took, each line's priority before it.
  inside journalctl -u orvandel --no-pager -o export --after-cursor "$mark" |
    grep -aE '^(PRIORITY|MESSAGE)=' | tail -12
  echo "warning and above:"
  echo "$warnings"
  want "the notice is shown at warning" grep -q 'EventLog.txt cannot be written' <<< "$warnings" ||
    broke=1
  want "the event's record is not" eval '! grep -q " event " <<< "$warnings"' || broke=1
  want "the record is there at information" grep -q ' event ' <<< "$all" || broke=1
  want "no priority prefix is left in the text" eval '! grep -q "^<[0-9]>" <<< "$all"' || broke=1
  want "nothing of the libraries in the service's log" \
    eval '! inside journalctl -u orvandel --no-pager -o cat |
      grep -E "XDG_RUNTIME_DIR|PulseAudio|No audio device|QStandardPaths"' || broke=1
  [ "$broke" -eq 0 ]
}

run_case "logs: journalctl -p warning shows the service's warnings, not its records" \
  priorities_at_site
