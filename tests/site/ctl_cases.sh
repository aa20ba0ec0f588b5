# orvandelctl at the site: the operator asks the installed service for its state as JSON, whose
# exit status says what stands; a user in no group is refused at the socket with exit status 3.
# Sourced by site_test.sh after the notification cases (inside, as, want, sim_type, wait_for).

# Whatever its exit status says (1 while the fault stands; the pipe fails on it).
ctl_lamp_lit() {
  local out
  out="$(as op orvandelctl status --json 2> /dev/null)"
  grep -q '{"caption":"Music/Spare","lamp":4,"lit":true}' <<< "$out"
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
  out="$(as loner orvandelctl silence 2>&1)"
  rc=$?
  echo "silence as a user in no group ($rc): $out"
  want "a user in no group: no service (3)" [ "$rc" -eq 3 ] || broke=1
  want "and no answer of the service's printed" eval '! grep -qx done <<< "$out"' || broke=1
  [ "$broke" -eq 0 ]
}

run_case "orvandelctl: the operator's status as JSON and the journal; a user in no group refused" \
  ctl_at_site
