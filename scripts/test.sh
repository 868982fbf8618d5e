#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite, then the same
# suite on an AddressSanitizer + UndefinedBehaviorSanitizer build (clang), each
# fuzz target for FUZZ_SECONDS (20) seconds (scripts/fuzz.sh alone runs them
# longer), and the Windows build under Wine (scripts/test-windows.sh).
#   scripts/test.sh            all four stages
#   scripts/test.sh --quick    only the suite on the normal build
# PALO_SANITIZE=1 scripts/test.sh --quick runs only the suite on the sanitizer build.
# Tests run two per core (PALO_TEST_JOBS to change it): most of their time they
# wait for a pseudo-terminal, a timer or a child program, not for the processor.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export FUZZ_SECONDS=${FUZZ_SECONDS:-20}
jobs=${PALO_TEST_JOBS:-$((2 * $(nproc)))}

stage() { printf '\n==== %s (%s)\n' "$1" "$(date +%T)"; }

# The suite of one build; extra arguments go to ctest.
suite() {
  local build_dir
  build_dir=$(scripts/build.sh | tail -n 1)
  ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" --timeout 300 "$@"
}

if [ $quick -eq 1 ]; then
  suite
  exit 0
fi

stage "test suite"
PALO_SANITIZE=0 suite
stage "test suite, AddressSanitizer + UndefinedBehaviorSanitizer"
# The fuzz targets' short runs are left to the next stage, which runs each from its seeds.
PALO_SANITIZE=1 suite -E '^fuzz_'
stage "fuzz targets, ${FUZZ_SECONDS} s each"
scripts/fuzz.sh build-asan
stage "Windows build under Wine"
scripts/test-windows.sh
stage "done"
