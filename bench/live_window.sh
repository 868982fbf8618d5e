#!/bin/sh
# The window's live view at line rate under a real X server (Xvfb): the CPU of the
# tool and of the X server while palo520g-sim serves a record file of jumping
# distances as fast as the line carries reports, at the window's default size and
# at 1920 x 1080.
#
#   bench/live_window.sh [BUILD_DIR] [SECONDS] [SHAPE]
#
# SHAPE is one of the repaint benchmarks' data shapes (default random_full:
# distances drawn at random over the whole range). Prints, per size, the reports per
# second the sensor sent and the CPU of the tool and of Xvfb, in per cent of
# one core, over SECONDS (default 30) after 5 s of settling, with the load average.
# PALO_TOOL=PATH runs another build's palo520g-tool against this build's simulator
# (before and after a change, in the same run); PALO_SIZES="default" measures only
# the sizes named.
set -eu

BUILD=$(cd "${1:-build}" && pwd)
TOOL=${PALO_TOOL:-$BUILD/palo520g-tool}
RUN_SECONDS=${2:-30}
SHAPE=${3:-random_full}
SETTLE_SECONDS=5
TICKS=$(getconf CLK_TCK)

WORK=$(mktemp -d)
XPID=
SIMPID=
TOOLPID=
stop_all() {
    for pid in $TOOLPID $SIMPID $XPID; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    TOOLPID= SIMPID= XPID=
}
trap 'stop_all; rm -rf "$WORK"' EXIT INT TERM

# utime + stime of a process, in clock ticks
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# reports the simulator has sent so far (it prints its counters on SIGUSR1)
sim_reports() {
    before=$(grep -c '^running:' "$WORK/sim.out" || true)
    kill -USR1 "$SIMPID"
    while [ "$(grep -c '^running:' "$WORK/sim.out" || true)" -le "$before" ]; do sleep 0.05; done
    grep '^running:' "$WORK/sim.out" | tail -n 1 | sed 's/.*, \([0-9]*\) reports).*/\1/'
}
now() { date +%s.%N; }

"$BUILD/bench_make_record" "$SHAPE" 50000 "$WORK/record.dat"

DISPLAY_NUMBER=97
while [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] || [ -e "/tmp/.X$DISPLAY_NUMBER-lock" ]; do
    DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1))
done

printf '%-10s %9s %12s %12s  %s\n' size reports/s tool_%core xvfb_%core load
for SIZE in ${PALO_SIZES:-default 1920x1080}; do
    Xvfb ":$DISPLAY_NUMBER" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    XPID=$!
    while [ ! -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ]; do sleep 0.05; done

    # The stream runs far faster than real time, so the line's rate is the limit.
    "$BUILD/palo520g-sim" --link "$WORK/sensor" --replay "$WORK/record.dat" --stream-time-scale 1000 \
        >"$WORK/sim.out" 2>&1 &
    SIMPID=$!
    while [ ! -e "$WORK/sensor" ]; do sleep 0.05; done

    GEOMETRY=
    [ "$SIZE" = default ] || GEOMETRY="-geometry ${SIZE}+0+0"
    # --screenshot connects at start and keeps the live view running until the picture is taken.
    # shellcheck disable=SC2086
    DISPLAY=":$DISPLAY_NUMBER" "$TOOL" --data-dir "$WORK/data-$SIZE" --port "$WORK/sensor" \
        --page target --screenshot "$WORK/$SIZE.png" \
        --screenshot-delay-ms $(((SETTLE_SECONDS + RUN_SECONDS + 30) * 1000)) $GEOMETRY >"$WORK/tool.out" 2>&1 &
    TOOLPID=$!

    sleep "$SETTLE_SECONDS"
    t0=$(now); tool0=$(cpu_ticks "$TOOLPID"); x0=$(cpu_ticks "$XPID"); r0=$(sim_reports)
    sleep "$RUN_SECONDS"
    t1=$(now); tool1=$(cpu_ticks "$TOOLPID"); x1=$(cpu_ticks "$XPID"); r1=$(sim_reports)
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    awk -v size="$SIZE" -v t0="$t0" -v t1="$t1" -v a0="$tool0" -v a1="$tool1" -v x0="$x0" -v x1="$x1" \
        -v r0="$r0" -v r1="$r1" -v hz="$TICKS" -v load="$load" 'BEGIN {
            s = t1 - t0
            printf "%-10s %9.1f %12.2f %12.2f  %s\n", size, (r1 - r0) / s, 100 * (a1 - a0) / hz / s,
                   100 * (x1 - x0) / hz / s, load
        }'
    stop_all
done
