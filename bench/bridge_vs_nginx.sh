#!/usr/bin/env bash
# Bridge throughput against nginx, in one run on the same machine:
# wrk (1 thread, 8 keep-alive connections) against `tavero serve` on a sync
# command, and the same wrk against nginx (one worker, loopback) serving a
# small static file. Rounds alternate between the two; medians are reported.
#
#   bench/bridge_vs_nginx.sh [BUILD_DIR] [ROUNDS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
rounds="${2:-5}"
seconds="${3:-10}"
tavero="$build_dir/src/app/tavero"
[[ -x "$tavero" ]] || { echo "build tavero first (scripts/bench does)"; exit 1; }
command -v wrk >/dev/null && command -v nginx >/dev/null || scripts/install-deps --bench

work=$(mktemp -d)
cleanup() {
  [[ -n "${tavero_pid:-}" ]] && kill "$tavero_pid" 2>/dev/null || true
  [[ -f "$work/nginx.pid" ]] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for_port() {
  for _ in $(seq 100); do
    (echo >"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nothing listens on port $1"; exit 1
}

bridge_port=$(free_port)
"$tavero" serve --port "$bridge_port" --home "$work/home" 2>"$work/tavero.log" >/dev/null &
tavero_pid=$!
wait_for_port "$bridge_port"

nginx_port=$(free_port)
mkdir -p "$work/www" "$work/logs"
printf '{"ok": true}' >"$work/www/ok.json"
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  server { listen 127.0.0.1:$nginx_port; root $work/www; }
}
CONF
nginx -p "$work" -c "$work/nginx.conf"
wait_for_port "$nginx_port"

bridge_url="http://127.0.0.1:$bridge_port/?command=Contact%23find&sync=true"
nginx_url="http://127.0.0.1:$nginx_port/ok.json"

run_wrk() {  # prints "requests_per_second p99_ms"
  local out
  out=$(wrk -t1 -c8 -d"${seconds}s" --latency "$1")
  local rps p99
  rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub(/us/,"",v); v/=1000} else if (v ~ /ms$/) {sub(/ms/,"",v)} else if (v ~ /s$/) {sub(/s/,"",v); v*=1000}; print v}' <<<"$out")
  echo "$rps $p99"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

: >"$work/bridge.txt"; : >"$work/nginx.txt"
wrk -t1 -c8 -d2s "$bridge_url" >/dev/null; wrk -t1 -c8 -d2s "$nginx_url" >/dev/null  # warm-up
for round in $(seq "$rounds"); do
  run_wrk "$bridge_url" >>"$work/bridge.txt"
  run_wrk "$nginx_url" >>"$work/nginx.txt"
  echo "round $round: bridge $(tail -1 "$work/bridge.txt")  nginx $(tail -1 "$work/nginx.txt")  (req/s p99-ms)"
done

bridge_rps=$(cut -d' ' -f1 "$work/bridge.txt" | median)
nginx_rps=$(cut -d' ' -f1 "$work/nginx.txt" | median)
bridge_p99=$(cut -d' ' -f2 "$work/bridge.txt" | median)
nginx_p99=$(cut -d' ' -f2 "$work/nginx.txt" | median)
ratio=$(awk -v a="$bridge_rps" -v b="$nginx_rps" 'BEGIN {printf "%.2f", a / b}')
echo
echo "median of $rounds rounds, wrk -t1 -c8 -d${seconds}s:"
echo "  tavero serve (sync command): $bridge_rps req/s, p99 $bridge_p99 ms"
echo "  nginx (static file):         $nginx_rps req/s, p99 $nginx_p99 ms"
echo "  bridge / nginx:              $ratio"
# Lower is better in the summary: time per request (the inverse of the rate).
awk -v b="$bridge_rps" -v n="$nginx_rps" 'BEGIN {printf "BENCH bridge_time_per_request %.4g us nginx_static_file %.4g %.3f\n", 1e6 / b, 1e6 / n, n / b}'
awk -v b="$bridge_p99" -v n="$nginx_p99" 'BEGIN {printf "BENCH bridge_p99 %.4g ms nginx_static_file %.4g %.3f\n", b, n, b / n}'
