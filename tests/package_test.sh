#!/usr/bin/env bash
# Builds the .deb and the .tar.gz from a finished build tree and checks what the .deb installs:
# the layout, the modes and group of SYSINI and DATA (after the package's own postinst), the
# desktop entry, the icon, and the site settings file (root's alone, a conffile).
set -euo pipefail
build="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G "DEB;TGZ" -B "$out" > "$out/cpack.log") || { cat "$out/cpack.log"; fail "cpack"; }
deb="$(ls "$out"/orvandel_*.deb)"
ls "$out"/orvandel-*.tar.gz > /dev/null || fail "no .tar.gz"
listing="$(dpkg-deb -c "$deb")"
echo "$listing"
for path in ./opt/orvandel/orvandel ./opt/orvandel/orvandel-sim ./usr/bin/orvandel \
  ./usr/bin/orvandel-sim ./usr/share/applications/orvandel.desktop \
  ./usr/share/icons/hicolor/scalable/apps/orvandel.svg ./opt/orvandel/SYSINI/ ./opt/orvandel/DATA/ \
  ./etc/orvandel/orvandel.ini ./lib/systemd/system/orvandel.service \
  ./usr/lib/orvandel/orvandel-extras.so; do
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

root="$out/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$out/control"
DPKG_ROOT="$root" sh "$out/control/postinst" configure
for folder in SYSINI DATA; do
  [ "$(stat -c '%a %G' "$root/opt/orvandel/$folder")" = "2775 dialout" ] ||
    fail "$folder is $(stat -c '%a %G' "$root/opt/orvandel/$folder"), not 2775 dialout"
done
desktop-file-validate "$root/usr/share/applications/orvandel.desktop" || fail "desktop entry"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/orvandel.svg" || fail "icon"
[ -x "$root/opt/orvandel/orvandel" ] || fail "the program is not executable"
# A template: the section is there, empty, with the example only in comments.
grep -qx '\[SerialPorts\]' "$root/etc/orvandel/orvandel.ini" || fail "no [SerialPorts] section"
grep -qiE '^[[:space:]]*COM[0-9]+[[:space:]]*=' "$root/etc/orvandel/orvandel.ini" &&
  fail "the template maps a port"
# The service unit: systemd's own check, with the program where the unit says it is (any warning
# fails too); installed, never enabled by the package.
unit="$out/verify/orvandel.service"
mkdir -p "$out/verify"
sed "s|/opt/orvandel/|$root/opt/orvandel/|g" "$root/lib/systemd/system/orvandel.service" > "$unit"
if command -v systemd-analyze > /dev/null; then
  # Its manual pages are looked up where the package put them.
  verify="$(MANPATH="$root/usr/share/man" systemd-analyze verify "$unit" 2>&1)" ||
    fail "systemd-analyze verify: $verify"
  [ -z "$verify" ] || fail "systemd-analyze verify warns: $verify"
else
  fail "systemd-analyze is missing"
fi
grep -qx 'ExecStart=/opt/orvandel/orvandel --headless --state-folder /var/lib/orvandel' \
  "$root/lib/systemd/system/orvandel.service" ||
  fail "the service does not run the program headless with its state in /var/lib/orvandel"
# Site mode: the service's socket folder and state folder are made by systemd, its state folder
# and the operators' group also by the postinst.
for line in RuntimeDirectory=orvandel StateDirectory=orvandel StateDirectoryMode=0750; do
  grep -qx "$line" "$root/lib/systemd/system/orvandel.service" || fail "the unit lacks $line"
done
[ "$(stat -c '%a' "$root/var/lib/orvandel")" = "750" ] ||
  fail "/var/lib/orvandel is $(stat -c '%a' "$root/var/lib/orvandel"), not 750"
grep -q 'chown orvandel:orvandel "$state"' "$out/control/postinst" ||
  fail "the postinst does not give /var/lib/orvandel to the service's user"
grep -q 'groupadd --system orvandel-operators' "$out/control/postinst" ||
  fail "the postinst does not make the group orvandel-operators"
grep -q 'systemctl enable\|deb-systemd-helper enable' "$out/control/postinst" &&
  fail "the package must not enable the service"
# The manual pages render without a warning; the copyright file is where Debian keeps it.
for page in usr/share/man/man1/orvandel.1 usr/share/man/man5/orvandel.ini.5; do
  [ -f "$root/$page" ] || fail "$page is missing"
  warnings="$(man --warnings -l "$root/$page" 2>&1 > /dev/null)"
  [ -z "$warnings" ] || fail "$page: $warnings"
done
[ -f "$root/usr/share/doc/orvandel/copyright" ] || fail "no copyright file"
grep -qx 'Type=notify' "$root/lib/systemd/system/orvandel.service" || fail "the service is not Type=notify"
grep -qx 'WatchdogSec=10' "$root/lib/systemd/system/orvandel.service" || fail "the service has no watchdog"

# Installed, removed and purged for real, in a root of its own (the maintainer scripts run
# outside a chroot, with DPKG_ROOT): removal disables the service an administrator enabled;
# purge takes what the package and the program made, but keeps the journal and the event log
# and names them.
inst="$out/inst"
mkdir -p "$inst/var/lib/dpkg/info" "$inst/var/lib/dpkg/updates"
touch "$inst/var/lib/dpkg/status"
dpkg=(dpkg "--root=$inst" --force-script-chrootless --force-depends)
"${dpkg[@]}" -i "$deb" > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -i"; }
systemctl --root="$inst" enable orvandel.service > /dev/null 2>&1 || fail "systemctl enable"
[ -L "$inst/etc/systemd/system/multi-user.target.wants/orvandel.service" ] ||
  fail "enabling the service left no link"
"${dpkg[@]}" -r orvandel > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -r"; }
[ -e "$inst/etc/systemd/system/multi-user.target.wants/orvandel.service" ] &&
  fail "the removed package left its service enabled"
mkdir -p "$inst/opt/orvandel/DATA" "$inst/opt/orvandel/SYSINI"
for file in DATA/Journal.sqlite DATA/EventLog.txt DATA/other.tmp SYSINI/MainForm.INI; do
  echo x > "$inst/opt/orvandel/$file"
done
"${dpkg[@]}" -P orvandel > "$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg -P"; }
grep -q 'kept the site.s records: /opt/orvandel/DATA/EventLog.txt /opt/orvandel/DATA/Journal.sqlite' \
  "$out/dpkg.log" || { cat "$out/dpkg.log"; fail "purge does not name what it keeps"; }
[ -f "$inst/opt/orvandel/DATA/Journal.sqlite" ] && [ -f "$inst/opt/orvandel/DATA/EventLog.txt" ] ||
  fail "purge removed the site's records"
[ -e "$inst/opt/orvandel/DATA/other.tmp" ] || [ -e "$inst/opt/orvandel/SYSINI" ] ||
  [ -e "$inst/etc/orvandel/orvandel.ini" ] && fail "purge left files behind"
echo "1 passed, 0 failed"
