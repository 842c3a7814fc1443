#!/bin/sh
# The sender over registers of 10,000 and 100,000 records (or the counts
# given), against an in-process stand-in of the agency that accepts every
# record: records a second and the memory the process owns (RssAnon) while
# sending, which must not grow with the register.
#   bench/send/run.sh [COUNT...]
# Builds send_bench in build-send-bench/; the registers go to
# build-send-bench/registers/<count> (about 4 KB a record) and are removed
# afterwards.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-send-bench"
mkdir -p "$build"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVADEL_TESTS=OFF -DKORVADEL_BENCH=ON > "$build/build.log" 2>&1
cmake --build "$build" --target send_bench -j2 >> "$build/build.log" 2>&1
"$build/bin/send_bench" "$src/install" "$build/registers" ${*:-10000 100000}
rm -rf "$build/registers"
