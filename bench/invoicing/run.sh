#!/bin/sh
# Times one production pass over a large office and one plain SQL query over
# the same files, at full size and at a quarter, with peak memory; the pass's
# line ends with the size and FNV-1a digest of the spool file it wrote.
#   bench/invoicing/run.sh [SCALE...]      (default: 1 0.25)
# The offices are cached in build-invoice-bench/offices/<scale> and made
# again only when missing. Each benchmark runs in its own process on core 0,
# so its peak memory is its own. Times: wall and CPU; on a shared machine
# the CPU column is the one to compare.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build="$src/build-invoice-bench"
log="$build/bench-build.log"
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target invoice_bench invoice_bench_generate recman -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "run.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi

scales=${*:-1 0.25}
for scale in $scales; do
  office="$build/offices/$scale"
  if [ ! -f "$office/DADES/.complete" ]; then
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
  for bench in BM_ProduceInvoices BM_PlainSqlLinkBases; do
    KORVADEL_BENCH_OFFICE="$office" taskset -c 0 "$build/bin/invoice_bench" \
      --benchmark_filter="^$bench/" 2>/dev/null | grep "^BM_" || true
  done
done
