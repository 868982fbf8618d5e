#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# PALO_SANITIZE=1 runs it on an AddressSanitizer + UBSan build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=$(scripts/build.sh | tail -n 1)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 300
