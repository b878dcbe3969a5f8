#!/usr/bin/env bash
# From `tavero create` to a running app: the time of `tavero create DIR`
# followed by `tavero run DIR --headless --screenshot shot.png` (which
# exits once the picture is written), against the same run of an app that
# was already there, and `tavero --version` (the process starting: loading
# its libraries), over N runs each; medians in milliseconds.
#
#   bench/create-to-running.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
runs="${2:-7}"
tavero="$(realpath "$build_dir/src/app/tavero")"
[[ -x "$tavero" ]] || { echo "build tavero first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
run_app() { "$tavero" run "$1" --headless --port 0 --home "$work/home-$2" --screenshot "$work/shot.png" 2>"$work/log" \
              || { cat "$work/log"; exit 1; }; }

"$tavero" create "$work/existing" >/dev/null
: >"$work/create.txt"; : >"$work/total.txt"; : >"$work/baseline.txt"; : >"$work/version.txt"; : >"$work/loaded.txt"
for run in $(seq "$runs"); do
  start=$(now_ms)
  "$tavero" --version >/dev/null
  echo $(( $(now_ms) - start )) >>"$work/version.txt"
  start=$(now_ms)
  "$tavero" create "$work/app-$run" >/dev/null
  created=$(now_ms)
  run_app "$work/app-$run" "new-$run"
  done_at=$(now_ms)
  echo $((created - start)) >>"$work/create.txt"
  echo $((done_at - start)) >>"$work/total.txt"
  loaded=$(sed -n 's/.*start page loaded \([0-9]*\) ms after start.*/\1/p' "$work/log")
  echo $((created - start + loaded)) >>"$work/loaded.txt"
  start=$(now_ms)
  run_app "$work/existing" "old-$run"
  echo $(( $(now_ms) - start )) >>"$work/baseline.txt"
done
echo "runs: $runs (medians, ms)"
echo "tavero --version (process start):       $(median <"$work/version.txt")"
echo "tavero create:                          $(median <"$work/create.txt")"
echo "create + run until the page has loaded: $(median <"$work/loaded.txt")"
echo "create + run --headless --screenshot:   $(median <"$work/total.txt")  (the shot waits 1 s after the load)"
echo "run --headless --screenshot (baseline): $(median <"$work/baseline.txt")"
