#!/usr/bin/env bash
# Cross-builds the Qt-free core, the command-line tool palo520g.exe and the Windows
# unit tests with MinGW-w64 into build-win/ (BUILD_DIR to change it); prints the folder.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-win}
EXTRA=(-DCMAKE_BUILD_TYPE=Release)
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  EXTRA+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
[ -f "$BUILD_DIR/build.ninja" ] || cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DPALO_BUILD_GUI=OFF -DPALO_BUILD_BENCH=OFF -DPALO_LLD=OFF "${EXTRA[@]}" >&2
cmake --build "$BUILD_DIR" -j "$(nproc)" >&2
echo "$BUILD_DIR"
