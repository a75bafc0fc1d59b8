#!/usr/bin/env bash
# Installs the built program into a throw-away tree and builds the Debian package, then
# checks that every file a screen-saver daemon looks for is where it looks.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >"$work/install.log"
root=$work/root
[[ -x $root/usr/bin/pantel ]] || fail "the program is not installed"
[[ -L $root/usr/libexec/xscreensaver/pantel ]] || fail "no link in XScreenSaver's folder"
[[ $(readlink "$root/usr/libexec/xscreensaver/pantel") == /usr/bin/pantel ]] || fail "the link points elsewhere"
xml=$root/usr/share/xscreensaver/config/pantel.xml
[[ -f $xml ]] || fail "no XScreenSaver settings file"
grep -q '<screensaver name="pantel" _label="Pantel">' "$xml" || fail "the settings file does not name the saver"
grep -q '<command arg="-root"/>' "$xml" || fail "the settings file does not pass -root"
saver=$root/usr/share/applications/screensavers/pantel.desktop
grep -qx 'Categories=Screensaver;' "$saver" || fail "the screensaver entry lacks its category"
grep -qx 'Exec=pantel -root' "$saver" || fail "the screensaver entry does not start the saver"
grep -qx 'Exec=pantel /c' "$root/usr/share/applications/pantel-settings.desktop" || fail "no settings entry"

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/package/*.deb)
info=$(dpkg-deb --info "$deb")
grep -q 'Package: pantel' <<<"$info" || fail "the package has no name"
grep -q 'Version: 1.12' <<<"$info" || fail "the package has the wrong version"
grep -q 'libqt6widgets6' <<<"$info" || fail "the package does not depend on Qt widgets"
grep -q 'libjpeg62-turbo' <<<"$info" || fail "the package does not depend on libjpeg-turbo"
contents=$(dpkg-deb -c "$deb")
grep -q './usr/libexec/xscreensaver/pantel -> /usr/bin/pantel' <<<"$contents" || fail "the package lacks the saver link"
echo "install and package: 1 passed, 0 failed"
