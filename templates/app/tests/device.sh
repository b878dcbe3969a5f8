#!/bin/sh
# Runs the app headless, plays the device with `tavero device` and checks
# what the page shows: a position sent by the device reaches the page. Exit
# status 0 when it does; every step is bounded, and the app is stopped in
# every case.
#   tests/device.sh [PICTURE.png]     (TAVERO=path/to/tavero to use another build)
set -eu
app=$(cd "$(dirname "$0")/.." && pwd)
tavero=${TAVERO:-tavero}
work=$(mktemp -d)
home=$work/home

"$tavero" run "$app" --headless --port 0 --home "$home" --device "$app/device.json" 2> "$work/app.log" &
shell=$!
trap '"$tavero" device --home "$home" app terminate >/dev/null 2>&1 || kill $shell 2>/dev/null; wait $shell || true; rm -rf "$work"' EXIT
device() { "$tavero" device --home "$home" "$@"; }

# The app answers on its control socket once it runs.
for _ in $(seq 100); do device alert list >/dev/null 2>&1 && break; sleep 0.1; done
device page wait --timeout 30 "document.readyState === 'complete'" >/dev/null

device geo fix 48.8584 2.2945 >/dev/null
position="document.querySelector('#position').textContent"
shown=$(device page wait --timeout 10 "$position.startsWith('48.8584') && $position") || {
  echo "device: the page did not show the position the device sent; it shows:" >&2
  device page eval "$position" >&2 || true
  exit 1
}
[ -n "${1:-}" ] && device screenshot "$1" >/dev/null
echo "device: passed; the page shows the position the device sent ($shown)"
