#!/usr/bin/env bash
# The README and the guides as a reader meets them: the README begins with what Orvandel is, then
# the two commands, and stays short; every link between the README and docs/*.md leads to a file
# that is there and, with a #part, to a heading in it (as GitHub names headings).
#   docs_test.sh SOURCE_DIR
set -uo pipefail
source_dir="${1:?the source folder}"
cd "$source_dir" || exit 1
broke=0
fail() { echo "FAIL: $*"; broke=1; }

lines="$(wc -l < README.md)"
[ "$lines" -le 150 ] || fail "README.md has $lines lines, more than 150"
[ "$(sed -n 1p README.md)" = "# Orvandel" ] || fail "README.md does not begin with its title"
# The first paragraph says what Orvandel is; the first code block, before any section, holds
# exactly the two commands.
first="$(awk 'NR > 1 && NF { print; exit }' README.md)"
[[ "$first" == "Orvandel is "* ]] || fail "README.md's first paragraph begins \"$first\""
block="$(awk '/^## / { exit } /^```/ { if (inside) exit; inside = 1; next } inside' README.md)"
want='bash scripts/demo.sh   # install what is missing, build, run the program against the simulated controller
bash scripts/test.sh   # install what is missing, build with warnings as errors, run every test'
[ "$block" = "$want" ] || fail "README.md's first code block before any section is not the two commands: $block"

# A heading's anchor as GitHub makes it: lower case, code marks and punctuation other than - and
# _ dropped, each blank a -.
anchors() {
  sed -n 's/^#\{1,6\} //p' "$1" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}
for page in README.md docs/*.md; do
  folder="$(dirname "$page")"
  # Links outside code blocks: ](target) with a relative target.
  while read -r target; do
    file="${target%%#*}"
    part=""
    [[ "$target" == *"#"* ]] && part="${target#*#}"
    if [ -z "$file" ]; then path="$page"; else path="$folder/$file"; fi
    [ -e "$path" ] || { fail "$page links to $target: no $path"; continue; }
    if [ -n "$part" ] && ! anchors "$path" | grep -qxF -- "$part"; then
      fail "$page links to $target: $path has no such heading"
    fi
  done < <(awk '/^```/ { code = !code; next } !code' "$page" |
    grep -oE '\]\([^)[:space:]]+\)' | sed 's/^](//; s/)$//' | grep -vE '^[a-z]+:')
done
[ "$broke" -eq 0 ] && echo "README.md is $lines lines; every link between the guides leads somewhere"
exit "$broke"
