#!/usr/bin/env bash
# Installs the built program into a throw-away tree and builds the Debian package, then
# checks that every file a screen-saver daemon looks for is where it looks, that the
# desktop entries and the manual page pass their validators, and that lintian accepts
# the package. As root, with nothing else called pantel on the machine and every
# dependency already there, it also installs the package with apt-get and purges it.
set -euo pipefail
build=$1
work=$(mktemp -d)
installed=0
cleanup() {
  if ((installed)); then
    apt-get purge -y -qq -o DPkg::Lock::Timeout=300 pantel >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
for tool in lintian desktop-file-validate man dpkg-deb dpkg-parsechangelog; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps)"
done
version=$(sed -n 's/^project(Pantel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[[ -n $version ]] || fail "no project version in CMakeLists.txt"

# A gzip file as Debian wants it: no file name and no time stamp in the header.
reproducible_gzip() {
  local header
  header=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
  [[ $header == 1f8b0800* && ${header:8:8} == 00000000 ]]
}

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >"$work/install.log"
root=$work/root
[[ -x $root/usr/bin/pantel ]] || fail "the program is not installed"
link=$root/usr/libexec/xscreensaver/pantel
[[ -L $link ]] || fail "no link in XScreenSaver's folder"
[[ $(readlink "$link") == ../../bin/pantel ]] || fail "the link is not ../../bin/pantel but $(readlink "$link")"
[[ $(readlink -f "$link") == "$(readlink -f "$root/usr/bin/pantel")" ]] || fail "the link does not reach the program"
xml=$root/usr/share/xscreensaver/config/pantel.xml
[[ -f $xml ]] || fail "no XScreenSaver settings file"
grep -q '<screensaver name="pantel" _label="Pantel">' "$xml" || fail "the settings file does not name the saver"
grep -q '<command arg="-root"/>' "$xml" || fail "the settings file does not pass -root"

saver=$root/usr/share/applications/screensavers/pantel.desktop
settings=$root/usr/share/applications/pantel-settings.desktop
grep -qx 'Categories=Screensaver;' "$saver" || fail "the screensaver entry lacks its category"
grep -qx 'OnlyShowIn=XFCE;MATE;' "$saver" || fail "the screensaver entry is not limited to XFCE and MATE"
grep -qx 'Exec=pantel -root' "$saver" || fail "the screensaver entry does not start the saver"
grep -qx 'Exec=pantel /c' "$settings" || fail "no settings entry"
for entry in "$saver" "$settings"; do
  grep -q '^Name\[ja\]=.' "$entry" || fail "$(basename "$entry") has no Japanese name"
  # Errors and warnings fail; a hint is allowed: "Screensaver" is no main category, and
  # the daemons' own theme entries carry the same hint.
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate refuses $(basename "$entry"): $out"
  ! grep -E ': (error|warning): ' <<<"$out" || fail "desktop-file-validate warns about $(basename "$entry")"
done

page=$root/usr/share/man/man1/pantel.1.gz
[[ -f $page ]] || fail "no manual page"
reproducible_gzip "$page" || fail "the manual page is not compressed with gzip -9n"
for encoding in ascii UTF-8; do
  MANWIDTH=80 man --warnings -E "$encoding" -l "$page" >"$work/man.txt" 2>"$work/man.err" || fail "man cannot show the page"
  [[ ! -s $work/man.err ]] || { cat "$work/man.err"; fail "man --warnings complains about the page ($encoding)"; }
done
for heading in NAME SYNOPSIS MODES SETTINGS ENVIRONMENT 'EXIT STATUS' FILES; do
  grep -qx "$heading" "$work/man.txt" || fail "the manual page has no $heading section"
done
for word in /s /c /p /a XSCREENSAVER_WINDOW XDG_CONFIG_HOME XDG_RUNTIME_DIR QuerkTalked \
            RoundTime MailCheckF xfce4-screensaver mate-screensaver "pantel -root" "Pantel $version" \
            swayidle WAYLAND_DISPLAY; do
  grep -qF -- "$word" "$work/man.txt" || fail "the manual page does not mention $word"
done

doc=$root/usr/share/doc/pantel
head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "the copyright file is not machine-readable"
reproducible_gzip "$doc/changelog.gz" || fail "the changelog is not compressed with gzip -9n"
zcat "$doc/changelog.gz" >"$work/changelog"
[[ $(dpkg-parsechangelog -l "$work/changelog" -S Version) == "$version" ]] \
  || fail "the changelog's newest entry is not for version $version"

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/package/pantel_*.deb)
dbgsym=$(ls "$work"/package/pantel-dbgsym_*.ddeb 2>/dev/null) || fail "no debug-symbol package"
info=$(dpkg-deb --info "$deb")
grep -q 'Package: pantel' <<<"$info" || fail "the package has no name"
grep -q "Version: $version" <<<"$info" || fail "the package has the wrong version"
grep -q 'Maintainer: .*<[^@]*@[^>]*\.[a-z]*>' <<<"$info" || fail "the package has no maintainer address"
! grep -q 'Maintainer: .*localhost' <<<"$info" || fail "the maintainer address is on localhost"
(($(dpkg-deb -f "$deb" Description | wc -l) > 5)) || fail "the package has no extended description"
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo libwebp7 libwebpdemux2 libheif1 \
                  qt6-qpa-plugins qt6-image-formats-plugins 'fonts-ipafont-gothic | fonts-noto-cjk' \
                  qt6-translations-l10n libssl3; do
  grep -qF "$dependency" <<<"$depends" || fail "the package does not depend on $dependency: $depends"
