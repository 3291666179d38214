#!/usr/bin/env bash
# Builds Ombrik, starts the loopback album service with its demo album and opens the window
# pointed at it, trusting the service's own certificate. The service stops when the window
# closes.
set -euo pipefail
cd "$(dirname "$0")/.."

# Everything is installed first, so that on a machine without a display the virtual one that
# the message below names is there to use.
bash scripts/install-deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to open the window on: run this under X or Wayland, or headless with: xvfb-run -a bash scripts/run-demo.sh" >&2
  exit 1
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ombrik ombrik-album-service

work=$(mktemp -d)
build/tools/album_service/ombrik-album-service --only https --quiet --cert-out "$work/ca.pem" >"$work/origin" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; rm -rf "$work"' EXIT

# The service prints its origin once it listens (and has written its certificate).
origin=
for _ in $(seq 50); do
  origin=$(head -n 1 "$work/origin")
  [ -n "$origin" ] && break
  kill -0 "$service" 2>/dev/null || { echo "The album service did not start." >&2; exit 1; }
  sleep 0.1
done
[ -n "$origin" ] || { echo "The album service did not report its address." >&2; exit 1; }

echo "Demo album service at $origin; press 提取音频列表 to list the demo album."
OMBRIK_API_ORIGIN="$origin" OMBRIK_CA_FILE="$work/ca.pem" build/src/app/ombrik
