#!/bin/bash
# No room in two binaries: every definition of the rooms' code and data (a symbol of namespace
# orv, or its vtable, typeinfo, guard variable, ...) that the program and its module both hold
# fails, unless it is weak in both. Weak definitions are what the compiler makes in every binary
# that uses them (inline functions, template instances, inline variables): they cannot be kept
# out of the module, and the dynamic loader binds the module's uses to the program's copy, so
# they are counted and listed, not failed. So are the compiler's local clones of a function for
# one caller ("[clone .isra.0]", ".constprop", ".part", ".cold"): an optimised build makes them
# wherever such a caller is compiled, inline template instances among them. A room in both binaries
# still shows by its own strong definitions.
#   one_copy_of_each_room.sh PROGRAM MODULE...
set -euo pipefail
export LC_ALL=C
(($# >= 2)) || { echo "usage: $0 PROGRAM MODULE..." >&2; exit 2; }

# "KIND NAME" for each of the rooms' definitions in $1; KIND is weak or strong.
definitions() {
  nm --demangle --defined-only "$1" | awk '
    { kind = $2; name = $0; sub(/^[^ ]* [^ ] /, "", name) }
    kind !~ /^[TtDdBbRrWwVvu]$/ { next }
    name !~ /^([a-z ]+ for )?orv::/ { next }
    { print (kind ~ /^[WwVvu]$/ || name ~ / \[clone \.[^]]*\]$/ ? "weak" : "strong"), name }' |
    sort -u
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for binary in "$@"; do
  definitions "$binary" > "$work/$(basename "$binary").defs"
  # A binary without the rooms' symbols (stripped, or not this program) proves nothing.
  if ! grep -q '^strong ' "$work/$(basename "$binary").defs"; then
    echo "$binary holds no definition of the rooms: nothing to compare" >&2
    exit 1
  fi
done

failed=0
program="$work/$(basename "$1").defs"
shift
for module in "$@"; do
  defs="$work/$(basename "$module").defs"
  # Names defined in both, and those weak in both: the rest is there twice.
  both=$(comm -12 <(cut -d' ' -f2- "$program" | sort -u) <(cut -d' ' -f2- "$defs" | sort -u))
  weak_both=$(comm -12 <(sed -n 's/^weak //p' "$program") <(sed -n 's/^weak //p' "$defs"))
  twice=$(comm -23 <(printf '%s\n' "$both" | sed '/^$/d') <(printf '%s\n' "$weak_both" | sed '/^$/d'))
  weak_count=$(printf '%s\n' "$weak_both" | sed '/^$/d' | wc -l)
  echo "$(basename "$module"): $weak_count weak definitions shared with the program (bound to its copy)"
  if [[ -n "$twice" ]]; then
    echo "The rooms' code or data both in the program and in $(basename "$module"):" >&2
    printf '%s\n' "$twice" | sed -n '1,40p' >&2
    echo "($(printf '%s\n' "$twice" | wc -l) in all)" >&2
    failed=1
  fi
done
exit "$failed"
