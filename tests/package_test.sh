#!/usr/bin/env bash
# Builds the .deb and the .tar.gz from a finished build tree and checks what the .deb installs:
# the layout, the modes and group of SYSINI and DATA (after the package's own postinst), the
# desktop entry, the icon, the site settings file (root's alone, a conffile), lintian's view, the
# units as systemd reads them, and the maintainer scripts run for real in a root of their own.
set -euo pipefail
build="$1"
source_dir="$(cd "$(dirname "$0")/.." && pwd -P)"
build_dir="$(cd "$build" && pwd -P)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G "DEB;TGZ" -B "$out" > "$out/cpack.log") || { cat "$out/cpack.log"; fail "cpack"; }
deb="$(ls "$out"/orvandel_*.deb)"
ls "$out"/orvandel-*.tar.gz > /dev/null || fail "no .tar.gz"
listing="$(dpkg-deb -c "$deb")"
echo "$listing"
for path in ./opt/orvandel/orvandel ./opt/orvandel/orvandel-sim ./usr/bin/orvandel \
  ./usr/bin/orvandel-sim ./usr/bin/orvandelctl ./usr/share/applications/orvandel.desktop \
  ./usr/share/icons/hicolor/scalable/apps/orvandel.svg ./opt/orvandel/SYSINI/ ./opt/orvandel/DATA/ \
  ./etc/orvandel/orvandel.ini ./lib/systemd/system/orvandel.service \
  ./lib/systemd/system/orvandel.socket ./usr/lib/orvandel/orvandel-extras.so \
  ./lib/systemd/system/orvandel@.service ./lib/systemd/system/orvandel@.socket \
  ./usr/share/doc/orvandel/copyright ./usr/share/doc/orvandel/changelog.gz \
  ./usr/share/man/man1/orvandel.1.gz ./usr/share/man/man1/orvandel-sim.1.gz \
  ./usr/share/man/man1/orvandelctl.1.gz ./usr/bin/orvandel-overview \
  ./lib/systemd/system/orvandel-overview.service ./usr/share/man/man1/orvandel-overview.1.gz \
  ./usr/share/man/man5/orvandel.ini.5.gz ./usr/share/doc/orvandel/README.md \
  ./usr/share/doc/orvandel/docs/operating.md ./usr/share/doc/orvandel/docs/installing.md \
  ./usr/share/doc/orvandel/docs/developers.md ./usr/share/doc/orvandel/examples/serial-line.ini \
  ./usr/share/doc/orvandel/examples/network-mqtt-web.ini \
  ./usr/share/doc/orvandel/examples/notifications.ini; do
  grep -q " $path\$" <<< "$listing" || fail "$path missing from the package"
done
grep -E ' ./opt/orvandel/(SYSINI|DATA)/$' <<< "$listing" | grep -qv '^drwxrwsr-x' &&
  fail "SYSINI and DATA must be drwxrwsr-x in the package"
# The site settings: root's, written by root alone, kept over upgrades as the administrator left it.
grep -E ' ./etc/orvandel/orvandel.ini$' <<< "$listing" | grep -qE '^-rw-r--r-- root/root ' ||
  fail "/etc/orvandel/orvandel.ini must be -rw-r--r-- root/root in the package"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx '/etc/orvandel/orvandel.ini' ||
  fail "/etc/orvandel/orvandel.ini is not a conffile"
# The program's module: where the installed program looks for it, root's and written by root alone.
grep -E ' ./usr/lib/orvandel/orvandel-extras.so$' <<< "$listing" | grep -qE '^-rw-r--r-- root/root ' ||
  fail "/usr/lib/orvandel/orvandel-extras.so must be -rw-r--r-- root/root in the package"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
grep -q 'libqt6widgets6' <<< "$depends" || fail "the Qt runtime is not declared"
grep -q 'libqt6serialport6' <<< "$depends" || fail "the Qt serial port runtime is not declared"
grep -q 'libmosquitto1' <<< "$depends" || fail "the MQTT client library is not declared"

# Debian's own check of the package: no error (a failure of lintian itself fails too).
command -v lintian > /dev/null || fail "lintian is missing"
lintian_out="$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1)" ||
  fail "lintian: $lintian_out"
echo "$lintian_out"
# A program without its manual page (no-manual-page), or a page man cannot read, is only a
# warning to lintian.
manpage_tags="$(grep -E 'manual-page|manpage' <<< "$lintian_out")" &&
  fail "lintian on the manual pages: $manpage_tags"

