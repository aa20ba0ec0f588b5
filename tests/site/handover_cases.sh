# The shift handover report at the site: root reads the service's journal, as text and as a PDF
# made without a display by the installed program (read back with pdftotext here), with the
# refusals the attack cases left in the last 24 hours; an operator is told to run it as root.
# Sourced by site_test.sh after the settings cases (inside, as, want, $work).

handover_at_site() {
  local out rc heading broke=0
  out="$(inside orvandel --handover-report 2>&1)"
  rc=$?
  echo "root's report ($rc): $(head -c 3000 <<< "$out")"
  want "root's report exits 0" [ "$rc" -eq 0 ] || broke=1
  for heading in 'Shift handover report' 'Conditions standing, not acknowledged (' \
    'Conditions acknowledged, still standing (' 'Conditions cleared in the period (' \
    'Shelves ending in the next 8 h (' 'Link losses (' 'Log-ins and log-outs (' \
    'Logged in at the end ('; do
    want "the report has \"$heading\"" grep -qF "$heading" <<< "$out" || broke=1
  done
  want "the attack cases' refused log-ins are in it" grep -q '^Refused actions ([1-9]' \
    <<< "$out" || broke=1
  out="$(inside orvandel --handover-report --format pdf --output /var/tmp/handover.pdf 2>&1)"
  rc=$?
  echo "root's PDF ($rc): $out"
  want "root's PDF is made without a display" [ "$rc" -eq 0 ] || broke=1
  inside cat /var/tmp/handover.pdf > "$work/handover.pdf"
  out="$(pdftotext "$work/handover.pdf" - 2>&1)"
  want "the PDF reads back with its title" grep -q 'Shift handover report' <<< "$out" || broke=1
  want "and its refusals" grep -q 'Refused actions' <<< "$out" || broke=1
  out="$(as op orvandel --handover-report 2>&1)"
  rc=$?
  echo "the operator's report ($rc): $out"
  want "the operator is told to run it as root" grep -q 'permission denied: run as root' \
    <<< "$out" || broke=1
  want "the operator's report exits 1" [ "$rc" -eq 1 ] || broke=1
  [ "$broke" -eq 0 ]
}

run_case "handover: root's report as text and PDF from the service's journal; an operator refused" \
  handover_at_site