done
contents=$(dpkg-deb -c "$deb")
grep -q './usr/libexec/xscreensaver/pantel -> ../../bin/pantel$' <<<"$contents" || fail "the package lacks the saver link"
[[ $(dpkg-deb -f "$deb" Recommends) == *qt6-wayland* ]] || fail "the package does not recommend qt6-wayland"
for path in usr/share/man/man1/pantel.1.gz usr/share/doc/pantel/copyright usr/share/doc/pantel/changelog.gz \
            usr/share/doc/pantel/examples/swayidle.conf; do
  grep -q " \./$path$" <<<"$contents" || fail "the package lacks $path"
done
dpkg-deb -x "$deb" "$work/unpacked"
grep -q ', stripped' <<<"$(file "$work/unpacked/usr/bin/pantel")" || fail "the program in the package is not stripped"
# Qt Network, OpenSSL and libheif are not loaded at start-up: the mail check does without
# the first and loads the second when it first speaks TLS; the third comes with the first
# HEIF picture.
! readelf -d "$work/unpacked/usr/bin/pantel" | grep -qE 'NEEDED.*(libQt6Network|libssl|libcrypto|libheif)' \
  || fail "the program links Qt Network, OpenSSL or libheif"
grep -q '/usr/lib/debug/\.build-id/.*\.debug$' <<<"$(dpkg-deb -c "$dbgsym")" || fail "the debug-symbol package has no symbols"

# lintian with Debian's own profile, on both packages: no error and no warning.
if ! lintian --profile debian --fail-on error,warning "$deb" "$dbgsym" >"$work/lintian.txt" 2>&1 \
   || grep -qE '^[EW]: ' "$work/lintian.txt"; then
  cat "$work/lintian.txt"
  fail "lintian reports errors or warnings"
fi

# The package on the real system: only where it changes nothing else (root, no other
# pantel, every dependency already installed), and purged at the end.
if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null && [[ ! -e /usr/bin/pantel ]] \
   && ! dpkg-query -W pantel >/dev/null 2>&1; then
  plan=$(apt-get install -s -o Debug::NoLocking=1 "$deb" 2>&1) || true
  if [[ $(grep -c '^Inst ' <<<"$plan") -eq 1 ]] && grep -q '^Inst pantel ' <<<"$plan"; then
    installed=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" \
      >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get cannot install the package"; }
    [[ $(readlink -f /usr/libexec/xscreensaver/pantel) == /usr/bin/pantel ]] || fail "the installed link does not reach the program"
    [[ $(man -w pantel) == /usr/share/man/man1/pantel.1.gz ]] || fail "man pantel does not find the page"
    /usr/bin/pantel /a || fail "the installed program does not run"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=300 pantel \
      >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get cannot remove the package"; }
    installed=0
    [[ ! -e /usr/bin/pantel && ! -L /usr/libexec/xscreensaver/pantel ]] || fail "files are left after removal"
    [[ ! -e /usr/share/doc/pantel ]] || fail "the documentation is left after removal"
    echo "apt-get installed the package, and purged it again"
  else
    echo "apt-get install skipped: it would change more than pantel"
  fi
fi
echo "install and package: 1 passed, 0 failed"
