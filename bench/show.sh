#!/usr/bin/env bash
# The show window's benchmarks, under Xvfb: the cost of one slide step (bench
# program slide_step), the start-up to the first frame on screen (startup_time) and the
# CPU that the saver uses at rest, over five windows of 4 s (goal: below 0.5 % of one
# core in the median window). Prints
# bench: rows for bench/run. Usage: bench/show.sh [build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

xvfb-run -a -s "-screen 0 1600x1200x24" "$build/bench/slide_step"

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Brightwel"
# A long rest: after the first slide the saver only waits for its timers.
printf '[Config]\nFolder0="450,60000,10,20,10,clWhite,%s/resources/samples,"\n' "$root" >"$home/Brightwel/Pantel.conf"
XDG_CONFIG_HOME=$home xvfb-run -a -s "-screen 0 1024x768x24" "$build/bench/startup_time" "$build/pantel"
XDG_CONFIG_HOME=$home xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" /s & pid=$!
  sleep 3
  ticks() { awk "{ print \$14 + \$15 }" "/proc/$pid/stat"; }
  hz=$(getconf CLK_TCK)
  percents=()
  for _ in 1 2 3 4 5; do
    before=$(ticks); start=$(date +%s.%N)
    sleep 4
    after=$(ticks); end=$(date +%s.%N)
    percents+=("$(awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" "BEGIN { printf \"%.3f\", 100 * t / hz / (e - s) }")")
  done
  kill -TERM "$pid"; wait "$pid" || true
  printf "%s\n" "${percents[@]}" | sort -g | awk "
    { p[NR] = \$1 }
    END { m = p[3]; printf \"bench:CPU at rest, five 4 s windows (%% of one core)\t%.3f\t%.3f-%.3f\t< 0.5\t%s\n\", m, p[1], p[5], (m < 0.5 ? \"met\" : \"not met\") }"
' bash "$build/pantel"
