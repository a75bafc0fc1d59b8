#!/usr/bin/env bash
# The show window's benchmarks, under Xvfb: the cost of one slide step (bench
# program slide_step), the start-up to the first frame on screen (startup_time) and the
# CPU that the saver uses at rest over 20 s (goal: below 0.5 % of one core). Prints
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
  before=$(ticks); start=$(date +%s.%N)
  sleep 20
  after=$(ticks); end=$(date +%s.%N)
  kill -TERM "$pid"; wait "$pid" || true
  hz=$(getconf CLK_TCK)
  awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" "BEGIN {
    p = 100 * t / hz / (e - s)
    printf \"bench:CPU at rest over 20 s (%% of one core)\t%.3f\t< 0.5\t%s\n\", p, (p < 0.5 ? \"met\" : \"not met\")
  }"
' bash "$build/pantel"
