#!/usr/bin/env bash
# Every manual page the package ships (packaging/*.[1-8]): man renders it without a warning at 80
# columns (every groff warning, w: a line it cannot adjust too, not only man's default, undefined
# macros), it has the sections an installer looks for (EXAMPLES and FILES among them), and each
# page of this package it names exists.
set -uo pipefail
folder="${1:?the folder of the pages}"
command -v man > /dev/null || { echo "man is missing"; exit 1; }
shopt -s nullglob
pages=("$folder"/*.[1-8])
[ "${#pages[@]}" -gt 0 ] || { echo "no manual pages in $folder"; exit 1; }
broke=0
fail() { echo "FAIL: $*"; broke=1; }
for page in "${pages[@]}"; do
  name="$(basename "$page")"
  warnings="$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 > /dev/null)" ||
    fail "$name: man failed: $warnings"
  [ -z "$warnings" ] || fail "$name warns: $warnings"
  for section in NAME SYNOPSIS DESCRIPTION FILES EXAMPLES "SEE ALSO"; do
    grep -Eq "^\.SH \"?$section\"?\$" "$page" || fail "$name has no $section section"
  done
  # The package's own pages it names, as .BR name (n): each one is shipped too.
  while read -r other number; do
    [ -f "$folder/$other.$number" ] || fail "$name names $other($number), which is not shipped"
  done < <(sed -nE 's/^\.BR (orvandel[a-z.\\-]*) \(([1-8])\).*/\1 \2/p' "$page" | sed 's/\\-/-/g')
done
[ "$broke" -eq 0 ] && echo "${#pages[@]} pages render without a warning and have every section"
exit "$broke"
