#!/bin/sh
# Builds and runs the record manager benchmark on one core with a warm cache.
# The 3,000,000-record file is generated once into <build>/bench-cache (or
# $KORVADEL_BENCH_CACHE) by the first run that needs it, outside the timing.
# Each figure runs in a process of its own, so that no run inherits the
# page cache another one warmed.
# Usage: bench/recman/run.sh [build dir]   (default: build-bench)
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -DKORVADEL_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target recman_bench -j2
bench="$build/bin/recman_bench"
for name in RecmanGetNext SqliteStepNext RecmanGetGreaterOrEqual SqliteGreaterOrEqual RecmanGetDirect SqliteById; do
  taskset -c 0 "$bench" --benchmark_filter="^$name\$" --benchmark_min_time=2 2>/dev/null | grep -E "^$name|peak"
done
