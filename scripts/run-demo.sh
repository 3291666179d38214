#!/usr/bin/env bash
# Builds Ombrik, starts the loopback album service with its demo album and opens the window
# pointed at it. The service stops when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display to open the window on: run this under X or Wayland, or headless with: xvfb-run -a bash scripts/run-demo.sh" >&2
  exit 1
fi

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ombrik ombrik-album-service

service_log=$(mktemp)
build/tools/album_service/ombrik-album-service --only https --quiet >"$service_log" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; rm -f "$service_log"' EXIT

# The service prints its origin once it listens.
for _ in $(seq 50); do
  origin=$(head -n 1 "$service_log")
  [ -n "$origin" ] && break
  kill -0 "$service" 2>/dev/null || { echo "The album service did not start." >&2; exit 1; }
  sleep 0.1
done
[ -n "$origin" ] || { echo "The album service did not report its address." >&2; exit 1; }

echo "Demo album service at $origin; press 提取音频列表 to list the demo album."
OMBRIK_API_ORIGIN="$origin" build/src/app/ombrik
