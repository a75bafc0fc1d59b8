#!/usr/bin/env bash
# The saver's memory with large and hostile pictures, under Xvfb (1024 x 768): each row
# is the saver's peak resident size (VmHWM) while it shows one picture, less that of the
# saver at rest with a 16 x 16 picture, in MB; the frame picture row is what stays
# resident (VmRSS) after the start, less the same at rest. Each figure is the median of
# five runs, with their spread; the frame picture is also measured at its peak (VmHWM)
# during the start, as a baseline and as a progressive JPEG. Prints bench: rows for
# bench/run.
# Usage: bench/memory.sh [build]
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

# One row from the figures of every run: their median and spread, in MB.
row() { # figure, goal in MB, KiB above rest of each run...
  local figure=$1 goal=$2
  shift 2
  printf '%s\n' "$@" | sort -g | awk -v f="$figure" -v g="$goal" '
    { k[NR] = $1 / 1024 }
    END {
      m = k[int((NR + 1) / 2)]
      # A picture may take a little less than the one at rest: "-0.2 to -0.1", not "-0.2--0.1".
      spread = sprintf(k[1] < 0 ? "%.1f to %.1f" : "%.1f-%.1f", k[1], k[NR])
      printf "bench:%s (MB above rest)\t%.1f\t%s\t<= %d\t%s\n", f, m, spread, g, (m <= g ? "met" : "not met")
    }'
}

cases=("baseline-24mp:any baseline JPEG, peak (24 MP):60"
       "progressive-24mp:24 MP progressive JPEG, peak:90"
       "claims-16000x16000:crafted JPEG claiming 16000x16000, peak:30"
       "99-scans:crafted JPEG of 99 scans, peak:30"
       "1000-app1:crafted JPEG of 1000 64 KB APP1 blocks, peak:30")
declare -A above
# Five runs; in each, every picture is measured against the saver at rest measured just
# before it, so that a slow drift of the machine does not count as the picture's.
for _ in 1 2 3 4 5; do
  read -r idle_hwm idle_rss <<<"$(measure "$work/tiny")"
  for case in "${cases[@]}"; do
    IFS=: read -r name _ _ <<<"$case"
    read -r hwm rss <<<"$(measure "$work/$name")"
    above[$name]+="$((hwm - idle_hwm)) "
  done
  read -r hwm rss <<<"$(measure "$work/tiny" "$work/baseline-24mp/baseline-24mp.jpg")"
  above[frame]+="$((rss - idle_rss)) "
  above[framepeak]+="$((hwm - idle_hwm)) "
  read -r hwm rss <<<"$(measure "$work/tiny" "$work/progressive-24mp/progressive-24mp.jpg")"
  above[frameprogressive]+="$((hwm - idle_hwm)) "
  # At 200 % the 400 x 400 picture area takes the 800 x 800 device pixels at the photo's
  # centre; measured against the saver at rest at 200 %.
  read -r idle2_hwm idle2_rss <<<"$(measure "$work/tiny" "" 2)"
  read -r hwm rss <<<"$(measure "$work/baseline-24mp" "" 2)"
  above[ratio2]+="$((hwm - idle2_hwm)) "
done
for case in "${cases[@]}"; do
  IFS=: read -r name figure goal <<<"$case"
  # shellcheck disable=SC2086
  row "$figure" "$goal" ${above[$name]}
done
# shellcheck disable=SC2086
row "any baseline JPEG at 200 %, peak (24 MP, 800x800 shown)" 60 ${above[ratio2]}
# shellcheck disable=SC2086
row "24 MP frame picture, kept after start" 10 ${above[frame]}
# shellcheck disable=SC2086
row "24 MP frame picture, start-up peak" 60 ${above[framepeak]}
# shellcheck disable=SC2086
row "24 MP progressive frame picture, start-up peak" 90 ${above[frameprogressive]}
