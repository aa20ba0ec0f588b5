# orvandelctl at the site: the operator asks the installed service for its state as JSON, whose
# exit status says what stands, and watches it change; silences only after a log-in, which the
# journal names; a user in no group is refused at the socket with exit status 3.
# Sourced by site_test.sh after the notification cases (inside, as, want, sim_type, wait_for).

# Whatever its exit status says (1 while the fault stands; the pipe fails on it).
ctl_lamp_lit() {
  local out
  out="$(as op orvandelctl status --json 2> /dev/null)"
  grep -q '{"caption":"Music/Spare","lamp":4,"lit":true}' <<< "$out"
}

# The refusal before the log-in and the silence after it, each with its actor, in root's export
# (committed on the service's next tick).
ctl_silence_journalled() {
  local rows
  rows="$(inside orvandel --journal-export --kind operator | grep -E 'Silence refused|silenced by op')"
  grep -q "level 0, orvandelctl as op" <<< "$rows" &&
    grep -q "silenced by op from orvandelctl.*operator opb, level 3" <<< "$rows"
}

ctl_at_site() {
  local out rc standing broke=0
  sim_type "fault 4 on"
  want "status --json shows the lamp the simulator lit" wait_for 10 ctl_lamp_lit || broke=1
  out="$(as op orvandelctl status --json 2>&1)"
  rc=$?
  echo "status --json ($rc): $out"
  # A fault the other cases acknowledged or shelved may stand or not: the status says which.
  standing="$(grep -o '"standing":"[a-z]*"' <<< "$out")"
  case "$standing:$rc" in
    '"standing":"quiet"':0 | '"standing":"faults"':1 | '"standing":"alarm"':2) ;;
    *) echo "not so: the exit status says what stands ($standing, $rc)"; broke=1 ;;
  esac
  out="$(as op orvandelctl events --since "$(inside date +%F)" 2>&1)"
  rc=$?
  echo "events ($rc): $(tail -3 <<< "$out")"
  want "the operator reads the journal through the service" grep -q 'Connected: COM1' <<< "$out" ||
    broke=1
  limit=15 as op orvandelctl watch > "$work/ctl-watch.out" 2>&1 &
  sleep 1
  sim_type "fault 4 off"
  want "watch shows the lamp going dark" wait_for 10 grep -q 'lamp 4 Music/Spare dark' \
    "$work/ctl-watch.out" || broke=1
  sim_type "fault 4 on"
  out="$(as op orvandelctl silence 2>&1)"
  rc=$?
  echo "silence before a log-in ($rc): $out"
  want "a shell before its log-in is at level 0: silence refused (4)" \
    eval '[ "$rc" -eq 4 ] && grep -qx "refused: level 1 needed" <<< "$out"' || broke=1
  want "the operator logs in with his PIN on standard input" \
    eval 'echo "$pin" | as op orvandelctl login opb' || broke=1
  out="$(as op orvandelctl silence 2>&1)"
  rc=$?
  as op orvandelctl logout > /dev/null
  echo "silence after the log-in ($rc): $out"
  want "then done" [ "$rc:$out" = "0:done" ] || broke=1
  want "the journal names the refusal and the silence with the actor" \
    wait_for 10 ctl_silence_journalled || broke=1
  inside orvandel --journal-export --kind operator | grep -E 'Silence refused|silenced by op'
  out="$(as loner orvandelctl silence 2>&1)"
  rc=$?
  echo "silence as a user in no group ($rc): $out"
  want "a user in no group: no service (3)" [ "$rc" -eq 3 ] || broke=1
  want "and no answer of the service's printed" eval '! grep -qx done <<< "$out"' || broke=1
  [ "$broke" -eq 0 ]
}

run_case "orvandelctl: status as JSON, watch, the journal; silence after a log-in; no group refused" \
  ctl_at_site
