#!/bin/sh
# The load test: 8 processes run production passes over one office while
# importers add batches of receipts (each in one transaction), each one
# killed with SIGKILL at a random moment and followed by the next, and
# another process updates owners under record locks, for SECONDS (default
# 60). Then it says how many passes completed, the statuses each process
# saw, whether every pass printed what a consistent snapshot of the data
# gives (two passes that saw the same import batch printed the same spool,
# byte for byte), the records lost (every batch an importer saw committed
# must be there whole: must be 0), the write-ahead log's size at the end,
# and each process's peak RssAnon.
# Then the faults: 4 passes run for a third of SECONDS while the receipts
# file is damaged under them (random bytes and zeroed 512-byte blocks at
# random places); it says how many passes stopped with status 2 (expected
# once a pass meets the damage) and how many printed other amounts than the
# undamaged file gives (must be 0).
# Last, two sessions run the same month at once, registered, ten times on
# fresh copies of the office (bench/run/run_bench.cpp, "race"): every
# receipt billed at most once, and settled exactly when billed.
#   bench/load/run.sh [SECONDS] [SCALE]     (defaults: 60, 0.1)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-load-bench"
seconds=${1:-60}
scale=${2:-0.1}
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target load_test invoice_bench_generate recman run_bench -j2; } >"$build/build.log" 2>&1; then
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
# The race works on its own copies of the office as it is now.
rm -rf "$build/race-office" "$build/race"
mkdir -p "$build/race-office"
cp -r "$office/DADES" "$build/race-office/DADES"

echo "== load test: 8 passes, importers killed at random, 1 updater, $seconds s, office at scale $scale"
before=$("$build/bin/load_test" count "$office" | head -n 1 | awk '{ print $2 }')
pids=""
for i in 1 2 3 4 5 6 7 8; do
  "$build/bin/load_test" pass "$office" "$seconds" "$build/out/pass$i" >"$build/out/pass$i.txt" 2>&1 &
  pids="$pids $!"
done
"$build/bin/load_test" update "$office" "$seconds" "$build/out/update" >"$build/out/update.txt" 2>&1 &
pids="$pids $!"
# Importers one after another, each killed with SIGKILL after 0.2 to 1.5 s
# (mid-transaction, mid-commit or idle); each goes on from the newest batch
# in the file and writes the number of every batch it saw committed.
end=$(( $(date +%s) + seconds ))
killed=0
while [ "$(date +%s)" -lt "$end" ]; do
  "$build/bin/load_test" import "$office" "$seconds" "$build/out/committed" >/dev/null 2>&1 &
  importer=$!
  sleep "$(awk -v s="$killed$$" 'BEGIN { srand(s); printf "%.2f", 0.2 + rand() * 1.3 }')"
  kill -KILL "$importer" 2>/dev/null || true
  wait "$importer" 2>/dev/null || true
  killed=$((killed + 1))
done
failed=0
for pid in $pids; do wait "$pid" || failed=1; done
cat "$build/out"/pass?.txt "$build/out/update.txt"
echo "import: $killed importers killed with SIGKILL, $(wc -l < "$build/out/committed" 2>/dev/null || echo 0) batches seen committed"
[ "$failed" -eq 0 ] || echo "a process failed"

# Every batch seen must always give the same spool.
cat "$build/out"/pass? | sort -u | awk '
  { n[$1]++; if (n[$1] > 1) torn++ ; seen++ }
  END { printf "consistency: %d distinct (batch, spool) pairs, %d batches seen by passes, %s\n",
        seen, length(n), torn ? torn " batches printed two different spools: TORN" : "every pass matches a consistent snapshot" }'
# Every batch an importer saw committed is there, whole.
"$build/bin/load_test" count "$office" > "$build/out/count"
head -n 1 "$build/out/count" | awk -v before="$before" -v out="$build/out" '
  { receipts = $2; markers = $4 }
  END {
    while ((getline b < (out "/committed")) > 0) committed[b] = 1
    while ((getline m < (out "/count")) > 0) if (m ~ /^[0-9]+$/) present[m] = 1
    for (b in committed) if (!(b in present)) missing++
    short = before + markers * 51 - receipts
    lost = missing * 51 + (short > 0 ? short : 0)
    printf "records lost: %d (%d batches seen committed, %d in the file; %d receipts before, %d after, %d expected)\n",
           lost, length(committed), markers, before, receipts, before + markers * 51 }'
wal="$office/DADES/CobramV.dat-wal"
echo "write-ahead log of the collection file at the end: $( [ -f "$wal" ] && stat -c %s "$wal" || echo 0) bytes"

# ---- damage while passes run
third=$(( seconds / 3 > 6 ? seconds / 3 : 6 ))
echo "== damage: 4 passes, $third s, the receipts file damaged under them after $(( third / 3 )) s"
"$build/bin/load_test" pass "$office" 1 "$build/out/reference" >/dev/null 2>&1
reference=$(head -n 1 "$build/out/reference" | awk '{ print $2 }')
pids=""
for i in 1 2 3 4; do
  "$build/bin/load_test" pass "$office" "$third" "$build/out/damaged$i" >"$build/out/damaged$i.txt" 2>&1 &
  pids="$pids $!"
done
sleep $(( third / 3 ))
data="$office/DADES/CobramV.dat"
size=$(stat -c %s "$data")
for n in 1 2 3 4; do
  at=$(awk -v s="$n$$" -v size="$size" 'BEGIN { srand(s); printf "%d", rand() * (size - 8) }')
  head -c 8 /dev/urandom | dd of="$data" bs=1 seek="$at" conv=notrunc status=none
  block=$(awk -v s="x$n$$" -v size="$size" 'BEGIN { srand(s); printf "%d", rand() * (size / 512 - 1) }')
  dd if=/dev/zero of="$data" bs=512 seek="$block" count=1 conv=notrunc status=none
done
for pid in $pids; do wait "$pid" || true; done
cat "$build/out"/damaged?.txt
cat "$build/out"/damaged? | awk -v ref="$reference" '
  { if ($2 != ref) wrong++; whole++ }
  END { printf "damage: %d passes printed whole, %d of them other amounts than the undamaged file (must be 0)\n",
        whole, wrong }'
"$build/bin/recman" check "$data" | tail -n 1

# ---- two sessions running the same month at once
echo "== race: two sessions confirm a registered run of the same month together, 10 times"
"$build/bin/run_bench" "$build/race-office" "$src/install" "$build/race" 10 race
