#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool.
#   scripts/run.sh                      the windowed tool on the built-in virtual sensor (demo)
#   scripts/run.sh --port /dev/ttyUSB0  the windowed tool on a real sensor
# Other arguments go to the tool unchanged. Without a display, the command-line
# tool shows live reports from the virtual sensor instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=$(scripts/build.sh | tail -n 1)
args=("$@")
has_port=0
for a in "${args[@]}"; do case "$a" in --port|--port=*) has_port=1;; esac; done
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$BUILD_DIR/palo520g-tool" ]; then
  [ $has_port -eq 1 ] || args=(--demo "${args[@]}")
  exec "$BUILD_DIR/palo520g-tool" "${args[@]}"
fi
echo "No display: showing 20 live reports of the virtual sensor with the command-line tool."
link=$(mktemp -u /tmp/palo520g-sim-XXXXXX)
"$BUILD_DIR/palo520g-sim" --link "$link" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
"$BUILD_DIR/palo520g" monitor --port "$link" --count 20
