#!/usr/bin/env bash
# The saver's memory with large and hostile pictures, under Xvfb (1024 x 768): each row
# is the saver's peak resident size (VmHWM) while it shows one picture, less that of the
# saver at rest with a 16 x 16 picture, in MB; the frame picture row is what stays
# resident (VmRSS) after the start, less the same at rest. Prints bench: rows for
# bench/run. Usage: bench/memory.sh [build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
# The whole script runs under one X server.
if [[ -z ${PANTEL_MEMORY_BENCH_XVFB:-} ]]; then
  PANTEL_MEMORY_BENCH_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Pictures: a 24-megapixel photograph-like picture (smooth colours with grain), as a
# baseline and as a progressive JPEG, and files that claim far more than they hold.
convert -size 16x16 gradient:navy-gold "$work/tiny.ppm"
convert -size 6000x4000 gradient:navy-gold -attenuate 0.4 +noise Gaussian -depth 8 "$work/large.ppm"
cjpeg -quality 90 -outfile "$work/baseline-24mp.jpg" "$work/large.ppm"
cjpeg -quality 90 -progressive -outfile "$work/progressive-24mp.jpg" "$work/large.ppm"
cjpeg -outfile "$work/tiny.jpg" "$work/tiny.ppm"
cjpeg -progressive -outfile "$work/tiny-progressive.jpg" "$work/tiny.ppm"
rm -f "$work/large.ppm"
python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
data = open(f"{work}/tiny-progressive.jpg", "rb").read()

def claim(jpeg, width, height):
    frame = jpeg.index(b"\xff\xc2")
    return jpeg[:frame + 5] + struct.pack(">HH", height, width) + jpeg[frame + 9:]

def with_scans(jpeg, scans):
    last = jpeg.rindex(b"\xff\xda")
    end = jpeg.rindex(b"\xff\xd9")
    return jpeg[:end] + jpeg[last:end] * (scans - jpeg.count(b"\xff\xda")) + b"\xff\xd9"

def with_app1(jpeg, blocks):
    block = b"\xff\xe1" + struct.pack(">H", 65535) + b"http://ns.adobe.com/xap/1.0/\0".ljust(65533, b" ")
    return jpeg[:2] + block * blocks + jpeg[2:]

open(f"{work}/claims-16000x16000.jpg", "wb").write(claim(data, 16000, 16000))
open(f"{work}/99-scans.jpg", "wb").write(with_scans(claim(data, 4000, 4000), 99))
open(f"{work}/1000-app1.jpg", "wb").write(with_app1(data, 1000))
PY

# One folder per picture, so that each run shows just that one.
for name in tiny baseline-24mp progressive-24mp claims-16000x16000 99-scans 1000-app1; do
  mkdir -p "$work/$name"
  mv "$work/$name.jpg" "$work/$name/"
done

# Runs the saver on `folder` (and frame picture `frame`, at device pixel ratio `ratio`),
# waits until the first picture has slid in and the saver rests, and prints "VmHWM VmRSS"
# in KiB.
measure() {
  local folder=$1 frame=${2:-} ratio=${3:-1}
  local home=$work/home
  rm -rf "$home"
  mkdir -p "$home/Brightwel"
  printf '[Config]\nFolder0="450,60000,1,20,10,clWhite,%s,%s"\n' "$folder" "$frame" >"$home/Brightwel/Pantel.conf"
  XDG_CONFIG_HOME=$home QT_SCALE_FACTOR=$ratio "$build/pantel" /s &
  local pid=$! before=-1 now
  # At rest once it has used no processor time for a second (at most 30 s).
  for _ in $(seq 30); do
    sleep 1
    now=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    [[ $now == "$before" ]] && break
    before=$now
  done
  local sizes
  sizes=$(awk '/^VmHWM:/ { hwm = $2 } /^VmRSS:/ { rss = $2 } END { print hwm, rss }' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || true
  [[ $sizes =~ ^[0-9]+\ [0-9]+$ ]] || { echo "bench/memory.sh: no sizes for $folder" >&2; exit 1; }
  echo "$sizes"
}

row() { # figure, KiB above rest, goal in MB
  awk -v f="$1" -v k="$2" -v g="$3" 'BEGIN {
    m = k / 1024
    printf "bench:%s (MB above rest)\t%.1f\t<= %d\t%s\n", f, m, g, (m <= g ? "met" : "not met")
  }'
}

sizes=$(measure "$work/tiny")
read -r idle_hwm idle_rss <<<"$sizes"
for case in "baseline-24mp:any baseline JPEG, peak (24 MP):60" \
            "progressive-24mp:24 MP progressive JPEG, peak:90" \
            "claims-16000x16000:crafted JPEG claiming 16000x16000, peak:30" \
            "99-scans:crafted JPEG of 99 scans, peak:30" \
            "1000-app1:crafted JPEG of 1000 64 KB APP1 blocks, peak:30"; do
  IFS=: read -r name figure goal <<<"$case"
  sizes=$(measure "$work/$name")
  read -r hwm rss <<<"$sizes"
  row "$figure" $((hwm - idle_hwm)) "$goal"
done
# At 200 % the 400 x 400 picture area takes the 800 x 800 device pixels at the photo's
# centre; measured against the saver at rest at 200 %.
sizes=$(measure "$work/tiny" "" 2)
read -r idle2_hwm idle2_rss <<<"$sizes"
sizes=$(measure "$work/baseline-24mp" "" 2)
read -r hwm rss <<<"$sizes"
row "any baseline JPEG at 200 %, peak (24 MP, 800x800 shown)" $((hwm - idle2_hwm)) 60
sizes=$(measure "$work/tiny" "$work/baseline-24mp/baseline-24mp.jpg")
read -r hwm rss <<<"$sizes"
row "24 MP frame picture, kept after start" $((rss - idle_rss)) 10
