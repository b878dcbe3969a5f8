#!/usr/bin/env bash
# Launch time and peak memory of `tavero run` on the demo, over N runs on one
# private X display: the time from process start to the start page loaded
# (the shell logs it), and the peak resident memory of the shell and of the
# web view's processes it starts (sampled from /proc while it runs).
#
#   bench/launch.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-bench}"
runs="${2:-10}"
tavero="$build_dir/src/app/tavero"
[[ -x "$tavero" ]] || { echo "build tavero first (scripts/bench does)"; exit 1; }

work=$(mktemp -d)
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
export DISPLAY=":$(head -1 "$work/display")" NO_AT_BRIDGE=1

peak_kb() { awk '/VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || true; }
descendants() { local p; for p in $(pgrep -P "$1" || true); do echo "$p"; descendants "$p"; done; }

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

: >"$work/launch.txt"; : >"$work/shell.txt"; : >"$work/total.txt"
for run in $(seq "$runs"); do
  "$tavero" run examples/demo --home "$work/home" --screenshot "$work/shot.png" 2>"$work/log" &
  pid=$!
  declare -A peaks=()
  while kill -0 "$pid" 2>/dev/null; do
    for p in "$pid" $(descendants "$pid"); do
      kb=$(peak_kb "$p"); [[ -n "$kb" ]] && (( kb > ${peaks[$p]:-0} )) && peaks[$p]=$kb
    done
    sleep 0.02
  done
  wait "$pid" || { echo "run $run failed:"; cat "$work/log"; exit 1; }
  ms=$(sed -n 's/.*start page loaded \([0-9]*\) ms after start.*/\1/p' "$work/log")
  total=0; for p in "${!peaks[@]}"; do total=$(( total + peaks[$p] )); done
  echo "$ms" >>"$work/launch.txt"
  echo $(( ${peaks[$pid]:-0} / 1024 )) >>"$work/shell.txt"
  echo $(( total / 1024 )) >>"$work/total.txt"
  echo "run $run: loaded after $ms ms; peak shell $(tail -1 "$work/shell.txt") MB, with web view processes $(tail -1 "$work/total.txt") MB"
  unset peaks
done
echo
echo "median of $runs runs:"
echo "  launch to start page loaded: $(median <"$work/launch.txt") ms"
echo "  peak memory, shell process:  $(median <"$work/shell.txt") MB"
echo "  peak memory, with WebKit's:  $(median <"$work/total.txt") MB"
echo "BENCH demo_launch $(median <"$work/launch.txt") ms - - -"
