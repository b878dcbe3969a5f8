#!/bin/sh
# Runs the app headless with a fresh home and takes a picture of its start
# page: fails when the app cannot start or its start page does not load.
#   tests/smoke.sh [PICTURE.png]      (TAVERO=path/to/tavero to use another build)
set -eu
app=$(cd "$(dirname "$0")/.." && pwd)
tavero=${TAVERO:-tavero}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
picture=${1:-$work/start.png}

# --port 0: any free port, so the test runs beside other apps.
if ! "$tavero" run "$app" --headless --port 0 --home "$work/home" --device "$app/device.json" \
     --screenshot "$picture"; then
  echo "smoke: the app did not start, or its start page did not load (the log above says why)" >&2
  exit 1
fi
if [ ! -s "$picture" ]; then
  echo "smoke: no picture of the start page in $picture" >&2
  exit 1
fi
echo "smoke: passed; the start page loaded"
