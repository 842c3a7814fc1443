#!/bin/sh
# Builds and runs the record manager benchmark on one core with a warm cache.
# Each collection file (3,000,000 receipts, and a quarter of that) is
# generated once into <build>/bench-cache (or $KORVADEL_BENCH_CACHE) by the
# first run that needs it, outside the timing. Each figure runs in a process
# of its own, so that no run inherits the page cache another one warmed and
# its peak memory is its own. Columns: wall time, CPU time (the one to
# compare on a shared machine), calls per second of CPU time; then the
# memory the process owns (RssAnon, which must stay under 32 MiB and flat
# across file sizes) and its resident memory (which also counts the file's
# pages mapped from the system's cache).
# Usage: bench/recman/run.sh [build dir] [RECORDS...]
#        (default: build-bench, 3000000 750000)
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-bench}
[ $# -gt 0 ] && shift
sizes=${*:-3000000 750000}
cmake -S "$root" -B "$build" -DKORVADEL_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target recman_bench -j2
bench="$build/bin/recman_bench"
for records in $sizes; do
  # Generating a file takes a while and much memory: done apart, not timed.
  KORVADEL_BENCH_RECORDS=$records "$bench" --generate
  echo "== $records receipts"
  for name in RecmanGetNext SqliteStepNext RecmanGetGreaterOrEqual SqliteGreaterOrEqual RecmanGetDirect SqliteById; do
    KORVADEL_BENCH_RECORDS=$records taskset -c 0 "$bench" --benchmark_filter="^$name\$" --benchmark_min_time=2 \
      2>/dev/null | grep -E "^$name|peak"
  done
done
