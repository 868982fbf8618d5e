#!/usr/bin/env bash
# Configures (once) and builds into build/ (or build-asan/ with PALO_SANITIZE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${PALO_SANITIZE:-0}" = "1" ]; then
  BUILD_DIR=${BUILD_DIR:-build-asan}; EXTRA=(-DPALO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
else
  BUILD_DIR=${BUILD_DIR:-build}; EXTRA=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
[ -f "$BUILD_DIR/build.ninja" ] || cmake -S . -B "$BUILD_DIR" -G Ninja "${EXTRA[@]}"
cmake --build "$BUILD_DIR" -j "$(nproc)"
echo "$BUILD_DIR"