root="$out/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$out/control"
# No path of the machine that built it: neither the build tree nor the sources.
for file in opt/orvandel/orvandel opt/orvandel/orvandel-sim usr/bin/orvandelctl \
  usr/bin/orvandel-overview usr/lib/orvandel/orvandel-extras.so; do
  for tree in "$build_dir" "$source_dir"; do
    found="$(strings -a "$root/$file" | grep -F "$tree" | head -3)" || true
    [ -z "$found" ] || fail "/$file holds the build's path $tree: $found"
  done
done
# The changelog speaks of the version the package is.
zcat "$root/usr/share/doc/orvandel/changelog.gz" > "$out/changelog"
[ "$(dpkg-parsechangelog -l "$out/changelog" -S Version)" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "the changelog's newest entry is not the package's version $(dpkg-deb -f "$deb" Version)"

# The service's state folder as an earlier package left it: group-writable, readable by others,
# with a link out of it. The postinst takes everything in it to no group write and nothing for
# others, and leaves what a link points to alone.
state="$root/var/lib/orvandel"
mkdir -p "$state/DATA" "$state/SYSINI" "$out/elsewhere"
echo x > "$state/DATA/EventLog.txt"
echo x > "$state/SYSINI/MainForm.INI"
echo x > "$state/DATA/secret"
echo x > "$out/elsewhere/target"
chmod 0775 "$state" "$state/DATA" "$state/SYSINI"
chmod 0664 "$state/DATA/EventLog.txt" "$state/SYSINI/MainForm.INI"
chmod 0600 "$state/DATA/secret"
chmod 0666 "$out/elsewhere/target"
chmod 0777 "$out/elsewhere"
ln -s "$out/elsewhere/target" "$state/DATA/link"
ln -s "$out/elsewhere" "$state/DATA/folder-link"
DPKG_ROOT="$root" DPKG_MAINTSCRIPT_PACKAGE=orvandel sh "$out/control/postinst" configure
for folder in SYSINI DATA; do
  [ "$(stat -c '%a %G' "$root/opt/orvandel/$folder")" = "2775 dialout" ] ||
    fail "$folder is $(stat -c '%a %G' "$root/opt/orvandel/$folder"), not 2775 dialout"
done
for entry in ".:750" "DATA:750" "SYSINI:750" "DATA/EventLog.txt:640" "SYSINI/MainForm.INI:640" \
  "DATA/secret:600"; do
  [ "$(stat -c '%a' "$state/${entry%%:*}")" = "${entry##*:}" ] ||
    fail "/var/lib/orvandel/${entry%%:*} is $(stat -c '%a' "$state/${entry%%:*}"), not ${entry##*:}"
done
[ "$(stat -c '%a' "$out/elsewhere/target")" = 666 ] && [ "$(stat -c '%a' "$out/elsewhere")" = 777 ] ||
  fail "the postinst changed what a link in /var/lib/orvandel points to"
rm -rf "$state"/*
desktop-file-validate "$root/usr/share/applications/orvandel.desktop" || fail "desktop entry"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/orvandel.svg" || fail "icon"
[ -x "$root/opt/orvandel/orvandel" ] || fail "the program is not executable"
# A template: the section is there, empty, with the example only in comments.
grep -qx '\[SerialPorts\]' "$root/etc/orvandel/orvandel.ini" || fail "no [SerialPorts] section"
grep -qiE '^[[:space:]]*COM[0-9]+[[:space:]]*=' "$root/etc/orvandel/orvandel.ini" &&
  fail "the template maps a port"
# The units: systemd's own check, with the program where the unit says it is (any warning fails
# too).
mkdir -p "$out/verify"
for unit in orvandel.service orvandel.socket orvandel-overview.service; do
  sed "s|/opt/orvandel/|$root/opt/orvandel/|g; s|/usr/bin/orvandel-overview|$root&|" \
    "$root/lib/systemd/system/$unit" > "$out/verify/$unit"
done
# The templates as one instance of them (verify takes a unit file by the name it is loaded as).
for unit in service socket; do
  sed "s|/opt/orvandel/|$root/opt/orvandel/|g" "$root/lib/systemd/system/orvandel@.$unit" \
    > "$out/verify/orvandel@b.$unit"
done
command -v systemd-analyze > /dev/null || fail "systemd-analyze is missing"
# Its manual pages are looked up where the package put them.
verify="$(cd "$out/verify" &&
  MANPATH="$root/usr/share/man" systemd-analyze verify orvandel.socket orvandel.service \
    ./orvandel@b.socket ./orvandel@b.service orvandel-overview.service 2>&1)" ||
  fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify warns: $verify"
# The manual pages render without a warning.
for page in man1/orvandel.1.gz man1/orvandel-sim.1.gz man1/orvandelctl.1.gz \
  man1/orvandel-overview.1.gz man5/orvandel.ini.5.gz; do
  warnings="$(man --warnings -l "$root/usr/share/man/$page" 2>&1 > /dev/null)"
  [ -z "$warnings" ] || fail "$page: $warnings"
done

# Installed, upgraded, removed and purged for real, in a root of its own (the maintainer scripts
# run outside a chroot, with DPKG_ROOT). Installing enables nothing; an upgrade keeps what an
# administrator enabled; removal disables the service and its socket; purge takes what the
# package and the program made but keeps the journal and the event log, and says so.
inst="$out/inst"
mkdir -p "$inst/var/lib/dpkg/info" "$inst/var/lib/dpkg/updates"
touch "$inst/var/lib/dpkg/status"
dpkg=(dpkg "--root=$inst" --force-script-chrootless --force-depends)
wants=("$inst/etc/systemd/system/multi-user.target.wants/orvandel.service"
  "$inst/etc/systemd/system/sockets.target.wants/orvandel.socket")
"${dpkg[@]}" -i "$deb" > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -i"; }
[ -z "$(find "$inst/etc" -path '*/systemd/*' -type l)" ] || fail "installing enabled a unit"
systemctl --root="$inst" enable orvandel.service > /dev/null 2>&1 || fail "systemctl enable"
for link in "${wants[@]}"; do [ -L "$link" ] || fail "enabling the service left no $link"; done
"${dpkg[@]}" -i "$deb" > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -i again"; }
for link in "${wants[@]}"; do [ -L "$link" ] || fail "the upgrade disabled $link"; done
"${dpkg[@]}" -r orvandel > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -r"; }
# A link is looked at itself: the unit it names is gone with the package.
for link in "${wants[@]}"; do [ ! -L "$link" ] || fail "the removed package left $link"; done
# An instance's folder (orvandel@b) beside the plain service's files.
for base in opt/orvandel var/lib/orvandel var/lib/orvandel/b; do
  mkdir -p "$inst/$base/DATA" "$inst/$base/SYSINI"
  for file in DATA/Journal.sqlite DATA/EventLog.txt DATA/other.tmp SYSINI/MainForm.INI; do
    echo x > "$inst/$base/$file"
  done
done
mkdir -p "$inst/etc/orvandel"
echo x > "$inst/etc/orvandel/users"
"${dpkg[@]}" -P orvandel > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -P"; }
cat "$out/dpkg.log"
for said in 'removed /etc/orvandel/users (the operators and their PIN hashes' \
  'removed what the program made (its settings and working files): /opt/orvandel/DATA/other.tmp /opt/orvandel/SYSINI /var/lib/orvandel/b/DATA/other.tmp /var/lib/orvandel/b/SYSINI /var/lib/orvandel/DATA/other.tmp /var/lib/orvandel/SYSINI' \
  'kept the site.s records (the journal and the event log are an audit record; delete them by hand once the site no longer has to keep them): /opt/orvandel/DATA/EventLog.txt /opt/orvandel/DATA/Journal.sqlite /var/lib/orvandel/b/DATA/EventLog.txt /var/lib/orvandel/b/DATA/Journal.sqlite /var/lib/orvandel/DATA/EventLog.txt /var/lib/orvandel/DATA/Journal.sqlite'; do
  grep -q "^orvandel: $said" "$out/dpkg.log" || fail "purge does not say: $said"
done
for base in opt/orvandel var/lib/orvandel var/lib/orvandel/b; do
  [ -f "$inst/$base/DATA/Journal.sqlite" ] && [ -f "$inst/$base/DATA/EventLog.txt" ] ||
    fail "purge removed the site's records in /$base"
  [ ! -e "$inst/$base/DATA/other.tmp" ] && [ ! -e "$inst/$base/SYSINI" ] ||
    fail "purge left files behind in /$base"
done
[ ! -e "$inst/etc/orvandel" ] || fail "purge left /etc/orvandel"
echo "1 passed, 0 failed"
