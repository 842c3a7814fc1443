#!/bin/sh
# The load test: 8 processes run production passes over one office while one
# process imports batches of receipts (each in one transaction) and another
# updates owners under record locks, for SECONDS (default 60). Then it says
# how many passes completed, the statuses each process saw, whether every
# pass printed what a consistent snapshot of the data gives (two passes that
# saw the same import batch printed the same spool, byte for byte), the
# write-ahead log's size at the end, and each process's peak RssAnon.
#   bench/load/run.sh [SECONDS] [SCALE]     (defaults: 60, 0.1)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-load-bench"
seconds=${1:-60}
scale=${2:-0.1}
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target load_test invoice_bench_generate recman -j2; } >"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log"
  exit 1
fi

office="$build/office"
rm -rf "$office" "$build/out"
mkdir -p "$office/DADES" "$office/raw" "$build/out"
"$build/bin/invoice_bench_generate" "$office/raw" "$scale"
for base in PropietV FinquesV DepartaV CobramV; do
  "$build/bin/recman" create "$office/DADES/$base.dat" "$src/install/ddf/$base.xdf" >/dev/null
  "$build/bin/recman" load "$office/DADES/$base.dat" "$office/raw/$base.raw" >/dev/null
done
rm -rf "$office/raw"

echo "== load test: 8 passes, 1 importer, 1 updater, $seconds s, office at scale $scale"
pids=""
for i in 1 2 3 4 5 6 7 8; do
  "$build/bin/load_test" pass "$office" "$seconds" "$build/out/pass$i" >"$build/out/pass$i.txt" 2>&1 &
  pids="$pids $!"
done
"$build/bin/load_test" import "$office" "$seconds" "$build/out/import" >"$build/out/import.txt" 2>&1 &
pids="$pids $!"
"$build/bin/load_test" update "$office" "$seconds" "$build/out/update" >"$build/out/update.txt" 2>&1 &
pids="$pids $!"
failed=0
for pid in $pids; do wait "$pid" || failed=1; done
cat "$build/out"/*.txt
[ "$failed" -eq 0 ] || echo "a process failed"

# Every batch seen must always give the same spool.
cat "$build/out"/pass? | sort -u | awk '
  { n[$1]++; if (n[$1] > 1) torn++ ; seen++ }
  END { printf "consistency: %d distinct (batch, spool) pairs, %d batches seen by passes, %s\n",
        seen, length(n), torn ? torn " batches printed two different spools: TORN" : "every pass matches a consistent snapshot" }'
wal="$office/DADES/CobramV.dat-wal"
echo "write-ahead log of the collection file at the end: $( [ -f "$wal" ] && stat -c %s "$wal" || echo 0) bytes"
