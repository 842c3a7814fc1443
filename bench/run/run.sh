#!/bin/sh
# A whole registered run ([Registre] Actiu=S, Liquidar=S: register, archive
# copy, settling of the billed receipts) beside the production pass alone, on
# the large office of bench/invoicing/run.sh, in CPU time (target: the
# register's share, run minus pass, at most the pass's own).
#   bench/run/run.sh [SCALE...]      (default: 0.25 1)
# Uses the offices cached in build-invoice-bench/offices/<scale>, made
# there as bench/invoicing/run.sh makes them when missing. Each repetition
# works on a fresh copy of the office's data files in
# build-invoice-bench/run-bench/<scale>; runs on core 0.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-invoice-bench"
log="$build/run-bench-build.log"
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target run_bench invoice_bench_generate recman -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "run.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi

scales=${*:-0.25 1}
for scale in $scales; do
  office="$build/offices/$scale"
  if [ ! -f "$office/DADES/.complete" ]; then
    # The same office bench/invoicing/run.sh makes, in the same place.
    echo "making the office at scale $scale in $office"
    rm -rf "$office"
    mkdir -p "$office/DADES" "$office/raw"
    "$build/bin/invoice_bench_generate" "$office/raw" "$scale"
    for base in PropietV FinquesV DepartaV CobramV; do
      "$build/bin/recman" create "$office/DADES/$base.dat" "$src/install/ddf/$base.xdf"
      "$build/bin/recman" load "$office/DADES/$base.dat" "$office/raw/$base.raw"
    done
    rm -rf "$office/raw"
    touch "$office/DADES/.complete"
  fi
  echo "== scale $scale"
  taskset -c 0 "$build/bin/run_bench" "$office" "$src/install" "$build/run-bench/$scale" 3
  rm -rf "$build/run-bench/$scale"
done
