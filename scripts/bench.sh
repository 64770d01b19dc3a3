#!/usr/bin/env bash
# Benchmarks the cost of a driver call through the client layer and of a module
# load through the loader, on the simulated Windows and the in-process driver
# double (native build, Release, build/bench). Prints one line per figure: the
# median over the repetitions, with the platform calls each request makes.
#
#   scripts/bench.sh                 15 repetitions of each benchmark
#   REPETITIONS=5 scripts/bench.sh   fewer (or more) repetitions
#
# The whole tables, with every repetition's spread, are kept in
# build/bench/bench_<machine>.txt. The exit status is 3 when a warm entry point
# costs more than 1.5 direct calls of the same driver function.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-2}
REPETITIONS=${REPETITIONS:-15}
MIN_TIME=${MIN_TIME:-0.2}
BUILD=build/bench

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DEDIDLOAD_BENCH=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target edidload_bench >/dev/null
BENCH="$BUILD/tests/bench/edidload_bench"

# Repetitions interleaved at random, so that a slow spell of a shared machine
# falls on every benchmark alike rather than on one.
common=(--benchmark_repetitions="$REPETITIONS" --benchmark_min_time="$MIN_TIME"
        --benchmark_enable_random_interleaving=true --benchmark_display_aggregates_only=true)

status=0
run() {
    local machine=$1 filter=$2 table="$BUILD/bench_$1.txt"
    echo "== $BENCH --edidload_machine=$machine --benchmark_filter='$filter' ${common[*]}"
    "$BENCH" --edidload_machine="$machine" --benchmark_filter="$filter" "${common[@]}" >"$table" 2>&1
    sed -n '/^== figures/,$p' "$table"
    if grep -q "EXCEEDED" "$table"; then
        status=3
    fi
}

# The build test asks the platform on every request (the version test answers
# for build 19045): every benchmark.
run platform_build '.'
# The version test answers 9200, as Windows 10 answers a program without a
# compatibility manifest, so the build number comes from the registry and is
# cached: the loads only (the driver calls do not depend on it).
run registry_build 'LoadModuleSecure'

if [ "$status" -ne 0 ]; then
    echo "a warm entry point costs more than 1.5 direct calls" >&2
fi
exit "$status"
