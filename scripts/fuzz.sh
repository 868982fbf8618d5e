#!/usr/bin/env bash
# Runs every fuzz target of a clang build for a while, as many at once as there are
# cores, and prints how many inputs each one tried. A crash, leak or time-out fails
# the run; the input that caused it is kept and its path printed.
#   scripts/fuzz.sh [BUILD_DIR]        (default build-asan; FUZZ_SECONDS=60 per target)
# The build writes the list of its targets to BUILD_DIR/fuzz-targets.txt, one
# "name<TAB>seed corpus folder or -<TAB>libFuzzer options" per line. Seeds are read,
# never written: what a run finds goes to a scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build-asan}
SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${FUZZ_JOBS:-$(nproc)}
LIST="$BUILD_DIR/fuzz-targets.txt"
if [ ! -s "$LIST" ]; then
  echo "fuzz.sh: no fuzz targets in $BUILD_DIR (they are built only with clang)" >&2
  exit 1
fi
WORK=$(mktemp -d /tmp/palo-fuzz-XXXXXX)
ARTIFACTS="$BUILD_DIR/fuzz-artifacts"
mkdir -p "$ARTIFACTS"

run_one() {
  local name=$1 seeds=$2 options=$3
  local scratch="$WORK/$name"
  mkdir -p "$scratch"
  local dirs=("$scratch")
  [ "$seeds" = "-" ] || dirs+=("$seeds")
  # shellcheck disable=SC2086  # the options are separate words
  if "$BUILD_DIR/$name" $options -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
       -artifact_prefix="$ARTIFACTS/$name-" "${dirs[@]}" >"$WORK/$name.log" 2>&1; then
    echo ok >"$WORK/$name.status"
  else
    echo failed >"$WORK/$name.status"
  fi
}

names=()
while IFS=$'\t' read -r name seeds options; do
  [ -n "$name" ] || continue
  names+=("$name")
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n || true; done
  run_one "$name" "$seeds" "$options" &
done <"$LIST"
wait

status=0
printf '%-26s %12s %10s %8s  %s\n' target executions "exec/s" features result
for name in "${names[@]}"; do
  log="$WORK/$name.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  result=$(cat "$WORK/$name.status")
  printf '%-26s %12s %10s %8s  %s\n' "$name" "${runs:-?}" "${speed:-?}" "${features:-?}" "$result"
  if [ "$result" != ok ]; then
    status=1
    echo "---- $name:" >&2
    grep -E 'ERROR|SUMMARY|check failed|Test unit written|artifact' "$log" >&2 || tail -n 30 "$log" >&2
  fi
done
rm -rf "$WORK"
exit $status
