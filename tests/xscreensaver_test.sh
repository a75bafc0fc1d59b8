#!/usr/bin/env bash
# Pantel as a saver of Debian's real XScreenSaver daemon, under Xvfb: the daemon starts
# "pantel -root" in its own window on activation, the frame shows there, and the saver
# ends within a second of deactivation. XScreenSaver refuses to start savers as root, so
# the daemon runs as an unprivileged user made for this test.
set -euo pipefail
# The daemon's savers inherit this environment: they must draw on its X server, whatever
# platform the test run chose for the other tests.
unset QT_QPA_PLATFORM
build=$1
samples=$2
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; [[ -f ${work:-}/daemon.log ]] && tail -20 "$work/log/daemon.log"; exit 1; }
command -v xscreensaver >/dev/null || skip "xscreensaver is not installed"
command -v Xvfb >/dev/null || skip "Xvfb is not installed"
[[ $(id -u) -eq 0 ]] || skip "making the test user needs root"

user=pantel-xss
id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
home=$(getent passwd "$user" | cut -d: -f6)

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid=
cleanup() {
  su -s /bin/sh "$user" -c "DISPLAY=:$display xscreensaver-command -exit" >/dev/null 2>&1 || true
  pkill -u "$user" -f "$work/pantel" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The user cannot read the build tree (a clone under /root), so give it copies.
cp "$build/pantel" "$work/pantel"
cp -r "$samples" "$work/samples"
chmod -R a+rX "$work"
mkdir "$work/log"
chown "$user" "$work/log"

exec 3>"$work/display"
Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
display=$(cat "$work/display")
[[ -n $display ]] || fail "Xvfb did not start"

cat >"$home/.xscreensaver" <<CONF
mode: one
selected: 0
lock: False
splash: False
fade: False
unfade: False
timeout: 0:30:00
programs: $work/pantel -root \n
CONF
mkdir -p "$home/.config/Brightwel"
# Slide interval 1 ms so the first picture is in place at once; a long rest keeps it there.
cat >"$home/.config/Brightwel/Pantel.conf" <<CONF
[Config]
Folder0="450,60000,1,20,10,clWhite,$work/samples,"
CONF
chown -R "$user" "$home/.xscreensaver" "$home/.config"

as_user() { su -s /bin/sh "$user" -c "cd && DISPLAY=:$display $*"; }
as_user "xscreensaver -no-splash >'$work/log/daemon.log' 2>&1 &"
for _ in $(seq 50); do as_user "xscreensaver-command -time" >/dev/null 2>&1 && break; sleep 0.1; done

as_user "xscreensaver-command -activate" >/dev/null
pid=
for _ in $(seq 100); do
  pid=$(pgrep -u "$user" -f "$work/pantel" || true)
  [[ -n $pid ]] && break
  sleep 0.1
done
[[ -n $pid ]] || fail "the daemon did not start pantel"
# The golden bar of a 450-pixel frame: its bright middle covers some 1,800 pixels. The
# screen is looked at until the frame shows, ten seconds at most.
gold=0
for _ in $(seq 50); do
  DISPLAY=:$display import -window root "$work/shot.png"
  gold=$(convert "$work/shot.png" -fx '(r>0.78 && g>0.6 && b<0.2) ? 1 : 0' -format '%[fx:round(mean*w*h)]' info:)
  [[ $gold -gt 500 ]] && break
  sleep 0.2
done
[[ -n ${PANTEL_SHOT_DIR:-} ]] && cp "$work/shot.png" "$PANTEL_SHOT_DIR/xscreensaver.png"
[[ $gold -gt 500 ]] || fail "the daemon's window shows no frame ($gold golden pixels)"

as_user "xscreensaver-command -deactivate" >/dev/null
gone=
for _ in $(seq 10); do
  sleep 0.1
  # An ended process that nobody has reaped yet (a zombie) counts as gone.
  state=$(ps -o stat= -p "$pid" 2>/dev/null || true)
  if [[ -z $state || $state == Z* ]]; then gone=1; break; fi
done
if [[ -z $gone ]]; then
  ps -o pid,ppid,stat,etime,cmd -u "$user" || true
  tail -20 "$work/log/daemon.log" || true
  fail "pantel still runs one second after deactivation"
fi
echo "xscreensaver daemon: 1 passed, 0 failed"
