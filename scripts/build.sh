#!/usr/bin/env bash
# Configures (once) and builds into build/ (or build-asan/ with PALO_SANITIZE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
# The sanitizer build uses clang, which also builds the fuzz targets; it leaves the
# benchmarks out.
if [ "${PALO_SANITIZE:-0}" = "1" ]; then
  BUILD_DIR=${BUILD_DIR:-build-asan}
  EXTRA=(-DPALO_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALO_BUILD_BENCH=OFF
         -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
else
  BUILD_DIR=${BUILD_DIR:-build}; EXTRA=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
# ccache makes a build from a fresh clone quick when the same sources were built
# before, wherever the clone is: paths under it are hashed relative to it.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  EXTRA+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
[ -f "$BUILD_DIR/build.ninja" ] || cmake -S . -B "$BUILD_DIR" -G Ninja "${EXTRA[@]}"
cmake --build "$BUILD_DIR" -j "$(nproc)"
echo "$BUILD_DIR"
